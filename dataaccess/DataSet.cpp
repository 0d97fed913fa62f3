#include "dataaccess/DataSet.h"

#include <algorithm>
#include <cstring>

namespace dataaccess {

namespace {

bool EditModes(TDataSetState s) { return s == dsEdit || s == dsInsert; }

// Runs a cleanup at scope exit (the "finally" of an operation).
template <class F>
class Finally {
 public:
  explicit Finally(F f) : f_(std::move(f)) {}
  ~Finally() { f_(); }
  Finally(const Finally&) = delete;
  Finally& operator=(const Finally&) = delete;

 private:
  F f_;
};

}  // namespace

TDataSet::TDataSet() : fieldDefs_(*this), fields_(*this) {}

TDataSet::~TDataSet() {
  // Buffers still held here would need the derived FreeRecordBuffer, which
  // is gone; closing is the derived destructor's job (CloseForDestroy).
  std::vector<TDataSource*> sources = dataSources_;
  for (TDataSource* s : sources) s->SetDataSet(nullptr);
}

// --- Opening and closing ---------------------------------------------------------

void TDataSet::SetActive(bool v) {
  if (v == Active()) return;
  if (v)
    OpenCursor();
  else
    CloseCursor();
}

void TDataSet::OpenCursor() {
  DoBeforeOpen();
  defaultFields_ = fields_.Count() == 0;
  try {
    InternalOpen();
    AllocateBuffers();
    ClearBuffers();
    Fetch(gmNext);
    bof_ = true;
    eof_ = recordCount_ == 0;
  } catch (...) {
    FreeBuffers();
    if (IsCursorOpen()) {
      try {
        InternalClose();
      } catch (...) {
      }
    }
    BindFields(false);
    if (defaultFields_) DestroyFields();
    throw;
  }
  SetState(dsBrowse);
  DoAfterOpen();
  if (!IsEmpty()) DoAfterScroll();
}

void TDataSet::CloseCursor() {
  if (EditModes(state_)) {
    UpdateCursorPos();
    InternalCancel();
  }
  DoBeforeClose();
  state_ = dsInactive;
  modified_ = false;
  {
    Finally release([this] { FreeBuffers(); });
    InternalClose();
  }
  DataEvent(deUpdateState);
  DoAfterClose();
}

void TDataSet::CloseForDestroy() noexcept {
  try {
    Close();
  } catch (...) {
    HandleQuietly();
  }
  state_ = dsInactive;
  FreeBuffers();
  try {
    if (IsCursorOpen()) InternalClose();
  } catch (...) {
    HandleQuietly();
  }
}

void TDataSet::HandleQuietly() noexcept {
  try {
    InternalHandleException();
  } catch (...) {
  }
}

void TDataSet::AllocateBuffers() {
  active_ = AllocRecordBuffer();
  spare_ = AllocRecordBuffer();
  calc_ = AllocRecordBuffer();
  calcCurrent_ = calc_;
}

void TDataSet::FreeBuffers() noexcept {
  for (TRecordBuffer* b : {&active_, &spare_, &calc_}) {
    if (*b) {
      try {
        FreeRecordBuffer(*b);
      } catch (...) {
      }
      *b = nullptr;
    }
  }
  calcCurrent_ = nullptr;
  recordCount_ = 0;
  bof_ = eof_ = true;
  cursorSynced_ = false;
}

void TDataSet::ClearBuffers() {
  recordCount_ = 0;
  bof_ = eof_ = true;
  cursorSynced_ = false;
}

// --- Fields --------------------------------------------------------------------

void TDataSet::InitFieldDefs() {
  InternalInitFieldDefs();
  fieldDefs_.SetUpdated(true);
}

void TDataSet::CreateFields() {
  for (int i = 0; i < fieldDefs_.Count(); ++i) {
    const TFieldDef& d = fieldDefs_[i];
    std::unique_ptr<TField> f = CreateFieldOfType(d.DataType(), d.Name(), d.Size());
    if (!f) continue;
    f->SetRequired(d.Required());
    fields_.Add(std::move(f));
  }
}

void TDataSet::BindFields(bool binding) {
  calcFieldsSize_ = 0;
  for (int i = 0; i < fields_.Count(); ++i) {
    TField& f = fields_[i];
    if (!binding) {
      f.Bind(0, 0);
    } else if (f.FieldKind() == fkData) {
      const TFieldDef* d = fieldDefs_.Find(f.FieldName());
      if (!d) DatabaseErrorFmt(SFieldNotFound, {f.FieldName()});
      if (d->DataType() != f.DataType())
        DatabaseErrorFmt(SFieldTypeMismatch,
                         {f.FieldName(), FieldTypeName(f.DataType()), FieldTypeName(d->DataType())});
      if (f.DataType() == ftString && f.Size() != d->Size()) f.SetSize(d->Size());
      f.Bind(d->FieldNo(), 0);
    } else {
      f.Bind(-1, calcFieldsSize_);
      calcFieldsSize_ += f.DataSize() + 1;
    }
  }
}

std::vector<TField*> TDataSet::GetFieldList(const AnsiString& fieldNames) const {
  std::vector<TField*> list;
  size_t pos = 0;
  while (pos <= fieldNames.size()) {
    size_t end = fieldNames.find(';', pos);
    if (end == AnsiString::npos) end = fieldNames.size();
    size_t b = fieldNames.find_first_not_of(' ', pos);
    size_t e = fieldNames.find_last_not_of(' ', end == 0 ? 0 : end - 1);
    if (b != AnsiString::npos && b < end && e != AnsiString::npos && e >= b)
      list.push_back(&FieldByName(fieldNames.substr(b, e - b + 1)));
    pos = end + 1;
  }
  return list;
}

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calcFieldsSize_ == 0) return;
  const TRecordBuffer saved = calcCurrent_;
  const TDataSetState old = SetTempState(dsCalcFields);
  Finally restore([&] {
    RestoreState(old);
    calcCurrent_ = saved;
  });
  calcCurrent_ = buffer;
  ClearCalcFields(buffer);
  DoOnCalcFields();
}

