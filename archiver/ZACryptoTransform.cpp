#include "archiver/ZACryptoTransform.h"

#include <algorithm>
#include <stdexcept>

#include "archiver/ZARecords.h"
#include "archiver/ZAZipCrypt.h"
#include "archiver/crypto/ZACipher.h"
#include "archiver/crypto/ZAPBKDF_2.h"

namespace archiver {

namespace {

constexpr int kIterations = 1000;
constexpr int kVerifierSize = 2;
constexpr uint16_t kAE2 = 2;
// Cipher and code take turns over pieces of this size, which stay in the
// processor's cache between the two passes.
constexpr int64_t kPiece = 16384;

// A copy of password bytes, wiped when it goes.
struct TWipedString {
  std::string s;
  ~TWipedString() { crypto::ProtectMemory(s.data(), s.size()); }
};

// Reads exactly n bytes; false when the stream ends first.
bool ReadExactly(platform::TStream& s, int64_t offset, uint8_t* p, int64_t n) {
  if (offset != 0) s.Seek(offset, platform::soCurrent);
  return ZAReadFully(s, p, n) == n;
}

}  // namespace

int ZAAESKeyBits(TZACryptoAlgorithm algorithm) {
  switch (algorithm) {
    case caAES_128:
      return 128;
    case caAES_192:
      return 192;
    case caAES_256:
      return 256;
    default:
      return 0;
  }
}

bool ZAReadAESExtraField(const TDirItem& item, TZAAESExtraInfo& info) {
  const TZAExtraFieldDataBlock* block = ZAFindExtraField(item.ExtraFields, ZA_EXTRA_AES);
  TZAAESExtraInfo read;
  if (!block || !read.Load(*block)) return false;
  if (read.vendor != ZA_AES_VENDOR || read.strength < 1 || read.strength > 3) return false;
  info = read;
  return true;
}

void TZACryptoTransform::Initialize(TCryptoTransformMode Mode, const TDirItem&) { FTransformMode = Mode; }

// --- TAESCryptoTransform --------------------------------------------------------

struct TAESCryptoTransform::TDerived {
  std::unique_ptr<crypto::TPBKDF2> generator;
  crypto::TSecretBytes bytes;  // AES key, HMAC key, verifier
};

TAESCryptoTransform::TAESCryptoTransform(int Strength, uint16_t Crypt_version, uint16_t ActualCompMethod)
    : FPHash(crypto::FindHashDescByName("SHA1")),
      FKeyLengthBytes(static_cast<uint16_t>(Strength / 8)),
      FVersion(Crypt_version),
      FActualCompressionMethod(ActualCompMethod) {
  if (Strength != 128 && Strength != 192 && Strength != 256)
    throw std::invalid_argument("TAESCryptoTransform: key length must be 128, 192 or 256 bits");
}

TAESCryptoTransform::~TAESCryptoTransform() { Reset(); }

std::unique_ptr<TAESCryptoTransform> TAESCryptoTransform::CreateAESEncryption(int KeyLengthBits,
                                                                              uint16_t VersionNumber,
                                                                              uint16_t CompressionMethod) {
  return std::make_unique<TAESCryptoTransform>(KeyLengthBits, VersionNumber, CompressionMethod);
}

void TAESCryptoTransform::Reset() {
  crypto::ProtectMemory(FPassword.data(), FPassword.size());
  FPassword.clear();
  FKeyGenerator.reset();
  FCryptor.reset();
  // A context left open still holds the key pad.
  crypto::ProtectMemory(&FHMAC_Context, sizeof FHMAC_Context);
  FHashKey.clear();
  FEncryptionKey.clear();
  FPasswordVerificationValue.clear();
  FSaltValue.clear();
  FAuthenticationCode.clear();
  FSaltLoaded = false;
  FMacOpen = false;
}

TAESCryptoTransform::TDerived TAESCryptoTransform::Derive(const std::string& passwordBytes) const {
  TDerived d;
  d.generator = std::make_unique<crypto::TPBKDF2>(passwordBytes, std::span<const uint8_t>(FSaltValue), kIterations);
  d.bytes = d.generator->GetKeyBytes(2 * size_t{FKeyLengthBytes} + kVerifierSize);
  return d;
}

void TAESCryptoTransform::UseKeys(TDerived&& d) {
  const size_t n = FKeyLengthBytes;
  FEncryptionKey.assign(d.bytes.begin(), d.bytes.begin() + static_cast<ptrdiff_t>(n));
  FHashKey.assign(d.bytes.begin() + static_cast<ptrdiff_t>(n), d.bytes.begin() + static_cast<ptrdiff_t>(2 * n));
  FPasswordVerificationValue.assign(d.bytes.end() - kVerifierSize, d.bytes.end());
  FKeyGenerator = std::move(d.generator);
  crypto::HmacInit(FHMAC_Context, FPHash, FHashKey.data(), FHashKey.size());
  FMacOpen = true;
  FCryptor = std::make_unique<crypto::TCipher_Rijndael>(std::span<const uint8_t>(FEncryptionKey));
  FCryptor->SetMode(crypto::cmCTR);
}

void TAESCryptoTransform::GenerateKey(const std::string& Password) {
  if (FTransformMode == TCryptoTransformMode::Decryption) {
    // The keys of an accepted password are there already.
    if (FCryptor && Password == FPassword) return;
    FPassword = Password;
    if (!FSaltLoaded) return;
    TDerived d = Derive(TWipedString{ZAPasswordBytes(Password)}.s);
    // The stored verifier stays: CheckPassword compares against it.
    crypto::TSecretBytes stored = FPasswordVerificationValue;
    UseKeys(std::move(d));
    FPasswordVerificationValue = stored;
    return;
  }
  FPassword = Password;
  auto generator = std::make_unique<crypto::TPBKDF2>(TWipedString{ZAPasswordBytes(Password)}.s,
                                                     size_t{FKeyLengthBytes} / 2, kIterations);
  const std::vector<uint8_t> salt = generator->GetSaltValue();
  FSaltValue.assign(salt.begin(), salt.end());
  TDerived d;
  d.bytes = generator->GetKeyBytes(2 * size_t{FKeyLengthBytes} + kVerifierSize);
  d.generator = std::move(generator);
  UseKeys(std::move(d));
}

bool TAESCryptoTransform::CheckPassword(const std::string& Password, const TDirItem&) {
  if (FTransformMode != TCryptoTransformMode::Decryption || !FSaltLoaded) return false;
  // The 1251 bytes first, as this archiver writes them; then the UTF-8
  // bytes, as tools on other systems write a password 1251 can hold too.
  const TWipedString ansi{ZAPasswordBytes(Password)};
  if (!AcceptIfVerified(ansi.s) && (ansi.s == Password || !AcceptIfVerified(Password))) return false;
  FPassword = Password;
  return true;
}

bool TAESCryptoTransform::AcceptIfVerified(const std::string& passwordBytes) {
  TDerived d = Derive(passwordBytes);
  if (!crypto::ConstantTimeEqual(d.bytes.data() + d.bytes.size() - kVerifierSize,
                                 FPasswordVerificationValue.data(), kVerifierSize))
    return false;
  UseKeys(std::move(d));
  return true;
}

void TAESCryptoTransform::RequireKeys() const {
  if (!FCryptor || !FMacOpen) throw std::logic_error("TAESCryptoTransform: no key");
}

int64_t TAESCryptoTransform::EncryptBuffer(const uint8_t* InputBuffer, int64_t InputOffset, int64_t InputCount,
                                           uint8_t* OutputBuffer, int64_t OutputOffset) {
  return Code(InputBuffer + InputOffset, OutputBuffer + OutputOffset, InputCount, false);
}

int64_t TAESCryptoTransform::DecryptBuffer(const uint8_t* InputBuffer, int64_t InputOffset, int64_t InputCount,
                                           uint8_t* OutputBuffer, int64_t OutputOffset) {
  return Code(InputBuffer + InputOffset, OutputBuffer + OutputOffset, InputCount, true);
}

int64_t TAESCryptoTransform::Code(const uint8_t* in, uint8_t* out, int64_t count, bool decrypt) {
  RequireKeys();
  for (int64_t done = 0; done < count; done += kPiece) {
    const size_t n = static_cast<size_t>(std::min(kPiece, count - done));
    // The code covers the ciphertext: on the way in it is taken before
    // decrypting (which may be in place), on the way out after encrypting.
    if (decrypt) {
      crypto::HmacUpdate(FHMAC_Context, in + done, n);
      FCryptor->DecodeBuffer(in + done, out + done, n);
    } else {
      FCryptor->EncodeBuffer(in + done, out + done, n);
      crypto::HmacUpdate(FHMAC_Context, out + done, n);
    }
  }
  return std::max<int64_t>(count, 0);
}

std::vector<uint8_t> TAESCryptoTransform::GetFileStorageStartBlock() {
  std::vector<uint8_t> block(FSaltValue.begin(), FSaltValue.end());
  block.insert(block.end(), FPasswordVerificationValue.begin(), FPasswordVerificationValue.end());
  return block;
}

bool TAESCryptoTransform::LoadFileStorageStartBlock(platform::TStream& Stream, int64_t Offset) {
  const int64_t saltSize = FKeyLengthBytes / 2;
  crypto::TSecretBytes block(static_cast<size_t>(saltSize + kVerifierSize));
  if (!ReadExactly(Stream, Offset, block.data(), static_cast<int64_t>(block.size()))) return false;
  FSaltValue.assign(block.begin(), block.begin() + saltSize);
  FPasswordVerificationValue.assign(block.begin() + saltSize, block.end());
  FSaltLoaded = true;
  return true;
}

void TAESCryptoTransform::FinishMac(uint8_t code[10]) {
  crypto::THashDigest digest{};
  if (FMacOpen) crypto::HmacFinal(FHMAC_Context, digest);
  FMacOpen = false;
  std::copy(digest.begin(), digest.begin() + FAuthenticationCodeSize, code);
  crypto::ProtectMemory(digest.data(), digest.size());
}

std::vector<uint8_t> TAESCryptoTransform::GetFileStorageEndBlock() {
  RequireKeys();
  uint8_t code[10];
  FinishMac(code);
  FAuthenticationCode.assign(code, code + FAuthenticationCodeSize);
  return {code, code + FAuthenticationCodeSize};
}

bool TAESCryptoTransform::LoadFileStorageEndBlock(platform::TStream& Stream, int64_t Offset) {
  FAuthenticationCode.assign(static_cast<size_t>(FAuthenticationCodeSize), 0);
  return ReadExactly(Stream, Offset, FAuthenticationCode.data(), FAuthenticationCodeSize);
}

bool TAESCryptoTransform::IsDirItemCorrupted(const TDirItem& Item, uint32_t Crc32) {
  if (!FMacOpen || FAuthenticationCode.size() != static_cast<size_t>(FAuthenticationCodeSize)) return true;
  uint8_t code[10];
  FinishMac(code);
  const bool macGood = crypto::ConstantTimeEqual(code, FAuthenticationCode.data(), 10);
  // Only AE-2 drops the CRC; older items keep it as a second check.
  return !macGood || (FVersion != kAE2 && Item.CentralDir.crc32 != Crc32);
}

void TAESCryptoTransform::GetExtraFieldData(TZAExtraFieldDataBlock& block) {
  TZAAESExtraInfo info;
  info.version = FVersion;
  info.vendor = ZA_AES_VENDOR;
  info.strength = static_cast<uint8_t>(FKeyLengthBytes / 8 - 1);
  info.actualMethod = FActualCompressionMethod;
  block = info.ToBlock();
}

}  // namespace archiver
