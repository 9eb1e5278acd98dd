#include "platform/CpuFeatures.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>

namespace kdl {
namespace {

TCpuFeatures ReadFeatures() {
  TCpuFeatures f;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  f.SSE2 = __builtin_cpu_supports("sse2");
  f.SSE41 = __builtin_cpu_supports("sse4.1");
  f.AVX2 = __builtin_cpu_supports("avx2");
#endif
  return f;
}

std::atomic<int> g_forced{-1};

TSimdLevel Clamp(TSimdLevel level) { return std::min(level, DetectedSimdLevel()); }

}  // namespace

const TCpuFeatures& CpuFeatures() {
  static const TCpuFeatures features = ReadFeatures();
  return features;
}

TSimdLevel DetectedSimdLevel() {
  const auto& f = CpuFeatures();
  if (f.AVX2 && f.SSE41 && f.SSE2) return TSimdLevel::slAVX2;
  if (f.SSE41 && f.SSE2) return TSimdLevel::slSSE41;
  if (f.SSE2) return TSimdLevel::slSSE2;
  return TSimdLevel::slReference;
}

TSimdLevel ActiveSimdLevel() {
  const int forced = g_forced.load();
  if (forced >= 0) return Clamp(static_cast<TSimdLevel>(forced));
  static const TSimdLevel fromEnvironment = [] {
    TSimdLevel level = DetectedSimdLevel();
    if (const char* env = std::getenv("KDL_SIMD_LEVEL")) ParseSimdLevel(env, level);
    return level;
  }();
  return Clamp(fromEnvironment);
}

TSimdLevel ForceSimdLevel(TSimdLevel level) {
  g_forced.store(static_cast<int>(Clamp(level)));
  return ActiveSimdLevel();
}

std::vector<TSimdLevel> SupportedSimdLevels() {
  std::vector<TSimdLevel> levels;
  for (int i = 0; i <= static_cast<int>(DetectedSimdLevel()); ++i)
    levels.push_back(static_cast<TSimdLevel>(i));
  return levels;
}

const char* SimdLevelName(TSimdLevel level) {
  switch (level) {
    case TSimdLevel::slReference: return "reference";
    case TSimdLevel::slSSE2: return "sse2";
    case TSimdLevel::slSSE41: return "sse41";
    case TSimdLevel::slAVX2: return "avx2";
  }
  return "reference";
}

bool ParseSimdLevel(const std::string& text, TSimdLevel& level) {
  std::string t;
  for (char c : text) t += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (int i = 0; i <= 3; ++i) {
    const auto candidate = static_cast<TSimdLevel>(i);
    if (t == SimdLevelName(candidate)) {
      level = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace kdl
