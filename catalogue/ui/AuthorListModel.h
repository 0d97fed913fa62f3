// The model behind the author list LB: one column "Автор", one row per
// author of the catalogue. Rows are asked for on demand, so the list costs
// nothing per author until it is shown.
#pragma once

#include <QAbstractTableModel>

namespace catalogue {

class TAuthorListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TAuthorListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
};

}  // namespace catalogue
