// The processor's SIMD features, read once; the raster kernels are chosen
// from them. A level can be forced for tests and benchmarks, by a call or by
// the environment variable KDL_SIMD_LEVEL (reference, sse2, sse41, avx2).
#pragma once

#include <string>
#include <vector>

namespace kdl {

enum class TSimdLevel { slReference = 0, slSSE2 = 1, slSSE41 = 2, slAVX2 = 3 };

struct TCpuFeatures {
  bool SSE2 = false;
  bool SSE41 = false;
  bool AVX2 = false;
};

// What the processor offers (read once, on first use).
const TCpuFeatures& CpuFeatures();

// The best level the processor supports.
TSimdLevel DetectedSimdLevel();

// The level the kernels use: the forced one, else KDL_SIMD_LEVEL, else the
// detected one; never above what the processor supports.
TSimdLevel ActiveSimdLevel();

// Forces a level (clamped to what is supported); returns the level in force.
// Kernel tables must be re-chosen afterwards by their owners.
TSimdLevel ForceSimdLevel(TSimdLevel level);

// Every level this processor can run, the reference first.
std::vector<TSimdLevel> SupportedSimdLevels();

const char* SimdLevelName(TSimdLevel level);
bool ParseSimdLevel(const std::string& text, TSimdLevel& level);

}  // namespace kdl
