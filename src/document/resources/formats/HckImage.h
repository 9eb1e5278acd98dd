// ".hck": the library's own lossless format for 32-bit ARGB bitmaps. A
// 24-byte header, then the planes alpha, red, green, blue and gray, raw or
// packed by the chain RankEncode(RleEncode(DeltaRankEncode(raw))).
#pragma once

#include <vector>

#include "document/resources/RasterFormats.h"

namespace kdl {

inline constexpr std::size_t kHckHeaderSize = 24;
inline constexpr std::uint8_t kHckRaw = 0;
inline constexpr std::uint8_t kHckPacked = 1;

class THckImage : public TdtpRaster {
 public:
  THckImage() : TdtpRaster(Class()) {}
  static const TRasterClass& Class();
  // False without a stream; else whether the next bytes are a ".hck"
  // header. The position is kept.
  static bool CanLoad(TStream* stream);

  // Pictures larger than the requested size are scaled down into bitmap.
  void LoadFromStream(TStream* stream, TBitmap32* bitmap, std::int32_t page, std::int32_t width,
                      std::int32_t height) override;
  void SaveToStream(TStream* stream, TBitmap32* bitmap) override;

  // The header last read or written.
  std::uint32_t HeaderWidth() const { return headerWidth_; }
  std::int32_t HeaderHeight() const { return headerHeight_; }
  std::uint8_t AlphaBits() const { return bits_[0]; }
  std::uint8_t RedBits() const { return bits_[1]; }
  std::uint8_t GreenBits() const { return bits_[2]; }
  std::uint8_t BlueBits() const { return bits_[3]; }
  std::uint8_t GrayBits() const { return bits_[4]; }
  std::uint8_t Compression() const { return compression_; }

 protected:
  // The compression-1 page body: raw size, packed size, packed bytes.
  void DecompressPlanes(TStream* stream, std::vector<std::uint8_t>& raw, std::size_t rawSize);
  void CompressPlanes(TStream* stream, std::vector<std::uint8_t>& raw);
  // For compression values other than 0 and 1; none is defined here.
  virtual void DecompressCustom(std::uint8_t compression, TStream* stream,
                                std::vector<std::uint8_t>& raw, std::size_t rawSize);
  // Raw planes into the bitmap's pixels (already sized to the header).
  virtual void UnpackPlanes(const std::vector<std::uint8_t>& raw, TBitmap32& bitmap);

 private:
  std::uint32_t headerWidth_ = 0;
  std::int32_t headerHeight_ = 0;
  std::int32_t headerPages_ = 1;
  std::uint8_t bits_[5] = {8, 8, 8, 8, 0};
  std::uint8_t compression_ = kHckPacked;
};

}  // namespace kdl
