// Lays a line of text out with an outline font's metrics and turns it into
// contours for a non-zero fill. Created by the caller for one sequence of
// calls on one font; a renderer without a font measures (0, 0) and draws
// nothing.
#pragma once

#include <span>
#include <string_view>

#include "document/text/Font.h"
#include "raster/PolygonRasterizer.h"

namespace kdl {

struct TdtpTextExtent {
  double Width = 0;
  double Height = 0;
};

class TdtpFontRenderer {
 public:
  explicit TdtpFontRenderer(TdtpFont* font = nullptr) : font_(font) {}

  TdtpFont* Font() const { return font_; }
  void SetFont(TdtpFont* value) { font_ = value; }
  bool UseKerning() const { return useKerning_; }
  void SetUseKerning(bool value) { useKerning_ = value; }
  // Extra advance after each character, as a fraction of the font size.
  double CharacterSpacing() const { return characterSpacing_; }
  void SetCharacterSpacing(double value) { characterSpacing_ = value; }
  // The font size (an em) in the caller's unit.
  double Size() const { return size_; }
  void SetSize(double value) { size_ = value; }
  // Text starts at the first glyph's ink and ends at the last glyph's ink.
  bool InkBounds() const { return inkBounds_; }
  void SetInkBounds(bool value) { inkBounds_ = value; }
  double WordSpacing() const { return wordSpacing_; }
  void SetWordSpacing(double value) { wordSpacing_ = value; }

  double Ascent() const;
  double LineHeight() const;

  // Writes text.size() + 1 pen positions (caller units) into positions,
  // which must hold that many.
  void GetCharPositions(std::u16string_view text, std::span<double> positions);
  TdtpTextExtent GetTextExtent(std::u16string_view text);
  // Appends the text's contours (16.16 pixels) with the first character's
  // baseline origin at pixel (x, y), at scale pixels per caller unit.
  void TextToPolygon(std::u16string_view text, TPolygon32& polygon, double scale, double x,
                     double y);

 private:
  TdtpFont* font_ = nullptr;
  bool useKerning_ = false;
  double characterSpacing_ = 0;
  double size_ = 0;
  bool inkBounds_ = false;
  double wordSpacing_ = 0;
};

}  // namespace kdl
