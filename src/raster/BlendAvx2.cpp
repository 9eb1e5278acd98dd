// AVX2 line kernels: the SSE2 kernels' arithmetic on eight pixels per step.
// The unpack, shuffle and pack steps work within each 128-bit half, so the
// pixel order comes out as it went in. Exact against the reference for the
// same reasons as the SSE2 set.
#include "raster/BlendKernels.h"

#ifdef KDL_BLEND_X86
#include <immintrin.h>

#include <cstdint>

#define KDL_AVX2 __attribute__((target("avx2")))
#define KDL_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline
// Lambdas do not inherit their function's target: the step bodies name it.
#define KDL_AVX2_STEP __attribute__((target("avx2"), always_inline))

namespace kdl {
namespace {

KDL_AVX2_INLINE __m256i Select(__m256i mask, __m256i a, __m256i b) {
  return _mm256_blendv_epi8(b, a, mask);
}

KDL_AVX2_INLINE int Mask8(__m256i m) { return _mm256_movemask_ps(_mm256_castsi256_ps(m)); }

// Asks for the lines a few steps ahead of both streams: with the
// arithmetic between the loads, the hardware prefetcher alone leaves main
// memory idle part of the time. Computed on integers, as the address may
// lie past the end of the run (a prefetch never faults).
KDL_AVX2_INLINE void PrefetchAhead(const TColor32* src, const TColor32* dst) {
  constexpr std::uintptr_t kAhead = 2048;
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(src) + kAhead),
               _MM_HINT_T0);
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(dst) + kAhead),
               _MM_HINT_T0);
}

// A per-pixel value (0..65535 in each 32-bit lane) repeated in the four
// 16-bit channel lanes of pixels 0-1 and 4-5 (lo), 2-3 and 6-7 (hi).
KDL_AVX2_INLINE void Spread16(__m256i v32, __m256i& lo, __m256i& hi) {
  const __m256i both = _mm256_or_si256(v32, _mm256_slli_epi32(v32, 16));
  lo = _mm256_unpacklo_epi32(both, both);
  hi = _mm256_unpackhi_epi32(both, both);
}

// ((F*W + 128) >> 8) + ((B*(255 - W) + 128) >> 8) per channel, W given per
// pixel in 32-bit lanes (0..255).
KDL_AVX2_INLINE __m256i CombineTerms(__m256i f, __m256i b, __m256i w32) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i bias = _mm256_set1_epi16(128);
  const __m256i c255 = _mm256_set1_epi16(255);
  __m256i wlo, whi;
  Spread16(w32, wlo, whi);
  const __m256i flo = _mm256_unpacklo_epi8(f, zero), fhi = _mm256_unpackhi_epi8(f, zero);
  const __m256i blo = _mm256_unpacklo_epi8(b, zero), bhi = _mm256_unpackhi_epi8(b, zero);
  __m256i zlo = _mm256_add_epi16(
      _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(flo, wlo), bias), 8),
      _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(blo, _mm256_sub_epi16(c255, wlo)), bias), 8));
  __m256i zhi = _mm256_add_epi16(
      _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(fhi, whi), bias), 8),
      _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(bhi, _mm256_sub_epi16(c255, whi)), bias), 8));
  return _mm256_packus_epi16(zlo, zhi);
}

// x div 255 for 16-bit x in 32-bit lanes whose upper halves are zero:
// (x * 0x8081) >> 23 is exact over the whole 16-bit range.
KDL_AVX2_INLINE __m256i Div255(__m256i x) {
  return _mm256_srli_epi16(_mm256_mulhi_epu16(x, _mm256_set1_epi16(static_cast<short>(0x8081))), 7);
}

// How SpreadBytes fills each 16-bit lane from a pixel's bytes.
enum TSpread { spByte, spWord, spByteHigh };

// A pshufb control that repeats, in the four 16-bit lanes of a pixel, its
// byte `byte` (spByte), the word starting there (spWord), or that byte
// times 256 (spByteHigh).
constexpr std::uint64_t SpreadControl(int pixel, int byte, TSpread how) {
  const std::uint64_t at = static_cast<std::uint64_t>(4 * pixel + byte);
  std::uint64_t lane = 0;
  switch (how) {
    case spByte: lane = at | 0x8000u; break;
    case spWord: lane = at | (at + 1) << 8; break;
    case spByteHigh: lane = 0x80u | at << 8; break;
  }
  return lane * 0x0001000100010001ull;
}

template <int Byte, TSpread How>
KDL_AVX2_INLINE void SpreadBytes(__m256i v, __m256i& lo, __m256i& hi) {
  constexpr auto q0 = static_cast<long long>(SpreadControl(0, Byte, How));
  constexpr auto q1 = static_cast<long long>(SpreadControl(1, Byte, How));
  constexpr auto q2 = static_cast<long long>(SpreadControl(2, Byte, How));
  constexpr auto q3 = static_cast<long long>(SpreadControl(3, Byte, How));
  lo = _mm256_shuffle_epi8(v, _mm256_set_epi64x(q1, q0, q1, q0));
  hi = _mm256_shuffle_epi8(v, _mm256_set_epi64x(q3, q2, q3, q2));
}

