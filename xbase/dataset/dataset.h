// The dataset component: one xBase table behind the data-access framework.
//
// TXBaseDataSet derives from dataaccess::TDataSet and runs the framework's
// cursor on the table handler: record buffers hold the table's record image
// as it stands in the file, bookmarks and RecNo are physical record
// numbers, navigation follows the active index order, the filter and the
// key range, and posting writes or appends through the table, which keeps
// its open indexes in step. Beside the framework's interface it offers the
// xBase operations: building, opening and selecting indexes, key ranges,
// seeks by key text or by field values, locking, the table password, and
// typed field methods by name or number.
//
// Record buffer layout (one block of RecBufSize bytes per buffer):
//
//   offset                 size            content
//   0                      RecordSize      the record image: deletion flag
//                                          byte, then the fields
//   RecordSize             1               the table's end-of-file byte (an
//                                          append writes 0x1A there)
//   RecordSize + 1         CalcFieldsSize  calculated fields: a presence
//                                          byte, then the native value
//   RecInfoOfs             8               bytes 0-3 the physical record
//                                          number, byte 5 the bookmark flag
//   BookmarkOfs            4               the bookmark: the record number
//
// Text in the record is passed as it stands unless TranslateASCII is on,
// when string fields are converted between the OEM and ANSI code pages.
// Dataset conditions raise dataaccess::EDatabaseError with the engine's
// message texts; table and index errors pass through as EXBaseError and its
// kin.
//
// One user at a time; not thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataaccess/DataSet.h"
#include "dataaccess/DataSource.h"
#include "dataaccess/IndexDefs.h"
#include "platform/CodePage.h"
#include "platform/Format.h"
#include "xbase/dataset/dataset_handler.h"
#include "xbase/expr/expression.h"
#include "xbase/handler/table_handler.h"
#include "xbase/table/table_builders.h"

namespace xbase {

using platform::AnsiString;

// What the dataset is busy with; while not aNormal, data access is refused.
enum TxbDBFActivity { aNormal, aIndexing, aCopying };
// How an N or F field without decimals and of 10 or more digits is offered.
enum TxbIntFields { asInteger, asLargeInt, asFloat };
// Progress of long table operations (the table's status report).
using TxbStatusReport = std::function<void(dataaccess::TDataSet& Sender, int stat1, int stat2, int stat3)>;

class TXBaseDataSet : public TXBaseDataSetBase {
 public:
  TXBaseDataSet();
  ~TXBaseDataSet() override;

  // --- Properties ---------------------------------------------------------------
  // "xBase Engine Version 1.0".
  static const char* About();
  // Every record write also waits until the data is on the medium.
  bool AutoFlush() const { return FAutoFlush; }
  void SetAutoFlush(bool v);
  // Where the table lives (one trailing "/" dropped): a name containing
  // "/" is a folder; "Default Directory" is the program's folder; any other
  // name is an alias (dataset/aliases.h), added as standing for itself when the
  // list has none of that name. Only while closed.
  const std::string& DatabaseName() const { return FDatabaseName; }
  void SetDatabaseName(const std::string& v);
  // The table password; only while closed.
  const AnsiString& EncryptionKey() const { return FEncryption; }
  void SetEncryptionKey(const AnsiString& v);
  // RecordCount counts the records shown by walking the table, instead of
  // the header's count.
  bool ExactCount() const { return FExactCount; }
  void SetExactCount(bool v) { FExactCount = v; }
  // Open the files unshared (no byte-range locks); only while closed.
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool v);
  dataaccess::TIndexDefs& IndexDefs() { return FIndexDefs; }
  void SetIndexDefs(const dataaccess::TIndexDefs& v) { FIndexDefs.Assign(v); }
  TxbIntFields LargeIntegerAs() const { return FLargeIntegerAs; }
  void SetLargeIntegerAs(TxbIntFields v);
  XBsetLokProtocol LockProtocol() const { return FLokProtocol; }
  void SetLockProtocol(XBsetLokProtocol v);
  // Index files opened with the table (".NDX" added to a name without
  // extension, the table's folder to a name without one). Changing the list
  // while open closes every index file and opens those listed ("Cannot find
  // file %s" for a missing one, "Index file %s already open" for a name
  // given twice), then selects IndexName again.
  const std::vector<std::string>& IndexFiles() const { return FIndexFiles; }
  void SetIndexFiles(const std::vector<std::string>& v);
  // The active tag ("" for natural order). Selecting one while open keeps
  // the current record when the new order holds it, else goes to the first.
  const AnsiString& IndexName() const { return FIndexName; }
  void SetIndexName(const AnsiString& v);
  bool ReadOnly() const { return FReadOnly; }
  // While open only a table opened read-write can become writable.
  void SetReadOnly(bool v);
  // The table file; ".DBF" is added when the name has no extension. Only
  // while closed; a new name clears IndexFiles.
  const std::string& TableName() const { return FTableName; }
  void SetTableName(const std::string& v);
  // Convert string fields and keys between the OEM and ANSI code pages (on
  // by default).
  bool TranslateASCII() const { return FTranslateASCII; }
  void SetTranslateASCII(bool v);
  // Records flagged deleted are shown.
  bool UseDeleted() const { return FUseDeleted; }
  void SetUseDeleted(bool v);
  // Written into the table header with each change.
  int UserID() const { return FUserID; }
  void SetUserID(int v);
  TxbStatusReport OnStatus;

