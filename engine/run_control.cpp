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
  const int64_t v = done * 10000 / total;
  std::string digits = std::to_string(v < 0 ? -v : v);
  if (digits.size() < 3) digits = std::string(3 - digits.size(), '0') + digits;
  std::string text = v < 0 ? "-" : "";
  text += digits.substr(0, digits.size() - 2);
  text += '.';
  text += digits.substr(digits.size() - 2);
  text += '%';
  return text;
}

}  // namespace quorvex
