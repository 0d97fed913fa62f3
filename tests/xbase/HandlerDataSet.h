// A small dataset over a DBFObject, written against the framework's hooks
// as the engine's dataset is: a record buffer is the table's record image
// followed by the record number and the bookmark flag; the table reads and
// writes through its record pointer aimed at the buffer at hand. Enough for
// the blob stream and the dataset's filter test; text, numbers and memos.
#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "dataaccess/DataSet.h"
#include "platform/CodePage.h"
#include "xbase/xb_dsobj.h"

namespace xbtest {

using namespace dataaccess;

class THandlerDataSet : public xbase::TXBaseDataSetBase {
 public:
  explicit THandlerDataSet(std::string path) : path_(std::move(path)) {}
  ~THandlerDataSet() override { CloseForDestroy(); }

  xbase::DBFObject* DBFHandle() const override { return table_.get(); }
  void DoOnStatus(int stat1, int stat2, int stat3) override {
    if (OnStatus) OnStatus(*this, stat1, stat2, stat3);
  }
  std::function<void(TDataSet&, int, int, int)> OnStatus;
  TRecordBuffer GetActiveRecBuf() override {
    switch (State()) {
      case dsBrowse: return IsEmpty() ? nullptr : ActiveBuffer();
      case dsEdit:
      case dsInsert: return ActiveBuffer();
      case dsFilter: return table_ ? table_->CurRecord() : nullptr;
      default: return nullptr;
    }
  }
  bool Renaming() const override { return renaming; }
  // Text between the table's OEM code page and ANSI.
  int Translate(const char* src, char* dest, bool toOem) override {
    if (!src) return dest[0] = 0, 0;
    const std::string s = translate ? (toOem ? platform::AnsiToOem(src) : platform::OemToAnsi(src)) : src;
    std::memcpy(dest, s.c_str(), s.size() + 1);
    return static_cast<int>(s.size());
  }
  std::unique_ptr<TBlobStream> CreateBlobStream(TField& field, TBlobStreamMode mode) override {
    return std::make_unique<xbase::THCBlobStream>(field, mode);
  }
  bool GetFieldData(const TField& field, void* buffer) override {
    uint8_t* b = GetActiveRecBuf();
    if (!b || !table_) return false;
    xbase::TxbRecordPointer at(*table_, b);
    const int n = field.FieldNo();
    switch (field.DataType()) {
      case ftString: {
        const std::string s = table_->xbStringGetN(n);
        if (s.empty()) return false;
        if (buffer) std::memcpy(buffer, s.c_str(), s.size() + 1);
        return true;
      }
      case ftFloat: {
        const double v = table_->xbNumberGetN(n);
        if (buffer) std::memcpy(buffer, &v, sizeof v);
        return true;
      }
      default: return table_->xbMemoSizeN(n) > 0;
    }
  }
  void SetFieldData(TField& field, const void* buffer) override {
    if (State() != dsEdit && State() != dsInsert) DatabaseError(SNotEditing);
    xbase::TxbRecordPointer at(*table_, ActiveBuffer());
    if (field.DataType() == ftString)
      table_->xbStringPutN(field.FieldNo(), buffer ? static_cast<const char*>(buffer) : "");
    else if (field.DataType() == ftFloat)
      table_->xbNumberPutN(field.FieldNo(), buffer ? *static_cast<const double*>(buffer) : 0.0);
    DataEvent(deFieldChange, &field);
  }

  bool translate = false;
  bool renaming = false;

 protected:
  TRecordBuffer AllocRecordBuffer() override { return new uint8_t[static_cast<size_t>(Info() + 5)](); }
  void FreeRecordBuffer(TRecordBuffer& b) override {
    delete[] b;
    b = nullptr;
  }
  void GetBookmarkData(TRecordBuffer b, uint8_t* d) override { std::memcpy(d, b + Info(), 4); }
  void SetBookmarkData(TRecordBuffer b, const uint8_t* d) override { std::memcpy(b + Info(), d, 4); }
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer b) override { return TBookmarkFlag(b[Info() + 4]); }
  void SetBookmarkFlag(TRecordBuffer b, TBookmarkFlag f) override { b[Info() + 4] = f; }
  int GetRecordSize() override { return table_->RecLen(); }

  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool) override {
    {
      xbase::TxbRecordPointer at(*table_, buffer);
      if (mode == gmCurrent) {
        if (beforeFirst_ || afterLast_) return beforeFirst_ ? grBOF : grEOF;
        table_->xbGetRec(xbase::xbRecCurrent);
      } else if (mode == gmNext) {
        if (afterLast_) return grEOF;
        table_->xbGetRec(beforeFirst_ ? xbase::xbRecTop : xbase::xbRecNext);
        beforeFirst_ = false;
      } else {
        if (beforeFirst_) return grBOF;
        table_->xbGetRec(afterLast_ ? xbase::xbRecBottom : xbase::xbRecPrior);
        afterLast_ = false;
      }
    }
    if (table_->File_EOF()) return grEOF;
    if (table_->File_TOF()) return grBOF;
    const int rec = table_->RecNumber();
    SetBookmarkData(buffer, reinterpret_cast<const uint8_t*>(&rec));
    SetBookmarkFlag(buffer, bfCurrent);
    return grOK;
  }
  void InternalFirst() override { beforeFirst_ = true, afterLast_ = false; }
  void InternalLast() override { afterLast_ = true, beforeFirst_ = false; }
  void InternalGotoBookmark(const uint8_t* bookmark) override {
    int rec;
    std::memcpy(&rec, bookmark, 4);
    table_->xbGetRec(rec);
    beforeFirst_ = afterLast_ = false;
  }
  void InternalSetToRecord(TRecordBuffer b) override { InternalGotoBookmark(b + Info()); }
  void InternalOpen() override {
    table_ = std::make_unique<xbase::DBFObject>(path_, "", true, false, this);
    InitFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    SetBookmarkSize(4);
    InternalFirst();
  }
  void InternalClose() override {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    table_.reset();
  }
  bool IsCursorOpen() override { return table_ != nullptr; }
  void InternalInitFieldDefs() override {
    FieldDefs().Clear();
    for (int i = 0; i < table_->NumFields(); ++i) {
      const auto& f = table_->Fields(i);
      const char t = f.dbFieldType;
      FieldDefs().Add(f.Name(), t == 'C' ? ftString : t == 'N' ? ftFloat : t == 'M' ? ftMemo : ftBlob,
                      t == 'C' ? f.Length() : 0);
    }
  }
  void InternalInitRecord(TRecordBuffer b) override {
    xbase::TxbRecordPointer at(*table_, b);
    table_->xbBlank();
  }
  void InternalPost() override {
    xbase::TxbRecordPointer at(*table_, ActiveBuffer());
    if (State() == dsEdit) {
      int rec;
      std::memcpy(&rec, ActiveBuffer() + Info(), 4);
      table_->xbPutRec(rec);
    } else {
      table_->xbAppend();
    }
    beforeFirst_ = afterLast_ = false;
  }

 private:
  // After the record image and the byte the table keeps behind it.
  int Info() const { return table_->RecLen() + 1 + CalcFieldsSize(); }

  std::string path_;
  std::unique_ptr<xbase::DBFObject> table_;
  bool beforeFirst_ = true;
  bool afterLast_ = false;
};

}  // namespace xbtest
