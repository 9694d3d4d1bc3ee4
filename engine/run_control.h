#pragma once
// How long loops (search pass, free-space collection, walks, backup) talk to whoever
// watches them: the windows, the command line or a test. The engine only sets labels,
// asks for pending messages to be processed, and reads the flags the watcher's buttons set.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvex {

/// The two progress windows: the search/backup window and the recovery window.
enum class ProgressWindow { kSearch, kRecovery };

enum RunStateValue : uint8_t { kRun = 0, kPause = 1, kStop = 2 };

class RunControl {
 public:
  virtual ~RunControl() = default;

  // --- what the watcher shows -------------------------------------------------------
  virtual void ShowWindow(ProgressWindow /*window*/) {}
  virtual void CloseWindow(ProgressWindow /*window*/) {}
  virtual void SetCaption(ProgressWindow /*window*/, std::string_view /*text*/) {}
  /// Label numbers are the windows' own: Label1..Label4.
  virtual void SetLabel(ProgressWindow /*window*/, int /*label*/, std::string_view /*text*/) {}
  /// Process pending user-interface messages (button handlers may run here).
  virtual void Pump() {}
  /// Sleep 1 ms while paused.
  virtual void SleepWhilePaused();

  // --- the flags -----------------------------------------------------------------
  /// Advanced by 200 at every 200 ms tick on the timer's thread; the only cross-thread value.
  std::atomic<uint32_t> ui_tick{0};
  uint32_t last_refresh_tick = 0;
  /// Cancel of the search/backup window. Atomic so a signal handler may set it.
  std::atomic<bool> search_cancel{false};
  /// Pause / stop of the recovery window.
  std::atomic<uint8_t> run_state{kRun};

  /// The refresh test: true (and remembers the tick) when the tick moved since the last
  /// refresh; the caller then updates its labels and calls Pump().
  bool RefreshDue() {
    const uint32_t tick = ui_tick.load(std::memory_order_relaxed);
    if (tick == last_refresh_tick) return false;
    last_refresh_tick = tick;
    return true;
  }

  /// The pause test: pump; go on while running, wait while paused, false once stopped.
  bool PauseTest();
};

/// "12.34%": done * 10000 / total with two decimals (total > 0).
std::string PercentText(int64_t done, int64_t total);

}  // namespace quorvex
