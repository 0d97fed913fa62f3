// A dataset over rows held in memory, written against the framework's hooks
// the way a storage engine is: record images with a presence byte and the
// native value per column, blob contents in a block store referenced from
// the record, the bookmark as a row id after the calculated part.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dataaccess/DataSet.h"

namespace toy {

using namespace dataaccess;

struct Column {
  AnsiString name;
  TFieldType type;
  int size = 0;
};

class TToyDataSet : public TDataSet {
 public:
  explicit TToyDataSet(std::vector<Column> columns) : columns_(std::move(columns)) {
    for (const Column& c : columns_) {
      offsets_.push_back(recordSize_);
      const int native = FieldTypeDataSize(c.type, c.size);
      recordSize_ += 1 + (c.type == ftMemo || c.type == ftBlob ? 4 : native);
    }
  }
  ~TToyDataSet() override { CloseForDestroy(); }

  // Another party removes a row behind the dataset's back.
  void RemoveRow(int id) { rows_[static_cast<size_t>(IndexOf(id))].gone = true; }
  int RowCount() const { return static_cast<int>(rows_.size()); }
  // InternalEdit refuses this many times before it lets an edit begin.
  int editRefusals = 0;
  // The dataset's own buffer state, for tests that enter states themselves.
  using TDataSet::CursorPosChanged;
  using TDataSet::RestoreState;
  using TDataSet::SetTempState;

 protected:
  TRecordBuffer AllocRecordBuffer() override { return new uint8_t[static_cast<size_t>(BufferSize())](); }
  void FreeRecordBuffer(TRecordBuffer& b) override {
    delete[] b;
    b = nullptr;
  }
  void GetBookmarkData(TRecordBuffer b, uint8_t* d) override { std::memcpy(d, b + InfoOffset(), 4); }
  void SetBookmarkData(TRecordBuffer b, const uint8_t* d) override { std::memcpy(b + InfoOffset(), d, 4); }
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer b) override { return TBookmarkFlag(b[InfoOffset() + 4]); }
  void SetBookmarkFlag(TRecordBuffer b, TBookmarkFlag f) override { b[InfoOffset() + 4] = f; }
  int GetRecordSize() override { return recordSize_; }

  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) override {
    const int n = RowCount();
    if (mode == gmCurrent) {
      if (pos_ < 0) return grBOF;
      if (pos_ >= n) return grEOF;
      if (rows_[static_cast<size_t>(pos_)].gone) {
        if (doCheck) DatabaseError("Record is gone");
        return grError;
      }
    } else if (mode == gmNext) {
      do ++pos_;
      while (pos_ < n && rows_[static_cast<size_t>(pos_)].gone);
      if (pos_ >= n) return pos_ = n, grEOF;
    } else {
      pos_ = std::min(pos_, n);
      do --pos_;
      while (pos_ >= 0 && rows_[static_cast<size_t>(pos_)].gone);
      if (pos_ < 0) return pos_ = -1, grBOF;
    }
    const Row& r = rows_[static_cast<size_t>(pos_)];
    std::memcpy(buffer, r.image.data(), r.image.size());
    SetBookmarkData(buffer, reinterpret_cast<const uint8_t*>(&r.id));
    SetBookmarkFlag(buffer, bfCurrent);
    GetCalcFields(buffer);
    return grOK;
  }
  void InternalFirst() override { pos_ = -1; }
  void InternalLast() override { pos_ = RowCount(); }
  void InternalGotoBookmark(const uint8_t* bookmark) override {
    int id;
    std::memcpy(&id, bookmark, 4);
    pos_ = IndexOf(id);
  }
  void InternalSetToRecord(TRecordBuffer b) override { InternalGotoBookmark(b + InfoOffset()); }
  void InternalOpen() override {
    InitFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    SetBookmarkSize(4);
    InternalFirst();
    open_ = true;
  }
  void InternalClose() override {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    open_ = false;
  }
  bool IsCursorOpen() override { return open_; }
  void InternalInitFieldDefs() override {
    FieldDefs().Clear();
    for (const Column& c : columns_) FieldDefs().Add(c.name, c.type, c.size);
  }
  void InternalEdit() override {
    if (editRefusals > 0 && editRefusals--) DatabaseError("Record is locked by another user");
  }
  void InternalPost() override {
    if (State() != dsEdit) return TDataSet::InternalPost();
    pos_ = IndexOf(RowId(ActiveBuffer()));
    std::memcpy(rows_[static_cast<size_t>(pos_)].image.data(), ActiveBuffer(), static_cast<size_t>(recordSize_));
  }
  void InternalAddRecord(TRecordBuffer buffer, bool append) override {
    Row r{nextId_++, false, std::vector<uint8_t>(buffer, buffer + recordSize_)};
    pos_ = append || pos_ < 0 ? RowCount() : pos_;
    rows_.insert(rows_.begin() + pos_, std::move(r));
  }
  void InternalDelete() override { rows_[static_cast<size_t>(pos_)].gone = true; }
  void ClearCalcFields(TRecordBuffer b) override { std::memset(b + recordSize_, 0, static_cast<size_t>(CalcFieldsSize())); }
  int GetRecordCount() override {
    CheckActive();
    int n = 0;
    for (const Row& r : rows_) n += !r.gone;
    return n;
  }
 public:
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override {
    if (a.empty() || b.empty()) return TDataSet::CompareBookmarks(a, b);
    int x, y;
    std::memcpy(&x, a.data(), 4);
    std::memcpy(&y, b.data(), 4);
    return x < y ? -1 : x > y;
  }
  bool BookmarkValid(const TBookmark& b) override {
    int id;
    std::memcpy(&id, b.data(), 4);
    for (const Row& r : rows_)
      if (r.id == id) return !r.gone;
    return false;
  }

  bool GetFieldData(const TField& field, void* buffer) override {
    const uint8_t* p = FieldPlace(field);
    if (!p || !p[0]) return false;
    if (buffer) std::memcpy(buffer, p + 1, static_cast<size_t>(field.DataSize()));
    return true;
  }
  void SetFieldData(TField& field, const void* buffer) override {
    if (State() != dsEdit && State() != dsInsert && State() != dsCalcFields) DatabaseError(SNotEditing);
    if (field.FieldKind() == fkData && (State() == dsCalcFields || field.ReadOnly()))
      DatabaseErrorFmt(SFieldReadOnly, {field.DisplayName()});
    field.Validate(buffer);
    uint8_t* p = FieldPlace(field);
    p[0] = buffer != nullptr;
    std::memset(p + 1, 0, static_cast<size_t>(field.DataSize()));
    if (buffer) std::memcpy(p + 1, buffer, static_cast<size_t>(field.DataSize()));
    if (State() != dsCalcFields) DataEvent(deFieldChange, &field);
  }
  std::unique_ptr<TBlobStream> CreateBlobStream(TField& field, TBlobStreamMode mode) override;

 private:
  struct Row {
    int id;
    bool gone;
    std::vector<uint8_t> image;
  };
  class BlobStream;

  int BufferSize() { return recordSize_ + CalcFieldsSize() + 5; }
  int InfoOffset() { return recordSize_ + CalcFieldsSize(); }
  int RowId(TRecordBuffer b) {
    int id;
    std::memcpy(&id, b + InfoOffset(), 4);
    return id;
  }
  int IndexOf(int id) const {
    for (size_t i = 0; i < rows_.size(); ++i)
      if (rows_[i].id == id) return static_cast<int>(i);
    DatabaseError("Bookmark not found");
  }
  TRecordBuffer StateBuffer() const {
    switch (State()) {
      case dsBrowse: return IsEmpty() ? nullptr : ActiveBuffer();
      case dsEdit:
      case dsInsert: return ActiveBuffer();
      case dsCalcFields: return CalcBuffer();
      default: return nullptr;
    }
  }
  // The presence byte of `field` in the buffer of the current state.
  uint8_t* FieldPlace(const TField& field) {
    TRecordBuffer b = StateBuffer();
    if (!b) return nullptr;
    if (field.FieldNo() < 1) return b + recordSize_ + field.Offset();
    return b + offsets_[static_cast<size_t>(field.FieldNo() - 1)];
  }

  std::vector<Column> columns_;
  std::vector<int> offsets_;
  int recordSize_ = 0;
  std::vector<Row> rows_;
  std::vector<std::string> blocks_{std::string()};  // block 0 means "no contents"
  int nextId_ = 1;
  int pos_ = -1;
  bool open_ = false;
};

// Contents of a memo or blob field: the record holds a block number.
class TToyDataSet::BlobStream : public TBlobStream {
 public:
  BlobStream(TToyDataSet& ds, TField& field, TBlobStreamMode mode) : ds_(ds), field_(field) {
    if (mode != bmRead && ds.State() != dsEdit && ds.State() != dsInsert) DatabaseError(SNotEditing);
    if (mode == bmWrite) {
      modified_ = true;  // opening for writing empties the contents
    } else if (const uint8_t* p = ds.FieldPlace(field); p && p[0]) {
      int block;
      std::memcpy(&block, p + 1, 4);
      data_ = ds.blocks_[static_cast<size_t>(block)];
    }
  }
  ~BlobStream() override {
    try {
      Commit();
    } catch (...) {
    }
  }
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, Size() - pos_));
    std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }
  int64_t Write(const void* buffer, int64_t count) override {
    if (count <= 0) return 0;
    data_.resize(static_cast<size_t>(pos_));
    data_.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
    pos_ += count;
    modified_ = true;
    return count;
  }
  int64_t Seek(int64_t offset, platform::TSeekOrigin origin) override {
    pos_ = (origin == platform::soBeginning ? 0 : origin == platform::soCurrent ? pos_ : Size()) + offset;
    return pos_;
  }
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t n) override {
    data_.resize(static_cast<size_t>(n));
    modified_ = true;
  }
  void Commit() override {
    if (!modified_) return;
    uint8_t* p = ds_.FieldPlace(field_);
    const int block = data_.empty() ? 0 : static_cast<int>(ds_.blocks_.size());
    if (block) ds_.blocks_.push_back(data_);
    p[0] = block != 0;
    std::memcpy(p + 1, &block, 4);
    modified_ = false;
    if (auto* blob = dynamic_cast<TBlobField*>(&field_)) blob->SetModified(true);
    ds_.DataEvent(deFieldChange, &field_);
  }

 private:
  TToyDataSet& ds_;
  TField& field_;
  std::string data_;
  int64_t pos_ = 0;
  bool modified_ = false;
};

inline std::unique_ptr<TBlobStream> TToyDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  return std::make_unique<BlobStream>(*this, field, mode);
}

// A toy table of (ID integer, NAME string 20) holding `names` in order.
inline std::unique_ptr<TToyDataSet> NamesTable(const std::vector<std::string>& names) {
  auto ds = std::make_unique<TToyDataSet>(std::vector<Column>{{"ID", ftInteger}, {"NAME", ftString, 20}});
  ds->Open();
  int id = 0;
  for (const std::string& n : names) ds->AppendRecord({++id, n});
  ds->First();
  return ds;
}

}  // namespace toy
