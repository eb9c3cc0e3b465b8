// The id-keyed window timers.
#include "tests/widgets/WidgetTestUtil.h"
#include "widgets/WindowTimers.h"

#include <QObject>
#include <gtest/gtest.h>
#include <map>

TEST(WindowTimers, PeriodsBelowTheMinimumRunAtTenAndHugeOnesNeverElapse) {
  EXPECT_EQ(CWindowTimers::EffectivePeriod(0), 10);
  EXPECT_EQ(CWindowTimers::EffectivePeriod(9), 10);
  EXPECT_EQ(CWindowTimers::EffectivePeriod(10), 10);
  EXPECT_EQ(CWindowTimers::EffectivePeriod(55), 55);
  EXPECT_EQ(CWindowTimers::EffectivePeriod(2147483647LL), 2147483647LL);
  EXPECT_EQ(CWindowTimers::EffectivePeriod(2147483648LL), -1);
  EXPECT_EQ(CWindowTimers::EffectivePeriod(-1), -1);
}

TEST(WindowTimers, TimersFireByIdAndStopWhenKilled) {
  QObject owner;
  std::map<int, int> fired;
  CWindowTimers timers(&owner, [&](int id) { ++fired[id]; });
  EXPECT_EQ(timers.start(9992, 1), 9992);
  EXPECT_EQ(timers.period(9992), 10);
  timers.start(9990, 20);
  EXPECT_TRUE(timers.running(9992));
  EXPECT_TRUE(testutil::WaitFor([&] { return fired[9992] >= 3 && fired[9990] >= 1; }));

  EXPECT_TRUE(timers.kill(9992));
  EXPECT_FALSE(timers.kill(9992));
  EXPECT_FALSE(timers.running(9992));
  EXPECT_EQ(timers.period(9992), 0);
  const int before = fired[9992];
  testutil::Spin(60);
  EXPECT_EQ(fired[9992], before);
  // The other id kept running.
  EXPECT_TRUE(testutil::WaitFor([&] { return fired[9990] >= 2; }));
}

TEST(WindowTimers, ANeverElapsingTimerRunsButDoesNotFire) {
  QObject owner;
  int fired = 0;
  CWindowTimers timers(&owner, [&](int) { ++fired; });
  timers.start(9990, -1);  // "instant" update frequency gives 1000 / -1
  timers.start(9991, 1LL << 32);
  EXPECT_TRUE(timers.running(9990));
  EXPECT_TRUE(timers.running(9991));
  EXPECT_EQ(timers.period(9990), -1);
  testutil::Spin(50);
  EXPECT_EQ(fired, 0);
  EXPECT_TRUE(timers.kill(9990));
}

TEST(WindowTimers, RestartingAnIdKeepsOneTimerAndAHandlerMayKillItsOwnTimer) {
  QObject owner;
  int fired = 0;
  CWindowTimers* self = nullptr;
  CWindowTimers timers(&owner, [&](int id) {
    ++fired;
    self->kill(id);  // a one-shot, as the start timers of visual objects are used
  });
  self = &timers;
  timers.start(9993, 10);
  timers.start(9993, 10);
  timers.start(9993, 10);
  EXPECT_TRUE(testutil::WaitFor([&] { return fired >= 1; }));
  testutil::Spin(60);
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(timers.running(9993));
}
