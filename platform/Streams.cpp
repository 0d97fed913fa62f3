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
#include "platform/Streams.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

// Runs a transfer on the file, turning its failure into a stream error.
template <class Op>
auto OnFile(Op op) {
  try {
    return op();
  } catch (const EFileError& e) {
    throw EStreamError(e.what(), e.error, e.path);
  }
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

int64_t THandleStream::Read(void* buffer, int64_t count) {
  return OnFile([&] { return file_.Read(buffer, count); });
}

int64_t THandleStream::Write(const void* buffer, int64_t count) {
  return OnFile([&] { return file_.Write(buffer, count); });
}

int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
  static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  return OnFile([&] { return file_.Seek(offset, kWhence[origin]); });
}

void THandleStream::SetSize(int64_t newSize) {
  OnFile([&] {
    const int64_t pos = file_.Seek(0, SEEK_CUR);
    file_.Truncate(newSize);
    if (pos > newSize) file_.Seek(newSize, SEEK_SET);
  });
}

void THandleStream::Flush() {
  OnFile([&] { file_.Sync(); });
}

// --- TFileStream -------------------------------------------------------------

namespace {

TFile OpenStreamFile(const std::string& fileName, uint32_t mode) {
  try {
    return TFile(fileName, mode);
  } catch (const EFileError& e) {
    throw EFOpenError(e.what(), e.error, e.path);
  }
}

}  // namespace

TFileStream::TFileStream(const std::string& fileName, uint32_t mode)
    : THandleStream(OpenStreamFile(fileName, mode)) {}

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
