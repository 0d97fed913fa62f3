#include "xbase/table/fields.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "platform/Numbers.h"
#include "xbase/base/byte_order.h"
#include "xbase/base/dates.h"
#include "xbase/base/errors.h"
#include "xbase/base/variant.h"
#include "xbase/table/field_names.h"
#include "xbase/table/memo_files.h"

namespace xbase {

namespace {

// Room for any double in fixed notation with up to 255 decimals.
constexpr size_t kNumberRoom = 640;
// Julian day of 0001-01-01 minus one: day 1 of the date-time count.
constexpr int32_t kDateTimeDay0 = 1721425;
constexpr double kMsPerDay = 86400000.0;
constexpr int32_t kFirstDay = 1721426, kLastDay = 5373484;  // 0001-01-01, 9999-12-31

bool IsPad(char c) { return c == ' ' || c == '\0'; }

std::string_view TrimRight(std::string_view s) {
  // A text field is mostly padding: whole words of blanks and NULs (the
  // bytes whose bits outside 0x20 are clear) go at a time.
  constexpr uint64_t kNotPad = 0xDFDFDFDFDFDFDFDFull;
  size_t n = s.size();
  uint64_t word;
  while (n >= 8) {
    std::memcpy(&word, s.data() + n - 8, 8);
    if ((word & kNotPad) != 0) break;
    n -= 8;
  }
  while (n > 0 && IsPad(s[n - 1])) --n;
  return s.substr(0, n);
}

std::string_view Trim(std::string_view s) {
  s = TrimRight(s);
  while (!s.empty() && IsPad(s.front())) s.remove_prefix(1);
  return s;
}

// `v` in fixed notation with `dec` decimals into `buf` (kNumberRoom bytes);
// its length, 0 when `v` is not finite. A value that rounds to zero has no
// minus sign.
size_t FormatFixed(double v, int dec, char* buf) {
  if (!std::isfinite(v)) return 0;
  const auto r = std::to_chars(buf, buf + kNumberRoom, v, std::chars_format::fixed, dec);
  if (r.ec != std::errc()) return 0;
  size_t len = static_cast<size_t>(r.ptr - buf);
  if (buf[0] == '-' && std::string_view(buf + 1, len - 1).find_first_of("123456789") == std::string_view::npos) {
    std::memmove(buf, buf + 1, --len);
  }
  return len;
}

// A plain decimal text ([+|-]digits[.digits]) with at most `dec` decimals
// written as the field stores it, digit for digit: a number too long for a
// double (an N 20 of 19 digits) keeps every digit. False for any other text
// (exponents, more decimals than the field has), which goes through a double.
bool ExactDecimal(std::string_view text, int dec, char* buf, size_t& len) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  const size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  const std::string_view frac = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (whole.empty() && frac.empty()) return false;
  for (std::string_view part : {whole, frac})
    for (char c : part)
      if (c < '0' || c > '9') return false;
  if (static_cast<int>(frac.size()) > dec || whole.size() + static_cast<size_t>(dec) + 3 > kNumberRoom) return false;
  while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
  const bool zero = whole.find_first_not_of('0') == std::string_view::npos &&
                    frac.find_first_not_of('0') == std::string_view::npos;
  len = 0;
  if (negative && !zero) buf[len++] = '-';
  if (whole.empty()) buf[len++] = '0';
  for (char c : whole) buf[len++] = c;
  if (dec > 0) {
    buf[len++] = '.';
    for (int i = 0; i < dec; ++i) buf[len++] = i < static_cast<int>(frac.size()) ? frac[static_cast<size_t>(i)] : '0';
  }
  return true;
}

// The width a Visual FoxPro binary field of `type` has.
int BinaryWidth(char type) {
  switch (type) {
    case 'I': case 'G': case 'M': return 4;
    case 'B': case 'T': case 'Y': return 8;
    default: return 0;
  }
}

bool LogicOf(std::string_view raw) { return !raw.empty() && xbTrueChars.find(raw[0]) != std::string_view::npos; }

void AppendTwoDigits(AnsiString& out, int64_t v) {
  out += static_cast<char>('0' + v / 10 % 10);
  out += static_cast<char>('0' + v % 10);
}

}  // namespace

