#include "catalogue/InstanceLock.h"

#include "catalogue/AppState.h"
#include "catalogue/Export.h"
#include "catalogue/Func.h"
#include "catalogue/Settings.h"
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
    held_ = file_.LockRange(0, 1, /*exclusive=*/true);
    refused_ = !held_;
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

int RemoveLeftovers(const TInstanceLock& lock, const TInstanceLock& workLock) {
  if (!lock.Held() || !workLock.Held()) return 0;
  const TAppState& st = AppState();
  int removed = platform::DeleteReplacementLeftovers(st.dbzPath) +
                platform::DeleteReplacementLeftovers(st.iniPath);
  removed += clearTmpDir();
  try {
    const std::string exportDir = ReadSettings(st.iniPath, st.defaultExportDir).expDir;
    if (!exportDir.empty()) removed += RemoveStagingLeftovers(absPath(exportDir));
  } catch (const platform::EFileError&) {
    // Settings that cannot be read are told when the window reads them.
  }
  return removed;
}

}  // namespace catalogue
