// Anti-aliased polygon fills: random 10- and 40-vertex polygons at sizes 8
// to 256 pixels and a one-megapixel star, with both fill rules, beside
// Cairo filling the same polygons into an ARGB surface of the same size.
// Also the map sampler turning a one-megapixel bitmap by 30 degrees.
//
// Pairs compare at matched quality: our 16x16 sub-samples per pixel against
// Cairo's default antialiasing (its finest scan converter), our 4x4 against
// its fast mode (CAIRO_ANTIALIAS_FAST, a 4x4 sample grid). The quality is the
// last argument: 0 best, 1 fast. Our 8x8 default has no Cairo match and
// runs alone.
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "raster/AffineTransform.h"
#include "raster/Bitmap32.h"
#include "raster/MapSampler.h"
#include "raster/PolygonRasterizer.h"

#ifdef KDL_HAVE_CAIRO
#include <cairo.h>
#endif

namespace {

using namespace kdl;

constexpr int kPolygonsPerSet = 64;

// Vertices anywhere in a size x size box: self-intersecting, the usual
// stress shape of rasteriser benchmarks.
std::vector<std::vector<std::pair<double, double>>> RandomPolygons(int vertices, int size) {
  std::mt19937 rng(static_cast<std::uint32_t>(vertices * 1000 + size));
  std::uniform_real_distribution<double> u(0, size);
  std::vector<std::vector<std::pair<double, double>>> set(kPolygonsPerSet);
  for (auto& p : set)
    for (int i = 0; i < vertices; ++i) p.emplace_back(u(rng), u(rng));
  return set;
}

std::vector<std::pair<double, double>> Star(int size) {
  std::vector<std::pair<double, double>> p;
  const int points = 40;
  for (int i = 0; i < 2 * points; ++i) {
    const double r = (i % 2 ? 0.4 : 0.5) * size, a = i * 3.14159265358979 / points;
    p.emplace_back(size / 2.0 + r * std::cos(a), size / 2.0 + r * std::sin(a));
  }
  return p;
}

TArrayOfArrayOfFixedPoint ToFixed(const std::vector<std::pair<double, double>>& p) {
  TArrayOfArrayOfFixedPoint c(1);
  for (const auto& [x, y] : p)
    c[0].push_back({static_cast<TFixed>(std::lround(x * 65536)), static_cast<TFixed>(std::lround(y * 65536))});
  return c;
}

// Quality argument to each side's mode.
constexpr TSubsampleMode kOurModes[] = {sm16, sm4, sm8};
#ifdef KDL_HAVE_CAIRO
constexpr cairo_antialias_t kCairoModes[] = {CAIRO_ANTIALIAS_DEFAULT, CAIRO_ANTIALIAS_FAST};
#endif

void RunOurs(benchmark::State& state, const std::vector<std::vector<std::pair<double, double>>>& set, int size,
             TPolygonFillRule rule, TSubsampleMode mode) {
  TBitmap32 b;
  b.SetSize(size, size);
  b.Clear(0xFFFFFFFFu);
  std::vector<TArrayOfArrayOfFixedPoint> fixed;
  for (const auto& p : set) fixed.push_back(ToFixed(p));
  std::size_t i = 0;
  for (auto _ : state) {
    FillPolyPolygonAA(b, fixed[i], 0xC0204080u, mode, rule);
    i = (i + 1) % fixed.size();
    benchmark::DoNotOptimize(b.Bits());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Ours(benchmark::State& state) {
  const int vertices = static_cast<int>(state.range(0)), size = static_cast<int>(state.range(1));
  RunOurs(state, RandomPolygons(vertices, size), size, state.range(2) ? frNonZero : frAlternate,
          kOurModes[state.range(3)]);
}

void BM_OursStar(benchmark::State& state) {
  RunOurs(state, {Star(1024)}, 1024, state.range(0) ? frNonZero : frAlternate, kOurModes[state.range(1)]);
}

void Args(benchmark::internal::Benchmark* b) {
  b->ArgNames({"vertices", "size", "nonzero", "quality"});
  for (int quality : {0, 1})
    for (int vertices : {10, 40})
      for (int size : {8, 16, 32, 64, 128, 256})
        for (int rule : {0, 1}) b->Args({vertices, size, rule, quality});
}

void StarArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"nonzero", "quality"});
  for (int quality : {0, 1})
    for (int rule : {0, 1}) b->Args({rule, quality});
}

BENCHMARK(BM_Ours)->Apply(Args);
BENCHMARK(BM_OursStar)->Apply(StarArgs);
// The default 8x8 (quality 2), unpaired.
BENCHMARK(BM_OursStar)->ArgNames({"nonzero", "quality"})->Args({0, 2})->Args({1, 2});

#ifdef KDL_HAVE_CAIRO
void RunCairo(benchmark::State& state, const std::vector<std::vector<std::pair<double, double>>>& set, int size,
              bool nonZero, cairo_antialias_t antialias) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  cairo_t* cr = cairo_create(surface);
  cairo_set_antialias(cr, antialias);
  cairo_set_source_rgba(cr, 1, 1, 1, 1);
  cairo_paint(cr);
  cairo_set_source_rgba(cr, 0x20 / 255.0, 0x40 / 255.0, 0x80 / 255.0, 0xC0 / 255.0);
  cairo_set_fill_rule(cr, nonZero ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& p = set[i];
    cairo_move_to(cr, p[0].first, p[0].second);
    for (std::size_t k = 1; k < p.size(); ++k) cairo_line_to(cr, p[k].first, p[k].second);
    cairo_close_path(cr);
    cairo_fill(cr);
    i = (i + 1) % set.size();
  }
  cairo_surface_flush(surface);
  benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  state.SetItemsProcessed(state.iterations());
}

void BM_Cairo(benchmark::State& state) {
  const int vertices = static_cast<int>(state.range(0)), size = static_cast<int>(state.range(1));
  RunCairo(state, RandomPolygons(vertices, size), size, state.range(2) != 0, kCairoModes[state.range(3)]);
}

void BM_CairoStar(benchmark::State& state) {
  RunCairo(state, {Star(1024)}, 1024, state.range(0) != 0, kCairoModes[state.range(1)]);
}

BENCHMARK(BM_Cairo)->Apply(Args);
BENCHMARK(BM_CairoStar)->Apply(StarArgs);
#endif

// A one-megapixel bitmap turned by 30 degrees about its centre.
void BM_SamplerRotate30(benchmark::State& state) {
  TBitmap32 src, dst;
  src.SetSize(1024, 1024);
  std::mt19937 rng(3);
  for (std::int64_t i = 0; i < 1024 * 1024; ++i) src.Bits()[i] = rng() | 0xFF000000u;
  dst.SetSize(1024, 1024);
  TdtpAffineTransform t;
  t.Rotate(30, 512, 512);
  TdtpMapSampler sampler;
  sampler.SetOversampling(static_cast<std::int32_t>(state.range(0)));
  sampler.SetTarget(&dst);
  sampler.SetSource(&src);
  sampler.SetTransform(&t);
  for (auto _ : state) {
    sampler.Render(FloatRect(0, 0, 1024, 1024));
    benchmark::DoNotOptimize(dst.Bits());
  }
  state.SetItemsProcessed(state.iterations() * 1024 * 1024);
}

BENCHMARK(BM_SamplerRotate30)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }
