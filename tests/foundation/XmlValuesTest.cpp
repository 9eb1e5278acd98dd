#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/XmlValues.h"
#include "platform/TempFiles.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

TEST(FloatToText, ExamplesOfTheTextForm) {
  EXPECT_EQ(FloatToText(0.05, 6, true), ".05");
  EXPECT_EQ(FloatToText(0.005, 6, true), "5E-3");
  EXPECT_EQ(FloatToText(10000000, 6, true), "10000000");
  EXPECT_EQ(FloatToText(100000000, 6, true), "1.00000E8");
  EXPECT_EQ(FloatToText(-0.0, 6, true), "0");
  EXPECT_EQ(FloatToText(99.99996, 3, true), "100");  // rounding carries into the next power
  // Without the exponent form the zeros are spelled out.
  EXPECT_EQ(FloatToText(0.005, 6, false), ".005");
  EXPECT_EQ(FloatToText(100000000, 6, false), "100000000");
  EXPECT_THROW(FloatToText(1, 0, true), EConvertError);
  EXPECT_THROW(FloatToText(1, 10, true), EConvertError);
}

TEST(FloatToText, InfinityAndNanEndAtOnce) {
  EXPECT_EQ(FloatToText(std::numeric_limits<double>::infinity(), 6, true), "INF");
  EXPECT_EQ(FloatToText(-std::numeric_limits<double>::infinity(), 6, true), "-INF");
  EXPECT_EQ(FloatToText(std::nan(""), 6, true), "NAN");
  EXPECT_TRUE(std::isinf(*TextToFloat("INF")));
}

// Reads back what python3 prints for a list of doubles given as hex floats.
std::vector<std::string> PythonRounded(const std::vector<double>& values, int digits) {
  TTempFile input("kdl-float-");
  std::string hex;
  char buf[64];
  for (double v : values) hex += std::string(buf, std::to_chars(buf, buf + 64, v, std::chars_format::hex).ptr) + "\n";
  test::WriteFile(input.Path(), hex);
  std::istringstream printed(test::RunCommand("python3 -c \"import sys\nfor l in open(sys.argv[1]):\n print('%." +
                                              std::to_string(digits - 1) + "e' % float.fromhex(l.strip()))\" " +
                                              input.Path().string()));
  std::vector<std::string> out;
  for (std::string line; std::getline(printed, line);) out.push_back(line);
  return out;
}

double ParseDouble(const std::string& s) {
  double d = std::nan("");
  std::from_chars(s.data(), s.data() + s.size(), d);
  return d;
}

// Our text must stand for the correctly rounded decimal that python gives,
// in the form the text form prescribes.
TEST(FloatToText, MatchesCorrectlyRoundedDigitsOfFloat32Values) {
  std::vector<double> values;
  std::mt19937 rng(1234);
  std::uniform_int_distribution<std::uint32_t> bits(0, 0x7F7FFFFF);
  for (int i = 0; i < 6000; ++i) values.push_back(std::bit_cast<float>(bits(rng)));
  // Densely around every power of ten a float can reach.
  for (int e = -37; e <= 38; ++e) {
    float p = static_cast<float>(std::pow(10.0, e));
    float lo = p, hi = p;
    for (int k = 0; k < 40; ++k) {
      lo = std::nextafter(lo, 0.0f);
      hi = std::nextafter(hi, std::numeric_limits<float>::infinity());
      values.push_back(lo);
      values.push_back(hi);
    }
    values.push_back(p);
    values.push_back(p * 0.9999995f);
    values.push_back(p * 9.999995f);
  }
  std::erase_if(values, [](double v) { return !std::isfinite(v) || v == 0; });
  const std::vector<std::string> expect = PythonRounded(values, 6);
  ASSERT_EQ(expect.size(), values.size()) << "python3 must be installed";
  int failures = 0;
  for (std::size_t i = 0; i < values.size() && failures < 10; ++i) {
    const std::string text = FloatToText(values[i], 6, true);
    const auto e = text.find('E');
    const std::string mantissa = text.substr(0, e);
    const int refExponent = std::stoi(expect[i].substr(expect[i].find('e') + 1));
    bool ok = ParseDouble(text[0] == '.' ? "0" + text : text) == ParseDouble(expect[i]);
    if (e == std::string::npos)  // plain form only for -1 <= P <= N+2, and never "0." in front
      ok = ok && refExponent + 1 >= -1 && refExponent + 1 <= 8 && text.rfind("0.", 0) != 0;
    else  // at most six digits, the first not zero
      ok = ok && std::stoi(text.substr(e + 1)) == refExponent && mantissa[0] != '0' &&
           std::count_if(mantissa.begin(), mantissa.end(), [](char c) { return c != '.'; }) <= 6;
    if (!ok) {
      ++failures;
      ADD_FAILURE() << "value " << values[i] << ": ours " << text << ", correctly rounded " << expect[i];
    }
  }
}

TEST(TextToFloat, CommaStandsForPointOnce) {
  EXPECT_EQ(*TextToFloat("1,5"), 1.5);
  EXPECT_FALSE(TextToFloat("1,5,6"));
  EXPECT_EQ(*TextToFloat(" -2.5E3 "), -2500);
  EXPECT_EQ(*TextToFloat(".5"), 0.5);
  EXPECT_FALSE(TextToFloat(""));
  EXPECT_FALSE(TextToFloat("1.5x"));
}

TEST(IntegerText, DecimalAndDollarHex) {
  EXPECT_EQ(*TextToInt64("-42"), -42);
  EXPECT_EQ(*TextToInt64("$FF"), 255);
  EXPECT_EQ(*TextToInt64("$ffffffffffffffff"), -1);
  EXPECT_FALSE(TextToInt64("12a"));
  EXPECT_FALSE(TextToInt64("$"));
  EXPECT_FALSE(TextToInt64("99999999999999999999"));
  EXPECT_EQ(HexText(255, 4), "$00FF");
  EXPECT_EQ(HexText(0x12345, 2), "$12345");
}

TEST(BoolText, FirstLetterDecides) {
  EXPECT_TRUE(TextToBoolDef("yes", false));
  EXPECT_FALSE(TextToBoolDef("false", true));
  EXPECT_TRUE(TextToBoolDef("0", true));
  EXPECT_FALSE(TextToBoolDef("", false));
  EXPECT_THROW(XmlTextToBool("1"), EConvertError);
}

TEST(DateTimeText, DaysCountFromTheEpochOfTheFormat) {
  // 2024-03-05 is day 45356 after 1899-12-30.
  EXPECT_EQ(EncodeDateTime(2024, 3, 5, 0, 0, 0, 0), 45356.0);
  EXPECT_EQ(DateTimeToText(45356.0), "2024-03-05");
  const TDateTime t = EncodeDateTime(2024, 3, 5, 14, 7, 9, 250);
  EXPECT_EQ(DateTimeToText(t), "2024-03-05T14:07:09.250Z");
  EXPECT_EQ(TextToDateTime("2024-03-05T14:07:09.250Z"), t);
  // Sixteen characters are too few for the time.
  EXPECT_EQ(TextToDateTime("2024-03-05T14:07"), 45356.0);
  EXPECT_EQ(TextToDateTimeDef("2024-02-30", -1), -1);
  EXPECT_EQ(TextToDateTimeDef("garbage", -1), -1);
  EXPECT_EQ(DateTimeToText(EncodeDateTime(1899, 12, 30, 0, 0, 0, 0)), "1899-12-30");
  EXPECT_EQ(DateTimeToText(EncodeDateTime(1, 1, 1, 0, 0, 0, 0)), "0001-01-01");
}

// The default-taking reader answers without raising; it must still accept
// exactly the texts the raising one accepts, with the same value, and the
// raising one keeps its two messages. Which dates exist is asked of the
// standard library's calendar.
TEST(DateTimeText, TheDefaultReaderAgreesWithTheRaisingOne) {
  std::mt19937 rng(37);
  const auto two = [](int v) { return (v < 10 && v >= 0 ? "0" : "") + std::to_string(v); };
  for (int round = 0; round < 4000; ++round) {
    const int y = static_cast<int>(rng() % 10002), m = static_cast<int>(rng() % 14),
              d = static_cast<int>(rng() % 33), h = static_cast<int>(rng() % 26), mi = static_cast<int>(rng() % 62);
    std::string text = std::string(y < 1000 ? 4 - std::to_string(y).size() : 0, '0') + std::to_string(y) + "-" +
                       two(m) + "-" + two(d);
    const bool withTime = round % 2 == 1;
    if (withTime) text += "T" + two(h) + ":" + two(mi) + ":07.5Z";
    if (round % 7 == 0) text[static_cast<std::size_t>(rng() % text.size())] = 'x';
    bool exists = std::chrono::year_month_day(std::chrono::year(y), std::chrono::month(static_cast<unsigned>(m)),
                                              std::chrono::day(static_cast<unsigned>(d)))
                      .ok() &&
                  y >= 1 && (!withTime || (h < 24 && mi < 60));
    std::string message;
    TDateTime raised = 0;
    try {
      raised = TextToDateTime(text);
    } catch (const EConvertError& e) {
      message = e.what();
    }
    const TDateTime def = TextToDateTimeDef(text, -12345);
    if (message.empty()) {
      EXPECT_TRUE(exists || round % 7 == 0) << text;
      EXPECT_EQ(def, raised) << text;
    } else {
      EXPECT_FALSE(exists && round % 7 != 0) << text << ": " << message;
      EXPECT_EQ(def, -12345) << text;
      EXPECT_TRUE(message == "Invalid argument to date encode" || message == "'" + text + "' is not a valid date")
          << message;
    }
  }
}

