#include "AllocationMeter.h"

#include <atomic>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define KDL_METER_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KDL_METER_HOOKS 1
#endif
#endif

#ifdef KDL_METER_HOOKS
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, std::size_t),
                                              void (*free_hook)(const volatile void*));
std::size_t __sanitizer_get_allocated_size(const volatile void* p);
}
#endif

namespace kdl::test {

namespace {

std::atomic<bool> gActive{false};
std::atomic<std::int64_t> gCurrent{0};
std::atomic<std::int64_t> gPeak{0};
std::atomic<std::int64_t> gLargest{0};

void RaiseTo(std::atomic<std::int64_t>& value, std::int64_t candidate) {
  std::int64_t seen = value.load(std::memory_order_relaxed);
  while (candidate > seen && !value.compare_exchange_weak(seen, candidate, std::memory_order_relaxed)) {
  }
}

#ifdef KDL_METER_HOOKS
void OnMalloc(const volatile void*, std::size_t size) {
  if (!gActive.load(std::memory_order_relaxed)) return;
  const auto n = static_cast<std::int64_t>(size);
  RaiseTo(gLargest, n);
  RaiseTo(gPeak, gCurrent.fetch_add(n, std::memory_order_relaxed) + n);
}

void OnFree(const volatile void* p) {
  if (!gActive.load(std::memory_order_relaxed) || !p) return;
  gCurrent.fetch_sub(static_cast<std::int64_t>(__sanitizer_get_allocated_size(p)), std::memory_order_relaxed);
}

// The hooks cannot be taken out again: installed once, switched by gActive.
const bool gInstalled = (__sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree), true);
#endif

}  // namespace

bool AllocationMeter::Available() {
#ifdef KDL_METER_HOOKS
  return gInstalled;
#else
  return false;
#endif
}

AllocationMeter::AllocationMeter() {
  gCurrent = 0;
  gPeak = 0;
  gLargest = 0;
  gActive = true;
}

AllocationMeter::~AllocationMeter() { gActive = false; }

std::int64_t AllocationMeter::Peak() const { return gPeak.load(); }

std::int64_t AllocationMeter::Largest() const { return gLargest.load(); }

}  // namespace kdl::test
