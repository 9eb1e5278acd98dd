// The shared body of the image reader targets: any input must end in a
// bitmap or in one of our exceptions, never in a crash or an overrun.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "document/resources/RasterFormats.h"
#include "foundation/Stream.h"
#include "raster/Bitmap32.h"

// A decoded bitmap stays within the pixel cap, and every pixel is read so
// that a short buffer shows under the sanitizers.
inline void CheckDecodedBitmap(const kdl::TBitmap32& bitmap) {
  const std::int64_t n = std::int64_t{bitmap.Width()} * bitmap.Height();
  if (bitmap.Width() < 0 || bitmap.Height() < 0 || n > kdl::kMaxRasterPixels) std::abort();
  std::uint32_t sum = 0;
  for (std::int64_t i = 0; i < n; ++i) sum += bitmap.Bits()[i];
  volatile std::uint32_t sink = sum;
  (void)sink;
}

inline int FuzzRasterFormat(const std::uint8_t* data, std::size_t size, const char* extension) {
  static const bool registered = (kdl::RegisterRasterFormats(), true);
  (void)registered;
  kdl::TMemoryStream stream;
  if (size > 0) stream.WriteBuffer(data, static_cast<std::int64_t>(size));
  stream.Seek(0, kdl::soBeginning);
  kdl::TBitmap32 bitmap;
  try {
    // A small request also drives the scaled decoders.
    const std::int32_t request = size > 0 && (data[size - 1] & 1) ? 3 : 0;
    kdl::LoadBitmapFromStream(&stream, extension, &bitmap, 0, request, request);
  } catch (const kdl::Exception&) {
    return 0;
  }
  CheckDecodedBitmap(bitmap);
  return 0;
}
