#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/StreamText.h"
#include "foundation/BrenlowXml.h"
#include "foundation/Encoding.h"
#include "platform/TempFiles.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

using namespace kdl::test;

// Every test starts from the library's own defaults and leaves them so.
class XmlDoc : public ::testing::Test {
 protected:
  void SetUp() override { XmlDefaults() = TXmlDefaults(); }
  void TearDown() override { XmlDefaults() = TXmlDefaults(); }
};

std::string Save(TBrenlowXml& doc) {
  TMemoryStream s;
  doc.SaveToStream(s);
  return Text(s);
}

void Load(TBrenlowXml& doc, const std::string& bytes) {
  TMemoryStream s;
  doc.LoadFromStream(Fill(s, bytes));
}

TEST_F(XmlDoc, LayoutsByteForByteBeforeAndAfterTheStartUpChange) {
  TBrenlowXml doc("R");
  EXPECT_EQ(Save(doc), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<R></R>\n");
  SetDocumentLibraryXmlDefaults();
  doc.Clear()->SetName("R");  // settings and declaration from the new defaults
  doc.Root()->AddNewChild("A")->SetValueText("1");
  doc.Root()->AddNewChild("B")->AddNewChild("C")->SetValueText("x");
  doc.Root()->WriteInteger("D", 0, 0);  // defaults are no longer written
  EXPECT_EQ(doc.WriteToString(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<R><A>1</A><B><C>x</C></B></R>\n");
  // The saved file carries the byte-order mark of UTF-8.
  EXPECT_EQ(Save(doc), "\xEF\xBB\xBF" + doc.WriteToString());
  doc.SetLayout(xlIndented);
  EXPECT_EQ(doc.WriteToString(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<R>\r\n  <A>1</A>\r\n  <B>\r\n    <C>x</C>\r\n"
            "  </B>\r\n</R>\r\n");
  doc.SetLayout(xlLineFeeds);
  EXPECT_EQ(doc.WriteToString(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<R>\n<A>1</A>\n<B>\n<C>x</C>\n</B>\n</R>\n");
  // Short tags unless refused; an empty root is written open and closed.
  doc.SetLayout(xlCompact);
  doc.Root()->AddNewChild("E")->AddAttribute("a", "1");
  doc.Root()->AddNewChild("F");
  EXPECT_EQ(doc.Root()->WriteToString(), "<R><A>1</A><B><C>x</C></B><E a=\"1\"/><F/></R>");
  doc.SetNoShortTags(true);
  EXPECT_EQ(doc.Root()->WriteToString(), "<R><A>1</A><B><C>x</C></B><E a=\"1\"></E><F></F></R>");
  doc.ReadFromString("<R/>");
  EXPECT_EQ(doc.WriteToString(), "<R></R>\n");
}

TEST_F(XmlDoc, ParsedTextsAndChildren) {
  // What the parser keeps, seen through the compact writer.
  const std::pair<const char*, const char*> cases[] = {
      {"<a>  text  </a>", "<a>  text  </a>\n"},
      {"<a> <b/> </a>", "<a><b/></a>\n"},  // blank-only texts are dropped
      {"<a>x<b/>y</a>", "<a>x<b/>y</a>\n"},
      {"<a>x<b/>y \r\n</a>", "<a>x<b/>y</a>\n"},  // a CR after the last child: no line ends
      {"<A></a>", "<A></A>\n"},
      {"<a x='1>2'/>", "<a x='1>2'></a>\n"},
      {"<a x = \"p q\" y=z/>", "<a x=\"p q\" y=z></a>\n"},
      {"junk <a>1</a> more", "<a>1</a>\n"},
  };
  TBrenlowXml doc;
  for (const auto& [text, written] : cases) {
    doc.ReadFromString(text);
    EXPECT_EQ(doc.WriteToString(), written) << text;
  }
  EXPECT_EQ(doc.TopNodes()->GetChildCount(), 1);
  doc.ReadFromString("<a x='1>2' y=z>x<b/>y</a>");
  EXPECT_EQ(doc.Root()->GetAttribute("x"), "1>2");
  EXPECT_EQ(doc.Root()->GetAttribute("y"), "z");
  EXPECT_EQ(doc.Root()->ValueText(), "x");
  EXPECT_EQ(doc.Root()->GetChild(1)->Kind(), ntText);
}

TEST_F(XmlDoc, AttributeLinesStandAsWritten) {
  // Tag text, then the attribute lines that cutting at blanks outside
  // quotes and joining "=" and quoted values to their names gives.
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"<a x=\"1\" y='2'></a>", {"x=\"1\"", "y='2'"}},
      {"<a\tx=\"1\"\r\ny='2'  ></a>", {"x=\"1\"", "y='2'"}},
      {"<a x='1>2' y=\"a b\"/>", {"x='1>2'", "y=\"a b\""}},
      {"<a x=\"1\"/>", {"x=\"1\""}},
      {"<a x=\"1\"y=\"2\"></a>", {"x=\"1\"y=\"2\""}},
      {"<a x = \"1\" ></a>", {"x=\"1\""}},
      {"<a x=1 y></a>", {"x=1", "y"}},
      {"<a x=\"\" y='\"'></a>", {"x=\"\"", "y='\"'"}},
  };
  for (const auto& [tag, lines] : cases) {
    SCOPED_TRACE(tag);
    TBrenlowXml doc;
    doc.ReadFromString("<R>" + tag + "<b/></R>");
    const TXmlNode* a = doc.Root()->GetChild(0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Name(), "a");
    std::vector<std::string> got;
    for (int i = 0; i < a->GetAttributeCount(); ++i) got.push_back(a->GetAttributePair(i));
    EXPECT_EQ(got, lines);
    EXPECT_EQ(doc.Root()->GetChildCount(), 2);
  }
  // A quote left open runs to the end of the input.
  TBrenlowXml doc;
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString("<R><a x=\"1></a></R>"); }), "Missing \">\" in tag");
}

TEST_F(XmlDoc, MarkupKindsRoundTrip) {
  const std::string head = "<?xml version=\"1.0\"?>\n<?xml-stylesheet href=\"s.css\" type=\"text/css\"?>\n";
  const std::string body = "<R><!-- c --><![CDATA[<raw>&]]><?pi data?><!bang></R>\n";
  TBrenlowXml doc;
  doc.ReadFromString(head + "<!DOCTYPE R SYSTEM \"r.dtd\" [\n<!ENTITY e \"v\">\n<!-- in -->\n]>\n" + body);
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
  const std::string compact = head + "<!DOCTYPE R SYSTEM \"r.dtd\" [<!ENTITY e \"v\"><!-- in -->]>\n" + body;
  EXPECT_EQ(doc.WriteToString(), compact);
  doc.SetSkipComments(true);
  doc.ReadFromString(compact);
  EXPECT_EQ(doc.Root()->GetChildCount(), 3);
}

TEST_F(XmlDoc, ParseErrors) {
  TBrenlowXml doc;
  EXPECT_EQ(ErrorOf([&] { Load(doc, ""); }), "Unsupported string encoding");
  EXPECT_EQ(ErrorOf([&] { Load(doc, std::string("\0\0\xFE\xFF<a/>", 8)); }), "Unsupported string encoding");
  // A byte-order mark cut short by the end of the input.
  EXPECT_EQ(ErrorOf([&] { Load(doc, "\xEF\xBB"); }), "No root element found in xml");
  const std::pair<std::string, std::string> cases[] = {
      {"", "No root element found in xml"},
      {"<A></B>", "Incorrect close tag in element A"},
      {"<A>text", "Missing close tag in element A"},
      {"<A><", "Missing data after \"<\" in element A"},
      {"<A></A", "Missing \">\" in close tag of element A"},
      {"<>", "Missing element name"},
      {std::string("<a>x\0</a>", 9), "Missing close tag in element a"},  // a NUL ends the text
  };
  for (const auto& [text, message] : cases) EXPECT_EQ(ErrorOf([&] { doc.ReadFromString(text); }), message);
  // Unterminated markup is an error, not a silently shortened document.
  for (const char* bad : {"<a><!-- open</a>", "<a><![CDATA[x</a>", "<!DOCTYPE a [ <!ENTITY", "<a b='1", "<?pi"})
    EXPECT_THROW(doc.ReadFromString(bad), EFilerError) << bad;
  doc.ReadFromString(std::string("<a>x</a>\0junk", 13));
  EXPECT_EQ(doc.Root()->ValueText(), "x");
}

TEST_F(XmlDoc, DeepNestingIsRefusedNotOverflowed) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  TBrenlowXml doc;
  EXPECT_EQ(ErrorOf([&] { doc.ReadFromString(deep); }), "Elements nested too deeply in element a");
  std::string ok;
  for (int i = 0; i < 500; ++i) ok += "<a>";
  for (int i = 0; i < 500; ++i) ok += "</a>";
  doc.ReadFromString(ok);
  EXPECT_EQ(doc.Root()->GetChildCount(), 1);
}

