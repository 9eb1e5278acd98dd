// One character of an outline font: its metrics at an em of 1000 and its
// flattened outline, and the per-font cache of them sorted by code.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/SortedList.h"
#include "raster/PolygonRasterizer.h"

namespace kdl {

class TdtpFont;

struct TdtpGlyph {
  std::uint16_t CharCode = 0;
  std::int32_t AdvanceX = 0;
  std::int32_t AdvanceX2 = 0;  // stored and saved, not used in layout
  std::int32_t OriginX = 0;    // left side bearing
  std::int32_t OriginY = 0;
  std::int32_t BlackBoxX = 0;
  std::int32_t BlackBoxY = 0;
  TdtpFont* Font = nullptr;
  // 16.16 font units, y down; null for a character without ink.
  std::unique_ptr<TPolygon32> Outline;

  // 1 when the outline's contours wind with positive signed area (y down),
  // 2 when negative, 0 when there is no area or no outline.
  int Orientation() const;
};

class TdtpGlyphList : public TSortedList<TdtpGlyph> {
 public:
  int DoCompare(const TdtpGlyph* item1, const TdtpGlyph* item2) const override;
  TdtpGlyph* FindGlyph(std::uint16_t charCode) const;
  // Inserts in code order; a glyph whose code is already present is refused
  // (nullptr back) and freed, so the list never holds duplicates.
  TdtpGlyph* InsertGlyph(std::unique_ptr<TdtpGlyph> glyph);
};

}  // namespace kdl