TEST(Escaping, MarkupAndControlCharacters) {
  EXPECT_EQ(EscapeText("a<b>&'\""), "a&lt;b&gt;&amp;&apos;&quot;");
  EXPECT_EQ(EscapeText(std::string("a\0b\x01\t\n\r", 7)), "a&#0;b&#1;\t\n\r");
  EXPECT_EQ(UnescapeTextUtf8("&#x41;"), "A");
  EXPECT_EQ(UnescapeTextUtf8("&#65535;"), "&#65535;");
  EXPECT_EQ(UnescapeTextUtf8("&foo;"), "&foo;");
  EXPECT_EQ(UnescapeTextUtf8("&amp;lt;"), "&lt;");
  EXPECT_EQ(UnescapeTextUtf8("&#x1F600;"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(UnescapeTextUtf8("&#xD800;"), "&#xD800;");
  EXPECT_EQ(UnescapeTextUtf8("&#1114112;"), "&#1114112;");
  EXPECT_EQ(UnescapeTextUtf8("&#;&#x;&#12a;"), "&#;&#x;&#12a;");
  EXPECT_EQ(UnescapeTextUtf8("a & b &lt; c"), "a & b < c");
  EXPECT_EQ(UnescapeTextUtf8("a&#0;b&#31;"), std::string("a\0b\x1F", 4));
  // The 8-bit form holds what Windows-1252 can hold.
  EXPECT_EQ(UnescapeTextAnsi("&#233;&#8364;&#x4E2D;"), "\xE9\x80&#x4E2D;");
  const std::string all = [] {
    std::string s;
    for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
    return s;
  }();
  EXPECT_EQ(UnescapeTextAnsi(EscapeText(all)), all);
}

TEST(Quoting, DoubleUnlessTheTextHoldsOne) {
  EXPECT_EQ(QuoteText("a'b"), "\"a'b\"");
  EXPECT_EQ(QuoteText("a\"b'"), "'a\"b'''");
  EXPECT_EQ(UnquoteText("'a\"b'''"), "a\"b'");
  EXPECT_EQ(UnquoteText("\"x\" y"), "x");
  EXPECT_EQ(UnquoteText("x"), "x");
}

TEST(Binary, Base64TestVectorsOfRfc4648) {
  const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
  const char* coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(EncodeBase64(plain[i], std::strlen(plain[i])), coded[i]);
    std::string back(std::strlen(plain[i]), '\0');
    DecodeBase64(coded[i], back.data(), back.size());
    EXPECT_EQ(back, plain[i]);
  }
  EXPECT_EQ(EncodeBinHex("\x01\xAB", 2), "01AB");
}

TEST(Binary, DecodersRefuseBadInput) {
  char out[8];
  EXPECT_THROW(DecodeBase64("Zm9v", out, 4), EFilerError);    // too little data
  EXPECT_THROW(DecodeBase64("Zm*v", out, 3), EFilerError);    // outside the alphabet
  EXPECT_THROW(DecodeBase64("Z=9vZm9v", out, 6), EFilerError);  // padding inside
  EXPECT_THROW(DecodeBinHex("0G", out, 1), EFilerError);
  EXPECT_THROW(DecodeBinHex("012", out, 2), EFilerError);
}

TEST(Binary, WrapPutsTheSeparatorAroundEveryLine) {
  EXPECT_EQ(WrapText("abcdef", "|", 4), "|abcd|ef|");
  EXPECT_EQ(WrapText("", "|", 4), "|");
  EXPECT_EQ(WrapText("abc", "", 4), "abc");
  EXPECT_EQ(StripBlanks(" a\tb\r\nc "), "abc");
}

}  // namespace
}  // namespace kdl
