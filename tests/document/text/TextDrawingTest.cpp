// Drawing text: the Qt path leaves grey coverage inside each span's box (and
// its glyphs' overhanging ink) at every zoom, its ink matches the glyph
// outlines' area, and the Qt memo and the glyph memo put the same ink in
// the same place.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QRect>
#include <QString>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "FakeDocument.h"
#include "QtApplication.h"
#include "document/shapes/Rendering.h"
#include "document/text/FontManager.h"
#include "document/text/MemoShape.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

class DrawnMemo : public TdtpMemoShape {
 public:
  using TdtpMemoShape::DrawSpans;
  using TdtpMemoShape::FitFontToSpan;
};

class DrawnText : public TdtpTextShape {
 public:
  using TdtpTextShape::DrawSpans;
  using TdtpTextShape::FitFontToSpan;
};

TAffineMatrix ScaleMatrix(double s) {
  TAffineMatrix m;
  m.A = m.D = s;
  return m;
}

// A bitmap covering the frame at scale, cleared to 0.
std::unique_ptr<TBitmap32> FrameBitmap(const TdtpShape& s, double scale) {
  auto b = std::make_unique<TBitmap32>();
  b->SetSize(static_cast<std::int32_t>(std::ceil(s.DocWidth() * scale)) + 2,
             static_cast<std::int32_t>(std::ceil(s.DocHeight() * scale)) + 2);
  b->Clear(0);
  return b;
}

TEST(TextDrawing, GreyCoverageStaysInsideTheSpansAtEveryScale) {
  test::EnsureApplication();
  for (const double scale : {0.3, 5.9, 11.8, 23.6}) {
    DrawnMemo memo;
    memo.SetFontName("Liberation Sans");
    memo.SetText(u"Kestrel 42\r\nWy-fi jag\r\n\r\nA");
    ASSERT_EQ(memo.GetSpanCount(), 4);
    auto bitmap = FrameBitmap(memo, scale);
    memo.SetPaintTransform(ScaleMatrix(scale));
    memo.DrawSpans(*bitmap, scale);

    // Where each span may ink: its box, and past it only where its glyphs
    // reach (a descender below the descent, a hook past the advance).
    std::vector<QRect> inkBoxes;
    {
      TFont fitted;
      fitted.SetName("Liberation Sans");
      fitted.SetHeight(FontPixels(memo.GetFontHeight() * scale));
      for (int i = 0; i < memo.GetSpanCount(); ++i) {
        const TdtpTextSpan& s = *memo.GetSpan(i);
        if (s.CharCount == 0) continue;
        memo.FitFontToSpan(fitted, s.Text(), scale, s);
        QRect ink = TextInkBounds(fitted, QString::fromStdU16String(s.Text()));
        ink.translate(static_cast<int>(std::nearbyint(s.Left * scale)),
                      static_cast<int>(std::nearbyint(s.Top * scale)) +
                          QFontMetrics(fitted.ToQFont()).ascent());
        inkBoxes.push_back(ink);
      }
    }
    int partial = 0, outside = 0, coloured = 0;
    for (int y = 0; y < bitmap->Height(); ++y)
      for (int x = 0; x < bitmap->Width(); ++x) {
        const TColor32 p = bitmap->GetPixel(x, y);
        const int r = RedComponent(p), g = GreenComponent(p), b = BlueComponent(p);
        if (r != g || g != b) ++coloured;
        if (b > 0 && b < 255) ++partial;
        if (b == 0) continue;
        bool inside = false;
        for (int i = 0; i < memo.GetSpanCount(); ++i) {
          const TdtpTextSpan& s = *memo.GetSpan(i);
          if (x >= std::nearbyint(s.Left * scale) && x < std::nearbyint((s.Left + s.Width) * scale) &&
              y >= std::nearbyint(s.Top * scale) && y < std::nearbyint((s.Top + s.Height) * scale))
            inside = true;
        }
        for (const QRect& ink : inkBoxes) inside = inside || ink.contains(x, y);
        if (!inside) ++outside;
      }
    EXPECT_EQ(coloured, 0) << scale;
    EXPECT_GT(partial, 0) << scale;
    EXPECT_EQ(outside, 0) << scale;

    // Fitted to its box, no span's text measures larger than the box.
    TFont font;
    font.SetName("Liberation Sans");
    font.SetHeight(FontPixels(memo.GetFontHeight() * scale));
    for (int i = 0; i < memo.GetSpanCount(); ++i) {
      const TdtpTextSpan& s = *memo.GetSpan(i);
      if (s.CharCount == 0) continue;
      memo.FitFontToSpan(font, s.Text(), scale, s);
      const TSize e = TextExtent(font, QString::fromStdU16String(s.Text()));
      EXPECT_LE(e.cx, s.Width * scale + 1) << scale << " span " << i;
      EXPECT_LE(e.cy, s.Height * scale + 1) << scale << " span " << i;
      EXPECT_GE(font.Height(), -kMaxFontPixels);
      EXPECT_LE(font.Height(), -1);
    }
  }
}

TEST(TextDrawing, PaintTurnsBlueIntoTheAlphaOfTheFontColour) {
  test::EnsureApplication();
  const double scale = 11.8;
  DrawnText text;
  text.SetFontName("Liberation Sans");
  text.SetText(u"Ag");
  text.SetFontColor(0x3366CC);  // 0x00BBGGRR
  auto grey = FrameBitmap(text, scale);
  text.SetPaintTransform(ScaleMatrix(scale));
  text.DrawSpans(*grey, scale);
  auto painted = FrameBitmap(text, scale);
  painted->Clear(0xFF00FF00u);  // Paint32 clears it first
  TdtpPaintInfo info;
  info.Scale = static_cast<float>(scale);
  text.Paint32(*painted, info);
  for (int y = 0; y < grey->Height(); ++y)
    for (int x = 0; x < grey->Width(); ++x) {
      const TColor32 p = painted->GetPixel(x, y);
      ASSERT_EQ(p & 0xFFFFFFu, 0xCC6633u);
      ASSERT_EQ(AlphaComponent(p), BlueComponent(grey->GetPixel(x, y)));
    }
}

