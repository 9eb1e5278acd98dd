// The dialogs as they show in each shipped language: every control inside
// the window, no empty band under the controls, and the crop dialog's view
// with its picture fitted and no bar cut off or shown for nothing. Each
// dialog's screenshot is written for a look.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPushButton>
#include <QTest>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/AboutDialog.h"
#include "app/ApplicationSetup.h"
#include "app/CropBitmapDialog.h"
#include "app/MultiTextEditorDialog.h"
#include "app/NewProjectDialog.h"
#include "app/OptionsDialog.h"
#include "raster/Bitmap32.h"
#include "raster/Image32.h"
#include "support/LanguageTesting.h"
#include "support/QtApplication.h"
#include "DialogTesting.h"

namespace kdl {
namespace {

using test::Child;

// The most a container may leave free under its lowest control: the OK
// buttons' rows end 14 pixels above their panel's edge, the options and
// about dialogs 15 above the window's.
constexpr int kMostFreeUnder = 15;

class DialogLayout : public test::LanguageTest {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    SetApplicationFont();
    test::LanguageTest::SetUp();
  }
  static void Save(QWidget& w, const std::string& name) {
    const QString folder = QStringLiteral(KDL_BINARY_DIR "/artefacts");
    QDir().mkpath(folder);
    w.grab().save(folder + "/" + QString::fromStdString(name) + ".png");
  }
};

bool Ours(const QWidget* w) { return !w->objectName().isEmpty() && !w->objectName().startsWith("qt_"); }

// Every shown widget lies inside its parent, down to Qt's own parts.
void ExpectInsideParents(const QWidget& root) {
  for (const QWidget* w : root.findChildren<QWidget*>()) {
    if (!w->isVisible() || w->isWindow()) continue;
    EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry()))
        << w->metaObject()->className() << " " << w->objectName().toStdString() << " in "
        << w->parentWidget()->objectName().toStdString();
  }
}

// Under the lowest shown control of the window and of each of our panels
// that holds controls, at most kMostFreeUnder pixels stay empty.
void ExpectNoBandUnderControls(const QWidget& root) {
  QList<const QWidget*> containers{&root};
  for (const QWidget* w : root.findChildren<QWidget*>())
    if (Ours(w) && w->isVisible()) containers << w;
  for (const QWidget* c : containers) {
    int lowest = -1;
    for (const QWidget* child : c->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (Ours(child) && child->isVisible()) lowest = std::max(lowest, child->geometry().bottom() + 1);
    if (lowest < 0) continue;
    EXPECT_LE(c->height() - lowest, kMostFreeUnder) << c->objectName().toStdString();
  }
}

TEST_P(DialogLayout, ControlsFillTheirWindowsAndStayInside) {
  std::vector<std::unique_ptr<QDialog>> dialogs;
  dialogs.push_back(std::make_unique<TOptionsDialog>());
  dialogs.push_back(std::make_unique<TAboutDialog>());
  dialogs.push_back(std::make_unique<TMultiTextEditorDialog>());
  dialogs.push_back(std::make_unique<TNewProjectDialog>());
  auto crop = std::make_unique<TCropBitmapDialog>();
  TBitmap32 picture;
  picture.SetSize(3000, 3000);
  picture.Clear(0xFF3070B0u);
  crop->SetBitmap(picture, {300, 300, 2700, 2700});
  dialogs.push_back(std::move(crop));
  for (const auto& dialog : dialogs) {
    SCOPED_TRACE(dialog->objectName().toStdString());
    dialog->show();
    QApplication::processEvents();
    Save(*dialog, "dialog-" + dialog->objectName().toStdString() + "-" + language_);
    ExpectInsideParents(*dialog);
    ExpectNoBandUnderControls(*dialog);
    dialog->hide();
  }
}

// The picture is fitted into the view, which fills the space over the
// buttons; the view's edges are the window's and its picture shows whole,
// so no bar shows. Worked out: the client area is 374 x 412, the buttons'
// row 50 high, so the view is 374 x 362.
TEST_P(DialogLayout, CropViewFitsThePictureWithoutBars) {
  struct Case {
    int w, h;
  };
  for (const Case c : {Case{3000, 3000}, Case{3000, 1000}, Case{200, 1500}, Case{374, 362}, Case{40, 30}}) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    TCropBitmapDialog dialog;
    dialog.show();
    TBitmap32 picture;
    picture.SetSize(c.w, c.h);
    picture.Clear(0xFF208040u);
    dialog.SetBitmap(picture, {0, 0, c.w, c.h});
    QApplication::processEvents();
    TImgView32& view = dialog.View();
    const QWidget& panel = Child<QWidget>(dialog, "pnlImage");
    EXPECT_EQ(dialog.size(), QSize(374, 412));
    EXPECT_EQ(panel.geometry(), QRect(0, 0, 374, 362));
    EXPECT_EQ(view.mapTo(&dialog, QPoint(0, 0)), QPoint(0, 0));
    EXPECT_EQ(view.size(), QSize(374, 362));
    EXPECT_FALSE(view.HorzBar()->isVisible());
    EXPECT_FALSE(view.VertBar()->isVisible());
    EXPECT_EQ(view.ViewRect().Width(), 374);
    EXPECT_EQ(view.ViewRect().Height(), 362);
    // The scale that fits, and the placed picture touching two opposite edges.
    const double scale = std::min(362.0 / c.h, 374.0 / c.w);
    EXPECT_NEAR(view.Scale(), scale, 1e-5);
    view.RefreshMapping();
    const TRect placed = view.PlacedRect();
    EXPECT_NEAR(placed.Width(), c.w * scale, 1);
    EXPECT_NEAR(placed.Height(), c.h * scale, 1);
    EXPECT_TRUE(placed.Width() >= 373 || placed.Height() >= 361);
    EXPECT_GE(placed.Left, 0);
    EXPECT_GE(placed.Top, 0);
    EXPECT_LE(placed.Right, 374);
    EXPECT_LE(placed.Bottom, 362);
    ExpectInsideParents(dialog);
  }
  // A large square photo, looked at.
  TCropBitmapDialog dialog;
  dialog.show();
  TBitmap32 picture;
  picture.SetSize(3000, 3000);
  for (int y = 0; y < 3000; ++y)
    for (int x = 0; x < 3000; ++x) picture.SetPixel(x, y, 0xFF000000u | ((x * 255 / 2999) << 16) | (y * 255 / 2999));
  dialog.SetBitmap(picture, {300, 300, 2700, 2700});
  QApplication::processEvents();
  Save(dialog, "crop-dialog-square-" + language_);
  dialog.View().RefreshMapping();
  EXPECT_EQ(dialog.View().PlacedRect().Left, 6);
  EXPECT_EQ(dialog.View().PlacedRect().Right, 368);
}

INSTANTIATE_TEST_SUITE_P(Shipped, DialogLayout, ::testing::Values("English", "German"));

}  // namespace
}  // namespace kdl
