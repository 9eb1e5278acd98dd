// The document's view on the offscreen platform: the mapping and the zoom
// against their arithmetic, the page's place on the desk, the rulers, and
// painting compared pixel by pixel with the page rendered on its own.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <random>
#include <stdexcept>
#include <vector>

#include "ViewTesting.h"
#include "support/RenderTestShapes.h"
#include "document/view/Ruler.h"

namespace kdl {
namespace {

constexpr TColor32 kMarker = 0xFF2060A0u;
// The red of a GUI colour (0x00BBGGRR).
constexpr TColor kRedColor = 0x0000FF;

// A drawing shape that keeps what each paint gave it, and throws on demand.
class ProbeShape : public testing::RectShape {
 public:
  struct Seen {
    std::int32_t Width, Height;
    TAffineMatrix Transform;
    TColor32 BackColor;
  };
  std::vector<Seen> Paints32;
  bool Throw = false;

  void Paint32(TBitmap32& bitmap, const TdtpPaintInfo& info) override {
    if (Throw) throw std::runtime_error("probe failed");
    Paints32.push_back({bitmap.Width(), bitmap.Height(), PaintTransform(), info.BackColor});
    RectShape::Paint32(bitmap, info);
  }
};

// Remembers the rectangle of every paint that reaches the page.
class RecordingDocument : public TdtpDocument {
 public:
  using TdtpDocument::TdtpDocument;
  std::vector<QRect> Clips;
  void PaintDocument(QPainter& canvas, const QRect& clip) override {
    Clips.push_back(clip);
    TdtpDocument::PaintDocument(canvas, clip);
  }
};

class DocumentViewTest : public test::ShownDocumentTest<RecordingDocument> {
 protected:
  TdtpPage& Page() { return *doc_->GetCurrentPage(); }

  template <class Shape = ProbeShape>
  Shape& AddShape(float left, float top, float width, float height, float angle = 0,
                  std::int32_t alpha = 255) {
    auto shape = std::make_unique<Shape>();
    shape->Color = kMarker;
    shape->SetDocBoundsAngle(left, top, width, height, angle);
    shape->SetMasterAlpha(alpha);
    Shape& ref = *shape;
    doc_->AddShape(std::move(shape));
    return ref;
  }

  // Page extent over the client width, as the fit leaves it.
  float FitSpan() const {
    return doc_->ScreenDpm() * doc_->GetCurrentPage()->GetTotalWidth();
  }

  void Scroll(std::int32_t dx, std::int32_t dy) {
    doc_->ScrollBy(dx, dy);
    QCoreApplication::processEvents();
  }