  // The open table; nullptr while closed.
  DBFObject* DBFHandle() const override { return FDBFHandle.get(); }

  // --- Records -------------------------------------------------------------------
  // Clears the current record's deletion flag ("Cannot recall the record"
  // when that fails). While inserting or in the set-key state it cancels.
  void Recall();
  // The current record's deletion flag is "*".
  bool IsDeleted();
  // Writes the header and the table's data to the system.
  void FlushDBF();
  // Switches the table's read-ahead record cache (applied at open too).
  void SetDBFCache(bool tf);
  // Locks the current record / the table: one try; whether it was had.
  bool RLock();
  bool FLock();
  // Releases every lock the table holds.
  void Unlock();
  // 2 when another program changed the table, plus 1 when this one
  // rewrote a record, since the last call.
  int ExternalChange();
  void ReturnDateTimeUser(int& dt, int& tm, int& us);
  // Scrambles the table, its memos and open index files under APassword
  // ("" makes it plain), which becomes EncryptionKey. Needs an exclusive
  // table. EncryptDBFFile is the same.
  void EncryptFile(const AnsiString& APassword);
  void EncryptDBFFile(const AnsiString& APassword) { EncryptFile(APassword); }
  // Folder for temporary files (at most 259 characters; "/" added).
  void SetTempDirectory(const std::string& Value);
  const std::string& TempDirectory() const { return FTempDir; }
  // The ".dbf" files of the folder, sorted; the index files (".cdx",
  // ".mdx", ".ndx", ".ntx", in that order) appended to List.
  void GetTableNames(std::vector<std::string>& List);
  void GetIndexNames(std::vector<std::string>& List);
  // The alias list shared by every dataset: adds alias=path ("Alias %s
  // already assigned" for a name it has) / lists the names.
  static void AddAlias(const std::string& AliasValue, const std::string& PathValue);
  static void GetDatabaseNames(std::vector<std::string>& List);

  // --- Indexes ----------------------------------------------------------------------------
  // Builds the index file IName (".ndx" when it has no extension, beside
  // the table when it has no folder) over every record: its tag `tag` (an
  // NDX file's tag is named after the file) on key expression `keyexp`,
  // with FOR condition `forexp` ("" none). Every open index file is closed
  // first and the new file is left closed: IndexFileInclude opens it and
  // IndexName selects it. Goes to the first record.
  void IndexOn(const std::string& IName, const AnsiString& tag, const AnsiString& keyexp, const AnsiString& forexp,
               XBsetIndexUnique uniq, XBsetSortStatus ascnd);
  // Opens one more index file (one already open is left as it is).
  void IndexFileInclude(const std::string& IName);
  // Closes an index file / deletes a tag from one (natural order when the
  // active tag goes).
  void IndexFileRemove(const std::string& IName);
  void IndexTagRemove(const std::string& IName, const AnsiString& Tag);
  // IndexFiles := the names of the list IName (separated by "," or ";",
  // double quotes enclosing a name), their file names (not their folders)
  // upper-cased; IndexName := Tag.
  void Index(const std::string& IName, const AnsiString& Tag);
  void SetTagTo(const AnsiString& TName);
  // Rebuilds every open index file; goes to the first record.
  void Reindex();
  bool MemoryIndexAdd(const AnsiString& tag, const AnsiString& keyexpr, const AnsiString& forexpr,
                      XBsetIndexUnique uniq, XBsetSortStatus ascnd);
  // Tags of all open index files, counted from 1 in file order; the
  // active one's name and place (0 without one).
  int IndexCount();
  AnsiString IndexCurrent();
  int IndexCurrentOrder();
  // Of tag n: "", 0, false (true for IndexAscending) when there is none.
  AnsiString IndexExpression(int n);
  AnsiString IndexFilter(int n);
  int IndexKeyLength(int n);
  bool IndexUnique(int n);
  bool IndexAscending(int n);
  std::string IndexFileName(int n);
  AnsiString IndexTagName(int n);
  // Tag n's key of the current record.
  AnsiString IndexKeyValue(int n);
  // Sets or clears the table's production-index flag in its header.
  void IndexIsProduction(bool tf);
  // Every tag name of every open index file (the table opened for this
  // when closed).
  void GetIndexTagList(std::vector<AnsiString>& List);
  // Creates a table through the table builders, the fields from `fproc`
  // (CreateDBF of table/table_builders.h), scrambled with `apassword` when one is
  // given. True when the table was written.
  static bool CreateDBF(const std::string& fname, const AnsiString& apassword, char ftype,
                        const dbInsertFieldProc& fproc);

