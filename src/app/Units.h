// Conversions between pixels and millimetres, and a rectangle comparison.
#pragma once

#include <cstdint>

class QRect;

namespace kdl {

// millimetres / 25.4 x dpi, truncated toward zero and held within the
// 32-bit range (NaN gives 0). With dpi 72 it gives PDF points.
std::int32_t MMToPixels(std::int32_t dpi, float millimetres);

// pixels / dpi x 25.4; 0 when dpi is not positive.
float PixelsToMM(std::int32_t pixels, std::int32_t dpi);

// True when the four edges are equal.
bool RectEquals(const QRect& a, const QRect& b);

}  // namespace kdl
