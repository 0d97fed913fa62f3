// The index framework's files: the tags of a file, page reads and writes
// (scrambled with the table's password), opening, locking, renaming and
// flushing the file, and the block cache (index_framework.h).
#include "xbase/index/index_framework.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "xbase/base/errors.h"
#include "xbase/base/replace_files.h"
#include "xbase/base/scrambling.h"

namespace xbase {

namespace {

// Index bytes are scrambled in 512-byte pieces, whatever the page size, so
// that a file reads the same whichever size it is read in.
void Scramble(const AnsiString& password, const uint8_t* from, uint8_t* to, int size, bool encrypt) {
  if (password.empty()) return;
  for (int at = 0; at < size; at += 512)
    CryptBuffer(password, from + at, to + at, static_cast<size_t>(std::min(512, size - at)), encrypt);
}

}  // namespace

XBobjIndexOwner::~XBobjIndexOwner() = default;

bool XBobjIndexOwner::IndexFieldSize(std::string_view, int&, int&) const { return false; }

// ---------------------------------------------------------------------------
// The file

XBobjIndexFile::XBobjIndexFile(XBobjIndexOwner* PDB) : Owner_(PDB) {
  Exact_ = PDB == nullptr || PDB->IndexExactMatch();
  Regions_ = XBLockRegionsOf(dfLockStyle_);
}

XBobjIndexFile::~XBobjIndexFile() {
  WriteOutOnDestroy();
  TagList_.FreeAll();
  Pool_.clear();
}

void XBobjIndexFile::WriteOutOnDestroy() {
  try {
    if (DiskFile_ && DiskFile_->FileFound()) {
      for (int i = 0; i < TagList_.Count(); ++i) TagList_[i]->TagClose();
      WriteBackAll();
    }
  } catch (...) {
    // Destruction cannot report; CloseFile raises these.
  }
}

int XBobjIndexFile::TakeAvail(int step, int limit) {
  if (NextAvail_ == -1) ResetAvailPage();
  if (NextAvail_ > limit - step) XBRaise(xbmFileSizeError, {GetFileName()});
  const int at = NextAvail_;
  NextAvail_ += step;
  HighWater_ = std::max(HighWater_, NextAvail_);
  return at;
}

XBobjIndexTag* XBobjIndexFile::AddLoadedTag(std::unique_ptr<XBobjIndexTag> tag) {
  XBobjIndexTag* added = TagList_.Add(std::move(tag));
  added->TagLoad();
  return added;
}

XBobjIndexTag* XBobjIndexFile::ReplaceOnlyTag(std::unique_ptr<XBobjIndexTag> tag) {
  if (XBobjIndexTag* old = TagByNumber(0)) old->TagClose();
  DiscardCache();
  TagList_.FreeAll();
  NextAvail_ = 0;
  HighWater_ = 0;
  return TagList_.Add(std::move(tag));
}

bool XBobjIndexFile::AddTag(const AnsiString&, const AnsiString&, const AnsiString&, bool, bool) { return false; }

bool XBobjIndexFile::DeleteTag(const AnsiString&) { return false; }

int XBobjIndexFile::GetAvailPage() { return -1; }

void XBobjIndexFile::ResetAvailPage() { NextAvail_ = -1; }

void XBobjIndexFile::Reindex() {}

bool XBobjIndexFile::ExternalChange() { return false; }

bool XBobjIndexFile::TagUpdate(int AKey, bool IsAppend) {
  NextAvail_ = -1;
  bool changed = false;
  for (int i = 0; i < TagList_.Count(); ++i) changed = TagList_[i]->KeyUpdate(AKey, IsAppend) || changed;
  return changed;
}

void XBobjIndexFile::ixEncrypt() {
  if (!DiskFile_ || !DiskFile_->FileFound()) return;
  for (int i = 0; i < TagList_.Count(); ++i) TagList_[i]->TagClose();
  // Blocks the cache has not written yet go out as the file holds the
  // others: under the read password.
  for (size_t slot = 0; slot < Slots_.size(); ++slot)
    if (Slots_[slot].dirty)
      DiskWrite(Slots_[slot].index * CachePage_, SlotBytes(static_cast<int>(slot)), CachePage_, PasswordIn());
  DiscardCache();
  const int64_t blocks = DiskFile_->xbFileSize() / 512;
  uint8_t block[512];
  for (int64_t b = 0; b < blocks; ++b) {
    if (!DiskRead(b * 512, block, 512)) RaiseCorrupted();
    DiskWrite(b * 512, block, 512);
  }
}

void XBobjIndexFile::ixSetLockProtocol(XBsetLokProtocol LokProtocol) {
  dfLockStyle_ = LokProtocol;
  Regions_ = XBLockRegionsOf(LokProtocol);
}

bool XBobjIndexFile::PageRead(int64_t Blok, uint8_t* Page, int Size) {
  if (!DiskFile_ || !DiskFile_->FileFound() || Blok < 0 || Size < 0) return false;
  if (!Cacheable(Blok, Size)) {
    Uncache(Blok, Size);
    return DiskRead(Blok, Page, Size);
  }
  const uint8_t* bytes = PageView(Blok, Size);
  if (!bytes) return false;
  std::memcpy(Page, bytes, static_cast<size_t>(Size));
  return true;
}

const uint8_t* XBobjIndexFile::PageView(int64_t Blok, int Size) {
  if (!DiskFile_ || !DiskFile_->FileFound() || Blok < 0 || Size < 0) return nullptr;
  if (!Cacheable(Blok, Size)) {
    Uncache(Blok, Size);
    ++Views_;
    LastView_ = -1;
    ViewBuf_.resize(static_cast<size_t>(Size));
    return DiskRead(Blok, ViewBuf_.data(), Size) ? ViewBuf_.data() : nullptr;
  }
  const int64_t index = Blok / CachePage_;
  int slot = FindSlot(index);
  if (slot < 0) {
    // Read before a slot is taken: a damaged page number far past the end
    // of the file must not size the cache's map of pages.
    const int pages = Walking_ ? ReadAheadPages(index) : 1;
    MissBuf_.resize(static_cast<size_t>(pages) * static_cast<size_t>(Size));
    const int got = DiskReadPages(Blok, MissBuf_.data(), pages);
    if (got < 1) return nullptr;
    slot = TakeSlot(index);
    std::memcpy(SlotBytes(slot), MissBuf_.data(), static_cast<size_t>(Size));
    // The blocks read with it wait their turn unreferenced: a seek that
    // needed none of them loses nothing of what it used before.
    for (int k = 1; k < got; ++k) {
      const int ahead = TakeSlot(index + k);
      Slots_[static_cast<size_t>(ahead)].referenced = false;
      std::memcpy(SlotBytes(ahead), MissBuf_.data() + static_cast<size_t>(k) * static_cast<size_t>(Size),
                  static_cast<size_t>(Size));
    }
  }
  Slots_[static_cast<size_t>(slot)].referenced = true;
  ++Views_;
  LastView_ = slot;
  return SlotBytes(slot);
}

bool XBobjIndexFile::PageWrite(int64_t Blok, const uint8_t* Page, int Size) {
  if (!DiskFile_ || !DiskFile_->FileFound() || Blok < 0 || Size < 0) return false;
  if (!Cacheable(Blok, Size)) {
    Uncache(Blok, Size);
    return DiskWrite(Blok, Page, Size);
  }
  const int64_t index = Blok / CachePage_;
  int slot = FindSlot(index);
  if (slot < 0) slot = TakeSlot(index);
  CacheSlot& s = Slots_[static_cast<size_t>(slot)];
  s.referenced = s.dirty = true;
  s.stamp = NextStamp_++;
  std::memcpy(SlotBytes(slot), Page, static_cast<size_t>(Size));
  CacheEnd_ = std::max(CacheEnd_, Blok + Size);
  return true;
}

const AnsiString& XBobjIndexFile::PasswordIn() const {
  static const AnsiString none;
  return Owner_ ? Owner_->IndexPasswordIn() : none;
}

const AnsiString& XBobjIndexFile::PasswordOut() const {
  static const AnsiString none;
  return Owner_ ? Owner_->IndexPasswordOut() : none;
}

bool XBobjIndexFile::DiskRead(int64_t Blok, uint8_t* Page, int Size) {
  if (DiskFile_->xbRead(Blok, Page, Size) != Size) return false;
  Scramble(PasswordIn(), Page, Page, Size, false);
  return true;
}

int XBobjIndexFile::ReadAheadPages(int64_t index) const {
  // A walk in key order reads the pages of a bulk-built index in file
  // order: a miss takes the blocks after it in the same read, up to the
  // first one the cache holds (it may be newer than the file), and never so
  // many that they would push each other out of the cache.
  const size_t limit = std::max(MinCachedPages, CacheBudget_ / static_cast<size_t>(CachePage_));
  const int most = static_cast<int>(std::min<size_t>(std::max(1, ReadAheadBytes / CachePage_), limit / 8));
  int pages = 1;
  while (pages < most && FindSlot(index + pages) < 0) ++pages;
  return pages;
}

int XBobjIndexFile::DiskReadPages(int64_t Blok, uint8_t* bytes, int pages) {
  const int got = DiskFile_->xbRead(Blok, bytes, pages * CachePage_) / CachePage_;
  Scramble(PasswordIn(), bytes, bytes, got * CachePage_, false);
  return got;
}

bool XBobjIndexFile::DiskWrite(int64_t Blok, const uint8_t* Page, int Size) {
  return DiskWrite(Blok, Page, Size, PasswordOut());
}

bool XBobjIndexFile::DiskWrite(int64_t Blok, const uint8_t* Page, int Size, const AnsiString& password) {
  const uint8_t* out = Page;
  if (!password.empty()) {
    CryptBuf_.resize(static_cast<size_t>(Size));
    Scramble(password, Page, CryptBuf_.data(), Size, true);
    out = CryptBuf_.data();
  }
  // The disk file raises a failed write; a short one means a full disk.
  if (DiskFile_->xbWrite(Blok, out, Size) != Size)
    XBRaiseDiskError("Write", ENOSPC, DiskFile_->FileName(), Blok);
  return true;
}

namespace {

// An index's own file: at engine shutdown the index stores its changed
// pages and headers before the handle is closed under it.
class TIndexDiskFile final : public XBO_DiskFile {
 public:
  TIndexDiskFile(const std::string& name, bool readWrite, bool shared, XBobjIndexFile& index)
      : XBO_DiskFile(name, readWrite, shared), index_(index) {}
  void xbBeforeShutdown() override { index_.Flush(); }

 private:
  XBobjIndexFile& index_;
};

}  // namespace

XBO_DiskFile* XBobjIndexFile::IndexFileOpen(const std::string& FN, const std::string& EX, bool ReadWrite,
                                            bool Shared, bool Create, bool Overwrite) {
  std::string name = DefaultFileExt(FN, EX);
  const size_t slash = name.rfind('/');
  IndexName_ = slash == std::string::npos ? name : name.substr(slash + 1);
  if (slash == std::string::npos && Owner_) {
    const std::string table = Owner_->IndexTableFileName();
    const size_t dir = table.rfind('/');
    if (dir != std::string::npos) name = table.substr(0, dir + 1) + name;
  }
  DiskFile_.reset();
  std::unique_ptr<XBO_DiskFile> file = std::make_unique<TIndexDiskFile>(name, ReadWrite, Shared, *this);
  FileCreated_ = Create && (Overwrite || !file->FileExist());
  if (FileCreated_) {
    file = std::make_unique<TIndexDiskFile>(name, true, false, *this);
    file->xbReWrite();
  } else {
    if (!file->FileExist()) return nullptr;
    file->xbReset();
  }
  DiscardCache();
  DiskFile_ = std::move(file);
  return DiskFile_.get();
}

// ---------------------------------------------------------------------------
// Changing the whole file on a copy

namespace {

constexpr int kCopyChunk = 1 << 20;

// Writes `size` bytes at `pos` of the copy; a failure raises as the disk
// file's writes do.
void CopyWrite(platform::TFile& to, int64_t pos, const uint8_t* bytes, int size) {
  try {
    if (to.WriteAt(pos, bytes, size) != size)
      XBRaiseDiskError("Write", ENOSPC, to.Path(), pos);
  } catch (const platform::EFileError& e) {
    XBRaiseDiskError("Write", e.error, to.Path(), pos);
  }
}

}  // namespace

XBobjIndexFile::TRewrite::TRewrite(XBobjIndexFile& file, int64_t keep) : file_(file) {
  if (!file.DiskFile_ || !file.DiskFile_->FileFound()) file.RaiseCorrupted();
  // A file opened for reading only is not ours to replace.
  if (!file.DiskFile_->FileReadWrite()) XBRaise(xbmAccessDenied, {file.DiskFile_->FileName()});
  lock_ = std::make_unique<TWholeFileLock>(file);
  for (int i = 0; i < file.TagCount(); ++i) file.TagByNumber(i)->TagClose();
  file.WriteBackAll();
  file.DiscardCache();
  XBO_DiskFile& disk = *file.DiskFile_;
  const std::string& name = disk.FileName();
  copy_ = NewFileBeside(name);
  const int64_t size = disk.xbFileSize();
  const int64_t n = keep < 0 ? size : std::min(keep, size);
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(n, kCopyChunk)));
  for (int64_t at = 0; at < n; at += kCopyChunk) {
    const int len = static_cast<int>(std::min<int64_t>(kCopyChunk, n - at));
    if (disk.xbRead(at, chunk.data(), len) != len) file.RaiseCorrupted();
    CopyWrite(copy_->File(), at, chunk.data(), len);
  }
  auto onCopy = std::make_unique<TIndexDiskFile>(copy_->TempPath(), true, false, file);
  onCopy->SetShownName(name);
  onCopy->xbReset();
  file.ShownName_ = name;
  original_ = std::move(file.DiskFile_);
  file.DiskFile_ = std::move(onCopy);
}

