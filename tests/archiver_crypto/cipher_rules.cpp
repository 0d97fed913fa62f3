// AES and the cipher framework: FIPS-197 answers, the counter mode of AES
// items, key sizes, and the ways a cipher refuses to code.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "archiver/crypto/ZACipher.h"
#include "crypto_util.h"

using namespace archiver::crypto;
using namespace crypto_test;

namespace {

Bytes Key(size_t n) {
  Bytes k(n);
  for (size_t i = 0; i < n; ++i) k[i] = static_cast<uint8_t>(i);
  return k;
}

// A cipher keyed with Init only (no key run through it), in `mode`.
std::unique_ptr<TCipher_Rijndael> Keyed(const Bytes& key, TCipherMode mode, const void* iv = nullptr) {
  auto c = std::make_unique<TCipher_Rijndael>();
  c->Init(key.data(), static_cast<int>(key.size()), iv);
  c->SetMode(mode);
  return c;
}

int ErrorCodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ECipherException& e) {
    return e.ErrorCode;
  }
  return -1;
}

}  // namespace

TEST(Rijndael, Fips197AppendixC) {
  const Bytes plain = Unhex("00112233445566778899aabbccddeeff");
  const struct {
    size_t keyLen;
    int rounds;
    const char* cipher;
  } cases[] = {{16, 10, "69c4e0d86a7b0430d8cdb78070b4c55a"},
               {24, 12, "dda97ca4864cdfe06eaf70a0ec0d7191"},
               {32, 14, "8ea2b7ca516745bfeafc49904b496089"}};
  OnBothPaths([&] {
    EXPECT_TRUE(TCipher_Rijndael::SelfTest());
    for (const auto& t : cases) {
      auto c = Keyed(Key(t.keyLen), cmECB);
      EXPECT_EQ(c->Rounds(), t.rounds);
      Bytes out(16);
      c->EncodeBuffer(plain.data(), out.data(), 16);
      EXPECT_EQ(Hex(out), t.cipher) << t.keyLen;
      c->DecodeBuffer(out.data(), out.data(), 16);  // in place
      EXPECT_EQ(out, plain);
    }
  });
}

TEST(Rijndael, CounterModeContinuesAcrossCallsAndCarries) {
  OnBothPaths([] {
    const Bytes key = Key(32);
    const Bytes data = RandomData(16 * 300 + 5, 1);
    Bytes once(data.size()), pieces(data.size());
    Keyed(key, cmCTR)->EncodeBuffer(data.data(), once.data(), data.size());
    auto c = Keyed(key, cmCTR);
    c->EncodeBuffer(data.data(), pieces.data(), 5);
    c->EncodeBuffer(data.data() + 5, pieces.data() + 5, 11);
    c->EncodeBuffer(data.data() + 16, pieces.data() + 16, data.size() - 16);
    EXPECT_EQ(pieces, once);

    // Keystream block n is E(n as a little-endian count in bytes 0..7):
    // block 1 is E(01 00 ..), block 256 is E(00 01 00 ..).
    Bytes ks(16 * 256, 0);
    Keyed(key, cmCTR)->EncodeBuffer(ks.data(), ks.data(), ks.size());
    auto ecb = Keyed(key, cmECB);
    Bytes counter(16, 0), block(16);
    counter[0] = 1;
    ecb->EncodeBuffer(counter.data(), block.data(), 16);
    EXPECT_EQ(Bytes(ks.begin(), ks.begin() + 16), block);
    counter[0] = 0;
    counter[1] = 1;
    ecb->EncodeBuffer(counter.data(), block.data(), 16);
    EXPECT_EQ(Bytes(ks.end() - 16, ks.end()), block);

    // Decoding is the same operation.
    auto d = Keyed(key, cmCTR);
    d->DecodeBuffer(once.data(), once.data(), once.size());
    EXPECT_EQ(once, data);
  });
}

