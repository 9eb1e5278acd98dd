#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/BrenlowXml.h"
#include "foundation/Encoding.h"
#include "platform/TempFiles.h"

namespace kdl {
namespace {

// Every test starts from the library's own defaults and leaves them so.
class XmlDoc : public ::testing::Test {
 protected:
  void SetUp() override { XmlDefaults() = TXmlDefaults(); }
  void TearDown() override { XmlDefaults() = TXmlDefaults(); }
};

std::string Bytes(TMemoryStream& s) {
  return std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size()));
}

std::string Save(TBrenlowXml& doc) {
  TMemoryStream s;
  doc.SaveToStream(s);
  return Bytes(s);
}

void Load(TBrenlowXml& doc, const std::string& bytes) {
  TMemoryStream s;
  if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  s.Seek(0, soBeginning);
  doc.LoadFromStream(s);
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no error)";
}

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary);
  f << bytes;
}

std::string RunCommand(const std::string& cmd, int* status = nullptr) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  if (status) *status = rc;
  return out;
}

void BuildExample(TBrenlowXml& doc) {
  doc.Root()->SetName("R");
  doc.Root()->AddNewChild("A")->SetValueText("1");
  doc.Root()->AddNewChild("B")->AddNewChild("C")->SetValueText("x");
}

