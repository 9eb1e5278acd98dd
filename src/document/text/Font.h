// An outline font at an em of 1000: the installed face it reads glyphs from
// (opened on demand) and the cache of the glyphs it has converted, which the
// font manager can save and reload without the face.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "document/text/Glyph.h"
#include "platform/Exception.h"
#include "platform/qt/Font.h"
#include "platform/qt/GlyphOutlines.h"
#include "raster/PolygonRasterizer.h"

namespace kdl {

// "Unable to create font with name ...", and the two "Fonts.dat" errors.
KDL_DECLARE_EXCEPTION(EFontError, Exception);

class TdtpFontManager;

class TdtpFont {
 public:
  TdtpFont(TdtpFontManager* manager, std::string name, TFontStyles style);
  ~TdtpFont();
  TdtpFont(const TdtpFont&) = delete;
  TdtpFont& operator=(const TdtpFont&) = delete;

  TdtpGlyphList& Glyphs() { return glyphs_; }
  const TdtpGlyphList& Glyphs() const { return glyphs_; }
  TdtpFontManager* Manager() const { return manager_; }
  const std::string& Name() const { return name_; }
  TFontStyles Style() const { return style_; }
  // The installed face; null until NeedHandle succeeds.
  const TOutlineFace* Handle() const { return handle_.get(); }
  std::int32_t Ascent() const { return ascent_; }
  std::int32_t Descent() const { return descent_; }
  std::int32_t RefCount() const { return refCount_; }

  // Opens the face once and takes its ascent and descent. False when it
  // cannot be found or loaded; HandleError then holds the message
  // ("Unable to create font with name ...") and later calls give up at once.
  bool NeedHandle();
  const std::string& HandleError() const { return handleError_; }

  // The cached glyph, loaded and cached on a miss. Never null: a character
  // the face cannot give (or a font whose face is missing) yields a glyph
  // without metrics or outline; such a stand-in is not cached, so it is
  // neither saved nor kept once the face is installed.
  TdtpGlyph* GetGlyph(char16_t charCode);
  // Metrics and outline of glyph.CharCode from the face (NeedHandle first).
  void LoadGlyph(TdtpGlyph& glyph);
  double LineHeight(double size) const {
    return (static_cast<double>(ascent_) + descent_) * size / 1000.0;
  }

 private:
  friend class TdtpFontManager;

  TdtpGlyphList glyphs_;
  TdtpFontManager* manager_ = nullptr;
  std::string name_;
  TFontStyles style_ = 0;
  std::unique_ptr<TOutlineFace> handle_;
  std::int32_t ascent_ = 0;
  std::int32_t descent_ = 0;
  std::int32_t refCount_ = 0;
  std::string handleError_;
  TdtpGlyph missing_;
};

// The native records of one glyph (y up) as straight-edged contours, y down,
// appended to outline: one contour per native polygon, quadratic splines
// split at their implied on-curve points and flattened to 20 font units.
void OutlineToPolygon(const TNativeGlyph& native, TPolygon32& outline);

// Recursive subdivision of the quadratic B, A (control), C into points added
// to the last contour of outline; B itself is not added.
void FlattenQuadratic(TPolygon32& outline, TFixedPoint b, TFixedPoint a, TFixedPoint c);

}  // namespace kdl
