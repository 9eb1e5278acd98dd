// Layout and drawing of a line of text: measuring agrees with the ink
// drawn, and underline and strike-out bars join the glyphs under the
// non-zero rule instead of cutting holes into them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "document/text/FontManager.h"
#include "document/text/FontRenderer.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

struct Box {
  double left = std::numeric_limits<double>::max(), right = std::numeric_limits<double>::lowest();
};

Box InkX(const TPolygon32& p) {
  Box b;
  for (const auto& line : p.Contours())
    for (const auto& pt : line) {
      b.left = std::min(b.left, pt.X / 65536.0);
      b.right = std::max(b.right, pt.X / 65536.0);
    }
  return b;
}

TEST(FontRenderer, MeasuringAgreesWithWhatIsDrawn) {
  TdtpFontManager m;
  TdtpFont* font = m.AcquireFont("Liberation Sans", 0, nullptr);
  ASSERT_TRUE(font);
  ASSERT_LT(font->GetGlyph(u'j')->OriginX, 0);
  for (const double spacing : {0.0, 0.15}) {
    for (const std::u16string text : {u"jumpy", u"join W", u"j", u"AVA."}) {
      TdtpFontRenderer r(font);
      r.SetSize(4.5);  // mm
      r.SetInkBounds(true);
      r.SetCharacterSpacing(spacing);
      const double scale = 20;  // px per mm
      TPolygon32 p;
      r.TextToPolygon(text, p, scale, 7.25, 50);
      const TdtpTextExtent e = r.GetTextExtent(text);
      EXPECT_DOUBLE_EQ(e.Height, (905 + 212) * 4.5 / 1000);
      // An overhanging first glyph is moved right so its ink starts at x;
      // the text ends at x + width, to the ink box's whole units.
      const double unitPx = scale * 4.5 / 1000;
      const Box ink = InkX(p);
      const std::int32_t bearing = font->GetGlyph(text[0])->OriginX;
      EXPECT_NEAR(ink.left, 7.25 + std::max(0, bearing) * unitPx, unitPx + 1e-4) << spacing;
      EXPECT_NEAR(ink.right, 7.25 + e.Width * scale, unitPx + 1e-4) << spacing;

      std::vector<double> pos(text.size() + 1);
      r.GetCharPositions(text, pos);
      // The first pen is shifted by the overhang; each step is the advance
      // plus the spacing, which also follows the last character.
      EXPECT_DOUBLE_EQ(pos[0], std::max(0, -bearing) * 4.5 / 1000);
      for (std::size_t i = 0; i < text.size(); ++i)
        EXPECT_NEAR(pos[i + 1] - pos[i], (font->GetGlyph(text[i])->AdvanceX + spacing * 1000) * 4.5 / 1000, 1e-12);
      // Each character's outline is drawn at its position.
      TdtpFontRenderer last(font);
      last.SetSize(4.5);
      TPolygon32 q;
      last.TextToPolygon(text.substr(text.size() - 1), q, scale, 0, 50);
      const Box alone = InkX(q);
      if (alone.left <= alone.right) {
        EXPECT_NEAR(ink.right, 7.25 + pos[text.size() - 1] * scale + alone.right, 1e-4);
      }
    }
  }
  std::vector<double> tooShort(2);
  TdtpFontRenderer r(font);
  EXPECT_THROW(r.GetCharPositions(u"ab", tooShort), Exception);

  // Without ink bounds the cells count: W, A and space advance 944, 667
  // and 278; two gaps of 10.
  r.SetSize(1000);
  r.SetCharacterSpacing(0.01);
  EXPECT_DOUBLE_EQ(r.GetTextExtent(u"WA ").Width, 944 + 667 + 278 + 20);
  std::vector<double> pos(4);
  r.GetCharPositions(u"WA ", pos);
  EXPECT_EQ(pos, (std::vector<double>{0, 954, 1631, 1919}));
  EXPECT_DOUBLE_EQ(r.Ascent(), 905);
  EXPECT_DOUBLE_EQ(r.LineHeight(), 1117);
  EXPECT_DOUBLE_EQ(r.GetTextExtent(u"").Width, 0);
}

// Fills the text at 400 px per em and returns the coverage bitmap.
void Render(TdtpFont* font, const std::u16string& text, TPolygonFillRule rule, TBitmap32& bmp,
            double& penX, double& baseY) {
  bmp.SetSize(900, 600);
  bmp.Clear(0xFF000000u);
  TPolygon32 p;
  p.SetUseAntialiasing(true);
  p.SetFillRule(rule);
  TdtpFontRenderer r(font);
  r.SetSize(1);
  penX = 150, baseY = 400;
  r.TextToPolygon(text, p, 400, penX, baseY);
  p.Fill(bmp, 0xFFFFFFFFu);
}

// Counts pixels inside the bar rectangle [x0, x1) x [y0, y1) (pixels) that
// are not fully covered.
int Holes(const TBitmap32& bmp, double x0, double x1, double y0, double y1) {
  int holes = 0;
  for (int y = static_cast<int>(std::ceil(y0)) + 1; y + 1 < y1; ++y)
    for (int x = static_cast<int>(std::ceil(x0)) + 1; x + 1 < x1; ++x)
      if ((bmp.GetPixel(x, y) & 0xFF) < 250) ++holes;
  return holes;
}

TEST(FontRenderer, BarsJoinTheGlyphsUnderTheNonZeroRule) {
  TdtpFontManager m;
  TdtpFont* underlined = m.AcquireFont("Liberation Sans", fsUnderline, nullptr);
  TdtpFont* struck = m.AcquireFont("Liberation Serif", fsStrikeOut, nullptr);
  ASSERT_TRUE(underlined && struck);
  const double k = 400.0 / 1000;
  struct Case {
    TdtpFont* font;
    std::u16string text;
  };
  // A leading space has no outline to take the winding from; the bars must
  // still agree with the glyphs ("j" reaches back under the space's bar),
  // and a text without ink still gets its bar.
  for (const Case& c : {Case{underlined, u"g"}, Case{underlined, u" j g"}, Case{underlined, u" "},
                        Case{struck, u"eOx"}, Case{struck, u" H"}}) {
    TBitmap32 bmp;
    double penX, baseY;
    Render(c.font, c.text, frNonZero, bmp, penX, baseY);
    double width = 0;
    for (char16_t ch : c.text) width += c.font->GetGlyph(ch)->AdvanceX;
    double ya, yb;
    if (c.font == underlined) {
      ya = c.font->Descent() - 30, yb = c.font->Descent() - 105;
    } else {
      ya = -(c.font->Ascent() / 2) + 255, yb = -(c.font->Ascent() / 2) + 200;
    }
    EXPECT_EQ(Holes(bmp, penX, penX + width * k, baseY + yb * k, baseY + ya * k), 0)
        << std::string(c.text.begin(), c.text.end());
    // Under the even-odd rule the bar and the ink cancel where they overlap,
    // so the bars really cross the glyphs here.
    if (c.text != u" H" && c.text != u" ") {
      Render(c.font, c.text, frAlternate, bmp, penX, baseY);
      EXPECT_GT(Holes(bmp, penX, penX + width * k, baseY + yb * k, baseY + ya * k), 0);
    }
  }
}

}  // namespace
}  // namespace kdl
