// The block average of the draft filter and the bilinear interpolator of
// the linear stretch: the portable reference and SIMD variants that give
// the same bytes, chosen from the active processor level.
#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "raster/Blend.h"
#include "raster/TransformKernels.h"
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

// The pixel pairs at a, b (lower lane) and c, d (upper lane), row pixels on.
__attribute__((target("avx2"))) inline __m256i LoadPairs(const TColor32* bits, std::int32_t a,
                                                          std::int32_t b, std::int32_t c,
                                                          std::int32_t d, std::int32_t row) {
  const __m128i ab =
      _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bits + a + row)),
                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bits + b + row)));
  const __m128i cd =
      _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bits + c + row)),
                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bits + d + row)));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(ab), cd, 1);
}

// The vertical step of the interpolator on row sums of at most 255 x 256:
// high and low bytes apart, so that every multiply-add operand fits a
// signed 16-bit word.
__attribute__((target("avx2"))) inline __m256i BlendVertical(__m256i top, __m256i bottom,
                                                              __m256i wv) {
  const __m256i low8 = _mm256_set1_epi32(0xFF);
  const __m256i pairHi = _mm256_or_si256(_mm256_srli_epi32(top, 8),
                                         _mm256_slli_epi32(_mm256_srli_epi32(bottom, 8), 16));
  const __m256i pairLo = _mm256_or_si256(_mm256_and_si256(top, low8),
                                         _mm256_slli_epi32(_mm256_and_si256(bottom, low8), 16));
  const __m256i sum = _mm256_add_epi32(_mm256_slli_epi32(_mm256_madd_epi16(pairHi, wv), 8),
                                       _mm256_madd_epi16(pairLo, wv));
  return _mm256_srli_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(0x8000)), 16);
}

// Eight reads at a time: the pixel pairs of both rows are loaded as 64-bit
// words, two pixels share a register (one per 128-bit lane), and the
// arithmetic is that of LinearInterpolatorSSE2. Reads outside the source
// load pixel 0 and are replaced by the outer colour.
__attribute__((target("avx2"))) void BilinearRunAVX2(const TColor32* bits, std::int32_t width,
                                                     std::int32_t height, TColor32 outer,
                                                     std::int32_t bx, std::int32_t by,
                                                     const std::int32_t* xs,
                                                     const std::int32_t* ys, std::int32_t count,
                                                     TColor32* out) {
  std::int32_t i = 0;
  // Limits and row offsets in 32 bits; anything larger or too small for a
  // 2 x 2 neighbourhood takes the portable route.
  constexpr std::int32_t kMaxSide = 1 << 22;
  if (width >= 2 && height >= 2 && width <= kMaxSide && height <= kMaxSide &&
      std::int64_t{width} * height <= std::int64_t{1} << 30) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i limX = _mm256_set1_epi32((width - 1) * 256);
    const __m256i limY = _mm256_set1_epi32((height - 1) * 256);
    const __m256i vbx = _mm256_set1_epi32(bx), vby = _mm256_set1_epi32(by);
    const __m256i vw = _mm256_set1_epi32(width);
    const __m256i low8 = _mm256_set1_epi32(0xFF);
    const __m256i w256 = _mm256_set1_epi32(256);
    const __m256i outerV = _mm256_set1_epi32(static_cast<int>(outer));
    // Channel c of the lane's first (second) pixel pair as (left, right)
    // 16-bit words.
    const __m256i first = _mm256_setr_epi8(0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1,
                                           0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1);
    const __m256i second =
        _mm256_setr_epi8(8, -1, 12, -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1, 8, -1, 12,
                         -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1);
    const __m256i pick0 = _mm256_setr_epi32(0, 0, 0, 0, 2, 2, 2, 2);
    const __m256i pick1 = _mm256_setr_epi32(1, 1, 1, 1, 3, 3, 3, 3);
    const __m256i pick4 = _mm256_setr_epi32(4, 4, 4, 4, 6, 6, 6, 6);
    const __m256i pick5 = _mm256_setr_epi32(5, 5, 5, 5, 7, 7, 7, 7);
    alignas(32) std::int32_t index[8];
    for (; i + 8 <= count; i += 8) {
      const __m256i x = _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(xs + i)), vbx);
      const __m256i y = _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(ys + i)), vby);
      const __m256i inside = _mm256_and_si256(
          _mm256_and_si256(_mm256_cmpgt_epi32(x, zero), _mm256_cmpgt_epi32(limX, x)),
          _mm256_and_si256(_mm256_cmpgt_epi32(y, zero), _mm256_cmpgt_epi32(limY, y)));
      if (_mm256_testz_si256(inside, inside)) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), outerV);
        continue;
      }
      const __m256i at = _mm256_and_si256(
          _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srli_epi32(y, 8), vw), _mm256_srli_epi32(x, 8)),
          inside);
      _mm256_store_si256(reinterpret_cast<__m256i*>(index), at);
      // Weights as (left, right) and (upper, lower) 16-bit pairs.
      const __m256i fx = _mm256_and_si256(x, low8), fy = _mm256_and_si256(y, low8);
      const __m256i wx = _mm256_or_si256(_mm256_sub_epi32(w256, fx), _mm256_slli_epi32(fx, 16));
      const __m256i wy = _mm256_or_si256(_mm256_sub_epi32(w256, fy), _mm256_slli_epi32(fy, 16));
      __m256i packed[2];
      for (int g = 0; g < 2; ++g) {
        const std::int32_t* k = index + 4 * g;
        const __m256i top = LoadPairs(bits, k[0], k[1], k[2], k[3], 0);
        const __m256i bottom = LoadPairs(bits, k[0], k[1], k[2], k[3], width);
        const __m256i pa = g == 0 ? pick0 : pick4, pb = g == 0 ? pick1 : pick5;
        const __m256i wxa = _mm256_permutevar8x32_epi32(wx, pa);
        const __m256i wxb = _mm256_permutevar8x32_epi32(wx, pb);
        const __m256i ra = BlendVertical(_mm256_madd_epi16(_mm256_shuffle_epi8(top, first), wxa),
                                    _mm256_madd_epi16(_mm256_shuffle_epi8(bottom, first), wxa),
                                    _mm256_permutevar8x32_epi32(wy, pa));
        const __m256i rb = BlendVertical(_mm256_madd_epi16(_mm256_shuffle_epi8(top, second), wxb),
                                    _mm256_madd_epi16(_mm256_shuffle_epi8(bottom, second), wxb),
                                    _mm256_permutevar8x32_epi32(wy, pb));
        packed[g] = _mm256_packs_epi32(ra, rb);
      }
      // Lanes hold pixels 0 1 4 5 | 2 3 6 7; put them in order.
      const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(packed[0], packed[1]), 0xD8);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_blendv_epi8(outerV, bytes, inside));
    }
  }
  BilinearRunReference(bits, width, height, outer, bx, by, xs + i, ys + i, count - i, out + i);
}

// ---- Row kernels of the separable engine ----------------------------------

void ReduceRowReference(const TColor32* src, const std::int32_t* start, const std::int32_t* pos,
                        const std::int32_t* weight, std::size_t width, std::int32_t* out) {
  for (std::size_t x = 0; x < width; ++x, out += 4) {
    std::int32_t b = 0, g = 0, r = 0, a = 0;
    for (std::int32_t k = start[x]; k < start[x + 1]; ++k) {
      const TColor32 c = src[pos[k]];
      const std::int32_t w = weight[k];
      b += w * static_cast<std::int32_t>(c & 0xFF);
      g += w * static_cast<std::int32_t>((c >> 8) & 0xFF);
      r += w * static_cast<std::int32_t>((c >> 16) & 0xFF);
      a += w * static_cast<std::int32_t>(c >> 24);
    }
    out[0] = b;
    out[1] = g;
    out[2] = r;
    out[3] = a;
  }
}

void AccumulateRowReference(std::int32_t* t, const std::int32_t* h, std::int32_t w,
                            std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) t[i] += w * h[i];
}

void PackRowReference(const std::int32_t* t, TColor32* out, std::size_t width) {
  constexpr std::int32_t kTop = 255 << 16;
  for (std::size_t x = 0; x < width; ++x, t += 4) {
    TColor32 c = 0;
    for (int k = 3; k >= 0; --k) c = (c << 8) | static_cast<TColor32>(std::clamp(t[k], 0, kTop) >> 16);
    out[x] = c;
  }
}

// Two taps at a time: the channels of both pixels interleave into 16-bit
// pairs, and one multiply-add gives four 32-bit channel sums. Weights fit
// 16 bits (the caller guarantees it).
__attribute__((target("sse4.1"))) void ReduceRowSSE41(const TColor32* src,
                                                      const std::int32_t* start,
                                                      const std::int32_t* pos,
                                                      const std::int32_t* weight,
                                                      std::size_t width, std::int32_t* out) {
  const __m128i zero = _mm_setzero_si128();
  for (std::size_t x = 0; x < width; ++x, out += 4) {
    __m128i acc = zero;
    std::int32_t k = start[x];
    const std::int32_t end = start[x + 1];
    for (; k + 2 <= end; k += 2) {
      const __m128i a = _mm_cvtsi32_si128(static_cast<int>(src[pos[k]]));
      const __m128i b = _mm_cvtsi32_si128(static_cast<int>(src[pos[k + 1]]));
      const __m128i pairs = _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, b), zero);
      const __m128i w = _mm_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(weight[k + 1]) << 16) |
                                                        (static_cast<std::uint32_t>(weight[k]) & 0xFFFF)));
      acc = _mm_add_epi32(acc, _mm_madd_epi16(pairs, w));
    }
    if (k < end) {
      const __m128i c = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(src[pos[k]])));
      acc = _mm_add_epi32(acc, _mm_mullo_epi32(c, _mm_set1_epi32(weight[k])));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), acc);
  }
}

__attribute__((target("sse4.1"))) void AccumulateRowSSE41(std::int32_t* t, const std::int32_t* h,
                                                          std::int32_t w, std::size_t n) {
  const __m128i wv = _mm_set1_epi32(w);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t + i), _mm_add_epi32(a, _mm_mullo_epi32(b, wv)));
  }
  for (; i < n; ++i) t[i] += w * h[i];
}

__attribute__((target("sse4.1"))) void PackRowSSE41(const std::int32_t* t, TColor32* out,
                                                    std::size_t width) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i top = _mm_set1_epi32(255 << 16);
  std::size_t x = 0;
  for (; x + 2 <= width; x += 2) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 4 * x));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 4 * x + 4));
    a = _mm_srai_epi32(_mm_min_epi32(_mm_max_epi32(a, zero), top), 16);
    b = _mm_srai_epi32(_mm_min_epi32(_mm_max_epi32(b, zero), top), 16);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a, b), zero);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), bytes);
  }
  if (x < width) PackRowReference(t + 4 * x, out + x, width - x);
}

__attribute__((target("avx2"))) void AccumulateRowAVX2(std::int32_t* t, const std::int32_t* h,
                                                       std::int32_t w, std::size_t n) {
  const __m256i wv = _mm256_set1_epi32(w);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(t + i), _mm256_add_epi32(a, _mm256_mullo_epi32(b, wv)));
  }
  for (; i < n; ++i) t[i] += w * h[i];
}

__attribute__((target("avx2"))) void PackRowAVX2(const std::int32_t* t, TColor32* out,
                                                 std::size_t width) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i top = _mm256_set1_epi32(255 << 16);
  std::size_t x = 0;
  for (; x + 4 <= width; x += 4) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + 4 * x));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + 4 * x + 8));
    a = _mm256_srai_epi32(_mm256_min_epi32(_mm256_max_epi32(a, zero), top), 16);
    b = _mm256_srai_epi32(_mm256_min_epi32(_mm256_max_epi32(b, zero), top), 16);
    // Packing works within 128-bit lanes: pixels come out as 0, 2, 1, 3.
    const __m256i words = _mm256_packs_epi32(a, b);
    const __m256i bytes = _mm256_packus_epi16(words, zero);
    const __m256i ordered = _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm256_castsi256_si128(ordered));
  }
  // The compiler omits vzeroupper before a tail call into legacy SSE code,
  // which would leave every later SSE instruction paying for the dirty
  // upper halves.
  _mm256_zeroupper();
  if (x < width) PackRowSSE41(t + 4 * x, out + x, width - x);
}

void CombineRowsReference(const std::int32_t* const* rows, const std::int32_t* weights,
                          std::size_t count, std::int32_t bias, TColor32* out, std::size_t width) {
  constexpr std::int32_t kTop = 255 << 16;
  for (std::size_t x = 0; x < width; ++x) {
    TColor32 c = 0;
    for (int k = 3; k >= 0; --k) {
      std::int32_t t = bias;
      for (std::size_t r = 0; r < count; ++r) t += weights[r] * rows[r][4 * x + static_cast<std::size_t>(k)];
      c = (c << 8) | static_cast<TColor32>(std::clamp(t, 0, kTop) >> 16);
    }
    out[x] = c;
  }
}

__attribute__((target("sse4.1"))) void CombineRowsSSE41(const std::int32_t* const* rows,
                                                        const std::int32_t* weights,
                                                        std::size_t count, std::int32_t bias,
                                                        TColor32* out, std::size_t width) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i top = _mm_set1_epi32(255 << 16);
  std::size_t x = 0;
  for (; x + 2 <= width; x += 2) {
    __m128i a = _mm_set1_epi32(bias), b = a;
    for (std::size_t r = 0; r < count; ++r) {
      const __m128i w = _mm_set1_epi32(weights[r]);
      const std::int32_t* h = rows[r] + 4 * x;
      a = _mm_add_epi32(a, _mm_mullo_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), w));
      b = _mm_add_epi32(b, _mm_mullo_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4)), w));
    }
    a = _mm_srai_epi32(_mm_min_epi32(_mm_max_epi32(a, zero), top), 16);
    b = _mm_srai_epi32(_mm_min_epi32(_mm_max_epi32(b, zero), top), 16);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(_mm_packs_epi32(a, b), zero));
  }
  if (x < width) {
    std::vector<const std::int32_t*> moved(count);
    for (std::size_t r = 0; r < count; ++r) moved[r] = rows[r] + 4 * x;
    CombineRowsReference(moved.data(), weights, count, bias, out + x, width - x);
  }
}

__attribute__((target("avx2"))) void CombineRowsAVX2(const std::int32_t* const* rows,
                                                     const std::int32_t* weights,
                                                     std::size_t count, std::int32_t bias,
                                                     TColor32* out, std::size_t width) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i top = _mm256_set1_epi32(255 << 16);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  std::size_t x = 0;
  for (; x + 4 <= width; x += 4) {
    __m256i a = _mm256_set1_epi32(bias), b = a;
    for (std::size_t r = 0; r < count; ++r) {
      const __m256i w = _mm256_set1_epi32(weights[r]);
      const std::int32_t* h = rows[r] + 4 * x;
      a = _mm256_add_epi32(a, _mm256_mullo_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h)), w));
      b = _mm256_add_epi32(b, _mm256_mullo_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + 8)), w));
    }
    a = _mm256_srai_epi32(_mm256_min_epi32(_mm256_max_epi32(a, zero), top), 16);
    b = _mm256_srai_epi32(_mm256_min_epi32(_mm256_max_epi32(b, zero), top), 16);
    // Packing works within 128-bit lanes: pixels come out as 0, 2, 1, 3.
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(a, b), zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                     _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(bytes, order)));
  }
  if (x < width) {
    std::vector<const std::int32_t*> moved(count);
    for (std::size_t r = 0; r < count; ++r) moved[r] = rows[r] + 4 * x;
    CombineRowsSSE41(moved.data(), weights, count, bias, out + x, width - x);
  }
}

// ---- 16-bit window kernels --------------------------------------------------
//
// With non-negative column weights every reduced channel fits 16 bits, so a
// reduced row takes half the memory and the vertical pass multiplies two
// rows per instruction. The sums are the same integers as above.

// Two neighbouring pixels' channels as (left, right) word pairs.
#define KDL_SPREAD_PAIR 0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1

__attribute__((target("sse4.1"))) inline __m128i ReduceWindowPixelSSE41(
    const TColor32* p, const std::int32_t* w, std::size_t pairs, __m128i spread) {
  __m128i acc = _mm_setzero_si128();
  for (std::size_t j = 0; j < pairs; ++j) {
    const __m128i v = _mm_shuffle_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 2 * j)), spread);
    acc = _mm_add_epi32(acc, _mm_madd_epi16(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 4 * j))));
  }
  return _mm_sub_epi32(acc, _mm_set1_epi32(32768));
}

__attribute__((target("sse4.1"))) void ReduceWindowSSE41(const TColor32* src,
                                                         const std::int32_t* first,
                                                         const std::int32_t* wexp,
                                                         std::size_t pairs, std::size_t width,
                                                         std::int16_t* out) {
  const __m128i spread = _mm_setr_epi8(KDL_SPREAD_PAIR);
  const std::size_t step = 4 * pairs;
  std::size_t x = 0;
  for (; x + 2 <= width; x += 2) {
    const __m128i a = ReduceWindowPixelSSE41(src + first[x], wexp + x * step, pairs, spread);
    const __m128i b = ReduceWindowPixelSSE41(src + first[x + 1], wexp + (x + 1) * step, pairs, spread);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x), _mm_packs_epi32(a, b));
  }
  if (x < width) {
    const __m128i a = ReduceWindowPixelSSE41(src + first[x], wexp + x * step, pairs, spread);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * x), _mm_packs_epi32(a, a));
  }
}

