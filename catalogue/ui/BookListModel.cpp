#include "catalogue/ui/BookListModel.h"

namespace catalogue {

namespace {

const char* const kCaptions[TBookListModel::kColumnCount] = {
    "Наименование", "Серия", "Жанр", "Год", "Язык", "Размер", "файл"};

// Size and file number are numbers: right-aligned.
bool IsNumberColumn(int column) { return column == 5 || column == 6; }

}  // namespace

TBookListModel::TBookListModel(QObject* parent) : QAbstractTableModel(parent) {}

// No rows until an author's books are shown.
int TBookListModel::rowCount(const QModelIndex&) const { return 0; }

int TBookListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant TBookListModel::data(const QModelIndex&, int) const { return {}; }

QVariant TBookListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) return QString::fromUtf8(kCaptions[section]);
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::AlignVCenter |
                               (IsNumberColumn(section) ? Qt::AlignRight : Qt::AlignLeft));
  return {};
}

}  // namespace catalogue
