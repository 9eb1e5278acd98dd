// Text forms of property values in undo records and the shape's XML, and
// the length-prefixed stream pieces of the shape string. Numbers never go
// through the C locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/Stream.h"
#include "foundation/XmlValues.h"  // BoolToText
#include "platform/Exception.h"

namespace kdl {

// A shape string that cannot be read.
KDL_DECLARE_EXCEPTION(EShapeDataError, Exception);
inline constexpr const char* kInvalidShapeData = "Invalid shape data";

// ---- Value texts ----------------------------------------------------------------
// Only exactly "True".
bool TextIsTrue(std::string_view text);
// A first letter T or Y, in either case.
bool TextToBool(std::string_view text);
// Shortest text that reads back to the same value; a value that is exactly a
// single-precision number is written as one ("0.1", not "0.10000000149").
std::string FloatToStr(double value);
// Raises EConvertError for anything but a finite number.
double StrToFloat(std::string_view text);
// Raises EConvertError for anything but a 32-bit decimal integer.
std::int32_t StrToInt(std::string_view text);
// Font style bits (TXmlFontStyle) as the letters B, I, U, S.
std::string FontStylesToText(std::uint8_t styles);
std::uint8_t TextToFontStyles(std::string_view text);

// ---- Stream pieces: Int32 little-endian length, then the bytes -----------------------
void WriteStreamInt(TStream& stream, std::int32_t value);
// Raises EShapeDataError at the end of the stream.
std::int32_t ReadStreamInt(TStream& stream);
void WriteStreamString(TStream& stream, std::string_view text);
// Raises EShapeDataError for a negative length or one past the bytes left.
std::string ReadStreamString(TStream& stream);
// The whole source from its start; a nil source writes length 0.
void WriteStreamBlock(TStream& stream, TStream* source);
// The target gets exactly the block and is rewound; checked as above.
void ReadStreamBlock(TStream& stream, TStream& target);

}  // namespace kdl
