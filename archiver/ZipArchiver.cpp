// The archive component: construction, properties, opening and closing,
// transactions and state checks. The event dispatchers are in ZAEvents.cpp.
//
// Relies on: the directory manager (load, save, rollback copy), the volume
// layer (a single file or a volume set, ZAVolumeSet.h), the platform's file
// streams. Promises: a failed open leaves the component closed with nothing
// held open; CloseArchive never raises; a caller's stream is never freed.
#include "archiver/ZipArchiver.h"

#include <charconv>

#include "archiver/ZAExcept.h"
#include "archiver/ZAPaths.h"
#include "platform/Files.h"

namespace archiver {

namespace {

std::recursive_mutex& SharedLock() {
  static std::recursive_mutex lock;
  return lock;
}

// The text an application sees in front of the version number.
constexpr const char* kProductName = "Tomeshelf Zip Archiver";

bool IsReadOnlyMode(uint16_t mode) { return (mode & 0xFF03) == 0; }

// The platform stream mode of a file-open mode.
uint32_t StreamMode(uint16_t mode) {
  return mode == ZAModeCreate ? platform::fmCreate : static_cast<uint32_t>(mode);
}

}  // namespace

// --- Construction ------------------------------------------------------------------

TZABaseArchiver::TZABaseArchiver()
    : FVolumes(std::make_unique<TZAVolumeSet>(*this)), FMediaInfo(std::make_shared<TZAMediaInfo>()) {
  SetCompressionLevel(clFastest);
}

TZABaseArchiver::~TZABaseArchiver() { CloseArchive(); }

TZipArchiver::TZipArchiver() {
  FisZIPFormat = true;
  FZip64Mode = zmDisabled;
  // The base constructor ran the base rule; the zip methods apply from here.
  UpdateCompressionMethod();
}

void TZipArchiver::SetPassword(const AnsiString& v) { FPassword = v; }

void TZipArchiver::UpdateCompressionMethod() {
  FCompressionMethod = FCompressionMode == 0 ? ZA_METHOD_STORED : ZA_METHOD_DEFLATE;
}

// --- Properties ----------------------------------------------------------------------

void TZABaseArchiver::SetCompressionLevel(TZACompressionLevel v) {
  FCompressionLevel = v;
  FCompressionMode = ZALevelToMode(v);
  UpdateCompressionMethod();
}

void TZABaseArchiver::SetCompressionMode(int v) {
  if (v < 0 || v >= 10) throw EZAException(ZA_ERR_INVALID_COMPRESSION_MODE, FName);
  FCompressionMode = v;
  FCompressionLevel = ZAModeToLevel(v);
  UpdateCompressionMethod();
}

void TZABaseArchiver::UpdateCompressionMethod() { FCompressionMethod = 0xFFFF; }

void TZABaseArchiver::SetPassword(const AnsiString& v) { FPassword = v; }

std::string TZABaseArchiver::CurrentVersion() const {
  // Formatted without the locale: always "5.05", never "5,05".
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, 5.05, std::chars_format::fixed, 2);
  return std::string(kProductName) + " " + std::string(buf, r.ptr);
}

void TZABaseArchiver::SetSpanningMode(TZASpanningMode v) {
  if (FActive) throw std::runtime_error("Cannot set spanning mode on open archive");
  FSpanningMode = v;
}

int64_t TZABaseArchiver::Size() {
  CheckActive();
  return FCompressedStream->Size();
}

int TZABaseArchiver::FileCount() const {
  CheckActive();
  int files = 0;
  const TZADirArray& dir = FDMHandle->CDir;
  for (int i = 0; i < dir.Count(); ++i)
    if (!dir[i].IsDirectory()) ++files;
  return files;
}

bool TZABaseArchiver::Exists() const { return platform::FileExists(FFileName); }

void TZABaseArchiver::SetActive(bool v) {
  if (v == FActive) return;
  if (v)
    OpenArchive();
  else
    CloseArchive();
}

AnsiString TZABaseArchiver::Comment() const {
  return FActive && FDMHandle ? FDMHandle->ArchiveComment : AnsiString();
}

void TZABaseArchiver::SetComment(const AnsiString& v) {
  CheckActive();
  CheckModifySpanning();
  if (v.size() > 0xFFFF) throw EZAException(ZA_ERR_STREAM_WRITE, FName);
  const bool writeNow = FUpdateCount == 0 && FSpanningMode == smNone;
  // Rewriting the directory of an archive opened read-only would fail half
  // way; refuse before touching anything.
  if (writeNow && IsReadOnlyMode(FFileOpenMode) && !FIsCustomStream)
    throw EZAException(ZA_ERR_READ_ONLY, FName);
  FDMHandle->ArchiveComment = v;
  if (writeNow) FDMHandle->SaveDir(false);
}

int64_t TZABaseArchiver::FirstVolumeSizeLimit() const {
  if (FSpanningMode == smNone) return -1;
  TZAVolumeNumberInfo first;
  first.SetFirstVolume(true);
  return FSpanningOptions.GetVolumeSize(first);
}

