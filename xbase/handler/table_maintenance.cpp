// Table maintenance: copying a table's structure, its records or one
// record, sorting it into a new table, packing out deleted records and
// emptying it.
//
// Every new or rewritten table goes through two platform::TReplaceFiles,
// one for the table and one for its memo file: the structure is written
// into them, a handler is opened on the new table (and its memo object on
// the new memo file) and appends the records, and only a complete pair
// replaces the final names -- the memo file first, then the table. Should
// the table's replacement fail, the memo file is put back from a second
// name kept for it, so a table never points into another table's memos.
// A pack keeps the old table's second name too until the indexes are
// rebuilt for the new one, and puts it back should they fail; a zap puts
// its empty table in place together with the empty indexes.
#include <algorithm>
#include <cstring>
#include <map>
#include <string_view>
#include <vector>

#include "platform/Files.h"
#include "xbase/base/byte_order.h"
#include "xbase/base/errors.h"
#include "xbase/base/replace_files.h"
#include "xbase/base/scrambling.h"
#include "xbase/base/system.h"
#include "xbase/base/utilities.h"
#include "xbase/expr/expression.h"
#include "xbase/handler/table_handler.h"
#include "xbase/handler/table_sort.h"
#include "xbase/table/memo_files.h"

namespace xbase {

namespace {

enum : int { kOpCopy = 1, kOpSort = 2, kOpPack = 3, kOpPackInPlace = 4 };
enum : int { kPhaseStart = 0, kPhaseRecord = 1, kPhaseEnd = 2 };

// The 263-byte area a Visual FoxPro header carries behind its terminator.
constexpr int kVfpArea = 263;
// A new memo file's header: one block of 512 bytes (eight of FoxPro's 64).
constexpr int kMemoHeader = 512;
constexpr int kFoxBlock = 64;

bool IsFoxVersion(uint8_t v) { return v == 0x30 || v == 0xF5; }

// A pack removes only the records flagged "*". Navigation hides any other
// flag too, but other writers leave such bytes in records that their
// readers list as live, and a pack must not destroy those.
bool PackRemoves(const uint8_t* record) { return record[0] == '*'; }

int64_t CeilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

// Runs [first, end) of memo blocks.
using TBlockRuns = std::vector<std::pair<int64_t, int64_t>>;

// The first blocks of the runs of `released` that overlap none of `kept`
// nor one given back before them: no block is given back that a record
// still names, nor twice.
std::vector<int64_t> RunsToGiveBack(const TBlockRuns& released, TBlockRuns kept) {
  std::sort(kept.begin(), kept.end());
  std::vector<int64_t> reach(kept.size());  // the furthest end among kept[0..i]
  for (size_t i = 0; i < kept.size(); ++i) reach[i] = std::max(kept[i].second, i > 0 ? reach[i - 1] : 0);
  std::map<int64_t, int64_t> given;  // disjoint
  std::vector<int64_t> out;
  for (const auto& [first, end] : released) {
    const auto k = std::lower_bound(kept.begin(), kept.end(), std::make_pair(end, int64_t{0}));
    if (k != kept.begin() && reach[static_cast<size_t>(k - kept.begin()) - 1] > first) continue;
    const auto g = given.lower_bound(end);
    if (g != given.begin() && std::prev(g)->second > first) continue;
    given.emplace(first, end);
    out.push_back(first);
  }
  return out;
}

std::string_view TrimBlanksAndControls(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  return s;
}

// Puts the handler back on record `n` after a scan, also after a failure
// (when the table may no longer be readable: that error is the scan's).
void ReturnAfterScan(XBO_dBHandler& h, int n) {
  try {
    h.xbGetRec(n >= 1 && n <= h.NumRecs() ? n : 0);
  } catch (const EXBaseError&) {
  }
}

}  // namespace

// --- The new files beside the final names ---

class XBO_dBHandler::TMaintTarget {
 public:
  // Begins the new table `names.table` with `header`, and its memo file
  // `names.memo` with `memoHeader` when there is one.
  TMaintTarget(const TMaintNames& names, const std::string& header, const std::string& memoHeader)
      : names_(names) {
    table_ = Begin(names.table, header);
    if (!names.memo.empty()) memo_ = Begin(names.memo, memoHeader);
  }
  ~TMaintTarget() { Release(); }
  TMaintTarget(const TMaintTarget&) = delete;
  TMaintTarget& operator=(const TMaintTarget&) = delete;

