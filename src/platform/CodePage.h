// The program's 8-bit code page, Windows-1252, as a built-in table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kdl {

// The five undefined bytes map to the C1 controls of the same value, as
// Windows does.
char16_t Cp1252ToUnicode(std::uint8_t byte);
// The byte of a code point in Windows-1252, or -1 when it has none.
int UnicodeToCp1252(char32_t codePoint);
// Bytes to UTF-16, one unit each.
std::u16string Cp1252ToWide(std::string_view text);

}  // namespace kdl
