#include "foundation/XmlValues.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "foundation/Encoding.h"
#include "platform/SystemColors.h"

namespace kdl {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

TColor ColorToRGB(TColor color) {
  if (color < 0) {
    return GetSysColor(color & 0xFF);
  }
  return color;
}

// ---- Booleans and integers ----------------------------------------------------

std::string BoolToText(bool value) { return value ? "True" : "False"; }

bool XmlTextToBool(std::string_view text) {
  if (!text.empty()) {
    const char c = static_cast<char>(text[0] & ~0x20);
    if (c == 'T' || c == 'Y') return true;
    if (c == 'F' || c == 'N') return false;
  }
  throw EConvertError("Cannot convert value to bool");
}

bool TextToBoolDef(std::string_view text, bool def) {
  if (!text.empty()) {
    const char c = static_cast<char>(text[0] & ~0x20);
    if (c == 'T' || c == 'Y') return true;
    if (c == 'F' || c == 'N') return false;
  }
  return def;
}

std::string IntToText(std::int64_t value) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

std::optional<std::int64_t> TextToInt64(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  if (text[0] == '$' || (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))) {
    // Hexadecimal wraps like the machine word it stands for.
    text.remove_prefix(text[0] == '$' ? 1 : 2);
    if (text.empty() || text.size() > 16) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : text) {
      const int d = HexDigit(c);
      if (d < 0) return std::nullopt;
      v = v << 4 | static_cast<unsigned>(d);
    }
    const auto s = static_cast<std::int64_t>(v);
    return negative ? static_cast<std::int64_t>(0 - v) : s;
  }
  std::uint64_t v = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
  if (negative) {
    if (v > 0x8000000000000000ull) return std::nullopt;
    return static_cast<std::int64_t>(0 - v);
  }
  if (v > 0x7FFFFFFFFFFFFFFFull) return std::nullopt;
  return static_cast<std::int64_t>(v);
}

std::string HexText(std::int64_t value, int digits) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint64_t>(value), 16);
  std::string hex(buf, r.ptr);
  for (char& c : hex)
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  if (static_cast<int>(hex.size()) < digits) hex.insert(0, static_cast<std::size_t>(digits) - hex.size(), '0');
  return "$" + hex;
}

// ---- Floats -------------------------------------------------------------------

std::string FloatToText(double value, int digits, bool exponentForm) {
  if (digits < 1 || digits > 9) throw EConvertError("Significant digits out of range");
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  if (value < 0) {
    std::string out = FloatToText(-value, digits, exponentForm);
    out.insert(out.begin(), '-');
    return out;
  }

  // Correctly rounded digits and the decimal exponent, so that a mantissa
  // rounding up to 10^digits carries into the exponent.
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, digits - 1);
  const char* e = static_cast<const char*>(std::memchr(buf, 'e', static_cast<std::size_t>(r.ptr - buf)));
  std::string m;
  for (const char* p = buf; p < e; ++p)
    if (*p != '.') m.push_back(*p);
  int exponent = 0;
  const char* ep = e + 1;
  if (*ep == '+') ++ep;
  std::from_chars(ep, r.ptr, exponent);

  int p = exponent + 1;  // digits before the decimal point
  int n = digits;
  while (m.size() > 1 && m.back() == '0' && p < n) {
    m.pop_back();
    --n;
  }
  if (exponentForm && (p < -1 || p > n + 2)) {
    std::string out(1, m[0]);
    if (m.size() > 1) {
      out.push_back('.');
      out.append(m, 1);
    }
    out.push_back('E');
    out += IntToText(p - 1);
    return out;
  }
  if (p > n) m.append(static_cast<std::size_t>(p - n), '0');
  if (p < 0) {
    m.insert(0, static_cast<std::size_t>(-p), '0');
    p = 0;
  }
  if (p == 0) {
    m.insert(m.begin(), '.');
    return m;
  }
  if (p < static_cast<int>(m.size())) m.insert(static_cast<std::size_t>(p), 1, '.');
  return m;
}

