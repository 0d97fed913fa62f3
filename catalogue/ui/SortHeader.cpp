#include "catalogue/ui/SortHeader.h"

namespace catalogue {

TSortHeader::TSortHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

QStyleOptionHeader::SortIndicator TSortHeader::Arrow(int section) const {
  if (!isSortIndicatorShown() || sortIndicatorSection() != section) return QStyleOptionHeader::None;
  return sortIndicatorOrder() == Qt::AscendingOrder ? QStyleOptionHeader::SortUp
                                                    : QStyleOptionHeader::SortDown;
}

QStyleOptionHeader TSortHeader::SectionOption(int section) const {
  QStyleOptionHeader option;
  initStyleOption(&option);
  initStyleOptionForIndex(&option, section);
  option.rect = QRect(sectionViewportPosition(section), 0, sectionSize(section), height());
  return option;
}

void TSortHeader::initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const {
  QHeaderView::initStyleOptionForIndex(option, logicalIndex);
  option->sortIndicator = Arrow(logicalIndex);
}

}  // namespace catalogue
