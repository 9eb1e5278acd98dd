// Feeds arbitrary bytes to the bitmap's "Data" reader; what it accepts must
// write back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "raster/Bitmap32.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::istringstream s(input);
  kdl::TBitmap32 b;
  try {
    b.ReadData(s);
  } catch (const kdl::EBitmapReadError&) {
    return 0;
  }
  std::ostringstream out;
  b.WriteData(out);
  const std::string written = out.str();
  if (!b.Empty() && input.compare(0, written.size(), written) != 0) std::abort();
  return 0;
}