AnsiString TxbDBFFields::FieldDescriptor() const {
  const bool text = FFieldType == 'C';
  const int length = text ? FFieldLen + 256 * FFieldDec : FFieldLen;
  return FFieldName + ';' + FFieldType + ';' + std::to_string(length) + ';' + std::to_string(text ? 0 : FFieldDec);
}

// --- Open ---

XBO_dBaseFld::XBO_dBaseFld(const std::string& fname, const AnsiString& password, bool readWrite, bool shared)
    : XBO_dBaseDBF(fname, password, readWrite, shared),
      DBFExpLink_(std::make_unique<TxbExpUserLink>()),
      vfp_(FileVers() == 0x30) {
  xbRegisterTableFunctions(*this, *DBFExpLink_);
  // Fields are also known as ALIAS.NAME; an alias that would split into
  // several names cannot qualify them.
  const AnsiString& alias = dAlias();
  const bool qualify = !alias.empty() && alias.find(';') == AnsiString::npos;
  fieldList_.reserve(static_cast<size_t>(NumFields()));
  upperNames_.reserve(static_cast<size_t>(NumFields()));
  for (int n = 1; n <= NumFields(); ++n) {
    const XBR_DBFField& f = Fields(n - 1);
    const AnsiString name = f.Name();
    upperNames_.push_back(platform::AnsiUpperCase(name));
    TxbDBFFields item{this, name, f.dbFieldLgth, f.dbFieldDec, f.dbFieldType, n, static_cast<int>(f.dbFieldOffset),
                      nullptr};
    AnsiString names = name;
    if (qualify) names += ';' + alias + '.' + name;
    auto var = xbMakeFieldVar(*this, n, names);
    // A damaged table may name two fields alike: the first keeps the name.
    const std::string_view key = Trim(upperNames_.back());
    if (!key.empty() && name.find(';') == AnsiString::npos && !DBFExpLink_->UserFieldVarRegistry().Find(key))
      item.FFieldVar = var.get();
    DBFExpLink_->RegisterFieldVar(std::move(var));
    fieldList_.push_back(std::move(item));
  }
  xbClearFldChanged();
  xbDBFEvent(dbTableChange, 0);
}

XBO_dBaseFld::~XBO_dBaseFld() = default;

void XBO_dBaseFld::xbGetRec(int RecNum) {
  XBO_dBaseDBF::xbGetRec(RecNum);
  xbClearFldChanged();
}

// --- Finding fields ---

int XBO_dBaseFld::xbFieldNo(std::string_view name) const {
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  for (size_t i = 0; i < upperNames_.size(); ++i) {
    const AnsiString& up = upperNames_[i];
    if (up.size() != name.size()) continue;
    size_t k = 0;
    while (k < name.size() && platform::AnsiUpperChar(static_cast<unsigned char>(name[k])) ==
                                  static_cast<unsigned char>(up[k]))
      ++k;
    if (k == name.size()) return static_cast<int>(i) + 1;
  }
  return 0;
}

void XBO_dBaseFld::RaiseNoField(std::string_view name) const {
  XBRaise(xbmNoSuchField, {AnsiString(name) + "->" + FileName()});
}

void XBO_dBaseFld::RaiseWrongType(const XBR_DBFField& f) const { XBRaise(xbmFieldIncorrectType, {f.Name()}); }

const XBR_DBFField& XBO_dBaseFld::xbAnalyzeField(std::string_view name) const {
  const XBR_DBFField* f = FieldN(xbFieldNo(name));
  if (!f) RaiseNoField(name);
  return *f;
}

const XBR_DBFField& XBO_dBaseFld::xbCheckField(std::string_view name, char typ) const {
  const XBR_DBFField& f = xbAnalyzeField(name);
  const char t = f.dbFieldType;
  const bool ok = t == typ || (typ == 'G' && (t == 'B' || t == 'M')) ||
                  (typ == 'N' && std::string_view("BFGIM").find(t) != std::string_view::npos);
  if (!ok) RaiseWrongType(f);
  return f;
}

// --- Descriptors ---

