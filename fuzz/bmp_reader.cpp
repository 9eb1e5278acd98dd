// Feeds arbitrary bytes to the BMP reader: it must decode or raise its
// error, never read or allocate past what the input holds.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "raster/Bitmap32.h"
#include "raster/BmpFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream s(std::string(reinterpret_cast<const char*>(data), size));
  try {
    const kdl::TBmpImage image = kdl::ReadBmp(s);
    if (image.Pixels.size() != static_cast<std::size_t>(image.Width) * image.Height) std::abort();
  } catch (const kdl::EInvalidGraphic&) {
  }
  return 0;
}
