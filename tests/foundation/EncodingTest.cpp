#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "support/StreamText.h"
#include "foundation/BrenlowXml.h"
#include "foundation/BufferedStream.h"
#include "foundation/CodecStream.h"
#include "foundation/Encoding.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

using namespace kdl::test;

TTextEncoding Detect(const std::string& bytes) {
  const int row = DetectEncodingRow(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return row < 0 ? teEightBit : kEncodingTable[static_cast<std::size_t>(row)].Encoding;
}

TEST(EncodingDetection, SignatureTableInOrder) {
  EXPECT_EQ(Detect(""), teUcs4BE);  // an empty input matches the first row
  EXPECT_EQ(Detect("<?xm"), teEightBit);
  EXPECT_EQ(Detect("<R/>"), teEightBit);
  EXPECT_EQ(Detect("\xFF\xFE<\0"), teUtf16LE);
  EXPECT_EQ(Detect(std::string("\xFF\xFE\0\0", 4)), teUcs4LE);
  EXPECT_EQ(Detect(std::string("\xFE\xFF\0<", 4)), teUtf16BE);
  EXPECT_EQ(Detect("\xFE\xFF"), teUcs4Order3412);  // too short to tell
  EXPECT_EQ(Detect("\xEF\xBB\xBF<"), teUtf8);
  EXPECT_EQ(Detect(std::string("<\0?\0", 4)), teUtf16LE);
  EXPECT_EQ(Detect(std::string("\0<\0?", 4)), teUtf16BE);
  EXPECT_EQ(Detect("\x4C\x6F\xA7\x94"), teEbcdic);
}

TEST(Windows1252, AgreesWithPythonsCodecAndKeepsTheFiveGaps) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  FILE* p = popen(
      "python3 -c \"import sys\nfor b in range(256):\n try: print(ord(bytes([b]).decode('cp1252')))\n except "
      "UnicodeDecodeError: print(b)\"",
      "r");
  ASSERT_NE(p, nullptr);
  int b = 0;
  unsigned cp = 0;
  while (b < 256 && std::fscanf(p, "%u", &cp) == 1) {
    EXPECT_EQ(Cp1252ToUnicode(static_cast<std::uint8_t>(b)), cp) << b;
    EXPECT_EQ(UnicodeToCp1252(cp), b);
    ++b;
  }
  pclose(p);
  EXPECT_EQ(b, 256);
  EXPECT_EQ(Utf8ToAnsiText(AnsiToUtf8Text(all)), all);
  EXPECT_EQ(UnicodeToCp1252(0x4E2D), -1);
}

TEST(Utf8, FourByteFormsOldSurrogateFormsAndBadBytes) {
  EXPECT_EQ(WideToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), u"\U0001F600");
  // The two 3-byte halves that old files hold.
  EXPECT_EQ(Utf8ToWide("\xED\xA0\xBD\xED\xB8\x80"), u"\U0001F600");
  EXPECT_EQ(SanitizeUtf8("a\xED\xA0\xBD\xED\xB8\x80"), "a\xF0\x9F\x98\x80");
  // One bad byte costs one character, not the whole text.
  EXPECT_EQ(Utf8ToWide("ab\xC3"), u"ab\uFFFD");
  EXPECT_EQ(Utf8ToWide("a\xFFz"), u"a\uFFFDz");
  EXPECT_EQ(Utf8ToWide("\xC0\x80"), u"\uFFFD\uFFFD");  // overlong
  EXPECT_EQ(SanitizeUtf8("\xEF\xBF\xBD ok"), "\xEF\xBF\xBD ok");
  // A lone surrogate in a wide string can't be written as UTF-8.
  EXPECT_EQ(WideToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToAnsi(u"\u00E9\U0001F600"), "\xE9?");
}

TEST(Utf8, AgreesWithPythonOnEveryPlane) {
  std::u16string wide;
  for (char32_t cp = 1; cp < 0x110000; cp += 97)
    if (cp < 0xD800 || cp > 0xDFFF) AppendUtf16(wide, cp);
  const std::string ours = WideToUtf8(wide);
  EXPECT_EQ(Hex(ours), RunCommand("python3 -c \"import sys\ns=''.join(chr(c) for c in range(1,0x110000,97) "
                                  "if not 0xD800<=c<=0xDFFF)\nsys.stdout.write(s.encode('utf-8').hex())\""));
  EXPECT_EQ(Utf8ToWide(ours), wide);
}

