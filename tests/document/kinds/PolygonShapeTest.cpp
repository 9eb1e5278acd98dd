// Polygon shapes against exact areas, their generated points against the
// quarter-arc rule, the stipple against its period, setters against undo
// replay, and their XML against texts written out by hand.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>

#include "ExactCoverage.h"
#include "FakeDocument.h"
#include "RasterTesting.h"
#include "TestShapes.h"
#include "document/Startup.h"
#include "document/kinds/PolygonShape.h"
#include "document/shapes/Command.h"
#include "document/shapes/Rendering.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

using testing::FakeDocument;
using testing::LoadShapeXml;
using testing::ShapeXml;

class PolygonShapes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InitializeDocumentLibrary(); }
};

// Paints the shape with s pixels per mm, its frame's corner at (ox, oy)
// pixels, white on opaque black; returns the covered pixels (red / 255).
double PaintedArea(TdtpPolygonShape& shape, double s, double ox, double oy, std::int32_t size) {
  TBitmap32 b;
  b.SetSize(size, size);
  b.Clear(0xFF000000);
  b.SetDrawMode(dmBlend);
  shape.SetPaintTransform(TAffineMatrix{s, 0, 0, s, ox, oy});
  shape.Paint32(b, TdtpPaintInfo{});
  double sum = 0;
  for (std::int32_t y = 0; y < size; ++y)
    for (std::int32_t x = 0; x < size; ++x) sum += RedComponent(b.GetPixel(x, y));
  return sum / 255;
}

template <class T>
void FillOnly(T& shape, float w, float h) {
  shape.SetDocSize(w, h);
  shape.SetUseOutline(false);
  shape.SetFillColor(0xFFFFFF);
}

double ContourArea(const TArrayOfFloatPoint& c) { return testing::PolygonArea(c); }

// Eight sub-scanlines: an edge pixel is off by at most an eighth; and a
// fully covered pixel blends opaque colour at 254 / 255.
double RasterTolerance(double perimeterPx, double areaPx) { return perimeterPx / 8 + areaPx / 255 + 1; }

TEST_F(PolygonShapes, FilledAreasMatchTheirFormulas) {
  for (double s : {1.0, 5.9, 23.6})
    for (double off : {0.0, 0.3, 0.71}) {
      const float w = 21.3f, h = 13.7f;
      const auto size = static_cast<std::int32_t>(std::ceil(w * s)) + 4;
      const std::string where = "scale " + std::to_string(s) + " offset " + std::to_string(off);

      TdtpRectangleShape rect;
      FillOnly(rect, w, h);
      EXPECT_NEAR(PaintedArea(rect, s, 1 + off, 1 + off / 2, size), w * h * s * s,
                  RasterTolerance(2 * (w + h) * s, w * h * s * s))
          << where;

      // The ellipse covers its 4N-gon, whose area lies within the chord
      // error of the true ellipse.
      TdtpEllipseShape ellipse;
      FillOnly(ellipse, w, h);
      const double painted = PaintedArea(ellipse, s, 1 + off, 1 + off / 2, size);
      const double polygon = ContourArea(ellipse.Points()[0]);
      const auto n = static_cast<double>(ellipse.Points()[0].size()) / 4;
      EXPECT_NEAR(polygon, 2 * n * (w / 2) * (h / 2) * std::sin(std::numbers::pi / (2 * n)), 1e-3 * polygon);
      const double exact = std::numbers::pi * w * h / 4;
      const double chord = exact * (1 - std::sin(std::numbers::pi / (2 * n)) * 2 * n / std::numbers::pi);
      EXPECT_LE(exact - polygon, chord + 1e-3);
      EXPECT_NEAR(painted, polygon * s * s, RasterTolerance(std::numbers::pi * (w + h) / 2 * s, polygon * s * s)) << where;

      // A round rectangle: the frame minus the corners outside the arcs.
      TdtpRoundRectShape round;
      FillOnly(round, w, h);
      round.SetCornerWidth(4);
      round.SetCornerHeight(3);
      const double roundExact = w * h - (4 - std::numbers::pi) * 4 * 3;
      const double roundPainted = PaintedArea(round, s, 1 + off, 1 + off / 2, size);
      const double roundPolygon = ContourArea(round.Points()[0]);
      const auto k = static_cast<double>(round.Points()[0].size()) / 4 - 1;
      const double arcChord = std::numbers::pi * 4 * 3 * (1 - std::sin(std::numbers::pi / (2 * k)) * 2 * k / std::numbers::pi);
      EXPECT_LE(roundPolygon, roundExact + 1e-3);
      EXPECT_GE(roundPolygon, roundExact - arcChord - 1e-3);
      EXPECT_NEAR(roundPainted, roundPolygon * s * s, RasterTolerance(2 * (w + h) * s, roundPolygon * s * s))
          << where;
    }
}