  QImage Grab() { return doc_->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

// The page rendered alone at dpm for the screen, its top-left pixel at the
// page's origin.
void DirectRender(TdtpDocument& doc, TdtpPage& page, float dpm, TBitmap32& out) {
  out.SetSize(static_cast<std::int32_t>(std::lround(page.PageWidth() * dpm)),
              static_cast<std::int32_t>(std::lround(page.PageHeight() * dpm)));
  out.Clear(Color32(page.PageColor()));
  TdtpPaintInfo info;
  info.Device = dtScreen;
  info.BackColor = Color32(page.PageColor()) & 0xFFFFFFu;
  info.Scale = dpm;
  info.RenderScale = doc.RenderDpm();
  info.StretchFilter = doc.Quality();
  page.Paint(out, {0, 0, page.PageWidth(), page.PageHeight()}, true, info);
}

// Every pixel of image that shows the page (at offset in image pixels)
// equals the direct render; returns the number compared.
int ComparePage(const QImage& image, const TBitmap32& direct, std::int32_t offsetX,
                std::int32_t offsetY, const QRect& only = QRect()) {
  int compared = 0, wrong = 0;
  for (std::int32_t y = 0; y < image.height(); ++y)
    for (std::int32_t x = 0; x < image.width(); ++x) {
      if (!only.isNull() && !only.contains(x, y)) continue;
      const std::int32_t px = x - offsetX, py = y - offsetY;
      if (px < 0 || py < 0 || px >= direct.Width() || py >= direct.Height()) continue;
      ++compared;
      const QRgb want = direct.GetPixel(px, py) | 0xFF000000u;
      if (image.pixel(x, y) != want && wrong++ < 5)
        ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << image.pixel(x, y)
                      << " want " << want;
    }
  return compared;
}

// ---- Mapping --------------------------------------------------------------------------------

TEST_F(DocumentViewTest, MappingFollowsWindowOriginAndScaleBothWays) {
  doc_->SetAutoWidth(false);
  doc_->SetScreenDpm(5.905512f);
  doc_->SetWindowLeft(10);
  doc_->SetWindowTop(-3);
  const TFloatPoint p = doc_->DocToScreen({20, 4});
  EXPECT_NEAR(p.X, 59.05512, 1e-4);
  EXPECT_NEAR(p.Y, 7 * 5.905512, 1e-4);

  std::mt19937 random(7);
  std::uniform_real_distribution<float> coordinate(-500, 500), scale(0.05f, 50);
  for (int i = 0; i < 200; ++i) {
    doc_->SetScreenDpm(scale(random));
    doc_->SetWindowLeft(coordinate(random));
    doc_->SetWindowTop(coordinate(random));
    const TFloatPoint screen{coordinate(random) * 4, coordinate(random) * 4};
    const TFloatPoint back = doc_->DocToScreen(doc_->ScreenToDoc(screen));
    ASSERT_NEAR(back.X, screen.X, 1e-3 * (1 + std::abs(screen.X) + 500 * doc_->ScreenDpm()));
    ASSERT_NEAR(back.Y, screen.Y, 1e-3 * (1 + std::abs(screen.Y) + 500 * doc_->ScreenDpm()));
  }

  // Rectangles round both corners to whole pixels.
  doc_->SetScreenDpm(4);
  doc_->SetWindowLeft(1);
  doc_->SetWindowTop(2);
  const TRect r = doc_->DocRectToScreen({3.1f, 4.4f}, {10.2f, 0.3f});
  EXPECT_EQ(r.Left, 8);     // 8.4
  EXPECT_EQ(r.Top, 10);     // 9.6
  EXPECT_EQ(r.Right, 49);   // 49.2
  EXPECT_EQ(r.Bottom, 11);  // 10.8
}

TEST_F(DocumentViewTest, ThePageSitsOnTheDeskAsEachViewStylePlacesIt) {
  ExactScale();
  // Print layout: 10 px of desk on every side of the page and its shadow.
  EXPECT_FLOAT_EQ(doc_->VirtualWidth(), 211 * 4 + 20);
  EXPECT_FLOAT_EQ(doc_->VirtualHeight(), 298 * 4 + 20);
  EXPECT_FLOAT_EQ(Page().DocLeft(), 2.5f);
  const TFloatPoint origin = doc_->DocToScreen({Page().DocLeft(), Page().DocTop()});
  EXPECT_FLOAT_EQ(origin.X, 10);
  EXPECT_FLOAT_EQ(origin.Y, 10);

  // Normal: the page alone, at the origin; the scroll goes back there.
  Scroll(50, 70);
  EXPECT_FLOAT_EQ(doc_->WindowLeft(), 12.5f);
  doc_->SetViewStyle(vsNormal);
  EXPECT_FLOAT_EQ(doc_->VirtualWidth(), 210 * 4);
  EXPECT_FLOAT_EQ(doc_->VirtualHeight(), 297 * 4);
  EXPECT_EQ(Page().DocLeft(), 0);
  EXPECT_EQ(doc_->ScrollX(), 0);
  EXPECT_EQ(doc_->WindowLeft(), 0);
}

TEST_F(DocumentViewTest, PageSizeChangesInsideTheirOwnHandlingAreIgnored) {
  ExactScale();
  int calls = 0;
  doc_->OnUpdateScrollPosition = [&](TdtpDocument&) {
    // A handler that resizes the page again would recurse for ever.
    if (++calls < 5) Page().SetPageWidth(Page().PageWidth() + 1);
  };
  Page().SetPageWidth(150);
  EXPECT_EQ(calls, 1);
  doc_->OnUpdateScrollPosition = nullptr;
}

TEST_F(DocumentViewTest, RulersCountFromThePageOrigin) {
  TKdRuler top(host_.get()), left(host_.get());
  left.SetDirection(rdLeft);
  TKdRulerCorner corner(host_.get());
  doc_->SetRulerTop(&top);
  doc_->SetRulerLeft(&left);
  doc_->SetRulerCorner(&corner);
  ExactScale();
  doc_->SetRulerUnits(ruCenti);
  Scroll(48, 30);
  // The page coordinate (mm) at the window's top-left corner.
  EXPECT_DOUBLE_EQ(top.Offset(), (48 - 10) / 4.0);
  EXPECT_DOUBLE_EQ(left.Offset(), (30 - 10) / 4.0);
  EXPECT_DOUBLE_EQ(top.ScreenDpm(), 4);
  EXPECT_EQ(top.Units(), ruCenti);
  EXPECT_EQ(left.Units(), ruCenti);
  EXPECT_EQ(corner.Units(), ruCenti);
  doc_->SetRulerTop(nullptr);
  doc_->SetRulerLeft(nullptr);
  doc_->SetRulerCorner(nullptr);
}

// ---- Zoom -------------------------------------------------------------------------------------

TEST_F(DocumentViewTest, ZoomKeepsTheWindowCentreAndReturnsToItsPercent) {
  doc_->SetZoomPercent(400);
  EXPECT_FLOAT_EQ(doc_->ZoomPercent(), 400);
  Scroll(300, 500);
  const float cx = doc_->ClientWidth() * 0.5f, cy = doc_->ClientHeight() * 0.5f;
  const TFloatPoint centre = doc_->ScreenToDoc({cx, cy});
  for (float factor : {1.25f, 0.8f, 1.1f}) {
    doc_->ZoomBy(factor);
    const TFloatPoint now = doc_->DocToScreen(centre);
    EXPECT_NEAR(now.X, cx, 0.5) << factor;
    EXPECT_NEAR(now.Y, cy, 0.5) << factor;
  }

  const float percent = doc_->ZoomPercent(), dpm = doc_->ScreenDpm();
  doc_->ZoomIn();
  EXPECT_NEAR(doc_->ZoomPercent(), percent * 1.1f, 1e-3);
  doc_->ZoomOut();
  EXPECT_NEAR(doc_->ZoomPercent(), percent, percent * 1e-6);
  EXPECT_NEAR(doc_->ScreenDpm(), dpm, dpm * 1e-6);

  // Without automatic width the percentage is not the view's to take.
  const float now = doc_->ZoomPercent(), nowDpm = doc_->ScreenDpm();
  doc_->SetAutoWidth(false);
  doc_->SetZoomPercent(50);
  EXPECT_EQ(doc_->ZoomPercent(), now);
  EXPECT_EQ(doc_->ScreenDpm(), nowDpm);
}

TEST_F(DocumentViewTest, FitWidthSpansTheClientWidthAfterTheBarsCameBack) {
  doc_->ZoomReset();
  // The page is taller than the window: the bars are back, and the fit
  // was made for the narrower client area.
  EXPECT_TRUE(doc_->verticalScrollBar()->isVisible());
  EXPECT_NEAR(FitSpan(), doc_->ClientWidth() - 22, 1e-3);
  doc_->SetViewStyle(vsNormal);
  doc_->FitWidth();
  EXPECT_NEAR(doc_->ScreenDpm() * Page().PageWidth(), doc_->ClientWidth() - 2, 1e-3);
  EXPECT_TRUE(doc_->verticalScrollBar()->isVisible());
}

TEST_F(DocumentViewTest, ResizingRefitsAtAHundredPercentOnly) {
  doc_->ZoomReset();
  doc_->resize(500, 400);
  EXPECT_NEAR(FitSpan(), doc_->ClientWidth() - 22, 1e-3);

  doc_->SetZoomPercent(150);
  const float dpm = doc_->ScreenDpm();
  EXPECT_NEAR(dpm * Page().GetTotalWidth(), (doc_->ClientWidth() - 22) * 1.5, 1e-2);
  doc_->resize(700, 400);
  EXPECT_EQ(doc_->ScreenDpm(), dpm);
}

TEST_F(DocumentViewTest, ZoomStaysWithinTheScalesAViewCanShow) {
  // A window narrower than its margin keeps a usable scale.
  doc_->ZoomReset();
  const float before = doc_->ScreenDpm();
  doc_->resize(10, 400);
  EXPECT_EQ(doc_->ScreenDpm(), before);
  doc_->FitWidth();
  EXPECT_EQ(doc_->ScreenDpm(), before);

  // A page without width cannot be fitted either.
  doc_->SetViewStyle(vsNormal);
  Page().SetPageWidth(0);
  doc_->FitWidth();
  EXPECT_EQ(doc_->ScreenDpm(), before);
  Page().SetPageWidth(210);
  doc_->SetViewStyle(vsPrintLayout);
  doc_->resize(600, 400);

  for (int i = 0; i < 200; ++i) doc_->ZoomIn();
  EXPECT_LE(doc_->ScreenDpm(), 1000);
  float percent = doc_->ZoomPercent(), dpm = doc_->ScreenDpm();
  doc_->ZoomIn();
  EXPECT_EQ(doc_->ZoomPercent(), percent);
  EXPECT_EQ(doc_->ScreenDpm(), dpm);

  for (int i = 0; i < 300; ++i) doc_->ZoomOut();
  EXPECT_GE(doc_->ScreenDpm(), 0.01f);
  percent = doc_->ZoomPercent(), dpm = doc_->ScreenDpm();
  doc_->ZoomOut();
  EXPECT_EQ(doc_->ZoomPercent(), percent);

  for (float bad : {1e9f, 0.0f, -5.0f, NAN, INFINITY}) {
    doc_->SetZoomPercent(bad);
    EXPECT_EQ(doc_->ZoomPercent(), percent) << bad;
    EXPECT_EQ(doc_->ScreenDpm(), dpm) << bad;
  }
  // A factor past either end leaves the scale, the area and the scroll
  // position as they were, so the page and the area keep one scale.
  const float width = doc_->VirtualWidth(), height = doc_->VirtualHeight();
  const float left = doc_->WindowLeft();
  for (float factor : {1e6f, 1e-6f}) {
    doc_->ZoomBy(factor);
    EXPECT_EQ(doc_->ScreenDpm(), dpm) << factor;
    EXPECT_EQ(doc_->VirtualWidth(), width) << factor;
    EXPECT_EQ(doc_->VirtualHeight(), height) << factor;
    EXPECT_EQ(doc_->WindowLeft(), left) << factor;
  }
  EXPECT_TRUE(std::isfinite(doc_->WindowLeft()));
}

// ---- Painting -----------------------------------------------------------------------------------

TEST_F(DocumentViewTest, ThePageAreaIsThePageRenderedAlone) {
  ExactScale();
  doc_->SetHelperMethod(hmGrid);
  AddShape(30, 40, 50, 30);
  AddShape(100, 60, 40, 25, 30);         // turned: through its cache
  AddShape(60, 55, 40, 40, 0, 128);      // translucent: through its cache
  AddShape(10.25f, 90.5f, 12.75f, 7.5f);  // edges between pixels
  Scroll(100, 200);

  TBitmap32 direct;
  DirectRender(*doc_, Page(), 4, direct);
  const QImage screen = Grab();
  // The page covers the whole window.
  EXPECT_EQ(ComparePage(screen, direct, 10 - 100, 10 - 200), screen.width() * screen.height());

  // On a screen of twice the density the clip renders at device pixels.
  QImage dense(2 * 200, 2 * 150, QImage::Format_RGB32);
  dense.setDevicePixelRatio(2);
  {
    QPainter painter(&dense);
    doc_->PaintDocument(painter, QRect(0, 0, 200, 150));
  }
  TBitmap32 sharp;
  DirectRender(*doc_, Page(), 8, sharp);
  EXPECT_EQ(ComparePage(dense, sharp, 2 * (10 - 100), 2 * (10 - 200)), 400 * 300);
}

TEST_F(DocumentViewTest, APaintRendersOnlyItsRectangleForTheMatchingView) {
  ExactScale();
  ProbeShape& probe = AddShape(20, 20, 60, 60);
  QCoreApplication::processEvents();

  // Straight onto an image: nothing outside the rectangle is touched.
  const QRect rect(50, 40, 120, 70);
  QImage image(doc_->viewport()->size(), QImage::Format_RGB32);
  image.fill(qRgb(1, 2, 3));
  {
    QPainter painter(&image);
    doc_->PaintDocument(painter, rect);
  }
  TBitmap32 direct;
  DirectRender(*doc_, Page(), 4, direct);
  EXPECT_EQ(ComparePage(image, direct, 10, 10, rect), 120 * 70);
  for (std::int32_t y = 0; y < image.height(); ++y)
    for (std::int32_t x = 0; x < image.width(); ++x)
      if (!rect.contains(x, y) && image.pixel(x, y) != qRgb(1, 2, 3)) {
        ADD_FAILURE() << "touched " << x << "," << y;
        return;
      }

  // Through the window: the paint event brings the rectangle, and the
  // shape draws into a bitmap of that size at the view's place.
  doc_->Clips.clear();
  probe.Paints32.clear();
  doc_->viewport()->repaint(rect);
  ASSERT_EQ(doc_->Clips.size(), 1u);
  EXPECT_EQ(doc_->Clips[0], rect);
  ASSERT_EQ(probe.Paints32.size(), 1u);
  const ProbeShape::Seen& seen = probe.Paints32[0];
  EXPECT_EQ(seen.Width, 120);
  EXPECT_EQ(seen.Height, 70);
  // The shape's origin: 10 px desk + 20 mm at 4 px/mm, less the rectangle.
  EXPECT_DOUBLE_EQ(seen.Transform.E, 10 + 80 - 50);
  EXPECT_DOUBLE_EQ(seen.Transform.F, 10 + 80 - 40);
  EXPECT_DOUBLE_EQ(seen.Transform.A, 4);
}

TEST_F(DocumentViewTest, ColoursKeepTheirChannelOrderAndAreOpaque) {
  ExactScale();
  doc_->SetShowMargins(false);
  // The control's colour on the desk around the page.
  doc_->SetColor(0xC8D0D4);  // RGB(212, 208, 200)
  doc_->SetDefaultPageColor(kRedColor);
  ProbeShape& probe = AddShape(40, 40, 10, 10);
  const QImage image = Grab();
  EXPECT_EQ(image.pixel(3, 3), qRgb(212, 208, 200));
  EXPECT_EQ(image.pixel(200, 30), qRgb(255, 0, 0));
  // Caches are cleared to the page colour, alpha 0.
  ASSERT_FALSE(probe.Paints32.empty());
  EXPECT_EQ(probe.Paints32.back().BackColor, 0x00FF0000u);

  // Without pages the window shows the control's colour alone.
  doc_->SetPageCount(0);
  doc_->SetColor(kRedColor);
  const QImage empty = Grab();
  for (std::int32_t y = 0; y < empty.height(); y += 7)
    for (std::int32_t x = 0; x < empty.width(); x += 7)
      ASSERT_EQ(empty.pixel(x, y), qRgb(255, 0, 0)) << x << "," << y;
}

TEST_F(DocumentViewTest, NothingPaintsWhilePrintingOrLoading) {
  ExactScale();
  QCoreApplication::processEvents();
  doc_->Clips.clear();
  doc_->BeginPrinting();
  doc_->viewport()->repaint();
  doc_->EndPrinting();
  EXPECT_TRUE(doc_->Clips.empty());

  TMemoryStream stream;
  doc_->SaveToStream(stream);
  stream.Seek(0, soBeginning);
  std::size_t paintedWhileLoading = 99;
  doc_->OnLoadAdditionalInfo = [&](TdtpDocument& doc, TXmlNode&) {
    doc_->Clips.clear();
    doc.viewport()->repaint();
    paintedWhileLoading = doc_->Clips.size();
  };
  doc_->LoadFromStream(stream);
  doc_->OnLoadAdditionalInfo = nullptr;
  EXPECT_EQ(paintedWhileLoading, 0u);
  doc_->viewport()->repaint();
  EXPECT_FALSE(doc_->Clips.empty());
}

TEST_F(DocumentViewTest, AShapeThatThrowsWhilePaintingIsReportedNotFatal) {
  std::vector<std::string> errors;
  SetErrorDisplay([&](const std::string& message) { errors.push_back(message); });
  ProbeShape& probe = AddShape(20, 20, 60, 60);
  probe.Throw = true;
  doc_->viewport()->repaint();
  ASSERT_FALSE(errors.empty());
  EXPECT_NE(errors[0].find("probe failed"), std::string::npos);
  probe.Throw = false;
  errors.clear();
  doc_->viewport()->repaint();
  EXPECT_TRUE(errors.empty());
}

TEST_F(DocumentViewTest, AShapeInvalidatesItsScreenBoundsAndHandles) {
  ExactScale();
  ProbeShape& upright = AddShape(30, 40, 20, 10);
  ProbeShape& turned = AddShape(60, 40, 20, 10, 90);
  QCoreApplication::processEvents();
  const auto asQRect = [](const TRect& r) { return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top); };
  // Page origin at 10 px. The frame's corners, widened by half a pixel and
  // rounded halves to even, stay on their even pixels; the handles reach
  // past them.
  doc_->Clips.clear();
  doc_->InvalidateShape(&upright);
  QCoreApplication::processEvents();
  ASSERT_EQ(doc_->Clips.size(), 1u);
  EXPECT_EQ(doc_->Clips[0], asQRect(upright.GetUpdateRect()));
  EXPECT_TRUE(doc_->Clips[0].contains(QRect(QPoint(10 + 120, 10 + 160), QPoint(10 + 200 - 1, 10 + 200 - 1))));
  // A quarter turn counter-clockwise: local (x, y) lands at (60 + y, 40 - x)
  // mm, so x spans 60..70 mm and y 20..40 mm.
  doc_->Clips.clear();
  doc_->InvalidateShape(&turned);
  QCoreApplication::processEvents();
  ASSERT_EQ(doc_->Clips.size(), 1u);
  EXPECT_EQ(doc_->Clips[0], asQRect(turned.GetUpdateRect()));
  EXPECT_TRUE(doc_->Clips[0].contains(QRect(QPoint(10 + 240, 10 + 80), QPoint(10 + 280 - 1, 10 + 160 - 1))));

  // A document on no window invalidates nothing.
  RecordingDocument loose;
  loose.InvalidateShape(loose.GetCurrentPage());
}

}  // namespace
}  // namespace kdl
