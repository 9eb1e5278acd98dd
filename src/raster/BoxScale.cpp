#include "raster/BoxScale.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "raster/ThreadPersistent.h"
#include "raster/Transforms.h"

namespace kdl {

void SpreadRuns(std::int32_t total, std::int32_t count, TArrayOfInteger& starts,
                TArrayOfInteger& lengths) {
  if (count <= 0) return;
  starts.assign(static_cast<std::size_t>(count), 0);
  lengths.assign(static_cast<std::size_t>(count), 0);
  const std::int32_t base = total / count;
  const std::int64_t surplus = total - static_cast<std::int64_t>(count) * base;
  std::int64_t error = 0;
  std::int32_t start = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    starts[i] = start;
    lengths[i] = base;
    // Bresenham over the surplus: one extra pixel every count/surplus runs.
    error += surplus;
    if (error >= count) {
      ++lengths[i];
      error -= count;
    }
    start += lengths[i];
  }
}

namespace {

inline bool Inside(const TRect& r, const TRect& bounds) {
  return r.Left >= bounds.Left && r.Top >= bounds.Top && r.Right <= bounds.Right &&
         r.Bottom <= bounds.Bottom;
}

// Acc holds the sum of one channel over the largest block: 32 bits while
// that cannot overflow, else 64.
template <typename Acc>
void Downsample(TBitmap32& dst, const TRect& dr, const TBitmap32& src, const TRect& sr,
                const TArrayOfInteger& colLen, const TArrayOfInteger& rowStart,
                const TArrayOfInteger& rowLen) {
  const std::int32_t dw = dr.Width();
  std::vector<Acc> acc(static_cast<std::size_t>(dw) * 4);
  for (std::int32_t i = 0; i < dr.Height(); ++i) {
    std::fill(acc.begin(), acc.end(), Acc{0});
    const std::int32_t y0 = sr.Top + rowStart[i];
    for (std::int32_t y = y0; y < y0 + rowLen[i]; ++y) {
      // The column runs tile the source row from its left edge.
      const TColor32* p = src.PixelPtr(sr.Left, y);
      Acc* a = acc.data();
      for (std::int32_t k = 0; k < dw; ++k, a += 4) {
        Acc b = 0, g = 0, r = 0, al = 0;
        for (std::int32_t j = colLen[k]; j > 0; --j, ++p) {
          const TColor32 c = *p;
          b += c & 0xFF;
          g += (c >> 8) & 0xFF;
          r += (c >> 16) & 0xFF;
          al += c >> 24;
        }
        a[0] += b;
        a[1] += g;
        a[2] += r;
        a[3] += al;
      }
    }
    TColor32* d = dst.PixelPtr(dr.Left, dr.Top + i);
    const Acc* a = acc.data();
    for (std::int32_t k = 0; k < dw; ++k, a += 4) {
      const Acc area = static_cast<Acc>(rowLen[i]) * static_cast<Acc>(colLen[k]);
      d[k] = static_cast<TColor32>(a[0] / area) | static_cast<TColor32>(a[1] / area) << 8 |
             static_cast<TColor32>(a[2] / area) << 16 | static_cast<TColor32>(a[3] / area) << 24;
    }
  }
}

}  // namespace

void BoxDownsample(TBitmap32& dst, const TRect& dstRect, const TBitmap32& src,
                   const TRect& srcRect) {
  if (dstRect.Right <= dstRect.Left || dstRect.Bottom <= dstRect.Top) return;
  // The loops index both bitmaps unchecked: hold the callers to their
  // promise rather than write outside the pixels.
  KDL_RASTER_ASSERT(!dst.Empty() && !src.Empty() && Inside(dstRect, dst.BoundsRect()) &&
                    Inside(srcRect, src.BoundsRect()) && srcRect.Width() >= dstRect.Width() &&
                    srcRect.Height() >= dstRect.Height());
  TArrayOfInteger colStart, colLen, rowStart, rowLen;
  SpreadRuns(srcRect.Width(), dstRect.Width(), colStart, colLen);
  SpreadRuns(srcRect.Height(), dstRect.Height(), rowStart, rowLen);
  const std::int64_t maxArea = static_cast<std::int64_t>(*std::max_element(colLen.begin(), colLen.end())) *
                               *std::max_element(rowLen.begin(), rowLen.end());
  if (maxArea * 255 <= std::numeric_limits<std::uint32_t>::max())
    Downsample<std::uint32_t>(dst, dstRect, src, srcRect, colLen, rowStart, rowLen);
  else
    Downsample<std::uint64_t>(dst, dstRect, src, srcRect, colLen, rowStart, rowLen);
}

void StretchBitmap(TBitmap32* dst, const TRect& dstRect, TBitmap32* src, const TRect& srcRect,
                   TDrawMode drawMode, TStretchFilter stretchFilter,
                   const TPixelCombineEvent& combineCallBack) {
  // The box reduction indexes unchecked; rectangles that stray outside
  // either bitmap take the checked and clipped road instead.
  if (dst != nullptr && src != nullptr && !dst->Empty() && !src->Empty() &&
      stretchFilter == sfLinear && drawMode == dmOpaque && srcRect.Width() >= dstRect.Width() &&
      srcRect.Height() >= dstRect.Height() && Inside(dstRect, dst->BoundsRect()) &&
      Inside(srcRect, src->BoundsRect())) {
    BoxDownsample(*dst, dstRect, *src, srcRect);
    return;
  }
  StretchTransfer(dst, dstRect, dst != nullptr ? dst->BoundsRect() : TRect{}, src, srcRect,
                  stretchFilter, drawMode, combineCallBack);
}

}  // namespace kdl
