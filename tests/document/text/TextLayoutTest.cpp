// Text layout: where lines break, how auto-size moves the frame, which
// setters measure, and the undo records of resizing and of the setters.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "FakeDocument.h"
#include "QtApplication.h"
#include "TestShapes.h"
#include "TextTesting.h"
#include "document/text/MemoShape.h"

namespace kdl {
namespace {

using test::GridText;
using test::SpanList;
using test::SpansOf;

// ---- Exact breaks with a monospaced face --------------------------------------------

// Liberation Mono advances every character by the same 1229/2048 em; at a
// measuring em of 32 px each is 19.203125 px and n characters measure
// round(n * 19.203125) px. A frame k + 1/2 advances wide holds k characters.
class MonoWrap : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    const auto [advance, em] = test::UnscaledAdvance("Liberation Mono", U'a');
    ASSERT_EQ(advance, 1229);
    ASSERT_EQ(em, 2048);
    advancePx_ = 32.0 * advance / em;
  }
  SpanList Wrap(const std::u16string& text, double chars) {
    TdtpMemoShape memo;
    memo.SetAutoSize(false);
    memo.SetFontName("Liberation Mono");
    memo.SetFontHeight(static_cast<float>(32 * 25.4 / 300));
    memo.SetDocBounds(0, 0, static_cast<float>(chars * advancePx_ / kMeasureDpm), 100);
    memo.SetWordWrap(true);
    memo.SetText(text);
    for (int i = 0; i < memo.GetSpanCount(); ++i) {
      const TdtpTextSpan& s = *memo.GetSpan(i);
      if (s.CharCount > 0)
        EXPECT_NEAR(s.Width * kMeasureDpm, std::nearbyint(s.CharCount * advancePx_), 1e-3);
    }
    return SpansOf(memo);
  }
  double advancePx_ = 0;
};

