// The dataset component: properties, opening and closing, record buffers,
// bookmarks, navigation and editing. Field values, indexes, ranges and
// seeks are in dataset/dataset_indexes.cpp.
#include "xbase/dataset/dataset.h"

#include <algorithm>
#include <cstring>

#include "platform/Files.h"
#include "xbase/base/errors.h"
#include "xbase/dataset/aliases.h"

namespace xbase {

using namespace dataaccess;

namespace {

constexpr const char* kDefaultDirectory = "Default Directory";

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return platform::AnsiUpperChar(static_cast<unsigned char>(x)) ==
                  platform::AnsiUpperChar(static_cast<unsigned char>(y));
         });
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

void TXBaseDataSet::DataSetError(int number, std::initializer_list<platform::TFormatArg> args) {
  DatabaseError(XBMessage(number, args));
}

TXBaseDataSet::TXBaseDataSet() : FIndexDefs(*this), FMasterLink(*this) {
  FMasterLink.OnMasterChange = [this] { MasterChanged(); };
}

TXBaseDataSet::~TXBaseDataSet() { CloseForDestroy(); }

const char* TXBaseDataSet::About() { return "xBase Engine Version 1.0"; }

// --- Properties ----------------------------------------------------------------------

void TXBaseDataSet::SetAutoFlush(bool v) {
  FAutoFlush = v;
  if (FDBFHandle) FDBFHandle->SetxbvAutoFlush(v);
}

void TXBaseDataSet::SetDatabaseName(const std::string& v) {
  if (v == FDatabaseName) return;
  std::string name = v;
  CheckInactive();
  if (!SameText(name, kDefaultDirectory)) {
    if (name.size() > 1 && name.back() == '/') name.pop_back();
    // A name that is no path stands for itself until an alias says
    // otherwise; a path is a folder and never an alias (folders differ in
    // letter case, alias names do not).
    std::string path;
    if (!name.empty() && name.find('/') == std::string::npos && !xbFindAlias(name, path)) xbAddAlias(name, name);
  }
  FDatabaseName = name;
  DataEvent(dePropertyChange);
}

void TXBaseDataSet::SetEncryptionKey(const AnsiString& v) {
  CheckInactive();
  FEncryption = v;
}

void TXBaseDataSet::SetExclusive(bool v) {
  CheckInactive();
  FExclusive = v;
}

void TXBaseDataSet::SetLockProtocol(XBsetLokProtocol v) {
  FLokProtocol = v;
  if (FDBFHandle) FDBFHandle->xbSetLockProtocol(v);
}

void TXBaseDataSet::SetReadOnly(bool v) {
  if (FDBFHandle && !v && !FOpenedReadWrite) return;  // a read-only file stays read-only
  FReadOnly = v;
}

void TXBaseDataSet::SetTableName(const std::string& v) {
  CheckInactive();
  if (v == FTableName) return;
  FTableName = v;
  if (!Loading()) FIndexFiles.clear();
  DataEvent(dePropertyChange);
}

void TXBaseDataSet::SetTranslateASCII(bool v) { FTranslateASCII = v; }

void TXBaseDataSet::SetUseDeleted(bool v) {
  FUseDeleted = v;
  if (FDBFHandle) FDBFHandle->SetUseDeletedRec(v);
}

void TXBaseDataSet::SetUserID(int v) {
  FUserID = v;
  if (FDBFHandle) FDBFHandle->xbAssignUserID(v);
}

void TXBaseDataSet::SetLargeIntegerAs(TxbIntFields v) {
  CheckInactive();
  FLargeIntegerAs = v;
  DataEvent(dePropertyChange);
}

std::string TXBaseDataSet::ResolvedDirectory() const {
  std::string dir;
  if (SameText(FDatabaseName, kDefaultDirectory))
    dir = platform::ProgramDir();
  else if (FDatabaseName.find('/') != std::string::npos || !xbFindAlias(FDatabaseName, dir))
    dir = FDatabaseName;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

// --- Opening and closing ------------------------------------------------------------

void TXBaseDataSet::InternalOpen() {
  if (FTableName.empty()) DataSetError(xbmTableNameMissing);
  if (platform::ExtractFileExt(FTableName).empty()) FTableName += ".DBF";
  const std::string asked = ResolvedDirectory() + FTableName;
  const std::string path = platform::FindExistingFile(asked);
  if (path.empty()) DataSetError(xbmCannotFindFile, {asked});

  try {
    FOpenedReadWrite = !FReadOnly;
    FDBFHandle = std::make_unique<DBFObject>(path, FEncryption, !FReadOnly, !FExclusive, this);
    XBO_dBHandler& t = *FDBFHandle;
    t.SetxbvAutoFlush(FAutoFlush);
    t.SetUseDeletedRec(FUseDeleted);
    t.xbSetDBFCache(FUseDBFCache);
    t.xbSetLockProtocol(FLokProtocol);
    t.xbAssignUserID(FUserID);
    if (!FTempDir.empty()) t.SetxbvTempDir(FTempDir);

    InitFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    FRecordSize = t.RecLen();
    FCalcOfs = FRecordSize + 1;
    FRecInfoOfs = FCalcOfs + CalcFieldsSize();
    FBookmarkOfs = FRecInfoOfs + 8;
    FRecBufSize = FBookmarkOfs + 4;
    SetBookmarkSize(4);

    if (Filtered()) ApplyFilter();
    InternalFirst();
    OpenIndexFiles(true);
    FDoingEdit = false;
    ApplyMasterRange();
  } catch (...) {
    FreeTable();
    throw;
  }
}

void TXBaseDataSet::FreeTable() noexcept {
  FKeyExpr.reset();  // compiled on the table's fields
  FKeyTag = nullptr;
  FDBFHandle.reset();
  FOldRecord.clear();
  FDoingEdit = false;
  FBeforeBOF = FAfterEOF = false;
}

void TXBaseDataSet::InternalClose() {
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  FKeyBuffer.clear();
  FreeTable();
}

dataaccess::TFieldType TXBaseDataSet::FieldTypeOf(const XBR_DBFField& f, bool vfp) const {
  switch (f.dbFieldType) {
    case 'C': return f.Length() > 0 ? ftString : ftUnknown;
    case 'D': return ftDate;
    case 'N':
    case 'F':
      if (f.Decimals() > 0) return ftFloat;
      if (f.Length() < 5) return ftSmallint;
      if (f.Length() < 10) return ftInteger;
      return FLargeIntegerAs == asInteger ? ftInteger : FLargeIntegerAs == asLargeInt ? ftLargeint : ftFloat;
    case 'I': return ftInteger;
    case 'L': return ftBoolean;
    case 'M': return ftMemo;
    // A Visual FoxPro B field is a double, not a memo.
    case 'B': return vfp ? ftFloat : ftBlob;
    case 'G': return ftBlob;
    case 'T': return ftDateTime;
    case 'Y': return ftCurrency;
    default: return ftUnknown;
  }
}

void TXBaseDataSet::InternalInitFieldDefs() {
  std::unique_ptr<XBO_dBHandler> temporary;
  XBO_dBHandler* t = FDBFHandle.get();
  if (!t) {
    if (FTableName.empty()) DataSetError(xbmTableNameMissing);
    std::string name = FTableName;
    if (platform::ExtractFileExt(name).empty()) name += ".DBF";
    const std::string asked = ResolvedDirectory() + name;
    const std::string path = platform::FindExistingFile(asked);
    if (path.empty()) DataSetError(xbmCannotFindFile, {asked});
    temporary = std::make_unique<XBO_dBHandler>(path, FEncryption, false, true);
    t = temporary.get();
  }
  FieldDefs().Clear();
  const bool vfp = t->FileVers() == 0x30;
  for (int i = 0; i < t->NumFields(); ++i) {
    const XBR_DBFField& f = t->Fields(i);
    const TFieldType type = FieldTypeOf(f, vfp);
    if (type != ftUnknown) FieldDefs().Add(f.Name(), type, type == ftString ? f.Length() : 0);
  }
}

// --- Buffers and bookmarks -------------------------------------------------------------

TRecordBuffer TXBaseDataSet::AllocRecordBuffer() { return new uint8_t[static_cast<size_t>(FRecBufSize)](); }

void TXBaseDataSet::FreeRecordBuffer(TRecordBuffer& Buffer) {
  delete[] Buffer;
  Buffer = nullptr;
}

int TXBaseDataSet::BufferRecNo(TRecordBuffer Buffer) const {
  int32_t n;
  std::memcpy(&n, Buffer + FRecInfoOfs, 4);
  return n;
}

void TXBaseDataSet::SetBufferRecNo(TRecordBuffer Buffer, int RecNo) {
  const int32_t n = RecNo;
  std::memcpy(Buffer + FRecInfoOfs, &n, 4);
}

void TXBaseDataSet::GetBookmarkData(TRecordBuffer Buffer, uint8_t* Data) {
  std::memcpy(Data, Buffer + FBookmarkOfs, 4);
}

void TXBaseDataSet::SetBookmarkData(TRecordBuffer Buffer, const uint8_t* Data) {
  std::memcpy(Buffer + FBookmarkOfs, Data, 4);
}

TBookmarkFlag TXBaseDataSet::GetBookmarkFlag(TRecordBuffer Buffer) {
  return static_cast<TBookmarkFlag>(Buffer[FRecInfoOfs + 5]);
}

void TXBaseDataSet::SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) { Buffer[FRecInfoOfs + 5] = Value; }

