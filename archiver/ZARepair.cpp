// Repairing an archive: every item that can be read is written into a new,
// clean archive.
//
// The damaged archive is opened as OpenCorruptedArchives opens it: its
// directory, or one rebuilt from the local headers. A second component
// writes the new archive into a platform::TReplaceFile of the target, in
// one transaction: items that read cleanly are extracted into a temporary
// data file and added anew; damaged items (on Ignore), encrypted items
// whose password is not known, and items of a method the codec does not
// read, are copied raw (their records byte for byte); folders are added
// anew. The target is replaced only when the new archive
// is complete.
//
// A damaged item stays damaged to every reader: its record is copied as it
// is, or, when it is cut short, as far as its data go with the CRC and size
// it declared (a streamed record whose descriptor is gone, which declared
// neither: with the size inflate gave and a CRC those bytes cannot have). A
// repair that would keep nothing of an archive whose items had data raises
// instead of writing an empty archive.
//
// Relies on: the loader and its rebuild (RebuildDirFromLocalHeaders, also
// run on demand to find items whose header is not where the directory
// says), extraction by index, AddFromStream, the commit's raw copy.
#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "archiver/ZAExcept.h"
#include "archiver/ZAPaths.h"
#include "archiver/ZARecords.h"
#include "archiver/ZAZipCrypt.h"
#include "archiver/ZipArchiver.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/Streams.h"

namespace archiver {

namespace {

// Reads the fixed part of the record at `offset` into `lh`; false where
// the stream holds none there. With `local`, only a local header counts.
bool ReadHeaderAt(platform::TStream& s, uint64_t offset, TZALocalFileHeader& lh, bool local) {
  if (offset >= static_cast<uint64_t>(s.Size())) return false;
  s.SetPosition(static_cast<int64_t>(offset));
  return ZAReadRecord(s, lh) &&
         (!local || lh.signature == ZA_SIG_LOCAL_HEADER || lh.signature == ZA_SIG_LOCAL_HEADER_NZ);
}

// Whether a local header of `item` (its stored name) is at `offset`.
bool HeaderAt(platform::TStream& s, const TDirItem& item, uint64_t offset) {
  TZALocalFileHeader lh;
  std::string name;
  return ReadHeaderAt(s, offset, lh, /*local=*/true) && ZAReadBytes(s, lh.nameLength, name) && item.StoredName &&
         name == *item.StoredName;
}

// Lets the item be read as far as its bytes go: a record cut short, or
// running into the next item, gives what lies before that (an item found
// inside another's data, as the members of a stored archive, is an item of
// its own). Each item keeps to the bytes up to the next item's header, so
// no byte is read for two items.
void ClipToLimit(platform::TStream& s, TDirItem& item) {
  const uint64_t size = static_cast<uint64_t>(s.Size());
  const uint64_t offset = item.LocalHeaderOffset();
  TZALocalFileHeader lh;
  if (!ReadHeaderAt(s, offset, lh, /*local=*/false)) return;
  const uint64_t dataStart = offset + TZALocalFileHeader::Size + lh.nameLength + lh.extraLength;
  const uint64_t limit = std::min(item.DataLimit, size);
  const uint64_t room = limit > dataStart ? limit - dataStart : 0;
  if (item.CompressedSize() > room) {
    if (item.CentralDir.compSize == ZA_SENTINEL32)
      item.Zip64ExtInfo.compSize = room;
    else
      item.CentralDir.compSize = static_cast<uint32_t>(room);
  }
  item.Overlaps = false;
}

// The name an Info-ZIP Unicode path field of `item` gives it, when the
// field is in force (its CRC is that of the stored name); empty otherwise.
std::string UnicodePath(const TDirItem& item) {
  const TZAExtraFieldDataBlock* field = ZAFindExtraField(item.ExtraFields, ZA_EXTRA_UNICODE_PATH);
  if (!field || field->Data.size() <= 5 || field->Data[0] != 1 || !item.StoredName) return {};
  if (ZAGetU32(field->Data.data() + 1) != ZACrc32(item.StoredName->data(), item.StoredName->size())) return {};
  return std::string(field->Data.begin() + 5, field->Data.end());
}

// Appends to `out` the local record of a damaged item as far as its data
// go: `kept` is the item with its compressed size cut to what is there,
// `lh` its local header at `from` in `archive`. The record keeps the CRC and
// uncompressed size its entry declared, so that every reader still sees the
// damage, and carries a data descriptor where the item had one (the check
// byte of a traditionally encrypted item depends on that flag). False when
// the header's fields cannot be written again.
bool WriteCutRecord(platform::TStream& archive, const TDirItem& kept, const TZALocalFileHeader& lh,
                    uint64_t from, platform::TStream& out) {
  const TZAZipCentralDir& cd = kept.CentralDir;
  const uint64_t comp = kept.CompressedSize(), uncomp = kept.UncompressedSize();
  const bool zip64 = comp >= ZA_SENTINEL32 || uncomp >= ZA_SENTINEL32;
  std::string extra, raw;
  archive.SetPosition(static_cast<int64_t>(from + TZALocalFileHeader::Size + lh.nameLength));
  if (!ZAReadBytes(archive, lh.extraLength, raw)) return false;
  ZAAppendExtraFields(extra, ZAParseExtraFields(raw), /*skipZip64=*/true);
  if (zip64) extra += ZALocalZip64Field(uncomp, comp);
  const std::string& name = kept.StoredName ? *kept.StoredName : std::string();
  if (extra.size() > 0xFFFF || name.size() > 0xFFFF) return false;
  TZALocalFileHeader h = lh;
  ZASetLocalFromCentral(h, cd, comp, uncomp);
  h.nameLength = static_cast<uint16_t>(name.size());
  h.extraLength = static_cast<uint16_t>(extra.size());
  const std::string head = ZALocalPrefix(h, name, extra);
  // The data as they are, up to where they end.
  const uint64_t dataStart = from + TZALocalFileHeader::Size + lh.nameLength + lh.extraLength;
  if (comp > static_cast<uint64_t>(archive.Size()) || dataStart > static_cast<uint64_t>(archive.Size()) - comp)
    return false;
  out.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
  archive.SetPosition(static_cast<int64_t>(dataStart));
  if (comp > 0) out.CopyFrom(archive, static_cast<int64_t>(comp));
  if (cd.genPurposeFlag & ZA_FLAG_DATA_DESCRIPTOR) {
    const std::string descriptor = ZADataDescriptorBytes(cd.crc32, comp, uncomp);
    out.WriteBuffer(descriptor.data(), static_cast<int64_t>(descriptor.size()));
  }
  return true;
}

// The CRC of the bytes of `s` from `start` to its end.
uint32_t DataCrc(platform::TStream& s, int64_t start) {
  std::vector<uint8_t> buffer(1 << 20);
  uint32_t crc = 0xFFFFFFFF;
  s.SetPosition(start);
  for (int64_t n; (n = s.Read(buffer.data(), static_cast<int64_t>(buffer.size()))) > 0;)
    ZAUpdateCrc32(buffer.data(), n, crc);
  return ~crc;
}

// The repair's own data file, deleted when it goes. A failure writing it
// is the repair's and ends it (raised as the archiver's write or disk-full
// error); it must never pass for damage of the item being read into it.
class TDataFile : public platform::TStream {
 public:
  explicit TDataFile(platform::TFile file) : name_(file.Path()), file_(std::move(file)) {}
  ~TDataFile() override {
    file_.File().Close();
    platform::DeleteFile(name_);
  }
  platform::THandleStream& File() { return file_; }
  // The native error of a failed write; 0 while every write succeeded.
  int Failure() const { return failure_; }

  int64_t Read(void* buffer, int64_t count) override { return file_.Read(buffer, count); }
  int64_t Write(const void* buffer, int64_t count) override {
    try {
      file_.File().Write(buffer, count);
    } catch (const platform::EFileError& e) {
      failure_ = e.error == ENOSPC || e.error == EDQUOT ? ZA_ERR_DISK_FULL : ZA_ERR_STREAM_WRITE;
      throw EZAException(failure_);
    }
    return count;
  }
  int64_t Seek(int64_t offset, platform::TSeekOrigin origin) override { return file_.Seek(offset, origin); }
  int64_t Size() override { return file_.Size(); }
  void SetSize(int64_t newSize) override { file_.SetSize(newSize); }

 private:
  std::string name_;
  platform::THandleStream file_;
  int failure_ = 0;
};

}  // namespace

TZABaseArchiver::TZARepairResult TZABaseArchiver::RepairArchive(const std::string& OutputFileName) {
  if (FActive) throw EZAException(ZA_ERR_ARCHIVE_IS_OPEN, FName);
  std::string target = OutputFileName;
  const std::string existing = platform::FindExistingFile(FFileName);
  if (target.empty() && !existing.empty()) {
    // Nobody else may hold the archive that is to be replaced.
    try {
      platform::TFileStream probe(existing, platform::fmOpenReadWrite | platform::fmShareExclusive);
    } catch (const std::exception&) {
      throw EZAException(ZA_ERR_CANNOT_OPEN_FILE, FName, {FFileName});
    }
    // Through a link, the file it leads to is repaired; the link stays.
    target = platform::RealPath(existing);
  }

  // This archive, read leniently; the settings come back on every exit.
  struct TRestore {
    TZABaseArchiver& a;
    bool corrupted, extract;
    ~TRestore() {
      a.CloseArchive();
      a.FOpenCorruptedArchives = corrupted;
      a.FExtractCorruptedFiles = extract;
    }
  } restore{*this, FOpenCorruptedArchives, FExtractCorruptedFiles};
  FOpenCorruptedArchives = true;
  OpenArchive(ZAModeRead);
  FExtractCorruptedFiles = true;
  // Raw copies and extraction by offset need the items in one file.
  if (FSpanningMode != smNone) throw EZAException(ZA_ERR_SPANNED_MODIFICATION, FName);
  if (target.empty()) target = FFileName;
  // Every record is read: an entry whose offset was damaged is known before
  // it can cut its neighbours short.
  FDMHandle->ConfirmLocalHeaders();

  std::unique_ptr<platform::TReplaceFile> output;
  try {
    output = std::make_unique<platform::TReplaceFile>(target);
  } catch (const std::exception&) {
    throw EZAException(ZA_ERR_CANNOT_CREATE_OUTPUT, FName, {target});
  }
  std::unique_ptr<TDataFile> data;
  {
    const std::string folder = !FTempDir.empty() ? FTempDir : ZAExtractFilePath(target);
    data = std::make_unique<TDataFile>(platform::CreateTempFile(folder.empty() ? "./" : folder, "FC"));
  }

  // What the new archive's handlers report into: declared before it, so
  // that they outlive it.
  bool aborted = false, cancelled = false;
  std::optional<EZAException> abortError;
  // The new archive: this component's flavour and settings; zip64 where it
  // is needed; flushed once, when the replacement is committed.
  std::unique_ptr<TZABaseArchiver> made =
      FisZIPFormat ? std::make_unique<TZipArchiver>() : std::make_unique<TZABaseArchiver>();
  TZABaseArchiver& out = *made;
  // A repair that raises writes nothing: the pending items are dropped,
  // never committed by the component going away.
  struct TDropPending {
    TZABaseArchiver& out;
    ~TDropPending() { out.CancelUpdate(); }
  } dropPending{out};
  out.FOptions = FOptions;
  out.FOptions.SetOverwriteMode(omAlways);
  out.FOptions.SetFlushBuffers(false);
  out.FZip64Mode = zmAuto;
  out.FUnicodeFilenames = FUnicodeFilenames;
  out.FCompressionAlgorithm = FCompressionAlgorithm;
  out.SetCompressionMode(FCompressionMode);
  // Its failures and progress are this component's to report.
  out.OnProcessFileFailure = [&](TZABaseArchiver&, const std::string& name, TZAProcessOperation op, int native,
                                 int code, const std::string& message, TZAAction& action) {
    DoOnProcessFileFailure(name, op, native, code, message, action);
    if (action == fxaAbort) {
      aborted = true;
      abortError = EZAException(native, FName);
    }
  };
  out.OnFileProgress = [&](TZABaseArchiver&, const std::string& name, double percent, TZAProcessOperation op,
                           TZAProgressPhase phase, bool& cancel) {
    DoOnFileProgress(name, percent, op, phase, cancel);
    cancelled = cancelled || cancel;
  };
  out.OnOverallProgress = [&](TZABaseArchiver&, double percent, TZAProcessOperation op, TZAProgressPhase phase,
                              bool& cancel) {
    DoOnOverallProgress(percent, op, phase, cancel);
    cancelled = cancelled || cancel;
  };
  out.OpenArchive(output->Stream(), /*Create=*/true);
  out.BeginUpdate();

  TZARepairResult result;
  TZADirArray& dir = FDMHandle->CDir;
  platform::TStream& archive = *FCompressedStream;
  const std::shared_ptr<platform::TStream> lent(&archive, [](platform::TStream*) {});
  // Where each item is read from, settled before any is read, so that no
  // byte is read for two items whatever their order in the directory: at
  // its offset where the local header there is its own; else at a header
  // of its name that a scan of the local headers finds, each found header
  // serving one item and only where its record lies over no bytes another
  // item is read from (a record quoted inside another's data would be kept
  // twice); else at its offset still, from a header there of another name
  // (writers that store the local name otherwise), as far as the first
  // record taken for another item. A record is measured as it is read:
  // its header's own name and extra lengths, its data and descriptor, up
  // to its DataLimit or, cut short, to that.
  std::map<uint64_t, uint64_t> claimed;  // [start, end) of the bytes items read, none over another
  const auto extent = [&](const TDirItem& item) {
    const uint64_t from = item.LocalHeaderOffset();
    const uint64_t limit = std::min<uint64_t>({item.DataLimit, static_cast<uint64_t>(archive.Size()), INT64_MAX});
    if (from >= limit) return std::pair<uint64_t, uint64_t>(from, from);
    const int64_t whole = RawRecordSize(archive, item, static_cast<int64_t>(from), static_cast<int64_t>(limit));
    return std::pair<uint64_t, uint64_t>(from, whole < 0 ? limit : from + static_cast<uint64_t>(whole));
  };
  const auto claim = [&](const std::pair<uint64_t, uint64_t>& e) {
    if (e.second > e.first) claimed.emplace(e);
  };
  const auto unclaimed = [&](const std::pair<uint64_t, uint64_t>& e) {
    const auto next = claimed.upper_bound(e.first);
    return (next == claimed.end() || next->first >= e.second) &&
           (next == claimed.begin() || std::prev(next)->second <= e.first);
  };
  {
    std::vector<char> own(static_cast<size_t>(dir.Count()), 1);
    bool elsewhere = false;
    for (int i = 0; i < dir.Count(); ++i) {
      const bool at = !dir[i].NoLocalHeader && HeaderAt(archive, dir[i], dir[i].LocalHeaderOffset());
      own[static_cast<size_t>(i)] = at;
      elsewhere = elsewhere || (!at && !dir[i].IsDirectory());
    }
    if (elsewhere) {
      for (int i = 0; i < dir.Count(); ++i)
        if (own[static_cast<size_t>(i)]) claim(extent(dir[i]));
      TZADirManager scan(&archive, false, this);
      try {
        scan.RebuildDirFromLocalHeaders();
      } catch (const EZAException&) {
        scan.CDir.SetCount(0);  // no header at all
      }
      std::vector<char> taken(static_cast<size_t>(scan.CDir.Count()), 0);
      std::vector<int> foreign;  // read from a header of another name at their offset
      for (int i = 0; i < dir.Count(); ++i) {
        TDirItem& item = dir[i];
        if (own[static_cast<size_t>(i)] || item.IsDirectory()) continue;
        bool found = false;
        for (int k = 0; k < scan.CDir.Count() && !found; ++k) {
          const TDirItem& at = scan.CDir[k];
          if (taken[static_cast<size_t>(k)] || at.StoredName != item.StoredName ||
              at.CentralDir.crc32 != item.CentralDir.crc32 || at.CompressedSize() != item.CompressedSize() ||
              at.UncompressedSize() != item.UncompressedSize() || !unclaimed(extent(at)))
            continue;
          taken[static_cast<size_t>(k)] = 1;
          claim(extent(at));
          item.SetLocalHeaderOffset(at.LocalHeaderOffset());
          item.DataLimit = at.DataLimit;
          item.Overlaps = at.Overlaps;
          found = true;
        }
        if (!found && !item.NoLocalHeader) foreign.push_back(i);
      }
      for (const int i : foreign) {
        TDirItem& item = dir[i];
        const uint64_t from = item.LocalHeaderOffset();
        const auto next = claimed.upper_bound(from);
        if (next != claimed.begin() && std::prev(next)->second > from)
          item.DataLimit = from;
        else if (next != claimed.end())
          item.DataLimit = std::min(item.DataLimit, next->first);
      }
    }
  }
  // Reports an item that fails; true when the repair is to end there.
  const auto failed = [&](const TDirItem& item, TZAProcessOperation op, int native, TZAAction& action) {
    action = fxaIgnore;
    const EZAException error(native, FName);
    // Nobody to ask: what could be read is kept.
    if (OnProcessFileFailure || platform::GetDialogProvider())
      DoOnProcessFileFailure(item.Name, op, error.NativeError, error.ErrorCode, error.what(), action);
    if (action == fxaAbort) aborted = true;
    return aborted;
  };
  // Whether an item had data here, or has them in the new archive: a
  // repair that would keep none of an archive whose items had some writes
  // nothing.
  bool hadData = false;
  const auto hasData = [](const TDirItem& item) {
    return item.CompressedSize() > 0 || item.UncompressedSize() > 0 || item.DescriptorMissing;
  };
  // An item copied as it is, when its record can be read whole and is as
  // long as its entry says (a local header with a shorter name than the
  // entry's would make the record seem to run into the next one).
  const auto copyRaw = [&](const TDirItem& item) {
    if (item.DescriptorMissing) return false;  // its entry's sizes and CRC are not the record's
    const int64_t from = static_cast<int64_t>(std::min<uint64_t>(item.LocalHeaderOffset(), INT64_MAX));
    const int64_t limit = std::min<uint64_t>(item.DataLimit, static_cast<uint64_t>(archive.Size()));
    const uint64_t named = TZALocalFileHeader::Size +
                           (item.StoredName ? item.StoredName->size() : item.CentralDir.nameLength) +
                           item.CompressedSize();
    const int64_t size = item.Overlaps ? -1 : RawRecordSize(archive, item, from, limit);
    if (size < 0 || static_cast<uint64_t>(size) < named) return false;
    out.QueueRawCopy(out.FDMHandle->CDir.FindExactName(item.Name), item, lent, from, limit);
    return true;
  };
  // A damaged item whose record cannot be copied whole (cut short, or
  // running into the next item): its record as far as its data go, written
  // into the data file and copied from there. `kept` is the item cut to
  // what is there; false when nothing of a record with data is left.
  const std::shared_ptr<platform::TStream> lentData(data.get(), [](platform::TStream*) {});
  const auto copyWhatIsThere = [&](const TDirItem& kept) {
    const uint64_t from = kept.LocalHeaderOffset();
    TZALocalFileHeader lh;
    if (!ReadHeaderAt(archive, from, lh, /*local=*/true) || (kept.CompressedSize() == 0 && hasData(kept)))
      return false;
    const int64_t start = data->Size();
    data->SetPosition(start);
    if (!WriteCutRecord(archive, kept, lh, from, *data)) {
      data->SetSize(start);
      return false;
    }
    TDirItem item = kept;
    item.Overlaps = false;
    item.DataLimit = UINT64_MAX;
    out.QueueRawCopy(out.FDMHandle->CDir.FindExactName(item.Name), item, lentData, start, data->Size());
    return true;
  };
  // A new item of the bytes [start, end of the data file), with the
  // source's host system, attributes and comment; false when its name
  // cannot be added (the failure is reported).
  const auto addAnew = [&](const TDirItem& item, int64_t start, bool encrypted) {
    out.SetPassword(encrypted ? FPassword : AnsiString());
    out.FZACryptoAlgorithm = encrypted ? item.ZAEncryptionAlgorithm : caPkzipClassic;
    const int64_t count = data->Size() - start;
    const int attr = static_cast<int>(item.Attributes());
    try {
      if (count == 0)
        out.AddFromString(item.Name, {}, attr, 0);
      else
        out.AddFromStream(item.Name, data->File(), false, start, count, attr, 0);
    } catch (const EZAException& e) {
      if (data->Failure()) throw;
      TZAAction action;
      failed(item, poAdd, e.NativeError, action);
      return false;
    }
    const int index = out.FDMHandle->CDir.FindExactName(ZAStringReplace(item.Name, "\\", "/", rfReplaceAll));
    if (index < 0) return true;
    TDirItem& added = out.FDMHandle->CDir[index];
    added.CentralDir.internalAttr = item.CentralDir.internalAttr;
    added.CentralDir.genPurposeFlag |= item.CentralDir.genPurposeFlag & ZA_FLAG_UTF8_NAME;
    added.KeptHost = item.CentralDir.versionMadeBy >> 8;
    added.Comment = item.Comment;
    added.KeptUnicodePath = UnicodePath(item);
    return true;
  };

  FProgressEnabled = true;
  FProgressCancel = false;
  FProcessedFileCount = dir.Count();
  for (int i = 0; i < dir.Count() && !aborted && !cancelled; ++i) {
    FProcessedFileNo = i;
    TDirItem& item = dir[i];
    if (item.IsDirectory()) {
      data->SetPosition(data->Size());
      if (!addAnew(item, data->Size(), false)) ++result.Damaged;
      continue;
    }
    hadData = hadData || hasData(item);
    // Raw copies take the item as it is; it is read as far as it goes.
    const TDirItem whole = item;
    const bool encrypted = item.CentralDir.genPurposeFlag & ZA_FLAG_ENCRYPTED;
    ClipToLimit(archive, item);
    // Data of a method the codec does not read are kept as they are.
    if (item.CompressionMethod != ZA_METHOD_STORED && item.CompressionMethod != ZA_METHOD_DEFLATE) {
      if (copyRaw(whole)) {
        ++result.Unverified;
      } else {
        ++result.Damaged;
        copyWhatIsThere(item);
      }
      continue;
    }
    for (;;) {
      const int64_t start = data->Size();
      data->SetPosition(start);
      bool ok = false;
      int native = ZA_ERR_INVALID_SIZE_OR_CRC;
      FSkipFile = false;
      try {
        ok = ExtractItemToStream(i, *data, 0, 0);
      } catch (const EZAException& e) {
        // Only a failure reading the item is the item's.
        if (data->Failure()) throw EZAException(data->Failure(), FName);
        native = e.NativeError;
      }
      if (FProgressCancel) {
        cancelled = true;
        break;
      }
      if (ok) {
        if (!addAnew(item, start, encrypted)) ++result.Damaged;
        break;
      }
      if (FSkipFile) {
        // The password is not known: the item as it is, unread.
        data->SetSize(start);
        if (copyRaw(whole)) {
          ++result.Unverified;
        } else {
          ++result.Damaged;
          copyWhatIsThere(item);
        }
        break;
      }
      TZAAction action;
      if (failed(item, poExtract, native, action)) break;
      if (action == fxaRetry) {
        data->SetSize(start);
        continue;
      }
      ++result.Damaged;
      // A damaged item stays as it was, damage and all, so that peers see
      // it and recover what they can (decrypted bytes that fail their
      // check may also be a wrong password's). A record that cannot be
      // copied whole (cut short) keeps the bytes it has and the CRC it
      // declared, never one made to fit what is left; a record with data
      // and none of them left is left out. A streamed record whose
      // descriptor is gone declared neither: it gets the size inflate gave
      // (unless its header had one), which lets peers recover those bytes,
      // and a CRC they cannot have.
      TDirItem kept = item;
      if (item.DescriptorMissing) {
        const uint64_t got = static_cast<uint64_t>(data->Size() - start);
        if (kept.UncompressedSize() == 0) kept.SetUncompressedSize(got);
        kept.CentralDir.crc32 = ~DataCrc(*data, start);
      }
      data->SetSize(start);
      if (!copyRaw(whole)) copyWhatIsThere(kept);
      break;
    }
  }
  if (aborted || cancelled) {
    out.CancelUpdate();
    return result;
  }
  out.EndUpdate();
  if (aborted || cancelled) {
    // The commit rolled itself back; an abort nobody chose is an error.
    if (abortError && !OnProcessFileFailure && !platform::GetDialogProvider()) throw *abortError;
    return result;
  }
  // Nothing readable left of an archive that held data (an item may also
  // fail while the commit copies it): replacing it, or writing an output,
  // with an archive without data would pass for success.
  const TZADirArray& written = out.FDMHandle->CDir;
  bool keptData = false;
  for (int i = 0; i < written.Count() && !keptData; ++i) keptData = hasData(written[i]);
  if (hadData && !keptData) throw EZAException(ZA_ERR_INVALID_ARCHIVE, FName);
  result.Written = written.Count();
  out.CloseArchive();
  output->Commit(FOptions.FlushBuffers());
  result.Completed = true;
  return result;
}

}  // namespace archiver
