// The dataset component: field values between the record image and the
// framework's native buffers, and the xBase field methods.
#include <cmath>
#include <cstring>
#include <limits>

#include "xbase/base/dates.h"
#include "xbase/base/errors.h"
#include "xbase/dataset/dataset.h"

namespace xbase {

using namespace dataaccess;

namespace {

// Julian day of 0001-01-01 less one: the framework counts that day as 1.
constexpr int32_t kDayNumberOffset = 1721425;

bool IsEditState(TDataSetState s) { return s == dsEdit || s == dsInsert || s == dsSetKey; }

}  // namespace

// --- Field values --------------------------------------------------------------------

bool TXBaseDataSet::GetFieldData(const TField& Field, void* Buffer) {
  if (!FDBFHandle) return false;
  TRecordBuffer rec = GetActiveRecBuf();
  if (!rec) return false;
  if (Field.FieldNo() < 1) {
    switch (State()) {
      case dsBrowse:
      case dsEdit:
      case dsInsert:
      case dsCalcFields: break;
      default: return false;
    }
    const uint8_t* p = rec + FCalcOfs + Field.Offset();
    if (Buffer && p[0]) std::memcpy(Buffer, p + 1, static_cast<size_t>(Field.DataSize()));
    return p[0] != 0;
  }
  XBO_dBHandler& t = *FDBFHandle;
  TxbRecordPointer at(t, rec);
  const int n = Field.FieldNo();
  switch (Field.DataType()) {
    case ftString: {
      t.xbStringGetNInto(n, FText);
      if (FText.empty()) return false;
      if (Buffer) {
        const size_t len = std::min(FText.size(), static_cast<size_t>(Field.Size()));
        std::memcpy(Buffer, FText.data(), len);
        static_cast<char*>(Buffer)[len] = '\0';
      }
      return true;
    }
    case ftSmallint:
    case ftInteger:
    case ftLargeint: {
      const double v = t.xbNumberGetN(n);
      const double r = std::nearbyint(v);  // halves to the even neighbour
      if (!Buffer) return true;
      if (Field.DataType() == ftLargeint) {
        if (!(r >= -9.2233720368547758e18 && r < 9.2233720368547758e18)) XBRaise(xbmNumericTooBig, {Field.FieldName()});
        const int64_t x = static_cast<int64_t>(r);
        std::memcpy(Buffer, &x, sizeof x);
      } else if (Field.DataType() == ftInteger) {
        // An N field of ten digits holds more than 32 bits.
        if (!(r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max()))
          XBRaise(xbmNumericTooBig, {Field.FieldName()});
        const int32_t x = static_cast<int32_t>(r);
        std::memcpy(Buffer, &x, sizeof x);
      } else {
        if (!(r >= std::numeric_limits<int16_t>::min() && r <= std::numeric_limits<int16_t>::max()))
          XBRaise(xbmNumericTooBig, {Field.FieldName()});
        const int16_t x = static_cast<int16_t>(r);
        std::memcpy(Buffer, &x, sizeof x);
      }
      return true;
    }
    case ftBoolean: {
      const int16_t b = t.xbLogicGetN(n) ? -1 : 0;
      if (Buffer) std::memcpy(Buffer, &b, sizeof b);
      return true;
    }
    case ftFloat:
    case ftCurrency: {
      const double v = t.xbNumberGetN(n);
      if (Buffer) std::memcpy(Buffer, &v, sizeof v);
      return true;
    }
    case ftDate: {
      std::string_view raw = t.xbFieldView(n);
      while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0')) raw.remove_suffix(1);
      if (raw.size() != 8 || raw == "00000000") return false;
      int ymd[3] = {0, 0, 0};
      const int widths[3] = {4, 2, 2};
      size_t at8 = 0;
      for (int part = 0; part < 3; ++part)
        for (int i = 0; i < widths[part]; ++i, ++at8) {
          const char c = raw[at8];
          if (c < '0' || c > '9') XBRaise(xbmInvalidDate, {Field.FieldName()});
          ymd[part] = ymd[part] * 10 + (c - '0');
        }
      const int32_t julian = ymd[0] < 1 ? 0 : xbDBFDate().MDY2Jul(ymd[1], ymd[2], ymd[0]);
      if (julian <= 0) XBRaise(xbmInvalidDate, {Field.FieldName()});
      const int32_t day = julian - kDayNumberOffset;
      if (Buffer) std::memcpy(Buffer, &day, sizeof day);
      return true;
    }
    case ftDateTime: {
      const double v = t.xbNumberGetN(n);
      if (v == 0) return false;
      if (Buffer) std::memcpy(Buffer, &v, sizeof v);
      return true;
    }
    case ftMemo:
    case ftBlob: return t.xbNumberGetN(n) != 0;
    default: return false;
  }
}

bool TXBaseDataSet::StateAllowsWrite() const {
  switch (State()) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsOldValue:
    case dsInternalCalc: return true;
    default: return false;
  }
}

