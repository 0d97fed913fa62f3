// The commit of an update transaction: the pending changes of the directory
// in memory become the archive, rewritten in place.
//
// A single-file archive after a commit, in file order:
//   [stub] [items kept in place] | cut | [items written again] [central
//   directory] [zip64 end records] [end record, comment]
// The cut is the lowest local-header offset of any item whose record does
// not stay as it is (deleted, renamed, updated), or the start of the old
// central directory when nothing but additions is pending. Every byte from
// the cut to the old end of the file is first saved to a tail file, flushed
// to disk before the first of them is written over; so whatever happens
// afterwards (a failure, a cancel, an abort) the archive can be given back
// its old bytes verbatim. The file is not shortened until the new directory
// is written: the new bytes go over the old ones, and a rollback writes
// back only what they changed, so that a write that fails (a full disk, a
// file-size limit) leaves every byte past it as it was, and none has to be
// written there again. From the cut on, unchanged items are copied raw from the tail
// (renamed ones get a new local header in front of their old data), new and
// updated items are compressed from their sources, items merged from
// another archive are copied raw from it (their records byte for byte, never
// decompressed or decrypted), and the new central directory follows.
//
// Relies on: the directory manager (CDir, RBCDir, SaveDir), the item codec
// (CompressItem), the component's events and options. Promises:
//  - on any failure, cancel or abort while items or the directory are
//    written, the archive holds its old bytes again and the directory in
//    memory is the one the transaction began with; the exception (if any)
//    then passes on;
//  - the tail file goes to TempDir when set, else beside the archive, and is
//    deleted only after a successful commit or restore (a restore that
//    fails leaves it, and says where it is);
//  - unchanged items are never recompressed, and items before the cut are
//    not touched at all (appending moves no item data);
//  - sources of moved items are deleted only once the new archive is on
//    disk; failing to delete one never undoes the archive.
// A volume set (ZAVolumeSet.h) is written only when it is created, so its
// commit never has a tail: each new item is written to a temporary file,
// then copied into the volumes, its local header kept whole in one volume;
// the directory follows through the volume layer. A failure or cancel
// deletes the volumes made after the first and cuts the first back.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archiver/ZACryptoTransform.h"
#include "archiver/ZAExcept.h"
#include "archiver/ZAPaths.h"
#include "archiver/ZARecords.h"
#include "archiver/ZAStreams.h"
#include "archiver/ZAZipCrypt.h"
#include "archiver/ZipArchiver.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"

namespace archiver {

namespace {

constexpr int64_t kCopyBlock = 1 << 20;
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr int kZip64Disabled = 43;    // an item needs zip64, which is off
constexpr int64_t kLocalHeaderSize = static_cast<int64_t>(TZALocalFileHeader::Size);

// A stream that is only read, of a fixed size, with a position of its own.
class TZAReadOnlyStream : public platform::TStream {
 public:
  explicit TZAReadOnlyStream(int64_t size) : size_(size) {}
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, platform::TSeekOrigin origin) override {
    const int64_t from = origin == platform::soBeginning ? 0 : origin == platform::soCurrent ? pos_ : size_;
    pos_ = std::clamp<int64_t>(from + offset, 0, size_);
    return pos_;
  }
  int64_t Size() override { return size_; }
  void SetSize(int64_t) override { throw platform::EStreamError("A source cannot be resized"); }

 protected:
  const int64_t size_;
  int64_t pos_ = 0;
};

// The bytes [start, start + size) of a caller's stream, seen as a stream of
// their own (the codec reads its source from position 0 to its size).
class TZAStreamWindow : public TZAReadOnlyStream {
 public:
  TZAStreamWindow(platform::TStream& base, int64_t start, int64_t size)
      : TZAReadOnlyStream(size), base_(base), start_(start) {}
  int64_t Read(void* buffer, int64_t count) override {
    count = std::min(count, size_ - pos_);
    if (count <= 0) return 0;
    base_.SetPosition(start_ + pos_);
    const int64_t n = base_.Read(buffer, count);
    if (n > 0) pos_ += n;
    return n;
  }

 private:
  platform::TStream& base_;
  int64_t start_;
};

// Reads another archive's records in order through a window of
// kCopyBlock bytes: one read of the stream serves many small records, which
// can then be written straight from the window; a read as large as the
// window goes straight through. BeforeRefill runs before the window moves
// on (whoever writes from it flushes first). The stream underneath must not
// change while it is read.
class TZAReadAhead : public TZAReadOnlyStream {
 public:
  explicit TZAReadAhead(platform::TStream& base)
      : TZAReadOnlyStream(base.Size()), base_(base), window_(std::make_unique_for_overwrite<uint8_t[]>(kCopyBlock)) {}
  std::function<void()> BeforeRefill;

  platform::TStream& Base() const { return base_; }
  // The window's bytes from `pos` on; 0 when `pos` is outside it.
  int64_t WindowAt(int64_t pos, const uint8_t*& data) const {
    if (pos < start_ || pos >= start_ + length_) return 0;
    data = window_.get() + (pos - start_);
    return start_ + length_ - pos;
  }
  // Makes the window start at `pos`.
  void Refill(int64_t pos) {
    if (BeforeRefill) BeforeRefill();
    length_ = 0;
    base_.SetPosition(pos);
    start_ = pos;
    length_ = ZAReadFully(base_, window_.get(), std::clamp<int64_t>(size_ - pos, 0, kCopyBlock));
  }

  int64_t Read(void* buffer, int64_t count) override {
    count = std::min(count, size_ - pos_);
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
      const uint8_t* data = nullptr;
      if (const int64_t avail = WindowAt(pos_, data); avail > 0) {
        const int64_t n = std::min(count - done, avail);
        std::memcpy(out + done, data, static_cast<size_t>(n));
        pos_ += n;
        done += n;
      } else if (count - done >= kCopyBlock) {
        base_.SetPosition(pos_);
        const int64_t n = ZAReadFully(base_, out + done, count - done);
        pos_ += n;
        return done + n;
      } else {
        Refill(pos_);
        if (length_ <= 0) break;
      }
    }
    return done;
  }

 private:
  platform::TStream& base_;
  std::unique_ptr<uint8_t[]> window_;
  int64_t start_ = 0, length_ = 0;  // the bytes of base_ the window holds
};

// Upper bound of an item's stored size: deflate's worst case (generous: the
// bound zlib gives for any parameters) plus the encryption blocks.
uint64_t MaxStoredSize(uint64_t size, bool deflate, int encryptionOverhead) {
  uint64_t n = size;
  if (deflate) n += (size >> 3) + (size >> 6) + 64;
  return n + static_cast<uint64_t>(encryptionOverhead);
}

TZAExtraFieldDataBlock UnicodeNameBlock(const std::string& name) {
  TUnicodeExtendedInfo info;
  info.SetName(name);
  platform::TStringStream s;
  info.SaveToStream(s);
  if (s.DataString().size() > 0xFFFF) throw EZAException(ZA_ERR_FILE_NAME_TOO_LONG, {}, {name});
  TZAExtraFieldDataBlock block;
  block.headerID = ZA_EXTRA_UNICODE_NAME;
  block.Data.assign(s.DataString().begin(), s.DataString().end());
  return block;
}

// An Info-ZIP Unicode path field giving `name` for the stored name bytes
// `stored` (peers take it only while its CRC matches those bytes).
TZAExtraFieldDataBlock UnicodePathBlock(const std::string& stored, const std::string& name) {
  TZAExtraFieldDataBlock block;
  block.headerID = ZA_EXTRA_UNICODE_PATH;
  block.Data.resize(5);
  block.Data[0] = 1;
  ZAPutU32(block.Data.data() + 1, ZACrc32(stored.data(), stored.size()));
  block.Data.insert(block.Data.end(), name.begin(), name.end());
  if (block.Data.size() > 0xFFFF) throw EZAException(ZA_ERR_FILE_NAME_TOO_LONG, {}, {name});
  return block;
}

// Replaces the Unicode-name blocks of `fields` by one for `name` (where the
// first one was, else at the end); with `add` false a list without one
// stays without.
void SetUnicodeNameBlock(TZAExtraFields& fields, const std::string& name, bool add) {
  auto it = std::find_if(fields.begin(), fields.end(),
                         [](const TZAExtraFieldDataBlock& b) { return b.headerID == ZA_EXTRA_UNICODE_NAME; });
  if (it == fields.end() && !add) return;
  const size_t at = static_cast<size_t>(it - fields.begin());
  std::erase_if(fields, [](const TZAExtraFieldDataBlock& b) { return b.headerID == ZA_EXTRA_UNICODE_NAME; });
  fields.insert(fields.begin() + static_cast<std::ptrdiff_t>(std::min(at, fields.size())), UnicodeNameBlock(name));
}

