// Shapes that show an image resource. TdtpBitmapShape stretches its image
// over its frame and takes a new image's size at 150 dpi; TdtpSnapBitmap is
// an image frame for templates: a placeholder shows while it has no image,
// and a new image keeps the frame's area and centre with its own aspect.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "document/effects/EffectShape.h"

namespace kdl {

class TdtpBitmapResource;

// Pixels per mm at which a new image is sized: 150 dpi.
inline constexpr double kImageShapeDpm = 5.905511811;
inline constexpr std::int16_t kCrossImageCursor = -38;

class TdtpBitmapShape : public TdtpEffectShape {
 public:
  TdtpBitmapShape();
  ~TdtpBitmapShape() override;

  std::string ClassName() const override { return "TdtpBitmapShape"; }

  // The owner sets the image through it: LoadFromFile resizes the shape,
  // SetBitmap only repaints it.
  TdtpBitmapResource& Image() { return *image_; }

  // The image arrived from a file.
  virtual void ImageChanged();
  // The image's pixels changed.
  virtual void ImageInvalidated();

  void GetResourceNames(std::vector<std::string>& names) const override;
  void Paint32(TBitmap32& bitmap, const TdtpPaintInfo& info) override;
  void SetDocument(TdtpDocumentServices* document) override;
  int GetStorageKind() const override;
  void SetStorageKind(int kind) override;
  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) override;

 protected:
  // The decoded image inside an access bracket that the caller holds; null
  // without one or when its bytes do not decode.
  TBitmap32* CurrentBitmap();

 private:
  std::unique_ptr<TdtpBitmapResource> image_;
  // The image's error went to the document; reset when new bytes arrive.
  bool errorReported_ = false;
};

class TdtpSnapBitmap : public TdtpBitmapShape {
 public:
  TdtpSnapBitmap();

  std::string ClassName() const override { return "TdtpSnapBitmap"; }

  // Keeps the area and the centre, takes the image's aspect ratio.
  void ImageChanged() override;
  // Whatever part is hit, the answer is the image frame itself.
  bool ShapeAtPoint(TPoint screen, TdtpShape*& shape) override;
  // The fixed frame rectangle; nil when it is missing.
  TdtpShape* GetFrame() const { return GetShape(0); }
  TdtpShape* GetCaption() const { return GetShape(1); }
  void ShowPlaceholder(bool visible);
};

}  // namespace kdl
