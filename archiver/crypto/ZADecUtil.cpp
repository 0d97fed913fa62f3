#include "archiver/crypto/ZADecUtil.h"

#include <string.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstring>
#include <mutex>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "platform/Files.h"
#include "platform/Streams.h"

namespace archiver::crypto {

void ProtectMemory(void* p, size_t size) {
  if (p != nullptr && size > 0) explicit_bzero(p, size);
}

// ---------------------------------------------------------------------------
// The protection chain.

namespace {

std::mutex& ProgressLock() {
  static std::mutex m;
  return m;
}
TProtectionProgress& ProgressSlot() {
  static TProtectionProgress p;
  return p;
}
TProtectionProgress CurrentProgress() {
  std::lock_guard<std::mutex> g(ProgressLock());
  return ProgressSlot();
}

constexpr int64_t kCodeBlock = 4096;

}  // namespace

void SetProtectionProgress(TProtectionProgress progress) {
  std::lock_guard<std::mutex> g(ProgressLock());
  ProgressSlot() = std::move(progress);
}

TProtection::TProtection(std::shared_ptr<TProtection> AProtection)
    : FProtection(std::move(AProtection)) {}

TProtection::~TProtection() = default;

void TProtection::SetProtection(std::shared_ptr<TProtection> AProtection) {
  for (const TProtection* p = AProtection.get(); p != nullptr; p = p->FProtection.get())
    if (p == this) throw EProtection("Circular Protection detected, Protection Object is invalid.");
  FProtection = std::move(AProtection);
}

uint16_t TProtection::Identity() const {
  const char* name = ClassName();
  return static_cast<uint16_t>(~CRC16(0x1234, name, std::strlen(name)));
}

void TProtection::CodeInit(TPAction Action) {
  if (FProtection) FProtection->CodeInit(Action);
}

void TProtection::CodeDone(TPAction Action) {
  if (FProtection) FProtection->CodeDone(Action);
}

void TProtection::CodeBuf(void* Buffer, int64_t BufferSize, TPAction Action) {
  if (FProtection) FProtection->CodeBuf(Buffer, BufferSize, Action);
}

int64_t TProtection::CodeBuffer(void* Buffer, int64_t BufferSize, TPAction Action) {
  CodeInit(Action);
  CodeBuf(Buffer, BufferSize, Action);
  CodeDone(Action);
  return BufferSize;
}

void TProtection::CodeStream(platform::TStream* Source, platform::TStream* Dest, int64_t DataSize,
                             TPAction Action) {
  if (Source == nullptr) return;
  if (Dest == nullptr) Dest = Source;
  if (DataSize < 0) {
    Source->SetPosition(0);
    DataSize = Source->Size();
  }
  // Source and Dest may be one stream: each keeps its own running position.
  int64_t srcPos = Source->Position();
  int64_t dstPos = Action == paCalc ? 0 : Dest->Position();
  const TProtectionProgress progress = CurrentProgress();
  const int64_t total = DataSize;
  int64_t done = 0;
  std::vector<uint8_t> buf(static_cast<size_t>(std::min(std::max<int64_t>(DataSize, 1), kCodeBlock)));
  struct Wipe {
    std::vector<uint8_t>& b;
    ~Wipe() { ProtectMemory(b.data(), b.size()); }
  } wipe{buf};
  if (progress) progress(0, total);
  CodeInit(Action);
  while (DataSize > 0) {
    Source->SetPosition(srcPos);
    const int64_t want = std::min(DataSize, kCodeBlock);
    const int64_t got = Source->Read(buf.data(), want);
    if (got <= 0) break;
    srcPos += got;
    CodeBuf(buf.data(), got, Action);
    if (Action != paCalc) {
      Dest->SetPosition(dstPos);
      Dest->WriteBuffer(buf.data(), got);
      dstPos += got;
    }
    DataSize -= got;
    done += got;
    if (progress) progress(done, total);
    if (got < want) break;
  }
  CodeDone(Action);
  if (progress) progress(0, 0);
}

void TProtection::CodeFile(const std::string& Source, const std::string& Dest, TPAction Action) {
  platform::TFileStream src(Source, platform::fmOpenRead | platform::fmShareDenyWrite);
  if (Action == paCalc) {
    CodeStream(&src, nullptr, -1, Action);
    return;
  }
  platform::TReplaceFile out(Dest.empty() ? Source : Dest);
  CodeStream(&src, &out.Stream(), -1, Action);
  out.Commit();
}

std::string TProtection::CodeString(std::string_view Source, TPAction Action, int Format) {
  platform::TStringStream s(Action == paDecode ? FormatToStr(Source, Format) : std::string(Source));
  CodeStream(&s, nullptr, -1, Action);
  if (Action == paDecode) return s.DataString();
  return StrToFormat(s.DataString(), Format);
}

// ---------------------------------------------------------------------------
// Text formats.

namespace {

[[noreturn]] void RaiseInvalid(const TStringFormat& f) {
  throw EStringFormat(std::string("Input is not an valid ") + f.Name() + " Format.");
}

constexpr std::string_view kSeparators = " \t\r\n\f\v()[]{}<>,;:.-_/\\|'\"";

// Value of each character in an alphabet, -1 for the others.
std::array<int8_t, 256> ValueTable(std::string_view alphabet) {
  std::array<int8_t, 256> t;
  t.fill(-1);
  for (size_t i = 0; i < alphabet.size(); ++i) t[static_cast<uint8_t>(alphabet[i])] = static_cast<int8_t>(i);
  return t;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsLineBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineBreakOrBlank(char c) { return c == '\r' || c == '\n' || IsLineBlank(c); }

}  // namespace

std::string TStringFormat::ToStr(const char* Value, size_t Len) const { return std::string(Value, Len); }
std::string TStringFormat::StrTo(const char* Value, size_t Len) const { return std::string(Value, Len); }

bool TStringFormat::IsValid(const char* Value, size_t Len, bool ToStr) const {
  const std::string_view table = CharTable();
  if (!ToStr || table.empty()) return true;
  bool allowed[256] = {};
  for (char c : table) allowed[static_cast<uint8_t>(c)] = true;
  for (size_t i = 0; i < Len; ++i)
    if (!allowed[static_cast<uint8_t>(Value[i])]) return false;
  return true;
}

const TStringFormat* TStringFormat::Instance() {
  static const TStringFormat f;
  return &f;
}

std::string_view TStringFormat_HEX::CharTable() const {
  static const std::string t = std::string("0123456789ABCDEF") + "abcdef$xXhH" + std::string(kSeparators);
  return t;
}

std::string_view TStringFormat_HEXL::CharTable() const {
  static const std::string t = std::string("0123456789abcdef") + "ABCDEF$xXhH" + std::string(kSeparators);
  return t;
}

std::string TStringFormat_HEX::StrTo(const char* Value, size_t Len) const {
  const std::string_view digits = CharTable().substr(0, 16);
  std::string out(Len * 2, '\0');
  for (size_t i = 0; i < Len; ++i) {
    const uint8_t b = static_cast<uint8_t>(Value[i]);
    out[2 * i] = digits[b >> 4];
    out[2 * i + 1] = digits[b & 15];
  }
  return out;
}

// A byte is two adjacent digits. Separators and the prefix marks may stand
// between bytes; "0x" counts as a prefix where a byte would begin.
std::string TStringFormat_HEX::ToStr(const char* Value, size_t Len) const {
  if (!IsValid(Value, Len, true)) RaiseInvalid(*this);
  std::string out;
  out.reserve(Len / 2);
  size_t i = 0;
  while (i < Len) {
    const int hi = HexValue(Value[i]);
    if (hi < 0) {
      ++i;
      continue;
    }
    if (hi == 0 && i + 1 < Len && (Value[i + 1] == 'x' || Value[i + 1] == 'X')) {
      i += 2;
      continue;
    }
    const int lo = i + 1 < Len ? HexValue(Value[i + 1]) : -1;
    if (lo < 0) RaiseInvalid(*this);
    out.push_back(static_cast<char>(hi << 4 | lo));
    i += 2;
  }
  return out;
}

const TStringFormat* TStringFormat_HEX::Instance() {
  static const TStringFormat_HEX f;
  return &f;
}
const TStringFormat* TStringFormat_HEXL::Instance() {
  static const TStringFormat_HEXL f;
  return &f;
}

std::string_view TStringFormat_MIME64::CharTable() const {
  static const std::string t =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/= \t\r\n";
  return t;
}

std::string TStringFormat_MIME64::StrTo(const char* Value, size_t Len) const {
  const std::string_view a = CharTable();
  std::string out;
  out.reserve((Len + 2) / 3 * 4);
  const auto* p = reinterpret_cast<const uint8_t*>(Value);
  size_t i = 0;
  for (; i + 3 <= Len; i += 3) {
    const uint32_t v = uint32_t(p[i]) << 16 | uint32_t(p[i + 1]) << 8 | p[i + 2];
    out += a[v >> 18];
    out += a[(v >> 12) & 63];
    out += a[(v >> 6) & 63];
    out += a[v & 63];
  }
  if (const size_t rest = Len - i; rest > 0) {
    const uint32_t v = uint32_t(p[i]) << 16 | (rest > 1 ? uint32_t(p[i + 1]) << 8 : 0);
    out += a[v >> 18];
    out += a[(v >> 12) & 63];
    out += rest > 1 ? a[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string TStringFormat_MIME64::ToStr(const char* Value, size_t Len) const {
  if (!IsValid(Value, Len, true)) RaiseInvalid(*this);
  static const std::array<int8_t, 256> values = ValueTable(CharTable().substr(0, 64));
  std::string out;
  out.reserve(Len / 4 * 3 + 3);
  uint32_t acc = 0;
  int n = 0;        // characters in the current group
  int padding = 0;  // "=" seen so far
  for (size_t i = 0; i < Len; ++i) {
    const char c = Value[i];
    if (IsLineBreakOrBlank(c)) continue;
    if (c == '=') {
      // Padding completes a group of two or three characters, and nothing but
      // more padding and blanks may follow it.
      if (padding == 0 && n < 2) RaiseInvalid(*this);
      if (n + padding >= 4) RaiseInvalid(*this);
      ++padding;
      continue;
    }
    if (padding > 0) RaiseInvalid(*this);
    acc = acc << 6 | static_cast<uint32_t>(values[static_cast<uint8_t>(c)]);
    if (++n == 4) {
      out += static_cast<char>(acc >> 16);
      out += static_cast<char>(acc >> 8);
      out += static_cast<char>(acc);
      acc = 0;
      n = 0;
    }
  }
  if (padding > 0 && n + padding != 4) RaiseInvalid(*this);
  if (n == 1) RaiseInvalid(*this);
  if (n == 2) out += static_cast<char>(acc >> 4);
  if (n == 3) {
    out += static_cast<char>(acc >> 10);
    out += static_cast<char>(acc >> 2);
  }
  return out;
}

const TStringFormat* TStringFormat_MIME64::Instance() {
  static const TStringFormat_MIME64 f;
  return &f;
}

std::string_view TStringFormat_UU::CharTable() const {
  static const std::string t = [] {
    std::string s = "`";
    for (char c = '!'; c <= '_'; ++c) s += c;
    return s + " \t\r\n";
  }();
  return t;
}

std::string_view TStringFormat_XX::CharTable() const {
  static const std::string t = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz \t\r\n";
  return t;
}

std::string TStringFormat_UU::StrTo(const char* Value, size_t Len) const {
  constexpr size_t kLine = 45;
  const std::string_view a = Alphabet();
  const auto* p = reinterpret_cast<const uint8_t*>(Value);
  std::string out;
  out.reserve((Len + kLine - 1) / kLine * 2 + (Len + 2) / 3 * 4);
  for (size_t start = 0; start < Len; start += kLine) {
    const size_t n = std::min(kLine, Len - start);
    out += a[n];
    for (size_t i = 0; i < n; i += 3) {
      const uint32_t v = uint32_t(p[start + i]) << 16 | (i + 1 < n ? uint32_t(p[start + i + 1]) << 8 : 0) |
                         (i + 2 < n ? p[start + i + 2] : 0);
      out += a[v >> 18];
      out += a[(v >> 12) & 63];
      out += a[(v >> 6) & 63];
      out += a[v & 63];
    }
    out += '\n';
  }
  return out;
}

std::string TStringFormat_UU::ToStr(const char* Value, size_t Len) const {
  if (!IsValid(Value, Len, true)) RaiseInvalid(*this);
  std::array<int8_t, 256> values = ValueTable(Alphabet());
  if (Alphabet()[0] == '`') values[' '] = 0;
  std::string out;
  out.reserve(Len / 4 * 3);
  size_t i = 0;
  for (;;) {
    while (i < Len && IsLineBreakOrBlank(Value[i])) ++i;
    if (i == Len) break;
    const int n = values[static_cast<uint8_t>(Value[i++])];
    if (n < 0) RaiseInvalid(*this);
    const size_t groups = (static_cast<size_t>(n) + 2) / 3;
    if (Len - i < groups * 4) RaiseInvalid(*this);
    const size_t lineStart = out.size();
    for (size_t g = 0; g < groups; ++g, i += 4) {
      uint32_t v = 0;
      for (size_t k = 0; k < 4; ++k) {
        const int d = values[static_cast<uint8_t>(Value[i + k])];
        if (d < 0) RaiseInvalid(*this);
        v = v << 6 | static_cast<uint32_t>(d);
      }
      out += static_cast<char>(v >> 16);
      out += static_cast<char>(v >> 8);
      out += static_cast<char>(v);
    }
    out.resize(lineStart + static_cast<size_t>(n));
    // The line ends here: blanks, then a line break or the end of the text.
    while (i < Len && IsLineBlank(Value[i])) ++i;
    if (i < Len && Value[i] != '\r' && Value[i] != '\n') RaiseInvalid(*this);
  }
  return out;
}

const TStringFormat* TStringFormat_UU::Instance() {
  static const TStringFormat_UU f;
  return &f;
}
const TStringFormat* TStringFormat_XX::Instance() {
  static const TStringFormat_XX f;
  return &f;
}

namespace {

struct FormatRegistry {
  std::mutex lock;
  std::vector<const TStringFormat*> list{TStringFormat::Instance(),        TStringFormat_HEX::Instance(),
                                         TStringFormat_HEXL::Instance(),   TStringFormat_MIME64::Instance(),
                                         TStringFormat_UU::Instance(),     TStringFormat_XX::Instance()};
};

FormatRegistry& Formats() {
  static FormatRegistry r;
  return r;
}

const TStringFormat* CheckedFormat(int Format) {
  const TStringFormat* f = StringFormat(Format);
  if (f == nullptr) throw EStringFormat("String Format \"" + std::to_string(Format) + "\" not exists.");
  return f;
}

size_t InputLength(const char* Value, int64_t Len) {
  return Len < 0 ? std::strlen(Value) : static_cast<size_t>(Len);
}

}  // namespace

void RegisterStringFormats(std::initializer_list<const TStringFormat*> formats) {
  FormatRegistry& r = Formats();
  std::lock_guard<std::mutex> g(r.lock);
  for (const TStringFormat* f : formats) {
    if (f == nullptr) continue;
    auto it = std::find_if(r.list.begin(), r.list.end(),
                           [&](const TStringFormat* e) { return e->Format() == f->Format(); });
    if (it != r.list.end())
      *it = f;
    else
      r.list.push_back(f);
  }
}

std::vector<const TStringFormat*> RegisteredStringFormats() {
  FormatRegistry& r = Formats();
  std::lock_guard<std::mutex> g(r.lock);
  return r.list;
}

const TStringFormat* StringFormat(int Format) {
  if (Format == fmtDEFAULT) Format = fmtMIME64;
  FormatRegistry& r = Formats();
  std::lock_guard<std::mutex> g(r.lock);
  for (const TStringFormat* f : r.list)
    if (f->Format() == Format) return f;
  return nullptr;
}

std::string StrToFormat(const char* Value, int64_t Len, int Format) {
  if (Value == nullptr || Format == 0) return {};
  const TStringFormat* f = CheckedFormat(Format);
  const size_t n = InputLength(Value, Len);
  if (!f->IsValid(Value, n, false))
    throw EStringFormat(std::string("Input can not be convert to ") + f->Name() + " Format.");
  return f->StrTo(Value, n);
}

std::string FormatToStr(const char* Value, int64_t Len, int Format) {
  if (Value == nullptr || Format == 0) return {};
  const TStringFormat* f = CheckedFormat(Format);
  const size_t n = InputLength(Value, Len);
  if (!f->IsValid(Value, n, true)) RaiseInvalid(*f);
  return f->ToStr(Value, n);
}

// ---------------------------------------------------------------------------
// Byte helpers.

void XORBuffers(const void* I1, const void* I2, size_t Size, void* Dest) {
  const auto* a = static_cast<const uint8_t*>(I1);
  const auto* b = static_cast<const uint8_t*>(I2);
  auto* d = static_cast<uint8_t*>(Dest);
  size_t i = 0;
  for (; i + 8 <= Size; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    x ^= y;
    std::memcpy(d + i, &x, 8);
  }
  for (; i < Size; ++i) d[i] = a[i] ^ b[i];
}

int CompareBuffers(const void* P1, const void* P2, size_t Size) {
  const auto* a = static_cast<const uint8_t*>(P1);
  const auto* b = static_cast<const uint8_t*>(P2);
  for (size_t i = 0; i < Size; ++i)
    if (a[i] != b[i]) return int(a[i]) - int(b[i]);
  return 0;
}

bool ConstantTimeEqual(const void* P1, const void* P2, size_t Size) {
  const volatile auto* a = static_cast<const volatile uint8_t*>(P1);
  const volatile auto* b = static_cast<const volatile uint8_t*>(P2);
  uint8_t diff = 0;
  for (size_t i = 0; i < Size; ++i) diff |= a[i] ^ b[i];
  return diff == 0;
}

uint32_t SwapInteger(uint32_t Value) { return __builtin_bswap32(Value); }

void SwapIntegerBuffer(const void* Source, void* Dest, size_t Count) {
  const auto* s = static_cast<const uint8_t*>(Source);
  auto* d = static_cast<uint8_t*>(Dest);
  for (size_t i = 0; i < Count; ++i) {
    uint32_t v;
    std::memcpy(&v, s + 4 * i, 4);
    v = __builtin_bswap32(v);
    std::memcpy(d + 4 * i, &v, 4);
  }
}

uint32_t ROL(uint32_t Value, int Shift) { return std::rotl(Value, Shift); }

uint16_t CRC16(uint16_t CRC, const void* Buffer, size_t Size) {
  static const std::array<uint16_t, 256> table = [] {
    std::array<uint16_t, 256> t{};
    for (unsigned n = 0; n < 256; ++n) {
      unsigned c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xA001u : c >> 1;
      t[n] = static_cast<uint16_t>(c);
    }
    return t;
  }();
  if (Buffer == nullptr) return CRC;
  const auto* p = static_cast<const uint8_t*>(Buffer);
  for (size_t i = 0; i < Size; ++i) CRC = static_cast<uint16_t>((CRC >> 8) ^ table[(CRC ^ p[i]) & 0xFF]);
  return CRC;
}

void RndXORBuffer(uint32_t Seed, void* Buffer, size_t Size) {
  auto* p = static_cast<uint8_t*>(Buffer);
  for (size_t i = 0; i < Size; ++i) {
    Seed = (Seed ^ p[i]) * 134775813u + 1;
    p[i] = static_cast<uint8_t>(Seed >> 24);
  }
}

uint32_t RndTimeSeed() {
  using namespace std::chrono;
  const auto now = system_clock::now().time_since_epoch();
  const auto msOfDay = static_cast<uint32_t>(duration_cast<milliseconds>(now).count() % 86'400'000);
  const auto counter = static_cast<uint64_t>(steady_clock::now().time_since_epoch().count());
  return msOfDay ^ static_cast<uint32_t>(counter) ^ static_cast<uint32_t>(counter >> 32);
}

int CPUType() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax, ebx, ecx, edx;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return 0;
  const int family = static_cast<int>((eax >> 8) & 0xF);
  return family == 0xF ? family + static_cast<int>((eax >> 20) & 0xFF) : family;
#else
  return 0;
#endif
}

}  // namespace archiver::crypto