std::optional<double> TextToFloat(std::string_view text) {
  std::string s(Trim(text));
  const auto comma = s.find(',');
  if (comma != std::string::npos) s[comma] = '.';
  std::string_view v = s;
  if (v.size() > 1 && v[0] == '+' && v[1] != '-') v.remove_prefix(1);
  if (v.empty()) return std::nullopt;
  double d = 0;
  const auto r = std::from_chars(v.data(), v.data() + v.size(), d);
  if (r.ec != std::errc() || r.ptr != v.data() + v.size()) return std::nullopt;
  return d;
}

// ---- Date and time ---------------------------------------------------------------

namespace {

constexpr std::int64_t kMsPerDay = 86400000;

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

const std::int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

std::string Pad(int value, int width) {
  std::string s = IntToText(value < 0 ? -value : value);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<std::size_t>(width) - s.size(), '0');
  if (value < 0) s.insert(s.begin(), '-');
  return s;
}

}  // namespace

namespace {

bool ValidDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month) && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 &&
         second >= 0 && second <= 59 && ms >= 0 && ms <= 999;
}

TDateTime EncodeValidDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
  const double date = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month),
                                                        static_cast<unsigned>(day)) -
                                          kEpochDays);
  const double time = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + ms) / kMsPerDay;
  // Before the epoch the time of day counts away from zero.
  return date < 0 ? date - time : date + time;
}

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
  if (!ValidDateTime(year, month, day, hour, minute, second, ms))
    throw EConvertError("Invalid argument to date encode");
  return EncodeValidDateTime(year, month, day, hour, minute, second, ms);
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& ms) {
  double days = std::trunc(value);
  std::int64_t total = static_cast<std::int64_t>(std::nearbyint(std::fabs(value - days) * kMsPerDay));
  if (total >= kMsPerDay) {
    total -= kMsPerDay;
    days += value < 0 ? -1 : 1;
  }
  CivilFromDays(static_cast<std::int64_t>(days) + kEpochDays, year, month, day);
  ms = static_cast<int>(total % 1000);
  total /= 1000;
  second = static_cast<int>(total % 60);
  total /= 60;
  minute = static_cast<int>(total % 60);
  hour = static_cast<int>(total / 60);
}

std::string DateTimeToText(TDateTime value) {
  int y, mo, d, h, mi, s, ms;
  // Far outside the calendar there is nothing sensible to write.
  if (!std::isfinite(value) || std::fabs(value) > 3.0e6) value = 0;
  DecodeDateTime(value, y, mo, d, h, mi, s, ms);
  std::string out = Pad(y, 4);
  out += '-';
  out += Pad(mo, 2);
  out += '-';
  out += Pad(d, 2);
  if (value != std::trunc(value)) {
    out += 'T';
    out += Pad(h, 2);
    out += ':';
    out += Pad(mi, 2);
    out += ':';
    out += Pad(s, 2);
    out += '.';
    out += Pad(ms, 3);
    out += 'Z';
  }
  return out;
}

namespace {

enum class TDateParse { Ok, BadText, BadValue };

// The parse without exceptions, so that a caller with a default pays
// nothing for texts that are not dates.
TDateParse ParseDateTime(std::string_view text, TDateTime& out) {
  auto field = [&](std::size_t pos, std::size_t len) -> std::optional<std::int64_t> {
    if (pos >= text.size()) return std::nullopt;
    return TextToInt64(text.substr(pos, len));
  };
  bool ok = true;
  auto required = [&](std::size_t pos, std::size_t len) {
    const auto v = field(pos, len);
    if (!v || *v < -100000 || *v > 100000) {
      ok = false;
      return 0;
    }
    return static_cast<int>(*v);
  };
  auto optional = [&](std::size_t pos, std::size_t len) {
    const auto v = field(pos, len);
    return v && *v >= 0 && *v < 100000 ? static_cast<int>(*v) : 0;
  };
  const int year = required(0, 4), month = required(5, 2), day = required(8, 2);
  int hour = 0, minute = 0, second = 0, ms = 0;
  if (ok && text.size() > 16) {
    hour = required(11, 2);
    minute = required(14, 2);
    second = optional(17, 2);
    ms = optional(20, 3);
  }
  if (!ok) return TDateParse::BadText;
  if (!ValidDateTime(year, month, day, hour, minute, second, ms)) return TDateParse::BadValue;
  out = EncodeValidDateTime(year, month, day, hour, minute, second, ms);
  return TDateParse::Ok;
}

}  // namespace