TEST_F(XmlDoc, CompactAndIndentedLayoutsByteForByte) {
  SetDocumentLibraryXmlDefaults();
  TBrenlowXml doc;
  BuildExample(doc);
  EXPECT_EQ(doc.WriteToString(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<R><A>1</A><B><C>x</C></B></R>\n");
  doc.SetLayout(xlIndented);
  EXPECT_EQ(doc.WriteToString(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<R>\r\n  <A>1</A>\r\n  <B>\r\n    <C>x</C>\r\n"
            "  </B>\r\n</R>\r\n");
  doc.SetLayout(xlLineFeeds);
  EXPECT_EQ(doc.WriteToString(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<R>\n<A>1</A>\n<B>\n<C>x</C>\n</B>\n</R>\n");
  // The saved file carries the byte-order mark of UTF-8.
  doc.SetLayout(xlCompact);
  EXPECT_EQ(Save(doc), "\xEF\xBB\xBF" + doc.WriteToString());
}

TEST_F(XmlDoc, LibraryDefaultsWithoutTheStartUpChange) {
  TBrenlowXml doc("R");
  EXPECT_EQ(Save(doc), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<R></R>\n");
  EXPECT_TRUE(doc.WriteDefaults());
  EXPECT_FALSE(doc.Utf8Strings());
  SetDocumentLibraryXmlDefaults();
  doc.ResetDefaults();
  EXPECT_FALSE(doc.WriteDefaults());
  EXPECT_TRUE(doc.Utf8Strings());
  EXPECT_EQ(doc.StreamEncoding(), teUtf8);
}

TEST_F(XmlDoc, ShortTagsAndEmptyRoot) {
  TBrenlowXml doc("R");
  TXmlNode* e = doc.Root()->AddNewChild("E");
  e->AddAttribute("a", "1");
  doc.Root()->AddNewChild("F");
  EXPECT_EQ(doc.Root()->WriteToString(), "<R><E a=\"1\"/><F/></R>");
  doc.SetNoShortTags(true);
  EXPECT_EQ(doc.Root()->WriteToString(), "<R><E a=\"1\"></E><F></F></R>");
  doc.ReadFromString("<R/>");
  EXPECT_EQ(doc.WriteToString(), "<R></R>\n");
}

TEST_F(XmlDoc, ParsedTextsAndChildren) {
  TBrenlowXml doc;
  doc.ReadFromString("<a>  text  </a>");
  EXPECT_EQ(doc.Root()->GetValueText(), "  text  ");
  doc.ReadFromString("<a> <b/> </a>");
  EXPECT_EQ(doc.Root()->GetChildCount(), 1);
  EXPECT_EQ(doc.Root()->ValueText(), "");
  doc.ReadFromString("<a>x<b/>y</a>");
  EXPECT_EQ(doc.Root()->ValueText(), "x");
  ASSERT_EQ(doc.Root()->GetChildCount(), 2);
  EXPECT_EQ(doc.Root()->GetChild(1)->Kind(), ntText);
  EXPECT_EQ(doc.Root()->GetChild(1)->ValueText(), "y");
  EXPECT_EQ(doc.Root()->WriteToString(), "<a>x<b/>y</a>");
  doc.ReadFromString("<A></a>");
  EXPECT_EQ(doc.Root()->Name(), "A");
  doc.ReadFromString("<a x='1>2'/>");
  EXPECT_EQ(doc.Root()->GetAttributePair(0), "x='1>2'");
  EXPECT_EQ(doc.Root()->GetAttribute("x"), "1>2");
  doc.ReadFromString("<a x = \"p q\" y=z/>");
  EXPECT_EQ(doc.Root()->GetAttributePair(0), "x=\"p q\"");
  EXPECT_EQ(doc.Root()->GetAttribute("y"), "z");
  doc.ReadFromString("junk <a>1</a> more");
  EXPECT_EQ(doc.TopNodes()->GetChildCount(), 1);
  EXPECT_EQ(doc.Root()->ValueText(), "1");
  // A CR after the last child: the text children lose their line ends.
  doc.ReadFromString("<a>x<b/>y \r\n</a>");
  EXPECT_EQ(doc.Root()->GetChild(1)->ValueText(), "y");
}

TEST_F(XmlDoc, MarkupKindsRoundTrip) {
  const std::string text =
      "<?xml version=\"1.0\"?>\n<?xml-stylesheet href=\"s.css\" type=\"text/css\"?>\n"
      "<!DOCTYPE R SYSTEM \"r.dtd\" [\n<!ENTITY e \"v\">\n<!-- in -->\n]>\n"
      "<R><!-- c --><![CDATA[<raw>&]]><?pi data?><!bang></R>\n";
  TBrenlowXml doc;
  doc.ReadFromString(text);
  const TXmlNode* top = doc.TopNodes();
  ASSERT_EQ(top->GetChildCount(), 4);
  EXPECT_EQ(top->GetChild(1)->Kind(), ntStylesheet);
  EXPECT_EQ(top->GetChild(1)->GetAttribute("href"), "s.css");
  const TXmlNode* dtd = top->GetChild(2);
  EXPECT_EQ(dtd->Kind(), ntDoctype);
  EXPECT_EQ(dtd->Name(), "R");
  EXPECT_EQ(dtd->ValueText(), "SYSTEM \"r.dtd\"");
  ASSERT_EQ(dtd->GetChildCount(), 2);
  EXPECT_EQ(dtd->GetChild(0)->Kind(), ntDtdEntity);
  EXPECT_EQ(dtd->GetChild(0)->Name(), "e");
  const TXmlNode* r = doc.Root();
  ASSERT_EQ(r->GetChildCount(), 4);
  EXPECT_EQ(r->GetChild(0)->ValueText(), " c ");
  EXPECT_EQ(r->GetChild(1)->ValueText(), "<raw>&");
  EXPECT_EQ(r->GetChild(2)->Kind(), ntInstruction);
  EXPECT_EQ(r->GetChild(3)->Kind(), ntBang);
  // Compact layout: the internal subset has no line breaks.
  std::string compact = text;
  for (const char* from : {"[\n", "\n]", ">\n<!--"}) {
    const std::string f(from);
    std::string t = f;
    t.erase(t.find('\n'), 1);
    compact.replace(compact.find(f), f.size(), t);
  }
  EXPECT_EQ(doc.WriteToString(), compact);
  doc.SetSkipComments(true);
  doc.ReadFromString(text);
  EXPECT_EQ(doc.Root()->GetChildCount(), 3);
}

TEST_F(XmlDoc, ParseErrors) {
  TBrenlowXml doc;
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString(""); }), "No root element found in xml");
  EXPECT_EQ(ErrorOf([&] { Load(doc, ""); }), "Unsupported string encoding");
  EXPECT_EQ(ErrorOf([&] { Load(doc, std::string("\0\0\xFE\xFF<a/>", 8)); }), "Unsupported string encoding");
  // A byte-order mark cut short by the end of the input.
  EXPECT_EQ(ErrorOf([&] { Load(doc, "\xEF\xBB"); }), "No root element found in xml");
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString("<A></B>"); }), "Incorrect close tag in element A");
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString("<A>text"); }), "Missing close tag in element A");
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString("<A><"); }), "Missing data after \"<\" in element A");
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString("<A></A"); }), "Missing \">\" in close tag of element A");
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString("<>"); }), "Missing element name");
  // Unterminated markup is an error, not a silently shortened document.
  for (const char* bad : {"<a><!-- open</a>", "<a><![CDATA[x</a>", "<!DOCTYPE a [ <!ENTITY", "<a b='1", "<?pi"})
    EXPECT_THROW(doc.ReadFromString(bad), EFilerError) << bad;
  // A NUL ends the text.
  EXPECT_THROW(doc.ReadFromString(std::string("<a>x\0</a>", 9)), EFilerError);
  doc.ReadFromString(std::string("<a>x</a>\0junk", 13));
  EXPECT_EQ(doc.Root()->ValueText(), "x");
}

