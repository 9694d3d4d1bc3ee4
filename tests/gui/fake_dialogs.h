#pragma once
// Scripted answers for the windows' dialogs, and a record of every message shown.

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "app/gui/dialogs.h"

namespace quorvex {

struct ShownMessage {
  QString caption;
  QString text;
  QMessageBox::StandardButtons buttons;
};

class FakeDialogs final : public DialogSeam {
 public:
  std::optional<QString> open_answer;
  std::optional<QString> save_answer;
  std::optional<QString> folder_answer;
  QString last_folder_start;
  QString last_folder_caption;
  /// Answers for message boxes with Yes and No; OK boxes are answered with OK.
  std::deque<QMessageBox::StandardButton> question_answers;
  std::vector<ShownMessage> messages;
  QStringList opened_folders;
  /// Called while a message box is "shown" (for looking at the windows at that moment).
  std::function<void(const ShownMessage&)> on_message;

  std::optional<QString> OpenFileName(QWidget*, const QString&) override { return open_answer; }
  std::optional<QString> SaveFileName(QWidget*, const QString&, const QString&) override { return save_answer; }
  std::optional<QString> ExistingDirectory(QWidget*, const QString& caption, const QString& start) override {
    last_folder_caption = caption;
    last_folder_start = start;
    return folder_answer;
  }
  QMessageBox::StandardButton Message(QWidget*, const QString& caption, const QString& text,
                                      QMessageBox::StandardButtons buttons) override {
    messages.push_back({caption, text, buttons});
    if (on_message) on_message(messages.back());
    if ((buttons & QMessageBox::Yes) && !question_answers.empty()) {
      const QMessageBox::StandardButton answer = question_answers.front();
      question_answers.pop_front();
      return answer;
    }
    return (buttons & QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
  }
  void OpenFolder(const QString& folder) override { opened_folders << folder; }

  QString LastText() const { return messages.empty() ? QString() : messages.back().text; }
  QString LastCaption() const { return messages.empty() ? QString() : messages.back().caption; }
};

}  // namespace quorvex
