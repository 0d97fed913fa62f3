#include "catalogue/ui/BookListModel.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QColor>
#include <QLocale>
#include <algorithm>
#include <numeric>

#include "catalogue/ui/QtText.h"

namespace catalogue {

namespace {

const char* const kCaptions[TBookListModel::kColumnCount] = {
    "Наименование", "Серия", "Жанр", "Год", "Язык", "Размер", "файл"};

// Size and file number are numbers: right-aligned.
bool IsNumberColumn(int column) { return column == bcSize || column == bcFile; }

// Russian, case-insensitive, whatever the machine's locale is.
const QCollator& BookCollator() {
  static const QCollator collator = [] {
    QCollator c(QLocale(QLocale::Russian, QLocale::Russia));
    c.setCaseSensitivity(Qt::CaseInsensitive);
    return c;
  }();
  return collator;
}

}  // namespace

TBookListModel::TBookListModel(QObject* parent) : QAbstractTableModel(parent) {}

std::vector<int> TBookListModel::SortedOrder(const TSortState& sort) const {
  const int32_t column = ClampSortColumn(sort.column);
  const TSortTag tag = ColumnSortTag(column);
  const QCollator& collator = BookCollator();

  // One key per row, so that the sort compares bytes, not texts.
  std::vector<QCollatorSortKey> keys;
  keys.reserve(rows_.size());
  for (const TBookRow& row : rows_)
    keys.push_back(collator.sortKey(AnsiToQString(SortText(tag, ColumnText(row, column)))));

  std::vector<int> order(rows_.size());
  std::iota(order.begin(), order.end(), 0);
  if (sort.descending)
    std::stable_sort(order.begin(), order.end(),
                     [&keys](int a, int b) { return keys[b].compare(keys[a]) < 0; });
  else
    std::stable_sort(order.begin(), order.end(),
                     [&keys](int a, int b) { return keys[a].compare(keys[b]) < 0; });
  return order;
}

std::vector<int> TBookListModel::Reorder(const std::vector<int>& order) {
  std::vector<int> newRow(order.size());
  std::vector<TBookRow> rows;
  std::vector<std::array<QString, kColumnCount>> texts;
  rows.reserve(rows_.size());
  texts.reserve(texts_.size());
  for (size_t i = 0; i < order.size(); ++i) {
    newRow[order[i]] = static_cast<int>(i);
    rows.push_back(std::move(rows_[order[i]]));
    texts.push_back(std::move(texts_[order[i]]));
  }
  rows_ = std::move(rows);
  texts_ = std::move(texts);
  return newRow;
}

void TBookListModel::SetBooks(std::vector<TBookRow> rows, const TSortState& sort) {
  beginResetModel();
  rows_ = std::move(rows);
  texts_.resize(rows_.size());
  for (size_t r = 0; r < rows_.size(); ++r)
    for (int c = 0; c < kColumnCount; ++c) texts_[r][c] = AnsiToQString(ColumnText(rows_[r], c));
  Reorder(SortedOrder(sort));
  endResetModel();
}

void TBookListModel::Clear() {
  beginResetModel();
  rows_.clear();
  texts_.clear();
  endResetModel();
}

void TBookListModel::Sort(const TSortState& sort) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const std::vector<int> newRow = Reorder(SortedOrder(sort));

  // Selection and current item follow their rows.
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& i : from) to.append(index(newRow[i.row()], i.column()));
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int TBookListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TBookListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant TBookListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || static_cast<size_t>(index.row()) >= rows_.size())
    return {};
  const TBookRow& row = rows_[index.row()];
  switch (role) {
    case Qt::DisplayRole:
      if (index.column() < 0 || index.column() >= kColumnCount) return QString();
      return texts_[static_cast<size_t>(index.row())][static_cast<size_t>(index.column())];
    case Qt::ForegroundRole:
      if (row.Duplicate()) return QColor::fromRgb(kDuplicateColor);
      return {};
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::AlignVCenter |
                                 (IsNumberColumn(index.column()) ? Qt::AlignRight : Qt::AlignLeft));
    default:
      return {};
  }
}

QVariant TBookListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) return QString::fromUtf8(kCaptions[section]);
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::AlignVCenter |
                               (IsNumberColumn(section) ? Qt::AlignRight : Qt::AlignLeft));
  return {};
}

}  // namespace catalogue
