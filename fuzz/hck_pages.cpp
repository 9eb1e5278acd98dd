// Reads ".hck" files as multi-page documents: the page and the requested
// size come from the last bytes, so later pages and the scaled path are
// reached as well as the first page at full size.
#include <cstdint>
#include <cstdlib>

#include "FormatFuzz.h"
#include "document/resources/RasterFormats.h"
#include "document/resources/formats/HckImage.h"
#include "foundation/Stream.h"
#include "raster/Bitmap32.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::int32_t page = data[size - 1] % 4;
  const std::int32_t request = data[size - 2] % 8;
  kdl::TMemoryStream stream;
  stream.WriteBuffer(data, static_cast<std::int64_t>(size - 2));
  stream.Seek(0, kdl::soBeginning);
  kdl::THckImage image;
  kdl::TBitmap32 bitmap;
  try {
    image.LoadFromStream(&stream, &bitmap, page, request, request + 1);
  } catch (const kdl::Exception&) {
    return 0;
  }
  CheckDecodedBitmap(bitmap);
  return 0;
}
