// Extracting and testing items: to files (ExtractFiles), to a caller's
// stream, buffer or string, or nowhere (TestFiles, IsFilePasswordValid,
// IsValidArchiveFile), and the per-item operation loop ProcessTaggedFiles
// that delete and update share.
//
// Relies on: the search (tagging, look-up by name), the item codec
// (DecompressItem: methods, decryption, size and CRC checks), the event
// dispatchers, the platform's attributes and DOS date-times.
//
// Promises:
//  - nothing is written outside the destination folder: item names pass
//    ZASafeRelativePath before they become paths (only an OnExtractFile
//    handler may name another place, on purpose);
//  - a user's file is never lost: an item is written to a temporary file in
//    the target's folder and renamed over the target only when it extracted
//    cleanly; a failed, skipped or cancelled item leaves the old file as it
//    was and no partial file behind (unless ExtractCorruptedFiles asks for
//    what could be read);
//  - existence and overwrite checks on targets are exact (case-sensitive);
//  - the stream, buffer and string forms either deliver the item's bytes or
//    raise; an abort of the operation loop that nobody answered raises the
//    failure's error.
#include "archiver/ZAExtract.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "archiver/ZACodec.h"
#include "archiver/ZAExcept.h"
#include "archiver/ZAFind.h"
#include "archiver/ZAPaths.h"
#include "archiver/ZARecords.h"
#include "archiver/ZAStreams.h"
#include "archiver/ZipArchiver.h"
#include "platform/Dialogs.h"
#include "platform/FileAttributes.h"
#include "platform/Files.h"

