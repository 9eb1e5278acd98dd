// JPEG files over libjpeg: decoding at full, half, quarter or eighth size
// when a smaller picture is requested, encoding at a quality percentage.
#pragma once

#include <cstdint>
#include <memory>

#include "document/resources/RasterFormats.h"

namespace kdl {

class TdtpJpgFormat : public TdtpRaster {
 public:
  TdtpJpgFormat() : TdtpRaster(Class()) {}
  static const TRasterClass& Class();
  // Without a stream: True; with one, whether it starts with FF D8.
  static bool CanLoad(TStream* stream);

  // The picture is decoded at 1/d of its size, d the largest of 1, 2, 4, 8
  // with the decoded size still at least width by height. A damaged file
  // raises "Image file is corrupted", and so does one whose bytes are too
  // few for the size it claims (under one bit per 8 x 8 block); a truncated
  // one decodes what is there, the rest grey.
  void LoadFromStream(TStream* stream, TBitmap32* bitmap, std::int32_t page, std::int32_t width,
                      std::int32_t height) override;
  // Alpha is dropped.
  void SaveToStream(TStream* stream, TBitmap32* bitmap) override;

  std::uint8_t Quality() const { return quality_; }
  void SetQuality(std::uint8_t value) { quality_ = value; }

 private:
  std::uint8_t quality_ = 90;
};

// A JPEG written a band of rows at a time, top to bottom: the bytes that
// TdtpJpgFormat::SaveToStream writes for the whole picture, without the
// picture ever being whole. Failures raise the raster errors.
class TdtpJpgRowWriter {
 public:
  TdtpJpgRowWriter(TStream* stream, std::int32_t width, std::int32_t height, std::uint8_t quality);
  ~TdtpJpgRowWriter();
  TdtpJpgRowWriter(const TdtpJpgRowWriter&) = delete;
  TdtpJpgRowWriter& operator=(const TdtpJpgRowWriter&) = delete;

  // Every row of band, as wide as the picture, after the rows written so far.
  void WriteRows(const TBitmap32& band);
  // After the picture's last row.
  void Finish();

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace kdl