int XBO_dBaseFld::xbFieldDecimals(int n) const { return FieldN(n) ? FieldN(n)->Decimals() : 0; }
int XBO_dBaseFld::xbFieldLength(int n) const { return FieldN(n) ? FieldN(n)->Length() : 0; }
int XBO_dBaseFld::xbFieldOffset(int n) const { return FieldN(n) ? static_cast<int>(FieldN(n)->dbFieldOffset) : 0; }
AnsiString XBO_dBaseFld::xbFieldName(int n) const { return FieldN(n) ? FieldN(n)->Name() : AnsiString(); }
char XBO_dBaseFld::xbFieldType(int n) const { return FieldN(n) ? FieldN(n)->dbFieldType : '\0'; }

bool XBO_dBaseFld::VfpBinary(const XBR_DBFField& f) const {
  // A field whose width is not its binary width (another writer's text
  // memo field, say) is read as text; so is a type with no binary form,
  // whose width 0 would otherwise pass for it and be written as a number.
  const int width = BinaryWidth(f.dbFieldType);
  return vfp_ && width != 0 && width == f.Length();
}

// --- Raw bytes ---

std::string_view XBO_dBaseFld::xbFieldView(int n) const {
  const XBR_DBFField* f = FieldN(n);
  if (!f) return {};
  return {reinterpret_cast<const char*>(FieldBytes(*f)), static_cast<size_t>(f->Length())};
}

AnsiString XBO_dBaseFld::xbFieldGetN(int n) const { return AnsiString(xbFieldView(n)); }
AnsiString XBO_dBaseFld::xbFieldGet(std::string_view name) const {
  return xbFieldGetN(xbAnalyzeField(name).dbFieldNum);
}

void XBO_dBaseFld::Changed(const XBR_DBFField& f) {
  CurRecChg()[f.dbFieldNum] = 1;
  SetRecModified(true);
}

void XBO_dBaseFld::Push(const XBR_DBFField& f, std::string_view s) {
  uint8_t* at = FieldBytes(f);
  const size_t len = static_cast<size_t>(f.Length());
  const size_t n = std::min(len, s.size());
  const char t = f.dbFieldType;
  const bool left = t == 'C' || t == 'D' || t == 'L';
  std::memset(at, ' ', len);
  if (n) std::memcpy(at + (left ? 0 : len - n), s.data(), n);
  Changed(f);
}

bool XBO_dBaseFld::xbFieldPutN(int n, std::string_view s) {
  const XBR_DBFField* f = FieldN(n);
  if (!f) return false;
  Push(*f, s);
  return true;
}

bool XBO_dBaseFld::xbFieldPut(std::string_view name, std::string_view s) {
  return xbFieldPutN(xbAnalyzeField(name).dbFieldNum, s);
}

// --- Numbers ---

double XBO_dBaseFld::NumberOf(const XBR_DBFField& f, const uint8_t* record) {
  const uint8_t* p = record ? record + f.dbFieldOffset : FieldBytes(f);
  const std::string_view raw(reinterpret_cast<const char*>(p), static_cast<size_t>(f.Length()));
  const char t = f.dbFieldType;
  if (VfpBinary(f)) {
    if (raw.find_first_not_of(' ') == std::string_view::npos) return 0;
    switch (t) {
      case 'B': return GetLEDouble(p);
      case 'Y': return static_cast<double>(static_cast<int64_t>(GetLE64(p))) / 10000.0;
      case 'T': {
        const int32_t day = static_cast<int32_t>(GetLE32(p)), ms = static_cast<int32_t>(GetLE32(p + 4));
        return day == 0 && ms == 0 ? 0.0 : (static_cast<double>(day) - kDateTimeDay0) * kMsPerDay + ms;
      }
      default: return static_cast<int32_t>(GetLE32(p));  // I, G, M
    }
  }
  if (t == 'C' || t == 'D' || t == 'L') RaiseWrongType(f);
  const std::string_view text = Trim(raw);
  if (text.empty()) return 0;
  double v = 0;
  if (!platform::TryStrToFloat(text, v))
    XBRaise(xbmInvalidNumeric, {dAlias() + "->" + f.Name() + " (" +
                                AnsiString(text) + ")"});
  return v;
}

double XBO_dBaseFld::xbNumberGetN(int n) {
  const XBR_DBFField* f = FieldN(n);
  return f ? NumberOf(*f) : 0.0;
}

double XBO_dBaseFld::xbNumberGet(std::string_view name) { return NumberOf(xbAnalyzeField(name)); }

void XBO_dBaseFld::PutNumberText(const XBR_DBFField& f, std::string_view text) {
  if (text.size() > static_cast<size_t>(f.Length())) XBRaise(xbmNumericTooBig, {f.Name() + " - " + AnsiString(text)});
  Push(f, text);
}

void XBO_dBaseFld::PutBinary(const XBR_DBFField& f, double v) {
  const auto tooBig = [&] { XBRaise(xbmNumericTooBig, {f.Name() + " - " + platform::FloatToStr(v)}); };
  if (!std::isfinite(v)) tooBig();
  uint8_t* p = FieldBytes(f);
  switch (f.dbFieldType) {
    case 'B': PutLEDouble(p, v); break;
    case 'Y': {
      const double r = std::nearbyint(v * 10000.0);
      if (!(std::fabs(r) < 0x1p63)) tooBig();
      PutLE64(p, static_cast<uint64_t>(static_cast<int64_t>(r)));
      break;
    }
    case 'T': {
      const double total = std::nearbyint(v);
      if (!(std::fabs(total) < 0x1p62)) tooBig();
      int64_t ms = static_cast<int64_t>(total), days = 0;
      if (ms != 0) {
        days = ms / 86400000;
        ms %= 86400000;
        if (ms < 0) {
          ms += 86400000;
          --days;
        }
        days += kDateTimeDay0;
        if (days < INT32_MIN || days > INT32_MAX) tooBig();
      }
      PutLE32(p, static_cast<uint32_t>(static_cast<int32_t>(days)));
      PutLE32(p + 4, static_cast<uint32_t>(ms));
      break;
    }
    default: {  // I, G, M
      const double r = std::nearbyint(v);
      if (r < INT32_MIN || r > INT32_MAX) tooBig();
      PutLE32(p, static_cast<uint32_t>(static_cast<int32_t>(r)));
    }
  }
  Changed(f);
}

bool XBO_dBaseFld::xbNumberPutN(int n, double v) {
  const XBR_DBFField* f = FieldN(n);
  if (!f) return false;
  if (VfpBinary(*f)) {
    PutBinary(*f, v);
    return true;
  }
  const char t = f->dbFieldType;
  if (!(t == 'B' || t == 'F' || t == 'G' || t == 'M' || t == 'N')) RaiseWrongType(*f);
  char buf[kNumberRoom];
  const size_t len = FormatFixed(v, f->Decimals(), buf);
  if (len == 0) XBRaise(xbmNumericTooBig, {f->Name() + " - " + platform::FloatToStr(v)});
  PutNumberText(*f, {buf, len});
  return true;
}

bool XBO_dBaseFld::xbNumberPut(std::string_view name, double v) {
  return xbNumberPutN(xbAnalyzeField(name).dbFieldNum, v);
}

// --- Dates ---

int32_t XBO_dBaseFld::xbDateGetN(int n) {
  const XBR_DBFField* f = FieldN(n);
  if (!f) return 0;
  const uint8_t* p = FieldBytes(*f);
  const std::string_view raw(reinterpret_cast<const char*>(p), static_cast<size_t>(f->Length()));
  if (VfpBinary(*f) && f->dbFieldType == 'T')
    return raw.find_first_not_of(' ') == std::string_view::npos ? 0 : static_cast<int32_t>(GetLE32(p));
  if (Trim(raw).empty()) return 0;
  try {
    return xbDBFDate().CTOD(raw);
  } catch (const platform::EConvertError&) {
    XBRaise(xbmInvalidDate, {f->Name()});
  }
}

int32_t XBO_dBaseFld::xbDateGet(std::string_view name) { return xbDateGetN(xbCheckField(name, 'D').dbFieldNum); }

