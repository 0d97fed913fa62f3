// The table file: one .dbf, moved between the file and a record buffer
// whole record at a time.
//
// File layout (all integers little-endian):
//
//   offset  size  header (XBR_DBFHeader)
//        0     1  DBType: 0x03 / 0x04 no memo, 0x83 dBase III memo, 0x8B dBase IV
//                 memo, 0xF5 FoxPro memo, 0x30 Visual FoxPro
//        1     3  year mod 100, month, day of the last update
//        4     4  RecordCount (signed)
//        8     2  Location: header length = offset of record 1
//       10     2  RecordLen, deletion flag included
//       12     3  reserved, transaction byte (written back unchanged)
//       15     1  Encrypted: 1 when descriptors and records are scrambled
//       16     4  MultUseFlg: ((hour*64 + minute)*64 + second)*1024 + ms
//       20     4  UserIDLast
//       24     4  reserved
//       28     1  DBTableFlag: 1 production index, 2 memo, 4 database container
//       29     3  language byte, reserved
//       32  32*n  field descriptors (XBR_DBFField):
//                   0 11 name, zero-padded   11 1 type letter
//                  12  4 offset in record (in memory only)
//                  16  1 length (C: low byte)  17 1 decimals (C: length high byte)
//                  26  2 field number (in memory only)
//        .     1  0x0D; a 0x30 table then has a 263-byte area inside the header
// Location  RecordLen * RecordCount  records: byte 0 the deletion flag (blank
//                 = live, anything else deleted), then the fields in
//                 descriptor order, without separators
//        .     1  0x1A after the last record when this engine appended it
//
// The record count comes from the header, never from the file size (unless
// UseFileSize), so records written behind the header by another writer that
// patched the count and left no 0x1A are read, and the next append goes
// after them.
//
// An XBO_dBaseDBF knows nothing of field types (XBO_dBaseFld adds them) nor
// of indexes (XBO_dBHandler); its descendants hook in through xbDBFEvent.
// One user at a time; not thread-safe. Several programs may share a table
// opened shared: they coordinate through the lock protocol's byte ranges
// (table/lock_protocols.h), and the header is re-read before appends and on locking.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "xbase/base/disk_file.h"
#include "xbase/table/lock_protocols.h"

namespace xbase {

using platform::AnsiString;

class XBobjMemo;

// The 32-byte table header, decoded. The reserved bytes travel unchanged.
struct XBR_DBFHeader {
  static constexpr int Size = 32;
  uint8_t DBType = 0;
  uint8_t Year = 0, Month = 0, Day = 0;
  int32_t RecordCount = 0;
  uint16_t Location = 0;
  uint16_t RecordLen = 0;
  uint8_t Reserve1[2] = {};
  uint8_t TranIncmpl = 0;
  uint8_t Encrypted = 0;
  uint32_t MultUseFlg = 0;
  uint32_t UserIDLast = 0;
  uint8_t Reserve2[4] = {};
  uint8_t DBTableFlag = 0;
  uint8_t LangID = 0;
  uint8_t Reserve3[2] = {};

  void Decode(const uint8_t* bytes);
  void Encode(uint8_t* bytes) const;
};

// One 32-byte field descriptor, decoded.
struct XBR_DBFField {
  static constexpr int Size = 32;
  char dbFieldName[11] = {};  // zero-padded, at most 10 characters
  char dbFieldType = 0;
  uint32_t dbFieldOffset = 0;  // offset in the record (set at open; 0 on disk)
  uint8_t dbFieldLgth = 0;
  uint8_t dbFieldDec = 0;
  uint8_t dbFieldFlag = 0;
  uint8_t ResBytes[5] = {};
  uint16_t ResWord = 0;
  uint16_t dbFieldNum = 0;  // 1-based number (set at open; 0 on disk)
  uint8_t dbFiller[4] = {};

