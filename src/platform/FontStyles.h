// Font style bits, shared by the XML font values and the platform's fonts,
// so that both can be used in one place.
#pragma once

#include <cstdint>

namespace kdl {

using TFontStyles = std::uint8_t;
inline constexpr TFontStyles fsBold = 1;
inline constexpr TFontStyles fsItalic = 2;
inline constexpr TFontStyles fsUnderline = 4;
inline constexpr TFontStyles fsStrikeOut = 8;

}  // namespace kdl
