// A main-thread timer: an interval, an enabled switch and one handler. A
// QTimer runs it; tests may stop the QTimers and fire due timers themselves
// from an injected tick source (tests/support/ManualTimers.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QTimer;

namespace kdl {

class TTimer {
 public:
  TTimer();
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  // Milliseconds between ticks, 1000 at creation. Changing it while the
  // timer runs starts the wait afresh.
  std::uint32_t Interval() const { return interval_; }
  void SetInterval(std::uint32_t ms);
  // Off at creation.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);

  std::function<void()> OnTimer;

  // The tick count at which the next tick is due; meaningful while enabled.
  std::uint64_t DueTick() const { return due_; }
  // One tick: OnTimer runs unless it is running already (a tick never
  // re-enters its own handler); the next tick is due an interval from now.
  // An exception from the handler goes to the error display.
  void Fire();

  // Every live timer, oldest first (for drivers that fire them by hand).
  static const std::vector<TTimer*>& LiveTimers();
  // With manual ticks no QTimer runs; a driver calls Fire when one is due.
  static void SetManualTicks(bool manual);
  static bool ManualTicks();

 private:
  void Restart();

  std::unique_ptr<QTimer> timer_;
  std::uint32_t interval_ = 1000;
  bool enabled_ = false;
  bool firing_ = false;
  std::uint64_t due_ = 0;
  // Cleared by the destructor so that a handler freeing its own timer is
  // noticed by the Fire that called it.
  std::shared_ptr<bool> alive_;
};

}  // namespace kdl
