// Files, folders and paths on Linux.
//
// Paths are UTF-8; the delimiter is '/'. Where the system spells a path with
// a trailing delimiter ("TMP/") the functions accept either form. Errors of
// the "does it exist" kind return false; operations that must succeed raise
// EFileError with the path and the system's reason.
#pragma once

#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

class EFileError : public std::runtime_error {
 public:
  EFileError(const std::string& msg, int err) : std::runtime_error(msg), error(err) {}
  int error;  // errno
};

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

// A regular file (after following links) / a folder.
bool FileExists(const std::string& p);
bool DirectoryExists(const std::string& p);
// The path of an existing regular file: `p` itself, or else the entry of its
// folder whose name equals p's name without regard to case (files written on
// Windows). Empty when there is none. Use only to open existing inputs, never
// to decide what to overwrite or delete.
std::string FindExistingFile(const std::string& p);
// Creates the folder and its parents; true when it exists afterwards.
bool ForceDirectories(const std::string& p);
bool IsWritableDirectory(const std::string& p);

// Deletes every regular file (and link) directly in `dir`; folders stay.
// Failures are ignored; returns the number deleted.
int DeleteFilesInFolder(const std::string& dir);
bool DeleteFile(const std::string& p);
bool RenameFile(const std::string& from, const std::string& to);

// Whole-file I/O of raw bytes.
std::string ReadFileBytes(const std::string& p);
void WriteFileBytes(const std::string& p, const std::string& bytes);
// Writes to a temporary file in the same folder, flushes and renames it over
// `p`, so a failure never leaves the user with neither the old nor the new.
void WriteFileAtomic(const std::string& p, const std::string& bytes);
// A fresh, unused name in `dir` beginning with `prefix` (the file is created
// empty so the name stays reserved).
std::string CreateTempFileName(const std::string& dir, const std::string& prefix);

struct TFileInfo {
  std::string name;  // file name only
  bool isDir = false;
  int64_t size = 0;
  std::time_t mtime = 0;
  uint32_t mode = 0;  // st_mode
};
// The entries of a folder, without "." and "..", sorted by name.
std::vector<TFileInfo> ListFolder(const std::string& dir);

// The user's data folder for Tomeshelf: $XDG_DATA_HOME/tomeshelf, else
// ~/.local/share/tomeshelf (not created).
std::string UserDataDir();

}  // namespace platform
