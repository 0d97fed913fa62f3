// One running copy of the program per data folder.
//
// Two copies on one data folder would rebuild, read and save the same
// catalogue archive and settings under each other: one replaces the
// catalogue while the other still maps author numbers to the old blocks and
// shows books under the wrong author, and the last to close overwrites the
// other's settings. So start-up takes a lock on "<name>.lock" in the data
// folder and holds it for the program's life. It is a byte-range lock of
// the open file, so the system drops it when the process ends, however it
// ends: a crashed copy never keeps the next one out.
//
// Programs of different names in one folder keep different catalogues and
// settings but share the work folder "TMP/", which each empties when it
// closes, under the other's open book. So each also takes "TMP.lock" beside
// the work folder (not inside: emptying the folder would delete it), and a
// second program on a work folder in use is refused as a second copy is.
#pragma once

#include <string>

#include "platform/File.h"

namespace catalogue {

class TInstanceLock {
 public:
  // Takes the lock of the data folder of AppState() (valid after
  // InitAppState). When the lock file cannot be made (a data folder the
  // program may not write in, where nothing could be saved anyway) the
  // program runs unlocked; Refused() is true only when another running
  // copy holds the lock.
  TInstanceLock();
  // The same for the lock file `lockPath` (UTF-8).
  explicit TInstanceLock(const std::string& lockPath);

  bool Refused() const { return refused_; }
  // The lock is held: no other program runs on what it guards.
  bool Held() const { return held_; }

 private:
  platform::TFile file_;
  bool refused_ = false;
  bool held_ = false;
};

// The lock file of AppState()'s data folder.
std::string InstanceLockPath();

// What a second start says before it ends (UTF-8): that Tomeshelf is
// already running with this catalogue, naming it.
std::string AlreadyRunningMessage();

// The lock file of AppState()'s work folder, whatever the program's name.
std::string WorkFolderLockPath();
// What a program on a work folder in use says before it ends (UTF-8),
// naming the folder.
std::string WorkFolderInUseMessage();

// What a run ended by a crash or a kill left behind, removed by the next
// one once it holds both locks (nothing while either is not held: another
// program might be at work): the new files of replacements of the
// catalogue archive and of the settings file, every file of the work
// folder, and the staging folders of exports in the export folder the
// settings name that no export holds. Returns the number of entries
// removed.
int RemoveLeftovers(const TInstanceLock& lock, const TInstanceLock& workLock);

}  // namespace catalogue