TEST_F(XmlDoc, DeepNestingIsRefusedNotOverflowed) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "<a>";
  TBrenlowXml doc;
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString(text); }), "Elements nested too deeply in element a");
  std::string ok;
  for (int i = 0; i < 500; ++i) ok += "<a>";
  for (int i = 0; i < 500; ++i) ok += "</a>";
  doc.ReadFromString(ok);
  EXPECT_EQ(doc.Root()->GetChildCount(), 1);
}

TEST_F(XmlDoc, StrictRootChecks) {
  TBrenlowXml doc;
  doc.SetStrictRoot(true);
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString("<a/><b/>"); }), "More than one root element found in xml");
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString("<?xml?><?xml?><a/>"); }),
            "More than one xml declaration found in xml");
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString("<!--c--><?xml?><a/>"); }), "Xml declaration must be first element");
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString("<!DOCTYPE a><!DOCTYPE a><a/>"); }),
            "More than one doctype declaration found in root");
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString("<a/><!DOCTYPE a>"); }), "Doctype declaration found after root element");
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString("<![CDATA[x]]><a/>"); }), "No CDATA allowed in root");
  doc.TopNodes()->ClearChildren();
  EXPECT_EQ(ErrorOf([&] { doc.WriteToString(); }), "XML root element not defined.");
  doc.SetStrictRoot(false);
  doc.TopNodes()->AddNewChild("")->SetKind(ntComment);
  EXPECT_EQ(doc.WriteToString(), "<!---->\n");
}

