#include "document/effects/CombineMaps.h"

#include <immintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/CpuFeatures.h"

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

// ---- Vector bodies ------------------------------------------------------------
// Each handles the whole blocks of n and returns how many bytes it did; the
// byte loops above finish the rest. Multiply and screen widen to 16 bits
// and divide by 255 as Div255 does.

#define KDL_VECTOR_OPS(TARGET, V, Load, Store, Zero, Set16, Set8, AddS, SubS, Max, Min, Or, Xor, Lo, Hi, \
                       Mul16, Add16, Shr16, Pack)                                              \
  __attribute__((target(TARGET), always_inline)) inline V Div255V(V x) { return Shr16(Add16(Add16(x, Shr16(x, 8)), Set16(1)), 8); }          \
  __attribute__((target(TARGET), always_inline)) inline V MulDiv255(V a, V b) {                                                                \
    const V z = Zero();                                                                         \
    return Pack(Div255V(Mul16(Lo(a, z), Lo(b, z))), Div255V(Mul16(Hi(a, z), Hi(b, z))));       \
  }                                                                                             \
  __attribute__((target(TARGET))) std::int64_t Rows(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out,            \
                    std::int64_t n, std::uint8_t op) {                                          \
    constexpr std::int64_t k = sizeof(V);                                                       \
    const V ones = Set8(-1);                                                                    \
    std::int64_t i = 0;                                                                         \
    for (; i + k <= n; i += k) {                                                                \
      const V x = Load(reinterpret_cast<const V*>(a + i));                                      \
      const V y = Load(reinterpret_cast<const V*>(b + i));                                      \
      V r;                                                                                      \
      switch (op) {                                                                             \
        case 0: r = MulDiv255(x, y); break;                                                     \
        case 1: r = AddS(x, y); break;                                                          \
        case 2: r = SubS(x, y); break;                                                          \
        case 4: r = Max(x, y); break;                                                           \
        case 5: r = Min(x, y); break;                                                           \
        case 6: r = Or(SubS(x, y), SubS(y, x)); break;                                          \
        default: r = Xor(MulDiv255(Xor(x, ones), Xor(y, ones)), ones); break;                   \
      }                                                                                         \
      Store(reinterpret_cast<V*>(out + i), r);                                                  \
    }                                                                                           \
    return i;                                                                                   \
  }

namespace sse2 {
KDL_VECTOR_OPS("sse2", __m128i, _mm_loadu_si128, _mm_storeu_si128, _mm_setzero_si128, _mm_set1_epi16,
               _mm_set1_epi8, _mm_adds_epu8, _mm_subs_epu8, _mm_max_epu8, _mm_min_epu8, _mm_or_si128,
               _mm_xor_si128, _mm_unpacklo_epi8, _mm_unpackhi_epi8, _mm_mullo_epi16, _mm_add_epi16,
               _mm_srli_epi16, _mm_packus_epi16)
}  // namespace sse2

namespace avx2 {
// The 256-bit unpacks and pack work within 128-bit lanes, in step, so the
// bytes come back in their places.
KDL_VECTOR_OPS("avx2", __m256i, _mm256_loadu_si256, _mm256_storeu_si256, _mm256_setzero_si256,
               _mm256_set1_epi16, _mm256_set1_epi8, _mm256_adds_epu8, _mm256_subs_epu8,
               _mm256_max_epu8, _mm256_min_epu8, _mm256_or_si256, _mm256_xor_si256,
               _mm256_unpacklo_epi8, _mm256_unpackhi_epi8, _mm256_mullo_epi16, _mm256_add_epi16,
               _mm256_srli_epi16, _mm256_packus_epi16)
}  // namespace avx2

#undef KDL_VECTOR_OPS

// The bytes done by the vector body of the active level; 0 for the
// reference level, where the byte loops do everything.
std::int64_t VectorRows(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out,
                        std::int64_t n, std::uint8_t op) {
  switch (ActiveSimdLevel()) {
    case TSimdLevel::slAVX2: return avx2::Rows(a, b, out, n, op);
    case TSimdLevel::slSSE2:
    case TSimdLevel::slSSE41: return sse2::Rows(a, b, out, n, op);
    default: return 0;
  }
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
  if (operation < kMaskOperationCount && operation != 3) {
    const std::int64_t done = VectorRows(a, b, out, n, operation);
    a += done;
    b += done;
    out += done;
    n -= done;
  }
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
