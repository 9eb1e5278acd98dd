// Windows bitmap files through the bitmap's own BMP reader and writer.
#pragma once

#include "document/resources/RasterFormats.h"

namespace kdl {

class TdtpBmpFormat : public TdtpRaster {
 public:
  TdtpBmpFormat() : TdtpRaster(Class()) {}
  static const TRasterClass& Class();
  // Without a stream: True; with one, whether it starts with "BM".
  static bool CanLoad(TStream* stream);

  void LoadFromStream(TStream* stream, TBitmap32* bitmap, std::int32_t page, std::int32_t width,
                      std::int32_t height) override;
  void SaveToStream(TStream* stream, TBitmap32* bitmap) override;
};

// Whether the stream's next bytes are the given signature; the position
// is kept.
bool StreamStartsWith(TStream& stream, const void* signature, std::int64_t size);

}  // namespace kdl
