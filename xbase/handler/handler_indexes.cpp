// The handler's index files: the stack of open files, the active tag,
// building and rebuilding, and the files' locks.
#include <exception>
#include <utility>

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "xbase/base/errors.h"
#include "xbase/base/replace_files.h"
#include "xbase/base/utilities.h"
#include "xbase/handler/table_handler.h"
#include "xbase/index/cdx_format.h"
#include "xbase/index/index_in_memory.h"
#include "xbase/index/mdx_format.h"
#include "xbase/index/ndx_format.h"
#include "xbase/index/ntx_format.h"

namespace xbase {

namespace {

std::string UpperExt(const std::string& name) {
  return platform::AnsiUpperCase(platform::ExtractFileExt(name));
}

AnsiString TrimmedUpper(const AnsiString& s) { return platform::AnsiUpperCase(TrimBlanks(s)); }

// The index file of a format read here, by the upper-cased extension `ext`
// of its name; nullptr for another.
std::unique_ptr<XBobjIndexFile> NewIndexFile(const std::string& ext, XBobjIndexOwner* owner, const std::string& name,
                                             bool readWrite, bool shared, bool create) {
  if (ext == ".NDX") return std::make_unique<XBobjNDXFile>(owner, name, readWrite, shared, create, create);
  if (ext == ".NTX") return std::make_unique<XBobjNTXFile>(owner, name, readWrite, shared, create, create);
  if (ext == ".CDX") return std::make_unique<XBobjCDXFile>(owner, name, readWrite, shared, create, false);
  if (ext == ".MDX") return std::make_unique<XBobjMDXFile>(owner, name, readWrite, shared, create, false);
  return nullptr;
}

// Opens the existing index file `name` as NewIndexFile does, but a file
// whose header or tags do not read -- damaged, or scrambled under another
// password than the table's -- is nullptr (and `unreadable` set, where
// given). Other failures (a file held by another program, a disk error)
// raise.
std::unique_ptr<XBobjIndexFile> OpenIndexFile(const std::string& ext, XBobjIndexOwner* owner, const std::string& name,
                                              bool readWrite, bool shared, bool create, bool* unreadable = nullptr) {
  std::unique_ptr<XBobjIndexFile> ix;
  bool damaged = false;
  try {
    ix = NewIndexFile(ext, owner, name, readWrite, shared, create);
    damaged = ix && !ix->CreateOK() && ix->Corrupted();
  } catch (const EXBaseIndexCorrupted&) {
    damaged = true;
  }
  if (unreadable) *unreadable = damaged;
  return damaged ? nullptr : std::move(ix);
}

// Whether the compound index file `path` (`ext` upper-cased) holds tags:
// one too short to hold any is read as an empty one, which opening writes.
bool HoldsTags(const std::string& ext, const std::string& path) {
  platform::TFileInfo info;
  return !path.empty() && platform::GetFileInfo(path, info) && info.size > (ext == ".MDX" ? XBobjMDXFile::Block : 0);
}

// The names of an index list: ',' and ';' outside double quotes separate;
// quotes and tabs are dropped, and blanks around a name ("a.ndx; b.ndx").
std::vector<std::string> SplitIndexList(std::string list) {
  while (!list.empty() && (list.back() == ' ' || list.back() == ',' || list.back() == ';')) list.pop_back();
  std::vector<std::string> names;
  if (list.empty()) return names;
  std::string name;
  bool quoted = false;
  for (char c : list) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == '\t') {
    } else if (!quoted && (c == ',' || c == ';')) {
      names.emplace_back(TrimBlanks(name));
      name.clear();
    } else {
      name += c;
    }
  }
  names.emplace_back(TrimBlanks(name));
  return names;
}

// Runs `f` on every exit of the scope. What it raises is swallowed: it may
// run while another exception is on its way.
template <class F>
class TFinally {
 public:
  explicit TFinally(F f) : f_(std::move(f)) {}
  ~TFinally() {
    try {
      f_();
    } catch (const EXBaseError&) {
    }
  }
  TFinally(const TFinally&) = delete;
  TFinally& operator=(const TFinally&) = delete;

