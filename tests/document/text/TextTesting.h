// Helpers of the text shape tests: a text kind with simple exact metrics,
// the plain backward-scan word wrap to compare the layout with, and a
// FreeType look at a face's unscaled advances.
#pragma once

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <string>
#include <utility>
#include <vector>

#include "document/text/TextBaseShape.h"
#include "foundation/WidestringList.h"

namespace kdl::test {

// Widths in mm by character: exact sums, no rounding, so that every
// comparison with the frame is decided by arithmetic a reader can follow.
inline double GridCharWidth(char16_t c) {
  switch (c) {
    case u'W': return 3;
    case u' ': return 1;
    case u'-': return 0.5;
    case u'\t': return 4;
    case u'i': return 0.5;
    case u'm': return 2;
    default: return c < u' ' ? 0.25 : 1;
  }
}

class GridText : public TdtpTextBaseShape {
 public:
  explicit GridText(bool multiLine, bool scaleFontOnResize = true)
      : TdtpTextBaseShape(multiLine, scaleFontOnResize) {}
  std::string ClassName() const override { return "TdtpTestGridText"; }

  int Measures = 0;
  int Prepares = 0;
  // Height of a line as a multiple of the font height.
  float CellFactor = 1.25f;

  void PrepareMeasure() override { ++Prepares; }
  TdtpTextSize MeasureText(std::int32_t pos, std::int32_t count) override {
    ++Measures;
    return {static_cast<float>(Width(Text(), pos, count) * GetFontHeight() / 4),
            GetFontHeight() * CellFactor};
  }
  static double Width(const std::u16string& text, std::int32_t pos, std::int32_t count) {
    if (count == 0) return GridCharWidth(u'W');
    double w = 0;
    for (std::int32_t i = pos - 1; i < pos - 1 + count; ++i) w += GridCharWidth(text[i]);
    return w;
  }
  using TdtpTextBaseShape::DoLayout;
};

using SpanList = std::vector<std::pair<int, int>>;  // CharPos, CharCount

inline SpanList SpansOf(const TdtpTextBaseShape& s) {
  SpanList out;
  for (int i = 0; i < s.GetSpanCount(); ++i)
    out.emplace_back(s.GetSpan(i)->CharPos, s.GetSpan(i)->CharCount);
  return out;
}

inline bool Blank(char16_t c) { return c <= u' '; }

// Word wrap as a plain backward scan: measure the candidate, and while it
// is not narrower than the frame cut it before its last space or hyphen (or
// by one character), trimming trailing blanks; then skip the blanks after
// the span. measure(pos, count) gives a width.
template <class Measure>
SpanList PlainWrap(const std::u16string& text, double frameWidth, Measure measure) {
  SpanList spans;
  int pos = 1;
  for (;;) {
    int p = pos;
    const int count = WideNextLine(text, pos);
    if (count < 0) break;
    std::u16string r = text.substr(static_cast<std::size_t>(p - 1), static_cast<std::size_t>(count));
    do {
      std::u16string c = r;
      int l = static_cast<int>(c.size());
      while (l > 1) {
        if (measure(p, l) < frameWidth) break;
        int j = l - 1;
        while (j >= 0 && r[j] != u' ' && r[j] != u'-') --j;
        int b = j <= 0 ? l - 1 : j;
        c = r.substr(0, static_cast<std::size_t>(std::max(b, 1)));
        while (!c.empty() && Blank(c.back())) c.pop_back();
        l = static_cast<int>(c.size());
      }
      spans.emplace_back(p, l);
      std::size_t s = static_cast<std::size_t>(l);
      while (s < r.size() && Blank(r[s])) ++s;
      if (s == 0 && !r.empty()) s = 1;
      r.erase(0, s);
      p += static_cast<int>(s);
    } while (!r.empty());
  }
  return spans;
}

// The file fontconfig picks for a family.
inline std::string FontFile(const char* family) {
  FcInit();
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family));
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  std::string file;
  FcChar8* path = nullptr;
  if (match && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch)
    file = reinterpret_cast<const char*>(path);
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(pattern);
  return file;
}

// A character's unscaled advance and the face's units per em; (0, 0) when
// the face cannot be read.
inline std::pair<int, int> UnscaledAdvance(const char* family, char32_t c) {
  FT_Library lib;
  if (FT_Init_FreeType(&lib)) return {0, 0};
  std::pair<int, int> out{0, 0};
  FT_Face face;
  if (!FT_New_Face(lib, FontFile(family).c_str(), 0, &face)) {
    if (!FT_Load_Glyph(face, FT_Get_Char_Index(face, c), FT_LOAD_NO_SCALE))
      out = {static_cast<int>(face->glyph->advance.x), face->units_per_EM};
    FT_Done_Face(face);
  }
  FT_Done_FreeType(lib);
  return out;
}

}  // namespace kdl::test
