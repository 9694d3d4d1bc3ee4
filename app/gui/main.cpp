// quorvex-gui: the windows over the rescue engine.

#include <QApplication>

#include "app/gui/main_window.h"
#include "app/ui_text.h"

int main(int argc, char** argv) {
  // The text variant follows the locale, as the command line's does.
  quorvex::SelectUiText(quorvex::VariantForCodePage(quorvex::OemCodePageFromLocale()));
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("quorvex-gui"));
  QApplication::setApplicationVersion(QStringLiteral(QUORVEX_VERSION));
  quorvex::QuorvexWindows windows;
  windows.Form1->show();
  return QApplication::exec();
}