XBobjIndexFile::TRewrite::~TRewrite() {
  file_.ShownName_.clear();
  if (!kept_.empty()) platform::DeleteFile(kept_);
  if (committed_) return;
  file_.DiscardCache();
  try {
    file_.DiskFile_->xbCloseFile();  // the copy, deleted with copy_
  } catch (...) {
    // Nothing of it is kept.
  }
  file_.DiskFile_ = std::move(original_);
  lock_.reset();
  try {
    file_.DiskFile_->xbCloseFile();
  } catch (...) {
    // Nothing was written to it.
  }
}

void XBobjIndexFile::TRewrite::Complete() {
  for (int i = 0; i < file_.TagCount(); ++i) file_.TagByNumber(i)->TagClose();
  file_.Flush();
  file_.DiscardCache();
  file_.DiskFile_->xbCloseFile();  // waits until the copy is on the medium
  completed_ = true;
}

void XBobjIndexFile::TRewrite::Commit(bool keepOld) {
  if (!completed_) Complete();
  const std::string name = original_->FileName();
  if (original_->FileShared()) {
    CopyBack();
  } else {
    try {
      if (keepOld) kept_ = platform::CreateTempLink(copy_->Target());
      copy_->Commit();
    } catch (const platform::EFileError&) {
      if (!kept_.empty()) platform::DeleteFile(kept_);
      kept_.clear();
      XBRaise(xbmCannotCreate, {name});
    }
    // The old file is gone from the folder: the object goes on with the new
    // one under the name (or, should that not open, is left closed on it).
    auto reopened = std::make_unique<TIndexDiskFile>(name, original_->FileReadWrite(), false, file_);
    try {
      original_->xbCloseFile();
    } catch (...) {
      // What it held is replaced.
    }
    reopened->xbReset();
    file_.DiskFile_ = std::move(reopened);
    original_.reset();
    committed_ = true;
  }
  file_.NextAvail_ = -1;
  file_.HighWater_ = 0;
}

