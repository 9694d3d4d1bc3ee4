#pragma once
// A periodic timer whose OnTimer runs on a worker thread of its own. The windows and the
// command line use one (Interval 200) to advance UiTick; nothing else runs on that thread.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace quorvex {

class EHiResTimer : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class THiResTimer {
 public:
  THiResTimer() = default;
  ~THiResTimer() { SetEnabled(false); }
  THiResTimer(const THiResTimer&) = delete;
  THiResTimer& operator=(const THiResTimer&) = delete;

  bool Enabled() const { return enabled_; }
  /// Starting creates the worker thread; a second enable does nothing. Throws
  /// EHiResTimer("Unable to create a timer") when the thread cannot be had.
  void SetEnabled(bool enabled);
  uint32_t Interval() const { return interval_ms_; }
  void SetInterval(uint32_t ms) { interval_ms_ = ms == 0 ? 1 : ms; }
  uint32_t Resolution() const { return resolution_ms_; }
  void SetResolution(uint32_t ms) { resolution_ms_ = ms; }
  /// Called at every tick on the worker thread; ticks that arrive while it runs collapse.
  std::function<void(THiResTimer&)> OnTimer;

 private:
  void Run();
  bool enabled_ = false;
  uint32_t interval_ms_ = 100;
  uint32_t resolution_ms_ = 100;
  std::thread worker_;
  std::mutex mutex_;
  std::condition_variable stop_signal_;
  bool stop_ = false;
};

}  // namespace quorvex
