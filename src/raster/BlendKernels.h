// The kernel sets behind the pointers of Blend.h: the portable reference
// and the SIMD line kernels that replace it level by level. Internal to the
// raster library.
#pragma once

#include "raster/Blend.h"

namespace kdl {

struct TBlendKernelSet {
  TCombineReg CombineReg;
  TCombineMem CombineMem;
  TBlendReg BlendReg;
  TBlendMem BlendMem;
  TBlendRegEx BlendRegEx;
  TBlendMemEx BlendMemEx;
  TBlendLine BlendLine;
  TBlendLineEx BlendLineEx;
  TCombineReg CombMergeReg;
  TCombineMem CombMergeMem;
  TBlendReg MergeReg;
  TBlendMem MergeMem;
  TBlendRegEx MergeRegEx;
  TBlendMemEx MergeMemEx;
  TBlendLine MergeLine;
  TBlendLineEx MergeLineEx;
};

// The portable integer kernels; every other set must give the same bytes.
const TBlendKernelSet& ReferenceBlendKernels();

#if defined(__x86_64__) || defined(__i386__)
#define KDL_BLEND_X86 1
// Each replaces the line kernels of the set with its own.
void InstallSse2BlendKernels(TBlendKernelSet& set);
void InstallSse41BlendKernels(TBlendKernelSet& set);
void InstallAvx2BlendKernels(TBlendKernelSet& set);
#endif

}  // namespace kdl
