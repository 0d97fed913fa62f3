#include "archiver/crypto/ZACipher.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <mutex>

#include "archiver/crypto/ZARijndaelHW.h"

namespace archiver::crypto {

namespace {

std::atomic<bool> gStrictKeySize{false};

[[noreturn]] void RaiseCipher(int code, const std::string& message) { throw ECipherException(code, message); }

}  // namespace

void SetStrictKeySize(bool strict) { gStrictKeySize = strict; }
bool StrictKeySize() { return gStrictKeySize; }

// ---------------------------------------------------------------------------
// TCipher

TCipher::TCipher(TCipherClass cls, std::shared_ptr<TProtection> AProtection)
    : TProtection(std::move(AProtection)),
      FHashClass(THash_RipeMD256::Class()),
      FKeySize(cls->Context.KeySize),
      FBufSize(cls->Context.BufSize),
      FUserSize(cls->Context.UserSize),
      FBuffer(static_cast<size_t>(FBufSize)),
      FVector(static_cast<size_t>(FBufSize)),
      FFeedback(static_cast<size_t>(FBufSize)),
      FUser(static_cast<size_t>((FUserSize + 3) / 4)),
      ctrMode_Position(FBufSize),
      ctrMode_EncryptionBlock(static_cast<size_t>(FBufSize)),
      ctrMode_Nonce(static_cast<size_t>(FBufSize)) {
  TCipher::Protect();
}

TCipher::~TCipher() = default;

THash& TCipher::Hash() {
  if (!FHash) FHash = FHashClass->Create();
  return *FHash;
}

void TCipher::SetHashClass(THashClass AClass) {
  if (AClass == nullptr) AClass = THash_RipeMD256::Class();
  if (AClass != FHashClass) FHash.reset();
  FHashClass = AClass;
}

void TCipher::SetFlag(int Index, bool Value) {
  const auto bit = static_cast<uint8_t>(1u << Index);
  FFlags = Value ? (FFlags | bit) : (FFlags & ~bit);
}

void TCipher::Protect() {
  FFlags = 0;
  const auto fill = [&](uint8_t v) {
    std::fill(FVector.begin(), FVector.end(), v);
    std::fill(FFeedback.begin(), FFeedback.end(), v);
    std::fill(FBuffer.begin(), FBuffer.end(), v);
    std::memset(FUser.data(), v, FUser.size() * sizeof(uint32_t));
  };
  fill(0xAA);
  fill(0x55);
  std::fill(FVector.begin(), FVector.end(), 0xFF);
  std::fill(FFeedback.begin(), FFeedback.end(), 0xFF);
  ProtectMemory(FBuffer.data(), FBuffer.size());
  ProtectMemory(FUser.data(), FUser.size() * sizeof(uint32_t));
  ProtectMemory(ctrMode_Nonce.data(), ctrMode_Nonce.size());
  // The keystream block belongs to the old key: forget it too, so that a
  // new key never continues the old key's last block.
  ProtectMemory(ctrMode_EncryptionBlock.data(), ctrMode_EncryptionBlock.size());
  ctrMode_Position = FBufSize;
}

int TCipher::CheckedKeySize(int Size) const {
  if (Size < 0) return 0;
  if (Size > FKeySize) {
    if (StrictKeySize())
      RaiseCipher(2, std::string("Length from Encryptionkey is invalid.\r\nKeysize for ") + ClassName() +
                         " must be to 0-" + std::to_string(FKeySize) + " bytes");
    return FKeySize;
  }
  return Size;
}

void TCipher::SetVector(const void* IVector) {
  if (IVector != nullptr)
    std::memcpy(FVector.data(), IVector, FVector.size());
  else
    EncodeBlock(FVector.data(), FVector.data());
  FFeedback = FVector;
}

void TCipher::InitKey(std::span<const uint8_t> Key, const void* IVector) {
  Init(Key.data(), static_cast<int>(std::min<size_t>(Key.size(), static_cast<size_t>(FKeySize))), IVector);
  // Running the key through the cipher advances the chaining state as
  // keying always has; the caller's bytes stay as they are.
  TSecretBytes scratch(Key.begin(), Key.end());
  EncodeBuffer(scratch.data(), scratch.data(), scratch.size());
  Done();
  SetFlag(0, true);
}

void TCipher::InitKey(std::string_view Key, const void* IVector) {
  THash& h = Hash();
  h.Init();
  h.Calc(Key.data(), Key.size());
  h.Done();
  const size_t n = std::min(static_cast<size_t>(h.DigestKeySize()), static_cast<size_t>(FKeySize));
  const TSecretBytes digest(h.DigestKey(), h.DigestKey() + n);
  h.Init();
  InitKey(std::span<const uint8_t>(digest), IVector);
}

void TCipher::Done() {
  if (FFeedback != FVector) {
    FBuffer = FFeedback;
    FFeedback = FVector;
  }
}

void TCipher::EncodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Blocks) {
  const size_t b = static_cast<size_t>(FBufSize);
  for (size_t i = 0; i < Blocks; ++i) EncodeBlock(Source + i * b, Dest + i * b);
}

