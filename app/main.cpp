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
//
// The signals a desktop or a terminal ends a program with (SIGTERM, SIGHUP,
// SIGINT) are caught first of all and end the program through its window's
// own close, so a logout saves the settings as closing the window does.
// What a crashed or killed run left behind is removed once the locks are
// held.
#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <memory>

#include "catalogue/AppState.h"
#include "catalogue/InstanceLock.h"
#include "catalogue/ui/MainWindow.h"
#include "catalogue/ui/QtDialogs.h"
#include "catalogue/ui/SearchDialog.h"
#include "catalogue/ui/SettingsDialog.h"
#include "platform/Dialogs.h"
#include "platform/Signals.h"
#include "xbase/base/disk_file.h"

int main(int argc, char** argv) {
  // Without a display Qt would stop with a page of plugin advice; say it in
  // one line, before any folder is made.
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    std::fprintf(stderr, "tomeshelf: no display to show the window on (DISPLAY is not set)\n");
    return 1;
  }
  // A write past a file size limit fails and is told like a full disk,
  // rather than ending the program on the spot.
  platform::IgnoreFileSizeSignal();
  // One that arrives during start-up waits in the pipe for the event loop.
  std::unique_ptr<platform::TTerminationSignals> endSignals;
  try {
    endSignals = std::make_unique<platform::TTerminationSignals>();
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

    // A signal ends the program through the window once there is one.
    // Before that only a message box can be waiting for the user: it is
    // answered as by Escape, and the start ends there.
    QPointer<catalogue::TF> window;
    bool endEarly = false;
    QSocketNotifier ending(endSignals->Descriptor(), QSocketNotifier::Read);
    QObject::connect(&ending, &QSocketNotifier::activated, [&] {
      if (endSignals->Take() == 0) return;
      if (window) {
        window->EndSession();
        return;
      }
      endEarly = true;
      if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });

    // Held until the windows are gone and the settings saved: the
    // catalogue's lock, then the work folder's, which programs of other
    // names in this folder share.
    const catalogue::TInstanceLock lock;
    const catalogue::TInstanceLock workLock(catalogue::WorkFolderLockPath());
    if (lock.Refused() || workLock.Refused()) {
      const std::string message =
          lock.Refused() ? catalogue::AlreadyRunningMessage() : catalogue::WorkFolderInUseMessage();
      std::fprintf(stderr, "tomeshelf: %s\n", message.c_str());
      platform::MessageBox(message, "", platform::TMsgDlgType::mtWarning, {platform::mrOk});
      return 1;
    }
    // No other run of ours is at work on what a crashed one left.
    catalogue::RemoveLeftovers(lock, workLock);

    catalogue::TF f;
    new catalogue::TFS(&f);    // owned by f
    new catalogue::TFINI(&f);  // owned by f
    window = &f;
    f.show();
    if (endEarly) QTimer::singleShot(0, &f, &catalogue::TF::EndSession);
    code = app.exec();
  }
  xbase::xbDiskShutdown();
  return code;
}
