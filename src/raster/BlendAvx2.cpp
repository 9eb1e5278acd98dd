#include "raster/BlendKernels.h"

namespace kdl {
#ifdef KDL_BLEND_X86
void InstallAvx2BlendKernels(TBlendKernelSet&) {}
#endif
}  // namespace kdl
