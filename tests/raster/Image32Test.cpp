#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "raster/Image32.h"
#include "raster/ThreadPersistent.h"
#include "support/ManualTimers.h"
#include "support/QtApplication.h"
#include "support/RasterTesting.h"
#include "support/ShownErrors.h"

namespace kdl {
namespace {

// No paint or mouse handler may fail.
class ImageViewTest : public ::testing::Test {
 protected:
  void SetUp() override { test::EnsureApplication(); }
  void TearDown() override { EXPECT_TRUE(errors_.Messages.empty()) << errors_.Messages.front(); }
  test::ShownErrors errors_;
};

// A view of side x side pixels with 16-pixel bars over an opaque random
// w x h bitmap, whose pixels it shows as they are.
void Prepare(TImgView32& view, int side, int w, int h, unsigned seed) {
  view.ScrollBars().SetSize(16);
  view.resize(side, side);
  test::FillRandom(view.Bitmap(), w, h, seed, true);
}

TEST_F(ImageViewTest, PlacementAndScale) {
  TCustomImage32 img;
  img.resize(100, 100);
  img.SetSizing(szFit);
  img.Bitmap().SetSize(200, 100);
  TSize s = img.PlacedBitmapSize();
  EXPECT_EQ(s.cx, 100);
  EXPECT_EQ(s.cy, 50);
  img.SetPlacement(plCenter);
  TRect r = img.PlacedBitmapRect();
  EXPECT_EQ(r.Top, 25);
  EXPECT_EQ(r.Bottom, 75);

  // Sizes far past int saturate instead of wrapping.
  img.SetSizing(szScale);
  img.SetPlacement(plTopLeft);
  img.SetScale(3e30f);
  s = img.PlacedBitmapSize();
  EXPECT_EQ(s.cx, std::numeric_limits<std::int32_t>::max());

  for (float bad : {0.0f, -3.0f, std::nanf(""), 1e-6f, std::numeric_limits<float>::infinity()}) {
    img.SetScale(bad);
    EXPECT_EQ(img.Scale(), 0.001f) << bad;
  }
  img.BeginUpdate();
  img.EndUpdate();
  EXPECT_THROW(img.EndUpdate(), EAssertionFailed) << "one EndUpdate too many";
}

TEST_F(ImageViewTest, CenterOnSetsTheBars) {
  TImgView32 view;
  view.ScrollBars().SetSize(16);
  view.resize(316, 216);
  view.Bitmap().SetSize(1000, 800);
  view.SetScale(0.5f);
  view.CenterOn(500, 400);
  EXPECT_EQ(view.HorzBar()->Position(), 100);
  EXPECT_EQ(view.VertBar()->Position(), 100);
  EXPECT_EQ(view.PanX(), -100);
}

TEST_F(ImageViewTest, ScaledNearestBitmapLandsWherePlaced) {
  TImgView32 view;
  Prepare(view, 116, 4, 3, 5);
  view.SetScale(10);
  view.show();
  // 40 x 30 in a 100 x 100 view, centred.
  EXPECT_EQ(view.PanX(), 30);
  EXPECT_EQ(view.PanY(), 35);
  const QImage grab = view.grab().toImage();
  const QRgb face = Color32(clBtnFace);
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 100; ++x) {
      const bool inside = x >= 30 && x < 70 && y >= 35 && y < 65;
      const QRgb want = inside ? view.Bitmap().GetPixel((x - 30) / 10, (y - 35) / 10) : face;
      ASSERT_EQ(grab.pixel(x, y), want) << x << "," << y;
    }
  }
}

TEST_F(ImageViewTest, TheNextButtonScrollsTheImageByIncrement) {
  test::ManualTimers clock;
  TImgView32 view;
  Prepare(view, 216, 400, 300, 9);
  view.show();
  const QImage before = view.grab().toImage();
  TCustomRangeBar* bar = view.HorzBar();
  ASSERT_EQ(bar->geometry(), QRect(0, 200, 200, 16));
  QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(192, 8));
  EXPECT_EQ(bar->Position(), 108);
  const QImage after = view.grab().toImage();
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 192; ++x) {
      ASSERT_EQ(after.pixel(x, y), before.pixel(x + 8, y)) << x << "," << y;
    }
  }
}

