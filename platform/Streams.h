// The stream family: a byte stream with 64-bit positions, over a file, over
// memory, or over a string.
//
// A stream object is not thread-safe; share one between threads only with
// outside locking. Short reads are normal (Read returns what was there);
// ReadBuffer/WriteBuffer raise EStreamError when the full count cannot move.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/File.h"

namespace platform {

// A stream transfer failed. When a file's failure caused it, `error` is its
// errno value and `path` the file (else 0 and empty).
class EStreamError : public std::runtime_error {
 public:
  explicit EStreamError(const std::string& msg, int err = 0, std::string file = {})
      : std::runtime_error(msg), error(err), path(std::move(file)) {}
  int error;
  std::string path;
};
// Opening or creating a file failed; carries errno.
class EFOpenError : public EStreamError {
 public:
  EFOpenError(const std::string& msg, int err, std::string file = {}) : EStreamError(msg, err, std::move(file)) {}
};

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Reads up to `count` bytes; returns how many were read (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes up to `count` bytes; returns how many were written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position; returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size();
  // Truncates or extends the stream.
  virtual void SetSize(int64_t newSize) = 0;

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, soBeginning); }

  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies `count` bytes from `source` at its position; count 0 copies the
  // whole source from its start. Returns the number copied.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream over an open file: reads, writes and seeks at the descriptor's
// own position, so pipes and devices work as well as files. It owns the
// file. Failures of the system raise EStreamError with its reason.
class THandleStream : public TStream {
 public:
  // Adopts a descriptor (closed with the stream).
  explicit THandleStream(int fd) : file_(fd) {}
  explicit THandleStream(TFile file) : file_(std::move(file)) {}
  int Handle() const { return file_.Handle(); }
  // The file itself, for positioned transfers, locks and syncs.
  TFile& File() { return file_; }
  const TFile& File() const { return file_; }
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  // Flushes written data to the disk (fsync).
  void Flush();

 private:
  TFile file_;
};

// A file opened by name with an fm* mode, as TFile opens it (the case-
// insensitive fallback for existing files, share modes as locks). Failing
// to open raises EFOpenError.
class TFileStream : public THandleStream {
 public:
  TFileStream(const std::string& fileName, uint32_t mode);
  const std::string& FileName() const { return File().Path(); }
};

// A growable block of memory.
class TMemoryStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t newSize) override;
  void Clear();
  uint8_t* Memory() { return data_.data(); }
  const uint8_t* Memory() const { return data_.data(); }
  void LoadFromStream(TStream& s);
  void SaveToStream(TStream& s);
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);

 private:
  std::vector<uint8_t> data_;
  int64_t pos_ = 0;
};

// A stream over a byte string (raw bytes; no code-page conversion).
class TStringStream : public TStream {
 public:
  TStringStream() = default;
  explicit TStringStream(std::string data) : data_(std::move(data)) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t newSize) override;
  const std::string& DataString() const { return data_; }

 private:
  std::string data_;
  int64_t pos_ = 0;
};

}  // namespace platform
