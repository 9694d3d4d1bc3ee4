#include "app/gui/dialogs.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

namespace quorvex {

std::optional<QString> QtDialogs::OpenFileName(QWidget* parent, const QString& filter) {
  QFileDialog dialog(parent, QString(), QString(), filter);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

std::optional<QString> QtDialogs::SaveFileName(QWidget* parent, const QString& filter, const QString& default_suffix) {
  QFileDialog dialog(parent, QString(), QString(), filter);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(default_suffix);
  // The dialog asks before an existing file is replaced; the folder must exist because
  // only existing folders can be browsed to.
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

std::optional<QString> QtDialogs::ExistingDirectory(QWidget* parent, const QString& caption, const QString& start) {
  const QString folder = QFileDialog::getExistingDirectory(parent, caption, start, QFileDialog::ShowDirsOnly);
  if (folder.isEmpty()) return std::nullopt;
  return folder;
}

QMessageBox::StandardButton QtDialogs::Message(QWidget* parent, const QString& caption, const QString& text,
                                               QMessageBox::StandardButtons buttons) {
  QMessageBox box(parent);
  box.setWindowTitle(caption.isEmpty() ? QCoreApplication::applicationName() : caption);
  box.setText(text);
  box.setStandardButtons(buttons);
  box.setIcon((buttons & QMessageBox::Yes) ? QMessageBox::Question : QMessageBox::NoIcon);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void QtDialogs::OpenFolder(const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); }

}  // namespace quorvex
