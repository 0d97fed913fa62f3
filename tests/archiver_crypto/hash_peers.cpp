// SHA-1, HMAC-SHA-1, PBKDF2, MD4 and RIPEMD-256 against peers: libcrypto,
// the openssl command, Python's hashlib and hmac, libmhash. Data of every
// size around the 64-byte block and its padding, fed whole and in random
// pieces.
#include <gtest/gtest.h>
#include <mhash.h>
#include <openssl/sha.h>

#include <cstdlib>

#include "archiver/crypto/ZAHashClasses.h"
#include "archiver/crypto/ZApb_kdf.h"
#include "archiver/crypto/ZAhmac.h"
#include "archiver/crypto/ZAsha1.h"
#include "crypto_util.h"

using namespace archiver::crypto;
using namespace crypto_test;

namespace {

std::string OurSha1(const Bytes& data, const std::vector<size_t>& cuts) {
  THashContext ctx;
  SHA1Init(ctx);
  for (size_t i = 0; i + 1 < cuts.size(); ++i) SHA1UpdateXL(ctx, data.data() + cuts[i], cuts[i + 1] - cuts[i]);
  THashDigest d;
  SHA1Final(ctx, d);
  return Hex(d.data(), 20);
}

std::string OurHmac(const Bytes& key, const Bytes& data, const std::vector<size_t>& cuts) {
  THMAC_Context ctx;
  HmacInit(ctx, &SHA1Desc(), key.data(), key.size());
  for (size_t i = 0; i + 1 < cuts.size(); ++i) HmacUpdate(ctx, data.data() + cuts[i], cuts[i + 1] - cuts[i]);
  THashDigest d;
  HmacFinal(ctx, d);
  return Hex(d.data(), 20);
}

std::string OurClassHash(THashClass cls, const Bytes& data, const std::vector<size_t>& cuts) {
  std::shared_ptr<THash> h = cls->Create();
  h->Init();
  for (size_t i = 0; i + 1 < cuts.size(); ++i) h->Calc(data.data() + cuts[i], cuts[i + 1] - cuts[i]);
  h->Done();
  return Hex(h->DigestKey(), static_cast<size_t>(h->DigestKeySize()));
}

std::string Mhash(hashid id, const Bytes& data) {
  MHASH m = mhash_init(id);
  mhash(m, data.data(), static_cast<mutils_word32>(data.size()));
  auto* d = static_cast<uint8_t*>(mhash_end(m));
  const std::string hex = Hex(d, mhash_get_block_size(id));
  std::free(d);
  return hex;
}

}  // namespace

TEST(HashPeers, Sha1MatchesLibcryptoHashlibAndTheCommand) {
  TempDir dir;
  std::string py = "import hashlib\n";
  std::vector<std::string> ours;
  uint32_t seed = 1;
  for (size_t n : PeerSizes()) {
    SCOPED_TRACE(n);
    const Bytes data = RandomData(n, seed++);
    uint8_t peer[20];
    SHA1(data.data(), data.size(), peer);
    const std::string whole = OurSha1(data, {0, n});
    EXPECT_EQ(whole, Hex(peer, 20));
    EXPECT_EQ(OurSha1(data, RandomCuts(n, 7, seed++)), whole);
    // The portable code and the processor's SHA instructions agree.
    SHA1ForcePortable(true);
    EXPECT_EQ(OurSha1(data, RandomCuts(n, 5, seed++)), whole);
    SHA1ForcePortable(false);
    const std::string file = dir / ("d" + std::to_string(n));
    WriteFile(file, std::string(data.begin(), data.end()));
    py += "print(hashlib.sha1(open('" + file + "','rb').read()).hexdigest())\n";
    ours.push_back(whole);
  }
  EXPECT_EQ(RunPython(py), ours);
  const std::string file = dir / ("d" + std::to_string(PeerSizes().back()));
  EXPECT_EQ(RunCmd("openssl dgst -sha1 -r " + file).substr(0, 40), ours.back());
}

