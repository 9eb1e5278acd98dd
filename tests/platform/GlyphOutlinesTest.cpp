#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>

#include "platform/qt/GlyphOutlines.h"
#include "support/OutlineArea.h"

namespace kdl {
namespace {

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
      const double ours = -test::ExactArea(g) * (kPixelsPerEm / 1000.0) * (kPixelsPerEm / 1000.0);
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