std::string ExtraBytes(const TZAExtraFields& fields) {
  std::string out;
  ZAAppendExtraFields(out, fields, /*skipZip64=*/false);
  if (out.size() > 0xFFFF) throw EZAException(ZA_ERR_STREAM_WRITE);
  return out;
}

// An item's local record as it lies in a stream.
struct TLocalRecord {
  TZALocalFileHeader lh;
  std::string name, extra;  // raw bytes
  uint64_t dataSize = 0;    // the compressed size (the central one)
  int64_t descriptorSize = 0;

  int64_t HeaderSize() const { return kLocalHeaderSize + lh.nameLength + lh.extraLength; }
  int64_t Size() const { return HeaderSize() + static_cast<int64_t>(dataSize) + descriptorSize; }
  bool Zip64() const {
    return lh.compSize == ZA_SENTINEL32 || lh.unCompSize == ZA_SENTINEL32 ||
           ZAFindExtraField(ZAParseExtraFields(extra), ZA_EXTRA_ZIP64) != nullptr;
  }
};

// The length of the data descriptor at `at` (flag bit 3): 12 or 16 bytes,
// 20 or 24 with zip64 sizes, without or with its signature. The form whose
// values agree with the entry wins; when none does (a writer that got them
// wrong), the form the signature and the header suggest, as far as the
// stream goes.
int64_t DescriptorSize(platform::TStream& s, int64_t at, int64_t limit, const TDirItem& item, bool zip64) {
  uint8_t b[24] = {};
  const int64_t avail = std::clamp<int64_t>(limit - at, 0, 24);
  s.SetPosition(at);
  const int64_t n = ZAReadFully(s, b, avail);
  const bool signature = n >= 4 && ZAGetU32(b) == ZA_SIG_DATA_DESCRIPTOR;
  const auto matches = [&](int64_t off, bool wide) {
    if (off + 4 + (wide ? 16 : 8) > n) return false;
    const uint8_t* p = b + off;
    const uint64_t comp = wide ? ZAGetU64(p + 4) : ZAGetU32(p + 4);
    const uint64_t uncomp = wide ? ZAGetU64(p + 12) : ZAGetU32(p + 8);
    return ZAGetU32(p) == item.CentralDir.crc32 && comp == item.CompressedSize() &&
           uncomp == item.UncompressedSize();
  };
  for (int64_t off : {signature ? 4 : -1, 0}) {
    if (off < 0) continue;
    for (bool wide : {zip64, !zip64})
      if (matches(off, wide)) return off + 4 + (wide ? 16 : 8);
  }
  return std::min<int64_t>((signature ? 4 : 0) + 4 + (zip64 ? 16 : 8), n);
}

bool IsLocalSignature(uint32_t signature) {
  return signature == ZA_SIG_LOCAL_HEADER || signature == ZA_SIG_LOCAL_HEADER_NZ;
}

// Reads the local header of `item` at `pos` with its name and extra field;
// false when no local header is there (r.lh then holds the bytes read) or
// the stream ends inside it.
bool ReadLocalHeader(platform::TStream& s, int64_t pos, const TDirItem& item, TLocalRecord& r) {
  r.dataSize = item.CompressedSize();
  s.SetPosition(pos);
  if (!ZAReadRecord(s, r.lh) || !IsLocalSignature(r.lh.signature)) return false;
  return ZAReadBytes(s, r.lh.nameLength, r.name) && ZAReadBytes(s, r.lh.extraLength, r.extra);
}

// Whether a local header's signature is at `pos`.
bool LocalSignatureAt(platform::TStream& s, uint64_t pos) {
  uint8_t b[4];
  s.SetPosition(static_cast<int64_t>(std::min<uint64_t>(pos, INT64_MAX)));
  return ZAReadFully(s, b, 4) == 4 && IsLocalSignature(ZAGetU32(b));
}

// Reads the local record of `item` at `pos`; false when no local header is
// there or the record runs past `limit`.
bool ReadLocalRecord(platform::TStream& s, int64_t pos, int64_t limit, const TDirItem& item, TLocalRecord& r) {
  if (!ReadLocalHeader(s, pos, item, r)) return false;
  const int64_t dataEnd = pos + r.HeaderSize() + static_cast<int64_t>(r.dataSize);
  if (r.dataSize > static_cast<uint64_t>(limit) || dataEnd > limit) return false;
  r.descriptorSize = (r.lh.genPurposeFlag & ZA_FLAG_DATA_DESCRIPTOR) ? DescriptorSize(s, dataEnd, limit, item, r.Zip64()) : 0;
  return true;
}

// Makes `item`'s entry, its new local header `lh` and the header's extra
// fields `local` say that its record keeps `present` bytes of its data; the
// CRC, method and uncompressed size stay as the entry declared them.
void CutToPresent(TDirItem& item, uint64_t present, TZALocalFileHeader& lh, TZAExtraFields& local) {
  item.SetCompressedSize(present);  // never more than it was
  const uint64_t uncomp = item.UncompressedSize();
  const bool zip64 = present >= ZA_SENTINEL32 || uncomp >= ZA_SENTINEL32;
  std::erase_if(local, [](const TZAExtraFieldDataBlock& b) { return b.headerID == ZA_EXTRA_ZIP64; });
  if (zip64) {
    const std::string field = ZALocalZip64Field(uncomp, present);
    local.insert(local.begin(), TZAExtraFieldDataBlock{ZA_EXTRA_ZIP64, {field.begin() + 4, field.end()}});
  }
  ZASetLocalFromCentral(lh, item.CentralDir, present, uncomp);
}

// A record copied into a single file lies in its only volume, whatever
// volume its entry named before (readers of a single file that check the
// number refuse another).
void PlaceOnFirstVolume(TDirItem& item) {
  item.CentralDir.diskNumberStart = 0;
  item.Zip64ExtInfo.diskNumberStart = 0;
}

// Forces what was written to the disk: the file, then its folder's entry.
void FlushToDisk(platform::TStream& s, const std::string& fileName) {
  auto* h = dynamic_cast<platform::THandleStream*>(&s);
  if (!h) return;
  h->Flush();
  platform::SyncFolder(ZAExtractFilePath(fileName));
}

// The share flag a source file is opened with.
uint32_t ShareModeToFileMode(TZAFileShareMode mode) {
  switch (mode) {
    case smShareCompat: return platform::fmShareCompat;
    case smShareExclusive: return platform::fmShareExclusive;
    case smShareDenyWrite: return platform::fmShareDenyWrite;
    case smShareDenyRead: return platform::fmShareDenyRead;
    case smShareDenyNone: return platform::fmShareDenyNone;
  }
  return 0;
}

bool KeepsItsRecord(const TDirItem& item) {
  return !item.Modified || item.Operation == poChangeAttr || item.Operation == poChangeComment;
}

bool IsRenamed(const TDirItem& item) { return item.Modified && item.Operation == poRename; }

// The stored name of an entry written for `host` (-1: this system's own).
// Readers take the name of an entry made on another host than DOS or
// Windows as UTF-8, whatever code page it was written in: such an entry
// keeps a name outside ASCII in UTF-8. So does an entry whose name was
// stored in UTF-8 (flag bit 11) before, whatever its host: peers showed it
// as it is, and a code page would change what they show.
void SetStoredNameForHost(TDirItem& item, int host, bool oemFileNames) {
  const bool wasUtf8 = item.CentralDir.genPurposeFlag & ZA_FLAG_UTF8_NAME;
  item.SetNewStoredName(oemFileNames);
  if (!wasUtf8 && (host < 0 || ZAIsDosHost(host))) return;
  const bool ascii = std::all_of(item.Name.begin(), item.Name.end(), [](char c) { return (c & 0x80) == 0; });
  if (!ascii) {
    item.StoredName = item.Name;
    item.CentralDir.genPurposeFlag |= ZA_FLAG_UTF8_NAME;
  }
}

}  // namespace