  void Decode(const uint8_t* bytes);
  void Encode(uint8_t* bytes) const;
  // The name up to its first zero.
  AnsiString Name() const;
  // The field's length in the record: for type C the length byte plus 256
  // times the decimals byte (text fields of up to 65,535 bytes).
  int Length() const { return dbFieldType == 'C' ? dbFieldLgth + 256 * dbFieldDec : dbFieldLgth; }
  // Decimals: 0 for type C (its decimals byte is the length's high byte).
  int Decimals() const { return dbFieldType == 'C' ? 0 : dbFieldDec; }
};

// Reads a table's field descriptors as opening it does. `area` holds the
// descriptor area unscrambled -- `areaLen` bytes from header offset 32 up
// to the header's last byte (before Visual FoxPro's 263-byte area) --
// and one byte more, the one behind it. The fields go to `fields`, with
// their record offsets and numbers. False when the open refuses the
// table: a descriptor without a type letter, or fields past the record of
// `recLen` bytes; with `scrambled` also what a wrong password could have
// made. That same rule decides what the engine agrees to scramble, so
// that a table scrambled under a password always reopens with it.
bool ReadDescriptors(const uint8_t* area, int areaLen, int recLen, uint8_t version, bool scrambled,
                     std::vector<XBR_DBFField>& fields);

// What a table is telling its descendants (xbDBFEvent), values 0-8.
enum dbFileEvent : uint8_t {
  dbRecordChange, dbFieldChange, dbTableChange, dbRecordWrite, dbPreRead, dbPreWrite, dbPostRead,
  dbPostWrite, dbFlush
};
// What the table is doing.
enum dbFileState : uint8_t { dbInactive, dbBrowse, dbEdit, dbAppend, dbIndex, dbCopy };
// Whether the header is owed to the file.
enum dbFileStatus : uint8_t { NotUpdated, Updated };

// Record numbers of xbGetRec below 1: moves relative to the current record.
enum : int {
  xbRecNext = -1,     // RecNumber + 1
  xbRecPrior = -2,    // RecNumber - 1; from record 1 sets File_TOF only
  xbRecTop = -3,      // 1
  xbRecBottom = -4,   // NumRecs
  xbRecCurrent = -5,  // RecNumber again (the top record when there is none)
};

class XBO_dBaseDBF : public XBO_DiskFile {
 public:
  // Opens the table `fname` (".DBF" added when it has no extension) with
  // the disk file's modes. A missing file raises 65199; a header this engine
  // cannot read safely raises 65140 ("Table Header for %s is invalid"): an
  // unknown version, Location below 33 (296 for 0x30) or beyond the file,
  // RecordLen 0, a negative RecordCount, a descriptor without a type letter,
  // or fields longer than the record. A password for a plain table raises
  // 65146, none for a scrambled one 65147, and a scrambled table whose
  // descriptors do not make sense unscrambled 65148 (a wrong password) --
  // all three EXBaseEncryption. The descriptor list ends at the first
  // descriptor that begins with 0x0D (some writers pad behind it).
  XBO_dBaseDBF(const std::string& fname, const AnsiString& password, bool readWrite, bool shared);
  // Closes the table (xbCloseFile); errors are swallowed here.
  ~XBO_dBaseDBF() override;

  // Reads record RecNum into CurRecord. A positive number is a physical
  // record; 0 does nothing; the xbRec… codes move relatively; any other value
  // below 1 raises 65139. With no records File_EOF and File_TOF are both set.
  // NumRecs + 1 sets File_EOF without reading; beyond that raises 65139 (the
  // header is re-read first, in case another program appended). A short read
  // raises 65168. After a read OrigRec holds the same bytes.
  virtual void xbGetRec(int RecNum);
  // Writes CurRecord over record RecNum (1..NumRecs, not while dState is
  // dbAppend, else 65139); stamps the header's time. OrigRec holds the
  // record as it stood in the file while dbPreWrite/dbPostWrite run.
  virtual void xbPutRec(int RecNum);
  // Appends CurRecord (its deletion flag made live) as record NumRecs + 1,
  // followed by 0x1A, and writes the header with the new count. On a shared
  // table this waits for the append lock (65198 when it cannot be had) and
  // takes the count other programs left.
  virtual void xbAppend();
  // Descendants maintain indexes here. This one, on dbPostRead and
  // dbPostWrite, clears RecModified and returns dState to dbBrowse (not
  // during dbCopy). True.
  virtual bool xbDBFEvent(dbFileEvent event, int action);

  // Locks (one try each; false when refused). The positions follow the lock
  // protocol (xbSetLockProtocol).
  //  - xbRLock: one byte for RecNumber.
  //  - xbFLock: the protocol's file range; xbLockFullFile: (0, 0x7FFFFFFF).
  //    Held file locks only count further; a new one re-reads the header.
  //  - xbLockAppend: waits for the append byte at Max (shared tables only;
  //    65198 when it cannot be had); xbUnlockAppend releases it.
  //  - xbLockOff: releases one count; the last writes the owed header first.
  // A record or file lock newly taken on a shared table makes the next read
  // of a record it covers come from the file.
  virtual bool xbRLock();
  // Locks record `recNo` as xbRLock locks the current one; the record
  // number and the buffer stay as they are (a caller holding an edited
  // record in its own buffer).
  bool xbRLockAt(int recNo);
  virtual bool xbFLock();
  virtual bool xbLockFullFile();
  virtual bool xbLockAppend();
  virtual bool xbUnlockAppend();
  virtual bool xbLockOff();
  // With the file lock held only counts; else one try at (pos, len).
  bool xbLockTheFile(uint32_t pos, uint32_t len);
  // Sets the protocol and its regions, and passes it to the memo file.
  virtual void xbSetLockProtocol(XBsetLokProtocol p);
  // False here; the handler answers whether an index is open.
  virtual bool xbWithIndex();

