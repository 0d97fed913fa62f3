// BENCH_LIBS: archiver_crypto crypto
// The crypto library against OpenSSL in the same run, on a 1 MiB buffer:
// AES counter mode (hardware path and table code), SHA-1 (SHA instructions
// and portable code), HMAC-SHA-1, and
// one PBKDF2 derivation as an AES item makes it. Then SHA-1, MD4 and
// RIPEMD-256 of 4 GiB + 1 zero bytes against digests made once with the
// peers (openssl dgst, libmhash): the 64-bit length counts.
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archiver/crypto/ZACipher.h"
#include "archiver/crypto/ZAHashClasses.h"
#include "archiver/crypto/ZApb_kdf.h"
#include "archiver/crypto/ZAhmac.h"
#include "archiver/crypto/ZAsha1.h"
#include "bench/BenchUtil.h"

using namespace archiver::crypto;
using bench::BestSeconds;

namespace {

constexpr size_t kSize = 1u << 20;
constexpr int kRounds = 20;
volatile uint8_t g_sink;

double MiBs(double seconds) { return static_cast<double>(kSize) / (1 << 20) / seconds; }

void Row(const char* what, double ours, double peer) {
  std::printf("%-34s %9.0f MiB/s   OpenSSL %9.0f MiB/s   ratio %.2f\n", what, ours, peer, ours / peer);
}

double OpenSslCtr(const std::vector<uint8_t>& key, std::vector<uint8_t>& buf) {
  const EVP_CIPHER* c = key.size() == 16 ? EVP_aes_128_ctr() : EVP_aes_256_ctr();
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  uint8_t iv[16] = {1};
  EVP_EncryptInit_ex(ctx, c, nullptr, key.data(), iv);
  const double s = BestSeconds(kRounds, [&] {
    int n = 0;
    EVP_EncryptUpdate(ctx, buf.data(), &n, buf.data(), static_cast<int>(buf.size()));
  });
  EVP_CIPHER_CTX_free(ctx);
  return MiBs(s);
}

double OursCtr(const std::vector<uint8_t>& key, std::vector<uint8_t>& buf) {
  TCipher_Rijndael c;
  c.Init(key.data(), static_cast<int>(key.size()), nullptr);
  c.SetMode(cmCTR);
  return MiBs(BestSeconds(kRounds, [&] { c.EncodeBuffer(buf.data(), buf.data(), buf.size()); }));
}

// Digest of 4 GiB + 1 zero bytes, fed 1 MiB at a time.
std::string BigZeroDigest(const std::function<void(const uint8_t*, size_t)>& feed,
                          const std::function<std::string()>& finish) {
  static const std::vector<uint8_t> zeros(kSize, 0);
  for (int i = 0; i < 4096; ++i) feed(zeros.data(), zeros.size());
  feed(zeros.data(), 1);
  return finish();
}

std::string Hex(const uint8_t* p, size_t n) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", p[i]);
    s += b;
  }
  return s;
}

}  // namespace