TEST_F(XmlDoc, EventsAndStop) {
  TBrenlowXml doc;
  std::vector<std::string> started, finished;
  std::int64_t lastProgress = -1;
  doc.OnNodeStarted = [&](TBrenlowXml&, TXmlNode& n) { started.push_back(n.Name()); };
  doc.OnNodeFinished = [&](TBrenlowXml&, TXmlNode& n) { finished.push_back(n.Name()); };
  doc.OnStreamProgress = [&](TBrenlowXml&, std::int64_t p) { lastProgress = p; };
  doc.ReadFromString("<a><b/><c>1</c></a>");
  EXPECT_EQ(started, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(finished, (std::vector<std::string>{"b", "c", "a"}));
  EXPECT_EQ(lastProgress, 19);
  started.clear();
  doc.OnNodeStarted = [&](TBrenlowXml& d, TXmlNode& n) {
    started.push_back(n.Name());
    if (n.Name() == "b") d.SetStopRequested(true);
  };
  doc.ReadFromString("<a><b/><c>1</c></a>");
  EXPECT_EQ(started, (std::vector<std::string>{"a", "b"}));
}

TEST_F(XmlDoc, DeclaredUtf8WithoutMarkSwitchesAfterTheDeclaration) {
  // "é" as UTF-8 bytes; the declaration's name in any case.
  const std::string file = "<?xml version='1.0' encoding='utf-8'?>\n<R a=\"\xC3\xA9\">\xC3\xA9</R>";
  for (bool utf8 : {false, true}) {
    TBrenlowXml doc;
    doc.SetUtf8Strings(utf8);
    Load(doc, file);
    EXPECT_TRUE(doc.Utf8Strings());
    EXPECT_EQ(doc.StreamEncoding(), teUtf8);
    EXPECT_EQ(doc.Root()->GetValueText(), "\xC3\xA9");
    EXPECT_EQ(doc.Root()->GetAttribute("a"), "\xC3\xA9");
  }
  // An 8-bit file stays 8-bit and converts when strings are UTF-8.
  TBrenlowXml doc;
  doc.SetUtf8Strings(true);
  Load(doc, "<?xml version=\"1.0\" encoding=\"windows-1252\"?><R>\xE9\x80</R>");
  EXPECT_EQ(doc.StreamEncoding(), teEightBit);
  EXPECT_EQ(doc.Root()->GetValueText(), "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Save(doc), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<R>\xE9\x80</R>\n");
}

TEST_F(XmlDoc, Utf16WithMarkIntoEightBitStrings) {
  std::u16string text = u"<?xml version=\"1.0\"?><R>\u00E9\u4E2D\u4E2D\U0001F600</R>";
  std::string bytes = "\xFF\xFE";
  for (char16_t u : text) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  TBrenlowXml doc;
  int lost = 0;
  doc.OnCharLost = [&](TBrenlowXml&) { ++lost; };
  Load(doc, bytes);
  EXPECT_EQ(doc.StreamEncoding(), teUtf16LE);
  EXPECT_FALSE(doc.Utf8Strings());
  EXPECT_EQ(doc.Root()->ValueText(), "\xE9???");
  EXPECT_EQ(lost, 1);
}

TEST_F(XmlDoc, Utf16BigEndianKeepsItsByteOrder) {
  TBrenlowXml doc("R");
  doc.SetUtf8Strings(true);
  doc.SetStreamEncoding(teUtf16BE);
  doc.Root()->SetValueText("\xC3\xA9 \xF0\x9F\x98\x80");
  const std::string saved = Save(doc);
  // python3 encodes the same text independently.
  TTempFile tmp("kdl-u16-");
  WriteFile(tmp.Path(), doc.WriteToString());
  const std::string expect =
      RunCommand("python3 -c \"import sys;sys.stdout.buffer.write(b'\\xfe\\xff'+open(sys.argv[1],encoding='utf-8',"
          "newline='').read().encode('utf-16-be'))\" " + tmp.Path().string());
  EXPECT_EQ(saved, expect);
  TBrenlowXml back;
  back.SetUtf8Strings(true);
  Load(back, saved);
  EXPECT_EQ(back.StreamEncoding(), teUtf16BE);
  EXPECT_EQ(back.Root()->GetValueText(), "\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(Save(back), saved);
}

TEST_F(XmlDoc, EncodingsRefusedForWriting) {
  TBrenlowXml doc("R");
  for (TTextEncoding e : {teUcs4BE, teUcs4LE, teUcs4Order2143, teUcs4Order3412, teEbcdic}) {
    doc.SetStreamEncoding(e);
    TMemoryStream s;
    EXPECT_EQ(ErrorOf([&] { doc.SaveToStream(s); }), "Unsupported string encoding");
    EXPECT_EQ(s.Size(), 0);
  }
}

TEST_F(XmlDoc, SaveToFileReplacesOnlyWhenComplete) {
  TTempFile target("kdl-xml-");
  WriteFile(target.Path(), "old");
  TBrenlowXml doc("R");
  doc.SetStreamEncoding(teEbcdic);
  EXPECT_THROW(doc.SaveToFile(target.Path()), EStreamError);
  EXPECT_EQ(ReadFile(target.Path()), "old");
  doc.SetStreamEncoding(teUtf8);
  doc.SaveToFile(target.Path());
  TBrenlowXml back;
  back.LoadFromFile(target.Path());
  EXPECT_EQ(back.Root()->Name(), "R");
  EXPECT_EQ(ReadFile(target.Path()).substr(0, 3), "\xEF\xBB\xBF");
}

// ---- Random trees against our own reader and two independent ones --------------

struct TreeGen {
  std::mt19937 rng{77};
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
  std::string Text(bool attribute) {
    static const char* pieces[] = {"a", "Z", "0", " ", "<", ">", "&", "'", "\"", "\xC3\xA9", "\xE4\xB8\xAD",
                                   "\xF0\x9F\x98\x80", "\xE2\x82\xAC", "\n", "\t", "&amp;", "]]>", ";"};
    std::string s;
    const int n = Pick(8);
    for (int i = 0; i < n; ++i) {
      std::string p = pieces[Pick(attribute ? 13 : 18)];
      s += p;
    }
    // Blank-only texts are dropped by design; give them substance.
    if (!s.empty() && s.find_first_not_of(" \t\n") == std::string::npos) s += "x";
    return s;
  }
  // Values beside children only where the layout adds no blanks.
  void Fill(TXmlNode& node, int depth, bool mixed = true) {
    const int attrs = Pick(3);
    for (int i = 0; i < attrs; ++i) node.AddAttribute("at" + std::to_string(i), Text(true));
    const int kids = depth < 4 ? Pick(4) : 0;
    if (mixed || kids == 0) node.SetValueText(Text(false));
    for (int i = 0; i < kids; ++i) {
      static const char* names[] = {"a", "Shape", "x1", "long_name", "n.s", "\xC3\xA9t\xC3\xA9"};
      Fill(*node.AddNewChild(names[Pick(6)]), depth + 1, mixed);
    }
  }
};

std::string Hex(const std::string& s) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out.push_back(d[c >> 4]);
    out.push_back(d[c & 15]);
  }
  return out;
}

