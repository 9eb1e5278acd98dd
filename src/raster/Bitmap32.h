// TBitmap32: the surface all rendering happens on. A top-down array of
// TColor32 (row 0 first, stride exactly Width x 4, bytes B, G, R, A) that is
// also the memory of an image the platform paints on (DC), so that text,
// canvas drawing and our own kernels work on the same bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <string>

#include "platform/qt/Canvas.h"
#include "platform/qt/Font.h"
#include "raster/Blend.h"
#include "raster/PixelMemory.h"
#include "raster/ThreadPersistent.h"
#include "raster/Types.h"

class QImage;
class QPainter;

namespace kdl {

enum TDrawMode : std::uint8_t { dmOpaque = 0, dmBlend = 1, dmCustom = 2 };
enum TStretchFilter : std::uint8_t {
  sfNearest = 0,
  sfDraft = 1,
  sfLinear = 2,
  sfCosine = 3,
  sfSpline = 4,
  sfLanczos = 5,
  sfMitchell = 6
};

// F: the source colour; B: the destination pixel, to be replaced by the
// result; M: the source's master alpha.
using TPixelCombineEvent = std::function<void(TColor32 f, TColor32& b, TColor32 m)>;

// The largest bitmap we allocate (1 GiB of pixels).
inline constexpr std::int64_t kMaxBitmapPixels = std::int64_t{1} << 28;

// Raised by the "Data" reader for a stream shorter than its header promises.
KDL_DECLARE_EXCEPTION(EBitmapReadError, Exception);

// Weights for sub-pixel plotting; SetGamma(0.7) is in force from start-up.
extern std::uint8_t GAMMA_TABLE[256];
void SetGamma(float gamma);

class TBitmap32 : public TCustomMap {
 public:
  TBitmap32();
  ~TBitmap32() override;

  // ---- Memory and device --------------------------------------------------
  TColor32* Bits() { return bits_.get(); }
  const TColor32* Bits() const { return bits_.get(); }
  // The image over Bits that the platform paints on; null when empty.
  QImage* DC() const { return dc_.get(); }
  bool Empty() const override;
  TRect BoundsRect() const { return {0, 0, Width(), Height()}; }
  TRect ClipRect() const { return clipRect_; }
  // ClipRect with each edge shl 16 and shl 8.
  TRect FixedClipRect() const { return fixedClipRect_; }
  TRect ClipRect24_8() const { return clipRect24_8_; }
  bool Clipping() const { return clipping_; }
  void ResetClipRect();

  TCanvas& Canvas();
  bool CanvasAllocated() const { return canvas_ != nullptr; }
  void DeleteCanvas();
  TFont& Font() { return *font_; }

  // ---- Properties ---------------------------------------------------------
  TDrawMode DrawMode() const { return drawMode_; }
  void SetDrawMode(TDrawMode value);
  TCombineMode CombineMode() const { return combineMode_; }
  void SetCombineMode(TCombineMode value);
  std::uint32_t MasterAlpha() const { return masterAlpha_; }
  void SetMasterAlpha(std::uint32_t value);
  TColor32 OuterColor() const { return outerColor_; }
  void SetOuterColor(TColor32 value) { outerColor_ = value; }
  TColor32 PenColor() const { return penColor_; }
  void SetPenColor(TColor32 value) { penColor_ = value; }
  float StippleCounter() const { return stippleCounter_; }
  void SetStippleCounter(float value) { stippleCounter_ = value; }
  const TArrayOfColor32& StipplePattern() const { return stipplePattern_; }
  void SetStipplePattern(const TArrayOfColor32& value) { stipplePattern_ = value; }
  float StippleStep() const { return stippleStep_; }
  void SetStippleStep(float value) { stippleStep_ = value; }
  TStretchFilter StretchFilter() const { return stretchFilter_; }
  void SetStretchFilter(TStretchFilter value);
  std::int32_t RasterX() const { return rasterX_; }
  std::int32_t RasterY() const { return rasterY_; }
  TFixed RasterXF() const { return rasterXF_; }
  TFixed RasterYF() const { return rasterYF_; }
  void SetRaster(std::int32_t x, std::int32_t y) { rasterX_ = x; rasterY_ = y; }
  void SetRasterF(TFixed x, TFixed y) { rasterXF_ = x; rasterYF_ = y; }

