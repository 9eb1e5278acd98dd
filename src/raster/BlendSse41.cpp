// SSE4.1 line kernels: the SSE2 kernels with byte shuffles spreading the
// per-pixel values over the channels and blends for the selects, which
// together save about a quarter of the instructions of the merge.
#include "raster/BlendKernels.h"

#ifdef KDL_BLEND_X86
#define KDL_SIMD_TARGET "sse4.1"
#include "raster/BlendSimd.h"

namespace kdl {
namespace {

struct TSse41 : TSimd128 {
  static constexpr bool kShuffle8 = true;
  // a where mask is set, else b.
  static KDL_SIMD_INLINE T Select(T mask, T a, T b) { return _mm_blendv_epi8(b, a, mask); }
  static KDL_SIMD_INLINE T Shuffle8(T v, T control) { return _mm_shuffle_epi8(v, control); }
  static KDL_SIMD_INLINE T Set64(long long hi, long long lo) { return _mm_set_epi64x(hi, lo); }
};

}  // namespace

void InstallSse41BlendKernels(TBlendKernelSet& set) { InstallSimdLineKernels<TSse41>(set); }

}  // namespace kdl

#endif  // KDL_BLEND_X86
