// Takes arbitrary bytes as the font family name a document asks for (with
// the style from the first byte), as it reaches fontconfig and FreeType,
// and draws a few characters named by the bytes with whatever face answers.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "document/text/FontManager.h"
#include "document/text/FontRenderer.h"
#include "raster/PolygonRasterizer.h"

namespace {

// Matching runs over every installed face; a configuration of the two
// families the program ships with keeps each input's work small, while the
// names still take fontconfig's whole parsing and substitution path.
void UseSmallFontConfiguration() {
  if (std::getenv("FONTCONFIG_FILE")) return;
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("kdl-fuzz-fonts-" + std::to_string(::getpid()) + ".conf")).string();
  std::ofstream(path) << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
                         "  <dir>/usr/share/fonts/truetype/liberation2</dir>\n"
                         "  <dir>/usr/share/fonts/truetype/dejavu</dir>\n"
                         "  <include ignore_missing=\"yes\">/etc/fonts/conf.d/30-metric-aliases.conf</include>\n"
                         "</fontconfig>\n";
  ::setenv("FONTCONFIG_FILE", path.c_str(), 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool configured = (UseSmallFontConfiguration(), true);
  (void)configured;
  if (size < 1) return 0;
  const kdl::TFontStyles style = data[0] & (kdl::fsBold | kdl::fsItalic);
  // A family name is short; longer input only costs fontconfig time.
  const std::size_t length = size - 1 < 64 ? size - 1 : 64;
  const std::string family(reinterpret_cast<const char*>(data + 1), length);
  kdl::TdtpFontManager manager;
  kdl::TdtpFont* font = manager.AcquireFont(family, style, nullptr);
  if (!font) {
    if (!family.empty() && manager.LastError().empty()) std::abort();  // a refusal says why
    return 0;
  }
  std::u16string text;
  for (std::size_t i = 1; i + 1 < size && text.size() < 4; i += 2)
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  kdl::TdtpFontRenderer renderer(font);
  renderer.SetSize(12);
  (void)renderer.GetTextExtent(text);
  kdl::TPolygon32 polygon;
  renderer.TextToPolygon(text, polygon, 0.5, 3, 20);
  return 0;
}