// One line per element, attribute and text, in a form python can print too
// (texts as the hex of their UTF-8 form).
void Canon(const TXmlNode& n, std::string& out) {
  auto u = [&](const std::string& s) { return Hex(n.DocUtf8Strings() ? s : AnsiToUtf8Text(s)); };
  out += "E " + u(n.Name()) + "\n";
  std::vector<std::pair<std::string, std::string>> attrs;
  for (int i = 0; i < n.GetAttributeCount(); ++i)
    attrs.emplace_back(n.GetAttributeName(i), n.GetAttribute(n.GetAttributeName(i)));
  std::sort(attrs.begin(), attrs.end());
  for (const auto& [k, v] : attrs) out += "A " + u(k) + " " + u(v) + "\n";
  out += "T " + u(n.GetValueText()) + "\n";
  for (int i = 0; i < n.GetChildCount(); ++i) Canon(*n.GetChild(i), out);
  out += "/\n";
}

// Turns the UTF-8 texts of a generated tree into Windows-1252.
void ToAnsi(TXmlNode& n) {
  n.SetName(Utf8ToAnsiText(n.Name()));
  n.SetValueText(Utf8ToAnsiText(n.GetValueText()));
  std::vector<std::pair<std::string, std::string>> attrs;
  for (int i = 0; i < n.GetAttributeCount(); ++i)
    attrs.emplace_back(n.GetAttributeName(i), n.GetAttribute(n.GetAttributeName(i)));
  n.ClearAttributes();
  for (const auto& [k, v] : attrs) n.AddAttribute(k, Utf8ToAnsiText(v));
  for (int i = 0; i < n.GetChildCount(); ++i) ToAnsi(*n.GetChild(i));
}