  // Opens the new table as a handler that reads and writes under
  // `password`, exclusive, its memo object on the new memo file, and its
  // header held back (the file lock) until Commit.
  XBO_dBHandler& Open(const AnsiString& password, uint8_t version) {
    handler_ = std::make_unique<XBO_dBHandler>(table_->TempPath(), password, true, false);
    handler_->SetShownName(names_.table);
    std::unique_ptr<XBobjMemo> memo;
    if (memo_) {
      memo = XBobjMemo::OpenFile(memo_->TempPath(), password, true, false, version);
      memo->SetShownName(names_.memo);
    }
    handler_->xbMemoAttach(std::move(memo));
    handler_->xbFLock();
    return *handler_;
  }

  // Completes the new files and puts them in place: the memo file first,
  // then the table; the memo file is put back when the table cannot be.
  // With `keepOld` second names of the old files are kept until Release,
  // so that Restore can put them back when work after the replacement
  // (the indexes rebuilt for it) fails.
  void Commit(bool keepOld = false) {
    if (handler_) {
      handler_->xbLockOff();  // writes the held-back header
      handler_->xbCloseFile();
      handler_.reset();
    }
    PutTableInPlace(*table_, memo_.get(), keepOld, keptTable_, keptMemo_);
  }

  // Puts the old table and memo file back over the new ones.
  void Restore() {
    if (!keptTable_.empty() && platform::RenameOver(keptTable_, table_->Target())) keptTable_.clear();
    PutMemoBack();
    Release();
  }

  // Drops the second names of the old files.
  void Release() {
    for (std::string* kept : {&keptTable_, &keptMemo_}) {
      if (!kept->empty()) platform::DeleteFile(*kept);
      kept->clear();
    }
  }

 private:
  void PutMemoBack() {
    if (!memo_) return;
    if (keptMemo_.empty())
      platform::DeleteFile(memo_->Target());
    else if (platform::RenameOver(keptMemo_, memo_->Target()))
      keptMemo_.clear();
  }

  static std::unique_ptr<platform::TReplaceFile> Begin(const std::string& path, const std::string& bytes) {
    std::unique_ptr<platform::TReplaceFile> file = NewFileBeside(path);
    try {
      file->File().WriteAt(0, bytes.data(), static_cast<int64_t>(bytes.size()));
    } catch (const platform::EFileError& e) {
      XBRaiseDiskError("Write", e.error, path, 0);
    }
    return file;
  }

