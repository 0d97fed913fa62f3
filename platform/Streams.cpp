// The stream family: TStream's buffer helpers, the file-descriptor stream,
// the named-file stream with its share locks, and the memory and string
// streams.
//
// Invariants: positions are 64-bit and may lie past the end (a read there
// returns 0, a write there fills the gap with zero bytes); Read and Write on
// a file loop over short system reads and writes, so a count short of the
// request means the end of the file, never an interrupted call; system
// failures raise EStreamError with the system's reason, nothing fails
// silently.
//
// Share modes on Linux: a file opened denying others holds an open-file-
// description lock over the whole file (a write lock for exclusive and
// deny-read, a read lock for deny-write). An open that denies nothing holds
// a read lock on one byte at the top of the offset range, which no data or
// record lock reaches, so that a later exclusive open still sees it.
// (LockForShare below says where the system's rules narrow this.)
#include "platform/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/Files.h"

namespace platform {
namespace {

constexpr int64_t kIoChunk = int64_t{1} << 30;  // largest single read/write call
constexpr off_t kPresenceLockStart = std::numeric_limits<off_t>::max() - 1;

std::string SystemReason(int err) { return std::strerror(err); }

[[noreturn]] void ThrowIo(const char* what) {
  throw EStreamError(std::string(what) + ": " + SystemReason(errno));
}

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
  return fcntl(fd, F_OFD_SETLK, &fl) == 0 || (errno != EAGAIN && errno != EACCES);
}

// Reads and writes over an in-memory byte container (std::vector<uint8_t>
// or std::string) at `pos`; shared by TMemoryStream and TStringStream.
template <class Bytes>
int64_t ReadBytes(const Bytes& data, int64_t& pos, void* buffer, int64_t count) {
  int64_t size = static_cast<int64_t>(data.size());
  if (count <= 0 || pos >= size) return 0;
  int64_t n = std::min(count, size - pos);
  std::memcpy(buffer, data.data() + pos, static_cast<size_t>(n));
  pos += n;
  return n;
}

template <class Bytes>
int64_t WriteBytes(Bytes& data, int64_t& pos, const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t end = pos + count;
  if (end > static_cast<int64_t>(data.size())) data.resize(static_cast<size_t>(end));
  std::memcpy(data.data() + pos, buffer, static_cast<size_t>(count));
  pos = end;
  return count;
}

int64_t SeekBytes(int64_t size, int64_t& pos, int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? pos : size;
  if (offset < -base) throw EStreamError("Seek before the start of the stream");
  pos = base + offset;
  return pos;
}

template <class Bytes>
void ResizeBytes(Bytes& data, int64_t& pos, int64_t newSize) {
  if (newSize < 0) throw EStreamError("Negative stream size");
  data.resize(static_cast<size_t>(newSize));
  pos = std::min(pos, newSize);
}

}  // namespace

// --- TStream -----------------------------------------------------------------

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t end = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return end;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  auto* p = static_cast<char*>(buffer);
  while (count > 0) {
    int64_t n = Read(p, count);
    if (n <= 0) throw EStreamError("Stream read error");
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  const auto* p = static_cast<const char*>(buffer);
  while (count > 0) {
    int64_t n = Write(p, count);
    if (n <= 0) throw EStreamError("Stream write error");
    p += n;
    count -= n;
  }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count <= 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<char> buf(static_cast<size_t>(std::min<int64_t>(count, 256 * 1024)));
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buf.size()));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    left -= n;
  }
  return count;
}

// --- THandleStream -----------------------------------------------------------

THandleStream::~THandleStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t THandleStream::Read(void* buffer, int64_t count) {
  auto* p = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd_, p + done, static_cast<size_t>(std::min(count - done, kIoChunk)));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowIo("Read error");
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t THandleStream::Write(const void* buffer, int64_t count) {
  const auto* p = static_cast<const char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd_, p + done, static_cast<size_t>(std::min(count - done, kIoChunk)));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowIo("Write error");
    }
    done += n;
  }
  return done;
}

int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
  static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  off_t pos = ::lseek(fd_, offset, kWhence[origin]);
  if (pos < 0) ThrowIo("Seek error");
  return pos;
}

void THandleStream::SetSize(int64_t newSize) {
  int64_t pos = Position();
  if (::ftruncate(fd_, newSize) != 0) ThrowIo("Cannot set the file size");
  if (pos > newSize) Seek(newSize, soBeginning);
}

void THandleStream::Flush() {
  if (::fsync(fd_) != 0) ThrowIo("Flush error");
}

// --- TFileStream -------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, uint32_t mode)
    : THandleStream(-1), fileName_(fileName) {
  const bool create = (mode & fmCreate) == fmCreate;
  const uint32_t share = mode & 0xF0;
  int access = O_RDWR;
  if (!create) {
    access = (mode & 3) == fmOpenWrite ? O_WRONLY : (mode & 3) == fmOpenReadWrite ? O_RDWR : O_RDONLY;
    std::string found = FindExistingFile(fileName);
    if (!found.empty()) fileName_ = found;
  }
  // Not O_TRUNC: a created file is emptied only once its lock is held, so a
  // create never wipes a file another open holds exclusively.
  const int flags = access | O_CLOEXEC | (create ? O_CREAT : 0);
  const char* what = create ? "Cannot create file \"" : "Cannot open file \"";
  auto fail = [&](int err, const std::string& reason) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw EFOpenError(what + fileName + "\". " + reason, err);
  };
  fd_ = ::open(fileName_.c_str(), flags, 0666);
  if (fd_ < 0) fail(errno, SystemReason(errno));
  struct stat st {};
  if (::fstat(fd_, &st) != 0) fail(errno, SystemReason(errno));
  if (S_ISDIR(st.st_mode)) fail(EISDIR, SystemReason(EISDIR));
  if (!LockForShare(fd_, access, share)) fail(EACCES, "The file is in use.");
  if (create && ::ftruncate(fd_, 0) != 0) fail(errno, SystemReason(errno));
}

// --- TMemoryStream -----------------------------------------------------------

int64_t TMemoryStream::Read(void* buffer, int64_t count) { return ReadBytes(data_, pos_, buffer, count); }
int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  return WriteBytes(data_, pos_, buffer, count);
}
int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  return SeekBytes(Size(), pos_, offset, origin);
}
void TMemoryStream::SetSize(int64_t newSize) { ResizeBytes(data_, pos_, newSize); }

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  pos_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& s) {
  s.SetPosition(0);
  int64_t size = s.Size();
  SetSize(size);
  if (size > 0) s.ReadBuffer(data_.data(), size);
  pos_ = 0;
}

void TMemoryStream::SaveToStream(TStream& s) { s.WriteBuffer(data_.data(), Size()); }

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(f);
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
  TFileStream f(fileName, fmCreate);
  SaveToStream(f);
}

// --- TStringStream -----------------------------------------------------------

int64_t TStringStream::Read(void* buffer, int64_t count) { return ReadBytes(data_, pos_, buffer, count); }
int64_t TStringStream::Write(const void* buffer, int64_t count) {
  return WriteBytes(data_, pos_, buffer, count);
}
int64_t TStringStream::Seek(int64_t offset, TSeekOrigin origin) {
  return SeekBytes(Size(), pos_, offset, origin);
}
void TStringStream::SetSize(int64_t newSize) { ResizeBytes(data_, pos_, newSize); }

}  // namespace platform
