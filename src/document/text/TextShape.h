// The single-line text shape: measured and drawn with the platform's fonts
// (Qt text on the bitmap's memory), always through its render cache.
#pragma once

#include <memory>
#include <string>

#include "document/text/TextBaseShape.h"
#include "platform/qt/Font.h"

class QFontMetrics;

namespace kdl {

// Font heights in pixels stay in this range and come from finite values:
// 0 would be the platform's default size and a positive value a cell
// height, so a collapsed height would draw large.
inline constexpr std::int32_t kMaxFontPixels = 32767;
std::int32_t FontPixels(double value);

class TdtpTextShape : public TdtpTextBaseShape {
 public:
  TdtpTextShape();
  ~TdtpTextShape() override;

  std::string ClassName() const override { return "TdtpTextShape"; }

  void Paint32(TBitmap32& bitmap, const TdtpPaintInfo& info) override;
  bool ReportsInk() const override { return true; }
  void PrepareMeasure() override;
  TdtpTextSize MeasureText(std::int32_t charPos, std::int32_t charCount) override;
  void PrepareRender(double scale) override;
  void LayoutSpanChars(TdtpTextSpan& span, double scale) override;

 protected:
  TdtpTextShape(bool multiLine, bool scaleFontOnResize);

  // White text on black into bitmap at scale pixels per mm, each span in
  // its own rectangle with the font fitted to it: blue holds the coverage.
  // The rectangle of the bitmap the spans may have drawn on.
  TRect DrawSpans(TBitmap32& bitmap, double scale);
  // Changes font in one-pixel steps until text fits span at scale; the
  // horizontal offset (mm) that the alignment asks for.
  double FitFontToSpan(TFont& font, const std::u16string& text, double scale,
                       const TdtpTextSpan& span) const;
  // The rendering font PrepareRender set.
  const TFont& RenderFont() const { return renderFont_; }
  // The ink at the measuring resolution, grown by what drawing at another
  // size may add (see kInkSlack).
  TFloatRect MeasureInk(const TdtpTextSpan& span) override;

 private:
  std::unique_ptr<QFontMetrics> measure_;
  TFont renderFont_;
};

}  // namespace kdl
