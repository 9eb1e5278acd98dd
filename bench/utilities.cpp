// Box reduction of a 600-dpi print band by 4 and the box blur of a large
// alpha map, each beside memcpy of the same bytes (the bandwidth limit);
// pixman's box-filtered scaling beside the reduction when it is present.
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "raster/BoxScale.h"
#include "raster/Utilities.h"

#ifdef KDL_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace {

constexpr int kBandW = 5000, kBandH = 384, kFactor = 4;
constexpr int kMapSide = 2000;

void Randomise(kdl::TBitmap32& b, int w, int h) {
  b.SetSize(w, h);
  std::mt19937 rng(1);
  for (std::int64_t i = 0; i < std::int64_t{w} * h; ++i) b.Bits()[i] = rng();
}

std::int64_t Bytes(const kdl::TBitmap32& b) { return std::int64_t{b.Width()} * b.Height() * 4; }

void BM_BoxDownsampleBand(benchmark::State& state) {
  kdl::TBitmap32 src, dst;
  Randomise(src, kBandW, kBandH);
  dst.SetSize(kBandW / kFactor, kBandH / kFactor);
  for (auto _ : state) {
    kdl::BoxDownsample(dst, dst.BoundsRect(), src, src.BoundsRect());
    benchmark::DoNotOptimize(dst.Bits());
  }
  state.SetBytesProcessed(state.iterations() * Bytes(src));
}
BENCHMARK(BM_BoxDownsampleBand)->Unit(benchmark::kMillisecond);

void BM_BoxBlurMap(benchmark::State& state) {
  kdl::TBitmap32 map;
  map.SetSize(kMapSide, kMapSide);
  for (auto _ : state) {
    state.PauseTiming();
    map.Clear(0xFF000000u);
    map.FillRect(500, 500, 1500, 1500, 0);
    kdl::AlphaToIntMap(&map, 1.0f);
    state.ResumeTiming();
    kdl::BoxBlur(&map, static_cast<float>(state.range(0)));
    benchmark::DoNotOptimize(map.Bits());
  }
  state.SetBytesProcessed(state.iterations() * Bytes(map));
}
BENCHMARK(BM_BoxBlurMap)->Arg(5)->Arg(50)->Unit(benchmark::kMillisecond);

// Reading the band once and the map's bytes once: what memory allows.
void BM_MemcpyLimit(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  std::vector<char> a(n, 'x'), b(n);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), n);
    benchmark::DoNotOptimize(b.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(n));
}
BENCHMARK(BM_MemcpyLimit)
    ->Arg(std::int64_t{kBandW} * kBandH * 4)
    ->Arg(std::int64_t{kMapSide} * kMapSide * 4)
    ->Unit(benchmark::kMillisecond);

#ifdef KDL_HAVE_PIXMAN
// The same reduction by pixman with a 4 x 4 box convolution sampled at
// every fourth pixel.
void BM_PixmanBoxBand(benchmark::State& state) {
  kdl::TBitmap32 src, dst;
  Randomise(src, kBandW, kBandH);
  dst.SetSize(kBandW / kFactor, kBandH / kFactor);
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, kBandW, kBandH,
                                               reinterpret_cast<uint32_t*>(src.Bits()), kBandW * 4);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, dst.Width(), dst.Height(),
                                               reinterpret_cast<uint32_t*>(dst.Bits()), dst.Width() * 4);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_int_to_fixed(kFactor), pixman_int_to_fixed(kFactor));
  pixman_image_set_transform(s, &t);
  int n = 0;
  pixman_fixed_t* params = pixman_filter_create_separable_convolution(
      &n, pixman_int_to_fixed(kFactor), pixman_int_to_fixed(kFactor), PIXMAN_KERNEL_IMPULSE,
      PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 1, 1);
  pixman_image_set_filter(s, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, dst.Width(), dst.Height());
    benchmark::DoNotOptimize(dst.Bits());
  }
  free(params);
  pixman_image_unref(d);
  pixman_image_unref(s);
  state.SetBytesProcessed(state.iterations() * Bytes(src));
}
BENCHMARK(BM_PixmanBoxBand)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }
