#include <gtest/gtest.h>

#include <string>

#include "platform/qt/IniFile.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

std::string Value(const TMemIniFile& ini, const char* section, const char* key) {
  return ini.ReadString(section, key, "<none>");
}

TEST(MemIniFile, ReadsBomCrLfCommentsAndTrimsBlanks) {
  const auto ini = TMemIniFile::FromBytes(
      "\xEF\xBB\xBF; a comment line\r\n"
      "[Menu]\r\n"
      "  File  =  &File \t\r\n"
      "\tExit=E&xit\r\n"
      "   ; Exit=commented out\r\n"
      "\r\n"
      "[ Mail ]\r\n"
      "Body1=Hello,\r\n");
  EXPECT_EQ(Value(ini, "Menu", "File"), "&File");
  EXPECT_EQ(Value(ini, "Menu", "Exit"), "E&xit");
  EXPECT_EQ(Value(ini, "Mail", "Body1"), "Hello,");
  EXPECT_FALSE(ini.SectionExists("\xEF\xBB\xBF; a comment line"));
  EXPECT_FALSE(ini.ValueExists("Menu", "; Exit"));
}

TEST(MemIniFile, NamesIgnoreAsciiCaseAndTheFirstOneWins) {
  const auto ini = TMemIniFile::FromBytes(
      "[Menu]\nFile=first\nFILE=second\nfile=third\n"
      "[menu]\nFile=from a repeated section\nOnlyInRepeat=x\n"
      "[Other]\nKey=other\n");
  EXPECT_EQ(Value(ini, "mEnU", "fIlE"), "first");
  EXPECT_FALSE(ini.ValueExists("Menu", "OnlyInRepeat")) << "a repeated section is read";
  EXPECT_EQ(Value(ini, "OTHER", "key"), "other");
  // Only ASCII letters fold: "Ä" and "ä" are different names.
  const auto umlaut = TMemIniFile::FromBytes("[S]\n\xC3\x84=upper\n");
  EXPECT_TRUE(umlaut.ValueExists("S", "\xC3\x84"));
  EXPECT_FALSE(umlaut.ValueExists("S", "\xC3\xA4"));
}

TEST(MemIniFile, ValuesAreTakenLiterally) {
  const auto ini = TMemIniFile::FromBytes(
      "Outside=any section\n"
      "[S]\n"
      "Eq=a=b==c\n"
      "Escapes=one\\ntwo \\t \\\\ \\x41\n"
      "Commas=a, b,c\n"
      "Quotes=\"quoted\"\n"
      "Percent=%s %d %1 100%\n"
      "Empty=\n"
      "no equals sign here\n"
      "=no name\n"
      "[Broken\n"
      "After=still in S");  // no line feed at the end
  EXPECT_EQ(Value(ini, "S", "Eq"), "a=b==c");
  EXPECT_EQ(Value(ini, "S", "Escapes"), "one\\ntwo \\t \\\\ \\x41");
  EXPECT_EQ(Value(ini, "S", "Commas"), "a, b,c");
  EXPECT_EQ(Value(ini, "S", "Quotes"), "\"quoted\"");
  EXPECT_EQ(Value(ini, "S", "Percent"), "%s %d %1 100%");
  EXPECT_EQ(Value(ini, "S", "Empty"), "");
  EXPECT_FALSE(ini.ValueExists("S", "no equals sign here"));
  EXPECT_FALSE(ini.ValueExists("S", ""));
  EXPECT_EQ(Value(ini, "S", "After"), "still in S");
  EXPECT_FALSE(ini.SectionExists("Broken"));
  EXPECT_FALSE(ini.ValueExists("", "Outside"));
}

TEST(MemIniFile, ReadsWindows1252WhenNotUtf8) {
  // "Grüße – €" in Windows-1252: 0xFC, 0xDF, 0x96 (en dash), 0x80 (euro).
  const auto ini = TMemIniFile::FromBytes("[S]\nK=Gr\xFC\xDF\x65 \x96 \x80\n");
  EXPECT_EQ(Value(ini, "S", "K"), "Gr\xC3\xBC\xC3\x9F\x65 \xE2\x80\x93 \xE2\x82\xAC");
  // One invalid byte anywhere makes the whole file Windows-1252.
  const auto mixed = TMemIniFile::FromBytes("[S]\nA=\xC3\xBC\nB=\xFC\n");
  EXPECT_EQ(Value(mixed, "S", "A"), "\xC3\x83\xC2\xBC");
  EXPECT_EQ(Value(mixed, "S", "B"), "\xC3\xBC");
}