  // --- Ranges and seeks ------------------------------------------------------------------
  // Limits the active tag to keys from RLo to RHi, both counted ("" on a
  // side: open); goes to the first record when a tag is active.
  void SetRange(const AnsiString& RLo, const AnsiString& RHi);
  void SetRangeEx(const AnsiString& RLo, const AnsiString& RHi, bool LoIn, bool HiIn, bool Partial);
  // Seeks the key built from `values` (one per field of the active tag's
  // key, in the key's order) as the key expression builds it. Without an
  // active tag: "No index is assigned for Find operation". False, on the
  // record it was on, when there is no such key (and at once for an empty
  // table). FindNearest stands on the next greater key instead.
  bool FindKey(const std::vector<dataaccess::TVariant>& values);
  void FindNearest(const std::vector<dataaccess::TVariant>& values);
  // Seeks key text `ss` (IsExact: whole keys; IsNear: the next greater key
  // when missing). A failed seek goes to the last record.
  bool Find(const AnsiString& ss, bool IsExact, bool IsNear);
  // The same on the table alone, the dataset's buffers untouched.
  bool FindThisRecord(const AnsiString& ss, bool IsExact, bool IsNear);
  // The set-key state: field values written into a key buffer, then sought.
  void SetKey();
  void EditKey();
  bool GotoKey();
  void GotoNearest();
  // Locate from record RecNum on (0: the top; -1: the current record).
  bool LocateNext(const AnsiString& KeyFields, const std::vector<dataaccess::TVariant>& KeyValues,
                  dataaccess::TLocateOptions Options, int RecNum);
  // The table's text search over the records after `fromrec` (0: from the
  // top) to `toRec` (0: the end), field FNum or every field (0), by the
  // table's SearchMode; on a match the dataset moves there and FNum and
  // fromrec name field and record. The match's position in the field, 0
  // when none (the dataset stays).
  uint16_t SearchDBF(const AnsiString& s, uint16_t& FNum, int& fromrec, int toRec);
  // The record holding key `ky` in tag `st`; 0 none, -1 no such tag or
  // closed.
  int HuntDuplicate(const AnsiString& st, const AnsiString& ky);

  // --- Master/detail ---------------------------------------------------------------------
  // The detail shows the records whose active key equals the key built
  // from the master's MasterFields (";"-separated) values.
  dataaccess::TDataSource* MasterSource() const { return FMasterLink.DataSource(); }
  void SetMasterSource(dataaccess::TDataSource* v);
  const AnsiString& MasterFields() const { return FMasterLink.FieldNames(); }
  void SetMasterFields(const AnsiString& v);
  // Whole keys instead of keys that begin with the master's.
  bool ExactDetail() const { return FExactDetail; }
  void SetExactDetail(bool v) { FExactDetail = v; }

