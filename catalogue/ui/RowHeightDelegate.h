// EM: sets the row height of the author and book lists (the lists' font
// height plus a margin, chosen with the list font).
#pragma once

#include <QStyledItemDelegate>

namespace catalogue {

class TRowHeightDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  explicit TRowHeightDelegate(QObject* parent = nullptr);

  // Rows are at least `height` pixels high; 0 leaves the style's height.
  void SetRowHeight(int height) { rowHeight_ = height; }
  int RowHeight() const { return rowHeight_; }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  int rowHeight_ = 0;
};

}  // namespace catalogue