// Texts long enough for the block-wise check, mostly beyond ASCII, with one
// fault now and then (stray and cut-short bytes, overlong forms,
// surrogates, values past U+10FFFF) anywhere, block edges and end included:
// the valid prefix must end where python's strict decoder stops.
TEST(Utf8, ValidPrefixAgreesWithPythonsStrictDecoder) {
  std::mt19937 rng(1103);
  const std::vector<std::string> good = {"a", "<x>", "\xC3\xA9", "\xD0\x96", "\xE2\x82\xAC", "\xE4\xB8\xAD",
                                         "\xEF\xBF\xBD", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\xED\x9F\xBF",
                                         "\xEE\x80\x80", "\xE0\xA0\x80", "\xF0\x90\x80\x80"};
  const std::vector<std::string> bad = {"\x80", "\xBF", "\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xC0\x80",
                                        "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xF0\x80\x80\x80",
                                        "\xF0\x8F\xBF\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
                                        "\xED\xA0\xBD\xED\xB8\x80", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",
                                        "\xFF", "\xFE", "\xC3\xC3", "\xE2\x28\xA1"};
  std::vector<std::string> texts;
  std::string hex;
  for (int t = 0; t < 3000; ++t) {
    std::string text;
    const std::size_t length = 64 + rng() % 160;
    while (text.size() < length) text += good[rng() % good.size()];
    if (t % 4 != 0) {
      // Near a 32-byte edge, or at the very end.
      const std::size_t at = t % 7 == 0 ? text.size() : std::min(text.size(), (rng() % 8) * 32 + rng() % 5);
      text.insert(at, bad[rng() % bad.size()]);
    }
    texts.push_back(text);
    hex += Hex(text) + "\n";
  }
  ScratchDir dir;
  WriteFile(dir / "texts", hex);
  const std::string python = RunCommand(
      "python3 -c \"import sys\nfor l in open(sys.argv[1]):\n b=bytes.fromhex(l.strip())\n try:\n  b.decode('utf-8')\n"
      "  print(len(b))\n except UnicodeDecodeError as e:\n  print(e.start)\" " + (dir / "texts").string());
  std::string ours;
  for (const std::string& text : texts) ours += std::to_string(ValidUtf8Prefix(text)) + "\n";
  EXPECT_EQ(ours, python);
}

// ---- Codec streams -------------------------------------------------------------------

std::string ReadAllChars(TqxCodecStream& codec) {
  std::string out;
  char c;
  while (codec.Read(&c, 1) == 1) out.push_back(c);
  return out;
}

std::string Utf16(const std::u16string& text, bool bigEndian, bool mark) {
  std::string out;
  if (mark) out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t u : text) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out.push_back(bigEndian ? hi : lo);
    out.push_back(bigEndian ? lo : hi);
  }
  return out;
}

TEST(CodecStream, CharacterStreamsAgreeWithTheWholeInputDecoder) {
  const std::string samples[] = {
      "<?xml version=\"1.0\"?><a>\xE9\x80 x</a>",
      "\xEF\xBB\xBF<a>\xC3\xA9\xF0\x9F\x98\x80</a>",
      Utf16(u"<a>\u00E9\U0001F600\u4E2D</a>", true, true),
      Utf16(u"<?xml?><a>\u00E9</a>", false, false),
  };
  for (const std::string& bytes : samples) {
    for (bool utf8 : {false, true}) {
      TMemoryStream src;
      Fill(src, bytes);
      std::unique_ptr<TqxCodecStream> codec;
      if (utf8) codec = std::make_unique<TqxUtf8Stream>(&src);
      else codec = std::make_unique<TqxAnsiStream>(&src);
      EXPECT_EQ(ReadAllChars(*codec), DecodeXmlBytes(bytes, utf8).Text) << utf8;
    }
  }
  // Characters the code page lacks: one event however many are lost.
  TMemoryStream src;
  TqxAnsiStream codec(&Fill(src, Utf16(u"<a>\u00E9\u4E2D\u4E2D\u20AC</a>", false, true)));
  int fired = 0;
  codec.OnCharLost = [&] { ++fired; };
  EXPECT_EQ(ReadAllChars(codec), "<a>\xE9??\x80</a>");
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(codec.Encoding(), teUtf16LE);
}