// The merge formula for foreground alphas fa (1..254, also the alpha byte
// of f) over background alphas ba (1..255), both in 32-bit lanes; other
// lanes give junk that the caller replaces.
KDL_AVX2_INLINE __m256i MergeCore(__m256i f, __m256i b, __m256i fa32, __m256i ba32) {
  const __m256i zero = _mm256_setzero_si256();
  // Ra = Fa + Ba - Fa*Ba div 255; the product fits in 16 bits, whose upper
  // lane halves are zero.
  const __m256i ra = _mm256_sub_epi32(_mm256_add_epi32(fa32, ba32),
                                      Div255(_mm256_mullo_epi16(fa32, ba32)));
  // 65536 div Ra through a float quotient: it is never within half an ulp
  // of the next integer for Ra <= 255, so truncation is exact. Ra >= 2 on
  // the lanes kept, so the scale fits 16 bits.
  const __m256 raf = _mm256_max_ps(_mm256_cvtepi32_ps(ra), _mm256_set1_ps(1.0f));
  const __m256i scale = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_set1_ps(65536.0f), raf));

  __m256i slo, shi, falo, fahi, ba8lo, ba8hi;
  SpreadBytes<0, spWord>(scale, slo, shi);
  SpreadBytes<3, spByte>(f, falo, fahi);
  SpreadBytes<3, spByteHigh>(b, ba8lo, ba8hi);
  const __m256i c256 = _mm256_set1_epi16(256);
  const __m256i top = _mm256_set1_epi16(static_cast<short>(0xFF00));
  const __m256i flo = _mm256_unpacklo_epi8(f, zero), fhi = _mm256_unpackhi_epi8(f, zero);
  const __m256i blo = _mm256_unpacklo_epi8(b, zero), bhi = _mm256_unpackhi_epi8(b, zero);
  // Bp = (Ba*Bc) >> 8 = (Ba*256*Bc) >> 16.
  const __m256i bplo = _mm256_mulhi_epu16(ba8lo, blo);
  const __m256i bphi = _mm256_mulhi_epu16(ba8hi, bhi);
  // Bp + ((Fa*(Fc - Bp)) sar 8) = (Bp*(256 - Fa) + Fa*Fc) >> 8, all terms
  // non-negative and the sum at most 255*256. Kept as sum*256 (the top
  // byte) for the multiply-high that follows.
  const __m256i sumlo = _mm256_and_si256(
      _mm256_add_epi16(_mm256_mullo_epi16(bplo, _mm256_sub_epi16(c256, falo)),
                       _mm256_mullo_epi16(falo, flo)),
      top);
  const __m256i sumhi = _mm256_and_si256(
      _mm256_add_epi16(_mm256_mullo_epi16(bphi, _mm256_sub_epi16(c256, fahi)),
                       _mm256_mullo_epi16(fahi, fhi)),
      top);
  // (scale*sum) >> 8 = (scale*sum*256) >> 16; it never exceeds 254, so the
  // byte the reference keeps is the whole value.
  const __m256i zlo = _mm256_mulhi_epu16(slo, sumlo);
  const __m256i zhi = _mm256_mulhi_epu16(shi, sumhi);
  const __m256i rgb =
      _mm256_and_si256(_mm256_packus_epi16(zlo, zhi), _mm256_set1_epi32(0x00FFFFFF));
  return _mm256_or_si256(rgb, _mm256_slli_epi32(ra, 24));
}

// Hands each step of eight pixels its foreground and its destination;
// returns how far the steps went, the rest being the reference's.
template <class Step>
KDL_AVX2_INLINE std::int32_t Walk(const TColor32* src, TColor32* dst, std::int32_t count, Step step) {
  std::int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    PrefetchAhead(src + i, dst + i);
    step(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i)), reinterpret_cast<__m256i*>(dst + i));
  }
  return i;
}

// The shortcuts of a whole step: all clear leaves B, all opaque stores F.
// True when the step is done.
KDL_AVX2_INLINE bool WholeStep(__m256i f, __m256i opaque, __m256i clear, __m256i* d) {
  if (Mask8(clear) == 0xFF) return true;
  if (Mask8(opaque) != 0xFF) return false;
  _mm256_storeu_si256(d, f);
  return true;
}

KDL_AVX2 void BlendLineAvx2(const TColor32* src, TColor32* dst, std::int32_t count) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i c255 = _mm256_set1_epi32(255);
  const std::int32_t i = Walk(src, dst, count, [&](__m256i f, __m256i* d) KDL_AVX2_STEP {
    const __m256i fa = _mm256_srli_epi32(f, 24);
    const __m256i opaque = _mm256_cmpeq_epi32(fa, c255);
    const __m256i clear = _mm256_cmpeq_epi32(fa, zero);
    if (WholeStep(f, opaque, clear, d)) return;
    const __m256i b = _mm256_loadu_si256(d);
    _mm256_storeu_si256(d, Select(opaque, f, Select(clear, b, CombineTerms(f, b, fa))));
  });
  ReferenceBlendKernels().BlendLine(src + i, dst + i, count - i);
}

