// Adding items: the disk scan behind AddFiles and MoveFiles, items made from
// a caller's stream, buffer or string, and the update step of UpdateFiles.
//
// Everything here only fills directory entries in memory (Modified, with an
// Operation and a source: SrcFileName or Stream); the commit of the
// transaction (ZACommit.cpp) reads the sources and writes the archive.
//
// Relies on: the directory's name index, the platform's folder search
// (ZAFindFirst: regular files and folders, links followed), the stored-path
// and stored-name rules (ZAPaths.h), the component's events.
//
// Promises:
//  - a name the archive holds already is replaced (or kept) only when the
//    names are equal byte for byte: two files whose names differ in case are
//    two items, never one silently replacing the other;
//  - the scan never takes the archive being written (nor its current
//    volume), whatever path or link leads to it, and never enters a folder
//    it is already inside, so links that form a circle end;
//  - a failed add from a stream leaves nothing queued: a new item goes, an
//    item it replaced comes back, and the transaction it opened ends;
//  - names are checked against the format's 16-bit length when they are
//    queued, not when the commit is half way through.
#include "archiver/ZAAdd.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "archiver/ZAExcept.h"
#include "archiver/ZAExtract.h"
#include "archiver/ZAPaths.h"
#include "archiver/ZipArchiver.h"
#include "platform/FileAttributes.h"
#include "platform/Files.h"
#include "platform/Streams.h"

namespace archiver {

namespace {

constexpr int kFolderAttr = 0x10;
// Attributes that, all present in the search set, also take files that carry
// no attribute at all.
constexpr int kPlainFileAttrs = 0x27;
// Piece size of copying a caller's stream into an item's own buffer.
constexpr int64_t kCopyPiece = 10000;

std::string Slashes(const std::string& s) { return ZAStringReplace(s, "\\", "/", rfReplaceAll); }

bool HasWildcards(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

bool Match(const std::string& name, const std::string& mask) { return ZAMatchesMask(name, mask, true); }

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && ZALowerCase(s.substr(0, prefix.size())) == ZALowerCase(prefix);
}

std::optional<platform::TFileId> IdOf(const std::string& path) {
  platform::TFileInfo info;
  if (!platform::GetFileInfo(path, info)) return std::nullopt;
  return info.id;
}

// Puts the uncompressed size into the entry, zip64 when it needs to be.
void SetSourceSize(TDirItem& item, uint64_t size, bool zip64Always) {
  if (size < ZA_SENTINEL32 && !zip64Always) {
    item.CentralDir.unCompSize = static_cast<uint32_t>(size);
    return;
  }
  item.bHugeFile = true;
  item.CentralDir.unCompSize = ZA_SENTINEL32;
  item.Zip64ExtInfo.uncompSize = size;
}

// Puts the caller's stream position back on every exit.
class TKeepPosition {
 public:
  explicit TKeepPosition(platform::TStream& s) : s_(s), pos_(s.Position()) {}
  ~TKeepPosition() {
    try {
      s_.SetPosition(pos_);
    } catch (...) {
    }
  }
  TKeepPosition(const TKeepPosition&) = delete;
  TKeepPosition& operator=(const TKeepPosition&) = delete;

 private:
  platform::TStream& s_;
  int64_t pos_;
};

}  // namespace

// --- Disk masks ------------------------------------------------------------------------

TZADiskMask ZAResolveDiskMask(const std::string& mask, const std::string& base) {
  const std::string m = Slashes(mask);
  const std::string b = ZAIncludeTrailingBackslash(base);
  if (!m.empty() && m[0] == '/') return {ZAExpandFileName(m), false};
  if (m.rfind("./", 0) == 0) return {ZAExpandFileName(b + m.substr(2)), false};
  const bool climbs = m == ".." || m.rfind("../", 0) == 0 || m.find("/../") != std::string::npos ||
                      (m.size() >= 3 && m.compare(m.size() - 3, 3, "/..") == 0);
  if (climbs) return {ZAExpandFileName(m, b), false};
  return {ZAExpandFileName(b + m), true};
}

bool ZAMatchDiskName(const std::string& path, const std::string& mask, bool isFolder, const std::string& base) {
  if (mask == "*.*") return true;
  std::string m = Slashes(mask);
  // A bare name matches at any depth; anything with a '/' (a folder mask
  // "tmp/" included) names a place.
  const bool bareName = m.find('/') == std::string::npos;
  if (!m.empty() && m.back() == '/') {
    if (!isFolder) return false;
    m.pop_back();
  }
  if (m.empty()) return false;
  const std::string p = ZAExcludeTrailingBackslash(path);
  const std::string b = ZAIncludeTrailingBackslash(ZAExpandFileName(base));
  const TZADiskMask r = ZAResolveDiskMask(m, b);
  const std::string full = ZAExcludeTrailingBackslash(r.Full);
  if (r.Relative) {
    if (bareName) return Match(ZAExtractFileName(p), m);
    const std::string rel = p.rfind(b, 0) == 0 ? p.substr(b.size()) : p;
    const std::string relMask = full.rfind(b, 0) == 0 ? full.substr(b.size()) : m;
    return Match(rel, relMask);
  }
  const std::string maskFolder = ZAExtractFilePath(full);
  if (ZAExtractFileName(full) == "*.*" && p.size() > maskFolder.size() && StartsWithNoCase(p, maskFolder))
    return true;
  return ZALowerCase(ZAExtractFilePath(p)) == ZALowerCase(maskFolder) && Match(p, full);
}

// --- The item maker ----------------------------------------------------------------------

// Makes and replaces directory entries for new items, and runs the disk
// scan. Lives for one operation.
class TZABaseArchiver::TItemAdder {
 public:
  // `base`: the folder disk paths are taken against; empty: BaseDir
  // resolved against the component's working folder.
  explicit TItemAdder(TZABaseArchiver& arc, const std::string& base = {});

  // Where a new item's data comes from.
  struct TSource {
    std::string FileName;  // a disk path, or the name given with a stream
    bool FromDisk = false;
    bool Folder = false;
    int Attr = 0x20;
    uint32_t DosTime = 0;
  };
  // What one AddFileItem changed, so that it can be taken back.
  struct TUndo {
    int Index = -1;
    bool Added = false;
    std::optional<TDirItem> Replaced;
  };

  // AddFiles and MoveFiles: checks, transaction, scan of every mask.
  int AddFromDisk(const std::vector<std::string>& masks, int searchAttr,
                  const std::vector<std::string>& exclusions, bool move);
  // AddFromStream and its buffer and string forms. `stream` is the caller's
  // (held with a no-op deleter) or one made for the item (`owned`).
  bool AddFromStream(const std::string& fileName, const std::shared_ptr<platform::TStream>& stream,
                     bool owned, bool copyToBuffer, int64_t position, int64_t count, int attr,
                     std::time_t dateTime);
  // The update step: item `index` is read again from `diskFile`.
  void QueueUpdate(int index, const std::string& diskFile, int attr, uint32_t dosTime, uint64_t size);

 private:
  int AddFileItem(const TSource& src, TUndo* undo);
  void Undo(const TUndo& undo);
  TDirItem NewItem(const TSource& src, const std::string& name, int attr, const AnsiString& comment);
  std::string StoredNameOf(const TSource& src) const;

  void Scan(const std::string& mask);
  void ScanFolder(const std::string& folder, const std::string& nameMask, bool descend);
  // One entry of a folder listing.
  struct TEntry {
    std::string Name;
    int Attr = 0;
    uint32_t Time = 0;  // DOS date-time
    int64_t Size = 0;
  };
  bool Excluded(const std::string& path, bool isFolder) const;
  bool IsTheArchive(const std::string& path, int64_t size) const;
  // What became of an entry handed to AddFoundEntry.
  enum class TFound {
    Added,
    Refused,  // by the caller's OnConfirmProcessFile
    Passed    // excluded, the archive itself, or kept out by an existing item
  };
  TFound AddFoundEntry(const std::string& folder, const TEntry& entry);

  TZABaseArchiver& a_;
  TZADirArray& dir_;
  std::string base_;  // full path, trailing '/'

