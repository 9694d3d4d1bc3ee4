// Takes the screenshots of the windows for the documentation: the main window collapsed,
// the main window expanded with the demo image open, and the search and recovery windows
// during a real rescue of the demo image. The text variant follows the locale (LANG /
// LC_ALL), as in quorvex-gui. Usage: quorvex-gui-shots OUTPUT_FOLDER TAG

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/gui/main_window.h"
#include "app/ui_text.h"
#include "gui/fake_dialogs.h"

namespace {

constexpr int kTitleHeight = 24;

/// The window as the user sees it: its contents under a plain title bar with its caption
/// (the screenshots are taken without a window manager, which would draw the frame).
QImage Shot(QWidget* window) {
  const QPixmap contents = window->grab();
  QImage image(contents.width() + 2, contents.height() + kTitleHeight + 1, QImage::Format_RGB32);
  image.fill(QColor(0x50, 0x60, 0x78));
  QPainter painter(&image);
  painter.drawPixmap(1, kTitleHeight, contents);
  QFont font = window->font();
  font.setPixelSize(13);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRect(8, 0, image.width() - 16, kTitleHeight), Qt::AlignLeft | Qt::AlignVCenter, window->windowTitle());
  return image;
}

bool Save(const QImage& image, const QString& folder, const QString& tag, const char* name) {
  const QString path = QStringLiteral("%1/%2-%3.png").arg(folder, tag, QString::fromLatin1(name));
  const bool ok = image.save(path);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  quorvex::SelectUiText(quorvex::VariantForCodePage(quorvex::OemCodePageFromLocale()));
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: quorvex-gui-shots OUTPUT_FOLDER TAG\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const QString tag = QString::fromLocal8Bit(argv[2]);
  QTemporaryDir out;

  quorvex::FakeDialogs dialogs;
  quorvex::TForm1::Options options;
  options.dialogs = &dialogs;
  options.program_folder = out.path();
  quorvex::QuorvexWindows windows(options);
  quorvex::TForm1& form = *windows.Form1;
  form.show();
  QApplication::processEvents();
  bool ok = Save(Shot(&form), folder, tag, "main-collapsed");

  form.OpenImageFile(QStringLiteral(QUORVEX_SOURCE_DIR "/demo/demo.img"));
  form.SpeedButton1->click();
  form.Edit2->setText(out.path());
  QApplication::processEvents();
  ok &= Save(Shot(&form), folder, tag, "main-expanded");

  // During the rescue: the search window half-way through pass 1, the recovery window once
  // an archive has been rescued.
  QImage search;
  QImage recovery;
  bool search_done = false;
  bool recovery_done = false;
  QTimer watch;
  watch.setInterval(0);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    windows.run.ui_tick += 200;  // refresh at every step
    if (windows.Form3->isVisible() && !search_done) {
      search = Shot(windows.Form3.get());
      search_done = windows.Form3->Label1->text().endsWith(QStringLiteral("8000"));
    }
    if (windows.Form2->isVisible() && !recovery_done) {
      recovery = Shot(windows.Form2.get());
      recovery_done = !windows.Form2->Label1->text().endsWith(QLatin1Char(' ')) &&
                      !windows.Form2->Label1->text().endsWith(QLatin1Char('0'));
    }
  });
  watch.start();
  windows.run.ui_tick += 200;
  form.Button12Click();
  watch.stop();
  ok &= !search.isNull() && Save(search, folder, tag, "search");
  ok &= !recovery.isNull() && Save(recovery, folder, tag, "recovery");
  if (!dialogs.messages.empty()) std::printf("final message: %s\n", qPrintable(dialogs.LastText()));
  return ok ? 0 : 1;
}
