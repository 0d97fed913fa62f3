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
// Index files: the handler owns up to 63 open index files; one tag of them
// may be the active order. Every write keeps every tag of every open file
// in step (under the files' index locks when shared). An index file opened
// exclusively keeps its pages in its block cache until it is closed or the
// table is synced (xbSync); a shared one is written out at every append, so
// that other programs see the keys with the records.
//
// The table password scrambles records, memos and index pages; changing it
// rewrites the table through a replacement file.
//
// One user at a time; not thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/DBValues.h"
#include "xbase/base/utilities.h"
#include "xbase/index/index_framework.h"
#include "xbase/table/fields.h"

namespace xbase {

class TxbExpBaseObject;
class TxbExpHandler;
class TxbExpOperator;
class TxbVariant;
class XBobjSortDB;

// The class the handler builds on: the table file with its fields.
using XBO_dBHandlerBase = XBO_dBaseFld;

// Whether a new index takes equal keys.
enum class XBsetIndexUnique : uint8_t { Unique, Duplicates };
// The order of a new index or sort. The General orders ask a compound
// index for its dictionary collation; they count as Ascending and
// Descending otherwise. A sort runs upwards only for SortUp.
enum class XBsetSortStatus : uint8_t { Ascending, Descending, AscendingGeneral, DescendingGeneral, SortUp, SortDown };

// The handler owns its index files (up to 63, kept in slots 1..63 in the
// order they were opened); the active tag belongs to one of them. Index
// files reach the table only through XBobjIndexOwner, which the handler
// implements for them.
class XBO_dBHandler : public XBO_dBHandlerBase, private XBobjIndexOwner {
 public:
  // Index files open at once, at most.
  static constexpr int MaxIndexFiles = 63;

  // Opens the table as XBO_dBaseFld does (same errors), in natural order,
  // without index files or filter, the cache off but allowed.
  XBO_dBHandler(const std::string& fname, const AnsiString& password, bool readWrite, bool shared);
  // Closes the index files, writing out what their block caches hold, then
  // the table. Errors cannot be reported here: xbIndexClear first raises
  // them.
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
  // With an active tag: the move RecNum (a code) on the tag alone; the
  // record number reached (0 at an end) and its key's text in `keyst`.
  // Without one: 0 and "".
  int xbGetKey(int RecNum, AnsiString& keyst);

  // --- Writes ---

  // Write the record as the table does; the index files are locked around
  // the write and every tag's key kept in step. Afterwards the active tag
  // stands on the record (ResyncIndex when it cannot: the record's key is
  // outside it), and ActiveIndexChg tells whether its key changed. A unique
  // tag keeps the first record of a key only.
  void xbPutRec(int RecNum) override;
  void xbAppend() override;
  // Keeps the filter bit and the index files in step with a written record
  // (dbPostWrite); on dbFlush hands the shared index files' pages to the
  // system and puts the active tag back on the record. Then the table's
  // own handling.
  bool xbDBFEvent(dbFileEvent event, int action) override;
  // Writes out every index file's pages the block cache holds and waits
  // until index files and table are on the medium.
  void xbSync() override;
  // Renames the table with its memo file, and the open index files that
  // bear the table's name with it (keeping their extensions). When one
  // cannot follow, everything goes back to its old name and 65170 is raised.
  bool xbRename(const std::string& newName) override;

  // --- Index files and the active order ---