// One commit. The object lives for the length of InternalEndUpdate.
class TZACommit {
 public:
  explicit TZACommit(TZABaseArchiver& arc)
      : FArc(arc), FDM(*arc.FDMHandle), FMultiVolume(arc.FSpanningMode != smNone) {}
  ~TZACommit() { DropItemTemp(); }
  TZACommit(const TZACommit&) = delete;
  TZACommit& operator=(const TZACommit&) = delete;

  void Run();

 private:
  void StartProgress();
  void PlanCut();
  void SaveArchiveTail();
  // A new temporary file (prefix "FC") in `folder` (empty: the current
  // folder); its name goes to `name` as soon as it exists. EZAException 19.
  std::unique_ptr<platform::TStream> CreateTempFile(const std::string& folder, std::string& name);
  void RestoreArchiveTail();
  void DeleteTempFile();
  void RollbackUpdate();
  [[noreturn]] void RollbackAndRethrow();

  bool WriteItems();
  bool WriteNewItem(int index);
  bool CopyMergedItem(int index);
  void WriteNewItemData(TDirItem& item, int64_t start);
  platform::TStream* OpenItemSource(TDirItem& item);
  void ReleaseItemSource(TDirItem& item, bool written);
  void CopyExistingItem(int index);
  bool DropFailedItem(int index);
  // Whether the old byte at `offset` lies in a record copied from the tail.
  bool CopiedOver(uint64_t offset) const;
  int OldEntryIndex(const TDirItem& item);
  bool Write(const void* data, int64_t count);
  bool CopyRange(platform::TStream& from, int64_t pos, int64_t count, const TDirItem* progressItem = nullptr);
  uint8_t* CopyBuffer();
  // Merged records that follow one another in the source window make one
  // run, written in one go from the window when the run ends: before
  // anything else is written, before the window moves, at the end. False
  // when the write failed for good (FProgressCancel set).
  bool FlushMerged();
  bool RemoveMovedSources();
  bool AbortIsSilent() const;

  // Volume sets: each new item is written to a temporary file first, then
  // copied into the volumes (its local header kept whole in one volume).
  void OpenItemTemp();
  void DropItemTemp() noexcept;
  bool CopySpannedItem(TDirItem& item);
  void UndoSpannedCopy() noexcept;

  // The archive stream; of a volume set, the volume being written, which
  // each volume switch replaces: never held across a write.
  platform::TStream& Archive() const { return *FArc.FCompressedStream; }

  TZABaseArchiver& FArc;
  TZADirManager& FDM;
  const bool FMultiVolume;
  platform::TStream* FOut = nullptr;  // where the item being written goes
  int64_t FCutPosition = 0;
  std::unique_ptr<platform::TStream> FTail;
  std::string FTailFileName;
  TZAAction FAction = fxaIgnore;
  std::vector<char> FKept;  // per CDir index: the record stays where it is
  // [start, end) in the old file of each record copied from the tail, the
  // least it takes (its header's fixed part and its data, up to its
  // DataLimit), by start.
  std::vector<std::pair<uint64_t, uint64_t>> FCopiedExtents;
  std::optional<EZAException> FAbortError;
  bool FHasMoves = false;
  std::unique_ptr<uint8_t[]> FCopyBuffer;  // kCopyBlock bytes, made on first use
  std::unique_ptr<TZAReadAhead> FMergeSource;  // over the stream merged items borrow
  int64_t FRunFrom = 0, FRunLength = 0;  // the pending run, in the source
  int64_t FRunTo = 0;                    // where it goes in the archive

  // The item source of the current WriteNewItem.
  std::unique_ptr<platform::TStream> FSourceFile;
  std::unique_ptr<platform::TStream> FSourceWindow;
  int64_t FCallerPosition = 0;

  // A volume set's item being written: its temporary file, the length of
  // its local header, where its copy into the volumes began (to take back
  // a failed copy that stayed in one volume), and the bytes of a spanned
  // floppy disk not written yet.
  std::unique_ptr<platform::TStream> FItemTemp;
  std::string FItemTempName;
  int64_t FHeaderLen = 0;
  int FCopyVolume = -1;
  int64_t FCopyStart = 0, FCopyBuffered = 0;
  std::unique_ptr<platform::TMemoryStream> FFirstVolumeBuffer;

  // End records of the directory manager, for a rollback.
  TZAZipCentralDirEnd FOldEnd;
  TZAZip64CentralDirEnd FOldZip64End;
  TZAZip64CentralDirEndLocator FOldLocator;
  bool FOldZip64 = false;
  int64_t FOldCentralDirOffset = 0;
};

int64_t TZABaseArchiver::RawRecordSize(platform::TStream& Source, const TDirItem& Item, int64_t From,
                                       int64_t Limit) {
  TLocalRecord r;
  if (Limit <= From || !ReadLocalRecord(Source, From, Limit, Item, r)) return -1;
  // A data descriptor cut by the limit (the next record or the directory
  // starts before any of its forms ends) was never there whole: readers
  // take the sizes and CRC from the entry, so the record is whole without
  // it, and the stray bytes stay behind. Refusing the record would drop an
  // item that reads whole by its entry.
  const bool descriptor = r.lh.genPurposeFlag & ZA_FLAG_DATA_DESCRIPTOR;
  const int64_t d = r.descriptorSize;
  if (descriptor && d != 12 && d != 16 && d != 20 && d != 24) return r.HeaderSize() + static_cast<int64_t>(r.dataSize);
  return r.Size();
}

void TZABaseArchiver::QueueRawCopy(int Index, const TDirItem& Src, const std::shared_ptr<platform::TStream>& Source,
                                   int64_t From, int64_t Limit) {
  TZADirArray& dir = FDMHandle->CDir;
  if (Index < 0) {
    Index = dir.Count();
    dir.SetCount(Index + 1);
  }
  dir.SetItem(Index, Src);
  TDirItem& item = dir[Index];
  item.Modified = true;
  item.Operation = poMerge;
  item.Tagged = false;
  item.OldName.clear();
  item.SrcFileName.clear();
  item.Password.clear();
  item.Stream = Source;
  item.bDestroyStream = false;
  item.Position = From;
  // Bytes another item of the source holds too are never copied: entries
  // that share them would multiply them here.
  if (Src.DataLimit < static_cast<uint64_t>(Limit)) Limit = static_cast<int64_t>(Src.DataLimit);
  item.Count = Src.Overlaps ? 0 : std::max<int64_t>(Limit - From, 0);
}

void TZABaseArchiver::InternalEndUpdate() {
  if (FUpdateCount <= 0) return;
  FUpdateCount = 0;
  if (!HasPendingChanges() || !FDMHandle || !FCompressedStream) return;
  TZACommit(*this).Run();
}

// --- The commit ---------------------------------------------------------------------

void TZACommit::StartProgress() {
  FArc.FProcessedFileNo = FArc.FProcessedFileCount = 0;
  FArc.FProgressCancel = false;
  FArc.FProgressEnabled = true;
  FArc.FProcessedFilesTotalSize = FArc.FProcessedFilesSize = 0;
  TZADirArray& dir = FDM.CDir;
  for (int i = 0; i < dir.Count(); ++i) {
    if (!dir[i].Modified) continue;
    ++FArc.FProcessedFileCount;
    // A merged item's work is the record it copies; a new item's, the data
    // it compresses.
    if (dir[i].Operation == poMerge)
      FArc.FProcessedFilesTotalSize += static_cast<int64_t>(dir[i].CompressedSize());
    else if (!KeepsItsRecord(dir[i]) && !IsRenamed(dir[i]))
      FArc.FProcessedFilesTotalSize += static_cast<int64_t>(dir[i].UncompressedSize());
    if (dir[i].Operation == poMove) FHasMoves = true;
  }
}

