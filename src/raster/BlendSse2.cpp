#include "raster/BlendKernels.h"

namespace kdl {
#ifdef KDL_BLEND_X86
void InstallSse2BlendKernels(TBlendKernelSet&) {}
#endif
}  // namespace kdl
