// The header of the book list LV: its sort arrow points up while the list is
// sorted ascending and down while it is sorted descending.
//
// Qt's own header has the opposite habit (an ascending sort draws the
// "sort down" indicator, which the styles paint as a downward arrow); this
// header keeps Qt's sort-indicator state (section and order) as it is and
// only changes the arrow it asks the style to draw.
#pragma once

#include <QHeaderView>
#include <QStyleOptionHeader>

namespace catalogue {

class TSortHeader : public QHeaderView {
 public:
  explicit TSortHeader(QWidget* parent = nullptr);

  // The arrow the header asks the style to paint on `section`: SortUp on
  // the sort column when ascending, SortDown when descending, None on the
  // others (and when the indicator is hidden).
  QStyleOptionHeader::SortIndicator Arrow(int section) const;
  // The style option `section` is painted with (its arrow included).
  QStyleOptionHeader SectionOption(int section) const;

 protected:
  void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override;
};

}  // namespace catalogue