void TXBaseDataSet::SetFieldData(TField& Field, const void* Buffer) {
  if (!FDBFHandle || !StateAllowsWrite()) DatabaseError(SNotEditing);
  if (State() == dsSetKey && Field.FieldNo() >= 1 && FDBFHandle->NumFields() > 0 && !GetIsIndexField(Field))
    DatabaseErrorFmt(SNotIndexField, {Field.DisplayName()});
  TRecordBuffer rec = GetActiveRecBuf();
  if (!rec) DatabaseError(SNotEditing);
  if (Field.FieldNo() < 1) {
    uint8_t* p = rec + FCalcOfs + Field.Offset();
    p[0] = Buffer != nullptr;
    std::memset(p + 1, 0, static_cast<size_t>(Field.DataSize()));
    if (Buffer) std::memcpy(p + 1, Buffer, static_cast<size_t>(Field.DataSize()));
  } else {
    if (State() == dsCalcFields) DatabaseErrorFmt(SFieldReadOnly, {Field.DisplayName()});
    if (Field.ReadOnly() && State() != dsSetKey && State() != dsFilter)
      DatabaseErrorFmt(SFieldReadOnly, {Field.DisplayName()});
    Field.Validate(Buffer);
    XBO_dBHandler& t = *FDBFHandle;
    TxbRecordPointer at(t, rec);
    const int n = Field.FieldNo();
    switch (Field.DataType()) {
      case ftString: t.xbStringPutN(n, Buffer ? static_cast<const char*>(Buffer) : ""); break;
      case ftSmallint: {
        int16_t v = 0;
        if (Buffer) std::memcpy(&v, Buffer, sizeof v);
        t.xbNumberPutN(n, v);
        break;
      }
      case ftInteger: {
        int32_t v = 0;
        if (Buffer) std::memcpy(&v, Buffer, sizeof v);
        t.xbNumberPutN(n, v);
        break;
      }
      case ftLargeint: {
        int64_t v = 0;
        if (Buffer) std::memcpy(&v, Buffer, sizeof v);
        t.xbNumberPutN(n, static_cast<double>(v));
        break;
      }
      case ftFloat:
      case ftCurrency:
      case ftDateTime: {
        double v = 0;
        if (Buffer) std::memcpy(&v, Buffer, sizeof v);
        t.xbNumberPutN(n, v);
        break;
      }
      case ftBoolean: {
        int16_t v = 0;
        if (Buffer) std::memcpy(&v, Buffer, sizeof v);
        t.xbLogicPutN(n, v != 0);
        break;
      }
      case ftDate: {
        int32_t day = 0;
        if (Buffer) std::memcpy(&day, Buffer, sizeof day);
        t.xbFieldPutN(n, Buffer ? xbDBFDate().DTOS(day + kDayNumberOffset) : AnsiString(8, ' '));
        break;
      }
      default: break;
    }
  }
  switch (State()) {
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsOldValue: break;
    default: DataEvent(deFieldChange, &Field);
  }
}

// --- xBase field methods ---------------------------------------------------------------

// Runs `op` on the table pointed at the buffer of the current state.
template <class F>
auto TXBaseDataSet::OnStateRecord(F op) {
  CheckActive();
  TRecordBuffer rec = GetActiveRecBuf();
  if (!rec) DatabaseError(SDataSetEmpty);
  TxbRecordPointer at(*FDBFHandle, rec);
  return op(*FDBFHandle);
}

void TXBaseDataSet::CheckEditState() {
  if (!IsEditState(State())) DataSetError(xbmNotEditing);
}

