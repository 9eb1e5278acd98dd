// The label's picture: an image frame that shows only a chosen rectangle of
// its bitmap, stretched over the whole frame, and that remembers a pinned
// frame to return to. The image bytes live in the project's archive.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class QWidget;

#include "document/kinds/BitmapShape.h"
#include "raster/Types.h"

namespace kdl {

class TdtpCropBitmapShape : public TdtpSnapBitmap {
 public:
  TdtpCropBitmapShape();
  ~TdtpCropBitmapShape() override;

  std::string ClassName() const override { return "TdtpCropBitmapShape"; }

  // Bitmap pixels, right and bottom exclusive.
  const TRect& CropRect() const { return cropRect_; }
  void SetCropRect(const TRect& value) { cropRect_ = value; }
  float PinnedLeft() const { return pinnedLeft_; }
  float PinnedTop() const { return pinnedTop_; }
  float PinnedWidth() const { return pinnedWidth_; }
  float PinnedHeight() const { return pinnedHeight_; }
  float PinnedAngle() const { return pinnedAngle_; }
  bool Pinned() const { return pinned_; }

  bool IsEmpty();
  // Remembers the frame as it is now; no undo record.
  void Pin();
  // Returns to the pinned frame through the recorded setters.
  void RestorePinned();
  // The largest rectangle of the frame's aspect that fits the bitmap, inset
  // by 5 % each way; rect is left alone without a bitmap.
  void DefaultCropRect(TRect& rect);
  // Resizes target to width by height and stretches rect (clipped to the
  // source) over it, opaque and linear.
  static void StretchCropped(TBitmap32& source, TBitmap32& target, const TRect& rect, std::int32_t height,
                             std::int32_t width);

  // The band the crop dialog opens with: CropRect clipped to the bitmap;
  // the whole bitmap, an empty rectangle or one under 10 x 10 pixels gives
  // DefaultCropRect (the whole bitmap when that is empty). False without a
  // bitmap.
  bool DialogCropRect(TRect& rect);
  // Lets the user choose the crop in the crop dialog; CropRect changes on
  // OK alone. Returns whether the dialog was accepted.
  bool ExecuteCropDialog(QWidget* parent = nullptr);

  void ImageChanged() override;
  void ImageInvalidated() override;
  void Paint32(TBitmap32& bitmap, const TdtpPaintInfo& info) override;
  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) override;
  // Also lets the kept intermediate and band go.
  void ClearCaches() override;

 private:
  struct TIntermediate;
  // The crop resampled to the paint scale, kept across bands and repaints
  // of the same image, crop and scale; null until a paint needs one.
  std::unique_ptr<TIntermediate> intermediate_;
  // The band that picture bands are resampled through, kept from one page
  // band to the next (its pixels never outlive a band); null until needed.
  std::unique_ptr<TBitmap32> bandScratch_;
  TRect cropRect_;
  float pinnedHeight_ = 0;
  float pinnedLeft_ = 0;
  float pinnedWidth_ = 0;
  float pinnedTop_ = 0;
  float pinnedAngle_ = 0;
  bool pinned_ = false;
};

}  // namespace kdl