TEST_F(PolygonShapes, EllipsePointsFollowTheRenderedSize) {
  TdtpEllipseShape e;
  ASSERT_FLOAT_EQ(e.DocWidth(), 40);
  ASSERT_FLOAT_EQ(e.DocHeight(), 30);
  // 150 dpi: L = 20 mm x 5.906 px/mm x pi / 2 = 185.5, N = 19.
  e.SetPaintTransform(TAffineMatrix{150 / 25.4, 0, 0, 150 / 25.4, 0, 0});
  e.UpdatePolygons();
  const TArrayOfFloatPoint& c = e.Points()[0];
  ASSERT_EQ(c.size(), 76u);
  // Clockwise on the page from the rightmost point through bottom, left
  // and top.
  EXPECT_EQ(c[0], (TFloatPoint{40, 15}));
  EXPECT_EQ(c[19], (TFloatPoint{20, 30}));
  EXPECT_EQ(c[38], (TFloatPoint{0, 15}));
  EXPECT_EQ(c[57], (TFloatPoint{20, 0}));
  for (const TFloatPoint& p : c) EXPECT_NEAR(std::hypot((p.X - 20) / 20, (p.Y - 15) / 15), 1, 1e-5);
  ASSERT_TRUE(e.FillPolygon());
  EXPECT_EQ(e.FillPolygon()->Contours()[0].size(), 76u);
}

TEST_F(PolygonShapes, RoundRectCornersAreCappedAtHalfTheFrame) {
  TdtpRoundRectShape r;
  r.SetDocSize(40, 20);
  r.SetCornerPropertiesArePercentage(true);
  r.SetCornerWidth(80);
  r.SetCornerHeight(10);
  // RX = min(20, 32) = 20, RY = 2: the top edge is a single point.
  const TArrayOfFloatPoint& c = r.Points()[0];
  const std::size_t q = c.size() / 4;
  EXPECT_EQ(c.front(), (TFloatPoint{0, 2}));
  EXPECT_EQ(c[q - 1], (TFloatPoint{20, 0}));
  EXPECT_EQ(c[q], (TFloatPoint{20, 0}));
  EXPECT_EQ(c[2 * q - 1], (TFloatPoint{40, 2}));
  // Radius 0: doubled corner points, and the plain rectangle's area.
  r.SetCornerPropertiesArePercentage(false);
  r.SetCornerWidth(0);
  r.SetCornerHeight(0);
  EXPECT_EQ(r.Points()[0].size(), 8u);
  EXPECT_DOUBLE_EQ(ContourArea(r.Points()[0]), 800);
}

TEST_F(PolygonShapes, ResizeRegeneratesOrScalesPoints) {
  TdtpRectangleShape rect;
  rect.SetDocSize(10, 4);
  EXPECT_EQ(rect.Points()[0], (TArrayOfFloatPoint{{0, 0}, {0, 4}, {10, 4}, {10, 0}}));

  FakeDocument doc;
  TdtpPolygonShape poly;
  poly.SetDocument(&doc);
  poly.SetStorePoints(true);
  poly.ClearPoints();
  poly.AddPointXY(10, 0);
  poly.AddPointXY(40, 30);
  poly.NewContour();
  poly.AddPointXY(0, 15);
  poly.SetDocSize(20, 60);
  EXPECT_EQ(poly.Points(), (TArrayOfArrayOfFloatPoint{{{5, 0}, {20, 60}}, {{0, 30}}}));
  // Not while the shape is edited in place.
  doc.SetEditedShape(&poly);
  poly.SetDocSize(40, 30);
  EXPECT_EQ(poly.Points(), (TArrayOfArrayOfFloatPoint{{{5, 0}, {20, 60}}, {{0, 30}}}));
  doc.SetEditedShape(nullptr);
  poly.SetDocument(nullptr);

  // Fitting into a rectangle: moved, then scaled to fill it.
  poly.FitPointsToRect({1, 2, 11, 5});
  EXPECT_EQ(poly.Points(), (TArrayOfArrayOfFloatPoint{{{3.5f, 2}, {11, 5}}, {{1, 3.5f}}}));
  EXPECT_EQ(poly.GetPointsBounds().Right, 11);
  poly.ClearPoints();
  EXPECT_TRUE(poly.HasNoPoints());
  EXPECT_EQ(poly.GetPointsBounds().Right, 0);
}