void TCipher::DecodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Blocks) {
  const size_t b = static_cast<size_t>(FBufSize);
  for (size_t i = 0; i < Blocks; ++i) DecodeBlock(Source + i * b, Dest + i * b);
}

void TCipher::IncrementNonce() {
  // Little-endian over the first 8 bytes; the carry stops there.
  for (int i = 0; i < 8 && i < FBufSize; ++i)
    if (++ctrMode_Nonce[static_cast<size_t>(i)] != 0) break;
}

void TCipher::CounterBlocks(const uint8_t* Source, uint8_t* Dest, size_t Blocks) {
  const size_t b = static_cast<size_t>(FBufSize);
  uint8_t* ks = ctrMode_EncryptionBlock.data();
  for (size_t i = 0; i < Blocks; ++i) {
    IncrementNonce();
    EncodeBlock(ctrMode_Nonce.data(), ks);
    XORBuffers(Source + i * b, ks, b, Dest + i * b);
  }
}

void TCipher::CheckCodable(size_t DataSize) const {
  if (!Initialized()) RaiseCipher(3, std::string(ClassName()) + " is not initialized call Init() or InitKey() before.");
  if (FMode > cmCFBMAC || (FMode == cmECB && DataSize % static_cast<size_t>(FBufSize) != 0))
    RaiseCipher(4, std::string(ClassName()) + ": cannot code " + std::to_string(DataSize) + " bytes in mode " +
                       std::to_string(static_cast<int>(FMode)) + ".");
}

void TCipher::CodeCTR(const uint8_t* s, uint8_t* d, size_t n) {
  const size_t b = static_cast<size_t>(FBufSize);
  size_t pos = static_cast<size_t>(ctrMode_Position);
  uint8_t* ks = ctrMode_EncryptionBlock.data();
  while (n > 0) {
    if (pos == b) {
      if (n >= b) {
        const size_t blocks = n / b;
        CounterBlocks(s, d, blocks);
        s += blocks * b;
        d += blocks * b;
        n -= blocks * b;
        continue;
      }
      IncrementNonce();
      EncodeBlock(ctrMode_Nonce.data(), ks);
      pos = 0;
    }
    const size_t k = std::min(n, b - pos);
    XORBuffers(s, ks + pos, k, d);
    s += k;
    d += k;
    n -= k;
    pos += k;
  }
  ctrMode_Position = static_cast<int>(pos);
}

// The MAC modes code nothing: they only run the data through the register.
void TCipher::CodeMAC(const uint8_t* s, size_t n) {
  const size_t b = static_cast<size_t>(FBufSize);
  uint8_t* F = FFeedback.data();
  uint8_t* W = FBuffer.data();
  if (FMode == cmCFBMAC) {
    for (size_t i = 0; i < n; ++i) {
      EncodeBlock(F, W);
      std::memmove(F, F + 1, b - 1);
      F[b - 1] = s[i] ^ W[0];
    }
    return;
  }
  size_t i = 0;
  for (; i + b <= n; i += b) {
    XORBuffers(s + i, F, b, W);
    EncodeBlock(W, W);
    if (FMode == cmCTSMAC)
      XORBuffers(W, F, b, F);
    else
      std::memcpy(F, W, b);
  }
  if (i < n) {
    // A short last block is folded into the register before it is
    // encrypted, so that every byte of the message counts.
    XORBuffers(F, s + i, n - i, F);
    EncodeBlock(F, W);
    XORBuffers(W, F, b, F);
  }
}