// A byte-order mark does not vouch for the bytes after it: they are judged
// as in a file without one, and Python's strict decoder says which of these
// are UTF-8. A value may itself begin with U+FEFF, which stays.
TEST(MemIniFile, AByteOrderMarkIsFollowedByTheSameCheck) {
  struct Case {
    std::string value;  // the bytes after "K="
    std::string utf8;   // what the value reads as
  };
  const Case cases[] = {
      {"Gr\xC3\xBC\xC3\x9F\x65", "Gr\xC3\xBC\xC3\x9F\x65"},
      {"Gr\xFC\xDF\x65 \x80", "Gr\xC3\xBC\xC3\x9F\x65 \xE2\x82\xAC"},  // Windows-1252
      {"\xC0\xAF", "\xC3\x80\xC2\xAF"},                                  // overlong "/"
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},                  // a surrogate
      {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xE2\x82\xAC\xE2\x82\xAC"},  // past U+10FFFF
      {"\xE2\x82", "\xC3\xA2\xE2\x80\x9A"},                              // cut short
      {"\xEF\xBB\xBFx", "\xEF\xBB\xBFx"},                                  // U+FEFF first
  };
  test::ScratchDir dir;
  std::string files;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    test::WriteFile(dir / (std::to_string(i) + ".lng"), "[S]\nK=" + cases[i].value + "\n");
    files += " " + (dir / (std::to_string(i) + ".lng")).string();
  }
  // One digit per file: 1 where Python's strict decoder takes it.
  const std::string verdicts = test::RunCommand(
      "python3 -c \"import sys\n"
      "def ok(f):\n"
      "  try: open(f, 'rb').read().decode('utf-8'); return '1'\n"
      "  except UnicodeDecodeError: return '0'\n"
      "print(''.join(ok(f) for f in sys.argv[1:]), end='')\"" + files);
  ASSERT_EQ(verdicts.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const std::string body = "[S]\nK=" + c.value + "\n";
    const bool valid = c.utf8 == c.value;
    EXPECT_EQ(verdicts[i] == '1', valid) << c.utf8;
    for (const std::string& bytes : {body, "\xEF\xBB\xBF" + body, "\xEF\xBB\xBF" + body + "; \xFC\n"}) {
      // A stray Windows-1252 byte in a comment turns a valid value too.
      const bool turned = valid && bytes.find('\xFC') != std::string::npos;
      const std::string value = Value(TMemIniFile::FromBytes(bytes), "S", "K");
      EXPECT_EQ(value == c.utf8, !turned) << c.utf8;
    }
  }
}

TEST(MemIniFile, FilesAreReadWholeAndCapped) {
  test::ScratchDir dir;
  test::WriteFile(dir / "a.lng", "[S]\nK=V\n");
  EXPECT_EQ(Value(TMemIniFile(dir / "a.lng"), "S", "K"), "V");

  test::WriteFile(dir / "big.lng", "[S]\n" + std::string(TMemIniFile::kMaxFileSize, ';'));
  EXPECT_NE(test::ErrorOf([&] { TMemIniFile{dir / "big.lng"}; }).find("larger than 1 MiB"),
            std::string::npos);
  test::WriteFile(dir / "limit.lng", "[S]\nK=V\n;" + std::string(TMemIniFile::kMaxFileSize - 9, 'x'));
  EXPECT_EQ(Value(TMemIniFile(dir / "limit.lng"), "S", "K"), "V");

  EXPECT_NE(test::ErrorOf([&] { TMemIniFile{dir / "missing.lng"}; }).find("Cannot open"),
            std::string::npos);
  EXPECT_NE(test::ErrorOf([&] { TMemIniFile{dir.Path()}; }).find("Cannot open"),
            std::string::npos);
}

}  // namespace
}  // namespace kdl
