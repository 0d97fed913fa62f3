// The model behind the book list LV: the books of the selected author in the
// columns "Наименование", "Серия", "Жанр", "Год", "Язык", "Размер", "файл".
// Duplicates are drawn grey. The model keeps its rows in the order shown and
// sorts them itself, comparing precomputed collation keys.
//
// The sort compares texts as Russian does without regard to letter case, by
// a fixed collation that does not depend on the machine's locale, so a list
// sorts the same everywhere. Ties keep the catalogue's order.
#pragma once

#include <QAbstractTableModel>
#include <QRgb>
#include <QString>
#include <array>
#include <vector>

#include "catalogue/Browse.h"

namespace catalogue {

class TBookListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumnCount = kBookColumnCount;
  // The colour of duplicates.
  static constexpr QRgb kDuplicateColor = 0x808080;

  explicit TBookListModel(QObject* parent = nullptr);

  // Shows `rows` in place of what was shown, sorted by `sort`.
  void SetBooks(std::vector<TBookRow> rows, const TSortState& sort);
  // Shows nothing.
  void Clear();
  // Sorts the rows shown; selected rows stay selected.
  void Sort(const TSortState& sort);

  // Row r as shown; r < rowCount().
  const TBookRow& Row(int r) const { return rows_[static_cast<size_t>(r)]; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  // The positions of rows_ in sorted order.
  std::vector<int> SortedOrder(const TSortState& sort) const;
  // Puts rows_ (and texts_) in `order`; returns each old row's new row.
  std::vector<int> Reorder(const std::vector<int>& order);

  std::vector<TBookRow> rows_;
  // The shown texts of rows_, converted once per row rather than per paint.
  std::vector<std::array<QString, kColumnCount>> texts_;
};

}  // namespace catalogue
