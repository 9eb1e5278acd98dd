// Outlines and metrics against the font files, read independently through
// FreeType: areas against the exact quadratic outline, fills against
// FreeType's own unhinted rendering.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdlib>
#include <algorithm>
#include <string>

#include "document/text/FontManager.h"
#include "document/text/FontRenderer.h"
#include "raster/Bitmap32.h"
#include "support/OutlineArea.h"

namespace kdl {
namespace {

// Signed area (shoelace), perimeter and point count of a polygon, in the
// units of its coordinates.
struct Measures {
  double Area = 0, Perimeter = 0;
  std::size_t Points = 0;
};

Measures Measure(const TPolygon32& p) {
  Measures m;
  for (const auto& line : p.Contours())
    for (std::size_t i = 0; i < line.size(); ++i, ++m.Points) {
      const double ax = line[i].X / 65536.0, ay = line[i].Y / 65536.0;
      const double bx = line[(i + 1) % line.size()].X / 65536.0, by = line[(i + 1) % line.size()].Y / 65536.0;
      m.Area += (ax * by - bx * ay) / 2;
      m.Perimeter += std::hypot(ax - bx, ay - by);
    }
  return m;
}

TNativePoint U(double x, double y) {  // font units to 16.16
  return {static_cast<std::int32_t>(x * 65536), static_cast<std::int32_t>(y * 65536)};
}

TEST(FontOutline, NativeRecordsFollowTheConversionRules) {
  TNativeGlyph g;
  // A line with a repeated point, then a quarter-circle-like spline whose
  // halves are short enough to stop after one subdivision.
  g.Polygons.push_back({U(0, 0), {{nctLine, {U(0, 0), U(10, 0)}}, {nctQSpline, {U(10, 10), U(0, 10)}}}});
  // Raw 16.16 values with odd negative sums: midpoints truncate towards zero.
  g.Polygons.push_back({{0, 0},
                        {{static_cast<TNativeCurveType>(3), {{99, 99}}},
                         {nctQSpline, {{-3, 7}, {0, 7}, {5, 0}}}}});
  // Already closed: no extra point.
  g.Polygons.push_back({U(1, 1), {{nctLine, {U(2, 1), U(1, 2), U(1, 1)}}}});
  TPolygon32 p;
  OutlineToPolygon(g, p);
  const auto f = [](double x, double y) { return TFixedPoint{U(x, y).X, U(x, y).Y}; };
  ASSERT_EQ(p.Contours().size(), 3u);
  EXPECT_EQ(p.Contours()[0], (TArrayOfFixedPoint{f(0, 0), f(10, 0), f(10, -5), f(7.5, -7.5),
                                                  f(5, -10), f(0, -10), f(0, 0)}));
  EXPECT_EQ(p.Contours()[1], (TArrayOfFixedPoint{{0, 0}, {-1, -3}, {-1, -5}, {-2, -7}, {-1, -7},
                                                  {0, -7}, {1, -5}, {2, -3}, {5, 0}, {0, 0}}));
  EXPECT_EQ(p.Contours()[2], (TArrayOfFixedPoint{f(1, -1), f(2, -1), f(1, -2), f(1, -1)}));
}

TEST(FontOutline, FlatteningStaysWithinTheTolerance) {
  // A wide quadratic; every point added lies within a quarter of the
  // 20-unit control legs of the true curve, and the pieces are short.
  const double bx = 0, by = 0, ax = 800, ay = -30, cx = 500, cy = 900;
  TPolygon32 p;
  p.AddPoint({0, 0});
  FlattenQuadratic(p, {0, 0}, {U(ax, ay).X, U(ax, ay).Y}, {U(cx, cy).X, U(cx, cy).Y});
  const auto& pts = p.Contours()[0];
  ASSERT_GT(pts.size(), 40u);
  EXPECT_EQ(pts.back(), (TFixedPoint{U(cx, cy).X, U(cx, cy).Y}));
  for (const auto& q : pts) {
    double best = 1e9;
    for (int i = 0; i <= 20000; ++i) {
      const double t = i / 20000.0, u = 1 - t;
      const double x = u * u * bx + 2 * u * t * ax + t * t * cx;
      const double y = u * u * by + 2 * u * t * ay + t * t * cy;
      best = std::min(best, std::hypot(q.X / 65536.0 - x, q.Y / 65536.0 - y));
    }
    EXPECT_LE(best, 5.0);
  }
  for (std::size_t i = 1; i < pts.size(); ++i)
    EXPECT_LE(std::abs(pts[i].X - pts[i - 1].X) + std::abs(pts[i].Y - pts[i - 1].Y), 20 * 65536);
}

const char* const kFamilies[] = {"Liberation Sans", "Liberation Serif", "DejaVu Sans"};

TEST(FontOutline, SignedAreaMatchesTheExactQuadraticOutline) {
  TdtpFontManager manager;
  for (const char* family : kFamilies) {
    TdtpFont* font = manager.AcquireFont(family, 0, nullptr);
    ASSERT_TRUE(font) << manager.LastError();
    for (char16_t c = 33; c < 127; ++c) {
      TdtpGlyph* g = font->GetGlyph(c);
      ASSERT_TRUE(g->Outline) << family << " " << char(c);
      TNativeGlyph native;
      ASSERT_TRUE(font->Handle()->GetGlyph(c, native));
      // y is flipped, so the sign turns; each flattened piece replaces a
      // curve by its control polygon (legs of at most 20 units in all),
      // which differs from it by a third of a triangle of at most 50 units².
      const double exact = -test::ExactArea(native);
      const Measures m = Measure(*g->Outline);
      const double ours = m.Area;
      const double bound = 50.0 / 3 * m.Points / 2 + 1;
      EXPECT_NEAR(ours, exact, bound) << family << " '" << char(c) << "'";
      EXPECT_EQ(g->Orientation(), ours > 0 ? 1 : 2);
      // Every contour is closed explicitly and lies in the ink box (y down).
      for (const auto& line : g->Outline->Contours()) {
        ASSERT_GE(line.size(), 3u);
        EXPECT_EQ(line.front(), line.back()) << family << " '" << char(c) << "'";
        for (const auto& p : line) {
          EXPECT_GE(p.X, (g->OriginX - 1) * 65536);
          EXPECT_LE(p.X, (g->OriginX + g->BlackBoxX + 1) * 65536);
          EXPECT_GE(p.Y, (-g->OriginY - 1) * 65536);
          EXPECT_LE(p.Y, (g->BlackBoxY - g->OriginY + 1) * 65536);
        }
      }
    }
  }
}

// Our outline filled by the polygon rasteriser against FreeType's unhinted
// anti-aliased rendering of the same glyph.
TEST(FontOutline, FilledOutlineMatchesFreeTypeRendering) {
  FT_Library lib;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  TdtpFontManager manager;
  for (const char* family : kFamilies) {
    TdtpFont* font = manager.AcquireFont(family, 0, nullptr);
    ASSERT_TRUE(font);
    FT_Face ft;
    ASSERT_EQ(FT_New_Face(lib, font->Handle()->FileName().c_str(), 0, &ft), 0);
    for (const int ppem : {64, 128}) {
      ASSERT_EQ(FT_Set_Pixel_Sizes(ft, ppem, ppem), 0);
      // The flattened outline strays at most a quarter of the 20-unit
      // control legs from the curve; the 16x16 sub-samples add 1/16 pixel.
      const double strayPx = 5.0 * ppem / 1000 + 1.0 / 16;
      const int size = 2 * ppem;
      const int ox = ppem / 2, oy = ppem * 3 / 2;
      for (char16_t c = 33; c < 127; ++c) {
        TBitmap32 bmp;
        bmp.SetSize(size, size);
        bmp.Clear(0xFF000000u);
        TPolygon32 poly;
        poly.SetUseAntialiasing(true);
        poly.SetSubsampleMode(sm16);
        poly.SetFillRule(frNonZero);
        TdtpFontRenderer r(font);
        r.SetSize(1);
        const std::u16string text(1, c);
        r.TextToPolygon(text, poly, ppem, ox, oy);
        poly.Fill(bmp, 0xFFFFFFFFu);

        ASSERT_EQ(FT_Load_Char(ft, c, FT_LOAD_RENDER | FT_LOAD_NO_HINTING), 0);
        const FT_Bitmap& fb = ft->glyph->bitmap;
        const int left = ox + ft->glyph->bitmap_left, top = oy - ft->glyph->bitmap_top;
        ASSERT_TRUE(left >= 0 && top >= 0 && left + int(fb.width) <= size &&
                    top + int(fb.rows) <= size);
        double diff = 0, ink = 0, worst = 0;
        for (int y = 0; y < size; ++y)
          for (int x = 0; x < size; ++x) {
            const int fx = x - left, fy = y - top;
            const double theirs =
                fx >= 0 && fy >= 0 && fx < int(fb.width) && fy < int(fb.rows)
                    ? fb.buffer[fy * fb.pitch + fx] / 255.0
                    : 0.0;
            const double ours = (bmp.GetPixel(x, y) & 0xFF) / 255.0;
            diff += std::abs(ours - theirs);
            ink += theirs;
            worst = std::max(worst, std::abs(ours - theirs));
          }
        // Two regions whose boundaries lie within d of each other differ by
        // at most the perimeter times d.
        const double perimeterPx = Measure(*font->GetGlyph(c)->Outline).Perimeter * ppem / 1000;
        EXPECT_LE(diff, perimeterPx * strayPx)
            << family << " '" << char(c) << "' at " << ppem << " px/em, ink " << ink;
        // A pixel's coverage moves by at most its edge length times d.
        EXPECT_LE(worst, std::min(1.0, std::sqrt(2.0) * strayPx + 1.0 / 16))
            << family << " '" << char(c) << "' at " << ppem;
      }
    }
    FT_Done_Face(ft);
  }
  FT_Done_FreeType(lib);
}

TEST(FontOutline, MetricsComeFromTheFontFile) {
  TdtpFontManager manager;
  TdtpFont* font = manager.AcquireFont("Liberation Sans", 0, nullptr);
  ASSERT_TRUE(font);
  EXPECT_EQ(font->Ascent(), 905);
  EXPECT_EQ(font->Descent(), 212);
  EXPECT_EQ(font->GetGlyph(u'W')->AdvanceX, 944);
  EXPECT_EQ(font->GetGlyph(u'A')->AdvanceX, 667);
  TdtpGlyph* space = font->GetGlyph(u' ');
  EXPECT_EQ(space->AdvanceX, 278);
  EXPECT_FALSE(space->Outline);
  EXPECT_EQ(space->Orientation(), 0);
  // "j" hangs left of its pen position.
  TdtpGlyph* j = font->GetGlyph(u'j');
  EXPECT_LT(j->OriginX, 0);
  EXPECT_GT(j->BlackBoxX, 0);
  EXPECT_EQ(j->AdvanceX, j->AdvanceX2);
  double minX = 0;
  for (const auto& line : j->Outline->Contours())
    for (const auto& p : line) minX = std::min(minX, p.X / 65536.0);
  EXPECT_NEAR(minX, j->OriginX, 1.0);
  EXPECT_DOUBLE_EQ(font->LineHeight(10), 11.17);
}

}  // namespace
}  // namespace kdl
