#include "catalogue/FailureText.h"

#include <cerrno>

#include "archiver/ZAExcept.h"
#include "archiver/ZAZlib.h"
#include "platform/File.h"
#include "platform/Streams.h"
#include "xbase/base/errors.h"

namespace catalogue {

namespace {

enum class TKind { Other, NotFound, NotZip, Damaged, NoPermission, DiskFull };

// The archiver's message texts (by index; several native codes share one).
TKind KindOfArchiverText(int messageIndex) {
  switch (messageIndex) {
    case 6:  // File "%s" not found
      return TKind::NotFound;
    case 18:  // Invalid archive file.
    case 22:  // Cannot find 64-bit directory end record
    case 24:  // Cannot open archive file. Opening aborted or invalid file
      return TKind::NotZip;
    case 4:   // Invalid size or check sum of file or unsupported compression format
    case 17:  // Invalid compressed size
    case 27:  // Archive is damaged. Open failed
      return TKind::Damaged;
    case 39:  // Disk is full.
      return TKind::DiskFull;
    default:
      return TKind::Other;
  }
}

TKind KindOfErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return TKind::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return TKind::NoPermission;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return TKind::DiskFull;
    default:
      return TKind::Other;
  }
}

std::string Named(const char* text, const std::string& file) {
  return file.empty() ? std::string(text) : std::string(text) + ": " + file;
}

}  // namespace

std::string FailureReason(const std::exception& e, const std::string& archive) {
  TKind kind = TKind::Other;
  std::string file;
  if (const auto* za = dynamic_cast<const archiver::EZAException*>(&e)) {
    kind = KindOfArchiverText(za->ErrorCode);
    file = archive;
  } else if (dynamic_cast<const archiver::EZlibError*>(&e)) {
    kind = TKind::Damaged;
    file = archive;
  } else if (const auto* fe = dynamic_cast<const platform::EFileError*>(&e)) {
    kind = KindOfErrno(fe->error);
    file = fe->path;
  } else if (const auto* se = dynamic_cast<const platform::EStreamError*>(&e)) {
    kind = KindOfErrno(se->error);
    file = se->path;
  } else if (const auto* xe = dynamic_cast<const xbase::EXBaseDiskError*>(&e)) {
    kind = KindOfErrno(xe->error);
    file = xe->path;
  }
  switch (kind) {
    case TKind::NotFound:
      return Named("Файл не найден", file);
    case TKind::NotZip:
      return Named("Файл не является zip-архивом", file);
    case TKind::Damaged:
      return Named("Данные повреждены", file);
    case TKind::NoPermission:
      return Named("Нет прав доступа", file);
    case TKind::DiskFull:
      return Named("Недостаточно места на диске для записи", file);
    case TKind::Other:
      break;
  }
  return e.what();
}

int ErrnoOfArchiverError(int nativeError) {
  return KindOfArchiverText(archiver::ZAMessageIndexOfNativeCode(nativeError)) == TKind::DiskFull ? ENOSPC : 0;
}

int64_t TWriteReasonStream::Write(const void* buffer, int64_t count) {
  try {
    const int64_t written = file_.Write(buffer, count);
    // A file that takes less than it is given is on a full medium.
    if (written < count && error_ == 0) error_ = ENOSPC;
    return written;
  } catch (const platform::EStreamError& e) {
    if (error_ == 0) error_ = e.error != 0 ? e.error : EIO;
  } catch (const platform::EFileError& e) {
    if (error_ == 0) error_ = e.error != 0 ? e.error : EIO;
  }
  return 0;
}

}  // namespace catalogue
