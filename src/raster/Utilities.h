// Small routines on whole bitmaps that the document library calls directly:
// quarter turns and mirrors, the integer-map box blur behind feathered
// masks, alpha helpers, point-to-segment distances for hit testing, and
// the integer segment clipper of the anti-aliased lines.
#pragma once

#include <cstdint>
#include <functional>

#include "raster/Bitmap32.h"
#include "raster/ByteMap.h"
#include "raster/Types.h"

namespace kdl {

// ---- Quarter turns and mirrors (in place; nothing for nil) ----------------

// A quarter turn counter-clockwise: pixel (x, y) goes to (y, Width-1-x).
// The bitmap is assigned from a fresh one, so its size swaps and its draw
// mode, master alpha, outer colour and stretch filter return to defaults.
void RotateLeft90(TBitmap32* b);
// A quarter turn clockwise: pixel (x, y) goes to (Height-1-y, x); as above.
void RotateRight90(TBitmap32* b);
void Rotate180(TBitmap32* b);
// Left-right and top-bottom; no change event.
void MirrorHorizontal(TBitmap32* b);
void MirrorVertical(TBitmap32* b);

// ---- Integer maps and the box blur ----------------------------------------
// An integer map reuses a bitmap's pixels as signed 32-bit values.

// Every pixel := Round(alpha x 256 x scale).
void AlphaToIntMap(TBitmap32* b, float scale);
// Every value above 255 := the RGB of color with alpha min(v, 65280) shr 8;
// values up to 255 stay as they are.
void IntMapToAlpha(TBitmap32* b, TColor32 color);
// One box pass over the pixels of src taken as a single sequence (rows run
// on into each other): output o is the sum of the values o+radius-size+1 ..
// o+radius that exist, div size. Nothing unless both hold the same number
// of pixels and 0 <= radius < size.
void BlurPass(const TBitmap32& src, TBitmap32& dst, std::int32_t radius, std::int32_t size);
// dst[k x step + i] := src[i x count + k] for i < step, k < count; nothing
// unless both hold count x step pixels.
void Transpose(const TBitmap32& src, TBitmap32& dst, std::int32_t count, std::int32_t step);
// A separable box blur of the integer map, horizontal then vertical, with a
// window of Round(radius) pixels made odd; nothing below a window of 2.
void BoxBlur(TBitmap32* b, float radius);
// BoxBlur of AlphaToIntMap(bitmap of alpha, 1) without a map of its size:
// the blurred rows go to row(y, values) from the top down. Once row y is
// handed over, rows of alpha up to y are not read again, so that row may
// overwrite them. False, and nothing done, for an empty map or one less
// than twice the window tall.
bool BoxBlurAlphaRows(const TByteMap& alpha, float radius,
                      const std::function<void(std::int32_t, const std::int32_t*)>& row);

// ---- Alpha and colour tests -----------------------------------------------

// alpha := 255 - alpha, RGB unchanged.
void InvertAlpha(TBitmap32* b);
// Every pixel equals color (true for nil or no pixels); rows are checked
// from both edges towards the middle, where a difference shows first.
bool IsUniformColor(const TBitmap32* b, TColor32 color);

// ---- Geometry ---------------------------------------------------------------

std::int64_t SqrDistance(const TPoint& p1, const TPoint& p2);
// Squared distance from p to the nearest point of segment ab, that point
// rounded to whole pixels.
double SqrDistanceToSegment(const TPoint& p, const TPoint& a, const TPoint& b);

// Clips the segment to the inclusive box (16.16 values for the
// anti-aliased lines). False, coordinates unchanged, when the segment
// misses the box; moved end points lie on its edges.
bool ClipLine(std::int32_t& x1, std::int32_t& y1, std::int32_t& x2, std::int32_t& y2,
              std::int32_t minX, std::int32_t minY, std::int32_t maxX, std::int32_t maxY);

}  // namespace kdl