// Two-tap windows: outputs x and x + 1 in the two 128-bit lanes, whose
// weights lie next to each other.
__attribute__((target("avx2"))) inline __m256i ReduceTwoTapsAVX2(const TColor32* p,
                                                                 const TColor32* q,
                                                                 const std::int32_t* w,
                                                                 __m256i spread) {
  long long a, b;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, q, 8);
  const __m256i px = _mm256_blend_epi32(_mm256_set1_epi64x(a), _mm256_set1_epi64x(b), 0xF0);
  const __m256i wt = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w));
  return _mm256_sub_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(px, spread), wt),
                          _mm256_set1_epi32(32768));
}

// Wider windows, four taps at a time: taps 0-1 in the low lane, 2-3 in the
// high one; the lanes are added at the end.
__attribute__((target("avx2"), always_inline)) inline __m256i ReduceFourTapsAVX2(const TColor32* p,
                                                                  const std::int32_t* w,
                                                                  std::size_t groups,
                                                                  __m256i spread) {
  __m256i acc = _mm256_setzero_si256();
  for (std::size_t g = 0; g < groups; ++g) {
    const __m256i px = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * g)));
    const __m256i wt = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + 8 * g));
    acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_shuffle_epi8(px, spread), wt));
  }
  return acc;
}

// Four outputs at a time of windows of 4 x groups taps (G of them, or
// pairs / 2 for G = 0); returns how many outputs were done.
template <std::size_t G>
__attribute__((target("avx2"))) std::size_t ReduceGroupsAVX2(const TColor32* src,
                                                             const std::int32_t* first,
                                                             const std::int32_t* wexp,
                                                             std::size_t pairs, std::size_t width,
                                                             std::int16_t* out) {
  const __m256i spread = _mm256_setr_epi8(KDL_SPREAD_PAIR, 8, -1, 12, -1, 9, -1, 13, -1, 10, -1,
                                          14, -1, 11, -1, 15, -1);
  const __m256i offset = _mm256_set1_epi32(32768);
  const std::size_t groups = G != 0 ? G : pairs / 2;
  const std::size_t step = 4 * pairs;
  std::size_t x = 0;
  for (; x + 4 <= width; x += 4) {
    const std::int32_t* w = wexp + x * step;
    const __m256i a0 = ReduceFourTapsAVX2(src + first[x], w, groups, spread);
    const __m256i a1 = ReduceFourTapsAVX2(src + first[x + 1], w + step, groups, spread);
    const __m256i a2 = ReduceFourTapsAVX2(src + first[x + 2], w + 2 * step, groups, spread);
    const __m256i a3 = ReduceFourTapsAVX2(src + first[x + 3], w + 3 * step, groups, spread);
    // Lane sums: outputs x and x + 1 in a, x + 2 and x + 3 in b.
    const __m256i a = _mm256_sub_epi32(_mm256_add_epi32(_mm256_permute2x128_si256(a0, a1, 0x20),
                                                        _mm256_permute2x128_si256(a0, a1, 0x31)),
                                       offset);
    const __m256i b = _mm256_sub_epi32(_mm256_add_epi32(_mm256_permute2x128_si256(a2, a3, 0x20),
                                                        _mm256_permute2x128_si256(a2, a3, 0x31)),
                                       offset);
    // Packing works within lanes: outputs come out as x, x + 2, x + 1, x + 3.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x),
                        _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8));
  }
  return x;
}

__attribute__((target("avx2"))) void ReduceWindowAVX2(const TColor32* src,
                                                      const std::int32_t* first,
                                                      const std::int32_t* wexp,
                                                      std::size_t pairs, std::size_t width,
                                                      std::int16_t* out) {
  const std::size_t step = 4 * pairs;
  std::size_t x = 0;
  if (pairs == 1) {
    const __m256i spread = _mm256_setr_epi8(KDL_SPREAD_PAIR, KDL_SPREAD_PAIR);
    for (; x + 4 <= width; x += 4) {
      const __m256i a = ReduceTwoTapsAVX2(src + first[x], src + first[x + 1], wexp + 4 * x, spread);
      const __m256i b = ReduceTwoTapsAVX2(src + first[x + 2], src + first[x + 3], wexp + 4 * x + 8, spread);
      // Packing works within lanes: outputs come out as x, x + 2, x + 1, x + 3.
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x),
                          _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8));
    }
  } else if (pairs % 2 == 0) {
    // Fixed group counts let the compiler unroll the common windows.
    switch (pairs / 2) {
      case 1: x = ReduceGroupsAVX2<1>(src, first, wexp, 2, width, out); break;
      case 2: x = ReduceGroupsAVX2<2>(src, first, wexp, 4, width, out); break;
      case 3: x = ReduceGroupsAVX2<3>(src, first, wexp, 6, width, out); break;
      case 4: x = ReduceGroupsAVX2<4>(src, first, wexp, 8, width, out); break;
      default: x = ReduceGroupsAVX2<0>(src, first, wexp, pairs, width, out); break;
    }
  }
  _mm256_zeroupper();  // see PackRowAVX2
  if (x < width) ReduceWindowSSE41(src, first + x, wexp + x * step, pairs, width - x, out + 4 * x);
}

// packWindow: the window sums of reduceWindow taken whole, times the one
// row's weight plus bias, limited and shifted as combineWindow. The
// saturating packs do the limiting.

// One output of packWindow, shifted down but not yet limited.
__attribute__((target("sse4.1"))) inline __m128i PackWindowPixelSSE41(const TColor32* p, const std::int32_t* w,
                                                                      std::size_t pairs, __m128i weight,
                                                                      __m128i start, __m128i spread) {
  const __m128i sum = _mm_add_epi32(ReduceWindowPixelSSE41(p, w, pairs, spread), _mm_set1_epi32(32768));
  return _mm_srai_epi32(_mm_add_epi32(start, _mm_mullo_epi32(sum, weight)), 16);
}

