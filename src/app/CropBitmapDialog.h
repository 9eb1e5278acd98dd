// The dialog in which the user picks the part of the label's picture to
// show: the whole bitmap in a scrollable view, a rubber band over the crop
// area, everything outside it washed out halfway to white and the shape's
// alpha mask previewed inside it.
#pragma once

#include <QDialog>

#include <cstdint>

#include "raster/Types.h"

class QPushButton;

namespace kdl {

class TBitmap32;
class TCustomLayer;
class TImgView32;
class TRubberbandLayer;
class TdtpMaskEffect;

class TCropBitmapDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TCropBitmapDialog(QWidget* parent = nullptr);

  // Shows a copy of bitmap, fitted into the view, with the band at crop
  // (bitmap pixels).
  void SetBitmap(const TBitmap32& bitmap, const TRect& crop);
  // The band in bitmap pixels, clipped to the bitmap.
  TRect GetCropRect() const;

  bool KeepAspect() const { return keepAspect_; }
  void SetKeepAspect(bool value) { keepAspect_ = value; }
  // Previewed inside the band; not owned, may be null.
  void SetMaskEffect(TdtpMaskEffect* effect) { maskEffect_ = effect; }
  void SetMinimumSize(std::int32_t width, std::int32_t height);

  TImgView32& View() { return *view_; }
  TRubberbandLayer* Band() const { return band_; }

  // The band's washes over buffer: pixels outside band (buffer pixels) go
  // halfway to white, pixels inside take the mask's alpha over white. Only
  // the part of band inside the buffer is touched.
  static void WashOutside(TBitmap32& buffer, const TRect& band);
  static void ApplyMaskPreview(TBitmap32& buffer, const TRect& band, TdtpMaskEffect& mask);

  // The band's size and place kept to the bitmap (width x height), the
  // minimum size and, with keepAspect, the old band's aspect.
  static void Constrain(const TFloatRect& oldLocation, TFloatRect& newLocation, float width, float height,
                        float minWidth, float minHeight, bool keepAspect);

 private:
  void LayoutControls();
  void ApplyLanguage();
  void PaintOverlay(TCustomLayer* layer, TBitmap32& buffer);

  QWidget* pnlImage_;
  QWidget* pnlDummy_;
  QWidget* pnlButtons_;
  QPushButton* btnOK_;
  QPushButton* btnCancel_;
  TImgView32* view_;
  TRubberbandLayer* band_ = nullptr;
  TdtpMaskEffect* maskEffect_ = nullptr;
  bool keepAspect_ = false;
  float minWidth_ = 10;
  float minHeight_ = 10;
};

}  // namespace kdl
