#include "app/gui/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTextDocument>
#include <exception>

#include "app/ui_text.h"
#include "backup/backup.h"
#include "engine/scan_driver.h"
#include "platform/device_identity.h"
#include "source/fs_detect.h"
#include "viewer/hex_dump.h"
#include "viewer/hex_view.h"

namespace quorvex {
namespace {

// Text slots used by the window.
constexpr int kSlotCaption = 1;
constexpr int kSlotOpenDrive = 2;
constexpr int kSlotOpenImage = 3;
constexpr int kSlotClose = 4;
constexpr int kSlotSectorLabel = 5;
constexpr int kSlotGoto = 6;
constexpr int kSlotFileType = 7;
constexpr int kSlotSaveTo = 8;
constexpr int kSlotBrowse = 9;
constexpr int kSlotPreviousFs = 11;
constexpr int kSlotClusterSize = 12;
constexpr int kSlotScanRange = 13;
constexpr int kSlotStartRescue = 14;
constexpr int kSlotBackup = 15;
constexpr int kSlotError = 17;
constexpr int kSlotInvalidSector = 19;
constexpr int kSlotNoFolder = 21;
constexpr int kSlotOnSource = 22;
constexpr int kSlotRescuedFile = 27;
constexpr int kSlotFinished = 29;
constexpr int kSlotBackupBadRange = 35;
constexpr int kSlotDeleteQuestion = 44;
constexpr int kSlotPrompt = 45;
constexpr int kSlotSteps = 60;
constexpr int kSlotMore = 62;
constexpr int kSlotReason = 66;
constexpr int kSlotDeleted = 67;
constexpr int kSlotFormatted = 68;
constexpr int kSlotRepartitioned = 69;
constexpr int kSlotLostDataOn = 78;
constexpr int kSlotViewFolder = 83;
constexpr int kSlotFreeSpaceOnly = 85;

constexpr int kWindowFontPixels = 13;
constexpr int kMemoFontPixels = 12;
constexpr int kStatusBarHeight = 19;
constexpr int kEditHeight = 21;
constexpr int kPageStep = 10;
constexpr uint32_t kTickMs = 200;

const QString kImageFilter = QStringLiteral("磁盘映像文件(*.img)");
// "All files" means every file: the "*.*" of the filter's text would miss names without a dot.
const QString kOpenFilter = QStringLiteral("磁盘映像文件(*.img);;所有文件(*)");
const QString kFolderCaption = QStringLiteral("恢复文件保存到");

QString Q(const std::string& text) { return QString::fromStdString(text); }
QString T(int slot) { return Q(UiText(slot)); }

QLabel* MakeLabel(QWidget* parent, const char* name, int left, int top) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(left, top);
  return label;
}

/// A right-aligned label keeps its right edge where the layout puts it, next to the
/// control it names, whatever the length of its text.
QLabel* MakeRightLabel(QWidget* parent, const char* name, int right, int top) {
  QLabel* label = MakeLabel(parent, name, 0, top);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label->setProperty("right_edge", right);
  return label;
}

void SetLabelText(QLabel* label, const QString& text) {
  label->setText(text);
  label->adjustSize();
  const QVariant right = label->property("right_edge");
  if (right.isValid()) label->move(right.toInt() - label->width(), label->y());
}

QPushButton* MakeButton(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* button = new QPushButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(left, top, width, height);
  button->setAutoDefault(false);
  return button;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int left, int top, int width) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(left, top, width, kEditHeight);
  return edit;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* box = new QCheckBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(left, top, width, height);
  return box;
}

QComboBox* MakeCombo(QWidget* parent, const char* name, int left, int top, int width) {
  auto* box = new QComboBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(left, top, width, kEditHeight);
  return box;
}

/// A signed 64-bit decimal number, -1 when the text is not one.
int64_t SectorNumber(const QString& text) {
  bool ok = false;
  const qlonglong value = text.toLongLong(&ok, 10);
  return ok ? static_cast<int64_t>(value) : -1;
}

