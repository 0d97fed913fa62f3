#include "dataaccess/Fields.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "dataaccess/DBError.h"
#include "dataaccess/DataSet.h"

namespace dataaccess {

namespace {

bool SameName(const AnsiString& a, const AnsiString& b) {
  return a.size() == b.size() && platform::AnsiUpperCase(a) == platform::AnsiUpperCase(b);
}

bool IsBlank(const AnsiString& s) { return s.find_first_not_of(" \t") == AnsiString::npos; }

template <class T>
T ReadNative(const TField& f, bool& has) {
  T v{};
  has = f.GetData(&v);
  return v;
}

template <class T>
void WriteNative(TField& f, T v) {
  f.SetData(&v);
}

}  // namespace

const char* FieldTypeName(TFieldType type) {
  switch (type) {
    case ftString: return "String";
    case ftSmallint: return "SmallInt";
    case ftInteger: return "Integer";
    case ftLargeint: return "LargeInt";
    case ftFloat: return "Float";
    case ftCurrency: return "Currency";
    case ftBoolean: return "Boolean";
    case ftDate: return "Date";
    case ftDateTime: return "DateTime";
    case ftMemo: return "Memo";
    case ftBlob: return "Blob";
    case ftUnknown: break;
  }
  return "Unknown";
}

int FieldTypeDataSize(TFieldType type, int size) {
  switch (type) {
    case ftString: return size + 1;
    case ftSmallint:
    case ftBoolean: return 2;
    case ftInteger:
    case ftDate: return 4;
    case ftLargeint:
    case ftFloat:
    case ftCurrency:
    case ftDateTime: return 8;
    case ftMemo:
    case ftBlob:
    case ftUnknown: break;
  }
  return 0;
}

// --- TFieldDefs -----------------------------------------------------------------

void TFieldDefs::Clear() { defs_.clear(); }

const TFieldDef& TFieldDefs::Add(const AnsiString& name, TFieldType type, int size, bool required) {
  if (Find(name)) DatabaseErrorFmt(SDuplicateFieldName, {name});
  if (type == ftString && size < 1) DatabaseError(SInvalidFieldSize);
  defs_.emplace_back(name, type, type == ftString ? size : 0, required, Count() + 1);
  return defs_.back();
}

const TFieldDef* TFieldDefs::Find(const AnsiString& name) const {
  for (const TFieldDef& d : defs_)
    if (SameName(d.Name(), name)) return &d;
  return nullptr;
}

void TFieldDefs::Update() {
  if (!updated_) dataSet_.InitFieldDefs();
}

// --- TField ---------------------------------------------------------------------

TField::TField(TFieldType type, AnsiString name, int size) : type_(type), name_(std::move(name)), size_(size) {}

void TField::CheckInactive() const {
  if (dataSet_) dataSet_->CheckInactive();
}

void TField::SetFieldName(const AnsiString& v) {
  CheckInactive();
  name_ = v;
}

void TField::SetFieldKind(TFieldKind v) {
  CheckInactive();
  kind_ = v;
}

void TField::SetSize(int v) {
  CheckInactive();
  if (type_ != ftString) return;
  if (v < 1) DatabaseError(SInvalidFieldSize);
  size_ = v;
}

bool TField::IsIndexField() const {
  return dataSet_ && kind_ == fkData && dataSet_->GetIsIndexField(*this);
}

bool TField::GetData(void* buffer) const {
  if (validating_) {
    if (!validatingBuffer_) return false;
    if (buffer) std::memcpy(buffer, validatingBuffer_, static_cast<size_t>(DataSize()));
    return true;
  }
  if (!dataSet_) DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
  return dataSet_->GetFieldData(*this, buffer);
}

void TField::SetData(const void* buffer) {
  if (!dataSet_) DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
  dataSet_->SetFieldData(*this, buffer);
}

void TField::Validate(const void* buffer) {
  if (!OnValidate) return;
  struct Reset {
    TField& f;
    ~Reset() {
      f.validating_ = false;
      f.validatingBuffer_ = nullptr;
    }
  } reset{*this};
  validating_ = true;
  validatingBuffer_ = buffer;
  OnValidate(*this);
}

void TField::SetValue(const TVariant& v) {
  switch (v.VarType()) {
    case varNull: Clear(); break;
    case varBoolean: SetAsBoolean(v.AsBoolean()); break;
    case varInt64: SetAsLargeInt(v.AsInt64()); break;
    case varDouble: SetAsFloat(v.AsDouble()); break;
    case varString: SetAsString(v.AsString()); break;
    case varDate: SetAsDateTime(v.AsDateTime()); break;
  }
}

void TField::AccessError(const char* typeName) const {
  DatabaseErrorFmt(SFieldAccessError, {DisplayName(), typeName});
}

int32_t TField::ToInt32(int64_t v) const {
  constexpr int64_t lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
  if (v < lo || v > hi) RangeError(IntToText(v), IntToText(lo), IntToText(hi));
  return static_cast<int32_t>(v);
}

void TField::RangeError(const AnsiString& value, const AnsiString& low, const AnsiString& high) const {
  DatabaseErrorFmt(SFieldRangeError, {value, DisplayName(), low, high});
}

AnsiString TField::GetAsString() const { AccessError("String"); }
void TField::SetAsStringValue(const AnsiString&) { AccessError("String"); }
int32_t TField::GetAsInteger() const { AccessError("Integer"); }
void TField::SetAsIntegerValue(int32_t) { AccessError("Integer"); }
int64_t TField::GetAsLargeInt() const { AccessError("LargeInt"); }
void TField::SetAsLargeIntValue(int64_t) { AccessError("LargeInt"); }
double TField::GetAsFloat() const { AccessError("Float"); }
void TField::SetAsFloatValue(double) { AccessError("Float"); }
bool TField::GetAsBoolean() const { AccessError("Boolean"); }
void TField::SetAsBooleanValue(bool) { AccessError("Boolean"); }
TDateTime TField::GetAsDateTime() const { AccessError("DateTime"); }
void TField::SetAsDateTimeValue(TDateTime) { AccessError("DateTime"); }

// --- TStringField ---------------------------------------------------------------

TStringField::TStringField(AnsiString name, int size) : TField(ftString, std::move(name), size) {
  if (size < 1) DatabaseError(SInvalidFieldSize);
  SetTransliterate(true);
}

AnsiString TStringField::GetAsString() const {
  std::string buf(static_cast<size_t>(DataSize()), '\0');
  if (!GetData(buf.data())) return {};
  if (Transliterate()) DataSet()->Translate(buf.data(), buf.data(), false);
  return AnsiString(buf.c_str());
}

void TStringField::SetAsStringValue(const AnsiString& v) {
  // Text longer than the field is cut to its width, as the record holds it.
  std::string src(v.c_str(), std::min(std::strlen(v.c_str()), static_cast<size_t>(Size())));
  std::string buf(static_cast<size_t>(DataSize()), '\0');
  if (Transliterate() && DataSet())
    DataSet()->Translate(src.c_str(), buf.data(), true);
  else
    std::memcpy(buf.data(), src.data(), src.size());
  SetData(buf.data());
}

TVariant TStringField::Value() const { return IsNull() ? TVariant() : TVariant(GetAsString()); }
int32_t TStringField::GetAsInteger() const { return ToInt32(GetAsLargeInt()); }
void TStringField::SetAsIntegerValue(int32_t v) { SetAsString(IntToText(v)); }
int64_t TStringField::GetAsLargeInt() const {
  const AnsiString s = GetAsString();
  return IsBlank(s) ? 0 : TextToInt64(s);
}
void TStringField::SetAsLargeIntValue(int64_t v) { SetAsString(IntToText(v)); }
double TStringField::GetAsFloat() const {
  const AnsiString s = GetAsString();
  return IsBlank(s) ? 0 : TextToFloat(s);
}
void TStringField::SetAsFloatValue(double v) { SetAsString(FloatToText(v)); }
bool TStringField::GetAsBoolean() const {
  const AnsiString s = GetAsString();
  return !s.empty() && std::strchr("TtYy", s[0]) != nullptr;
}
void TStringField::SetAsBooleanValue(bool v) { SetAsString(v ? "T" : "F"); }
TDateTime TStringField::GetAsDateTime() const {
  const AnsiString s = GetAsString();
  return IsBlank(s) ? 0 : TextToDateTime(s);
}
void TStringField::SetAsDateTimeValue(TDateTime v) {
  SetAsString(v == std::trunc(v) ? DateToText(v) : DateTimeToText(v));
}

// --- TIntegerField --------------------------------------------------------------

TIntegerField::TIntegerField(TFieldType type, AnsiString name) : TField(type, std::move(name), 0) {
  switch (type) {
    case ftSmallint:
      min_ = std::numeric_limits<int16_t>::min();
      max_ = std::numeric_limits<int16_t>::max();
      break;
    case ftLargeint:
      min_ = std::numeric_limits<int64_t>::min();
      max_ = std::numeric_limits<int64_t>::max();
      break;
    default:
      min_ = std::numeric_limits<int32_t>::min();
      max_ = std::numeric_limits<int32_t>::max();
  }
}

int64_t TIntegerField::GetAsLargeInt() const {
  bool has = false;
  switch (DataType()) {
    case ftSmallint: return ReadNative<int16_t>(*this, has);
    case ftLargeint: return ReadNative<int64_t>(*this, has);
    default: return ReadNative<int32_t>(*this, has);
  }
}

void TIntegerField::SetAsLargeIntValue(int64_t v) {
  if (v < min_ || v > max_) RangeError(IntToText(v), IntToText(min_), IntToText(max_));
  switch (DataType()) {
    case ftSmallint: WriteNative(*this, static_cast<int16_t>(v)); break;
    case ftLargeint: WriteNative(*this, v); break;
    default: WriteNative(*this, static_cast<int32_t>(v));
  }
}

TVariant TIntegerField::Value() const { return IsNull() ? TVariant() : TVariant(GetAsLargeInt()); }
AnsiString TIntegerField::GetAsString() const { return IsNull() ? AnsiString() : IntToText(GetAsLargeInt()); }
void TIntegerField::SetAsStringValue(const AnsiString& v) {
  if (IsBlank(v))
    Clear();
  else
    SetAsLargeInt(TextToInt64(v));
}
int32_t TIntegerField::GetAsInteger() const { return ToInt32(GetAsLargeInt()); }
void TIntegerField::SetAsIntegerValue(int32_t v) { SetAsLargeInt(v); }
double TIntegerField::GetAsFloat() const { return static_cast<double>(GetAsLargeInt()); }
void TIntegerField::SetAsFloatValue(double v) { SetAsLargeInt(RoundToInt64(v)); }

// --- TFloatField ----------------------------------------------------------------

double TFloatField::GetAsFloat() const {
  bool has = false;
  return ReadNative<double>(*this, has);
}
void TFloatField::SetAsFloatValue(double v) {
  if (!std::isfinite(v)) DatabaseErrorFmt(SInvalidFloat, {FloatToText(v)});
  WriteNative(*this, v);
}
TVariant TFloatField::Value() const { return IsNull() ? TVariant() : TVariant(GetAsFloat()); }
AnsiString TFloatField::GetAsString() const { return IsNull() ? AnsiString() : FloatToText(GetAsFloat()); }
void TFloatField::SetAsStringValue(const AnsiString& v) {
  if (IsBlank(v))
    Clear();
  else
    SetAsFloat(TextToFloat(v));
}
int32_t TFloatField::GetAsInteger() const { return ToInt32(RoundToInt64(GetAsFloat())); }
void TFloatField::SetAsIntegerValue(int32_t v) { SetAsFloat(v); }
int64_t TFloatField::GetAsLargeInt() const { return RoundToInt64(GetAsFloat()); }
void TFloatField::SetAsLargeIntValue(int64_t v) { SetAsFloat(static_cast<double>(v)); }

// --- TBooleanField --------------------------------------------------------------

bool TBooleanField::GetAsBoolean() const {
  bool has = false;
  return ReadNative<int16_t>(*this, has) != 0;
}
void TBooleanField::SetAsBooleanValue(bool v) { WriteNative(*this, static_cast<int16_t>(v ? -1 : 0)); }
TVariant TBooleanField::Value() const { return IsNull() ? TVariant() : TVariant(GetAsBoolean()); }
AnsiString TBooleanField::GetAsString() const { return IsNull() ? AnsiString() : BooleanToText(GetAsBoolean()); }
void TBooleanField::SetAsStringValue(const AnsiString& v) {
  if (IsBlank(v))
    Clear();
  else
    SetAsBoolean(TextToBoolean(v));
}

// --- TDateTimeField, TDateField -------------------------------------------------

TDateTime TDateTimeField::GetAsDateTime() const {
  bool has = false;
  const double ms = ReadNative<double>(*this, has);
  return has ? MSecsToDateTime(ms) : 0;
}
void TDateTimeField::SetAsDateTimeValue(TDateTime v) { WriteNative(*this, DateTimeToMSecs(v)); }
TVariant TDateTimeField::Value() const { return IsNull() ? TVariant() : TVariant::FromDate(GetAsDateTime()); }
AnsiString TDateTimeField::GetAsString() const { return IsNull() ? AnsiString() : DateTimeToText(GetAsDateTime()); }
void TDateTimeField::SetAsStringValue(const AnsiString& v) {
  if (IsBlank(v))
    Clear();
  else
    SetAsDateTime(TextToDateTime(v));
}
double TDateTimeField::GetAsFloat() const { return GetAsDateTime(); }
void TDateTimeField::SetAsFloatValue(double v) { SetAsDateTime(v); }

TDateTime TDateField::GetAsDateTime() const {
  bool has = false;
  const int32_t day = ReadNative<int32_t>(*this, has);
  return has ? DayNumberToDateTime(day) : 0;
}
void TDateField::SetAsDateTimeValue(TDateTime v) { WriteNative(*this, DateTimeToDayNumber(v)); }
AnsiString TDateField::GetAsString() const { return IsNull() ? AnsiString() : DateToText(GetAsDateTime()); }

// --- TBlobField, TMemoField -----------------------------------------------------

AnsiString TBlobField::GetAsString() const {
  if (!DataSet()) DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
  std::unique_ptr<TBlobStream> s = DataSet()->CreateBlobStream(const_cast<TBlobField&>(*this), bmRead);
  AnsiString out(static_cast<size_t>(s->Size()), '\0');
  s->SetPosition(0);
  s->ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
  return out;
}

void TBlobField::SetAsStringValue(const AnsiString& v) {
  if (!DataSet()) DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
  std::unique_ptr<TBlobStream> s = DataSet()->CreateBlobStream(*this, bmWrite);
  s->WriteBuffer(v.data(), static_cast<int64_t>(v.size()));
  s->Commit();
}

void TBlobField::Clear() { SetAsStringValue({}); }

TVariant TBlobField::Value() const { return IsNull() ? TVariant() : TVariant(GetAsString()); }

TMemoField::TMemoField(AnsiString name) : TBlobField(ftMemo, std::move(name)) { SetTransliterate(true); }

std::unique_ptr<TField> CreateFieldOfType(TFieldType type, const AnsiString& name, int size) {
  switch (type) {
    case ftString: return std::make_unique<TStringField>(name, size);
    case ftSmallint: return std::make_unique<TSmallintField>(name);
    case ftInteger: return std::make_unique<TIntegerField>(name);
    case ftLargeint: return std::make_unique<TLargeintField>(name);
    case ftFloat: return std::make_unique<TFloatField>(name);
    case ftCurrency: return std::make_unique<TCurrencyField>(name);
    case ftBoolean: return std::make_unique<TBooleanField>(name);
    case ftDate: return std::make_unique<TDateField>(name);
    case ftDateTime: return std::make_unique<TDateTimeField>(name);
    case ftMemo: return std::make_unique<TMemoField>(name);
    case ftBlob: return std::make_unique<TBlobField>(name);
    case ftUnknown: break;
  }
  return nullptr;
}

// --- TFields --------------------------------------------------------------------

TField* TFields::FindField(const AnsiString& name) const {
  for (const auto& f : list_)
    if (SameName(f->FieldName(), name)) return f.get();
  return nullptr;
}

TField& TFields::FieldByName(const AnsiString& name) const {
  TField* f = FindField(name);
  if (!f) DatabaseErrorFmt(SFieldNotFound, {name});
  return *f;
}

TField& TFields::Add(std::unique_ptr<TField> field) {
  dataSet_.CheckInactive();
  if (FindField(field->FieldName())) DatabaseErrorFmt(SDuplicateFieldName, {field->FieldName()});
  field->AttachTo(&dataSet_);
  list_.push_back(std::move(field));
  return *list_.back();
}

void TFields::Clear() {
  dataSet_.CheckInactive();
  list_.clear();
}

}  // namespace dataaccess