bool XBO_dBaseFld::xbDatePutN(int n, int32_t d) {
  const XBR_DBFField* f = FieldN(n);
  if (!f || f->dbFieldType != 'D') return false;
  if (d < 0 || (d > 0 && (d < kFirstDay || d > kLastDay))) XBRaise(xbmInvalidFieldValue, {"Date", f->Name()});
  Push(*f, xbDBFDate().DTOS(d));
  return true;
}

bool XBO_dBaseFld::xbDatePut(std::string_view name, int32_t d) {
  return xbDatePutN(xbAnalyzeField(name).dbFieldNum, d);
}

// --- Logicals ---

bool XBO_dBaseFld::xbLogicGetN(int n) { return LogicOf(xbFieldView(n)); }
bool XBO_dBaseFld::xbLogicGet(std::string_view name) { return xbLogicGetN(xbAnalyzeField(name).dbFieldNum); }

bool XBO_dBaseFld::xbLogicPutN(int n, bool b) {
  const XBR_DBFField* f = FieldN(n);
  if (!f) return false;
  if (f->dbFieldType != 'L') XBRaise(xbmInvalidFieldValue, {"Logical", f->Name()});
  Push(*f, b ? "T" : "F");
  return true;
}

bool XBO_dBaseFld::xbLogicPut(std::string_view name, bool b) {
  return xbLogicPutN(xbAnalyzeField(name).dbFieldNum, b);
}

// --- Memos ---

XBobjMemo* XBO_dBaseFld::xbMemoFieldCheck(int n) {
  const XBR_DBFField* f = FieldN(n);
  if (!f) return nullptr;
  const char t = f->dbFieldType;
  if (t != 'B' && t != 'G' && t != 'M') return nullptr;
  if (t == 'B' && VfpBinary(*f)) return nullptr;  // a number, not a memo
  return xbMemoObject();
}

int64_t XBO_dBaseFld::MemoBlock(const XBR_DBFField& f, XBobjMemo& memo, const uint8_t* record) {
  const double v = NumberOf(f, record);
  if (!(v >= 0 && v < 0x1p53)) XBRaise(xbmBadMemoRecord, {memo.FileName()});
  return static_cast<int64_t>(v);
}

void XBO_dBaseFld::RecordReplaced(const uint8_t* was) noexcept {
  if (FileVers() != 0x8B) return;  // only dBase IV memo files take blocks back
  std::vector<const XBR_DBFField*> replaced;
  for (int i = 0; i < NumFields(); ++i) {
    const XBR_DBFField& f = Fields(i);
    if ((f.dbFieldType == 'B' || f.dbFieldType == 'G' || f.dbFieldType == 'M') &&
        std::memcmp(was + f.dbFieldOffset, FieldBytes(f), static_cast<size_t>(f.Length())) != 0)
      replaced.push_back(&f);
  }
  if (replaced.empty()) return;
  // What could not be given back stays taken, named by nothing, until a
  // pack writes the memo file anew; the record is written all the same.
  try {
    XBobjMemo* memo = xbMemoObject();
    if (!memo) return;
    std::vector<int64_t> named;  // a memo moved to another field stays
    for (const XBR_DBFField* f : replaced) named.push_back(MemoBlock(*f, *memo));
    for (const XBR_DBFField* f : replaced) {
      try {
        const int64_t old = MemoBlock(*f, *memo, was);
        if (old > 0 && std::find(named.begin(), named.end(), old) == named.end()) memo->moMemoBlockRelease(old);
      } catch (...) {
      }
    }
  } catch (...) {
  }
}

