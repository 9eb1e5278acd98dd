// Glyphs whose ink reaches past their advance or below the descent draw
// whole: the text, memo and glyph memo shapes painted through the real
// rendering path (render cache included) keep every ink column and row that
// FreeType, rendering the same string alone at the same size, gives.
#include <gtest/gtest.h>

#include <QImage>
#include <QString>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "FakeDocument.h"
#include "QtApplication.h"
#include "TextTesting.h"
#include FT_OUTLINE_H
#include "document/shapes/Rendering.h"
#include "document/text/MemoShape.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

constexpr double kZoom100 = 96 / 25.4;
constexpr double kZoom400 = 4 * 96 / 25.4;
constexpr double kPrint600 = 600 / 25.4;

struct InkCase {
  const char* Family;
  TFontStyles Style;
  const char16_t* Text;
};

// Strings that end in (or hold) glyphs whose ink overhangs: the right
// side of "s" and "f", the descenders of "y" and "j", italic "l" and "f"
// leaning past their advances.
const InkCase kCases[] = {
    {"DejaVu Sans", 0, u"1. Opening Lights"},
    {"DejaVu Sans", 0, u"Chief"},
    {"Liberation Serif", 0, u"Journey"},
    {"Liberation Serif", fsItalic, u"Hall"},
    {"Liberation Serif", fsItalic, u"Cliff"},
    {"DejaVu Sans", fsItalic, u"Wj"},
    {"Liberation Sans", fsBold, u"Wj"},
};

struct Extent {
  int Columns = 0;  // first to last ink column, inclusive
  int Rows = 0;
};

// The file fontconfig gives for a family and style, as the shapes' faces
// are found.
std::string StyledFontFile(const char* family, TFontStyles style) {
  FcInit();
  FcPattern* p = FcPatternCreate();
  FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  FcPatternAddInteger(p, FC_WEIGHT, (style & fsBold) ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(p, FC_SLANT, (style & fsItalic) ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcConfigSubstitute(nullptr, p, FcMatchPattern);
  FcDefaultSubstitute(p);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, p, &result);
  std::string file;
  FcChar8* path = nullptr;
  if (match && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch)
    file = reinterpret_cast<const char*>(path);
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(p);
  return file;
}

// FreeType alone: the string at an em of emPx pixels, unhinted, each glyph
// at its exact (sub-pixel) pen position; the extent of the pixels whose
// coverage reaches threshold.
Extent ReferenceInk(const InkCase& c, double emPx, int threshold) {
  FT_Library lib;
  EXPECT_EQ(FT_Init_FreeType(&lib), 0);
  FT_Face face;
  const std::string file = StyledFontFile(c.Family, c.Style);
  EXPECT_EQ(FT_New_Face(lib, file.c_str(), 0, &face), 0) << file;
  FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::lround(emPx * 64)), 72, 72);
  const std::u16string text = c.Text;
  const int w = static_cast<int>(emPx * (text.size() + 2) * 2), h = static_cast<int>(emPx * 4);
  std::vector<int> canvas(static_cast<std::size_t>(w) * h, 0);
  const int originX = static_cast<int>(emPx), baseline = static_cast<int>(emPx * 2);
  double pen = 0;  // pixels
  for (const char16_t ch : text) {
    EXPECT_EQ(FT_Load_Char(face, ch, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP), 0);
    FT_GlyphSlot g = face->glyph;
    const double whole = std::floor(pen);
    FT_Outline_Translate(&g->outline, static_cast<FT_Pos>(std::lround((pen - whole) * 64)), 0);
    EXPECT_EQ(FT_Render_Glyph(g, FT_RENDER_MODE_NORMAL), 0);
    const FT_Bitmap& b = g->bitmap;
    for (unsigned y = 0; y < b.rows; ++y)
      for (unsigned x = 0; x < b.width; ++x) {
        const int cx = originX + static_cast<int>(whole) + g->bitmap_left + static_cast<int>(x);
        const int cy = baseline - g->bitmap_top + static_cast<int>(y);
        if (cx < 0 || cy < 0 || cx >= w || cy >= h) continue;
        int& v = canvas[static_cast<std::size_t>(cy) * w + cx];
        v = std::min(255, v + b.buffer[y * b.pitch + x]);
      }
    pen += g->linearHoriAdvance / 65536.0;
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  int left = w, right = -1, top = h, bottom = -1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (canvas[static_cast<std::size_t>(y) * w + x] >= threshold) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  if (right < 0) return {};
  return {right - left + 1, bottom - top + 1};
}

