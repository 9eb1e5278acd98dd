// Area-averaging reduction: every destination pixel is the exact mean of
// the block of source pixels it covers. Opaque linear downscaling (page
// backgrounds, print bands) goes through here instead of the general
// resampler.
#pragma once

#include <cstdint>

#include "raster/Bitmap32.h"
#include "raster/Types.h"

namespace kdl {

// Divides total source pixels into count runs whose lengths differ by at
// most one, the longer runs spread evenly; the lengths sum to total.
// count <= 0 leaves both arrays untouched.
void SpreadRuns(std::int32_t total, std::int32_t count, TArrayOfInteger& starts,
                TArrayOfInteger& lengths);

// Writes into dstRect of dst the per-channel mean (alpha included,
// truncating) of the source blocks of srcRect. No blending, no clipping,
// no change event. dstRect must lie inside dst, srcRect inside src and be
// at least as large as dstRect in both axes (raises EAssertionFailed
// otherwise); an empty dstRect does nothing.
void BoxDownsample(TBitmap32& dst, const TRect& dstRect, const TBitmap32& src,
                   const TRect& srcRect);

// BoxDownsample for an opaque linear reduction that fits both bitmaps;
// every other case goes through StretchTransfer clipped by dst's bounds.
void StretchBitmap(TBitmap32* dst, const TRect& dstRect, TBitmap32* src, const TRect& srcRect,
                   TDrawMode drawMode, TStretchFilter stretchFilter,
                   const TPixelCombineEvent& combineCallBack);

}  // namespace kdl