AnsiString TXBaseDataSet::FieldGet(const AnsiString& name) {
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbFieldGet(name); });
}
AnsiString TXBaseDataSet::FieldGetN(int n) {
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbFieldGetN(n); });
}
bool TXBaseDataSet::FieldPut(const AnsiString& name, const AnsiString& s) {
  CheckEditState();
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbFieldPut(name, s); });
}
bool TXBaseDataSet::FieldPutN(int n, const AnsiString& s) {
  CheckEditState();
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbFieldPutN(n, s); });
}
AnsiString TXBaseDataSet::StringGet(const AnsiString& name) {
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbStringGet(name); });
}
AnsiString TXBaseDataSet::StringGetN(int n) {
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbStringGetN(n); });
}
bool TXBaseDataSet::StringPut(const AnsiString& name, const AnsiString& s) {
  CheckEditState();
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbStringPut(name, s); });
}
bool TXBaseDataSet::StringPutN(int n, const AnsiString& s) {
  CheckEditState();
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbStringPutN(n, s); });
}
int32_t TXBaseDataSet::DateGet(const AnsiString& name) {
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbDateGet(name); });
}
int32_t TXBaseDataSet::DateGetN(int n) {
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbDateGetN(n); });
}
bool TXBaseDataSet::DatePut(const AnsiString& name, int32_t d) {
  CheckEditState();
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbDatePut(name, d); });
}
bool TXBaseDataSet::DatePutN(int n, int32_t d) {
  CheckEditState();
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbDatePutN(n, d); });
}
bool TXBaseDataSet::LogicGet(const AnsiString& name) {
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbLogicGet(name); });
}
bool TXBaseDataSet::LogicGetN(int n) {
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbLogicGetN(n); });
}
bool TXBaseDataSet::LogicPut(const AnsiString& name, bool b) {
  CheckEditState();
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbLogicPut(name, b); });
}
bool TXBaseDataSet::LogicPutN(int n, bool b) {
  CheckEditState();
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbLogicPutN(n, b); });
}
double TXBaseDataSet::FloatGet(const AnsiString& name) {
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbNumberGet(name); });
}
double TXBaseDataSet::FloatGetN(int n) {
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbNumberGetN(n); });
}
bool TXBaseDataSet::FloatPut(const AnsiString& name, double v) {
  CheckEditState();
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbNumberPut(name, v); });
}
bool TXBaseDataSet::FloatPutN(int n, double v) {
  CheckEditState();
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbNumberPutN(n, v); });
}
int64_t TXBaseDataSet::IntegerGet(const AnsiString& name) { return RoundToInt64(FloatGet(name)); }
int64_t TXBaseDataSet::IntegerGetN(int n) { return RoundToInt64(FloatGetN(n)); }
bool TXBaseDataSet::IntegerPut(const AnsiString& name, int64_t v) { return FloatPut(name, static_cast<double>(v)); }
bool TXBaseDataSet::IntegerPutN(int n, int64_t v) { return FloatPutN(n, static_cast<double>(v)); }
int64_t TXBaseDataSet::MemoSize(const AnsiString& name) {
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbMemoSize(name); });
}
int64_t TXBaseDataSet::MemoSizeN(int n) {
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbMemoSizeN(n); });
}
void TXBaseDataSet::MemoLoad(const AnsiString& name, void* buffer, int64_t& size) {
  OnStateRecord([&](XBO_dBHandler& t) { t.xbMemoLoad(name, buffer, size); });
}
void TXBaseDataSet::MemoLoadN(int n, void* buffer, int64_t& size) {
  OnStateRecord([&](XBO_dBHandler& t) { t.xbMemoLoadN(n, buffer, size); });
}
int64_t TXBaseDataSet::MemoSave(const AnsiString& name, const void* buffer, int64_t size) {
  if (!IsEditState(State())) return 0;
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbMemoSave(name, buffer, size); });
}
int64_t TXBaseDataSet::MemoSaveN(int n, const void* buffer, int64_t size) {
  if (!IsEditState(State())) return 0;
  return OnStateRecord([&](XBO_dBHandler& t) { return t.xbMemoSaveN(n, buffer, size); });
}

}  // namespace xbase
