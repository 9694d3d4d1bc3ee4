#pragma once
// TMyDriveComboBox: a drop-down list of the computer's volumes, each entry drawn with a
// small picture of the drive's kind before its text. Entries beyond the volumes (the
// physical drives) may be appended by the owner. The list is built when the control is
// created and again whenever TextCase is set.

#include <QComboBox>
#include <QPixmap>
#include <array>
#include <vector>

#include "platform/drive_list.h"

namespace quorvex {

enum class TTextCase { tcLowerCase, tcUpperCase };

class TMyDriveComboBox : public QComboBox {
  Q_OBJECT
 public:
  explicit TMyDriveComboBox(QWidget* parent = nullptr, DriveListOptions options = {});

  TTextCase TextCase() const { return text_case_; }
  /// Sets the case of the entries and rebuilds the list.
  void SetTextCase(TTextCase text_case);

  /// Rebuilds the volume entries (removing every entry first); selects the first.
  void BuildList();
  /// Appends one entry (a physical drive of the main window).
  void AddEntry(const DriveEntry& entry);
  /// Removes entry index (the main window drops network drives).
  void RemoveEntry(int index);
  const DriveEntry& Entry(int index) const { return entries_.at(static_cast<size_t>(index)); }
  int EntryCount() const { return static_cast<int>(entries_.size()); }

  /// The picture of a kind (loaded from the program's resources).
  const QPixmap& Picture(DrivePicture picture) const { return pictures_[static_cast<size_t>(picture)]; }
  /// The larger of the font's text height and the removable-drive picture's height.
  int ItemHeight() const;

  /// Draws one entry into rect: the picture 2 pixels from the left, vertically centred,
  /// then the text picture width + 6 pixels from the left, on one line, "&" drawn literally.
  void DrawEntry(QPainter& painter, const QRect& rect, int index) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void LoadPictures();
  DriveListOptions options_;
  TTextCase text_case_ = TTextCase::tcLowerCase;
  std::vector<DriveEntry> entries_;
  std::array<QPixmap, 5> pictures_;
};

}  // namespace quorvex
