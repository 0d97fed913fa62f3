// The reason a failure is given to the user with.
//
// The components below the catalogue raise their own texts: the archiver's
// fixed English messages with a native code, the engine's English disk
// errors, the platform's system messages. The failures a reader of the
// catalogue actually meets — a file that is not there, a file that is no zip
// archive, damaged data, no permission, a full disk — are told in Russian
// with the file's name; any other failure keeps its component's text, which
// says more than a paraphrase could.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "platform/Streams.h"

namespace catalogue {

// The user's reason for `e` (UTF-8). `archive` is the zip file the
// archiver was working on when `e` is one of its errors (its messages do
// not always name it); file errors name their own file. Without a name
// the reason is told without one.
std::string FailureReason(const std::exception& e, const std::string& archive = {});

// The system's reason (an errno value) that an archiver error stands for:
// ENOSPC for its "disk is full", 0 for any other.
int ErrnoOfArchiverError(int nativeError);

// The stream a file is written through by a component that tells a failed
// write only in its own words (the archiver says "disk is full" or "stream
// write error", not which file nor why): the system's reason of the first
// failed write is kept here (ENOSPC for a short one), and the writer sees a
// short write, which it takes for a full disk. `file` is borrowed and must
// outlive this stream.
class TWriteReasonStream final : public platform::TStream {
 public:
  explicit TWriteReasonStream(platform::TStream& file) : file_(file) {}

  int64_t Read(void* buffer, int64_t count) override { return file_.Read(buffer, count); }
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, platform::TSeekOrigin origin) override { return file_.Seek(offset, origin); }
  int64_t Size() override { return file_.Size(); }
  void SetSize(int64_t newSize) override { file_.SetSize(newSize); }

  // The errno of the first write that failed; 0 while none has.
  int Error() const { return error_; }

 private:
  platform::TStream& file_;
  int error_ = 0;
};

}  // namespace catalogue
