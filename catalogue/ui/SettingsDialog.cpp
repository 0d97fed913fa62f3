#include "catalogue/ui/SettingsDialog.h"

namespace catalogue {

TFINI::TFINI(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FINI"));
  setWindowTitle(QStringLiteral("Настойки"));
}

}  // namespace catalogue
