// GIF files over giflib: the first frame with its transparency in; out,
// an 8-bit picture reduced by octree quantisation and Floyd-Steinberg
// dithering, with one transparent index for pixels below AlphaThreshold.
#pragma once

#include "document/resources/RasterFormats.h"
#include "raster/Types.h"

namespace kdl {

class TdtpGifFormat : public TdtpRaster {
 public:
  TdtpGifFormat() : TdtpRaster(Class()) {}
  static const TRasterClass& Class();
  // Without a stream: True; with one, whether it starts with "GIF8".
  static bool CanLoad(TStream* stream);

  // The bitmap takes the logical screen's size; the first frame's pixels
  // are opaque, the transparent ones and those outside it are 0.
  void LoadFromStream(TStream* stream, TBitmap32* bitmap, std::int32_t page, std::int32_t width,
                      std::int32_t height) override;
  void SaveToStream(TStream* stream, TBitmap32* bitmap) override;

  std::int32_t AlphaThreshold() const { return alphaThreshold_; }
  void SetAlphaThreshold(std::int32_t value) { alphaThreshold_ = value; }
  TColor TransparentColor() const { return transparentColor_; }
  void SetTransparentColor(TColor value) { transparentColor_ = value; }

 private:
  std::int32_t alphaThreshold_ = 32;
  TColor transparentColor_ = 0;
};

}  // namespace kdl
