#pragma once
// Progress of the command line: at most one line per 200 ms tick on stderr (a bar on a
// terminal, plain lines otherwise, nothing when quiet), and Ctrl-C as the progress
// windows' buttons: Cancel while searching or copying, Stop while rescuing; a second
// Ctrl-C ends the program.

#include <array>
#include <string>

#include "controls/hires_timer.h"
#include "engine/run_control.h"

namespace quorvex {

class CliRunControl final : public RunControl {
 public:
  explicit CliRunControl(bool quiet);
  ~CliRunControl() override;

  void ShowWindow(ProgressWindow window) override;
  void CloseWindow(ProgressWindow window) override;
  void SetCaption(ProgressWindow window, std::string_view text) override;
  void SetLabel(ProgressWindow window, int label, std::string_view text) override;
  void Pump() override;

  /// Starts the 200 ms tick (the windows' HiTimer1).
  void StartTick();

 private:
  void Print();
  bool quiet_;
  bool terminal_;
  bool line_open_ = false;
  ProgressWindow shown_ = ProgressWindow::kSearch;
  bool any_shown_ = false;
  std::array<std::string, 2> caption_;
  std::array<std::array<std::string, 5>, 2> labels_;
  THiResTimer timer_;
};

}  // namespace quorvex
