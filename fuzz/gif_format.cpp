// Reads GIF files.
#include "FormatFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzRasterFormat(data, size, ".gif");
}
