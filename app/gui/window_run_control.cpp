#include "app/gui/window_run_control.h"

#include <QCoreApplication>

namespace quorvex {
namespace {
QString ToQString(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
}  // namespace

void WindowRunControl::Attach(QWidget* main_window, TForm2* recovery, TForm3* search) {
  main_window_ = main_window;
  recovery_ = recovery;
  search_ = search;
}

QWidget* WindowRunControl::Window(ProgressWindow window) const {
  return window == ProgressWindow::kRecovery ? static_cast<QWidget*>(recovery_) : static_cast<QWidget*>(search_);
}

QLabel* WindowRunControl::Label(ProgressWindow window, int label) const {
  if (window == ProgressWindow::kRecovery) return recovery_ != nullptr ? recovery_->LabelNumber(label) : nullptr;
  return search_ != nullptr ? search_->LabelNumber(label) : nullptr;
}

void WindowRunControl::ShowWindow(ProgressWindow window) {
  QWidget* form = Window(window);
  if (form == nullptr) return;
  // While an operation runs only its progress window is on screen.
  if (main_window_ != nullptr) main_window_->hide();
  if (window == ProgressWindow::kRecovery) {
    recovery_->PrepareFont();
    recovery_->may_close = false;
    // A Pause left down by an earlier rescue that was stopped would not match RunState.
    recovery_->SpeedButton1->setChecked(false);
  } else {
    search_->PrepareFont();
  }
  CentreOnDesktop(form);
  form->show();
  form->raise();
}

void WindowRunControl::CloseWindow(ProgressWindow window) {
  if (window == ProgressWindow::kRecovery) {
    if (recovery_ == nullptr) return;
    recovery_->may_close = true;
    recovery_->close();
  } else if (search_ != nullptr) {
    search_->close();  // lets go only once search_cancel is set
  }
}

void WindowRunControl::SetCaption(ProgressWindow window, std::string_view text) {
  if (QWidget* form = Window(window)) form->setWindowTitle(ToQString(text));
}

void WindowRunControl::SetLabel(ProgressWindow window, int label, std::string_view text) {
  QLabel* target = Label(window, label);
  if (target == nullptr) return;
  target->setText(ToQString(text));
  target->adjustSize();
}

void WindowRunControl::Pump() { QCoreApplication::processEvents(); }

}  // namespace quorvex
