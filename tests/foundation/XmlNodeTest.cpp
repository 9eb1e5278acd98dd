#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "foundation/BrenlowXml.h"
#include "foundation/Encoding.h"
#include "foundation/XmlNode.h"

namespace kdl {
namespace {

// A document as the document library has it: defaults not written, UTF-8.
struct LibraryDoc {
  TBrenlowXml doc;
  LibraryDoc() {
    doc.SetWriteDefaults(false);
    doc.SetUtf8Strings(true);
    doc.Root()->SetName("R");
  }
  TXmlNode& root() { return *doc.Root(); }
};

TEST(XmlNodeValues, WriteDefaultsRuleLeavesExistingValuesAlone) {
  LibraryDoc d;
  d.root().WriteInteger("A", 5, 5);
  EXPECT_EQ(d.root().FindChild("A"), nullptr);
  d.root().WriteInteger("A", 6, 5);
  d.root().WriteInteger("A", 5, 5);
  EXPECT_EQ(d.root().ReadInteger("A", 0), 6);
  d.root().WriteColor("C", 0, 0xFFFFFF);
  EXPECT_EQ(d.root().FindChild("C")->ValueText(), "$00000000");
  d.root().WriteColor("D", 0xFFFFFF, 0xFFFFFF);
  EXPECT_EQ(d.root().FindChild("D"), nullptr);
  d.root().WriteColor("E", static_cast<TColor>(0xFF00000F), 0);  // button face
  EXPECT_EQ(d.root().FindChild("E")->ValueText(), "$00C8D0D4");
  EXPECT_EQ(d.root().ReadColor("E", 0), 0xC8D0D4);
}

TEST(XmlNodeValues, TypedReadersGiveTheirDefaults) {
  LibraryDoc d;
  TXmlNode& r = d.root();
  r.AddNewChild("Empty");
  r.AddNewChild("Bad")->SetValueText("x1");
  r.AddNewChild("Hex")->SetValueText("$FFFFFFFF");
  EXPECT_EQ(r.ReadString("Empty", "def"), "");
  EXPECT_EQ(r.ReadString("missing", "def"), "def");
  EXPECT_EQ(r.ReadInteger("Bad", 7), 7);
  EXPECT_EQ(r.ReadInteger("Hex", 0), -1);
  EXPECT_EQ(r.ReadInt64("HEX", 0), 0xFFFFFFFF);  // child names ignore case
  EXPECT_THROW(r.ReadColor("Bad", 0), EConvertError);
}

TEST(XmlNodeValues, WideStringsRoundTripBeyondTheBasicPlane) {
  LibraryDoc d;
  const std::u16string text = u"Gr\u00FC\u00DFe \U0001F600 <&>";
  d.root().WriteWideString("W", text, u"");
  // Four bytes for the emoji, never two 3-byte halves.
  EXPECT_NE(d.root().ReadString("W", "").find("\xF0\x9F\x98\x80"), std::string::npos);
  EXPECT_EQ(d.root().ReadWideString("W", u""), text);
  // A value that only differs from the default in a character the code
  // page can't hold is still written.
  d.root().WriteWideString("X", u"?", u"\u4E2D");
  EXPECT_EQ(d.root().ReadWideString("X", u"\u4E2D"), u"?");
}

// Values that equal a writer's default but not the reader's must survive
// the WriteDefaults rule.
TEST(XmlNodeValues, DrawingObjectsSurviveTheWriteDefaultsRule) {
  LibraryDoc d;
  TXmlBrush brush;
  brush.Color = 0;  // black: differs from the reader's white
  TXmlPen pen;
  pen.Mode = pen.Width = 0;
  TXmlFont font;
  font.Name = "Times";
  font.Style = fsBold | fsStrikeOut;
  d.root().WriteBrush("Brush", brush);
  d.root().WritePen("Pen", pen);
  d.root().WriteFont("Font", font);
  TXmlBrush b2;
  TXmlPen p2;
  TXmlFont f2;
  d.root().ReadBrush("Brush", b2);
  d.root().ReadPen("Pen", p2);
  d.root().ReadFont("Font", f2);
  EXPECT_EQ(std::tie(b2.Color, p2.Mode, p2.Width, f2.Name, f2.Style),
            std::make_tuple(TColor(0), 0, 0, std::string("Times"), fsBold | fsStrikeOut));
  d.root().ReadPen("Missing", p2);
  EXPECT_EQ(std::tie(p2.Mode, p2.Width), std::make_tuple(4, 1));
}

TEST(XmlNodeAttributes, RawLinesAndTypedAccess) {
  LibraryDoc d;
  TXmlNode& r = d.root();
  r.AddAttribute("a", "x<\"y\">");
  EXPECT_EQ(r.GetAttributePair(0), "a=\"x&lt;&quot;y&quot;&gt;\"");
  EXPECT_EQ(r.GetAttribute("A"), "x<\"y\">");
  r.WriteAttributeInteger("n", 3, 0);
  r.WriteAttributeInteger("n", 4, 0);
  r.AddAttribute("e", "");
  EXPECT_EQ(r.ReadAttributeString("e", "def"), "def");
  EXPECT_EQ(r.GetAttributeText(), " a=\"x&lt;&quot;y&quot;&gt;\" n=\"4\" e=\"\"");
}

TEST(XmlNodeAttributes, SortedListStaysSortedWhenAValueChanges) {
  LibraryDoc d;
  d.doc.SetSortedAttributes(true);
  TXmlNode* n = d.root().AddNewChild("n");
  n->AddAttribute("b", "1");
  n->AddAttribute("a", "2");
  n->AddAttribute("c", "3");
  EXPECT_EQ(n->GetAttributeName(0), "a");
  n->WriteAttributeString("b", "zz", "");
  EXPECT_EQ(n->GetAttributeText(), " a=\"2\" b=\"zz\" c=\"3\"/");
}

// Large nodes look names up through an index; every change must keep the
// answers those of a plain search from the first line.
TEST(XmlNodeAttributes, ManyAttributesStayFoundThroughChanges) {
  for (const bool sorted : {false, true}) {
    LibraryDoc d;
    d.doc.SetSortedAttributes(sorted);
    TXmlNode& r = d.root();
    for (int i = 0; i < 40; ++i) r.AddAttributeInt("k" + std::to_string(i), i);
    EXPECT_EQ(r.ReadAttributeInteger("K7", -1), 7) << sorted;
    r.AddAttribute("k7", "second");  // a repeated name: the first one answers
    EXPECT_EQ(r.GetAttribute("k7"), "7") << sorted;
    r.AddAttribute("late", "v");
    EXPECT_EQ(r.GetAttribute("LATE"), "v") << sorted;
    r.WriteAttributeString("k3", "changed", "");
    EXPECT_EQ(r.GetAttribute("k3"), "changed") << sorted;
    EXPECT_EQ(r.GetAttributeValue(r.IndexOfAttribute("k3")), "changed") << sorted;
    EXPECT_EQ(r.GetAttributeCount(), 42) << sorted;
    EXPECT_EQ(r.IndexOfAttribute("missing"), -1) << sorted;
    for (int i = 0; i < r.GetAttributeCount(); ++i)
      EXPECT_EQ(r.IndexOfAttribute(r.GetAttributeName(i)) <= i, true) << sorted << i;
    r.ClearAttributes();
    EXPECT_EQ(r.IndexOfAttribute("k1"), -1) << sorted;
    r.AddAttribute("k1", "back");
    EXPECT_EQ(r.GetAttribute("k1"), "back") << sorted;
  }
}

TEST(XmlNodeAttributes, ReadingEveryAttributeByNameTakesLinearComparisons) {
  constexpr int kCount = 100000;
  std::string text = "<big";
  for (int i = 0; i < kCount; ++i) text += " a" + std::to_string(i) + "=\"&lt;" + std::to_string(i) + "\"";
  text += "/>";
  TBrenlowXml doc;
  doc.ReadFromString(text);
  const TXmlNode& big = *doc.Root();
  ASSERT_EQ(big.GetAttributeCount(), kCount);
  EXPECT_EQ(big.GetAttributeValue(kCount - 1), "<" + std::to_string(kCount - 1));
  EXPECT_EQ(big.GetAttributeValue(kCount), "");

  const std::uint64_t before = XmlAttributeComparisons();
  for (int i = 0; i < kCount; ++i)
    ASSERT_EQ(big.GetAttribute("A" + std::to_string(i)), "<" + std::to_string(i));
  EXPECT_LT(XmlAttributeComparisons() - before, std::uint64_t{2} * kCount);
}

// A long value read from a file waits in the node's attribute block; every
// change to the attributes, and every way of reading, copying or replacing
// the value, must see it as if it were a plain string.
TEST(XmlNodeText, ParsedValuesBesideAttributesSurviveEveryChange) {
  const std::string longA = "a value longer than a string keeps in itself";
  const std::string longB = "another value &amp; long enough to wait";
  for (const bool sorted : {false, true}) {
    TBrenlowXml doc;
    doc.SetSortedAttributes(sorted);
    doc.ReadFromString("<R><a k=\"1\" m=\"two\">" + longA + "</a><b>" + longB + "</b><c>short</c></R>");
    TXmlNode& a = *doc.Root()->GetChild(0);
    TXmlNode& b = *doc.Root()->GetChild(1);
    EXPECT_EQ(doc.WriteToString(), "<R><a k=\"1\" m=\"two\">" + longA + "</a><b>" + longB + "</b><c>short</c></R>\n");
    EXPECT_EQ(b.GetValueText(), "another value & long enough to wait");
    EXPECT_EQ(doc.Root()->ReadString("b", ""), "another value & long enough to wait");

    // Lines added until the block moves several times, changed longer and
    // shorter, some removed.
    for (int i = 0; i < 60; ++i) a.AddAttribute("x" + std::to_string(i), std::string(static_cast<std::size_t>(i), 'v'));
    a.WriteAttributeString("k", "a much longer value than before", "");
    a.WriteAttributeString("m", "", "");
    EXPECT_EQ(a.GetAttribute("k"), "a much longer value than before") << sorted;
    EXPECT_EQ(a.GetAttribute("x59"), std::string(59, 'v')) << sorted;
    EXPECT_EQ(a.GetAttributeCount(), 62) << sorted;
    EXPECT_EQ(a.GetValueText(), longA) << sorted;
    a.ClearAttributes();
    EXPECT_EQ(a.GetAttributeCount(), 0) << sorted;
    EXPECT_FALSE(a.IsBare()) << sorted;
    a.AddAttribute("z", "1");
    EXPECT_EQ(a.ValueText(), longA) << sorted;
    a.AddAttribute("y", "2");
    EXPECT_EQ(a.GetAttributeText(), sorted ? " y=\"2\" z=\"1\"" : " z=\"1\" y=\"2\"");

    // A node without attributes gains some; a copy takes the value along.
    b.AddAttribute("n", "3");
    TXmlNode copy(&doc);
    copy.Assign(b);
    EXPECT_EQ(copy.ValueText(), longB) << sorted;
    EXPECT_EQ(copy.GetAttribute("n"), "3") << sorted;
    EXPECT_EQ(doc.WriteToString(), "<R><a" + a.GetAttributeText() + ">" + longA + "</a><b n=\"3\">" + longB +
                                       "</b><c>short</c></R>\n")
        << sorted;

    // Replaced by a new parse, by raw text and by nothing.
    b.ReadFromString("<b>a fresh value read into the same node again</b>");
    EXPECT_EQ(b.ValueText(), "a fresh value read into the same node again") << sorted;
    EXPECT_EQ(b.GetAttribute("n"), "3") << sorted;
    b.SetValueTextRaw("raw");
    EXPECT_EQ(b.GetValueText(), "raw") << sorted;
    b.Clear();
    EXPECT_TRUE(b.IsEmpty()) << sorted;
  }
}

TEST(XmlNodeBinary, WrappedBase64AtItsDepth) {
  LibraryDoc d;
  d.doc.SetLayout(xlIndented);
  d.doc.SetBinaryFormat(bfBase64);
  std::string bytes(100, '\0');
  for (int i = 0; i < 100; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(i * 7);
  TXmlNode* b = d.root().AddNewChild("B");
  b->WriteBinary(bytes.data(), 100);
  const std::string& v = b->ValueText();
  ASSERT_EQ(v.size(), 136u + 3 * 4);
  EXPECT_EQ(v.substr(0, 4), "\r\n  ");
  EXPECT_EQ(v.substr(80, 4), "\r\n  ");
  EXPECT_EQ(v.substr(144), "\r\n  ");
  std::string back(100, '\0');
  b->ReadBinary(back.data(), 100);
  EXPECT_EQ(back, bytes);
  EXPECT_THROW(b->ReadBinary(back.data(), 103), EFilerError);
  // A compact document keeps the value on one line.
  d.doc.SetLayout(xlCompact);
  b->WriteBinary(bytes.data(), 100);
  EXPECT_EQ(b->ValueText().size(), 136u);
  b->SetValueTextRaw("QQ==");
  EXPECT_EQ(b->GetBinaryLength(), 1);
  b->SetValueTextRaw("QQ=");
  EXPECT_THROW(b->GetBinaryLength(), EFilerError);
}

TEST(XmlNodeBinary, BinaryStringIsBase64WhateverTheFormat) {
  LibraryDoc d;
  d.doc.SetBinaryFormat(bfBinHex);
  TXmlNode* b = d.root().AddNewChild("B");
  b->SetBinaryString("foobar");
  EXPECT_EQ(b->ValueText(), "Zm9vYmFy");
  EXPECT_EQ(b->GetBinaryString(), "foobar");
  EXPECT_EQ(d.doc.BinaryFormat(), bfBinHex);
  b->SetValueTextRaw("Zm9v!mFy");
  EXPECT_THROW(b->GetBinaryString(), EFilerError);
  EXPECT_EQ(d.doc.BinaryFormat(), bfBinHex);
  b->SetBinaryString("");
  EXPECT_EQ(b->ValueText(), "");
}

TEST(XmlNodeTree, NamesAndLookups) {
  LibraryDoc d;
  EXPECT_THROW(d.root().AddNewChild("a b"), EXmlNodeError);
  EXPECT_EQ(d.root().GetChildCount(), 0);
  d.root().AddNewChild("x");
  d.root().AddNewChild("Y");
  d.root().AddNewChild("X");
  EXPECT_EQ(d.root().IndexOfChildFrom("x", 1), 2);
  EXPECT_EQ(d.root().InsertNewChild(9, "z"), nullptr);
  EXPECT_EQ(d.root().GetChild(-1), nullptr);
  EXPECT_EQ(d.doc.TopNodes()->GetDepth(), -1);
}

TEST(XmlNodeTree, AddingANodeWithAParentMovesIt) {
  LibraryDoc d;
  TXmlNode* a = d.root().AddNewChild("a");
  TXmlNode* b = d.root().AddNewChild("b");
  TXmlNode* c = a->AddNewChild("c");
  EXPECT_EQ(b->AddChild(c), 0);
  EXPECT_EQ(a->GetChildCount(), 0);
  EXPECT_EQ(c->Parent(), b);
  // A node can't become a child of its own descendant, nor take a container.
  EXPECT_EQ(c->AddChild(b), -1);
  EXPECT_EQ(c->AddChild(d.doc.TopNodes()), -1);
  EXPECT_EQ(b->Parent(), &d.root());
  // Moving within one parent.
  d.root().InsertChild(0, b);
  EXPECT_EQ(d.root().GetChild(0), b);
  EXPECT_EQ(d.root().GetChildCount(), 2);
  auto owned = d.root().ExtractChild(a);
  ASSERT_TRUE(owned);
  EXPECT_EQ(owned->Parent(), nullptr);
  EXPECT_EQ(d.root().ExtractChild(a), nullptr);
  c->DeleteSelf();
  EXPECT_EQ(b->GetChildCount(), 0);
}

TEST(XmlNodeTree, AssignFromOwnSubtreeCopiesFirst) {
  LibraryDoc d;
  TXmlNode* a = d.root().AddNewChild("a");
  TXmlNode* b = a->AddNewChild("b");
  b->SetValueText("v");
  b->AddNewChild("c")->SetValueText("w");
  b->AddAttribute("k", "1");
  a->Assign(*b);  // b is freed by this; the copy must survive
  EXPECT_EQ(a->Name(), "b");
  EXPECT_EQ(a->GetValueText(), "v");
  EXPECT_EQ(a->GetAttribute("k"), "1");
  ASSERT_EQ(a->GetChildCount(), 1);
  EXPECT_EQ(a->GetChild(0)->GetValueText(), "w");
  EXPECT_EQ(a->GetChild(0)->Parent(), a);
  // And the other way round: a node takes a copy of its ancestor.
  TXmlNode* leaf = a->GetChild(0);
  leaf->Assign(d.root());
  EXPECT_EQ(leaf->Name(), "R");
  ASSERT_EQ(leaf->GetChildCount(), 1);
  EXPECT_EQ(leaf->GetChild(0)->Name(), "b");
}

#if defined(__SANITIZE_ADDRESS__)
// With the pool asked for under the sanitizer, a node used after its release
// is still reported: its block is poisoned, not handed on at once.
TEST(XmlNodeTree, ReleasedNodeIsPoisonedInThePool) {
  const char* pool = std::getenv("KDL_XML_NODE_POOL");
  const bool pooled = pool && std::string(pool) == "1";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        auto* node = new TXmlNode(nullptr, "gone");
        delete node;
        (void)*reinterpret_cast<volatile const char*>(reinterpret_cast<const char*>(node) + 40);
      },
      pooled ? "use-after-poison" : "heap-use-after-free");
}
#endif

TEST(XmlNodeText, NodeWithoutDocumentUsesFixedSettings) {
  TXmlNode n(nullptr, "n");
  n.WriteInteger("A", 5, 5);  // written: defaults are written
  EXPECT_EQ(n.ReadInteger("A", 0), 5);
  EXPECT_EQ(n.WideToDocText(u"\u20AC"), "\x80");  // 8-bit strings
  n.WriteBinary("\x01\xFF", 2);  // BinHex without a document
  EXPECT_EQ(n.ValueText(), "01FF");
}

// Nodes made on one thread and freed on another (the sanitizers judge).
TEST(XmlNodeTree, NodesMayBeFreedOnAnotherThread) {
  std::vector<std::unique_ptr<TXmlNode>> made;
  std::thread([&] {
    for (int i = 0; i < 20000; ++i) made.push_back(std::make_unique<TXmlNode>(nullptr, "n"));
  }).join();
  std::thread([&] {
    made.clear();
    for (int i = 0; i < 20000; ++i) TXmlNode(nullptr, "m").AddNewChild("c")->SetValueText("v");
  }).join();
  TBrenlowXml doc("R");
  for (int i = 0; i < 20000; ++i) doc.Root()->AddNewChild("x");
  EXPECT_EQ(doc.Root()->GetChildCount(), 20000);
}

}  // namespace
}  // namespace kdl
