#include "cli/cli_progress.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <unistd.h>

namespace quorvex {
namespace {

CliRunControl* g_active = nullptr;
volatile std::sig_atomic_t g_interrupts = 0;
volatile std::sig_atomic_t g_recovering = 0;

void OnInterrupt(int) {
  g_interrupts = g_interrupts + 1;
  if (g_interrupts >= 2 || g_active == nullptr) _exit(130);
  if (g_recovering) g_active->run_state.store(kStop);
  else g_active->search_cancel.store(true);
}

size_t Index(ProgressWindow w) { return w == ProgressWindow::kSearch ? 0 : 1; }

}  // namespace

CliRunControl::CliRunControl(bool quiet) : quiet_(quiet), terminal_(::isatty(STDERR_FILENO) == 1) {
  g_active = this;
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  timer_.SetInterval(200);
  timer_.SetResolution(200);
  timer_.OnTimer = [this](THiResTimer&) { ui_tick.fetch_add(200, std::memory_order_relaxed); };
}

CliRunControl::~CliRunControl() {
  timer_.SetEnabled(false);
  if (line_open_) std::fputc('\n', stderr);
  ::signal(SIGINT, SIG_DFL);
  g_active = nullptr;
}

void CliRunControl::StartTick() { timer_.SetEnabled(true); }

void CliRunControl::ShowWindow(ProgressWindow window) {
  shown_ = window;
  any_shown_ = true;
  g_recovering = window == ProgressWindow::kRecovery ? 1 : 0;
}

void CliRunControl::CloseWindow(ProgressWindow window) {
  if (line_open_) {
    std::fputc('\n', stderr);
    line_open_ = false;
  }
  if (window == shown_) any_shown_ = false;
}

void CliRunControl::SetCaption(ProgressWindow window, std::string_view text) { caption_[Index(window)] = text; }

void CliRunControl::SetLabel(ProgressWindow window, int label, std::string_view text) {
  if (label >= 0 && label < 5) labels_[Index(window)][static_cast<size_t>(label)] = text;
}

void CliRunControl::Pump() {
  // Loops call Pump after each refresh (once per tick) and, in the recovery pass, around
  // every candidate; print only when the tick moved since the last printed line.
  static uint32_t printed_tick = 0;
  const uint32_t tick = ui_tick.load(std::memory_order_relaxed);
  if (quiet_ || !any_shown_ || tick == printed_tick) return;
  printed_tick = tick;
  Print();
}

namespace {

/// The percentage a progress label ends with ("Percent: 12.34%", "Progress: 12%"), or -1.
double PercentOf(const std::string& label) {
  const size_t end = label.rfind('%');
  if (end == std::string::npos) return -1;
  size_t begin = end;
  while (begin > 0 && (std::isdigit(static_cast<unsigned char>(label[begin - 1])) || label[begin - 1] == '.')) --begin;
  if (begin == end) return -1;
  return std::strtod(label.substr(begin, end - begin).c_str(), nullptr);
}

}  // namespace

void CliRunControl::Print() {
  const auto& l = labels_[Index(shown_)];
  std::string line = caption_[Index(shown_)];
  if (terminal_) {
    // On a terminal: one line redrawn in place, with a bar for the percentage.
    constexpr int kBarWidth = 30;
    const double percent = PercentOf(l[2]);
    if (percent >= 0) {
      const int filled = static_cast<int>(percent / 100.0 * kBarWidth);
      line += " [" + std::string(static_cast<size_t>(std::clamp(filled, 0, kBarWidth)), '#') +
              std::string(static_cast<size_t>(kBarWidth - std::clamp(filled, 0, kBarWidth)), '.') + "]";
    }
  }
  for (int i : {2, 1, 3}) {
    if (l[static_cast<size_t>(i)].empty()) continue;
    line += "  ";
    line += l[static_cast<size_t>(i)];
  }
  if (terminal_) {
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    line_open_ = true;
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  std::fflush(stderr);
}

}  // namespace quorvex
