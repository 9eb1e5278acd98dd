#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>

#include "platform/qt/GlyphOutlines.h"

namespace kdl {
namespace {

// Signed area (y up, counter-clockwise positive) of the records, exact for
// the quadratic pieces, in em-1000 units squared.
double ExactArea(const TNativeGlyph& g) {
  double area2 = 0;  // twice the area
  auto cross = [](double ax, double ay, double bx, double by) { return ax * by - bx * ay; };
  for (const auto& poly : g.Polygons) {
    double cx = poly.Start.X / 65536.0, cy = poly.Start.Y / 65536.0;
    for (const auto& curve : poly.Curves) {
      if (curve.Type == nctLine) {
        for (const auto& p : curve.Points) {
          const double x = p.X / 65536.0, y = p.Y / 65536.0;
          area2 += cross(cx, cy, x, y);
          cx = x, cy = y;
        }
      } else {
        const auto& pts = curve.Points;
        for (std::size_t i = 0; i + 1 < pts.size(); ++i) {
          const double ax = pts[i].X / 65536.0, ay = pts[i].Y / 65536.0;
          double ex = pts[i + 1].X / 65536.0, ey = pts[i + 1].Y / 65536.0;
          if (i + 2 < pts.size()) ex = (ax + ex) / 2, ey = (ay + ey) / 2;  // implied on point
          area2 += (2 * cross(cx, cy, ax, ay) + 2 * cross(ax, ay, ex, ey) + cross(cx, cy, ex, ey)) / 3;
          cx = ex, cy = ey;
        }
      }
    }
    area2 += cross(cx, cy, poly.Start.X / 65536.0, poly.Start.Y / 65536.0);
  }
  return area2 / 2;
}

TEST(GlyphOutlines, CoreNamesResolveToMetricCompatibleFaces) {
  std::string error;
  auto arial = TOutlineFace::Open("Arial", false, false, &error);
  ASSERT_TRUE(arial) << error;
  EXPECT_EQ(arial->FamilyName(), "Liberation Sans");
  // Arial's own metrics at an em of 1000, which Liberation Sans copies.
  EXPECT_EQ(arial->Ascent(), 905);
  EXPECT_EQ(arial->Descent(), 212);
  auto bold = TOutlineFace::Open("Arial", true, false);
  ASSERT_TRUE(bold);
  EXPECT_NE(bold->FileName(), arial->FileName());
  EXPECT_FALSE(TOutlineFace::Open("", false, false, &error));
  EXPECT_FALSE(error.empty());
}

TEST(GlyphOutlines, RecordsEncloseTheSameAreaAsFreeTypeRenders) {
  FT_Library lib;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  for (const char* family : {"Liberation Sans", "Liberation Serif", "DejaVu Sans"}) {
    auto face = TOutlineFace::Open(family, false, false);
    ASSERT_TRUE(face) << family;
    FT_Face ft;
    ASSERT_EQ(FT_New_Face(lib, face->FileName().c_str(), 0, &ft), 0);
    constexpr int kPixelsPerEm = 200;
    FT_Set_Pixel_Sizes(ft, kPixelsPerEm, kPixelsPerEm);
    for (char16_t c = 33; c < 127; ++c) {
      TNativeGlyph g;
      ASSERT_TRUE(face->GetGlyph(c, g));
      ASSERT_FALSE(g.Polygons.empty()) << family << " " << char(c);
      // TrueType outlines wind clockwise (y up), so their area is negative.
      const double ours = -ExactArea(g) * (kPixelsPerEm / 1000.0) * (kPixelsPerEm / 1000.0);
      ASSERT_EQ(FT_Load_Char(ft, c, FT_LOAD_RENDER | FT_LOAD_NO_HINTING), 0);
      const FT_Bitmap& bm = ft->glyph->bitmap;
      double coverage = 0;
      for (unsigned y = 0; y < bm.rows; ++y)
        for (unsigned x = 0; x < bm.width; ++x) coverage += bm.buffer[y * bm.pitch + x] / 255.0;
      EXPECT_NEAR(ours, coverage, 0.01 * coverage + 4) << family << " '" << char(c) << "'";
      // The ink box holds the whole outline.
      for (const auto& p : g.Polygons) {
        EXPECT_GE(p.Start.X / 65536.0, g.Metrics.OriginX - 1e-9);
        EXPECT_LE(p.Start.Y / 65536.0, g.Metrics.OriginY + 1e-9);
      }
    }
    TNativeGlyph space;
    ASSERT_TRUE(face->GetGlyph(u' ', space));
    EXPECT_TRUE(space.Polygons.empty());
    EXPECT_GT(space.Metrics.CellIncX, 0);
    FT_Done_Face(ft);
  }
  FT_Done_FreeType(lib);
}

}  // namespace
}  // namespace kdl