 private:
  F f_;
};

// What a rebuild keeps of an index file: its header area (the largest is
// an MDX file's 2,048 bytes), which the formats read back or write over.
constexpr int64_t kRebuildKept = 4096;

// The collation a new compound or in-memory tag orders its text by.
XBcdxCollation CollationOf(XBsetSortStatus ascnd) {
  return ascnd == XBsetSortStatus::AscendingGeneral || ascnd == XBsetSortStatus::DescendingGeneral
             ? XBcdxCollation::General
             : XBcdxCollation::Machine;
}

}  // namespace

TxbExpUserLink* XBO_dBHandler::IndexExpLink() { return DBFExpLink(); }

// --- The stack ---

std::string XBO_dBHandler::xbIndexFileExtend(const std::string& IName) const {
  std::string name = IName;
  if (name.find('/') == std::string::npos) name = platform::ExtractFilePath(FileName()) + name;
  return DefaultFileExt(name, ".ndx");
}

int XBO_dBHandler::xbIndexFileIsOpen(const std::string& IName) const {
  if (IName.empty()) return 0;
  const std::string full = xbIndexFileExtend(IName);
  for (int slot = 1; slot <= MaxIndexFiles; ++slot)
    if (IndexStack_[static_cast<size_t>(slot)] && IndexStack_[static_cast<size_t>(slot)]->IsFileName(full)) return slot;
  return 0;
}

int XBO_dBHandler::xbIndexInsert(std::unique_ptr<XBobjIndexFile>& ix) {
  for (int slot = 1; slot <= MaxIndexFiles; ++slot)
    if (!IndexStack_[static_cast<size_t>(slot)]) {
      IndexStack_[static_cast<size_t>(slot)] = std::move(ix);
      ++IndexCount_;
      return slot;
    }
  return -1;
}

bool XBO_dBHandler::IndexFieldSize(std::string_view name, int& length, int& decimals) const {
  const int n = xbFieldNo(name);
  if (n == 0) return false;
  length = xbFieldLength(n);
  decimals = xbFieldDecimals(n);
  return true;
}

int XBO_dBHandler::xbIndexRoute(const std::string& IName) {
  if (IName.empty() || xbIndexFileIsOpen(IName) > 0) return -1;
  const std::string full = xbIndexFileExtend(IName);
  bool unreadable = false;
  std::unique_ptr<XBobjIndexFile> ix =
      OpenIndexFile(UpperExt(full), AsIndexOwner(), full, FileReadWrite(), FileShared(), false, &unreadable);
  // A password change while the file was closed leaves it scrambled under
  // the old password, which reads as damage.
  if (unreadable)
    throw EXBaseIndexCorrupted(XBMessage(xbmIndexCorrupted, {full}) +
                               ", or scrambled with another password than its table's");
  if (!ix || !ix->CreateOK()) XBRaise(xbmFileNotFound, {full});
  ix->ixSetLockProtocol(dfLockStyle());
  const std::string path = ix->GetFileName();
  if (xbIndexInsert(ix) < 0) XBRaise(xbmAccessDenied, {path});
  return 0;
}

int XBO_dBHandler::xbIndex(const std::string& INames, const AnsiString& Tag) {
  xbIndexClear();
  const std::vector<std::string> names = SplitIndexList(INames);
  if (names.empty()) return 1;
  int result = 0;
  for (const std::string& name : names)
    if ((result = xbIndexRoute(name)) != 0) break;
  if (result == 0) xbSetTagTo(Tag, true);
  return result;
}

void XBO_dBHandler::CloseSlot(int slot) {
  std::unique_ptr<XBobjIndexFile> f = std::move(IndexStack_[static_cast<size_t>(slot)]);
  --IndexCount_;
  if (IndexMaster_ && IndexMaster_->Owner() == f.get()) {
    IndexMaster_ = nullptr;
    PrimaryTagName_.clear();
    SyncPending_ = false;
  }
  f->CloseFile();
}

int XBO_dBHandler::xbIndexFileRemove(const std::string& IName) {
  const int slot = xbIndexFileIsOpen(IName);
  if (slot == 0) return 1;
  if (IndexMaster_ && IndexMaster_->Owner() == IndexStack(slot)) xbSetTagTo("", true);
  CloseSlot(slot);
  return 0;
}

void XBO_dBHandler::xbIndexClear() {
  if (IndexMaster_) xbSetTagTo("", true);
  // Every file is closed even when one fails to write out; the first
  // failure is raised afterwards.
  std::exception_ptr failure;
  for (int slot = 1; slot <= MaxIndexFiles; ++slot) {
    if (!IndexStack_[static_cast<size_t>(slot)]) continue;
    try {
      CloseSlot(slot);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

int XBO_dBHandler::xbIndexFileKill(const std::string& IName) {
  if (IName.empty()) return 1;
  const std::string full = xbIndexFileExtend(IName);
  if (const int slot = xbIndexFileIsOpen(full)) {
    if (IndexMaster_ && IndexMaster_->Owner() == IndexStack(slot)) xbSetTagTo("", true);
    CloseSlot(slot);
  }
  const std::string found = platform::FindExistingFile(full);
  if (found.empty()) return 1;
  if (platform::DeleteFile(found)) return 0;
  // A file that cannot be deleted (another program has it open) is emptied
  // instead, under its whole-file lock.
  try {
    XBO_DiskFile f(found, true, true);
    f.xbReset();
    if (!f.xbLockFile()) return 1;
    f.xbTruncate(0);
    f.xbUnLock();
    return 0;
  } catch (const EXBaseError&) {
    return 1;
  }
}

int XBO_dBHandler::xbIndexTagRemove(const std::string& IName, const AnsiString& Tag) {
  const int slot = xbIndexFileIsOpen(IName);
  XBobjIndexFile* f = IndexStack(slot);
  const AnsiString name = TrimmedUpper(Tag);
  XBobjIndexTag* tag = f && !name.empty() ? f->TagByName(name) : nullptr;
  if (!tag) return 1;
  if (f->DiskFile() && !f->DiskFile()->FileReadWrite()) return -1;
  if (tag == IndexMaster_) xbSetTagTo("", true);
  // The other tags of the file must survive a failed write: the tag goes
  // on a copy of the file.
  bool removed = false;
  ChangeIndexFiles({slot}, -1, [&](XBobjIndexFile& file) { removed = file.DeleteTag(name); });
  if (!removed) return -1;
  if (IndexStack(slot)->TagCount() == 0) CloseSlot(slot);
  return 0;
}

// --- The active order ---

std::vector<int> XBO_dBHandler::OpenIndexSlots() const {
  std::vector<int> slots;
  for (int slot = 1; slot <= MaxIndexFiles; ++slot)
    if (IndexStack_[static_cast<size_t>(slot)]) slots.push_back(slot);
  return slots;
}

void XBO_dBHandler::ChangeIndexFiles(const std::vector<int>& slots, int64_t keep,
                                     const std::function<void(XBobjIndexFile&)>& change,
                                     const std::function<void()>& between) {
  std::vector<std::unique_ptr<XBobjIndexFile::TRewrite>> copies;
  std::vector<int> onDisk;
  try {
    for (int slot : slots) {
      XBobjIndexFile& f = *IndexStack(slot);
      const bool onFile = f.DiskFile() != nullptr;
      if (onFile) {
        onDisk.push_back(slot);
        copies.push_back(std::make_unique<XBobjIndexFile::TRewrite>(f, keep));
      }
      change(f);
      if (onFile) copies.back()->Complete();
    }
    // The index files go in place before the table's own files: they keep
    // their old files' second names until those are in place too.
    for (auto& copy : copies) copy->Commit(static_cast<bool>(between));
    if (between) between();
  } catch (...) {
    std::vector<bool> restored(onDisk.size(), false);  // a copy that could not be begun has none
    for (size_t i = 0; i < copies.size(); ++i) restored[i] = copies[i]->Restore();
    copies.clear();
    for (size_t i = 0; i < onDisk.size(); ++i) {
      const XBobjIndexFile* f = IndexStack(onDisk[i]);
      if (f && (restored[i] || !f->DiskFile() || !f->DiskFile()->FileFound())) ReopenIndexSlot(onDisk[i]);
    }
    throw;
  }
}

std::vector<int> XBO_dBHandler::OpenOwnIndexFiles() {
  std::vector<int> slots;
  for (const char* own : {".cdx", ".mdx"}) {
    const std::string name = platform::ChangeFileExt(FileName(), own);
    const std::string ext = UpperExt(name);
    const std::string found = platform::FindExistingFile(name);
    if (xbIndexFileIsOpen(name) > 0 || !HoldsTags(ext, found)) continue;
    std::unique_ptr<XBobjIndexFile> ix = OpenIndexFile(ext, AsIndexOwner(), found, FileReadWrite(), FileShared(), false);
    if (!ix || !ix->CreateOK()) continue;  // unreadable already: left as it is
    ix->ixSetLockProtocol(dfLockStyle());
    const int slot = xbIndexInsert(ix);
    if (slot < 0) XBRaise(xbmAccessDenied, {found});
    slots.push_back(slot);
  }
  return slots;
}

void XBO_dBHandler::ReopenIndexSlot(int slot) {
  std::unique_ptr<XBobjIndexFile>& held = IndexStack_[static_cast<size_t>(slot)];
  if (IndexMaster_ && IndexMaster_->Owner() == held.get()) {
    // Its pages may be the unfinished change: dropped, not closed.
    IndexMaster_ = nullptr;
    PrimaryTagName_.clear();
    SyncPending_ = false;
  }
  const std::string path = held->GetFileName();
  std::unique_ptr<XBobjIndexFile> again;
  try {
    again = NewIndexFile(UpperExt(path), AsIndexOwner(), path, FileReadWrite(), FileShared(), false);
  } catch (const EXBaseError&) {
    // The slot is freed below; the failure being raised is the change's.
  }
  if (again && again->CreateOK()) {
    again->ixSetLockProtocol(dfLockStyle());
    held = std::move(again);
  } else {
    held.reset();
    --IndexCount_;
  }
}

void XBO_dBHandler::ReleaseMaster() {
  if (!IndexMaster_) return;
  XBobjIndexTag* tag = IndexMaster_;
  IndexMaster_ = nullptr;
  PrimaryTagName_.clear();
  SyncPending_ = false;
  if (tag->GetRangeActive()) tag->SetRange(TxbVariant(), true, TxbVariant(), true, false);
  tag->TagClose();
}

int XBO_dBHandler::xbSetTagTo(const AnsiString& TName, bool SameRec) {
  const AnsiString name = TrimmedUpper(TName);
  if (name.empty()) {
    ReleaseMaster();
    xbSetDBFCache(true);
    if (!SameRec) xbGetRec(xbRecTop);
    return 0;
  }
  int slot = 1;
  XBobjIndexTag* tag = nullptr;
  for (; slot <= MaxIndexFiles && !tag; ++slot)
    if (IndexStack_[static_cast<size_t>(slot)]) tag = IndexStack_[static_cast<size_t>(slot)]->TagByName(name);
  if (!tag) XBRaise(xbmIndexTagNotFound, {TName});
  --slot;
  ReleaseMaster();
  xbSetDBFCache(false);
  tag->TagOpen(2);
  IndexMaster_ = tag;
  SyncPending_ = false;
  PrimaryTagName_ = name;
  if (SameRec && RecNumber() > 0) {
    xbGetRec(RecNumber());
    if (ResyncIndex_) xbGetRec(xbRecTop);
  } else {
    xbGetRec(xbRecTop);
  }
  return slot;
}

XBobjIndexTag* XBO_dBHandler::xbIndexPointer(int Value) const {
  if (Value < 1) return nullptr;
  for (const auto& f : IndexStack_) {
    if (!f) continue;
    if (Value <= f->TagCount()) return f->TagByNumber(Value - 1);
    Value -= f->TagCount();
  }
  return nullptr;
}

void XBO_dBHandler::xbIndexOrder(int Value) {
  const XBobjIndexTag* tag = xbIndexPointer(Value);
  xbSetTagTo(tag ? tag->TagName() : AnsiString(), true);
}

bool XBO_dBHandler::xbIndexKeyValue(int Value, TxbVariant& ExpVar) {
  XBobjIndexTag* tag = xbIndexPointer(Value);
  if (!tag) return false;
  bool changed = false;
  tag->SolveExpression(ExpVar, changed);
  return true;
}

double XBO_dBHandler::xbGetIndexPercent(int RecN, bool exact) {
  if (RecN != RecNumber()) xbGetRec(RecN);
  if (!IndexMaster_) return 0;
  SyncMaster();
  if (!exact) return IndexMaster_->GetKeyPercent(RecN, false);
  IndexMaster_->LockOwner();
  TFinally unlock([f = IndexMaster_->Owner()] { f->IndexUnlock(); });
  return IndexMaster_->GetKeyPercent(RecN, true);
}

void XBO_dBHandler::xbSetIndexPercent(double apct, bool exact) {
  if (!IndexMaster_) return;
  const int rn = IndexMaster_->SetKeyPercent(apct, exact);
  if (rn > 0) {
    ReadPhysical(rn);
    xbvRecRead_ = true;
  }
}

// --- Building ---

void XBO_dBHandler::ReturnTo(int n) {
  if (n >= 1 && n <= NumRecs()) {
    ReadPhysical(n);
  } else {
    BlankBuffer();
  }
}

void XBO_dBHandler::BuildTag(XBobjIndexFile& ix, const AnsiString& tag, const AnsiString& keyexpr,
                             const AnsiString& forexpr, XBsetIndexUnique uniq, XBsetSortStatus ascnd) {
  const bool cacheWas = CacheRead_;
  xbSetDBFCache(true);
  TFinally restore([this, cacheWas, start = RecNumber(), state = dState()] {
    SetdState(state);
    xbSetDBFCache(cacheWas);
    ReturnTo(start);
  });
  const bool ascending = ascnd == XBsetSortStatus::Ascending || ascnd == XBsetSortStatus::AscendingGeneral;
  SetdState(dbIndex);
  ix.AddTag(tag, keyexpr, forexpr, ascending, uniq == XBsetIndexUnique::Unique);
}

int XBO_dBHandler::xbIndexTo(const std::string& IName, const AnsiString& tag, const AnsiString& keyexpr,
                            const AnsiString& forexpr, XBsetIndexUnique uniq, XBsetSortStatus ascnd) {
  xbIndexClear();
  const std::string full = xbIndexFileExtend(IName);
  const std::string ext = UpperExt(full);
  // A compound file receives the new tag beside the ones it holds; an NDX
  // or NTX file holds one tag named after it, and a file of that name is
  // made anew, never added to.
  const bool compound = ext == ".CDX" || ext == ".MDX";
  if (compound && TrimmedUpper(tag).empty()) XBRaise(xbmIndexTagNotFound, {tag});
  if (!compound && ext != ".NDX" && ext != ".NTX") XBRaise(xbmFileNotFound, {full});
  const AnsiString name = compound ? tag : platform::Utf8ToAnsi(FileBaseName(full));
  const auto prepare = [&](XBobjIndexFile& ix, const std::string& path) {
    if (!ix.CreateOK()) XBRaise(ix.Corrupted() ? xbmIndexCorrupted : xbmFileNotFound, {path});
    ix.ixSetLockProtocol(dfLockStyle());
    if (ext == ".CDX") static_cast<XBobjCDXFile&>(ix).SetNewTagCollation(CollationOf(ascnd));
  };
  const std::string existing = platform::FindExistingFile(full);
  // A compound file too short to hold a tag is made anew like a missing
  // one; so is one whose tags cannot be read (damaged, or scrambled under
  // another password), which no one could use.
  std::unique_ptr<XBobjIndexFile> ix;
  if (compound && HoldsTags(ext, existing)) ix = OpenIndexFile(ext, AsIndexOwner(), existing, true, FileShared(), true);
  if (ix) {
    // The other tags must survive whatever stops the new one: it is added
    // on a copy of the file.
    prepare(*ix, existing);
    XBobjIndexFile::TRewrite copy(*ix, -1);
    BuildTag(*ix, name, keyexpr, forexpr, uniq, ascnd);
    copy.Commit();
    ix->CloseFile();
    return 0;
  }
  // A new file is made beside its name and takes it only when complete: a
  // refused key or condition, or a write that fails, leaves an existing
  // file as it was and makes none. The file replaced must not be held by
  // another program.
  const std::string target = existing.empty() ? full : existing;
  std::unique_ptr<XBO_DiskFile> replaced;
  if (!existing.empty()) {
    replaced = std::make_unique<XBO_DiskFile>(existing, true, false);
    replaced->xbReset();
  }
  std::unique_ptr<platform::TReplaceFile> file = NewFileBeside(target);
  ix = NewIndexFile(ext, AsIndexOwner(), file->TempPath(), true, false, true);
  ix->SetShownName(target);
  prepare(*ix, target);
  BuildTag(*ix, name, keyexpr, forexpr, uniq, ascnd);
  ix->CloseFile();
  ix.reset();
  if (replaced) replaced->xbCloseFile();
  try {
    file->Commit();
  } catch (const platform::EFileError&) {
    XBRaise(xbmCannotCreate, {target});
  }
  // The file made beside its name could not tell it is the table's own.
  if (compound && platform::AnsiUpperCase(FileBaseName(target)) == platform::AnsiUpperCase(FileBaseName(FileName())))
    IndexMarkProduction();
  return 0;
}

bool XBO_dBHandler::xbMemoryIndexAdd(const AnsiString& tag, const AnsiString& keyexpr, const AnsiString& forexpr,
                                     XBsetIndexUnique uniq, XBsetSortStatus ascnd) {
  const AnsiString name = TrimmedUpper(tag);
  if (name.empty()) XBRaise(xbmTagFieldEmpty);
  if (TrimmedUpper(keyexpr).empty()) XBRaise(xbmNoIndexKey);
  for (int slot = 1; slot <= MaxIndexFiles; ++slot) {
    const XBobjIndexFile* f = IndexStack(slot);
    if (f && !f->DiskFile() && f->IndexName() == name) CloseSlot(slot);
  }
  auto mix = std::make_unique<XBobjMIXFile>(AsIndexOwner(), name);
  mix->SetNewTagCollation(CollationOf(ascnd));
  BuildTag(*mix, name, keyexpr, forexpr, uniq, ascnd);
  if (!mix->CreateOK()) XBRaise(xbmIndexCorrupted, {name + "(Memory)"});
  std::unique_ptr<XBobjIndexFile> ix = std::move(mix);
  if (xbIndexInsert(ix) < 0) XBRaise(xbmAccessDenied, {name + "(Memory)"});
  xbSetTagTo(name, false);
  return true;
}

void XBO_dBHandler::RebuildIndexFiles(const std::function<void()>& between) {
  ChangeIndexFiles(OpenIndexSlots(), kRebuildKept, [](XBobjIndexFile& f) { f.Reindex(); }, between);
}

void XBO_dBHandler::xbReIndex() {
  const AnsiString name = PrimaryTagName_;
  xbSetTagTo("", true);
  const bool cacheWas = CacheRead_;
  const int start = RecNumber();
  try {
    TFinally restore([this, cacheWas, state = dState()] {
      SetdState(state);
      xbSetDBFCache(cacheWas);
    });
    SetdState(dbIndex);
    xbSetDBFCache(true);
    RebuildIndexFiles();
  } catch (...) {
    // The files are as they were: so is the active order.
    ReturnTo(start);
    try {
      if (!name.empty()) xbSetTagTo(name, true);
    } catch (const EXBaseError&) {
    }
    throw;
  }
  ReturnTo(start);
  if (!name.empty()) xbSetTagTo(name, false);
}

// --- Writing out, closing, renaming ---

void XBO_dBHandler::FlushIndexes() {
  // An index file held exclusively keeps its pages in its block cache: no
  // one else can read it before it is closed or synced, and writing them at
  // every append would cost a write per page. A shared one is written out
  // now, with the active tag closed around it.
  if (IndexCount_ == 0 || !FileShared()) return;
  bool shared = false;
  for (const auto& f : IndexStack_) shared = shared || (f && f->DiskFile() && f->DiskFile()->FileShared());
  if (!shared) return;
  XBobjIndexTag* master = IndexMaster_;
  if (master && master->Owner()->DiskFile()->FileShared()) master->TagClose();
  for (auto& f : IndexStack_)
    if (f && f->DiskFile() && f->DiskFile()->FileShared()) f->Flush();
  if (master && !master->IsOpen() && RecNumber() > 0 && !SyncPending_)
    ResyncIndex_ = master->KeySync(RecNumber()) != RecNumber();
}

void XBO_dBHandler::xbSync() {
  for (auto& f : IndexStack_) {
    if (!f) continue;
    f->Flush();
    if (f->DiskFile()) f->DiskFile()->xbSync();
  }
  XBO_dBHandlerBase::xbSync();
}

bool XBO_dBHandler::xbRename(const std::string& newName) {
  const std::string oldName = FileName();
  const AnsiString oldBase = platform::AnsiUpperCase(FileBaseName(oldName));
  XBO_dBHandlerBase::xbRename(newName);
  std::vector<XBobjIndexFile*> moved;
  try {
    for (auto& f : IndexStack_) {
      if (!f || platform::AnsiUpperCase(FileBaseName(f->GetFileName())) != oldBase) continue;
      f->Rename(FileName());
      moved.push_back(f.get());
    }
  } catch (...) {
    // Nothing may keep the new name when one file could not take it.
    for (XBobjIndexFile* f : moved) {
      try {
        f->Rename(oldName);
      } catch (const EXBaseError&) {
      }
    }
    XBO_dBHandlerBase::xbRename(oldName);
    throw;
  }
  return true;
}

// --- Locks ---

bool XBO_dBHandler::xbUnLockIndexes() {
  for (auto& f : IndexStack_)
    if (f && f->DiskFile()) f->DiskFile()->xbForceUnlock();
  return true;
}

bool XBO_dBHandler::xbLockActiveIndex() {
  if (IndexMaster_) IndexMaster_->LockOwner();
  return true;
}

bool XBO_dBHandler::xbUnLockActiveIndex() {
  if (IndexMaster_ && IndexMaster_->Owner()->DiskFile()) IndexMaster_->Owner()->DiskFile()->xbForceUnlock();
  return true;
}

void XBO_dBHandler::xbSetLockProtocol(XBsetLokProtocol p) {
  XBO_dBHandlerBase::xbSetLockProtocol(p);
  for (auto& f : IndexStack_)
    if (f) f->ixSetLockProtocol(p);
}

bool XBO_dBHandler::xbWithIndex() { return IndexCount_ > 0; }

}  // namespace xbase