Extent InkOf(const TBitmap32& b, int threshold) {
  int left = b.Width(), right = -1, top = b.Height(), bottom = -1;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (static_cast<int>(AlphaComponent(b.GetPixel(x, y))) >= threshold) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  if (right < 0) return {};
  return {right - left + 1, bottom - top + 1};
}

// The shape painted as a page paints it, at scale pixels per mm, into a
// transparent bitmap that shows the frame with a wide border around it.
// frame: the unturned frame, mm.
std::unique_ptr<TBitmap32> PaintedPage(TdtpShape& shape, double scale, const TFloatRect& frame) {
  const double border = 10;  // mm
  const int w = static_cast<int>(std::ceil((frame.Right - frame.Left + 2 * border) * scale));
  const int h = static_cast<int>(std::ceil((frame.Bottom - frame.Top + 2 * border) * scale));
  auto target = std::make_unique<TBitmap32>();
  target->SetSize(w, h);
  target->Clear(0);
  const float left = frame.Left - static_cast<float>(border);
  const float top = frame.Top - static_cast<float>(border);
  const TFloatRect view{left, top, static_cast<float>(left + w / scale),
                        static_cast<float>(top + h / scale)};
  TdtpPaintInfo info;
  info.Device = dtPrinter;
  info.BackColor = 0;
  info.Scale = static_cast<float>(scale);
  info.RenderScale = static_cast<float>(scale);
  info.StretchFilter = sfLinear;
  shape.Paint(*target, view, false, info);
  return target;
}

void SavePng(const TBitmap32& b, const std::string& name) {
  QImage view(reinterpret_cast<const uchar*>(b.Bits()), b.Width(), b.Height(),
              static_cast<qsizetype>(b.Width()) * 4, QImage::Format_ARGB32);
  QImage shown(view.size(), QImage::Format_RGB32);
  shown.fill(Qt::white);
  for (int y = 0; y < view.height(); ++y)
    for (int x = 0; x < view.width(); ++x)
      shown.setPixel(x, y, qRgb(255 - qAlpha(view.pixel(x, y)), 255 - qAlpha(view.pixel(x, y)),
                                255 - qAlpha(view.pixel(x, y))));
  shown.save(QString::fromStdString(::testing::TempDir() + name + ".png"));
}

class FittedText : public TdtpTextShape {
 public:
  using TdtpTextShape::FitFontToSpan;
};

class FittedMemo : public TdtpMemoShape {
 public:
  using TdtpMemoShape::FitFontToSpan;
};

// The em the Qt path draws a span with at scale: drawing fits one font to
// each span in turn, each fit starting from the one before.
template <class Shape>
double FittedEm(const Shape& shape, int index, double scale) {
  TFont font;
  font.SetName(shape.GetFontName());
  font.SetStyle(shape.GetFontStyle());
  font.SetHeight(FontPixels(shape.GetFontHeight() * scale));
  for (int i = 0; i <= index; ++i) {
    const TdtpTextSpan& span = *shape.GetSpan(i);
    if (!span.Text().empty()) shape.FitFontToSpan(font, span.Text(), scale, span);
  }
  return -font.Height();
}

