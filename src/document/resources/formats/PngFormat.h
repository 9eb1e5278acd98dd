// PNG files over libpng, with their alpha channel in and out.
#pragma once

#include "document/resources/RasterFormats.h"

namespace kdl {

class TdtpPngFormat : public TdtpRaster {
 public:
  TdtpPngFormat() : TdtpRaster(Class()) {}
  static const TRasterClass& Class();
  // Without a stream: True; with one, whether it starts with the PNG
  // signature.
  static bool CanLoad(TStream* stream);

  // Every colour type and depth; 16-bit samples are rounded to 8 bits; a
  // picture without alpha (or tRNS) is opaque. The requested size is
  // ignored.
  void LoadFromStream(TStream* stream, TBitmap32* bitmap, std::int32_t page, std::int32_t width,
                      std::int32_t height) override;
  // 8-bit RGBA (colour type 6) at compression level 9; the colour under
  // alpha 0 is kept.
  void SaveToStream(TStream* stream, TBitmap32* bitmap) override;
};

}  // namespace kdl