void TZACommit::Run() {
  StartProgress();
  TZAProcessOperation phase = poDelete;
  for (int i = 0; i < FDM.CDir.Count(); ++i)
    if (FDM.CDir[i].Modified) {
      phase = FDM.CDir[i].Operation;
      break;
    }

  bool cancel = false;
  try {
    FArc.DoOnOverallProgress(0, phase, ppStart, cancel);
  } catch (...) {
    // A handler that raises ends the transaction as a cancel does: the
    // pending items must not stay behind for a close to write entries of.
    FArc.RollbackDirectory();
    throw;
  }
  if (cancel) {
    // The transaction is over: what it held must not reach a later one.
    FArc.RollbackDirectory();
    return;
  }

  FOldEnd = FDM.CentralDirEnd;
  FOldZip64End = FDM.Zip64CentralDirEnd;
  FOldLocator = FDM.Zip64CentralDirEndLocator;
  FOldZip64 = FDM.FZip64;
  FOldCentralDirOffset = FDM.CentralDirOffset;
  if (FMultiVolume && FDM.RBCDir.Count() > 0) {
    // Only a set being created is written (BeginUpdate refuses the others):
    // an existing set cannot be rewritten in place.
    FArc.RollbackDirectory();
    throw EZAException(ZA_ERR_SPANNED_MODIFICATION, FArc.FName);
  }

  try {
    PlanCut();
    SaveArchiveTail();
  } catch (...) {
    // Nothing was cut yet: the archive is as it was.
    FArc.RollbackDirectory();
    throw;
  }

  bool completed = false;
  try {
    // A new volume set has nothing past its cut; a single file is written
    // over, and gets its new length with its directory.
    if (FMultiVolume) Archive().SetSize(FCutPosition);
    Archive().SetPosition(FCutPosition);
    FArc.FVolumeNumberInfo.SetFirstVolume(true);
    // Spanned onto floppy disks, each disk's bytes are written in one go.
    if (FArc.FSpanningMode == smSpanning && FArc.MediaInfo().IsFloppy(ZAExtractFilePath(FArc.FFileName)))
      FFirstVolumeBuffer = std::make_unique<platform::TMemoryStream>();
    completed = WriteItems();
    if (FFirstVolumeBuffer) {
      if (completed && FFirstVolumeBuffer->Size() > 0)
        FArc.FVolumes->WriteBufferToStream(FFirstVolumeBuffer->Memory(), FFirstVolumeBuffer->Size(),
                                           nullptr, -1);
      FFirstVolumeBuffer.reset();
    }
    if (completed) {
      // The last event comes while the change can still be undone (saving
      // the directory renames the last volume of a set): a handler that
      // raises there rolls it back like any other failure, and nothing
      // after the save turns a saved change into a reported failure. A
      // cancel this late changes nothing.
      bool ignored = false;
      FArc.DoOnOverallProgress(100, phase, ppEnd, ignored);
      FDM.SaveDir(true, &Archive(), FMultiVolume ? -1 : Archive().Position());
      if (FArc.FOptions.FlushBuffers() || FHasMoves) FlushToDisk(Archive(), FArc.FFileName);
    }
  } catch (...) {
    RollbackAndRethrow();
  }
  if (!completed) {
    try {
      RollbackUpdate();
    } catch (...) {
      RollbackAndRethrow();
    }
    if (FAbortError && !AbortIsSilent()) throw *FAbortError;
    return;
  }
  DeleteTempFile();

  if (!RemoveMovedSources() && !AbortIsSilent()) throw *FAbortError;
}

bool TZACommit::AbortIsSilent() const {
  // An abort that a handler or the user chose ends the work quietly; one
  // that came from a closed dialog with nobody to show it is an error.
  return static_cast<bool>(FArc.OnProcessFileFailure) || platform::GetDialogProvider() != nullptr;
}

void TZACommit::PlanCut() {
  TZADirArray& dir = FDM.CDir;
  const TZADirArray& old = FDM.RBCDir;
  const int64_t size = Archive().Size();
  // Where the old directory really starts: what loading found (the end of
  // the file after a rebuild from the local headers), never the end
  // record's offset, which misses a stub put in front of the archive.
  const int64_t dirStart = std::min(std::max(FDM.CentralDirOffset, FDM.StubSize), size);
  int64_t cut = dirStart;

  // Records that stay valid as they are; every other old record (deleted,
  // renamed, replaced) must go, and the rewrite starts at the lowest one.
  std::vector<uint64_t> kept;
  kept.reserve(static_cast<size_t>(dir.Count()));
  for (int i = 0; i < dir.Count(); ++i)
    if (KeepsItsRecord(dir[i])) kept.push_back(dir[i].LocalHeaderOffset());
  std::sort(kept.begin(), kept.end());
  for (int j = 0; j < old.Count(); ++j) {
    const uint64_t offset = old[j].LocalHeaderOffset();
    if (!std::binary_search(kept.begin(), kept.end(), offset) && offset < static_cast<uint64_t>(cut))
      cut = static_cast<int64_t>(offset);
  }

  // An item below the cut whose record reaches past it (records that
  // overlap, in a damaged archive, or one the end of the file cut short)
  // would lose its end, and what is written at the cut would lie inside it:
  // the cut moves down to it. An entry with no record at its offset reaches
  // as far as it declares; copied, it refuses the change, which must not
  // write inside what it claims. Taken from the highest offset down, one
  // pass settles it; only records that start close enough to the cut can
  // reach it.
  std::vector<std::pair<uint64_t, int>> below;
  for (int i = 0; i < dir.Count(); ++i) {
    const uint64_t offset = dir[i].LocalHeaderOffset();
    if (KeepsItsRecord(dir[i]) && offset < static_cast<uint64_t>(cut)) below.emplace_back(offset, i);
  }
  std::sort(below.begin(), below.end(), std::greater<>());
  for (const auto& [offset, i] : below) {
    const TDirItem& item = dir[i];
    const uint64_t longest = kLocalHeaderSize + 2 * 0xFFFF + 24 + item.CompressedSize();
    if (offset >= static_cast<uint64_t>(cut) || offset + longest <= static_cast<uint64_t>(cut)) continue;
    TLocalRecord r;
    const bool reaches =
        item.NoLocalHeader || !LocalSignatureAt(Archive(), offset)
            ? offset + kLocalHeaderSize + item.CompressedSize() > static_cast<uint64_t>(cut)
            // A record the file cannot hold (cut short) reaches past any cut.
            : !ReadLocalRecord(Archive(), static_cast<int64_t>(offset), size, item, r) ||
                  static_cast<int64_t>(offset) + r.Size() > cut;
    if (reaches) cut = static_cast<int64_t>(offset);
  }
  FKept.assign(static_cast<size_t>(dir.Count()), 0);
  for (int i = 0; i < dir.Count(); ++i)
    FKept[static_cast<size_t>(i)] = KeepsItsRecord(dir[i]) && dir[i].LocalHeaderOffset() < static_cast<uint64_t>(cut);
  FCutPosition = cut;

  // The records copied from the tail are measured against one another as
  // the directory measures its entries: each takes the bytes up to where
  // the next one starts (the old directory after the last), never more,
  // whatever its sizes claim, so that no byte is written for two entries.
  // Where records conflict, the local headers decide who owns them.
  std::vector<int> copied;
  for (int i = 0; i < dir.Count(); ++i)
    if (!FKept[static_cast<size_t>(i)] && (KeepsItsRecord(dir[i]) || IsRenamed(dir[i])) && !dir[i].NoLocalHeader &&
        dir[i].LocalHeaderOffset() >= static_cast<uint64_t>(cut))
      copied.push_back(i);
  ZAMarkOverlappingItems(dir, copied, static_cast<uint64_t>(dirStart), false);
  const auto conflict = [&](int i) { return dir[i].Overlaps; };
  if (std::any_of(copied.begin(), copied.end(), conflict) && ZAConfirmLocalHeaders(Archive(), dir, copied)) {
    std::erase_if(copied, [&](int i) { return dir[i].NoLocalHeader; });
    ZAMarkOverlappingItems(dir, copied, static_cast<uint64_t>(dirStart), false);
  }
  // A record behind the old directory may run to the end of the file.
  for (const int i : copied)
    if (dir[i].LocalHeaderOffset() >= static_cast<uint64_t>(dirStart) && dir[i].DataLimit == static_cast<uint64_t>(dirStart))
      dir[i].DataLimit = UINT64_MAX;
  // What each copied record takes of the old bytes, at the least: an old
  // record that a failed update gives back must not lie there.
  FCopiedExtents.clear();
  for (const int i : copied)
    if (const auto e = ZALeastExtent(dir[i]); e.second > e.first) FCopiedExtents.push_back(e);
  std::sort(FCopiedExtents.begin(), FCopiedExtents.end());
}

bool TZACommit::CopiedOver(uint64_t offset) const {
  // Extents of the copied records never lie over one another (each ends by
  // the next one's start): only the last that starts at or before
  // `offset` can hold it.
  const auto next = std::upper_bound(FCopiedExtents.begin(), FCopiedExtents.end(),
                                     std::make_pair(offset, UINT64_MAX));
  return next != FCopiedExtents.begin() && offset < std::prev(next)->second;
}

