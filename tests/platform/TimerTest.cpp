#include <gtest/gtest.h>

#include <QTest>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ManualTimers.h"
#include "support/QtApplication.h"
#include "support/ShownErrors.h"
#include "platform/TickCount.h"
#include "platform/qt/Timer.h"

namespace kdl {
namespace {

TEST(ManualTimers, FireDueTimersInTimeOrder) {
  test::ManualTimers clock(0);
  std::vector<std::string> log;
  TTimer a, b;
  a.SetInterval(30);
  b.SetInterval(50);
  a.OnTimer = [&] { log.push_back("a" + std::to_string(TickCount64())); };
  b.OnTimer = [&] { log.push_back("b" + std::to_string(TickCount64())); };
  a.SetEnabled(true);
  b.SetEnabled(true);
  clock.Advance(100);
  EXPECT_EQ(log, (std::vector<std::string>{"a30", "b50", "a60", "a90", "b100"}));

  // A new interval counts from the change; a disabled timer stays quiet.
  log.clear();
  clock.Advance(5);
  a.SetInterval(10);
  b.SetEnabled(false);
  clock.Advance(25);
  EXPECT_EQ(log, (std::vector<std::string>{"a115", "a125"}));
}

TEST(ManualTimers, ATickNeverReentersItsOwnHandler) {
  test::ManualTimers clock(0);
  TTimer a, b;
  a.SetInterval(10);
  b.SetInterval(15);
  int depth = 0, deepest = 0, aTicks = 0, bTicks = 0;
  a.OnTimer = [&] {
    ++aTicks;
    ++depth;
    deepest = std::max(deepest, depth);
    // A handler that lets time pass (a modal loop, say) sees other timers
    // fire, never itself.
    if (aTicks == 1) clock.Advance(40);
    --depth;
  };
  b.OnTimer = [&] { ++bTicks; };
  a.SetEnabled(true);
  b.SetEnabled(true);
  clock.Advance(10);
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(aTicks, 1);
  EXPECT_EQ(bTicks, 3) << "b at 15, 30 and 45 inside a's first tick";
  clock.Advance(10);
  EXPECT_EQ(aTicks, 2) << "a's next tick counts from the tick it skipped";
}

TEST(ManualTimers, HandlerErrorsGoToTheDisplayAndATimerMayFreeItself) {
  test::EnsureApplication();
  test::ManualTimers clock(0);
  test::ShownErrors shown;
  TTimer failing;
  failing.SetInterval(5);
  failing.OnTimer = [] { throw std::runtime_error("tick failed"); };
  failing.SetEnabled(true);
  auto self = std::make_unique<TTimer>();
  self->SetInterval(7);
  self->OnTimer = [&] { self.reset(); };
  self->SetEnabled(true);
  clock.Advance(12);
  EXPECT_EQ(shown.Messages, (std::vector<std::string>{"tick failed", "tick failed"}));
  EXPECT_EQ(self, nullptr);
}

TEST(Timer, RunsOnTheEventLoop) {
  test::EnsureApplication();
  TTimer t;
  int ticks = 0;
  t.SetInterval(1);
  t.OnTimer = [&] {
    if (++ticks == 3) t.SetEnabled(false);
  };
  t.SetEnabled(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks == 3; }, 5000));
  EXPECT_FALSE(t.Enabled());
}

}  // namespace
}  // namespace kdl