  TMaintNames names_;  // as the user gave them: the names failures are told with
  std::unique_ptr<platform::TReplaceFile> table_, memo_;
  std::string keptTable_, keptMemo_;
  // Declared last: closed before the files above are given up.
  std::unique_ptr<XBO_dBHandler> handler_;
};

XBO_dBHandler::TMaintNames XBO_dBHandler::OwnNames() {
  TMaintNames names{FileName(), {}};
  if (WithMemo()) names.memo = ExistingOrGiven(XBobjMemo::MemoFileName(FileName(), FileVers()));
  return names;
}

XBO_dBHandler::TMaintNames XBO_dBHandler::MaintTargetNames(const std::string& filname, const char* operation) {
  TMaintNames names;
  names.table = ExistingOrGiven(ExpandName(DefaultFileExt(filname, ".dbf")));
  if (WithMemo()) names.memo = ExistingOrGiven(XBobjMemo::MemoFileName(names.table, FileVers()));
  // Writing over the source would destroy what is being read.
  const TMaintNames own = OwnNames();
  for (const std::string* target : {&names.table, &names.memo})
    if (platform::IsSameFile(*target, own.table) || platform::IsSameFile(*target, own.memo))
      XBRaise(xbmFullAccessRequired, {operation, *target});
  return names;
}

std::string XBO_dBHandler::StructureImage(const AnsiString* password) {
  if (password) RequireScramblable(*password);
  std::string head(static_cast<size_t>(HeadLen()), '\0');
  auto* h = reinterpret_cast<uint8_t*>(head.data());
  if (xbRead(0, h, HeadLen()) < HeadLen()) XBRaise(xbmReadError, {FileName()});
  PutLE32(h + 4, 0);
  if (password) {
    // The descriptors, unscrambled with this table's password and
    // scrambled under the new one.
    const size_t area = static_cast<size_t>(HeadLen() - 33 - (FileVers() == 0x30 ? kVfpArea : 0));
    if (xbvIsEncrypted()) CryptBuffer(xbvPasswordIn(), h + 32, h + 32, area, false);
    if (!password->empty()) CryptBuffer(*password, h + 32, h + 32, area, true);
    h[15] = password->empty() ? 0 : 1;
  }
  return head;
}

std::string XBO_dBHandler::MemoHeaderImage() {
  if (!WithMemo()) return {};
  std::string head(kMemoHeader, '\0');
  auto* h = reinterpret_cast<uint8_t*>(head.data());
  if (IsFoxVersion(FileVers())) {
    PutBE32(h, kMemoHeader / kFoxBlock);  // the first free block follows the header
    h[6] = kFoxBlock >> 8;
    h[7] = kFoxBlock & 0xFF;
    return head;
  }
  PutLE32(h, 1);
  const AnsiString alias = dAlias().substr(0, 8);
  std::memcpy(h + 8, alias.data(), alias.size());
  if (FileVers() == 0x8B) {
    h[18] = 2;
    h[19] = 1;
    PutLE16(h + 20, 512);
  }
  return head;
}

void XBO_dBHandler::RequireWholeTable(const char* operation) {
  if (FileShared() || !FileReadWrite()) XBRaise(xbmFullAccessRequired, {operation, FileName()});
}

// --- Copies ---

void XBO_dBHandler::xbCopyStructure(const std::string& filname) {
  TMaintTarget target(MaintTargetNames(filname, "CopyStructure"), StructureImage(nullptr), MemoHeaderImage());
  target.Commit();
}

void XBO_dBHandler::xbCopyMemoRecord(XBO_dBHandler& df) {
  std::string text;
  for (int n = 1; n <= NumFields(); ++n) {
    if (!xbMemoFieldCheck(n) || xbNumberGetN(n) == 0) continue;
    if (!df.xbMemoFieldCheck(n)) XBRaise(xbmInvalidTableHeader, {df.FileName()});
    int64_t size = xbMemoSizeN(n);
    text.resize(static_cast<size_t>(size) + 16);
    xbMemoLoadN(n, text.data(), size);
    // The field still names the block in this table's memo file: a new
    // memo, not a rewrite of whatever stands there in df's.
    df.xbFieldPutN(n, {});
    df.xbMemoSaveN(n, text.data(), size);
  }
}

void XBO_dBHandler::xbCopyRecord(XBO_dBHandler& filobj) {
  bool memos = false;
  for (int n = 1; n <= NumFields() && !memos; ++n) memos = xbMemoFieldCheck(n) != nullptr;
  if (filobj.RecLen() < RecLen() || (memos && !filobj.WithMemo()))
    XBRaise(xbmInvalidTableHeader, {filobj.FileName()});
  uint8_t* to = filobj.CurRecord();
  std::memmove(to, CurRecord(), static_cast<size_t>(RecLen()));  // (a table may copy onto itself)
  std::memset(to + RecLen(), ' ', static_cast<size_t>(filobj.RecLen() - RecLen()));
  if (memos) xbCopyMemoRecord(filobj);
  // An append makes the record live; a copy keeps what it was.
  const uint8_t flag = to[0];
  filobj.xbAppend();
  if (flag != ' ') {
    filobj.CurRecord()[0] = flag;
    filobj.xbPutRec(filobj.RecNumber());
  }
}

void XBO_dBHandler::CopyShownRecords(XBO_dBHandler& out, int operation) {
  xbStatusUpdate(operation, kPhaseStart, NumRecs());
  int done = 0;
  for (xbGetRec(xbRecTop); OnRecord(); xbGetRec(xbRecNext)) {
    xbStatusUpdate(operation, kPhaseRecord, ++done);
    xbCopyRecord(out);
  }
  xbStatusUpdate(operation, kPhaseEnd, done);
}

void XBO_dBHandler::CopyKeptRecords(XBO_dBHandler& out) {
  const int total = NumRecs();
  xbStatusUpdate(kOpPack, kPhaseStart, total);
  int done = 0;
  for (int n = 1; n <= total; ++n) {
    ReadPhysical(n);
    if (PackRemoves(CurRecord())) continue;
    xbStatusUpdate(kOpPack, kPhaseRecord, ++done);
    xbCopyRecord(out);
  }
  xbStatusUpdate(kOpPack, kPhaseEnd, done);
}

void XBO_dBHandler::CopyLiveRecordRuns(XBO_dBHandler& out) {
  // A record at a time would cost a read and a write call per record: the
  // table is read and the live records written in runs of about 1 MiB.
  const int total = NumRecs(), len = RecLen();
  const int per = std::max(1, (1 << 20) / len);
  std::vector<uint8_t> in(static_cast<size_t>(per) * static_cast<size_t>(len));
  std::vector<uint8_t> live;
  live.reserve(in.size());
  xbStatusUpdate(kOpPack, kPhaseStart, total);
  int done = 0;
  for (int first = 1; first <= total; first += per) {
    const int n = std::min(per, total - first + 1);
    if (!ReadRecordsInto(first, n, in.data())) XBRaise(xbmReadError, {FileName()});
    live.clear();
    for (int i = 0; i < n; ++i) {
      const uint8_t* r = in.data() + static_cast<size_t>(i) * static_cast<size_t>(len);
      if (PackRemoves(r)) continue;
      live.insert(live.end(), r, r + len);
      xbStatusUpdate(kOpPack, kPhaseRecord, ++done);
    }
    out.xbAppendRun(live.data(), static_cast<int>(live.size() / static_cast<size_t>(len)));
  }
  xbStatusUpdate(kOpPack, kPhaseEnd, done);
}

void XBO_dBHandler::xbCopyFile(const std::string& filname, const AnsiString& apassword) {
  const TMaintNames names = MaintTargetNames(filname, "CopyFile");
  bool locked = xbLockFullFile();
  for (unsigned i = 1; !locked && i < XBwrdAccessMiliSeconds() / XBwrdAccessMSecDelay(); ++i) {
    SleepMs(XBwrdAccessMSecDelay());
    locked = xbLockFullFile();
  }
  if (!locked) XBRaise(xbmFullAccessRequired, {"CopyFile", FileName()});
  const int start = RecNumber();
  try {
    TMaintTarget target(names, StructureImage(&apassword), MemoHeaderImage());
    CopyShownRecords(target.Open(apassword, FileVers()), kOpCopy);
    target.Commit();
  } catch (...) {
    xbLockOff();
    ReturnAfterScan(*this, start);
    throw;
  }
  xbLockOff();
  ReturnAfterScan(*this, start);
}

// --- Sorting ---

XBobjSortDB::XBobjSortDB(bool ascending, const std::string& tempDir)
    : TxbSort(xbMaxSortKeyLength, false, ascending, nullptr, DefaultMemoryBudget, tempDir) {}

void XBobjSortDB::SetFiles(XBO_dBHandler* source, XBO_dBHandler* target) {
  curFile_ = source;
  newFile_ = target;
}

void XBobjSortDB::OutputWord() {
  TxbVariant key;
  int32_t rec = 0;
  KeyCnt_ = 0;
  for (bool more = GetFirstKey(key, rec); more; more = GetNextKey(key, rec)) {
    curFile_->xbGetRec(rec);
    curFile_->xbStatusUpdate(kOpSort, kPhaseRecord, ++KeyCnt_);
    curFile_->xbCopyRecord(*newFile_);
  }
}

void XBO_dBHandler::xbLoadToIndex(XBobjSortDB& ixColl, const AnsiString& zfld) {
  TxbExpHandler expr(DBFExpLink(), zfld, dAlias());
  TxbVariant key;
  const int start = RecNumber();
  xbStatusUpdate(kOpSort, kPhaseStart, NumRecs());
  int done = 0;
  try {
    for (xbGetRec(xbRecTop); OnRecord(); xbGetRec(xbRecNext)) {
      expr.ExpressionAsVariant(key);
      if (expr.ResultType() == rtUnknown) XBRaise(xbmVariantSort);  // no value to order by
      ixColl.AddKey(key, RecNumber());
      xbStatusUpdate(kOpSort, kPhaseRecord, ++done);
    }
  } catch (...) {
    ReturnAfterScan(*this, start);
    throw;
  }
  ReturnAfterScan(*this, start);
}

void XBO_dBHandler::xbCopyFromIndex(XBobjSortDB& ixColl, const std::string& filname, const AnsiString& apassword) {
  const TMaintNames names = MaintTargetNames(filname, "SortFile");
  const int start = RecNumber();
  const dbFileState state = dState();
  try {
    TMaintTarget target(names, StructureImage(&apassword), MemoHeaderImage());
    ixColl.SetFiles(this, &target.Open(apassword, FileVers()));
    // Records are read by number in key order: straight from the table,
    // without placing the active tag on each.
    SetdState(dbCopy);
    ixColl.OutputWord();
    SetdState(state);
    xbStatusUpdate(kOpSort, kPhaseEnd, ixColl.KeyCnt());
    ixColl.SetFiles(this, nullptr);
    target.Commit();
  } catch (...) {
    SetdState(state);
    ixColl.SetFiles(this, nullptr);
    ReturnAfterScan(*this, start);
    throw;
  }
  ReturnAfterScan(*this, start);
}

void XBO_dBHandler::xbSortFile(const std::string& filname, const AnsiString& apassword, const AnsiString& zfld,
                               XBsetSortStatus isascend) {
  const AnsiString key = UpperCaseText(TrimBlanksAndControls(zfld));
  if (key.empty() || key.size() > static_cast<size_t>(xbMaxSortKeyLength))
    XBRaise(xbmSortKeyLength, {xbMaxSortKeyLength, static_cast<int64_t>(key.size())});
  MaintTargetNames(filname, "SortFile");  // refused before the keys are taken
  const bool up = isascend == XBsetSortStatus::SortUp || isascend == XBsetSortStatus::Ascending ||
                  isascend == XBsetSortStatus::AscendingGeneral;
  XBobjSortDB sorter(up, xbvTempDir());
  xbLoadToIndex(sorter, key);
  xbCopyFromIndex(sorter, filname, apassword);
}

// --- Pack and zap ---

void XBO_dBHandler::xbPack() {
  RequireWholeTable("Pack");
  const AnsiString tag = PrimaryTagName_;
  const bool useDeleted = UseDeletedRec(), filter = FFilterLive_;
  const AnsiString password = xbvIsEncrypted() ? xbvPasswordIn() : AnsiString();
  // Every live record, in natural order (with the cache), for the copy.
  xbSetTagTo("", true);
  SetUseDeletedRec(false);
  xbSetFilterActive(false);
  try {
    TMaintTarget target(OwnNames(), StructureImage(&password), MemoHeaderImage());
    XBO_dBHandler& out = target.Open(password, FileVers());
    if (WithMemo())
      CopyKeptRecords(out);
    else
      CopyLiveRecordRuns(out);
    SetUseDeletedRec(useDeleted);
    xbSetFilterActive(filter);
    ReplaceAndRenumber(target, tag);
  } catch (...) {
    SetUseDeletedRec(useDeleted);
    xbSetFilterActive(filter);
    RestoreTag(tag);
    throw;
  }
}

void XBO_dBHandler::RestoreTag(const AnsiString& tag) {
  try {
    if (!tag.empty()) xbSetTagTo(tag, true);
  } catch (const EXBaseError&) {
    // The failure on its way is the one to report.
  }
}

void XBO_dBHandler::ReplaceAndRenumber(TMaintTarget& target, const AnsiString& tag) {
  target.Commit(true);
  xbSetDBFCache(false);  // it holds the old file's records
  xbReopen();
  // The indexes are rebuilt in natural order, and the filter bitmap is
  // built again: until then they name the old record numbers. Should the
  // indexes fail (left as they were), the old table goes back under them.
  try {
    xbSetDBFCache(true);
    xbReIndex();
  } catch (...) {
    target.Restore();
    xbSetDBFCache(false);
    xbReopen();
    xbSetDBFCache(true);
    throw;
  }
  target.Release();
  xbRefreshFilter();
  if (!tag.empty())
    xbSetTagTo(tag, false);
  else
    xbGetRec(xbRecTop);
}

void XBO_dBHandler::xbPackMemo() {
  RequireWholeTable("Pack");
  const AnsiString tag = PrimaryTagName_;
  const AnsiString password = xbvIsEncrypted() ? xbvPasswordIn() : AnsiString();
  const int total = NumRecs();
  // The memo runs of the deleted records, and of the kept ones where blocks
  // go back for reuse (dBase IV): a run a kept record still names (two
  // records naming one memo, in a file damaged before) stays taken.
  TBlockRuns released, keptRuns;
  XBobjMemo* const memoFile = WithMemo() ? xbMemoObject() : nullptr;
  const bool reuses = memoFile && memoFile->TypeMemo() == 0x8B;
  const auto noteRuns = [&](TBlockRuns& into, bool deleted) {
    for (int f = 1; f <= NumFields(); ++f) {
      XBobjMemo* memo = xbMemoFieldCheck(f);
      const int64_t blk = memo ? static_cast<int64_t>(xbNumberGetN(f)) : 0;
      if (blk == 0) continue;
      int64_t blocks = 1;
      try {
        // A deleted record's memo is measured before anything changes: a
        // damaged one raises.
        blocks = CeilDiv(memo->moMemoSpaceUsed(blk), memo->BytesPerBlok());
      } catch (const EXBaseError&) {
        if (deleted) throw;
      }
      into.emplace_back(blk, blk + std::max<int64_t>(blocks, 1));
    }
  };
  TMemoJournal journal;
  int kept = 0;
  xbSetTagTo("", true);
  try {
    TMaintTarget target({FileName(), {}}, StructureImage(&password), {});
    XBO_dBHandler& out = target.Open(password, FileVers());
    xbStatusUpdate(kOpPackInPlace, kPhaseStart, total);
    for (int n = 1; n <= total; ++n) {
      ReadPhysical(n);
      if (!PackRemoves(CurRecord())) {
        ++kept;
        const uint8_t flag = CurRecord()[0];
        std::memcpy(out.CurRecord(), CurRecord(), static_cast<size_t>(RecLen()));
        out.xbAppend();
        if (flag != ' ') {  // an append makes the record live
          out.CurRecord()[0] = flag;
          out.xbPutRec(out.RecNumber());
        }
        if (reuses) noteRuns(keptRuns, false);
      } else {
        noteRuns(released, true);
      }
      xbStatusUpdate(kOpPackInPlace, kPhaseRecord, n);
    }
    xbStatusUpdate(kOpPackInPlace, kPhaseEnd, kept);
    if (kept == total) {
      if (!tag.empty()) xbSetTagTo(tag, false);
      else xbGetRec(xbRecTop);
      return;
    }
    // The deleted records' memo blocks are given back before the new table
    // is put in place, and taken again should that fail: the old table
    // points at them.
    if (reuses && !released.empty()) {
      memoFile->moKeepJournal(&journal);
      for (int64_t blk : RunsToGiveBack(released, std::move(keptRuns))) memoFile->moMemoBlockRelease(blk);
      memoFile->moKeepJournal(nullptr);
    }
    ReplaceAndRenumber(target, tag);
  } catch (...) {
    if (XBobjMemo* memo = xbMemoObject()) {
      memo->moKeepJournal(nullptr);
      try {
        journal.Undo(*memo);
      } catch (const EXBaseError&) {
        // The failure on its way is the one to report.
      }
    }
    ReturnTo(0);
    RestoreTag(tag);
    throw;
  }
}

void XBO_dBHandler::xbZap() {
  RequireWholeTable("Zap");
  const AnsiString tag = PrimaryTagName_;
  const AnsiString password = xbvIsEncrypted() ? xbvPasswordIn() : AnsiString();
  xbSetTagTo("", true);
  // The empty table and memo file are made beside their names and the
  // indexes rebuilt empty on copies; all of them are put in place together,
  // or nothing changes.
  XBobjMemo* memo = xbMemoObject();
  const int records = NumRecs();
  try {
    TMaintTarget target(OwnNames(), StructureImage(&password), memo ? memo->moZappedImage() : MemoHeaderImage());
    SetNumRecs(0);
    RebuildIndexFiles([&] { target.Commit(); });
  } catch (...) {
    SetNumRecs(records);
    RestoreTag(tag);
    throw;
  }
  xbSetDBFCache(false);
  xbReopen();
  xbSetDBFCache(true);
  xbRefreshFilter();
  if (!tag.empty())
    xbSetTagTo(tag, false);
  else
    xbGetRec(xbRecTop);
}

}  // namespace xbase