int64_t XBO_dBaseFld::HighestMemoBlockNamed(int64_t limit) {
  std::vector<const XBR_DBFField*> memoFields;
  for (int i = 0; i < NumFields(); ++i) {
    const XBR_DBFField& f = Fields(i);
    const char t = f.dbFieldType;
    if ((t == 'B' && !VfpBinary(f)) || t == 'G' || t == 'M') memoFields.push_back(&f);
  }
  // Every record the file holds, those past the header's count too (an
  // append cut short, or another program's): each may name a block.
  const int64_t records = std::min<int64_t>((xbFileSize() - HeadLen()) / RecLen(), INT_MAX);
  if (memoFields.empty() || records <= 0) return 0;
  const int per = std::max(1, (1 << 20) / RecLen());
  std::vector<uint8_t> chunk(static_cast<size_t>(per) * static_cast<size_t>(RecLen()));
  int64_t highest = 0;
  for (int64_t first = 1; first <= records; first += per) {
    const int count = static_cast<int>(std::min<int64_t>(per, records - first + 1));
    if (!ReadRecordsInto(static_cast<int>(first), count, chunk.data())) break;
    for (int i = 0; i < count; ++i) {
      const uint8_t* record = chunk.data() + static_cast<size_t>(i) * static_cast<size_t>(RecLen());
      for (const XBR_DBFField* f : memoFields) {
        double v = 0;
        try {
          v = NumberOf(*f, record);
        } catch (const EXBaseError&) {
          continue;  // no number: no block anyone reads
        }
        if (v >= 1 && v <= static_cast<double>(limit)) highest = std::max(highest, static_cast<int64_t>(v));
      }
    }
  }
  return highest;
}

int XBO_dBaseFld::xbMemoFieldNumber(std::string_view name) {
  const XBR_DBFField& f = xbCheckField(name, 'G');
  xbMemoObject();
  return f.dbFieldNum;
}

int64_t XBO_dBaseFld::xbMemoSizeN(int n) {
  XBobjMemo* memo = xbMemoFieldCheck(n);
  return memo ? memo->moMemoSize(MemoBlock(*FieldN(n), *memo)) : 0;
}

int64_t XBO_dBaseFld::xbMemoSize(std::string_view name) { return xbMemoSizeN(xbAnalyzeField(name).dbFieldNum); }

void XBO_dBaseFld::xbMemoLoadN(int n, void* buffer, int64_t& size) {
  XBobjMemo* memo = xbMemoFieldCheck(n);
  size = memo ? memo->moMemoRead(buffer, MemoBlock(*FieldN(n), *memo), size) : 0;
}

void XBO_dBaseFld::xbMemoLoad(std::string_view name, void* buffer, int64_t& size) {
  xbMemoLoadN(xbAnalyzeField(name).dbFieldNum, buffer, size);
}

int64_t XBO_dBaseFld::xbMemoSaveN(int n, const void* buffer, int64_t size) {
  const XBR_DBFField* f = FieldN(n);
  if (!f) return 0;
  XBobjMemo* memo = xbMemoFieldCheck(n);
  if (!memo) RaiseWrongType(*f);  // a memo written nowhere would be lost
  int64_t blk = MemoBlock(*f, *memo);
  memo->moMemoWrite(buffer, blk, size);
  // No memo is a blank field: other readers take a 0 for block 0 and read
  // the memo file's header as the memo.
  if (size == 0 && !VfpBinary(*f)) Push(*f, {});
  else xbNumberPutN(n, size == 0 ? 0.0 : static_cast<double>(blk));
  return size;
}

int64_t XBO_dBaseFld::xbMemoSave(std::string_view name, const void* buffer, int64_t size) {
  return xbMemoSaveN(xbAnalyzeField(name).dbFieldNum, buffer, size);
}

// --- Text ---