void TCipher::EncodeBuffer(const void* Source, void* Dest, size_t DataSize) {
  CodeData(static_cast<const uint8_t*>(Source), static_cast<uint8_t*>(Dest), DataSize, false);
}

void TCipher::DecodeBuffer(const void* Source, void* Dest, size_t DataSize) {
  CodeData(static_cast<const uint8_t*>(Source), static_cast<uint8_t*>(Dest), DataSize, true);
}

void TCipher::CodeData(const uint8_t* s, uint8_t* d, size_t n, bool decode) {
  CheckCodable(n);
  const size_t b = static_cast<size_t>(FBufSize);
  uint8_t* F = FFeedback.data();
  uint8_t* W = FBuffer.data();
  switch (FMode) {
    case cmCTS:
    case cmCBC: {
      TSecretBytes c(b);  // the cipher block: Source may be Dest
      size_t i = 0;
      for (; i + b <= n; i += b) {
        if (decode) {
          std::memcpy(c.data(), s + i, b);
          DecodeBlock(c.data(), W);
          XORBuffers(W, F, b, d + i);
        } else {
          XORBuffers(s + i, F, b, W);
          EncodeBlock(W, c.data());
          std::memcpy(d + i, c.data(), b);
        }
        if (FMode == cmCTS)
          XORBuffers(F, c.data(), b, F);
        else
          std::memcpy(F, c.data(), b);
      }
      // The tail of either direction is coded with E(F).
      if (i < n) {
        EncodeBlock(F, W);
        XORBuffers(s + i, W, n - i, d + i);
      }
      break;
    }
    case cmCFB:
    case cmOFB:
      for (size_t i = 0; i < n; ++i) {
        EncodeBlock(F, W);
        const uint8_t in = s[i], out = in ^ W[0];
        std::memmove(F, F + 1, b - 1);
        // CFB feeds back the cipher byte, OFB the keystream byte.
        F[b - 1] = FMode == cmOFB ? W[0] : decode ? in : out;
        d[i] = out;
      }
      break;
    case cmCTR:
      CodeCTR(s, d, n);
      break;
    case cmECB:
      if (decode)
        DecodeBlocks(s, d, n / b);
      else
        EncodeBlocks(s, d, n / b);
      break;
    default:
      CodeMAC(s, n);
      break;
  }
}

void TCipher::CodeBuf(void* Buffer, int64_t BufferSize, TPAction Action) {
  const auto n = static_cast<size_t>(BufferSize);
  if (Action == paDecode) {
    if (Acts(Action)) DecodeBuffer(Buffer, Buffer, n);
    TProtection::CodeBuf(Buffer, BufferSize, Action);
    return;
  }
  TProtection::CodeBuf(Buffer, BufferSize, Action);
  if (Acts(Action)) EncodeBuffer(Buffer, Buffer, n);
}

bool TCipher::SelfTest(TCipherClass cls) {
  std::shared_ptr<TCipher> c = cls->Create();
  c->SetMode(cmCTS);
  uint8_t key[16];
  for (int i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(i);
  const std::vector<uint8_t> iv(static_cast<size_t>(c->BufSize()), 0);
  c->Init(key, std::min(16, c->KeySize()), iv.data());
  uint8_t data[32], coded[32], back[32];
  for (int i = 0; i < 16; ++i) {
    data[i] = static_cast<uint8_t>(0x11 * i);
    data[31 - i] = static_cast<uint8_t>(0x11 * i);
  }
  c->EncodeBuffer(data, coded, sizeof data);
  if (cls->TestVector.size() != sizeof coded || std::memcmp(coded, cls->TestVector.data(), sizeof coded) != 0)
    return false;
  c->Done();
  c->DecodeBuffer(coded, back, sizeof back);
  return std::memcmp(back, data, sizeof data) == 0;
}

// ---------------------------------------------------------------------------
// AES tables, built at compile time. Words are little-endian columns: byte
// r of a column is bits 8r..8r+7, so round keys in memory are the bytes of
// FIPS-197 and serve the hardware path unchanged.

namespace {

constexpr uint8_t XTime(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0)); }

