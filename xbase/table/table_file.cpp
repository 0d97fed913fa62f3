#include "xbase/table/table_file.h"

#include <climits>
#include <cstring>
#include <vector>

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "xbase/base/byte_order.h"
#include "xbase/base/errors.h"
#include "xbase/base/scrambling.h"
#include "xbase/base/utilities.h"
#include "xbase/table/memo_files.h"

namespace xbase {

namespace {

bool KnownVersion(uint8_t v) { return v == 0x03 || v == 0x04 || v == 0x30 || v == 0x83 || v == 0x8B || v == 0xF5; }

// The 263-byte area a Visual FoxPro header carries behind its terminator.
constexpr int kVfpArea = 263;
constexpr int64_t kWholeFile = 0x7FFFFFFF;

}  // namespace

void XBR_DBFHeader::Decode(const uint8_t* b) {
  DBType = b[0];
  Year = b[1];
  Month = b[2];
  Day = b[3];
  RecordCount = static_cast<int32_t>(GetLE32(b + 4));
  Location = GetLE16(b + 8);
  RecordLen = GetLE16(b + 10);
  std::memcpy(Reserve1, b + 12, 2);
  TranIncmpl = b[14];
  Encrypted = b[15];
  MultUseFlg = GetLE32(b + 16);
  UserIDLast = GetLE32(b + 20);
  std::memcpy(Reserve2, b + 24, 4);
  DBTableFlag = b[28];
  LangID = b[29];
  std::memcpy(Reserve3, b + 30, 2);
}

void XBR_DBFHeader::Encode(uint8_t* b) const {
  b[0] = DBType;
  b[1] = Year;
  b[2] = Month;
  b[3] = Day;
  PutLE32(b + 4, static_cast<uint32_t>(RecordCount));
  PutLE16(b + 8, Location);
  PutLE16(b + 10, RecordLen);
  std::memcpy(b + 12, Reserve1, 2);
  b[14] = TranIncmpl;
  b[15] = Encrypted;
  PutLE32(b + 16, MultUseFlg);
  PutLE32(b + 20, UserIDLast);
  std::memcpy(b + 24, Reserve2, 4);
  b[28] = DBTableFlag;
  b[29] = LangID;
  std::memcpy(b + 30, Reserve3, 2);
}

void XBR_DBFField::Decode(const uint8_t* b) {
  std::memcpy(dbFieldName, b, 11);
  dbFieldType = static_cast<char>(b[11]);
  dbFieldOffset = GetLE32(b + 12);
  dbFieldLgth = b[16];
  dbFieldDec = b[17];
  dbFieldFlag = b[18];
  std::memcpy(ResBytes, b + 19, 5);
  ResWord = GetLE16(b + 24);
  dbFieldNum = GetLE16(b + 26);
  std::memcpy(dbFiller, b + 28, 4);
}

void XBR_DBFField::Encode(uint8_t* b) const {
  std::memcpy(b, dbFieldName, 11);
  b[11] = static_cast<uint8_t>(dbFieldType);
  PutLE32(b + 12, dbFieldOffset);
  b[16] = dbFieldLgth;
  b[17] = dbFieldDec;
  b[18] = dbFieldFlag;
  std::memcpy(b + 19, ResBytes, 5);
  PutLE16(b + 24, ResWord);
  PutLE16(b + 26, dbFieldNum);
  std::memcpy(b + 28, dbFiller, 4);
}

AnsiString XBR_DBFField::Name() const { return AnsiString(dbFieldName, strnlen(dbFieldName, sizeof dbFieldName)); }

// --- Open ---

XBO_dBaseDBF::XBO_dBaseDBF(const std::string& fname, const AnsiString& password, bool readWrite, bool shared)
    : XBO_DiskFile(DefaultFileExt(fname, ".DBF"), readWrite, shared),
      xbvPasswordIn_(password),
      xbvPasswordOut_(password) {
  if (!FileExist()) XBRaise(xbmFileNotFound, {FileName()});
  dAlias_ = platform::AnsiUpperCase(platform::Utf8ToAnsi(FileBaseName(FileName())));
  xbSetLockProtocol(XBsetLokProtocol::Default);
  xbReset();
  ReadHeader();
}

void XBO_dBaseDBF::ReadHeader() {
  knownEnd_ = -1;  // the file may have been replaced
  uint8_t raw[XBR_DBFHeader::Size];
  if (xbRead(0, raw, sizeof raw) < static_cast<int>(sizeof raw)) XBRaise(xbmReadError, {FileName()});
  head_.Decode(raw);
  if (!KnownVersion(head_.DBType)) XBRaise(xbmInvalidTableHeader, {FileName()});
  FileVers_ = head_.DBType;
  NumRecs_ = head_.RecordCount;
  HeadLen_ = head_.Location;
  RecLen_ = head_.RecordLen;
  IndexFlag_ = head_.DBTableFlag & 1;
  MemoFlag_ = head_.DBTableFlag & 2;
  DBCFlag_ = head_.DBTableFlag & 4;
  UpdateTime_ = head_.MultUseFlg;
  xbvIsEncrypted_ = head_.Encrypted != 0;

  // What the header says must fit what the file is before anything is
  // sized or positioned by it.
  const int tail = FileVers_ == 0x30 ? kVfpArea : 0;
  if (HeadLen_ < 33 + tail || HeadLen_ > xbFileSize() || RecLen_ < 1 || NumRecs_ < 0)
    XBRaise(xbmInvalidTableHeader, {FileName()});
  if (xbvIsEncrypted_ && xbvPasswordIn_.empty()) XBRaise<EXBaseEncryption>(xbmNoPassword, {FileName()});
  if (!xbvIsEncrypted_ && !xbvPasswordIn_.empty())
    XBRaise<EXBaseEncryption>(xbmPasswordForUnencrypted, {FileName()});

  // The descriptors and the byte behind them (inside the header).
  const int areaLen = HeadLen_ - 33 - tail;
  std::vector<uint8_t> area(static_cast<size_t>(areaLen) + 1);
  if (xbRead(32, area.data(), areaLen + 1) < areaLen + 1) XBRaise(xbmReadError, {FileName()});
  if (xbvIsEncrypted_) CryptBuffer(xbvPasswordIn_, area.data(), area.data(), static_cast<size_t>(areaLen), false);
  if (!ReadDescriptors(area.data(), areaLen, RecLen_, FileVers_, xbvIsEncrypted_, fields_)) {
    if (xbvIsEncrypted_) XBRaise<EXBaseEncryption>(xbmInvalidPassword, {FileName()});
    XBRaise(xbmInvalidTableHeader, {FileName()});
  }

  WithMemo_ = FileVers_ == 0x83 || FileVers_ == 0x8B || FileVers_ == 0xF5 || (FileVers_ == 0x30 && MemoFlag_);
  if (FileVers_ == 0x30 && !WithMemo_) {
    // Some writers leave the memo bit clear in tables that have memos.
    bool memoField = false;
    for (const XBR_DBFField& f : fields_) memoField |= f.dbFieldType == 'M' || f.dbFieldType == 'G';
    WithMemo_ = memoField && !platform::FindExistingFile(XBobjMemo::MemoFileName(FileName(), FileVers_)).empty();
  }
  WithIndex_ = IndexFlag_ != 0;

  RecNumber_ = 0;
  File_EOF_ = false;
  File_TOF_ = true;
  dStatus_ = NotUpdated;
  hold_.assign(static_cast<size_t>(RecLen_) + 1, ' ');
  hold_[static_cast<size_t>(RecLen_)] = 0x1A;
  CurRecord_ = hold_.data();
  orig_.assign(static_cast<size_t>(RecLen_) + 1, ' ');
  encrypt_.assign(static_cast<size_t>(RecLen_) + 1, ' ');
  chg_.assign(fields_.size() + 1, 0);
  dState_ = dbBrowse;
  xbHdrRead();
}

namespace {

// Whether a descriptor unscrambled with the password given can be one a
// table writer made, judged only by what every writer keeps and garbage
// seldom fakes: a type letter the engine knows, a name of printable
// characters padded with zeros, and zeros in bytes 24-30, which every
// format reserves (31 is dBase IV's production index mark). Letter case,
// decimals and bytes 12-23 are not judged: other writers make lower-case
// names and fill the field address, flag, work-area, multi-user and
// autoincrement bytes, this engine's builder takes decimals up to the
// length, and the engine scrambles such tables as they are.
bool PlausibleScrambled(const uint8_t* d, uint8_t version) {
  const char type = static_cast<char>(d[11]);
  const bool vfp = version == 0x30;
  if (!std::strchr("CNFDLMBGIYT", type) && !(vfp && std::strchr("0PQVW", type))) return false;
  const size_t n = strnlen(reinterpret_cast<const char*>(d), 11);
  if (n == 0) return false;
  for (size_t i = 0; i < n; ++i)
    if (d[i] < 0x20 || d[i] == 0x7F) return false;
  for (size_t i = n; i < 11; ++i)
    if (d[i] != 0) return false;
  for (int i = 24; i < 31; ++i)
    if (d[i] != 0) return false;
  return d[31] <= 1;
}

}  // namespace

// The list ends at the first descriptor that begins with 0x0D. Each must
// carry a type letter (a later format's 48-byte descriptors, or garbage,
// do not), and the fields must fit in the record. A scrambled table whose
// descriptors fail was most likely opened with the wrong password: its
// descriptors must then be plausible ones, its fields fill the record
// exactly and the terminator stand right behind the last descriptor --
// scrambled inside the area when the header was padded, as it is behind
// the area otherwise.
bool ReadDescriptors(const uint8_t* area, int areaLen, int recLen, uint8_t version, bool scrambled,
                     std::vector<XBR_DBFField>& fields) {
  fields.clear();
  int64_t offset = 1;
  int at = 0;
  for (; at + XBR_DBFField::Size <= areaLen && area[at] != 0x0D; at += XBR_DBFField::Size) {
    XBR_DBFField f;
    f.Decode(area + at);
    if (f.dbFieldType < 0x21 || f.dbFieldType > 0x7E) return false;
    if (scrambled && !PlausibleScrambled(area + at, version)) return false;
    f.dbFieldOffset = static_cast<uint32_t>(offset);
    f.dbFieldNum = static_cast<uint16_t>(fields.size() + 1);
    offset += f.Length();
    if (offset > recLen) return false;
    fields.push_back(f);
  }
  return !scrambled || (offset == recLen && area[at] == 0x0D);
}

XBO_dBaseDBF::~XBO_dBaseDBF() {
  try {
    XBO_dBaseDBF::xbCloseFile();
  } catch (const EXBaseError&) {
    // A destructor cannot report; an explicit xbCloseFile does.
  }
}

bool XBO_dBaseDBF::xbCloseFile() {
  if (!FileFound()) return true;
  // An exclusive table owes its header since the last append or rewrite;
  // a shared one owes it only while its file lock deferred it.
  if (dStatus_ == Updated && (!FileShared() || FileIsLocked_)) xbHdrWrite(true);
  if (memo_) memo_->xbCloseFile();  // kept: a reopened table reopens it
  FileIsLocked_ = false;
  appendLocked_ = false;
  return XBO_DiskFile::xbCloseFile();
}

// --- Records ---

void XBO_dBaseDBF::RaiseRecNo(int n) const { XBRaise(xbmRecordNotInTable, {n, FileName()}); }

bool XBO_dBaseDBF::ReadRecordInto(int n, uint8_t* buffer) { return ReadRecordsInto(n, 1, buffer); }

bool XBO_dBaseDBF::ReadRecordsInto(int first, int count, uint8_t* buffer) {
  const int64_t bytes = int64_t{count} * RecLen_;
  if (count <= 0 || bytes > INT_MAX) return count == 0;
  if (xbRead(RecordPos(first), buffer, static_cast<int>(bytes)) < bytes) return false;
  if (xbvIsEncrypted_)
    for (int i = 0; i < count; ++i) {
      uint8_t* r = buffer + static_cast<size_t>(i) * static_cast<size_t>(RecLen_);
      CryptBuffer(xbvPasswordIn_, r, r, static_cast<size_t>(RecLen_), false);
    }
  return true;
}

void XBO_dBaseDBF::xbAppendRun(const uint8_t* images, int count) {
  if (count <= 0) return;
  const size_t len = static_cast<size_t>(RecLen_);
  if (int64_t{count} * RecLen_ + 1 > INT_MAX || count > 0x7FFFFFFF - NumRecs_)
    XBRaise(xbmRecordNotInTable, {int64_t{NumRecs_} + count, FileName()});
  std::vector<uint8_t> run(static_cast<size_t>(count) * len + 1);
  for (int i = 0; i < count; ++i) {
    uint8_t* r = run.data() + static_cast<size_t>(i) * len;
    std::memcpy(r, images + static_cast<size_t>(i) * len, len);
    if (xbvIsEncrypted_) CryptBuffer(xbvPasswordOut_, r, r, len, true);
  }
  run.back() = 0x1A;
  knownEnd_ = -1;
  xbLockAppend();
  try {
    xbWrite(RecordPos(NumRecs_ + 1), run.data(), static_cast<int>(run.size()));
  } catch (...) {
    xbUnlockAppend();
    throw;
  }
  NumRecs_ += count;
  RecNumber_ = NumRecs_;
  dStatus_ = Updated;
  std::memcpy(CurRecord_, images + static_cast<size_t>(count - 1) * len, len);
  CompleteAppend(false);
}

void XBO_dBaseDBF::CompleteAppend(bool event) {
  try {
    xbHdrWrite(false);
    // Without the event only this layer's state follows the write.
    if (event)
      xbDBFEvent(dbPostWrite, 0);
    else
      XBO_dBaseDBF::xbDBFEvent(dbPostWrite, 0);
    xbFlush();
    if (xbvAutoFlush_) xbSync();
  } catch (...) {
    xbUnlockAppend();
    throw;
  }
  xbUnlockAppend();
  File_EOF_ = File_TOF_ = false;
  std::memcpy(orig_.data(), CurRecord_, static_cast<size_t>(RecLen_));
  OrigRecNumber_ = RecNumber_;
}

void XBO_dBaseDBF::xbGetRec(int RecNum) {
  if (NumRecs_ == 0) xbHdrRead();
  if (NumRecs_ == 0) {
    File_EOF_ = File_TOF_ = true;
    return;
  }
  if (RecNum == 0) return;
  int n = RecNum;
  switch (RecNum) {
    case xbRecNext: n = RecNumber_ + 1; break;
    case xbRecPrior:
      n = RecNumber_ - 1;
      if (n < 1) {
        File_TOF_ = true;
        File_EOF_ = false;
        return;
      }
      break;
    case xbRecTop: n = 1; break;
    case xbRecBottom: n = NumRecs_; break;
    case xbRecCurrent: n = RecNumber_ > 0 ? RecNumber_ : 1; break;
    default:
      if (RecNum < 1) RaiseRecNo(RecNum);
  }
  if (n > NumRecs_) {
    xbHdrRead();
    if (n > NumRecs_) {
      if (n != NumRecs_ + 1) RaiseRecNo(n);
      File_EOF_ = true;
      File_TOF_ = false;
      return;
    }
  }
  xbDBFEvent(dbPreRead, RecNum);
  if (!ReadRecordInto(n, CurRecord_)) XBRaise(xbmReadError, {FileName()});
  File_EOF_ = File_TOF_ = false;
  RecNumber_ = n;
  xbDBFEvent(dbPostRead, n);
  std::memcpy(orig_.data(), CurRecord_, static_cast<size_t>(RecLen_));
  OrigRecNumber_ = n;
}

void XBO_dBaseDBF::WriteRecord(int n, bool withEof, uint8_t* record) {
  uint8_t* image = record ? record : CurRecord_;
  if (xbvIsEncrypted_) {
    CryptBuffer(xbvPasswordOut_, image, encrypt_.data(), static_cast<size_t>(RecLen_), true);
    image = encrypt_.data();
  }
  if (withEof) image[RecLen_] = 0x1A;
  xbWrite(RecordPos(n), image, RecLen_ + (withEof ? 1 : 0));
}

void XBO_dBaseDBF::WriteAtEnd(int n) {
  const int64_t pos = RecordPos(n);
  const int64_t len = int64_t{RecLen_} + 1;
  // What the write covers, to put back should it be cut short: the 0x1A
  // this object left after the last record, or else what the file holds.
  std::string was;
  if (knownEnd_ == pos + 1) {
    was = "\x1A";
  } else {
    was.resize(static_cast<size_t>(len));
    was.resize(static_cast<size_t>(std::max(xbRead(pos, was.data(), static_cast<int>(len)), 0)));
  }
  knownEnd_ = -1;
  try {
    WriteRecord(n, true);
  } catch (...) {
    // The old bytes go back, and what the write added is cut off where no
    // other program may be appending (a shared table keeps it past its
    // count).
    try {
      if (!was.empty()) xbWrite(pos, was.data(), static_cast<int>(was.size()));
      const int64_t end = pos + static_cast<int64_t>(was.size());
      if (end < pos + len && FileFullyLocked() && xbFileSize() > end) xbTruncate(end);
    } catch (const EXBaseError&) {
    }
    throw;
  }
  // The file ended before the write did: it now ends with our 0x1A.
  if (!FileShared() && static_cast<int64_t>(was.size()) < len) knownEnd_ = pos + len;
}

void XBO_dBaseDBF::xbReset() {
  knownEnd_ = -1;
  XBO_DiskFile::xbReset();
}

void XBO_dBaseDBF::xbTruncate(int64_t loc) {
  knownEnd_ = -1;
  XBO_DiskFile::xbTruncate(loc);
}

void XBO_dBaseDBF::xbPutRec(int RecNum) {
  if (RecNum < 1 || RecNum > NumRecs_ || dState_ == dbAppend) RaiseRecNo(RecNum);
  xbDBFEvent(dbPreWrite, RecNum);
  if (OrigRecNumber_ != RecNum) {
    if (!ReadRecordInto(RecNum, orig_.data())) XBRaise(xbmReadError, {FileName()});
    OrigRecNumber_ = RecNum;
  }
  try {
    WriteRecord(RecNum, false);
  } catch (...) {
    // A write cut short must not leave half a record: the old bytes go
    // back as far as they can (as far as the new ones went).
    try {
      WriteRecord(RecNum, false, orig_.data());
    } catch (const EXBaseError&) {
    }
    throw;
  }
  dStatus_ = Updated;
  RecordReplaced(orig_.data());
  RecNumber_ = RecNum;
  IntTableChg_ = true;
  xbHdrUpdate();
  xbDBFEvent(dbPostWrite, RecNum);
  if (xbvAutoFlush_) {
    xbFlush();
    xbSync();
  }
  std::memcpy(orig_.data(), CurRecord_, static_cast<size_t>(RecLen_));
  OrigRecNumber_ = RecNum;
}

void XBO_dBaseDBF::xbAppend() {
  xbLockAppend();
  const int oldNumRecs = NumRecs_, oldRecNumber = RecNumber_;
  try {
    xbDBFEvent(dbPreWrite, 0);
    RecModified_ = true;
    if (!AppendsHeldOff()) xbHdrRead();
    CurRecord_[0] = ' ';
    if (NumRecs_ == 0x7FFFFFFF) XBRaise(xbmRecordNotInTable, {int64_t{NumRecs_} + 1, FileName()});
    ++NumRecs_;
    RecNumber_ = NumRecs_;
    if (LockAppend4Edit_) xbRLock();
    WriteAtEnd(RecNumber_);
    // The header is owed only now: a failed append must not stamp it.
    dStatus_ = Updated;
  } catch (...) {
    // The record is not in the table: the count must not say it is.
    NumRecs_ = oldNumRecs;
    RecNumber_ = oldRecNumber;
    xbUnlockAppend();
    throw;
  }
  CompleteAppend(true);
}

// From the buffer alone: a record being built for an append, or marked
// before the first read, answers for its own mark.
bool XBO_dBaseDBF::xbDelFlag() const { return CurRecord_ && CurRecord_[0] != ' '; }

bool XBO_dBaseDBF::xbDBFEvent(dbFileEvent event, int) {
  if (event == dbPostRead || event == dbPostWrite) {
    RecModified_ = false;
    if (dState_ != dbCopy) dState_ = dbBrowse;
  }
  return true;
}

// --- Header ---

void XBO_dBaseDBF::xbHdrRead() {
  if (!FileShared()) {
    ExtTableChg_ = false;
    return;
  }
  uint8_t raw[XBR_DBFHeader::Size];
  if (xbRead(0, raw, sizeof raw) < static_cast<int>(sizeof raw)) XBRaise(xbmReadError, {FileName()});
  head_.Decode(raw);
  int64_t count = head_.RecordCount;
  if (UseFileSize_) count = (xbFileSize() - HeadLen_) / RecLen_;
  if (count < 0 || count > 0x7FFFFFFF) XBRaise(xbmInvalidTableHeader, {FileName()});
  ExtTableChg_ = count != NumRecs_ || head_.MultUseFlg != UpdateTime_;
  NumRecs_ = static_cast<int>(count);
  UpdateTime_ = head_.MultUseFlg;
}

platform::TSystemTime XBO_dBaseDBF::Stamp() {
  const platform::TSystemTime t = platform::LocalTimeOf(platform::WallClockMs());
  UpdateTime_ = static_cast<uint32_t>(((t.hour * 64 + t.minute) * 64 + t.second) * 1024 + t.milliseconds);
  head_.MultUseFlg = UpdateTime_;
  head_.UserIDLast = static_cast<uint32_t>(xbvUserID_);
  return t;
}

void XBO_dBaseDBF::xbHdrWrite(bool force) {
  if (!FileReadWrite() || dStatus_ != Updated) return;
  if (FileIsLocked_ && !force) return;
  const platform::TSystemTime t = Stamp();
  head_.Year = static_cast<uint8_t>(t.year % 100);
  head_.Month = static_cast<uint8_t>(t.month);
  head_.Day = static_cast<uint8_t>(t.day);
  head_.RecordCount = NumRecs_;
  head_.DBTableFlag = static_cast<uint8_t>(IndexFlag_ | MemoFlag_ | DBCFlag_);
  head_.Encrypted = xbvIsEncrypted_ ? 1 : 0;
  uint8_t raw[XBR_DBFHeader::Size];
  head_.Encode(raw);
  xbWrite(0, raw, sizeof raw);
  dStatus_ = NotUpdated;
}

void XBO_dBaseDBF::xbHdrUpdate() {
  if (!FileReadWrite() || dStatus_ != Updated || FileIsLocked_) return;
  const platform::TSystemTime t = Stamp();
  uint8_t raw[XBR_DBFHeader::Size];
  head_.Encode(raw);
  xbWrite(16, raw + 16, 8);
  const uint8_t y = static_cast<uint8_t>(t.year % 100), m = static_cast<uint8_t>(t.month),
                d = static_cast<uint8_t>(t.day);
  if (y != head_.Year || m != head_.Month || d != head_.Day) {
    head_.Year = y;
    head_.Month = m;
    head_.Day = d;
    head_.Encode(raw);
    xbWrite(0, raw, 4);
  }
  dStatus_ = NotUpdated;
}

int XBO_dBaseDBF::xbExternalChange() {
  xbHdrRead();
  const int r = (ExtTableChg_ ? 2 : 0) + (IntTableChg_ ? 1 : 0);
  ExtTableChg_ = IntTableChg_ = false;
  return r;
}

void XBO_dBaseDBF::xbReturnDateTimeUser(int& date, int& time, int& user) {
  xbHdrRead();
  date = head_.Year * 65536 + head_.Month * 256 + head_.Day;
  time = static_cast<int>(UpdateTime_);
  user = static_cast<int>(head_.UserIDLast);
}

// --- Memo file, flush, rename ---

void XBO_dBaseDBF::SetPasswords(const AnsiString& in, const AnsiString& out) {
  xbvPasswordIn_ = in;
  xbvPasswordOut_ = out;
  if (memo_) memo_->SetEncryption(true, in, out);
}

XBobjMemo* XBO_dBaseDBF::xbMemoObject() {
  if (!memo_ && WithMemo_) {
    memo_ = XBobjMemo::Open(FileName(), xbvPasswordIn_, FileReadWrite(), FileShared(), FileVers_);
    ConnectMemo();
  } else if (memo_ && !memo_->FileFound()) {
    memo_->xbReset();
  }
  return memo_.get();
}

void XBO_dBaseDBF::xbMemoAttach(std::unique_ptr<XBobjMemo> memo) {
  memo_ = std::move(memo);
  WithMemo_ = memo_ != nullptr;
  ConnectMemo();
}

void XBO_dBaseDBF::ConnectMemo() {
  if (!memo_) return;
  memo_->moSetLockProtocol(dfLockStyle_);
  memo_->SetEncryption(true, xbvPasswordIn_, xbvPasswordOut_);
  memo_->moSetBlocksNamed([this](int64_t limit) { return HighestMemoBlockNamed(limit); });
}

void XBO_dBaseDBF::xbReopen() {
  XBO_dBaseDBF::xbCloseFile();
  memo_.reset();
  XBO_DiskFile::xbReset();
  ReadHeader();
}

void XBO_dBaseDBF::xbFlush() {
  XBO_DiskFile::xbFlush();
  if (memo_) memo_->xbFlush();
  xbDBFEvent(dbFlush, RecNumber_);
}

bool XBO_dBaseDBF::xbRename(const std::string& newName) {
  XBobjMemo* memo = xbMemoObject();
  const std::string oldName = FileName();
  const std::string target = DefaultFileExt(newName, ".DBF");
  XBO_DiskFile::xbRename(target);
  if (memo) {
    try {
      memo->moRename(FileName());
    } catch (const EXBaseError&) {
      XBO_DiskFile::xbRename(oldName);  // the table must not lose its memo file
      throw;
    }
  }
  dAlias_ = platform::AnsiUpperCase(platform::Utf8ToAnsi(FileBaseName(FileName())));
  return true;
}

// --- Locks ---

void XBO_dBaseDBF::xbSetLockProtocol(XBsetLokProtocol p) {
  dfLockStyle_ = p;
  regions_ = XBLockRegionsOf(p);
  UseReadLockIndex_ = p == XBsetLokProtocol::ClipLock;
  if (memo_) memo_->moSetLockProtocol(p);
}

bool XBO_dBaseDBF::xbLockTheFile(uint32_t pos, uint32_t len) {
  if (FileIsLocked_) {
    IncLockCount();
    return true;
  }
  return xbLockRecord(pos, len);
}

bool XBO_dBaseDBF::xbRLock() { return xbRLockAt(RecNumber_); }

bool XBO_dBaseDBF::xbRLockAt(int recNo) {
  // Positions are 32-bit and wrap as the other programs' do.
  const uint32_t rec = static_cast<uint32_t>(recNo);
  uint32_t pos;
  switch (dfLockStyle_) {
    case XBsetLokProtocol::DB4Lock: pos = regions_.Max - rec - 1; break;
    case XBsetLokProtocol::ClipLock: pos = regions_.Min + rec; break;
    case XBsetLokProtocol::Default:
    case XBsetLokProtocol::FoxLock:
      pos = xbWithIndex() ? regions_.Max - rec
                          : regions_.Min + static_cast<uint32_t>(HeadLen_) + (rec - 1) * static_cast<uint32_t>(RecLen_);
      break;
    default: return false;
  }
  const bool held = FileIsLocked_;
  if (!xbLockTheFile(pos, 1)) return false;
  if (!held && FileShared()) LockedRecordsMayHaveChanged(recNo);
  return true;
}

bool XBO_dBaseDBF::xbFLock() {
  if (FileIsLocked_) {
    IncLockCount();
    return true;
  }
  FileIsLocked_ = xbLockTheFile(regions_.Min, regions_.Rng);
  if (FileIsLocked_) WholeFileLocked();
  return FileIsLocked_;
}

bool XBO_dBaseDBF::xbLockFullFile() {
  if (FileIsLocked_) {
    IncLockCount();
    return true;
  }
  FileIsLocked_ = xbLockRecord(0, kWholeFile);
  if (FileIsLocked_) WholeFileLocked();
  return FileIsLocked_;
}

void XBO_dBaseDBF::WholeFileLocked() {
  xbHdrRead();
  if (FileShared()) LockedRecordsMayHaveChanged(0);
}

bool XBO_dBaseDBF::AppendsHeldOff() const {
  // The whole-file range of xbLockFullFile ends below DB4Lock's append byte.
  return FileIsLocked_ && (!FileFullyLocked() || regions_.Max < kWholeFile);
}

bool XBO_dBaseDBF::xbLockAppend() {
  if (!FileShared() || AppendsHeldOff()) return true;
  xbWaitLock(regions_.Max, 1);
  appendLocked_ = true;
  return true;
}

bool XBO_dBaseDBF::xbUnlockAppend() {
  if (appendLocked_) {
    appendLocked_ = false;
    UnlockByteRange(regions_.Max, 1);
  }
  return true;
}

bool XBO_dBaseDBF::xbLockOff() {
  if (FileIsLocked_ && LockCount() == 1) xbHdrWrite(true);
  xbUnLock();
  FileIsLocked_ = FileIsLocked_ && LockCount() > 0;
  return true;
}

bool XBO_dBaseDBF::xbWithIndex() { return false; }

}  // namespace xbase
