// The platform's file layer: open files with share and byte-range locks,
// whole-file replacement, temporary names, folder search and listing, and
// path text.
//
// It relies on POSIX and Linux only (open-file-description locks, renameat2,
// getrandom). Every other layer does its file-system work through it: no
// other folder opens, stats, renames, syncs, locks or lists by itself.
//
// What it promises above:
//  - Opening an existing input falls back to a case-insensitive match in its
//    folder when the exact name is missing (files written on Windows); never
//    when creating, overwriting or deleting, which use the exact name.
//  - Locks belong to the open file (TFile), not to the process: two TFiles on
//    one file conflict even in one process, and closing some other
//    descriptor of the file releases nothing.
//  - A replacement is all or nothing: a file rewritten whole goes through
//    TReplaceFile, and until its Commit has renamed the new file over the old
//    one, the old file is byte-identical; a replacement abandoned leaves no
//    file of its own behind.
//  - Nothing is overwritten or deleted by surprise: RenameFile refuses an
//    existing target, CopyFile refuses to copy a file onto itself, folder
//    clearing and tree removal never follow links out of the folder.
//
// Paths are UTF-8; the delimiter is '/'. Where the system spells a path with
// a trailing delimiter ("TMP/") the functions accept either form. Errors of
// the "does it exist" kind return false; operations that must succeed raise
// EFileError with the path and the system's reason.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/File.h"

namespace platform {

class TStream;
class THandleStream;

constexpr char PathDelim = '/';

// The running program's own file (from /proc/self/exe) and its folder, the
// latter with a trailing '/'.
std::string ProgramPath();
std::string ProgramDir();

// Joins two path parts with exactly one '/' between them; an absolute `b`
// replaces `a`; an empty part is skipped.
std::string JoinPath(const std::string& a, const std::string& b);
std::string IncludeTrailingPathDelimiter(const std::string& p);
std::string ExcludeTrailingPathDelimiter(const std::string& p);
// "dir/name.ext" -> "name.ext", "dir/" (with delimiter), ".ext", "dir/name".
std::string ExtractFileName(const std::string& p);
std::string ExtractFilePath(const std::string& p);
std::string ExtractFileExt(const std::string& p);
std::string ChangeFileExt(const std::string& p, const std::string& ext);
bool IsAbsolutePath(const std::string& p);
// The path with "." parts and repeated '/' removed and each ".." taking away
// the part before it, without looking at the disk. ".." never climbs above
// the root of an absolute path, nor above the start of a relative one (where
// it is dropped). A trailing '/' stays; a path that comes to nothing is "/"
// when absolute, else empty.
std::string NormalizePath(std::string_view p);

// A regular file (after following links) / a folder.
bool FileExists(const std::string& p);
bool DirectoryExists(const std::string& p);
// The path of an existing regular file: `p` itself, or else the entry of its
// folder whose name equals p's name without regard to case (files written on
// Windows). Empty when there is none. Use only to open existing inputs, never
// to decide what to overwrite or delete.
std::string FindExistingFile(const std::string& p);
// Creates the folder and its parents; true when it exists afterwards, else
// false with errno set.
bool ForceDirectories(const std::string& p);
bool IsWritableDirectory(const std::string& p);

// Deletes every regular file (and link) directly in `dir`; folders stay.
// Failures are ignored; returns the number deleted.
int DeleteFilesInFolder(const std::string& dir);
bool DeleteFile(const std::string& p);
bool RenameFile(const std::string& from, const std::string& to);
// Renames `from` to `to`, replacing whatever file is there in one step;
// false with errno set on failure (the old `to` is then untouched).
bool RenameOver(const std::string& from, const std::string& to);

// Whole-file I/O of raw bytes.
std::string ReadFileBytes(const std::string& p);
void WriteFileBytes(const std::string& p, const std::string& bytes);
// Replaces `p` with `bytes` through a TReplaceFile. Through a link the file
// it points at is replaced and the link stays.
void WriteFileAtomic(const std::string& p, const std::string& bytes);

// The one maker of temporary names. Each creates a new entry named `prefix`,
// random letters and digits, then `suffix`, in `dir` (O_EXCL: never an
// existing one), so the name is reserved the moment it is returned.
//  - CreateTempFile: a file with permissions `perms` less the umask, open for
//    reading and writing.
//  - CreateTempFileName: the same, closed and empty; its name.
//  - CreateTempFolder: a folder only its owner may enter (0700); its path,
//    without a trailing '/'.
TFile CreateTempFile(const std::string& dir, const std::string& prefix, const std::string& suffix = {},
                     unsigned perms = 0600);
std::string CreateTempFileName(const std::string& dir, const std::string& prefix);
std::string CreateTempFolder(const std::string& dir, const std::string& prefix);
// The names in `dir` of the form the three above give with `prefix` and
// `suffix`, random part and all: the leftovers of a program that ended
// before it could remove what it made. Names only, sorted; nothing else of
// the folder is looked at.
std::vector<std::string> FindTempNames(const std::string& dir, const std::string& prefix,
                                       const std::string& suffix = {});
// A second name for the existing file `p`, new beside it (named as a
// TReplaceFile's new file is), kept to put the file back over a replacement
// that has to be undone (RenameOver): a hard link, or a copy where the file
// system has no links. Raises EFileError when neither can be made.
std::string CreateTempLink(const std::string& p);

// Deletes the new files of replacements of `target` (TReplaceFile,
// WriteFileAtomic, CreateTempLink) that a crash or a kill left: beside
// `target`, and beside the file it names when it is a link. Only for a
// target that nothing replaces meanwhile (the caller holds its lock).
// Returns the number deleted.
int DeleteReplacementLeftovers(const std::string& target);

// A whole-file rewrite. The new content goes to a new file created beside
// the target (same folder, so the rename cannot cross file systems), with the
// target's permissions (and owner, where the process may give it) when the
// target is a regular file, else those of a new file (0666 less the umask).
// Commit renames it over the target; until then the target is untouched,
// and a TReplaceFile destroyed without Commit (an exception, a cancel)
// deletes its file.
//
// A link in the target's place is, as the caller says, replaced by the new
// file (an extracted item must not land outside its folder) or followed:
// the file it leads to is replaced, beside itself, and the link stays (a
// user's own file kept elsewhere and reached through a link). Failures of
// the new file name the target, not the temporary name no user knows.
//
// Not thread-safe; one writer at a time.
class TReplaceFile {
 public:
  enum TLinks { ReplaceLink, FollowLink };
  // Raises EFileError when the new file cannot be created.
  explicit TReplaceFile(const std::string& target, TLinks links = ReplaceLink);
  ~TReplaceFile();
  TReplaceFile(const TReplaceFile&) = delete;
  TReplaceFile& operator=(const TReplaceFile&) = delete;

  // The new file, for positioned writes, and the same file as a stream
  // (position 0 at first) for writers that take one.
  TFile& File();
  TStream& Stream();
  // The file replaced: the one a followed link leads to.
  const std::string& Target() const { return target_; }
  // The new file's own name (for setting attributes before Commit).
  const std::string& TempPath() const { return temp_; }
  // Gives the new file the permission bits `perms` (07777 of a mode), in
  // place of the target's. Raises EFileError on failure.
  void SetPermissions(unsigned perms);

  // Flushes the new file to the medium (fsync), closes it, renames it over
  // the target and flushes the folder, so the replacement survives a crash.
  // With `sync` false the two flushes are skipped (many small files on a
  // fixed disk). Raises EFileError and deletes the new file on failure,
  // leaving the target as it was. Once only.
  void Commit(bool sync = true);

 private:
  std::string target_;
  std::string temp_;
  std::unique_ptr<THandleStream> stream_;
  bool committed_ = false;
};

// What a folder entry is. For a link that leads somewhere, the fields other
// than `isLink` describe where it leads; for a dangling one, the link itself
// (mode S_IFLNK).
struct TFileInfo {
  std::string name;  // file name only
  bool isDir = false;
  bool isLink = false;
  int64_t size = 0;
  std::time_t mtime = 0;
  uint32_t mode = 0;  // st_mode
  TFileId id;
};
// What is at `path`, as a folder listing would give it; false when nothing
// is there, not even a dangling link.
bool GetFileInfo(const std::string& path, TFileInfo& info);
// Both paths lead to one existing file (the same device and inode), by
// whatever names and links.
bool IsSameFile(const std::string& a, const std::string& b);
// The entries of a folder, without "." and "..", sorted by name. A folder
// that cannot be read lists as empty.
std::vector<TFileInfo> ListFolder(const std::string& dir);

// Removes an empty folder; true when it is gone.
bool RemoveFolder(const std::string& dir);
// Removes a folder with everything in it. Links are removed, never followed.
// Failures are ignored (what cannot be removed stays).
void DeleteTree(const std::string& dir);
// Copies a regular file with its permissions and times. False when `source`
// is not a regular file, when `dest` is the same file (by identity, not
// name), when `dest` exists and `failIfExists`, or on any failure.
bool CopyFile(const std::string& source, const std::string& dest, bool failIfExists);
// Flushes a folder's entries to the medium (after a rename or create in it).
// Best effort: false when the folder cannot be flushed.
bool SyncFolder(const std::string& dir);
// The system's folder for temporary files: $TMPDIR when it names a folder,
// else /tmp.
std::string SystemTempDir();
// The absolute path with every link resolved; empty when the path does not
// exist.
std::string RealPath(const std::string& p);

// The user's data folder for Tomeshelf: $XDG_DATA_HOME/tomeshelf, else
// ~/.local/share/tomeshelf (not created).
std::string UserDataDir();
// The process's current folder (no trailing '/'); "/" when it cannot be told.
std::string GetCurrentDir();
// The user's configuration folder: $XDG_CONFIG_HOME, else ~/.config (not
// created).
std::string UserConfigDir();

}  // namespace platform
