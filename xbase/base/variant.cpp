#include "xbase/base/variant.h"

#include <cmath>
#include <cstring>

#include "platform/Numbers.h"
#include "xbase/base/dates.h"
#include "xbase/base/errors.h"

namespace xbase {

namespace {

// The first sizeof(T) bytes of a value as T, zeros where it is shorter.
template <class T>
T ReadAs(const uint8_t* p, int size) {
  T v{};
  unsigned char raw[sizeof(T)] = {};
  if (size > 0) std::memcpy(raw, p, static_cast<size_t>(size) < sizeof(T) ? static_cast<size_t>(size) : sizeof(T));
  std::memcpy(&v, raw, sizeof(T));
  return v;
}

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

int CompareBytes(const uint8_t* a, int na, const uint8_t* b, int nb) {
  const int n = na < nb ? na : nb;
  const int c = n > 0 ? std::memcmp(a, b, static_cast<size_t>(n)) : 0;
  if (c != 0) return Sign(c);
  return na < nb ? -1 : na > nb ? 1 : 0;
}

}  // namespace

TxbVariant::TxbVariant(int size) {
  if (size > 0) {
    VarBuf_ = std::make_unique<uint8_t[]>(static_cast<size_t>(size));
    SizeBuf_ = size;
  }
}

TxbVariant::~TxbVariant() = default;

void TxbVariant::Clear() {
  VarBuf_.reset();
  SizeBuf_ = SizeVar_ = 0;
  TypeVar_ = xbvtUnknown;
}

bool TxbVariant::Assign(const TxbVariant* source) {
  Clear();
  if (!source) return false;
  if (source->SizeBuf_ > 0) {
    VarBuf_ = std::make_unique<uint8_t[]>(static_cast<size_t>(source->SizeBuf_));
    SizeBuf_ = source->SizeBuf_;
    if (source->SizeVar_ > 0) std::memcpy(VarBuf_.get(), source->VarBuf_.get(), static_cast<size_t>(source->SizeVar_));
  }
  SizeVar_ = source->SizeVar_;
  TypeVar_ = source->TypeVar_;
  return true;
}

uint8_t* TxbVariant::Reserve(TxbVariantType type, int length, int keep) {
  if (length > SizeBuf_) {
    auto buf = std::make_unique<uint8_t[]>(static_cast<size_t>(length));
    if (keep > 0 && VarBuf_) std::memcpy(buf.get(), VarBuf_.get(), static_cast<size_t>(keep));
    VarBuf_ = std::move(buf);
    SizeBuf_ = length;
  }
  SizeVar_ = length;
  TypeVar_ = type;
  return VarBuf_.get();
}

void TxbVariant::PutString(std::string_view text) {
  uint8_t* p = Reserve(xbvtText, static_cast<int>(text.size()));
  if (!text.empty()) std::memcpy(p, text.data(), text.size());
}

void TxbVariant::PutFloat(double value) { std::memcpy(Reserve(xbvtFloat, 8), &value, 8); }

void TxbVariant::PutDate(int32_t julian) { std::memcpy(Reserve(xbvtDate, 4), &julian, 4); }

void TxbVariant::PutBoolean(bool value) { *Reserve(xbvtBoolean, 1) = value ? 1 : 0; }

void TxbVariant::PutBinary(const void* data, size_t length) {
  uint8_t* p = Reserve(xbvtBinary, static_cast<int>(length));
  if (length) std::memcpy(p, data, length);
}

void TxbVariant::AppendString(std::string_view text) {
  if (text.empty()) return;
  if (TypeVar_ != xbvtText && TypeVar_ != xbvtBinary) XBRaise(xbmVariantAppend);
  const int old = SizeVar_;
  uint8_t* p = Reserve(xbvtText, old + static_cast<int>(text.size()), old);
  std::memcpy(p + old, text.data(), text.size());
}

void TxbVariant::AppendBinary(const void* data, size_t length) {
  if (!data || !length) return;
  const int old = SizeVar_;
  uint8_t* p = Reserve(xbvtBinary, old + static_cast<int>(length), old);
  std::memcpy(p + old, data, length);
}

AnsiString TxbVariant::GetString() const {
  if (IsEmpty()) return {};
  switch (TypeVar_) {
    case xbvtFloat: return platform::FloatToStr(GetFloat());
    case xbvtDate: return xbDBFDate().DTOC(GetDate());
    case xbvtBoolean: return AnsiString(1, GetBoolean() ? xbTrueChars[0] : xbFalseChars[0]);
    default: return AnsiString(reinterpret_cast<const char*>(VarBuf_.get()), static_cast<size_t>(SizeVar_));
  }
}

double TxbVariant::GetFloat() const {
  if (IsEmpty()) return 0;
  switch (TypeVar_) {
    case xbvtText: return platform::StrToFloat(GetString());
    case xbvtDate: return GetDate();
    case xbvtBoolean: return GetBoolean() ? 1.0 : 0.0;
    case xbvtFloat:
    case xbvtBinary: return ReadAs<double>(VarBuf_.get(), SizeVar_);
    default: return 0;
  }
}

int32_t TxbVariant::GetDate() const {
  if (IsEmpty()) return 0;
  switch (TypeVar_) {
    case xbvtText: return xbDBFDate().CTOD(GetString());
    case xbvtFloat: {
      // Only a number that is an existing day reads as a date.
      const double v = std::round(GetFloat());
      if (!(v >= 1 && v <= 2147483647.0)) return 0;
      const TxbDBFDate& d = xbDBFDate();
      return d.CTOD(d.DTOS(static_cast<int32_t>(v)));
    }
    case xbvtDate:
    case xbvtBinary: return ReadAs<int32_t>(VarBuf_.get(), SizeVar_);
    default: return 0;
  }
}

bool TxbVariant::GetBoolean() const {
  if (IsEmpty()) return false;
  switch (TypeVar_) {
    case xbvtText: return xbTrueChars.find(static_cast<char>(VarBuf_[0])) != std::string_view::npos;
    case xbvtFloat: return std::round(GetFloat()) != 0;
    case xbvtBoolean:
    case xbvtBinary: return VarBuf_[0] != 0;
    default: return false;
  }
}

void* TxbVariant::GetBinary(void* buffer, size_t length) const {
  if (IsEmpty()) return nullptr;
  const size_t n = length < static_cast<size_t>(SizeVar_) ? length : static_cast<size_t>(SizeVar_);
  if (n) std::memcpy(buffer, VarBuf_.get(), n);
  return buffer;
}

AnsiString TxbVariant::GetHex() const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  AnsiString out;
  for (int i = 0; i < SizeVar_; ++i) {
    if (i) out += ' ';
    out += kHex[VarBuf_[i] >> 4];
    out += kHex[VarBuf_[i] & 15];
  }
  return out;
}

