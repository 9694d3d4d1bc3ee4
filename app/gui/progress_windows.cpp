#include "app/gui/progress_windows.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include "app/ui_text.h"

namespace quorvex {
namespace {

constexpr int kSlotPause = 53;
constexpr int kSlotStop = 54;
constexpr int kSlotCancel = 55;
constexpr int kProgressFontPixels = 12;

/// Fixed border, a title but no title-bar buttons: the user cannot close these windows.
constexpr Qt::WindowFlags kProgressFlags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                           Qt::MSWindowsFixedSizeDialogHint;

QLabel* MakeLabel(QWidget* parent, const char* name, int left, int top) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(left, top);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* button = new QPushButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(left, top, width, height);
  button->setAutoDefault(false);
  return button;
}

void SetProgressFont(QWidget* window) {
  QFont font(QString::fromUtf8(UiFontName().data(), static_cast<qsizetype>(UiFontName().size())));
  font.setPixelSize(kProgressFontPixels);
  window->setFont(font);
}

}  // namespace

void CentreOnDesktop(QWidget* window) {
  const QScreen* screen = window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect desk = screen->availableGeometry();
  window->move(desk.center() - window->rect().center());
}

TForm2::TForm2(RunControl& run, QWidget* parent) : QWidget(parent, kProgressFlags), run_(run) {
  setObjectName(QStringLiteral("Form2"));
  setFixedSize(271, 153);
  setAttribute(Qt::WA_QuitOnClose, false);
  Label4 = MakeLabel(this, "Label4", 64, 11);
  Label2 = MakeLabel(this, "Label2", 40, 35);
  Label3 = MakeLabel(this, "Label3", 52, 59);
  Label1 = MakeLabel(this, "Label1", 28, 83);
  SpeedButton1 = MakeButton(this, "SpeedButton1", 40, 112, 73, 25);
  SpeedButton1->setCheckable(true);
  Button2 = MakeButton(this, "Button2", 160, 112, 75, 25);
  connect(SpeedButton1, &QPushButton::clicked, this, &TForm2::SpeedButton1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
}

QLabel* TForm2::LabelNumber(int number) const {
  switch (number) {
    case 1: return Label1;
    case 2: return Label2;
    case 3: return Label3;
    case 4: return Label4;
    default: return nullptr;
  }
}

void TForm2::PrepareFont() {
  SetProgressFont(this);
  SpeedButton1->setText(QString::fromStdString(UiText(kSlotPause)));
  Button2->setText(QString::fromStdString(UiText(kSlotStop)));
}

void TForm2::SpeedButton1Click() { run_.run_state.store(SpeedButton1->isChecked() ? kPause : kRun); }

void TForm2::Button2Click() { run_.run_state.store(kStop); }

void TForm2::closeEvent(QCloseEvent* event) {
  if (may_close) event->accept();
  else event->ignore();
}

TForm3::TForm3(RunControl& run, QWidget* parent) : QWidget(parent, kProgressFlags), run_(run) {
  setObjectName(QStringLiteral("Form3"));
  setFixedSize(241, 172);
  setAttribute(Qt::WA_QuitOnClose, false);
  Label4 = MakeLabel(this, "Label4", 18, 16);
  Label1 = MakeLabel(this, "Label1", 18, 40);
  Label2 = MakeLabel(this, "Label2", 18, 64);
  Label3 = MakeLabel(this, "Label3", 18, 88);
  Button1 = MakeButton(this, "Button1", 88, 128, 75, 25);
  connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
}

QLabel* TForm3::LabelNumber(int number) const {
  switch (number) {
    case 1: return Label1;
    case 2: return Label2;
    case 3: return Label3;
    case 4: return Label4;
    default: return nullptr;
  }
}

void TForm3::PrepareFont() {
  SetProgressFont(this);
  Button1->setText(QString::fromStdString(UiText(kSlotCancel)));
}

void TForm3::Button1Click() { run_.search_cancel.store(true); }

void TForm3::closeEvent(QCloseEvent* event) {
  if (run_.search_cancel.load()) event->accept();
  else event->ignore();
}

}  // namespace quorvex
