// SSE2 line kernels: four pixels per step, the selects made of and/andnot
// and the per-pixel values spread over the channels by shifts and unpacks.
#include "raster/BlendKernels.h"

#ifdef KDL_BLEND_X86
#define KDL_SIMD_TARGET "sse2"
#include "raster/BlendSimd.h"

namespace kdl {
namespace {

struct TSse2 : TSimd128 {
  static constexpr bool kShuffle8 = false;
  // a where mask is set, else b.
  static KDL_SIMD_INLINE T Select(T mask, T a, T b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
  }
};

}  // namespace

void InstallSse2BlendKernels(TBlendKernelSet& set) { InstallSimdLineKernels<TSse2>(set); }

}  // namespace kdl

#endif  // KDL_BLEND_X86
