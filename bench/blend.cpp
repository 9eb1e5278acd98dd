// Blend and merge line kernels at every SIMD level this processor runs,
// beside memcpy of the same bytes and a loop that reads two buffers and
// writes one (the memory bandwidth a line kernel cannot beat). One size fits
// the L2 cache, the other only main memory.
//
// The destination goes back to its first random state before every
// iteration, untimed: blended over itself again and again it turns opaque
// and every step takes the cheap shortcut. The limit loops get the same
// restore, so that all start from the same cache state. Target: each merge
// kernel within 1.5x of TwoReadsOneWrite at its size.
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/CpuFeatures.h"
#include "raster/Blend.h"

namespace {

using kdl::TColor32;

// Source, destination and the destination's first state all stay in L2.
constexpr std::int32_t kL2Pixels = 64 * 1024;           // 3 x 256 KiB
constexpr std::int32_t kDramPixels = 16 * 1024 * 1024;  // 3 x 64 MiB

struct TBuffers {
  std::vector<TColor32> src, dst, first;

  // Puts the destination back as it was before any iteration, untimed.
  void Restore(benchmark::State& state) {
    state.PauseTiming();
    std::memcpy(dst.data(), first.data(), dst.size() * sizeof(TColor32));
    state.ResumeTiming();
  }
};

// Random colours at random alphas, so that no step takes an all-opaque or
// all-clear shortcut by luck; shared by every benchmark of a size.
TBuffers& Buffers(std::int32_t pixels) {
  static std::map<std::int32_t, TBuffers> cache;
  TBuffers& b = cache[pixels];
  if (b.src.empty()) {
    std::mt19937 rng(1);
    b.src.resize(static_cast<std::size_t>(pixels));
    b.dst.resize(static_cast<std::size_t>(pixels));
    for (auto& c : b.src) c = rng();
    for (auto& c : b.dst) c = rng();
    b.first = b.dst;
  }
  return b;
}

const char* SizeName(std::int32_t pixels) { return pixels == kL2Pixels ? "L2" : "DRAM"; }

void Account(benchmark::State& state, std::int32_t pixels) {
  state.SetItemsProcessed(state.iterations() * pixels);
  // Bytes the kernel must move: two reads and one write per pixel.
  state.SetBytesProcessed(state.iterations() * pixels * 12);
}

void LineKernel(benchmark::State& state, kdl::TSimdLevel level, int mode, bool master,
                std::int32_t pixels) {
  kdl::SetupBlendFunctions(level);
  TBuffers& b = Buffers(pixels);
  const kdl::TBlendLine line = kdl::BLEND_LINE[mode];
  const kdl::TBlendLineEx lineEx = kdl::BLEND_LINE_EX[mode];
  for (auto _ : state) {
    b.Restore(state);
    if (master)
      lineEx(b.src.data(), b.dst.data(), pixels, 200);
    else
      line(b.src.data(), b.dst.data(), pixels);
    benchmark::ClobberMemory();
  }
  kdl::EMMS();
  Account(state, pixels);
}

void Memcpy(benchmark::State& state, std::int32_t pixels) {
  TBuffers& b = Buffers(pixels);
  for (auto _ : state) {
    b.Restore(state);
    std::memcpy(b.dst.data(), b.src.data(), static_cast<std::size_t>(pixels) * 4);
    benchmark::ClobberMemory();
  }
  Account(state, pixels);
}

void TwoReadsOneWrite(benchmark::State& state, std::int32_t pixels) {
  TBuffers& b = Buffers(pixels);
  for (auto _ : state) {
    b.Restore(state);
    const TColor32* s = b.src.data();
    TColor32* d = b.dst.data();
    for (std::int32_t i = 0; i < pixels; ++i) d[i] = s[i] ^ d[i];
    benchmark::ClobberMemory();
  }
  Account(state, pixels);
}

}  // namespace

int main(int argc, char** argv) {
  bench::TProgram program(argc, argv);
  benchmark::Initialize(&argc, argv);
  for (std::int32_t pixels : {kL2Pixels, kDramPixels}) {
    const std::string size = SizeName(pixels);
    for (kdl::TSimdLevel level : kdl::SupportedSimdLevels()) {
      const std::string lvl = kdl::SimdLevelName(level);
      for (int mode = 0; mode < 2; ++mode) {
        const std::string kind = mode == kdl::cmBlend ? "BlendLine" : "MergeLine";
        for (bool master : {false, true}) {
          benchmark::RegisterBenchmark((kind + (master ? "Ex/" : "/") + lvl + "/" + size).c_str(),
                                       LineKernel, level, mode, master, pixels);
        }
      }
    }
    benchmark::RegisterBenchmark(("memcpy/" + size).c_str(), Memcpy, pixels);
    benchmark::RegisterBenchmark(("TwoReadsOneWrite/" + size).c_str(), TwoReadsOneWrite, pixels);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  kdl::SetupBlendFunctions();
  return bench::TProgram::Status();
}