bool XBobjIndexFile::TRewrite::Restore() {
  if (kept_.empty() || !platform::RenameOver(kept_, copy_->Target())) return false;
  kept_.clear();
  return true;
}

void XBobjIndexFile::TRewrite::CopyBack() {
  // Other programs hold this file open: the copy is written over it in
  // place, under the whole-file lock, and the old bytes go back should a
  // write fail.
  XBO_DiskFile& disk = *original_;
  platform::TFile& from = copy_->File();
  const int64_t oldSize = disk.xbFileSize();
  std::vector<uint8_t> old(static_cast<size_t>(oldSize));
  for (int64_t at = 0; at < oldSize; at += kCopyChunk) {
    const int len = static_cast<int>(std::min<int64_t>(kCopyChunk, oldSize - at));
    if (disk.xbRead(at, old.data() + at, len) != len) file_.RaiseCorrupted();
  }
  int64_t newSize = 0;
  try {
    newSize = from.Size();
  } catch (const platform::EFileError& e) {
    XBRaiseDiskError("Read", e.error, from.Path(), 0);
  }
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(newSize, kCopyChunk)));
  try {
    for (int64_t at = 0; at < newSize; at += kCopyChunk) {
      const int len = static_cast<int>(std::min<int64_t>(kCopyChunk, newSize - at));
      try {
        if (from.ReadAt(at, chunk.data(), len) != len) file_.RaiseCorrupted();
      } catch (const platform::EFileError& e) {
        XBRaiseDiskError("Read", e.error, from.Path(), at);
      }
      if (disk.xbWrite(at, chunk.data(), len) != len)
        XBRaiseDiskError("Write", ENOSPC, disk.FileName(), at);
    }
    if (newSize < oldSize) disk.xbTruncate(newSize);
    disk.xbSync();
  } catch (...) {
    try {
      for (int64_t at = 0; at < oldSize; at += kCopyChunk)
        disk.xbWrite(at, old.data() + at, static_cast<int>(std::min<int64_t>(kCopyChunk, oldSize - at)));
      disk.xbTruncate(oldSize);
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
  file_.DiskFile_ = std::move(original_);
  lock_.reset();
  committed_ = true;
}

bool XBobjIndexFile::IndexLock() {
  if (!DiskFile_ || !DiskFile_->FileShared()) return true;
  switch (dfLockStyle_) {
    case XBsetLokProtocol::DB4Lock: DiskFile_->xbWaitLock(int64_t{Regions_.Max} - 1, 2, true); break;
    case XBsetLokProtocol::ClipLock: DiskFile_->xbWaitLock(Regions_.Min, 1, true); break;
    case XBsetLokProtocol::Default:
    case XBsetLokProtocol::FoxLock: DiskFile_->xbWaitLock(Regions_.Max, 1, true); break;
  }
  return true;
}

void XBobjIndexFile::IndexUnlock() {
  if (DiskFile_ && DiskFile_->FileShared()) DiskFile_->xbUnLock();
}

XBobjIndexFile::TWholeFileLock::TWholeFileLock(XBobjIndexFile& file) : file_(file) {
  XBO_DiskFile* disk = file_.DiskFile();
  if (!disk || !disk->FileShared()) return;
  disk->xbWaitLock(0, 0x7FFFFFFF, true);
  if (file_.dfLockStyle() == XBsetLokProtocol::DB4Lock) {
    try {
      disk->xbWaitLock(int64_t{file_.LockRegions().Max} - 1, 2, false);
    } catch (...) {
      disk->xbUnLock();
      throw;
    }
    db4_ = true;
  }
  held_ = true;
}

XBobjIndexFile::TWholeFileLock::~TWholeFileLock() {
  if (!held_) return;
  XBO_DiskFile* disk = file_.DiskFile();
  try {
    if (db4_) disk->UnlockByteRange(int64_t{file_.LockRegions().Max} - 1, 2);
    disk->xbUnLock();
  } catch (...) {
    // Closing the file releases what could not be released here.
  }
}

bool XBobjIndexFile::Rename(const std::string& NewName) {
  if (!DiskFile_) return false;
  std::string name = NewName;
  const size_t slash = name.rfind('/');
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) name.resize(dot);
  const size_t oldDot = IndexName_.rfind('.');
  if (oldDot != std::string::npos) name += IndexName_.substr(oldDot);
  if (name.find('/') == std::string::npos) {
    const std::string& current = DiskFile_->FileName();
    name = current.substr(0, current.rfind('/') + 1) + name;
  }
  DiskFile_->xbRename(name);
  const size_t at = name.rfind('/');
  IndexName_ = at == std::string::npos ? name : name.substr(at + 1);
  return true;
}