// A polygon read from XML, so that StippleSize can be set.
std::unique_ptr<TdtpPolygonShape> StippleLine(const std::string& stipple, bool outline, bool closed,
                                                const std::string& points) {
  auto s = std::make_unique<TdtpPolygonShape>();
  LoadShapeXml(*s, "<shape><ClassName>TdtpPolygonShape</ClassName><DocWidth>40</DocWidth>"
                   "<DocHeight>30</DocHeight><OutlineColor>$00FF0000</OutlineColor>" +
                       std::string(outline ? "<UseOutline>True</UseOutline>" : "") +
                       "<UseStipple>True</UseStipple>" + stipple +
                       (closed ? "" : "<IsClosed>False</IsClosed>") +
                       "<StorePoints>True</StorePoints><Polygon><Line>" + points + "</Line></Polygon></shape>");
  return s;
}

// The shape painted at 4 px/mm over grey.
std::unique_ptr<TBitmap32> PaintedAt4(TdtpPolygonShape& s, std::int32_t w, std::int32_t h) {
  auto b = std::make_unique<TBitmap32>();
  b->SetSize(w, h);
  b->Clear(0xFF808080);
  s.SetPaintTransform(TAffineMatrix{4, 0, 0, 4, 0, 0});
  s.Paint32(*b, TdtpPaintInfo{});
  return b;
}

TEST_F(PolygonShapes, StippleAlternatesFourWhiteAndFourBlackPixels) {
  // 4 px/mm and a 2 mm period: 8 pixels, one pattern step per pixel.
  auto s = StippleLine("", false, false, "<Point><X>0</X><Y>1</Y></Point><Point><X>8</X><Y>1</Y></Point>");
  ASSERT_FLOAT_EQ(s->StippleSize(), 2);
  const auto painted = PaintedAt4(*s, 40, 10);
  const TBitmap32& b = *painted;
  for (std::int32_t x = 0; x < 32; ++x) {
    // The anti-aliased blend keeps a level or two off the pure colours.
    const int expected = (x / 4) % 2 == 0 ? 255 : 0;
    EXPECT_NEAR(RedComponent(b.GetPixel(x, 4)), expected, 3) << x;
    EXPECT_NEAR(BlueComponent(b.GetPixel(x, 4)), expected, 3) << x;
    EXPECT_EQ(b.GetPixel(x, 3), 0xFF808080u) << x;
  }
}

TEST_F(PolygonShapes, SinglePointStipplePlotsOnePixel) {
  auto s = StippleLine("", false, true, "<Point><X>2</X><Y>1</Y></Point>");
  const auto painted = PaintedAt4(*s, 16, 16);
  const TBitmap32& b = *painted;
  int changed = 0;
  for (std::int32_t y = 0; y < 16; ++y)
    for (std::int32_t x = 0; x < 16; ++x)
      if (b.GetPixel(x, y) != 0xFF808080u) ++changed;
  EXPECT_EQ(changed, 1);
  // Outline colour $FF0000 is blue.
  EXPECT_GE(BlueComponent(b.GetPixel(8, 4)), 250);
  EXPECT_LE(RedComponent(b.GetPixel(8, 4)), 2);
}

TEST_F(PolygonShapes, UnusableStippleSizesDrawTheHairline) {
  const std::string line = "<Point><X>0</X><Y>1</Y></Point><Point><X>8</X><Y>1</Y></Point>";
  // The hairline of an outline of width 0, for reference.
  TdtpPolygonShape plain;
  LoadShapeXml(plain, "<shape><ClassName>TdtpPolygonShape</ClassName><OutlineColor>$00FF0000</OutlineColor>"
                      "<UseOutline>True</UseOutline><IsClosed>False</IsClosed><StorePoints>True</StorePoints>"
                      "<Polygon><Line>" + line + "</Line></Polygon></shape>");
  const std::vector<TColor32> hairline = test::Pixels(*PaintedAt4(plain, 40, 10));
  for (const char* size : {"0", "-2", "NaN", "INF"})
    for (bool outline : {false, true}) {
      auto s = StippleLine(std::string("<StippleSize>") + size + "</StippleSize>", outline, false, line);
      EXPECT_EQ(test::Pixels(*PaintedAt4(*s, 40, 10)), hairline) << size << " outline " << outline;
    }
}

