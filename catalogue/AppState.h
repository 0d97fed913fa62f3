// The application's core: state shared by every catalogue unit.
//
// This layer holds what the main window, the book-list build, the title
// search and the export share: where the program's files live, the settings
// values, the author array, the one-block cache and the build counters. It
// relies on platform/ for paths, files and code pages and knows nothing of
// the GUI. It promises:
//  - InitAppState() runs before any window exists and fixes every path once;
//  - the work folder is always "<data folder>/TMP/", never a shared folder
//    such as /tmp, so emptying it (clearTmpDir) only touches our own files;
//  - the files the program writes (settings, catalogue archive, work folder,
//    default export folder) sit in the data folder: the program's own folder
//    when it is writable, else the user's XDG data folder.
//
// One instance per process, used from the GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/CatalogueFormat.h"
#include "platform/CodePage.h"

namespace catalogue {

using platform::AnsiString;

// The one block of the catalogue archive held in memory (the books of 1,000
// authors), shared by the author view and the title search.
struct TBlockCache {
  int32_t number = -1;  // block number, -1 when empty
  TCatalogueBlock block;

  void Clear() { *this = TBlockCache{}; }
};

struct TAppState {
  // Paths are UTF-8; folders end with '/'.
  std::string programDir;        // the executable's folder; relative settings resolve here
  std::string dataDir;           // where the program writes: programDir or the XDG folder
  std::string workDir;           // dataDir + "TMP/"
  std::string iniPath;           // dataDir + <executable name> + ".ini"
  std::string dbzPath;           // dataDir + <executable name> + ".dbz"
  std::string defaultExportDir;  // dataDir + "exp/"
  // Whether the program may write in the data folder: when it may not, the
  // settings and the catalogue cannot be saved (the user is told once).
  bool dataDirWritable = true;

  // Settings (read by the settings dialog); paths as the user typed them.
  std::string libDir;            // archive folder
  std::string inpFile;           // index file
  std::string expDir;            // export folder
  std::string readerProgram;     // FB2 reader
  std::string converterProgram;  // FB2-to-LRF converter
  bool useInp = false;           // build from the index file (true once settings are read)
  bool hideDuplicates = false;   // (true once settings are read)

  int32_t sortColumn = 0;  // book list column 0..6
  bool sortDescending = false;

  // Set by the Stop button, cleared by the build before it reads anything.
  bool stopFlag = false;

  std::vector<AnsiString> authors;  // catalogue order; index = author index
  TBlockCache blockCache;

  std::string deviceDir;  // books folder of the reader device, once found

  // Counters of the last build.
  int32_t countAuthors = 0;
  int32_t countBooks = 0;
  int32_t countDuplicates = 0;
};

// The process's state. Valid after InitAppState().
TAppState& AppState();

// What start-up takes from the system; tests replace any of it.
struct TStartupEnvironment {
  // The running executable; empty = platform::ProgramPath().
  std::string programPath;
  // The user's data folder; empty = platform::UserDataDir().
  std::string userDataDir;
  // Whether the program may write in a folder; empty = platform::IsWritableDirectory.
  std::function<bool(const std::string&)> isWritable;
};

// Initialises AppState() in start-up order: empty block cache; program
// folder; data folder (the program folder, or the user data folder when the
// program folder is not writable) and its work folder "TMP/", created if
// missing (a failure is not reported: the first job that needs it says so);
// the settings and catalogue paths: the executable's name without its
// extension plus ".ini" and ".dbz"; empty sort state; whether the data
// folder is writable (by `env.isWritable`). Any earlier state is
// replaced. Raises platform::EFileError when the program's own path cannot
// be found.
void InitAppState(const TStartupEnvironment& env = {});

// The message for a data folder the program may not write in: it names the
// folder and says that the settings and the catalogue cannot be saved (UTF-8).
std::string DataDirNotWritableMessage();

// Deletes every file in the work folder; sub-folders and files that cannot be
// deleted stay. Does nothing when the work folder is unset or does not
// resolve to "TMP" inside the data folder (a link elsewhere). Returns the
// number of files deleted.
int clearTmpDir();
// The same for the work folder `workDir` of the data folder `dataDir`.
int clearWorkFolder(const std::string& workDir, const std::string& dataDir);

}  // namespace catalogue
