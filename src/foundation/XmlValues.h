// The text forms of XML values: Booleans, integers, floats, date-times,
// escaping and binary data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/Stream.h"

namespace kdl {

// The run-time library's failed text-to-number conversion.

// A GUI colour, 0x00BBGGRR; negative values name system colours.
using TColor = std::int32_t;
// Days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;

// The classic RGB value of a system colour; other colours unchanged.
TColor ColorToRGB(TColor color);

std::string BoolToText(bool value);
// "T"/"Y" and "F"/"N" by the first character, any case; otherwise raises
// EConvertError "Cannot convert value to bool".
bool XmlTextToBool(std::string_view text);
bool TextToBoolDef(std::string_view text, bool def);

std::string IntToText(std::int64_t value);
// Decimal, or hexadecimal after "$"; nothing for a text that is not a number.
std::optional<std::int64_t> TextToInt64(std::string_view text);
// "$" and the value in upper-case hexadecimal with at least digits digits.
std::string HexText(std::int64_t value, int digits);

// Shortest text of value with at most digits significant digits, without a
// leading zero before "." and with an exponent for very large or small values.
std::string FloatToText(double value, int digits, bool exponentForm);
// The first "," stands for "."; nothing for a text that is not a number.
std::optional<double> TextToFloat(std::string_view text);

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& ms);
std::string DateTimeToText(TDateTime value);
// Raises EConvertError for malformed text.
TDateTime TextToDateTime(std::string_view text);
TDateTime TextToDateTimeDef(std::string_view text, TDateTime def);

std::string EscapeText(std::string_view text);
std::string UnescapeTextUtf8(std::string_view text);
std::string UnescapeTextAnsi(std::string_view text);
std::string QuoteText(std::string_view text);
std::string UnquoteText(std::string_view text);

std::string EncodeBase64(const void* data, std::size_t count);
std::string EncodeBinHex(const void* data, std::size_t count);
// Decode exactly count bytes from text without blanks; raise EFilerError for
// too little data or a character outside the alphabet.
void DecodeBase64(std::string_view text, void* out, std::size_t count);
void DecodeBinHex(std::string_view text, void* out, std::size_t count);
// Separator before every interval characters and once after the end.
std::string WrapText(std::string_view text, std::string_view separator, int interval);
std::string StripBlanks(std::string_view text);

}  // namespace kdl
