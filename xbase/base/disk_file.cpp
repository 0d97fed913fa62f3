#include "xbase/base/disk_file.h"

#include <cerrno>
#include <stdexcept>
#include <vector>

#include "platform/Files.h"
#include "xbase/base/errors.h"
#include "xbase/base/system.h"

namespace xbase {

namespace {

constexpr int64_t kWholeFile = 0x7FFFFFFF;

// The files now open, in the order they were opened. Not owned.
std::vector<XBO_DiskFile*>*& OpenFiles() {
  static std::vector<XBO_DiskFile*>* files = nullptr;
  return files;
}

uint32_t ShareMode(bool shared) { return shared ? platform::fmShareDenyNone : platform::fmShareExclusive; }

}  // namespace

std::string XBO_DiskFile::ExpandName(const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  return platform::NormalizePath(platform::JoinPath(platform::GetCurrentDir(), name));
}

XBO_DiskFile::XBO_DiskFile(const std::string& fname, bool readWrite, bool shared)
    : dfFileName(ExpandName(fname)), dfFileShrd(shared), dfReadWrite(readWrite) {
  const std::string found = platform::FindExistingFile(dfFileName);
  dfFileExst = !found.empty();
  if (dfFileExst) dfFileName = found;
}

XBO_DiskFile::~XBO_DiskFile() {
  try {
    XBO_DiskFile::xbCloseFile();
  } catch (const EXBaseError&) {
    // A destructor cannot report; an explicit xbCloseFile does.
  }
}

void XBO_DiskFile::Register() {
  auto*& files = OpenFiles();
  if (!files) files = new std::vector<XBO_DiskFile*>;
  files->push_back(this);
}

void XBO_DiskFile::Unregister() {
  auto* files = OpenFiles();
  if (!files) return;
  for (auto it = files->begin(); it != files->end(); ++it)
    if (*it == this) {
      files->erase(it);
      return;
    }
}

void XBO_DiskFile::xbReset() {
  if (!dfClosed) xbCloseFile();
  if (!dfFileExst) XBRaise(xbmFileNotFound, {ShownName()});
  try {
    dfFile = platform::TFile(dfFileName, (dfReadWrite ? platform::fmOpenReadWrite : platform::fmOpenRead) |
                                             ShareMode(dfFileShrd));
  } catch (const platform::EFileError& e) {
    XBRaise(e.error == ENOENT ? xbmFileNotFound : xbmAccessDenied, {ShownName()});
  }
  dfFileName = dfFile.Path();
  dfFilePosn = 0;
  dfClosed = false;
  Register();
}

void XBO_DiskFile::xbReWrite() {
  if (!dfClosed) xbCloseFile();
  // The table may come from a system where "BO.DBF" and "bo.dbf" are one
  // file: empty the variant that is there rather than make a second one.
  const std::string found = platform::FindExistingFile(dfFileName);
  if (!found.empty()) dfFileName = found;
  platform::TFile created;
  try {
    created = platform::TFile(dfFileName, platform::fmCreate | ShareMode(dfFileShrd));
  } catch (const platform::EFileError& e) {
    XBRaise(e.error == EACCES || e.error == EAGAIN ? xbmAccessDenied : xbmCannotCreate,
            {ShownName()});
  }
  dfFileExst = true;
  if (dfReadWrite) {
    // The new file is open read-write under our share lock already; keeping
    // it leaves no moment in which another program could take it.
    dfFile = std::move(created);
    dfFilePosn = 0;
    dfClosed = false;
    Register();
    return;
  }
  created.Close();
  xbReset();
}

bool XBO_DiskFile::xbCloseFile() {
  if (dfClosed) return true;
  if (dfLockRec > 0) {
    // Closing releases every lock of the file in any case.
    dfLockRec = 0;
    ReleaseRange();
  }
  Unregister();
  int failure = 0;
  if (dfUnsynced) {
    try {
      dfFile.DataSync();
    } catch (const platform::EFileError&) {
      failure = xbmFlushError;
    }
    dfUnsynced = false;
  }
  try {
    dfFile.Close();
  } catch (const platform::EFileError&) {
    if (!failure) failure = xbmCloseError;  // a write the system could not complete
  }
  dfClosed = true;
  dfFilePosn = 0;
  if (failure) XBRaise(failure, {ShownName()});
  return true;
}

template <class Transfer>
int XBO_DiskFile::Retry(const char* what, int64_t blk, Transfer transfer) {
  int err = 0;
  auto once = [&]() -> int64_t {
    try {
      return transfer();
    } catch (const platform::EFileError& e) {
      err = e.error;
      // The system refused the position itself.
      return err == EINVAL || err == EOVERFLOW ? -2 : -1;
    }
  };
  int64_t r = once();
  for (unsigned i = 0; r < 0 && i < dfDiskRetries; ++i) {
    SleepMs(dfAccessMSecDelay);
    r = once();
  }
  if (r < 0) XBRaiseDiskError(r == -2 ? "FileSeek" : what, err, ShownName(), blk);
  return static_cast<int>(r);
}

int XBO_DiskFile::xbRead(int64_t blk, void* dat, int len) {
  const int n = Retry("Read", blk, [&] { return dfFile.ReadAt(blk, dat, len); });
  dfFilePosn = blk + len;
  return n;
}

int XBO_DiskFile::xbWrite(int64_t blk, const void* dat, int len) {
  dfHasWritten = false;
  const int n = Retry("Write", blk, [&] { return dfFile.WriteAt(blk, dat, len); });
  dfFilePosn = blk + len;
  dfHasWritten = dfUnsynced = true;
  return n;
}

int64_t XBO_DiskFile::xbFileSize() {
  try {
    return dfFile.Size();
  } catch (const platform::EFileError&) {
    XBRaise(xbmFileSizeError, {ShownName()});
  }
}

void XBO_DiskFile::xbFlush() { dfHasWritten = false; }

void XBO_DiskFile::xbSync() {
  if (dfClosed || !dfUnsynced) return;
  try {
    dfFile.DataSync();
  } catch (const platform::EFileError&) {
    XBRaise(xbmFlushError, {ShownName()});
  }
  dfUnsynced = false;
}

void XBO_DiskFile::xbTruncate(int64_t loc) {
  if (!dfReadWrite || !FileFullyLocked()) XBRaise(xbmFullAccessRequired, {"Truncate", ShownName()});
  try {
    dfFile.Truncate(loc);
  } catch (const platform::EFileError&) {
    XBRaise(xbmTruncateError, {ShownName()});
  }
  dfUnsynced = true;
}

bool XBO_DiskFile::xbRename(const std::string& newName) {
  const std::string target = ExpandName(newName);
  xbCloseFile();
  // A case variant of the target is the same table on the systems tables
  // come from: refuse it like the name itself (unless it is this file).
  const std::string existing = platform::FindExistingFile(target);
  if ((!existing.empty() && existing != dfFileName) || !platform::RenameFile(dfFileName, target)) {
    xbReset();
    XBRaise(xbmRenameError, {ShownName()});
  }
  dfFileName = target;
  dfShownName.clear();
  xbReset();
  return true;
}

bool XBO_DiskFile::LockByteRange(int64_t pos, int64_t len) {
  if (!dfFileShrd) return true;
  try {
    // Range locks keep other programs out; a file opened read-only can only
    // keep writers out.
    return dfFile.LockRange(pos, len, dfReadWrite);
  } catch (const platform::EFileError& e) {
    return e.error == ENOLCK;  // a file system without locks: nothing to coordinate with
  }
}

void XBO_DiskFile::UnlockByteRange(int64_t pos, int64_t len) {
  if (!dfFileShrd) return;
  try {
    dfFile.UnlockRange(pos, len);
  } catch (const platform::EFileError& e) {
    if (e.error != ENOLCK) XBRaise(xbmUnlockError, {ShownName()});
  }
}

void XBO_DiskFile::xbWaitLock(int64_t pos, int64_t len, bool counted) {
  const unsigned tries = dfAccessMiliSeconds / dfAccessMSecDelay;
  for (unsigned i = 0; i < tries; ++i) {
    if (counted ? xbLockRecord(pos, len) : LockByteRange(pos, len)) return;
    SleepMs(dfAccessMSecDelay);
  }
  XBRaise(xbmCannotLock, {ShownName()});
}

bool XBO_DiskFile::ReleaseRange() {
  if (!dfFileShrd) return true;
  try {
    dfFile.UnlockRange(dfLockPos, dfLockLth);
    return true;
  } catch (const platform::EFileError& e) {
    return e.error == ENOLCK;
  }
}

bool XBO_DiskFile::xbLockRecord(int64_t pos, int64_t len) {
  if (dfLockRec > 0 && dfFileShrd) {
    if (pos != dfLockPos || len != dfLockLth) XBRaise(xbmAnotherLock, {ShownName()});
    ++dfLockRec;
    return true;
  }
  dfLockPos = pos;
  dfLockLth = len;
  if (dfFileShrd && !LockByteRange(pos, len)) return false;
  ++dfLockRec;
  return true;
}

bool XBO_DiskFile::xbLockFile() { return !dfFileShrd || xbLockRecord(0, kWholeFile); }

bool XBO_DiskFile::xbUnLock() {
  if (dfLockRec > 0) {
    if (dfFileShrd && dfLockRec == 1 && !ReleaseRange()) XBRaise(xbmUnlockError, {ShownName()});
    --dfLockRec;
  }
  return true;
}

bool XBO_DiskFile::xbForceUnlock() {
  if (dfLockRec > 0) {
    dfLockRec = 1;
    xbUnLock();
  }
  return true;
}

void XBO_DiskFile::xbStatusUpdate(int, int, int) {}

bool XBO_DiskFile::FileFullyLocked() const {
  return !dfFileShrd || (dfLockRec > 0 && dfLockPos == 0 && dfLockLth == kWholeFile);
}

void XBO_DiskFile::SetXBwrdAccessMiliSeconds(unsigned ms) {
  if (ms < 1) throw std::invalid_argument("XBwrdAccessMiliSeconds must be at least 1");
  dfAccessMiliSeconds = ms;
}

void XBO_DiskFile::SetXBwrdAccessMSecDelay(unsigned ms) {
  if (ms < 1) throw std::invalid_argument("XBwrdAccessMSecDelay must be at least 1");
  dfAccessMSecDelay = ms;
}

void xbDiskShutdown() {
  auto*& files = OpenFiles();
  // While every file is still open: an index writes its cached pages into
  // its own file, which closing the handle under it would lose.
  if (files)
    for (XBO_DiskFile* f : std::vector<XBO_DiskFile*>(*files)) {
      try {
        f->xbBeforeShutdown();
      } catch (const std::exception&) {
        // Shutting down: the other files are written and closed all the same.
      }
    }
  while (files && !files->empty()) {
    XBO_DiskFile* f = files->back();
    files->pop_back();
    try {
      f->xbCloseFile();
    } catch (const EXBaseError&) {
      // Shutting down: the file is closed whatever the system said.
    }
  }
  delete files;
  files = nullptr;
}

}  // namespace xbase