TEST(HashPeers, HmacSha1MatchesPythonHmac) {
  TempDir dir;
  std::string py = "import hmac, hashlib\n";
  std::vector<std::string> ours;
  uint32_t seed = 50;
  for (size_t keyLen : {0u, 1u, 20u, 64u, 65u, 200u, 1000u}) {
    const Bytes key = RandomData(keyLen, seed++);
    for (size_t n : PeerSizes()) {
      const Bytes data = RandomData(n, seed++);
      const std::string whole = OurHmac(key, data, {0, n});
      EXPECT_EQ(OurHmac(key, data, RandomCuts(n, 5, seed++)), whole) << keyLen << " " << n;
      const std::string file = dir / (std::to_string(keyLen) + "-" + std::to_string(n));
      WriteFile(file, std::string(data.begin(), data.end()));
      py += "print(hmac.new(bytes.fromhex('" + Hex(key) + "'), open('" + file +
            "','rb').read(), hashlib.sha1).hexdigest())\n";
      ours.push_back(whole);
    }
  }
  EXPECT_EQ(RunPython(py), ours);
}

TEST(HashPeers, Pbkdf2MatchesHashlibAndOpensslKdf) {
  std::string py = "import hashlib\n";
  std::vector<std::string> ours;
  uint32_t seed = 90;
  struct Case {
    Bytes pw, salt;
    uint32_t iter;
    size_t dkLen;
  };
  std::vector<Case> cases;
  for (uint32_t iter : {1u, 1000u, 4096u})
    for (size_t dkLen : {1u, 20u, 21u, 34u, 66u})
      cases.push_back({RandomData(1 + seed % 40, seed), RandomData(8 + seed % 9, seed + 1), iter, dkLen}), seed += 2;
  // Passwords longer than the hash block (and one of 40,000 bytes), an
  // empty password, dkLen up to the 16-bit limit.
  cases.push_back({RandomData(65, 7), RandomData(16, 8), 3, 65535});
  cases.push_back({Bytes(40000, 'p'), Bytes{1, 2, 3, 4, 5, 6, 7, 8}, 2, 20});
  cases.push_back({{}, RandomData(8, 9), 10, 40});
  for (const Case& c : cases) {
    Bytes dk(c.dkLen);
    ASSERT_EQ(Pbkdf2Sha1(c.pw.data(), c.pw.size(), c.salt.data(), c.salt.size(), c.iter, dk.data(), dk.size()), 0);
    ours.push_back(Hex(dk));
    py += "print(hashlib.pbkdf2_hmac('sha1', bytes.fromhex('" + Hex(c.pw) + "'), bytes.fromhex('" + Hex(c.salt) +
          "'), " + std::to_string(c.iter) + ", " + std::to_string(c.dkLen) + ").hex())\n";
  }
  EXPECT_EQ(RunPython(py), ours);
  // The command-line peer, on the first fifteen cases.
  for (size_t i = 0; i < 15; ++i) {
    const Case& c = cases[i];
    std::string out = RunCmd("openssl kdf -keylen " + std::to_string(c.dkLen) +
                             " -kdfopt digest:SHA1 -kdfopt hexpass:" + Hex(c.pw) + " -kdfopt hexsalt:" +
                             Hex(c.salt) + " -kdfopt iter:" + std::to_string(c.iter) + " PBKDF2");
    std::string hex;
    for (char ch : out)
      if (std::isxdigit(static_cast<unsigned char>(ch))) hex += static_cast<char>(std::tolower(ch));
    EXPECT_EQ(hex, ours[i]) << i;
  }
}

TEST(HashPeers, Md4AndRipeMD256MatchLibmhashAndTheCommand) {
  TempDir dir;
  uint32_t seed = 200;
  for (size_t n : PeerSizes()) {
    SCOPED_TRACE(n);
    const Bytes data = RandomData(n, seed++);
    const std::string md4 = OurClassHash(THash_MD4::Class(), data, {0, n});
    EXPECT_EQ(md4, Mhash(MHASH_MD4, data));
    EXPECT_EQ(OurClassHash(THash_MD4::Class(), data, RandomCuts(n, 6, seed++)), md4);
    const std::string rmd = OurClassHash(THash_RipeMD256::Class(), data, {0, n});
    EXPECT_EQ(rmd, Mhash(MHASH_RIPEMD256, data));
    EXPECT_EQ(OurClassHash(THash_RipeMD256::Class(), data, RandomCuts(n, 6, seed++)), rmd);
    if (n == 129) {
      WriteFile(dir / "d", std::string(data.begin(), data.end()));
      EXPECT_EQ(RunCmd("openssl dgst -md4 -provider legacy -provider default -r " + (dir / "d")).substr(0, 32), md4);
    }
  }
}
