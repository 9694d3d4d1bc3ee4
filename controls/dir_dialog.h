#pragma once
// TSDirDlg: the folder browser as a non-visual component. Execute shows a modal folder
// chooser that starts at Directory and, when the user confirms, leaves the chosen folder
// in Directory. The browser itself is replaceable so that tests can answer it.

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace quorvex {

class TSDirDlg : public QObject {
  Q_OBJECT
 public:
  /// Shows a folder chooser (parent, caption, start folder); nullopt when cancelled.
  using Browser = std::function<std::optional<QString>(QWidget*, const QString&, const QString&)>;

  explicit TSDirDlg(QObject* owner = nullptr);

  QString Caption = QStringLiteral("Please select a folder");
  /// In: the folder to start at. Out: the folder last selected.
  QString Directory;
  /// Replaces the operating system's browser (QFileDialog::getExistingDirectory).
  Browser browser;

  /// True when the user confirmed a folder (Directory then holds it).
  bool Execute(QWidget* parent = nullptr);

  /// The start folder the browser is given: the current folder for an empty Directory, and
  /// without a trailing separator except for the root ("/").
  static QString StartFolder(const QString& directory);

 signals:
  /// Emitted whenever the selection changed to a folder (here: once, on confirmation).
  void OnChange();
};

}  // namespace quorvex
