#include "raster/Blend.h"

#include <algorithm>

#include "raster/BlendKernels.h"

namespace kdl {
namespace blendref {
namespace {

constexpr std::uint32_t kLoMask = 0x00FF00FFu;
constexpr std::uint32_t kBias = 0x00800080u;

// Master alphas and weights are bytes; anything larger counts as 255.
inline std::uint32_t ClampByte(TColor32 v) { return v > 255u ? 255u : v; }

// Per channel ((X*W + 128) >> 8) + ((Y*(255 - W) + 128) >> 8), two channels
// per multiply; each term is at most 255*255 + 128, so no channel spills.
inline TColor32 CombineTerms(TColor32 x, TColor32 y, std::uint32_t w) {
  const std::uint32_t iw = 255u - w;
  std::uint32_t lo = (((x & kLoMask) * w + kBias) >> 8) & kLoMask;
  lo += (((y & kLoMask) * iw + kBias) >> 8) & kLoMask;
  std::uint32_t hi = ((((x >> 8) & kLoMask) * w + kBias) >> 8) & kLoMask;
  hi += ((((y >> 8) & kLoMask) * iw + kBias) >> 8) & kLoMask;
  return lo | (hi << 8);
}

// Foreground alpha fa (1..254) over background alpha ba (1..255).
inline TColor32 MergeCore(TColor32 f, TColor32 b, std::int32_t fa) {
  const std::int32_t ba = static_cast<std::int32_t>(b >> 24);
  const std::int32_t ra = fa + ba - (ba * fa) / 255;  // 2..255 here
  const std::int32_t scale = 65536 / ra;
  TColor32 result = static_cast<TColor32>(ra) << 24;
  for (int shift = 0; shift < 24; shift += 8) {
    const std::int32_t fc = static_cast<std::int32_t>((f >> shift) & 0xFFu);
    const std::int32_t bc = static_cast<std::int32_t>((b >> shift) & 0xFFu);
    const std::int32_t bp = (ba * bc) >> 8;
    // Arithmetic shift of a possibly negative product: a floor division.
    const std::int32_t sum = bp + ((fa * (fc - bp)) >> 8);
    const std::int32_t z = ((scale * sum) >> 8) & 0xFF;
    result |= static_cast<TColor32>(z) << shift;
  }
  return result;
}

TColor32 CombineRegRef(TColor32 x, TColor32 y, TColor32 w) {
  w = ClampByte(w);
  if (w == 0) return y;
  if (w == 255) return x;
  return CombineTerms(x, y, w);
}

void CombineMemRef(TColor32 f, TColor32& b, TColor32 w) {
  w = ClampByte(w);
  if (w == 0) return;
  b = (w == 255) ? f : CombineTerms(f, b, w);
}

TColor32 BlendRegRef(TColor32 f, TColor32 b) {
  const std::uint32_t fa = f >> 24;
  if (fa == 255) return f;
  if (fa == 0) return b;
  return CombineTerms(f, b, fa);
}

void BlendMemRef(TColor32 f, TColor32& b) {
  const std::uint32_t fa = f >> 24;
  if (fa == 0) return;
  b = (fa == 255) ? f : CombineTerms(f, b, fa);
}

TColor32 BlendRegExRef(TColor32 f, TColor32 b, TColor32 m) {
  const std::uint32_t fa = f >> 24;
  if (fa == 0) return b;
  const std::uint32_t w = ((ClampByte(m) + 1) * fa) >> 8;
  if (w == 0) return b;
  // No shortcut at full weight: a channel of 255 comes out as 254.
  return CombineTerms(f, b, w);
}

void BlendMemExRef(TColor32 f, TColor32& b, TColor32 m) { b = BlendRegExRef(f, b, m); }

void BlendLineRef(const TColor32* src, TColor32* dst, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) BlendMemRef(src[i], dst[i]);
}

void BlendLineExRef(const TColor32* src, TColor32* dst, std::int32_t count, TColor32 m) {
  for (std::int32_t i = 0; i < count; ++i) BlendMemExRef(src[i], dst[i], m);
}

TColor32 MergeRegRef(TColor32 f, TColor32 b) {
  const std::int32_t fa = static_cast<std::int32_t>(f >> 24);
  if (fa == 255) return f;
  if (fa == 0) return b;
  if ((b >> 24) == 0) return f;
  return MergeCore(f, b, fa);
}

void MergeMemRef(TColor32 f, TColor32& b) { b = MergeRegRef(f, b); }

TColor32 MergeRegExRef(TColor32 f, TColor32 b, TColor32 m) {
  m = ClampByte(m);
  const std::uint32_t fa = f >> 24;
  if (fa == 255) {
    if (m == 255) return f;
    if (m == 0) return b;
  }
  if (fa == 0) return b;
  const std::uint32_t faM = (m * fa) / 255;
  const TColor32 fm = (f & 0x00FFFFFFu) | (faM << 24);
  if (faM == 255 || (b >> 24) == 0) return fm;
  return MergeRegRef(fm, b);
}

void MergeMemExRef(TColor32 f, TColor32& b, TColor32 m) { b = MergeRegExRef(f, b, m); }

void MergeLineRef(const TColor32* src, TColor32* dst, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) MergeMemRef(src[i], dst[i]);
}

void MergeLineExRef(const TColor32* src, TColor32* dst, std::int32_t count, TColor32 m) {
  for (std::int32_t i = 0; i < count; ++i) MergeMemExRef(src[i], dst[i], m);
}

TColor32 CombMergeRegRef(TColor32 x, TColor32 y, TColor32 w) {
  return MergeRegRef((x & 0x00FFFFFFu) | (ClampByte(w) << 24), y);
}

void CombMergeMemRef(TColor32 x, TColor32& y, TColor32 w) { y = CombMergeRegRef(x, y, w); }

// Applies op to each of the four channels (alpha included).
template <typename Op>
inline TColor32 PerChannel(TColor32 x, TColor32 y, Op op) {
  TColor32 result = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const std::int32_t a = static_cast<std::int32_t>((x >> shift) & 0xFFu);
    const std::int32_t b = static_cast<std::int32_t>((y >> shift) & 0xFFu);
    result |= static_cast<TColor32>(std::clamp(op(a, b), 0, 255)) << shift;
  }
  return result;
}

}  // namespace
}  // namespace blendref

const TBlendKernelSet& ReferenceBlendKernels() {
  using namespace blendref;
  static constexpr TBlendKernelSet kSet = {
      CombineRegRef,   CombineMemRef,   BlendRegRef,     BlendMemRef,
      BlendRegExRef,   BlendMemExRef,   BlendLineRef,    BlendLineExRef,
      CombMergeRegRef, CombMergeMemRef, MergeRegRef,     MergeMemRef,
      MergeRegExRef,   MergeMemExRef,   MergeLineRef,    MergeLineExRef,
  };
  return kSet;
}

// The reference kernels are in force from the first instruction, so that a
// blend issued before start-up chose a level still works.
TCombineReg CombineReg = blendref::CombineRegRef;
TCombineMem CombineMem = blendref::CombineMemRef;
TBlendReg BlendReg = blendref::BlendRegRef;
TBlendMem BlendMem = blendref::BlendMemRef;
TBlendRegEx BlendRegEx = blendref::BlendRegExRef;
TBlendMemEx BlendMemEx = blendref::BlendMemExRef;
TBlendLine BlendLine = blendref::BlendLineRef;
TBlendLineEx BlendLineEx = blendref::BlendLineExRef;
TCombineReg CombMergeReg = blendref::CombMergeRegRef;
TCombineMem CombMergeMem = blendref::CombMergeMemRef;
TBlendReg MergeReg = blendref::MergeRegRef;
TBlendMem MergeMem = blendref::MergeMemRef;
TBlendRegEx MergeRegEx = blendref::MergeRegExRef;
TBlendMemEx MergeMemEx = blendref::MergeMemExRef;
TBlendLine MergeLine = blendref::MergeLineRef;
TBlendLineEx MergeLineEx = blendref::MergeLineExRef;

TBlendReg BLEND_REG[2] = {blendref::BlendRegRef, blendref::MergeRegRef};
TBlendMem BLEND_MEM[2] = {blendref::BlendMemRef, blendref::MergeMemRef};
TCombineReg COMBINE_REG[2] = {blendref::CombineRegRef, blendref::CombMergeRegRef};
TCombineMem COMBINE_MEM[2] = {blendref::CombineMemRef, blendref::CombMergeMemRef};
TBlendRegEx BLEND_REG_EX[2] = {blendref::BlendRegExRef, blendref::MergeRegExRef};
TBlendMemEx BLEND_MEM_EX[2] = {blendref::BlendMemExRef, blendref::MergeMemExRef};
TBlendLine BLEND_LINE[2] = {blendref::BlendLineRef, blendref::MergeLineRef};
TBlendLineEx BLEND_LINE_EX[2] = {blendref::BlendLineExRef, blendref::MergeLineExRef};

TColor32 ColorAdd(TColor32 x, TColor32 y) {
  return blendref::PerChannel(x, y, [](int a, int b) { return a + b; });
}

TColor32 ColorSub(TColor32 x, TColor32 y) {
  return blendref::PerChannel(x, y, [](int a, int b) { return a - b; });
}

TColor32 ColorDiv(TColor32 x, TColor32 y) {
  return blendref::PerChannel(x, y, [](int a, int b) { return a == 0 ? 255 : (b * 256) / a; });
}

TColor32 ColorModulate(TColor32 x, TColor32 y) {
  return blendref::PerChannel(x, y, [](int a, int b) { return (a * b) >> 8; });
}

TColor32 ColorMax(TColor32 x, TColor32 y) {
  return blendref::PerChannel(x, y, [](int a, int b) { return std::max(a, b); });
}

TColor32 ColorMin(TColor32 x, TColor32 y) {
  return blendref::PerChannel(x, y, [](int a, int b) { return std::min(a, b); });
}

TColor32 ColorDifference(TColor32 x, TColor32 y) {
  return blendref::PerChannel(x, y, [](int a, int b) { return b > a ? b - a : a - b; });
}

TColor32 ColorExclusion(TColor32 x, TColor32 y) {
  return blendref::PerChannel(x, y, [](int a, int b) { return a + b - ((a * b) >> 7); });
}

void SetupBlendFunctions(TSimdLevel level) {
  TBlendKernelSet set = ReferenceBlendKernels();
#ifdef KDL_BLEND_X86
  // The single-pixel kernels stay scalar at every level: one pixel gives
  // SIMD nothing to work on beyond the two-channel multiplies they do.
  if (level >= TSimdLevel::slSSE2) InstallSse2BlendKernels(set);
  if (level >= TSimdLevel::slSSE41) InstallSse41BlendKernels(set);
  if (level >= TSimdLevel::slAVX2) InstallAvx2BlendKernels(set);
#else
  (void)level;
#endif
  CombineReg = set.CombineReg;
  CombineMem = set.CombineMem;
  BlendReg = set.BlendReg;
  BlendMem = set.BlendMem;
  BlendRegEx = set.BlendRegEx;
  BlendMemEx = set.BlendMemEx;
  BlendLine = set.BlendLine;
  BlendLineEx = set.BlendLineEx;
  CombMergeReg = set.CombMergeReg;
  CombMergeMem = set.CombMergeMem;
  MergeReg = set.MergeReg;
  MergeMem = set.MergeMem;
  MergeRegEx = set.MergeRegEx;
  MergeMemEx = set.MergeMemEx;
  MergeLine = set.MergeLine;
  MergeLineEx = set.MergeLineEx;

  BLEND_REG[cmBlend] = BlendReg;
  BLEND_REG[cmMerge] = MergeReg;
  BLEND_MEM[cmBlend] = BlendMem;
  BLEND_MEM[cmMerge] = MergeMem;
  COMBINE_REG[cmBlend] = CombineReg;
  COMBINE_REG[cmMerge] = CombMergeReg;
  COMBINE_MEM[cmBlend] = CombineMem;
  COMBINE_MEM[cmMerge] = CombMergeMem;
  BLEND_REG_EX[cmBlend] = BlendRegEx;
  BLEND_REG_EX[cmMerge] = MergeRegEx;
  BLEND_MEM_EX[cmBlend] = BlendMemEx;
  BLEND_MEM_EX[cmMerge] = MergeMemEx;
  BLEND_LINE[cmBlend] = BlendLine;
  BLEND_LINE[cmMerge] = MergeLine;
  BLEND_LINE_EX[cmBlend] = BlendLineEx;
  BLEND_LINE_EX[cmMerge] = MergeLineEx;
}

void SetupBlendFunctions() { SetupBlendFunctions(ActiveSimdLevel()); }

namespace {
// Start-up choice of the level; only plain pointers are written, and until
// it has run the reference kernels above are in force.
[[maybe_unused]] const bool kBlendFunctionsChosen = (SetupBlendFunctions(), true);
}  // namespace

}  // namespace kdl
