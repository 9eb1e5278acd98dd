// SSE4.1 line kernels: the SSE2 kernels' arithmetic, four pixels per step,
// with byte shuffles spreading the per-pixel values over the channels and
// blends for the selects, which together save about a quarter of the
// instructions of the merge. Exact for the same reasons as the SSE2 set.
#include "raster/BlendKernels.h"

#ifdef KDL_BLEND_X86
#include <immintrin.h>

#include <cstdint>

#define KDL_SSE41 __attribute__((target("sse4.1")))
#define KDL_SSE41_INLINE __attribute__((target("sse4.1"), always_inline)) inline
// Lambdas do not inherit their function's target: the step bodies name it.
#define KDL_SSE41_STEP __attribute__((target("sse4.1"), always_inline))

namespace kdl {
namespace {

KDL_SSE41_INLINE __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_blendv_epi8(b, a, mask);
}

KDL_SSE41_INLINE int Mask4(__m128i m) { return _mm_movemask_ps(_mm_castsi128_ps(m)); }

// Asks for the lines a few steps ahead of both streams: with the
// arithmetic between the loads, the hardware prefetcher alone leaves main
// memory idle part of the time. Computed on integers, as the address may
// lie past the end of the run (a prefetch never faults).
KDL_SSE41_INLINE void PrefetchAhead(const TColor32* src, const TColor32* dst) {
  constexpr std::uintptr_t kAhead = 2048;
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(src) + kAhead),
               _MM_HINT_T0);
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(dst) + kAhead),
               _MM_HINT_T0);
}

// A per-pixel value (0..65535 in each 32-bit lane) repeated in the four
// 16-bit channel lanes of pixels 0-1 (lo) and 2-3 (hi).
KDL_SSE41_INLINE void Spread16(__m128i v32, __m128i& lo, __m128i& hi) {
  const __m128i both = _mm_or_si128(v32, _mm_slli_epi32(v32, 16));
  lo = _mm_unpacklo_epi32(both, both);
  hi = _mm_unpackhi_epi32(both, both);
}

// ((F*W + 128) >> 8) + ((B*(255 - W) + 128) >> 8) per channel, W given per
// pixel in 32-bit lanes (0..255).
KDL_SSE41_INLINE __m128i CombineTerms(__m128i f, __m128i b, __m128i w32) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(128);
  const __m128i c255 = _mm_set1_epi16(255);
  __m128i wlo, whi;
  Spread16(w32, wlo, whi);
  const __m128i flo = _mm_unpacklo_epi8(f, zero), fhi = _mm_unpackhi_epi8(f, zero);
  const __m128i blo = _mm_unpacklo_epi8(b, zero), bhi = _mm_unpackhi_epi8(b, zero);
  __m128i zlo = _mm_add_epi16(
      _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(flo, wlo), bias), 8),
      _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(blo, _mm_sub_epi16(c255, wlo)), bias), 8));
  __m128i zhi = _mm_add_epi16(
      _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(fhi, whi), bias), 8),
      _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(bhi, _mm_sub_epi16(c255, whi)), bias), 8));
  return _mm_packus_epi16(zlo, zhi);
}

