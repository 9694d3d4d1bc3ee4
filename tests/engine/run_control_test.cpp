#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "controls/hires_timer.h"
#include "engine/run_control.h"
#include "support/fake_run.h"

namespace quorvex {
namespace {

TEST(PercentText, Table) {
  struct Row { int64_t done, total; const char* text; };
  for (const Row& r : {Row{0, 500, "0.00%"}, Row{1, 3, "33.33%"}, Row{1, 1000, "0.10%"}, Row{500, 500, "100.00%"},
                       Row{7, 10000, "0.07%"}, Row{4999999999LL, 5000000000LL, "99.99%"}})
    EXPECT_EQ(PercentText(r.done, r.total), r.text) << r.done << "/" << r.total;
}

TEST(RunControl, RefreshOnlyWhenTheTickMoved) {
  testing::FakeRun run;
  EXPECT_FALSE(run.RefreshDue());
  run.ui_tick += 200;
  EXPECT_TRUE(run.RefreshDue());
  EXPECT_FALSE(run.RefreshDue());
}

TEST(RunControl, PauseTestWaitsUntilReleasedOrStopped) {
  testing::FakeRun run;
  run.run_state = kPause;
  run.on_sleep = [](testing::FakeRun& r) {
    if (r.sleeps == 3) r.run_state = kRun;
  };
  EXPECT_TRUE(run.PauseTest());
  EXPECT_EQ(run.sleeps, 3);

  run.run_state = kPause;
  run.on_sleep = [](testing::FakeRun& r) { r.run_state = kStop; };
  EXPECT_FALSE(run.PauseTest());
}

TEST(HiResTimer, TicksOnItsThreadAndEnablesOnce) {
  THiResTimer timer;
  std::atomic<int> ticks{0};
  std::atomic<bool> other_thread{false};
  const auto main_id = std::this_thread::get_id();
  timer.SetInterval(5);
  timer.OnTimer = [&](THiResTimer&) {
    ++ticks;
    if (std::this_thread::get_id() != main_id) other_thread = true;
  };
  timer.SetEnabled(true);
  timer.SetEnabled(true);  // a second enable creates no second thread
  EXPECT_TRUE(timer.Enabled());
  while (ticks.load() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  timer.SetEnabled(false);
  const int after = ticks.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ticks.load(), after);
  EXPECT_TRUE(other_thread.load());
  EXPECT_FALSE(timer.Enabled());
}

}  // namespace
}  // namespace quorvex
