// TByteMap: one byte per pixel with the size, update and change machinery
// of the bitmap. Masks and the crop dialog use it as an alpha channel: fill
// it from one channel of a bitmap, edit it, write it back.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Exception.h"
#include "raster/Bitmap32.h"
#include "raster/ThreadPersistent.h"

namespace kdl {

// Raised by Assign for a source it cannot take.
KDL_DECLARE_EXCEPTION(EConvertError, Exception);

// What ReadFrom takes from each pixel and WriteTo puts back.
enum TByteMapChannel : std::uint8_t {
  bcRed = 0,
  bcGreen = 1,
  bcBlue = 2,
  bcAlpha = 3,
  bcMeanRGB = 4,    // (R + G + B) div 3; written as opaque grey
  bcIntensity = 5,  // (R*61 + G*174 + B*21) shr 8; written as opaque grey
};

class TByteMap : public TCustomMap {
 public:
  TByteMap() = default;
  ~TByteMap() override = default;

  // Width x Height bytes, row 0 first; empty when there are none.
  std::uint8_t* Bits() { return bits_.data(); }
  const std::uint8_t* Bits() const { return bits_.data(); }
  bool Empty() const override { return bits_.empty(); }

  // Every byte := fillValue, then Changed.
  void Clear(std::uint8_t fillValue);

  // Unchecked, no event.
  std::uint8_t* ValPtr(std::int32_t x, std::int32_t y) {
    return bits_.data() + static_cast<std::int64_t>(y) * Width() + x;
  }
  std::uint8_t Value(std::int32_t x, std::int32_t y) const {
    return bits_[static_cast<std::size_t>(static_cast<std::int64_t>(y) * Width() + x)];
  }
  void SetValue(std::int32_t x, std::int32_t y, std::uint8_t v) { *ValPtr(x, y) = v; }

  // A byte map is copied, a bitmap read as bcIntensity; anything else
  // (nil included) raises EConvertError. Changed fires once at the end.
  void Assign(const TThreadPersistent* source);
  // The bitmap receives the map as opaque grey (bcMeanRGB).
  void AssignTo(TBitmap32& dest) const;

  // Takes the source's size and one byte per pixel; Changed once at the end.
  void ReadFrom(const TBitmap32& source, TByteMapChannel kind);
  // Sizes dest like the map and stores each byte: into its channel, the
  // other three bytes kept, or as opaque grey. dest fires Changed once at
  // the end and, when its size changed, OnResize a second time.
  void WriteTo(TBitmap32& dest, TByteMapChannel kind) const;

 protected:
  // Bytes keep their linear positions; new ones are 0.
  void ChangeSize(std::int32_t& width, std::int32_t& height, std::int32_t newWidth,
                  std::int32_t newHeight) override;

 private:
  std::vector<std::uint8_t> bits_;
};

}  // namespace kdl