// The drawn coverage of a word at a 64 px em against the exact area of the
// same glyphs' outlines as the outline font reads them.
TEST(TextDrawing, InkOfAWordEqualsItsOutlineArea) {
  test::EnsureApplication();
  const std::u16string word = u"Hamburg";
  DrawnText text;
  text.SetFontName("Liberation Sans");
  text.SetFontHeight(static_cast<float>(64 / kMeasureDpm));
  text.SetText(word);
  const double scale = kMeasureDpm;
  auto bitmap = FrameBitmap(text, scale);
  text.SetPaintTransform(ScaleMatrix(scale));
  text.DrawSpans(*bitmap, scale);
  double ink = 0;
  for (int y = 0; y < bitmap->Height(); ++y)
    for (int x = 0; x < bitmap->Width(); ++x) ink += BlueComponent(bitmap->GetPixel(x, y)) / 255.0;

  TFont font;
  font.SetName("Liberation Sans");
  font.SetHeight(FontPixels(text.GetFontHeight() * scale));
  text.FitFontToSpan(font, word, scale, *text.GetSpan(0));
  const double em = -font.Height();
  EXPECT_NEAR(em, 64, 2);

  TdtpFontManager manager;
  TdtpFont* outlines = manager.AcquireFont("Liberation Sans", 0, nullptr);
  ASSERT_TRUE(outlines);
  double area = 0;  // em-1000 units squared
  for (const char16_t c : word) {
    const TdtpGlyph* g = outlines->GetGlyph(c);
    ASSERT_TRUE(g->Outline);
    double twice = 0;
    for (const auto& line : g->Outline->Contours())
      for (std::size_t i = 0; i < line.size(); ++i) {
        const auto& a = line[i];
        const auto& b = line[(i + 1) % line.size()];
        twice += (static_cast<double>(a.X) * b.Y - static_cast<double>(b.X) * a.Y) / 65536.0 / 65536.0;
      }
    area += std::abs(twice) / 2;
  }
  const double expected = area * (em / 1000) * (em / 1000);
  EXPECT_NEAR(ink, expected, expected * 0.03);
}

// Two independent renderers, Qt's text and our outlines, give the same ink.
TEST(TextDrawing, QtMemoAndGlyphMemoAgree) {
  test::EnsureApplication();
  testing::FakeDocument doc;
  const double scale = 600 / 25.4;
  DrawnMemo memo;
  TdtpPolygonMemo glyphs;
  glyphs.SetDocument(&doc);
  for (TdtpTextBaseShape* s : {static_cast<TdtpTextBaseShape*>(&memo),
                               static_cast<TdtpTextBaseShape*>(&glyphs)}) {
    s->SetFontName("Liberation Sans");
    s->SetFontHeight(5);
    s->SetText(u"Quick brown fox");
  }
  ASSERT_TRUE(glyphs.Font());
  TBitmap32 a, b;
  const auto w = static_cast<std::int32_t>(std::ceil(std::max(memo.DocWidth(), glyphs.DocWidth()) * scale)) + 4;
  const auto h = static_cast<std::int32_t>(std::ceil(std::max(memo.DocHeight(), glyphs.DocHeight()) * scale)) + 4;
  a.SetSize(w, h);
  b.SetSize(w, h);
  a.Clear(0);
  b.Clear(0);
  memo.SetPaintTransform(ScaleMatrix(scale));
  memo.DrawSpans(a, scale);
  glyphs.SetPaintTransform(ScaleMatrix(scale));
  TdtpPaintInfo info;
  info.Scale = static_cast<float>(scale);
  glyphs.Paint32(b, info);
  int both = 0, either = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool inA = BlueComponent(a.GetPixel(x, y)) > 127;
      const bool inB = AlphaComponent(b.GetPixel(x, y)) > 127;
      both += inA && inB;
      either += inA || inB;
    }
  ASSERT_GT(either, 1000);
  EXPECT_GT(static_cast<double>(both) / either, 0.85);
}

// ---- Hostile heights -----------------------------------------------------------------

TEST(TextDrawing, HeightsStayUsable) {
  EXPECT_EQ(FontPixels(0), 1);
  EXPECT_EQ(FontPixels(-5), 1);
  EXPECT_EQ(FontPixels(std::nan("")), 1);
  EXPECT_EQ(FontPixels(1e30), kMaxFontPixels);
  EXPECT_EQ(FontPixels(2.5), 2);  // halves to even
  EXPECT_EQ(FontPixels(3.5), 4);

  // A collapsed font still draws small, not at the platform's default size.
  test::EnsureApplication();
  DrawnText text;
  text.SetFontName("Liberation Sans");
  text.SetText(u"Tiny");
  const double scale = 0.3;
  TdtpTextSpan& span = *text.GetSpan(0);
  span.Width = 1;  // mm: a 0.3 px box
  span.Height = 1;
  TFont font;
  font.SetName("Liberation Sans");
  font.SetHeight(FontPixels(0));
  text.FitFontToSpan(font, u"Tiny", scale, span);
  EXPECT_EQ(font.Height(), -1);

  // A huge stored box stops at the limit instead of spinning.
  span.Width = 1e30f;
  span.Height = 1e30f;
  text.FitFontToSpan(font, u"Tiny", scale, span);
  EXPECT_EQ(font.Height(), -kMaxFontPixels);
}

}  // namespace
}  // namespace kdl
