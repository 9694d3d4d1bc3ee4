#pragma once
// TForm1, the main window: choosing and opening a source, the hex view, the rescue
// options, Start Rescue and Backup. Controls keep their layout names and handlers are
// named control + event. Everything that reads or writes disks is the core's; this
// class only shows what the core returns.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QWidget>
#include <memory>

#include "app/gui/dialogs.h"
#include "app/gui/window_run_control.h"
#include "controls/dir_dialog.h"
#include "controls/drive_combo_box.h"
#include "controls/hires_timer.h"
#include "engine/scan_options.h"
#include "engine/thumbs.h"
#include "platform/drive_list.h"
#include "source/geometry.h"
#include "source/sector_reader.h"
#include "source/source_open.h"

namespace quorvex {

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  struct Options {
    DialogSeam* dialogs = nullptr;       ///< null: the Qt dialogs
    DriveListOptions drive_options;      ///< where the drive list looks (tests: a fake sysfs)
    QString program_folder;              ///< empty: the executable's folder
  };

  static constexpr int kClientWidth = 870;
  static constexpr int kCollapsedHeight = 264;
  static constexpr int kExpandedHeight = 566;

  /// Creates the controls and runs FormCreate.
  TForm1(WindowRunControl& run, Options options);
  ~TForm1() override;

  // ---- controls, by their layout names ----
  QLabel* Label5;
  QLabel* Label12;
  TMyDriveComboBox* DriveComboBox1;
  QPushButton* Button1;
  QPushButton* Button10;
  QPushButton* Button2;
  QCheckBox* CheckBox8;
  QLabel* Label16;
  QGroupBox* GroupBox1;
  QPushButton* SpeedButton1;
  QStatusBar* StatusBar1;
  QLabel* StatusPanel0;
  QLabel* StatusPanel1;
  QPlainTextEdit* Memo1;
  QPushButton* Button8;
  QPushButton* Button3;
  QPushButton* Button4;
  QPushButton* Button9;
  QLabel* Label1;
  QLineEdit* Edit1;
  QPushButton* Button5;
  // inside GroupBox1
  QLabel* Label9;
  QCheckBox* chkRAR;
  QCheckBox* chkZIP;
  QCheckBox* chk7Z;
  QCheckBox* chkCAB;
  QLabel* Label2;
  QLineEdit* Edit2;
  QPushButton* Button6;
  QPushButton* Button7;
  QLabel* Label8;
  QComboBox* ComboBox3;
  QLabel* Label7;
  QComboBox* ComboBox2;
  QLabel* Label6;
  QComboBox* ComboBox1;
  QLabel* Label3;
  QLineEdit* Edit3;
  QLabel* Label11;
  QLineEdit* Edit4;
  QPushButton* Button12;
  QPushButton* Button11;
  // without a window
  TSDirDlg* SDirDlg1;
  THiResTimer HiTimer1;

  /// Archive types to save: bit TypeCode + 4 (19 RAR, 20 ZIP, 21 CAB, 22 7Z).
  uint32_t TypeMask = kDefaultTypeMask;
  /// ThumbSiz.ini and ThumbSpc.ini as read by FormCreate.
  ThumbSettings thumbs;

  /// Sets the texts of the current language and its font (start-up step 4).
  void ApplyUiTexts();

  // ---- state, for the handlers and for tests ----
  const SourceState& source() const { return source_; }
  int64_t current_sector() const { return current_sector_; }
  const QString& program_folder() const { return program_folder_; }
  WindowRunControl& run() { return run_; }

  /// Shows a sector in Memo1 and makes it current; false (nothing changes) when unreadable.
  bool ViewSector(int64_t sector);
  /// Opens an image file as if chosen in OPD (the path Button10Click takes after the dialog).
  void OpenImageFile(const QString& path);

 public slots:
  void FormCreate();
  void FormShow();
  void FormDestroy();
  void Button1Click();
  void Button10Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button8Click();
  void Button9Click();
  void Button5Click();
  void chkRARClick();
  void chkZIPClick();
  void chk7ZClick();
  void chkCABClick();
  void Button6Click();
  void Button7Click();
  void SpeedButton1Click();
  void ComboBox3Click();
  void ComboBox2Click();
  void ComboBox1Click();
  void Button12Click();
  void Button11Click();
  void HiTimer1Timer();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;  // FormClose
  bool eventFilter(QObject* watched, QEvent* event) override;  // Edit1KeyDown, Edit1KeyPress
  void resizeEvent(QResizeEvent* event) override;

 private:
  void CreateControls();
  void FitDumpLines();
  void FormClose();
  void Edit1KeyDown(int key);
  void Edit1KeyPress(int key);
  void ApplyOpenView(const OpenView& view);
  void ShowError(int slot);
  void ShowPlain(const QString& text);
  void SetTypeBit(int bit, bool on);
  void StartTick();
  void RestoreMainWindow();

  WindowRunControl& run_;
  Options options_;
  std::unique_ptr<DialogSeam> own_dialogs_;
  DialogSeam* dialogs_;
  QString program_folder_;
  SourceState source_;
  std::unique_ptr<SectorReader> reader_;
  int64_t current_sector_ = 0;
  bool shown_once_ = false;
};

/// The three windows of the program, created in start-up order: TForm1 (running
/// FormCreate), TForm2, TForm3; then the texts are applied.
class QuorvexWindows {
 public:
  explicit QuorvexWindows(TForm1::Options options = {});
  ~QuorvexWindows();
  WindowRunControl run;
  std::unique_ptr<TForm1> Form1;
  std::unique_ptr<TForm2> Form2;
  std::unique_ptr<TForm3> Form3;
};

}  // namespace quorvex
