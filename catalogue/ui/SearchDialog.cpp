#include "catalogue/ui/SearchDialog.h"

namespace catalogue {

TFS::TFS(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FS"));
  setWindowTitle(QStringLiteral("Поиск по названию книги"));
}

}  // namespace catalogue
