// The Qt implementation of the process-wide dialog hooks (platform/Dialogs.h):
// message boxes and text prompts shown modally over the active window.
//
// Use from the GUI thread only; install it once QApplication exists.
#pragma once

#include "platform/Dialogs.h"

class QCoreApplication;

namespace catalogue {

// The title of the program's windows and of message boxes without a
// caption of their own.
inline constexpr char kProgramTitle[] = "Tomeshelf";

// Makes Qt's own dialogs and buttons (file and font pickers, standard
// buttons) speak Russian, as the rest of the program does: installs Qt's
// Russian translation into `app`. False when it is not installed (the
// package qt6-translations-l10n); they then stay English.
bool InstallQtTranslation(QCoreApplication& app);

class TQtDialogProvider : public platform::TDialogProvider {
 public:
  // A QMessageBox with the requested buttons in the order given (OK alone
  // when none is given), titled kProgramTitle when `caption` is empty. Escape answers Cancel, else No, else OK when the box
  // offers one of them (otherwise Qt picks a rejecting button, e.g. Abort).
  platform::TModalResult MessageBox(const std::string& text, const std::string& caption,
                                    platform::TMsgDlgType type,
                                    const platform::TMsgDlgButtons& buttons) override;
  // A QInputDialog line; typed characters are hidden when `secret`.
  bool InputText(const std::string& caption, const std::string& prompt, std::string& value,
                 bool secret) override;
};

}  // namespace catalogue