TEST(Rijndael, KeySizes) {
  OnBothPaths([] {
    // 20 bytes: 12 rounds, the key padded with zeros to 24.
    Bytes k20 = Key(20), k24 = Key(20);
    k24.resize(24, 0);
    const Bytes data = RandomData(64, 2);
    Bytes a(64), b(64);
    auto c20 = Keyed(k20, cmCBC);
    EXPECT_EQ(c20->Rounds(), 12);
    c20->EncodeBuffer(data.data(), a.data(), 64);
    Keyed(k24, cmCBC)->EncodeBuffer(data.data(), b.data(), 64);
    EXPECT_EQ(a, b);

    // 33 bytes: cut to 32, unless the strict switch is on.
    const Bytes k33 = Key(33);
    Keyed(k33, cmCBC)->EncodeBuffer(data.data(), a.data(), 64);
    Keyed(Key(32), cmCBC)->EncodeBuffer(data.data(), b.data(), 64);
    EXPECT_EQ(a, b);
    SetStrictKeySize(true);
    TCipher_Rijndael c;
    try {
      c.Init(k33.data(), 33, nullptr);
      ADD_FAILURE() << "no exception";
    } catch (const ECipherException& e) {
      EXPECT_EQ(e.ErrorCode, 2);
      EXPECT_STREQ(e.what(), "Length from Encryptionkey is invalid.\r\nKeysize for TCipher_Rijndael must be to 0-32 bytes");
    }
    SetStrictKeySize(false);
    EXPECT_FALSE(c.Initialized());
  });
}

TEST(Rijndael, RefusesToCodeWithoutKeyPartialEcbBlockOrUnknownMode) {
  const Bytes data = RandomData(17, 3);
  Bytes dest(17, 0xEE);
  TCipher_Rijndael fresh;
  try {
    fresh.EncodeBuffer(data.data(), dest.data(), 16);
    ADD_FAILURE() << "no exception";
  } catch (const ECipherException& e) {
    EXPECT_EQ(e.ErrorCode, 3);
    EXPECT_STREQ(e.what(), "TCipher_Rijndael is not initialized call Init() or InitKey() before.");
  }
  auto ecb = Keyed(Key(16), cmECB);
  EXPECT_EQ(ErrorCodeOf([&] { ecb->EncodeBuffer(data.data(), dest.data(), 17); }), 4);
  EXPECT_EQ(ErrorCodeOf([&] { ecb->DecodeBuffer(data.data(), dest.data(), 1); }), 4);
  auto bad = Keyed(Key(16), static_cast<TCipherMode>(9));
  try {
    bad->DecodeBuffer(data.data(), dest.data(), 17);
    ADD_FAILURE() << "no exception";
  } catch (const ECipherException& e) {
    EXPECT_EQ(e.ErrorCode, 4);
    EXPECT_STREQ(e.what(), "TCipher_Rijndael: cannot code 17 bytes in mode 9.");
  }
  EXPECT_EQ(dest, Bytes(17, 0xEE));
  // A forgotten key is no key.
  ecb->Protect();
  EXPECT_EQ(ErrorCodeOf([&] { ecb->EncodeBuffer(data.data(), dest.data(), 16); }), 3);
}

TEST(Rijndael, InitKeyLeavesTheCallersKeyAndKeysLikeInit) {
  OnBothPaths([] {
    const Bytes key = RandomData(24, 4);
    const Bytes copy = key;
    TCipher_Rijndael byInitKey(key);
    EXPECT_EQ(key, copy);
    EXPECT_TRUE(byInitKey.Initialized());
    EXPECT_TRUE(byInitKey.HasHashKey());
    // Running the key through the cipher moved the chaining register, and
    // Done put it back: both objects code alike in every mode.
    for (TCipherMode m : {cmCTS, cmCBC, cmCFB, cmCTR}) {
      const Bytes data = RandomData(40, 5);
      Bytes a(40), b(40);
      byInitKey.SetMode(m);
      byInitKey.EncodeBuffer(data.data(), a.data(), 40);
      byInitKey.Done();
      Keyed(key, m)->EncodeBuffer(data.data(), b.data(), 40);
      EXPECT_EQ(a, b) << int(m);
    }
  });
}

