// The windows driven as a user drives them: buttons clicked, keys pressed, dialogs
// answered by a fake, under the offscreen platform.

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "app/gui/main_window.h"
#include "app/ui_text.h"
#include "gui/fake_dialogs.h"

namespace quorvex {
namespace {

const QString kDemoImage = QStringLiteral(QUORVEX_SOURCE_DIR "/demo/demo.img");
const QString kDemoOriginals = QStringLiteral(QUORVEX_SOURCE_DIR "/demo/originals");
constexpr int64_t kDemoLastSector = 8 * 1024 * 1024 / 512 - 1;

QByteArray Sha256(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(file.write(bytes), bytes.size());
}

/// Runs action at every pass of the event loop until it returns true (then stops).
QTimer* WhenReady(QObject* owner, std::function<bool()> action) {
  auto* timer = new QTimer(owner);
  timer->setInterval(0);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
    if (action()) timer->stop();
  });
  timer->start();
  return timer;
}

}  // namespace

class GuiTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir program_dir_;
  QTemporaryDir sysfs_dir_;
  FakeDialogs dialogs_;
  std::unique_ptr<QuorvexWindows> windows_;

  TForm1& Form1() { return *windows_->Form1; }

  /// Fresh windows whose drive list looks at an empty sysfs (no real disks are touched).
  void MakeWindows(const QString& program_folder) {
    windows_.reset();
    TForm1::Options options;
    options.dialogs = &dialogs_;
    options.drive_options.sysfs_root = sysfs_dir_.path().toStdString();
    options.drive_options.dev_root = sysfs_dir_.path().toStdString();
    options.drive_options.use_blkid = false;
    options.program_folder = program_folder;
    windows_ = std::make_unique<QuorvexWindows>(options);
    Form1().show();
  }

  void OpenDemo() {
    dialogs_.open_answer = kDemoImage;
    Form1().Button10->click();
    QVERIFY(Form1().source().is_open());
  }

  void VerifyIdle() {
    QVERIFY(!Form1().source().is_open());
    QVERIFY(!Form1().GroupBox1->isVisibleTo(&Form1()));
    for (QWidget* w : std::initializer_list<QWidget*>{Form1().Memo1, Form1().Edit1, Form1().Button5, Form1().Button3,
                                                      Form1().Button4, Form1().Button8, Form1().Button9,
                                                      Form1().CheckBox8})
      QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    for (QWidget* w : std::initializer_list<QWidget*>{Form1().DriveComboBox1, Form1().Button1, Form1().Button10})
      QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    QVERIFY(Form1().Memo1->toPlainText().isEmpty());
    QVERIFY(Form1().Label16->text().isEmpty());
    QVERIFY(!Form1().CheckBox8->isChecked());
  }

  /// Files the rescue wrote, each of which must be one of the demo's deleted archives.
  int VerifyRescuedFiles(const QString& folder) {
    QSet<QByteArray> originals;
    for (const QString& name : QDir(kDemoOriginals).entryList({QStringLiteral("*.zip"), QStringLiteral("*.7z"),
                                                              QStringLiteral("*.rar")}))
      originals.insert(Sha256(kDemoOriginals + QLatin1Char('/') + name));
    const QStringList rescued = QDir(folder).entryList({QStringLiteral("TEST_*")}, QDir::Files);
    for (const QString& name : rescued)
      if (!originals.contains(Sha256(folder + QLatin1Char('/') + name))) qWarning("not an original: %s", qPrintable(name));
    return static_cast<int>(rescued.size());
  }

 private slots:
  void initTestCase() {
    SelectUiText(TextVariant::kEnglish);
    QVERIFY(program_dir_.isValid());
    QVERIFY(sysfs_dir_.isValid());
    QVERIFY(QFile::exists(kDemoImage));
  }

  void init() {
    dialogs_ = FakeDialogs();
    MakeWindows(program_dir_.path());
  }

  void cleanup() { windows_.reset(); }

  void startUpState() {
    QCOMPARE(Form1().width(), TForm1::kClientWidth);
    QCOMPARE(Form1().height(), TForm1::kCollapsedHeight);
    QCOMPARE(Form1().windowTitle(), QString::fromStdString(UiText(1)));
    QCOMPARE(Form1().Button1->text(), QStringLiteral("Open Drive"));
    QCOMPARE(Form1().ComboBox3->count(), 3);
    QCOMPARE(Form1().ComboBox3->itemText(1), QStringLiteral("Formatted"));
    QCOMPARE(Form1().Edit2->text(), program_dir_.path() + QLatin1Char('/'));
    QCOMPARE(Form1().TypeMask, 5767168u);
    QCOMPARE(Form1().thumbs.pixel_limit, -1);
    QVERIFY(!Form1().thumbs.pixel_list.has_value());
    QVERIFY(dialogs_.messages.empty());
    VerifyIdle();
  }

  void languages_data() {
    QTest::addColumn<int>("variant");
    QTest::newRow("Simplified Chinese") << static_cast<int>(TextVariant::kSimplifiedChinese);
    QTest::newRow("Traditional Chinese") << static_cast<int>(TextVariant::kTraditionalChinese);
    QTest::newRow("English") << static_cast<int>(TextVariant::kEnglish);
  }
  void languages() {
    QFETCH(int, variant);
    const auto v = static_cast<TextVariant>(variant);
    SelectUiText(v);
    auto restore = qScopeGuard([] { SelectUiText(TextVariant::kEnglish); });
    MakeWindows(program_dir_.path());
    const auto text = [v](int slot) { return QString::fromStdString(UiTextOf(v, slot)); };
    QCOMPARE(Form1().font().family(), QString::fromUtf8(UiFontNameOf(v).data(), static_cast<qsizetype>(UiFontNameOf(v).size())));
    QCOMPARE(Form1().font().pixelSize(), 13);
    QCOMPARE(Form1().Button10->text(), text(3));
    QCOMPARE(Form1().Label5->text(), text(60));
    QCOMPARE(Form1().CheckBox8->text(), text(85));
    QCOMPARE(Form1().ComboBox3->itemText(2), text(69));
    QCOMPARE(Form1().windowTitle(), text(1));
    // Texts that are the same in every language.
    QCOMPARE(Form1().Button9->text(), QStringLiteral(">|"));
    QCOMPARE(Form1().ComboBox2->itemText(5), QStringLiteral("HFS+/HFSX"));
    QCOMPARE(Form1().Memo1->font().family(), QStringLiteral("Courier New"));
    // A right-aligned label keeps its right edge next to its control whatever its length.
    QCOMPARE(Form1().Label12->geometry().right() + 1, 125);
  }

  void startFolder_data() {
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("start");
    QTest::newRow("root") << "/" << "/";
    QTest::newRow("trailing separator") << "/data/out/" << "/data/out";
    QTest::newRow("plain") << "/data/out" << "/data/out";
    QTest::newRow("empty: the current folder") << "" << QDir::currentPath();
  }
  void startFolder() {
    QFETCH(QString, directory);
    QFETCH(QString, start);
    QCOMPARE(TSDirDlg::StartFolder(directory), start);
  }

  void openImageThroughDialog() {
    OpenDemo();
    QVERIFY(dialogs_.messages.empty());
    QVERIFY(Form1().GroupBox1->isVisibleTo(&Form1()));
    for (QWidget* w : std::initializer_list<QWidget*>{Form1().Memo1, Form1().Edit1, Form1().Button5, Form1().Button4,
                                                      Form1().Button9, Form1().CheckBox8})
      QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    for (QWidget* w : std::initializer_list<QWidget*>{Form1().DriveComboBox1, Form1().Button1, Form1().Button10,
                                                      Form1().Button3, Form1().Button8, Form1().ComboBox2,
                                                      Form1().ComboBox1})
      QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    // The demo is an 8 MiB FAT16 volume with 1 KiB clusters.
    QCOMPARE(Form1().Label16->text(), QStringLiteral("Opened: demo.img"));
    QCOMPARE(Form1().ComboBox3->currentIndex(), 0);
    QCOMPARE(Form1().ComboBox2->currentText(), QStringLiteral("FAT"));
    QCOMPARE(Form1().ComboBox1->currentText(), QStringLiteral("1K"));
    QCOMPARE(Form1().Edit3->text(), QStringLiteral("0"));
    QCOMPARE(Form1().Edit4->text(), QString::number(kDemoLastSector));
    QCOMPARE(Form1().StatusPanel1->text(), QStringLiteral("Total Sectors: 16384"));
    QVERIFY(Form1().StatusPanel0->text().isEmpty());  // an image leaves the sector-size panel alone
    const QStringList lines = Form1().Memo1->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 17);
    QVERIFY(lines[0].startsWith(QStringLiteral("     0 1  2 3")));
    QVERIFY(lines[1].startsWith(QStringLiteral("000: EB3C 906D 6B66 732E 6661 7400 0202")));  // jump, "mkfs.fat"
    QCOMPARE(lines[1].mid(85, 12), QStringLiteral(".<.mkfs.fat."));
    QCOMPARE(lines[16].size(), 117);
    QCOMPARE(Form1().Edit1->text(), QStringLiteral("0"));
  }

  void failedOpen_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("message");
    QTest::newRow("missing file") << QStringLiteral("/nonexistent/none.img") << true;
    QTest::newRow("a folder") << QStringLiteral("/") << true;
    QTest::newRow("cancelled dialog") << QString() << false;
  }
  void failedOpen() {
    QFETCH(QString, path);
    QFETCH(bool, message);
    OpenDemo();
    Form1().Button2->click();  // Open IMG file is locked while a source is open
    if (path.isEmpty()) dialogs_.open_answer.reset();
    else dialogs_.open_answer = path;
    Form1().Button10->click();
    if (message) {
      QCOMPARE(dialogs_.messages.size(), size_t{1});
      QCOMPARE(dialogs_.LastCaption(), QStringLiteral("Error"));
      QCOMPARE(dialogs_.LastText(), QStringLiteral("Failed to open file!"));
    } else {
      QVERIFY(dialogs_.messages.empty());
    }
    VerifyIdle();
  }

  void closeResets() {
    OpenDemo();
    Form1().Button2->click();
    VerifyIdle();
    Form1().Button2->click();  // closing again only resets the controls
    VerifyIdle();
    QVERIFY(dialogs_.messages.empty());
  }

  void unrecognisedImageAndSlot70() {
    // 1,000,000 bytes without a file system: 1,953 whole sectors, "Repartitioned".
    const QString path = program_dir_.filePath(QStringLiteral("plain.img"));
    WriteFile(path, QByteArray(1000000, '\0'));
    Form1().OpenImageFile(path);
    QCOMPARE(Form1().Edit4->text(), QStringLiteral("1952"));
    QCOMPARE(Form1().ComboBox3->currentIndex(), 2);
    QVERIFY(Form1().ComboBox2->isEnabled());
    QCOMPARE(Form1().ComboBox2->currentText(), QStringLiteral("OTHER"));
    QVERIFY(!Form1().CheckBox8->isEnabled());
    Form1().ComboBox3->setCurrentIndex(0);
    emit Form1().ComboBox3->activated(0);
    QCOMPARE(dialogs_.LastText(), QStringLiteral("Unknown file system, not support this option!"));
    QCOMPARE(dialogs_.LastCaption(), QStringLiteral("Error"));
    QCOMPARE(Form1().ComboBox3->currentIndex(), 1);
    QVERIFY(Form1().ComboBox1->isEnabled());
    // Choosing a file system presets its cluster size: FAT32 below 128 MiB is 0.5K.
    Form1().ComboBox2->setCurrentIndex(1);
    emit Form1().ComboBox2->activated(1);
    QCOMPARE(Form1().ComboBox1->currentText(), QStringLiteral("0.5K"));
    QCOMPARE(Form1().source().working.cluster_offset, -1);
    Form1().ComboBox1->setCurrentIndex(3);
    emit Form1().ComboBox1->activated(3);
    QCOMPARE(Form1().source().working.sectors_per_cluster, 8u);  // 4K of 512-byte sectors
  }

  void typeMask_data() {
    QTest::addColumn<bool>("rar");
    QTest::addColumn<bool>("zip");
    QTest::addColumn<bool>("sevenz");
    QTest::addColumn<bool>("cab");
    QTest::addColumn<uint>("mask");
    QTest::newRow("initial") << true << true << true << false << 5767168u;
    QTest::newRow("cab only") << false << false << false << true << (1u << 21);
    QTest::newRow("rar and cab") << true << false << false << true << ((1u << 19) | (1u << 21));
    QTest::newRow("all") << true << true << true << true << ((1u << 19) | (1u << 20) | (1u << 21) | (1u << 22));
    QTest::newRow("none") << false << false << false << false << 0u;
  }
  void typeMask() {
    QFETCH(bool, rar);
    QFETCH(bool, zip);
    QFETCH(bool, sevenz);
    QFETCH(bool, cab);
    QFETCH(uint, mask);
    OpenDemo();
    const std::pair<QCheckBox*, bool> boxes[] = {
        {Form1().chkRAR, rar}, {Form1().chkZIP, zip}, {Form1().chk7Z, sevenz}, {Form1().chkCAB, cab}};
    for (const auto& [box, ticked] : boxes)
      if (box->isChecked() != ticked) QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
    QCOMPARE(Form1().TypeMask, mask);
    if (mask == 0) {
      Form1().Button12->click();
      QCOMPARE(dialogs_.LastText(), QStringLiteral("Please select file type to rescue!"));
      QCOMPARE(dialogs_.LastCaption(), QStringLiteral("Error"));
      QVERIFY(Form1().isVisible());
      QVERIFY(!windows_->Form3->isVisible());
    }
  }

  void rescueChecks_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("message");
    QTest::newRow("no folder") << QString() << "0" << "10" << "Please select folder to save file!";
    QTest::newRow("missing folder") << "/nonexistent/out" << "0" << "10" << "Please select folder to save file!";
    QTest::newRow("first past last") << "" << "11" << "10" << "invalid sector range!";
    QTest::newRow("negative first") << "" << "-1" << "10" << "invalid sector range!";
    QTest::newRow("past the end") << "" << "0" << "16384" << "invalid sector range!";
  }
  void rescueChecks() {
    QFETCH(QString, folder);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(QString, message);
    OpenDemo();
    Form1().Edit2->setText(folder == "" && !message.startsWith("Please") ? program_dir_.path() : folder);
    Form1().Edit3->setText(first);
    Form1().Edit4->setText(last);
    Form1().Button12->click();
    QCOMPARE(dialogs_.LastText(), message);
    QCOMPARE(dialogs_.LastCaption(), QStringLiteral("Error"));
    QVERIFY(!windows_->Form3->isVisible());
  }

  void moreHeights() {
    QCOMPARE(Form1().height(), 264);
    Form1().SpeedButton1->click();
    QVERIFY(Form1().SpeedButton1->isChecked());
    QCOMPARE(Form1().height(), 566);
    QCOMPARE(Form1().width(), 870);
    Form1().SpeedButton1->click();
    QCOMPARE(Form1().height(), 264);
  }

  void hexNavigation() {
    OpenDemo();
    TForm1& f = Form1();
    f.Button9->click();
    QCOMPARE(f.current_sector(), kDemoLastSector);
    QVERIFY(!f.Button4->isEnabled() && !f.Button9->isEnabled());
    QVERIFY(f.Button3->isEnabled() && f.Button8->isEnabled());
    QCOMPARE(f.Edit1->text(), QString::number(kDemoLastSector));
    QTest::keyClick(f.Edit1, Qt::Key_Down);  // Down at the last sector does nothing
    QCOMPARE(f.current_sector(), kDemoLastSector);
    f.Button3->click();
    QCOMPARE(f.current_sector(), kDemoLastSector - 1);
    f.Button8->click();
    QCOMPARE(f.current_sector(), 0);
    QTest::keyClick(f.Edit1, Qt::Key_Up);  // Up at sector 0 does nothing
    QCOMPARE(f.current_sector(), 0);
    QTest::keyClick(f.Edit1, Qt::Key_Down);
    QCOMPARE(f.current_sector(), 1);
    // Page keys: ten sectors, stopping at either end.
    f.ViewSector(kDemoLastSector - 5);
    QTest::keyClick(f.Edit1, Qt::Key_PageDown);
    QCOMPARE(f.current_sector(), kDemoLastSector);
    f.ViewSector(3);
    QTest::keyClick(f.Edit1, Qt::Key_PageUp);
    QCOMPARE(f.current_sector(), 0);
    f.ViewSector(40);
    QTest::keyClick(f.Edit1, Qt::Key_PageUp);
    QCOMPARE(f.current_sector(), 30);
    QTest::keyClick(f.Edit1, Qt::Key_PageDown);
    QCOMPARE(f.current_sector(), 40);
    QVERIFY(dialogs_.messages.empty());
  }

  void goTo_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qlonglong>("shown");  // -1: the slot 19 message, nothing changes
    QTest::newRow("first") << "0" << 0ll;
    QTest::newRow("middle") << "2048" << 2048ll;
    QTest::newRow("last") << QString::number(kDemoLastSector) << qlonglong{kDemoLastSector};
    QTest::newRow("minus one") << "-1" << -1ll;
    QTest::newRow("one past the last") << QString::number(kDemoLastSector + 1) << -1ll;
    QTest::newRow("not a number") << "12a" << -1ll;
    QTest::newRow("empty") << "" << -1ll;
  }
  void goTo() {
    QFETCH(QString, text);
    QFETCH(qlonglong, shown);
    OpenDemo();
    Form1().ViewSector(7);
    const QString before = Form1().Memo1->toPlainText();
    Form1().Edit1->setText(text);
    QTest::keyClick(Form1().Edit1, Qt::Key_Return);  // Enter does what Goto does
    if (shown >= 0) {
      QVERIFY(dialogs_.messages.empty());
      QCOMPARE(Form1().current_sector(), shown);
    } else {
      QCOMPARE(dialogs_.LastText(), QStringLiteral("Invalid sector range!"));
      QCOMPARE(dialogs_.LastCaption(), QStringLiteral("Error"));
      QCOMPARE(Form1().current_sector(), 7);
      QCOMPARE(Form1().Memo1->toPlainText(), before);
      dialogs_.messages.clear();
      Form1().Edit1->setText(text);
      Form1().Button5->click();
      QCOMPARE(dialogs_.messages.size(), size_t{1});
    }
  }

  void progressWindowsRefuseToClose() {
    TForm3& search = *windows_->Form3;
    WindowRunControl& run = windows_->run;
    run.search_cancel = false;
    search.show();
    QVERIFY(!search.close());
    QVERIFY(search.isVisible());
    search.Button1->click();  // Cancel
    QVERIFY(run.search_cancel.load());
    QVERIFY(search.close());
    QVERIFY(!search.isVisible());

    TForm2& recovery = *windows_->Form2;
    recovery.may_close = false;
    recovery.show();
    QVERIFY(!recovery.close());
    recovery.SpeedButton1->click();
    QCOMPARE(run.run_state.load(), uint8_t{kPause});
    recovery.SpeedButton1->click();
    QCOMPARE(run.run_state.load(), uint8_t{kRun});
    recovery.Button2->click();
    QCOMPARE(run.run_state.load(), uint8_t{kStop});
    QVERIFY(!recovery.close());  // Stop does not let the window go either
    recovery.may_close = true;
    QVERIFY(recovery.close());
  }

  void wholeRescue() {
    QTemporaryDir out;
    OpenDemo();
    Form1().Edit2->setText(out.path());
    bool saw_search = false;
    bool saw_recovery = false;
    QTimer* watch = WhenReady(this, [&] {
      saw_search |= windows_->Form3->isVisible() && !Form1().isVisible();
      saw_recovery |= windows_->Form2->isVisible() && !Form1().isVisible();
      windows_->run.ui_tick += 200;  // a refresh at every step, so the windows are seen
      return false;
    });
    windows_->run.ui_tick += 200;
    dialogs_.on_message = [&](const ShownMessage&) { QVERIFY(!windows_->Form2->isVisible()); };
    // Between the two progress windows none is on screen; that must not end the program.
    // The rescue runs inside the application's event loop, as it does for a user.
    QSignalSpy last_window_closed(qApp, &QGuiApplication::lastWindowClosed);
    QTimer::singleShot(0, &Form1(), [&] {
      Form1().Button12->click();
      QCoreApplication::exit(7);
    });
    QCOMPARE(QCoreApplication::exec(), 7);
    delete watch;
    QCOMPARE(last_window_closed.count(), 0);
    const int rescued = VerifyRescuedFiles(out.path());
    QCOMPARE(rescued, 3);  // the deleted ZIP, 7z and RAR
    QCOMPARE(dialogs_.messages.size(), size_t{1});
    QCOMPARE(dialogs_.LastCaption(), QStringLiteral("Finished"));
    QCOMPARE(dialogs_.LastText(), QStringLiteral("Rescued file %1").arg(rescued));
    QCOMPARE(Form1().StatusPanel0->text(), dialogs_.LastText());
    QVERIFY(saw_search);
    QVERIFY(saw_recovery);
    QVERIFY(Form1().isVisible());
    QVERIFY(!windows_->Form2->isVisible());
    QVERIFY(!windows_->Form3->isVisible());
    QCOMPARE(windows_->Form3->Label4->text(), QStringLiteral("Source:") + kDemoImage);
    QVERIFY(Form1().HiTimer1.Enabled());  // the tick stays on
    QVERIFY(windows_->Form2->Label1->text().startsWith(QStringLiteral("Success: ")));
  }

  void rescueCancelledInSearch() {
    QTemporaryDir out;
    OpenDemo();
    Form1().Edit2->setText(out.path());
    // Cancel at the search window's first refresh: pass 1 ends, pass 2 carves what it found.
    windows_->run.ui_tick += 200;
    QTimer* cancel = WhenReady(this, [&] {
      if (!windows_->Form3->isVisible()) return false;
      windows_->Form3->Button1->click();
      return true;
    });
    Form1().Button12->click();
    delete cancel;
    QCOMPARE(dialogs_.LastCaption(), QStringLiteral("Finished"));
    QCOMPARE(dialogs_.LastText(), QStringLiteral("Rescued file 0"));
    QCOMPARE(VerifyRescuedFiles(out.path()), 0);
    QVERIFY(Form1().isVisible());
    QVERIFY(!windows_->Form3->isVisible());
  }

  void rescueStopped_data() {
    QTest::addColumn<bool>("pause_first");
    QTest::newRow("stop") << false;
    QTest::newRow("stop while paused") << true;
  }
  void rescueStopped() {
    QFETCH(bool, pause_first);
    QTemporaryDir out;
    OpenDemo();
    Form1().Edit2->setText(out.path());
    int pumps_paused = 0;
    QTimer* stop = WhenReady(this, [&] {
      TForm2& recovery = *windows_->Form2;
      if (!recovery.isVisible()) return false;
      if (pause_first && !recovery.SpeedButton1->isChecked() && pumps_paused == 0) {
        recovery.SpeedButton1->click();
        ++pumps_paused;
        return false;
      }
      if (pause_first && pumps_paused < 3) {  // the rescue waits while paused
        ++pumps_paused;
        return false;
      }
      recovery.Button2->click();
      return true;
    });
    Form1().Button12->click();
    delete stop;
    QCOMPARE(dialogs_.LastText(), QStringLiteral("Rescued file 0"));
    QCOMPARE(windows_->run.run_state.load(), uint8_t{kStop});
    QCOMPARE(VerifyRescuedFiles(out.path()), 0);
    QVERIFY(Form1().isVisible());
    QVERIFY(!windows_->Form2->isVisible());
  }

  void backupFromTheWindow() {
    QTemporaryDir out;
    OpenDemo();
    Form1().Edit3->setText(QStringLiteral("0"));
    Form1().Edit4->setText(QStringLiteral("99"));
    dialogs_.save_answer = out.filePath(QStringLiteral("copy.img"));
    Form1().Button11->click();
    QCOMPARE(dialogs_.LastCaption(), QStringLiteral("Prompt"));
    QCOMPARE(dialogs_.LastText(), QStringLiteral("Finished!"));
    QCOMPARE(QFileInfo(out.filePath(QStringLiteral("copy.img"))).size(), 100 * 512);
    QVERIFY(Form1().isVisible());
    QVERIFY(!windows_->Form3->isVisible());

    Form1().Edit4->setText(QString::number(kDemoLastSector + 1));
    Form1().Button11->click();
    QCOMPARE(dialogs_.LastText(), QStringLiteral("Invalid sector range!"));
    QCOMPARE(dialogs_.LastCaption(), QStringLiteral("Error"));
  }

  void backupCancelled_data() {
    QTest::addColumn<bool>("delete_it");
    QTest::newRow("answer Yes: the partial image goes") << true;
    QTest::newRow("answer No: it stays") << false;
  }
  void backupCancelled() {
    QFETCH(bool, delete_it);
    QTemporaryDir out;
    OpenDemo();
    const QString image = out.filePath(QStringLiteral("part.img"));
    dialogs_.save_answer = image;
    dialogs_.question_answers.push_back(delete_it ? QMessageBox::Yes : QMessageBox::No);
    bool refused_close = false;
    QTimer* cancel = WhenReady(this, [&] {
      TForm3& search = *windows_->Form3;
      if (!search.isVisible()) return false;
      refused_close = !search.close() && search.isVisible();  // not while the copy runs
      search.Button1->click();
      return true;
    });
    Form1().Button11->click();
    delete cancel;
    QVERIFY(refused_close);
    QCOMPARE(dialogs_.LastCaption(), QStringLiteral("Prompt"));
    QCOMPARE(dialogs_.LastText(), QStringLiteral("Didn't finish, delete target file?"));
    QVERIFY(dialogs_.messages.back().buttons & QMessageBox::Yes);
    QCOMPARE(QFile::exists(image), !delete_it);
    QVERIFY(Form1().isVisible());
    QVERIFY(!windows_->Form3->isVisible());
  }

  void browseAndViewFolder() {
    OpenDemo();
    Form1().Edit2->setText(program_dir_.path() + QLatin1Char('/'));
    dialogs_.folder_answer.reset();
    Form1().Button6->click();  // cancelled: the folder box keeps its text
    QCOMPARE(dialogs_.last_folder_start, program_dir_.path());  // without the trailing separator
    QCOMPARE(dialogs_.last_folder_caption, QStringLiteral("恢复文件保存到"));
    QCOMPARE(Form1().Edit2->text(), program_dir_.path() + QLatin1Char('/'));
    dialogs_.folder_answer = QStringLiteral("/tmp");
    Form1().Button6->click();
    QCOMPARE(Form1().Edit2->text(), QStringLiteral("/tmp"));
    Form1().Button7->click();
    QCOMPARE(dialogs_.opened_folders, QStringList{QStringLiteral("/tmp")});
    Form1().Edit2->setText(QStringLiteral("/nonexistent/folder"));
    Form1().Button7->click();  // a missing folder: nothing happens
    QCOMPARE(dialogs_.opened_folders.size(), 1);
    QVERIFY(dialogs_.messages.empty());
  }

  void thumbnailLists_data() {
    QTest::addColumn<QByteArray>("list_file");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QString>("message");
    QTest::newRow("sizes") << QByteArray("160x120\r\n320*240\r\n640X480\r\n0\r\n-5\r\n") << QList<int>{19200, 76800}
                           << QString();
    QTest::newRow("empty second line") << QByteArray("160x120\n\n320*240\n") << QList<int>{19200} << QString();
    QTest::newRow("comment") << QByteArray("160x120;thumb\n") << QList<int>{19200} << QString();
    QTest::newRow("blank before comment") << QByteArray("100\n160x120 ;thumb\n320*240\n") << QList<int>{100}
                                          << QStringLiteral("'120 ' is not a valid integer value");
  }
  void thumbnailLists() {
    QFETCH(QByteArray, list_file);
    QFETCH(QList<int>, values);
    QFETCH(QString, message);
    QTemporaryDir folder;
    WriteFile(folder.filePath(QStringLiteral("ThumbSpc.ini")), list_file);
    WriteFile(folder.filePath(QStringLiteral("ThumbSiz.ini")), QByteArray("4800\n"));
    dialogs_ = FakeDialogs();
    MakeWindows(folder.path());
    QCOMPARE(Form1().thumbs.pixel_limit, 4800);
    QVERIFY(Form1().thumbs.pixel_list.has_value());
    QCOMPARE(QList<int>(Form1().thumbs.pixel_list->begin(), Form1().thumbs.pixel_list->end()), values);
    if (message.isEmpty()) {
      QVERIFY(dialogs_.messages.empty());
    } else {
      QCOMPARE(dialogs_.LastText(), message);
    }
  }

  void openLoopDevice() {
    // A read-only loop device over the demo image stands in for a real volume (root only).
    QProcess losetup;
    losetup.start(QStringLiteral("losetup"), {QStringLiteral("-r"), QStringLiteral("-f"), QStringLiteral("--show"), kDemoImage});
    if (!losetup.waitForFinished() || losetup.exitCode() != 0) QSKIP("no loop device can be had here");
    const QString device = QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed();
    auto detach = qScopeGuard([&] { QProcess::execute(QStringLiteral("losetup"), {QStringLiteral("-d"), device}); });
    windows_.reset();
    TForm1::Options options;
    options.dialogs = &dialogs_;
    options.program_folder = program_dir_.path();
    windows_ = std::make_unique<QuorvexWindows>(options);
    Form1().show();
    TMyDriveComboBox& box = *Form1().DriveComboBox1;
    int index = -1;
    for (int i = 0; i < box.EntryCount(); ++i)
      if (QString::fromStdString(box.Entry(i).device_path) == device) index = i;
    if (index < 0) QSKIP("the loop device is not in the drive list (no sysfs entry)");
    box.setCurrentIndex(index);
    Form1().Button1->click();
    QVERIFY(dialogs_.messages.empty());
    QVERIFY(Form1().source().is_open());
    QCOMPARE(Form1().Label16->text(), QStringLiteral("Opened: ") + box.itemText(index));
    QCOMPARE(Form1().StatusPanel0->text(), QStringLiteral("Sector Size: 512"));  // a drive sets panel 0
    QCOMPARE(Form1().ComboBox3->currentIndex(), 0);
    QVERIFY(!box.isEnabled());
    QTemporaryDir out;
    Form1().Edit2->setText(out.path());
    Form1().Button12->click();
    QCOMPARE(dialogs_.LastText(), QStringLiteral("Rescued file 3"));
    QCOMPARE(VerifyRescuedFiles(out.path()), 3);
    Form1().Button2->click();
    VerifyIdle();
  }

  void drivePictures() {
    TMyDriveComboBox& box = *Form1().DriveComboBox1;
    QCOMPARE(box.TextCase(), TTextCase::tcUpperCase);
    QCOMPARE(box.Picture(DrivePicture::kRemovable).size(), QSize(16, 16));
    QCOMPARE(box.Picture(DrivePicture::kFixed).size(), QSize(16, 16));
    QCOMPARE(box.Picture(DrivePicture::kNetwork).size(), QSize(16, 11));
    QCOMPARE(box.Picture(DrivePicture::kCdRom).size(), QSize(16, 16));
    QCOMPARE(box.Picture(DrivePicture::kRam).size(), QSize(16, 11));
    QVERIFY(box.ItemHeight() >= 16);
    QVERIFY(box.ItemHeight() >= box.fontMetrics().height());
    // The owner's entries are drawn with their picture; a fake sysfs lists no volumes.
    DriveEntry entry;
    entry.kind = SourceKind::kPhysicalDrive;
    entry.text = "RM3 USB & CO STICK (.13GB)";
    entry.picture = DrivePicture::kRemovable;
    box.AddEntry(entry);
    QCOMPARE(box.itemText(box.count() - 1), QStringLiteral("RM3 USB & CO STICK (.13GB)"));
    QImage canvas(200, box.ItemHeight(), QImage::Format_ARGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    box.DrawEntry(painter, canvas.rect(), box.count() - 1);
    painter.end();
    // The picture stands 2 pixels from the left, vertically centred; its corner colour is transparent.
    const int top = (canvas.height() - 16) / 2;
    QCOMPARE(canvas.pixelColor(1, top + 1).rgb(), QColor(Qt::white).rgb());
    QCOMPARE(canvas.pixelColor(2, top).rgb(), QColor(Qt::white).rgb());
    QCOMPARE(canvas.pixelColor(3, top + 1).rgb(), QColor(Qt::black).rgb());
  }
};

}  // namespace quorvex

QTEST_MAIN(quorvex::GuiTest)
#include "gui_test.moc"
