// Memo lines, the glyph memo's font from the document, and the XML of text
// shapes: files written by hand read and write back unchanged, stored spans
// are kept even where this machine measures otherwise, and damaged spans
// cannot reach outside the text.
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <cmath>

#include "FakeDocument.h"
#include "QtApplication.h"
#include "TestShapes.h"
#include "document/Startup.h"
#include "document/shapes/Rendering.h"
#include "document/text/FontManager.h"
#include "document/text/MemoShape.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

// ---- Lines ---------------------------------------------------------------------------

TEST(MemoLines, EveryChangeIsOneTextRecord) {
  test::EnsureApplication();
  testing::FakeDocument doc;
  TdtpMemoShape memo;
  memo.SetDocument(&doc);
  memo.Lines().Add(u"one");
  memo.Lines().Add(u"two");
  memo.Lines().Add(u"three");
  EXPECT_EQ(memo.Text(), u"one\r\ntwo\r\nthree");
  EXPECT_EQ(memo.GetSpanCount(), 3);
  std::vector<std::string> old;
  for (const auto& c : doc.UndoList()) {
    EXPECT_EQ(c->PropName, "Text");
    old.push_back(c->OldValue);
  }
  EXPECT_EQ(old, (std::vector<std::string>{"", "one", "one\r\ntwo"}));

  memo.SetText(u"a\r\nb");
  ASSERT_EQ(memo.Lines().Count(), 2);
  EXPECT_EQ(memo.Lines().Get(0), u"a");
  EXPECT_EQ(memo.Lines().Get(1), u"b");
  EXPECT_EQ(memo.Lines().Text(), u"a\r\nb");
  EXPECT_EQ(doc.UndoList().size(), 4u);  // setting the text records once
}

// ---- Glyph memo ------------------------------------------------------------------------

TEST(GlyphMemo, MeasuresAndDrawsNothingWithoutADocument) {
  TdtpPolygonMemo memo;
  memo.SetDocBounds(5, 5, 30, 20);
  memo.SetText(u"Words");
  EXPECT_EQ(memo.Font(), nullptr);
  const TdtpTextSize e = memo.MeasureText(1, 5);
  EXPECT_EQ(e.Width, 0);
  EXPECT_EQ(e.Height, 0);
  EXPECT_EQ(memo.GetLineHeight(), 0);
  // Auto-size keeps the frame rather than collapsing it.
  EXPECT_EQ(memo.DocWidth(), 30);
  EXPECT_EQ(memo.DocHeight(), 20);
  TBitmap32 b;
  b.SetSize(40, 40);
  b.Clear(0x12345678u);
  TdtpPaintInfo info;
  memo.Paint32(b, info);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(b.GetPixel(x, y), 0x12345678u);
}

TEST(GlyphMemo, AttachingAcquiresTheFontAndRenamingReleasesIt) {
  testing::FakeDocument doc;
  TdtpFontManager& fonts = *doc.FontManager();
  TdtpPolygonMemo memo;
  memo.SetFontName("Liberation Sans");
  memo.SetFontHeight(5);
  memo.SetText(u"Words");
  memo.SetDocument(&doc);
  ASSERT_NE(memo.Font(), nullptr);
  ASSERT_EQ(fonts.Fonts().size(), 1u);
  EXPECT_EQ(memo.Font()->RefCount(), 1);
  // Laid out again with the font: the frame is the text's ink and lines.
  EXPECT_GT(memo.DocWidth(), 5);
  EXPECT_FLOAT_EQ(memo.DocHeight(), (905 + 212) * 5 / 1000.0f);
  EXPECT_FLOAT_EQ(memo.GetLineHeight(), (905 + 212) * 5 / 1000.0f);

  // Renamed, it releases the old font, which goes with its last holder.
  memo.SetFontName("Liberation Serif");
  ASSERT_EQ(fonts.Fonts().size(), 1u);
  EXPECT_EQ(fonts.Fonts()[0]->Name(), "Liberation Serif");
}

// While it lives, fontconfig knows no fonts at all, so that no family can
// be had; the machine's configuration comes back after.
class NoFonts {
 public:
  NoFonts() : saved_(FcConfigReference(nullptr)) {
    FcConfig* empty = FcConfigCreate();
    FcConfigSetCurrent(empty);
    FcConfigDestroy(empty);  // held by fontconfig while current
  }
  ~NoFonts() {
    FcConfigSetCurrent(saved_);
    FcConfigDestroy(saved_);
  }
  NoFonts(const NoFonts&) = delete;
  NoFonts& operator=(const NoFonts&) = delete;