int main() {
  std::vector<uint8_t> buf(kSize);
  std::mt19937 gen(1);
  for (auto& b : buf) b = static_cast<uint8_t>(gen());

  std::printf("AES instructions: %s\n", TCipher_Rijndael::HardwareAvailable() ? "yes" : "no");
  for (size_t keyLen : {16u, 32u}) {
    const std::vector<uint8_t> key(keyLen, 7);
    const double peer = OpenSslCtr(key, buf);
    const std::string bits = std::to_string(keyLen * 8);
    if (TCipher_Rijndael::HardwareAvailable())
      Row(("AES-" + bits + " cmCTR, AES instructions").c_str(), OursCtr(key, buf), peer);
    TCipher_Rijndael::ForcePortable(true);
    Row(("AES-" + bits + " cmCTR, table code").c_str(), OursCtr(key, buf), peer);
    TCipher_Rijndael::ForcePortable(false);
  }

  {
    THashDigest d;
    uint8_t md[20];
    const double peer = MiBs(BestSeconds(kRounds, [&] { SHA1(buf.data(), buf.size(), md); }));
    for (const bool portable : {false, true}) {
      if (!portable && !SHA1HardwareAvailable()) continue;
      SHA1ForcePortable(portable);
      const double ours = MiBs(BestSeconds(kRounds, [&] { HashFull(SHA1Desc(), d, buf.data(), buf.size()); }));
      Row(portable ? "SHA-1, portable code" : "SHA-1, SHA instructions", ours, peer);
    }
    SHA1ForcePortable(false);
    g_sink = d[0] ^ md[0];
  }
  {
    const uint8_t key[20] = {1, 2, 3};
    THashDigest d;
    const double ours = MiBs(BestSeconds(kRounds, [&] {
      THMAC_Context ctx;
      HmacInit(ctx, &SHA1Desc(), key, sizeof key);
      HmacUpdate(ctx, buf.data(), buf.size());
      HmacFinal(ctx, d);
    }));
    uint8_t md[20];
    size_t len = 0;
    const double peer = MiBs(BestSeconds(kRounds, [&] {
      EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA1", nullptr, key, sizeof key, buf.data(), buf.size(), md, sizeof md,
                &len);
    }));
    g_sink = d[0] ^ md[0];
    Row("HMAC-SHA-1", ours, peer);
  }
  {
    const char pw[] = "correct horse battery staple";
    const uint8_t salt[16] = {9, 8, 7};
    uint8_t ours[66], peer[66];
    const double so = BestSeconds(kRounds, [&] {
      Pbkdf2Sha1(pw, sizeof pw - 1, salt, sizeof salt, 1000, ours, sizeof ours);
    });
    const double sp = BestSeconds(kRounds, [&] {
      PKCS5_PBKDF2_HMAC_SHA1(pw, sizeof pw - 1, salt, sizeof salt, 1000, sizeof peer, peer);
    });
    std::printf("%-34s %9.3f ms      OpenSSL %9.3f ms      ratio %.2f (time)%s\n",
                "PBKDF2-SHA-1, 66 bytes, 1000 iter.", so * 1e3, sp * 1e3, so / sp,
                std::memcmp(ours, peer, sizeof ours) == 0 ? "" : "  MISMATCH");
  }

  // Made once: openssl dgst -sha1 / -md4 and libmhash over
  // `head -c 4294967297 /dev/zero`.
  const struct {
    const char* name;
    const char* expected;
  } big[] = {{"SHA-1", "e7d747b75f76e0e41e83b75bce4642816136304f"},
             {"MD4", "cfa129f7157e794786372a7840c8e341"},
             {"RIPEMD-256", "a230dc02a47e13c30e47fd2ceb5c54ec70d77892a87a4a03557cc1120a492b40"}};
  std::string got[3];
  {
    THashContext ctx;
    SHA1Init(ctx);
    got[0] = BigZeroDigest([&](const uint8_t* p, size_t n) { SHA1UpdateXL(ctx, p, n); },
                           [&] {
                             THashDigest d;
                             SHA1Final(ctx, d);
                             return Hex(d.data(), 20);
                           });
  }
  for (int i = 1; i < 3; ++i) {
    std::shared_ptr<THash> h = (i == 1 ? THash_MD4::Class() : THash_RipeMD256::Class())->Create();
    h->Init();
    got[i] = BigZeroDigest([&](const uint8_t* p, size_t n) { h->Calc(p, n); },
                           [&] {
                             h->Done();
                             return Hex(h->DigestKey(), static_cast<size_t>(h->DigestKeySize()));
                           });
  }
  for (int i = 0; i < 3; ++i)
    std::printf("%-10s of 4 GiB + 1 zero bytes: %s\n", big[i].name, got[i] == big[i].expected ? "matches the peers"
                                                                                               : "DIFFERS from the peers");
  return 0;
}