void TxbVariant::PadL(int len) {
  if (TypeVar_ != xbvtText || len <= SizeVar_) return;
  const int old = SizeVar_;
  uint8_t* p = Reserve(xbvtText, len, old);
  std::memmove(p + (len - old), p, static_cast<size_t>(old));
  std::memset(p, ' ', static_cast<size_t>(len - old));
}

void TxbVariant::PadR(int len) {
  if (TypeVar_ != xbvtText || len <= SizeVar_) return;
  const int old = SizeVar_;
  uint8_t* p = Reserve(xbvtText, len, old);
  std::memset(p + old, ' ', static_cast<size_t>(len - old));
}

void TxbVariant::TrimR() {
  if (TypeVar_ != xbvtText) return;
  while (SizeVar_ > 0 && VarBuf_[SizeVar_ - 1] == ' ') --SizeVar_;
}

void TxbVariant::UpperCase() {
  if (TypeVar_ != xbvtText) return;
  for (int i = 0; i < SizeVar_; ++i) VarBuf_[i] = platform::AnsiUpperChar(VarBuf_[i]);
}

void TxbVariant::LowerCase() {
  if (TypeVar_ != xbvtText) return;
  for (int i = 0; i < SizeVar_; ++i) VarBuf_[i] = platform::AnsiLowerChar(VarBuf_[i]);
}

int TxbVariant::Compare(const TxbVariant* target, int& endPos, int ifPartial,
                        const uint8_t* collate) const {
  return CompareImpl(target, endPos, ifPartial, collate, false);
}

int TxbVariant::CompareBin(const TxbVariant* target, int& endPos, int ifPartial,
                           const uint8_t* collate) const {
  return CompareImpl(target, endPos, ifPartial, collate, true);
}

int TxbVariant::CompareImpl(const TxbVariant* target, int& endPos, int ifPartial,
                            const uint8_t* collate, bool floatAsBytes) const {
  endPos = 0;
  if (TypeVar_ == xbvtUnknown) return !target || target->IsEmpty() ? 0 : -1;
  // A target of no type carries no value: it is empty, not of another type.
  if (!target || target->TypeVar_ == xbvtUnknown) return IsEmpty() && target ? 0 : 1;

  TxbVariantType type = TypeVar_;
  if (type == xbvtBinary) {
    type = target->TypeVar_;
  } else if (target->TypeVar_ != type && target->TypeVar_ != xbvtBinary) {
    XBRaise(xbmVariantCompare);
  }

  // Text is read as padded with blanks, an empty text too: a blank key
  // (stored without its blanks) equals " ", and "" begins every key.
  if (type != xbvtText && (IsEmpty() || target->IsEmpty()))
    return IsEmpty() == target->IsEmpty() ? 0 : IsEmpty() ? -1 : 1;

  const uint8_t* a = VarBuf_.get();
  const uint8_t* b = target->VarBuf_.get();
  const int na = SizeVar_, nb = target->SizeVar_;
  switch (type) {
    case xbvtText: {
      int i = 0;
      if (!collate) {
        // Index keys share long prefixes: pass equal words at a time.
        const int common = na < nb ? na : nb;
        uint64_t x, y;
        while (i + 8 <= common) {
          std::memcpy(&x, a + i, 8);
          std::memcpy(&y, b + i, 8);
          if (x != y) break;
          i += 8;
        }
        endPos = i;
      }
      for (; i < na; ++i) {
        ++endPos;
        unsigned ca = a[i], cb = i < nb ? b[i] : ' ';
        if (collate) ca = collate[ca], cb = collate[cb];
        if (ca != cb) return ca < cb ? -1 : 1;
      }
      ++endPos;
      if (na >= nb) return 0;  // a longer value matched its blanks
      for (int i = na; i < nb; ++i)
        if (b[i] != ' ') return Sign(ifPartial);
      return 0;
    }
    case xbvtFloat: {
      if (floatAsBytes) return CompareBytes(a, na, b, nb);
      const double x = ReadAs<double>(a, na), y = ReadAs<double>(b, nb);
      return x < y ? -1 : x > y ? 1 : 0;
    }
    case xbvtDate: {
      const int32_t x = ReadAs<int32_t>(a, na), y = ReadAs<int32_t>(b, nb);
      return x < y ? -1 : x > y ? 1 : 0;
    }
    case xbvtBoolean: return (a[0] != 0) - (b[0] != 0);
    default: return CompareBytes(a, na, b, nb);
  }
}

}  // namespace xbase
