// Masks rendered into byte maps and through a shape's cache, checked
// against blurs summed by their definition, exact polygon areas and
// per-pixel coverage worked out in double.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "ExactCoverage.h"
#include "FakeDocument.h"
#include "RenderTestShapes.h"
#include "document/Startup.h"
#include "document/effects/MaskEffect.h"
#include "document/resources/BitmapResource.h"
#include "document/shapes/Rendering.h"
#include "foundation/BrenlowXml.h"
#include "raster/ByteMap.h"

namespace kdl {
namespace {

using testing::P;
using testing::RectShape;

// ---- References ------------------------------------------------------------------

// One box pass over the whole sequence, each output summed over its window.
std::vector<std::int64_t> NaivePass(const std::vector<std::int64_t>& in, std::int64_t half,
                                    std::int64_t size) {
  const auto n = static_cast<std::int64_t>(in.size());
  std::vector<std::int64_t> out(in.size());
  for (std::int64_t o = 0; o < n; ++o) {
    std::int64_t sum = 0;
    for (std::int64_t j = o + half - size + 1; j <= o + half; ++j)
      if (j >= 0 && j < n) sum += in[static_cast<std::size_t>(j)];
    out[static_cast<std::size_t>(o)] = sum / size;
  }
  return out;
}

// The feathered alpha: x256, rows blurred running on into each other, then
// columns the same way, back to alpha, contrast doubled about 255.
std::vector<std::uint8_t> NaiveFeather(const std::vector<std::uint8_t>& alpha, int w, int h,
                                       float radius) {
  const std::size_t n = alpha.size();
  std::vector<std::int64_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = alpha[i] * 256;
  std::int64_t size = std::llround(std::nearbyint(static_cast<double>(radius)));
  if (size >= 2) {
    if (size % 2 == 0) ++size;
    const std::int64_t half = size / 2;
    v = NaivePass(v, half, size);
    std::vector<std::int64_t> t(n);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) t[static_cast<std::size_t>(x) * h + y] = v[static_cast<std::size_t>(y) * w + x];
    t = NaivePass(t, half, size);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) v[static_cast<std::size_t>(y) * w + x] = t[static_cast<std::size_t>(x) * h + y];
  }
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::int64_t a = v[i] > 255 ? std::min<std::int64_t>(v[i], 65280) >> 8 : 0;
    out[i] = static_cast<std::uint8_t>(std::max<std::int64_t>(0, 2 * a - 255));
  }
  return out;
}

std::vector<std::uint8_t> Bytes(const TByteMap& m) {
  return {m.Bits(), m.Bits() + static_cast<std::size_t>(m.Width()) * m.Height()};
}

std::unique_ptr<TByteMap> Map(int w, int h, std::uint8_t fill = 0) {
  auto m = std::make_unique<TByteMap>();
  m->SetSize(w, h);
  m->Clear(fill);
  return m;
}

bool Inside(const std::vector<P>& poly, P p) {
  return testing::InsideEvenOdd(std::vector<std::vector<P>>{poly}, p.X, p.Y);
}

double Distance(const std::vector<P>& poly, P p) {
  double d = 1e18;
  for (std::size_t i = 0; i < poly.size(); ++i)
    d = std::min(d, testing::SegmentDistance(p, poly[i], poly[(i + 1) % poly.size()]));
  return d;
}

// The mask's one point line placed in the frame as Render places it.
std::vector<P> Placed(const TdtpPolygonMask& m, const TRect& frame) {
  const double w = frame.Right - frame.Left, h = frame.Bottom - frame.Top;
  std::vector<P> out;
  for (const TFloatPoint& p : m.Points().at(0))
    out.push_back({w * m.Width() * p.X + frame.Left + w * m.Left(), h * m.Height() * p.Y + frame.Top + h * m.Top()});
  return out;
}

class Masks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitializeDocumentLibrary();
    testing::RegisterRenderTestClasses();
  }
  // The effect with one mask, applied over a map.
  template <class Mask>
  static Mask& Add(TdtpMaskEffect& effect, std::unique_ptr<Mask> mask) {
    Mask& ref = *mask;
    effect.AddMask(std::move(mask));
    return ref;
  }
};

// ---- Feather -------------------------------------------------------------------------

