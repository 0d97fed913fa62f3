#include "catalogue/ui/RowHeightDelegate.h"

#include <algorithm>

namespace catalogue {

TRowHeightDelegate::TRowHeightDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QSize TRowHeightDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  size.setHeight(std::max(size.height(), rowHeight_));
  return size;
}

}  // namespace catalogue
