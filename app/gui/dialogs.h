#pragma once
// Every dialog the windows show goes through DialogSeam: the file dialogs, the folder
// browser, the message boxes and the file manager. The program uses QtDialogs; tests
// supply their own answers.

#include <QMessageBox>
#include <QString>
#include <optional>

class QWidget;

namespace quorvex {

class DialogSeam {
 public:
  virtual ~DialogSeam() = default;
  /// OPD: an existing file; nullopt when cancelled. filter is in Qt's "name (*.ext);;..." form.
  virtual std::optional<QString> OpenFileName(QWidget* parent, const QString& filter) = 0;
  /// svDlg: a file to write, confirmed before an existing one is replaced; nullopt when cancelled.
  virtual std::optional<QString> SaveFileName(QWidget* parent, const QString& filter, const QString& default_suffix) = 0;
  /// SDirDlg1's browser: an existing folder; nullopt when cancelled.
  virtual std::optional<QString> ExistingDirectory(QWidget* parent, const QString& caption, const QString& start) = 0;
  /// A modal message box; returns the button pressed. An empty caption is a plain message.
  virtual QMessageBox::StandardButton Message(QWidget* parent, const QString& caption, const QString& text,
                                              QMessageBox::StandardButtons buttons) = 0;
  /// "View Folder": asks the desktop to open the folder.
  virtual void OpenFolder(const QString& folder) = 0;
};

class QtDialogs final : public DialogSeam {
 public:
  std::optional<QString> OpenFileName(QWidget* parent, const QString& filter) override;
  std::optional<QString> SaveFileName(QWidget* parent, const QString& filter, const QString& default_suffix) override;
  std::optional<QString> ExistingDirectory(QWidget* parent, const QString& caption, const QString& start) override;
  QMessageBox::StandardButton Message(QWidget* parent, const QString& caption, const QString& text,
                                      QMessageBox::StandardButtons buttons) override;
  void OpenFolder(const QString& folder) override;
};

}  // namespace quorvex
