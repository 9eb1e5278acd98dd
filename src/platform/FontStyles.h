// Font style bits, one set for the whole program: fonts, text shapes and
// the XML value form of a style all use the same values.
#pragma once

#include <cstdint>

namespace kdl {

using TFontStyles = std::uint8_t;
inline constexpr TFontStyles fsBold = 1;
inline constexpr TFontStyles fsItalic = 2;
inline constexpr TFontStyles fsUnderline = 4;
inline constexpr TFontStyles fsStrikeOut = 8;

}  // namespace kdl
