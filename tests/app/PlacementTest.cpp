#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QLocale>
#include <QPushButton>
#include <QRect>
#include <QTranslator>
#include <QWidget>

#include <cmath>
#include <limits>

#include "app/ApplicationSetup.h"
#include "app/Placement.h"
#include "app/Units.h"
#include "support/QtApplication.h"

namespace kdl {
namespace {

TEST(Placement, EveryModeFromTheSamePreviousControl) {
  test::EnsureApplication();
  QWidget parent, c;
  c.setParent(&parent);
  const TLayoutRecord r{30, 20, 3, 4, 5, 6};
  auto place = [&](int mode) {
    TPlacementBounds b{100, 40, 120, 70};  // previous box: x 100..120, y 40..70
    c.setGeometry(7, 9, 1, 1);
    PlaceControl(b, c, mode, r, 10, 11);
    // The box always follows the control, pads around it.
    EXPECT_EQ(b.Left, c.x() - 3);
    EXPECT_EQ(b.Top, c.y() - 4);
    EXPECT_EQ(b.Right, c.x() + 30 + 5);
    EXPECT_EQ(b.Bottom, c.y() + 20 + 6);
    EXPECT_EQ(c.size(), QSize(30, 20));
    return c.pos();
  };
  EXPECT_EQ(place(pmAbsolute), QPoint(10 + 3, 11 + 4));
  EXPECT_EQ(place(pmRight), QPoint(10 + 3 + 120, 40 + 4));  // dy unused
  EXPECT_EQ(place(pmNewRow), QPoint(10 + 3, 11 + 70 + 4));
  EXPECT_EQ(place(pmUnder), QPoint(100 + 3, 11 + 70 + 4));  // dx unused
  EXPECT_EQ(place(4), QPoint(7, 9));
  EXPECT_EQ(place(-1), QPoint(7, 9));
}

TEST(Placement, ButtonRightOfAControlEndingAt120) {
  test::EnsureApplication();
  QWidget parent, edit(&parent), button(&parent);
  TPlacementBounds b;
  PlaceControl(b, edit, pmAbsolute, {100, 21, 20, 0, 0, 0}, 0, 5);
  ASSERT_EQ(b.Right, 120);
  PlaceControl(b, button, pmRight, kTextButton, 6, 0);
  EXPECT_EQ(button.geometry(), QRect(126, 5, 86, 25));

  PlaceControlAt(button, kDialogOkButton);
  EXPECT_EQ(button.geometry(), QRect(219, 140, 86, 25));
}

// The image section of the main window, worked out by hand from the records:
// caption (215 x 13, pad left -5) at dx 15, dy 4 -> (10, 4), box 15..225 x 4..17;
// line (220 x 1) new row dy 1 -> (10, 18), box bottom 19; load button new
// row dy 6 -> (15, 25), box right 101; crop button dx 6 -> (107, 25);
// position button (26 x 25) dx 6 -> (199, 25); panel height 50 + 8.
TEST(Placement, MainWindowImageSection) {
  test::EnsureApplication();
  QWidget panel, caption(&panel), line(&panel), load(&panel), crop(&panel), position(&panel);
  TPlacementBounds b;
  PlaceControl(b, caption, pmAbsolute, kSectionCaption, 15, 4);
  PlaceControl(b, line, pmNewRow, kSectionLine, 15, 1);
  PlaceControl(b, load, pmNewRow, kTextButton, 15, 6);
  PlaceControl(b, crop, pmRight, kTextButton, 6, 0);
  PlaceControl(b, position, pmRight, kGlyphButton, 6, 0);
  EXPECT_EQ(caption.geometry(), QRect(10, 4, 215, 13));
  EXPECT_EQ(line.geometry(), QRect(10, 18, 220, 1));
  EXPECT_EQ(load.geometry(), QRect(15, 25, 86, 25));
  EXPECT_EQ(crop.geometry(), QRect(107, 25, 86, 25));
  EXPECT_EQ(position.geometry(), QRect(199, 25, 26, 25));
  EXPECT_EQ(b.Bottom + 8, 58);
  // Everything stays inside the 240-pixel data panel.
  EXPECT_LE(line.geometry().right(), 239);
}

TEST(Units, MillimetresAndPixels) {
  EXPECT_EQ(MMToPixels(72, 130), 368);  // 368.50: truncated, not rounded
  EXPECT_EQ(MMToPixels(300, 131), 1547);
  EXPECT_EQ(MMToPixels(300, -131), -1547);  // toward zero
  EXPECT_EQ(MMToPixels(600, 254), 6000);
  EXPECT_EQ(MMToPixels(600, 1e30f), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(MMToPixels(600, -1e30f), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(MMToPixels(600, std::nanf("")), 0);
  EXPECT_FLOAT_EQ(PixelsToMM(96, 96), 25.4f);
  EXPECT_FLOAT_EQ(PixelsToMM(600, 150), 101.6f);
  EXPECT_EQ(PixelsToMM(96, 0), 0.0f);
  EXPECT_EQ(PixelsToMM(96, -72), 0.0f);

  EXPECT_TRUE(RectEquals(QRect(QPoint(1, 2), QPoint(3, 4)), QRect(1, 2, 3, 3)));
  EXPECT_FALSE(RectEquals(QRect(1, 2, 3, 3), QRect(1, 2, 3, 4)));
  EXPECT_FALSE(RectEquals(QRect(1, 2, 3, 3), QRect(0, 2, 4, 3)));
}

TEST(ApplicationSetup, OneFontAtElevenPixels) {
  test::EnsureApplication();
  const QFont saved = QApplication::font();
  SetApplicationFont();
  QWidget w;
  const QFontInfo info(w.font());
  EXPECT_EQ(info.family(), "Liberation Sans");
  EXPECT_EQ(info.pixelSize(), 11);
  QApplication::setFont(saved);
}

TEST(ApplicationSetup, StandardButtonsFollowTheLocale) {
  test::EnsureApplication();
  ASSERT_TRUE(InstallQtTranslations(QLocale(QLocale::German, QLocale::Germany)));
  QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), "Abbrechen");
  // The font dialog still opens on the bold face of a bold font.
  QFont bold(QStringLiteral("DejaVu Sans"), 12);
  bold.setBold(true);
  QFontDialog dialog;
  dialog.setCurrentFont(bold);
  EXPECT_TRUE(dialog.currentFont().bold());
  EXPECT_FALSE(dialog.currentFont().italic());
  // A locale Qt has no translations for takes the German ones away.
  EXPECT_FALSE(InstallQtTranslations(QLocale(QLocale::Esperanto)));
  QDialogButtonBox untranslated(QDialogButtonBox::Cancel);
  EXPECT_EQ(untranslated.button(QDialogButtonBox::Cancel)->text(), "Cancel");
  // The rest of the run goes on in English.
  for (QTranslator* t : QCoreApplication::instance()->findChildren<QTranslator*>(Qt::FindDirectChildrenOnly)) {
    QCoreApplication::removeTranslator(t);
    delete t;
  }
  QDialogButtonBox english(QDialogButtonBox::Cancel);
  EXPECT_EQ(english.button(QDialogButtonBox::Cancel)->text(), "Cancel");
}

}  // namespace
}  // namespace kdl