TEST_F(Masks, FeatherIsTheDoubledContrastOfTheBoxBlur) {
  struct Case {
    int MapW, MapH;
    TRect Frame;
    float Feather;
  };
  for (const Case& c : {Case{70, 60, {15, 12, 55, 42}, 0.05f}, Case{70, 60, {15, 12, 55, 42}, 0.1f},
                        Case{70, 60, {15, 12, 55, 42}, 0.2f}, Case{33, 47, {3, 5, 30, 40}, 0.14f},
                        Case{24, 20, {2, 2, 22, 18}, 1.5f}}) {
    auto alpha = Map(c.MapW, c.MapH);
    for (int y = c.Frame.Top; y < c.Frame.Bottom; ++y)
      for (int x = c.Frame.Left; x < c.Frame.Right; ++x) alpha->SetValue(x, y, 255);
    const auto before = Bytes(*alpha);
    TdtpMaskEffect effect;
    auto& mask = Add(effect, std::make_unique<TdtpFeatherMask>());
    mask.SetFeather(c.Feather);
    effect.ApplyMasks(*alpha, c.Frame);
    const float radius = c.Feather * static_cast<float>(std::max(c.Frame.Right - c.Frame.Left, c.Frame.Bottom - c.Frame.Top));
    EXPECT_EQ(Bytes(*alpha), NaiveFeather(before, c.MapW, c.MapH, radius)) << "feather " << c.Feather;
  }
}

TEST_F(Masks, ANanFeatherBlursNothing) {
  // A feather read from a damaged file: only the contrast step is left.
  auto alpha = Map(30, 20);
  for (int y = 4; y < 16; ++y)
    for (int x = 5; x < 25; ++x) alpha->SetValue(x, y, static_cast<std::uint8_t>(x * 10));
  const auto before = Bytes(*alpha);
  TdtpMaskEffect effect;
  auto& mask = Add(effect, std::make_unique<TdtpFeatherMask>());
  mask.SetFeather(std::numeric_limits<float>::quiet_NaN());
  effect.ApplyMasks(*alpha, {5, 4, 25, 16});
  EXPECT_EQ(Bytes(*alpha), NaiveFeather(before, 30, 20, 0));
}

TEST_F(Masks, FeatherContrastStepAndFlip) {
  // Without blur the step alone shows: 255 stays, 200 -> 145, 128 -> 1,
  // 127 and below -> 0.
  const std::uint8_t in[] = {255, 200, 128, 127, 60, 0};
  const std::uint8_t want[] = {255, 145, 1, 0, 0, 0};
  for (bool flip : {false, true}) {
    auto alpha = Map(6, 1);
    for (int i = 0; i < 6; ++i) alpha->SetValue(i, 0, in[i]);
    TdtpMaskEffect effect;
    auto& mask = Add(effect, std::make_unique<TdtpFeatherMask>());
    mask.SetFeather(0);
    mask.SetFlipAlphaChannel(flip);
    effect.ApplyMasks(*alpha, {0, 0, 6, 1});
    for (int i = 0; i < 6; ++i) EXPECT_EQ(alpha->Value(i, 0), flip ? 255 - want[i] : want[i]) << i;
  }
}

