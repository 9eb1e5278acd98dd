// Fonts for text on bitmaps: one factory turns (family, pixel height, style)
// into a Qt font, so that measuring and drawing always use the same face at
// the same size. Heights are pixels, never points, so no screen resolution
// creeps in between a measurement and the drawing that relies on it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/FontStyles.h"

// Qt types stay out of the header, so that code drawing on bitmaps does not
// take in Qt's keyword macros.
class QFont;
class QImage;
class QRect;
class QString;

namespace kdl {

struct TSize {
  std::int32_t cx = 0;
  std::int32_t cy = 0;
  friend bool operator==(const TSize&, const TSize&) = default;
};

// Text layout flags, with the classic values that stored settings use.
inline constexpr unsigned DT_TOP = 0x0;
inline constexpr unsigned DT_LEFT = 0x0;
inline constexpr unsigned DT_CENTER = 0x1;
inline constexpr unsigned DT_RIGHT = 0x2;
inline constexpr unsigned DT_VCENTER = 0x4;
inline constexpr unsigned DT_BOTTOM = 0x8;
inline constexpr unsigned DT_WORDBREAK = 0x10;
inline constexpr unsigned DT_SINGLELINE = 0x20;
inline constexpr unsigned DT_EXPANDTABS = 0x40;
inline constexpr unsigned DT_NOCLIP = 0x100;
inline constexpr unsigned DT_NOPREFIX = 0x800;

// The one factory. A negative height is the character (em) height in
// pixels, a positive one the cell height (ascent + descent); 0 takes the
// default height.
QFont CreateFont(const std::string& family, std::int32_t height, TFontStyles style);

// A font description with a change event; the Qt font is built from it by
// the factory on demand.
class TFont {
 public:
  static constexpr const char* kDefaultName = "Arial";
  static constexpr std::int32_t kDefaultHeight = -11;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& value);
  std::int32_t Height() const { return height_; }
  void SetHeight(std::int32_t value);
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles value);
  // 0x00BBGGRR.
  std::int32_t Color() const { return color_; }
  void SetColor(std::int32_t value);
  // Copies every field and fires OnChange once.
  void Assign(const TFont& source);

  QFont ToQFont() const;

  std::function<void(TFont&)> OnChange;

 private:
  void Changed();

  std::string name_ = kDefaultName;
  std::int32_t height_ = kDefaultHeight;
  TFontStyles style_ = 0;
  std::int32_t color_ = 0;
};

// Width of the text's advance and the font's cell height; (0, 0) for an
// empty text.
TSize TextExtent(const TFont& font, const QString& text);

// Draws text into the rectangle of an image in the font's colour with the
// DT_ flags; the image's pixels change in place.
void DrawText(QImage& target, const QRect& rect, unsigned flags, const QString& text,
              const TFont& font);
// The same, clipped to clip rather than to rect: ink may overhang the
// rectangle that places the text.
void DrawText(QImage& target, const QRect& rect, unsigned flags, const QString& text,
              const TFont& font, const QRect& clip);

// The box the text's glyphs ink when drawn with its baseline origin at
// (0, 0), y down, in whole pixels that hold every touched pixel; empty for
// an empty text.
QRect TextInkBounds(const TFont& font, const QString& text);

// Windows-1252 bytes to a Qt string (the program's 8-bit code page).
QString Windows1252ToQString(const std::string& text);

}  // namespace kdl