__attribute__((target("sse4.1"))) void PackWindowSSE41(const TColor32* src, const std::int32_t* first,
                                                       const std::int32_t* wexp, std::size_t pairs,
                                                       std::int32_t weight, std::int32_t bias,
                                                       std::size_t width, TColor32* out) {
  const __m128i spread = _mm_setr_epi8(KDL_SPREAD_PAIR);
  const __m128i w = _mm_set1_epi32(weight);
  const __m128i start = _mm_set1_epi32(bias);
  const __m128i zero = _mm_setzero_si128();
  const std::size_t step = 4 * pairs;
#define one(x) PackWindowPixelSSE41(src + first[x], wexp + (x) * step, pairs, w, start, spread)
  std::size_t x = 0;
  for (; x + 2 <= width; x += 2)
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(_mm_packs_epi32(one(x), one(x + 1)), zero));
  if (x < width)
    out[x] = static_cast<TColor32>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(one(x), zero), zero)));
#undef one
}

// Eight outputs in 32-bit channel sums, as pairs (x, x + 1) .. (x + 6,
// x + 7), finished and stored in order: the packs work within lanes and
// leave x, x + 2, x + 4, x + 6 | x + 1, x + 3, x + 5, x + 7.
__attribute__((target("avx2"), always_inline)) inline void PackEightAVX2(__m256i s0, __m256i s1, __m256i s2,
                                                                       __m256i s3, __m256i w, __m256i start,
                                                                       TColor32* out) {
#define finish(s) _mm256_srai_epi32(_mm256_add_epi32(start, _mm256_mullo_epi32(s, w)), 16)
  const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(finish(s0), finish(s1)),
                                            _mm256_packs_epi32(finish(s2), finish(s3)));
#undef finish
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                      _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
}

// Windows of 4 x groups taps (G of them, or pairs / 2 for G = 0), eight
// outputs at a time; returns how many outputs were done.
template <std::size_t G>
__attribute__((target("avx2"))) std::size_t PackGroupsAVX2(const TColor32* src, const std::int32_t* first,
                                                           const std::int32_t* wexp, std::size_t pairs,
                                                           __m256i w, __m256i start, std::size_t width,
                                                           TColor32* out) {
  const __m256i spread = _mm256_setr_epi8(KDL_SPREAD_PAIR, 8, -1, 12, -1, 9, -1, 13, -1, 10, -1,
                                          14, -1, 11, -1, 15, -1);
  const std::size_t groups = G != 0 ? G : pairs / 2;
  const std::size_t step = 4 * pairs;
  std::size_t x = 0;
  for (; x + 8 <= width; x += 8) {
    // Lane sums: outputs x + 2i and x + 2i + 1 in s[i].
    __m256i s[4];
    for (std::size_t i = 0; i < 4; ++i) {
      const std::size_t o = x + 2 * i;
      const __m256i a = ReduceFourTapsAVX2(src + first[o], wexp + o * step, groups, spread);
      const __m256i b = ReduceFourTapsAVX2(src + first[o + 1], wexp + (o + 1) * step, groups, spread);
      s[i] = _mm256_add_epi32(_mm256_permute2x128_si256(a, b, 0x20), _mm256_permute2x128_si256(a, b, 0x31));
    }
    PackEightAVX2(s[0], s[1], s[2], s[3], w, start, out + x);
  }
  return x;
}

__attribute__((target("avx2"))) void PackWindowAVX2(const TColor32* src, const std::int32_t* first,
                                                    const std::int32_t* wexp, std::size_t pairs,
                                                    std::int32_t weight, std::int32_t bias,
                                                    std::size_t width, TColor32* out) {
  const __m256i w = _mm256_set1_epi32(weight);
  const __m256i start = _mm256_set1_epi32(bias);
  const __m256i offset = _mm256_set1_epi32(32768);
  std::size_t x = 0;
  if (pairs == 1) {
    const __m256i spread = _mm256_setr_epi8(KDL_SPREAD_PAIR, KDL_SPREAD_PAIR);
#define two(i) _mm256_add_epi32(ReduceTwoTapsAVX2(src + first[i], src + first[(i) + 1], wexp + 4 * (i), spread), offset)
    for (; x + 8 <= width; x += 8) PackEightAVX2(two(x), two(x + 2), two(x + 4), two(x + 6), w, start, out + x);
#undef two
  } else if (pairs % 2 == 0) {
    switch (pairs / 2) {
      case 1: x = PackGroupsAVX2<1>(src, first, wexp, 2, w, start, width, out); break;
      case 2: x = PackGroupsAVX2<2>(src, first, wexp, 4, w, start, width, out); break;
      default: x = PackGroupsAVX2<0>(src, first, wexp, pairs, w, start, width, out); break;
    }
  }
  _mm256_zeroupper();  // see PackRowAVX2
  if (x < width) PackWindowSSE41(src, first + x, wexp + x * 4 * pairs, pairs, weight, bias, width - x, out + x);
}

#undef KDL_SPREAD_PAIR