// The feather folds itself into the alpha a row at a time; rows the blur
// still reads must not be overwritten, and the columns that run on into
// the next (the top rows read the bottom ones a column over) must see the
// alpha as it was. Grainy alpha up to the edges, narrow maps whose rows
// run on over several rows, every operation and the flip, and a feather
// that follows another mask, all against the blur summed by definition.
TEST_F(Masks, FeatherFoldedRowByRowMatchesTheWholeMapBlur) {
  // The operations by their formulas.
  auto fold = [](int x, int y, int op) {
    switch (op) {
      case 0: return x * y / 255;
      case 1: return std::min(255, x + y);
      case 2: return std::max(0, x - y);
      case 3: return y;
      case 4: return std::max(x, y);
      case 5: return std::min(x, y);
      case 6: return std::abs(x - y);
      default: return 255 - (255 - x) * (255 - y) / 255;
    }
  };
  struct Case {
    int W, H;
    float Feather;
  };
  std::uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int>((seed >> 16) & 0xFF);
  };
  for (const Case& c : {Case{64, 80, 0.1f}, Case{3, 90, 0.1f}, Case{1, 40, 0.2f}, Case{97, 41, 0.05f},
                        Case{50, 200, 0.02f}}) {
    for (int op = 0; op < 8; ++op) {
      for (bool flip : {false, true}) {
        auto alpha = Map(c.W, c.H);
        // Opaque in the middle, grain everywhere, edge rows and columns set.
        for (int y = 0; y < c.H; ++y)
          for (int x = 0; x < c.W; ++x) {
            const bool middle = y > c.H / 4 && y < 3 * c.H / 4 && x >= c.W / 4 && x <= 3 * c.W / 4;
            alpha->SetValue(x, y, static_cast<std::uint8_t>(middle ? 255 - next() / 8 : next()));
          }
        const auto before = Bytes(*alpha);
        const TRect frame{0, 0, c.W, c.H};
        TdtpMaskEffect effect;
        auto& mask = Add(effect, std::make_unique<TdtpFeatherMask>());
        mask.SetFeather(c.Feather);
        mask.SetOperation(static_cast<std::uint8_t>(op));
        mask.SetFlipAlphaChannel(flip);
        effect.ApplyMasks(*alpha, frame);
        const float radius = c.Feather * static_cast<float>(std::max(c.W, c.H));
        auto want = NaiveFeather(before, c.W, c.H, radius);
        for (std::size_t i = 0; i < want.size(); ++i) {
          const int m = flip ? 255 - want[i] : want[i];
          want[i] = static_cast<std::uint8_t>(fold(before[i], m, op));
        }
        ASSERT_EQ(Bytes(*alpha), want) << c.W << " x " << c.H << " op " << op << " flip " << flip;
      }
    }
  }

  // A feather after a polygon blurs what the polygon left.
  auto alpha = Map(60, 60, 255);
  TdtpMaskEffect effect;
  auto& polygon = Add(effect, std::make_unique<TdtpPolygonMask>());
  polygon.SetOperation(0);
  auto& feather = Add(effect, std::make_unique<TdtpFeatherMask>());
  feather.SetFeather(0.1f);
  feather.SetEnabled(false);
  effect.ApplyMasks(*alpha, {0, 0, 60, 60});
  const auto polygonOnly = Bytes(*alpha);
  auto again = Map(60, 60, 255);
  feather.SetEnabled(true);
  effect.ApplyMasks(*again, {0, 0, 60, 60});
  EXPECT_EQ(Bytes(*again), NaiveFeather(polygonOnly, 60, 60, 6));
}

// Through a shape's cache: the margins the feather asks for hold the blur,
// and the result is the blur of the alpha the shape drew.
TEST_F(Masks, FeatherInTheCacheOfAShape) {
  for (float feather : {0.05f, 0.1f}) {
    RectShape shape;
    shape.SetDocBounds(0, 0, 20, 15);
    shape.SetForceCache(true);
    auto owned = std::make_unique<TdtpMaskEffect>();
    TdtpMaskEffect& effect = *owned;
    shape.AddEffect(std::move(owned));
    const float plain = shape.MarginLeft();
    auto& mask = Add(effect, std::make_unique<TdtpFeatherMask>());
    mask.SetFeather(feather);
    EXPECT_FLOAT_EQ(shape.MarginLeft(), plain + 20 * feather * 1.5f);

    TdtpPaintInfo info;
    info.Device = dtPrinter;
    info.Scale = info.RenderScale = 4;
    mask.SetEnabled(false);
    ASSERT_TRUE(shape.PrepareCache(info));
    TByteMap drawn;
    drawn.ReadFrom(*shape.Cache(), bcAlpha);
    mask.SetEnabled(true);
    ASSERT_TRUE(shape.PrepareCache(info));
    TByteMap masked;
    masked.ReadFrom(*shape.Cache(), bcAlpha);
    const float radius = feather * 80;  // the frame is 80 x 60 pixels
    EXPECT_EQ(Bytes(masked), NaiveFeather(Bytes(drawn), drawn.Width(), drawn.Height(), radius));
    // The blur reaches into the margins without touching the cache's edge.
    EXPECT_GT(drawn.Width(), 80 + 2 * static_cast<int>(radius));
  }
  // Without a shape there is nothing to grow.
  TdtpFeatherMask loose;
  float l = 1, t = 2, r = 3, b = 4;
  loose.AdjustMargins(l, t, r, b);
  EXPECT_TRUE(l == 1 && t == 2 && r == 3 && b == 4);
}

