// Sequential writes into a memory stream beside memcpy into a preallocated
// block of the same size (the bandwidth limit).
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <cstring>
#include <vector>

#include "foundation/Stream.h"

namespace {

void BM_MemoryStreamWrite(benchmark::State& state) {
  const std::vector<char> chunk(static_cast<std::size_t>(state.range(0)), 'x');
  constexpr int kChunks = 1024;
  for (auto _ : state) {
    kdl::TMemoryStream s;
    for (int i = 0; i < kChunks; ++i) s.WriteBuffer(chunk.data(), state.range(0));
    benchmark::DoNotOptimize(s.Memory());
  }
  state.SetBytesProcessed(state.iterations() * kChunks * state.range(0));
}
BENCHMARK(BM_MemoryStreamWrite)->Arg(16)->Arg(4096);

void BM_MemcpyLimit(benchmark::State& state) {
  const std::vector<char> chunk(static_cast<std::size_t>(state.range(0)), 'x');
  constexpr int kChunks = 1024;
  std::vector<char> block(static_cast<std::size_t>(kChunks * state.range(0)));
  for (auto _ : state) {
    for (int i = 0; i < kChunks; ++i)
      std::memcpy(block.data() + i * state.range(0), chunk.data(), chunk.size());
    benchmark::DoNotOptimize(block.data());
  }
  state.SetBytesProcessed(state.iterations() * kChunks * state.range(0));
}
BENCHMARK(BM_MemcpyLimit)->Arg(16)->Arg(4096);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }
