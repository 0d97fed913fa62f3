// TFINI (object "FINI"): the settings dialog.
#pragma once

#include <QDialog>

namespace catalogue {

class TFINI : public QDialog {
  Q_OBJECT

 public:
  explicit TFINI(QWidget* parent = nullptr);
};

}  // namespace catalogue
