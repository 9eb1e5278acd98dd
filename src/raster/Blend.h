// Per-pixel arithmetic: combining by a weight, blending over an opaque
// background (cmBlend), merging over a translucent one (cmMerge), with
// master-alpha and whole-run forms, and the channel operators. The portable
// integer kernels are the reference; SIMD sets chosen by the processor's
// features give the same bytes.
#pragma once

#include <cstdint>

#include "platform/CpuFeatures.h"
#include "raster/Types.h"

namespace kdl {

enum TCombineMode { cmBlend = 0, cmMerge = 1 };

using TCombineReg = TColor32 (*)(TColor32 x, TColor32 y, TColor32 w);
using TCombineMem = void (*)(TColor32 f, TColor32& b, TColor32 w);
using TBlendReg = TColor32 (*)(TColor32 f, TColor32 b);
using TBlendMem = void (*)(TColor32 f, TColor32& b);
using TBlendRegEx = TColor32 (*)(TColor32 f, TColor32 b, TColor32 m);
using TBlendMemEx = void (*)(TColor32 f, TColor32& b, TColor32 m);
using TBlendLine = void (*)(const TColor32* src, TColor32* dst, std::int32_t count);
using TBlendLineEx = void (*)(const TColor32* src, TColor32* dst, std::int32_t count,
                              TColor32 m);

// The kernels in force (chosen by SetupBlendFunctions).
extern TCombineReg CombineReg;
extern TCombineMem CombineMem;
extern TBlendReg BlendReg;
extern TBlendMem BlendMem;
extern TBlendRegEx BlendRegEx;
extern TBlendMemEx BlendMemEx;
extern TBlendLine BlendLine;
extern TBlendLineEx BlendLineEx;
extern TCombineReg CombMergeReg;
extern TCombineMem CombMergeMem;
extern TBlendReg MergeReg;
extern TBlendMem MergeMem;
extern TBlendRegEx MergeRegEx;
extern TBlendMemEx MergeMemEx;
extern TBlendLine MergeLine;
extern TBlendLineEx MergeLineEx;

// Indexed by TCombineMode: every blend in the system goes through these.
extern TBlendReg BLEND_REG[2];
extern TBlendMem BLEND_MEM[2];
extern TCombineReg COMBINE_REG[2];
extern TCombineMem COMBINE_MEM[2];
extern TBlendRegEx BLEND_REG_EX[2];
extern TBlendMemEx BLEND_MEM_EX[2];
extern TBlendLine BLEND_LINE[2];
extern TBlendLineEx BLEND_LINE_EX[2];

// Channel operators (alpha included).
TColor32 ColorAdd(TColor32 x, TColor32 y);
TColor32 ColorSub(TColor32 x, TColor32 y);
TColor32 ColorDiv(TColor32 x, TColor32 y);
TColor32 ColorModulate(TColor32 x, TColor32 y);
TColor32 ColorMax(TColor32 x, TColor32 y);
TColor32 ColorMin(TColor32 x, TColor32 y);
TColor32 ColorDifference(TColor32 x, TColor32 y);
TColor32 ColorExclusion(TColor32 x, TColor32 y);

// Kept at the call sites after a run of kernel calls; nothing to clear on
// the processors we run on.
inline void EMMS() {}

// Puts the kernels of a level into every pointer and table (the active
// level when called without one). Runs once at start-up; tests and
// benchmarks call it again to switch levels.
void SetupBlendFunctions();
void SetupBlendFunctions(TSimdLevel level);

}  // namespace kdl
