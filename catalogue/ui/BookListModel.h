// The model behind the book list LV: the books of the selected author in the
// columns "Наименование", "Серия", "Жанр", "Год", "Язык", "Размер", "файл".
#pragma once

#include <QAbstractTableModel>

namespace catalogue {

class TBookListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumnCount = 7;

  explicit TBookListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
};

}  // namespace catalogue
