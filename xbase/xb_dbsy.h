// The table handler: one open table with everything that orders and
// restricts it -- its open index files and the active index order (tag), a
// read-ahead record cache, the record filter -- and the table password.
//
// Record numbers are physical and 1-based. xbGetRec takes the table's
// record-number codes (xbRecNext, xbRecPrior, xbRecTop, xbRecBottom,
// xbRecCurrent); in browse state they move through the active tag when
// there is one, else in physical order, and pass over records that are
// flagged deleted while deleted records are hidden (UseDeletedRec off) and
// records the filter keeps out. A positive number reads that record
// whatever it holds.
//
// The record cache holds a run of whole records read with one transfer
// (32 KB, at least one record); it serves reads in physical order and is
// off while a tag is active, whose key order jumps about the file. Writes go
// through to the file and into the cached span, so the cache never shows a
// record older than the file as this handler wrote it. (On a shared table
// other programs' writes show once the cache is refilled or the record is
// re-read with xbRecCurrent.)
//
// One user at a time; not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "xbase/xb_dbf.h"
#include "xbase/xb_fld.h"
#include "xbase/xb_util.h"

namespace xbase {

class TxbExpHandler;
class XBobjIndexTag;

// The class the handler builds on: the table file with its fields.
using XBO_dBHandlerBase = XBO_dBaseFld;

class XBO_dBHandler : public XBO_dBHandlerBase {
 public:
  // Opens the table as XBO_dBaseDBF does (same errors), in natural order,
  // without index files or filter, the cache off but allowed.
  XBO_dBHandler(const std::string& fname, const AnsiString& password, bool readWrite, bool shared);
  ~XBO_dBHandler() override;

  // --- Navigation ---

  // Reads a record as the table does, in browse state through the active
  // order: a code moves until it reaches a record that is shown (not
  // flagged deleted while deleted records are hidden, and passing the
  // filter); xbRecCurrent on a record that is not shown moves forward.
  // Moving past the last record blanks the buffer and sets File_EOF; before
  // the first sets File_TOF (the buffer keeps the last record read). 0
  // blanks the buffer and sets File_EOF. A positive number reads that
  // record; with a tag, ResyncIndex then tells whether the tag could not be
  // placed on it (the record lies outside the tag's keys). Outside browse
  // state the table reads exactly what is asked.
  void xbGetRec(int RecNum) override;
  // Moves RecCnt shown records forward (negative: backward); 0 re-reads the
  // current record. Stops at the ends with File_EOF / File_TOF set. When
  // every record is shown (no filter, deleted records visible) it jumps by
  // record number or by keys without reading the records in between, and a
  // jump past an end stands on the last / first record with the flag set.
  void xbSkip(int RecCnt);
  // xbGetRec(xbRecCurrent).
  void xbRefresh() { xbGetRec(xbRecCurrent); }
  // NumRecs, or with Exact the records shown (a walk from the top), after
  // which the handler stands on the record it started on again.
  int xbRecordCount(bool Exact);
  // Whether the current record passes the filter (true while none is in
  // force).
  virtual bool xbTestFilter();

  // --- Writes ---

  // Write the record as the table does; the index files are locked around
  // the write and their keys kept in step.
  void xbPutRec(int RecNum) override;
  void xbAppend() override;
  // Keeps the filter bit and the index files in step with a written record
  // (dbPostWrite), and the active tag placed on the record after a flush
  // (dbFlush); then the table's own handling.
  bool xbDBFEvent(dbFileEvent event, int action) override;

  // --- The record cache ---

  // Whether the cache may be used at all; false also switches it off.
  void xbSetDBFCacheAllowed(bool tf);
  // Switches the cache on (only while allowed) or off.
  void xbSetDBFCache(bool tf);
  // Reads of one record in the data area come from the cache while it is
  // on; it is refilled with one transfer when the record is not in it. A
  // position past the end of the file delivers 0 bytes.
  int xbRead(int64_t blk, void* dat, int len) override;
  // Writes go to the file, and the part inside the cached span into the
  // cache too.
  int xbWrite(int64_t blk, const void* dat, int len) override;
  // Truncates as the table does; the cache forgets what it held.
  void xbTruncate(int64_t loc) override;

  // --- State ---

  bool CacheRead() const { return CacheRead_; }
  bool CacheAllowed() const { return CacheAllowed_; }
  int CacheRecs() const { return CacheRecs_; }
  int CacheSize() const { return CacheSize_; }
  int64_t CacheFirst() const { return CacheFirst_; }
  int64_t CacheLast() const { return CacheLast_; }
  // The last navigation landed on a record.
  bool xbvRecRead() const { return xbvRecRead_; }
  // After a read or write the active tag could not be kept on the record.
  bool ResyncIndex() const { return ResyncIndex_; }
  // The last write changed the active tag's key.
  bool ActiveIndexChg() const { return ActiveIndexChg_; }
  // Reads in sort work: kept for the sort; records are copied all the same.
  bool DoingSort() const { return DoingSort_; }
  void SetDoingSort(bool v) { DoingSort_ = v; }
  bool xbvFound() const { return xbvFound_; }
  bool xbvFindNear() const { return xbvFindNear_; }
  void SetxbvFindNear(bool v) { xbvFindNear_ = v; }
  uint16_t SearchMode() const { return SearchMode_; }
  void SetSearchMode(uint16_t v) { SearchMode_ = v; }
  // The active tag (nullptr in natural order) and its name.
  XBobjIndexTag* IndexMaster() const { return IndexMaster_; }
  const AnsiString& PrimaryTagName() const { return PrimaryTagName_; }
  // The filter is in force.
  bool FilterOn() const { return FFilterOn_; }

 private:
  // One physical record into the buffer, as the table reads it.
  void ReadPhysical(int n) { XBO_dBHandlerBase::xbGetRec(n); }
  // The buffer blanked without events (the phantom record at the end).
  void BlankBuffer();
  // The browse-state walk of xbGetRec.
  void Navigate(int RecNum);
  // Without a tag, with the filter in force: the next set bit from a code;
  // 0 when the walk ran off the set (the flags are then set).
  int NextFilterRecord(int code);
  bool FilterBit(int rec) const;
  // The jump of xbSkip when every record is shown.
  void JumpSkip(int RecCnt);
  // Fills the cache from byte `blk`.
  void FillCache(int64_t blk);

  XBobjIndexTag* IndexMaster_ = nullptr;
  AnsiString PrimaryTagName_;

  int64_t CacheFirst_ = -1;
  int64_t CacheLast_ = 0;
  std::vector<uint8_t> Cache_;
  int CacheRecs_ = 0;
  int CacheSize_ = 0;
  bool CacheRead_ = false;
  bool CacheAllowed_ = true;

  bool xbvFound_ = false;
  bool xbvFindNear_ = false;
  bool xbvRecRead_ = false;
  bool DoingSort_ = false;
  bool ResyncIndex_ = false;
  bool ActiveIndexChg_ = false;

  std::unique_ptr<TxbHugeSet> FFilterSet_;
  std::unique_ptr<TxbExpHandler> FFilterHndlr_;
  AnsiString FFilterExpr_;
  bool FFilterLive_ = false;
  bool FFilterOn_ = false;
  bool FOptimizeFilter_ = false;
  int xbFilterTime_ = 0;
  uint16_t SearchMode_ = 1;
};

}  // namespace xbase
