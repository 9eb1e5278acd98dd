#include "document/shapes/ShapeValues.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "foundation/XmlNode.h"

namespace kdl {

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// The bytes left from the stream's position, checked against a length read
// from it before anything is allocated.
std::int64_t CheckedLength(TStream& stream, std::int32_t length) {
  if (length < 0 || length > stream.Size() - stream.Position())
    throw EShapeDataError(kInvalidShapeData);
  return length;
}

}  // namespace

bool TextIsTrue(std::string_view text) { return text == "True"; }

bool TextToBool(std::string_view text) {
  if (text.empty()) return false;
  const char c = text.front();
  return c == 'T' || c == 't' || c == 'Y' || c == 'y';
}

std::string FloatToStr(double value) {
  char buffer[64];
  const auto single = static_cast<float>(value);
  const auto result = static_cast<double>(single) == value
                          ? std::to_chars(buffer, buffer + sizeof buffer, single)
                          : std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

double StrToFloat(std::string_view text) {
  const std::string_view t = Trimmed(text);
  double value = 0;
  const auto result = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || result.ec != std::errc() || result.ptr != t.data() + t.size() ||
      !std::isfinite(value))
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return value;
}

std::int32_t StrToInt(std::string_view text) {
  std::string_view t = Trimmed(text);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  std::int32_t value = 0;
  const auto result = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || result.ec != std::errc() || result.ptr != t.data() + t.size())
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return value;
}

std::string FontStylesToText(std::uint8_t styles) {
  std::string out;
  if (styles & fsBold) out += 'B';
  if (styles & fsItalic) out += 'I';
  if (styles & fsUnderline) out += 'U';
  if (styles & fsStrikeOut) out += 'S';
  return out;
}

std::uint8_t TextToFontStyles(std::string_view text) {
  std::uint8_t styles = 0;
  if (text.find('B') != std::string_view::npos) styles |= fsBold;
  if (text.find('I') != std::string_view::npos) styles |= fsItalic;
  if (text.find('U') != std::string_view::npos) styles |= fsUnderline;
  if (text.find('S') != std::string_view::npos) styles |= fsStrikeOut;
  return styles;
}

void WriteStreamInt(TStream& stream, std::int32_t value) {
  const auto u = static_cast<std::uint32_t>(value);
  const unsigned char bytes[4] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
                                  static_cast<unsigned char>(u >> 16),
                                  static_cast<unsigned char>(u >> 24)};
  stream.WriteBuffer(bytes, 4);
}

std::int32_t ReadStreamInt(TStream& stream) {
  unsigned char bytes[4];
  if (stream.Read(bytes, 4) != 4) throw EShapeDataError(kInvalidShapeData);
  return static_cast<std::int32_t>(std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                   std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24);
}

void WriteStreamString(TStream& stream, std::string_view text) {
  WriteStreamInt(stream, static_cast<std::int32_t>(text.size()));
  if (!text.empty()) stream.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

std::string ReadStreamString(TStream& stream) {
  const std::int64_t length = CheckedLength(stream, ReadStreamInt(stream));
  std::string text(static_cast<std::size_t>(length), '\0');
  if (length > 0) stream.ReadBuffer(text.data(), length);
  return text;
}

void WriteStreamBlock(TStream& stream, TStream* source) {
  const std::int64_t size = source ? source->Size() : 0;
  if (size > INT32_MAX) throw EShapeDataError(kInvalidShapeData);
  WriteStreamInt(stream, static_cast<std::int32_t>(size));
  if (size > 0) {
    source->SetPosition(0);
    stream.CopyFrom(*source, size);
  }
}

void ReadStreamBlock(TStream& stream, TStream& target) {
  const std::int64_t length = CheckedLength(stream, ReadStreamInt(stream));
  target.SetSize(0);
  target.SetPosition(0);
  if (length > 0) target.CopyFrom(stream, length);
  target.SetPosition(0);
}

}  // namespace kdl
