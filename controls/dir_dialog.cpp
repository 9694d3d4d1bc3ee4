#include "controls/dir_dialog.h"

#include <QDir>
#include <QFileDialog>

namespace quorvex {

TSDirDlg::TSDirDlg(QObject* owner) : QObject(owner) {}

QString TSDirDlg::StartFolder(const QString& directory) {
  QString start = directory.isEmpty() ? QDir::currentPath() : directory;
  // "/data/out/" is selected as "/data/out"; the root keeps its separator.
  while (start.size() > 1 && start.endsWith(QLatin1Char('/'))) start.chop(1);
  return start;
}

bool TSDirDlg::Execute(QWidget* parent) {
  const QString start = StartFolder(Directory);
  std::optional<QString> chosen;
  if (browser) {
    chosen = browser(parent, Caption, start);
  } else {
    const QString folder = QFileDialog::getExistingDirectory(parent, Caption, start, QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty()) chosen = folder;
  }
  if (!chosen || chosen->isEmpty()) return false;
  Directory = *chosen;
  emit OnChange();
  return true;
}

}  // namespace quorvex
