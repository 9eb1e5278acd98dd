// Drives every TTimer from a test clock: while one of these lives, the
// QTimers stay stopped and the tick source reads the test's time. Advance
// fires each due timer at its due time, earliest first (ties in creation
// order), so a handler sees the tick count it would see in real life.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/TickCount.h"
#include "platform/qt/Timer.h"

namespace kdl::test {

class ManualTimers {
 public:
  explicit ManualTimers(std::uint64_t start = 1000) : now_(start) {
    SetTickSource([this] { return now_; });
    TTimer::SetManualTicks(true);
  }
  ~ManualTimers() {
    TTimer::SetManualTicks(false);
    SetTickSource(nullptr);
  }
  ManualTimers(const ManualTimers&) = delete;
  ManualTimers& operator=(const ManualTimers&) = delete;

  std::uint64_t Now() const { return now_; }

  // Moves the clock forward by ms, firing due timers on the way. A timer
  // whose handler is running (the driver was called from inside it) is not
  // fired again; its next tick is counted from now.
  void Advance(std::uint64_t ms) {
    // A nested call (from inside a handler) may already have gone further.
    const std::uint64_t target = now_ + ms;
    for (;;) {
      TTimer* next = nullptr;
      std::uint64_t due = std::numeric_limits<std::uint64_t>::max();
      for (TTimer* t : TTimer::LiveTimers()) {
        if (t->Enabled() && t->DueTick() <= target && t->DueTick() < due) {
          next = t;
          due = t->DueTick();
        }
      }
      if (next == nullptr) break;
      if (due > now_) now_ = due;
      next->Fire();
    }
    now_ = std::max(now_, target);
  }

 private:
  std::uint64_t now_;
};

}  // namespace kdl::test
