// AVX2 line kernels: the SSE4.1 kernels on eight pixels per step. The
// unpack, shuffle and pack steps work within each 128-bit half, so the
// pixel order comes out as it went in.
#include "raster/BlendKernels.h"

#ifdef KDL_BLEND_X86
#define KDL_SIMD_TARGET "avx2"
#include "raster/BlendSimd.h"

namespace kdl {
namespace {

struct TAvx2 {
  using T = __m256i;
  using TF = __m256;
  static constexpr int kLanes = 8;
  static constexpr bool kShuffle8 = true;

  static KDL_SIMD_INLINE T Load(const void* p) { return _mm256_loadu_si256(static_cast<const T*>(p)); }
  static KDL_SIMD_INLINE void Store(void* p, T v) { _mm256_storeu_si256(static_cast<T*>(p), v); }
  static KDL_SIMD_INLINE T Zero() { return _mm256_setzero_si256(); }
  static KDL_SIMD_INLINE T Set16(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static KDL_SIMD_INLINE T Set32(int v) { return _mm256_set1_epi32(v); }
  // The 128-bit control (hi, lo) in both halves.
  static KDL_SIMD_INLINE T Set64(long long hi, long long lo) {
    return _mm256_set_epi64x(hi, lo, hi, lo);
  }
  static KDL_SIMD_INLINE T Or(T a, T b) { return _mm256_or_si256(a, b); }
  static KDL_SIMD_INLINE T And(T a, T b) { return _mm256_and_si256(a, b); }
  static KDL_SIMD_INLINE T AndNot(T a, T b) { return _mm256_andnot_si256(a, b); }
  // a where mask is set, else b.
  static KDL_SIMD_INLINE T Select(T mask, T a, T b) { return _mm256_blendv_epi8(b, a, mask); }
  static KDL_SIMD_INLINE T Add16(T a, T b) { return _mm256_add_epi16(a, b); }
  static KDL_SIMD_INLINE T Sub16(T a, T b) { return _mm256_sub_epi16(a, b); }
  static KDL_SIMD_INLINE T Mullo16(T a, T b) { return _mm256_mullo_epi16(a, b); }
  static KDL_SIMD_INLINE T Mulhi16(T a, T b) { return _mm256_mulhi_epu16(a, b); }
  static KDL_SIMD_INLINE T Shr16(T a, int n) { return _mm256_srli_epi16(a, n); }
  static KDL_SIMD_INLINE T Add32(T a, T b) { return _mm256_add_epi32(a, b); }
  static KDL_SIMD_INLINE T Sub32(T a, T b) { return _mm256_sub_epi32(a, b); }
  static KDL_SIMD_INLINE T Shr32(T a, int n) { return _mm256_srli_epi32(a, n); }
  static KDL_SIMD_INLINE T Shl32(T a, int n) { return _mm256_slli_epi32(a, n); }
  static KDL_SIMD_INLINE T Eq32(T a, T b) { return _mm256_cmpeq_epi32(a, b); }
  static KDL_SIMD_INLINE T UnpackLo8(T a, T b) { return _mm256_unpacklo_epi8(a, b); }
  static KDL_SIMD_INLINE T UnpackHi8(T a, T b) { return _mm256_unpackhi_epi8(a, b); }
  static KDL_SIMD_INLINE T UnpackLo32(T a, T b) { return _mm256_unpacklo_epi32(a, b); }
  static KDL_SIMD_INLINE T UnpackHi32(T a, T b) { return _mm256_unpackhi_epi32(a, b); }
  static KDL_SIMD_INLINE T PackUs16(T a, T b) { return _mm256_packus_epi16(a, b); }
  static KDL_SIMD_INLINE T Shuffle8(T v, T control) { return _mm256_shuffle_epi8(v, control); }
  static KDL_SIMD_INLINE int Mask(T m) { return _mm256_movemask_ps(_mm256_castsi256_ps(m)); }
  static KDL_SIMD_INLINE TF ToFloat(T a) { return _mm256_cvtepi32_ps(a); }
  static KDL_SIMD_INLINE T Truncate(TF a) { return _mm256_cvttps_epi32(a); }
  static KDL_SIMD_INLINE TF SetF(float v) { return _mm256_set1_ps(v); }
  static KDL_SIMD_INLINE TF MaxF(TF a, TF b) { return _mm256_max_ps(a, b); }
  static KDL_SIMD_INLINE TF DivF(TF a, TF b) { return _mm256_div_ps(a, b); }
};

}  // namespace

void InstallAvx2BlendKernels(TBlendKernelSet& set) { InstallSimdLineKernels<TAvx2>(set); }

}  // namespace kdl

#endif  // KDL_BLEND_X86
