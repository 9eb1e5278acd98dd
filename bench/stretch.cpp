// The stretch filters on a 2048 x 1536 picture, enlarged twice and reduced
// to 0.37, beside pixman's scaling of the same pixels. The fair pair for our
// linear reduction is BM_PixmanTent: pixman's separable convolution of the
// same tent, widened to the reduction (impulse reconstruction, linear
// sampling), where its bilinear filter would read only four pixels of each
// 2.7 x 2.7 block.
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <memory>

#include "raster/Bitmap32.h"
#include "raster/Transforms.h"

#ifdef KDL_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace {

constexpr int kWidth = 2048;
constexpr int kHeight = 1536;

// Smooth gradients with some detail, opaque.
const kdl::TBitmap32& Source() {
  static const auto source = [] {
    auto b = std::make_unique<kdl::TBitmap32>();
    b->SetSize(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        b->SetPixel(x, y,
                    0xFF000000u | static_cast<std::uint32_t>((x * 255) / kWidth) << 16 |
                        static_cast<std::uint32_t>((y * 255) / kHeight) << 8 |
                        static_cast<std::uint32_t>(127.5 + 127 * std::sin(x * 0.05 + y * 0.03)));
    return b;
  }();
  return *source;
}

int Scaled(int n, double scale) { return static_cast<int>(std::lround(n * scale)); }

// Args: filter, scale in thousandths.
void BM_StretchTransfer(benchmark::State& state) {
  auto& src = const_cast<kdl::TBitmap32&>(Source());
  const auto filter = static_cast<kdl::TStretchFilter>(state.range(0));
  const double scale = state.range(1) / 1000.0;
  kdl::TBitmap32 dst;
  dst.SetSize(Scaled(kWidth, scale), Scaled(kHeight, scale));
  for (auto _ : state) {
    kdl::StretchTransfer(&dst, dst.BoundsRect(), dst.BoundsRect(), &src, src.BoundsRect(), filter,
                         kdl::dmOpaque, nullptr);
    benchmark::DoNotOptimize(dst.Bits());
  }
  state.SetItemsProcessed(state.iterations() * dst.Width() * dst.Height());
}

void StretchArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"filter", "scale_x1000"});
  for (int f = 0; f < 7; ++f)
    for (const int s : {2000, 370}) b->Args({f, s});
  b->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_StretchTransfer)->Apply(StretchArgs);

#ifdef KDL_HAVE_PIXMAN
// Args: pixman filter (0 nearest, 1 bilinear, 2 good), scale in thousandths.
// The source picture and a destination of the scaled size as pixman images,
// the source mapped onto the destination.
struct PixmanScaling {
  int dw, dh;
  kdl::TBitmap32 dst;
  pixman_fixed_t sx, sy;
  pixman_image_t* s;
  pixman_image_t* d;
  explicit PixmanScaling(double scale) : dw(Scaled(kWidth, scale)), dh(Scaled(kHeight, scale)) {
    auto& src = const_cast<kdl::TBitmap32&>(Source());
    dst.SetSize(dw, dh);
    s = pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight,
                                 reinterpret_cast<std::uint32_t*>(src.Bits()), kWidth * 4);
    d = pixman_image_create_bits(PIXMAN_a8r8g8b8, dw, dh, reinterpret_cast<std::uint32_t*>(dst.Bits()),
                                 dw * 4);
    sx = pixman_double_to_fixed(static_cast<double>(kWidth) / dw);
    sy = pixman_double_to_fixed(static_cast<double>(kHeight) / dh);
    pixman_transform_t t;
    pixman_transform_init_scale(&t, sx, sy);
    pixman_image_set_transform(s, &t);
  }
  ~PixmanScaling() {
    pixman_image_unref(s);
    pixman_image_unref(d);
  }
};

void BM_Pixman(benchmark::State& state) {
  PixmanScaling p(state.range(1) / 1000.0);
  pixman_image_t* const s = p.s;
  pixman_image_t* const d = p.d;
  const int dw = p.dw, dh = p.dh;
  kdl::TBitmap32& dst = p.dst;
  const pixman_filter_t filters[] = {PIXMAN_FILTER_NEAREST, PIXMAN_FILTER_BILINEAR,
                                     PIXMAN_FILTER_GOOD};
  pixman_image_set_filter(s, filters[state.range(0)], nullptr, 0);
  pixman_image_set_repeat(s, PIXMAN_REPEAT_PAD);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, dw, dh);
    benchmark::DoNotOptimize(dst.Bits());
  }
  state.SetItemsProcessed(state.iterations() * dw * dh);
}
void PixmanArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"filter", "scale_x1000"});
  for (int f = 0; f < 3; ++f)
    for (const int s : {2000, 370}) b->Args({f, s});
  b->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_Pixman)->Apply(PixmanArgs);

// Our sfLinear reduction's filter in pixman: a tent of radius 1 / scale
// source pixels, as weights precomputed for 16 sub-pixel phases.
void BM_PixmanTent(benchmark::State& state) {
  auto& src = const_cast<kdl::TBitmap32&>(Source());
  PixmanScaling p(state.range(0) / 1000.0);
  pixman_image_t* const s = p.s;
  pixman_image_t* const d = p.d;
  const int dw = p.dw, dh = p.dh;
  const pixman_fixed_t sx = p.sx, sy = p.sy;
  kdl::TBitmap32& dst = p.dst;
  int count = 0;
  pixman_fixed_t* params = pixman_filter_create_separable_convolution(
      &count, sx, sy, PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_LINEAR, PIXMAN_KERNEL_LINEAR, 4, 4);
  pixman_image_set_filter(s, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, count);
  std::free(params);
  pixman_image_set_repeat(s, PIXMAN_REPEAT_PAD);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, dw, dh);
    benchmark::DoNotOptimize(dst.Bits());
  }
  state.SetItemsProcessed(state.iterations() * dw * dh);
  // Same filter, same picture: the mean channel difference from our linear
  // reduction stays within rounding.
  kdl::TBitmap32 ours;
  ours.SetSize(dw, dh);
  kdl::StretchTransfer(&ours, ours.BoundsRect(), ours.BoundsRect(), &src, src.BoundsRect(), kdl::sfLinear,
                       kdl::dmOpaque, nullptr);
  double diff = 0;
  for (std::int64_t i = 0; i < static_cast<std::int64_t>(dw) * dh; ++i)
    for (int shift = 0; shift < 24; shift += 8)
      diff += std::abs(static_cast<int>((ours.Bits()[i] >> shift) & 0xFF) - static_cast<int>((dst.Bits()[i] >> shift) & 0xFF));
  state.counters["mean_diff_vs_ours"] = diff / (3.0 * dw * dh);
}
BENCHMARK(BM_PixmanTent)->ArgName("scale_x1000")->Arg(370)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }
