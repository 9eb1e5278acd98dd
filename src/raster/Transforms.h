// Stretch transfer: copies, blends or combines a source rectangle of one
// bitmap into a destination rectangle of another, scaling with one of the
// seven stretch filters, clipped to a destination clip rectangle.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/CpuFeatures.h"
#include "platform/Exception.h"
#include "raster/Bitmap32.h"
#include "raster/Types.h"

namespace kdl {

KDL_DECLARE_EXCEPTION(ETransformError, Exception);

// One source position and its weight in 1/256.
struct TMappingPair {
  std::int32_t Pos = 0;
  std::int32_t Weight = 0;
};
using TCluster = std::vector<TMappingPair>;
// One cluster per target column (or row) of the clipped target span.
using TMappingTable = std::vector<TCluster>;

using TFilterFunction = float (*)(float x);

float BoxFilter(float x);
float LinearFilter(float x);
float LinearFilterDraft(float x);
float CosineFilter(float x);
float SplineFilter(float x);
float SinC(float x);
float LanczosFilter(float x);
float MitchellFilter(float x);

// The kernel of a filter and its support radius in pixels.
TFilterFunction FilterFunction(TStretchFilter filter);
float FilterWidth(TStretchFilter filter);

void StretchTransfer(TBitmap32* dst, TRect dstRect, TRect dstClip, TBitmap32* src, TRect srcRect,
                     TStretchFilter stretchFilter, TDrawMode drawMode,
                     const TPixelCombineEvent& combineCallBack);

// Raises ETransformError for a nil or empty bitmap.
void CheckBitmaps(const TBitmap32* dst, const TBitmap32* src);
// False for an empty rectangle; raises ETransformError for one outside src.
bool CheckSrcRect(const TBitmap32& src, const TRect& srcRect);

TMappingTable BuildMappingTable(std::int32_t dstLo, std::int32_t dstHi, std::int32_t clipLo,
                                std::int32_t clipHi, std::int32_t srcLo, std::int32_t srcHi,
                                TStretchFilter filter);

// Per channel: the block's sum times (0x1000000 div (width x height)),
// shifted right by 24. stride in bytes.
using TBlockAverageFunc = TColor32 (*)(std::uint32_t width, std::uint32_t height,
                                       const TColor32* src, std::int32_t stride);
// Bilinear read: the upper halves of the 16.16 weights are the left and
// upper pixels' shares in 1/256 (0..256); one rounding at the end, so that
// a constant neighbourhood reads back exactly. p1 points at the upper-left
// pixel, p2 at the one below it.
using TLinearInterpolatorFunc = TColor32 (*)(std::uint32_t wx, std::uint32_t wy,
                                             const TColor32* p1, const TColor32* p2);

// A run of bilinear reads at 24.8 positions (bx + xs[i], by + ys[i]) of a
// width x height source, i < count, into out[i]: positions of 0 or less, or
// of the last row or column or beyond, give outer.
using TBilinearRunFunc = void (*)(const TColor32* bits, std::int32_t width, std::int32_t height,
                                  TColor32 outer, std::int32_t bx, std::int32_t by,
                                  const std::int32_t* xs, const std::int32_t* ys,
                                  std::int32_t count, TColor32* out);

extern TBlockAverageFunc BlockAverage;
extern TLinearInterpolatorFunc LinearInterpolator;
extern TBilinearRunFunc BilinearRun;

// The portable routines that every SIMD variant matches bit for bit.
TColor32 BlockAverageReference(std::uint32_t width, std::uint32_t height, const TColor32* src,
                               std::int32_t stride);
TColor32 LinearInterpolatorReference(std::uint32_t wx, std::uint32_t wy, const TColor32* p1,
                                     const TColor32* p2);
void BilinearRunReference(const TColor32* bits, std::int32_t width, std::int32_t height,
                          TColor32 outer, std::int32_t bx, std::int32_t by, const std::int32_t* xs,
                          const std::int32_t* ys, std::int32_t count, TColor32* out);

// Chooses the routines of a level (the active one without an argument).
void SetupTransformFunctions();
void SetupTransformFunctions(TSimdLevel level);

}  // namespace kdl