  TNotifyEvent OnHandleChanged;
  TPixelCombineEvent OnPixelCombine;

  // ---- Whole-bitmap operations --------------------------------------------
  void Clear() { Clear(0xFF000000u); }
  void Clear(TColor32 color);
  void ResetAlpha() { ResetAlpha(0xFF); }
  void ResetAlpha(std::uint8_t alpha);
  void ResetAlphaOpaque() { ResetAlpha(0xFF); }

  // Whole bitmap (or srcRect) into dstRect of dst, clipped by dst's
  // ClipRect, with this bitmap's draw mode, filter, combine mode, master
  // alpha and OnPixelCombine.
  void DrawTo(TBitmap32& dst, const TRect& dstRect);
  void DrawToRect(TBitmap32& dst, const TRect& dstRect, const TRect& srcRect);
  // Copies the pixels 1:1 to (x, y) of a painter's device.
  void DrawToDC(QPainter& dc, std::int32_t x, std::int32_t y) const;

  // null empties; a bitmap copies size, pixels, DrawMode, MasterAlpha,
  // OuterColor and StretchFilter (not CombineMode).
  void Assign(const TBitmap32* source);
  // True when both are empty, or both have the same class, size and pixels.
  bool Equal(const TBitmap32& other) const;

  // BMP files (Windows bitmap); 32-bit files keep their alpha.
  void LoadFromStream(std::istream& stream);
  void SaveToStream(std::ostream& stream) const;

  // The binary "Data" property: width, height (int32 little-endian), then
  // the pixels row 0 first as B, G, R, A.
  virtual void ReadData(std::istream& stream);
  virtual void WriteData(std::ostream& stream) const;
  // Whether "Data" is written: against an ancestor when it is not an equal
  // bitmap, without one when this bitmap is not empty.
  bool DataIsStored(const TBitmap32* ancestor) const;

  // ---- Pixels -------------------------------------------------------------
  TColor32* PixelPtr(std::int32_t x, std::int32_t y) {
    return bits_.get() + static_cast<std::int64_t>(y) * Width() + x;
  }
  const TColor32* PixelPtr(std::int32_t x, std::int32_t y) const {
    return bits_.get() + static_cast<std::int64_t>(y) * Width() + x;
  }
  TColor32* ScanLine(std::int32_t y) { return PixelPtr(0, y); }
  const TColor32* ScanLine(std::int32_t y) const { return PixelPtr(0, y); }
  TColor32 GetPixel(std::int32_t x, std::int32_t y) const { return *PixelPtr(x, y); }
  void SetPixel(std::int32_t x, std::int32_t y, TColor32 value) { *PixelPtr(x, y) = value; }
  TColor32 GetPixelS(std::int32_t x, std::int32_t y) const;
  void SetPixelS(std::int32_t x, std::int32_t y, TColor32 value);
  void SetPixelT(std::int32_t x, std::int32_t y, TColor32 value);
  void SetPixelTS(std::int32_t x, std::int32_t y, TColor32 value);
  // x, y in 24.8.
  void SetPixelT256(std::int32_t x, std::int32_t y, TColor32 value);
  void SetPixelTS256(std::int32_t x, std::int32_t y, TColor32 value);
  // x, y in 16.16.
  void SetPixelFS(TFixed x, TFixed y, TColor32 value);
  TColor32 GetPixelT256(std::int32_t x, std::int32_t y) const;
  TColor32 GetPixelTS256(std::int32_t x, std::int32_t y) const;

  // ---- Text ---------------------------------------------------------------
  // Draws 8-bit (Windows-1252) or wide text into dstRect with the DT_ flags
  // in the bitmap's font; the alpha of the touched pixels is left as the
  // painter writes it.
  void Textout(const TRect& dstRect, unsigned flags, const std::string& text);
  void TextoutW(const TRect& dstRect, unsigned flags, const std::u16string& text);
  TSize TextExtentW(const std::u16string& text) const;