TDateTime TextToDateTime(std::string_view text) {
  TDateTime value = 0;
  switch (ParseDateTime(text, value)) {
    case TDateParse::Ok: return value;
    case TDateParse::BadText: throw EConvertError("'" + std::string(text) + "' is not a valid date");
    case TDateParse::BadValue: break;
  }
  throw EConvertError("Invalid argument to date encode");
}

TDateTime TextToDateTimeDef(std::string_view text, TDateTime def) {
  TDateTime value = 0;
  return ParseDateTime(text, value) == TDateParse::Ok ? value : def;
}

// ---- Escaping -------------------------------------------------------------------

std::string EscapeText(std::string_view text) {
  std::size_t i = 0;
  for (; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '&' || c == '<' || c == '>' || c == '\'' || c == '"' ||
        (c < 0x20 && c != '\t' && c != '\n' && c != '\r'))
      break;
  }
  if (i == text.size()) return std::string(text);
  std::string out;
  out.reserve(text.size() + 16);
  out.append(text.data(), i);
  for (; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += "&apos;"; break;
      case '"': out += "&quot;"; break;
      default:
        // Control characters as references: a raw NUL would end the text
        // early, and other readers refuse the rest.
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          out += "&#";
          out += IntToText(c);
          out += ';';
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out;
}

namespace {

// The code point of "&#...;" (without "&#" and ";"), or -1.
std::int64_t CharRefValue(std::string_view body) {
  int base = 10;
  if (!body.empty() && (body[0] == 'x' || body[0] == 'X')) {
    base = 16;
    body.remove_prefix(1);
  }
  if (body.empty() || body.size() > 8) return -1;
  std::int64_t v = 0;
  for (char c : body) {
    const int d = base == 16 ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (d < 0) return -1;
    v = v * base + d;
  }
  return v;
}

template <bool Utf8>
std::string Unescape(std::string_view text) {
  const char* amp = static_cast<const char*>(std::memchr(text.data(), '&', text.size()));
  if (!amp) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t a = text.find('&', i);
    if (a == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, a - i));
    const std::size_t semi = text.find(';', a + 1);
    if (semi == std::string_view::npos) {
      out.append(text.substr(a));
      break;
    }
    const std::string_view piece = text.substr(a, semi - a + 1);
    std::string replacement;
    bool known = true;
    if (piece == "&amp;") replacement = "&";
    else if (piece == "&lt;") replacement = "<";
    else if (piece == "&gt;") replacement = ">";
    else if (piece == "&apos;") replacement = "'";
    else if (piece == "&quot;") replacement = "\"";
    else if (piece.size() > 3 && piece[1] == '#') {
      const std::int64_t n = CharRefValue(piece.substr(2, piece.size() - 3));
      known = false;
      if constexpr (Utf8) {
        if (n >= 0 && n <= 0x10FFFF && !(n >= 0xD800 && n <= 0xDFFF) && n != 0xFFFE && n != 0xFFFF) {
          AppendUtf8(replacement, static_cast<char32_t>(n));
          known = true;
        }
      } else {
        const int b = n >= 0 && n <= 0x10FFFF ? UnicodeToCp1252(static_cast<char32_t>(n)) : -1;
        if (b >= 0) {
          replacement.push_back(static_cast<char>(b));
          known = true;
        }
      }
    } else {
      known = false;
    }
    if (known) {
      out += replacement;
      i = semi + 1;
    } else {
      // Not an entity of ours: keep the "&" and look for the next one.
      out.push_back('&');
      i = a + 1;
    }
  }
  return out;
}

}  // namespace

std::string UnescapeTextUtf8(std::string_view text) { return Unescape<true>(text); }
std::string UnescapeTextAnsi(std::string_view text) { return Unescape<false>(text); }

std::string QuoteText(std::string_view text) {
  const char q = text.find('"') != std::string_view::npos ? '\'' : '"';
  std::string out(1, q);
  for (char c : text) {
    out.push_back(c);
    if (c == q) out.push_back(c);
  }
  out.push_back(q);
  return out;
}