  // Closes every index file, then opens those of the list `INames` (names
  // separated by ',' or ';' outside double quotes; quotes and tabs are
  // dropped) and selects `Tag` ("" natural order). The result of the last
  // opening: 0 when all opened, 1 for an empty list, -1 when a name was
  // empty or already open (the walk stops there and no tag is selected).
  int xbIndex(const std::string& INames, const AnsiString& Tag);
  // Opens one index file (xbIndexFileExtend) with the table's modes and
  // lock protocol into the first free slot; 0. An empty name or a file
  // already open: -1, nothing done. The format is chosen by the extension,
  // case ignored (".ndx", ".ntx", ".cdx", ".mdx"); another extension, or a
  // missing file, raises 65199, a damaged file 65141, a full stack 65171
  // (the file is closed).
  int xbIndexRoute(const std::string& IName);
  // The full name of an index file: beside the table when `IName` has no
  // folder, ".ndx" when it has no extension.
  std::string xbIndexFileExtend(const std::string& IName) const;
  // The slot (1..63) holding the index file of that name (its file-name
  // part, case ignored), 0 if none.
  int xbIndexFileIsOpen(const std::string& IName) const;
  // Closes one index file (natural order first when the active tag is in
  // it): 0, or 1 when the name is empty or not open.
  int xbIndexFileRemove(const std::string& IName);
  // Closes (when open) and deletes one index file; when it cannot be
  // deleted it is emptied under its whole-file lock instead. 0 when either
  // worked, 1 when neither did.
  int xbIndexFileKill(const std::string& IName);
  // Deletes tag `Tag` of the open index file `IName` (a file left without
  // tags is closed): 0 done, 1 no such tag, -1 the file refused.
  int xbIndexTagRemove(const std::string& IName, const AnsiString& Tag);
  // Selects natural order and closes every index file.
  void xbIndexClear();
  // Puts `ix` into the first free slot and takes it over; its slot, or -1
  // (and `ix` stays with the caller) when all 63 are used.
  int xbIndexInsert(std::unique_ptr<XBobjIndexFile>& ix);
  // Builds the index file `IName` anew from every record: its one tag (NDX,
  // NTX: named after the file) on `keyexpr`, with the FOR condition `forexpr`
  // ("" none). Every open index file is closed first, and the new file is
  // left closed: xbIndexRoute opens it. An existing NDX or NTX file of that
  // name, in any case, is replaced; a CDX or MDX file gets tag `tag` beside
  // its others. 0. A descending NDX raises before anything is
  // written; another format's extension raises 65199.
  int xbIndexTo(const std::string& IName, const AnsiString& tag, const AnsiString& keyexpr,
                const AnsiString& forexpr, XBsetIndexUnique uniq, XBsetSortStatus ascnd);
  // Builds an index kept in memory under `tag` (a file of that name open
  // before is closed) and makes it active at the top. An empty tag raises
  // 65143, an empty key 65145, a full stack 65171.
  bool xbMemoryIndexAdd(const AnsiString& tag, const AnsiString& keyexpr, const AnsiString& forexpr,
                        XBsetIndexUnique uniq, XBsetSortStatus ascnd);
  // Selects the tag `TName` (trimmed, case ignored; the first open file
  // that has it) as the active order, or natural order for "". The old
  // tag's range is cleared. With SameRec the current record is read again
  // through the new order (the top when the tag cannot stand on it); else
  // the handler goes to the top (natural order: stays). The slot of the
  // tag's file, 0 for natural order. An unknown tag raises 65142 and leaves
  // the old one active.
  int xbSetTagTo(const AnsiString& TName, bool SameRec);
  // Rebuilds every open index file from the table, then selects the active
  // tag again at the top.
  void xbReIndex();
  // The Value-th tag (1-based) counting the tags of the files in slot
  // order; nullptr when there is none.
  XBobjIndexTag* xbIndexPointer(int Value) const;
  // Selects the Value-th tag (natural order when there is none), keeping
  // the record.
  void xbIndexOrder(int Value);
  // The Value-th tag's key for the current record, into ExpVar; false when
  // there is no such tag.
  bool xbIndexKeyValue(int Value, TxbVariant& ExpVar);
  // Reads record RecN when it is not the current one, then the active
  // tag's place of its key from 0 to 1 (0 without a tag): approximate, or
  // with `exact` counted under the index lock.
  double xbGetIndexPercent(int RecN, bool exact);
  // Moves the active tag to the key at that place (0..1) and reads its
  // record; nothing without a tag.
  void xbSetIndexPercent(double apct, bool exact);

  // --- Locks ---

  // Waits for the index lock of every open index file (65198 when one
  // cannot be had; those already taken are released then); true.
  bool xbLockIndexes();
  // Releases the index files' locks whatever their counts; true.
  bool xbUnLockIndexes();
  // The same for the active tag's file only (true without a tag).
  bool xbLockActiveIndex();
  bool xbUnLockActiveIndex();
  // The table's protocol, passed on to every open index file.
  void xbSetLockProtocol(XBsetLokProtocol p) override;
  // Whether an index file is open (record locks stand elsewhere then).
  bool xbWithIndex() override;

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

  // --- The table password ---

