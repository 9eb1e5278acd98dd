// Painting a label's worth of shapes: a 131 x 130 mm "CD Front" group with
// 24 upright rectangles, 8 turned ones, 4 translucent ones and 4 mirrored
// in a turned group, at 600 dpi cold and warm and at 150 dpi warm. Peers in
// the same binary: cairo drawing the same rectangles, and our rasteriser
// and sampler doing the same fills and resamplings without the shape tree
// around them.
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "RenderTestShapes.h"
#include "document/Startup.h"
#include "document/kinds/GroupShape.h"
#include "document/shapes/Rendering.h"
#include "raster/MapSampler.h"
#include "raster/PolygonRasterizer.h"
#include "raster/Utilities.h"

#if KDL_HAVE_CAIRO
#include <cairo.h>
#endif

namespace {

using kdl::testing::RectShape;

constexpr float kPageW = 131, kPageH = 130;
constexpr double kDpm600 = 600 / 25.4, kDpm150 = 150 / 25.4;
constexpr kdl::TColor32 kColor = 0xFF2060A0u;

struct P {
  double X, Y;
};

P LocalToParent(const kdl::TdtpShape& s, P p) {
  const double a = s.DocAngle() * std::numbers::pi / 180, c = std::cos(a), n = std::sin(a);
  return {p.X * c + p.Y * n + s.DocLeft(), -p.X * n + p.Y * c + s.DocTop()};
}

// What the peers draw: each rectangle's corners on the page and its alpha.
struct Item {
  std::array<P, 4> Corners;
  std::uint32_t Alpha = 255;
};

struct Scene {
  explicit Scene(bool uprightOnly = false) {
    kdl::InitializeDocumentLibrary();
    page.SetName("CD Front");
    page.SetDocBounds(0, 0, kPageW, kPageH);
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 6; ++i) Add(page, 3 + i * 21.0f, 3 + j * 21.0f, 17, 17, 0, 255);
    if (uprightOnly) return;
    for (int k = 0; k < 8; ++k) Add(page, 6 + k * 15.5f, 90, 11, 8, 10.0f * (k + 1), 255);
    for (int k = 0; k < 4; ++k) Add(page, 66 + k * 15.5f, 108, 12, 10, 0, 160);
    auto group = std::make_unique<kdl::TdtpGroupShape>();
    group->SetDocBoundsAngle(6, 112, 52, 16, 15);
    group->SetMirrored(true);
    for (int k = 0; k < 4; ++k) Add(*group, 1 + k * 12.5f, 2, 10 + k, 12, 0, 255);
    page.AddShape(std::move(group));
    // Peers see the mirrored children where the group shows them.
    const kdl::TdtpShape& g = *page.GetShape(page.GetShapeCount() - 1);
    for (int k = 0; k < 4; ++k) {
      Item& item = items[items.size() - 4 + static_cast<std::size_t>(k)];
      for (P& p : item.Corners) p = LocalToParent(g, {g.DocWidth() - p.X, p.Y});
    }
  }
  void Add(kdl::TdtpShape& parent, float l, float t, float w, float h, float angle, int alpha) {
    auto r = std::make_unique<RectShape>();
    r->Color = kColor;
    r->SetDocBoundsAngle(l, t, w, h, angle);
    r->SetMasterAlpha(alpha);
    Item item;
    item.Alpha = static_cast<std::uint32_t>(alpha);
    const P local[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    for (int i = 0; i < 4; ++i) item.Corners[static_cast<std::size_t>(i)] = LocalToParent(*r, local[i]);
    items.push_back(item);
    parent.AddShape(std::move(r));
  }
  static std::int64_t CacheBytes(const kdl::TdtpShape& s) {
    std::int64_t n = s.Cache() ? std::int64_t{s.Cache()->Width()} * s.Cache()->Height() * 4 : 0;
    for (int i = 0; i < s.GetShapeCount(); ++i) n += CacheBytes(*s.GetShape(i));
    return n;
  }

  kdl::TdtpGroupShape page;
  std::vector<Item> items;
};

kdl::TdtpPaintInfo Info(double dpm) {
  kdl::TdtpPaintInfo info;
  info.Device = kdl::dtPrinter;
  info.Scale = info.RenderScale = static_cast<float>(dpm);
  return info;
}

void Target(kdl::TBitmap32& b, double dpm) {
  b.SetSize(static_cast<std::int32_t>(std::lround(kPageW * dpm)), static_cast<std::int32_t>(std::lround(kPageH * dpm)));
  b.Clear(0);
}

// Every cache stale, bitmaps kept: what a repaint after edits costs.
void Invalidate(kdl::TdtpShape& s) {
  s.SetCacheScale(0);
  for (int i = 0; i < s.GetShapeCount(); ++i) Invalidate(*s.GetShape(i));
}

enum TTemperature { tCold, tStale, tWarm };

void PaintScene(benchmark::State& state, double dpm, TTemperature temperature, bool uprightOnly) {
  Scene scene(uprightOnly);
  kdl::TBitmap32 target;
  Target(target, dpm);
  const kdl::TdtpPaintInfo info = Info(dpm);
  scene.page.Paint(target, {0, 0, kPageW, kPageH}, false, info);
  for (auto _ : state) {
    if (temperature == tCold) scene.page.ClearCaches();
    if (temperature == tStale) Invalidate(scene.page);
    target.Clear(0);
    scene.page.Paint(target, {0, 0, kPageW, kPageH}, false, info);
    benchmark::DoNotOptimize(target.Bits());
  }
  state.counters["cache_MiB"] = static_cast<double>(Scene::CacheBytes(scene.page)) / (1 << 20);
  state.counters["pixels"] = static_cast<double>(target.Width()) * target.Height();
}

void BM_Scene600Cold(benchmark::State& state) { PaintScene(state, kDpm600, tCold, false); }
void BM_Scene600Stale(benchmark::State& state) { PaintScene(state, kDpm600, tStale, false); }
void BM_Scene600Warm(benchmark::State& state) { PaintScene(state, kDpm600, tWarm, false); }
void BM_Scene150Warm(benchmark::State& state) { PaintScene(state, kDpm150, tWarm, false); }
void BM_Upright600(benchmark::State& state) { PaintScene(state, kDpm600, tWarm, true); }

// ---- Our rasteriser and sampler alone ------------------------------------------

void Fill(kdl::TBitmap32& b, const std::array<P, 4>& corners, double dpm, P origin = {0, 0}) {
  kdl::TPolygon32 polygon;
  polygon.SetUseAntialiasing(true);
  polygon.SetSubsampleMode(kdl::sm16);
  for (const P& p : corners)
    polygon.AddPoint({kdl::Fixed(static_cast<float>((p.X - origin.X) * dpm)),
                      kdl::Fixed(static_cast<float>((p.Y - origin.Y) * dpm))});
  polygon.Fill(b, kColor);
}

// Each cached shape: an upright fill into a cache with a pixel of border,
// then a resampling into the target; the mirrored group's four in one cache.
void BM_RasterAlone600(benchmark::State& state) {
  Scene scene;
  const double s = kDpm600;
  kdl::TBitmap32 target;
  Target(target, s);
  target.SetCombineMode(kdl::cmMerge);
  target.SetDrawMode(kdl::dmBlend);
  const kdl::TdtpShape& group = *scene.page.GetShape(scene.page.GetShapeCount() - 1);
  auto resample = [&](kdl::TBitmap32& cache, const kdl::TdtpShape& shape) {
    kdl::TdtpAffineTransform t;
    t.Translate(0.5 - 1, 0.5 - 1);
    t.Scale(1 / s, 1 / s);
    t.Rotate(-shape.DocAngle(), 0, 0);
    t.Translate(shape.DocLeft(), shape.DocTop());
    t.Scale(s, s);
    kdl::TdtpMapSampler sampler;
    sampler.SetTarget(&target);
    sampler.SetSource(&cache);
    sampler.SetTransform(&t);
    sampler.Render({0, 0, static_cast<float>(cache.Width()), static_cast<float>(cache.Height())});
  };
  auto cacheFor = [&](kdl::TBitmap32& cache, const kdl::TdtpShape& shape) {
    cache.SetSize(static_cast<std::int32_t>(std::ceil(shape.DocWidth() * s)) + 2,
                  static_cast<std::int32_t>(std::ceil(shape.DocHeight() * s)) + 2);
    cache.Clear(0);
    cache.SetCombineMode(kdl::cmMerge);
    cache.SetDrawMode(kdl::dmBlend);
  };
  for (auto _ : state) {
    target.Clear(0);
    kdl::TBitmap32 cache;
    for (int i = 0; i + 1 < scene.page.GetShapeCount(); ++i) {
      const kdl::TdtpShape& r = *scene.page.GetShape(i);
      const std::array<P, 4> local{P{0, 0}, P{r.DocWidth(), 0}, P{r.DocWidth(), r.DocHeight()}, P{0, r.DocHeight()}};
      if (!r.NeedsCache()) {
        Fill(target, scene.items[static_cast<std::size_t>(i)].Corners, s);
        continue;
      }
      cacheFor(cache, r);
      Fill(cache, local, s, {-1 / s, -1 / s});
      cache.SetMasterAlpha(static_cast<std::uint32_t>(r.MasterAlpha()));
      resample(cache, r);
    }
    cacheFor(cache, group);
    for (int k = 0; k < group.GetShapeCount(); ++k) {
      const kdl::TdtpShape& c = *group.GetShape(k);
      const std::array<P, 4> corners{P{c.DocLeft(), c.DocTop()}, P{c.DocLeft() + c.DocWidth(), c.DocTop()},
                                     P{c.DocLeft() + c.DocWidth(), c.DocTop() + c.DocHeight()},
                                     P{c.DocLeft(), c.DocTop() + c.DocHeight()}};
      Fill(cache, corners, s, {-1 / s, -1 / s});
    }
    kdl::MirrorHorizontal(&cache);
    resample(cache, group);
    benchmark::DoNotOptimize(target.Bits());
  }
}

#if KDL_HAVE_CAIRO
void CairoPaint(benchmark::State& state, double dpm, bool uprightOnly) {
  Scene scene(uprightOnly);
  const int w = static_cast<int>(std::lround(kPageW * dpm)), h = static_cast<int>(std::lround(kPageH * dpm));
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(surface);
  for (auto _ : state) {
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    for (const Item& item : scene.items) {
      cairo_set_source_rgba(cr, 0x20 / 255.0, 0x60 / 255.0, 0xA0 / 255.0, item.Alpha / 255.0);
      cairo_move_to(cr, item.Corners[0].X * dpm, item.Corners[0].Y * dpm);
      for (int k = 1; k < 4; ++k) cairo_line_to(cr, item.Corners[static_cast<std::size_t>(k)].X * dpm, item.Corners[static_cast<std::size_t>(k)].Y * dpm);
      cairo_close_path(cr);
      cairo_fill(cr);
    }
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

void BM_CairoScene600(benchmark::State& state) { CairoPaint(state, kDpm600, false); }
void BM_CairoUpright600(benchmark::State& state) { CairoPaint(state, kDpm600, true); }
BENCHMARK(BM_CairoScene600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CairoUpright600)->Unit(benchmark::kMillisecond);
#endif

BENCHMARK(BM_Scene600Cold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scene600Stale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RasterAlone600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scene600Warm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scene150Warm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Upright600)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }
