// The data-access layer: a dataset framework that a storage engine derives
// from to offer its tables as datasets, and that callers navigate and edit.
//
// What it does. TDataSet keeps the caller-facing side of a cursor: its
// state (browse, edit, insert, set-key, and the temporary states in which
// field values come from another buffer), the current record in a record
// buffer, Bof/Eof, bookmarks, editing with its before/after events, typed
// fields over the record (Fields.h), calculated fields, field and index
// definitions, and data links that tell other parties (a detail dataset,
// TMasterDataLink) what happened (DataSource.h). Everything that touches
// storage is a virtual hook a derived dataset implements: reading a record
// into a buffer relative to its cursor (GetRecord), moving the cursor
// (InternalFirst, InternalLast, InternalSetToRecord, InternalGotoBookmark),
// field values in buffers (GetFieldData, SetFieldData), posting, deleting,
// bookmarks, and blob streams.
//
// What it relies on. The platform layer's TStream (blob streams) and its
// code-page unit (field names compare without ANSI letter case). Nothing
// else: no engine types appear here.
//
// What it promises.
//  - The record buffers are allocated and freed only through the dataset's
//    AllocRecordBuffer/FreeRecordBuffer, between InternalOpen and
//    InternalClose: the active buffer (the current record), a spare the
//    framework reads the next record into before it replaces the current
//    one (so a failed move keeps the current record), and the calculation
//    buffer (CalcBuffer) for the dataset's own use, e.g. a lookup.
//  - The cursor is positioned (UpdateCursorPos) on the active record before
//    InternalEdit, InternalDelete, InternalPost, InternalCancel and
//    InternalRefresh, and before every move relative to the current record.
//  - After a post, cancel, delete or refresh the framework re-reads where
//    the cursor stands (Resync): the current record, else the next, else
//    the prior, else the dataset is empty.
//  - Data links are told of scrolls, refills, field and state changes
//    except while controls are disabled (DisableControls) or during a
//    temporary state (SetTempState); EnableControls then reports once.
//  - Failures raise EDatabaseError (DBError.h) for the framework's own
//    conditions; failures of the hooks pass through unchanged.
//
// A dataset is used from one thread.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "dataaccess/DBError.h"
#include "dataaccess/DBValues.h"
#include "dataaccess/DataSource.h"
#include "dataaccess/Fields.h"
#include "dataaccess/IndexDefs.h"
#include "platform/Streams.h"

namespace dataaccess {

// dsCalcFields: values come from CalcBuffer while OnCalcFields runs (or
// the dataset reads a record of its own there). dsFilter, dsNewValue,
// dsOldValue and dsInternalCalc are temporary states a dataset enters
// (SetTempState) to have fields read another buffer.
enum TDataSetState {
  dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields,
  dsFilter, dsNewValue, dsOldValue, dsInternalCalc
};
enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };
// What a record buffer holds: a record (bfCurrent); a new record inserted
// before the record its bookmark names (bfInserted), at the beginning of an
// empty dataset (bfBOF) or appended at the end (bfEOF).
enum TBookmarkFlag : uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };
enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };
enum TLocateOption { loCaseInsensitive, loPartialKey };
using TLocateOptions = TSet<TLocateOption>;
enum TFilterOption { foCaseInsensitive, foNoPartialCompare };
using TFilterOptions = TSet<TFilterOption>;
// The answer of an error event: raise the error, give up silently (EAbort)
// or try the operation again.
enum TDataAction { daFail, daAbort, daRetry };

using TRecordBuffer = uint8_t*;
// The bytes of a bookmark; empty means "no bookmark".
using TBookmark = std::vector<uint8_t>;

// The stream a dataset hands out for a memo or blob field.
class TBlobStream : public platform::TStream {
 public:
  // Stores what was written into the field of the record being edited and
  // tells the dataset that the field changed; raises on failure. Nothing
  // happens when nothing was written. A stream's destructor commits what is
  // still pending too, but cannot report a failure, so whoever writes
  // calls Commit.
  virtual void Commit() = 0;
};

class TDataSet;
using TDataSetNotifyEvent = std::function<void(TDataSet& DataSet)>;
using TDataSetErrorEvent = std::function<void(TDataSet& DataSet, const std::exception& E, TDataAction& Action)>;
using TFilterRecordEvent = std::function<void(TDataSet& DataSet, bool& Accept)>;

class TDataSet {
 public:
  TDataSet();
  // Detaches the data sources. The base cannot reach the derived hooks any
  // more, so a derived class closes the dataset in its own destructor
  // (CloseForDestroy).
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // --- State ------------------------------------------------------------------
  TDataSetState State() const { return state_; }
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool v);
  // Fires BeforeOpen, opens the cursor (InternalOpen), reads the first
  // record and enters browse state, then AfterOpen and, with a record,
  // AfterScroll. A failed open leaves the dataset closed.
  void Open() { SetActive(true); }
  // A pending edit or insert is dropped (InternalCancel, no events); then
  // BeforeClose, InternalClose, AfterClose.
  void Close() { SetActive(false); }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  // No record in the active buffer (a new record being inserted counts).
  bool IsEmpty() const { return recordCount_ == 0; }
  // A data field changed since the edit or insert began.
  bool Modified() const { return modified_; }
  // Records the active buffer holds: 0 or 1.
  int BufferedRecordCount() const { return recordCount_; }
  // Set while the dataset is being restored from a stored description, so
  // that property setters skip their side effects.
  bool Loading() const { return loading_; }
  void SetLoading(bool v) { loading_ = v; }

  // --- Navigation (each first posts or cancels a pending edit) ---------------
  // First sets Bof; Last sets Eof; on an empty dataset both are set.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves up to |distance| records; returns how many it moved (negative
  // backwards). Running off an end keeps the last record reached and sets
  // Eof (forward) or Bof (backward); at that end already, nothing happens.
  int MoveBy(int distance);
  // Re-reads the current record from the storage (InternalRefresh).
  void Refresh();
  int RecordCount() { return GetRecordCount(); }
  int RecNo() { return GetRecNo(); }
  // Moves to a record by its number; by default does nothing.
  virtual void SetRecNo(int value);

  // --- Bookmarks --------------------------------------------------------------
  int BookmarkSize() const { return bookmarkSize_; }
  // The current record's bookmark; empty when there is no record or the
  // active buffer holds a new one.
  TBookmark GetBookmark();
  // Moves to the bookmarked record; raises EDatabaseError SRecordNotFound
  // when it can no longer be read (the current record stays).
  void GotoBookmark(const TBookmark& bookmark);
  // The bookmarked record still exists; false by default.
  virtual bool BookmarkValid(const TBookmark& bookmark);
  // -1, 0 or 1. An empty bookmark is below every other, two empty ones are
  // equal; by default other bookmarks are equal when their bytes are and
  // otherwise ordered by their bytes.
  virtual int CompareBookmarks(const TBookmark& b1, const TBookmark& b2);

  // --- Editing ----------------------------------------------------------------
  // Both post or cancel a pending edit first and need CanModify. Insert
  // starts a new record before the current one, Append after the last;
  // events BeforeInsert, BeforeScroll, OnNewRecord, AfterInsert, AfterScroll.
  void Append();
  void Insert();
  // Re-reads and locks the current record (InternalEdit) and enters edit
  // state; events BeforeEdit, AfterEdit. Raises on an empty dataset. Does
  // nothing while editing or inserting.
  void Edit();
  // Stores the record being edited or inserted (InternalPost), returns to
  // browse and re-reads; events BeforePost, AfterPost. A required data
  // field without a value raises first. In the set-key state it only
  // returns to browse; in the others it does nothing.
  virtual void Post();
  // Drops the edit or insert (InternalCancel) and re-reads; events
  // BeforeCancel, AfterCancel. In the set-key state it returns to browse.
  void Cancel();
  // Deletes the current record (InternalDelete) and re-reads, which lands
  // on the next record, else the one before; events BeforeDelete,
  // BeforeScroll, AfterDelete, AfterScroll. While inserting it cancels.
  void Delete();
  // Append, then the values to Fields in order (a null value clears), then
  // Post; on a failure the new record is cancelled and the error raised.
  void AppendRecord(const std::vector<TVariant>& values);
  bool CanModify() { return GetCanModify(); }

  // --- Fields -----------------------------------------------------------------
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  TFields& Fields() { return fields_; }
  TField* FindField(const AnsiString& name) const { return fields_.FindField(name); }
  TField& FieldByName(const AnsiString& name) const { return fields_.FieldByName(name); }
  TVariant FieldValues(const AnsiString& name) const { return FieldByName(name).Value(); }
  void SetFieldValues(const AnsiString& name, const TVariant& v) { FieldByName(name).SetValue(v); }
  // The fields named in `fieldNames` (separated by ";", blanks around names
  // ignored), in order; raises SFieldNotFound for an unknown name.
  std::vector<TField*> GetFieldList(const AnsiString& fieldNames) const;
  // Fills FieldDefs from the cursor (InternalInitFieldDefs) and marks them
  // up to date.
  void InitFieldDefs();
  int CalcFieldsSize() const { return calcFieldsSize_; }
  // Recalculate the calculated fields when a data field changes during an
  // edit (on by default).
  bool AutoCalcFields() const { return autoCalcFields_; }
  void SetAutoCalcFields(bool v) { autoCalcFields_ = v; }

  // --- Field values in record buffers (called by the fields) -----------------
  // Answers whether `field` has a value in the record buffer of the
  // current state and, when `buffer` is given, copies it there in the
  // native form (Fields.h). A closed dataset has no buffer.
  virtual bool GetFieldData(const TField& field, void* buffer) = 0;
  // Stores the native value (nullptr: no value) in the buffer of the
  // current state. An implementation checks the state and ReadOnly, runs
  // field.Validate(buffer) before it changes anything, and reports the
  // change with DataEvent(deFieldChange, &field) in the edit and insert
  // states. By default raises SOperationNotSupported.
  virtual void SetFieldData(TField& field, const void* buffer);
  // Converts the zero-terminated text `src` to the storage's code page
  // (toOem) or back into `dest`, which has room for as many bytes; `src`
  // and `dest` may be the same. Returns the length of `src`; a null `src`
  // gives an empty `dest`. By default copies.
  virtual int Translate(const char* src, char* dest, bool toOem);
  // A stream over `field`'s contents in the record buffer of the current
  // state. Writing needs the edit or insert state. By default raises
  // SOperationNotSupported.
  virtual std::unique_ptr<TBlobStream> CreateBlobStream(TField& field, TBlobStreamMode mode);
  // `field` is part of the active index's key; false by default.
  virtual bool GetIsIndexField(const TField& field);
  // Rebuilds the index definitions (the dataset's TIndexDefs) and marks
  // them updated; nothing by default.
  virtual void UpdateIndexDefs();
  // Copies the current record into `buffer`; false when there is none.
  // False by default.
  virtual bool GetCurrentRecord(TRecordBuffer buffer);

  // --- Searching and filtering ------------------------------------------------
  // Moves to the first record whose `keyFields` (";"-separated) hold
  // `keyValues`, one per field; false (and the record stays) when there is
  // none. By default raises SOperationNotSupported.
  virtual bool Locate(const AnsiString& keyFields, const std::vector<TVariant>& keyValues,
                      TLocateOptions options);
  // The values of `resultFields` in the first record whose `keyFields` hold
  // `keyValues`, one per result field; empty when there is none. The
  // current record stays. By default raises SOperationNotSupported.
  virtual std::vector<TVariant> Lookup(const AnsiString& keyFields, const std::vector<TVariant>& keyValues,
                                       const AnsiString& resultFields);
  // The filter properties. The setters store the value; a dataset that
  // filters overrides them, calls these, and applies the filter.
  const AnsiString& Filter() const { return filterText_; }
  virtual void SetFilterText(const AnsiString& v) { filterText_ = v; }
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool v) { filtered_ = v; }
  TFilterOptions FilterOptions() const { return filterOptions_; }
  virtual void SetFilterOptions(TFilterOptions v) { filterOptions_ = v; }
  // Records have fixed numbers (RecNo) in order; true by default.
  virtual bool IsSequenced();

  // --- Data links ---------------------------------------------------------------
  // Counted: links hear nothing until the last EnableControls, which tells
  // them once of what changed meanwhile.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ != 0; }
  // Reports an event: deFieldChange (with the field) marks the record
  // modified and, with AutoCalcFields, recalculates during an edit;
  // dePropertyChange marks FieldDefs out of date. Then the data sources
  // pass it to their links (see ControlsDisabled).
  void DataEvent(TDataEvent event, TField* field = nullptr);
  // The master's data source of a detail dataset; nullptr by default.
  TDataSource* DataSource() { return GetDataSource(); }

  // --- Record buffers and the cursor --------------------------------------------
  // The current record's buffer; nullptr while closed.
  TRecordBuffer ActiveBuffer() const { return active_; }
  // The buffer of the calculate state: the one being calculated while
  // GetCalcFields runs, else a buffer of the dataset's own.
  TRecordBuffer CalcBuffer() const { return calcCurrent_; }
  // The storage's cursor may have left the active record.
  void CursorPosChanged() { cursorSynced_ = false; }
  // Puts the cursor back on the active record (by its bookmark flag:
  // InternalSetToRecord, InternalFirst or InternalLast).
  void UpdateCursorPos();
  // Re-reads where the cursor stands: the current record, else the next,
  // else the prior (GetRecord without raising), else the dataset is
  // empty. Tells the links the dataset changed.
  void Resync();

  // --- Checks -------------------------------------------------------------------
  // Raises SDataSetClosed while closed; a dataset may add its own busy
  // conditions.
  virtual void CheckActive();
  // Raises SDataSetOpen while open.
  void CheckInactive() const;
  // Checks active, then posts a modified edit or insert, cancels an
  // unmodified one, and leaves the set-key state.
  void CheckBrowseMode();
  // Raises SDataSetEmpty when there is no current record.
  void CheckNotEmpty() const;
  // Raises SDataSetReadOnly unless CanModify.
  void CheckCanModify();

  // --- Events (fired by the Do... dispatchers below) ---------------------------
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  // Sets the calculated fields of the record in CalcBuffer.
  TDataSetNotifyEvent OnCalcFields;
  // Sets the initial values of a record just inserted or appended.
  TDataSetNotifyEvent OnNewRecord;
  // Called when InternalDelete, InternalEdit or InternalPost fails; the
  // handler picks the action (daFail by default). EAbort is not offered.
  TDataSetErrorEvent OnDeleteError, OnEditError, OnPostError;
  // Not fired by the framework: a dataset that filters calls it, in the
  // dsFilter state, for each record it tests.
  TFilterRecordEvent OnFilterRecord;

  // --- Bookkeeping for TDataSource -------------------------------------------
  void AddDataSource(TDataSource& source);
  void RemoveDataSource(TDataSource& source);

 protected:
  // --- Hooks: record buffers and bookmarks -------------------------------------
  // A new zero-filled record buffer, large enough for the record, the
  // calculated part (CalcFieldsSize) and the bookmark with its flag. The
  // framework gives every buffer back through FreeRecordBuffer, which
  // frees it and sets `buffer` to nullptr.
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) = 0;
  // Copy BookmarkSize() bytes out of / into a record buffer.
  virtual void GetBookmarkData(TRecordBuffer buffer, uint8_t* data) = 0;
  virtual void SetBookmarkData(TRecordBuffer buffer, const uint8_t* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  // Bytes of the record image (the start of a buffer).
  virtual int GetRecordSize() = 0;

  // --- Hooks: the cursor -----------------------------------------------------------
  // Reads into `buffer` the record at the cursor (gmCurrent), after it
  // (gmNext) or before it (gmPrior) and leaves the cursor on it; grBOF or
  // grEOF when there is none in that direction. On grOK the buffer's
  // bookmark and flag (bfCurrent) are set and the calculated fields
  // computed (GetCalcFields). `doCheck` false asks for grError instead
  // of an exception when the record cannot be read.
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) = 0;
  // Before the first record / after the last: the next gmNext (gmPrior)
  // read gives the first (last) record.
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  // Put the cursor on the record a bookmark (or a buffer's bookmark)
  // names; raise when it does not exist.
  virtual void InternalGotoBookmark(const uint8_t* bookmark) = 0;
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  // Opens the cursor. An implementation fills the field definitions
  // (InitFieldDefs), creates default fields when DefaultFields(), binds
  // the fields (BindFields(true)), settles its buffer layout and
  // BookmarkSize, and leaves the cursor before the first record
  // (InternalFirst). When it fails it leaves nothing open.
  virtual void InternalOpen() = 0;
  // Closes the cursor: unbinds the fields (BindFields(false)) and destroys
  // default fields (DestroyFields). Runs in the inactive state.
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() = 0;
  // Fills FieldDefs (after clearing them).
  virtual void InternalInitFieldDefs() = 0;
  // Re-reads the current record and whatever the storage caches.
  virtual void InternalRefresh() {}
  // Called when closing for destruction fails (CloseForDestroy), inside
  // the handler of the exception; by default nothing.
  virtual void InternalHandleException() {}

  // --- Hooks: editing ------------------------------------------------------------
  // A blank record in `buffer` (by default zero-filled).
  virtual void InternalInitRecord(TRecordBuffer buffer);
  // Starts editing the active record (re-read, lock); may refuse by raising.
  virtual void InternalEdit() {}
  // Stores the active buffer: in dsEdit over its record, in dsInsert as a
  // new record. Leaves the cursor on the record stored. By default an
  // insert goes to InternalAddRecord (appending when the record was begun
  // by Append) and an edit to nothing.
  virtual void InternalPost();
  // Adds `buffer` as a new record, at the end when `append`, else at the
  // cursor. By default raises SOperationNotSupported.
  virtual void InternalAddRecord(TRecordBuffer buffer, bool append);
  // Drops the edit or insert (release what InternalEdit took).
  virtual void InternalCancel() {}
  // Deletes the active record; the cursor stays where the framework then
  // re-reads (Resync). By default raises SOperationNotSupported.
  virtual void InternalDelete();
  // Blanks the calculated part of `buffer`; nothing by default.
  virtual void ClearCalcFields(TRecordBuffer) {}

  // --- Hooks: properties -----------------------------------------------------------
  virtual bool GetCanModify() { return true; }
  virtual TDataSource* GetDataSource() { return nullptr; }
  // -1 (unknown) by default.
  virtual int GetRecordCount() { return -1; }
  virtual int GetRecNo() { return -1; }

  // --- Event dispatchers -----------------------------------------------------------
  virtual void DoBeforeOpen() { Fire(BeforeOpen); }
  virtual void DoAfterOpen() { Fire(AfterOpen); }
  virtual void DoBeforeClose() { Fire(BeforeClose); }
  virtual void DoAfterClose() { Fire(AfterClose); }
  virtual void DoBeforeInsert() { Fire(BeforeInsert); }
  virtual void DoAfterInsert() { Fire(AfterInsert); }
  virtual void DoBeforeEdit() { Fire(BeforeEdit); }
  virtual void DoAfterEdit() { Fire(AfterEdit); }
  virtual void DoBeforePost() { Fire(BeforePost); }
  virtual void DoAfterPost() { Fire(AfterPost); }
  virtual void DoBeforeCancel() { Fire(BeforeCancel); }
  virtual void DoAfterCancel() { Fire(AfterCancel); }
  virtual void DoBeforeDelete() { Fire(BeforeDelete); }
  virtual void DoAfterDelete() { Fire(AfterDelete); }
  virtual void DoBeforeScroll() { Fire(BeforeScroll); }
  virtual void DoAfterScroll() { Fire(AfterScroll); }
  virtual void DoOnCalcFields() { Fire(OnCalcFields); }
  virtual void DoOnNewRecord() { Fire(OnNewRecord); }

  // --- Helpers for a derived dataset ------------------------------------------
  // Changes the state and tells the links (deUpdateState); clears Modified.
  void SetState(TDataSetState value);
  // Enters a temporary state for reading fields from another buffer,
  // without telling the links; returns the state to give RestoreState.
  TDataSetState SetTempState(TDataSetState value);
  void RestoreState(TDataSetState value);
  void SetBookmarkSize(int size) { bookmarkSize_ = size; }
  // The fields are made from the definitions at this open (no fields
  // existed before it).
  bool DefaultFields() const { return defaultFields_; }
  void CreateFields();
  // Binding numbers the data fields by their definitions (raising
  // SFieldNotFound or SFieldTypeMismatch; a string field takes its
  // definition's size) and lays out the calculated part: each non-data
  // field gets an offset, and CalcFieldsSize the total of
  // DataSize() + 1 per field.
  void BindFields(bool binding);
  void DestroyFields() { fields_.Clear(); }
  // Computes the calculated fields of `buffer` (in dsCalcFields, with
  // CalcBuffer() pointing at it): ClearCalcFields, then OnCalcFields.
  // Nothing happens when there are no calculated fields.
  void GetCalcFields(TRecordBuffer buffer);
  // Closes without raising, for a derived destructor; a failure goes to
  // InternalHandleException and the buffers are given back regardless.
  void CloseForDestroy() noexcept;

 private:
  void Fire(const TDataSetNotifyEvent& e) {
    if (e) e(*this);
  }
  void OpenCursor();
  void CloseCursor();
  // First (true) or Last (false).
  void MoveToEnd(bool first);
  // InternalHandleException from inside a handler, swallowing what it raises.
  void HandleQuietly() noexcept;
  void AllocateBuffers();
  void FreeBuffers() noexcept;
  void ClearBuffers();
  // Reads the record in `mode` into the spare buffer and, when there is
  // one, makes it the active record.
  bool Fetch(TGetMode mode, bool doCheck = true);
  void InitRecord(TRecordBuffer buffer);
  void BeginInsertAppend();
  void EndInsertAppend();
  void CheckRequiredFields();
  void CheckOperation(void (TDataSet::*operation)(), const TDataSetErrorEvent& onError);
  void NotifySources(TDataEvent event, TField* field);

  TFieldDefs fieldDefs_;
  TFields fields_;
  TDataSetState state_ = dsInactive;
  TRecordBuffer active_ = nullptr;
  TRecordBuffer spare_ = nullptr;
  TRecordBuffer calc_ = nullptr;
  TRecordBuffer calcCurrent_ = nullptr;
  int recordCount_ = 0;
  bool bof_ = true;
  bool eof_ = true;
  bool cursorSynced_ = false;
  bool modified_ = false;
  bool defaultFields_ = false;
  bool autoCalcFields_ = true;
  bool loading_ = false;
  int bookmarkSize_ = 0;
  int calcFieldsSize_ = 0;
  int disableCount_ = 0;
  int tempDepth_ = 0;
  TDataSetState disableState_ = dsInactive;
  bool pendingChange_ = false;
  AnsiString filterText_;
  bool filtered_ = false;
  TFilterOptions filterOptions_;
  std::vector<TDataSource*> dataSources_;
};

}  // namespace dataaccess