  // Scrambles the table, its memos, its open index files and its own
  // compound index file (open or not) under `APassword` ("" makes the table
  // plain again). A shared table is refused (65173 "SetPassword"); the same
  // password, or "" for a plain table, changes nothing; fields a scrambled
  // table cannot hold (ReadDescriptors), which the password could not
  // reopen, are refused before anything is written. The table and index
  // files are rewritten whole beside themselves and replace the old ones
  // together, only when all are complete; memos are written anew beside
  // the old ones, which are wiped (and, in a dBase IV memo file, freed) only
  // once the new table stands, so a failure leaves the table readable with
  // its old password.
  void xbSetPassword(const AnsiString& APassword);

  // --- Filter ---

  // Sets the filter to the logical expression `FiltExpr` over the table's
  // fields (text comparisons ignoring case with Insensitive; '*' and '?' as
  // wildcards on the right of a comparison with Wildcards) and marks in the
  // filter bitmap every record 1..NumRecs that passes, deleted ones and
  // those outside a range included, so later changes of either need no
  // rebuild. With OptimizeFilter the bitmap comes from the index tags when
  // they can answer every comparison exactly as the expression would (the
  // records selected never depend on it); else every record is read. The
  // same text with the same options again keeps the bitmap; Refresh
  // rebuilds it for the current expression. A blank text removes the
  // expression. A text that does not compile raises the parser's error, one
  // that is not logical 65190; the filter is then removed. Afterwards the
  // handler stands on the record it stood on (the top when none). Record
  // writes keep the bitmap in step.
  void xbSetFilterExpr(const AnsiString& FiltExpr, bool Insensitive, bool Wildcards, bool Refresh);
  // The filter switch: the filter is in force while it is on and an
  // expression is set.
  void xbSetFilterActive(bool Value);
  // Rebuilds the bitmap of the current expression.
  void xbRefreshFilter();
  // Builds the bitmap of the current expression, compiled from `FiltExpr`
  // with these options, from the index tags alone; false (nothing changed)
  // when they cannot answer it exactly, or the expression is another.
  bool xbSetFastFilterExpr(const AnsiString& FiltExpr, bool Insensitive, bool Wildcards);
  // The same for the current expression: 2 when the tags answered it whole
  // (the bitmap is theirs), 0 when not.
  int xbSetFastFilterParse();
  bool OptimizeFilter() const { return FOptimizeFilter_; }
  void SetOptimizeFilter(bool v) { FOptimizeFilter_ = v; }
  bool FilterLive() const { return FFilterLive_; }
  const AnsiString& FilterExpr() const { return FFilterExpr_; }
  // Milliseconds the last bitmap build took.
  int xbFilterTime() const { return xbFilterTime_; }

  // --- Ranges and finds ---

  // Limits the active tag to the keys from RLo to RHi (a blank bound: open
  // on that side), the bounds counted with LoIn / HiIn, the high bound
  // compared over its own length with Partial, and goes to the first record
  // of the range (a blank buffer when there is none). False without a tag
  // (nothing changes). Without GoTop the record buffer is left as it is,
  // for a caller that goes to the first record itself next.
  bool xbSetRange(const AnsiString& RLo, const AnsiString& RHi, bool LoIn, bool HiIn, bool Partial,
                  bool GoTop = true);
  // Removes the active tag's range; the tag stays on the record.
  void xbResetRange();
  // Seeks `st` on the active tag and reads its record, passing on over
  // records that are hidden (deleted, filtered out) in key order. Found
  // (xbvFound) when that record's key equals `st`, or without
  // xbvExactMatch begins with it. Not found: with soft seek (xbvFindNear)
  // the handler stands on the next greater key's record (the same passing
  // on); else, and without a tag or a greater key, on the bottom record
  // with File_EOF set.
  virtual bool xbFind(const AnsiString& st);
  // The record holding the whole key `ky` in the tag named `st` of the open
  // index files (the range not counted), 0 when none; -1 when there is no
  // such tag. The handler does not move.
  virtual int xbHuntDuplicate(const AnsiString& st, const AnsiString& ky);
  // The key `Expr` gives for a record whose fields, those `Expr` names in
  // order, hold `Values` (numbers, text, "T"/"F" for booleans, dates as
  // "yyyymmdd" in a D field; values beyond those fields are ignored): as an
  // index of that expression stores it. As text (a number or date in its
  // text form).
  AnsiString xbBuildKey(std::span<const dataaccess::TVariant> Values, TxbExpHandler& Expr);
  // Finds the first record shown, from the top (RecNum 0) or after record
  // RecNum, whose fields `KeyFields` (';'-separated) hold `KeyValues` (text
  // compared without trailing blanks, numbers and dates by value; ignoring
  // case with IsInsensitive; with IsPartial the last field only begins with
  // its value) and reads it. A tag whose key is made of those fields serves
  // a case-sensitive search from the top; else the records are read in
  // natural order (within the range of the active tag when it has one).
  // False: the handler is at the end (File_EOF).
  bool xbLocateRecord(const AnsiString& KeyFields, std::span<const dataaccess::TVariant> KeyValues,
                      bool IsInsensitive, bool IsPartial, int RecNum);
  // The first tag, the active one first, then by number, whose key
  // expression (trimmed, case ignored) is `Value`, or with Partial begins
  // with it; tags with a FOR condition only with UseConditional. nullptr
  // when none.
  XBobjIndexTag* xbIndexExpressionFind(const AnsiString& Value, bool Partial, bool UseConditional);
  // Searches the fields of the records after `fromrec` (0: from the top)
  // up to record `torec` (0: the end) for the text `s`, by SearchMode:
  //   1  case ignored;   2  a text field must begin with `s`;
  //   4  wildcards: a leading '*' lets the match begin anywhere, a trailing
  //      one lets anything follow, '?' stands for any one character (not
  //      after a leading '*'); without a '*' the text must fill the field
  //   8  hidden records stay hidden (else every record is read while
  //      deleted records are shown);   16  in the active tag's order;
  //   32 without wildcards the match must begin the field.
  // Field `FNum` only (0: every field in order): C fields as text, N and F
  // by value, D by date (when `s` begins with a digit), L (one field only)
  // by its first character, memos as text. On a match the handler stands
  // on the record, FNum and fromrec name field and record, and the result
  // is the match's position in the field (1 for values; at most 65535).
  // Else 0 and the handler goes back to its record. Progress goes to
  // xbStatusUpdate.
  uint16_t xbSearchDBF(const AnsiString& s, uint16_t& FNum, int& fromrec, int torec);

