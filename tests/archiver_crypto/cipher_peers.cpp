// AES modes against OpenSSL's libcrypto, on random data around every block
// boundary and on 1 MiB + 7 bytes, coded whole and in random pieces, on
// both AES paths.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <functional>

#include "archiver/crypto/ZACipher.h"
#include "crypto_util.h"

using namespace archiver::crypto;
using namespace crypto_test;

namespace {

const EVP_CIPHER* Evp(const char* mode, size_t keyLen) {
  const std::string name = "AES-" + std::to_string(keyLen * 8) + "-" + mode;
  return EVP_get_cipherbyname(name.c_str());
}

// OpenSSL's coding of `data`, without padding.
Bytes OpenSsl(const char* mode, const Bytes& key, const Bytes& iv, const Bytes& data, bool encrypt) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(data.size() + 32);
  int n1 = 0, n2 = 0;
  const bool ok = EVP_CipherInit_ex(ctx, Evp(mode, key.size()), nullptr, key.data(), iv.empty() ? nullptr : iv.data(),
                                    encrypt ? 1 : 0) == 1 &&
                  EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                  EVP_CipherUpdate(ctx, out.data(), &n1, data.data(), static_cast<int>(data.size())) == 1 &&
                  EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) == 1;
  EVP_CIPHER_CTX_free(ctx);
  EXPECT_TRUE(ok) << mode;
  out.resize(static_cast<size_t>(n1 + n2));
  return out;
}

// Our coding of `data` in the pieces between `cuts`.
Bytes Ours(TCipherMode mode, const Bytes& key, const Bytes& iv, const Bytes& data, bool encode,
           const std::vector<size_t>& cuts) {
  TCipher_Rijndael c;
  c.Init(key.data(), static_cast<int>(key.size()), iv.empty() ? nullptr : iv.data());
  c.SetMode(mode);
  Bytes out(data.size());
  for (size_t i = 0; i + 1 < cuts.size(); ++i) {
    const size_t at = cuts[i], n = cuts[i + 1] - cuts[i];
    if (encode)
      c.EncodeBuffer(data.data() + at, out.data() + at, n);
    else
      c.DecodeBuffer(data.data() + at, out.data() + at, n);
  }
  return out;
}

std::vector<size_t> Whole(size_t n) { return {0, n}; }

// The 8-bit feedback modes run the cipher once per byte: they get the long
// case cut to 64 KiB + 7, which still crosses every internal boundary.
Bytes PerByteData(const Bytes& data) {
  return Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(data.size(), 65536 + 7)));
}

std::vector<size_t> BlockCuts(size_t n, uint32_t seed) {
  std::vector<size_t> cuts = RandomCuts(n / 16, 6, seed);
  for (auto& c : cuts) c *= 16;
  cuts.back() = n;
  return cuts;
}

// The peer's view of the archiver's counter mode: ECB over the blocks
// 01 00.., 02 00.., .. (a little-endian count), xored into the data.
Bytes CounterKeystreamXor(const Bytes& key, const Bytes& data) {
  const size_t blocks = (data.size() + 15) / 16;
  Bytes counters(blocks * 16, 0);
  for (size_t i = 0; i < blocks; ++i) {
    const uint64_t n = i + 1;
    for (int b = 0; b < 8; ++b) counters[16 * i + b] = static_cast<uint8_t>(n >> (8 * b));
  }
  Bytes out = OpenSsl("ECB", key, {}, counters, true);
  for (size_t i = 0; i < data.size(); ++i) out[i] ^= data[i];
  out.resize(data.size());
  return out;
}

}  // namespace