  // Hands the table's and the open memo file's writes to the system, then
  // raises dbFlush with RecNumber.
  void xbFlush() override;
  // As the disk file's; an append then reads the file's end anew.
  void xbReset() override;
  void xbTruncate(int64_t loc) override;
  // Writes the owed header, closes the memo file and the table.
  bool xbCloseFile() override;
  // Renames the table (".DBF" added when the new name has no extension)
  // and its memo file, named for the new table (its extension in the case
  // of the new table's, as a new memo file is); when the memo file
  // cannot follow, the table goes back to its old name and 65170 is raised.
  bool xbRename(const std::string& newName) override;

  // True when CurRecord exists and its deletion flag is not a blank.
  bool xbDelFlag() const;
  // Shared tables: re-reads the header, takes the record count (from the
  // file size with UseFileSize) and notes whether another program changed
  // the table. Exclusive tables: nothing to re-read.
  void xbHdrRead();
  // Writes the whole header with the current count, date and time (only
  // when read-write and owed; while the file lock is held only with Force).
  void xbHdrWrite(bool force);
  // After a rewrite: writes the time, the user and, if it changed, the date.
  void xbHdrUpdate();
  // xbHdrRead, then 2 when another program changed the table plus 1 when
  // this object rewrote a record since the last call; clears both.
  int xbExternalChange();
  // xbHdrRead; Date = Year*65536 + Month*256 + Day (two-digit year), Time =
  // UpdateTime, User = UserIDLast.
  void xbReturnDateTimeUser(int& date, int& time, int& user);
  void xbAssignUserID(int id) { xbvUserID_ = id; }
  // The memo file, opened on first use; nullptr for a table without one.
  // Raises 65199 when the table needs a memo file that is missing, 65138
  // when its header is unusable.
  XBobjMemo* xbMemoObject();

  // --- State, as the engine's other layers read it ---
  const XBR_DBFHeader& HeadProlog() const { return head_; }
  // Upper-case file name without folder and extension.
  const AnsiString& dAlias() const { return dAlias_; }
  dbFileStatus dStatus() const { return dStatus_; }
  dbFileState dState() const { return dState_; }
  void SetdState(dbFileState s) { dState_ = s; }
  int NumRecs() const { return NumRecs_; }
  int HeadLen() const { return HeadLen_; }
  int RecLen() const { return RecLen_; }
  int NumFields() const { return static_cast<int>(fields_.size()); }
  // Descriptor `index` (0-based; field number index + 1), with its record
  // offset and number filled in.
  const XBR_DBFField& Fields(int index) const { return fields_[static_cast<size_t>(index)]; }
  // Physical number of the record in CurRecord; 0 before the first read.
  int RecNumber() const { return RecNumber_; }

  // The current record: RecLen bytes and one more that holds 0x1A. It is
  // the table's own buffer (CurRecHold) unless a caller pointed it at one of
  // its own of RecLen + 1 bytes (nullptr points it back).
  uint8_t* CurRecord() const { return CurRecord_; }
  void SetCurRecord(uint8_t* buffer) { CurRecord_ = buffer ? buffer : hold_.data(); }
  uint8_t* CurRecHold() { return hold_.data(); }
  // The record OrigRecNumber as it stands in the file (index upkeep removes
  // old keys by it).
  const uint8_t* OrigRec() const { return orig_.data(); }
  int OrigRecNumber() const { return OrigRecNumber_; }
  // Per-field changed flags, [0] the deletion flag, [n] field n.
  std::vector<uint8_t>& CurRecChg() { return chg_; }

