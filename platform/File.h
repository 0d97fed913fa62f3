// An open file: one descriptor with positioned reads and writes, the share
// lock of its open mode, and byte-range locks.
//
// A TFile owns its descriptor (opened O_CLOEXEC) and closes it when it is
// destroyed. It may be moved, not copied. One TFile may be used from one
// thread at a time; ReadAt/WriteAt do not touch the descriptor's position,
// so they are also safe on a TFile shared by threads that do nothing else.
//
// Locks belong to the open file, not to the process: a second TFile on the
// same file, in this process or another, is refused a conflicting range;
// closing some other descriptor of the file releases nothing; closing this
// TFile releases all of its locks.
#pragma once

#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <utility>

namespace platform {

// A file-system operation failed: the message names the path and the
// system's reason; `error` is the errno value and `path` the file or folder
// concerned (empty when the raiser did not say), so that callers can word
// the failure for the user themselves.
class EFileError : public std::runtime_error {
 public:
  EFileError(const std::string& msg, int err, std::string file = {})
      : std::runtime_error(msg), error(err), path(std::move(file)) {}
  int error;
  std::string path;
};

// Open modes: an access mode | a share mode, or fmCreate (create or empty the
// file, read-write), optionally | a share mode.
enum : uint32_t {
  fmOpenRead = 0x0000, fmOpenWrite = 0x0001, fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000, fmShareExclusive = 0x0010, fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030, fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,
};

// Which file an entry or an open file is: equal ids are one file, whatever
// names and links lead to it.
struct TFileId {
  uint64_t dev = 0;
  uint64_t ino = 0;
  bool operator==(const TFileId&) const = default;
};

class TFile {
 public:
  // A closed file.
  TFile() = default;
  // Opens `path` with an fm* mode. Opening an existing file falls back to a
  // case-insensitive match in its folder when the exact name is missing;
  // fmCreate always creates the exact name given (0666 less the umask) and
  // empties it only once its share lock is held, so a create never wipes a
  // file that another open holds exclusively.
  //
  // Share modes are whole-file open-file-description locks: exclusive and
  // deny-read take a write lock, deny-write a read lock; an open that denies
  // nothing takes a read lock on one byte at the top of the offset range,
  // beyond any data or range lock, so that a later exclusive open still sees
  // it. A read-only open can hold only read locks, so its exclusive open
  // denies writers only; a write-only open that denies nothing takes no lock.
  // On a file system without locks the file opens unlocked.
  //
  // Raises EFileError ("Cannot open file "…". reason" / "Cannot create
  // file …"); a share conflict gives EACCES and "The file is in use.".
  TFile(const std::string& path, uint32_t mode);
  // Adopts an open descriptor (a pipe, a device, a file opened elsewhere);
  // `path` names it in messages. A descriptor below 0 gives a closed TFile.
  explicit TFile(int fd, std::string path = {}) noexcept;
  ~TFile();
  TFile(TFile&& other) noexcept;
  TFile& operator=(TFile&& other) noexcept;
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int Handle() const { return fd_; }
  // The path the file was opened under (the name found on disk when the
  // case-insensitive fallback applied).
  const std::string& Path() const { return path_; }
  // Opened for writing (fmOpenWrite, fmOpenReadWrite, fmCreate).
  bool Writable() const { return writable_; }

  // Closes the descriptor; its locks go with it. Raises when the system
  // reports a failure of the close (a deferred write error); the descriptor
  // is closed either way. Nothing happens on a closed file.
  void Close();
  // Gives up the descriptor without closing it; the TFile is closed after.
  int Release() noexcept;

  // Reads up to `count` bytes at `offset`; fewer only at the end of the file.
  int64_t ReadAt(int64_t offset, void* buffer, int64_t count);
  // Writes all `count` bytes at `offset` (a gap before it reads as zeros);
  // returns `count`. Raises with the system's reason (ENOSPC, EFBIG, ...).
  int64_t WriteAt(int64_t offset, const void* buffer, int64_t count);
  // Sequential reads and writes at the descriptor's own position, for pipes
  // and devices as well as files. Read returns fewer bytes only at the end.
  int64_t Read(void* buffer, int64_t count);
  int64_t Write(const void* buffer, int64_t count);
  // lseek: whence is SEEK_SET, SEEK_CUR or SEEK_END; returns the new position.
  int64_t Seek(int64_t offset, int whence);

  int64_t Size();
  TFileId Id();
  // Sets the size: cuts the file or extends it with zeros.
  void Truncate(int64_t size);
  // fsync: data and metadata on the medium. DataSync: fdatasync.
  void Sync();
  void DataSync();
  // Sets the modification time (the access time is left alone).
  void SetModificationTime(std::time_t mtime);

  // Takes a byte-range lock without waiting: a write lock when `exclusive`,
  // else a read lock. True when held; false when another open file (of this
  // process or another) holds a conflicting lock. Ranges may lie beyond the
  // end of the file; `length` must be positive. A write lock on a file opened
  // read-only raises EFileError (EPERM) saying so; a file system without
  // locks raises ENOLCK.
  //
  // Locks of one TFile do not conflict with each other: locking a range it
  // already holds changes its kind, and unlocking part of it leaves the rest.
  // The ranges of the share lock are of the same kind: on a file opened
  // denying others, lock only files opened deny-none.
  bool LockRange(int64_t offset, int64_t length, bool exclusive);
  // Releases this file's locks on the range (none held there is no error).
  void UnlockRange(int64_t offset, int64_t length);

 private:
  [[noreturn]] void Fail(const char* what, int err) const;
  // Moves `count` bytes through `io(done, chunk)` (one system read or write
  // of at most `chunk` bytes after the first `done`), over short transfers
  // and EINTR; a read stops at the end of the file.
  template <class Io>
  int64_t Transfer(const char* what, bool writing, int64_t count, Io io);
  void CheckOpen(const char* what) const;

  int fd_ = -1;
  bool writable_ = false;
  std::string path_;
};

}  // namespace platform