void TZACommit::SaveArchiveTail() {
  const int64_t size = Archive().Size();
  try {
    if (FArc.FInMemory || (FArc.FIsCustomStream && FArc.FTempDir.empty()) || FMultiVolume) {
      // The archive itself lives in memory, or in a caller's stream that has
      // no folder of its own; a new volume set has nothing after its cut.
      FTail = std::make_unique<platform::TMemoryStream>();
    } else {
      // Beside the archive unless told otherwise: the same disk, never a
      // RAM-backed temporary folder.
      const std::string named = !FArc.FTempDir.empty() ? FArc.FTempDir : ZAExtractFilePath(FArc.FFileName);
      FTail = CreateTempFile(named, FTailFileName);
    }
    uint8_t* buffer = CopyBuffer();
    Archive().SetPosition(FCutPosition);
    for (int64_t done = FCutPosition; done < size;) {
      const int64_t n = std::min(kCopyBlock, size - done);
      if (ZAReadFully(Archive(), buffer, n) != n) throw EZAException(ZA_ERR_INVALID_ARCHIVE, FArc.FName);
      if (FTail->Write(buffer, n) != n) throw EZAException(ZA_ERR_STREAM_WRITE, FArc.FName);
      done += n;
    }
    // The tail is the only copy of these bytes once the archive is cut.
    if (!FTailFileName.empty()) FlushToDisk(*FTail, FTailFileName);
  } catch (...) {
    DeleteTempFile();
    throw;
  }
}

std::unique_ptr<platform::TStream> TZACommit::CreateTempFile(const std::string& folder, std::string& name) {
  const std::string dir = folder.empty() ? std::string("./") : folder;
  try {
    platform::TFile file = platform::CreateTempFile(dir, "FC");
    name = file.Path();
    return std::make_unique<platform::THandleStream>(std::move(file));
  } catch (const std::exception&) {
    throw EZAException(ZA_ERR_CANNOT_CREATE_FILE, FArc.FName,
                       {name.empty() ? platform::JoinPath(dir, "FC*") : name});
  }
}

void TZACommit::RestoreArchiveTail() {
  if (!FTail) throw EZAException(ZA_ERR_NIL_POINTER, FArc.FName);
  // The old length first (what was written past it goes), then the old
  // bytes where they differ: past the commit's furthest write nothing was
  // changed, and nothing needs writing there (under a file-size limit it
  // could not be).
  const int64_t size = FTail->Size();
  if (Archive().Size() > FCutPosition + size) Archive().SetSize(FCutPosition + size);
  FTail->SetPosition(0);
  uint8_t* buffer = CopyBuffer();
  std::vector<uint8_t> now(static_cast<size_t>(std::min(kCopyBlock, size)));
  for (int64_t done = 0; done < size;) {
    const int64_t n = std::min(kCopyBlock, size - done);
    if (ZAReadFully(*FTail, buffer, n) != n) throw EZAException(ZA_ERR_STREAM_WRITE, FArc.FName);
    Archive().SetPosition(FCutPosition + done);
    if (ZAReadFully(Archive(), now.data(), n) != n || std::memcmp(now.data(), buffer, static_cast<size_t>(n)) != 0) {
      Archive().SetPosition(FCutPosition + done);
      Archive().WriteBuffer(buffer, n);
    }
    done += n;
  }
  if (FArc.FOptions.FlushBuffers()) FlushToDisk(Archive(), FArc.FFileName);
  DeleteTempFile();
}

void TZACommit::DeleteTempFile() {
  FTail.reset();
  if (!FTailFileName.empty()) platform::DeleteFile(FTailFileName);
  FTailFileName.clear();
}

void TZACommit::RollbackUpdate() {
  // Streams of dropped items go with their entries.
  FArc.RollbackDirectory();
  FDM.CentralDirEnd = FOldEnd;
  FDM.Zip64CentralDirEnd = FOldZip64End;
  FDM.Zip64CentralDirEndLocator = FOldLocator;
  FDM.FZip64 = FOldZip64;
  FDM.CentralDirOffset = FOldCentralDirOffset;
  // A new volume set goes back to its first volume, cut where it began.
  if (FMultiVolume) FArc.FVolumes->RestartWriting(FCutPosition);
  FDM.FCompressedStream = FArc.FCompressedStream;
  RestoreArchiveTail();
}

void TZACommit::RollbackAndRethrow() {
  const std::exception_ptr failure = std::current_exception();
  try {
    RollbackUpdate();
  } catch (const std::exception& e) {
    std::string why;
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& original) {
      why = original.what();
    } catch (...) {
      why = "Unknown error";
    }
    // The tail file stays: it is the only copy of the archive's old end.
    std::string message = why + ". The archive could not be restored (" + e.what() + ")";
    if (!FTailFileName.empty())
      message += "; its original bytes from offset " + std::to_string(FCutPosition) + " on are kept in \"" +
                 FTailFileName + "\"";
    throw std::runtime_error(message);
  }
  std::rethrow_exception(failure);
}

// --- Writing the items ------------------------------------------------------------------

bool TZACommit::WriteItems() {
  TZADirArray& dir = FDM.CDir;
  int i = 0;
  while (i < dir.Count() && !FArc.FProgressCancel) {
    if (FKept[static_cast<size_t>(i)]) {
      ++i;
      continue;
    }
    FAction = fxaIgnore;
    bool ok = true;
    const bool keeps = KeepsItsRecord(dir[i]) || IsRenamed(dir[i]);
    const bool merged = !keeps && dir[i].Operation == poMerge;
    if (!merged && !FlushMerged()) break;
    if (keeps)
      CopyExistingItem(i);
    else if (merged)
      ok = CopyMergedItem(i);
    else
      ok = WriteNewItem(i);
    if (FAction == fxaRetry) continue;
    if (FAction == fxaAbort || FArc.FProgressCancel) break;
    if (ok) {
      if (dir[i].Modified) ++FArc.FProcessedFileNo;
      ++i;
      continue;
    }
    if (!FlushMerged()) break;
    if (DropFailedItem(i)) ++i;
  }
  if (FAction != fxaAbort && !FArc.FProgressCancel) FlushMerged();
  return FAction != fxaAbort && !FArc.FProgressCancel;
}

bool TZACommit::FlushMerged() {
  if (FRunLength == 0) return true;
  const uint8_t* data = nullptr;
  // The run lies in the window: the window never moves before it is flushed.
  if (FMergeSource->WindowAt(FRunFrom, data) < FRunLength) throw EZAException(ZA_ERR_NIL_POINTER, FArc.FName);
  FOut = &Archive();
  const int64_t length = FRunLength;
  FRunLength = 0;
  return Write(data, length);
}

// A new or updated item that could not be written: a new one leaves the
// directory (false: the next item now has its index); one that replaced an
// old item gets the old entry and data back (true).
bool TZACommit::DropFailedItem(int index) {
  TZADirArray& dir = FDM.CDir;
  const int old = OldEntryIndex(dir[index]);
  if (old < 0) {
    dir.DeleteItem(index);
    FKept.erase(FKept.begin() + index);
    return false;
  }
  dir.SetItem(index, FDM.RBCDir[old]);
  // An old record inside one copied from the tail (entries that share or
  // quote records) would be written twice: the change is refused as one of
  // a damaged archive, and the archive goes back as it was.
  const uint64_t offset = dir[index].LocalHeaderOffset();
  if (offset >= static_cast<uint64_t>(FCutPosition) && CopiedOver(offset))
    throw EZAException(ZA_ERR_INVALID_ARCHIVE, FArc.FName);
  CopyExistingItem(index);
  return true;
}

// The entry of the rollback copy that an updated item replaces (an exact
// name match), or -1 for an item new to the archive.
int TZACommit::OldEntryIndex(const TDirItem& item) {
  if (item.Operation != poUpdate && item.Operation != poMove && item.Operation != poMerge) return -1;
  return FDM.RBCDir.FindExactName(item.Name);
}

bool TZACommit::Write(const void* data, int64_t count) {
  const TZADiskFullHandler onDiskFull = [this](int volume, const std::string& file, bool& cancel) {
    FArc.DoOnDiskFull(volume, file, cancel);
  };
  const std::string& file = FOut == FItemTemp.get() ? FItemTempName : FArc.FFileName;
  return ZAWriteWithDiskFullRetry(*FOut, data, count, file, onDiskFull, FArc.FProgressCancel);
}

