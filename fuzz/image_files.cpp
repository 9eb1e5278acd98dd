// Loads arbitrary bytes as an image file under a name whose extension, page
// and requested size come from the last bytes: the file path of the image
// filer, which picks a reader by extension or, failing that, by content.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "FormatFuzz.h"
#include "document/resources/RasterFormats.h"
#include "raster/Bitmap32.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = (kdl::RegisterRasterFormats(), true);
  (void)registered;
  // One private folder for the run; the file in it is rewritten each time.
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / ("kdl-fuzz-images-" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  if (size < 2) return 0;
  static const char* const kExtensions[] = {".bmp", ".jpg", ".jpeg", ".hck", ".gif", ".png", ".dat", ""};
  const std::uint8_t choice = data[size - 1];
  const std::filesystem::path path = dir / (std::string("image") + kExtensions[choice % 8]);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size - 1));
  }
  kdl::TdtpImageFiler filer;
  filer.SetFileName(path.string());
  filer.SetPage((choice >> 3) % 3);
  if (choice & 0x20) filer.SetRequestedSize(3 + (choice >> 6), 5);
  kdl::TBitmap32 bitmap;
  try {
    filer.LoadBitmap(&bitmap);
  } catch (const kdl::Exception&) {
    return 0;
  }
  CheckDecodedBitmap(bitmap);
  return 0;
}
