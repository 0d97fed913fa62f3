// Tomeshelf: start-up and the event loop.
//
// The order matters: the application state (paths, work folder) is fixed
// before any window exists; the main window is created first, then the
// search-result dialog, then the settings dialog, whose creation reads the
// settings into the main window. Before any of them the data folder is
// locked for the program's life: a second copy on it says so and ends. The
// program takes no arguments. At the end the same in reverse: the windows,
// the dialogs and the application go first, and the engine's files still
// open are closed last.
#include <QApplication>
#include <cstdio>
#include <exception>

#include "catalogue/AppState.h"
#include "catalogue/InstanceLock.h"
#include "catalogue/ui/MainWindow.h"
#include "catalogue/ui/QtDialogs.h"
#include "catalogue/ui/SearchDialog.h"
#include "catalogue/ui/SettingsDialog.h"
#include "platform/Dialogs.h"
#include "xbase/base/disk_file.h"

int main(int argc, char** argv) {
  // Without a display Qt would stop with a page of plugin advice; say it in
  // one line, before any folder is made.
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    std::fprintf(stderr, "tomeshelf: no display to show the window on (DISPLAY is not set)\n");
    return 1;
  }
  try {
    catalogue::InitAppState();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tomeshelf: %s\n", e.what());
    return 1;
  }

  int code = 0;
  {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QString::fromLatin1(catalogue::kProgramTitle));
    catalogue::InstallQtTranslation(app);
    catalogue::TQtDialogProvider dialogs;
    platform::TDialogProviderScope dialogScope(&dialogs);

    // Held until the windows are gone and the settings saved.
    const catalogue::TInstanceLock lock;
    if (lock.Refused()) {
      const std::string message = catalogue::AlreadyRunningMessage();
      std::fprintf(stderr, "tomeshelf: %s\n", message.c_str());
      platform::MessageBox(message, "", platform::TMsgDlgType::mtWarning, {platform::mrOk});
      return 1;
    }

    catalogue::TF f;
    new catalogue::TFS(&f);    // owned by f
    new catalogue::TFINI(&f);  // owned by f
    f.show();
    code = app.exec();
  }
  xbase::xbDiskShutdown();
  return code;
}