uint8_t* TZACommit::CopyBuffer() {
  if (!FCopyBuffer) FCopyBuffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(kCopyBlock));
  return FCopyBuffer.get();
}

bool TZACommit::CopyRange(platform::TStream& from, int64_t pos, int64_t count, const TDirItem* progressItem) {
  uint8_t* buffer = CopyBuffer();
  from.SetPosition(pos);
  for (int64_t done = 0; done < count;) {
    const int64_t n = std::min(kCopyBlock, count - done);
    if (ZAReadFully(from, buffer, n) != n) throw EZAException(ZA_ERR_INVALID_ARCHIVE, FArc.FName);
    if (!Write(buffer, n)) return false;  // a full disk the user gave up on: FProgressCancel
    done += n;
    if (progressItem && done < count) {
      bool cancel = false;
      FArc.DoOnFileProgress(progressItem->Name, static_cast<double>(done) / static_cast<double>(count) * 100.0,
                            progressItem->Operation, ppProcess, cancel);
      const double total = static_cast<double>(std::max<int64_t>(FArc.FProcessedFilesTotalSize, 1));
      if (!cancel)
        FArc.DoOnOverallProgress(static_cast<double>(FArc.FProcessedFilesSize + done) / total * 100.0,
                                 progressItem->Operation, ppProcess, cancel);
      if (cancel) {
        FArc.FProgressCancel = true;
        return false;
      }
    }
  }
  return true;
}

bool TZACommit::CopyMergedItem(int index) {
  TDirItem& item = FDM.CDir[index];
  bool cancel = false;
  FArc.DoOnFileProgress(item.Name, 0, item.Operation, ppStart, cancel);
  if (cancel) return false;
  int64_t size = 0, start = 0;
  try {
    // Merges refuse volume sets: the record goes straight to the archive.
    if (!item.Stream || FMultiVolume) throw EZAException(ZA_ERR_NIL_POINTER, FArc.FName);
    if (!FMergeSource || &FMergeSource->Base() != item.Stream.get()) {
      if (!FlushMerged()) return false;
      FMergeSource = std::make_unique<TZAReadAhead>(*item.Stream);
      FMergeSource->BeforeRefill = [this] { FlushMerged(); };
    }
    TZAReadAhead& source = *FMergeSource;
    // The window starts at the record unless the record, as far as its
    // central entry tells, is in it already.
    const TZAZipCentralDir& cd = item.CentralDir;
    const uint64_t expected = kLocalHeaderSize + 2 * (cd.nameLength + cd.extraLength) + item.CompressedSize() + 24;
    const uint8_t* data = nullptr;
    if (static_cast<uint64_t>(source.WindowAt(item.Position, data)) < std::min<uint64_t>(expected, kCopyBlock))
      source.Refill(item.Position);
    size = TZABaseArchiver::RawRecordSize(source, item, item.Position, item.Position + item.Count);
    if (FArc.FProgressCancel) return false;  // a run flushed on the way could not be written
    if (size < 0) throw EZAException(ZA_ERR_INVALID_ARCHIVE, FArc.FName);
    if (size < kCopyBlock) {
      if (source.WindowAt(item.Position, data) < size) source.Refill(item.Position);
      if (source.WindowAt(item.Position, data) < size) throw EZAException(ZA_ERR_INVALID_ARCHIVE, FArc.FName);
      if (FRunLength > 0 && item.Position != FRunFrom + FRunLength && !FlushMerged()) return false;
      if (FRunLength == 0) {
        FRunFrom = item.Position;
        FRunTo = Archive().Position();
      }
      start = FRunTo + FRunLength;
      FRunLength += size;
    } else {
      if (!FlushMerged()) return false;
      FOut = &Archive();
      start = Archive().Position();
      try {
        if (!CopyRange(source, item.Position, size, &item)) return false;
      } catch (const EZAException&) {
        // Never a partial item: what the attempt wrote is written over by
        // what comes next, or cut off with the rest.
        Archive().SetPosition(start);
        throw;
      }
    }
  } catch (const EZAException& e) {
    FArc.DoOnProcessFileFailure(item.Name, item.Operation, e.NativeError, e.ErrorCode, e.what(), FAction);
    if (FAction == fxaAbort) FAbortError = e;
    return false;
  }
  item.SetLocalHeaderOffset(static_cast<uint64_t>(start));
  PlaceOnFirstVolume(item);
  // The other archive's stream is only lent for the commit.
  item.Stream.reset();
  item.Position = item.Count = 0;
  FArc.FProcessedFilesSize += size;
  cancel = false;
  FArc.DoOnFileProgress(item.Name, 100, item.Operation, ppEnd, cancel);
  if (cancel) FArc.FProgressCancel = true;
  return true;
}

void TZACommit::CopyExistingItem(int index) {
  TDirItem& item = FDM.CDir[index];
  const uint64_t oldOffset = item.LocalHeaderOffset();
  if (oldOffset < static_cast<uint64_t>(FCutPosition)) {
    // Still in place ahead of the cut (an entry sharing a kept record). A
    // new name would need a header of its own in front of bytes another
    // entry keeps: a change of a damaged archive like any other, refused.
    if (!IsRenamed(item)) return;
    throw EZAException(ZA_ERR_INVALID_ARCHIVE, FArc.FName);
  }
  const int64_t tailPos = static_cast<int64_t>(oldOffset) - FCutPosition;
  // What the record may take of the tail: up to its limit (the next record
  // copied, or the old directory).
  const int64_t tailSize = FTail->Size();
  const int64_t limit = item.DataLimit <= oldOffset ? tailPos
                        : item.DataLimit - static_cast<uint64_t>(FCutPosition) < static_cast<uint64_t>(tailSize)
                            ? static_cast<int64_t>(item.DataLimit - static_cast<uint64_t>(FCutPosition))
                            : tailSize;
  // A header whose name or extra field the file cannot hold is a record
  // cut short all the same.
  TLocalRecord r;
  const bool headerWhole = ReadLocalHeader(*FTail, tailPos, item, r);
  if (item.NoLocalHeader || !IsLocalSignature(r.lh.signature)) throw EZAException(ZA_ERR_INVALID_ARCHIVE, FArc.FName);
  const int64_t whole = headerWhole ? TZABaseArchiver::RawRecordSize(*FTail, item, tailPos, limit) : -1;
  FOut = &Archive();
  const int64_t newOffset = Archive().Position();

  if (whole >= 0 && !IsRenamed(item)) {
    CopyRange(*FTail, tailPos, whole);
  } else {
    // A new header in front of the old data: the stored name (the new one
    // of a renamed item), the old header's other fields and extra fields
    // (sizes and zip64 values belong to the data), a Unicode-name field
    // rebuilt for a new name. A record that does not fit its limit (cut
    // short, or running into the next one) keeps the data it has there,
    // and its header and entry say how many: its CRC and size stay as
    // declared, so that it stays damaged to every reader.
    const bool cut = whole < 0;
    const int64_t dataStart = tailPos + r.HeaderSize();
    const uint64_t present = !cut ? r.dataSize
                             : dataStart >= limit ? 0
                                                  : std::min(r.dataSize, static_cast<uint64_t>(limit - dataStart));
    // A header that is not the record's own (it lies past its limit: another
    // entry's too) gives no extra field: copied for each such entry, it
    // would multiply.
    TZAExtraFields local = cut && dataStart > limit ? TZAExtraFields() : ZAParseExtraFields(r.extra);
    if (IsRenamed(item)) {
      const bool unicode = FArc.FUnicodeFilenames;
      SetStoredNameForHost(item, item.CentralDir.versionMadeBy >> 8, FArc.FOptions.OEMFileNames());
      const bool hadUnicode = ZAFindExtraField(local, ZA_EXTRA_UNICODE_NAME) != nullptr;
      SetUnicodeNameBlock(local, item.Name, unicode);
      SetUnicodeNameBlock(item.ExtraFields, item.Name, unicode || hadUnicode);
    }
    TZALocalFileHeader lh = r.lh;
    if (cut) CutToPresent(item, present, lh, local);
    const std::string extra = ExtraBytes(local);
    if (!item.StoredName || item.StoredName->size() > 0xFFFF) throw EZAException(ZA_ERR_INVALID_ARCHIVE, FArc.FName);
    lh.genPurposeFlag = static_cast<uint16_t>((lh.genPurposeFlag & ~ZA_FLAG_UTF8_NAME) |
                                              (item.CentralDir.genPurposeFlag & ZA_FLAG_UTF8_NAME));
    lh.nameLength = static_cast<uint16_t>(item.StoredName->size());
    lh.extraLength = static_cast<uint16_t>(extra.size());
    const std::string prefix = ZALocalPrefix(lh, *item.StoredName, extra);
    if (!Write(prefix.data(), static_cast<int64_t>(prefix.size()))) return;
    if (!CopyRange(*FTail, dataStart, static_cast<int64_t>(present) + (cut ? 0 : whole - r.HeaderSize() - static_cast<int64_t>(r.dataSize))))
      return;
    if (cut && (lh.genPurposeFlag & ZA_FLAG_DATA_DESCRIPTOR)) {
      const std::string descriptor =
          ZADataDescriptorBytes(item.CentralDir.crc32, item.CompressedSize(), item.UncompressedSize());
      if (!Write(descriptor.data(), static_cast<int64_t>(descriptor.size()))) return;
    }
  }
  item.SetLocalHeaderOffset(static_cast<uint64_t>(newOffset));
  PlaceOnFirstVolume(item);
}