// --- Hooks with defaults ---------------------------------------------------------

void TDataSet::SetRecNo(int) {}
bool TDataSet::BookmarkValid(const TBookmark&) { return false; }

int TDataSet::CompareBookmarks(const TBookmark& b1, const TBookmark& b2) {
  if (b1.empty() || b2.empty()) return b1.empty() == b2.empty() ? 0 : (b1.empty() ? -1 : 1);
  if (b1 == b2) return 0;
  return std::lexicographical_compare(b1.begin(), b1.end(), b2.begin(), b2.end()) ? -1 : 1;
}

void TDataSet::SetFieldData(TField&, const void*) { DatabaseError(SOperationNotSupported); }

int TDataSet::Translate(const char* src, char* dest, bool) {
  if (!src) {
    if (dest) *dest = '\0';
    return 0;
  }
  const size_t n = std::strlen(src);
  if (dest && dest != src) std::memmove(dest, src, n + 1);
  return static_cast<int>(n);
}

std::unique_ptr<TBlobStream> TDataSet::CreateBlobStream(TField&, TBlobStreamMode) {
  DatabaseError(SOperationNotSupported);
}

bool TDataSet::GetIsIndexField(const TField&) { return false; }
void TDataSet::UpdateIndexDefs() {}
bool TDataSet::GetCurrentRecord(TRecordBuffer) { return false; }

bool TDataSet::Locate(const AnsiString&, const std::vector<TVariant>&, TLocateOptions) {
  DatabaseError(SOperationNotSupported);
}

std::vector<TVariant> TDataSet::Lookup(const AnsiString&, const std::vector<TVariant>&, const AnsiString&) {
  DatabaseError(SOperationNotSupported);
}

bool TDataSet::IsSequenced() { return true; }

void TDataSet::InternalInitRecord(TRecordBuffer buffer) {
  std::memset(buffer, 0, static_cast<size_t>(GetRecordSize()));
}

void TDataSet::InternalPost() {
  if (state_ == dsInsert) InternalAddRecord(active_, GetBookmarkFlag(active_) == bfEOF);
}

void TDataSet::InternalAddRecord(TRecordBuffer, bool) { DatabaseError(SOperationNotSupported); }
void TDataSet::InternalDelete() { DatabaseError(SOperationNotSupported); }

// --- Checks ----------------------------------------------------------------------

void TDataSet::CheckActive() {
  if (state_ == dsInactive) DatabaseError(SDataSetClosed);
}

void TDataSet::CheckInactive() const {
  if (state_ != dsInactive) DatabaseError(SDataSetOpen);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  switch (state_) {
    case dsEdit:
    case dsInsert:
      if (modified_)
        Post();
      else
        Cancel();
      break;
    case dsSetKey: Post(); break;
    default: break;
  }
}

