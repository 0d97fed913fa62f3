// TFS (object "FS"): the dialog that lists the hits of a title search.
#pragma once

#include <QDialog>

namespace catalogue {

class TFS : public QDialog {
  Q_OBJECT

 public:
  explicit TFS(QWidget* parent = nullptr);
};

}  // namespace catalogue