platform::TStream* TZACommit::OpenItemSource(TDirItem& item) {
  if (item.Stream) {
    platform::TStream& s = *item.Stream;
    FCallerPosition = s.Position();
    const int64_t size = s.Size();
    int64_t from = 0, count = size;
    if (item.Count > 0) {
      from = std::clamp<int64_t>(item.Position, 0, size);
      count = std::min(item.Count, size - from);
    }
    FSourceWindow = std::make_unique<TZAStreamWindow>(s, from, count);
    return FSourceWindow.get();
  }
  const uint32_t share = ShareModeToFileMode(FArc.FOptions.ShareMode());
  try {
    FSourceFile = std::make_unique<platform::TFileStream>(item.SrcFileName, platform::fmOpenRead | share);
  } catch (const platform::EFOpenError& e) {
    throw EZAException(e.error == ENAMETOOLONG ? ZA_ERR_FILE_NAME_TOO_LONG : ZA_ERR_CANNOT_OPEN_FILE,
                       FArc.FName, {item.SrcFileName});
  } catch (const std::exception&) {
    throw EZAException(ZA_ERR_CANNOT_OPEN_FILE, FArc.FName, {item.SrcFileName});
  }
  return FSourceFile.get();
}

void TZACommit::ReleaseItemSource(TDirItem& item, bool written) {
  FSourceFile.reset();
  FSourceWindow.reset();
  if (!item.Stream) return;
  if (!item.bDestroyStream) item.Stream->SetPosition(FCallerPosition);
  // A stream the item owns lives on until the item is written or dropped,
  // so that a retry can read it again; a caller's stream is not kept.
  if (written) {
    item.Stream.reset();
    item.bDestroyStream = false;
  }
}

bool TZACommit::WriteNewItem(int index) {
  TDirItem& item = FDM.CDir[index];
  FArc.UpdateCompressionMethod();
  const bool fromFile = item.Operation == poAdd || item.Operation == poMove;
  const std::string eventName = fromFile && !item.SrcFileName.empty() ? item.SrcFileName : item.Name;
  bool cancel = false;
  FArc.DoOnFileProgress(eventName, 0, item.Operation, ppStart, cancel);
  if (cancel) return false;

  int64_t start = 0;
  bool copied = true;
  try {
    if (FMultiVolume)
      OpenItemTemp();
    else
      FOut = &Archive();
    start = FOut->Position();
    WriteNewItemData(item, start);
    if (FMultiVolume && !FArc.FProgressCancel) copied = CopySpannedItem(item);
  } catch (const EZAException& e) {
    ReleaseItemSource(item, false);
    // A retried or dropped item leaves nothing of its attempt behind.
    if (FMultiVolume) {
      UndoSpannedCopy();
      DropItemTemp();
      // A full disk the user gave up on is a cancel, not a failure to ask about.
      if (FArc.FProgressCancel) return false;
    } else {
      // Written over by what comes next, or cut off with the rest.
      FOut->SetPosition(start);
    }
    if (!FArc.FCompressedStream) {
      FAction = fxaAbort;
    } else {
      const std::string name = item.Operation == poUpdate || item.SrcFileName.empty() ? item.Name : item.SrcFileName;
      FArc.DoOnProcessFileFailure(name, item.Operation, e.NativeError, e.ErrorCode, e.what(), FAction);
    }
    if (FAction == fxaAbort) FAbortError = e;
    return false;
  } catch (...) {
    ReleaseItemSource(item, false);
    throw;
  }
  DropItemTemp();
  if (FArc.FProgressCancel) {
    ReleaseItemSource(item, false);
    return false;
  }
  if (!copied) {
    // The volume copy was cancelled: the whole commit is given up.
    ReleaseItemSource(item, false);
    FAction = fxaAbort;
    return false;
  }
  ReleaseItemSource(item, true);
  cancel = false;
  FArc.DoOnFileProgress(eventName, 100, item.Operation, ppEnd, cancel);
  if (cancel) FArc.FProgressCancel = true;
  return true;
}

void TZACommit::WriteNewItemData(TDirItem& item, int64_t start) {
  TZAZipCentralDir& cd = item.CentralDir;
  const bool nonZip = FDM.IsNonZipFlavour();
  const bool folder = item.IsDirectory();
  const TZip64Mode zip64Mode = FArc.FZip64Mode;

  const int host = item.KeptHost;
  SetStoredNameForHost(item, host, FArc.FOptions.OEMFileNames());
  item.bHugeFile = false;
  item.Zip64ExtInfo = TZAZip64ExtendedInfo();
  // The fields written are the ones this data gets: stale ones of an
  // updated item (its old Unicode name, AES or time fields) are dropped.
  item.ExtraFields.clear();
  if (FArc.FUnicodeFilenames) item.ExtraFields.push_back(UnicodeNameBlock(item.Name));
  if (!item.KeptUnicodePath.empty()) item.ExtraFields.push_back(UnicodePathBlock(*item.StoredName, item.KeptUnicodePath));

  platform::TStream* source = folder ? nullptr : OpenItemSource(item);
  const uint64_t size = source ? static_cast<uint64_t>(std::max<int64_t>(source->Size(), 0)) : 0;
  const bool encrypted = !folder && !item.Password.empty();
  const bool deflate = !folder && item.CompressionMethod != ZA_METHOD_STORED;
  // The codec encrypts with AES by the same rule; its 0x9901 field is
  // reserved in the first header and final in the second.
  const int aesBits = encrypted && source && FArc.FisZIPFormat ? ZAAESKeyBits(FArc.FZACryptoAlgorithm) : 0;
  if (aesBits > 0) {
    TZAExtraFieldDataBlock field;
    TAESCryptoTransform(aesBits, ZAAESWrittenVersion, item.CompressionMethod).GetExtraFieldData(field);
    item.ExtraFields.push_back(std::move(field));
  }
  const int encryptionOverhead =
      !encrypted ? 0 : aesBits > 0 ? ZAAESOverhead(aesBits) : ZAZipCryptHeaderSize;

  item.SetLocalHeaderOffset(static_cast<uint64_t>(start));
  if (zip64Mode == zmAlways && cd.relOffsetLH != ZA_SENTINEL32) {
    item.Zip64ExtInfo.relOffsetLH = static_cast<uint64_t>(start);
    cd.relOffsetLH = ZA_SENTINEL32;
  }
  // The zip64 field is reserved whenever the sizes could need it, so the
  // header never has to grow once the data follows it.
  const bool zip64Local = zip64Mode == zmAlways || size >= ZA_SENTINEL32 ||
                          (zip64Mode != zmDisabled && MaxStoredSize(size, deflate, encryptionOverhead) >= ZA_SENTINEL32);
  if (zip64Local || cd.relOffsetLH == ZA_SENTINEL32) item.bHugeFile = true;
  if (item.bHugeFile && zip64Mode == zmDisabled)
    throw EZAException(kZip64Disabled, FArc.FName, {item.SrcFileName.empty() ? item.Name : item.SrcFileName});

  const uint16_t version = item.bHugeFile ? (nonZip ? ZA_VERSION_ZIP64_NZ : ZA_VERSION_ZIP64)
                           : nonZip       ? ZA_VERSION_NZ
                           : FArc.FOptions.OEMFileNames() ? ZA_VERSION_OEM
                                                          : ZA_VERSION_ANSI;
  cd.signature = nonZip ? ZA_SIG_CENTRAL_DIR_NZ : ZA_SIG_CENTRAL_DIR;
  cd.versionMadeBy = cd.extractVersion = version;
  if (host >= 0) cd.versionMadeBy = static_cast<uint16_t>((host << 8) | (version & 0xFF));
  uint16_t flags = cd.genPurposeFlag & static_cast<uint16_t>(~(ZA_FLAG_ENCRYPTED | ZA_FLAG_DATA_DESCRIPTOR | kFlagStrongEncryption));
  if (encrypted) flags |= ZA_FLAG_ENCRYPTED;
  cd.genPurposeFlag = flags;
  if (folder || !source) {
    cd.compMethod = ZA_METHOD_STORED;
    item.CompressionMethod = ZA_METHOD_STORED;
    cd.crc32 = 0;
    cd.compSize = cd.unCompSize = 0;
  } else {
    cd.compMethod = aesBits > 0 ? ZA_METHOD_AES : deflate ? ZA_METHOD_DEFLATE : ZA_METHOD_STORED;
  }

  TZALocalFileHeader lh;
  lh.signature = nonZip ? ZA_SIG_LOCAL_HEADER_NZ : ZA_SIG_LOCAL_HEADER;
  const auto prefix = [&](uint64_t uncomp, uint64_t comp) {
    ZASetLocalFromCentral(lh, cd, comp, uncomp);
    std::string extra;
    if (zip64Local) {
      lh.compSize = lh.unCompSize = ZA_SENTINEL32;
      extra = ZALocalZip64Field(uncomp, comp);
    }
    extra += ExtraBytes(item.ExtraFields);
    if (extra.size() > 0xFFFF) throw EZAException(ZA_ERR_STREAM_WRITE, FArc.FName);
    lh.nameLength = static_cast<uint16_t>(item.StoredName->size());
    lh.extraLength = static_cast<uint16_t>(extra.size());
    return ZALocalPrefix(lh, *item.StoredName, extra);
  };

  // Every later step may be retried: the header goes first with the sizes
  // unknown, then the data, then the header again with the sizes.
  const std::string first = prefix(size, 0);
  if (!Write(first.data(), static_cast<int64_t>(first.size()))) return;
  if (source && !FArc.CompressItem(*source, *FOut, item)) return;

  const uint64_t comp = item.CompressedSize(), uncomp = item.UncompressedSize();
  if (!zip64Local && (comp >= ZA_SENTINEL32 || uncomp >= ZA_SENTINEL32))
    throw EZAException(kZip64Disabled, FArc.FName, {item.SrcFileName.empty() ? item.Name : item.SrcFileName});
  if (zip64Local) item.bHugeFile = true;
  const std::string final = prefix(uncomp, comp);
  if (final.size() != first.size()) throw EZAException(ZA_ERR_STREAM_WRITE, FArc.FName);
  FHeaderLen = static_cast<int64_t>(final.size());
  const int64_t end = FOut->Position();
  FOut->SetPosition(start);
  FOut->WriteBuffer(final.data(), static_cast<int64_t>(final.size()));
  FOut->SetPosition(end);
}

// --- Items of a volume set ------------------------------------------------------------

void TZACommit::OpenItemTemp() {
  DropItemTemp();
  // Split volumes lie on a fixed disk: the item is staged beside them.
  // Spanned ones go to removable disks, whose room is the volumes'.
  std::string dir = FArc.FTempDir;
  if (dir.empty())
    dir = FArc.FSpanningMode == smSplitting ? ZAExtractFilePath(FArc.FFileName)
                                            : platform::SystemTempDir();
  FItemTemp = CreateTempFile(dir, FItemTempName);
  FOut = FItemTemp.get();
  FCopyVolume = -1;
}

void TZACommit::DropItemTemp() noexcept {
  if (FOut == FItemTemp.get()) FOut = nullptr;
  FItemTemp.reset();
  if (!FItemTempName.empty()) platform::DeleteFile(FItemTempName);
  FItemTempName.clear();
}

bool TZACommit::CopySpannedItem(TDirItem& item) {
  TZAVolumeSet& volumes = *FArc.FVolumes;
  platform::TMemoryStream* buffer = FFirstVolumeBuffer.get();
  FCopyVolume = volumes.CurrentVolumeNumber();
  FCopyStart = Archive().Size();
  FCopyBuffered = buffer ? buffer->Size() : 0;
  FItemTemp->SetPosition(0);
  // The local header whole in one volume: the entry names that volume and
  // the header's place in it.
  volumes.CopyToVolumes(*FItemTemp, FHeaderLen, false, buffer, 0);
  const int volume = volumes.CurrentVolumeNumber();
  const uint64_t offset = static_cast<uint64_t>(volumes.WritePosition(buffer) - FHeaderLen);
  const TZip64Mode zip64Mode = FArc.FZip64Mode;
  if (zip64Mode == zmDisabled && (offset >= ZA_SENTINEL32 || volume >= ZA_SENTINEL16))
    throw EZAException(kZip64Disabled, FArc.FName, {item.SrcFileName.empty() ? item.Name : item.SrcFileName});
  TZAZipCentralDir& cd = item.CentralDir;
  item.SetLocalHeaderOffset(offset);
  if (zip64Mode == zmAlways && cd.relOffsetLH != ZA_SENTINEL32) {
    item.Zip64ExtInfo.relOffsetLH = offset;
    cd.relOffsetLH = ZA_SENTINEL32;
    item.bHugeFile = true;
  }
  if (volume < ZA_SENTINEL16) {
    cd.diskNumberStart = static_cast<uint16_t>(volume);
  } else {
    cd.diskNumberStart = ZA_SENTINEL16;
    item.Zip64ExtInfo.diskNumberStart = static_cast<uint32_t>(volume);
    item.bHugeFile = true;
  }
  return volumes.CopyToVolumes(*FItemTemp, -1, true, buffer, -1);
}

void TZACommit::UndoSpannedCopy() noexcept {
  // Still in the volume where the copy began: the bytes it left go.
  if (FCopyVolume < 0 || !FArc.FCompressedStream) return;
  if (FArc.FVolumes->CurrentVolumeNumber() != FCopyVolume) return;
  try {
    Archive().SetSize(FCopyStart);
    Archive().SetPosition(FCopyStart);
    if (FFirstVolumeBuffer) FFirstVolumeBuffer->SetSize(FCopyBuffered);
  } catch (const std::exception&) {
    // Unreferenced bytes in a volume harm nobody.
  }
  FCopyVolume = -1;
}

// --- Sources of moved items --------------------------------------------------------------

// Deletes the sources of moved items, files first, then their folders.
// False when the user aborted (FAbortError holds why).
bool TZACommit::RemoveMovedSources() {
  if (!FHasMoves) return true;
  TZADirArray& dir = FDM.CDir;
  for (const bool folders : {false, true}) {
    for (int i = 0; i < dir.Count(); ++i) {
      const TDirItem& item = dir[i];
      if (!item.Modified || item.Operation != poMove || item.IsDirectory() != folders || item.SrcFileName.empty())
        continue;
      for (;;) {
        FAction = fxaIgnore;
        try {
          const std::string& src = item.SrcFileName;
          if (folders) {
            if (ZADirectoryExists(src) && !ZARemoveEmptyDirTree(src))
              throw EZAException(ZA_ERR_CANNOT_DELETE_FOLDER, FArc.FName, {src});
          } else if (ZAFileGetAttr(src) >= 0 && !ZADeleteFile(src)) {
            // A read-only file goes once its attributes are cleared.
            ZAFileSetAttr(src, 0);
            if (!ZADeleteFile(src)) throw EZAException(ZA_ERR_CANNOT_DELETE_FILE, FArc.FName, {src});
          }
          break;
        } catch (const EZAException& e) {
          FArc.DoOnProcessFileFailure(item.SrcFileName, item.Operation, e.NativeError, e.ErrorCode, e.what(), FAction);
          if (FAction == fxaRetry) continue;
          if (FAction == fxaAbort) {
            FAbortError = e;
            return false;
          }
          break;
        }
      }
    }
  }
  return true;
}

}  // namespace archiver