TEST(Rijndael, TextKeyIsTheRipeMD256DigestOfTheText) {
  TCipher_Rijndael byText("secret", nullptr);
  const std::string digest = THash::CalcString(THash_RipeMD256::Class(), "secret", nullptr, fmtCOPY);
  TCipher_Rijndael byBytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(digest.data()), 32));
  const Bytes data = RandomData(48, 6);
  Bytes a(48), b(48);
  byText.EncodeBuffer(data.data(), a.data(), 48);
  byBytes.EncodeBuffer(data.data(), b.data(), 48);
  EXPECT_EQ(a, b);
  EXPECT_FALSE(TCipher_Rijndael("", nullptr).Initialized());
}

TEST(Rijndael, ChainingRestartsAtDoneAndProtectForgetsTheCounter) {
  OnBothPaths([] {
    const Bytes data = RandomData(35, 7);
    Bytes a(35), b(35);
    auto c = Keyed(Key(16), cmCBC);
    c->EncodeBuffer(data.data(), a.data(), 35);
    c->EncodeBuffer(data.data(), b.data(), 35);
    EXPECT_NE(a, b);
    c->Done();
    c->EncodeBuffer(data.data(), b.data(), 35);
    EXPECT_EQ(a, b);

    // Half a keystream block used, then a new key: the new key's stream
    // starts from its own first block.
    auto ctr = Keyed(Key(16), cmCTR);
    ctr->EncodeBuffer(data.data(), a.data(), 5);
    ctr->Protect();
    const Bytes other = RandomData(16, 8);
    ctr->Init(other.data(), 16, nullptr);
    ctr->EncodeBuffer(data.data(), a.data(), 35);
    Keyed(other, cmCTR)->EncodeBuffer(data.data(), b.data(), 35);
    EXPECT_EQ(a, b);
  });
}

TEST(Rijndael, MacModesNeverWriteDestAndCountEveryByte) {
  OnBothPaths([] {
    for (TCipherMode m : {cmCTSMAC, cmCBCMAC, cmCFBMAC}) {
      SCOPED_TRACE(int(m));
      const Bytes data = RandomData(37, 9);
      Bytes dest(37, 0x5A);
      auto mac = [&](const Bytes& msg, bool decode) {
        auto c = Keyed(Key(16), m, Bytes(16, 0).data());
        if (decode)
          c->DecodeBuffer(msg.data(), dest.data(), msg.size());
        else
          c->EncodeBuffer(msg.data(), dest.data(), msg.size());
        return Bytes(c->Feedback().begin(), c->Feedback().end());
      };
      const Bytes code = mac(data, false);
      EXPECT_EQ(dest, Bytes(37, 0x5A));
      EXPECT_EQ(mac(data, true), code);
      EXPECT_EQ(dest, Bytes(37, 0x5A));
      EXPECT_NE(code, Bytes(16, 0));
      // A change in the short last block changes the code.
      Bytes changed = data;
      changed.back() ^= 1;
      EXPECT_NE(mac(changed, false), code);
    }
  });
}

TEST(CipherRegistry, RijndaelIsRegisteredAndReRegistrationReplaces) {
  auto find = [] {
    int n = 0;
    std::string text;
    for (const auto& e : RegisteredCipherClasses())
      if (e.Class == TCipher_Rijndael::Class()) {
        ++n;
        text = e.Text;
      }
    return std::make_pair(n, text);
  };
  EXPECT_EQ(find(), std::make_pair(1, std::string("Rijndael=")));
  RegisterCipherClass(TCipher_Rijndael::Class(), "AES", "FIPS-197");
  EXPECT_EQ(find(), std::make_pair(1, std::string("AES=FIPS-197")));
  RegisterCipherClass(TCipher_Rijndael::Class(), "", "");
  EXPECT_EQ(find(), std::make_pair(1, std::string("Rijndael=")));
}
