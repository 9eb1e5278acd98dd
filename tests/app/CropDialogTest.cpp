// The crop dialog as a user meets it: the grabbed view against the blend
// worked out by hand, handle drags through real mouse events, the dialog
// answered from a timer through the shape, and hostile bands under ASan.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <climits>
#include <cmath>
#include <functional>
#include <memory>
#include <random>

#include "app/ApplicationSetup.h"
#include "app/CropBitmapDialog.h"
#include "app/Localizer.h"
#include "app/shapes/CropBitmapShape.h"
#include "app/shapes/ProjectInfoShape.h"
#include "document/Startup.h"
#include "document/effects/MaskEffect.h"
#include "document/resources/BitmapResource.h"
#include "raster/Bitmap32.h"
#include "raster/Image32.h"
#include "raster/Layers.h"
#include "support/LanguageTesting.h"
#include "support/QtApplication.h"
#include "DialogTesting.h"

namespace kdl {
namespace {

using test::Child;

// The four quadrant colours of the 300 x 200 test picture.
constexpr TColor32 kQuadrant[4] = {0xFF2060A0u, 0xFFC04010u, 0xFF10B050u, 0xFFF0E000u};

void Quadrants(TBitmap32& b, int w = 300, int h = 200) {
  b.SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, kQuadrant[(y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0)]);
}

// A channel of an opaque colour at alpha a over white, as the two rounded
// terms of the blend make it; full alpha is the colour itself.
int OverWhite(int channel, int a) {
  return a == 255 ? channel : ((channel * a + 128) >> 8) + ((255 * (255 - a) + 128) >> 8);
}

class CropDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    SetApplicationFont();
    InitializeDocumentLibrary();
    RegisterApplicationShapeClasses();
    Localizer().LoadFromFile(test::SourceProgramFolder() / "Languages" / "English.lng");
  }
  void TearDown() override { Localizer().Clear(); }
};

void SendMouse(QWidget& w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
  QMouseEvent e(type, QPointF(at), QPointF(w.mapToGlobal(at)), button, held, Qt::NoModifier);
  QApplication::sendEvent(&w, &e);
}

