#include "xbase/handler/table_handler.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/Clock.h"
#include "xbase/base/errors.h"
#include "xbase/base/utilities.h"
#include "xbase/expr/expression.h"
#include "xbase/handler/handler_index_locks.h"

namespace xbase {

namespace {

// The cache's size: this many bytes of whole records, at least one record.
constexpr int kCacheBytes = 32768;

}  // namespace

XBO_dBHandler::XBO_dBHandler(const std::string& fname, const AnsiString& password, bool readWrite, bool shared)
    : XBO_dBHandlerBase(fname, password, readWrite, shared) {}

XBO_dBHandler::~XBO_dBHandler() {
  // The index files write out what they hold while the table they ask is
  // still whole.
  for (int slot = 1; slot <= MaxIndexFiles; ++slot) {
    try {
      if (IndexStack_[static_cast<size_t>(slot)]) CloseSlot(slot);
    } catch (const EXBaseError&) {
      // A destructor cannot report; xbIndexClear does.
    }
  }
  IndexMaster_ = nullptr;
}

bool XBO_dBHandler::xbLockIndexes() {
  TIndexLocks(*this, true).Keep();
  return true;
}

XBobjIndexFile* XBO_dBHandler::IndexStack(int slot) const {
  return slot >= 1 && slot <= MaxIndexFiles ? IndexStack_[static_cast<size_t>(slot)].get() : nullptr;
}

// --- Navigation ---

void XBO_dBHandler::BlankBuffer() { std::memset(CurRecord(), ' ', static_cast<size_t>(RecLen())); }

void XBO_dBHandler::xbGetRec(int RecNum) {
  if (RecNum == 0) {
    xbBlank();
    SetFile_EOF(true);
    return;
  }
  ResyncIndex_ = false;
  TIndexLocks locks(*this, UseReadLockIndex());
  if (dState() != dbBrowse) {
    ReadPhysical(RecNum);
    return;
  }
  // Re-reading the current record of a shared table is how a caller asks
  // for what other programs wrote.
  if (RecNum == xbRecCurrent && FileShared()) CacheFirst_ = -1;
  Navigate(RecNum);
}

void XBO_dBHandler::Navigate(int RecNum) {
  xbvRecRead_ = false;
  SetFile_EOF(false);
  SetFile_TOF(false);
  const int step = RecNum == xbRecBottom || RecNum == xbRecPrior ? xbRecPrior : xbRecNext;
  bool byKeyWalk = false;  // the record came from the tag's own walk
  {
    TValueScope<bool> cache(CacheRead_, CacheRead_);
    for (int req = RecNum;; req = step) {
      const bool code = req < 0;
      byKeyWalk = false;
      if (IndexMaster_ && code && SyncPending_ && req == xbRecCurrent) {
        // The record just appended, whose key the tag has: read again as
        // it stands, the tag put on it only when a move starts from it.
        CacheRead_ = false;
        byKeyWalk = true;
        ReadPhysical(RecNumber());
      } else if (IndexMaster_ && code) {
        CacheRead_ = false;
        if (req != xbRecTop && req != xbRecBottom) SyncMaster();
        if (req == xbRecCurrent && IndexMaster_->CurKeyInfo().Tag == 0 && RecNumber() > 0)
          IndexMaster_->KeySync(RecNumber());
        SyncPending_ = false;
        int rn = IndexMaster_->KeyRead(req);
        while (rn > 0 && FFilterOn_ && !FilterBit(rn)) rn = IndexMaster_->KeyRead(step);
        SetFile_EOF(IndexMaster_->TagEOF());
        SetFile_TOF(IndexMaster_->TagBOF());
        if (rn <= 0) {
          if (!File_EOF() && !File_TOF()) (step == xbRecNext ? SetFile_EOF(true) : SetFile_TOF(true));
          break;
        }
        byKeyWalk = true;
        ReadPhysical(rn);
      } else if (FFilterOn_ && code && req != xbRecCurrent) {
        const int rn = NextFilterRecord(req);
        if (rn == 0) break;
        ReadPhysical(rn);
      } else {
        ReadPhysical(req);
      }
      if (File_EOF() || File_TOF() || !code) break;
      if ((UseDeletedRec() || !xbDelFlag()) && xbTestFilter()) break;
    }
  }
  if (File_EOF()) BlankBuffer();
  xbvRecRead_ = !File_EOF() && !File_TOF();
  if (xbvRecRead_ && !byKeyWalk) {
    if (IndexMaster_) {
      SyncPending_ = false;
      ResyncIndex_ = IndexMaster_->KeySync(RecNumber()) != RecNumber();
    }
    if (FFilterOn_ && !ResyncIndex_) ResyncIndex_ = !FilterBit(RecNumber());
  }
}

bool XBO_dBHandler::FilterBit(int rec) const {
  return FFilterSet_ && rec > 0 && FFilterSet_->BitValue(static_cast<uint32_t>(rec));
}

int XBO_dBHandler::NextFilterRecord(int code) {
  const int64_t high = FFilterSet_ ? std::min<int64_t>(FFilterSet_->HighestBit(), NumRecs()) : 0;
  if (high < 1) {
    SetFile_EOF(true);
    SetFile_TOF(true);
    return 0;
  }
  int64_t from = 0;
  int dir = 1;
  switch (code) {
    case xbRecTop: from = 1; break;
    case xbRecBottom: from = high, dir = -1; break;
    case xbRecNext: from = int64_t{RecNumber()} + 1; break;
    default: from = std::min<int64_t>(int64_t{RecNumber()} - 1, high), dir = -1; break;
  }
  for (int64_t r = from; r >= 1 && r <= high; r += dir)
    if (FFilterSet_->BitValue(static_cast<uint32_t>(r))) return static_cast<int>(r);
  if (dir > 0)
    SetFile_EOF(true);
  else
    SetFile_TOF(true);
  return 0;
}

bool XBO_dBHandler::xbTestFilter() { return !FFilterOn_ || FilterBit(RecNumber()); }

void XBO_dBHandler::xbSkip(int RecCnt) {
  if (RecCnt == 0) {
    xbGetRec(xbRecCurrent);
    return;
  }
  if (!FFilterLive_ && UseDeletedRec()) {
    JumpSkip(RecCnt);
    return;
  }
  const int code = RecCnt > 0 ? xbRecNext : xbRecPrior;
  for (int64_t i = std::abs(int64_t{RecCnt}); i > 0; --i) {
    xbGetRec(code);
    if (File_EOF() || File_TOF()) break;
  }
}

void XBO_dBHandler::JumpSkip(int RecCnt) {
  ResyncIndex_ = false;
  const bool forward = RecCnt > 0;
  if (IndexMaster_) {
    XBobjIndexTag& tag = *IndexMaster_;
    SyncPending_ = false;
    int rn = tag.KeySync(RecNumber());
    bool ranOff = false;
    for (int64_t i = std::abs(int64_t{RecCnt}); i > 0; --i) {
      const int next = tag.KeyRead(forward ? xbRecNext : xbRecPrior);
      if (next == 0) {
        ranOff = true;
        rn = tag.KeyRead(forward ? xbRecBottom : xbRecTop);
        break;
      }
      rn = next;
    }
    if (rn <= 0) {  // no key at all
      BlankBuffer();
      SetFile_EOF(true);
      SetFile_TOF(true);
      xbvRecRead_ = false;
      return;
    }
    ReadPhysical(rn);
    if (ranOff) {
      SetFile_EOF(forward);
      SetFile_TOF(!forward);
    }
    xbvRecRead_ = !File_EOF() && !File_TOF();
    return;
  }
  int64_t target = int64_t{RecNumber()} + RecCnt;
  const bool ranOff = target < 1 || target > NumRecs();
  target = std::clamp<int64_t>(target, 1, std::max(NumRecs(), 1));
  ReadPhysical(static_cast<int>(target));
  if (ranOff && !(File_EOF() && File_TOF())) {
    SetFile_EOF(forward);
    SetFile_TOF(!forward);
  }
  xbvRecRead_ = !File_EOF() && !File_TOF();
}

int XBO_dBHandler::xbGetKey(int RecNum, AnsiString& keyst) {
  keyst.clear();
  if (!IndexMaster_) return 0;
  if (RecNum != xbRecTop && RecNum != xbRecBottom) SyncMaster();
  SyncPending_ = false;
  const int rn = IndexMaster_->KeyRead(RecNum);
  if (rn > 0) keyst = IndexMaster_->CurKeyInfo().GetString();
  return rn;
}

int XBO_dBHandler::xbRecordCount(bool Exact) {
  if (!Exact) return NumRecs();
  const int start = RecNumber();
  int count = 0;
  for (xbGetRec(xbRecTop); xbvRecRead_; xbGetRec(xbRecNext)) ++count;
  if (start > 0 && start <= NumRecs()) xbGetRec(start);
  return count;
}

// --- Writes ---

void XBO_dBHandler::xbPutRec(int RecNum) {
  ResyncIndex_ = false;
  TIndexLocks locks(*this, true);
  CheckIndexesUpdatable();
  XBO_dBHandlerBase::xbPutRec(RecNum);
}

void XBO_dBHandler::xbAppend() {
  // The table's append lock before the indexes', as on every road: a
  // program holding the table's file lock and waiting for our index locks
  // would otherwise hold what we wait for.
  xbLockAppend();
  try {
    TIndexLocks locks(*this, true);
    CheckIndexesUpdatable();
    XBO_dBHandlerBase::xbAppend();
  } catch (...) {
    xbUnlockAppend();
    throw;
  }
  xbUnlockAppend();
}

void XBO_dBHandler::CheckIndexesUpdatable() {
  // Before anything is written: no index may come to hold keys of two
  // orders.
  if (IndexCount_ == 0) return;
  for (auto& f : IndexStack_)
    if (f) f->CheckUpdatable();
}

bool XBO_dBHandler::xbDBFEvent(dbFileEvent event, int action) {
  if (event == dbPostWrite) {
    bool passes = true;
    if (FFilterHndlr_ && FFilterSet_) {
      TxbExpValue v;
      FFilterHndlr_->ExpressionResult(v);
      passes = v.Boolean();
      FFilterSet_->ChangeBit(static_cast<uint32_t>(RecNumber()), passes ? 1 : 0);
    }
    KeepIndexesInStep(action);
    if (FFilterOn_ && !ResyncIndex_) ResyncIndex_ = !passes;
  } else if (event == dbFlush) {
    FlushIndexes();
  }
  return XBO_dBHandlerBase::xbDBFEvent(event, action);
}

void XBO_dBHandler::KeepIndexesInStep(int action) {
  if (IndexCount_ == 0) return;
  for (auto& f : IndexStack_) {
    if (!f) continue;
    // Pages of a shared file loaded before its lock was taken may be out
    // of date: other programs change them. The tags read them afresh.
    if (f->DiskFile() && f->DiskFile()->FileShared())
      for (int i = 0; i < f->TagCount(); ++i) f->TagByNumber(i)->TagClose();
    f->TagUpdate(RecNumber(), action == 0);
  }
  // An order another program removed keeps no keys; reading through it
  // says so.
  if (!IndexMaster_ || IndexMaster_->Retired()) return;
  ActiveIndexChg_ = IndexMaster_->KeyUpdated();
  if (action == 0 && ActiveIndexChg_ && !IndexMaster_->GetRangeActive()) {
    // An appended record whose key went in stands in the order for sure;
    // finding its key again costs a descent the next find or walk from the
    // top would throw away. It is done when a move starts from the record.
    SyncPending_ = true;
    ResyncIndex_ = false;
    SetFile_TOF(false);
    SetFile_EOF(false);
    return;
  }
  SyncPending_ = false;
  ResyncIndex_ = IndexMaster_->KeySync(RecNumber()) != RecNumber();
  SetFile_TOF(IndexMaster_->TagBOF());
  SetFile_EOF(IndexMaster_->TagEOF());
}

void XBO_dBHandler::SyncMaster() {
  if (!SyncPending_ || !IndexMaster_) return;
  SyncPending_ = false;
  IndexMaster_->KeySync(RecNumber());
}

bool XBO_dBHandler::IndexRecModified() const {
  return RecModified() || std::memcmp(CurRecord(), OrigRec(), static_cast<size_t>(RecLen())) != 0;
}

void XBO_dBHandler::IndexUseOrigRec(bool on) {
  if (on) {
    OrigViewFor_ = CurRecord();
    OrigView_.assign(OrigRec(), OrigRec() + RecLen());
    OrigView_.push_back(0x1A);
    SetCurRecord(OrigView_.data());
  } else if (OrigViewFor_) {
    SetCurRecord(OrigViewFor_);
    OrigViewFor_ = nullptr;
  }
}

void XBO_dBHandler::IndexViewRecord(int n) {
  if (n > 0) {
    if (!RecordViewFor_) RecordViewFor_ = CurRecord();
    RecordView_.resize(static_cast<size_t>(RecLen()) + 1);
    if (!ReadRecordInto(n, RecordView_.data())) XBRaise(xbmReadError, {FileName()});
    RecordView_.back() = 0x1A;
    SetCurRecord(RecordView_.data());
  } else if (RecordViewFor_) {
    SetCurRecord(RecordViewFor_);
    RecordViewFor_ = nullptr;
  }
}

void XBO_dBHandler::IndexMarkProduction() {
  // A table open for reading still reads its production index; it only
  // does not mark it.
  if (!FileReadWrite() || IndexFlag() != 0) return;
  SetIndexFlag(1);
  SetWithIndex(true);
  // The flag and the date of the change, nothing else: the record count in
  // hand may be older than the file's on a shared table.
  const platform::TSystemTime t = platform::LocalTimeOf(platform::WallClockMs());
  const uint8_t date[3] = {static_cast<uint8_t>(t.year % 100), static_cast<uint8_t>(t.month),
                           static_cast<uint8_t>(t.day)};
  uint8_t flag = 0;
  if (xbRead(28, &flag, 1) != 1) XBRaise(xbmReadError, {FileName()});
  flag |= 1;
  xbWrite(1, date, 3);
  xbWrite(28, &flag, 1);
}

// --- The record cache ---

void XBO_dBHandler::xbSetDBFCacheAllowed(bool tf) {
  CacheAllowed_ = tf;
  if (!tf) xbSetDBFCache(false);
}

void XBO_dBHandler::xbSetDBFCache(bool tf) {
  tf = tf && CacheAllowed_;
  if (tf == CacheRead_ && (tf == !Cache_.empty())) return;
  if (tf) {
    CacheRecs_ = std::max(1, kCacheBytes / RecLen());
    CacheSize_ = CacheRecs_ * RecLen();
    Cache_.assign(static_cast<size_t>(CacheSize_), 0);
  } else {
    std::vector<uint8_t>().swap(Cache_);
    CacheSize_ = CacheRecs_ = 0;
  }
  CacheRead_ = tf;
  CacheFirst_ = -1;
  CacheLast_ = 0;
}

void XBO_dBHandler::FillCache(int64_t blk) {
  CacheFirst_ = -1;  // in case the read raises
  const int got = XBO_dBHandlerBase::xbRead(blk, Cache_.data(), CacheSize_);
  CacheFirst_ = blk;
  CacheLast_ = blk + std::max(got, 0);
}

int XBO_dBHandler::xbRead(int64_t blk, void* dat, int len) {
  if (!CacheRead_ || Cache_.empty() || blk < HeadLen() || len != RecLen())
    return XBO_dBHandlerBase::xbRead(blk, dat, len);
  if (CacheFirst_ < 0 || blk < CacheFirst_ || blk + len > CacheLast_) FillCache(blk);
  if (blk >= CacheLast_) return 0;
  const int n = static_cast<int>(std::min<int64_t>(len, CacheLast_ - blk));
  std::memcpy(dat, Cache_.data() + (blk - CacheFirst_), static_cast<size_t>(n));
  return n;
}

int XBO_dBHandler::xbWrite(int64_t blk, const void* dat, int len) {
  const int n = XBO_dBHandlerBase::xbWrite(blk, dat, len);
  if (CacheFirst_ >= 0) {
    // Only the part inside the cached span: an append at the end of the
    // file writes its record and 0x1A beyond it.
    const int64_t lo = std::max(blk, CacheFirst_), hi = std::min(blk + len, CacheLast_);
    if (lo < hi)
      std::memcpy(Cache_.data() + (lo - CacheFirst_), static_cast<const uint8_t*>(dat) + (lo - blk),
                  static_cast<size_t>(hi - lo));
  }
  return n;
}

void XBO_dBHandler::LockedRecordsMayHaveChanged(int recNo) {
  if (CacheFirst_ < 0) return;
  const int64_t pos = int64_t{HeadLen()} + int64_t{recNo - 1} * RecLen();
  if (recNo < 1 || (pos < CacheLast_ && pos + RecLen() > CacheFirst_)) CacheFirst_ = -1;
}

void XBO_dBHandler::xbTruncate(int64_t loc) {
  CacheFirst_ = -1;
  XBO_dBHandlerBase::xbTruncate(loc);
}

}  // namespace xbase