// ---- Polygon -------------------------------------------------------------------------

TEST_F(Masks, PredefinedShapesCoverTheirExactArea) {
  for (const TRect frame : {TRect{7, 5, 107, 105}, TRect{7, 5, 307, 205}}) {
    const int mapW = frame.Right + 7, mapH = frame.Bottom + 5;
    for (std::uint8_t kind : {0, 1, 2}) {
      auto alpha = Map(mapW, mapH, 255);
      TdtpMaskEffect effect;
      auto& mask = Add(effect, std::make_unique<TdtpPolygonMask>());
      mask.SetShape(kind);
      mask.SetOperation(3);
      effect.ApplyMasks(*alpha, frame);
      const std::vector<P> poly = Placed(mask, frame);
      const double w = frame.Right - frame.Left, h = frame.Bottom - frame.Top;
      const double area = testing::PolygonArea(poly);
      if (kind == 0) {
        // The regular 64-gon of the quarter arcs.
        EXPECT_EQ(poly.size(), 64u);
        EXPECT_NEAR(area, 8 * std::sin(std::numbers::pi / 32) * w * h, 1e-4 * w * h);
      }
      double sum = 0;
      int wrong = 0;
      for (int y = 0; y < mapH; ++y)
        for (int x = 0; x < mapW; ++x) {
          const int v = alpha->Value(x, y);
          sum += v;
          const P c{x + 0.5, y + 0.5};
          if (Distance(poly, c) <= 1.5) continue;
          const int want = Inside(poly, c) ? 255 : 0;
          if (v != want && wrong++ < 5) ADD_FAILURE() << "shape " << int(kind) << " pixel " << x << "," << y << " is " << v;
        }
      // Coverage on an 8 x 8 grid per pixel: the perimeter's pixels carry
      // at most 1/64 of error each.
      const double perimeter = testing::Perimeter(poly);
      EXPECT_NEAR(sum / 255, area, perimeter / 64 + 1) << "shape " << int(kind) << " frame " << w << "x" << h;
      // The frame's corners are outside every shape, its centre inside.
      EXPECT_EQ(alpha->Value(frame.Left, frame.Top), 0);
      EXPECT_EQ(alpha->Value(frame.Right - 1, frame.Bottom - 1), 0);
      EXPECT_EQ(alpha->Value((frame.Left + frame.Right) / 2, (frame.Top + frame.Bottom) / 2), 255);
      EXPECT_EQ(alpha->Value(0, 0), 0);
    }
  }
}

TEST_F(Masks, PolygonWidthIsASizeBitmapWidthAnEdge) {
  // Left 0.25, Width 0.75: the polygon reaches the frame's right edge, the
  // image stops at three quarters.
  auto polygonMap = Map(120, 40, 255), bitmapMap = Map(120, 40, 255);
  const TRect frame{10, 0, 110, 40};
  TdtpMaskEffect polygonEffect, bitmapEffect;
  auto& polygon = Add(polygonEffect, std::make_unique<TdtpPolygonMask>());
  polygon.SetStyle(0);
  for (auto [x, y] : {std::pair{0.f, 0.f}, {1.f, 0.f}, {1.f, 1.f}, {0.f, 1.f}}) polygon.AddPoint(x, y);
  polygon.SetLeft(0.25f);
  polygon.SetWidth(0.75f);
  polygon.SetOperation(3);
  polygonEffect.ApplyMasks(*polygonMap, frame);

  auto& bitmap = Add(bitmapEffect, std::make_unique<TdtpBitmapMask>());
  TBitmap32 white;
  white.SetSize(2, 2);
  white.Clear(0xFFFFFFFFu);
  bitmap.Image().SetBitmap(&white);
  bitmap.SetLeft(0.25f);
  bitmap.SetWidth(0.75f);
  bitmap.SetOperation(3);
  bitmapEffect.ApplyMasks(*bitmapMap, frame);

  for (int x = 0; x < 120; ++x) {
    EXPECT_EQ(polygonMap->Value(x, 20), x >= 35 && x < 110 ? 255 : 0) << x;
    EXPECT_EQ(bitmapMap->Value(x, 20), x >= 35 && x < 85 ? 255 : 0) << x;
  }
}