  // --- Table maintenance (handler/table_maintenance.cpp) ---
  //
  // A new table (copy, sort) and a packed one are written beside their
  // final names and replace them only when complete, the memo file just
  // before the table: a failure leaves every file as it was and none added.
  // A copy or sort target that is this table or its memo file (by identity,
  // not name) raises 65173 before anything is written; a target name
  // without extension gets ".dbf", and a target that exists in another
  // letter case is the one replaced. Progress goes to
  // xbStatusUpdate(operation, phase, records): operation 1 copy, 2 sort,
  // 3 pack, 4 pack in place; phase 0 the start (with NumRecs), 1 a record,
  // 2 the end (both with the records done).

  // Writes the empty table `filname` with this table's header and field
  // descriptors as they stand (scrambled ones too) and record count 0, and
  // a new memo file when the table has memos (65173 "CopyStructure").
  void xbCopyStructure(const std::string& filname);
  // Copies the records shown (the active order, filter and deleted-record
  // rules of navigation), with their deletion flags and memos, into the new
  // table `filname`, scrambled under `apassword` ("" plain). The whole
  // table is locked meanwhile (65173 "CopyFile" when the lock cannot be
  // had, or when the target is this table). Afterwards the handler stands
  // on the record it stood on.
  void xbCopyFile(const std::string& filname, const AnsiString& apassword);
  // Appends the current record, with its deletion flag and its memos, to
  // `filobj` (blank-filled when its records are longer). A target whose
  // records are shorter than this table's, or that has no memo field where
  // this table has one, raises 65140 naming it.
  void xbCopyRecord(XBO_dBHandler& filobj);
  // Writes the memos of the current record into df's memo file as new
  // memos and points the same fields of df's current record at them.
  void xbCopyMemoRecord(XBO_dBHandler& df);
  // Writes the records shown into the new table `filname` as xbCopyFile
  // does (65173 "SortFile"), in the order of the key expression `zfld`:
  // upwards for SortUp, Ascending and AscendingGeneral, else downwards;
  // equal keys in record order (reversed downwards). The expression is
  // trimmed and upper-cased and must then be 1-240 characters long, and
  // each key at most 240 bytes (65162); keys are all taken before the
  // target is begun. The sorter spills to xbvTempDir (the system's folder
  // when empty).
  void xbSortFile(const std::string& filname, const AnsiString& apassword, const AnsiString& zfld,
                  XBsetSortStatus isascend);
  // The halves of xbSortFile: every record shown goes into the sorter with
  // its key; then the target is written in the sorter's order.
  void xbLoadToIndex(XBobjSortDB& ixColl, const AnsiString& zfld);
  void xbCopyFromIndex(XBobjSortDB& ixColl, const std::string& filname, const AnsiString& apassword);
  // Removes the deleted records: the live ones, in physical order and with
  // their memos, make a new table and memo file under the table's password
  // that replace the old ones. Only for a table opened exclusive and
  // read-write (65173 "Pack"). Deleted records stay hidden and the filter
  // is in force again afterwards as before; the handler stands on the top.
  void xbPack();
  // The same keeping the memo file: the live records keep their memo
  // blocks, and those of the deleted records are given back for reuse
  // (dBase IV memo files) once the table has been replaced; the deleted
  // records' memos are checked before anything is replaced.
  void xbPackMemo();
  // Empties the table, then its memo file (header only); only for a table
  // opened exclusive and read-write (65173 "Zap"). The handler stands at
  // the end.
  void xbZap();

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
  // The index file in slot `slot` (1..63); nullptr when empty.
  XBobjIndexFile* IndexStack(int slot) const;

