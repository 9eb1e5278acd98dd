#pragma once

#include <cstdint>

namespace kdl {

class TBitmap32;

// Sizes the bitmap like SetSize, but new storage is not cleared: for
// decoders that write every pixel before anything reads one. A decoder
// that stops early must clear the rows it did not write (ClearRowsFrom)
// before the bitmap is seen, so no stale memory ever shows. A bitmap that
// keeps its size keeps its pixels, as with SetSize.
bool SetSizeUninitialized(TBitmap32& bitmap, std::int32_t width, std::int32_t height);

// Clears rows [firstRow, Height) to transparent black, what SetSize leaves.
void ClearRowsFrom(TBitmap32& bitmap, std::int32_t firstRow);

}  // namespace kdl
