// Field definitions and fields.
//
// TFieldDefs describes the columns a dataset's cursor offers (filled by the
// dataset's InternalInitFieldDefs). TField objects are the typed views
// through which callers read and write the values of the current record;
// a dataset owns them in its TFields list, either made from the
// definitions at open (default fields) or added by the caller beforehand
// (persistent fields, needed for calculated fields).
//
// Native value buffers. A field moves its value to and from the dataset
// (TDataSet::GetFieldData/SetFieldData) in a buffer of DataSize() bytes:
//   string      Size() + 1 bytes of ANSI text, zero-terminated
//   small int   int16            integer     int32
//   64-bit int  int64            boolean     int16, 0 or -1
//   float       double           currency    double
//   date        int32 day number (0001-01-01 is day 1)
//   date-time   double: day number * 86,400,000 + milliseconds of the day
//   memo, blob  nothing (DataSize() is 0); the contents move through the
//               dataset's blob stream (TDataSet::CreateBlobStream)
// A call without a buffer only asks or sets whether there is a value.
//
// Conversions between kinds (AsString, AsInteger, ...) are locale-free
// (DBValues.h). A conversion a field class does not offer raises
// EDatabaseError SFieldAccessError; a value out of a field's range raises
// SFieldRangeError rather than being cut.
//
// Fields belong to one dataset and are used from its thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataaccess/DBValues.h"

namespace dataaccess {

class TDataSet;

enum TFieldType {
  ftUnknown, ftString, ftSmallint, ftInteger, ftLargeint, ftFloat, ftCurrency,
  ftBoolean, ftDate, ftDateTime, ftMemo, ftBlob
};

// The name of a type as messages show it ("String", "Integer", ...).
const char* FieldTypeName(TFieldType type);
// Bytes of the native buffer of a field of `type` (`size` counts for
// strings only).
int FieldTypeDataSize(TFieldType type, int size);

// Where a field's value comes from: the record (data) or the calculated
// part of the record buffer, filled by OnCalcFields (the other three kinds;
// a lookup field is calculated by the caller's handler like the others).
enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc };

// --- Field definitions --------------------------------------------------------

class TFieldDef {
 public:
  TFieldDef(AnsiString name, TFieldType type, int size, bool required, int fieldNo)
      : name_(std::move(name)), type_(type), size_(size), required_(required), fieldNo_(fieldNo) {}
  const AnsiString& Name() const { return name_; }
  TFieldType DataType() const { return type_; }
  int Size() const { return size_; }
  bool Required() const { return required_; }
  // Position among the definitions, from 1.
  int FieldNo() const { return fieldNo_; }

 private:
  AnsiString name_;
  TFieldType type_;
  int size_;
  bool required_;
  int fieldNo_;
};

class TFieldDefs {
 public:
  explicit TFieldDefs(TDataSet& dataSet) : dataSet_(dataSet) {}
  TFieldDefs(const TFieldDefs&) = delete;
  TFieldDefs& operator=(const TFieldDefs&) = delete;

  void Clear();
  // Appends a definition numbered Count() + 1. Raises EDatabaseError for a
  // name already defined (compared without letter case) or a string size
  // below 1. `size` is kept for strings only.
  const TFieldDef& Add(const AnsiString& name, TFieldType type, int size = 0, bool required = false);
  int Count() const { return static_cast<int>(defs_.size()); }
  const TFieldDef& operator[](int index) const { return defs_[static_cast<size_t>(index)]; }
  // The definition named `name` (without letter case), or nullptr.
  const TFieldDef* Find(const AnsiString& name) const;

  // False when the definitions may no longer describe the cursor; Update
  // then has the dataset fill them again (TDataSet::InitFieldDefs).
  bool Updated() const { return updated_; }
  void SetUpdated(bool v) { updated_ = v; }
  void Update();

 private:
  TDataSet& dataSet_;
  std::vector<TFieldDef> defs_;
  bool updated_ = false;
};

// --- Fields -------------------------------------------------------------------

class TField {
 public:
  virtual ~TField() = default;
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  // The owning dataset; nullptr until the field is added to one.
  TDataSet* DataSet() const { return dataSet_; }
  TFieldType DataType() const { return type_; }

  // Name, kind and size can change only while the dataset is inactive.
  const AnsiString& FieldName() const { return name_; }
  void SetFieldName(const AnsiString& v);
  TFieldKind FieldKind() const { return kind_; }
  void SetFieldKind(TFieldKind v);
  // Characters of a string field (a bound data field takes its
  // definition's size); 0 for the other classes.
  int Size() const { return size_; }
  void SetSize(int v);
  // Bytes of the native buffer (see the top of this file).
  int DataSize() const { return FieldTypeDataSize(type_, size_); }