TEST_F(Masks, PointsGivenByHandAreFilledWhereTheyLie) {
  const TRect frame{4, 6, 84, 66};
  auto alpha = Map(90, 70, 255);
  TdtpMaskEffect effect;
  auto& mask = Add(effect, std::make_unique<TdtpPolygonMask>());
  mask.SetStyle(0);
  mask.StartLine();
  mask.AddPoint(0.1f, 0.1f);
  mask.AddPoint(0.9f, 0.25f);
  mask.AddPoint(0.4f, 0.95f);
  mask.SetOperation(3);
  effect.ApplyMasks(*alpha, frame);
  ASSERT_EQ(mask.Points().size(), 1u);  // the render built nothing over them
  const std::vector<P> poly = Placed(mask, frame);
  const std::vector<double> exact = testing::CoverageOf(std::vector<std::vector<P>>{poly}, 90, 70);
  // The rasteriser's per-pixel tolerance at 8 x 8 sub-samples, as its own
  // tests hold it against FreeType's renderer.
  const double tolerance = 2 * 255.0 / 7 + 2;
  for (int y = 0; y < 70; ++y)
    for (int x = 0; x < 90; ++x)
      ASSERT_NEAR(alpha->Value(x, y), 255 * exact[static_cast<std::size_t>(y) * 90 + x], tolerance)
          << x << "," << y;

  // Other styles leave the mask without points: all clear.
  mask.SetStyle(1);
  auto again = Map(90, 70, 255);
  effect.ApplyMasks(*again, frame);
  EXPECT_TRUE(mask.Points().empty());
  EXPECT_EQ(*std::max_element(again->Bits(), again->Bits() + 90 * 70), 0);
}

TEST_F(Masks, NormalizeToUnitSquare) {
  TArrayOfArrayOfFloatPoint lines{{{2, 5}, {4, 5}}, {{3, 5}}};
  NormalizeToUnitSquare(lines);
  EXPECT_EQ(lines[0][0].X, 0);
  EXPECT_EQ(lines[0][1].X, 1);
  EXPECT_EQ(lines[1][0].X, 0.5f);
  // No extent in y: every point at 0 instead of a division by zero.
  EXPECT_EQ(lines[0][0].Y, 0);
  EXPECT_EQ(lines[1][0].Y, 0);
  TArrayOfArrayOfFloatPoint none;
  NormalizeToUnitSquare(none);
}

// ---- Bitmap --------------------------------------------------------------------------

class BitmapMasks : public Masks {
 protected:
  // The map of a bitmap mask over a 10 x 10 frame at the origin of a 12 x 12
  // map that starts opaque, with operation 3.
  static std::unique_ptr<TByteMap> Render(TdtpBitmapMask& mask) {
    auto alpha = Map(12, 12, 255);
    mask.SetOperation(3);
    TdtpMaskEffect& effect = *mask.Owner();
    effect.ApplyMasks(*alpha, {0, 0, 10, 10});
    return alpha;
  }
  TdtpBitmapMask& NewMask() {
    return Add(effect_, std::make_unique<TdtpBitmapMask>());
  }
  TdtpMaskEffect effect_;
};

TEST_F(BitmapMasks, SolidImageGivesItsBrightnessOnTheTargetRectangle) {
  TBitmap32 solid;
  solid.SetSize(5, 3);
  solid.Clear(0xFF1E3C5Au);  // (30, 60, 90)
  for (bool outsideClear : {false, true}) {
    TdtpMaskEffect effect;
    auto& mask = Add(effect, std::make_unique<TdtpBitmapMask>());
    mask.Image().SetBitmap(&solid);
    mask.SetLeft(0.25f);
    mask.SetTop(0.25f);
    mask.SetWidth(0.75f);
    mask.SetHeight(0.75f);
    mask.SetOutsideIsTransparent(outsideClear);
    const auto m = Render(mask);
    // 2.5 and 7.5 round to the even 2 and 8.
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 12; ++x) {
        const bool in = x >= 2 && x < 8 && y >= 2 && y < 8;
        ASSERT_EQ(m->Value(x, y), in ? 60 : (outsideClear ? 255 : 0)) << x << "," << y;
      }
  }
}