void TZABaseArchiver::SetInMemory(bool v) {
  if (v == FInMemory) return;
  if (FActive && FInMemory) {
    if (ZAExtractFileName(FFileName).empty()) throw EZAException(29, FName);
    // What is pending, and the end record of an archive that got no item,
    // belong in the file too.
    if (FUpdateCount > 0) {
      FUpdateCount = 1;
      EndUpdate();
    }
    if (FCompressedStream->Size() == FDMHandle->StubSize) FDMHandle->SaveDir(true);
    {
      platform::TFileStream out(FFileName, platform::fmCreate);
      FCompressedStream->SetPosition(0);
      out.CopyFrom(*FCompressedStream, FCompressedStream->Size());
    }
    CloseArchive();
    FInMemory = false;
    OpenArchive();
  } else if (FActive) {
    CloseArchive();
    FInMemory = true;
    OpenArchive();
  }
  FInMemory = v;
}

// --- State checks ------------------------------------------------------------------------

void TZABaseArchiver::CheckActive() const {
  if (!FActive) throw EZAException(ZA_ERR_ARCHIVE_NOT_OPEN, FName);
}

void TZABaseArchiver::CheckNotInUpdate() const {
  if (FUpdateCount > 0) throw EZAException(ZA_ERR_UPDATE_NOT_ENDED, FName);
}

void TZABaseArchiver::CheckModifySpanning() const {
  if (FUpdateCount == 0 && FDMHandle && FDMHandle->CDir.Count() > 0 && FSpanningMode != smNone)
    throw EZAException(ZA_ERR_SPANNED_MODIFICATION, FName);
}

void TZABaseArchiver::Lock() { SharedLock().lock(); }
void TZABaseArchiver::Unlock() { SharedLock().unlock(); }

// --- Opening ---------------------------------------------------------------------------------

bool TZABaseArchiver::IsSFXFileName(const std::string& FileName) {
  return ZALowerCase(ZAExtractFileExt(FileName)).find(".exe") != std::string::npos;
}

void TZABaseArchiver::OpenArchive() {
  FUpdated = false;
  if (!FInMemory && ZAExtractFileName(FFileName).empty())
    throw EZAException(ZA_ERR_BLANK_FILE_NAME, FName);
  uint16_t mode = ZAModeCreate;
  if (!FInMemory && !platform::FindExistingFile(FFileName).empty()) {
    // Read-write when nobody else writes; otherwise read-only, sharing.
    try {
      platform::TFileStream probe(FFileName, ZAModeReadWrite);
      mode = ZAModeReadWrite;
    } catch (const std::exception&) {
      mode = ZAModeReadShared;
    }
  }
  OpenArchive(mode);
}

void TZABaseArchiver::OpenArchive(uint16_t Mode) {
  FUpdated = false;
  if (!FInMemory && ZAExtractFileName(FFileName).empty()) throw EZAException(10, FName);
  // Only a regular file is an archive: a folder of that name is "not found".
  if (Mode != ZAModeCreate && platform::FindExistingFile(FFileName).empty() &&
      FSpanningMode != smSpanning && !FMediaInfo->IsRemovable(ZAExtractFilePath(FFileName)))
    throw EZAException(12, FName, {FFileName});
  if (Mode != ZAModeCreate && FInMemory)
    throw EZAException(ZA_ERR_IN_MEMORY_CREATE_ONLY, FName, {FFileName});
  CloseArchive();
  FIsCustomStream = false;
  FFileOpenMode = Mode;
  InternalOpen();
}

void TZABaseArchiver::OpenArchive(platform::TStream& Stream, bool Create) {
  if (FSpanningMode != smNone) throw EZAException(ZA_ERR_MULTIVOLUME_CUSTOM_STREAM, FName);
  CloseArchive();
  FIsCustomStream = true;
  try {
    if (Create) Stream.SetSize(0);
    FDMHandle = std::make_unique<TZADirManager>(&Stream, Create, this);
    if (Create)
      FDMHandle->SaveDir(true);
    else
      LoadExistingDir();
  } catch (...) {
    FDMHandle.reset();
    FIsCustomStream = false;
    throw;
  }
  FCompressedStream = &Stream;
  FActive = true;
  if (AfterOpen) AfterOpen(*this);
}

void TZABaseArchiver::OpenArchiveStream() {
  FOwnedStream.reset();
  FCompressedStream = nullptr;
  FOwnedStream = std::make_unique<platform::TFileStream>(FFileName, StreamMode(FFileOpenMode));
  FCompressedStream = FOwnedStream.get();
  VolumeFileName = FFileName;
}

// OpenFromLastVolume, OpenSFXArchive: ZAVolumeSet.cpp.

void TZABaseArchiver::LoadExistingDir() {
  // Without an end record of the component's flavour a strict open does not
  // guess at a directory, whether the archive is a file or a caller's stream.
  if (!FDMHandle->HasCentralDirEnd() && !FOpenCorruptedArchives)
    throw EZAException(ZA_ERR_ARCHIVE_DAMAGED, FName);
  FDMHandle->LoadDir();
}

void TZABaseArchiver::InternalOpen() {
  try {
    if (FFileOpenMode != ZAModeCreate && !FInMemory) {
      FSpanningMode = smNone;
      FVolumeNumberInfo.Init();
      if (IsSFXFileName(FFileName))
        OpenSFXArchive();
      else
        OpenFromLastVolume();
      LoadExistingDir();
      FCompressedStream = FDMHandle->FCompressedStream;
    } else {
      if (FInMemory) {
        // A volume set lives in files.
        if (FSpanningMode != smNone) throw EZAException(ZA_ERR_MULTIVOLUME_CUSTOM_STREAM, FName);
        FOwnedStream = std::make_unique<platform::TMemoryStream>();
        FCompressedStream = FOwnedStream.get();
      } else if (FSpanningMode != smNone) {
        FVolumes->CreateFirstVolume();
      } else {
        OpenArchiveStream();
      }
      FDMHandle = std::make_unique<TZADirManager>(FCompressedStream, true, this);
    }
  } catch (...) {
    ReleaseArchive();
    throw;
  }
  FActive = true;
  if (AfterOpen) AfterOpen(*this);
}

// --- Closing -----------------------------------------------------------------------------------

void TZABaseArchiver::ReleaseArchive() noexcept {
  FDMHandle.reset();
  FOwnedStream.reset();
  FCompressedStream = nullptr;
}

void TZABaseArchiver::CloseArchive() noexcept {
  FVolumes->ForgetRefusedVolumes();
  FLastCloseError.clear();
  FLastCloseNativeError = 0;
  if (FActive) {
    try {
      InternalEndUpdate();
      // A new archive that got no item still needs its end record.
      if (FCompressedStream && FDMHandle && FCompressedStream->Size() == FDMHandle->StubSize)
        FDMHandle->SaveDir(true);
    } catch (const EZAException& e) {
      FLastCloseError = e.what();
      FLastCloseNativeError = e.NativeError;
    } catch (const std::exception& e) {
      FLastCloseError = e.what();
    } catch (...) {
      FLastCloseError = "Unknown error";
    }
    FActive = false;
  }
  FUpdateCount = 0;
  if (FIsCustomStream) FCompressedStream = nullptr;  // the caller's; never ours to free
  ReleaseArchive();
}

// --- Transactions --------------------------------------------------------------------------------

void TZABaseArchiver::BeginUpdate() {
  if (FSpanningMode != smNone && FUpdated) throw EZAException(ZA_ERR_MULTIVOLUME_TRANSACTIONS, FName);
  if (FUpdateCount == 0) {
    SetActive(true);
    if (IsReadOnlyMode(FFileOpenMode) && !FIsCustomStream) throw EZAException(ZA_ERR_READ_ONLY, FName);
    // A volume set is written whole when it is created; an existing one
    // cannot be rewritten in place.
    if (FSpanningMode != smNone && FFileOpenMode != ZAModeCreate)
      throw EZAException(ZA_ERR_SPANNED_MODIFICATION, FName);
    TZADirArray& dir = FDMHandle->CDir;
    for (int i = 0; i < dir.Count(); ++i) dir[i].Modified = false;
    FDMHandle->RBCDir.Assign(dir);
    FRollbackComment = FDMHandle->ArchiveComment;
  }
  ++FUpdateCount;
}

void TZABaseArchiver::EndUpdate() {
  if (FUpdateCount <= 0) return;
  if (FUpdateCount > 1) {
    --FUpdateCount;
    return;
  }
  FUpdated = true;
  InternalEndUpdate();
  if (FSpanningMode != smNone && FFileOpenMode == ZAModeCreate) FFileOpenMode = ZAModeReadWrite;
}

void TZABaseArchiver::CancelUpdate() {
  if (FUpdateCount <= 0) return;
  FUpdateCount = 0;
  RollbackDirectory();
}

void TZABaseArchiver::RollbackDirectory() {
  if (!FDMHandle) return;
  // Assign drops the current entries, and with them the streams that added
  // items owned.
  FDMHandle->CDir.Assign(FDMHandle->RBCDir);
  FDMHandle->ArchiveComment = FRollbackComment;
}

bool TZABaseArchiver::HasPendingChanges() const {
  if (!FDMHandle) return false;
  const TZADirArray& dir = FDMHandle->CDir;
  const TZADirArray& old = FDMHandle->RBCDir;
  if (dir.Count() != old.Count() || FDMHandle->ArchiveComment != FRollbackComment) return true;
  for (int i = 0; i < dir.Count(); ++i)
    if (dir[i].Modified || dir[i].Name != old[i].Name) return true;
  return false;
}

// InternalEndUpdate, the commit: ZACommit.cpp.

}  // namespace archiver