void XBO_dBaseFld::xbStringGetNInto(int n, AnsiString& out) {
  out.clear();
  const XBR_DBFField* f = FieldN(n);
  if (!f) return;
  const std::string_view raw = xbFieldView(n);
  const char t = f->dbFieldType;
  const auto memoText = [&] {
    XBobjMemo* memo = xbMemoFieldCheck(n);
    if (!memo) return;
    const int64_t blk = MemoBlock(*f, *memo);
    out.resize(static_cast<size_t>(memo->moMemoSize(blk)));
    out.resize(static_cast<size_t>(memo->moMemoRead(out.data(), blk, static_cast<int64_t>(out.size()))));
  };
  const auto binaryMark = [&](const char* yes, const char* no) {
    const std::string_view block = Trim(raw);
    double v = 0;
    const bool has = VfpBinary(*f) ? NumberOf(*f) > 0
                     : platform::TryStrToFloat(block, v) ? v > 0
                                                         : block > std::string_view("0");
    out = has ? yes : no;
  };
  if (VfpBinary(*f)) {
    char buf[kNumberRoom];
    const double v = NumberOf(*f);
    switch (t) {
      case 'M': memoText(); return;
      case 'G': binaryMark("-GENERAL--", "-general--"); return;
      case 'B': out = platform::FloatToStr(v); return;
      case 'Y': out.assign(buf, FormatFixed(v, 4, buf)); return;
      case 'I': out.assign(buf, static_cast<size_t>(std::to_chars(buf, buf + 16, static_cast<int32_t>(v)).ptr - buf));
        return;
      case 'T': {
        if (v == 0) return;
        const int32_t day = xbDateGetN(n);
        const int64_t ms = static_cast<int64_t>(GetLE32(FieldBytes(*f) + 4));
        out = TrimRight(xbDBFDate().DTOC(day));
        out += ' ';
        AppendTwoDigits(out, ms / 3600000);
        out += ':';
        AppendTwoDigits(out, ms / 60000 % 60);
        out += ':';
        AppendTwoDigits(out, ms / 1000 % 60);
        return;
      }
    }
  }
  switch (t) {
    case 'N':
    case 'F': {
      const std::string_view s = Trim(raw);
      if (s.empty()) out = '0';
      else out.assign(s);
      return;
    }
    case 'D': out = TrimRight(xbDBFDate().DTOC(xbDateGetN(n))); return;
    case 'L': out = LogicOf(raw) ? 'T' : 'F'; return;
    case 'M': memoText(); return;
    case 'B': binaryMark("--BINARY--", "--binary--"); return;
    case 'G': binaryMark("-GENERAL--", "-general--"); return;
    default: out.assign(TrimRight(raw));
  }
}

AnsiString XBO_dBaseFld::xbStringGetN(int n) {
  AnsiString s;
  xbStringGetNInto(n, s);
  return s;
}

AnsiString XBO_dBaseFld::xbStringGet(std::string_view name) { return xbStringGetN(xbAnalyzeField(name).dbFieldNum); }

bool XBO_dBaseFld::xbStringPutN(int n, std::string_view s) {
  const XBR_DBFField* f = FieldN(n);
  if (!f) return false;
  const char t = f->dbFieldType;
  const std::string_view text = Trim(s);
  const auto number = [&] {
    double v = 0;
    if (!text.empty() && !platform::TryStrToFloat(text, v))
      XBRaise(xbmInvalidNumeric, {dAlias() + "->" + f->Name() + " (" +
                                  AnsiString(text) + ")"});
    return v;
  };
  const auto date = [&](std::string_view d) {
    int32_t day = 0;
    try {
      day = xbDBFDate().CTOD(d);
    } catch (const platform::EConvertError&) {
      XBRaise(xbmInvalidFieldValue, {"Date", f->Name()});
    }
    // An impossible "yyyymmdd" reads as no date; storing it so would lose it.
    if (day == 0 && d.size() == 8 && d != "00000000" && d.find_first_not_of("0123456789") == std::string_view::npos)
      XBRaise(xbmInvalidFieldValue, {"Date", f->Name()});
    return day;
  };
  if (VfpBinary(*f)) {
    switch (t) {
      case 'M': xbMemoSaveN(n, s.data(), static_cast<int64_t>(s.size())); return true;
      case 'T': {
        // "date[ hh:mm[:ss]]", as the text get gives it.
        const size_t blank = text.find(' ');
        const int32_t day = date(text.substr(0, blank));
        int64_t ms = 0;
        if (blank != std::string_view::npos) {
          std::string_view time = Trim(text.substr(blank));
          for (int64_t unit : {3600000, 60000, 1000}) {
            int64_t part = 0;
            const size_t digits = platform::ScanDigits(time, part);
            if (digits == 0 && !time.empty()) XBRaise(xbmInvalidFieldValue, {"Date", f->Name()});
            ms += part * unit;
            time.remove_prefix(std::min(time.size(), digits + 1));
          }
        }
        PutBinary(*f, day == 0 ? 0.0 : (static_cast<double>(day) - kDateTimeDay0) * kMsPerDay + static_cast<double>(ms));
        return true;
      }
      default: PutBinary(*f, number()); return true;  // I, B, Y, G
    }
  }
  switch (t) {
    case 'C': Push(*f, s); return true;
    case 'N':
    case 'F': {
      char buf[kNumberRoom];
      size_t len = 0;
      if (ExactDecimal(text, f->Decimals(), buf, len)) {
        PutNumberText(*f, {buf, len});
        return true;
      }
      return xbNumberPutN(n, number());
    }
    case 'D': return xbDatePutN(n, date(text));
    case 'L': {
      bool b = false;
      if (!text.empty()) {
        const char c = text[0];
        if (xbTrueChars.find(c) != std::string_view::npos) b = true;
        else if (xbFalseChars.find(c) != std::string_view::npos) b = false;
        else {
          double v = 0;
          if (!platform::TryStrToFloat(text, v)) XBRaise(xbmInvalidFieldValue, {"Logical", f->Name()});
          b = v != 0;
        }
      }
      Push(*f, b ? "T" : "F");
      return true;
    }
    case 'M': xbMemoSaveN(n, s.data(), static_cast<int64_t>(s.size())); return true;
    default: Push(*f, s); return true;  // B, G: the block number's text; others as they are
  }
}