TEST_F(BitmapMasks, QuarterTurnsPlaceTheImage) {
  // Black left, white right.
  TBitmap32 pair;
  pair.SetSize(2, 1);
  pair.SetPixel(0, 0, 0xFF000000u);
  pair.SetPixel(1, 0, 0xFFFFFFFFu);
  auto& mask = NewMask();
  mask.Image().SetBitmap(&pair);
  // Where white lies: the far ends of each side.
  struct Turn {
    std::uint8_t Rotation;
    int WhiteX, WhiteY, BlackX, BlackY;
  };
  for (const Turn& t : {Turn{0, 9, 5, 0, 5}, Turn{1, 5, 0, 5, 9}, Turn{2, 0, 5, 9, 5}, Turn{3, 5, 9, 5, 0},
                        Turn{4, 9, 5, 0, 5}, Turn{255, 9, 5, 0, 5}}) {
    mask.SetRotation(t.Rotation);
    const auto m = Render(mask);
    EXPECT_EQ(m->Value(t.WhiteX, t.WhiteY), 255) << "rotation " << int(t.Rotation);
    EXPECT_EQ(m->Value(t.BlackX, t.BlackY), 0) << "rotation " << int(t.Rotation);
  }
}

TEST_F(BitmapMasks, NoImageOrOneThatDoesNotDecode) {
  auto& mask = NewMask();
  for (bool flip : {false, true}) {
    mask.SetFlipAlphaChannel(flip);
    const auto m = Render(mask);
    EXPECT_EQ(m->Value(5, 5), flip ? 255 : 0);
    EXPECT_EQ(m->Value(11, 11), flip ? 255 : 0);
  }
  // Bytes that are no image: the paint goes on as without one, and the
  // resource remembers why.
  TBrenlowXml xml;
  xml.ReadFromString(
      "<Image><Data><Size>8</Size><Filter>Base64</Filter><Buffer>AQIDBAUGBwg=</Buffer></Data>"
      "<FileName>broken.png</FileName><Storage>Embedded</Storage></Image>");
  mask.Image().LoadFromXml(*xml.Root());
  for (bool flip : {false, true}) {
    mask.SetFlipAlphaChannel(flip);
    std::unique_ptr<TByteMap> m;
    ASSERT_NO_THROW(m = Render(mask));
    EXPECT_EQ(m->Value(5, 5), flip ? 255 : 0);
  }
  EXPECT_FALSE(mask.Image().ErrorMessage().empty());
}

TEST_F(BitmapMasks, ValuesFromFilesStretchNothingOrStayInRange) {
  TBitmap32 white;
  white.SetSize(3, 3);
  white.Clear(0xFFFFFFFFu);
  auto& mask = NewMask();
  mask.Image().SetBitmap(&white);
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  for (float v : {inf, -inf, nan, 3e38f, -3e38f}) {
    mask.SetLeft(v);
    const auto m = Render(mask);
    // An inverted, empty or far-off rectangle leaves the outside colour.
    EXPECT_EQ(m->Value(5, 5), v == -inf || v == -3e38f ? 255 : 0) << v;
    mask.SetLeft(0);
  }
  // An operation outside the table leaves the alpha alone.
  mask.SetOperation(200);
  auto alpha = Map(12, 12, 77);
  effect_.ApplyMasks(*alpha, {0, 0, 10, 10});
  EXPECT_EQ(alpha->Value(5, 5), 77);
}

// ---- The whole chain ------------------------------------------------------------------