  // ---- Runs, rectangles, lines and stipple (Bitmap32Lines.cpp) -----------
  // Suffixes: S clipped by ClipRect, T blended through the kernels of the
  // combine mode, P coloured by the stipple. Runs take inclusive ends and
  // fire no change event; rectangles are half-open; rectangles and lines
  // call Changed when done.
  void HorzLine(std::int32_t x1, std::int32_t y, std::int32_t x2, TColor32 value);
  void HorzLineS(std::int32_t x1, std::int32_t y, std::int32_t x2, TColor32 value);
  void HorzLineT(std::int32_t x1, std::int32_t y, std::int32_t x2, TColor32 value);
  void HorzLineTS(std::int32_t x1, std::int32_t y, std::int32_t x2, TColor32 value);
  void HorzLineTSP(std::int32_t x1, std::int32_t y, std::int32_t x2);
  void VertLine(std::int32_t x, std::int32_t y1, std::int32_t y2, TColor32 value);
  void VertLineS(std::int32_t x, std::int32_t y1, std::int32_t y2, TColor32 value);
  void VertLineT(std::int32_t x, std::int32_t y1, std::int32_t y2, TColor32 value);
  void VertLineTS(std::int32_t x, std::int32_t y1, std::int32_t y2, TColor32 value);
  void VertLineTSP(std::int32_t x, std::int32_t y1, std::int32_t y2);

  void FillRect(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, TColor32 value);
  void FillRectS(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, TColor32 value);
  void FillRectT(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, TColor32 value);
  void FillRectTS(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, TColor32 value);
  void FrameRectS(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, TColor32 value);
  void FrameRectTS(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, TColor32 value);
  void FrameRectTSP(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);

  // Bresenham from (x1, y1) to (x2, y2); the end point only when l.
  void LineS(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, TColor32 value,
             bool l = false);
  void LineTS(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, TColor32 value,
              bool l = false);
  // Anti-aliased, on 16.16 coordinates; l adds one pixel of length. LineX
  // and LineXP do not clip: every plotted position must stay one pixel
  // inside the right and bottom edges.
  void LineX(TFixed x1, TFixed y1, TFixed x2, TFixed y2, TColor32 value, bool l = false);
  void LineXS(TFixed x1, TFixed y1, TFixed x2, TFixed y2, TColor32 value, bool l = false);
  void LineXP(TFixed x1, TFixed y1, TFixed x2, TFixed y2, bool l = false);
  void LineXSP(TFixed x1, TFixed y1, TFixed x2, TFixed y2, bool l = false);

  // The pen: lines from the pen position in PenColor (or the stipple),
  // without their end point, moving the pen.
  void MoveTo(std::int32_t x, std::int32_t y);
  void LineToS(std::int32_t x, std::int32_t y);
  void LineToTS(std::int32_t x, std::int32_t y);
  void MoveToX(TFixed x, TFixed y);
  void LineToXS(TFixed x, TFixed y);
  void LineToXSP(TFixed x, TFixed y);

  // A new pattern restarts the counter at 0.
  void SetStipple(const TArrayOfColor32& pattern);
  void SetStippleArray(std::initializer_list<TColor32> pattern);
  // Moves the counter by length x StippleStep, kept in [0, pattern length).
  void AdvanceStippleCounter(float length);
  // The pattern colour at the counter, mixed with the next one by the
  // counter's fraction; then the counter moves by StippleStep.
  TColor32 GetStippleColor();

 protected:
  void ChangeSize(std::int32_t& width, std::int32_t& height, std::int32_t newWidth,
                  std::int32_t newHeight) override;
  virtual void HandleChanged();

 private:
  friend void ReleaseZeroed(TBitmap32& bitmap, const TRect& written);
  void UpdateClipRects();
  void FontChanged();

  std::unique_ptr<TColor32, TPixelDeleter> bits_;
  std::unique_ptr<TCanvas> canvas_;
  TRect clipRect_;
  TRect fixedClipRect_;
  TRect clipRect24_8_;
  bool clipping_ = false;
  TDrawMode drawMode_ = dmOpaque;
  std::unique_ptr<TFont> font_;
  std::unique_ptr<QImage> dc_;
  std::uint32_t masterAlpha_ = 255;
  TColor32 outerColor_ = 0;
  TColor32 penColor_ = 0xFFFFFFFFu;
  float stippleCounter_ = 0;
  TArrayOfColor32 stipplePattern_;
  float stippleStep_ = 1.0f;
  TStretchFilter stretchFilter_ = sfNearest;
  TCombineMode combineMode_ = cmBlend;
  std::int32_t rasterX_ = 0;
  std::int32_t rasterY_ = 0;
  TFixed rasterXF_ = 0;
  TFixed rasterYF_ = 0;
};

}  // namespace kdl
