#pragma once
// The run control of the windows: the engine's progress calls land on the labels and
// captions of TForm2 and TForm3, and Pump lets Qt process pending events, so that only
// the progress windows' buttons (and the tick) can act while a rescue or backup runs.

#include <QWidget>

#include "app/gui/progress_windows.h"
#include "engine/run_control.h"

namespace quorvex {

class WindowRunControl final : public RunControl {
 public:
  /// The main window (hidden while a progress window is shown) and the two progress windows.
  void Attach(QWidget* main_window, TForm2* recovery, TForm3* search);

  void ShowWindow(ProgressWindow window) override;
  void CloseWindow(ProgressWindow window) override;
  void SetCaption(ProgressWindow window, std::string_view text) override;
  void SetLabel(ProgressWindow window, int label, std::string_view text) override;
  void Pump() override;

 private:
  QWidget* Window(ProgressWindow window) const;
  QLabel* Label(ProgressWindow window, int label) const;

  QWidget* main_window_ = nullptr;
  TForm2* recovery_ = nullptr;
  TForm3* search_ = nullptr;
};

}  // namespace quorvex