  // The scan in progress.
  int searchAttr_ = 0;
  bool recurse_ = true;
  bool move_ = false;
  std::vector<std::string> exclusions_;
  std::vector<platform::TFileId> inside_;      // the folders the scan is inside
  std::vector<platform::TFileId> archiveIds_;  // the archive file and its volume
  int64_t archiveSize_ = -1;
  int added_ = 0;
};

TZABaseArchiver::TItemAdder::TItemAdder(TZABaseArchiver& arc, const std::string& base)
    : a_(arc), dir_(arc.FDMHandle->CDir) {
  if (a_.FCurrentDir.empty()) a_.FCurrentDir = ZAGetCurrentDir();
  const std::string& cur = a_.FCurrentDir;
  const std::string b = !base.empty() ? base : a_.FBaseDir.empty() ? cur : a_.FBaseDir;
  base_ = ZAIncludeTrailingBackslash(ZAExpandFileName(b, cur));
}

std::string TZABaseArchiver::TItemAdder::StoredNameOf(const TSource& src) const {
  std::string name;
  if (src.FromDisk) {
    name = ZAGetStoredPath(src.FileName, base_, a_.FOptions.StorePath(), a_.FCurrentDir);
  } else {
    name = Slashes(src.FileName);
    if (!name.empty() && name.back() == '/') name.pop_back();
    // A stored name never begins at the root: readers would put it there.
    name.erase(0, name.find_first_not_of('/'));
  }
  // A folder item ends in '/' as readers expect, whether it came from disk
  // or from a stream given the folder attribute.
  if (src.Folder && !name.empty() && name.back() != '/') name += '/';
  return name;
}

TDirItem TZABaseArchiver::TItemAdder::NewItem(const TSource& src, const std::string& name, int attr,
                                              const AnsiString& comment) {
  std::string stored;
  try {
    ZANameToStoredAnsi(name, stored, a_.FOptions.OEMFileNames());
  } catch (const EZAException&) {
    throw EZAException(ZA_ERR_FILE_NAME_TOO_LONG, a_.FName, {name});
  }
  if (comment.size() > 0xFFFF) throw EZAException(ZA_ERR_STREAM_WRITE, a_.FName);

  TDirItem item;
  item.Name = name;
  item.Comment = comment;
  item.Modified = true;
  item.Password = a_.FPassword;
  if (src.FromDisk) item.SrcFileName = src.FileName;
  item.CompressionMode = src.Folder ? 0 : static_cast<uint8_t>(a_.FCompressionMode);
  item.CompressionMethod = src.Folder ? ZA_METHOD_STORED : a_.FCompressionMethod;

  TZAZipCentralDir& cd = item.CentralDir;
  const bool nonZip = a_.FDMHandle->IsNonZipFlavour();
  const uint16_t madeBy = a_.FOptions.OEMFileNames() ? ZA_VERSION_OEM : ZA_VERSION_ANSI;
  cd.signature = nonZip ? ZA_SIG_CENTRAL_DIR_NZ : ZA_SIG_CENTRAL_DIR;
  cd.versionMadeBy = madeBy;
  cd.extractVersion = nonZip ? ZA_VERSION_NZ : madeBy;
  cd.compMethod = item.CompressionMethod;
  cd.genPurposeFlag = src.Folder ? 2 : a_.FPassword.empty() ? 0 : ZA_FLAG_ENCRYPTED;
  cd.lastModTime = static_cast<uint16_t>(src.DosTime & 0xFFFF);
  cd.lastModDate = static_cast<uint16_t>(src.DosTime >> 16);
  cd.crc32 = src.Folder ? 0 : 0xFFFFFFFF;
  cd.nameLength = static_cast<uint16_t>(stored.size());
  cd.commentLength = static_cast<uint16_t>(comment.size());
  cd.externalAttr = static_cast<uint32_t>(attr);
  return item;
}

int TZABaseArchiver::TItemAdder::AddFileItem(const TSource& src, TUndo* undo) {
  std::string name = StoredNameOf(src);
  int attr = src.Attr;
  AnsiString comment;
  a_.DoOnStoreFile(name, attr, comment, src.FileName);
  name = Slashes(name);
  if (name.empty() || name == "/") {
    // A handler may leave a disk file out this way; a stream item needs a name.
    if (src.FromDisk) return -1;
    throw EZAException(ZA_ERR_BLANK_FILE_NAME, a_.FName);
  }
  TDirItem item = NewItem(src, name, attr, comment);

  int index = dir_.FindExactName(name);
  const bool added = index < 0;
  if (!added) {
    if (!a_.ConfirmOverwrite(src.FileName, name, src.DosTime, dir_[index].DosDateTime())) return -1;
    item.Operation = poUpdate;
    // The name stays in the form it was stored in.
    item.CentralDir.genPurposeFlag |= dir_[index].CentralDir.genPurposeFlag & ZA_FLAG_UTF8_NAME;
    if (undo) undo->Replaced = dir_[index];
  } else {
    index = dir_.Count();
    dir_.SetCount(index + 1);
    item.Operation = poAdd;
  }
  if (undo) undo->Added = added;
  try {
    dir_.SetItem(index, item);
  } catch (...) {
    if (added) dir_.SetCount(index);
    if (undo) *undo = TUndo();
    throw;
  }
  if (undo) undo->Index = index;
  return index;
}

void TZABaseArchiver::TItemAdder::Undo(const TUndo& undo) {
  if (undo.Index < 0 || undo.Index >= dir_.Count()) return;
  if (undo.Added)
    dir_.DeleteItem(undo.Index);
  else if (undo.Replaced)
    dir_.SetItem(undo.Index, *undo.Replaced);
}

// --- Adding from a stream ---------------------------------------------------------------------

bool TZABaseArchiver::TItemAdder::AddFromStream(const std::string& fileName,
                                                const std::shared_ptr<platform::TStream>& stream, bool owned,
                                                bool copyToBuffer, int64_t position, int64_t count, int attr,
                                                std::time_t dateTime) {
  a_.CheckActive();
  a_.CheckModifySpanning();
  a_.FProgressEnabled = false;
  if (position < 0 || count < 0)
    throw EZAException(ZA_ERR_INDEX_OUT_OF_BOUNDS, a_.FName);
  a_.BeginUpdate();
  const bool outermost = a_.FUpdateCount == 1;
  TUndo undo;
  try {
    TSource src;
    src.FileName = fileName;
    src.Folder = (attr & kFolderAttr) != 0;
    src.Attr = attr;
    src.DosTime = platform::DateTimeToDosDateTime(dateTime == 0 ? std::time(nullptr) : dateTime);
    const int index = AddFileItem(src, &undo);
    if (index >= 0) {
      uint64_t size = 0;
      if (copyToBuffer) {
        auto buffer = std::make_shared<platform::TMemoryStream>();
        {
          TKeepPosition keep(*stream);
          const int64_t from = count > 0 ? position : 0;
          const int64_t total = count > 0 ? count : stream->Size();
          stream->SetPosition(from);
          std::vector<uint8_t> piece(static_cast<size_t>(std::min(kCopyPiece, std::max<int64_t>(total, 1))));
          for (int64_t done = 0; done < total;) {
            const int64_t n = std::min<int64_t>(kCopyPiece, total - done);
            stream->ReadBuffer(piece.data(), n);  // fewer bytes there: EStreamError
            buffer->WriteBuffer(piece.data(), n);
            done += n;
          }
        }
        size = static_cast<uint64_t>(buffer->Size());
        TDirItem& item = dir_[index];
        item.Stream = std::move(buffer);
        item.bDestroyStream = true;
      } else {
        TDirItem& item = dir_[index];
        item.Stream = stream;
        item.bDestroyStream = owned;
        item.Position = position;
        item.Count = count;
        size = static_cast<uint64_t>(count > 0 ? count : stream->Size());
      }
      SetSourceSize(dir_[index], size, a_.FZip64Mode == zmAlways);
    }
  } catch (...) {
    Undo(undo);
    // The transaction this call opened ends with it; the caller's goes on
    // without the failed item.
    if (outermost)
      a_.CancelUpdate();
    else
      --a_.FUpdateCount;
    throw;
  }
  a_.EndUpdate();
  return undo.Index >= 0;
}

// --- The disk scan ----------------------------------------------------------------------------

int TZABaseArchiver::TItemAdder::AddFromDisk(const std::vector<std::string>& masks, int searchAttr,
                                             const std::vector<std::string>& exclusions, bool move) {
  a_.CheckActive();
  a_.CheckModifySpanning();
  a_.BeginUpdate();
  try {
    TZALockGuard lock;
    // The working folder is the base folder for the length of the scan.
    const std::string savedDir = a_.FCurrentDir;
    struct TRestore {
      std::string& dir;
      std::string saved;
      ~TRestore() { dir = saved; }
    } restore{a_.FCurrentDir, savedDir};
    a_.FCurrentDir = base_;

    searchAttr_ = searchAttr;
    recurse_ = a_.FOptions.Recurse();
    move_ = move;
    exclusions_.clear();
    for (const std::string& x : exclusions)
      if (!x.empty()) exclusions_.push_back(x);
    // The archive itself is known by its file, not by a path a mask could
    // miss (links, "..", letter case) or over-match (wildcard characters).
    archiveIds_.clear();
    archiveSize_ = -1;
    if (!a_.FInMemory && a_.FCompressedStream) {
      archiveSize_ = a_.FCompressedStream->Size();
      if (auto* h = dynamic_cast<platform::THandleStream*>(a_.FCompressedStream)) {
        try {
          archiveIds_.push_back(h->File().Id());
        } catch (const platform::EFileError&) {
          // Known by its names below.
        }
      }
      for (const std::string& f : {a_.FFileName, a_.VolumeFileName})
        if (!f.empty() && !a_.FIsCustomStream)
          if (auto id = IdOf(ZAExpandFileName(f, savedDir))) archiveIds_.push_back(*id);
    }
    added_ = 0;
    for (const std::string& mask : masks)
      if (!mask.empty()) Scan(mask);
  } catch (...) {
    a_.CancelUpdate();
    throw;
  }
  a_.EndUpdate();
  return added_;
}

void TZABaseArchiver::TItemAdder::Scan(const std::string& mask) {
  const TZADiskMask r = ZAResolveDiskMask(mask, base_);
  const std::string& full = r.Full;
  const std::string folder = ZAExtractFilePath(full);
  const std::string name = ZAExtractFileName(full);
  if (name.empty()) return;
  const std::string m = Slashes(mask);
  if (!m.empty() && m[0] == '/' && !HasWildcards(full)) {
    // One file (or folder) named by its full path.
    TZASearchRec rec;
    if (ZAFindFirst(full, searchAttr_, rec)) AddFoundEntry(folder, {rec.Name, rec.Attr, rec.Time, rec.Size});
    ZAFindClose(rec);
    return;
  }
  // A mask with a folder part goes down into sub-folders only with wildcards.
  const bool descend = m.find('/') == std::string::npos || HasWildcards(m);
  inside_.clear();
  if (auto id = IdOf(folder)) inside_.push_back(*id);
  ScanFolder(folder, name, descend);
}

void TZABaseArchiver::TItemAdder::ScanFolder(const std::string& folder, const std::string& nameMask,
                                             bool descend) {
  const int fileAttr = searchAttr_ & ~kFolderAttr;
  const bool folders = (searchAttr_ & kFolderAttr) != 0 || recurse_;
  const bool wild = HasWildcards(nameMask);
  const auto takesFile = [&](const TZASearchRec& e) {
    if (e.Attr & kFolderAttr) return false;
    return (e.Attr & fileAttr) != 0 || (e.Attr == 0 && (fileAttr & kPlainFileAttrs) == kPlainFileAttrs);
  };

  // Files first, then the sub-folders, each in name order. One listing
  // serves both when the mask has wildcards.
  std::vector<TEntry> subFolders;
  TZASearchRec rec;
  if (wild) {
    for (bool ok = ZAFindFirst(folder + "*", fileAttr | (folders ? kFolderAttr : 0), rec); ok; ok = ZAFindNext(rec)) {
      if (rec.Attr & kFolderAttr)
        subFolders.push_back({rec.Name, rec.Attr, rec.Time, 0});
      else if (Match(rec.Name, nameMask) && takesFile(rec))
        AddFoundEntry(folder, {rec.Name, rec.Attr, rec.Time, rec.Size});
    }
  } else {
    for (bool ok = ZAFindFirst(folder + nameMask, fileAttr, rec); ok; ok = ZAFindNext(rec))
      if (takesFile(rec)) AddFoundEntry(folder, {rec.Name, rec.Attr, rec.Time, rec.Size});
    if (folders)
      for (bool ok = ZAFindFirst(folder + "*", kFolderAttr | 0x06, rec); ok; ok = ZAFindNext(rec))
        if (rec.Attr & kFolderAttr) subFolders.push_back({rec.Name, rec.Attr, rec.Time, 0});
  }
  ZAFindClose(rec);
  if (!folders) return;

  const std::string fullMask = folder + nameMask;
  for (const TEntry& sub : subFolders) {
    const std::string path = folder + sub.Name;
    if (Excluded(path, true)) continue;
    const std::optional<platform::TFileId> id = IdOf(path);
    if (!id || std::find(inside_.begin(), inside_.end(), *id) != inside_.end()) continue;  // a circle
    const TFound found = (searchAttr_ & kFolderAttr) && (Match(path, fullMask) || Match(path + ".", fullMask))
                             ? AddFoundEntry(folder, sub)
                             : TFound::Passed;
    // A folder added as an item is gone into whatever Recurse says; one
    // kept out of the archive by an existing item of its name still holds
    // files the user asked for; one the caller refused is left out with
    // everything below it.
    if (found == TFound::Refused) continue;
    if (found != TFound::Added && !(recurse_ && descend)) continue;
    inside_.push_back(*id);
    ScanFolder(path + "/", nameMask, descend);
    inside_.pop_back();
  }
}

bool TZABaseArchiver::TItemAdder::Excluded(const std::string& path, bool isFolder) const {
  return std::any_of(exclusions_.begin(), exclusions_.end(),
                     [&](const std::string& x) { return ZAMatchDiskName(path, x, isFolder, base_); });
}

bool TZABaseArchiver::TItemAdder::IsTheArchive(const std::string& path, int64_t size) const {
  // Only a file of the archive's size can be it: one stat for those alone.
  if (archiveIds_.empty() || size != archiveSize_) return false;
  const std::optional<platform::TFileId> id = IdOf(path);
  return id && std::find(archiveIds_.begin(), archiveIds_.end(), *id) != archiveIds_.end();
}

TZABaseArchiver::TItemAdder::TFound TZABaseArchiver::TItemAdder::AddFoundEntry(const std::string& folder,
                                                                              const TEntry& entry) {
  const std::string path = folder + entry.Name;
  const bool isFolder = (entry.Attr & kFolderAttr) != 0;
  if (Excluded(path, isFolder)) return TFound::Passed;
  if (!isFolder && IsTheArchive(path, entry.Size)) return TFound::Passed;

  bool confirm = true;
  a_.DoOnConfirmProcessFile(path, move_ ? poMove : poAdd, confirm);
  if (!confirm) return TFound::Refused;
  TSource src;
  src.FileName = path;
  src.FromDisk = true;
  src.Folder = isFolder;
  src.Attr = entry.Attr;
  src.DosTime = entry.Time;
  const int index = AddFileItem(src, nullptr);
  if (index < 0) return TFound::Passed;

  TDirItem& item = dir_[index];
  if (move_) item.Operation = poMove;
  if (!isFolder && std::any_of(a_.FNoCompressionMasks.begin(), a_.FNoCompressionMasks.end(),
                               [&](const std::string& m) { return ZAMatchDiskName(path, m, false, base_); })) {
    item.CompressionMode = 0;
    const uint16_t method = a_.FCompressionMethod == ZA_METHOD_STORED || a_.FCompressionMethod == ZA_METHOD_DEFLATE
                                ? ZA_METHOD_STORED
                                : 255;
    item.CompressionMethod = item.CentralDir.compMethod = method;
  }
  if (!isFolder) SetSourceSize(item, static_cast<uint64_t>(entry.Size), a_.FZip64Mode == zmAlways);
  ++added_;
  return TFound::Added;
}

// --- The update step --------------------------------------------------------------------------

void TZABaseArchiver::TItemAdder::QueueUpdate(int index, const std::string& diskFile, int attr, uint32_t dosTime,
                                              uint64_t size) {
  TSource src;
  src.FileName = diskFile;
  src.FromDisk = true;
  src.Attr = attr;
  src.DosTime = dosTime;
  // The item keeps its name and comment: only its data and what the file
  // says of itself change.
  const TDirItem& old = dir_[index];
  TDirItem item = NewItem(src, old.Name, attr, old.Comment);
  item.CentralDir.genPurposeFlag |= old.CentralDir.genPurposeFlag & ZA_FLAG_UTF8_NAME;
  item.Operation = poUpdate;
  SetSourceSize(item, size, a_.FZip64Mode == zmAlways);
  dir_.SetItem(index, item);
}

bool TZABaseArchiver::UpdateTaggedItem(int Index, const std::string& Name, const std::string& DestBase) {
  TZADirArray& dir = FDMHandle->CDir;
  if (Index < 0 || Index >= dir.Count()) throw EZAException(24, FName);
  if (dir[Index].IsDirectory() || (!Name.empty() && Name.back() == '/')) return false;
  // A name from the archive never leads the update outside the base folder.
  const std::string rel = ZASafeRelativePath(Name);
  if (rel.empty()) return false;
  const std::string diskFile = ZAIncludeTrailingBackslash(DestBase) + rel;
  platform::TFileInfo st;
  if (!platform::GetFileInfo(diskFile, st) || !S_ISREG(st.mode)) return false;
  if (!FOptions.ReplaceReadOnly() && (dir[Index].CentralDir.externalAttr & platform::faReadOnly)) return false;

  const uint32_t diskTime = platform::DateTimeToDosDateTime(st.mtime);
  if (!ConfirmOverwrite(diskFile, Name, diskTime, dir[Index].DosDateTime())) return false;
  if (FUpdateCount <= 0) throw EZAException(25, FName);
  const int attr = ZAFileGetAttr(diskFile);
  TItemAdder(*this, DestBase).QueueUpdate(Index, diskFile, attr < 0 ? 0x20 : attr, diskTime,
                                          static_cast<uint64_t>(st.size));
  // Tells UpdateFiles this item now holds new data.
  dir[Index].Tagged = false;
  return true;
}

// --- The public operations --------------------------------------------------------------------

int TZABaseArchiver::AddFiles(const std::string& FileMask, int SearchAttr, const std::string& ExclusionMask) {
  CheckActive();
  return TItemAdder(*this).AddFromDisk({FileMask}, SearchAttr, {ExclusionMask}, false);
}

int TZABaseArchiver::AddFiles() {
  CheckActive();
  return TItemAdder(*this).AddFromDisk(FFileMasks, FOptions.SearchAttr(), FExclusionMasks, false);
}

int TZABaseArchiver::MoveFiles(const std::string& FileMask, int SearchAttr, const std::string& ExclusionMask) {
  CheckActive();
  return TItemAdder(*this).AddFromDisk({FileMask}, SearchAttr, {ExclusionMask}, true);
}

int TZABaseArchiver::MoveFiles() {
  CheckActive();
  return TItemAdder(*this).AddFromDisk(FFileMasks, FOptions.SearchAttr(), FExclusionMasks, true);
}

bool TZABaseArchiver::AddFromStream(const std::string& FileName, platform::TStream& Stream, bool CopyToBuffer,
                                    int64_t Position, int64_t Count, int Attr, std::time_t DateTime) {
  CheckActive();
  // Borrowed: the caller's stream is never freed here.
  const std::shared_ptr<platform::TStream> borrowed(&Stream, [](platform::TStream*) {});
  return TItemAdder(*this).AddFromStream(FileName, borrowed, false, CopyToBuffer, Position, Count, Attr, DateTime);
}

bool TZABaseArchiver::AddFromBuffer(const std::string& FileName, const void* Buffer, int64_t Count, int Attr,
                                    std::time_t DateTime) {
  CheckActive();
  if (Count < 0 || (Count > 0 && !Buffer)) throw EZAException(ZA_ERR_INDEX_OUT_OF_BOUNDS, FName);
  auto stream = std::make_shared<platform::TMemoryStream>();
  if (Count > 0) stream->WriteBuffer(Buffer, Count);
  return TItemAdder(*this).AddFromStream(FileName, stream, true, false, 0, 0, Attr, DateTime);
}

bool TZABaseArchiver::AddFromString(const std::string& FileName, const AnsiString& Text, int Attr,
                                    std::time_t DateTime) {
  CheckActive();
  auto stream = std::make_shared<platform::TStringStream>(Text);
  return TItemAdder(*this).AddFromStream(FileName, stream, true, false, 0, 0, Attr, DateTime);
}

}  // namespace archiver
