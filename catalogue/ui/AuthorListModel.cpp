#include "catalogue/ui/AuthorListModel.h"

namespace catalogue {

TAuthorListModel::TAuthorListModel(QObject* parent) : QAbstractTableModel(parent) {}

// No rows until the author list is loaded.
int TAuthorListModel::rowCount(const QModelIndex&) const { return 0; }

int TAuthorListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 1;
}

QVariant TAuthorListModel::data(const QModelIndex&, int) const { return {}; }

QVariant TAuthorListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section == 0)
    return QStringLiteral("Автор");
  return {};
}

}  // namespace catalogue