  bool File_EOF() const { return File_EOF_; }
  bool File_TOF() const { return File_TOF_; }
  void SetFile_EOF(bool v) { File_EOF_ = v; }
  void SetFile_TOF(bool v) { File_TOF_ = v; }
  uint8_t FileVers() const { return FileVers_; }
  uint8_t FileTarget() const { return FileVers_; }
  bool FileIsLocked() const { return FileIsLocked_; }
  bool UseReadLockIndex() const { return UseReadLockIndex_; }
  uint8_t IndexFlag() const { return IndexFlag_; }
  uint8_t MemoFlag() const { return MemoFlag_; }
  uint8_t DBCFlag() const { return DBCFlag_; }
  void SetIndexFlag(uint8_t v) { IndexFlag_ = v & 1; }
  uint32_t UpdateTime() const { return UpdateTime_; }
  bool ExtTableChg() const { return ExtTableChg_; }
  bool IntTableChg() const { return IntTableChg_; }
  bool xbvIsEncrypted() const { return xbvIsEncrypted_; }
  const AnsiString& xbvPasswordIn() const { return xbvPasswordIn_; }
  const AnsiString& xbvPasswordOut() const { return xbvPasswordOut_; }
  int xbvUserID() const { return xbvUserID_; }
  bool WithMemo() const { return WithMemo_; }
  bool WithIndex() const { return WithIndex_; }
  void SetWithIndex(bool v) { WithIndex_ = v; }
  XBsetLokProtocol dfLockStyle() const { return dfLockStyle_; }
  const XBLockRegions& LockRegions() const { return regions_; }

  // Settings callers change.
  bool RecModified() const { return RecModified_; }
  void SetRecModified(bool v) { RecModified_ = v; }
  bool UseDeletedRec() const { return UseDeletedRec_; }
  void SetUseDeletedRec(bool v) { UseDeletedRec_ = v; }
  bool UseFileSize() const { return UseFileSize_; }
  void SetUseFileSize(bool v) { UseFileSize_ = v; }
  bool LockAppend4Edit() const { return LockAppend4Edit_; }
  void SetLockAppend4Edit(bool v) { LockAppend4Edit_ = v; }
  bool xbvExactMatch() const { return xbvExactMatch_; }
  void SetxbvExactMatch(bool v) { xbvExactMatch_ = v; }
  // Every record write also waits until the data is on the medium.
  bool xbvAutoFlush() const { return xbvAutoFlush_; }
  void SetxbvAutoFlush(bool v) { xbvAutoFlush_ = v; }
  bool xbvIndexState() const { return xbvIndexState_; }
  void SetxbvIndexState(bool v) { xbvIndexState_ = v; }
  int HdrLocked() const { return HdrLocked_; }
  void SetHdrLocked(int v) { HdrLocked_ = v; }
  const std::string& xbvTempDir() const { return xbvTempDir_; }
  void SetxbvTempDir(const std::string& dir) { xbvTempDir_ = dir; }

 protected:
  // For the table's own descendants (handler, maintenance).
  void SetNumRecs(int n) { NumRecs_ = n; }
  void SetRecNumber(int n) { RecNumber_ = n; }
  // The passwords records are read and written with, and whether the
  // header says the table is scrambled (a password change switches them);
  // an open memo file follows.
  void SetPasswords(const AnsiString& in, const AnsiString& out);
  void SetEncrypted(bool v) { xbvIsEncrypted_ = v; }
  void SetdStatus(dbFileStatus s) { dStatus_ = s; }
  // Reads record n raw into `buffer` (RecLen bytes), unscrambled; false on a
  // short read.
  bool ReadRecordInto(int n, uint8_t* buffer);
  // Reads `count` records from record `first` on into `buffer` (count *
  // RecLen bytes) with one read, unscrambled; false on a short read.
  bool ReadRecordsInto(int first, int count, uint8_t* buffer);
  // Appends `count` record images (RecLen bytes each, deletion flags as
  // given) after the last record with one write: the bytes that as many
  // xbAppend calls and flag rewrites would leave, with no record events --
  // for a new table that has nothing to keep in step, written under its
  // file lock (the header follows at the unlock). CurRecord then holds the
  // last record.
  void xbAppendRun(const uint8_t* images, int count);
  // Takes `memo` as the table's memo file in place of the one named after
  // the table (a table written under a temporary name beside its final
  // one); the memo file gets the table's passwords and lock protocol.
  void xbMemoAttach(std::unique_ptr<XBobjMemo> memo);
  // After the table's files were replaced whole: closes the table and its
  // memo file, opens the table again under its name and reads its header
  // anew (the memo file opens again on first use). Raises as the open does.
  void xbReopen();
  // Called when a lock is newly taken on a shared table, for record
  // `recNo` (0: the whole file): whatever a descendant keeps of the
  // records it covers may be older than what another program wrote before
  // the lock, and must be read again.
  virtual void LockedRecordsMayHaveChanged(int recNo) { (void)recNo; }
  // Called by xbPutRec once CurRecord stands in the file where `was` stood:
  // what only the old image named may be given back now (a descendant
  // gives back memo blocks). It must not raise: the record is written.
  virtual void RecordReplaced(const uint8_t* was) noexcept { (void)was; }
  // The memo file asks, when it shows damage, which blocks the records
  // name: the highest one up to `limit` in any memo field of any record
  // in the file, deleted ones included (TMemoBlocksNamed). None here.
  virtual int64_t HighestMemoBlockNamed(int64_t limit) {
    (void)limit;
    return 0;
  }