TEST_F(XmlDoc, StrictRootChecks) {
  TBrenlowXml doc;
  doc.SetStrictRoot(true);
  const std::pair<const char*, const char*> cases[] = {
      {"<a/><b/>", "More than one root element found in xml"},
      {"<?xml?><?xml?><a/>", "More than one xml declaration found in xml"},
      {"<!--c--><?xml?><a/>", "Xml declaration must be first element"},
      {"<!DOCTYPE a><!DOCTYPE a><a/>", "More than one doctype declaration found in root"},
      {"<a/><!DOCTYPE a>", "Doctype declaration found after root element"},
      {"<![CDATA[x]]><a/>", "No CDATA allowed in root"},
  };
  for (const auto& [text, message] : cases) EXPECT_EQ(ErrorOf([&] { doc.ReadFromString(text); }), message);
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

TEST_F(XmlDoc, UnmarkedBytesAreReadInOneEncoding) {
  struct Case {
    const char* what;
    std::string file;
    TTextEncoding encoding;
    std::string value, attribute;  // the root's text and attribute "a" in UTF-8 strings
  };
  const Case cases[] = {
      // Most XML: UTF-8 without mark or declared encoding; é, the euro sign
      // and an emoji are two, three and four bytes.
      {"UTF-8 without declaration", "<R a=\"\xE2\x82\xAC\">\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</R>", teUtf8,
       "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xE2\x82\xAC"},
      {"UTF-8 behind a declaration without encoding",
       "<?xml version=\"1.0\"?>\n<R a=\"\xE2\x82\xAC\">\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</R>", teUtf8,
       "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xE2\x82\xAC"},
      // The declaration's encoding name in any case.
      {"declared lower-case utf-8", "<?xml version='1.0' encoding='utf-8'?>\n<R a=\"\xC3\xA9\">\xC3\xA9</R>", teUtf8,
       "\xC3\xA9", "\xC3\xA9"},
      // Windows-1252 bytes are no valid UTF-8: read as 8-bit.
      {"Windows-1252 without declaration", "<R a=\"\x80\">\xE9\x80</R>", teEightBit, "\xC3\xA9\xE2\x82\xAC",
       "\xE2\x82\xAC"},
      // A declared 8-bit encoding holds even when the bytes happen to be
      // valid UTF-8: C3 A9 is "Ã©" in ISO-8859-1.
      {"declared ISO-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><R a=\"\xC3\xA9\">\xC3\xA9</R>",
       teEightBit, "\xC3\x83\xC2\xA9", "\xC3\x83\xC2\xA9"},
      // Declared UTF-8 with a stray byte: that byte alone becomes U+FFFD.
      {"declared UTF-8 with a fault", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><R a=\"x\">\xC3\xA9\xE9!</R>",
       teUtf8, "\xC3\xA9\xEF\xBF\xBD!", "x"},
      // Before a late declaration the 8-bit reading holds, behind it UTF-8.
      {"comment before the declaration", "<!-- \xE9 --><?xml version=\"1.0\" encoding=\"UTF-8\"?><R a=\"x\">\xC3\xA9</R>",
       teUtf8, "\xC3\xA9", "x"},
      // Plain ASCII stays 8-bit, as it reads alike either way.
      {"ASCII", "<R a=\"x\">e</R>", teEightBit, "e", "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool utf8 : {false, true}) {
      TBrenlowXml doc;
      doc.SetUtf8Strings(utf8);
      Load(doc, c.file);
      EXPECT_EQ(doc.StreamEncoding(), c.encoding);
      if (c.encoding == teUtf8) {
        EXPECT_TRUE(doc.Utf8Strings());
      }
      if (!doc.Utf8Strings()) continue;
      EXPECT_EQ(doc.Root()->GetValueText(), c.value);
      EXPECT_EQ(doc.Root()->GetAttribute("a"), c.attribute);
    }
  }
  // The same bytes from a file (a copy rather than the stream's memory),
  // and with an event hook, which takes the general path.
  TTempFile tmp("kdl-unmarked-");
  WriteFile(tmp.Path(), cases[0].file);
  TBrenlowXml doc;
  int started = 0;
  doc.OnNodeStarted = [&](TBrenlowXml&, TXmlNode&) { ++started; };
  doc.LoadFromFile(tmp.Path());
  EXPECT_EQ(started, 1);
  EXPECT_EQ(doc.StreamEncoding(), teUtf8);
  EXPECT_EQ(doc.Root()->GetAttribute("a"), "\xE2\x82\xAC");
  EXPECT_EQ(doc.Root()->GetValueText(), cases[0].value);
  // An 8-bit file read into 8-bit strings keeps its bytes as they were; a
  // declared one read into UTF-8 strings is saved in its own encoding again.
  TBrenlowXml ansi;
  Load(ansi, cases[3].file);
  EXPECT_FALSE(ansi.Utf8Strings());
  EXPECT_EQ(ansi.Root()->ValueText(), "\xE9\x80");
  TBrenlowXml declared;
  declared.SetUtf8Strings(true);
  const std::string cp1252 = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<R>\xE9\x80</R>\n";
  Load(declared, cp1252);
  EXPECT_EQ(declared.Root()->GetValueText(), "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Save(declared), cp1252);
}

// A large file made elsewhere reads alike with and without a byte-order
// mark, and holds the elements and attribute values that python finds.
TEST_F(XmlDoc, SharedMimeDatabaseReadsAlikeWithAndWithoutMark) {
  const std::filesystem::path file = "/usr/share/mime/packages/freedesktop.org.xml";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "shared-mime-info is not installed";
  const std::string bytes = ReadFile(file);
  ASSERT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
  TBrenlowXml plain, marked;
  Load(plain, bytes);
  Load(marked, "\xEF\xBB\xBF" + bytes);
  EXPECT_EQ(plain.StreamEncoding(), teUtf8);
  EXPECT_EQ(plain.WriteToString(), marked.WriteToString());
  // Count the mime types and gather the German comments, both sides.
  std::string ours;
  int types = 0;
  const TXmlNode* root = plain.Root();
  for (int i = 0; i < root->GetChildCount(); ++i) {
    const TXmlNode* type = root->GetChild(i);
    if (type->Kind() != ntElement || type->Name() != "mime-type") continue;
    ++types;
    for (int k = 0; k < type->GetChildCount(); ++k) {
      const TXmlNode* c = type->GetChild(k);
      if (c->Name() == "comment" && c->GetAttribute("xml:lang") == "de") ours += c->GetValueText() + "\n";
    }
  }
  const std::string python = RunCommand(
      "python3 -c \"import sys,xml.etree.ElementTree as E;r=E.parse(sys.argv[1]).getroot();"
      "n='{http://www.freedesktop.org/standards/shared-mime-info}';t=r.findall(n+'mime-type');"
      "sys.stdout.buffer.write((str(len(t))+'\\n'+''.join(c.text+'\\n' for m in t for c in m.findall(n+'comment') "
      "if c.get('{http://www.w3.org/XML/1998/namespace}lang')=='de')).encode())\" " + file.string());
  EXPECT_EQ(std::to_string(types) + "\n" + ours, python);
  EXPECT_GT(types, 500);
}

TEST_F(XmlDoc, Utf16WithMarkIntoEightBitStrings) {
  const std::u16string text = u"<?xml version=\"1.0\"?><R>\u00E9\u4E2D\u4E2D\U0001F600</R>";
  std::string bytes = "\xFF\xFE";
  for (char16_t u : text) bytes += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
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
  EXPECT_EQ(saved, RunCommand("python3 -c \"import sys;sys.stdout.buffer.write(b'\\xfe\\xff'+open(sys.argv[1],"
                              "encoding='utf-8',newline='').read().encode('utf-16-be'))\" " + tmp.Path().string()));
  TBrenlowXml back;
  back.SetUtf8Strings(true);
  Load(back, saved);
  EXPECT_EQ(back.StreamEncoding(), teUtf16BE);
  EXPECT_EQ(back.Root()->GetValueText(), "\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(Save(back), saved);
}

TEST_F(XmlDoc, UnwritableEncodingsRaiseAndSaveToFileKeepsThePreviousFile) {
  TBrenlowXml doc("R");
  for (TTextEncoding e : {teUcs4BE, teUcs4LE, teUcs4Order2143, teUcs4Order3412, teEbcdic}) {
    doc.SetStreamEncoding(e);
    TMemoryStream s;
    EXPECT_EQ(ErrorOf([&] { doc.SaveToStream(s); }), "Unsupported string encoding");
    EXPECT_EQ(s.Size(), 0);
  }
  TTempFile target("kdl-xml-");
  WriteFile(target.Path(), "old");
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
  bool ansi = false;  // texts in Windows-1252
  std::string Conv(const std::string& utf8) const { return ansi ? Utf8ToAnsiText(utf8) : utf8; }
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
  std::string Text(bool attribute) {
    static const char* pieces[] = {"a", "Z", "0", " ", "<", ">", "&", "'", "\"", "\xC3\xA9", "\xE4\xB8\xAD",
                                   "\xF0\x9F\x98\x80", "\xE2\x82\xAC", "\n", "\t", "&amp;", "]]>", ";"};
    std::string s;
    for (int i = Pick(8); i > 0; --i) s += pieces[Pick(attribute ? 13 : 18)];
    // Blank-only texts are dropped by design; give them substance.
    if (!s.empty() && s.find_first_not_of(" \t\n") == std::string::npos) s += "x";
    return Conv(s);
  }
  // Values beside children only where the layout adds no blanks.
  void Fill(TXmlNode& node, int depth, bool mixed = true) {
    for (int i = Pick(3); i > 0; --i) node.AddAttribute("at" + std::to_string(i), Text(true));
    const int kids = depth < 4 ? Pick(4) : 0;
    if (mixed || kids == 0) node.SetValueText(Text(false));
    for (int i = 0; i < kids; ++i) {
      static const char* names[] = {"a", "Shape", "x1", "long_name", "n.s", "\xC3\xA9t\xC3\xA9"};
      Fill(*node.AddNewChild(Conv(names[Pick(6)])), depth + 1, mixed);
    }
  }
};

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

// xmllint accepts the bytes, python's xml.etree reads them as the tree of
// `root`, and our reader writes them again unchanged.
void ExpectReadAlike(const std::string& bytes, const TXmlNode& root) {
  std::string ours;
  Canon(root, ours);
  TTempFile script("kdl-canon-"), file("kdl-rand-");
  WriteFile(script.Path(), kPythonCanon);
  WriteFile(file.Path(), bytes);
  int status = -1;
  const std::string lint = RunCommand("xmllint --noout " + file.Path().string() + " 2>&1", &status);
  EXPECT_EQ(status, 0) << lint << bytes;
  EXPECT_EQ(RunCommand("python3 " + script.Path().string() + " " + file.Path().string()), ours) << bytes;
  TBrenlowXml back;
  Load(back, bytes);
  EXPECT_EQ(Save(back), bytes);
  std::string reread;
  Canon(*back.Root(), reread);
  EXPECT_EQ(reread, ours);
}

TEST_F(XmlDoc, RandomTreesRoundTripAndReadAlikeInXmllintAndPython) {
  TreeGen gen;
  for (int round = 0; round < 35; ++round) {
    SCOPED_TRACE(round);
    XmlDefaults() = TXmlDefaults();
    gen.ansi = round % 4 == 3;  // windows-1252 declared, 8-bit strings
    if (!gen.ansi) SetDocumentLibraryXmlDefaults();
    TBrenlowXml doc("Doc");
    gen.Fill(*doc.Root(), 0);
    ExpectReadAlike(Save(doc), *doc.Root());
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

TEST_F(XmlDoc, AssignCopiesTheTreeAndLayoutButNotFloatDigits) {
  TBrenlowXml a("R");
  a.Root()->AddNewChild("x")->SetValueText("1");
  a.SetLayout(xlIndented);
  a.SetFloatDigits(3);
  TBrenlowXml b;
  b.Assign(a);
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
  TMemoryStream s, out;
  node.ReadFromStream(Fill(s, "<a><b>1</b></a><c/>"));
  EXPECT_EQ(node.Name(), "a");
  EXPECT_EQ(s.Position(), 15);
  node.WriteToStream(out);
  EXPECT_EQ(Text(out), "<a><b>1</b></a>");
}

}  // namespace
}  // namespace kdl
