#include "xbase/xb_dbsy.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "xbase/xb_exp.h"

namespace xbase {

namespace {

// The cache's size: this many bytes of whole records, at least one record.
constexpr int kCacheBytes = 32768;

// Restores a flag on every exit.
class FlagRestore {
 public:
  explicit FlagRestore(bool& flag) : flag_(flag), was_(flag) {}
  ~FlagRestore() { flag_ = was_; }
  FlagRestore(const FlagRestore&) = delete;
  FlagRestore& operator=(const FlagRestore&) = delete;

 private:
  bool& flag_;
  bool was_;
};

}  // namespace

XBO_dBHandler::XBO_dBHandler(const std::string& fname, const AnsiString& password, bool readWrite, bool shared)
    : XBO_dBHandlerBase(fname, password, readWrite, shared) {}

XBO_dBHandler::~XBO_dBHandler() = default;

// --- Navigation ---

void XBO_dBHandler::BlankBuffer() { std::memset(CurRecord(), ' ', static_cast<size_t>(RecLen())); }

void XBO_dBHandler::xbGetRec(int RecNum) {
  if (RecNum == 0) {
    BlankBuffer();
    SetFile_EOF(true);
    return;
  }
  ResyncIndex_ = false;
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
  {
    FlagRestore cache(CacheRead_);
    for (int req = RecNum;; req = step) {
      const bool code = req < 0;
      if (FFilterOn_ && code && req != xbRecCurrent) {
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
  if (xbvRecRead_ && FFilterOn_ && !ResyncIndex_) ResyncIndex_ = !FilterBit(RecNumber());
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
  XBO_dBHandlerBase::xbPutRec(RecNum);
}

void XBO_dBHandler::xbAppend() { XBO_dBHandlerBase::xbAppend(); }

bool XBO_dBHandler::xbDBFEvent(dbFileEvent event, int action) {
  if (event == dbPostWrite && FFilterHndlr_ && FFilterSet_) {
    TxbExpValue v;
    FFilterHndlr_->ExpressionResult(v);
    FFilterSet_->ChangeBit(static_cast<uint32_t>(RecNumber()), v.Boolean() ? 1 : 0);
    if (FFilterOn_ && !ResyncIndex_) ResyncIndex_ = !v.Boolean();
  }
  return XBO_dBHandlerBase::xbDBFEvent(event, action);
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

void XBO_dBHandler::xbTruncate(int64_t loc) {
  CacheFirst_ = -1;
  XBO_dBHandlerBase::xbTruncate(loc);
}

}  // namespace xbase