// Drags from one view pixel to another with the left button.
void Drag(QWidget& view, QPoint from, QPoint to) {
  SendMouse(view, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

TEST_F(CropDialog, GrabbedViewWashesOutsideTheBandAndPreviewsTheMask) {
  for (const bool masked : {false, true}) {
    SCOPED_TRACE(masked ? "with a mask over the band's left half" : "without a mask");
    TCropBitmapDialog dialog;
    TdtpMaskEffect effect;
    if (masked) {
      auto polygon = std::make_unique<TdtpPolygonMask>();
      polygon->SetStyle(0);
      polygon->ClearPoints();
      const float corners[4][2] = {{0, 0}, {0.5f, 0}, {0.5f, 1}, {0, 1}};
      for (const auto& c : corners) polygon->AddPoint(c[0], c[1]);
      polygon->SetOperation(3);
      effect.AddMask(std::move(polygon));
      dialog.SetMaskEffect(&effect);
    }
    dialog.show();
    TBitmap32 picture;
    Quadrants(picture);
    dialog.SetBitmap(picture, {60, 40, 240, 160});
    TImgView32& view = dialog.View();
    const QImage shot = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    view.RefreshMapping();
    const TRect placed = view.PlacedRect();
    const double scale = view.Scale();
    // Fitted: the whole bitmap shows and one side fills the view.
    EXPECT_NEAR(placed.Width(), 300 * scale, 1);
    EXPECT_TRUE(placed.Width() >= view.ViewRect().Width() - 1 || placed.Height() >= view.ViewRect().Height() - 1);
    const TFloatRect band = dialog.Band()->GetScreenLocation();
    EXPECT_NEAR(band.Left, placed.Left + 60 * scale, 1);
    EXPECT_NEAR(band.Bottom, placed.Top + 160 * scale, 1);
    const double midX = placed.Left + 150 * scale, midY = placed.Top + 100 * scale;
    const double bandMid = (std::round(band.Left) + std::round(band.Right)) / 2;
    auto near = [](double v, double edge, double d) { return std::abs(v - edge) <= d; };
    int checked = 0, wrong = 0;
    for (int y = placed.Top + 2; y < placed.Bottom - 2; ++y)
      for (int x = placed.Left + 2; x < placed.Right - 2; ++x) {
        const double cx = x + 0.5, cy = y + 0.5;
        // Away from colour edges, the band's frame and handles, and the mask's edge.
        if (near(cx, midX, 2) || near(cy, midY, 2) || near(cx, band.Left, 6) || near(cx, band.Right, 6) ||
            near(cy, band.Top, 6) || near(cy, band.Bottom, 6) || near(cx, bandMid, 2) ||
            near(cx, (band.Left + band.Right) / 2, 6) || near(cy, (band.Top + band.Bottom) / 2, 6))
          continue;
        const TColor32 src = kQuadrant[(cy >= midY ? 2 : 0) + (cx >= midX ? 1 : 0)];
        const bool inside = cx > band.Left && cx < band.Right && cy > band.Top && cy < band.Bottom;
        const bool kept = inside && (!masked || cx < bandMid);
        const int a = kept ? 255 : 128;
        const QRgb got = shot.pixel(x, y);
        const int want[3] = {OverWhite((src >> 16) & 255, a), OverWhite((src >> 8) & 255, a), OverWhite(src & 255, a)};
        ++checked;
        if ((qRed(got) != want[0] || qGreen(got) != want[1] || qBlue(got) != want[2]) && wrong++ < 5)
          ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << got << " want " << want[0] << ","
                        << want[1] << "," << want[2];
      }
    EXPECT_GT(checked, 20000);
  }
}

TEST_F(CropDialog, HandleDragsStayInsideTheBitmapAboveTheMinimum) {
  for (const bool keep : {true, false}) {
    SCOPED_TRACE(keep ? "keeping the aspect" : "free");
    TCropBitmapDialog dialog;
    dialog.SetKeepAspect(keep);
    dialog.SetMinimumSize(10, 10);
    dialog.show();
    TBitmap32 picture;
    Quadrants(picture);
    dialog.SetBitmap(picture, {60, 40, 240, 160});
    TImgView32& view = dialog.View();
    view.RefreshMapping();
    const double scale = view.Scale();
    auto corner = [&] {
      const TFloatRect s = dialog.Band()->GetScreenLocation();
      return QPoint(static_cast<int>(std::lround(s.Right)) - 1, static_cast<int>(std::lround(s.Bottom)) - 1);
    };
    auto check = [&](const char* what) {
      SCOPED_TRACE(what);
      const TRect r = dialog.GetCropRect();
      EXPECT_GE(r.Left, 0);
      EXPECT_GE(r.Top, 0);
      EXPECT_LE(r.Right, 300);
      EXPECT_LE(r.Bottom, 200);
      EXPECT_GE(r.Width(), 10);
      EXPECT_GE(r.Height(), 10);
      const TFloatRect f = dialog.Band()->Location();
      EXPECT_GE(f.Left, -0.01f);
      EXPECT_LE(f.Right, 300.01f);
      if (keep) {
        EXPECT_NEAR(r.Width() * 120.0 / 180.0, r.Height(), 1.0) << r.Width() << " x " << r.Height();
      }
      return r;
    };
    // Outward far beyond the picture: the band grows to the bitmap's edge.
    Drag(view, corner(), corner() + QPoint(400, 400));
    const TRect grown = check("grown past the edge");
    if (keep) {
      EXPECT_EQ(grown.Bottom, 200);
    } else {
      EXPECT_EQ(grown.Right, 300);
      EXPECT_EQ(grown.Bottom, 200);
    }
    // Inward past the band's left top: it stops at 10 x 10 (or the aspect's
    // version of it).
    Drag(view, corner(), corner() - QPoint(1000, 1000));
    const TRect small = check("shrunk below the minimum");
    EXPECT_LE(std::min(small.Width(), small.Height()), 11);
    // A moderate drag of 30 view pixels right and 6 down.
    const TRect before = dialog.GetCropRect();
    Drag(view, corner(), corner() + QPoint(30, 6));
    const TRect after = check("dragged a little");
    EXPECT_GT(after.Width(), before.Width());
    if (!keep) {
      EXPECT_NEAR(after.Width() - before.Width(), 30 / scale, 1.5);
      EXPECT_NEAR(after.Height() - before.Height(), 6 / scale, 1.5);
    }
    // Moving the whole band against the top left corner keeps its size.
    const TFloatRect s = dialog.Band()->GetScreenLocation();
    const QPoint middle(static_cast<int>((s.Left + s.Right) / 2) + 6, static_cast<int>((s.Top + s.Bottom) / 2) + 3);
    Drag(view, middle, middle - QPoint(500, 500));
    const TRect moved = check("moved into the corner");
    EXPECT_EQ(moved.Left, 0);
    EXPECT_EQ(moved.Top, 0);
    EXPECT_EQ(moved.Width(), after.Width());
  }
}

TEST_F(CropDialog, ConstraintKeepsRandomBandsInsideWithTheirAspect) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> pos(-500, 900), size(10, 400);
  for (int i = 0; i < 2000; ++i) {
    const float W = 300, H = 200;
    const float ow = std::min(size(rng), W), oh = std::min(size(rng), H);
    const TFloatRect old = FloatRect(10, 10, 10 + ow, 10 + oh);
    const float l = pos(rng), t = pos(rng);
    TFloatRect n = FloatRect(l, t, l + size(rng) * (rng() % 3), t + size(rng) * (rng() % 3));
    const bool keep = rng() % 2;
    TCropBitmapDialog::Constrain(old, n, W, H, 10, 10, keep);
    const float w = n.Right - n.Left, h = n.Bottom - n.Top;
    ASSERT_GE(n.Left, -0.01f) << i;
    ASSERT_GE(n.Top, -0.01f) << i;
    ASSERT_LE(n.Right, W + 0.01f) << i;
    ASSERT_LE(n.Bottom, H + 0.01f) << i;
    ASSERT_GE(w, 10 - 0.01f) << i;
    ASSERT_GE(h, 10 - 0.01f) << i;
    // The aspect holds unless the minimum and the bitmap pull apart.
    if (keep && ow / oh <= W / 10 && oh / ow <= H / 10) {
      ASSERT_NEAR(w / h, ow / oh, 0.01f * ow / oh) << i;
    }
  }
}

TEST_F(CropDialog, ABandWithoutSizeGrowsFromTheMinimum) {
  // A band that was never given a size has no aspect of its own: the first
  // drag must start from the minimum square, not divide by zero.
  const TFloatRect old = FloatRect(20, 20, 20, 20);
  TFloatRect kept = FloatRect(20, 20, 80, 50);
  TCropBitmapDialog::Constrain(old, kept, 300, 200, 10, 10, true);
  EXPECT_FLOAT_EQ(kept.Right - kept.Left, 60);  // the larger pull of 6x the 10 x 10 minimum
  EXPECT_FLOAT_EQ(kept.Bottom - kept.Top, 60);
  TFloatRect free = FloatRect(20, 20, 80, 50);
  TCropBitmapDialog::Constrain(old, free, 300, 200, 10, 10, false);
  EXPECT_FLOAT_EQ(free.Right - free.Left, 60);
  EXPECT_FLOAT_EQ(free.Bottom - free.Top, 30);
}

// Runs the shape's dialog and answers it with answer once it is up.
bool RunCropDialog(TdtpCropBitmapShape& shape, const std::function<void(TCropBitmapDialog&)>& answer,
                   TRect* opened = nullptr) {
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<TCropBitmapDialog*>(QApplication::activeModalWidget());
    if (!dialog) {
      ADD_FAILURE() << "no crop dialog";
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
      return;
    }
    if (opened) *opened = dialog->GetCropRect();
    answer(*dialog);
  });
  return shape.ExecuteCropDialog();
}

