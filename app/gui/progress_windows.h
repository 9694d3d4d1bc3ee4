#pragma once
// The two progress windows of a rescue or backup. TForm3 shows the search pass, the
// free-space collection and the backup, with Cancel; TForm2 shows the recovery pass, with
// Pause and Stop. Their buttons only set the run-control flags the running loop tests;
// neither window can be closed by the user, only by the operation once it has set the
// window's flag.

#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "engine/run_control.h"

namespace quorvex {

/// The recovery window (client area 271 x 153).
class TForm2 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm2(RunControl& run, QWidget* parent = nullptr);

  QLabel* Label1;   ///< rescued-file count
  QLabel* Label2;   ///< progress percentage
  QLabel* Label3;   ///< sector of the candidate being handled
  QLabel* Label4;   ///< source
  QPushButton* SpeedButton1;  ///< Pause (a toggle button)
  QPushButton* Button2;       ///< Stop

  /// The recovery window's may-close flag: cleared when the scan shows the window, set
  /// just before it closes it.
  bool may_close = false;

  QLabel* LabelNumber(int number) const;
  /// The UI font at 12 pixels and the buttons' texts, set each time the window is shown.
  void PrepareFont();

 public slots:
  void SpeedButton1Click();
  void Button2Click();

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose

 private:
  RunControl& run_;
};

/// The search, free-space collection and backup window (client area 241 x 172).
class TForm3 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm3(RunControl& run, QWidget* parent = nullptr);

  QLabel* Label1;   ///< current sector, or a status text
  QLabel* Label2;   ///< percentage, or a status text
  QLabel* Label3;   ///< error count (backup) or found count (search)
  QLabel* Label4;   ///< source
  QPushButton* Button1;  ///< Cancel

  QLabel* LabelNumber(int number) const;
  void PrepareFont();

 public slots:
  void Button1Click();

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose

 private:
  RunControl& run_;
};

/// Places a window in the middle of the screen it is on.
void CentreOnDesktop(QWidget* window);

}  // namespace quorvex