  // --- xBase field methods ------------------------------------------------------------
  // Each works on the record buffer of the current state (GetActiveRecBuf)
  // through the table's field access, the "N" forms by field number, the
  // others by name. The Put methods need the edit, insert or set-key state
  // ("Dataset not in edit or insert mode"); MemoSave answers 0 outside it.
  AnsiString FieldGet(const AnsiString& name);  // raw field text
  AnsiString FieldGetN(int n);
  bool FieldPut(const AnsiString& name, const AnsiString& s);
  bool FieldPutN(int n, const AnsiString& s);
  AnsiString StringGet(const AnsiString& name);
  AnsiString StringGetN(int n);
  bool StringPut(const AnsiString& name, const AnsiString& s);
  bool StringPutN(int n, const AnsiString& s);
  int32_t DateGet(const AnsiString& name);  // Julian day number, 0 empty
  int32_t DateGetN(int n);
  bool DatePut(const AnsiString& name, int32_t d);
  bool DatePutN(int n, int32_t d);
  bool LogicGet(const AnsiString& name);
  bool LogicGetN(int n);
  bool LogicPut(const AnsiString& name, bool b);
  bool LogicPutN(int n, bool b);
  double FloatGet(const AnsiString& name);
  double FloatGetN(int n);
  bool FloatPut(const AnsiString& name, double v);
  bool FloatPutN(int n, double v);
  // The number rounded to the nearest integer, halves to even.
  int64_t IntegerGet(const AnsiString& name);
  int64_t IntegerGetN(int n);
  bool IntegerPut(const AnsiString& name, int64_t v);
  bool IntegerPutN(int n, int64_t v);
  int64_t MemoSize(const AnsiString& name);
  int64_t MemoSizeN(int n);
  // At most `size` bytes into `buffer`; `size` becomes the bytes delivered.
  void MemoLoad(const AnsiString& name, void* buffer, int64_t& size);
  void MemoLoadN(int n, void* buffer, int64_t& size);
  int64_t MemoSave(const AnsiString& name, const void* buffer, int64_t size);
  int64_t MemoSaveN(int n, const void* buffer, int64_t size);

  // --- Framework operations ---------------------------------------------------------
  void CheckActive() override;
  void SetRecNo(int Value) override;
  bool BookmarkValid(const dataaccess::TBookmark& Bookmark) override;
  int CompareBookmarks(const dataaccess::TBookmark& B1, const dataaccess::TBookmark& B2) override;
  bool Locate(const AnsiString& KeyFields, const std::vector<dataaccess::TVariant>& KeyValues,
              dataaccess::TLocateOptions Options) override;
  std::vector<dataaccess::TVariant> Lookup(const AnsiString& KeyFields,
                                           const std::vector<dataaccess::TVariant>& KeyValues,
                                           const AnsiString& ResultFields) override;
  void SetFilterText(const AnsiString& v) override;
  void SetFiltered(bool v) override;
  void SetFilterOptions(dataaccess::TFilterOptions v) override;
  bool GetIsIndexField(const dataaccess::TField& Field) override;
  void UpdateIndexDefs() override;
  bool IsSequenced() override;
  int Translate(const char* Src, char* Dest, bool ToOem) override;
  bool GetCurrentRecord(dataaccess::TRecordBuffer Buffer) override;
  bool GetFieldData(const dataaccess::TField& Field, void* Buffer) override;
  // A THCBlobStream on a memo or blob field.
  std::unique_ptr<dataaccess::TBlobStream> CreateBlobStream(dataaccess::TField& Field,
                                                            dataaccess::TBlobStreamMode Mode) override;
  void SetFieldData(dataaccess::TField& Field, const void* Buffer) override;

 protected:
  // --- Framework hooks ---------------------------------------------------------------
  dataaccess::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(dataaccess::TRecordBuffer& Buffer) override;
  void GetBookmarkData(dataaccess::TRecordBuffer Buffer, uint8_t* Data) override;
  void SetBookmarkData(dataaccess::TRecordBuffer Buffer, const uint8_t* Data) override;
  dataaccess::TBookmarkFlag GetBookmarkFlag(dataaccess::TRecordBuffer Buffer) override;
  void SetBookmarkFlag(dataaccess::TRecordBuffer Buffer, dataaccess::TBookmarkFlag Value) override;
  int GetRecordSize() override { return FRecordSize; }
  dataaccess::TGetResult GetRecord(dataaccess::TRecordBuffer Buffer, dataaccess::TGetMode GetMode,
                                   bool DoCheck) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalGotoBookmark(const uint8_t* Bookmark) override;
  void InternalSetToRecord(dataaccess::TRecordBuffer Buffer) override;
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() override { return FDBFHandle != nullptr; }
  void InternalInitFieldDefs() override;
  void InternalRefresh() override;
  void InternalHandleException() override {}
  void InternalInitRecord(dataaccess::TRecordBuffer Buffer) override;
  void InternalEdit() override;
  void InternalPost() override;
  void InternalAddRecord(dataaccess::TRecordBuffer Buffer, bool Append) override;
  void InternalCancel() override;
  void InternalDelete() override;
  void ClearCalcFields(dataaccess::TRecordBuffer Buffer) override;
  bool GetCanModify() override { return !FReadOnly; }
  dataaccess::TDataSource* GetDataSource() override { return FMasterLink.DataSource(); }
  int GetRecordCount() override;
  int GetRecNo() override;
  void DoAfterInsert() override;
  // Recall's work on the positioned cursor.
  virtual void InternalRecall();