constexpr uint8_t GMul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  while (b != 0) {
    if (b & 1) r ^= a;
    a = XTime(a);
    b >>= 1;
  }
  return r;
}

constexpr uint8_t Rotl8(uint8_t x, int s) { return static_cast<uint8_t>((x << s) | (x >> (8 - s))); }

struct AesTables {
  uint8_t S[256];
  uint8_t Si[256];
  uint32_t Te[4][256];
  uint32_t Td[4][256];
};

constexpr AesTables MakeAesTables() {
  AesTables t{};
  // p runs through the multiplicative group by powers of 3 while q runs
  // through the inverses; the S-box is the affine map of the inverse.
  uint8_t p = 1, q = 1;
  do {
    p = static_cast<uint8_t>(p ^ XTime(p));
    q = static_cast<uint8_t>(q ^ (q << 1));
    q = static_cast<uint8_t>(q ^ (q << 2));
    q = static_cast<uint8_t>(q ^ (q << 4));
    if (q & 0x80) q ^= 0x09;
    t.S[p] = static_cast<uint8_t>(q ^ Rotl8(q, 1) ^ Rotl8(q, 2) ^ Rotl8(q, 3) ^ Rotl8(q, 4) ^ 0x63);
  } while (p != 1);
  t.S[0] = 0x63;
  for (int i = 0; i < 256; ++i) t.Si[t.S[i]] = static_cast<uint8_t>(i);
  for (int i = 0; i < 256; ++i) {
    const uint8_t s = t.S[i], si = t.Si[i];
    const uint32_t te = uint32_t(GMul(s, 2)) | uint32_t(s) << 8 | uint32_t(s) << 16 | uint32_t(GMul(s, 3)) << 24;
    const uint32_t td = uint32_t(GMul(si, 14)) | uint32_t(GMul(si, 9)) << 8 | uint32_t(GMul(si, 13)) << 16 |
                        uint32_t(GMul(si, 11)) << 24;
    for (int r = 0; r < 4; ++r) {
      t.Te[r][i] = std::rotl(te, 8 * r);
      t.Td[r][i] = std::rotl(td, 8 * r);
    }
  }
  return t;
}

constexpr AesTables kAes = MakeAesTables();
static_assert(kAes.S[0x00] == 0x63 && kAes.S[0x53] == 0xED && kAes.S[0xFF] == 0x16);
static_assert(kAes.Si[0x63] == 0x00);

constexpr int kEncKeys = 0;   // word offset of the encryption round keys in the schedule
constexpr int kDecKeys = 60;  // and of the decryption round keys

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

inline uint32_t SubWord(uint32_t w) {
  return uint32_t(kAes.S[w & 0xFF]) | uint32_t(kAes.S[(w >> 8) & 0xFF]) << 8 |
         uint32_t(kAes.S[(w >> 16) & 0xFF]) << 16 | uint32_t(kAes.S[w >> 24]) << 24;
}

inline uint32_t InvMixColumn(uint32_t w) {
  return kAes.Td[0][kAes.S[w & 0xFF]] ^ kAes.Td[1][kAes.S[(w >> 8) & 0xFF]] ^
         kAes.Td[2][kAes.S[(w >> 16) & 0xFF]] ^ kAes.Td[3][kAes.S[w >> 24]];
}