 private:
  // What the index files ask of the table (XBobjIndexOwner).
  std::string IndexTableFileName() const override { return FileName(); }
  TxbExpUserLink* IndexExpLink() override;
  AnsiString IndexAlias() const override { return dAlias(); }
  int IndexRecordCount() override { return NumRecs(); }
  int IndexRecNumber() const override { return RecNumber(); }
  bool IndexExactMatch() const override { return xbvExactMatch(); }
  const AnsiString& IndexPasswordIn() const override { return xbvPasswordIn(); }
  const AnsiString& IndexPasswordOut() const override { return xbvPasswordOut(); }
  void IndexReadRecord(int n) override { ReadPhysical(n); }
  void IndexStatus(int stat1, int stat2, int stat3) override { xbStatusUpdate(stat1, stat2, stat3); }
  bool IndexRecModified() const override;
  void IndexUseOrigRec(bool on) override;
  std::string IndexTempDir() const override { return xbvTempDir(); }
  bool IndexFieldSize(std::string_view name, int& length, int& decimals) const override;
  void IndexViewRecord(int n) override;
  void IndexMarkProduction() override;

  XBobjIndexOwner* AsIndexOwner() { return this; }
  class TIndexLocks;

  // Sets the active tag aside (or puts another in its place) and the cache
  // as asked, for a scan; both come back at the end of its scope.
  class TOrderScope;
  // The bitmap of every record the current expression passes, read from
  // the file.
  void ScanFilter(TxbHugeSet& set);
  // The records of a comparison or logical node served by the tags, into
  // `set`; false when it cannot be served exactly.
  bool FastFilterSet(TxbExpBaseObject* node, TxbHugeSet& set);
  bool FastComparison(TxbExpOperator& op, TxbHugeSet& set);
  // xbFind on a key value.
  bool FindKeyValue(XBobjIndexKeyData& key);
  // Goes to the bottom record and sets File_EOF (a find that failed).
  void FindFailed();
  // Moves on over records hidden in the active order.
  void PassHidden();
  bool Shown() { return (UseDeletedRec() || !xbDelFlag()) && xbTestFilter(); }
  // The tag that can serve xbLocateRecord, nullptr when none.
  XBobjIndexTag* LocateTag(const AnsiString& KeyFields, bool IsInsensitive, bool IsPartial);

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
  // After a write: every tag's key, then the active tag on the record.
  void KeepIndexesInStep(int action);
  // Raises when an open index file could not take the keys of a write.
  void CheckIndexesUpdatable();
  // Adds a tag to `ix` from every record (the cache on, the state dbIndex);
  // the record, state and cache are put back after.
  void BuildTag(XBobjIndexFile& ix, const AnsiString& tag, const AnsiString& keyexpr, const AnsiString& forexpr,
                XBsetIndexUnique uniq, XBsetSortStatus ascnd);
  // Puts the active tag on the current record when an append left that
  // for later (SyncPending_). Whatever moves from the tag's position calls
  // it first; whatever sets the position anew (a read of the top or bottom,
  // a find, a reopen) clears SyncPending_.
  void SyncMaster();
  // After a flush: shared index files' pages handed to the system.
  void FlushIndexes();
  // Closes the file of one slot, freeing it even when closing raises.
  void CloseSlot(int slot);
  // The slots that hold an index file, in order.
  std::vector<int> OpenIndexSlots() const;
  // Makes `change` to the index file of each of `slots` on a copy of the
  // file (whose first `keep` bytes it starts with; all when negative), and
  // puts the copies in place only when every one is complete, then runs
  // `between` (the table's own files put in place, which must raise with
  // them as they were). Memory indexes are changed as they are. Should
  // anything fail, every file is as it was (an index file already replaced
  // goes back), each object that worked on a copy is opened again from its
  // file, and the failure is raised.
  void ChangeIndexFiles(const std::vector<int>& slots, int64_t keep,
                        const std::function<void(XBobjIndexFile&)>& change,
                        const std::function<void()>& between = {});
  // Rebuilds every open index file on a copy (ChangeIndexFiles).
  void RebuildIndexFiles(const std::function<void()>& between = {});
  // Opens the table's own compound index files (its base name with ".cdx"
  // or ".mdx") that hold tags and are not open, each in a free slot, for
  // work they must follow although no one has them open; the slots. One
  // that cannot be read (damaged, or under another password) is left out.
  std::vector<int> OpenOwnIndexFiles();
  // Opens the file of `slot` again after a change of it failed (its object
  // may hold the unfinished change); the slot is freed when it cannot be.
  void ReopenIndexSlot(int slot);
  // The active tag without its range, closed.
  void ReleaseMaster();
  // Reads record `n` back (or blanks the buffer for none) after work that
  // moved the record buffer.
  void ReturnTo(int n);
  // The password change's work on one record: the memos written anew
  // under the new password (their old blocks are collected in `released`).
  void xbRewriteMemoRecord(std::vector<int64_t>& released);