 private:
  void ReadHeader();
  // The memo file takes the table's passwords, lock protocol and the way
  // to ask which blocks the records name.
  void ConnectMemo();
  // A file lock was newly taken: the header and the records as the file
  // now holds them.
  void WholeFileLocked();
  // Our file lock covers the append lock's byte: no other program appends
  // while it is held, and our record count may be ahead of the header,
  // which is written when the lock goes.
  bool AppendsHeldOff() const;
  int64_t RecordPos(int n) const { return int64_t{HeadLen_} + int64_t{n - 1} * RecLen_; }
  // Writes the record image `record` (CurRecord when null; RecLen + 1
  // bytes), scrambled when the table is, `withEof` adding 0x1A.
  void WriteRecord(int n, bool withEof, uint8_t* record = nullptr);
  // Writes CurRecord as record `n`, the first past the last, with 0x1A;
  // a write cut short leaves the file's end as it stood.
  void WriteAtEnd(int n);
  // The end of an append whose records are written: the header (unless
  // held back), the dbPostWrite event (with `event`), the append lock
  // released, OrigRec the last record.
  void CompleteAppend(bool event);
  // The header's time and user from the clock; the local time it used.
  platform::TSystemTime Stamp();
  [[noreturn]] void RaiseRecNo(int n) const;

  XBR_DBFHeader head_;
  AnsiString dAlias_;
  dbFileStatus dStatus_ = NotUpdated;
  dbFileState dState_ = dbInactive;
  int NumRecs_ = 0;
  int HeadLen_ = 0;
  int RecLen_ = 0;
  std::vector<XBR_DBFField> fields_;
  int RecNumber_ = 0;
  uint8_t* CurRecord_ = nullptr;
  std::vector<uint8_t> hold_;     // CurRecHold
  std::vector<uint8_t> orig_;     // OrigRec
  std::vector<uint8_t> encrypt_;  // CurRecEncrypt
  std::vector<uint8_t> chg_;      // CurRecChg
  int OrigRecNumber_ = 0;
  bool File_EOF_ = false;
  bool File_TOF_ = true;
  uint8_t FileVers_ = 0;
  bool FileIsLocked_ = false;
  bool UseReadLockIndex_ = false;
  bool LockAppend4Edit_ = false;
  bool appendLocked_ = false;
  uint8_t IndexFlag_ = 0, MemoFlag_ = 0, DBCFlag_ = 0;
  uint32_t UpdateTime_ = 0;
  bool ExtTableChg_ = false;
  bool IntTableChg_ = false;
  bool RecModified_ = false;
  bool UseDeletedRec_ = true;
  bool xbvExactMatch_ = false;
  bool xbvAutoFlush_ = false;
  bool xbvIsEncrypted_ = false;
  AnsiString xbvPasswordIn_, xbvPasswordOut_;
  std::string xbvTempDir_;
  int xbvUserID_ = 0;
  bool xbvIndexState_ = false;
  bool WithMemo_ = false;
  bool WithIndex_ = false;
  int HdrLocked_ = 0;
  bool UseFileSize_ = false;
  XBsetLokProtocol dfLockStyle_ = XBsetLokProtocol::Default;
  XBLockRegions regions_;
  std::unique_ptr<XBobjMemo> memo_;
  // Where an exclusive table ends when this object's last append wrote
  // its end (the byte past that append's 0x1A); -1 when not known, and
  // the next append reads the end it covers first.
  int64_t knownEnd_ = -1;
};

// Points a table's record pointer at a buffer of RecLen + 1 bytes for one
// operation, and back at what it pointed to before on every exit.
class TxbRecordPointer {
 public:
  TxbRecordPointer(XBO_dBaseDBF& table, uint8_t* buffer) : table_(table), saved_(table.CurRecord()) {
    table.SetCurRecord(buffer);
  }
  ~TxbRecordPointer() { table_.SetCurRecord(saved_); }
  TxbRecordPointer(const TxbRecordPointer&) = delete;
  TxbRecordPointer& operator=(const TxbRecordPointer&) = delete;

 private:
  XBO_dBaseDBF& table_;
  uint8_t* saved_;
};

}  // namespace xbase