void TDataSet::CheckNotEmpty() const {
  if (recordCount_ == 0) DatabaseError(SDataSetEmpty);
}

void TDataSet::CheckCanModify() {
  if (!CanModify()) DatabaseError(SDataSetReadOnly);
}

void TDataSet::CheckRequiredFields() {
  for (int i = 0; i < fields_.Count(); ++i) {
    const TField& f = fields_[i];
    if (f.Required() && !f.ReadOnly() && f.FieldKind() == fkData && f.IsNull())
      DatabaseErrorFmt(SFieldRequired, {f.DisplayName()});
  }
}

void TDataSet::CheckOperation(void (TDataSet::*operation)(), const TDataSetErrorEvent& onError) {
  for (;;) {
    try {
      (this->*operation)();
      return;
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception& e) {
      if (!onError) throw;
      TDataAction action = daFail;
      onError(*this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) throw EAbort();
    }
  }
}

// --- States and events ------------------------------------------------------------

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  const bool leftEditing = EditModes(state_);
  state_ = value;
  modified_ = false;
  if (leftEditing) {
    for (int i = 0; i < fields_.Count(); ++i)
      if (auto* blob = dynamic_cast<TBlobField*>(&fields_[i])) blob->SetModified(false);
  }
  DataEvent(deUpdateState);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
  const TDataSetState old = state_;
  state_ = value;
  ++tempDepth_;
  return old;
}

void TDataSet::RestoreState(TDataSetState value) {
  state_ = value;
  if (tempDepth_ > 0) --tempDepth_;
}

void TDataSet::DataEvent(TDataEvent event, TField* field) {
  switch (event) {
    case deFieldChange:
      if (field && field->FieldKind() == fkData && EditModes(state_)) {
        modified_ = true;
        if (autoCalcFields_) GetCalcFields(active_);
      }
      break;
    case dePropertyChange: fieldDefs_.SetUpdated(false); break;
    default: break;
  }
  if (tempDepth_ > 0) return;
  if (disableCount_ > 0) {
    pendingChange_ = true;
    return;
  }
  NotifySources(event, field);
}

void TDataSet::NotifySources(TDataEvent event, TField* field) {
  if (dataSources_.empty()) return;
  // A link's handler may attach or detach sources.
  const std::vector<TDataSource*> sources = dataSources_;
  for (TDataSource* s : sources)
    if (std::find(dataSources_.begin(), dataSources_.end(), s) != dataSources_.end()) s->DataEvent(event, field);
}

void TDataSet::DisableControls() {
  if (disableCount_++ == 0) {
    disableState_ = state_;
    pendingChange_ = false;
  }
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0 || --disableCount_ > 0) return;
  const bool stateChanged = state_ != disableState_;
  const bool changed = pendingChange_;
  pendingChange_ = false;
  if (stateChanged) NotifySources(deUpdateState, nullptr);
  if (changed || stateChanged) NotifySources(deDataSetChange, nullptr);
}

void TDataSet::AddDataSource(TDataSource& source) {
  if (std::find(dataSources_.begin(), dataSources_.end(), &source) == dataSources_.end())
    dataSources_.push_back(&source);
}

void TDataSet::RemoveDataSource(TDataSource& source) {
  dataSources_.erase(std::remove(dataSources_.begin(), dataSources_.end(), &source), dataSources_.end());
}

// --- The cursor --------------------------------------------------------------------

bool TDataSet::Fetch(TGetMode mode, bool doCheck) {
  cursorSynced_ = false;  // the read moves the cursor, also when it fails or raises
  if (GetRecord(spare_, mode, doCheck) == grOK) {
    std::swap(active_, spare_);
    recordCount_ = 1;
    cursorSynced_ = true;
    return true;
  }
  return false;
}

void TDataSet::UpdateCursorPos() {
  if (cursorSynced_ || recordCount_ == 0) return;
  switch (GetBookmarkFlag(active_)) {
    case bfCurrent:
    case bfInserted: InternalSetToRecord(active_); break;
    case bfBOF: InternalFirst(); break;
    case bfEOF: InternalLast(); break;
  }
  cursorSynced_ = true;
}

void TDataSet::Resync() {
  if (Fetch(gmCurrent, false) || Fetch(gmNext, false) || Fetch(gmPrior, false))
    bof_ = eof_ = false;
  else
    ClearBuffers();
  DataEvent(deDataSetChange);
}

// --- Navigation ----------------------------------------------------------------------

