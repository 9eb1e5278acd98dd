#include "document/text/Glyph.h"

namespace kdl {

int TdtpGlyph::Orientation() const {
  if (!Outline) return 0;
  std::int64_t area2 = 0;
  for (const TArrayOfFixedPoint& line : Outline->Contours()) {
    const std::size_t n = line.size();
    if (n < 3) continue;
    for (std::size_t i = 0; i < n; ++i) {
      const TFixedPoint& a = line[i];
      const TFixedPoint& b = line[(i + 1) % n];
      // Each product fits in 63 bits; differences and sums could wrap only
      // for coordinates far beyond any em, so they run unsigned (defined).
      const auto p = static_cast<std::uint64_t>(std::int64_t{a.X} * b.Y);
      const auto q = static_cast<std::uint64_t>(std::int64_t{b.X} * a.Y);
      area2 = static_cast<std::int64_t>(static_cast<std::uint64_t>(area2) + (p - q));
    }
  }
  return area2 > 0 ? 1 : area2 < 0 ? 2 : 0;
}

int TdtpGlyphList::DoCompare(const TdtpGlyph* item1, const TdtpGlyph* item2) const {
  return static_cast<int>(item1->CharCode) - static_cast<int>(item2->CharCode);
}

TdtpGlyph* TdtpGlyphList::FindGlyph(std::uint16_t charCode) const {
  TdtpGlyph probe;
  probe.CharCode = charCode;
  int index = 0;
  return Find(&probe, index) ? Items(index) : nullptr;
}

TdtpGlyph* TdtpGlyphList::InsertGlyph(std::unique_ptr<TdtpGlyph> glyph) {
  int index = 0;
  if (Find(glyph.get(), index)) return nullptr;
  TdtpGlyph* result = glyph.get();
  Add(std::move(glyph));
  return result;
}

}  // namespace kdl