bool Same(const TRect& a, const TRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

TEST_F(CropDialog, OkStoresTheBandWhileCancelAndEscapeChangeNothing) {
  TdtpCropBitmapShape shape;
  TBitmap32 picture;
  Quadrants(picture, 1000, 800);
  shape.Image().SetBitmap(&picture);
  shape.SetDocBounds(0, 0, 120, 120);
  shape.SetCropRect({0, 0, 1000, 800});
  // The whole picture opens the default band, but a refusal keeps the whole.
  TRect opened;
  EXPECT_FALSE(RunCropDialog(shape, [](TCropBitmapDialog& d) { Child<QPushButton>(d, "btnCancel").click(); },
                             &opened));
  EXPECT_TRUE(Same(opened, {140, 40, 860, 760}));
  EXPECT_TRUE(Same(shape.CropRect(), {0, 0, 1000, 800}));
  EXPECT_FALSE(RunCropDialog(shape, [](TCropBitmapDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }));
  EXPECT_TRUE(Same(shape.CropRect(), {0, 0, 1000, 800}));

  TRect chosen;
  EXPECT_TRUE(RunCropDialog(shape, [&](TCropBitmapDialog& d) {
    d.Band()->SetLocation(FloatRect(100.4f, 200.6f, 500, 700));
    chosen = d.GetCropRect();
    QTest::keyClick(&d, Qt::Key_Return);
  }));
  EXPECT_TRUE(Same(chosen, {100, 201, 500, 700}));
  EXPECT_TRUE(Same(shape.CropRect(), chosen));
  // A chosen crop opens as it is.
  EXPECT_FALSE(RunCropDialog(shape, [](TCropBitmapDialog& d) { d.reject(); }, &opened));
  EXPECT_TRUE(Same(opened, chosen));
}

TEST_F(CropDialog, StoredRectanglesAreClippedOrReplacedBeforeTheDialogOpens) {
  TdtpCropBitmapShape shape;
  TBitmap32 picture;
  Quadrants(picture, 100, 100);
  shape.Image().SetBitmap(&picture);
  shape.SetDocBounds(0, 0, 50, 50);
  const TRect fallback{5, 5, 95, 95};  // 90 % of the square picture
  struct Case {
    TRect stored, opens;
  } cases[] = {
      {{0, 0, 0, 0}, fallback},
      {{5000, 5000, 6000, 6000}, fallback},
      {{50, 50, 150, 150}, {50, 50, 100, 100}},
      {{-20, -30, 40, 60}, {0, 0, 40, 60}},
      {{60, 60, 20, 20}, fallback},
      {{10, 10, 15, 90}, fallback},
      {{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, fallback},
  };
  for (const Case& c : cases) {
    shape.SetCropRect(c.stored);
    TRect opened;
    EXPECT_FALSE(RunCropDialog(shape, [](TCropBitmapDialog& d) { d.reject(); }, &opened));
    EXPECT_TRUE(Same(opened, c.opens)) << c.stored.Left << "," << c.stored.Top << " opened at " << opened.Left
                                       << "," << opened.Top << "," << opened.Right << "," << opened.Bottom;
    EXPECT_TRUE(Same(shape.CropRect(), c.stored));
  }
  // No picture: nothing opens.
  TdtpCropBitmapShape empty;
  EXPECT_FALSE(empty.ExecuteCropDialog());
}

TEST_F(CropDialog, HostileBandsPaintOnlyInsideTheBuffer) {
  TdtpMaskEffect effect;
  auto polygon = std::make_unique<TdtpPolygonMask>();
  polygon->SetShape(0);
  polygon->SetStyle(3);
  polygon->SetOperation(3);
  effect.AddMask(std::move(polygon));
  std::mt19937 rng(11);
  const std::int32_t edges[] = {INT_MIN, INT_MIN + 1, -100000, -40, -1, 0, 1, 17, 39, 40, 41, 100000, INT_MAX - 1, INT_MAX};
  auto pick = [&] { return rng() % 2 ? edges[rng() % std::size(edges)] : static_cast<std::int32_t>(rng() % 120) - 40; };
  for (int i = 0; i < 600; ++i) {
    TBitmap32 buffer;
    buffer.SetSize(40, 30);
    buffer.Clear(0xFF000000u);
    const TRect band{pick(), pick(), pick(), pick()};
    TCropBitmapDialog::WashOutside(buffer, band);
    TCropBitmapDialog::ApplyMaskPreview(buffer, band, effect);
    // Every pixel is black (kept) or washed grey; a valid band's inside
    // stays black only where the mask keeps it.
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) {
        const bool in = band.Left <= x && x < band.Right && band.Top <= y && y < band.Bottom;
        const TColor32 p = buffer.GetPixel(x, y) & 0xFFFFFFu;
        if (!in) {
          ASSERT_EQ(p, 0x7F7F7Fu) << i << " at " << x << "," << y;
        }
      }
  }
}

TEST_F(CropDialog, RandomStoredRectanglesCropInsideThePicture) {
  TdtpCropBitmapShape shape;
  TBitmap32 picture;
  Quadrants(picture, 90, 60);
  shape.Image().SetBitmap(&picture);
  shape.SetDocBounds(0, 0, 30, 40);
  std::mt19937 rng(5);
  const std::int32_t edges[] = {INT_MIN, -1, 0, 1, 9, 10, 59, 60, 61, 89, 90, 91, INT_MAX};
  for (int i = 0; i < 25; ++i) {
    auto pick = [&] { return edges[rng() % std::size(edges)]; };
    shape.SetCropRect({pick(), pick(), pick(), pick()});
    ASSERT_TRUE(RunCropDialog(shape, [](TCropBitmapDialog& d) { d.accept(); }));
    const TRect r = shape.CropRect();
    EXPECT_TRUE(r.Left >= 0 && r.Top >= 0 && r.Right <= 90 && r.Bottom <= 60 && r.Width() >= 10 &&
                r.Height() >= 10)
        << i << ": " << r.Left << "," << r.Top << "," << r.Right << "," << r.Bottom;
  }
}

}  // namespace
}  // namespace kdl