// Pixels from..width of combineWindow.
__attribute__((target("sse4.1"))) void CombineWindowSSE41From(const std::int16_t* const* rows,
                                                              const std::int32_t* wpairs,
                                                              std::size_t count, std::int32_t bias,
                                                              TColor32* out, std::size_t from,
                                                              std::size_t width) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i start = _mm_set1_epi32(bias);
  std::size_t x = from;
  for (; x + 4 <= width; x += 4) {
    __m128i a0 = start, a1 = start, b0 = start, b1 = start;
    for (std::size_t r = 0; r < count; r += 2) {
      const __m128i w = _mm_set1_epi32(wpairs[r / 2]);
      const std::int16_t* p = rows[r] + 4 * x;
      const std::int16_t* q = rows[r + 1] + 4 * x;
      const __m128i pa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i qa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
      const __m128i pb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
      const __m128i qb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 8));
      a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_unpacklo_epi16(pa, qa), w));
      a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_unpackhi_epi16(pa, qa), w));
      b0 = _mm_add_epi32(b0, _mm_madd_epi16(_mm_unpacklo_epi16(pb, qb), w));
      b1 = _mm_add_epi32(b1, _mm_madd_epi16(_mm_unpackhi_epi16(pb, qb), w));
    }
    // The saturating packs do the limiting: below 0 gives 0, from 255 up 255.
    const __m128i wa = _mm_packs_epi32(_mm_srai_epi32(a0, 16), _mm_srai_epi32(a1, 16));
    const __m128i wb = _mm_packs_epi32(_mm_srai_epi32(b0, 16), _mm_srai_epi32(b1, 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(wa, wb));
  }
  for (; x + 2 <= width; x += 2) {
    __m128i lo = start, hi = start;
    for (std::size_t r = 0; r < count; r += 2) {
      const __m128i w = _mm_set1_epi32(wpairs[r / 2]);
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[r] + 4 * x));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[r + 1] + 4 * x));
      lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), w));
      hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), w));
    }
    const __m128i words = _mm_packs_epi32(_mm_srai_epi32(lo, 16), _mm_srai_epi32(hi, 16));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(words, zero));
  }
  if (x < width) {
    __m128i lo = start;
    for (std::size_t r = 0; r < count; r += 2) {
      const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[r] + 4 * x));
      const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[r + 1] + 4 * x));
      lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), _mm_set1_epi32(wpairs[r / 2])));
    }
    const __m128i words = _mm_packs_epi32(_mm_srai_epi32(lo, 16), zero);
    out[x] = static_cast<TColor32>(_mm_cvtsi128_si32(_mm_packus_epi16(words, zero)));
  }
}

__attribute__((target("sse4.1"))) void CombineWindowSSE41(const std::int16_t* const* rows,
                                                          const std::int32_t* wpairs,
                                                          std::size_t count, std::int32_t bias,
                                                          TColor32* out, std::size_t width) {
  CombineWindowSSE41From(rows, wpairs, count, bias, out, 0, width);
}

__attribute__((target("avx2"))) void CombineWindowAVX2(const std::int16_t* const* rows,
                                                       const std::int32_t* wpairs,
                                                       std::size_t count, std::int32_t bias,
                                                       TColor32* out, std::size_t width) {
  const __m256i start = _mm256_set1_epi32(bias);
  std::size_t x = 0;
  for (; x + 8 <= width; x += 8) {
    __m256i a0 = start, a1 = start, b0 = start, b1 = start;
    for (std::size_t r = 0; r < count; r += 2) {
      const __m256i w = _mm256_set1_epi32(wpairs[r / 2]);
      const std::int16_t* p = rows[r] + 4 * x;
      const std::int16_t* q = rows[r + 1] + 4 * x;
      const __m256i pa = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      const __m256i qa = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
      const __m256i pb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16));
      const __m256i qb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 16));
      a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(_mm256_unpacklo_epi16(pa, qa), w));
      a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(_mm256_unpackhi_epi16(pa, qa), w));
      b0 = _mm256_add_epi32(b0, _mm256_madd_epi16(_mm256_unpacklo_epi16(pb, qb), w));
      b1 = _mm256_add_epi32(b1, _mm256_madd_epi16(_mm256_unpackhi_epi16(pb, qb), w));
    }
    // Within each lane the unpacks and packs keep pixel order; the byte pack
    // leaves pixels 0-1, 4-5, 2-3, 6-7.
    const __m256i wa = _mm256_packs_epi32(_mm256_srai_epi32(a0, 16), _mm256_srai_epi32(a1, 16));
    const __m256i wb = _mm256_packs_epi32(_mm256_srai_epi32(b0, 16), _mm256_srai_epi32(b1, 16));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                        _mm256_permute4x64_epi64(_mm256_packus_epi16(wa, wb), 0xD8));
  }
  _mm256_zeroupper();  // see PackRowAVX2
  if (x < width) CombineWindowSSE41From(rows, wpairs, count, bias, out, x, width);
}

// ---- Vertical-first kernels -------------------------------------------------
//
// With non-negative weights summing to at most 257 a blended channel is at
// most 65535, so 16-bit products and sums that wrap give it exactly.

__attribute__((target("sse4.1"))) void BlendRowsSSE41From(const TColor32* const* rows,
                                                          const std::int32_t* weights,
                                                          std::size_t count, std::size_t from,
                                                          std::size_t n, std::int16_t* out,
                                                          const TColor32* ahead) {
  const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
  std::size_t c = from;
  for (; c + 4 <= n; c += 4) {
    // One cache line every fourth step.
    if (ahead != nullptr && (c & 15) == 0) _mm_prefetch(reinterpret_cast<const char*>(ahead + c), _MM_HINT_T0);
    __m128i lo = _mm_setzero_si128(), hi = lo;
    for (std::size_t r = 0; r < count; ++r) {
      const __m128i w = _mm_set1_epi16(static_cast<short>(weights[r]));
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[r] + c));
      lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_cvtepu8_epi16(v), w));
      hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_cvtepu8_epi16(_mm_srli_si128(v, 8)), w));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * c), _mm_xor_si128(lo, flip));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * c + 8), _mm_xor_si128(hi, flip));
  }
  for (; c < n; ++c) {
    __m128i acc = _mm_setzero_si128();
    for (std::size_t r = 0; r < count; ++r)
      acc = _mm_add_epi16(acc, _mm_mullo_epi16(_mm_cvtepu8_epi16(_mm_cvtsi32_si128(static_cast<int>(rows[r][c]))),
                                               _mm_set1_epi16(static_cast<short>(weights[r]))));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * c), _mm_xor_si128(acc, flip));
  }
}

__attribute__((target("sse4.1"))) void BlendRowsSSE41(const TColor32* const* rows,
                                                      const std::int32_t* weights, std::size_t count,
                                                      std::size_t n, std::int16_t* out, const TColor32* ahead) {
  BlendRowsSSE41From(rows, weights, count, 0, n, out, ahead);
}

__attribute__((target("avx2"))) void BlendRowsAVX2(const TColor32* const* rows,
                                                   const std::int32_t* weights, std::size_t count,
                                                   std::size_t n, std::int16_t* out, const TColor32* ahead) {
  const __m256i flip = _mm256_set1_epi16(static_cast<short>(0x8000));
  std::size_t c = 0;
  if (count == 2) {
    // The common cluster of a mild reduction, its weights held in registers.
    const __m256i w0 = _mm256_set1_epi16(static_cast<short>(weights[0]));
    const __m256i w1 = _mm256_set1_epi16(static_cast<short>(weights[1]));
    const TColor32* a = rows[0];
    const TColor32* b = rows[1];
    for (; c + 8 <= n; c += 8) {
      if (ahead != nullptr && (c & 15) == 0) _mm_prefetch(reinterpret_cast<const char*>(ahead + c), _MM_HINT_T0);
      const __m256i lo = _mm256_add_epi16(
          _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + c))), w0),
          _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + c))), w1));
      const __m256i hi = _mm256_add_epi16(
          _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + c + 4))), w0),
          _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + c + 4))), w1));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * c), _mm256_xor_si256(lo, flip));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * c + 16), _mm256_xor_si256(hi, flip));
    }
  }
  for (; c + 8 <= n; c += 8) {
    // One cache line every other step.
    if (ahead != nullptr && (c & 15) == 0) _mm_prefetch(reinterpret_cast<const char*>(ahead + c), _MM_HINT_T0);
    __m256i lo = _mm256_setzero_si256(), hi = lo;
    for (std::size_t r = 0; r < count; ++r) {
      const __m256i w = _mm256_set1_epi16(static_cast<short>(weights[r]));
      const TColor32* p = rows[r] + c;
      lo = _mm256_add_epi16(lo, _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))), w));
      hi = _mm256_add_epi16(hi, _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4))), w));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * c), _mm256_xor_si256(lo, flip));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * c + 16), _mm256_xor_si256(hi, flip));
  }
  _mm256_zeroupper();  // see PackRowAVX2
  if (c < n) BlendRowsSSE41From(rows, weights, count, c, n, out, nullptr);
}

// Two blended pixels' channels as (left, right) word pairs.
#define KDL_SPREAD_WORDS 0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15

// One output of reduceBlended, shifted down but not yet limited.
__attribute__((target("sse4.1"))) inline __m128i ReduceBlendedPixelSSE41(
    const std::int16_t* p, const std::int32_t* w, std::size_t pairs, __m128i start,
    __m128i spread) {
  __m128i acc = start;
  for (std::size_t j = 0; j < pairs; ++j) {
    const __m128i px = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8 * j)), spread);
    acc = _mm_add_epi32(acc, _mm_madd_epi16(px, _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 4 * j))));
  }
  return _mm_srai_epi32(acc, 16);
}

__attribute__((target("sse4.1"))) void ReduceBlendedSSE41From(
    const std::int16_t* v, const std::int32_t* first, const std::int32_t* wexp, std::size_t pairs,
    std::int32_t bias, std::size_t from, std::size_t width, TColor32* out) {
  const __m128i spread = _mm_setr_epi8(KDL_SPREAD_WORDS);
  const __m128i start = _mm_set1_epi32(bias);
  const __m128i zero = _mm_setzero_si128();
  const std::size_t step = 4 * pairs;
#define one(x) \
  ReduceBlendedPixelSSE41(v + 4 * static_cast<std::size_t>(first[x]), wexp + (x) * step, pairs, start, spread)
  std::size_t x = from;
  for (; x + 2 <= width; x += 2) {
    const __m128i words = _mm_packs_epi32(one(x), one(x + 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(words, zero));
  }
  if (x < width) {
    const __m128i words = _mm_packs_epi32(one(x), zero);
    out[x] = static_cast<TColor32>(_mm_cvtsi128_si32(_mm_packus_epi16(words, zero)));
  }
#undef one
}

__attribute__((target("sse4.1"))) void ReduceBlendedSSE41(const std::int16_t* v,
                                                          const std::int32_t* first,
                                                          const std::int32_t* wexp,
                                                          std::size_t pairs, std::int32_t bias,
                                                          std::size_t width, TColor32* out) {
  ReduceBlendedSSE41From(v, first, wexp, pairs, bias, 0, width, out);
}

// Four taps of one output: taps 0-1 in the low lane, 2-3 in the high one.
__attribute__((target("avx2"), always_inline)) inline __m256i ReduceBlendedFourAVX2(
    const std::int16_t* p, const std::int32_t* w, std::size_t groups, __m256i spread) {
  __m256i acc = _mm256_setzero_si256();
  for (std::size_t g = 0; g < groups; ++g) {
    const __m256i px = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16 * g)), spread);
    acc = _mm256_add_epi32(acc, _mm256_madd_epi16(px, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + 8 * g))));
  }
  return acc;
}

