#include "controls/hires_timer.h"

#include <chrono>
#include <system_error>

namespace quorvex {

void THiResTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  if (enabled) {
    {
      std::lock_guard lock(mutex_);
      stop_ = false;
    }
    try {
      worker_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      enabled_ = false;
      throw EHiResTimer("Unable to create a timer");
    }
    enabled_ = true;
  } else {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    stop_signal_.notify_all();
    if (worker_.joinable()) worker_.join();
    enabled_ = false;
  }
}

void THiResTimer::Run() {
  using clock = std::chrono::steady_clock;
  auto next = clock::now() + std::chrono::milliseconds(interval_ms_);
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (stop_signal_.wait_until(lock, next, [this] { return stop_; })) break;
    // Ticks missed while OnTimer ran collapse into one: the next deadline is in the future.
    const auto now = clock::now();
    while (next <= now) next += std::chrono::milliseconds(interval_ms_);
    lock.unlock();
    if (OnTimer) OnTimer(*this);
    lock.lock();
  }
}

}  // namespace quorvex