namespace archiver {

// --- Names and sinks -------------------------------------------------------------

std::string ZASafeRelativePath(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return {};
  size_t i = 0;
  const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (name.size() >= 2 && isLetter(name[0]) && name[1] == ':') i = 2;
  std::string out;
  out.reserve(name.size());
  while (i < name.size()) {
    const size_t end = name.find_first_of("/\\", i);
    const std::string_view part = name.substr(i, end == std::string_view::npos ? end : end - i);
    if (!part.empty() && part != "." && part != "..") {
      if (!out.empty()) out += '/';
      out += part;
    }
    if (end == std::string_view::npos) break;
    i = end + 1;
  }
  const char last = name.empty() ? '\0' : name.back();
  if (!out.empty() && (last == '/' || last == '\\')) out += '/';
  return out;
}

namespace {

int64_t SeekIn(int64_t pos, int64_t size, int64_t offset, platform::TSeekOrigin origin) {
  const int64_t base = origin == platform::soBeginning ? 0 : origin == platform::soCurrent ? pos : size;
  return std::max<int64_t>(0, base + offset);
}

}  // namespace

int64_t TZAStringSink::Read(void* buffer, int64_t count) {
  const int64_t n = std::clamp<int64_t>(Size() - pos_, 0, std::max<int64_t>(count, 0));
  if (n > 0) std::memcpy(buffer, s_.data() + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TZAStringSink::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (pos_ + count > Size()) s_.resize(static_cast<size_t>(pos_ + count));
  std::memcpy(s_.data() + pos_, buffer, static_cast<size_t>(count));
  pos_ += count;
  return count;
}

int64_t TZAStringSink::Seek(int64_t offset, platform::TSeekOrigin origin) {
  return pos_ = SeekIn(pos_, Size(), offset, origin);
}

void TZAStringSink::SetSize(int64_t newSize) {
  s_.resize(static_cast<size_t>(std::max<int64_t>(newSize, 0)));
  pos_ = std::min(pos_, Size());
}

int64_t TZABufferSink::Read(void* buffer, int64_t count) {
  const int64_t n = std::clamp<int64_t>(size_ - pos_, 0, std::max<int64_t>(count, 0));
  if (n > 0) std::memcpy(buffer, p_ + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TZABufferSink::Write(const void* buffer, int64_t count) {
  const int64_t n = std::clamp<int64_t>(cap_ - pos_, 0, std::max<int64_t>(count, 0));
  if (n > 0) std::memcpy(p_ + pos_, buffer, static_cast<size_t>(n));
  pos_ += n;
  size_ = std::max(size_, pos_);
  return n;
}

int64_t TZABufferSink::Seek(int64_t offset, platform::TSeekOrigin origin) {
  return pos_ = std::min(SeekIn(pos_, size_, offset, origin), cap_);
}

void TZABufferSink::SetSize(int64_t newSize) {
  size_ = std::clamp<int64_t>(newSize, 0, cap_);
  pos_ = std::min(pos_, size_);
}

namespace {

// Sets Options.Recurse for a scope and puts the old value back on every
// exit.
class TRecurseScope {
 public:
  TRecurseScope(TZAOptions& options, bool value) : options_(options), saved_(options.Recurse()) {
    options_.SetRecurse(value);
  }
  ~TRecurseScope() { options_.SetRecurse(saved_); }
  TRecurseScope(const TRecurseScope&) = delete;
  TRecurseScope& operator=(const TRecurseScope&) = delete;

 private:
  TZAOptions& options_;
  bool saved_;
};

bool PathExists(const std::string& path) {
  platform::TFileInfo info;
  return platform::GetFileInfo(path, info);
}

}  // namespace

// --- Public operations ------------------------------------------------------------

int TZABaseArchiver::ExtractFiles(const std::string& FileMask, int SearchAttr,
                                  const std::string& ExclusionMask) {
  CheckActive();
  CheckNotInUpdate();
  if (!FOptions.Recurse() && FileMask.find_first_of("*?") == std::string::npos && ExclusionMask.empty() &&
      SearchAttr == ZADefaultSearchAttr) {
    // One named item; of several with that name, the last (as by-name
    // extraction everywhere takes it).
    int index = -1;
    if (!FindItemByName(FileMask, index)) return 0;
    FDMHandle->CDir[index].Tagged = true;
    return ProcessTaggedFiles(poExtract, index);
  }
  TagFiles(FileMask, SearchAttr, ExclusionMask);
  return ProcessTaggedFiles(poExtract, -1);
}

int TZABaseArchiver::ExtractFiles() {
  CheckActive();
  CheckNotInUpdate();
  TagFiles();
  return ProcessTaggedFiles(poExtract, -1);
}

int TZABaseArchiver::TestFiles(const std::string& FileMask, int SearchAttr,
                               const std::string& ExclusionMask) {
  CheckActive();
  CheckNotInUpdate();
  TagFiles(FileMask, SearchAttr, ExclusionMask);
  return ProcessTaggedFiles(poTest, -1);
}

int TZABaseArchiver::TestFiles() {
  CheckActive();
  CheckNotInUpdate();
  TagFiles();
  return ProcessTaggedFiles(poTest, -1);
}

int TZABaseArchiver::FindItemForExtraction(const std::string& FileName) {
  CheckActive();
  CheckNotInUpdate();
  // A whole stored name: x/b.fb2 is not found as b.fb2.
  TRecurseScope recurse(FOptions, false);
  int index = -1;
  if (!FindItemByName(FileName, index)) throw EZAException(15, FName, {FileName});
  return index;
}

void TZABaseArchiver::RaiseUnlessExtracted(bool ok) {
  if (ok) return;
  // A refused password gave no data at all, partial or not.
  if (FSkipFile) throw EZAException(ZA_ERR_INVALID_PASSWORD, FName);
  if (!FExtractCorruptedFiles) throw EZAException(ZA_ERR_INVALID_SIZE_OR_CRC, FName);
}

void TZABaseArchiver::ExtractToStream(const std::string& FileName, platform::TStream& Stream) {
  CheckActive();
  CheckNotInUpdate();
  FVolumes->ForgetRefusedVolumes();
  FProgressEnabled = true;
  FProgressCancel = false;
  FProcessedFileNo = 0;
  FProcessedFileCount = 1;
  bool cancel = false;
  DoOnOverallProgress(0, poExtract, ppStart, cancel);
  const int index = FindItemForExtraction(FileName);
  const std::string name = FDMHandle->CDir[index].Name;
  if (!cancel) DoOnFileProgress(name, 0, poExtract, ppStart, cancel);
  // A cancel is the caller's own answer: it ends the extraction quietly.
  if (cancel) {
    FProgressCancel = true;
    return;
  }
  const bool ok = ExtractItemToStream(index, Stream, 0, 0);
  if (FProgressCancel) return;
  RaiseUnlessExtracted(ok);
  DoOnFileProgress(name, 100, poExtract, ppEnd, cancel);
  DoOnOverallProgress(100, poExtract, ppEnd, cancel);
}

void TZABaseArchiver::ExtractToBuffer(const std::string& FileName, void* Buffer, int Count,
                                      int64_t StartPosition) {
  CheckActive();
  CheckNotInUpdate();
  FVolumes->ForgetRefusedVolumes();
  FProgressEnabled = false;
  FProgressCancel = false;
  const int index = FindItemForExtraction(FileName);
  if (Count < 0) throw platform::EStreamError("Stream read error");
  if (Count == 0) {
    // The whole item is read (and checked); none of it is asked for.
    TNullStream nowhere;
    RaiseUnlessExtracted(ExtractItemToStream(index, nowhere, 0, 0));
    return;
  }
  // The window goes straight into the caller's buffer; the codec stops
  // inflating as soon as it is full.
  TZABufferSink sink(Buffer, Count);
  RaiseUnlessExtracted(ExtractItemToStream(index, sink, StartPosition, Count));
  if (sink.Size() < Count) throw platform::EStreamError("Stream read error");
}

void TZABaseArchiver::ExtractToString(const std::string& FileName, AnsiString& Text) {
  CheckActive();
  CheckNotInUpdate();
  FVolumes->ForgetRefusedVolumes();
  FProgressEnabled = false;
  FProgressCancel = false;
  const int index = FindItemForExtraction(FileName);
  // The bytes go over unchanged: books are UTF-8 or 1251, the catalogue's
  // block files carry binary headers.
  // One reservation of the declared size: the codec fails an item before
  // its output passes that size, so the text never grows by doubling (a
  // 1 GB item must not cost 2 GB). A size that the stored bytes cannot
  // inflate to (deflate gives at most 1032 bytes per byte) is reserved only
  // as far as they can reach; of a damaged item, only the bytes before the
  // next item (or the end of the file) count, whatever its size says.
  const TDirItem& item = FDMHandle->CDir[index];
  const uint64_t declared = item.UncompressedSize();
  const uint64_t offset = item.LocalHeaderOffset();
  const uint64_t stored = item.DataLimit == UINT64_MAX
                              ? item.CompressedSize()
                              : std::min(item.CompressedSize(), item.DataLimit > offset ? item.DataLimit - offset : 0);
  const uint64_t reachable = stored > (UINT64_MAX - 4096) / 1032 ? UINT64_MAX : stored * 1032 + 4096;
  std::string bytes;
  try {
    bytes.reserve(static_cast<size_t>(std::min(declared, reachable)));
    TZAStringSink sink(bytes);
    RaiseUnlessExtracted(ExtractItemToStream(index, sink, 0, 0));
  } catch (const std::bad_alloc&) {
    throw EZAException(ZA_ERR_OUT_OF_MEMORY, FName, {FileName, static_cast<int64_t>(declared)});
  } catch (const std::length_error&) {
    throw EZAException(ZA_ERR_OUT_OF_MEMORY, FName, {FileName, static_cast<int64_t>(declared)});
  }
  Text = std::move(bytes);
}

bool TZABaseArchiver::IsFilePasswordValid(const std::string& FileName, const AnsiString& Password) {
  CheckActive();
  TZADirArray& dir = FDMHandle->CDir;
  // The exact name first: a name holding '*' or '?' must not turn into a mask
  // that finds some other item.
  int index = -1;
  std::string stored = FileName;
  std::replace(stored.begin(), stored.end(), '\\', '/');
  if (!dir.FileExists(stored, index)) {
    TZAArchiveItem F;
    if (!FindFirst(FileName, F, ZADefaultSearchAttr, {})) throw EZAException(42, FName, {FileName});
    index = F.Handle.ItemNo;
  }
  const TDirItem& item = dir[index];
  if ((item.CentralDir.genPurposeFlag & ZA_FLAG_ENCRYPTED) == 0) return true;

  platform::TStream& s = PositionOnItem(index);
  TZALocalFileHeader lh;
  if (!ZAReadRecord(s, lh)) return false;
  s.Seek(int64_t{lh.nameLength} + lh.extraLength, platform::soCurrent);
  // An AES item's header says method 99; its real method is in its AES field.
  if (item.CompressionMethod != ZA_METHOD_STORED && item.CompressionMethod != ZA_METHOD_DEFLATE) return false;

  // The quick check reads the bytes after the local header, which in a
  // volume set may lie in the next volume: there the test alone decides.
  bool verdict = false;
  if (FSpanningMode == smNone) {
    if (item.CentralDir.compMethod == ZA_METHOD_AES) {
      verdict = ZACheckAESPassword(s, item, Password);
    } else {
      ZAZipCryptKeys keys;
      verdict = ZACheckClassicPassword(s, Password, keys, lh.crc32, lh.lastModTime, lh.genPurposeFlag);
    }
    if (!verdict) return false;
  }

  // The traditional check byte passes one wrong password in 256, the AES
  // verifier one in 65536: only a full test of the item proves the
  // password.
  const AnsiString saved = FPassword;
  FSuppressPasswordEvent = true;
  struct TRestore {
    TZABaseArchiver& a;
    const AnsiString& password;
    ~TRestore() {
      a.FSuppressPasswordEvent = false;
      a.SetPassword(password);
    }
  } restore{*this, saved};
  SetPassword(Password);
  try {
    return TestItem(index);
  } catch (const std::exception&) {
    return false;
  }
}

bool TZABaseArchiver::IsValidArchiveFile() {
  if (FActive) return true;
  if (platform::FindExistingFile(FFileName).empty()) return false;
  struct TRestore {
    TZABaseArchiver& a;
    bool corrupted;
    ~TRestore() { a.FOpenCorruptedArchives = corrupted; }
  } restore{*this, FOpenCorruptedArchives};
  FOpenCorruptedArchives = false;
  // Every item, wherever it lies, is tested.
  TRecurseScope recurse(FOptions, true);
  try {
    platform::TFileStream stream(FFileName, platform::fmOpenRead | platform::fmShareDenyNone);
    TZADirManager dm(&stream, false, this);
    if (!dm.HasCentralDirEnd()) return false;
    dm.LoadDir();
  } catch (const std::exception&) {
    return false;
  }
  try {
    OpenArchive(ZAModeReadShared);
    // Every failure counts, an ignored one included; so does an encrypted
    // item passed over unverified (a tampered salt or verifier looks like
    // a refused password).
    const int tagged = TagFiles("*.*", ZADefaultSearchAttr, {});
    int failures = 0;
    const int tested = ProcessTaggedFiles(poTest, -1, &failures);
    const bool cancelled = FProgressCancel;
    CloseArchive();
    return failures == 0 && (tested == tagged || cancelled);
  } catch (const std::exception&) {
    CloseArchive();
    return false;
  }
}

// --- The operation loop ---------------------------------------------------------------

int TZABaseArchiver::ProcessTaggedFiles(TZAProcessOperation Operation, int ItemIndex, int* Failures) {
  TZALockGuard lock;
  TZADirArray& dir = FDMHandle->CDir;
  const bool single = ItemIndex >= 0;
  const bool reading = Operation == poExtract || Operation == poTest;
  FProcessedFileNo = 0;
  FProgressCancel = false;
  FProgressEnabled = true;
  FProcessedFileCount = 0;
  if (single) {
    FProcessedFileCount = 1;
  } else {
    for (int i = 0; i < dir.Count(); ++i)
      if (dir[i].Tagged) ++FProcessedFileCount;
  }
  FRemovableCacheDir.clear();
  FVolumes->ForgetRefusedVolumes();

  int done = 0;
  int failures = 0;
  bool aborted = false;
  std::exception_ptr unanswered;  // an abort nobody chose: raised at the end
  bool cancel = false;
  if (reading) {
    DoOnOverallProgress(0, Operation, ppStart, cancel);
    FProgressCancel = cancel;
  }
  for (int i = single ? ItemIndex : 0; !FProgressCancel && !aborted && i < dir.Count();) {
    if (!dir[i].Tagged) {
      if (single) break;
      ++i;
      continue;
    }
    dir[i].Operation = Operation;
    const int countBefore = dir.Count();
    for (bool again = true; again;) {
      again = false;
      const std::string name = dir[i].Name;
      try {
        bool confirm = true;
        DoOnConfirmProcessFile(name, Operation, confirm);
        if (!confirm) break;
        if (FCurrentDir.empty()) FCurrentDir = ZAGetCurrentDir();
        const std::string destDir = ZAIncludeTrailingBackslash(
            FBaseDir.empty() ? FCurrentDir : ZAExpandFileName(FBaseDir, FCurrentDir));
        if (reading) {
          DoOnFileProgress(name, 0, Operation, ppStart, cancel);
          if (cancel) {
            FProgressCancel = true;
            break;
          }
        }
        bool ok = false;
        switch (Operation) {
          case poExtract:
            ok = ExtractItemToFile(i, name, destDir);
            break;
          case poTest:
            ok = TestItem(i);
            break;
          case poDelete:
            RemoveItem(i);
            ok = true;
            break;
          case poUpdate:
            ok = UpdateTaggedItem(i, name, destDir);
            break;
          default:
            throw std::invalid_argument("ProcessTaggedFiles: not an operation on tagged items");
        }
        if (reading) {
          DoOnFileProgress(name, 100, Operation, ppEnd, cancel);
          // A cancel raised before this event stands whatever it answers.
          FProgressCancel = FProgressCancel || cancel;
        }
        if (FProgressCancel) break;
        ++FProcessedFileNo;
        if (ok) ++done;
      } catch (const EZAException& e) {
        ++failures;
        TZAAction action = fxaIgnore;
        DoOnProcessFileFailure(name, Operation, e.NativeError, e.ErrorCode, e.what(), action);
        if (action == fxaRetry) {
          again = true;
        } else if (action == fxaAbort) {
          aborted = true;
          // Nobody was there to choose: the failure must not pass silently.
          if (!OnProcessFileFailure && !platform::GetDialogProvider()) unanswered = std::current_exception();
        }
      }
    }
    if (single) break;
    // A deleted item's place is taken by the next one.
    if (dir.Count() >= countBefore) ++i;
  }
  if (reading) {
    DoOnOverallProgress(100, Operation, ppEnd, cancel);
    FProgressCancel = FProgressCancel || cancel;
  }
  if (FProgressCancel || aborted) CancelUpdate();
  if (Failures) *Failures = failures;
  if (unanswered) std::rethrow_exception(unanswered);
  return done;
}

// --- One item ---------------------------------------------------------------------------

platform::TStream& TZABaseArchiver::PositionOnItem(int Index) {
  TZADirArray& dir = FDMHandle->CDir;
  if (Index < 0 || Index >= dir.Count()) throw EZAException(16, FName);
  const TDirItem& item = dir[Index];
  if (Volumes().MultiVolume()) {
    int last = FDMHandle->CentralDirEnd.diskNumber;
    if (last == ZA_SENTINEL16)
      last = FDMHandle->FZip64 ? static_cast<int>(FDMHandle->Zip64CentralDirEndLocator.totalNumberOfDisks) - 1 : 0;
    const uint32_t volume = item.CentralDir.diskNumberStart != ZA_SENTINEL16 ? item.CentralDir.diskNumberStart
                            : FDMHandle->FZip64                             ? item.DiskNumberStart()
                                                                            : 0;
    if (platform::TStream* s = Volumes().OpenVolumeForReading(static_cast<int>(volume), last))
      FCompressedStream = s;
  }
  FCompressedStream->SetPosition(static_cast<int64_t>(item.LocalHeaderOffset()));
  return *FCompressedStream;
}

bool TZABaseArchiver::ExtractItemToStream(int Index, platform::TStream& Stream, int64_t StartPosition,
                                          int Count) {
  platform::TStream& source = PositionOnItem(Index);
  if (DecompressItem(source, Stream, FDMHandle->CDir[Index], Count, StartPosition)) return true;
  if (FProgressCancel || FExtractCorruptedFiles || FSkipFile) return false;
  throw EZAException(ZA_ERR_INVALID_SIZE_OR_CRC, FName);
}

bool TZABaseArchiver::TestItem(int Index) {
  if (FDMHandle->CDir[Index].IsDirectory()) return true;
  TNullStream nowhere;
  platform::TStream& source = PositionOnItem(Index);
  if (DecompressItem(source, nowhere, FDMHandle->CDir[Index], 0, 0)) return true;
  if (FProgressCancel || FSkipFile) return false;
  // A test exists to find damaged items: ExtractCorruptedFiles, which keeps
  // what could be read of one, has nothing to keep here.
  throw EZAException(ZA_ERR_INVALID_SIZE_OR_CRC, FName);
}

bool TZABaseArchiver::TargetOnRemovableDrive(const std::string& folder) {
  // One look per folder and operation: the answer comes from sysfs.
  if (folder != FRemovableCacheDir) {
    FRemovableCacheDir = folder;
    FRemovableCacheValue = ZAIsRemovableDrive(folder);
  }
  return FRemovableCacheValue;
}

bool TZABaseArchiver::ExtractItemToFile(int Index, const std::string& Name, const std::string& DestDir) {
  const TDirItem& item = FDMHandle->CDir[Index];
  const bool folderItem = item.IsDirectory() || (!Name.empty() && Name.back() == '/');
  const std::string safe = ZASafeRelativePath(Name);
  std::string fileName = safe;
  uint32_t attr = item.CentralDir.externalAttr;
  AnsiString comment = item.Comment;
  DoOnExtractFile(fileName, attr, comment);
  // The handler may answer with either separator, as names are written.
  std::replace(fileName.begin(), fileName.end(), '\\', '/');
  if (fileName.empty() || fileName.find('\0') != std::string::npos) {
    // "/" or "./" as a folder item names the destination itself.
    if (folderItem && fileName == safe) return false;
    throw EZAException(19, FName, {Name});
  }
  // Only a handler makes a full path; the names of the archive never are.
  std::string destDir = fileName[0] == '/' ? std::string() : DestDir;
  if (FOptions.CreateDirs()) {
    const std::string folder =
        destDir + (folderItem ? ZAIncludeTrailingBackslash(fileName) : ZAExtractFilePath(fileName));
    if (!folder.empty() && !ZAForceDirectories(folder)) throw EZAException(20, FName, {folder});
  } else {
    fileName = ZAExtractFileName(fileName);
  }
  if (folderItem) return FOptions.CreateDirs();
  if (fileName.empty()) throw EZAException(19, FName, {Name});

  std::string target = destDir + fileName;
  if (PathExists(target)) {
    const int existing = platform::FileGetAttr(target);
    if (!FOptions.ReplaceReadOnly() && existing >= 0 && (existing & platform::faReadOnly)) return false;
    bool overwrite = false;
    switch (FOptions.OverwriteMode()) {
      case omPrompt:
        DoOnConfirmOverwrite(fileName, target, overwrite);
        break;
      case omAlways:
        overwrite = true;
        break;
      case omNever:
        break;
      case omIfNewer:
      case omIfOlder: {
        const int64_t fileTime = platform::FileAgeDos(target);
        const int64_t itemTime = item.DosDateTime();
        overwrite = fileTime >= 0 &&
                    (FOptions.OverwriteMode() == omIfNewer ? itemTime > fileTime : itemTime < fileTime);
        break;
      }
    }
    if (!overwrite) return false;
  }

  // Written beside the target and renamed over it only when complete.
  std::unique_ptr<platform::TReplaceFile> temp;
  try {
    temp = std::make_unique<platform::TReplaceFile>(target);
  } catch (const platform::EFileError&) {
    throw EZAException(19, FName, {target});
  }
  const bool ok = ExtractItemToStream(Index, temp->Stream(), 0, 0);
  if (FSkipFile || FProgressCancel) return false;
  std::time_t t;
  try {
    if (platform::DosDateTimeToDateTime(item.DosDateTime(), t)) temp->File().SetModificationTime(t);
  } catch (const platform::EFileError&) {
    // The date is a courtesy; the data is what counts.
  }
  if (FOptions.SetAttributes()) platform::FileSetAttr(temp->TempPath(), static_cast<int>(attr));
  try {
    temp->Commit(FOptions.FlushBuffers() && TargetOnRemovableDrive(ZAExtractFilePath(target)));
  } catch (const platform::EFileError&) {
    throw EZAException(19, FName, {target});
  }
  return ok;
}

}  // namespace archiver
