// What ties the table handler to the dataset component (TXBaseDataSet,
// dataset/dataset.h):
//
//   TXBaseDataSetBase  the few answers only the dataset can give -- its
//                      table, the record buffer of its current state,
//                      whether a rename is under way, its OnStatus -- as
//                      virtual hooks TXBaseDataSet implements
//   DBFObject          the table handler that belongs to one dataset: its
//                      filter test also asks the dataset's OnFilterRecord,
//                      its progress goes to the dataset's OnStatus
//   THCBlobStream      the stream through which the dataset's memo and blob
//                      fields are read and written
//
// A memo reaches the table only when its stream is committed (or freed)
// while the dataset is still editing or inserting; the record itself is
// written when the dataset posts.
//
// One thread; a stream lives for one field access.
#pragma once

#include <cstdint>
#include <string>

#include "dataaccess/DataSet.h"
#include "xbase/handler/table_handler.h"

namespace xbase {

// What DBFObject and THCBlobStream need of the dataset that owns them.
// TXBaseDataSet (dataset/dataset.h) derives from this and implements the hooks.
class TXBaseDataSetBase : public dataaccess::TDataSet {
 public:
  // The open table; nullptr while closed.
  virtual XBO_dBHandler* DBFHandle() const = 0;
  // The record image of the buffer the current state works on, nullptr when
  // the state has none (browse on an empty dataset, say). In the filter
  // state it is the record the table is reading.
  virtual dataaccess::TRecordBuffer GetActiveRecBuf() = 0;
  // A rename of the table is under way (its moves are not the user's).
  virtual bool Renaming() const = 0;
  // Fires the dataset's OnStatus with the table's progress counters.
  virtual void DoOnStatus(int stat1, int stat2, int stat3) = 0;

  // Runs OnFilterRecord for the table's current record in the filter state
  // (dsFilter) with Accept initially true; its answer, true without a
  // handler.
  bool FilterRecord();
};

class DBFObject : public XBO_dBHandler {
 public:
  // Opens the table as XBO_dBHandler does, linked to `TTab` (nullptr: no
  // dataset; then it behaves as the handler).
  DBFObject(const std::string& FName, const AnsiString& APassword, bool ReadWrite, bool Shared,
            TXBaseDataSetBase* TTab);

  TXBaseDataSetBase* LinkTab() const { return LinkTab_; }

  // While the linked dataset is active, filtered, not renaming and has an
  // OnFilterRecord handler, a record that handler refuses fails; otherwise
  // the filter bitmap decides.
  bool xbTestFilter() override;
  // To the linked dataset's OnStatus (nothing while it renames).
  void xbStatusUpdate(int stat1, int stat2, int stat3) override;

 private:
  TXBaseDataSetBase* LinkTab_;
};

// The contents of one memo or blob field of the record in the dataset's
// current state, held whole in memory. Text fields (Transliterate) are
// converted from the table's OEM text on loading and back on storing
// through the dataset's Translate.
class THCBlobStream : public dataaccess::TBlobStream {
 public:
  // Loads the field's memo, or with bmWrite starts empty. A stream for
  // writing needs a field that is not read-only (EDatabaseError "Field '%s'
  // cannot be modified") and a dataset in the edit or insert state
  // (EDatabaseError 65191).
  THCBlobStream(dataaccess::TField& Field, dataaccess::TBlobStreamMode Mode);
  // Commits what is pending, swallowing a failure.
  ~THCBlobStream() override;

  // Up to Count bytes from the position, never past the end.
  int64_t Read(void* Buffer, int64_t Count) override;
  // Replaces everything from the position on by the Count bytes (a gap
  // left by a position past the end reads as zeros).
  int64_t Write(const void* Buffer, int64_t Count) override;
  // From the beginning, the position or the end; the position never goes
  // below 0 (it may stand past the end).
  int64_t Seek(int64_t Offset, platform::TSeekOrigin Origin) override;
  int64_t Size() override { return static_cast<int64_t>(FMemory.size()); }
  // Cuts or extends (with zeros) the contents.
  void SetSize(int64_t NewSize) override;
  // Empties the contents; position 0.
  void Truncate();
  // Stores a changed contents as the field's memo in the dataset's active
  // record and tells the dataset the field changed; nothing when unchanged.
  // A dataset that has left the edit and insert states raises 65191 and the
  // change is dropped.
  void Commit() override;

 private:
  dataaccess::TField& FField;
  TXBaseDataSetBase* FDataSet;
  int FFieldNo;
  bool FModified = false;
  std::string FMemory;
  int64_t FPosition = 0;
};

}  // namespace xbase
