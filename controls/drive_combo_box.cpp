#include "controls/drive_combo_box.h"

#include <QAbstractItemView>
#include <QBitmap>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStyledItemDelegate>
#include <QStylePainter>

namespace quorvex {
namespace {

constexpr int kPictureLeft = 2;
constexpr int kTextGap = 6;
constexpr int kNoPictureWidth = 16;

/// Resource names of the pictures, in DrivePicture order.
constexpr std::array<const char*, 5> kPictureNames = {":/drives/MYFLOPPY", ":/drives/MYHARD", ":/drives/NETWORK",
                                                       ":/drives/MYCDROM", ":/drives/RAM"};

/// The list's entries are painted by the control itself.
class DriveItemDelegate : public QStyledItemDelegate {
 public:
  explicit DriveItemDelegate(TMyDriveComboBox* box) : QStyledItemDelegate(box), box_(box) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    painter->save();
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    painter->fillRect(option.rect, option.palette.brush(selected ? QPalette::Highlight : QPalette::Base));
    painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    box_->DrawEntry(*painter, option.rect, index.row());
    painter->restore();
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(box_->ItemHeight());
    return size;
  }

 private:
  TMyDriveComboBox* box_;
};

}  // namespace

TMyDriveComboBox::TMyDriveComboBox(QWidget* parent, DriveListOptions options)
    : QComboBox(parent), options_(std::move(options)) {
  LoadPictures();
  setItemDelegate(new DriveItemDelegate(this));
  BuildList();
}

void TMyDriveComboBox::LoadPictures() {
  for (size_t i = 0; i < kPictureNames.size(); ++i) {
    QImage image(QString::fromLatin1(kPictureNames[i]));
    if (image.isNull()) continue;
    // The bottom-left pixel's colour is the transparent one.
    const QRgb key = image.pixel(0, image.height() - 1);
    QPixmap picture = QPixmap::fromImage(image);
    picture.setMask(QBitmap::fromImage(image.createMaskFromColor(key, Qt::MaskInColor)));
    pictures_[i] = picture;
  }
}

void TMyDriveComboBox::SetTextCase(TTextCase text_case) {
  text_case_ = text_case;
  BuildList();
}

void TMyDriveComboBox::BuildList() {
  clear();
  entries_.clear();
  DriveListOptions options = options_;
  options.upper_case = text_case_ == TTextCase::tcUpperCase;
  for (const DriveEntry& entry : ListVolumes(options)) AddEntry(entry);
  if (count() > 0) setCurrentIndex(0);
}

void TMyDriveComboBox::AddEntry(const DriveEntry& entry) {
  entries_.push_back(entry);
  addItem(QString::fromStdString(entry.text));
}

void TMyDriveComboBox::RemoveEntry(int index) {
  if (index < 0 || index >= EntryCount()) return;
  entries_.erase(entries_.begin() + index);
  removeItem(index);
}

int TMyDriveComboBox::ItemHeight() const {
  const int picture_height = pictures_[static_cast<size_t>(DrivePicture::kRemovable)].height();
  return std::max(fontMetrics().height(), picture_height);
}

void TMyDriveComboBox::DrawEntry(QPainter& painter, const QRect& rect, int index) const {
  if (index < 0 || index >= EntryCount()) return;
  const QPixmap& picture = Picture(Entry(index).picture);
  int text_left = rect.left() + kNoPictureWidth + kTextGap;
  if (!picture.isNull()) {
    const int top = (rect.top() + rect.bottom() + 1 - picture.height()) / 2;
    painter.drawPixmap(rect.left() + kPictureLeft, top, picture);
    text_left = rect.left() + picture.width() + kTextGap;
  }
  const QRect text_rect(text_left, rect.top(), rect.right() - text_left + 1, rect.height());
  // No accelerator handling: "&" is drawn as it stands.
  painter.drawText(text_rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, itemText(index));
}

void TMyDriveComboBox::paintEvent(QPaintEvent* /*event*/) {
  QStylePainter painter(this);
  QStyleOptionComboBox option;
  initStyleOption(&option);
  option.currentText.clear();
  option.currentIcon = QIcon();
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
  painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
  DrawEntry(painter, field, currentIndex());
}

void TMyDriveComboBox::changeEvent(QEvent* event) {
  // The item height follows the font.
  if (event->type() == QEvent::FontChange && view() != nullptr) view()->doItemsLayout();
  QComboBox::changeEvent(event);
}

}  // namespace quorvex
