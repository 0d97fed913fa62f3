// The engine's disk file: the base of every table, memo and index file.
//
// An XBO_DiskFile is one file of the engine, opened with the engine's
// sharing rules: shared (other programs may open it too, and record and
// file locks are real byte-range locks) or exclusive (no one else may open
// it, and locks are only counted). It reads and writes at 64-bit positions,
// retrying a failed transfer, holds at most one locked range at a time with
// a lock count, truncates, renames and flushes. Every failure raises
// EXBaseError with the file's full path.
//
// Names: the object holds the full path. A name beginning with '/' is taken
// as it is; any other is made absolute against the current folder. Opening
// an existing file finds it also in another case (files written on a
// case-insensitive system), and creating a file whose name exists in
// another case empties and reuses that file, so that two case variants of
// one table never come to exist.
//
// Durability: writes go straight to the system. xbFlush hands nothing more
// to the disk; xbSync (an explicit flush request, or every record write with
// a table's auto-flush) and closing a written file wait until the data is on
// the medium.
//
// An object is used from one thread. All open objects are listed so that
// xbDiskShutdown can have their owners write out what they hold, then
// release their locks and close them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/File.h"

namespace xbase {

class XBO_DiskFile {
 public:
  // Stores the expanded name and the modes and notes whether the file
  // exists now; opens nothing.
  XBO_DiskFile(const std::string& fname, bool readWrite, bool shared);
  // Closes the file (xbCloseFile of this class; a derived class that
  // overrides it closes in its own destructor).
  virtual ~XBO_DiskFile();
  XBO_DiskFile(const XBO_DiskFile&) = delete;
  XBO_DiskFile& operator=(const XBO_DiskFile&) = delete;

  // Opens the existing file with the object's modes: read-write or read-only;
  // shared (others may read and write) or exclusive. Position 0 after.
  // A file that did not exist when the object was made raises 65199; a file
  // another open holds exclusively, or one we may not open, raises 65171.
  virtual void xbReset();
  // Creates the file empty (reusing a case variant of its name), then holds
  // it open with the object's modes. Another open holding it raises 65171
  // and leaves it untouched; any other failure 65172.
  virtual void xbReWrite();
  // Releases a held range once, closes the file and waits until what was
  // written is on the medium (a failure there raises 65196, a failure the
  // system reports at close 65169; the file is closed either way). True.
  virtual bool xbCloseFile();
  // Called by xbDiskShutdown on every open file before any is closed: a
  // file whose owner keeps writes in memory (an index's cached pages) has
  // them stored here. Nothing by default.
  virtual void xbBeforeShutdown() {}

  // Reads / writes `len` bytes at byte `blk`; returns the bytes moved (a
  // short read at the end is no error). A failed transfer is retried
  // XBwrdDiskRetries times, XBwrdAccessMSecDelay ms apart, then raises
  // "Error <errno> in Read|Write of file <path> at block <blk>", or
  // "... in FileSeek ..." when the position itself was refused.
  virtual int xbRead(int64_t blk, void* dat, int len);
  virtual int xbWrite(int64_t blk, const void* dat, int len);
  // Raises 65195 when the size cannot be had.
  virtual int64_t xbFileSize();
  // Hands the object's writes to the system (they already are); clears
  // HasWritten.
  virtual void xbFlush();
  // Sets the end of the file at `loc`. Requires a read-write file and
  // FileFullyLocked, else 65173 ("Truncate"); a system failure raises 65174.
  virtual void xbTruncate(int64_t loc);
  // Renames the file on disk and reopens it under the new name; true. A
  // name that exists (in any case) or any other failure raises 65170 with
  // the old path, and the file stays open under its old name.
  virtual bool xbRename(const std::string& newName);

  // One try at locking the range [pos, pos + len): true when held. An
  // exclusive file only counts. A shared file that holds a range counts the
  // same range again and refuses any other with 65197. (On a file opened
  // read-only the system lock keeps writers out only.)
  virtual bool xbLockRecord(int64_t pos, int64_t len);
  // Exclusive file: true at once. Shared: xbLockRecord(0, 0x7FFFFFFF).
  virtual bool xbLockFile();
  // Counts one hold down; the range is released when the last goes
  // (failure 65175). True.
  virtual bool xbUnLock();
  // Releases the held range whatever its count. True.
  virtual bool xbForceUnlock();
  // Progress of long work (the table reports it; nothing here).
  virtual void xbStatusUpdate(int stat1, int stat2, int stat3);

  // True for an exclusive file; for a shared one only while the whole-file
  // range (0, 0x7FFFFFFF) is held.
  bool FileFullyLocked() const;
  void xbStatusLink(int stat1, int stat2, int stat3) { xbStatusUpdate(stat1, stat2, stat3); }
  // The lock count without touching the system / xbUnLock.
  void IncLockCount() { ++dfLockRec; }
  void DecLockCount() { xbUnLock(); }

  // Byte-range locks outside the lock count, for the lock regions of the
  // table, memo and index protocols (append lock, index lock). They are
  // taken on shared files only; on an exclusive file they succeed without a
  // system call. LockByteRange tries once; xbWaitLock tries for
  // XBwrdAccessMiliSeconds, XBwrdAccessMSecDelay ms apart, then raises 65198
  // (with `counted`, through xbLockRecord).
  bool LockByteRange(int64_t pos, int64_t len);
  void UnlockByteRange(int64_t pos, int64_t len);
  void xbWaitLock(int64_t pos, int64_t len, bool counted = false);

  // Waits until what was written is on the medium (fdatasync); 65196 on
  // failure. Nothing for a closed or unwritten file. A file that keeps
  // others with it (a table's index files) syncs them too.
  virtual void xbSync();

  const std::string& FileName() const { return dfFileName; }
  // The name errors give: FileName(), or `name` once set. A file made under
  // a temporary name, to take the place of `name` when complete, is told
  // by the name the user knows.
  void SetShownName(const std::string& name) { dfShownName = name; }
  const std::string& ShownName() const { return dfShownName.empty() ? dfFileName : dfShownName; }
  // The file existed when the object was made, or has been created since.
  bool FileExist() const { return dfFileExst; }
  // The file is open.
  bool FileFound() const { return !dfClosed; }
  bool FileShared() const { return dfFileShrd; }
  bool FileReadWrite() const { return dfReadWrite; }
  int LockCount() const { return dfLockRec; }
  // Position just after the last read or write.
  int64_t FilePosn() const { return dfFilePosn; }
  // A write has happened since the last flush.
  bool HasWritten() const { return dfHasWritten; }

  // How long a waiting lock keeps trying (default 5000 ms), the pause
  // between tries and between disk retries (default 50 ms), and how often a
  // failed transfer is retried (default 3). The two times must be at least
  // 1 (std::invalid_argument otherwise).
  unsigned XBwrdAccessMiliSeconds() const { return dfAccessMiliSeconds; }
  unsigned XBwrdAccessMSecDelay() const { return dfAccessMSecDelay; }
  unsigned XBwrdDiskRetries() const { return dfDiskRetries; }
  void SetXBwrdAccessMiliSeconds(unsigned ms);
  void SetXBwrdAccessMSecDelay(unsigned ms);
  void SetXBwrdDiskRetries(unsigned n) { dfDiskRetries = n; }

  // The full path the engine uses for `name`.
  static std::string ExpandName(const std::string& name);

 private:
  template <class Transfer>
  int Retry(const char* what, int64_t blk, Transfer transfer);
  void Register();
  void Unregister();
  // Releases the held range at the system; false when that failed.
  bool ReleaseRange();

  platform::TFile dfFile;
  std::string dfFileName;
  std::string dfShownName;
  bool dfFileExst = false;
  bool dfFileShrd = false;
  bool dfReadWrite = false;
  bool dfClosed = true;
  bool dfHasWritten = false;
  bool dfUnsynced = false;  // written since the last sync
  int64_t dfFilePosn = 0;
  int dfLockRec = 0;
  int64_t dfLockPos = 0;
  int64_t dfLockLth = 0;
  unsigned dfAccessMiliSeconds = 5000;
  unsigned dfAccessMSecDelay = 50;
  unsigned dfDiskRetries = 3;
};

// Engine shutdown: every file still open first writes out what its owner
// holds (xbBeforeShutdown), then each has its locks released and is closed
// (xbCloseFile), the last opened first. Failures are passed over: the next
// file is closed all the same. The objects may outlive it; closing them
// later does nothing more. Files opened afterwards are listed afresh.
void xbDiskShutdown();

}  // namespace xbase