TEST_F(ImageViewTest, ScalesThatPlaceNothingStillPaint) {
  TImgView32 view;
  Prepare(view, 116, 4, 3, 1);
  auto* band = view.Layers().Add<TRubberbandLayer>();
  band->SetLocation({10, 10, 50, 50});
  view.show();
  for (float scale : {0.0f, std::nanf(""), 1e-6f, std::numeric_limits<float>::infinity()}) {
    view.SetScale(scale);
    const QImage grab = view.grab().toImage();
    {
      EXPECT_EQ(grab.pixel(95, 5), Color32(clBtnFace)) << "background only";
      // The left handle around (10, 30): white inside a black edge.
      EXPECT_EQ(grab.pixel(10, 30), 0xFFFFFFFFu) << "the band still paints";
      EXPECT_EQ(grab.pixel(7, 27), 0xFF000000u);
    }
  }
  // A tall strip at the scale that fits it: it rounds to no width at all.
  view.Bitmap().SetSize(1, 10000);
  view.Bitmap().Clear(0xFFFF0000u);
  view.SetScale(100.0f / 10000);
  EXPECT_EQ(view.PlacedBitmapSize().cx, 0);
  view.grab();
  view.RefreshMapping();
  // No room maps nothing at all, rather than a height over no width.
  const TImageMapping m = view.Mapping();
  EXPECT_EQ(m.ZoomX, 0);
  EXPECT_EQ(m.ZoomY, 0);
  EXPECT_EQ(m.UnzoomX, 0);
  EXPECT_EQ(m.UnzoomY, 0);
}

TEST_F(ImageViewTest, ABandDraggedOnAScaledViewEndsUnderThePointer) {
  TImgView32 view;
  Prepare(view, 216, 80, 60, 2);
  view.SetScale(2);
  auto* band = view.Layers().Add<TRubberbandLayer>();
  band->SetScaled(true);
  band->SetLocation({10, 10, 30, 30});
  view.show();
  // 160 x 120 centred in 200 x 200: the bitmap starts at (20, 40).
  ASSERT_EQ(view.PanX(), 20);
  ASSERT_EQ(view.PanY(), 40);
  // The bottom-right handle sits at (79, 99) on screen.
  QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(79, 99));
  EXPECT_EQ(band->DragState(), bdBottomRight);
  QTest::mouseMove(&view, QPoint(131, 117));
  QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(131, 117));
  EXPECT_FLOAT_EQ(band->Location().Right, (131 - 20) / 2.0f);
  EXPECT_FLOAT_EQ(band->Location().Bottom, (117 - 40) / 2.0f);
  EXPECT_FLOAT_EQ(band->Location().Left, 10);

  // Moving it: the grab point stays under the pointer.
  QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(50, 70));
  EXPECT_EQ(band->DragState(), bdMove);
  QTest::mouseMove(&view, QPoint(60, 90));
  QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(60, 90));
  EXPECT_FLOAT_EQ(band->Location().Left, 15);
  EXPECT_FLOAT_EQ(band->Location().Top, 20);
}

// With bars only as needed, a bar shows exactly when the placed bitmap is
// longer than the room its direction has; one bar's thickness can make the
// other needed. Worked out for a 216 x 216 view with 16-pixel bars.
TEST_F(ImageViewTest, AutomaticBarsShowOnlyWhatHasSomethingToScroll) {
  TImgView32 view;
  view.ScrollBars().SetSize(16);
  view.ScrollBars().SetVisibility(svAuto);
  view.resize(216, 216);
  view.show();
  struct Case {
    int w, h;
    float scale;
    bool horz, vert;
  };
  const Case cases[] = {
      {100, 100, 1, false, false}, {216, 216, 1, false, false}, {300, 100, 1, true, false},
      {100, 300, 1, false, true},  {300, 200, 1, true, false},  {300, 201, 1, true, true},
      {217, 216, 1, true, true},   {300, 210, 0.5f, false, false}, {100, 90, 2.5f, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h) + " at " + std::to_string(c.scale));
    view.SetScale(c.scale);
    test::FillRandom(view.Bitmap(), c.w, c.h, 3, true);
    EXPECT_EQ(view.HorzBar()->isVisible(), c.horz);
    EXPECT_EQ(view.VertBar()->isVisible(), c.vert);
    const TRect r = view.ViewRect();
    EXPECT_EQ(r.Width(), c.vert ? 200 : 216);
    EXPECT_EQ(r.Height(), c.horz ? 200 : 216);
    // Shown bars lie inside the view, along the edges the room was taken from.
    for (const QWidget* bar : {static_cast<QWidget*>(view.HorzBar()), static_cast<QWidget*>(view.VertBar())})
      if (bar->isVisible()) {
        EXPECT_TRUE(view.rect().contains(bar->geometry()));
      }
  }
  // A bitmap that fills the view shows to its last pixel: no bar, no corner.
  view.SetScale(1);
  test::FillRandom(view.Bitmap(), 216, 216, 4, true);
  const QImage grab = view.grab().toImage();
  for (const QPoint p : {QPoint(215, 215), QPoint(215, 100), QPoint(100, 215)})
    EXPECT_EQ(grab.pixel(p), view.Bitmap().GetPixel(p.x(), p.y())) << p.x() << "," << p.y();
  // Hidden bars never show.
  view.ScrollBars().SetVisibility(svHidden);
  test::FillRandom(view.Bitmap(), 600, 600, 5, true);
  EXPECT_FALSE(view.HorzBar()->isVisible());
  EXPECT_FALSE(view.VertBar()->isVisible());
  EXPECT_EQ(view.ViewRect().Width(), 216);
}

}  // namespace
}  // namespace kdl