  // Table maintenance: the new files beside the final names, and the steps
  // the operations share.
  class TMaintTarget;
  struct TMaintNames {
    std::string table, memo;  // memo empty for a table without memos
  };
  TMaintNames MaintTargetNames(const std::string& filname, const char* operation);
  TMaintNames OwnNames();
  // This table's header, descriptors and terminator with record count 0;
  // with `password` the descriptors scrambled under it ("" plain) instead
  // of as they stand (RequireScramblable first).
  std::string StructureImage(const AnsiString* password);
  // Refuses a non-empty `password` for a table whose descriptors a
  // scrambled table cannot hold, so that the password could not reopen it.
  void RequireScramblable(const AnsiString& password);
  // A memo file's first block for a new table of this one's kind.
  std::string MemoHeaderImage();
  // 65173 with `operation` unless the table is exclusive and read-write.
  void RequireWholeTable(const char* operation);
  // Copies the records shown to `out` with the progress of `operation`.
  void CopyShownRecords(XBO_dBHandler& out, int operation);
  // The pack's copy: every record not flagged "*" to `out` in physical
  // order with its flag and memos (the filter not counted, as a pack does
  // not); without memos in runs.
  void CopyKeptRecords(XBO_dBHandler& out);
  void CopyLiveRecordRuns(XBO_dBHandler& out);
  bool OnRecord() const { return !File_EOF() && !File_TOF(); }
  // A lock newly taken on a shared table drops the cached records it
  // covers: the locked record is read from the file.
  void LockedRecordsMayHaveChanged(int recNo) override;
  // Puts the new table of a pack in place and rebuilds the indexes for
  // it, then selects `tag` again; should the indexes fail, the old table
  // goes back and the failure is raised.
  void ReplaceAndRenumber(TMaintTarget& target, const AnsiString& tag);
  // Selects `tag` again after a failure, swallowing what that raises.
  void RestoreTag(const AnsiString& tag);

  XBobjIndexTag* IndexMaster_ = nullptr;
  AnsiString PrimaryTagName_;
  // Slot 0 is never used.
  std::array<std::unique_ptr<XBobjIndexFile>, MaxIndexFiles + 1> IndexStack_;
  int IndexCount_ = 0;
  // The active tag does not stand on the record just appended yet.
  bool SyncPending_ = false;
  // The stored record while a key update reads it, and the buffer it
  // stands in for.
  std::vector<uint8_t> OrigView_;
  uint8_t* OrigViewFor_ = nullptr;
  // Another stored record an index file looks at (IndexViewRecord), and
  // the buffer it stands in for.
  std::vector<uint8_t> RecordView_;
  uint8_t* RecordViewFor_ = nullptr;

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
  // Reused by every xbFind and by xbBuildKey.
  XBobjIndexKeyData FindKey_{256};
  std::vector<uint8_t> KeyRecord_;
};

}  // namespace xbase
