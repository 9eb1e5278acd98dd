// Loads arbitrary bytes as "Fonts.dat", then draws and measures every cached
// glyph of the fonts it gave (no face is opened: only cached codes are
// used), and checks that saving and reloading reproduces the saved bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "document/text/FontManager.h"
#include "document/text/FontRenderer.h"
#include "foundation/Stream.h"

namespace {

std::vector<unsigned char> Save(const kdl::TdtpFontManager& m) {
  kdl::TMemoryStream s;
  m.SaveToStream(s);
  const auto* p = static_cast<const unsigned char*>(s.Memory());
  return {p, p + s.Size()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kdl::TdtpFontManager manager;
  kdl::TMemoryStream in;
  in.WriteBuffer(data, static_cast<std::int64_t>(size));
  in.SetPosition(0);
  try {
    manager.LoadFromStream(in);
  } catch (const kdl::EFontError&) {
    if (!manager.Fonts().empty()) std::abort();  // nothing half-read is kept
    return 0;
  }

  for (const auto& font : manager.Fonts()) {
    const kdl::TdtpGlyphList& glyphs = font->Glyphs();
    std::u16string text;
    for (int i = 0; i < glyphs.Count(); ++i) {
      if (i > 0 && glyphs.Items(i - 1)->CharCode >= glyphs.Items(i)->CharCode) std::abort();
      text.push_back(static_cast<char16_t>(glyphs.Items(i)->CharCode));
    }
    kdl::TdtpFontRenderer r(font.get());
    r.SetSize(12);
    r.SetInkBounds(true);
    r.SetCharacterSpacing(0.05);
    std::vector<double> positions(text.size() + 1);
    r.GetCharPositions(text, positions);
    (void)r.GetTextExtent(text);
    kdl::TPolygon32 polygon;
    r.TextToPolygon(text, polygon, 0.5, 3, 20);
    if (font->Handle() != nullptr) std::abort();
  }

  const std::vector<unsigned char> saved = Save(manager);
  kdl::TdtpFontManager again;
  kdl::TMemoryStream s;
  s.WriteBuffer(saved.data(), static_cast<std::int64_t>(saved.size()));
  s.SetPosition(0);
  again.LoadFromStream(s);
  if (Save(again) != saved) std::abort();
  return 0;
}