/// The layout's faces are Windows fonts; where they are missing, the nearest installed
/// faces of the same widths stand in (before the generic fallbacks, which run wider).
void InstallFontSubstitutes() {
  QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Nimbus Sans"),
                              QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
  QFont::insertSubstitutions(QStringLiteral("Courier New"),
                             {QStringLiteral("Liberation Mono"), QStringLiteral("Cousine"),
                              QStringLiteral("Nimbus Mono PS"), QStringLiteral("DejaVu Sans Mono")});
  QFont::insertSubstitutions(QStringLiteral("宋体"),
                             {QStringLiteral("SimSun"), QStringLiteral("Noto Sans CJK SC"),
                              QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Droid Sans Fallback")});
  QFont::insertSubstitutions(QStringLiteral("細明體"),
                             {QStringLiteral("PMingLiU"), QStringLiteral("Noto Sans CJK TC"),
                              QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Droid Sans Fallback")});
}

}  // namespace

// ---- creation -------------------------------------------------------------------------

TForm1::TForm1(WindowRunControl& run, Options options)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      run_(run),
      options_(std::move(options)),
      reader_(std::make_unique<SectorReader>()) {
  setObjectName(QStringLiteral("Form1"));
  if (options_.dialogs == nullptr) own_dialogs_ = std::make_unique<QtDialogs>();
  dialogs_ = options_.dialogs != nullptr ? options_.dialogs : own_dialogs_.get();
  CreateControls();
  FormCreate();
}

TForm1::~TForm1() { FormDestroy(); }

void TForm1::CreateControls() {
  setFixedSize(kClientWidth, kCollapsedHeight);

  Label5 = MakeLabel(this, "Label5", 16, 8);
  Label12 = MakeRightLabel(this, "Label12", 125, 44);
  DriveComboBox1 = new TMyDriveComboBox(this, [this] {
    DriveListOptions o = options_.drive_options;
    o.upper_case = true;
    return o;
  }());
  DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
  DriveComboBox1->SetTextCase(TTextCase::tcUpperCase);
  DriveComboBox1->setGeometry(128, 42, 337, kEditHeight);
  Button1 = MakeButton(this, "Button1", 471, 40, 78, 25);
  Button10 = MakeButton(this, "Button10", 550, 40, 91, 25);
  Button2 = MakeButton(this, "Button2", 646, 40, 43, 25);
  CheckBox8 = MakeCheck(this, "CheckBox8", 24, 72, 249, 17);
  CheckBox8->setEnabled(false);
  Label16 = MakeLabel(this, "Label16", 328, 73);
  Label16->setFixedWidth(537);

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(8, 92, 753, 146);
  GroupBox1->hide();
  Label9 = MakeRightLabel(GroupBox1, "Label9", 85, 17);
  chkRAR = MakeCheck(GroupBox1, "chkRAR", 88, 16, 54, 17);
  chkZIP = MakeCheck(GroupBox1, "chkZIP", 144, 16, 54, 17);
  chk7Z = MakeCheck(GroupBox1, "chk7Z", 200, 16, 54, 17);
  chkCAB = MakeCheck(GroupBox1, "chkCAB", 256, 16, 54, 17);
  chkRAR->setText(QStringLiteral("RAR"));
  chkZIP->setText(QStringLiteral("ZIP"));
  chk7Z->setText(QStringLiteral("7Z"));
  chkCAB->setText(QStringLiteral("CAB"));
  chkRAR->setChecked(true);
  chkZIP->setChecked(true);
  chk7Z->setChecked(true);
  Label2 = MakeRightLabel(GroupBox1, "Label2", 117, 44);
  Edit2 = MakeEdit(GroupBox1, "Edit2", 120, 40, 449);
  Button6 = MakeButton(GroupBox1, "Button6", 570, 39, 60, 25);
  Button7 = MakeButton(GroupBox1, "Button7", 632, 39, 97, 25);
  Label8 = MakeRightLabel(GroupBox1, "Label8", 78, 76);
  ComboBox3 = MakeCombo(GroupBox1, "ComboBox3", 81, 72, 136);
  Label7 = MakeRightLabel(GroupBox1, "Label7", 350, 76);
  ComboBox2 = MakeCombo(GroupBox1, "ComboBox2", 353, 72, 92);
  ComboBox2->addItems({QStringLiteral("FAT"), QStringLiteral("FAT32"), QStringLiteral("NTFS"), QStringLiteral("exFAT"),
                       QStringLiteral("HFS"), QStringLiteral("HFS+/HFSX"), QStringLiteral("OTHER")});
  Label6 = MakeRightLabel(GroupBox1, "Label6", 537, 76);
  ComboBox1 = MakeCombo(GroupBox1, "ComboBox1", 540, 72, 56);
  ComboBox1->addItems({QStringLiteral("0.5K"), QStringLiteral("1K"), QStringLiteral("2K"), QStringLiteral("4K"),
                       QStringLiteral("8K"), QStringLiteral("16K"), QStringLiteral("32K"), QStringLiteral("64K"),
                       QStringLiteral("128K")});
  Label3 = MakeRightLabel(GroupBox1, "Label3", 133, 108);
  Edit3 = MakeEdit(GroupBox1, "Edit3", 136, 104, 121);
  Label11 = MakeLabel(GroupBox1, "Label11", 260, 108);
  SetLabelText(Label11, QStringLiteral("-"));
  Edit4 = MakeEdit(GroupBox1, "Edit4", 268, 104, 121);
  Button12 = MakeButton(GroupBox1, "Button12", 500, 108, 86, 25);
  Button11 = MakeButton(GroupBox1, "Button11", 615, 108, 114, 25);

  SpeedButton1 = MakeButton(this, "SpeedButton1", 776, 212, 81, 25);
  SpeedButton1->setCheckable(true);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(8, 246, 854, 263);
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont memo_font(QStringLiteral("Courier New"));
  memo_font.setStyleHint(QFont::TypeWriter);
  memo_font.setFixedPitch(true);
  memo_font.setPixelSize(kMemoFontPixels);
  Memo1->setFont(memo_font);
  FitDumpLines();
  Memo1->setEnabled(false);
  Button8 = MakeButton(this, "Button8", 16, 514, 32, 25);
  Button3 = MakeButton(this, "Button3", 48, 514, 32, 25);
  Button4 = MakeButton(this, "Button4", 80, 514, 32, 25);
  Button9 = MakeButton(this, "Button9", 112, 514, 32, 25);
  Button8->setText(QStringLiteral("|<"));
  Button3->setText(QStringLiteral("<"));
  Button4->setText(QStringLiteral(">"));
  Button9->setText(QStringLiteral(">|"));
  for (QPushButton* b : {Button8, Button3, Button4, Button9}) b->setEnabled(false);
  Label1 = MakeRightLabel(this, "Label1", 203, 518);
  Edit1 = MakeEdit(this, "Edit1", 206, 514, 80);
  Edit1->setEnabled(false);
  Edit1->installEventFilter(this);
  Button5 = MakeButton(this, "Button5", 288, 514, 41, 25);
  Button5->setEnabled(false);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setAutoFillBackground(true);  // covers the hex view while the window is collapsed
  StatusPanel0 = new QLabel(StatusBar1);
  StatusPanel0->setFixedWidth(136);
  StatusPanel1 = new QLabel(StatusBar1);
  StatusPanel1->setFixedWidth(152);
  StatusBar1->addWidget(StatusPanel0);
  StatusBar1->addWidget(StatusPanel1);
  StatusBar1->setGeometry(0, height() - kStatusBarHeight, width(), kStatusBarHeight);
  StatusBar1->raise();

  SDirDlg1 = new TSDirDlg(this);
  SDirDlg1->Caption = kFolderCaption;
  SDirDlg1->browser = [this](QWidget* parent, const QString& caption, const QString& start) {
    return dialogs_->ExistingDirectory(parent, caption, start);
  };

  HiTimer1.SetInterval(kTickMs);
  HiTimer1.OnTimer = [this](THiResTimer&) { HiTimer1Timer(); };

  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button10, &QPushButton::clicked, this, &TForm1::Button10Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
  connect(Button8, &QPushButton::clicked, this, &TForm1::Button8Click);
  connect(Button9, &QPushButton::clicked, this, &TForm1::Button9Click);
  connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
  connect(chkRAR, &QCheckBox::toggled, this, &TForm1::chkRARClick);
  connect(chkZIP, &QCheckBox::toggled, this, &TForm1::chkZIPClick);
  connect(chk7Z, &QCheckBox::toggled, this, &TForm1::chk7ZClick);
  connect(chkCAB, &QCheckBox::toggled, this, &TForm1::chkCABClick);
  connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
  connect(Button7, &QPushButton::clicked, this, &TForm1::Button7Click);
  connect(SpeedButton1, &QPushButton::clicked, this, &TForm1::SpeedButton1Click);
  // activated: only a choice made by the user, not a selection made by the program.
  connect(ComboBox3, &QComboBox::activated, this, &TForm1::ComboBox3Click);
  connect(ComboBox2, &QComboBox::activated, this, &TForm1::ComboBox2Click);
  connect(ComboBox1, &QComboBox::activated, this, &TForm1::ComboBox1Click);
  connect(Button12, &QPushButton::clicked, this, &TForm1::Button12Click);
  connect(Button11, &QPushButton::clicked, this, &TForm1::Button11Click);
}

void TForm1::FormCreate() {
  program_folder_ = options_.program_folder.isEmpty() ? QCoreApplication::applicationDirPath() : options_.program_folder;
  if (!program_folder_.endsWith(QLatin1Char('/'))) program_folder_ += QLatin1Char('/');
  Edit2->setText(program_folder_);
  std::string message;
  thumbs = LoadThumbSettings(program_folder_.toStdString(), &message);
  if (!message.empty()) ShowPlain(Q(message));
}

void TForm1::ApplyUiTexts() {
  QFont font(QString::fromUtf8(UiFontName().data(), static_cast<qsizetype>(UiFontName().size())));
  font.setPixelSize(kWindowFontPixels);
  setFont(font);
  Button1->setText(T(kSlotOpenDrive));
  Button10->setText(T(kSlotOpenImage));
  Button2->setText(T(kSlotClose));
  SetLabelText(Label5, T(kSlotSteps));
  SetLabelText(Label1, T(kSlotSectorLabel));
  Button5->setText(T(kSlotGoto));
  SetLabelText(Label9, T(kSlotFileType));
  SetLabelText(Label2, T(kSlotSaveTo));
  Button6->setText(T(kSlotBrowse));
  SetLabelText(Label7, T(kSlotPreviousFs));
  SetLabelText(Label6, T(kSlotClusterSize));
  SetLabelText(Label3, T(kSlotScanRange));
  Button12->setText(T(kSlotStartRescue));
  Button11->setText(T(kSlotBackup));
  SpeedButton1->setText(T(kSlotMore));
  SetLabelText(Label8, T(kSlotReason));
  ComboBox3->clear();
  ComboBox3->addItems({T(kSlotDeleted), T(kSlotFormatted), T(kSlotRepartitioned)});
  SetLabelText(Label12, T(kSlotLostDataOn));
  Button7->setText(T(kSlotViewFolder));
  CheckBox8->setText(T(kSlotFreeSpaceOnly));
  // The labels' sizes follow the new font.
  for (QLabel* label : findChildren<QLabel*>()) {
    if (label != StatusPanel0 && label != StatusPanel1 && label != Label16) SetLabelText(label, label->text());
  }
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!shown_once_) {
    shown_once_ = true;
    CentreOnDesktop(this);
    FormShow();
  }
}

void TForm1::FormShow() {
  setWindowTitle(T(kSlotCaption));
  ComboBox3->setCurrentIndex(0);
  for (int i = DriveComboBox1->EntryCount() - 1; i >= 0; --i) {
    if (DriveComboBox1->Entry(i).picture == DrivePicture::kNetwork) DriveComboBox1->RemoveEntry(i);
  }
  DriveListOptions drives = options_.drive_options;
  drives.upper_case = true;
  for (const DriveEntry& entry : ListPhysicalDrives(drives)) DriveComboBox1->AddEntry(entry);
  if (DriveComboBox1->currentIndex() < 0 && DriveComboBox1->count() > 0) DriveComboBox1->setCurrentIndex(0);
}

void TForm1::FormDestroy() {
  // The candidate list lives only inside a rescue; what outlives the window is the timer
  // and an open source.
  HiTimer1.SetEnabled(false);
  CloseSource(source_, *reader_);
}

void TForm1::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TForm1::FormClose() {
  HiTimer1.SetEnabled(false);
  Button2Click();
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  StatusBar1->setGeometry(0, height() - kStatusBarHeight, width(), kStatusBarHeight);
  StatusBar1->raise();
}

void TForm1::FitDumpLines() {
  // A dump line is 117 characters for Courier New's 7-pixel advance; a stand-in face whose
  // advance is wider is drawn a little tighter so that the text column stays in view.
  QFont font = Memo1->font();
  font.setLetterSpacing(QFont::AbsoluteSpacing, 0);
  const qreal advance = QFontMetricsF(font).horizontalAdvance(QLatin1Char('0'));
  const int scroll_bar = Memo1->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, Memo1);
  const qreal room = Memo1->width() - 2 * Memo1->frameWidth() - scroll_bar - 2 * Memo1->document()->documentMargin() - 4;
  const qreal fit = room / static_cast<qreal>(kHexDumpLineLength);
  if (advance > fit) font.setLetterSpacing(QFont::AbsoluteSpacing, fit - advance);
  Memo1->setFont(font);
}

// ---- messages -------------------------------------------------------------------------

void TForm1::ShowError(int slot) { dialogs_->Message(this, T(kSlotError), T(slot), QMessageBox::Ok); }

void TForm1::ShowPlain(const QString& text) { dialogs_->Message(this, QString(), text, QMessageBox::Ok); }

// ---- opening and closing --------------------------------------------------------------

void TForm1::Button1Click() {
  Button2Click();
  const int index = DriveComboBox1->currentIndex();
  if (index < 0 || index >= DriveComboBox1->EntryCount()) return;
  ApplyOpenView(OpenDrive(source_, *reader_, DriveComboBox1->Entry(index)));
}

void TForm1::Button10Click() {
  Button2Click();
  const std::optional<QString> path = dialogs_->OpenFileName(this, kOpenFilter);
  if (!path) return;
  OpenImageFile(*path);
}

void TForm1::OpenImageFile(const QString& path) {
  Button2Click();
  ApplyOpenView(OpenImage(source_, *reader_, path.toStdString()));
}

void TForm1::ApplyOpenView(const OpenView& view) {
  if (!view.opened) {
    ShowError(view.message_slot);
    Button2Click();
    return;
  }
  ComboBox3->setCurrentIndex(view.cause_item);
  ComboBox2->setEnabled(view.boxes_enabled);
  ComboBox1->setEnabled(view.boxes_enabled);
  if (view.free_space_enabled) CheckBox8->setEnabled(true);
  ComboBox2->setCurrentIndex(view.fs_item);
  ComboBox1->setCurrentIndex(view.cluster_item);
  Edit3->setText(Q(view.first_sector_text));
  Edit4->setText(Q(view.last_sector_text));
  if (view.set_sector_size_panel) StatusPanel0->setText(Q(view.sector_size_panel));
  StatusPanel1->setText(Q(view.total_sectors_panel));
  current_sector_ = 0;
  ViewSector(0);
  Memo1->setEnabled(true);
  Edit1->setEnabled(true);
  Button5->setEnabled(true);
  GroupBox1->show();
  DriveComboBox1->setEnabled(false);
  Button1->setEnabled(false);
  Button10->setEnabled(false);
  Label16->setText(Q(view.opened_label));
}

void TForm1::Button2Click() {
  CloseSource(source_, *reader_);
  Memo1->clear();
  for (QWidget* w : std::initializer_list<QWidget*>{Button3, Button4, Button8, Button9, Memo1, Edit1, Button5})
    w->setEnabled(false);
  GroupBox1->hide();
  DriveComboBox1->setEnabled(true);
  Button1->setEnabled(true);
  Button10->setEnabled(true);
  CheckBox8->setChecked(false);
  CheckBox8->setEnabled(false);
  Label16->clear();
}

// ---- the hex view ---------------------------------------------------------------------

bool TForm1::ViewSector(int64_t sector) {
  if (!source_.is_open() || sector < 0 || sector > source_.working.last_sector) return false;
  reader_->SetBytesPerSector(source_.working.bytes_per_sector);
  if (!reader_->ReadSectorDirect(sector)) return false;
  ShowSectorDump(Memo1, reader_->sector_buffer(), source_.working.bytes_per_sector);
  current_sector_ = sector;
  Edit1->setText(QString::number(sector));
  Button3->setEnabled(sector > 0);
  Button4->setEnabled(sector < source_.working.last_sector);
  Button8->setEnabled(Button3->isEnabled());
  Button9->setEnabled(Button4->isEnabled());
  return true;
}

void TForm1::Button8Click() {
  if (source_.is_open()) ViewSector(0);
}

void TForm1::Button3Click() {
  if (source_.is_open() && current_sector_ > 0) ViewSector(current_sector_ - 1);
}

void TForm1::Button4Click() {
  if (source_.is_open() && current_sector_ < source_.working.last_sector) ViewSector(current_sector_ + 1);
}

void TForm1::Button9Click() {
  if (source_.is_open()) ViewSector(source_.working.last_sector);
}

void TForm1::Button5Click() {
  if (!source_.is_open()) return;
  const int64_t n = SectorNumber(Edit1->text());
  if (n >= 0 && n <= source_.working.last_sector) ViewSector(n);
  else ShowError(kSlotInvalidSector);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit1 && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    Edit1KeyDown(key);
    Edit1KeyPress(key);
    // The keys are left to the edit box as well.
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::Edit1KeyDown(int key) {
  if (!source_.is_open()) return;
  const int64_t last = source_.working.last_sector;
  switch (key) {
    case Qt::Key_Up: Button3Click(); break;
    case Qt::Key_Down: Button4Click(); break;
    case Qt::Key_PageDown:
      if (current_sector_ < last) ViewSector(std::min(current_sector_ + kPageStep, last));
      break;
    case Qt::Key_PageUp:
      if (current_sector_ > 0) ViewSector(std::max<int64_t>(current_sector_ - kPageStep, 0));
      break;
    default: break;
  }
}

void TForm1::Edit1KeyPress(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) Button5Click();
}

// ---- options --------------------------------------------------------------------------

void TForm1::SetTypeBit(int bit, bool on) {
  if (on) TypeMask |= 1u << bit;
  else TypeMask &= ~(1u << bit);
}

void TForm1::chkRARClick() { SetTypeBit(kMaskBitRar, chkRAR->isChecked()); }
void TForm1::chkZIPClick() { SetTypeBit(kMaskBitZip, chkZIP->isChecked()); }
void TForm1::chk7ZClick() { SetTypeBit(kMaskBit7z, chk7Z->isChecked()); }
void TForm1::chkCABClick() { SetTypeBit(kMaskBitCab, chkCAB->isChecked()); }

void TForm1::Button6Click() {
  SDirDlg1->Directory = Edit2->text();
  if (SDirDlg1->Execute(this)) Edit2->setText(SDirDlg1->Directory);
}

void TForm1::Button7Click() {
  const QFileInfo folder(Edit2->text());
  if (!Edit2->text().isEmpty() && folder.isDir()) dialogs_->OpenFolder(folder.absoluteFilePath());
}

void TForm1::SpeedButton1Click() {
  setFixedSize(kClientWidth, SpeedButton1->isChecked() ? kExpandedHeight : kCollapsedHeight);
}

void TForm1::ComboBox3Click() {
  if (!source_.is_open()) return;
  const CauseOfLossView view = CauseOfLossChosen(source_.detected, source_.working, ComboBox3->currentIndex());
  if (view.message_slot != 0) ShowError(view.message_slot);
  ComboBox3->setCurrentIndex(view.cause_item);
  ComboBox2->setEnabled(view.boxes_enabled);
  ComboBox1->setEnabled(view.boxes_enabled);
  ComboBox2->setCurrentIndex(view.fs_item);
  ComboBox1->setCurrentIndex(view.cluster_item);
}

void TForm1::ComboBox2Click() {
  if (!source_.is_open()) return;
  ComboBox1->setCurrentIndex(FileSystemChosen(source_.working, ComboBox2->currentIndex()));
}

void TForm1::ComboBox1Click() {
  if (!source_.is_open()) return;
  ClusterSizeChosen(source_.working, ComboBox1->currentIndex(), true);
}

// ---- rescue and backup ----------------------------------------------------------------

void TForm1::HiTimer1Timer() { run_.ui_tick.fetch_add(kTickMs, std::memory_order_relaxed); }

void TForm1::StartTick() {
  try {
    HiTimer1.SetEnabled(true);
  } catch (const EHiResTimer& e) {
    // Without the tick the loops refresh nothing until they end; the operation still runs.
    ShowPlain(QString::fromUtf8(e.what()));
  }
}

void TForm1::RestoreMainWindow() {
  show();
  raise();
  activateWindow();
}

void TForm1::Button12Click() {
  if (!source_.is_open()) return;
  RescueRequest request;
  request.folder_text = Edit2->text().toStdString();
  request.first_text = Edit3->text().toStdString();
  request.last_text = Edit4->text().toStdString();
  request.type_mask = TypeMask;
  request.free_space_only = CheckBox8->isChecked();
  request.cluster_bytes = ClusterItemBytes(ComboBox1->currentIndex());
  const DeviceIdentity identity = source_.device->Identity();
  ScanSettings settings;
  const int slot = CheckRescue(
      request, source_, [&identity](const std::string& folder) { return SameDeviceAsSource(folder, identity); },
      &settings);
  if (slot != 0) {
    ShowError(slot);
    if (slot == kSlotNoFolder || slot == kSlotOnSource) Edit2->setFocus();
    return;
  }
  StartTick();
  RescueOutcome outcome;
  try {
    outcome = RunRescue(source_, *reader_, settings, run_, nullptr, &thumbs);
  } catch (const std::exception& e) {
    // Whatever ended the rescue, the user gets the main window back and is told why.
    run_.search_cancel.store(true);
    run_.CloseWindow(ProgressWindow::kSearch);
    run_.CloseWindow(ProgressWindow::kRecovery);
    RestoreMainWindow();
    dialogs_->Message(this, T(kSlotError), QString::fromUtf8(e.what()), QMessageBox::Ok);
    return;
  }
  if (outcome.message_slot != 0) {
    RestoreMainWindow();
    ShowPlain(T(outcome.message_slot));
    return;
  }
  if (outcome.free_space_dropped) {
    CheckBox8->setChecked(false);
    if (outcome.free_space_disable) CheckBox8->setEnabled(false);
  }
  const QString text = T(kSlotRescuedFile) + QString::number(outcome.rescued_count);
  dialogs_->Message(this, T(kSlotFinished), text, QMessageBox::Ok);
  StatusPanel0->setText(text);
  RestoreMainWindow();
}

void TForm1::Button11Click() {
  if (!source_.is_open()) return;
  BackupRequest request;
  request.first_text = Edit3->text().toStdString();
  request.last_text = Edit4->text().toStdString();
  request.free_space_only = CheckBox8->isChecked();
  const int64_t first = SectorNumber(Edit3->text());
  const int64_t last = SectorNumber(Edit4->text());
  if (first < 0 || first > last || last > source_.working.last_sector) {
    ShowError(kSlotBackupBadRange);
    return;
  }
  const std::optional<QString> path = dialogs_->SaveFileName(this, kImageFilter, QStringLiteral("img"));
  if (!path) return;
  request.image_path = path->toStdString();
  StartTick();
  const DeviceIdentity identity = source_.device->Identity();
  BackupOutcome outcome;
  try {
    outcome = RunBackup(source_, *reader_, request, run_,
                        [&identity](const std::string& folder) { return SameDeviceAsSource(folder, identity); });
  } catch (const std::exception& e) {
    run_.search_cancel.store(true);
    run_.CloseWindow(ProgressWindow::kSearch);
    RestoreMainWindow();
    dialogs_->Message(this, T(kSlotError), QString::fromUtf8(e.what()), QMessageBox::Ok);
    return;
  }
  run_.search_cancel.store(true);
  run_.CloseWindow(ProgressWindow::kSearch);
  if (outcome.free_space_dropped) {
    CheckBox8->setChecked(false);
    if (outcome.free_space_disable) CheckBox8->setEnabled(false);
  }
  QString text = outcome.message_slot != 0 ? T(outcome.message_slot) : QString();
  if (!outcome.reason.empty()) text += text.isEmpty() ? Q(outcome.reason) : QStringLiteral(" (") + Q(outcome.reason) + QLatin1Char(')');
  const QString caption = outcome.caption_slot != 0 ? T(outcome.caption_slot) : QString();
  switch (outcome.result) {
    case BackupResult::kNotRun:
    case BackupResult::kCancelledCollecting:
      break;
    case BackupResult::kCancelled:
      if (dialogs_->Message(this, caption, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
        DeleteBackupImage(request.image_path);
      break;
    case BackupResult::kWriteFailed:
      dialogs_->Message(this, caption, text, QMessageBox::Ok);
      if (outcome.ask_delete &&
          dialogs_->Message(this, T(kSlotPrompt), T(kSlotDeleteQuestion), QMessageBox::Yes | QMessageBox::No) ==
              QMessageBox::Yes)
        DeleteBackupImage(request.image_path);
      break;
    default:
      dialogs_->Message(this, caption, text, QMessageBox::Ok);
      break;
  }
  RestoreMainWindow();
}

// ---- the three windows ----------------------------------------------------------------

QuorvexWindows::QuorvexWindows(TForm1::Options options) {
  InstallFontSubstitutes();
  Form1 = std::make_unique<TForm1>(run, std::move(options));
  Form2 = std::make_unique<TForm2>(run);
  Form3 = std::make_unique<TForm3>(run);
  run.Attach(Form1.get(), Form2.get(), Form3.get());
  Form1->ApplyUiTexts();
}

QuorvexWindows::~QuorvexWindows() {
  // The progress windows go first; the main window's FormDestroy stops the tick.
  Form3.reset();
  Form2.reset();
  Form1.reset();
}

}  // namespace quorvex