// FIPS-197 key expansion; `key` holds 4 * nk bytes.
void ExpandKey(const uint8_t* key, int nk, int rounds, uint32_t* ek, uint32_t* dk) {
  const int words = 4 * (rounds + 1);
  for (int i = 0; i < nk; ++i) ek[i] = Load32(key + 4 * i);
  uint8_t rcon = 1;
  for (int i = nk; i < words; ++i) {
    uint32_t t = ek[i - 1];
    if (i % nk == 0) {
      t = SubWord(std::rotr(t, 8)) ^ rcon;
      rcon = XTime(rcon);
    } else if (nk > 6 && i % nk == 4) {
      t = SubWord(t);
    }
    ek[i] = ek[i - nk] ^ t;
  }
  // The equivalent inverse cipher: round keys in reverse order, the middle
  // ones through InvMixColumns.
  for (int j = 0; j < 4; ++j) {
    dk[j] = ek[4 * rounds + j];
    dk[4 * rounds + j] = ek[j];
  }
  for (int r = 1; r < rounds; ++r)
    for (int j = 0; j < 4; ++j) dk[4 * r + j] = InvMixColumn(ek[4 * (rounds - r) + j]);
}

// One block with the tables: encryption, or decryption with the round keys
// of the equivalent inverse cipher. Column j of each round takes its row r
// byte from column j + r (ShiftRows) or j - r (InvShiftRows).
template <bool Decrypt>
void CryptTable(const uint32_t* rk, int rounds, const uint8_t* in, uint8_t* out) {
  const auto& T = Decrypt ? kAes.Td : kAes.Te;
  const auto& S = Decrypt ? kAes.Si : kAes.S;
  constexpr int c1 = Decrypt ? 3 : 1, c2 = 2, c3 = Decrypt ? 1 : 3;
  uint32_t s[4], t[4];
#pragma GCC unroll 4
  for (int j = 0; j < 4; ++j) s[j] = Load32(in + 4 * j) ^ rk[j];
  for (int r = 1; r < rounds; ++r) {
    rk += 4;
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j)
      t[j] = T[0][s[j] & 0xFF] ^ T[1][(s[(j + c1) & 3] >> 8) & 0xFF] ^ T[2][(s[(j + c2) & 3] >> 16) & 0xFF] ^
             T[3][s[(j + c3) & 3] >> 24] ^ rk[j];
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) s[j] = t[j];
  }
  rk += 4;
#pragma GCC unroll 4
  for (int j = 0; j < 4; ++j)
    Store32(out + 4 * j, (uint32_t(S[s[j] & 0xFF]) | uint32_t(S[(s[(j + c1) & 3] >> 8) & 0xFF]) << 8 |
                          uint32_t(S[(s[(j + c2) & 3] >> 16) & 0xFF]) << 16 | uint32_t(S[s[(j + c3) & 3] >> 24]) << 24) ^
                             rk[j]);
}

std::atomic<bool> gForcePortable{false};

bool UseHardware() {
  static const bool available = aeshw::AesHwAvailable();
  return available && !gForcePortable.load(std::memory_order_relaxed);
}

}  // namespace

// ---------------------------------------------------------------------------
// TCipher_Rijndael

TCipher_Rijndael::TCipher_Rijndael() : TCipher(Class(), nullptr) {}

TCipher_Rijndael::TCipher_Rijndael(std::span<const uint8_t> Key) : TCipher(Class(), nullptr) {
  if (Key.data() != nullptr) InitKey(Key, nullptr);
}

TCipher_Rijndael::TCipher_Rijndael(std::string_view Password, std::shared_ptr<TProtection> AProtection)
    : TCipher(Class(), std::move(AProtection)) {
  if (!Password.empty()) InitKey(Password, nullptr);
}

TCipher_Rijndael::~TCipher_Rijndael() = default;

void TCipher_Rijndael::Init(const void* Key, int Size, const void* IVector) {
  Size = CheckedKeySize(Size);
  FRounds = Size <= 16 ? 10 : Size <= 24 ? 12 : 14;
  uint8_t key[32] = {};
  if (Size > 0) std::memcpy(key, Key, static_cast<size_t>(Size));
  ExpandKey(key, FRounds - 6, FRounds, User() + kEncKeys, User() + kDecKeys);
  ProtectMemory(key, sizeof key);
  SetVector(IVector);
  SetFlag(1, true);
}