TEST(RijndaelPeers, EcbCbcCtrAndCfb8MatchOpenSsl) {
  OnBothPaths([] {
    uint32_t seed = 100;
    for (size_t keyLen : {16u, 24u, 32u}) {
      const Bytes key = RandomData(keyLen, seed++);
      const Bytes iv = RandomData(16, seed++);
      for (size_t n : PeerSizes()) {
        SCOPED_TRACE(std::to_string(keyLen) + " byte key, " + std::to_string(n) + " bytes");
        const Bytes data = RandomData(n, seed++);
        const auto cuts = RandomCuts(n, 5, seed++);
        if (n % 16 == 0) {
          const Bytes ecb = OpenSsl("ECB", key, {}, data, true);
          EXPECT_EQ(Ours(cmECB, key, {}, data, true, Whole(n)), ecb);
          EXPECT_EQ(Ours(cmECB, key, {}, ecb, false, BlockCuts(n, seed++)), data);
          const Bytes cbc = OpenSsl("CBC", key, iv, data, true);
          EXPECT_EQ(Ours(cmCBC, key, iv, data, true, BlockCuts(n, seed++)), cbc);
          EXPECT_EQ(Ours(cmCBC, key, iv, cbc, false, BlockCuts(n, seed++)), data);
        } else {
          EXPECT_THROW(Ours(cmECB, key, {}, data, true, Whole(n)), ECipherException);
        }
        const Bytes ctr = CounterKeystreamXor(key, data);
        EXPECT_EQ(Ours(cmCTR, key, {}, data, true, Whole(n)), ctr);
        EXPECT_EQ(Ours(cmCTR, key, {}, ctr, false, cuts), data);
        const Bytes small = PerByteData(data);
        const Bytes cfb = OpenSsl("CFB8", key, iv, small, true);
        EXPECT_EQ(Ours(cmCFB, key, iv, small, true, RandomCuts(small.size(), 5, seed++)), cfb);
        EXPECT_EQ(Ours(cmCFB, key, iv, cfb, false, Whole(small.size())), small);
      }
    }
  });
}

// Only the first counter block is the same in OpenSSL's big-endian CTR.
TEST(RijndaelPeers, FirstCounterBlockMatchesBigEndianCtr) {
  const Bytes key = RandomData(16, 1);
  Bytes iv(16, 0);
  iv[0] = 1;
  const Bytes data = RandomData(32, 2);
  const Bytes peer = OpenSsl("CTR", key, iv, data, true);
  const Bytes ours = Ours(cmCTR, key, {}, data, true, Whole(32));
  EXPECT_EQ(Bytes(ours.begin(), ours.begin() + 16), Bytes(peer.begin(), peer.begin() + 16));
  EXPECT_NE(Bytes(ours.begin() + 16, ours.end()), Bytes(peer.begin() + 16, peer.end()));
}

// No peer has these two modes: they must undo themselves, piece by piece.
TEST(RijndaelPeers, CtsAndOfbRoundTrip) {
  OnBothPaths([] {
    uint32_t seed = 500;
    for (size_t keyLen : {16u, 32u}) {
      const Bytes key = RandomData(keyLen, seed++);
      const Bytes iv = RandomData(16, seed++);
      for (size_t n : PeerSizes()) {
        SCOPED_TRACE(n);
        const Bytes data = RandomData(n, seed++);
        const auto cuts = RandomCuts(n, 4, seed++);
        const Bytes cts = Ours(cmCTS, key, iv, data, true, cuts);
        if (n >= 16) {
          EXPECT_NE(cts, data);
        }
        EXPECT_EQ(Ours(cmCTS, key, iv, cts, false, cuts), data);
        // OFB works byte by byte, so pieces do not matter.
        const Bytes small = PerByteData(data);
        const Bytes ofb = Ours(cmOFB, key, iv, small, true, Whole(small.size()));
        EXPECT_EQ(Ours(cmOFB, key, iv, small, true, RandomCuts(small.size(), 4, seed++)), ofb);
        EXPECT_EQ(Ours(cmOFB, key, iv, ofb, false, RandomCuts(small.size(), 3, seed++)), small);
      }
    }
  });
}