// A closed 8 x 6 mm rectangle, filled white and outlined red, over grey.
std::unique_ptr<TdtpPolygonShape> OutlinedBox(const std::string& extra) {
  auto s = std::make_unique<TdtpPolygonShape>();
  LoadShapeXml(*s, "<shape><ClassName>TdtpPolygonShape</ClassName><DocLeft>1</DocLeft><DocTop>1</DocTop>"
                   "<DocWidth>8</DocWidth><DocHeight>6</DocHeight><FillColor>$00FFFFFF</FillColor>"
                   "<UseFill>True</UseFill><FillAlpha>255</FillAlpha><OutlineColor>$000000FF</OutlineColor>"
                   "<UseOutline>True</UseOutline>" +
                       extra + "</shape>");
  return s;
}

// A negative width has no ring to fill: the box paints as its fill alone.
TEST_F(PolygonShapes, NegativeOutlineWidthPaintsTheFillAlone) {
  auto filled = OutlinedBox("<OutlineWidth>1</OutlineWidth>");
  filled->SetUseOutline(false);
  const std::vector<TColor32> fillOnly = test::Pixels(*PaintedAt4(*filled, 48, 40));
  auto fromFile = OutlinedBox("<OutlineWidth>-2</OutlineWidth>");
  EXPECT_EQ(test::Pixels(*PaintedAt4(*fromFile, 48, 40)), fillOnly);
  auto set = OutlinedBox("<OutlineWidth>1</OutlineWidth>");
  set->SetOutlineWidth(-0.5f);
  EXPECT_EQ(test::Pixels(*PaintedAt4(*set, 48, 40)), fillOnly);
}

// A width that is no number, from a file or a caller, leaves the outline
// as it was: same margins, same pixels, nothing recorded.
TEST_F(PolygonShapes, NonFiniteOutlineWidthsAreIgnored) {
  auto reference = OutlinedBox("<OutlineWidth>1</OutlineWidth>");
  const std::vector<TColor32> pixels = test::Pixels(*PaintedAt4(*reference, 48, 40));
  const auto margins = [](const TdtpShape& s) {
    return std::array{s.MarginLeft(), s.MarginTop(), s.MarginRight(), s.MarginBottom()};
  };
  for (const char* value : {"NaN", "INF", "-INF"}) {
    FakeDocument doc;
    auto set = OutlinedBox("<OutlineWidth>1</OutlineWidth>");
    set->SetDocument(&doc);
    set->SetOutlineWidth(std::strtof(value, nullptr));
    EXPECT_EQ(set->OutlineWidth(), 1) << "set " << value;
    EXPECT_TRUE(doc.UndoList().empty()) << "set " << value;
    EXPECT_EQ(margins(*set), margins(*reference)) << "set " << value;
    EXPECT_EQ(test::Pixels(*PaintedAt4(*set, 48, 40)), pixels) << "set " << value;
    set->SetDocument(nullptr);

    // Read over a shape whose width is 1: the width stays 1.
    auto read = OutlinedBox("<OutlineWidth>1</OutlineWidth>");
    std::string xml = ShapeXml(*reference);
    const std::string one = "<OutlineWidth>1<";
    ASSERT_NE(xml.find(one), std::string::npos);
    xml.replace(xml.find(one), one.size(), std::string("<OutlineWidth>") + value + "<");
    LoadShapeXml(*read, xml);
    EXPECT_EQ(read->OutlineWidth(), 1) << "read " << value;
    EXPECT_EQ(margins(*read), margins(*reference)) << "read " << value;
    EXPECT_EQ(test::Pixels(*PaintedAt4(*read, 48, 40)), pixels) << "read " << value;
  }
}

constexpr const char* kAnchors =
    "<Anchors><default>True</default><LeftLock>True</LeftLock><TopLock>True</TopLock></Anchors>";

std::string Base(const char* cls, const char* frame, const char* curb = ".25") {
  return std::string("<shape><ClassName>") + cls + "</ClassName>" + kAnchors + "<CurbLeft>" + curb +
         "</CurbLeft><CurbTop>" + curb + "</CurbTop><CurbRight>" + curb + "</CurbRight><CurbBottom>" +
         curb + "</CurbBottom>" + frame;
}

// The constructor's polygon values, written where they differ from the
// XML defaults.
constexpr const char* kPolygonDefaults =
    "<OutlineWidth>.5</OutlineWidth><FillAlpha>255</FillAlpha><FillColor>$00FF0000</FillColor>"
    "<UseFill>True</UseFill><UseOutline>True</UseOutline>";

// Each kind writes the golden text, and a fresh one of its kind (sized
// otherwise first) reads it back to the same points and the same text.
template <class Kind>
void ExpectGolden(Kind& shape, const std::string& golden) {
  EXPECT_EQ(ShapeXml(shape), golden);
  Kind copy;
  copy.SetDocSize(5, 5);
  LoadShapeXml(copy, golden);
  EXPECT_EQ(ShapeXml(copy), golden);
  EXPECT_EQ(copy.Points(), shape.Points()) << golden;
}

