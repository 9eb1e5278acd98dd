// 1,000 characters of running text (10 pt) turned into outline polygons and
// filled anti-aliased at 150 and 600 dpi, beside FreeType doing the same
// work: both start from outlines cached in font units (ours in the font's
// glyph cache, FreeType's loaded once before the loop) and, every
// iteration, scale each glyph's outline to the pixel size, place it at its
// pen position and fill it anti-aliased into one bitmap of the whole text
// (ours 32-bit ARGB at 8x8 sub-samples, FreeType's 8-bit coverage, exact).
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BITMAP_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <memory>
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

// Every glyph of the text outlined once, before the timing, as FreeType's
// outlines are loaded before its loop.
void WarmGlyphCache(TextSetup& t) {
  kdl::TPolygon32 polygon;
  for (const auto& line : t.lines) t.renderer.TextToPolygon(line, polygon, t.scale, 0, 0);
}

void BM_TextToPolygon(benchmark::State& state) {
  TextSetup t(state);
  const auto& lines = t.lines;
  kdl::TdtpFontRenderer& r = t.renderer;
  const double scale = t.scale;
  WarmGlyphCache(t);
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
  WarmGlyphCache(t);
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

// One glyph's outline in font units, and a scratch outline of the same
// shape to scale and move without touching the cached one.
struct TCachedOutline {
  FT_Outline outline{};
  FT_Outline scratch{};
  FT_Pos advance = 0;
};

void BM_FreeTypeCachedFill(benchmark::State& state) {
  kdl::TdtpFontManager manager;
  kdl::TdtpFont* font = manager.AcquireFont("Liberation Serif", 0, nullptr);
  FT_Library lib;
  FT_Init_FreeType(&lib);
  FT_Face face;
  if (FT_New_Face(lib, font->Handle()->FileName().c_str(), 0, &face) != 0) {
    state.SkipWithError("cannot open the face");
    return;
  }
  const auto lines = RunningText();
  std::vector<std::unique_ptr<TCachedOutline>> cache(128);
  for (const auto& line : lines)
    for (char16_t c : line) {
      if (cache[c]) continue;
      FT_Load_Char(face, c, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING);
      auto g = std::make_unique<TCachedOutline>();
      const FT_Outline& o = face->glyph->outline;
      FT_Outline_New(lib, static_cast<FT_UInt>(o.n_points), o.n_contours, &g->outline);
      FT_Outline_New(lib, static_cast<FT_UInt>(o.n_points), o.n_contours, &g->scratch);
      FT_Outline_Copy(&o, &g->outline);
      g->advance = face->glyph->advance.x;
      cache[c] = std::move(g);
    }
  // Pixels per font unit; outlines render in 26.6 pixels.
  const double ppem = kFontSizeMm * PixelsPerMm(static_cast<int>(state.range(0)));
  const double k = ppem / face->units_per_EM;
  const FT_Fixed m16 = static_cast<FT_Fixed>(std::lround(k * 64 * 65536));
  const FT_Matrix matrix{m16, 0, 0, m16};
  const double lineHeight = face->height * k;
  double width = 0;
  for (const auto& line : lines) {
    double w = 0;
    for (char16_t c : line) w += cache[c]->advance * k;
    width = std::max(width, w);
  }
  FT_Bitmap target;
  FT_Bitmap_Init(&target);
  target.width = static_cast<unsigned>(width) + 8;
  target.rows = static_cast<unsigned>((lines.size() + 1) * lineHeight) + 8;
  target.pitch = static_cast<int>(target.width);
  target.pixel_mode = FT_PIXEL_MODE_GRAY;
  target.num_grays = 256;
  std::vector<unsigned char> pixels(static_cast<std::size_t>(target.pitch) * target.rows);
  target.buffer = pixels.data();
  for (auto _ : state) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      // Bitmap rows run downwards from the top, outline y upwards.
      const auto baseY = static_cast<FT_Pos>(std::lround((target.rows - (i + 1) * lineHeight) * 64));
      double penX = 2 * 64;
      for (char16_t c : lines[i]) {
        TCachedOutline& g = *cache[c];
        FT_Outline_Copy(&g.outline, &g.scratch);
        FT_Outline_Transform(&g.scratch, &matrix);
        FT_Outline_Translate(&g.scratch, static_cast<FT_Pos>(std::lround(penX)), baseY);
        FT_Outline_Get_Bitmap(lib, &g.scratch, &target);
        penX += g.advance * k * 64;
      }
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 1000);
  for (auto& g : cache)
    if (g) {
      FT_Outline_Done(lib, &g->outline);
      FT_Outline_Done(lib, &g->scratch);
    }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
}
BENCHMARK(BM_FreeTypeCachedFill)->Arg(150)->Arg(600)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }
