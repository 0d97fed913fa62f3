#include "xbase/dataset/dataset_handler.h"

#include <algorithm>
#include <cstring>

#include "dataaccess/DBError.h"
#include "xbase/base/errors.h"

namespace xbase {

using namespace dataaccess;

namespace {

bool Editing(const TDataSet& ds) { return ds.State() == dsEdit || ds.State() == dsInsert; }

}  // namespace

// --- TXBaseDataSetBase ---

bool TXBaseDataSetBase::FilterRecord() {
  if (!OnFilterRecord) return true;
  struct TTempState {
    TXBaseDataSetBase& ds;
    TDataSetState saved = ds.SetTempState(dsFilter);
    ~TTempState() { ds.RestoreState(saved); }
  } state{*this};
  bool accept = true;
  OnFilterRecord(*this, accept);
  return accept;
}

// --- DBFObject ---

DBFObject::DBFObject(const std::string& FName, const AnsiString& APassword, bool ReadWrite, bool Shared,
                     TXBaseDataSetBase* TTab)
    : XBO_dBHandler(FName, APassword, ReadWrite, Shared), LinkTab_(TTab) {}

bool DBFObject::xbTestFilter() {
  TXBaseDataSetBase* ds = LinkTab_;
  if (ds && ds->Active() && ds->Filtered() && !ds->Renaming() && ds->OnFilterRecord && !ds->FilterRecord())
    return false;
  return XBO_dBHandler::xbTestFilter();
}

void DBFObject::xbStatusUpdate(int stat1, int stat2, int stat3) {
  if (!LinkTab_) return XBO_dBHandler::xbStatusUpdate(stat1, stat2, stat3);
  if (!LinkTab_->Renaming()) LinkTab_->DoOnStatus(stat1, stat2, stat3);
}

// --- THCBlobStream ---

THCBlobStream::THCBlobStream(TField& Field, TBlobStreamMode Mode)
    : FField(Field), FDataSet(dynamic_cast<TXBaseDataSetBase*>(Field.DataSet())), FFieldNo(Field.FieldNo()) {
  if (!FDataSet) DatabaseErrorFmt(SDataSetMissing, {Field.DisplayName()});
  if (Mode != bmRead) {
    if (Field.ReadOnly()) DatabaseErrorFmt(SFieldReadOnly, {Field.DisplayName()});
    if (!Editing(*FDataSet)) DatabaseError(XBMessage(xbmNotEditing));
  }
  if (Mode == bmWrite) {
    Truncate();
    return;
  }
  XBO_dBHandler* table = FDataSet->DBFHandle();
  uint8_t* buffer = FDataSet->GetActiveRecBuf();
  if (!table || !buffer) return;
  TxbRecordPointer at(*table, buffer);
  int64_t size = table->xbMemoSizeN(FFieldNo);
  if (size <= 0) return;
  // One byte more: the text stays zero-terminated for Translate.
  FMemory.assign(static_cast<size_t>(size) + 1, '\0');
  table->xbMemoLoadN(FFieldNo, FMemory.data(), size);
  FMemory.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
  if (Field.Transliterate()) FDataSet->Translate(FMemory.c_str(), FMemory.data(), false);
}

THCBlobStream::~THCBlobStream() {
  try {
    Commit();
  } catch (...) {
    // A destructor cannot report it; whoever writes calls Commit.
  }
}

int64_t THCBlobStream::Read(void* Buffer, int64_t Count) {
  const int64_t n = std::clamp<int64_t>(Size() - FPosition, 0, std::max<int64_t>(Count, 0));
  if (n > 0) std::memcpy(Buffer, FMemory.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t THCBlobStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  FMemory.resize(static_cast<size_t>(FPosition), '\0');
  FMemory.append(static_cast<const char*>(Buffer), static_cast<size_t>(Count));
  FPosition += Count;
  FModified = true;
  return Count;
}

int64_t THCBlobStream::Seek(int64_t Offset, platform::TSeekOrigin Origin) {
  const int64_t base = Origin == platform::soBeginning ? 0 : Origin == platform::soCurrent ? FPosition : Size();
  // Offsets from a caller may be anything: no overflow, no position below 0.
  FPosition = Offset < 0 ? std::max<int64_t>(0, base + Offset) : base + std::min(Offset, INT64_MAX - base);
  return FPosition;
}

void THCBlobStream::SetSize(int64_t NewSize) {
  FMemory.resize(static_cast<size_t>(std::max<int64_t>(NewSize, 0)), '\0');
  FModified = true;
}

void THCBlobStream::Truncate() {
  std::string().swap(FMemory);
  FPosition = 0;
  FModified = true;
}

void THCBlobStream::Commit() {
  if (!FModified) return;
  FModified = false;
  if (!Editing(*FDataSet)) DatabaseError(XBMessage(xbmNotEditing));
  XBO_dBHandler* table = FDataSet->DBFHandle();
  if (!table) DatabaseError(SDataSetClosed);
  std::string text = FMemory;
  if (FField.Transliterate() && !text.empty()) FDataSet->Translate(text.c_str(), text.data(), true);
  {
    TxbRecordPointer at(*table, FDataSet->ActiveBuffer());
    table->xbMemoSaveN(FFieldNo, text.data(), static_cast<int64_t>(text.size()));
  }
  if (auto* blob = dynamic_cast<TBlobField*>(&FField)) blob->SetModified(true);
  FDataSet->DataEvent(deFieldChange, &FField);
}

}  // namespace xbase
