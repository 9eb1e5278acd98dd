// Windows bitmap files: a reader for the common variants (1, 4, 8, 16, 24
// and 32 bits, RLE4/RLE8, bit fields, top-down rows, core, info, V4 and V5
// headers) and a writer of the 32-bit layout with alpha.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "platform/Exception.h"
#include "raster/Types.h"

namespace kdl {

// Raised for a stream that is not a bitmap we can read.
KDL_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
inline constexpr const char* kInvalidBitmapMessage = "Bitmap image is not valid";

// The largest picture the reader accepts, in pixels.
inline constexpr std::int64_t kMaxBmpPixels = std::int64_t{1} << 26;

struct TBmpImage {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  // Row 0 (the top) first.
  std::vector<TColor32> Pixels;
};

// Reads one bitmap file from the stream's position. Pixels of paletted and
// 24-bit files are opaque; 16- and 32-bit files with an alpha mask take
// their alpha from it. Plain 32-bit files keep their fourth byte as alpha,
// unless it is zero throughout: then the picture is opaque.
TBmpImage ReadBmp(std::istream& stream);

// Writes a file header and a 40-byte info header (32 bits, uncompressed,
// rows bottom-up) followed by the pixels as B, G, R, A.
void WriteBmp32(std::ostream& stream, std::int32_t width, std::int32_t height,
                const TColor32* pixels);

}  // namespace kdl