  // Set while the dataset is open: data fields are numbered from 1 by
  // their definition, the other kinds get -1 (0 while unbound). Offset() is where a
  // non-data field's presence byte lies in the calculated part of a record
  // buffer (its value follows the byte).
  int FieldNo() const { return fieldNo_; }
  int Offset() const { return offset_; }

  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v) { readOnly_ = v; }
  // A data field that Post refuses to store without a value.
  bool Required() const { return required_; }
  void SetRequired(bool v) { required_ = v; }
  // Text passes through the dataset's Translate on its way in and out
  // (on by default for string and memo fields).
  bool Transliterate() const { return transliterate_; }
  void SetTransliterate(bool v) { transliterate_ = v; }
  // The label messages use: DisplayLabel when set, else FieldName.
  AnsiString DisplayName() const { return label_.empty() ? name_ : label_; }
  void SetDisplayLabel(const AnsiString& v) { label_ = v; }
  // The field takes part in the dataset's active index (GetIsIndexField).
  bool IsIndexField() const;

  // --- The value in the record buffer of the dataset's current state ---------
  bool IsNull() const { return !GetData(nullptr); }
  AnsiString AsString() const { return GetAsString(); }
  void SetAsString(const AnsiString& v) { SetAsStringValue(v); }
  int32_t AsInteger() const { return GetAsInteger(); }
  void SetAsInteger(int32_t v) { SetAsIntegerValue(v); }
  int64_t AsLargeInt() const { return GetAsLargeInt(); }
  void SetAsLargeInt(int64_t v) { SetAsLargeIntValue(v); }
  double AsFloat() const { return GetAsFloat(); }
  void SetAsFloat(double v) { SetAsFloatValue(v); }
  bool AsBoolean() const { return GetAsBoolean(); }
  void SetAsBoolean(bool v) { SetAsBooleanValue(v); }
  TDateTime AsDateTime() const { return GetAsDateTime(); }
  void SetAsDateTime(TDateTime v) { SetAsDateTimeValue(v); }
  // Null when the field has no value; else the kind native to the class.
  virtual TVariant Value() const = 0;
  // A null variant clears the field; other kinds go through the As...
  // setter of their kind.
  void SetValue(const TVariant& v);
  // Removes the value.
  virtual void Clear() { SetData(nullptr); }

  // Raw access in the native form (see the top of this file). GetData
  // answers whether there is a value and copies it when `buffer` is given;
  // SetData with nullptr removes the value.
  bool GetData(void* buffer) const;
  void SetData(const void* buffer);

  // Runs OnValidate for the value about to be stored (nullptr: no value).
  // A dataset calls it from SetFieldData before it changes the record;
  // while the handler runs, the field reads as that new value, and the
  // handler refuses the value by raising.
  void Validate(const void* buffer);
  std::function<void(TField& Sender)> OnValidate;

  // --- For the dataset that owns the field ------------------------------------
  void AttachTo(TDataSet* dataSet) { dataSet_ = dataSet; }
  void Bind(int fieldNo, int offset) {
    fieldNo_ = fieldNo;
    offset_ = offset;
  }

 protected:
  TField(TFieldType type, AnsiString name, int size);

  // Each class overrides the conversions it offers; the others raise
  // SFieldAccessError.
  virtual AnsiString GetAsString() const;
  virtual void SetAsStringValue(const AnsiString& v);
  virtual int32_t GetAsInteger() const;
  virtual void SetAsIntegerValue(int32_t v);
  virtual int64_t GetAsLargeInt() const;
  virtual void SetAsLargeIntValue(int64_t v);
  virtual double GetAsFloat() const;
  virtual void SetAsFloatValue(double v);
  virtual bool GetAsBoolean() const;
  virtual void SetAsBooleanValue(bool v);
  virtual TDateTime GetAsDateTime() const;
  virtual void SetAsDateTimeValue(TDateTime v);

  [[noreturn]] void AccessError(const char* typeName) const;
  // `v` as AsInteger gives it, or SFieldRangeError.
  int32_t ToInt32(int64_t v) const;
  [[noreturn]] void RangeError(const AnsiString& value, const AnsiString& low, const AnsiString& high) const;
  void CheckInactive() const;

 private:
  TDataSet* dataSet_ = nullptr;
  TFieldType type_;
  AnsiString name_;
  AnsiString label_;
  int size_;
  TFieldKind kind_ = fkData;
  int fieldNo_ = 0;
  int offset_ = 0;
  bool readOnly_ = false;
  bool required_ = false;
  bool transliterate_ = false;
  // While OnValidate runs: the value being validated.
  bool validating_ = false;
  const void* validatingBuffer_ = nullptr;
};

class TStringField : public TField {
 public:
  explicit TStringField(AnsiString name = {}, int size = 20);
  TVariant Value() const override;

 protected:
  AnsiString GetAsString() const override;
  void SetAsStringValue(const AnsiString& v) override;
  int32_t GetAsInteger() const override;
  void SetAsIntegerValue(int32_t v) override;
  int64_t GetAsLargeInt() const override;
  void SetAsLargeIntValue(int64_t v) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double v) override;
  // True when the text begins with T, t, Y or y; written as "T" / "F".
  bool GetAsBoolean() const override;
  void SetAsBooleanValue(bool v) override;
  TDateTime GetAsDateTime() const override;
  void SetAsDateTimeValue(TDateTime v) override;
};

// Integer fields of 16, 32 (this class) and 64 bits.
class TIntegerField : public TField {
 public:
  explicit TIntegerField(AnsiString name = {}) : TIntegerField(ftInteger, std::move(name)) {}
  TVariant Value() const override;

