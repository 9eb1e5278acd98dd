// The mask effect on a 2835 x 2835 alpha map (a 120 mm label at 600 dpi):
// a feather, a polygon and a bitmap mask (a 12-megapixel photo) through
// ApplyMasks, each beside the landed routine doing the same work alone
// (the box blur of the integer map, the polygon fill into a bitmap, the
// stretch of the photo). CombineByteMaps beside memcpy of the same bytes,
// the bandwidth limit. And the first feather of a new program beside the
// same feather warm: each round starts a fresh process that applies the
// mask once, then five times more after two untimed calls.
#include <benchmark/benchmark.h>
#include "BenchMain.h"
#include "Rounds.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "document/Startup.h"
#include "document/effects/CombineMaps.h"
#include "document/effects/MaskEffect.h"
#include "document/resources/BitmapResource.h"
#include "document/resources/ResourceThread.h"
#include "document/shapes/PolygonPoints.h"
#include "raster/ByteMap.h"
#include "raster/PolygonRasterizer.h"
#include "raster/Transforms.h"
#include "raster/Utilities.h"

namespace {

using namespace kdl;

constexpr int kSide = 2835;
constexpr int kPhotoW = 4000, kPhotoH = 3000;
const TRect kFrame{40, 40, kSide - 40, kSide - 40};

// An opaque label with a soft border, as a cache's alpha looks.
void FillAlpha(TByteMap& m) {
  m.SetSize(kSide, kSide);
  m.Clear(0);
  for (int y = kFrame.Top; y < kFrame.Bottom; ++y)
    std::memset(m.ValPtr(kFrame.Left, y), 255, static_cast<std::size_t>(kFrame.Right - kFrame.Left));
}

const TBitmap32& Photo() {
  static const auto photo = [] {
    auto b = std::make_unique<TBitmap32>();
    b->SetSize(kPhotoW, kPhotoH);
    for (int y = 0; y < kPhotoH; ++y) {
      TColor32* row = b->ScanLine(y);
      for (int x = 0; x < kPhotoW; ++x)
        row[x] = 0xFF000000u | static_cast<std::uint32_t>((x * 255) / kPhotoW) << 16 |
                 static_cast<std::uint32_t>((y * 255) / kPhotoH) << 8 |
                 static_cast<std::uint32_t>(127.5 + 127 * std::sin(x * 0.05 + y * 0.03));
    }
    return b;
  }();
  return *photo;
}

// One mask of the kind in an effect: 0 feather, 1 polygon, 2 bitmap.
std::unique_ptr<TdtpMaskEffect> EffectWith(int kind) {
  InitializeDocumentLibrary();
  auto effect = std::make_unique<TdtpMaskEffect>();
  if (kind == 0) {
    effect->AddMask(std::make_unique<TdtpFeatherMask>());
  } else if (kind == 1) {
    auto polygon = std::make_unique<TdtpPolygonMask>();
    polygon->SetOperation(0);
    effect->AddMask(std::move(polygon));
  } else {
    auto bitmap = std::make_unique<TdtpBitmapMask>();
    bitmap->SetOperation(0);
    bitmap->Image().SetBitmap(&Photo());
    // Decoded once before timing, as a cache would hold it.
    {
      TResourceAccess access(bitmap->Image());
      (void)bitmap->Image().GetBitmap();
    }
    effect->AddMask(std::move(bitmap));
  }
  return effect;
}

void BM_ApplyMasks(benchmark::State& state) {
  auto effect = EffectWith(static_cast<int>(state.range(0)));
  TByteMap alpha;
  FillAlpha(alpha);
  for (auto _ : state) {
    effect->ApplyMasks(alpha, kFrame);
    benchmark::DoNotOptimize(alpha.Bits());
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_ApplyMasks)->ArgName("kind")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The feather's own work: the box blur of the integer map, radius 1% of
// the frame.
void BM_BoxBlurAlone(benchmark::State& state) {
  TBitmap32 map;
  map.SetSize(kSide, kSide);
  map.Clear(0xFF000000u);
  AlphaToIntMap(&map, 1);
  const float radius = 0.01f * static_cast<float>(kFrame.Right - kFrame.Left);
  for (auto _ : state) {
    BoxBlur(&map, radius);
    benchmark::DoNotOptimize(map.Bits());
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_BoxBlurAlone)->Unit(benchmark::kMillisecond);

// The polygon's own work: the same ellipse filled into a bitmap.
void BM_PolygonFillAlone(benchmark::State& state) {
  TdtpPolygonMask mask;
  mask.BuildShape();
  const double w = kFrame.Right - kFrame.Left, h = kFrame.Bottom - kFrame.Top;
  const TAffineMatrix m{w, 0, 0, h, static_cast<double>(kFrame.Left), static_cast<double>(kFrame.Top)};
  const TPolygon32Pair polygon = BuildPolygon32(mask.Points(), m, 0, true, false);
  TBitmap32 target;
  target.SetSize(kSide, kSide);
  for (auto _ : state) {
    polygon.Fill->Fill(target, 0xFFFFFFFFu);
    benchmark::DoNotOptimize(target.Bits());
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_PolygonFillAlone)->Unit(benchmark::kMillisecond);

// The bitmap's own work: the photo stretched over the frame.
void BM_StretchAlone(benchmark::State& state) {
  auto& photo = const_cast<TBitmap32&>(Photo());
  TBitmap32 target;
  target.SetSize(kSide, kSide);
  for (auto _ : state) {
    StretchTransfer(&target, kFrame, target.BoundsRect(), &photo, photo.BoundsRect(), sfLinear, dmOpaque,
                    nullptr);
    benchmark::DoNotOptimize(target.Bits());
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_StretchAlone)->Unit(benchmark::kMillisecond);

// Arg: the operation.
void BM_CombineByteMaps(benchmark::State& state) {
  TByteMap a, b;
  FillAlpha(a);
  FillAlpha(b);
  const auto op = static_cast<std::uint8_t>(state.range(0));
  for (auto _ : state) {
    CombineByteMaps(&a, &b, &a, op);
    benchmark::DoNotOptimize(a.Bits());
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t{kSide} * kSide);
}
BENCHMARK(BM_CombineByteMaps)->ArgName("op")->DenseRange(0, 7)->Unit(benchmark::kMicrosecond);

void FeatherJob(const std::vector<std::string>&, bench::TJobValues& out) {
  auto effect = EffectWith(0);
  TByteMap alpha;
  FillAlpha(alpha);
  out["first_ms"] = 1e3 * bench::Seconds([&] { effect->ApplyMasks(alpha, kFrame); });
  std::vector<double> warm;
  for (int i = 0; i < 7; ++i) {
    FillAlpha(alpha);
    const double s = bench::Seconds([&] { effect->ApplyMasks(alpha, kFrame); });
    if (i >= 2) warm.push_back(s);
  }
  out["warm_ms"] = 1e3 * bench::Median(warm);
}

void BM_FeatherFirstVsWarm(benchmark::State& state) {
  std::vector<double> first, warm, ratios;
  for (auto _ : state) {
    const bench::TJobResult job = bench::RunJob("feather", {});
    if (!job.Ok || !job.Values.count("first_ms") || !job.Values.count("warm_ms")) {
      state.SkipWithError("the feather job failed");
      break;
    }
    first.push_back(job.Values.at("first_ms"));
    warm.push_back(job.Values.at("warm_ms"));
    ratios.push_back(first.back() / warm.back());
    state.SetIterationTime(first.back() / 1e3);
  }
  state.counters["first_ms"] = bench::Median(first);
  state.counters["warm_ms"] = bench::Median(warm);
  state.counters["ratio"] = bench::Median(ratios);
}
BENCHMARK(BM_FeatherFirstVsWarm)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Memcpy(benchmark::State& state) {
  std::vector<std::uint8_t> a(std::size_t{kSide} * kSide, 1), b(a.size(), 2);
  for (auto _ : state) {
    std::memcpy(a.data(), b.data(), a.size());
    benchmark::DoNotOptimize(a.data());
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t{kSide} * kSide);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv, {{"feather", FeatherJob}}); }