 private:
  FcConfig* saved_;
};

// A face that cannot be had: the memo measures and draws nothing, and the
// document hears why once, not at every relayout and paint.
TEST(GlyphMemo, AFontThatCannotBeLoadedIsReportedOnce) {
  NoFonts none;
  testing::FakeDocument doc;
  TdtpPolygonMemo memo;
  memo.SetDocBounds(5, 5, 30, 20);
  memo.SetFontName("Liberation Sans");
  memo.SetDocument(&doc);
  memo.SetText(u"Words");
  memo.SetFontHeight(7);
  memo.SetText(u"More words");
  EXPECT_EQ(memo.Font(), nullptr);
  const TdtpTextSize e = memo.MeasureText(1, 5);
  EXPECT_EQ(e.Width, 0);
  EXPECT_EQ(e.Height, 0);
  TBitmap32 b;
  b.SetSize(40, 40);
  TdtpPaintInfo info;
  for (int paint = 0; paint < 3; ++paint) {
    b.Clear(0x12345678u);
    memo.Invalidate();
    memo.Paint32(b, info);
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 40; ++x) ASSERT_EQ(b.GetPixel(x, y), 0x12345678u);
  }
  ASSERT_EQ(doc.CountEvents("LoadError"), 1);
  for (const auto& event : doc.Events)
    if (event.Kind == "LoadError") {
      EXPECT_EQ(event.Text, "Unable to create font with name \"Liberation Sans\"");
    }
  memo.SetDocument(nullptr);
}

TEST(GlyphMemo, CharacterSpacingWidensTheText) {
  testing::FakeDocument doc;
  TdtpPolygonMemo memo;
  memo.SetDocument(&doc);
  memo.SetFontName("Liberation Mono");
  memo.SetFontHeight(10);
  memo.SetText(u"abcd");
  const float plain = memo.GetSpan(0)->Width;
  memo.SetCharacterSpacing(0.1f);
  // Three gaps of a tenth of the font height each.
  EXPECT_NEAR(memo.GetSpan(0)->Width - plain, 3.0f, 1e-4);
}

// ---- XML ---------------------------------------------------------------------------------

std::string Wrap(const std::string& inner) { return "<shape>" + inner + "</shape>"; }

// Values equal to their defaults are left out, as in every document.
class TextXml : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDocumentLibrary();
    test::EnsureApplication();
  }
};

TEST_F(TextXml, AFreshTextShapeWritesItsDefaults) {
  TdtpTextShape text;
  EXPECT_EQ(testing::ShapeXml(text),
            Wrap("<ClassName>TdtpTextShape</ClassName>"
                 "<Anchors><default>True</default><LeftLock>True</LeftLock><TopLock>True</TopLock></Anchors>"
                 "<FontHeight>12</FontHeight><AutoSize>True</AutoSize><Font><Name>Arial</Name></Font>"));
}