TEST_F(PolygonShapes, XmlOfEachKindAsWrittenByHand) {
  const char* frame = "<DocHeight>30</DocHeight><DocWidth>40</DocWidth>";
  TdtpEllipseShape e;
  ExpectGolden(e, Base("TdtpEllipseShape", frame) + kPolygonDefaults + "</shape>");

  TdtpRectangleShape r;
  r.SetFillColor(0x00FF00);
  r.SetOutlineWidth(0);
  r.SetUseOutline(false);
  ExpectGolden(r, Base("TdtpRectangleShape", frame, ".1") +
                      "<FillAlpha>255</FillAlpha><FillColor>$0000FF00</FillColor><UseFill>True</UseFill></shape>");

  TdtpRoundRectShape round;
  round.SetCornerPropertiesArePercentage(true);
  round.SetCornerWidth(25);
  round.SetCornerHeight(12.5f);
  ExpectGolden(round, Base("TdtpRoundRectShape", frame) + kPolygonDefaults +
                          "<CornerWidth>25</CornerWidth><CornerHeight>12.5</CornerHeight>"
                          "<CornerPropertiesArePercentage>True</CornerPropertiesArePercentage></shape>");

  TdtpPolygonShape p;
  p.SetStorePoints(true);
  p.AddPointXY(1, 2);
  p.AddPointXY(3.5f, 0);
  p.NewContour();
  p.AddPointXY(0, 7);
  p.SetIsClosed(false);
  ExpectGolden(p, Base("TdtpPolygonShape", frame) + kPolygonDefaults +
                      "<IsClosed>False</IsClosed><StorePoints>True</StorePoints><Polygon>"
                      "<Line><Point><X>1</X><Y>2</Y></Point><Point><X>3.5</X></Point></Line>"
                      "<Line><Point><Y>7</Y></Point></Line></Polygon></shape>");
  // Values saved equal to their XML defaults come back as those defaults.
  TdtpPolygonShape bare;
  LoadShapeXml(bare, "<shape><ClassName>TdtpPolygonShape</ClassName></shape>");
  EXPECT_EQ(bare.FillAlpha(), 0);
  EXPECT_FALSE(bare.UseFill());
  EXPECT_FALSE(bare.UseOutline());
  EXPECT_EQ(bare.FillColor(), 0);
  EXPECT_EQ(bare.OutlineWidth(), 0);
  EXPECT_FLOAT_EQ(bare.CurbLeft(), 0.1f);
}

// The region is the area the points enclose, even-odd over the contours:
// each pixel against the same question asked of the contours in double.
TEST_F(PolygonShapes, ScreenRegionIsTheAreaInsideThePoints) {
  FakeDocument doc;
  doc.ScreenDpmValue = 3;
  TdtpPolygonShape polygon;
  polygon.SetDocument(&doc);
  polygon.SetDocBounds(2, 1, 30, 30);
  polygon.SetStorePoints(true);
  polygon.ClearPoints();
  // A triangle with a square hole, and a square apart from it.
  const std::vector<std::vector<TFloatPoint>> contours = {
      {{0, 0}, {30, 0}, {0, 20}}, {{4, 4}, {10, 4}, {10, 10}, {4, 10}}, {{20, 20}, {28, 20}, {28, 28}, {20, 28}}};
  for (std::size_t c = 0; c < contours.size(); ++c) {
    if (c > 0) polygon.NewContour();
    for (const TFloatPoint& p : contours[c]) polygon.AddPoint(p);
  }
  const auto region = polygon.CreateScreenRegion();
  ASSERT_TRUE(region.has_value());
  auto inside = [&](double x, double y) { return testing::InsideEvenOdd(contours, x, y); };
  int checked = 0;
  for (std::int32_t py = 0; py < 100; ++py)
    for (std::int32_t px = 0; px < 105; ++px) {
      // Pixel centres in frame mm; the corners fall on whole pixels at 3
      // px/mm and no centre lies on an edge.
      const double x = (px + 0.5) / 3 - 2, y = (py + 0.5) / 3 - 1;
      ASSERT_EQ(region->Contains({px, py}), inside(x, y)) << px << "," << py;
      checked += inside(x, y);
    }
  EXPECT_NEAR(checked, (300 - 36 + 64) * 9, 3 * 90);
  // A frame beyond any screen gives no region.
  polygon.SetDocBounds(1e30f, 0, 30, 30);
  EXPECT_FALSE(polygon.CreateScreenRegion().has_value());
  polygon.SetDocument(nullptr);
}

}  // namespace
}  // namespace kdl
