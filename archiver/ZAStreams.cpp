#include "archiver/ZAStreams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archiver/ZAExcept.h"
#include "platform/CodePage.h"

namespace archiver {

namespace {

uint32_t GetLE32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string Utf16LeToUtf8(const uint8_t* p, int64_t units) {
  std::string out;
  out.reserve(static_cast<size_t>(units));
  for (int64_t i = 0; i < units; ++i) {
    char32_t u = static_cast<char32_t>(p[2 * i] | (p[2 * i + 1] << 8));
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const char32_t lo = static_cast<char32_t>(p[2 * i + 2] | (p[2 * i + 3] << 8));
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      } else {
        u = 0xFFFD;
      }
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    platform::AppendUtf8(out, u);
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& s) {
  std::u16string out;
  size_t pos = 0;
  while (pos < s.size()) {
    const char32_t c = platform::DecodeUtf8(s, pos);
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

}  // namespace

bool TUnicodeExtendedInfo::Load(const void* data, int64_t size) {
  if (data == nullptr || size < 4) return false;
  const auto* p = static_cast<const uint8_t*>(data);
  additionalSignature_ = GetLE32(p);
  if (additionalSignature_ != Signature || size < 8) return false;
  const int32_t length = static_cast<int32_t>(GetLE32(p + 4));
  // A length that the block cannot hold is damage, not a name.
  if (length < 0 || length > (size - 8) / 2) return false;
  name_ = Utf16LeToUtf8(p + 8, length);
  return true;
}

bool TUnicodeExtendedInfo::LoadFromStream(platform::TStream& stream) {
  stream.SetPosition(0);
  const int64_t size = stream.Size();
  if (size < 4) return false;
  std::string block(static_cast<size_t>(size), '\0');
  const int64_t got = stream.Read(block.data(), size);
  return Load(block.data(), got);
}

void TUnicodeExtendedInfo::SaveToStream(platform::TStream& stream) const {
  const std::u16string units = Utf8ToUtf16(name_);
  std::string block(8 + 2 * units.size(), '\0');
  auto* p = reinterpret_cast<uint8_t*>(block.data());
  PutLE32(p, Signature);
  PutLE32(p + 4, static_cast<uint32_t>(units.size()));
  for (size_t i = 0; i < units.size(); ++i) {
    p[8 + 2 * i] = static_cast<uint8_t>(units[i] & 0xFF);
    p[9 + 2 * i] = static_cast<uint8_t>(units[i] >> 8);
  }
  stream.WriteBuffer(block.data(), static_cast<int64_t>(block.size()));
}

namespace {

// Writes the whole buffer; false when the medium is full. A file stream is
// written through its file so that the reason of a failure is known; any
// other stream is full when it takes less than it was given.
bool WriteAll(platform::TStream& stream, const void* buffer, int64_t count) {
  if (auto* handle = dynamic_cast<platform::THandleStream*>(&stream)) {
    try {
      handle->File().Write(buffer, count);
    } catch (const platform::EFileError& e) {
      if (e.error == ENOSPC || e.error == EDQUOT) return false;
      throw EZAException(ZA_ERR_STREAM_WRITE);
    }
    return true;
  }
  return stream.Write(buffer, count) == count;
}

}  // namespace

bool ZAWriteWithDiskFullRetry(platform::TStream& stream, const void* buffer, int64_t count,
                              const std::string& fileName, const TZADiskFullHandler& onDiskFull,
                              bool& progressCancel) {
  if (count <= 0) return true;
  const int64_t start = stream.Position();
  for (;;) {
    if (WriteAll(stream, buffer, count)) return true;
    bool cancel = true;
    if (onDiskFull) onDiskFull(-1, fileName, cancel);
    if (cancel) {
      progressCancel = true;
      return false;
    }
    stream.SetPosition(start);
  }
}

}  // namespace archiver
