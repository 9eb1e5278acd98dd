// Character encodings of XML text: detection from the first bytes, the
// Windows-1252 code page and the UTF-8 / UTF-16 conversions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/CodePage.h"

namespace kdl {

enum TTextEncoding : std::uint8_t {
  teEightBit = 0,
  teUcs4BE = 1,
  teUcs4LE = 2,
  teUcs4Order2143 = 3,
  teUcs4Order3412 = 4,
  teWide16BE = 5,  // 16-bit big-endian without byte-order mark
  teWide16LE = 6,
  teUtf8 = 7,
  teUtf16BE = 8,
  teUtf16LE = 9,
  teEbcdic = 10,
};

struct TEncodingSignature {
  std::uint8_t Bytes[4];
  std::uint8_t Length;
  TTextEncoding Encoding;
  bool ByteOrderMark;
};

// Searched in order; the first row that matches wins.
extern const std::array<TEncodingSignature, 15> kEncodingTable;

// The first table row whose signature matches the first min(count, length)
// bytes (an empty input matches row 0), or -1.
int DetectEncodingRow(const std::uint8_t* data, std::size_t count);
// The first row of an encoding (where its byte-order mark stands), or -1.
int EncodingTableRow(TTextEncoding encoding);
// Encodings that no reader or writer of ours handles.
bool IsUnsupportedEncoding(TTextEncoding encoding);
// 16-bit encodings whose code units are stored big-endian.
bool IsSwappedEncoding(TTextEncoding encoding);
bool IsWideEncoding(TTextEncoding encoding);

inline constexpr char32_t kReplacementChar = 0xFFFD;


// Appends the UTF-8 form of a code point (U+FFFD for surrogates and values
// beyond U+10FFFF).
void AppendUtf8(std::string& out, char32_t codePoint);
// Decodes one character at p (advanced past it). Accepts 1- to 4-byte forms
// and the 3-byte surrogate pairs of old files; anything else yields U+FFFD
// and consumes one byte.
char32_t DecodeUtf8(const char*& p, const char* end);
// Same text with every invalid sequence replaced by U+FFFD and 3-byte
// surrogate pairs joined into 4-byte forms.
std::string SanitizeUtf8(std::string_view text);
// Length of the valid prefix that needs no change (plain, well-formed UTF-8).
std::size_t ValidUtf8Prefix(std::string_view text);
void AppendUtf16(std::u16string& out, char32_t codePoint);

std::string WideToUtf8(std::u16string_view text);
std::u16string Utf8ToWide(std::string_view text);
// The system code page conversions (Windows-1252); unmappable becomes "?".
std::string WideToAnsi(std::u16string_view text);
std::u16string AnsiToWide(std::string_view text);
std::string AnsiToUtf8Text(std::string_view text);
std::string Utf8ToAnsiText(std::string_view text);

}  // namespace kdl
