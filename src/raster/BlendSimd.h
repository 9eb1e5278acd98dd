// The SIMD line kernels, written once over a traits struct V of vector
// operations (V::T the integer vector, V::TF the float one, V::kLanes
// pixels per step) and instantiated by each kernel file for its own
// instruction set. Internal to BlendSse2.cpp, BlendSse41.cpp and
// BlendAvx2.cpp only.
//
// Every function that touches an intrinsic needs the target of its file, so
// the includer defines KDL_SIMD_TARGET (e.g. "avx2") first, and everything
// here lives in an unnamed namespace: each file gets its own copy compiled
// for its own target.
//
// Arithmetic: each channel is widened to 16 bits and every intermediate
// fits in 16 unsigned bits, so the integer formulas of the reference
// kernels are reproduced exactly; the alpha shortcuts become per-pixel
// selects and the remainder of a line goes through the reference.
#pragma once

#ifndef KDL_SIMD_TARGET
#error "define KDL_SIMD_TARGET before including BlendSimd.h"
#endif

#include <immintrin.h>

#include <cstdint>

#include "raster/BlendKernels.h"

#define KDL_SIMD __attribute__((target(KDL_SIMD_TARGET)))
#define KDL_SIMD_INLINE __attribute__((target(KDL_SIMD_TARGET), always_inline)) inline
// Lambdas do not inherit their function's target: the step bodies name it.
#define KDL_SIMD_STEP __attribute__((target(KDL_SIMD_TARGET), always_inline))

namespace kdl {
namespace {

// The operations of the 128-bit sets that SSE2 already has; SSE2 and
// SSE4.1 differ only in the select and the byte shuffle they add to it.
struct TSimd128 {
  using T = __m128i;
  using TF = __m128;
  static constexpr int kLanes = 4;

  static KDL_SIMD_INLINE T Load(const void* p) { return _mm_loadu_si128(static_cast<const T*>(p)); }
  static KDL_SIMD_INLINE void Store(void* p, T v) { _mm_storeu_si128(static_cast<T*>(p), v); }
  static KDL_SIMD_INLINE T Zero() { return _mm_setzero_si128(); }
  static KDL_SIMD_INLINE T Set16(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
  static KDL_SIMD_INLINE T Set32(int v) { return _mm_set1_epi32(v); }
  static KDL_SIMD_INLINE T Or(T a, T b) { return _mm_or_si128(a, b); }
  static KDL_SIMD_INLINE T And(T a, T b) { return _mm_and_si128(a, b); }
  // ~a & b.
  static KDL_SIMD_INLINE T AndNot(T a, T b) { return _mm_andnot_si128(a, b); }
  static KDL_SIMD_INLINE T Add16(T a, T b) { return _mm_add_epi16(a, b); }
  static KDL_SIMD_INLINE T Sub16(T a, T b) { return _mm_sub_epi16(a, b); }
  static KDL_SIMD_INLINE T Mullo16(T a, T b) { return _mm_mullo_epi16(a, b); }
  static KDL_SIMD_INLINE T Mulhi16(T a, T b) { return _mm_mulhi_epu16(a, b); }
  static KDL_SIMD_INLINE T Shr16(T a, int n) { return _mm_srli_epi16(a, n); }
  static KDL_SIMD_INLINE T Add32(T a, T b) { return _mm_add_epi32(a, b); }
  static KDL_SIMD_INLINE T Sub32(T a, T b) { return _mm_sub_epi32(a, b); }
  static KDL_SIMD_INLINE T Shr32(T a, int n) { return _mm_srli_epi32(a, n); }
  static KDL_SIMD_INLINE T Shl32(T a, int n) { return _mm_slli_epi32(a, n); }
  static KDL_SIMD_INLINE T Eq32(T a, T b) { return _mm_cmpeq_epi32(a, b); }
  static KDL_SIMD_INLINE T UnpackLo8(T a, T b) { return _mm_unpacklo_epi8(a, b); }
  static KDL_SIMD_INLINE T UnpackHi8(T a, T b) { return _mm_unpackhi_epi8(a, b); }
  static KDL_SIMD_INLINE T UnpackLo32(T a, T b) { return _mm_unpacklo_epi32(a, b); }
  static KDL_SIMD_INLINE T UnpackHi32(T a, T b) { return _mm_unpackhi_epi32(a, b); }
  static KDL_SIMD_INLINE T PackUs16(T a, T b) { return _mm_packus_epi16(a, b); }
  // One bit per 32-bit lane, from its sign.
  static KDL_SIMD_INLINE int Mask(T m) { return _mm_movemask_ps(_mm_castsi128_ps(m)); }
  static KDL_SIMD_INLINE TF ToFloat(T a) { return _mm_cvtepi32_ps(a); }
  static KDL_SIMD_INLINE T Truncate(TF a) { return _mm_cvttps_epi32(a); }
  static KDL_SIMD_INLINE TF SetF(float v) { return _mm_set1_ps(v); }
  static KDL_SIMD_INLINE TF MaxF(TF a, TF b) { return _mm_max_ps(a, b); }
  static KDL_SIMD_INLINE TF DivF(TF a, TF b) { return _mm_div_ps(a, b); }
};

// Asks for the lines a few steps ahead of both streams: with the
// arithmetic between the loads, the hardware prefetcher alone leaves main
// memory idle part of the time. Computed on integers, as the address may
// lie past the end of the run (a prefetch never faults).
KDL_SIMD_INLINE void PrefetchAhead(const TColor32* src, const TColor32* dst) {
  constexpr std::uintptr_t kAhead = 2048;
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(src) + kAhead),
               _MM_HINT_T0);
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(dst) + kAhead),
               _MM_HINT_T0);
}