void TCipher_Rijndael::EncodeBlock(const uint8_t* Source, uint8_t* Dest) {
  if (UseHardware())
    aeshw::EncryptBlocks(User() + kEncKeys, FRounds, Source, Dest, 1);
  else
    CryptTable<false>(User() + kEncKeys, FRounds, Source, Dest);
}

void TCipher_Rijndael::DecodeBlock(const uint8_t* Source, uint8_t* Dest) {
  if (UseHardware())
    aeshw::DecryptBlocks(User() + kDecKeys, FRounds, Source, Dest, 1);
  else
    CryptTable<true>(User() + kDecKeys, FRounds, Source, Dest);
}

void TCipher_Rijndael::EncodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Blocks) {
  if (!UseHardware()) return TCipher::EncodeBlocks(Source, Dest, Blocks);
  aeshw::EncryptBlocks(User() + kEncKeys, FRounds, Source, Dest, Blocks);
}

void TCipher_Rijndael::DecodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Blocks) {
  if (!UseHardware()) return TCipher::DecodeBlocks(Source, Dest, Blocks);
  aeshw::DecryptBlocks(User() + kDecKeys, FRounds, Source, Dest, Blocks);
}

void TCipher_Rijndael::CounterBlocks(const uint8_t* Source, uint8_t* Dest, size_t Blocks) {
  if (!UseHardware()) return TCipher::CounterBlocks(Source, Dest, Blocks);
  uint8_t* nonce = CounterBlock();
  uint64_t lo, hi;
  std::memcpy(&lo, nonce, 8);
  std::memcpy(&hi, nonce + 8, 8);
  aeshw::CounterXor(User() + kEncKeys, FRounds, lo, hi, Source, Dest, Blocks);
  std::memcpy(nonce, &lo, 8);
}

TCipherClass TCipher_Rijndael::Class() {
  static constexpr uint8_t vector[32] = {0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b, 0x04, 0x30, 0xd8, 0xcd, 0xb7,
                                         0x80, 0x70, 0xb4, 0xc5, 0x5a, 0x6a, 0xf6, 0xd9, 0xcf, 0x51, 0x34,
                                         0x2e, 0x31, 0xbb, 0xab, 0x36, 0xaa, 0x90, 0xa2, 0x21, 0x94};
  static const TCipherClassInfo info{"TCipher_Rijndael",
                                     {16, 32, 480},
                                     [] { return std::shared_ptr<TCipher>(new TCipher_Rijndael()); },
                                     vector};
  return &info;
}

bool TCipher_Rijndael::HardwareAvailable() { return aeshw::AesHwAvailable(); }
void TCipher_Rijndael::ForcePortable(bool portable) { gForcePortable = portable; }
bool TCipher_Rijndael::HardwareActive() { return UseHardware(); }

// ---------------------------------------------------------------------------
// The registry of cipher classes.

namespace {

struct CipherRegistry {
  std::mutex lock;
  std::vector<TCipherEntry> list{{"Rijndael=", TCipher_Rijndael::Class()}};
};

CipherRegistry& Ciphers() {
  static CipherRegistry r;
  return r;
}

}  // namespace

void RegisterCipherClass(TCipherClass cls, std::string_view Name, std::string_view Description) {
  if (cls == nullptr) return;
  std::string name(Name);
  if (name.empty()) {
    std::string_view n = cls->ClassName;
    if (!n.empty() && n.front() == 'T') n.remove_prefix(1);
    if (const size_t u = n.find('_'); u != std::string_view::npos) n.remove_prefix(u + 1);
    name = n;
  }
  TCipherEntry entry{name + "=" + std::string(Description), cls};
  CipherRegistry& r = Ciphers();
  std::lock_guard<std::mutex> g(r.lock);
  auto it = std::find_if(r.list.begin(), r.list.end(), [&](const TCipherEntry& e) { return e.Class == cls; });
  if (it != r.list.end())
    *it = std::move(entry);
  else
    r.list.push_back(std::move(entry));
}

std::vector<TCipherEntry> RegisteredCipherClasses() {
  CipherRegistry& r = Ciphers();
  std::lock_guard<std::mutex> g(r.lock);
  return r.list;
}

}  // namespace archiver::crypto
