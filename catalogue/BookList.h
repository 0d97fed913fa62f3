// The book-list build: the program's one long job.
//
// It reads every book of the collection (the index file, InpxReader.h, or
// the FB2 heads of the archive folder, Fb2Reader.h), stages the books in two
// xBase tables in the work folder:
//
//   "au.dbf"  ID;N;10;0 NA;C;120;0   one record per author (names merged
//             by their upper case, numbered from 1 in order of first
//             appearance), indexed by AU.NDX on upper(NA)
//   "bo.dbf"  one record per author of a book (BookTable.h), indexed for
//             the walk by BO.NDX on AU
//
// then walks the authors in the order of their upper-cased names, writing
// "a.txt", a block file per 1,000 authors and "inf.txt" into the work folder
// (CatalogueFormat.h), and packs them into a new catalogue archive.
//
// What it promises:
//  - the old catalogue archive is replaced only by a complete new one: a
//    failure at any stage (an index file that cannot be read, a full disk,
//    a table the engine refuses) leaves it byte for byte as it was;
//  - the host's controls come back and the work folder is emptied before
//    an error reaches the caller;
//  - a build that reads no book (an archive folder without FB2 books, an
//    index file without book lists, a stop before the first book) keeps the
//    old catalogue too, and says why (ENoBooksRead);
//  - a stop during reading gives a complete catalogue of the books read so
//    far; a stop during the walk a complete catalogue of the authors walked
//    so far ("inf.txt" and the final message count the authors written);
//    the final message says that the list is incomplete.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/CatalogueFormat.h"
#include "catalogue/Job.h"
#include "catalogue/Settings.h"

namespace platform {
class TStream;
}

namespace catalogue {

struct TAppState;

// What one build takes and what it gives back. Paths are UTF-8 and
// absolute; folders may end with '/' or not.
struct TBuildSession {
  // --- what the build reads and writes ---
  std::string dataDir;  // the program's data folder
  std::string workDir;  // its work folder "TMP": emptied before and after
  std::string dbzPath;  // the catalogue archive to replace
  bool useInp = true;   // read the index file, else the FB2 heads
  std::string inpFile;  // the index file
  std::string libDir;   // the archive folder
  std::string expDir;   // the export folder: the FB2 reading's "zzz.txt"
  // The settings written once the tables are gone; not written when
  // iniPath is empty.
  std::string iniPath;
  TSettings settings;
  // Wraps the stream that the new catalogue is packed into; unset, the
  // replacement file's own stream is used. (Tests put a failing stream
  // here.)
  std::function<std::unique_ptr<platform::TStream>(platform::TStream& file)> packStream;

  // --- what the build gives back ---
  int64_t authors = 0;     // authors written to the catalogue
  int64_t books = 0;       // books read
  int64_t duplicates = 0;  // of those, flagged deleted
  int64_t readErrors = 0;  // lines, members and archives skipped
  int64_t seconds = 0;     // whole seconds the build took
  bool stopped = false;     // a stop ended the reading or the walk early
  // Authors of more than 65,535 books: only the first 65,535 were written.
  std::vector<TCatalogueWriter::TCutAuthor> cutAuthors;
  std::vector<AnsiString> cutAuthorNames;  // their names, in the same order
};

// The build read no book: the old catalogue is kept. The message (UTF-8)
// says why, in the user's words.
class ENoBooksRead : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A setting the build needs is not set, or names nothing: nothing was
// touched. The message (UTF-8) says which, and what to set.
class EBuildNotSetUp : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The program was ended while the build ran (TJobHost::Closing): nobody
// asked for a partial list, so the old catalogue is kept.
class EBuildAborted : public std::runtime_error {
 public:
  EBuildAborted();
};

// A session over the program's own files (`state`) and `settings`: the
// settings' paths made absolute (absPath; a path not set stays empty), the
// mode its "use index file";
// the settings are written to state.iniPath when the data folder is
// writable and the settings file is not read-only.
TBuildSession NewBuildSession(const TAppState& state, const TSettings& settings);

// The job. First raises EBuildNotSetUp when what the mode reads is not set
// or not there: the index file with "use index file", else the archive
// folder. Then asks the user to confirm ("Пересоздать список книг ?"); on No
// returns false and touches nothing. Otherwise builds the catalogue as above
// while the host's controls are disabled, writes the settings, beeps, shows
// the counts and the time taken (and, after a stop, that the list is
// incomplete; the authors cut at 65,535 books by name), and returns true: the
// caller reloads the author list. Raises ENoBooksRead when no book was
// read, EBuildAborted when the host began closing, and whatever else ended
// the build (platform::EFileError,
// platform::EStreamError, archiver::EZAException, the engine's errors);
// the catalogue archive is then unchanged.
bool createBookList(TJobHost& host, TBuildSession& session);

}  // namespace catalogue
