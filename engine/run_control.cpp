#include "engine/run_control.h"

#include <chrono>
#include <thread>

namespace quorvex {

void RunControl::SleepWhilePaused() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

bool RunControl::PauseTest() {
  for (;;) {
    Pump();
    const uint8_t state = run_state.load(std::memory_order_relaxed);
    if (state == kStop) return false;
    if (state != kPause) return true;
    SleepWhilePaused();
  }
}

std::string PercentText(int64_t done, int64_t total) {
  if (total <= 0) total = 1;
  std::string s = std::to_string(done * 10000 / total);
  const bool negative = !s.empty() && s[0] == '-';
  if (negative) s.erase(0, 1);
  while (s.size() < 3) s.insert(s.begin(), '0');
  s.insert(s.size() - 2, ".");
  if (negative) s.insert(s.begin(), '-');
  return s + "%";
}

}  // namespace quorvex