template <std::size_t G>
__attribute__((target("avx2"))) std::size_t ReduceBlendedGroupsAVX2(
    const std::int16_t* v, const std::int32_t* first, const std::int32_t* wexp, std::size_t pairs,
    std::int32_t bias, std::size_t width, TColor32* out) {
  const __m256i spread = _mm256_setr_epi8(KDL_SPREAD_WORDS, KDL_SPREAD_WORDS);
  const __m256i start = _mm256_set1_epi32(bias);
  const std::size_t groups = G != 0 ? G : pairs / 2;
  const std::size_t step = 4 * pairs;
  std::size_t x = 0;
  for (; x + 8 <= width; x += 8) {
    const std::int32_t* w = wexp + x * step;
    __m256i s[8];
    for (std::size_t i = 0; i < 8; ++i)
      s[i] = ReduceBlendedFourAVX2(v + 4 * static_cast<std::size_t>(first[x + i]), w + i * step, groups, spread);
    // Lane sums of outputs 2i and 2i + 1: the low lane of one and the high
    // lane of the other by a blend, the other halves by one cross-lane
    // move; output 2i + 1 comes out in the high lane.
    __m256i t[4];
    for (std::size_t i = 0; i < 4; ++i)
      t[i] = _mm256_srai_epi32(
          _mm256_add_epi32(start, _mm256_add_epi32(_mm256_blend_epi32(s[2 * i], s[2 * i + 1], 0xF0),
                                                   _mm256_permute2x128_si256(s[2 * i], s[2 * i + 1], 0x21))),
          16);
    // The packs work within lanes: x, x + 2, x + 4, x + 6 | x + 1, x + 3, ...
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(t[0], t[1]), _mm256_packs_epi32(t[2], t[3]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                        _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
  }
  for (; x + 4 <= width; x += 4) {
    const std::int32_t* w = wexp + x * step;
    __m256i s[4];
    for (std::size_t i = 0; i < 4; ++i)
      s[i] = ReduceBlendedFourAVX2(v + 4 * static_cast<std::size_t>(first[x + i]), w + i * step, groups, spread);
    // Lane sums: outputs x and x + 1 in a, x + 2 and x + 3 in b.
    const __m256i a = _mm256_srai_epi32(
        _mm256_add_epi32(start, _mm256_add_epi32(_mm256_permute2x128_si256(s[0], s[1], 0x20),
                                                 _mm256_permute2x128_si256(s[0], s[1], 0x31))), 16);
    const __m256i b = _mm256_srai_epi32(
        _mm256_add_epi32(start, _mm256_add_epi32(_mm256_permute2x128_si256(s[2], s[3], 0x20),
                                                 _mm256_permute2x128_si256(s[2], s[3], 0x31))), 16);
    // Lanes hold x, x + 2 | x + 1, x + 3 after the packs.
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_setzero_si256());
    const __m128i ordered = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), ordered);
  }
  return x;
}

__attribute__((target("avx2"))) void ReduceBlendedAVX2(const std::int16_t* v,
                                                       const std::int32_t* first,
                                                       const std::int32_t* wexp, std::size_t pairs,
                                                       std::int32_t bias, std::size_t width,
                                                       TColor32* out) {
  std::size_t x = 0;
  if (pairs % 2 == 0) {
    switch (pairs / 2) {
      case 1: x = ReduceBlendedGroupsAVX2<1>(v, first, wexp, 2, bias, width, out); break;
      case 2: x = ReduceBlendedGroupsAVX2<2>(v, first, wexp, 4, bias, width, out); break;
      case 3: x = ReduceBlendedGroupsAVX2<3>(v, first, wexp, 6, bias, width, out); break;
      case 4: x = ReduceBlendedGroupsAVX2<4>(v, first, wexp, 8, bias, width, out); break;
      default: x = ReduceBlendedGroupsAVX2<0>(v, first, wexp, pairs, bias, width, out); break;
    }
  }
  _mm256_zeroupper();  // see PackRowAVX2
  if (x < width) ReduceBlendedSSE41From(v, first, wexp, pairs, bias, x, width, out);
}

#undef KDL_SPREAD_WORDS

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

void BilinearRunReference(const TColor32* bits, std::int32_t width, std::int32_t height,
                          TColor32 outer, std::int32_t bx, std::int32_t by, const std::int32_t* xs,
                          const std::int32_t* ys, std::int32_t count, TColor32* out) {
  const std::int64_t limX = (std::int64_t{width} - 1) * 256, limY = (std::int64_t{height} - 1) * 256;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t x = bx + xs[i], y = by + ys[i];
    if (x > 0 && y > 0 && x < limX && y < limY) {
      const TColor32* p = bits + static_cast<std::int64_t>(y >> 8) * width + (x >> 8);
      const std::uint32_t wx = 256 - (static_cast<std::uint32_t>(x) & 0xFF);
      const std::uint32_t wy = 256 - (static_cast<std::uint32_t>(y) & 0xFF);
      out[i] = LinearInterpolatorReference(wx << 16, wy << 16, p, p + width);
    } else {
      out[i] = outer;
    }
  }
}

TBlockAverageFunc BlockAverage = BlockAverageReference;
TBilinearRunFunc BilinearRun = BilinearRunReference;
TStretchRowKernels StretchRowKernels = {ReduceRowReference, AccumulateRowReference,
                                        PackRowReference,   CombineRowsReference,
                                        nullptr,            nullptr,
                                        nullptr,            nullptr,
                                        nullptr};
TLinearInterpolatorFunc LinearInterpolator = LinearInterpolatorReference;

void SetupTransformFunctions() { SetupTransformFunctions(ActiveSimdLevel()); }

void SetupTransformFunctions(TSimdLevel level) {
  BilinearRun = level >= TSimdLevel::slAVX2 ? BilinearRunAVX2 : BilinearRunReference;
  if (level >= TSimdLevel::slSSE2) {
    BlockAverage = BlockAverageSSE2;
    LinearInterpolator = LinearInterpolatorSSE2;
  } else {
    BlockAverage = BlockAverageReference;
    LinearInterpolator = LinearInterpolatorReference;
  }
  if (level >= TSimdLevel::slAVX2)
    StretchRowKernels = {ReduceRowSSE41,   AccumulateRowAVX2, PackRowAVX2,
                         CombineRowsAVX2,  ReduceWindowAVX2,  CombineWindowAVX2,
                         PackWindowAVX2,   BlendRowsAVX2,     ReduceBlendedAVX2};
  else if (level >= TSimdLevel::slSSE41)
    StretchRowKernels = {ReduceRowSSE41,   AccumulateRowSSE41, PackRowSSE41,
                         CombineRowsSSE41, ReduceWindowSSE41,  CombineWindowSSE41,
                         PackWindowSSE41,  BlendRowsSSE41,     ReduceBlendedSSE41};
  else
    StretchRowKernels = {ReduceRowReference, AccumulateRowReference, PackRowReference,
                         CombineRowsReference, nullptr, nullptr, nullptr, nullptr, nullptr};
}

namespace {
const TTransformSetup kTransformSetup;
}

}  // namespace kdl
