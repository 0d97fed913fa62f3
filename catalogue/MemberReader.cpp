#include "catalogue/MemberReader.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "archiver/ZipArchiver.h"

namespace catalogue {

namespace {

TZipMemberReader& CurrentReader() {
  static TZipMemberReader reader;  // empty: readZipMember
  return reader;
}

}  // namespace

AnsiString readZipMember(const std::string& zipPath, const std::string& memberName, int64_t n) {
  // Attributes of everything but folders.
  constexpr int kMemberAttributes = 0x1EF;

  archiver::TZipArchiver zip;
  zip.SetFileName(zipPath);
  zip.OpenArchive(archiver::ZAModeRead);
  archiver::TZAArchiveItem item;
  if (!zip.FindFirst(memberName, item, kMemberAttributes, "")) return {};
  const std::string stored = item.StoredPath + item.FileName;

  // Raw bytes either way: the members hold binary block headers and text in
  // more than one code page.
  AnsiString bytes;
  if (n > 0) {
    // A member shorter than asked for gives what it has.
    const int64_t count = std::min({n, item.UncompressedSize,
                                    static_cast<int64_t>(std::numeric_limits<int>::max())});
    if (count <= 0) return {};
    bytes.resize(static_cast<size_t>(count));
    zip.ExtractToBuffer(stored, bytes.data(), static_cast<int>(count), 0);
  } else {
    zip.ExtractToString(stored, bytes);
  }
  return bytes;  // the archive closes with `zip`
}

AnsiString ReadMember(const std::string& zipPath, const std::string& memberName, int64_t n) {
  const TZipMemberReader& reader = CurrentReader();
  return reader ? reader(zipPath, memberName, n) : readZipMember(zipPath, memberName, n);
}

TZipMemberReaderScope::TZipMemberReaderScope(TZipMemberReader reader)
    : previous_(std::exchange(CurrentReader(), std::move(reader))) {}

TZipMemberReaderScope::~TZipMemberReaderScope() { CurrentReader() = std::move(previous_); }

}  // namespace catalogue
