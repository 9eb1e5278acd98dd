#include "platform/TickCount.h"

#include <chrono>
#include <mutex>

namespace kdl {
namespace {

std::mutex g_sourceMutex;
std::function<std::uint64_t()> g_source;

std::uint64_t SteadyMilliseconds() {
  static const auto start = std::chrono::steady_clock::now();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

}  // namespace

std::uint64_t TickCount64() {
  {
    std::lock_guard<std::mutex> lock(g_sourceMutex);
    if (g_source) return g_source();
  }
  return SteadyMilliseconds();
}

void SetTickSource(std::function<std::uint64_t()> source) {
  std::lock_guard<std::mutex> lock(g_sourceMutex);
  g_source = std::move(source);
}

}  // namespace kdl
