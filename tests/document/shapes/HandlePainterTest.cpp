#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QWidget>

#include <functional>
#include <memory>
#include <set>
#include <string>

#include "FakeDocument.h"
#include "document/shapes/HandlePainter.h"
#include "document/shapes/Shape.h"
#include "platform/qt/ErrorDisplay.h"
#include "support/QtApplication.h"

namespace kdl {
namespace {

using testing::FakeDocument;

constexpr QRgb kRgbMask = 0x00FFFFFFu;

// What the view will do: paint the kept page image, then the overlays over
// it, then show the result.
class OverlayView : public QWidget {
 public:
  OverlayView() {
    resize(200, 150);
    page = QImage(200, 150, QImage::Format_RGB32);
    for (int y = 0; y < page.height(); ++y)
      for (int x = 0; x < page.width(); ++x)
        page.setPixel(x, y, qRgb((x * 7) % 256, (y * 13) % 256, (x * y) % 256));
  }
  QImage page;
  std::function<void(QPainter&)> overlay;
  QImage Shown() { return grab().toImage().convertToFormat(QImage::Format_RGB32); }

 protected:
  void paintEvent(QPaintEvent*) override {
    try {
      QImage frame = page.copy();
      if (overlay) {
        QPainter p(&frame);
        overlay(p);
      }
      QPainter(this).drawImage(0, 0, frame);
    } catch (...) {
      ShowCurrentException();
    }
  }
};

class HandlePainterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    SetErrorDisplay([](const std::string& m) { ADD_FAILURE() << "error shown: " << m; });
    view = std::make_unique<OverlayView>();
    doc.ScreenDpmValue = 4;
    doc.HandleColorValue = 0x0000FF;      // red
    doc.HandleEdgeColorValue = 0xFF0000;  // blue
    // 80 x 40 pixels from (40, 40).
    shape.SetDocBoundsAngle(10, 10, 20, 10, 0);
    shape.SetDocument(&doc);
    shape.SetSelected(true);
  }
  void TearDown() override { SetErrorDisplay(nullptr); }
  QImage WithHandles() {
    view->overlay = [this](QPainter& p) { shape.DrawHandles(p); };
    return view->Shown();
  }
  QRgb Page(int x, int y) const { return view->page.pixel(x, y); }

  FakeDocument doc;
  TdtpShape shape;
  std::unique_ptr<OverlayView> view;
};

TEST_F(HandlePainterTest, CountsAndMissingShape) {
  TdtpHandlePainter painter;
  painter.SetHandleCount(3);
  painter.SetDragLineCount(2);
  EXPECT_TRUE(painter.GetDragLine(1)->Visible);
  // A line under two points asks for -1 lines: the list empties.
  painter.SetHandleCount(-1);
  painter.SetDragLineCount(-1);
  EXPECT_EQ(painter.HandleCount(), 0);
  EXPECT_EQ(painter.DragLineCount(), 0);
  EXPECT_EQ(painter.GetHandleColor(), 0);
  QImage image(10, 10, QImage::Format_RGB32);
  QPainter p(&image);
  painter.PaintDragFeedback(p);  // nothing to draw, no shape needed
  painter.SetDragLineCount(1);
  painter.SetHandleCount(1);
  for (const std::function<void()>& call : std::initializer_list<std::function<void()>>{
           [&] { painter.BuildHandles(); }, [&] { painter.GetHandleRect(0); },
           [&] { painter.Paint(p); }, [&] { painter.PaintHandle(p, 0); },
           [&] { painter.PaintDragFeedback(p); }}) {
    try {
      call();
      ADD_FAILURE() << "no exception";
    } catch (const EHandlePainterError& e) {
      EXPECT_STREQ(e.what(), "Shape object must be assigned");
    }
  }
}

TEST_F(HandlePainterTest, HandleSquaresAreSevenPixelsAtAnyCentre) {
  for (const float left : {10.0f, 10.125f, 10.25f, 10.375f}) {
    shape.SetDocLeft(left);
    shape.UpdateHandles();
    const float x = shape.LocalToScreen({0, 0}).X;
    const TRect r = shape.HandlePainter()->GetHandleRect(0);
    EXPECT_EQ(r.Width(), 7);
    EXPECT_EQ(r.Height(), 7);
    EXPECT_LE(std::fabs(r.Left + 3 - x), 0.5f) << left;
  }
}

TEST_F(HandlePainterTest, PlainSquaresOverADottedFrame) {
  doc.HandleStyle = FakeDocument::Handles::Plain;
  const QImage shown = WithHandles();
  const QRgb red = 0xFFFF0000u, blue = 0xFF0000FFu, white = 0xFFFFFFFFu;
  for (const TPoint c : {TPoint{40, 40}, TPoint{40, 80}, TPoint{120, 80}, TPoint{120, 40}}) {
    for (int y = c.Y - 3; y <= c.Y + 3; ++y)
      for (int x = c.X - 3; x <= c.X + 3; ++x) {
        const bool edge = std::abs(x - c.X) == 3 || std::abs(y - c.Y) == 3;
        ASSERT_EQ(shown.pixel(x, y), edge ? blue : red) << x << "," << y;
      }
  }
  // The rotation handle at 1.03 x width: a round one of the same colours.
  EXPECT_EQ(shown.pixel(122, 60), red);
  EXPECT_EQ(shown.pixel(122, 57), blue);
  // The top side: dashes and white gaps on a white halo.
  std::set<QRgb> colours;
  for (int x = 50; x < 110; ++x) {
    colours.insert(shown.pixel(x, 40));
    ASSERT_EQ(shown.pixel(x, 41), white);
  }
  EXPECT_EQ(colours, (std::set<QRgb>{blue, white}));

  // Without resizing, no squares; the frame stays.
  shape.SetAllowResize(false);
  const QImage fixed = WithHandles();
  EXPECT_EQ(fixed.pixel(42, 42), Page(42, 42) | 0xFF000000u);
  EXPECT_EQ(fixed.pixel(80, 39), white);
  EXPECT_EQ(fixed.pixel(122, 60), red);
}

TEST_F(HandlePainterTest, W2K3CirclesAndRotationStem) {
  doc.HandleStyle = FakeDocument::Handles::W2K3;
  shape.SetAllowResize(false);  // drawn all the same
  const QImage shown = WithHandles();
  const QRgb black = 0xFF000000u, white = 0xFFFFFFFFu, green = 0xFF00FF00u;
  for (const TPoint c : {TPoint{40, 40}, TPoint{80, 40}, TPoint{120, 40}, TPoint{120, 60},
                         TPoint{120, 80}, TPoint{80, 80}, TPoint{40, 80}, TPoint{40, 60}}) {
    EXPECT_EQ(shown.pixel(c.X, c.Y), white);
    EXPECT_EQ(shown.pixel(c.X, c.Y - 3), black);
    // Square corners stay as they were: circles.
    EXPECT_EQ(shown.pixel(c.X - 3, c.Y - 3), Page(c.X - 3, c.Y - 3) | 0xFF000000u);
  }
  EXPECT_EQ(shown.pixel(80, 20), green);
  EXPECT_EQ(shown.pixel(80, 30), black);
  // No frame at rest.
  EXPECT_EQ(shown.pixel(60, 40), Page(60, 40) | 0xFF000000u);

  shape.SetAllowRotate(false);
  const QImage still = WithHandles();
  EXPECT_EQ(still.pixel(80, 30), Page(80, 30) | 0xFF000000u);
}

TEST_F(HandlePainterTest, DragFeedbackInvertsWhatLiesBeneath) {
  doc.HandleStyle = FakeDocument::Handles::W2K3;
  doc.HandleEdgeColorValue = 0x00FF00;
  shape.UpdateHandles();
  TAffineMatrix m;
  shape.HandleDrag({2.5f, 1.25f}, false, hcBody, m);  // 10 and 5 pixels
  view->overlay = [this](QPainter& p) { shape.DrawDragOutline(p); };
  const QImage shown = view->Shown();
  int dashes = 0, gaps = 0;
  for (int y = 0; y < shown.height(); ++y)
    for (int x = 0; x < shown.width(); ++x) {
      const QRgb before = Page(x, y) & kRgbMask, now = shown.pixel(x, y) & kRgbMask;
      const bool onFrame = ((x == 50 || x == 130) && y >= 45 && y <= 85) ||
                           ((y == 45 || y == 85) && x >= 50 && x <= 130);
      if (!onFrame) {
        ASSERT_EQ(now, before) << x << "," << y;
        continue;
      }
      // Every pixel of the frame is flipped once, by the pen or by white.
      if (now == (before ^ 0x00FF00u))
        ++dashes;
      else if (now == (before ^ kRgbMask))
        ++gaps;
      else
        ADD_FAILURE() << "not flipped at " << x << "," << y;
    }
  EXPECT_EQ(dashes + gaps, 2 * 80 + 2 * 40);
  EXPECT_GT(dashes, 80);
  EXPECT_GT(gaps, 80);

  // Drawn twice, nothing shows.
  view->overlay = [this](QPainter& p) {
    shape.DrawDragOutline(p);
    shape.DrawDragOutline(p);
  };
  EXPECT_EQ(view->Shown(), view->page);
}

TEST_F(HandlePainterTest, FocusRectangleIsADottedXorOutline) {
  view->overlay = [this](QPainter& p) { shape.DrawFocusRect(p, {20, 30, 60, 50}, 0x000000); };
  const QImage shown = view->Shown();
  int flipped = 0;
  for (int y = 0; y < shown.height(); ++y)
    for (int x = 0; x < shown.width(); ++x) {
      const QRgb before = Page(x, y) & kRgbMask, now = shown.pixel(x, y) & kRgbMask;
      const bool outline = (x == 20 || x == 59 || y == 30 || y == 49) && x >= 20 && x < 60 &&
                           y >= 30 && y < 50;
      if (now != before) {
        ASSERT_TRUE(outline) << x << "," << y;
        ASSERT_EQ(now, before ^ kRgbMask);
        ++flipped;
      }
    }
  // Black dashes leave the picture as it is; the white gaps flip it.
  EXPECT_GT(flipped, 40);
  EXPECT_LT(flipped, 2 * 40 + 2 * 18);
}

}  // namespace
}  // namespace kdl