void TXBaseDataSet::ClearCalcFields(TRecordBuffer Buffer) {
  std::memset(Buffer + FCalcOfs, 0, static_cast<size_t>(CalcFieldsSize()));
}

bool TXBaseDataSet::BookmarkValid(const TBookmark& Bookmark) {
  CheckActive();
  if (Bookmark.size() != 4) return false;
  int32_t n;
  std::memcpy(&n, Bookmark.data(), 4);
  return n >= 1 && n <= FDBFHandle->NumRecs();
}

int TXBaseDataSet::CompareBookmarks(const TBookmark& B1, const TBookmark& B2) {
  if (B1.empty() || B2.empty()) return B1.empty() == B2.empty() ? 0 : (B1.empty() ? -1 : 1);
  int32_t a = 0, b = 0;
  std::memcpy(&a, B1.data(), std::min<size_t>(4, B1.size()));
  std::memcpy(&b, B2.data(), std::min<size_t>(4, B2.size()));
  return a < b ? -1 : a > b ? 1 : 0;
}

// --- Navigation ----------------------------------------------------------------------------

void TXBaseDataSet::CheckActive() {
  if (FUpdatingIndexDesc) return;
  TDataSet::CheckActive();
  if (FActivity == aIndexing) DataSetError(xbmBusyIndexing);
  if (FActivity == aCopying) DataSetError(xbmBusyCopying);
}

TGetResult TXBaseDataSet::GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) {
  XBO_dBHandler& t = *FDBFHandle;
  TGetResult result = grOK;
  bool read = false;
  const uint8_t* fresh = FFreshRecord;
  FFreshRecord = nullptr;
  try {
    TxbRecordPointer at(t, Buffer);
    switch (GetMode) {
      case gmCurrent:
        if (FBeforeBOF) {
          result = grBOF;
        } else if (FAfterEOF) {
          result = grEOF;
        } else if (fresh && FFreshRecNo == t.RecNumber()) {
          std::memmove(Buffer, fresh, static_cast<size_t>(FRecordSize));
        } else {
          t.xbGetRec(xbRecCurrent);
          read = true;
        }
        break;
      case gmNext:
        if (FBeforeBOF) {
          t.xbGetRec(xbRecTop);
          FBeforeBOF = false;
          read = true;
        } else if (FAfterEOF) {
          result = grEOF;
        } else {
          t.xbGetRec(xbRecNext);
          read = true;
        }
        break;
      case gmPrior:
        if (FBeforeBOF) {
          result = grBOF;
        } else if (!FAfterEOF || (State() == dsInsert && BufferedRecordCount() > 0)) {
          t.xbGetRec(xbRecPrior);
          read = true;
        } else {
          t.xbGetRec(xbRecBottom);
          FAfterEOF = false;
          read = true;
        }
        break;
    }
  } catch (...) {
    if (DoCheck) throw;
    return grError;
  }
  if (read) {
    if (t.File_EOF())
      result = grEOF;
    else if (t.File_TOF())
      result = grBOF;
  }
  if (result == grOK) {
    SetBufferRecNo(Buffer, t.RecNumber());
    SetBookmarkFlag(Buffer, bfCurrent);
    const int32_t n = t.RecNumber();
    std::memcpy(Buffer + FBookmarkOfs, &n, 4);
    GetCalcFields(Buffer);
  }
  return result;
}

