// The model behind the author list LB: one column "Автор", one row per name
// of the author array (AppState().authors). Rows are asked for on demand, so
// a list of 150,000 authors costs nothing per author until a row is shown.
//
// The model reads the author array when asked; whoever replaces the array
// calls Reload() before the view asks again.
#pragma once

#include <QAbstractTableModel>

namespace catalogue {

class TAuthorListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TAuthorListModel(QObject* parent = nullptr);

  // The author array was replaced: every row is asked for anew.
  void Reload();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // The list's own type-ahead search (the view's keyboard search lands here):
  // the first author whose name begins with the typed text, found by binary
  // search in the sorted array instead of a walk over every row.
  QModelIndexList match(const QModelIndex& start, int role, const QVariant& value, int hits = 1,
                        Qt::MatchFlags flags = Qt::MatchFlags(Qt::MatchStartsWith |
                                                              Qt::MatchWrap)) const override;
};

}  // namespace catalogue