// x div 255 for 16-bit x in 32-bit lanes whose upper halves are zero:
// (x * 0x8081) >> 23 is exact over the whole 16-bit range.
KDL_SSE41_INLINE __m128i Div255(__m128i x) {
  return _mm_srli_epi16(_mm_mulhi_epu16(x, _mm_set1_epi16(static_cast<short>(0x8081))), 7);
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
KDL_SSE41_INLINE void SpreadBytes(__m128i v, __m128i& lo, __m128i& hi) {
  constexpr auto q0 = static_cast<long long>(SpreadControl(0, Byte, How));
  constexpr auto q1 = static_cast<long long>(SpreadControl(1, Byte, How));
  constexpr auto q2 = static_cast<long long>(SpreadControl(2, Byte, How));
  constexpr auto q3 = static_cast<long long>(SpreadControl(3, Byte, How));
  lo = _mm_shuffle_epi8(v, _mm_set_epi64x(q1, q0));
  hi = _mm_shuffle_epi8(v, _mm_set_epi64x(q3, q2));
}

// The merge formula for foreground alphas fa (1..254, also the alpha byte
// of f) over background alphas ba (1..255), both in 32-bit lanes; other
// lanes give junk that the caller replaces.
KDL_SSE41_INLINE __m128i MergeCore(__m128i f, __m128i b, __m128i fa32, __m128i ba32) {
  const __m128i zero = _mm_setzero_si128();
  // Ra = Fa + Ba - Fa*Ba div 255; the product fits in 16 bits, whose upper
  // lane halves are zero.
  const __m128i ra = _mm_sub_epi32(_mm_add_epi32(fa32, ba32),
                                      Div255(_mm_mullo_epi16(fa32, ba32)));
  // 65536 div Ra through a float quotient: it is never within half an ulp
  // of the next integer for Ra <= 255, so truncation is exact. Ra >= 2 on
  // the lanes kept, so the scale fits 16 bits.
  const __m128 raf = _mm_max_ps(_mm_cvtepi32_ps(ra), _mm_set1_ps(1.0f));
  const __m128i scale = _mm_cvttps_epi32(_mm_div_ps(_mm_set1_ps(65536.0f), raf));

  __m128i slo, shi, falo, fahi, ba8lo, ba8hi;
  SpreadBytes<0, spWord>(scale, slo, shi);
  SpreadBytes<3, spByte>(f, falo, fahi);
  SpreadBytes<3, spByteHigh>(b, ba8lo, ba8hi);
  const __m128i c256 = _mm_set1_epi16(256);
  const __m128i top = _mm_set1_epi16(static_cast<short>(0xFF00));
  const __m128i flo = _mm_unpacklo_epi8(f, zero), fhi = _mm_unpackhi_epi8(f, zero);
  const __m128i blo = _mm_unpacklo_epi8(b, zero), bhi = _mm_unpackhi_epi8(b, zero);
  // Bp = (Ba*Bc) >> 8 = (Ba*256*Bc) >> 16.
  const __m128i bplo = _mm_mulhi_epu16(ba8lo, blo);
  const __m128i bphi = _mm_mulhi_epu16(ba8hi, bhi);
  // Bp + ((Fa*(Fc - Bp)) sar 8) = (Bp*(256 - Fa) + Fa*Fc) >> 8, all terms
  // non-negative and the sum at most 255*256. Kept as sum*256 (the top
  // byte) for the multiply-high that follows.
  const __m128i sumlo = _mm_and_si128(
      _mm_add_epi16(_mm_mullo_epi16(bplo, _mm_sub_epi16(c256, falo)),
                       _mm_mullo_epi16(falo, flo)),
      top);
  const __m128i sumhi = _mm_and_si128(
      _mm_add_epi16(_mm_mullo_epi16(bphi, _mm_sub_epi16(c256, fahi)),
                       _mm_mullo_epi16(fahi, fhi)),
      top);
  // (scale*sum) >> 8 = (scale*sum*256) >> 16; it never exceeds 254, so the
  // byte the reference keeps is the whole value.
  const __m128i zlo = _mm_mulhi_epu16(slo, sumlo);
  const __m128i zhi = _mm_mulhi_epu16(shi, sumhi);
  const __m128i rgb =
      _mm_and_si128(_mm_packus_epi16(zlo, zhi), _mm_set1_epi32(0x00FFFFFF));
  return _mm_or_si128(rgb, _mm_slli_epi32(ra, 24));
}

// Hands each step of four pixels its foreground and its destination;
// returns how far the steps went, the rest being the reference's.
template <class Step>
KDL_SSE41_INLINE std::int32_t Walk(const TColor32* src, TColor32* dst, std::int32_t count, Step step) {
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    PrefetchAhead(src + i, dst + i);
    step(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)), reinterpret_cast<__m128i*>(dst + i));
  }
  return i;
}

// The shortcuts of a whole step: all clear leaves B, all opaque stores F.
// True when the step is done.
KDL_SSE41_INLINE bool WholeStep(__m128i f, __m128i opaque, __m128i clear, __m128i* d) {
  if (Mask4(clear) == 15) return true;
  if (Mask4(opaque) != 15) return false;
  _mm_storeu_si128(d, f);
  return true;
}

KDL_SSE41 void BlendLineSse41(const TColor32* src, TColor32* dst, std::int32_t count) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i c255 = _mm_set1_epi32(255);
  const std::int32_t i = Walk(src, dst, count, [&](__m128i f, __m128i* d) KDL_SSE41_STEP {
    const __m128i fa = _mm_srli_epi32(f, 24);
    const __m128i opaque = _mm_cmpeq_epi32(fa, c255);
    const __m128i clear = _mm_cmpeq_epi32(fa, zero);
    if (WholeStep(f, opaque, clear, d)) return;
    const __m128i b = _mm_loadu_si128(d);
    _mm_storeu_si128(d, Select(opaque, f, Select(clear, b, CombineTerms(f, b, fa))));
  });
  ReferenceBlendKernels().BlendLine(src + i, dst + i, count - i);
}

KDL_SSE41 void BlendLineExSse41(const TColor32* src, TColor32* dst, std::int32_t count,
                              TColor32 m) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i m1 = _mm_set1_epi32(static_cast<int>((m > 255 ? 255 : m) + 1));
  const std::int32_t i = Walk(src, dst, count, [&](__m128i f, __m128i* d) KDL_SSE41_STEP {
    // W = ((M + 1)*Fa) >> 8, at most 65280 before the shift.
    const __m128i w = _mm_srli_epi32(_mm_mullo_epi16(_mm_srli_epi32(f, 24), m1), 8);
    const __m128i none = _mm_cmpeq_epi32(w, zero);
    if (Mask4(none) == 15) return;
    const __m128i b = _mm_loadu_si128(d);
    _mm_storeu_si128(d, Select(none, b, CombineTerms(f, b, w)));
  });
  ReferenceBlendKernels().BlendLineEx(src + i, dst + i, count - i, m);
}

KDL_SSE41 void MergeLineSse41(const TColor32* src, TColor32* dst, std::int32_t count) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i c255 = _mm_set1_epi32(255);
  const std::int32_t i = Walk(src, dst, count, [&](__m128i f, __m128i* d) KDL_SSE41_STEP {
    const __m128i fa = _mm_srli_epi32(f, 24);
    const __m128i fOpaque = _mm_cmpeq_epi32(fa, c255);
    const __m128i fClear = _mm_cmpeq_epi32(fa, zero);
    if (WholeStep(f, fOpaque, fClear, d)) return;
    const __m128i b = _mm_loadu_si128(d);
    const __m128i ba = _mm_srli_epi32(b, 24);
    // F where Fa = 255, or where Ba = 0 unless Fa = 0; B where Fa = 0.
    const __m128i takeF =
        _mm_or_si128(fOpaque, _mm_andnot_si128(fClear, _mm_cmpeq_epi32(ba, zero)));
    _mm_storeu_si128(d, Select(fClear, b, Select(takeF, f, MergeCore(f, b, fa, ba))));
  });
  ReferenceBlendKernels().MergeLine(src + i, dst + i, count - i);
}

KDL_SSE41 void MergeLineExSse41(const TColor32* src, TColor32* dst, std::int32_t count,
                              TColor32 m) {
  if (m >= 255) {
    // Full master alpha is the plain merge.
    MergeLineSse41(src, dst, count);
    return;
  }
  const __m128i zero = _mm_setzero_si128();
  const __m128i mm = _mm_set1_epi32(static_cast<int>(m));
  const __m128i rgbMask = _mm_set1_epi32(0x00FFFFFF);
  const __m128i c255 = _mm_set1_epi32(255);
  // At M = 0 an opaque F leaves B even over a clear background.
  const __m128i mZero = _mm_set1_epi32(m == 0 ? -1 : 0);
  const std::int32_t i = Walk(src, dst, count, [&](__m128i f, __m128i* d) KDL_SSE41_STEP {
    const __m128i fa = _mm_srli_epi32(f, 24);
    const __m128i fClear = _mm_cmpeq_epi32(fa, zero);
    if (Mask4(fClear) == 15) return;
    const __m128i b = _mm_loadu_si128(d);
    const __m128i ba = _mm_srli_epi32(b, 24);
    // Fa' = M*Fa div 255, below 255 as M < 255 (and 0 for M = 0, where an
    // opaque F gives B like any other with Ba > 0).
    const __m128i faM = Div255(_mm_mullo_epi16(fa, mm));
    const __m128i bClear = _mm_cmpeq_epi32(ba, zero);
    // Over a clear background: F's colour at alpha Fa'. Otherwise B where
    // Fa' = 0, else the merge by Fa'.
    const __m128i fm = _mm_or_si128(_mm_and_si128(f, rgbMask), _mm_slli_epi32(faM, 24));
    __m128i takeB = _mm_or_si128(fClear, _mm_andnot_si128(bClear, _mm_cmpeq_epi32(faM, zero)));
    takeB = _mm_or_si128(takeB, _mm_and_si128(mZero, _mm_cmpeq_epi32(fa, c255)));
    _mm_storeu_si128(d, Select(takeB, b, Select(bClear, fm, MergeCore(fm, b, faM, ba))));
  });
  ReferenceBlendKernels().MergeLineEx(src + i, dst + i, count - i, m);
}

}  // namespace

void InstallSse41BlendKernels(TBlendKernelSet& set) {
  set.BlendLine = BlendLineSse41;
  set.BlendLineEx = BlendLineExSse41;
  set.MergeLine = MergeLineSse41;
  set.MergeLineEx = MergeLineExSse41;
}

}  // namespace kdl

#endif  // KDL_BLEND_X86