void TXBaseDataSet::InternalFirst() {
  FBeforeBOF = true;
  FAfterEOF = false;
}

void TXBaseDataSet::InternalLast() {
  // Placing the cursor for a new record's post or cancel needs no read:
  // the post leaves the table on the record it appends, and a cancel reads
  // the bottom record anew (GetRecord, gmPrior after "last").
  if (State() != dsInsert) FDBFHandle->xbGetRec(xbRecBottom);
  FBeforeBOF = false;
  FAfterEOF = true;
}

void TXBaseDataSet::KeepFresh(const uint8_t* image) {
  XBO_dBHandler& t = *FDBFHandle;
  // Only a record the table shows where it stands: the re-read would move
  // on from one it hides (deleted, filtered out, outside the range).
  if (Filtered() || t.FilterOn() || t.ResyncIndex() || (!t.UseDeletedRec() && image[0] != ' ')) return;
  FFreshRecord = image;
  FFreshRecNo = t.RecNumber();
}

void TXBaseDataSet::InternalGotoBookmark(const uint8_t* Bookmark) {
  int32_t n;
  std::memcpy(&n, Bookmark, 4);
  XBO_dBHandler& t = *FDBFHandle;
  bool ok = n >= 1;
  if (ok) {
    try {
      t.xbGetRec(n);
      ok = !t.File_EOF();
    } catch (const EXBaseError&) {
      ok = false;
    }
  }
  if (!ok) DatabaseError(XBMessage(xbmInvalidBookmark) + FTableName);
  // The cursor now stands on a record: reads go on from it.
  FBeforeBOF = FAfterEOF = false;
}

void TXBaseDataSet::InternalSetToRecord(TRecordBuffer Buffer) { InternalGotoBookmark(Buffer + FBookmarkOfs); }

int TXBaseDataSet::GetRecordCount() {
  if (!FDBFHandle) DatabaseError(SDataSetClosed);
  return FDBFHandle->xbRecordCount(FExactCount);
}

int TXBaseDataSet::GetRecNo() {
  if (!FDBFHandle) DatabaseError(SDataSetClosed);
  TRecordBuffer b = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (!b || IsEmpty() || GetBookmarkFlag(b) != bfCurrent) return 0;
  return BufferRecNo(b);
}

void TXBaseDataSet::SetRecNo(int Value) {
  CheckBrowseMode();
  XBO_dBHandler& t = *FDBFHandle;
  if (Value < 1 || Value > t.NumRecs()) return;
  DoBeforeScroll();
  t.xbGetRec(Value);
  FBeforeBOF = FAfterEOF = false;
  Resync();
  DoAfterScroll();
}

bool TXBaseDataSet::IsSequenced() {
  if (!FDBFHandle) return true;
  return FDBFHandle->IndexMaster() == nullptr && !FDBFHandle->FilterOn();
}

