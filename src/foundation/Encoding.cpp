#include "foundation/Encoding.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <cstring>

namespace kdl {

const std::array<TEncodingSignature, 15> kEncodingTable = {{
    {{0x00, 0x00, 0xFE, 0xFF}, 4, teUcs4BE, true},
    {{0xFF, 0xFE, 0x00, 0x00}, 4, teUcs4LE, true},
    {{0x00, 0x00, 0xFF, 0xFE}, 4, teUcs4Order2143, true},
    {{0xFE, 0xFF, 0x00, 0x00}, 4, teUcs4Order3412, true},
    {{0xFE, 0xFF, 0x00, 0x00}, 2, teUtf16BE, true},
    {{0xFF, 0xFE, 0x00, 0x00}, 2, teUtf16LE, true},
    {{0xEF, 0xBB, 0xBF, 0x00}, 3, teUtf8, true},
    {{0x00, 0x00, 0x00, 0x3C}, 4, teUcs4BE, false},
    {{0x3C, 0x00, 0x00, 0x00}, 4, teUcs4LE, false},
    {{0x00, 0x00, 0x3C, 0x00}, 4, teUcs4Order2143, false},
    {{0x00, 0x3C, 0x00, 0x00}, 4, teUcs4Order3412, false},
    {{0x00, 0x3C, 0x00, 0x3F}, 4, teUtf16BE, false},
    {{0x3C, 0x00, 0x3F, 0x00}, 4, teUtf16LE, false},
    {{0x3C, 0x3F, 0x78, 0x6D}, 4, teEightBit, false},
    {{0x4C, 0x6F, 0xA7, 0x94}, 4, teEbcdic, false},
}};

int DetectEncodingRow(const std::uint8_t* data, std::size_t count) {
  for (std::size_t row = 0; row < kEncodingTable.size(); ++row) {
    const TEncodingSignature& sig = kEncodingTable[row];
    const std::size_t n = count < sig.Length ? count : sig.Length;
    if (n == 0 || std::memcmp(data, sig.Bytes, n) == 0) return static_cast<int>(row);
  }
  return -1;
}

int EncodingTableRow(TTextEncoding encoding) {
  for (std::size_t row = 0; row < kEncodingTable.size(); ++row)
    if (kEncodingTable[row].Encoding == encoding) return static_cast<int>(row);
  return -1;
}

bool IsUnsupportedEncoding(TTextEncoding encoding) {
  return encoding == teUcs4BE || encoding == teUcs4Order2143 || encoding == teUcs4Order3412 ||
         encoding == teEbcdic || encoding > teEbcdic;
}

bool IsSwappedEncoding(TTextEncoding encoding) {
  return encoding == teWide16BE || encoding == teUtf16BE;
}

bool IsWideEncoding(TTextEncoding encoding) {
  return encoding == teWide16BE || encoding == teWide16LE || encoding == teUtf16BE ||
         encoding == teUtf16LE;
}

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
    return;
  }
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacementChar;
  if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
  }
  out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacementChar;
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

char32_t DecodeUtf8(const char*& p, const char* end) {
  const auto* s = reinterpret_cast<const unsigned char*>(p);
  const auto* e = reinterpret_cast<const unsigned char*>(end);
  const unsigned char b0 = s[0];
  if (b0 < 0x80) {
    ++p;
    return b0;
  }
  const std::ptrdiff_t left = e - s;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (left >= 2 && IsContinuation(s[1])) {
      p += 2;
      return (static_cast<char32_t>(b0 & 0x1F) << 6) | (s[1] & 0x3F);
    }
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (left >= 3 && IsContinuation(s[1]) && IsContinuation(s[2])) {
      const char32_t cp = (static_cast<char32_t>(b0 & 0x0F) << 12) |
                          (static_cast<char32_t>(s[1] & 0x3F) << 6) | (s[2] & 0x3F);
      if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) {
        p += 3;
        return cp;
      }
      // A high surrogate followed by a low one, each in its own 3-byte form:
      // the way old files stored characters beyond U+FFFF.
      if (cp >= 0xD800 && cp <= 0xDBFF && left >= 6 && s[3] == 0xED && s[4] >= 0xB0 &&
          s[4] <= 0xBF && IsContinuation(s[5])) {
        const char32_t low = 0xD000 | (static_cast<char32_t>(s[4] & 0x3F) << 6) | (s[5] & 0x3F);
        p += 6;
        return 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      }
    }
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (left >= 4 && IsContinuation(s[1]) && IsContinuation(s[2]) && IsContinuation(s[3])) {
      const char32_t cp = (static_cast<char32_t>(b0 & 0x07) << 18) |
                          (static_cast<char32_t>(s[1] & 0x3F) << 12) |
                          (static_cast<char32_t>(s[2] & 0x3F) << 6) | (s[3] & 0x3F);
      if (cp >= 0x10000 && cp <= 0x10FFFF) {
        p += 4;
        return cp;
      }
    }
  }
  ++p;
  return kReplacementChar;
}

#if defined(__x86_64__)
namespace {

// Error bits of the first two bytes of a sequence, for the block-wise check
// below (the method of Keiser and Lemire, "Validating UTF-8 in less than one
// instruction per byte"): a byte pair is wrong where three nibble lookups
// share a bit.
constexpr std::uint8_t kTooShort = 1 << 0, kTooLong = 1 << 1, kOverlong3 = 1 << 2, kTooLarge = 1 << 3,
                       kSurrogate = 1 << 4, kOverlong2 = 1 << 5, kTooLarge1000 = 1 << 6, kOverlong4 = 1 << 6,
                       kTwoConts = 1 << 7;
constexpr std::uint8_t kCarry = kTooShort | kTooLong | kTwoConts;
constexpr std::uint8_t kPast = kCarry | kTooLarge | kTooLarge1000;
constexpr std::uint8_t kCont = kTooLong | kOverlong2 | kTwoConts;
// By the high nibble of the first byte, by its low nibble, and by the high
// nibble of the second byte.
alignas(16) constexpr std::uint8_t kByte1High[16] = {
    kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
    kTwoConts, kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
    kTooShort | kOverlong3 | kSurrogate, kTooShort | kTooLarge | kTooLarge1000 | kOverlong4};
alignas(16) constexpr std::uint8_t kByte1Low[16] = {
    kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry, kCarry | kTooLarge,
    kPast, kPast, kPast, kPast, kPast, kPast, kPast, kPast, kPast | kSurrogate, kPast, kPast};
alignas(16) constexpr std::uint8_t kByte2High[16] = {
    kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
    kCont | kOverlong3 | kTooLarge1000 | kOverlong4, kCont | kOverlong3 | kTooLarge, kCont | kSurrogate | kTooLarge,
    kCont | kSurrogate | kTooLarge, kTooShort, kTooShort, kTooShort, kTooShort};

#define KDL_AVX2 __attribute__((target("avx2")))

KDL_AVX2 inline __m256i Table(const std::uint8_t* t) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(t)));
}

// Whether the whole text is well-formed UTF-8, 32 bytes at a time. Text
// mostly beyond ASCII (translations) goes at memory speed instead of a
// character at a time.
KDL_AVX2 bool WellFormedUtf8Avx2(const char* p, std::size_t n) {
  const __m256i byte1High = Table(kByte1High), byte1Low = Table(kByte1Low), byte2High = Table(kByte2High);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i thirdFrom = _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80));
  const __m256i fourthFrom = _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80));
  const __m256i top = _mm256_set1_epi8(static_cast<char>(0x80));
  __m256i error = _mm256_setzero_si256();
  __m256i prev = _mm256_setzero_si256();
  bool prevAscii = true;
  // The rest (under 32 bytes) goes last behind NULs, at least one, so that a
  // sequence cut short by the end shows as one cut short by a NUL.
  alignas(32) char last[32] = {};
  const std::size_t whole = n & ~std::size_t{31};
  std::memcpy(last, p + whole, n - whole);
  for (std::size_t i = 0; i <= whole; i += 32) {
    const __m256i in = i < whole ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i))
                                 : _mm256_load_si256(reinterpret_cast<const __m256i*>(last));
    const bool ascii = _mm256_movemask_epi8(in) == 0;
    if (!(ascii && prevAscii)) {
      // The bytes one, two and three places before each byte.
      const __m256i carried = _mm256_permute2x128_si256(prev, in, 0x21);
      const __m256i prev1 = _mm256_alignr_epi8(in, carried, 15);
      const __m256i prev2 = _mm256_alignr_epi8(in, carried, 14);
      const __m256i prev3 = _mm256_alignr_epi8(in, carried, 13);
      const __m256i pairError = _mm256_and_si256(
          _mm256_and_si256(_mm256_shuffle_epi8(byte1High, _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble)),
                           _mm256_shuffle_epi8(byte1Low, _mm256_and_si256(prev1, nibble))),
          _mm256_shuffle_epi8(byte2High, _mm256_and_si256(_mm256_srli_epi16(in, 4), nibble)));
      // Third and fourth bytes of a sequence must be continuations.
      const __m256i must = _mm256_and_si256(
          _mm256_or_si256(_mm256_subs_epu8(prev2, thirdFrom), _mm256_subs_epu8(prev3, fourthFrom)), top);
      error = _mm256_or_si256(error, _mm256_xor_si256(must, pairError));
    }
    prev = in;
    prevAscii = ascii;
  }
  return _mm256_testz_si256(error, error) != 0;
}

#undef KDL_AVX2

}  // namespace
#endif

std::size_t ValidUtf8Prefix(std::string_view text) {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2 && text.size() >= 64 && WellFormedUtf8Avx2(text.data(), text.size())) return text.size();
#endif
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    // Runs of ASCII, the common case in markup, a block at a time.
#if defined(__SSE2__)
    while (end - p >= 64) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
      const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
      if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)))) break;
      p += 64;
    }
    while (end - p >= 16) {
      const int mask = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
      if (mask) {
        // Straight to the first byte that is not ASCII.
        p += __builtin_ctz(static_cast<unsigned>(mask));
        break;
      }
      p += 16;
    }
#endif
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      if (word & 0x8080808080808080ull) break;
      p += 8;
    }
    if (p >= end) break;
    const auto c0 = static_cast<unsigned char>(*p);
    if (c0 < 0x80) {
      ++p;
      continue;
    }
    // Two- and plain three-byte forms inline; the rest through the decoder.
    if (c0 >= 0xC2 && c0 <= 0xDF && end - p >= 2 && IsContinuation(static_cast<unsigned char>(p[1]))) {
      p += 2;
      continue;
    }
    if (c0 >= 0xE1 && c0 <= 0xEC && end - p >= 3 && IsContinuation(static_cast<unsigned char>(p[1])) &&
        IsContinuation(static_cast<unsigned char>(p[2]))) {
      p += 3;
      continue;
    }
    const char* start = p;
    const char32_t cp = DecodeUtf8(p, end);
    // A replacement or a joined surrogate pair means the bytes must change.
    if ((cp == kReplacementChar && !(p - start == 3 && static_cast<unsigned char>(start[0]) == 0xEF)) ||
        (cp >= 0x10000 && p - start == 6))
      return static_cast<std::size_t>(start - text.data());
  }
  return text.size();
}

std::string SanitizeUtf8(std::string_view text) {
  const std::size_t valid = ValidUtf8Prefix(text);
  if (valid == text.size()) return std::string(text);
  std::string out;
  out.reserve(text.size() + 16);
  out.append(text.data(), valid);
  const char* p = text.data() + valid;
  const char* end = text.data() + text.size();
  while (p < end) {
    if (static_cast<unsigned char>(*p) < 0x80) {
      out.push_back(*p++);
      continue;
    }
    AppendUtf8(out, DecodeUtf8(p, end));
  }
  return out;
}

std::string WideToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::u16string Utf8ToWide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) AppendUtf16(out, DecodeUtf8(p, end));
  return out;
}

std::string WideToAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    // A surrogate pair is one character and becomes one "?".
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF)
      ++i;
    const int b = UnicodeToCp1252(c);
    out.push_back(b < 0 ? '?' : static_cast<char>(b));
  }
  return out;
}

std::u16string AnsiToWide(std::string_view text) { return Cp1252ToWide(text); }

std::string AnsiToUtf8Text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) AppendUtf8(out, Cp1252ToUnicode(static_cast<std::uint8_t>(c)));
  return out;
}

std::string Utf8ToAnsiText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const int b = UnicodeToCp1252(DecodeUtf8(p, end));
    out.push_back(b < 0 ? '?' : static_cast<char>(b));
  }
  return out;
}

}  // namespace kdl