// Reference ink of full coverage must be there, at least faintly, in ours.
void ExpectWhole(const TBitmap32& painted, const InkCase& c, double em, double scale,
                 const std::string& what) {
  const Extent ref = ReferenceInk(c, em, 128);
  const Extent ours = InkOf(painted, 8);
  ASSERT_GT(ref.Columns, 0) << what;
  const bool whole = ours.Columns >= ref.Columns && ours.Rows >= ref.Rows;
  EXPECT_TRUE(whole) << what << " at " << scale << " px/mm, em " << em << ": ours "
                     << ours.Columns << " x " << ours.Rows << ", FreeType " << ref.Columns
                     << " x " << ref.Rows;
  // The final "s" of the contents line at print resolution is kept to be
  // looked at; every failure writes its picture too.
  if (!whole || what == "memo-1._Opening_Lights-600") SavePng(painted, "ink-" + what);
}

std::string Name(const char* kind, const InkCase& c, double scale) {
  std::string s = std::string(kind) + "-" + QString::fromStdU16String(c.Text).toStdString() + "-" +
                  std::to_string(static_cast<int>(std::lround(scale * 25.4)));
  std::replace(s.begin(), s.end(), ' ', '_');
  return s;
}

TEST(TextInk, TextShapeDrawsEveryGlyphWhole) {
  test::EnsureApplication();
  for (const InkCase& c : kCases)
    for (const double scale : {kZoom100, kZoom400, kPrint600}) {
      FittedText text;
      text.SetFontName(c.Family);
      text.SetFontStyle(c.Style);
      text.SetFontHeight(8);
      text.SetText(c.Text);
      text.SetDocLeft(20);
      text.SetDocTop(30);
      auto painted = PaintedPage(text, scale, text.GetDocBounds());
      ExpectWhole(*painted, c, FittedEm(text, 0, scale), scale,
                  Name("text", c, scale));
    }
}

TEST(TextInk, MemoShapeDrawsItsLastLineWhole) {
  test::EnsureApplication();
  for (const InkCase& c : kCases)
    for (const double scale : {kZoom100, kZoom400, kPrint600}) {
      // The ink of the first line lies inside the frame; the last line
      // alone is measured by blanking the first.
      FittedMemo memo;
      memo.SetFontName(c.Family);
      memo.SetFontStyle(c.Style);
      memo.SetFontHeight(6);
      memo.SetText(std::u16string(u"\u00A0\r\n") + c.Text);
      ASSERT_EQ(memo.GetSpanCount(), 2);
      memo.SetDocLeft(15);
      memo.SetDocTop(25);
      auto painted = PaintedPage(memo, scale, memo.GetDocBounds());
      ExpectWhole(*painted, c, FittedEm(memo, 1, scale), scale,
                  Name("memo", c, scale));
    }
}

TEST(TextInk, GlyphMemoDrawsItsLastLineWhole) {
  test::EnsureApplication();
  testing::FakeDocument doc;
  for (const InkCase& c : kCases)
    for (const double scale : {kZoom100, kZoom400, kPrint600})
      for (const float angle : {0.0f, 180.0f}) {
        // Turned half round, the memo paints through its render cache.
        TdtpPolygonMemo memo;
        memo.SetDocument(&doc);
        memo.SetFontName(c.Family);
        memo.SetFontStyle(c.Style);
        memo.SetFontHeight(6);
        memo.SetText(std::u16string(u"\u00A0\r\n") + c.Text);
        ASSERT_TRUE(memo.Font());
        memo.SetDocLeft(15);
        memo.SetDocTop(25);
        const TFloatRect frame = memo.GetDocBounds();
        memo.RotateAboutCenter(angle);
        auto painted = PaintedPage(memo, scale, frame);
        ExpectWhole(*painted, c, memo.GetFontHeight() * scale, scale,
                    Name(angle == 0 ? "glyphs" : "turned-glyphs", c, scale));
      }
}

}  // namespace
}  // namespace kdl