constexpr const char* kPythonCanon = R"PY(
import sys, xml.etree.ElementTree as ET
def h(s): return (s or '').encode('utf-8').hex()
def canon(e, out):
    out.append('E ' + h(e.tag))
    for k in sorted(e.attrib): out.append('A ' + h(k) + ' ' + h(e.attrib[k]))
    out.append('T ' + h(e.text))
    for c in e:
        canon(c, out)
        if c.tail: out.append('TAIL ' + h(c.tail))
    out.append('/')
out = []
canon(ET.parse(sys.argv[1]).getroot(), out)
sys.stdout.write('\n'.join(out) + '\n')
)PY";

TEST_F(XmlDoc, RandomTreesRoundTripAndReadAlikeInXmllintAndPython) {
  SetDocumentLibraryXmlDefaults();
  TreeGen gen;
  TTempFile script("kdl-canon-");
  WriteFile(script.Path(), kPythonCanon);
  for (int round = 0; round < 25; ++round) {
    TBrenlowXml doc("Doc");
    gen.Fill(*doc.Root(), 0);
    const std::string first = Save(doc);
    TBrenlowXml back;
    Load(back, first);
    EXPECT_EQ(Save(back), first) << "round " << round;
    std::string ours, reread;
    Canon(*doc.Root(), ours);
    Canon(*back.Root(), reread);
    EXPECT_EQ(reread, ours);

    TTempFile file("kdl-rand-");
    WriteFile(file.Path(), first);
    int status = -1;
    const std::string lint = RunCommand("xmllint --noout " + file.Path().string() + " 2>&1", &status);
    EXPECT_EQ(status, 0) << lint << first;
    EXPECT_EQ(RunCommand("python3 " + script.Path().string() + " " + file.Path().string()), ours) << first;
  }
}

TEST_F(XmlDoc, EightBitRandomTreesReadAlikeInXmllintAndPython) {
  TreeGen gen;
  TTempFile script("kdl-canon-");
  WriteFile(script.Path(), kPythonCanon);
  for (int round = 0; round < 10; ++round) {
    TBrenlowXml doc("Doc");  // windows-1252 declared, 8-bit strings
    gen.Fill(*doc.Root(), 0);
    ToAnsi(*doc.Root());
    const std::string bytes = Save(doc);
    std::string ours;
    Canon(*doc.Root(), ours);
    TTempFile file("kdl-rand8-");
    WriteFile(file.Path(), bytes);
    int status = -1;
    const std::string lint = RunCommand("xmllint --noout " + file.Path().string() + " 2>&1", &status);
    EXPECT_EQ(status, 0) << lint;
    EXPECT_EQ(RunCommand("python3 " + script.Path().string() + " " + file.Path().string()), ours);
    TBrenlowXml back;
    Load(back, bytes);
    EXPECT_EQ(Save(back), bytes);
  }
}

TEST_F(XmlDoc, IndentedRandomTreesRoundTrip) {
  TreeGen gen;
  for (int round = 0; round < 10; ++round) {
    TBrenlowXml doc("Doc");
    doc.SetLayout(xlIndented);
    doc.SetUtf8Strings(true);
    gen.Fill(*doc.Root(), 0, false);
    const std::string text = doc.WriteToString();
    TBrenlowXml back;
    back.SetLayout(xlIndented);
    back.SetUtf8Strings(true);
    back.ReadFromString(text);
    EXPECT_EQ(back.WriteToString(), text);
  }
}