TEST(CodecStream, DocumentReadsThroughATranscoder) {
  TMemoryStream src;
  Fill(src, Utf16(u"<a>\u00E9\U0001F600</a>", false, true));
  TqxUtf8Stream codec(&src);
  TBrenlowXml doc;
  doc.SetUtf8Strings(true);
  doc.ReadFromStream(codec);
  EXPECT_EQ(doc.Root()->GetValueText(), "\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(CodecStream, StepsBackOneOrTwoCharactersAndRefusesMisuse) {
  TMemoryStream src;
  Fill(src, Utf16(u"ab\u00E9c", true, true));
  TqxUtf8Stream codec(&src);
  char c;
  codec.Read(&c, 1);  // a
  codec.Read(&c, 1);  // b
  codec.Read(&c, 1);  // first byte of é
  codec.Seek(-2, soCurrent);
  EXPECT_EQ(ReadAllChars(codec), "b\xC3\xA9" "c");
  EXPECT_EQ(codec.Seek(0, soEnd), src.Size());
  EXPECT_THROW(codec.Seek(5, soCurrent), EStreamError);
  EXPECT_THROW(codec.Write("x", 1), EStreamError);
  EXPECT_THROW(codec.Read(&c, 2), EStreamError);
  // Refusals: a seek before the first read, no source, an encoding it can't read.
  TqxAnsiStream unused(&src), none(nullptr);
  EXPECT_THROW(unused.Seek(0, soCurrent), EStreamError);
  EXPECT_THROW(none.Read(&c, 1), EStreamError);
  TMemoryStream ucs4;
  TqxAnsiStream refused(&Fill(ucs4, std::string("\0\0\xFE\xFF", 4)));
  EXPECT_THROW(refused.Read(&c, 1), EStreamError);
}

TEST(CodecStream, WritingThroughEitherTranscoder) {
  struct Case {
    bool utf8Strings;
    TTextEncoding encoding;
    std::string text, bytes;
  };
  const Case cases[] = {
      {false, teUtf8, "\xE9\x80", "\xEF\xBB\xBF\xC3\xA9\xE2\x82\xAC"},
      {true, teUtf8, "\xC3\xA9", "\xEF\xBB\xBF\xC3\xA9"},
      {true, teUtf16BE, "a\xC3\xA9\xF0\x9F\x98\x80", Utf16(u"a\u00E9\U0001F600", true, true)},
      {true, teEightBit, "\xE4\xB8\xAD\xC3\xA9", "?\xE9"},
  };
  for (const Case& c : cases) {
    TMemoryStream out;
    std::unique_ptr<TqxCodecStream> codec;
    if (c.utf8Strings) codec = std::make_unique<TqxUtf8Stream>(&out);
    else codec = std::make_unique<TqxAnsiStream>(&out);
    codec->SetEncoding(c.encoding);
    codec->Write(c.text.data(), static_cast<std::int64_t>(c.text.size()));
    EXPECT_EQ(Text(out), c.bytes) << c.text;
    char ch;
    EXPECT_THROW(codec->Read(&ch, 1), EStreamError);
  }
  EXPECT_EQ(EncodeXmlText(cases[2].text, teUtf16BE, true), cases[2].bytes);
}

// ---- Buffered streams --------------------------------------------------------------------

TEST(BufferedStream, OneByteReadsCrossPagesAndSeekBackReloads) {
  std::string bytes(65536 + 100, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + i / 65536);
  TMemoryStream src;
  Fill(src, bytes);
  TqxBufferedReadStream r(src);
  std::string got;
  char c;
  while (r.Read(&c, 1) == 1) got.push_back(c);
  EXPECT_EQ(got, bytes);
  r.Seek(65530, soBeginning);
  char block[10];
  EXPECT_EQ(r.Read(block, 10), 10);
  EXPECT_EQ(std::string(block, 10), bytes.substr(65530, 10));
  r.Seek(-20, soEnd);
  EXPECT_EQ(r.Read(block, 10), 10);
  EXPECT_EQ(std::string(block, 10), bytes.substr(bytes.size() - 20, 10));
  EXPECT_THROW(r.Write("x", 1), EStreamError);
}

// A target that takes only part of what it is given.
class ShortStream : public TMemoryStream {
 public:
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    return TMemoryStream::Write(buffer, count > 3 ? count - 1 : count);
  }
};

TEST(BufferedStream, WritesGatherAndShortWritesRaise) {
  TMemoryStream out;
  std::string big(200000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
  {
    TqxBufferedWriteStream w(out);
    w.Write("ab", 2);
    w.Write(big.data(), static_cast<std::int64_t>(big.size()));
    EXPECT_EQ(w.Seek(0, soCurrent), 200002);
    EXPECT_THROW(w.Seek(5, soBeginning), EStreamError);
    char c;
    EXPECT_THROW(w.Read(&c, 1), EStreamError);
  }
  EXPECT_EQ(Text(out), "ab" + big);
  ShortStream shortTarget;
  TqxBufferedWriteStream w(shortTarget);
  w.Write("abcdef", 6);
  EXPECT_THROW(w.Flush(), EStreamError);
  TBrenlowXml doc("R");
  EXPECT_THROW(doc.SaveToStream(shortTarget), EStreamError);
}

}  // namespace
}  // namespace kdl
