#include "document/effects/CombineMaps.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kdl {
namespace {

// x div 255 for 0 <= x <= 65025 without a division, in 16 bits, so that
// the compiler can run the loops below on vectors.
inline std::uint16_t Div255(std::uint16_t x) {
  return static_cast<std::uint16_t>((x + (x >> 8) + 1) >> 8);
}

template <typename Op>
void RowLoop(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, std::int64_t n,
             Op op) {
  for (std::int64_t i = 0; i < n; ++i) out[i] = op(a[i], b[i]);
}

}  // namespace

std::uint8_t CombineBytes(std::uint8_t a, std::uint8_t b, std::uint8_t operation) {
  const int x = a, y = b;
  switch (operation) {
    case 0: return static_cast<std::uint8_t>(x * y / 255);
    case 1: return static_cast<std::uint8_t>(std::min(255, x + y));
    case 2: return static_cast<std::uint8_t>(std::max(0, x - y));
    case 3: return b;
    case 4: return static_cast<std::uint8_t>(std::max(x, y));
    case 5: return static_cast<std::uint8_t>(std::min(x, y));
    case 6: return static_cast<std::uint8_t>(std::abs(x - y));
    case 7: return static_cast<std::uint8_t>(255 - (255 - x) * (255 - y) / 255);
    default: return a;
  }
}

void CombineByteRows(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out,
                     std::int64_t n, std::uint8_t operation) {
  if (n <= 0) return;
  using U8 = std::uint8_t;
  using U16 = std::uint16_t;
  switch (operation) {
    case 0:
      RowLoop(a, b, out, n, [](U8 x, U8 y) { return static_cast<U8>(Div255(static_cast<U16>(x * y))); });
      break;
    case 1:
      RowLoop(a, b, out, n, [](U8 x, U8 y) {
        const U16 s = static_cast<U16>(x + y);
        return static_cast<U8>(s > 255 ? 255 : s);
      });
      break;
    case 2: RowLoop(a, b, out, n, [](U8 x, U8 y) { return static_cast<U8>(x > y ? x - y : 0); }); break;
    case 3:
      if (out != b) std::memmove(out, b, static_cast<std::size_t>(n));
      break;
    case 4: RowLoop(a, b, out, n, [](U8 x, U8 y) { return x > y ? x : y; }); break;
    case 5: RowLoop(a, b, out, n, [](U8 x, U8 y) { return x < y ? x : y; }); break;
    case 6: RowLoop(a, b, out, n, [](U8 x, U8 y) { return static_cast<U8>(x > y ? x - y : y - x); }); break;
    case 7:
      RowLoop(a, b, out, n, [](U8 x, U8 y) {
        return static_cast<U8>(255 - Div255(static_cast<U16>((255 - x) * (255 - y))));
      });
      break;
    default:
      // An operation from a broken file leaves the alpha as it is.
      if (out != a) std::memmove(out, a, static_cast<std::size_t>(n));
      break;
  }
}

void CombineByteMaps(const TByteMap* a, const TByteMap* b, TByteMap* out, std::uint8_t operation) {
  // 1.
  if (!a || !b || !out) throw Exception(kMapsMustBeAssigned);
  if (b->Width() != a->Width() || b->Height() != a->Height()) throw Exception(kMapsMustBeEqualSize);
  // 2.
  if (out != a) out->SetSize(a->Width(), a->Height());
  if (a->Empty()) return;
  // 3.
  const std::int64_t n = std::int64_t{a->Width()} * a->Height();
  CombineByteRows(a->Bits(), b->Bits(), out->Bits(), n, operation);
  out->Changed();
}

}  // namespace kdl