TEST_F(XmlDoc, ReadsWhatPythonAndLibxml2Write) {
  TTempFile src("kdl-foreign-");
  WriteFile(src.Path(),
            "<?xml version='1.0' encoding='UTF-8'?>\n"
            "<!-- made elsewhere -->\n"
            "<R a='x\"y' b = \"it&apos;s\">\n"
            "  <c>&#x1F600;&#233;&lt;&amp;\xF0\x9F\x98\x80</c>\n"
            "  <d><![CDATA[<raw> & ]]></d>\n"
            "  <e/>\n"
            "</R>\n");
  auto check = [](TBrenlowXml& doc) {
    const TXmlNode* r = doc.Root();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->GetAttribute("a"), "x\"y");
    EXPECT_EQ(r->GetAttribute("b"), "it's");
    EXPECT_EQ(r->ReadString("c", ""), "\xF0\x9F\x98\x80\xC3\xA9<&\xF0\x9F\x98\x80");
    ASSERT_NE(r->FindChild("d"), nullptr);
    const TXmlNode* cdata = r->FindChild("d")->FindChildOfKind(ntCData);
    ASSERT_NE(cdata, nullptr);
    EXPECT_EQ(cdata->ValueText(), "<raw> & ");
    EXPECT_NE(r->FindChild("e"), nullptr);
  };
  TBrenlowXml doc;
  doc.LoadFromFile(src.Path());
  EXPECT_TRUE(doc.Utf8Strings());
  check(doc);
  // libxml2 re-encodes it as UTF-16 with a byte-order mark.
  TTempFile u16("kdl-foreign16-");
  WriteFile(u16.Path(), RunCommand("xmllint --encode UTF-16 " + src.Path().string()));
  ASSERT_EQ(ReadFile(u16.Path()).substr(0, 2), "\xFF\xFE");
  TBrenlowXml doc16;
  doc16.SetUtf8Strings(true);
  doc16.LoadFromFile(u16.Path());
  check(doc16);
  // And python's own writer.
  TTempFile py("kdl-python-");
  RunCommand("python3 -c \"import xml.etree.ElementTree as ET;r=ET.Element('R');r.set('q','it\\'s \\\"x\\\"');"
      "c=ET.SubElement(r,'c');c.text='a<b & \\U0001F600';ET.ElementTree(r).write('" +
      py.Path().string() + "',encoding='utf-8',xml_declaration=True)\"");
  TBrenlowXml docPy;
  docPy.LoadFromFile(py.Path());
  EXPECT_EQ(docPy.Root()->GetAttribute("q"), "it's \"x\"");
  EXPECT_EQ(docPy.Root()->ReadString("c", ""), "a<b & \xF0\x9F\x98\x80");
}

TEST_F(XmlDoc, ControlCharactersAreWrittenAsReferences) {
  SetDocumentLibraryXmlDefaults();
  TBrenlowXml doc("R");
  doc.Root()->WriteString("V", std::string("a\0b\x1F", 4), "");
  const std::string text = doc.WriteToString();
  EXPECT_NE(text.find("<V>a&#0;b&#31;</V>"), std::string::npos);
  TBrenlowXml back;
  back.ReadFromString(text);
  EXPECT_EQ(back.Root()->ReadString("V", ""), std::string("a\0b\x1F", 4));
}

TEST_F(XmlDoc, AssignCopiesSettingsAndTree) {
  TBrenlowXml a("R");
  a.Root()->AddNewChild("x")->SetValueText("1");
  a.SetLayout(xlIndented);
  a.SetFloatDigits(3);
  TBrenlowXml b;
  b.Assign(a);
  EXPECT_EQ(b.Layout(), xlIndented);
  EXPECT_EQ(b.FloatDigits(), 6);
  EXPECT_EQ(b.WriteToString(), a.WriteToString());
  EXPECT_EQ(b.Root()->FindChild("x")->Document(), &b);
  b.Assign(*b.Root());  // the root's children become the top-level nodes
  EXPECT_EQ(b.Root()->Name(), "x");
}

TEST_F(XmlDoc, NodeLevelStreams) {
  TBrenlowXml doc;
  doc.SetUtf8Strings(true);
  TXmlNode node(&doc);
  TMemoryStream s;
  s.WriteBuffer("<a><b>1</b></a><c/>", 19);
  s.Seek(0, soBeginning);
  node.ReadFromStream(s);
  EXPECT_EQ(node.Name(), "a");
  EXPECT_EQ(s.Position(), 15);
  TMemoryStream out;
  node.WriteToStream(out);
  EXPECT_EQ(Bytes(out), "<a><b>1</b></a>");
}

}  // namespace
}  // namespace kdl
