// Watches the heap while it lives: the most bytes in use at once above what
// was in use when it started, and the largest single block. Built on the
// sanitizer allocator's hooks, so it sees malloc, new and every library's
// blocks alike; without the sanitizer it is not available.
#pragma once

#include <cstdint>

namespace kdl::test {

class AllocationMeter {
 public:
  AllocationMeter();
  ~AllocationMeter();
  AllocationMeter(const AllocationMeter&) = delete;
  AllocationMeter& operator=(const AllocationMeter&) = delete;

  static bool Available();
  std::int64_t Peak() const;
  std::int64_t Largest() const;
};

}  // namespace kdl::test