void XBobjIndexFile::Flush() {
  for (int i = 0; i < TagList_.Count(); ++i) TagList_[i]->TagFlush();
  WriteBackAll();
  if (DiskFile_ && DiskFile_->FileFound()) DiskFile_->xbFlush();
}

void XBobjIndexFile::CloseFile() {
  if (!DiskFile_ || !DiskFile_->FileFound()) return;
  for (int i = 0; i < TagList_.Count(); ++i) TagList_[i]->TagClose();
  Flush();
  DiscardCache();
  DiskFile_->xbCloseFile();
}

XBobjIndexTag* XBobjIndexFile::TagByName(const AnsiString& ITN) const {
  const AnsiString want = platform::AnsiUpperCase(ITN);
  for (int i = 0; i < TagList_.Count(); ++i)
    if (platform::AnsiUpperCase(TagList_[i]->TagName()) == want) return TagList_[i];
  return nullptr;
}

XBobjIndexTag* XBobjIndexFile::TagByNumber(int n) const {
  return n >= 0 && n < TagList_.Count() ? TagList_[n] : nullptr;
}

XBobjIndexTag* XBobjIndexFile::KeyByName(const AnsiString& AKey, bool AFor) const {
  const AnsiString want = platform::AnsiUpperCase(AKey);
  for (int i = 0; i < TagList_.Count(); ++i) {
    XBobjIndexTag* tag = TagList_[i];
    if (AFor && tag->Conditional()) continue;
    if (platform::AnsiUpperCase(tag->KeyExpr()) == want) return tag;
  }
  return nullptr;
}

bool XBobjIndexFile::IsFileName(const std::string& IName) const {
  const size_t slash = IName.rfind('/');
  const std::string part = slash == std::string::npos ? IName : IName.substr(slash + 1);
  return platform::AnsiUpperCase(part) == platform::AnsiUpperCase(IndexName_);
}

std::string XBobjIndexFile::GetFileName() const {
  if (!ShownName_.empty()) return ShownName_;
  return DiskFile_ ? DiskFile_->FileName() : IndexName_;
}

void XBobjIndexFile::RaiseCorrupted() const { XBRaise<EXBaseIndexCorrupted>(xbmIndexCorrupted, {GetFileName()}); }

// ---------------------------------------------------------------------------
// Page objects and the cache

std::unique_ptr<XBobjIndexKey> XBobjIndexFile::NewPageObject(XBobjIndexTag* tag) {
  if (Pool_.empty()) return std::make_unique<XBobjIndexKey>(tag);
  auto page = std::move(Pool_.back());
  Pool_.pop_back();
  page->TagParent = tag;
  return page;
}

void XBobjIndexFile::BeginPageLoad() {
  LastView_ = -1;
  Views_ = 0;
}

void XBobjIndexFile::EndPageLoad(XBobjIndexKey& page) const {
  // Only a page made from one view of a cached block can be known to stay
  // what that block holds.
  if (Views_ == 1 && LastView_ >= 0) {
    page.SourceSlot = LastView_;
    page.SourceStamp = Slots_[static_cast<size_t>(LastView_)].stamp;
  }
}

bool XBobjIndexFile::SourceUnchanged(const XBobjIndexKey& page) const {
  return page.SourceSlot >= 0 && static_cast<size_t>(page.SourceSlot) < Slots_.size() &&
         page.SourceStamp != 0 && Slots_[static_cast<size_t>(page.SourceSlot)].stamp == page.SourceStamp;
}

void XBobjIndexFile::Recycle(std::unique_ptr<XBobjIndexKey> page) {
  page->Reset(nullptr);
  if (Pool_.size() < 128) Pool_.push_back(std::move(page));
}

int64_t XBobjIndexFile::FileSize() const {
  const int64_t disk = DiskFile_ && DiskFile_->FileFound() ? DiskFile_->xbFileSize() : 0;
  return std::max(disk, CacheEnd_);
}

void XBobjIndexFile::SetCacheBudget(size_t bytes) {
  CacheBudget_ = bytes;
  // Slots above the new bound go; the clock picks which blocks stay.
  const size_t limit = CachePage_ > 0 ? std::max(MinCachedPages, bytes / static_cast<size_t>(CachePage_)) : 0;
  if (Slots_.size() <= limit) return;
  for (size_t slot = limit; slot < Slots_.size(); ++slot)
    if (Slots_[slot].index >= 0) FreeSlot(static_cast<int>(slot));
  Slots_.resize(limit);
  Arena_.resize(limit * static_cast<size_t>(CachePage_));
  std::erase_if(FreeSlots_, [&](int slot) { return static_cast<size_t>(slot) >= limit; });
  Hand_ = 0;
}

int XBobjIndexFile::FindSlot(int64_t index) const {
  return static_cast<size_t>(index) < SlotOf_.size() ? SlotOf_[static_cast<size_t>(index)] : -1;
}

