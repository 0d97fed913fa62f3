// Helpers of extraction that stand on their own: turning an item name into a
// path that stays inside the destination folder, and the small streams the
// string and buffer forms of extraction write through.
//
// The extraction operations themselves (ExtractFiles, TestFiles,
// ExtractToStream, ExtractToBuffer, ExtractToString, IsFilePasswordValid,
// IsValidArchiveFile and the per-item loop ProcessTaggedFiles) are members of
// TZABaseArchiver, implemented in ZAExtract.cpp.
//
// Everything here is reentrant.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Streams.h"

namespace archiver {

// The relative path, '/'-separated, that an item name may take below a
// destination folder. Archives come from anywhere, so the name is read the
// way the most permissive reader would and then made harmless:
//  - '/' and '\' both separate;
//  - a drive prefix ("C:") and leading separators are dropped;
//  - empty, "." and ".." components are dropped (not resolved: "a/../b"
//    gives "a/b"), so no component can climb out of the folder;
//  - a name ending in a separator keeps one trailing '/' (a folder item).
// Returns an empty string when nothing is left or the name holds a NUL byte:
// such a name has no place on disk.
std::string ZASafeRelativePath(std::string_view name);

// A stream that writes into a caller's string (from its position on,
// growing it as needed). Used to hand an item's bytes over without a copy.
class TZAStringSink : public platform::TStream {
 public:
  explicit TZAStringSink(std::string& target) : s_(target) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, platform::TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(s_.size()); }
  void SetSize(int64_t newSize) override;

 private:
  std::string& s_;
  int64_t pos_ = 0;
};

// A stream over a caller's fixed-size buffer: writes past its end come up
// short, as a full disk would.
class TZABufferSink : public platform::TStream {
 public:
  TZABufferSink(void* buffer, int64_t capacity)
      : p_(static_cast<uint8_t*>(buffer)), cap_(capacity) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, platform::TSeekOrigin origin) override;
  int64_t Size() override { return size_; }
  void SetSize(int64_t newSize) override;

 private:
  uint8_t* p_;
  int64_t cap_;
  int64_t size_ = 0;  // bytes written so far (the furthest position reached)
  int64_t pos_ = 0;
};

}  // namespace archiver