TEST_F(MonoWrap, BreaksAtSpacesAndHyphensAndCutsLongWords) {
  struct Case {
    std::u16string text;
    double chars;
    SpanList spans;
  };
  const Case cases[] = {
      {u"ab-cd", 3.5, {{1, 2}, {3, 3}}},          // the hyphen begins the next span
      {u"ab-cd", 4.5, {{1, 2}, {3, 3}}},
      {u"ab-cd", 5.5, {{1, 5}}},
      {u"ab cd", 3.5, {{1, 2}, {4, 2}}},          // the space is skipped
      {u"ab cd", 4.5, {{1, 2}, {4, 2}}},
      {u"ab cd", 5.5, {{1, 5}}},
      {u"abcdefg", 3.5, {{1, 3}, {4, 3}, {7, 1}}},
      {u"abcdefg", 2.5, {{1, 2}, {3, 2}, {5, 2}, {7, 1}}},
      {u"abc", 0.5, {{1, 1}, {2, 1}, {3, 1}}},    // down to single characters
      {u"ab  cd ef", 5.5, {{1, 2}, {5, 5}}},      // blanks run skipped
      {u"", 3.5, {}},
      {u"a\r\n\r\nb", 3.5, {{1, 1}, {4, 0}, {6, 1}}},
      {u"ab\r\n", 3.5, {{1, 2}}},
      {u"a\rb", 3.5, {{1, 1}, {3, 1}}},
      {u"a\nb", 3.5, {{1, 1}, {3, 1}}},
      {u"a\r\nb", 3.5, {{1, 1}, {4, 1}}},
      {u"abcd ef\r\ngh", 3.5, {{1, 3}, {4, 1}, {6, 2}, {10, 2}}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Wrap(c.text, c.chars), c.spans) << std::string(c.text.begin(), c.text.end())
                                              << " in " << c.chars;
}

// A tab is wider than one character here: the old skip passed only spaces
// and line breaks, so a line led by a tab gave empty spans for ever.
TEST_F(MonoWrap, LeadingTabsInAOneCharacterFrameEnd) {
  const SpanList spans = Wrap(u"\t\tab", 1.5);
  ASSERT_FALSE(spans.empty());
  EXPECT_EQ(spans.back(), (std::pair<int, int>{4, 1}));
  // Every character is in a span or is one of the skipped tabs.
  EXPECT_EQ(spans[spans.size() - 2], (std::pair<int, int>{3, 1}));
  for (const auto& s : spans) EXPECT_LE(s.second, 2);
}

// ---- Invariants over random texts ----------------------------------------------------

TEST(TextWrap, RandomTextsKeepTheInvariantsAndMatchThePlainScan) {
  std::mt19937 rng(20261209);
  const std::u16string alphabet = u"aaaabbmiW  --\t\r\n";
  for (int round = 0; round < 400; ++round) {
    std::u16string text;
    const int length = static_cast<int>(rng() % 60);
    for (int i = 0; i < length; ++i) text += alphabet[rng() % alphabet.size()];
    // Frame widths in quarters of a unit, offset by an eighth so that no
    // sum of widths lands on the frame exactly.
    const double frame = (static_cast<int>(rng() % 40) + 0.5) / 4;
    GridText shape(true);
    shape.SetAutoSize(false);
    shape.SetFontHeight(4);  // widths come out in units of 1 mm
    shape.SetDocBounds(0, 0, static_cast<float>(frame), 50);
    shape.SetWordWrap(true);
    shape.SetText(text);
    const SpanList spans = SpansOf(shape);
    const SpanList plain = test::PlainWrap(
        text, frame, [&](int p, int l) { return GridText::Width(text, p, l); });
    ASSERT_EQ(spans, plain) << round;

    // In order, without overlap; what lies between spans is blank.
    int next = 1;
    for (const auto& [pos, count] : spans) {
      ASSERT_GE(pos, next);
      for (int i = next; i < pos; ++i) ASSERT_TRUE(test::Blank(text[i - 1])) << round;
      if (count >= 2) EXPECT_LT(GridText::Width(text, pos, count), frame) << round;
      next = pos + count;
    }
    for (int i = next; i <= length; ++i) ASSERT_TRUE(test::Blank(text[i - 1])) << round;
  }
}

// ---- The wrap against the search it replaced ------------------------------------------

// Word wrap as it was written first: for every span the whole candidate
// sequence of the rest of the line, from the rest itself down, then the
// galloping search from its short end. Kept to prove that the layout built
// from the short end gives the same spans, whatever the widths do.
template <class Measure>
SpanList GallopingWrap(const std::u16string& text, double maxWidth, Measure measure) {
  SpanList spans;
  std::int32_t pos = 1;
  for (;;) {
    const std::int32_t start = pos;
    const int length = WideNextLine(text, pos);
    if (length < 0) break;
    std::int32_t p = start, n = length;
    std::vector<std::int32_t> chain;
    do {
      const char16_t* r = text.data() + (p - 1);
      chain.assign(1, n);
      for (std::int32_t l = n; l > 1;) {
        std::int32_t j = l - 1;
        while (j >= 0 && r[j] != u' ' && r[j] != u'-') --j;
        std::int32_t c = std::max(j <= 0 ? l - 1 : j, 1);
        while (c > 0 && test::Blank(r[c - 1])) --c;
        l = c;
        chain.push_back(l);
      }
      auto accepts = [&](std::ptrdiff_t k) {
        return chain[static_cast<std::size_t>(k)] <= 1 || measure(p, chain[static_cast<std::size_t>(k)]) < maxWidth;
      };
      std::ptrdiff_t hi = static_cast<std::ptrdiff_t>(chain.size()) - 1, lo = -1;
      for (std::ptrdiff_t step = 1;; step *= 2) {
        const std::ptrdiff_t k = hi - step;
        if (k < 0) break;
        if (!accepts(k)) {
          lo = k;
          break;
        }
        hi = k;
      }
      while (hi - lo > 1) {
        const std::ptrdiff_t mid = lo + (hi - lo) / 2;
        (accepts(mid) ? hi : lo) = mid;
      }
      const std::int32_t taken = chain[static_cast<std::size_t>(hi)];
      spans.emplace_back(p, taken);
      std::int32_t used = taken;
      while (used < n && test::Blank(r[used])) ++used;
      if (used == 0 && n > 0) used = 1;
      p += used;
      n -= used;
    } while (n > 0);
  }
  return spans;
}

// Widths by character index, set by the test: with negative ones a longer
// prefix can be narrower, where the probes the search makes decide the
// spans, so matching spans means matching probes too.
class TableText : public GridText {
 public:
  TableText() : GridText(true) {}
  std::vector<double> Widths;
  double Width(std::int32_t pos, std::int32_t count) const {
    double w = 0;
    for (std::int32_t i = pos - 1; i < pos - 1 + count; ++i) w += Widths[static_cast<std::size_t>(i)];
    return w;
  }
  TdtpTextSize MeasureText(std::int32_t pos, std::int32_t count) override {
    return {static_cast<float>(Width(pos, count)), 1};
  }
};

TEST(TextWrap, RandomTextsWrapAsTheWholeSequenceSearchDid) {
  std::mt19937 rng(37);
  const std::u16string alphabet = u"aaaaabbbmiW   --\t\t\x01\r\n";
  for (int round = 0; round < 1500; ++round) {
    std::u16string text;
    const int length = static_cast<int>(rng() % (round % 20 == 0 ? 3000 : 120));
    while (static_cast<int>(text.size()) < length) {
      switch (rng() % 12) {
        case 0: text += std::u16string(rng() % 40 + 1, u'x'); break;             // a long word
        case 1: text += std::u16string(rng() % 12 + 1, u' '); break;             // a run of spaces
        case 2: text += std::u16string(rng() % 6 + 1, u'\t'); break;             // tabs
        case 3: text += u" \t \t"; break;
        default: text += alphabet[rng() % alphabet.size()];
      }
    }
    const bool negative = round % 3 == 0;
    TableText shape;
    shape.SetAutoSize(false);
    shape.Widths.resize(text.size());
    for (double& w : shape.Widths) w = static_cast<int>(rng() % 8) * 0.5 - (negative ? 1.25 : 0);
    // Narrow frames, down to less than any character, and wide ones.
    const double frame = (static_cast<int>(rng() % 60) + 0.25) / (round % 4 == 0 ? 8 : 1);
    shape.SetDocBounds(0, 0, static_cast<float>(frame), 50);
    shape.SetWordWrap(true);
    shape.SetText(text);
    const SpanList expect = GallopingWrap(
        text, static_cast<float>(frame), [&](int p, int l) { return static_cast<float>(shape.Width(p, l)); });
    ASSERT_EQ(SpansOf(shape), expect) << "round " << round << ", " << text.size() << " characters in " << frame;
  }
}

// Blanks other than spaces (tabs, control characters) in a frame narrower
// than any character: the trimmed span is empty and the blanks must still
// be passed, each line ending after finitely many spans. A stalled wrap
// would add empty spans for ever; the cap turns that into a failure.
TEST(TextWrap, BlanksInAFrameNarrowerThanAnyCharacterAreSkipped) {
  class CappedGrid : public GridText {
   public:
    CappedGrid() : GridText(true) {}
    TdtpTextSpan* AddSpan() override {
      if (GetSpanCount() > 64) throw std::runtime_error("word wrap does not advance");
      return GridText::AddSpan();
    }
  };
  struct Case {
    std::u16string text;
    SpanList spans;
  };
  const Case cases[] = {
      {u"\t\t\t", {{1, 0}}},
      {u"\x01\x02", {{1, 0}}},
      {u"\t\tab", {{1, 0}, {3, 1}, {4, 1}}},
      {u"a\tb", {{1, 1}, {3, 1}}},
      {u"\t \ta\x01\x01-b", {{1, 0}, {4, 1}, {7, 1}, {8, 1}}},
      {u"ab\t\t\r\n\t\t", {{1, 1}, {2, 1}, {7, 0}}},
  };
  for (const Case& c : cases) {
    CappedGrid shape;
    shape.SetAutoSize(false);
    shape.SetFontHeight(4);
    shape.SetDocBounds(0, 0, 0.125f, 50);
    shape.SetWordWrap(true);
    EXPECT_NO_THROW(shape.SetText(c.text)) << c.spans.size();
    EXPECT_EQ(SpansOf(shape), c.spans) << c.spans.size();
  }
}

// ---- Auto-size --------------------------------------------------------------------------

TEST(TextAutoSize, KeepsTheEdgeTheAlignmentNames) {
  struct Case {
    std::uint8_t align, vert;
  };
  for (const Case c : {Case{0, 0}, Case{1, 2}, Case{2, 1}}) {
    GridText shape(true);
    shape.SetFontHeight(4);  // 1 mm per unit, lines 5 mm high
    shape.SetDocBounds(20, 30, 40, 10);
    shape.SetAlignment(c.align);
    shape.SetVertAlign(c.vert);
    shape.SetText(u"ab");
    const float right = shape.DocLeft() + shape.DocWidth();
    const float centreX = shape.DocLeft() + shape.DocWidth() / 2;
    const float bottom = shape.DocTop() + shape.DocHeight();
    const float middle = shape.DocTop() + shape.DocHeight() / 2;
    const float left = shape.DocLeft(), top = shape.DocTop();
    shape.SetText(u"abcdef\r\nx\r\ny");
    EXPECT_FLOAT_EQ(shape.DocWidth(), 6);
    EXPECT_FLOAT_EQ(shape.DocHeight(), 12);  // three lines 4 mm apart
    if (c.align == 0) EXPECT_FLOAT_EQ(shape.DocLeft(), left);
    if (c.align == 1) EXPECT_FLOAT_EQ(shape.DocLeft() + shape.DocWidth(), right);
    if (c.align == 2) EXPECT_FLOAT_EQ(shape.DocLeft() + shape.DocWidth() / 2, centreX);
    if (c.vert == 0) EXPECT_FLOAT_EQ(shape.DocTop(), top);
    if (c.vert == 2) EXPECT_FLOAT_EQ(shape.DocTop() + shape.DocHeight(), bottom);
    if (c.vert == 1) EXPECT_FLOAT_EQ(shape.DocTop() + shape.DocHeight() / 2, middle);
  }
}

TEST(TextAutoSize, EmptyTextTakesTheSizeOfW) {
  GridText line(false);
  line.SetFontHeight(4);
  line.SetText(u"x");
  line.SetText(u"");
  ASSERT_EQ(line.GetSpanCount(), 1);  // one empty span
  EXPECT_FLOAT_EQ(line.DocWidth(), 3);
  EXPECT_FLOAT_EQ(line.DocHeight(), 5);

  GridText memo(true);
  memo.SetFontHeight(4);
  memo.SetWordWrap(true);
  memo.SetDocBounds(0, 0, 30, 10);
  memo.SetText(u"x");
  memo.SetText(u"");
  EXPECT_EQ(memo.GetSpanCount(), 0);
  EXPECT_FLOAT_EQ(memo.DocWidth(), 30);  // a wrapping memo keeps its width
  EXPECT_FLOAT_EQ(memo.DocHeight(), 5);
}

// ---- Resizing ---------------------------------------------------------------------------

TEST(TextResize, ScalingAnAutoSizeLineScalesItsFontAndRecordsIt) {
  testing::FakeDocument doc;
  GridText shape(false);
  shape.SetDocument(&doc);
  shape.SetFontHeight(8);  // 10 mm high lines
  shape.SetText(u"abc");
  ASSERT_FLOAT_EQ(shape.DocHeight(), 10);
  doc.ClearUndo();
  shape.SetDocSize(100, 20);
  EXPECT_FLOAT_EQ(shape.GetFontHeight(), 16);
  EXPECT_FLOAT_EQ(shape.DocHeight(), 20);
  EXPECT_FLOAT_EQ(shape.DocWidth(), 12);  // from the text, not the request
  ASSERT_FALSE(doc.UndoList().empty());
  EXPECT_EQ(doc.UndoList().front()->PropName, "FontHeight");
  EXPECT_EQ(doc.UndoList().front()->OldValue, "8");
  // The layout's own frame changes are not the user's.
  for (const auto& c : doc.UndoList()) EXPECT_EQ(c->PropName, "FontHeight");

  // A collapsed height leaves the font alone.
  shape.SetDocSize(100, 0);
  EXPECT_FLOAT_EQ(shape.GetFontHeight(), 16);
  EXPECT_FLOAT_EQ(shape.DocHeight(), 20);
}

TEST(TextResize, AMemoWrapsAgainToItsNewWidth) {
  GridText memo(true, false);
  memo.SetAutoSize(false);
  memo.SetFontHeight(4);
  memo.SetDocBounds(0, 0, 10.5, 20);
  memo.SetWordWrap(true);
  memo.SetText(u"aaaa bbbb cccc");
  EXPECT_EQ(memo.GetSpanCount(), 2);
  memo.SetDocSize(4.5, 20);
  EXPECT_EQ(memo.GetSpanCount(), 3);
  EXPECT_FLOAT_EQ(memo.DocWidth(), 4.5);
}

// ---- What setters measure --------------------------------------------------------------

TEST(TextSetters, ColourAndAlignmentMeasureNothing) {
  GridText shape(true);
  shape.SetAutoSize(false);
  shape.SetFontHeight(4);
  shape.SetDocBounds(0, 0, 20, 10);
  shape.SetText(u"ab\r\nabcd");
  shape.Measures = shape.Prepares = 0;
  shape.SetFontColor(0x0000FF);
  EXPECT_EQ(shape.Measures + shape.Prepares, 0);
  shape.SetAlignment(1);
  EXPECT_EQ(shape.Measures + shape.Prepares, 0);
  EXPECT_FLOAT_EQ(shape.GetSpan(0)->Left, 18);  // repositioned all the same
  EXPECT_FLOAT_EQ(shape.GetSpan(1)->Left, 16);
  shape.SetVertAlign(2);
  EXPECT_FLOAT_EQ(shape.GetSpan(1)->Top, 10 - 4);
  shape.SetFontStyle(fsBold);
  EXPECT_GT(shape.Measures, 0);
}

TEST(TextSetters, RecordTheirOldValuesAndReplayBack) {
  testing::FakeDocument doc;
  auto shape = std::make_unique<GridText>(false);
  TdtpShape root;
  root.SetDocument(&doc);
  GridText& s = *shape;
  root.AddShape(std::move(shape));
  s.SetText(u"h\u00e9");
  doc.ClearUndo();
  const std::string before = testing::ShapeXml(s);
  s.SetText(u"new");
  s.SetFontName("Liberation Serif");
  s.SetFontHeight(5.5f);
  s.SetFontStyle(fsItalic | fsUnderline);
  s.SetFontColor(0x123456);
  s.SetAlignment(2);
  s.SetVertAlign(1);
  s.SetAutoSize(false);
  s.SetWordWrap(true);
  s.SetUseKerning(true);
  s.SetWordSpacing(0.5f);
  s.SetCharacterSpacing(0.25f);
  s.SetText(u"new");  // unchanged: nothing
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& c : doc.UndoList()) got.emplace_back(c->PropName, c->OldValue);
  const std::vector<std::pair<std::string, std::string>> want = {
      {"Text", "h\xc3\xa9"}, {"FontName", "Arial"}, {"FontHeight", "12"},
      {"FontStyle", ""},     {"FontColor", "0"},    {"Alignment", "0"},
      {"VertAlign", "0"},    {"AutoSize", "True"},  {"WordWrap", "False"},
      {"UseKerning", "False"}, {"WordSpacing", "0"}, {"CharacterSpacing", "0"}};
  EXPECT_EQ(got, want);

  while (doc.Undo(root)) {
  }
  EXPECT_EQ(testing::ShapeXml(s), before);
  EXPECT_EQ(doc.Refused, 0);
}