TEST_F(Masks, TurnedShapeUnderAnEllipseKeepsTheEllipsesArea) {
  RectShape shape;
  shape.Color = 0xFF204080u;
  shape.SetDocBounds(10, 12, 20, 12);
  shape.SetDocAngle(30);
  auto owned = std::make_unique<TdtpMaskEffect>();
  TdtpMaskEffect& effect = *owned;
  shape.AddEffect(std::move(owned));
  auto& mask = Add(effect, std::make_unique<TdtpPolygonMask>());
  mask.SetOperation(0);

  constexpr float kScale = 10;
  TBitmap32 target;
  target.SetSize(400, 400);
  target.Clear(0);
  TdtpPaintInfo info;
  info.Device = dtPrinter;
  info.Scale = info.RenderScale = kScale;
  shape.Paint(target, {0, 0, 40, 40}, false, info);

  // The regular 64-gon over the 200 x 120 pixel frame.
  const double ellipse = 8 * std::sin(std::numbers::pi / 32) * 200 * 120;
  const std::vector<P> poly = Placed(mask, {0, 0, 200, 120});
  ASSERT_NEAR(testing::PolygonArea(poly), ellipse, 1e-3 * ellipse);
  // In the cache, exact up to the fill's sub-samples.
  const TBitmap32& cache = *shape.Cache();
  double cacheSum = 0;
  for (int i = 0; i < cache.Width() * cache.Height(); ++i) cacheSum += cache.Bits()[i] >> 24;
  EXPECT_NEAR(cacheSum / 255, ellipse, testing::Perimeter(poly) / 64 + 1);
  // On the page the sampler spreads it without changing the total much.
  double sum = 0;
  for (int i = 0; i < 400 * 400; ++i) sum += target.Bits()[i] >> 24;
  EXPECT_NEAR(sum / 255, ellipse, 0.005 * ellipse);
  // The centre of the frame is covered, its corners not.
  const double a = 30 * std::numbers::pi / 180;
  auto page = [&](double x, double y) {
    return P{(x * std::cos(a) + y * std::sin(a) + 10) * kScale, (-x * std::sin(a) + y * std::cos(a) + 12) * kScale};
  };
  const P centre = page(10, 6), corner = page(0.5, 0.5);
  EXPECT_EQ(target.GetPixel(static_cast<int>(centre.X), static_cast<int>(centre.Y)) >> 24, 255u);
  EXPECT_EQ(target.GetPixel(static_cast<int>(corner.X), static_cast<int>(corner.Y)) >> 24, 0u);
}

TEST_F(Masks, MasksCombineInListOrder) {
  // An inverted empty mask (255) replacing, then a square subtracted from
  // its left half; the other order leaves everything opaque.
  for (bool squareFirst : {false, true}) {
    auto alpha = Map(20, 10, 100);
    TdtpMaskEffect effect;
    auto full = std::make_unique<TdtpMask>();
    full->SetFlipAlphaChannel(true);
    full->SetOperation(3);
    auto square = std::make_unique<TdtpPolygonMask>();
    square->SetStyle(0);
    for (auto [x, y] : {std::pair{0.f, 0.f}, {0.5f, 0.f}, {0.5f, 1.f}, {0.f, 1.f}}) square->AddPoint(x, y);
    square->SetOperation(2);
    if (squareFirst) {
      effect.AddMask(std::move(square));
      effect.AddMask(std::move(full));
    } else {
      effect.AddMask(std::move(full));
      effect.AddMask(std::move(square));
    }
    effect.ApplyMasks(*alpha, {0, 0, 20, 10});
    EXPECT_EQ(alpha->Value(3, 5), squareFirst ? 255 : 0);
    EXPECT_EQ(alpha->Value(15, 5), 255);
  }
}

// The crop dialog's use: a map of 255 over the whole band; with operation 0
// or 3 the result is the mask's own map.
TEST_F(Masks, ApplyMasksOnAnOpaqueBandGivesTheMasksOwnMap) {
  for (std::uint8_t op : {0, 3}) {
    TdtpMaskEffect effect;
    auto& mask = Add(effect, std::make_unique<TdtpPolygonMask>());
    mask.SetShape(2);
    mask.SetLeft(0.1f);
    mask.SetWidth(0.8f);
    mask.SetOperation(op);
    auto alpha = Map(64, 48, 255);
    effect.ApplyMasks(*alpha, {0, 0, 64, 48});
    auto own = Map(64, 48, 0);
    mask.Render(*own, *own, {0, 0, 64, 48});
    EXPECT_EQ(Bytes(*alpha), Bytes(*own)) << int(op);
    EXPECT_GT(*std::max_element(own->Bits(), own->Bits() + 64 * 48), 200);
  }
}

}  // namespace
}  // namespace kdl
