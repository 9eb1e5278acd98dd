#include "platform/qt/Timer.h"

#include <QTimer>
#include <algorithm>

#include "platform/TickCount.h"
#include "platform/qt/ErrorDisplay.h"

namespace kdl {
namespace {

std::vector<TTimer*>& Registry() {
  static std::vector<TTimer*> timers;
  return timers;
}

bool g_manual = false;

}  // namespace

TTimer::TTimer() : timer_(std::make_unique<QTimer>()), alive_(std::make_shared<bool>(true)) {
  timer_->setTimerType(Qt::PreciseTimer);
  QObject::connect(timer_.get(), &QTimer::timeout, [this] { Fire(); });
  Registry().push_back(this);
}

TTimer::~TTimer() {
  *alive_ = false;
  auto& timers = Registry();
  timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
}

void TTimer::SetInterval(std::uint32_t ms) {
  if (ms == interval_) return;
  interval_ = ms;
  if (enabled_) Restart();
}

void TTimer::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  if (on) {
    Restart();
  } else {
    timer_->stop();
  }
}

void TTimer::Restart() {
  due_ = TickCount64() + std::max<std::uint32_t>(interval_, 1);
  if (g_manual) {
    timer_->stop();
  } else {
    timer_->start(static_cast<int>(std::min<std::uint32_t>(interval_, 0x7FFFFFFF)));
  }
}

void TTimer::Fire() {
  if (!enabled_) return;
  // The next tick is counted from this one, also when the handler is busy.
  due_ = TickCount64() + std::max<std::uint32_t>(interval_, 1);
  if (firing_ || !OnTimer) return;
  const std::shared_ptr<bool> alive = alive_;
  firing_ = true;
  try {
    OnTimer();
  } catch (...) {
    ShowCurrentException();
  }
  if (*alive) firing_ = false;
}

const std::vector<TTimer*>& TTimer::LiveTimers() { return Registry(); }

void TTimer::SetManualTicks(bool manual) {
  if (manual == g_manual) return;
  g_manual = manual;
  for (TTimer* t : Registry()) {
    if (t->enabled_) t->Restart();
  }
}

bool TTimer::ManualTicks() { return g_manual; }

}  // namespace kdl
