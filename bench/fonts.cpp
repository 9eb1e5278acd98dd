// 1,000 characters of running text (10 pt) turned into outline polygons and
// filled anti-aliased at 150 and 600 dpi, beside FreeType rendering the same
// glyphs unhinted at the same size.
#include <benchmark/benchmark.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <string>
#include <vector>

#include "document/text/FontManager.h"
#include "document/text/FontRenderer.h"
#include "raster/Bitmap32.h"

namespace {

constexpr double kFontSizeMm = 10 * 25.4 / 72;  // 10 pt
constexpr int kLineChars = 80;

std::vector<std::u16string> RunningText() {
  const std::u16string words =
      u"The quick brown fox jumps over the lazy dog; pack my box with five dozen "
      u"liquor jugs. Sphinx of black quartz, judge my vow! 0123456789 (Label) ";
  std::u16string all;
  while (all.size() < 1000) all += words;
  all.resize(1000);
  std::vector<std::u16string> lines;
  for (std::size_t i = 0; i < all.size(); i += kLineChars) lines.push_back(all.substr(i, kLineChars));
  return lines;
}

double PixelsPerMm(int dpi) { return dpi / 25.4; }

// The running text in Liberation Serif at the benchmark's dpi.
struct TextSetup {
  explicit TextSetup(const benchmark::State& state)
      : font(manager.AcquireFont("Liberation Serif", 0, nullptr)),
        lines(RunningText()),
        renderer(font),
        scale(PixelsPerMm(static_cast<int>(state.range(0)))) {
    renderer.SetSize(kFontSizeMm);
  }
  kdl::TdtpFontManager manager;
  kdl::TdtpFont* font;
  std::vector<std::u16string> lines;
  kdl::TdtpFontRenderer renderer;
  double scale;
};

void BM_TextToPolygon(benchmark::State& state) {
  TextSetup t(state);
  const auto& lines = t.lines;
  kdl::TdtpFontRenderer& r = t.renderer;
  const double scale = t.scale;
  for (auto _ : state) {
    kdl::TPolygon32 polygon;
    for (std::size_t i = 0; i < lines.size(); ++i)
      r.TextToPolygon(lines[i], polygon, scale, 2, (i + 1) * r.LineHeight() * scale);
    benchmark::DoNotOptimize(polygon.Contours().data());
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_TextToPolygon)->Arg(150)->Arg(600);

void BM_TextFill(benchmark::State& state) {
  TextSetup t(state);
  const auto& lines = t.lines;
  kdl::TdtpFontRenderer& r = t.renderer;
  const double scale = t.scale;
  double width = 0;
  for (const auto& line : lines) width = std::max(width, r.GetTextExtent(line).Width);
  kdl::TBitmap32 bitmap;
  bitmap.SetSize(static_cast<int>(width * scale) + 8,
                 static_cast<int>((lines.size() + 1) * r.LineHeight() * scale) + 8);
  for (auto _ : state) {
    kdl::TPolygon32 polygon;
    polygon.SetUseAntialiasing(true);
    polygon.SetFillRule(kdl::frNonZero);
    for (std::size_t i = 0; i < lines.size(); ++i)
      r.TextToPolygon(lines[i], polygon, scale, 2, (i + 1) * r.LineHeight() * scale);
    polygon.Fill(bitmap, 0xFF000000u);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_TextFill)->Arg(150)->Arg(600)->Unit(benchmark::kMillisecond);

void BM_FreeTypeRender(benchmark::State& state) {
  kdl::TdtpFontManager manager;
  kdl::TdtpFont* font = manager.AcquireFont("Liberation Serif", 0, nullptr);
  FT_Library lib;
  FT_Init_FreeType(&lib);
  FT_Face face;
  if (FT_New_Face(lib, font->Handle()->FileName().c_str(), 0, &face) != 0) {
    state.SkipWithError("cannot open the face");
    return;
  }
  const double ppem = kFontSizeMm * PixelsPerMm(static_cast<int>(state.range(0)));
  FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(ppem * 64), 72, 72);
  const auto lines = RunningText();
  for (auto _ : state) {
    for (const auto& line : lines)
      for (char16_t c : line) {
        FT_Load_Char(face, c, FT_LOAD_RENDER | FT_LOAD_NO_HINTING);
        benchmark::DoNotOptimize(face->glyph->bitmap.buffer);
      }
  }
  state.SetItemsProcessed(state.iterations() * 1000);
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
}
BENCHMARK(BM_FreeTypeRender)->Arg(150)->Arg(600)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