  // --- Table maintenance (dataset/dataset_maintenance.cpp) ------------------------------------
 public:
  // New tables are written whole beside their final names (a name without
  // a folder: beside this table) and replace what stood there only when
  // complete; progress goes to OnStatus (XBO_dBHandler's codes).

  // The records shown (the active order, the filter, deleted records as
  // UseDeleted says) with their deletion flags and memos into the new table
  // `filname`, scrambled under `apassword` ("" plain). The dataset is busy
  // copying meanwhile and stays on its record.
  void CopyTo(const std::string& filname, const AnsiString& apassword);
  // The empty table `filname` with this table's fields and a memo file
  // when it has memos, under `apassword`.
  void CopyStructure(const std::string& filname, const AnsiString& apassword);
  // Appends the current record with its memos to the table of `area`; a
  // table with shorter records, or without memos where this one has them,
  // raises 65140.
  void CopyRecordTo(TXBaseDataSet& area);
  // The records shown, ordered by the key expression `formla` (upwards for
  // SortUp, Ascending and AscendingGeneral), into the new table `filname`,
  // as CopyTo writes them.
  void SortTo(const std::string& filname, const AnsiString& apassword, const AnsiString& formla,
              XBsetSortStatus sortseq);
  // Removes the deleted records: the table and its memo file are written
  // anew without them, the indexes rebuilt. Needs the table exclusive
  // (65173). The filter and IndexName stay; the first record afterwards.
  void Pack();
  // Empties the table and its memo file (needs the table exclusive); the
  // indexes are rebuilt empty.
  void Zap();
  // While closed: renames the table, its memo file and the files of
  // IndexFiles named after it to `NewTableName` (".DBF" added when it has
  // no extension; beside the table when it names no folder); DatabaseName,
  // TableName and IndexFiles follow. Every new name is checked free before
  // anything is renamed (65170 naming the file that could not follow).
  void RenameTable(const std::string& NewTableName);

  // --- For the dataset's own table object and blob streams --------------------------
 public:
  // The record buffer fields read and write in the current state:
  // browse, edit, insert and new-value the active buffer (none in browse
  // on an empty dataset); set-key the key buffer; calculate the
  // calculation buffer; filter the record the table is reading; old-value
  // the record as stored while editing. nullptr when the state has none.
  dataaccess::TRecordBuffer GetActiveRecBuf() override;
  // A rename is under way (index-file changes are ignored meanwhile).
  bool Renaming() const override { return FRenaming; }
  void DoOnStatus(int stat1, int stat2, int stat3) override;

 private:
  // Sets the dataset's activity and disables its controls for one long
  // operation; both are restored on every exit.
  class ActivityGuard {
   public:
    ActivityGuard(TXBaseDataSet& ds, TxbDBFActivity activity) : ds_(ds) {
      ds.FActivity = activity;
      ds.DisableControls();
    }
    ~ActivityGuard() {
      ds_.FActivity = aNormal;
      ds_.EnableControls();
    }
    ActivityGuard(const ActivityGuard&) = delete;
    ActivityGuard& operator=(const ActivityGuard&) = delete;

   private:
    TXBaseDataSet& ds_;
  };

  // Raises the dataset's own conditions: EDatabaseError with the engine's
  // message text.
  [[noreturn]] static void DataSetError(int number, std::initializer_list<platform::TFormatArg> args = {});