// A height that is no number, set directly or reached by resizing an
// auto-size line, would give every span and the frame NaN sizes.
TEST(TextSetters, BrokenFontHeightsChangeNothing) {
  testing::FakeDocument doc;
  GridText shape(false);
  shape.SetDocument(&doc);
  shape.SetFontHeight(8);
  shape.SetText(u"abc");
  doc.ClearUndo();
  const std::string before = testing::ShapeXml(shape);
  const float inf = std::numeric_limits<float>::infinity();
  for (const float h : {std::numeric_limits<float>::quiet_NaN(), inf, -inf}) {
    shape.SetFontHeight(h);
    shape.SetDocSize(100, h);
    EXPECT_EQ(testing::ShapeXml(shape), before) << h;
    EXPECT_TRUE(std::isfinite(shape.DocWidth()) && std::isfinite(shape.DocHeight())) << h;
  }
  EXPECT_TRUE(doc.UndoList().empty());
}

TEST(TextSetters, PointsAndPasteOffset) {
  GridText shape(false);
  shape.SetFontSizePt(36);
  EXPECT_FLOAT_EQ(shape.GetFontHeight(), 12.7f);
  EXPECT_FLOAT_EQ(shape.GetFontSizePt(), 36);
  const TFloatPoint offset = shape.GetPasteOffset();
  EXPECT_EQ(offset.X, 0);
  EXPECT_FLOAT_EQ(offset.Y, shape.GetLineHeight());
  EXPECT_FLOAT_EQ(offset.Y, 12.7f);
}

}  // namespace
}  // namespace kdl