int XBobjIndexFile::TakeSlot(int64_t index) {
  int slot;
  if (!FreeSlots_.empty()) {
    slot = FreeSlots_.back();
    FreeSlots_.pop_back();
  } else if (const size_t limit = std::max(MinCachedPages, CacheBudget_ / static_cast<size_t>(CachePage_));
             Slots_.size() < limit) {
    if (Slots_.empty()) {
      // Room for the whole budget at once: growing would copy the blocks.
      Slots_.reserve(limit);
      Arena_.reserve(limit * static_cast<size_t>(CachePage_));
    }
    slot = static_cast<int>(Slots_.size());
    Slots_.emplace_back();
    Arena_.resize(Slots_.size() * static_cast<size_t>(CachePage_));
  } else {
    // The clock: a block used since the hand last passed gets another round.
    for (;;) {
      if (Hand_ >= Slots_.size()) Hand_ = 0;
      CacheSlot& s = Slots_[Hand_];
      if (!s.referenced) break;
      s.referenced = false;
      ++Hand_;
    }
    slot = static_cast<int>(Hand_++);
    FreeSlot(slot);
    FreeSlots_.pop_back();
  }
  if (static_cast<size_t>(index) >= SlotOf_.size())
    SlotOf_.resize(std::max(static_cast<size_t>(index) + 1, SlotOf_.size() * 2), -1);
  SlotOf_[static_cast<size_t>(index)] = slot;
  Slots_[static_cast<size_t>(slot)] = CacheSlot{index, false, true, NextStamp_++};
  return slot;
}

bool XBobjIndexFile::DirtyAt(int64_t index) const {
  const int slot = index >= 0 ? FindSlot(index) : -1;
  return slot >= 0 && Slots_[static_cast<size_t>(slot)].dirty;
}

void XBobjIndexFile::WriteBack(int slot) {
  const CacheSlot& s = Slots_[static_cast<size_t>(slot)];
  if (!s.dirty) return;
  // The changed blocks beside it go in the same write: a run of blocks
  // costs one system call rather than one each.
  int64_t first = s.index, last = s.index;
  while (last - first + 1 < MaxRunPages && DirtyAt(first - 1)) --first;
  while (last - first + 1 < MaxRunPages && DirtyAt(last + 1)) ++last;
  if (first == last) {
    DiskWrite(s.index * CachePage_, SlotBytes(slot), CachePage_);
  } else {
    const size_t page = static_cast<size_t>(CachePage_);
    RunBuf_.resize(static_cast<size_t>(last - first + 1) * page);
    for (int64_t index = first; index <= last; ++index)
      std::memcpy(RunBuf_.data() + static_cast<size_t>(index - first) * page, SlotBytes(FindSlot(index)), page);
    DiskWrite(first * CachePage_, RunBuf_.data(), static_cast<int>(RunBuf_.size()));
  }
  for (int64_t index = first; index <= last; ++index) Slots_[static_cast<size_t>(FindSlot(index))].dirty = false;
}

void XBobjIndexFile::FreeSlot(int slot) {
  WriteBack(slot);
  CacheSlot& s = Slots_[static_cast<size_t>(slot)];
  SlotOf_[static_cast<size_t>(s.index)] = -1;
  s = CacheSlot{};
  FreeSlots_.push_back(slot);
}

void XBobjIndexFile::Uncache(int64_t pos, int size) {
  if (Slots_.size() == FreeSlots_.size() || CachePage_ <= 0) return;
  const int64_t first = pos / CachePage_, last = (pos + std::max(size, 1) - 1) / CachePage_;
  for (int64_t index = first; index <= last; ++index) {
    const int slot = FindSlot(index);
    if (slot >= 0) FreeSlot(slot);
  }
}

void XBobjIndexFile::WriteBackAll() {
  // In file order: the disk sees one forward sweep.
  std::vector<std::pair<int64_t, int>> dirty;
  for (size_t slot = 0; slot < Slots_.size(); ++slot)
    if (Slots_[slot].dirty) dirty.emplace_back(Slots_[slot].index, static_cast<int>(slot));
  std::sort(dirty.begin(), dirty.end());
  // A block that is still changed begins a run (those before it are
  // written): the runs go forward from it.
  for (const auto& [index, slot] : dirty) WriteBack(slot);
}

void XBobjIndexFile::DropCache() {
  WriteBackAll();
  DiscardCache();
}

void XBobjIndexFile::DiscardCache() {
  // Pages decoded from the blocks would never be taken again.
  for (int i = 0; i < TagList_.Count(); ++i) TagList_[i]->DropDecoded();
  SlotOf_.clear();
  Slots_.clear();
  FreeSlots_.clear();
  Arena_.clear();
  Hand_ = 0;
  CacheEnd_ = 0;
}

}  // namespace xbase
