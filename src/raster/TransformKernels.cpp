// The block average of the draft filter and the bilinear interpolator of
// the linear stretch: the portable reference and SIMD variants that give
// the same bytes, chosen from the active processor level.
#include <emmintrin.h>

#include "raster/Blend.h"
#include "raster/Transforms.h"

namespace kdl {

namespace {

// Blocks beyond this many pixels average to 0 (0x1000000 div area is 0),
// and below it every channel sum fits 32 bits.
constexpr std::uint64_t kMaxAveragedArea = 0x1000000;

TColor32 ScaleSums(const std::uint64_t sums[4], std::uint64_t area) {
  const std::uint64_t rec = kMaxAveragedArea / area;
  TColor32 c = 0;
  for (int k = 3; k >= 0; --k) c = (c << 8) | static_cast<TColor32>(((sums[k] * rec) >> 24) & 0xFF);
  return c;
}

// The weight in 1/256 held in the upper half of a 16.16 value.
std::uint32_t InterpolatorWeight(std::uint32_t w) {
  w >>= 16;
  return w > 256 ? 256 : w;
}

__attribute__((target("sse2"))) TColor32 BlockAverageSSE2(std::uint32_t width,
                                                          std::uint32_t height,
                                                          const TColor32* src,
                                                          std::int32_t stride) {
  const std::uint64_t area = static_cast<std::uint64_t>(width) * height;
  if (area == 0 || area > kMaxAveragedArea) return 0;
  const __m128i zero = _mm_setzero_si128();
  __m128i acc = zero;  // B, G, R, A sums in four 32-bit lanes
  std::uint64_t tail[4] = {0, 0, 0, 0};
  for (std::uint32_t y = 0; y < height; ++y) {
    const TColor32* row = reinterpret_cast<const TColor32*>(
        reinterpret_cast<const std::uint8_t*>(src) + static_cast<std::int64_t>(y) * stride);
    std::uint32_t x = 0;
    for (; x + 4 <= width; x += 4) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
      const __m128i lo = _mm_unpacklo_epi8(v, zero);  // pixels 0, 1 as 16-bit
      const __m128i hi = _mm_unpackhi_epi8(v, zero);  // pixels 2, 3
      const __m128i s = _mm_add_epi16(lo, hi);        // at most 510 per lane
      acc = _mm_add_epi32(acc, _mm_unpacklo_epi16(s, zero));
      acc = _mm_add_epi32(acc, _mm_unpackhi_epi16(s, zero));
    }
    for (; x < width; ++x) {
      const TColor32 c = row[x];
      tail[0] += c & 0xFF;
      tail[1] += (c >> 8) & 0xFF;
      tail[2] += (c >> 16) & 0xFF;
      tail[3] += c >> 24;
    }
  }
  alignas(16) std::uint32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc);
  const std::uint64_t sums[4] = {tail[0] + lanes[0], tail[1] + lanes[1], tail[2] + lanes[2],
                                 tail[3] + lanes[3]};
  return ScaleSums(sums, area);
}

// Weights in 1/256, 0..256, from the upper half of a 16.16 value.
__attribute__((target("sse2"))) TColor32 LinearInterpolatorSSE2(std::uint32_t wx,
                                                                std::uint32_t wy,
                                                                const TColor32* p1,
                                                                const TColor32* p2) {
  const auto ax = static_cast<int>(InterpolatorWeight(wx));
  const auto ay = static_cast<int>(InterpolatorWeight(wy));
  const __m128i zero = _mm_setzero_si128();
  // Horizontal step: each channel pair (left, right) times (ax, 256 - ax)
  // in one multiply-add; 32-bit results of at most 255 x 256.
  const __m128i wh = _mm_set1_epi32(ax | ((256 - ax) << 16));
  auto row = [&](const TColor32* p) {
    const __m128i l = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p[0])), zero);
    const __m128i r = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p[1])), zero);
    return _mm_madd_epi16(_mm_unpacklo_epi16(l, r), wh);
  };
  const __m128i top = row(p1);
  const __m128i bottom = row(p2);
  // Vertical step on the high and low bytes of the row sums separately, so
  // that every multiply-add operand fits a signed 16-bit word.
  const __m128i wv = _mm_set1_epi32(ay | ((256 - ay) << 16));
  const __m128i lowByte = _mm_set1_epi32(0xFF);
  const __m128i pairHi = _mm_or_si128(_mm_srli_epi32(top, 8), _mm_slli_epi32(_mm_srli_epi32(bottom, 8), 16));
  const __m128i pairLo = _mm_or_si128(_mm_and_si128(top, lowByte), _mm_slli_epi32(_mm_and_si128(bottom, lowByte), 16));
  __m128i sum = _mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(pairHi, wv), 8), _mm_madd_epi16(pairLo, wv));
  sum = _mm_srli_epi32(_mm_add_epi32(sum, _mm_set1_epi32(0x8000)), 16);
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(sum, zero), zero);
  return static_cast<TColor32>(_mm_cvtsi128_si32(bytes));
}

struct TTransformSetup {
  TTransformSetup() { SetupTransformFunctions(); }
};

}  // namespace

TColor32 BlockAverageReference(std::uint32_t width, std::uint32_t height, const TColor32* src,
                               std::int32_t stride) {
  const std::uint64_t area = static_cast<std::uint64_t>(width) * height;
  if (area == 0 || area > kMaxAveragedArea) return 0;
  std::uint64_t sums[4] = {0, 0, 0, 0};
  for (std::uint32_t y = 0; y < height; ++y) {
    const TColor32* row = reinterpret_cast<const TColor32*>(
        reinterpret_cast<const std::uint8_t*>(src) + static_cast<std::int64_t>(y) * stride);
    for (std::uint32_t x = 0; x < width; ++x) {
      const TColor32 c = row[x];
      sums[0] += c & 0xFF;
      sums[1] += (c >> 8) & 0xFF;
      sums[2] += (c >> 16) & 0xFF;
      sums[3] += c >> 24;
    }
  }
  return ScaleSums(sums, area);
}

TColor32 LinearInterpolatorReference(std::uint32_t wx, std::uint32_t wy, const TColor32* p1,
                                     const TColor32* p2) {
  // One rounding at the end, so that equal neighbours give their colour
  // back exactly.
  const std::uint32_t ax = InterpolatorWeight(wx);
  const std::uint32_t ay = InterpolatorWeight(wy);
  TColor32 result = 0;
  for (int k = 24; k >= 0; k -= 8) {
    const auto ch = [k](TColor32 c) { return (c >> k) & 0xFF; };
    const std::uint32_t top = ch(p1[0]) * ax + ch(p1[1]) * (256 - ax);
    const std::uint32_t bottom = ch(p2[0]) * ax + ch(p2[1]) * (256 - ax);
    result |= ((top * ay + bottom * (256 - ay) + 0x8000) >> 16) << k;
  }
  return result;
}

TBlockAverageFunc BlockAverage = BlockAverageReference;
TLinearInterpolatorFunc LinearInterpolator = LinearInterpolatorReference;

void SetupTransformFunctions() { SetupTransformFunctions(ActiveSimdLevel()); }

void SetupTransformFunctions(TSimdLevel level) {
  if (level >= TSimdLevel::slSSE2) {
    BlockAverage = BlockAverageSSE2;
    LinearInterpolator = LinearInterpolatorSSE2;
  } else {
    BlockAverage = BlockAverageReference;
    LinearInterpolator = LinearInterpolatorReference;
  }
}

namespace {
const TTransformSetup kTransformSetup;
}

}  // namespace kdl