TEST_F(TextXml, StoredSpansReadAndWriteBackUnchanged) {
  testing::FakeDocument doc;
  // Line breaks and sizes no font here would give: they must survive.
  const std::string memo = Wrap(
      "<ClassName>TdtpMemoShape</ClassName><Anchors><default>True</default><LeftLock>True</LeftLock><TopLock>True</TopLock></Anchors>"
      "<DocHeight>30</DocHeight><DocWidth>40</DocWidth>"
      "<Text>Grand total\r\nof it all</Text><FontHeight>4.5</FontHeight><WordWrap>True</WordWrap>"
      "<VertAlign>2</VertAlign><Font><Name>Liberation Serif</Name><Color>$000000FF</Color>"
      "<Bold>True</Bold></Font><CharacterSpacing>.05</CharacterSpacing>"
      "<Span><CharPos>1</CharPos><CharCount>5</CharCount><Width>7.25</Width><Height>5</Height></Span>"
      "<Span><CharPos>7</CharPos><CharCount>5</CharCount><Width>8.5</Width><Height>5</Height></Span>"
      "<Span><CharPos>14</CharPos><CharCount>9</CharCount><Width>12</Width><Height>5</Height></Span>");
  TdtpMemoShape m;
  m.SetDocument(&doc);
  testing::LoadShapeXml(m, memo);
  EXPECT_EQ(doc.UndoList().size(), 0u);
  ASSERT_EQ(m.GetSpanCount(), 3);
  EXPECT_EQ(m.GetSpan(1)->Text(), u"total");
  EXPECT_FLOAT_EQ(m.GetSpan(1)->Width, 8.5f);
  // Placed bottom-up from the stored layout: three lines 4.5 mm apart.
  EXPECT_FLOAT_EQ(m.GetSpan(0)->Top, 30 - 3 * 4.5f);
  EXPECT_EQ(m.Lines().Count(), 2);
  EXPECT_EQ(m.GetFontStyle(), fsBold);
  EXPECT_EQ(m.GetFontColor(), 0xFF);
  EXPECT_EQ(testing::ShapeXml(m), memo);

  const std::string glyphs = Wrap(
      "<ClassName>TdtpPolygonMemo</ClassName><Anchors><default>True</default><LeftLock>True</LeftLock><TopLock>True</TopLock></Anchors>"
      "<DocHeight>10</DocHeight><DocWidth>20</DocWidth>"
      "<Text>ab cd</Text><FontHeight>3</FontHeight><Alignment>1</Alignment>"
      "<Font><Name>Liberation Sans</Name><Italic>True</Italic></Font><UseKerning>True</UseKerning>"
      "<Span><CharPos>1</CharPos><CharCount>2</CharCount><Width>4</Width><Height>3.351</Height></Span>"
      "<Span><CharPos>4</CharPos><CharCount>2</CharCount><Width>4.5</Width><Height>3.351</Height></Span>");
  TdtpPolygonMemo g;
  g.SetDocument(&doc);
  testing::LoadShapeXml(g, glyphs);
  EXPECT_EQ(testing::ShapeXml(g), glyphs);
  EXPECT_FLOAT_EQ(g.GetSpan(1)->Left, 20 - 4.5f);
}

TEST_F(TextXml, DamagedSpansStayInsideTheText) {
  struct Case {
    std::string spans;
    bool relaid;  // laid out again from the text
  };
  const Case cases[] = {
      {"<Span><CharPos>50</CharPos><CharCount>9999</CharCount><Width>3</Width><Height>2</Height></Span>", false},
      {"<Span><CharPos>-7</CharPos><CharCount>-3</CharCount><Width>3</Width><Height>2</Height></Span>", false},
      {"<Span><CharPos>2</CharPos><CharCount>2147483647</CharCount><Width>3</Width><Height>2</Height></Span>", false},
      {"<Span><CharPos>1</CharPos><CharCount>3</CharCount><Width>-1</Width><Height>2</Height></Span>", true},
      {"<Span><CharPos>1</CharPos><CharCount>3</CharCount><Width>3</Width><Height>nan</Height></Span>", true},
      {"<Span><CharPos>1</CharPos><CharCount>3</CharCount><Width>inf</Width><Height>2</Height></Span>", true},
  };
  for (const Case& c : cases) {
    TdtpMemoShape m;
    testing::LoadShapeXml(m, Wrap("<ClassName>TdtpMemoShape</ClassName><Text>abc\r\nde</Text>"
                                  "<FontHeight>4</FontHeight><Font><Name>Liberation Sans</Name></Font>" +
                                  c.spans));
    const int length = static_cast<int>(m.Text().size());
    for (int i = 0; i < m.GetSpanCount(); ++i) {
      const TdtpTextSpan& s = *m.GetSpan(i);
      EXPECT_GE(s.CharPos, 1) << c.spans;
      EXPECT_GE(s.CharCount, 0) << c.spans;
      EXPECT_LE(s.CharPos + s.CharCount, length + 1) << c.spans;
      EXPECT_TRUE(std::isfinite(s.Width) && std::isfinite(s.Height)) << c.spans;
    }
    EXPECT_EQ(m.GetSpanCount(), c.relaid ? 2 : 1) << c.spans;
    // Drawing the clamped layout reads nothing outside the text.
    TBitmap32 b;
    b.SetSize(64, 64);
    TdtpPaintInfo info;
    info.Scale = 4;
    TAffineMatrix t;
    t.A = t.D = 4;
    m.SetPaintTransform(t);
    m.Paint32(b, info);
  }
}

}  // namespace
}  // namespace kdl
