#include "catalogue/InstanceLock.h"

#include "catalogue/AppState.h"
#include "platform/Files.h"

namespace catalogue {

TInstanceLock::TInstanceLock() : TInstanceLock(InstanceLockPath()) {}

TInstanceLock::TInstanceLock(const std::string& lockPath) {
  try {
    // Opened sharing everything, so that a second copy gets as far as the
    // lock itself and is told why, instead of failing to open the file.
    file_ = platform::TFile(lockPath, platform::fmCreate | platform::fmShareDenyNone);
  } catch (const platform::EFileError&) {
    return;  // cannot be made: run unlocked
  }
  try {
    refused_ = !file_.LockRange(0, 1, /*exclusive=*/true);
  } catch (const platform::EFileError&) {
    // A file system without locks cannot keep a second copy out.
  }
}

std::string InstanceLockPath() { return platform::ChangeFileExt(AppState().dbzPath, ".lock"); }

std::string AlreadyRunningMessage() {
  return "Tomeshelf уже запущен с этим списком книг (" + AppState().dbzPath +
         ").\nВторая копия программы закрывается.";
}

std::string WorkFolderLockPath() { return AppState().dataDir + "TMP.lock"; }

std::string WorkFolderInUseMessage() {
  return "Tomeshelf уже запущен с этим рабочим каталогом (" + AppState().workDir +
         ").\nВторая копия программы закрывается.";
}

}  // namespace catalogue