 protected:
  TIntegerField(TFieldType type, AnsiString name);
  AnsiString GetAsString() const override;
  void SetAsStringValue(const AnsiString& v) override;
  int32_t GetAsInteger() const override;
  void SetAsIntegerValue(int32_t v) override;
  int64_t GetAsLargeInt() const override;
  void SetAsLargeIntValue(int64_t v) override;
  double GetAsFloat() const override;
  // Rounded, halves to the even neighbour.
  void SetAsFloatValue(double v) override;

 private:
  int64_t min_, max_;
};

class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(AnsiString name = {}) : TIntegerField(ftSmallint, std::move(name)) {}
};

class TLargeintField : public TIntegerField {
 public:
  explicit TLargeintField(AnsiString name = {}) : TIntegerField(ftLargeint, std::move(name)) {}
};

class TFloatField : public TField {
 public:
  explicit TFloatField(AnsiString name = {}) : TFloatField(ftFloat, std::move(name)) {}
  TVariant Value() const override;

 protected:
  TFloatField(TFieldType type, AnsiString name) : TField(type, std::move(name), 0) {}
  AnsiString GetAsString() const override;
  void SetAsStringValue(const AnsiString& v) override;
  // Rounded, halves to the even neighbour.
  int32_t GetAsInteger() const override;
  void SetAsIntegerValue(int32_t v) override;
  int64_t GetAsLargeInt() const override;
  void SetAsLargeIntValue(int64_t v) override;
  double GetAsFloat() const override;
  // Only finite numbers.
  void SetAsFloatValue(double v) override;
};

class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(AnsiString name = {}) : TFloatField(ftCurrency, std::move(name)) {}
};

class TBooleanField : public TField {
 public:
  explicit TBooleanField(AnsiString name = {}) : TField(ftBoolean, std::move(name), 0) {}
  TVariant Value() const override;

 protected:
  AnsiString GetAsString() const override;  // "True" / "False"
  void SetAsStringValue(const AnsiString& v) override;
  bool GetAsBoolean() const override;
  void SetAsBooleanValue(bool v) override;
};

// Date-times; AsFloat is the TDateTime value.
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(AnsiString name = {}) : TField(ftDateTime, std::move(name), 0) {}
  TVariant Value() const override;

 protected:
  TDateTimeField(TFieldType type, AnsiString name) : TField(type, std::move(name), 0) {}
  AnsiString GetAsString() const override;
  void SetAsStringValue(const AnsiString& v) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double v) override;
  TDateTime GetAsDateTime() const override;
  void SetAsDateTimeValue(TDateTime v) override;
};

// Dates; a time given to it is dropped.
class TDateField : public TDateTimeField {
 public:
  explicit TDateField(AnsiString name = {}) : TDateTimeField(ftDate, std::move(name)) {}

 protected:
  AnsiString GetAsString() const override;
  TDateTime GetAsDateTime() const override;
  void SetAsDateTimeValue(TDateTime v) override;
};

// Binary contents read and written whole through the dataset's blob stream.
// AsString is the raw bytes.
class TBlobField : public TField {
 public:
  explicit TBlobField(AnsiString name = {}) : TField(ftBlob, std::move(name), 0) {}
  TVariant Value() const override;
  // Stores empty contents.
  void Clear() override;
  // Set by a blob stream that changed the contents; cleared when the
  // dataset leaves the edit or insert state.
  bool Modified() const { return modified_; }
  void SetModified(bool v) { modified_ = v; }

 protected:
  TBlobField(TFieldType type, AnsiString name) : TField(type, std::move(name), 0) {}
  AnsiString GetAsString() const override;
  void SetAsStringValue(const AnsiString& v) override;

 private:
  bool modified_ = false;
};

// Text contents; the blob stream transliterates them when Transliterate is on.
class TMemoField : public TBlobField {
 public:
  explicit TMemoField(AnsiString name = {});
};

// A new field of the class for `type` (nullptr for ftUnknown).
std::unique_ptr<TField> CreateFieldOfType(TFieldType type, const AnsiString& name, int size);

// --- The fields of a dataset ------------------------------------------------

class TFields {
 public:
  explicit TFields(TDataSet& dataSet) : dataSet_(dataSet) {}
  TFields(const TFields&) = delete;
  TFields& operator=(const TFields&) = delete;

  int Count() const { return static_cast<int>(list_.size()); }
  TField& operator[](int index) const { return *list_[static_cast<size_t>(index)]; }
  // By name, without letter case; nullptr when there is none.
  TField* FindField(const AnsiString& name) const;
  // As FindField, raising EDatabaseError SFieldNotFound when there is none.
  TField& FieldByName(const AnsiString& name) const;

  // The dataset takes ownership of `field`. Only while it is inactive;
  // a name already used raises EDatabaseError.
  TField& Add(std::unique_ptr<TField> field);
  // Destroys every field; only while the dataset is inactive.
  void Clear();

 private:
  TDataSet& dataSet_;
  std::vector<std::unique_ptr<TField>> list_;
};

}  // namespace dataaccess