void TDataSet::First() { MoveToEnd(true); }
void TDataSet::Last() { MoveToEnd(false); }

void TDataSet::MoveToEnd(bool first) {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  if (first)
    InternalFirst();
  else
    InternalLast();
  Fetch(first ? gmNext : gmPrior);
  bof_ = first || recordCount_ == 0;
  eof_ = !first || recordCount_ == 0;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    DoBeforeScroll();
    bof_ = eof_ = false;
    UpdateCursorPos();
    const int step = distance > 0 ? 1 : -1;
    while (distance != 0) {
      if (!Fetch(step > 0 ? gmNext : gmPrior)) {
        (step > 0 ? eof_ : bof_) = true;
        break;
      }
      moved += step;
      distance -= step;
    }
    DataEvent(deDataSetScroll);
    DoAfterScroll();
  }
  return moved;
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  Resync();
}

// --- Bookmarks -----------------------------------------------------------------------

TBookmark TDataSet::GetBookmark() {
  if (!Active() || recordCount_ == 0 || GetBookmarkFlag(active_) != bfCurrent) return {};
  TBookmark b(static_cast<size_t>(bookmarkSize_));
  GetBookmarkData(active_, b.data());
  return b;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  if (bookmark.size() != static_cast<size_t>(bookmarkSize_)) DatabaseError(SInvalidBookmark);
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  if (!Fetch(gmCurrent)) DatabaseError(SRecordNotFound);
  bof_ = eof_ = false;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

// --- Editing -------------------------------------------------------------------------

void TDataSet::InitRecord(TRecordBuffer buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeInsert();
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  recordCount_ = 1;
  bof_ = false;
  cursorSynced_ = false;
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    SetState(dsBrowse);
    Resync();
    throw;
  }
  DataEvent(deDataSetChange);
  DoAfterInsert();
  DoAfterScroll();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  InitRecord(active_);
  SetBookmarkFlag(active_, bfEOF);
  eof_ = true;
  EndInsertAppend();
}

void TDataSet::Insert() {
  BeginInsertAppend();
  // The new record stands before the current one: it keeps that record's
  // bookmark, which is where the cursor goes back to on post or cancel.
  TBookmark at = GetBookmark();
  InitRecord(active_);
  if (at.empty())
    SetBookmarkFlag(active_, bfBOF);
  else
    SetBookmarkData(active_, at.data());
  eof_ = false;
  EndInsertAppend();
}

void TDataSet::Edit() {
  CheckActive();
  if (EditModes(state_)) return;
  CheckBrowseMode();
  CheckNotEmpty();
  CheckCanModify();
  DoBeforeEdit();
  UpdateCursorPos();
  CheckOperation(&TDataSet::InternalEdit, OnEditError);
  GetCalcFields(active_);
  SetState(dsEdit);
  DataEvent(deRecordChange);
  DoAfterEdit();
}

void TDataSet::Post() {
  CheckActive();
  if (state_ == dsSetKey) {
    SetState(dsBrowse);
    return;
  }
  if (!EditModes(state_)) return;
  DoBeforePost();
  CheckRequiredFields();
  UpdateCursorPos();
  CheckOperation(&TDataSet::InternalPost, OnPostError);
  SetState(dsBrowse);
  Resync();
  DoAfterPost();
}

void TDataSet::Cancel() {
  CheckActive();
  if (state_ == dsSetKey) {
    SetState(dsBrowse);
    DataEvent(deDataSetChange);
    return;
  }
  if (!EditModes(state_)) return;
  DoBeforeCancel();
  UpdateCursorPos();
  InternalCancel();
  SetState(dsBrowse);
  Resync();
  DoAfterCancel();
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  CheckBrowseMode();
  CheckNotEmpty();
  CheckCanModify();
  DoBeforeDelete();
  DoBeforeScroll();
  UpdateCursorPos();
  CheckOperation(&TDataSet::InternalDelete, OnDeleteError);
  Resync();
  DoAfterDelete();
  DoAfterScroll();
}

void TDataSet::AppendRecord(const std::vector<TVariant>& values) {
  if (values.size() > static_cast<size_t>(fields_.Count())) DatabaseError(SFieldIndexError);
  Append();
  try {
    for (size_t i = 0; i < values.size(); ++i) fields_[static_cast<int>(i)].SetValue(values[i]);
    Post();
  } catch (...) {
    if (state_ == dsInsert) {
      try {
        Cancel();
      } catch (...) {
      }
    }
    throw;
  }
}

}  // namespace dataaccess
