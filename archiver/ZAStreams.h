// Small streams and records the directory and the codec lean on:
//  - TNullStream swallows whatever is written (the target of a test run);
//  - TUnicodeExtendedInfo parses the Unicode-name extra field 0x554E;
//  - ZAWriteWithDiskFullRetry writes a buffer and, when the disk fills,
//    asks whether to try again.
// Objects here are not thread-safe; the functions are reentrant.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Streams.h"

namespace archiver {

// Read and Write report the full count and touch nothing; Seek answers 0;
// SetSize does nothing.
class TNullStream : public platform::TStream {
 public:
  int64_t Read(void*, int64_t count) override { return count; }
  int64_t Write(const void*, int64_t count) override { return count; }
  int64_t Seek(int64_t, platform::TSeekOrigin) override { return 0; }
  int64_t Size() override { return 0; }
  void SetSize(int64_t) override {}
};

// Extra field 0x554E, a file name in UTF-16:
//
//   offset  size        content
//   0       4           signature, the ASCII bytes "NUCX"
//   4       4           name length n in UTF-16 code units, signed LE
//   8       2 x n       the name, UTF-16LE, no terminator
//
// The archiver reads this field (a valid one replaces the header's name) but
// never creates one.
class TUnicodeExtendedInfo {
 public:
  static constexpr uint32_t Signature = 0x5843554E;  // "NUCX" read little-endian

  // Parses a field's data. False, with the name untouched, when the signature
  // is not "NUCX" or the length is negative or longer than the data holds.
  bool Load(const void* data, int64_t size);
  // The same from a stream, from its position 0 to its end.
  bool LoadFromStream(platform::TStream& stream);
  // Writes "NUCX", the length and the UTF-16LE name.
  void SaveToStream(platform::TStream& stream) const;

  // The name as UTF-8 (unpaired surrogates become U+FFFD).
  const std::string& Name() const { return name_; }
  void SetName(const std::string& utf8Name) { name_ = utf8Name; }
  uint32_t AdditionalSignature() const { return additionalSignature_; }

 private:
  std::string name_;
  uint32_t additionalSignature_ = 0;
};

// Called when a write finds the disk full: the volume number (-1 for a plain
// archive), the file being written, and `cancel` (true on entry); leaving
// `cancel` true gives up, setting it false retries the write.
using TZADiskFullHandler = std::function<void(int volumeNumber, const std::string& fileName, bool& cancel)>;

// Writes `count` bytes at the stream's position. When the disk is full (for a
// file: ENOSPC or EDQUOT; for any other stream: a short write) `onDiskFull`
// is asked; on retry the stream goes back to where this write began and the
// whole buffer is written again, as often as the handler allows. When the
// handler cancels (or there is none), `progressCancel` is set and the result
// is false. Other system errors raise EZAException (stream write error).
bool ZAWriteWithDiskFullRetry(platform::TStream& stream, const void* buffer, int64_t count,
                              const std::string& fileName, const TZADiskFullHandler& onDiskFull,
                              bool& progressCancel);

}  // namespace archiver