KDL_AVX2 void BlendLineExAvx2(const TColor32* src, TColor32* dst, std::int32_t count,
                              TColor32 m) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i m1 = _mm256_set1_epi32(static_cast<int>((m > 255 ? 255 : m) + 1));
  const std::int32_t i = Walk(src, dst, count, [&](__m256i f, __m256i* d) KDL_AVX2_STEP {
    // W = ((M + 1)*Fa) >> 8, at most 65280 before the shift.
    const __m256i w = _mm256_srli_epi32(_mm256_mullo_epi16(_mm256_srli_epi32(f, 24), m1), 8);
    const __m256i none = _mm256_cmpeq_epi32(w, zero);
    if (Mask8(none) == 0xFF) return;
    const __m256i b = _mm256_loadu_si256(d);
    _mm256_storeu_si256(d, Select(none, b, CombineTerms(f, b, w)));
  });
  ReferenceBlendKernels().BlendLineEx(src + i, dst + i, count - i, m);
}

KDL_AVX2 void MergeLineAvx2(const TColor32* src, TColor32* dst, std::int32_t count) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i c255 = _mm256_set1_epi32(255);
  const std::int32_t i = Walk(src, dst, count, [&](__m256i f, __m256i* d) KDL_AVX2_STEP {
    const __m256i fa = _mm256_srli_epi32(f, 24);
    const __m256i fOpaque = _mm256_cmpeq_epi32(fa, c255);
    const __m256i fClear = _mm256_cmpeq_epi32(fa, zero);
    if (WholeStep(f, fOpaque, fClear, d)) return;
    const __m256i b = _mm256_loadu_si256(d);
    const __m256i ba = _mm256_srli_epi32(b, 24);
    // F where Fa = 255, or where Ba = 0 unless Fa = 0; B where Fa = 0.
    const __m256i takeF =
        _mm256_or_si256(fOpaque, _mm256_andnot_si256(fClear, _mm256_cmpeq_epi32(ba, zero)));
    _mm256_storeu_si256(d, Select(fClear, b, Select(takeF, f, MergeCore(f, b, fa, ba))));
  });
  ReferenceBlendKernels().MergeLine(src + i, dst + i, count - i);
}

KDL_AVX2 void MergeLineExAvx2(const TColor32* src, TColor32* dst, std::int32_t count,
                              TColor32 m) {
  if (m >= 255) {
    // Full master alpha is the plain merge.
    MergeLineAvx2(src, dst, count);
    return;
  }
  const __m256i zero = _mm256_setzero_si256();
  const __m256i mm = _mm256_set1_epi32(static_cast<int>(m));
  const __m256i rgbMask = _mm256_set1_epi32(0x00FFFFFF);
  const __m256i c255 = _mm256_set1_epi32(255);
  // At M = 0 an opaque F leaves B even over a clear background.
  const __m256i mZero = _mm256_set1_epi32(m == 0 ? -1 : 0);
  const std::int32_t i = Walk(src, dst, count, [&](__m256i f, __m256i* d) KDL_AVX2_STEP {
    const __m256i fa = _mm256_srli_epi32(f, 24);
    const __m256i fClear = _mm256_cmpeq_epi32(fa, zero);
    if (Mask8(fClear) == 0xFF) return;
    const __m256i b = _mm256_loadu_si256(d);
    const __m256i ba = _mm256_srli_epi32(b, 24);
    // Fa' = M*Fa div 255, below 255 as M < 255 (and 0 for M = 0, where an
    // opaque F gives B like any other with Ba > 0).
    const __m256i faM = Div255(_mm256_mullo_epi16(fa, mm));
    const __m256i bClear = _mm256_cmpeq_epi32(ba, zero);
    // Over a clear background: F's colour at alpha Fa'. Otherwise B where
    // Fa' = 0, else the merge by Fa'.
    const __m256i fm = _mm256_or_si256(_mm256_and_si256(f, rgbMask), _mm256_slli_epi32(faM, 24));
    __m256i takeB = _mm256_or_si256(fClear, _mm256_andnot_si256(bClear, _mm256_cmpeq_epi32(faM, zero)));
    takeB = _mm256_or_si256(takeB, _mm256_and_si256(mZero, _mm256_cmpeq_epi32(fa, c255)));
    _mm256_storeu_si256(d, Select(takeB, b, Select(bClear, fm, MergeCore(fm, b, faM, ba))));
  });
  ReferenceBlendKernels().MergeLineEx(src + i, dst + i, count - i, m);
}

}  // namespace

void InstallAvx2BlendKernels(TBlendKernelSet& set) {
  set.BlendLine = BlendLineAvx2;
  set.BlendLineEx = BlendLineExAvx2;
  set.MergeLine = MergeLineAvx2;
  set.MergeLineEx = MergeLineExAvx2;
}

}  // namespace kdl

#endif  // KDL_BLEND_X86