  // The open table after the active check.
  XBO_dBHandler& Table();
  // Tag n, nullptr when there is none.
  XBobjIndexTag* TagN(int n);
  // The active tag's key expression compiled on this table; raises
  // "No index is assigned for Find operation" without one.
  TxbExpHandler& ActiveKeyExpr();
  // Closes every index file and opens IndexFiles, then selects IndexName;
  // at open a name given twice passes.
  void OpenIndexFiles(bool opening);
  void SyncIndexName();
  // Text to the table's code page (TranslateASCII), at most 255 bytes.
  AnsiString ToOem(const AnsiString& s);
  bool SeekValues(const std::vector<dataaccess::TVariant>& values, bool nearest);
  // Seeks `key`; found (or nearest): the framework re-reads there; else
  // the dataset stays on its record.
  bool SeekKey(const AnsiString& key, bool nearest);
  bool GotoKeyBuffer(bool nearest);
  // The detail key of the master's current record ("" while it inserts).
  AnsiString MasterKey();
  void MasterChanged();
  // Sets the table's range for the master's record (at open and after a
  // change of tag).
  void ApplyMasterRange();
  void ApplyFilter();
  // A table name of the maintenance operations: beside this table when it
  // names no folder.
  std::string BesideTable(const std::string& name) const;

  // Runs `op(table)` with the table pointed at the buffer of the current
  // state (raising when the state has none).
  template <class F>
  auto OnStateRecord(F op);
  void CheckEditState();

  // The folder the table lives in, with a trailing "/" (empty: the
  // current folder).
  std::string ResolvedDirectory() const;
  // The record number held by a buffer.
  int BufferRecNo(dataaccess::TRecordBuffer Buffer) const;
  void SetBufferRecNo(dataaccess::TRecordBuffer Buffer, int RecNo);
  // The table reads the record `n` (a navigation code or a number) into
  // `buffer` (nullptr: its own).
  void ReadInto(dataaccess::TRecordBuffer buffer, int n);
  void FreeTable() noexcept;
  // Writes the active record's deletion flag, with deleted records shown
  // for the write.
  void FlagActiveRecord(bool deleted);
  // The framework re-reads the current record after a post or a seek:
  // `image` already holds the table's current record, so that read copies
  // it instead of reading the file again (when the table shows it).
  void KeepFresh(const uint8_t* image);
  // Keeps a record image for the old-value state.
  void SetOldRecord(const uint8_t* image);
  bool StateAllowsWrite() const;
  // The framework type a table field is offered as (ftUnknown: none).
  dataaccess::TFieldType FieldTypeOf(const XBR_DBFField& f, bool vfp) const;

  std::string FDatabaseName;
  std::unique_ptr<DBFObject> FDBFHandle;
  bool FBeforeBOF = false;
  bool FAfterEOF = false;
  bool FExclusive = false;
  // 32-bit: a long C field and calculated fields overflow 16 bits.
  int FRecordSize = 0;
  int FCalcOfs = 0;
  int FRecInfoOfs = 0;
  int FBookmarkOfs = 0;
  int FRecBufSize = 0;
  dataaccess::TIndexDefs FIndexDefs;
  std::vector<std::string> FIndexFiles;
  AnsiString FIndexName;
  bool FReadOnly = false;
  std::string FTableName;
  bool FUseDeleted = false;
  bool FAutoFlush = false;
  AnsiString FEncryption;
  bool FUseDBFCache = false;
  XBsetLokProtocol FLokProtocol = XBsetLokProtocol::Default;
  bool FExactCount = false;
  TxbDBFActivity FActivity = aNormal;
  std::string FTempDir;
  int FUserID = 0;
  bool FDoingEdit = false;
  bool FTranslateASCII = true;
  bool FRenaming = false;
  bool FUpdatingIndexDesc = false;
  std::vector<uint8_t> FKeyBuffer;  // empty: no key buffer
  TxbIntFields FLargeIntegerAs = asInteger;
  bool FExactDetail = false;
  dataaccess::TMasterDataLink FMasterLink;
  // The active tag's key expression, compiled for FindKey and the
  // master/detail key; rebuilt when the tag changes.
  std::unique_ptr<TxbExpHandler> FKeyExpr;
  XBobjIndexTag* FKeyTag = nullptr;
  AnsiString FKeyText;
  // Whether the open table was opened read-write.
  bool FOpenedReadWrite = false;
  // The stored record while editing, for the old-value state.
  std::vector<uint8_t> FOldRecord;
  // Set by KeepFresh for the next read of the current record only.
  const uint8_t* FFreshRecord = nullptr;
  int FFreshRecNo = 0;
  // Reused by string reads.
  AnsiString FText;
};

}  // namespace xbase
