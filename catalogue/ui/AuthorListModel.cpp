#include "catalogue/ui/AuthorListModel.h"

#include <limits>

#include "catalogue/AppState.h"
#include "catalogue/Browse.h"
#include "catalogue/ui/QtText.h"

namespace catalogue {

TAuthorListModel::TAuthorListModel(QObject* parent) : QAbstractTableModel(parent) {}

void TAuthorListModel::Reload() {
  beginResetModel();
  endResetModel();
}

int TAuthorListModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  const size_t n = AppState().authors.size();
  return n > static_cast<size_t>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                  : static_cast<int>(n);
}

int TAuthorListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 1;
}

QVariant TAuthorListModel::data(const QModelIndex& index, int role) const {
  const auto& authors = AppState().authors;
  if (role != Qt::DisplayRole || !index.isValid() || index.column() != 0 || index.row() < 0 ||
      static_cast<size_t>(index.row()) >= authors.size())
    return {};
  return AnsiToQString(authors[index.row()]);
}

QVariant TAuthorListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section == 0)
    return QStringLiteral("Автор");
  return {};
}

QModelIndexList TAuthorListModel::match(const QModelIndex& start, int role, const QVariant& value,
                                        int hits, Qt::MatchFlags flags) const {
  const Qt::MatchFlags kind = flags & Qt::MatchTypeMask;
  if (role != Qt::DisplayRole || kind != Qt::MatchStartsWith || start.column() != 0 ||
      (flags & Qt::MatchCaseSensitive) || !value.canConvert<QString>())
    return QAbstractTableModel::match(start, role, value, hits, flags);
  const int32_t i = findAuthor(AppState().authors, QStringToAnsi(value.toString()));
  if (i < 0 || hits == 0) return {};
  return {index(i, 0)};
}

}  // namespace catalogue