// A per-pixel value (0..65535 in each 32-bit lane) repeated in the four
// 16-bit channel lanes of each pixel: the first two pixels of every 128-bit
// half in lo, the other two in hi (the unpacks and packs work within the
// halves, so the pixel order comes out as it went in).
template <class V>
KDL_SIMD_INLINE void Spread16(typename V::T v32, typename V::T& lo, typename V::T& hi) {
  const auto both = V::Or(v32, V::Shl32(v32, 16));
  lo = V::UnpackLo32(both, both);
  hi = V::UnpackHi32(both, both);
}

// How SpreadBytes fills each 16-bit lane from a pixel's bytes.
enum TSpread { spByte, spWord, spByteHigh };

// A byte shuffle control that repeats, in the four 16-bit lanes of a pixel,
// its byte `byte` (spByte), the word starting there (spWord), or that byte
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

// Spread16 from a pixel's bytes in one shuffle each, for the sets that
// have one (V::Shuffle8, with V::Set64 repeating a 128-bit control).
template <class V, int Byte, TSpread How>
KDL_SIMD_INLINE void SpreadBytes(typename V::T v, typename V::T& lo, typename V::T& hi) {
  constexpr auto q0 = static_cast<long long>(SpreadControl(0, Byte, How));
  constexpr auto q1 = static_cast<long long>(SpreadControl(1, Byte, How));
  constexpr auto q2 = static_cast<long long>(SpreadControl(2, Byte, How));
  constexpr auto q3 = static_cast<long long>(SpreadControl(3, Byte, How));
  lo = V::Shuffle8(v, V::Set64(q1, q0));
  hi = V::Shuffle8(v, V::Set64(q3, q2));
}

// ((F*W + 128) >> 8) + ((B*(255 - W) + 128) >> 8) per channel, W given per
// pixel in 32-bit lanes (0..255).
template <class V>
KDL_SIMD_INLINE typename V::T CombineTerms(typename V::T f, typename V::T b, typename V::T w32) {
  using T = typename V::T;
  const T zero = V::Zero();
  const T bias = V::Set16(128);
  const T c255 = V::Set16(255);
  T wlo, whi;
  Spread16<V>(w32, wlo, whi);
  const T flo = V::UnpackLo8(f, zero), fhi = V::UnpackHi8(f, zero);
  const T blo = V::UnpackLo8(b, zero), bhi = V::UnpackHi8(b, zero);
  const auto terms = [&](T fc, T bc, T w) KDL_SIMD_STEP {
    return V::Add16(V::Shr16(V::Add16(V::Mullo16(fc, w), bias), 8),
                    V::Shr16(V::Add16(V::Mullo16(bc, V::Sub16(c255, w)), bias), 8));
  };
  return V::PackUs16(terms(flo, blo, wlo), terms(fhi, bhi, whi));
}

// x div 255 for 16-bit x in 32-bit lanes whose upper halves are zero:
// (x * 0x8081) >> 23 is exact over the whole 16-bit range.
template <class V>
KDL_SIMD_INLINE typename V::T Div255(typename V::T x) {
  return V::Shr16(V::Mulhi16(x, V::Set16(0x8081)), 7);
}

// The merge formula for foreground alphas fa (1..254, also the alpha byte
// of f) over background alphas ba (1..255), both in 32-bit lanes; other
// lanes give junk that the caller replaces.
template <class V>
KDL_SIMD_INLINE typename V::T MergeCore(typename V::T f, typename V::T b, typename V::T fa32,
                                        typename V::T ba32) {
  using T = typename V::T;
  const T zero = V::Zero();
  // Ra = Fa + Ba - Fa*Ba div 255; the product fits in 16 bits, whose upper
  // lane halves are zero.
  const T ra = V::Sub32(V::Add32(fa32, ba32), Div255<V>(V::Mullo16(fa32, ba32)));
  // 65536 div Ra through a float quotient: it is never within half an ulp
  // of the next integer for Ra <= 255, so truncation is exact. Ra >= 2 on
  // the lanes kept, so the scale fits 16 bits.
  const auto raf = V::MaxF(V::ToFloat(ra), V::SetF(1.0f));
  const T scale = V::Truncate(V::DivF(V::SetF(65536.0f), raf));

  T slo, shi, falo, fahi, ba8lo, ba8hi;
  if constexpr (V::kShuffle8) {
    // A shuffle each saves about a quarter of the instructions.
    SpreadBytes<V, 0, spWord>(scale, slo, shi);
    SpreadBytes<V, 3, spByte>(f, falo, fahi);
    SpreadBytes<V, 3, spByteHigh>(b, ba8lo, ba8hi);
  } else {
    Spread16<V>(scale, slo, shi);
    Spread16<V>(fa32, falo, fahi);
    Spread16<V>(V::Shl32(ba32, 8), ba8lo, ba8hi);
  }
  const T c256 = V::Set16(256);
  const T top = V::Set16(0xFF00);
  const auto channels = [&](T fc, T bc, T fa, T ba8, T s) KDL_SIMD_STEP {
    // Bp = (Ba*Bc) >> 8 = (Ba*256*Bc) >> 16.
    const T bp = V::Mulhi16(ba8, bc);
    // Bp + ((Fa*(Fc - Bp)) sar 8) = (Bp*(256 - Fa) + Fa*Fc) >> 8, all terms
    // non-negative and the sum at most 255*256. Kept as sum*256 (the top
    // byte) for the multiply-high that follows.
    const T sum = V::And(V::Add16(V::Mullo16(bp, V::Sub16(c256, fa)), V::Mullo16(fa, fc)), top);
    // (scale*sum) >> 8 = (scale*sum*256) >> 16; it never exceeds 254, so
    // the byte the reference keeps is the whole value.
    return V::Mulhi16(s, sum);
  };
  const T zlo = channels(V::UnpackLo8(f, zero), V::UnpackLo8(b, zero), falo, ba8lo, slo);
  const T zhi = channels(V::UnpackHi8(f, zero), V::UnpackHi8(b, zero), fahi, ba8hi, shi);
  const T rgb = V::And(V::PackUs16(zlo, zhi), V::Set32(0x00FFFFFF));
  return V::Or(rgb, V::Shl32(ra, 24));
}

// Hands each step of V::kLanes pixels its foreground and its destination;
// returns how far the steps went, the rest being the reference's.
template <class V, class Step>
KDL_SIMD_INLINE std::int32_t Walk(const TColor32* src, TColor32* dst, std::int32_t count,
                                  Step step) {
  std::int32_t i = 0;
  for (; i + V::kLanes <= count; i += V::kLanes) {
    PrefetchAhead(src + i, dst + i);
    step(V::Load(src + i), dst + i);
  }
  return i;
}

template <class V>
KDL_SIMD_INLINE bool AllLanes(typename V::T m) {
  return V::Mask(m) == (1 << V::kLanes) - 1;
}

// Walk with the shortcuts of a whole step on the foreground alphas: all
// clear leaves B, all opaque stores F. Any other step stores what
// mix(f, fa, opaque, clear, b) makes of it, fa being F's alphas and the
// masks per pixel.
template <class V, class Mix>
KDL_SIMD_INLINE std::int32_t WalkMixed(const TColor32* src, TColor32* dst, std::int32_t count,
                                       Mix mix) {
  using T = typename V::T;
  const T zero = V::Zero();
  const T c255 = V::Set32(255);
  return Walk<V>(src, dst, count, [&](T f, TColor32* d) KDL_SIMD_STEP {
    const T fa = V::Shr32(f, 24);
    const T opaque = V::Eq32(fa, c255);
    const T clear = V::Eq32(fa, zero);
    if (AllLanes<V>(clear)) return;
    V::Store(d, AllLanes<V>(opaque) ? f : mix(f, fa, opaque, clear, V::Load(d)));
  });
}

template <class V>
KDL_SIMD void BlendLineSimd(const TColor32* src, TColor32* dst, std::int32_t count) {
  using T = typename V::T;
  const std::int32_t i =
      WalkMixed<V>(src, dst, count, [&](T f, T fa, T opaque, T clear, T b) KDL_SIMD_STEP {
        return V::Select(opaque, f, V::Select(clear, b, CombineTerms<V>(f, b, fa)));
      });
  ReferenceBlendKernels().BlendLine(src + i, dst + i, count - i);
}

template <class V>
KDL_SIMD void BlendLineExSimd(const TColor32* src, TColor32* dst, std::int32_t count,
                              TColor32 m) {
  using T = typename V::T;
  const T zero = V::Zero();
  const T m1 = V::Set32(static_cast<int>((m > 255 ? 255 : m) + 1));
  const std::int32_t i = Walk<V>(src, dst, count, [&](T f, TColor32* d) KDL_SIMD_STEP {
    // W = ((M + 1)*Fa) >> 8, at most 65280 before the shift.
    const T w = V::Shr32(V::Mullo16(V::Shr32(f, 24), m1), 8);
    const T none = V::Eq32(w, zero);
    if (AllLanes<V>(none)) return;
    const T b = V::Load(d);
    V::Store(d, V::Select(none, b, CombineTerms<V>(f, b, w)));
  });
  ReferenceBlendKernels().BlendLineEx(src + i, dst + i, count - i, m);
}

template <class V>
KDL_SIMD void MergeLineSimd(const TColor32* src, TColor32* dst, std::int32_t count) {
  using T = typename V::T;
  const std::int32_t i =
      WalkMixed<V>(src, dst, count, [&](T f, T fa, T fOpaque, T fClear, T b) KDL_SIMD_STEP {
        const T ba = V::Shr32(b, 24);
        // F where Fa = 255, or where Ba = 0 unless Fa = 0; B where Fa = 0.
        const T takeF = V::Or(fOpaque, V::AndNot(fClear, V::Eq32(ba, V::Zero())));
        return V::Select(fClear, b, V::Select(takeF, f, MergeCore<V>(f, b, fa, ba)));
      });
  ReferenceBlendKernels().MergeLine(src + i, dst + i, count - i);
}

template <class V>
KDL_SIMD void MergeLineExSimd(const TColor32* src, TColor32* dst, std::int32_t count,
                              TColor32 m) {
  if (m >= 255) {
    // Full master alpha is the plain merge.
    MergeLineSimd<V>(src, dst, count);
    return;
  }
  using T = typename V::T;
  const T zero = V::Zero();
  const T mm = V::Set32(static_cast<int>(m));
  const T rgbMask = V::Set32(0x00FFFFFF);
  const T c255 = V::Set32(255);
  // At M = 0 an opaque F leaves B even over a clear background.
  const T mZero = V::Set32(m == 0 ? -1 : 0);
  const std::int32_t i = Walk<V>(src, dst, count, [&](T f, TColor32* d) KDL_SIMD_STEP {
    const T fa = V::Shr32(f, 24);
    const T fClear = V::Eq32(fa, zero);
    if (AllLanes<V>(fClear)) return;
    const T b = V::Load(d);
    const T ba = V::Shr32(b, 24);
    // Fa' = M*Fa div 255, below 255 as M < 255 (and 0 for M = 0, where an
    // opaque F gives B like any other with Ba > 0).
    const T faM = Div255<V>(V::Mullo16(fa, mm));
    const T bClear = V::Eq32(ba, zero);
    // Over a clear background: F's colour at alpha Fa'. Otherwise B where
    // Fa' = 0, else the merge by Fa'.
    const T fm = V::Or(V::And(f, rgbMask), V::Shl32(faM, 24));
    T takeB = V::Or(fClear, V::AndNot(bClear, V::Eq32(faM, zero)));
    takeB = V::Or(takeB, V::And(mZero, V::Eq32(fa, c255)));
    V::Store(d, V::Select(takeB, b, V::Select(bClear, fm, MergeCore<V>(fm, b, faM, ba))));
  });
  ReferenceBlendKernels().MergeLineEx(src + i, dst + i, count - i, m);
}

// Replaces the line kernels of the set with those over V.
template <class V>
void InstallSimdLineKernels(TBlendKernelSet& set) {
  set.BlendLine = BlendLineSimd<V>;
  set.BlendLineEx = BlendLineExSimd<V>;
  set.MergeLine = MergeLineSimd<V>;
  set.MergeLineEx = MergeLineExSimd<V>;
}

}  // namespace
}  // namespace kdl
