#pragma once

#include <cstdint>

#include "raster/Types.h"

namespace kdl {

class TBitmap32;

// Sizes the bitmap like SetSize, but new storage is not cleared: for
// decoders that write every pixel before anything reads one. A decoder
// that stops early must clear the rows it did not write (ClearRowsFrom)
// before the bitmap is seen, so no stale memory ever shows. A bitmap that
// keeps its size keeps its pixels, as with SetSize.
bool SetSizeUninitialized(TBitmap32& bitmap, std::int32_t width, std::int32_t height);

// Gives the bitmap new storage of width x height that reads as transparent
// black without having been written, even when the size is unchanged: a
// large bitmap then holds memory only for the pages drawn on, and nothing
// need clear it first.
bool SetSizeZeroed(TBitmap32& bitmap, std::int32_t width, std::int32_t height);

// Empties a bitmap sized by SetSizeZeroed of which no pixel outside
// written was ever written: written is cleared and the storage kept for a
// later SetSizeZeroed, its pages in memory already. Any other bitmap is
// simply emptied.
void ReleaseZeroed(TBitmap32& bitmap, const TRect& written);

// Clears rows [firstRow, Height) to transparent black, what SetSize leaves.
void ClearRowsFrom(TBitmap32& bitmap, std::int32_t firstRow);

}  // namespace kdl
