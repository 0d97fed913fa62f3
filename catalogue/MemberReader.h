// Reading one member of a zip archive as raw bytes: the catalogue archive's
// "a.txt" and block files, and the books that are read or exported.
//
// Every catalogue unit reads through ReadMember(), which calls the process's
// current member reader: readZipMember unless a TZipMemberReaderScope has put
// another in its place (tests count reads or serve members from memory).
// Use from the GUI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/CodePage.h"

namespace catalogue {

using platform::AnsiString;

// Opens the zip archive `zipPath` (UTF-8) read-only, finds the member named
// `memberName` and returns its bytes unchanged: all of them when n <= 0, else
// at most its first n. Returns an empty string when the archive has no such
// member. Raises the archiver's exception when the archive cannot be opened
// or the member cannot be extracted (damaged data, wrong CRC). The archive is
// opened and closed for each call.
AnsiString readZipMember(const std::string& zipPath, const std::string& memberName, int64_t n = 0);

// Same contract as readZipMember.
using TZipMemberReader =
    std::function<AnsiString(const std::string& zipPath, const std::string& memberName, int64_t n)>;

// Reads through the current member reader.
AnsiString ReadMember(const std::string& zipPath, const std::string& memberName, int64_t n = 0);

// Puts `reader` in place of the current member reader for the scope's
// lifetime; scopes nest and restore the previous reader on destruction.
class TZipMemberReaderScope {
 public:
  explicit TZipMemberReaderScope(TZipMemberReader reader);
  ~TZipMemberReaderScope();
  TZipMemberReaderScope(const TZipMemberReaderScope&) = delete;
  TZipMemberReaderScope& operator=(const TZipMemberReaderScope&) = delete;

 private:
  TZipMemberReader previous_;
};

}  // namespace catalogue
