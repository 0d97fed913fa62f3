// The open file: descriptor ownership, looping transfers, the share lock of
// an open mode and byte-range locks.
//
// Invariants: every transfer loops over short system reads and writes and
// over EINTR, so a count short of the request means the end of the file,
// never an interrupted call; every failure raises EFileError naming the path
// and the system's reason; locks are open-file-description locks
// (F_OFD_SETLK), owned by this TFile's open file alone.
#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/Files.h"

namespace platform {
namespace {

constexpr int64_t kIoChunk = int64_t{1} << 30;  // largest single read/write call
// The byte a deny-none open read-locks: above every data or range lock.
constexpr int64_t kPresenceLockStart = std::numeric_limits<off_t>::max() - 1;

bool Refused(int err) { return err == EAGAIN || err == EACCES; }

// Takes the lock that stands for `share` on a descriptor opened with
// `access` (O_RDONLY, O_WRONLY or O_RDWR); false when another open of the
// file holds a conflicting one. The system ties a lock's kind to the access:
// a read-only open can hold only a read lock, so its exclusive open denies
// writers only, and a write-only open denies writing by denying everything.
// A file system without such locks (an NFS mount without a lock manager)
// opens unlocked rather than not at all.
bool LockForShare(int fd, int access, uint32_t share) {
  struct flock fl {};
  fl.l_whence = SEEK_SET;  // start 0, length 0: the whole file, however long
  if (share == fmShareExclusive || share == fmShareDenyRead || share == fmShareDenyWrite) {
    bool writeLock = share != fmShareDenyWrite;
    if (access != O_RDWR) writeLock = access == O_WRONLY;
    fl.l_type = writeLock ? F_WRLCK : F_RDLCK;
  } else {
    if (access == O_WRONLY) return true;  // a write lock here would deny others
    fl.l_type = F_RDLCK;
    fl.l_start = kPresenceLockStart;
    fl.l_len = 1;
  }
  return ::fcntl(fd, F_OFD_SETLK, &fl) == 0 || !Refused(errno);
}

}  // namespace

TFile::TFile(const std::string& path, uint32_t mode) : path_(path) {
  const bool create = (mode & fmCreate) == fmCreate;
  const uint32_t share = mode & 0xF0;
  int access = O_RDWR;
  if (!create) {
    access = (mode & 3) == fmOpenWrite ? O_WRONLY : (mode & 3) == fmOpenReadWrite ? O_RDWR : O_RDONLY;
    std::string found = FindExistingFile(path);
    if (!found.empty()) path_ = std::move(found);
  }
  writable_ = access != O_RDONLY;
  // Not O_TRUNC: a created file is emptied only once its lock is held.
  const int flags = access | O_CLOEXEC | (create ? O_CREAT : 0);
  const char* what = create ? "Cannot create file \"" : "Cannot open file \"";
  auto fail = [&](int err, const char* reason) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw EFileError(what + path + "\". " + reason, err, path);
  };
  fd_ = ::open(path_.c_str(), flags, 0666);
  if (fd_ < 0) fail(errno, std::strerror(errno));
  struct stat st {};
  if (::fstat(fd_, &st) != 0) fail(errno, std::strerror(errno));
  if (S_ISDIR(st.st_mode)) fail(EISDIR, std::strerror(EISDIR));
  if (!LockForShare(fd_, access, share)) fail(EACCES, "The file is in use.");
  if (create && ::ftruncate(fd_, 0) != 0) fail(errno, std::strerror(errno));
}

TFile::TFile(int fd, std::string path) noexcept : fd_(fd < 0 ? -1 : fd), path_(std::move(path)) {
  if (fd_ >= 0) {
    const int fl = ::fcntl(fd_, F_GETFL);
    writable_ = fl >= 0 && (fl & O_ACCMODE) != O_RDONLY;
  }
}

TFile::~TFile() {
  if (fd_ >= 0) ::close(fd_);
}

TFile::TFile(TFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), writable_(other.writable_), path_(std::move(other.path_)) {}

TFile& TFile::operator=(TFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    writable_ = other.writable_;
    path_ = std::move(other.path_);
  }
  return *this;
}

void TFile::Fail(const char* what, int err) const {
  throw EFileError(std::string(what) + " \"" + path_ + "\": " + std::strerror(err), err, path_);
}

void TFile::CheckOpen(const char* what) const {
  if (fd_ < 0) Fail(what, EBADF);
}

void TFile::Close() {
  if (fd_ < 0) return;
  // The descriptor is gone after close() whatever it returns; retrying
  // could close a descriptor another thread has just been given.
  if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) Fail("Cannot close", errno);
}

int TFile::Release() noexcept { return std::exchange(fd_, -1); }

template <class Io>
int64_t TFile::Transfer(const char* what, bool writing, int64_t count, Io io) {
  CheckOpen(what);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = io(done, static_cast<size_t>(std::min(count - done, kIoChunk)));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(what, errno);
    }
    if (n == 0) {
      if (writing) Fail(what, ENOSPC);  // a device that takes nothing more
      break;                            // the end of the file
    }
    done += n;
  }
  return done;
}

int64_t TFile::ReadAt(int64_t offset, void* buffer, int64_t count) {
  auto* p = static_cast<char*>(buffer);
  return Transfer("Cannot read", false, count, [&](int64_t done, size_t n) {
    return ::pread(fd_, p + done, n, static_cast<off_t>(offset + done));
  });
}

int64_t TFile::WriteAt(int64_t offset, const void* buffer, int64_t count) {
  const auto* p = static_cast<const char*>(buffer);
  return Transfer("Cannot write", true, count, [&](int64_t done, size_t n) {
    return ::pwrite(fd_, p + done, n, static_cast<off_t>(offset + done));
  });
}

int64_t TFile::Read(void* buffer, int64_t count) {
  auto* p = static_cast<char*>(buffer);
  return Transfer("Cannot read", false, count, [&](int64_t done, size_t n) { return ::read(fd_, p + done, n); });
}

int64_t TFile::Write(const void* buffer, int64_t count) {
  const auto* p = static_cast<const char*>(buffer);
  return Transfer("Cannot write", true, count,
                  [&](int64_t done, size_t n) { return ::write(fd_, p + done, n); });
}

int64_t TFile::Seek(int64_t offset, int whence) {
  CheckOpen("Cannot seek in");
  const off_t pos = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (pos < 0) Fail("Cannot seek in", errno);
  return pos;
}

int64_t TFile::Size() {
  CheckOpen("Cannot get the size of");
  struct stat st {};
  if (::fstat(fd_, &st) != 0) Fail("Cannot get the size of", errno);
  return st.st_size;
}

TFileId TFile::Id() {
  CheckOpen("Cannot examine");
  struct stat st {};
  if (::fstat(fd_, &st) != 0) Fail("Cannot examine", errno);
  return {st.st_dev, st.st_ino};
}

void TFile::Truncate(int64_t size) {
  CheckOpen("Cannot set the size of");
  if (size < 0) Fail("Cannot set the size of", EINVAL);
  while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) Fail("Cannot set the size of", errno);
  }
}

void TFile::Sync() {
  CheckOpen("Cannot flush");
  if (::fsync(fd_) != 0) Fail("Cannot flush", errno);
}

void TFile::DataSync() {
  CheckOpen("Cannot flush");
  if (::fdatasync(fd_) != 0) Fail("Cannot flush", errno);
}

void TFile::SetModificationTime(std::time_t mtime) {
  CheckOpen("Cannot set the time of");
  const struct timespec times[2] = {{0, UTIME_OMIT}, {mtime, 0}};
  if (::futimens(fd_, times) != 0) Fail("Cannot set the time of", errno);
}

bool TFile::LockRange(int64_t offset, int64_t length, bool exclusive) {
  CheckOpen("Cannot lock");
  if (offset < 0 || length <= 0 || offset > kPresenceLockStart - length) Fail("Cannot lock", EINVAL);
  if (exclusive && !writable_)
    throw EFileError("Cannot lock \"" + path_ + "\" for writing: the file is open for reading only", EPERM, path_);
  struct flock fl {};
  fl.l_type = exclusive ? F_WRLCK : F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  if (::fcntl(fd_, F_OFD_SETLK, &fl) == 0) return true;
  if (Refused(errno)) return false;
  Fail("Cannot lock", errno);
}

void TFile::UnlockRange(int64_t offset, int64_t length) {
  CheckOpen("Cannot unlock");
  if (offset < 0 || length <= 0 || offset > kPresenceLockStart - length) Fail("Cannot unlock", EINVAL);
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  if (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) Fail("Cannot unlock", errno);
}

}  // namespace platform