bool TXBaseDataSet::GetCurrentRecord(TRecordBuffer Buffer) {
  if (IsEmpty() || !ActiveBuffer() || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return false;
  CursorPosChanged();
  UpdateCursorPos();
  std::memcpy(Buffer, FDBFHandle->CurRecord(), static_cast<size_t>(FRecordSize));
  return true;
}

int TXBaseDataSet::Translate(const char* Src, char* Dest, bool ToOem) {
  if (!Src) {
    if (Dest) *Dest = '\0';
    return 0;
  }
  const size_t n = std::strlen(Src);
  if (!Dest) return static_cast<int>(n);
  if (FTranslateASCII) {
    const std::string s = ToOem ? platform::AnsiToOem(std::string_view(Src, n))
                                : platform::OemToAnsi(std::string_view(Src, n));
    std::memcpy(Dest, s.data(), n);
    Dest[n] = '\0';
  } else if (Dest != Src) {
    std::memmove(Dest, Src, n + 1);
  }
  return static_cast<int>(n);
}

// --- Editing ---------------------------------------------------------------------------------

void TXBaseDataSet::InternalInitRecord(TRecordBuffer Buffer) {
  XBO_dBHandler& t = *FDBFHandle;
  {
    TxbRecordPointer at(t, Buffer);
    t.xbBlank();
  }
  if (State() != dsEdit) SetOldRecord(Buffer);
}

void TXBaseDataSet::DoAfterInsert() {
  FDBFHandle->SetFile_TOF(false);
  FDBFHandle->SetFile_EOF(true);
  TDataSet::DoAfterInsert();
}

void TXBaseDataSet::SetOldRecord(const uint8_t* image) {
  // The table reads fields out of RecLen + 1 bytes.
  FOldRecord.assign(image, image + FRecordSize);
  FOldRecord.push_back(0x1A);
}

void TXBaseDataSet::InternalEdit() {
  XBO_dBHandler& t = *FDBFHandle;
  TxbRecordPointer at(t, ActiveBuffer());
  // Locked first, read then: the edit starts from what the file holds
  // once no other program can change it, not from a copy read before.
  const int rec = BufferRecNo(ActiveBuffer());
  if (!t.xbRLockAt(rec)) DataSetError(xbmRecordLocked);
  try {
    t.xbGetRec(rec);
  } catch (...) {
    t.xbLockOff();
    throw;
  }
  SetOldRecord(t.OrigRec());
  FDoingEdit = true;
}

void TXBaseDataSet::InternalCancel() {
  if (FDoingEdit) FDBFHandle->xbLockOff();
  FDoingEdit = false;
}

void TXBaseDataSet::InternalPost() {
  XBO_dBHandler& t = *FDBFHandle;
  {
    TxbRecordPointer at(t, ActiveBuffer());
    if (State() == dsEdit)
      t.xbPutRec(BufferRecNo(ActiveBuffer()));
    else
      t.xbAppend();
  }
  if (FDoingEdit) t.xbLockOff();
  FDoingEdit = false;
  FAfterEOF = FBeforeBOF = false;
  KeepFresh(ActiveBuffer());
}

void TXBaseDataSet::InternalAddRecord(TRecordBuffer Buffer, bool) {
  XBO_dBHandler& t = *FDBFHandle;
  {
    TxbRecordPointer at(t, Buffer);
    t.xbAppend();
  }
  FDoingEdit = false;
  FAfterEOF = FBeforeBOF = false;
}

void TXBaseDataSet::FlagActiveRecord(bool deleted) {
  XBO_dBHandler& t = *FDBFHandle;
  TxbRecordPointer at(t, ActiveBuffer());
  // The flag is written at the table's current record: make it the
  // active one.
  const int rec = BufferRecNo(ActiveBuffer());
  if (t.RecNumber() != rec) t.xbGetRec(rec);
  const bool useDeleted = t.UseDeletedRec();
  t.SetUseDeletedRec(true);
  try {
    if (deleted)
      t.xbDeleteRec();
    else
      t.xbUndelete();
  } catch (const std::exception&) {
    t.SetUseDeletedRec(useDeleted);
    DataSetError(deleted ? xbmCannotDelete : xbmCannotRecall);
  }
  t.SetUseDeletedRec(useDeleted);
}

void TXBaseDataSet::InternalDelete() {
  FlagActiveRecord(true);
  XBO_dBHandler& t = *FDBFHandle;
  t.xbGetRec(xbRecCurrent);
  if (t.File_EOF()) {
    // The last record shown went: stand on the one before it.
    t.xbGetRec(xbRecPrior);
    t.SetFile_EOF(true);
  }
  FBeforeBOF = FAfterEOF = false;
}

void TXBaseDataSet::InternalRecall() { FlagActiveRecord(false); }

void TXBaseDataSet::Recall() {
  CheckActive();
  if (State() == dsInsert || State() == dsSetKey) {
    Cancel();
    return;
  }
  CheckNotEmpty();
  CheckBrowseMode();
  DoBeforeScroll();
  UpdateCursorPos();
  InternalRecall();
  SetState(dsBrowse);
  Resync();
  DoAfterScroll();
}

void TXBaseDataSet::InternalRefresh() {
  XBO_dBHandler& t = *FDBFHandle;
  if (ActiveBuffer() && !IsEmpty() && GetBookmarkFlag(ActiveBuffer()) == bfCurrent) {
    TxbRecordPointer at(t, ActiveBuffer());
    t.xbGetRec(BufferRecNo(ActiveBuffer()));
  }
  if (t.FilterOn()) t.xbRefreshFilter();
}

// --- Records -----------------------------------------------------------------------------------

bool TXBaseDataSet::IsDeleted() {
  CheckActive();
  TRecordBuffer b = GetActiveRecBuf();
  return b && b[0] == '*';
}

void TXBaseDataSet::FlushDBF() {
  CheckBrowseMode();
  XBO_dBHandler& t = *FDBFHandle;
  t.xbGetRec(xbRecCurrent);
  t.xbHdrWrite(true);
  t.xbFlush();
}

void TXBaseDataSet::SetDBFCache(bool tf) {
  FUseDBFCache = tf;
  if (FDBFHandle) FDBFHandle->xbSetDBFCache(tf);
}

bool TXBaseDataSet::RLock() {
  CheckActive();
  XBO_dBHandler& t = *FDBFHandle;
  const int rec = GetRecNo();
  if (rec < 1) return false;
  // Only the lock: reading the record would replace an edit in progress in
  // the active buffer, or put the table's current record into it.
  return t.xbRLockAt(rec);
}

bool TXBaseDataSet::FLock() {
  CheckActive();
  return FDBFHandle->xbFLock();
}

void TXBaseDataSet::Unlock() {
  CheckActive();
  XBO_dBHandler& t = *FDBFHandle;
  while (t.LockCount() > 0) t.xbLockOff();
}

int TXBaseDataSet::ExternalChange() {
  CheckActive();
  return FDBFHandle->xbExternalChange();
}

void TXBaseDataSet::ReturnDateTimeUser(int& dt, int& tm, int& us) {
  CheckActive();
  FDBFHandle->xbReturnDateTimeUser(dt, tm, us);
}

void TXBaseDataSet::SetTempDirectory(const std::string& Value) {
  std::string dir = Value.substr(0, 259);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  FTempDir = dir;
  if (FDBFHandle) FDBFHandle->SetxbvTempDir(FTempDir);
}

void TXBaseDataSet::EncryptFile(const AnsiString& APassword) {
  XBO_dBHandler& t = Table();
  CheckBrowseMode();
  t.xbSetPassword(APassword);
  FEncryption = APassword;
}

void TXBaseDataSet::AddAlias(const std::string& AliasValue, const std::string& PathValue) {
  xbAddAlias(AliasValue, PathValue);
}

void TXBaseDataSet::GetDatabaseNames(std::vector<std::string>& List) { List = xbDatabaseNames(); }

void TXBaseDataSet::GetTableNames(std::vector<std::string>& List) {
  List.clear();
  const std::string dir = ResolvedDirectory();
  for (const platform::TFileInfo& e : platform::ListFolder(dir.empty() ? "." : dir))
    if (!e.isDir && LowerAscii(platform::ExtractFileExt(e.name)) == ".dbf") List.push_back(e.name);
  std::sort(List.begin(), List.end());
}

void TXBaseDataSet::GetIndexNames(std::vector<std::string>& List) {
  const std::string dir = ResolvedDirectory();
  const std::vector<platform::TFileInfo> entries = platform::ListFolder(dir.empty() ? "." : dir);
  for (const char* ext : {".cdx", ".mdx", ".ndx", ".ntx"})
    for (const platform::TFileInfo& e : entries)
      if (!e.isDir && LowerAscii(platform::ExtractFileExt(e.name)) == ext) List.push_back(e.name);
}

void TXBaseDataSet::DoOnStatus(int stat1, int stat2, int stat3) {
  if (OnStatus) OnStatus(*this, stat1, stat2, stat3);
}

std::unique_ptr<TBlobStream> TXBaseDataSet::CreateBlobStream(TField& Field, TBlobStreamMode Mode) {
  return std::make_unique<THCBlobStream>(Field, Mode);
}

TRecordBuffer TXBaseDataSet::GetActiveRecBuf() {
  switch (State()) {
    case dsBrowse: return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert:
    case dsNewValue: return ActiveBuffer();
    case dsSetKey: return FKeyBuffer.empty() ? nullptr : FKeyBuffer.data();
    case dsCalcFields: return CalcBuffer();
    case dsFilter: return FDBFHandle ? FDBFHandle->CurRecord() : nullptr;
    case dsOldValue:
      if (FDoingEdit && !FOldRecord.empty()) return FOldRecord.data();
      return ActiveBuffer();
    default: return nullptr;
  }
}

}  // namespace xbase