bool XBO_dBaseFld::xbStringPut(std::string_view name, std::string_view s) {
  return xbStringPutN(xbAnalyzeField(name).dbFieldNum, s);
}

// --- Whole record ---

void XBO_dBaseFld::xbBlank() {
  uint8_t* rec = CurRecord();
  std::memset(rec, ' ', static_cast<size_t>(RecLen()));
  char buf[kNumberRoom];
  for (int n = 1; n <= NumFields(); ++n) {
    const XBR_DBFField& f = Fields(n - 1);
    if (VfpBinary(f)) {
      std::memset(FieldBytes(f), 0, static_cast<size_t>(f.Length()));  // 0 in every binary form
    } else if (f.dbFieldType == 'N' || f.dbFieldType == 'F') {
      // A field too narrow for its own decimals keeps a bare "0".
      size_t len = FormatFixed(0.0, f.Decimals(), buf);
      if (len > static_cast<size_t>(f.Length())) len = 1;
      Push(f, {buf, len});
    }
  }
  std::fill(CurRecChg().begin(), CurRecChg().end(), uint8_t{1});
  SetRecModified(true);
  xbDBFEvent(dbRecordChange, 0);
}

void XBO_dBaseFld::WriteDeletionFlag(uint8_t flag) {
  uint8_t* rec = CurRecord();
  if (rec[0] == flag) return;
  const uint8_t was = rec[0];
  rec[0] = flag;
  CurRecChg()[0] = 1;
  SetRecModified(true);
  try {
    xbPutRec(RecNumber());
  } catch (...) {
    rec[0] = was;  // not written: the buffer must not claim otherwise
    throw;
  }
}

void XBO_dBaseFld::xbDeleteRec() { WriteDeletionFlag('*'); }
void XBO_dBaseFld::xbUndelete() { WriteDeletionFlag(' '); }

void XBO_dBaseFld::xbClearFldChanged() { std::fill(CurRecChg().begin(), CurRecChg().end(), uint8_t{0}); }

void XBO_dBaseFld::xbStuffABuffer(uint8_t* Buffer, std::string_view KeyFields,
                                  std::span<const dataaccess::TVariant> KeyValues) {
  // The search record is scratch: the current record's pointer, changed
  // flags and modified state come back as they were, whatever happens.
  struct Restore {
    XBO_dBaseFld& t;
    uint8_t* record = t.CurRecord();
    std::vector<uint8_t> chg = t.CurRecChg();
    bool modified = t.RecModified();
    ~Restore() {
      t.SetCurRecord(record);
      t.CurRecChg() = std::move(chg);
      t.SetRecModified(modified);
    }
  } restore{*this};
  SetCurRecord(Buffer);
  xbBlank();
  size_t i = 0;
  for (size_t from = 0; i < KeyValues.size() && from <= KeyFields.size(); ++i) {
    size_t to = KeyFields.find(';', from);
    if (to == std::string_view::npos) to = KeyFields.size();
    const std::string_view name = Trim(KeyFields.substr(from, to - from));
    from = to + 1;
    xbStringPut(name, KeyValues[i].AsString());
  }
}

}  // namespace xbase