std::string UnquoteText(std::string_view text) {
  if (text.size() < 2 || (text[0] != '"' && text[0] != '\'')) return std::string(text);
  const char q = text[0];
  std::string out;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] == q) {
      if (i + 1 < text.size() && text[i + 1] == q) {
        out.push_back(q);
        ++i;
        continue;
      }
      break;
    }
    out.push_back(text[i]);
  }
  return out;
}

// ---- Binary -----------------------------------------------------------------------

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct Base64Table {
  signed char v[256];
  constexpr Base64Table() : v() {
    for (int i = 0; i < 256; ++i) v[i] = -1;
    for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<signed char>(i);
  }
};
constexpr Base64Table kBase64Decode;

[[noreturn]] void BadCharacter() { throw EFilerError("Invalid character in binary stream"); }

}  // namespace

std::string EncodeBase64(const void* data, std::size_t count) {
  const auto* s = static_cast<const unsigned char*>(data);
  std::string out((count + 2) / 3 * 4, '=');
  char* o = out.data();
  std::size_t i = 0;
  for (; i + 3 <= count; i += 3) {
    const unsigned v = s[i] << 16 | s[i + 1] << 8 | s[i + 2];
    *o++ = kBase64Alphabet[v >> 18];
    *o++ = kBase64Alphabet[(v >> 12) & 63];
    *o++ = kBase64Alphabet[(v >> 6) & 63];
    *o++ = kBase64Alphabet[v & 63];
  }
  if (i < count) {
    const unsigned v = s[i] << 16 | (i + 1 < count ? s[i + 1] << 8 : 0);
    *o++ = kBase64Alphabet[v >> 18];
    *o++ = kBase64Alphabet[(v >> 12) & 63];
    if (i + 1 < count) *o++ = kBase64Alphabet[(v >> 6) & 63];
  }
  return out;
}

std::string EncodeBinHex(const void* data, std::size_t count) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const auto* s = static_cast<const unsigned char*>(data);
  std::string out(count * 2, '0');
  for (std::size_t i = 0; i < count; ++i) {
    out[2 * i] = kHex[s[i] >> 4];
    out[2 * i + 1] = kHex[s[i] & 15];
  }
  return out;
}

void DecodeBase64(std::string_view text, void* out, std::size_t count) {
  if (count > text.size() / 4 * 3) throw EFilerError("Missing data in binary stream");
  auto* o = static_cast<unsigned char*>(out);
  const std::size_t quads = (count + 2) / 3;
  const std::size_t n = text.size();
  for (std::size_t q = 0; q < quads; ++q) {
    unsigned v = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const std::size_t at = q * 4 + k;
      const auto c = static_cast<unsigned char>(text[at]);
      int d = kBase64Decode.v[c];
      // Padding only at the very end, and at most two of it.
      if (d < 0) {
        if (c != '=' || at + 2 < n || (at + 1 < n && text[at + 1] != '=')) BadCharacter();
        d = 0;
      }
      v = v << 6 | static_cast<unsigned>(d);
    }
    const std::size_t base = q * 3;
    for (std::size_t k = 0; k < 3 && base + k < count; ++k) o[base + k] = static_cast<unsigned char>(v >> (16 - 8 * k));
  }
}

void DecodeBinHex(std::string_view text, void* out, std::size_t count) {
  if (count > text.size() / 2) throw EFilerError("Missing data in binary stream");
  auto* o = static_cast<unsigned char*>(out);
  for (std::size_t i = 0; i < count; ++i) {
    const int hi = HexDigit(text[2 * i]), lo = HexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) BadCharacter();
    o[i] = static_cast<unsigned char>(hi << 4 | lo);
  }
}

std::string WrapText(std::string_view text, std::string_view separator, int interval) {
  if (separator.empty() || interval <= 0) return std::string(text);
  const std::size_t step = static_cast<std::size_t>(interval);
  std::string out;
  out.reserve(text.size() + (text.size() / step + 2) * separator.size());
  for (std::size_t i = 0; i < text.size(); i += step) {
    out.append(separator);
    out.append(text.substr(i, step));
  }
  out.append(separator);
  return out;
}

std::string StripBlanks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (!IsBlank(c)) out.push_back(c);
  return out;
}

}  // namespace kdl
