// SHA-1, HMAC, PBKDF2, MD4 and RIPEMD-256 against their published answers;
// the descriptor registry; the key generator of AES items.
#include <gtest/gtest.h>

#include <cstring>

#include "archiver/crypto/ZAHash.h"
#include "archiver/crypto/ZAHashClasses.h"
#include "archiver/crypto/ZAPBKDF_2.h"
#include "archiver/crypto/ZApb_kdf.h"
#include "archiver/crypto/ZAhmac.h"
#include "archiver/crypto/ZAsha1.h"
#include "crypto_util.h"

using namespace archiver::crypto;
using namespace crypto_test;

namespace {

std::string Sha1Hex(const std::string& m) {
  THashDigest d;
  HashFull(SHA1Desc(), d, m.data(), m.size());
  return Hex(d.data(), 20);
}

std::string HmacHex(const std::string& key, const std::string& msg) {
  THMAC_Context ctx;
  HmacInit(ctx, FindHashDescByName("SHA1"), key.data(), key.size());
  HmacUpdate(ctx, msg.data(), msg.size());
  THashDigest d;
  HmacFinal(ctx, d);
  return Hex(d.data(), 20);
}

std::string Pbkdf2Hex(const std::string& pw, const std::string& salt, uint32_t c, size_t dkLen) {
  Bytes dk(dkLen);
  EXPECT_EQ(Pbkdf2Sha1(pw.data(), pw.size(), salt.data(), salt.size(), c, dk.data(), dk.size()), 0);
  return Hex(dk);
}

}  // namespace

TEST(Sha1, Fips180Examples) {
  EXPECT_EQ(Sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  // A million "a", fed in uneven pieces.
  THashContext ctx;
  SHA1Init(ctx);
  const std::string a(1000, 'a');
  for (size_t done = 0, step = 1; done < 1000000; done += step, step = step % 997 + 1)
    SHA1UpdateXL(ctx, a.data(), std::min(step, 1000000 - done));
  THashDigest d;
  SHA1Final(ctx, d);
  EXPECT_EQ(Hex(d.data(), 20), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Hmac, Rfc2202Sha1Cases) {
  EXPECT_EQ(HmacHex(std::string(20, '\x0b'), "Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00");
  EXPECT_EQ(HmacHex("Jefe", "what do ya want for nothing?"), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
  EXPECT_EQ(HmacHex(std::string(20, '\xaa'), std::string(50, '\xdd')), "125d7342b9ac11cd91a39af48aa17b4f63f175d3");
  std::string k4;
  for (int i = 1; i <= 25; ++i) k4 += static_cast<char>(i);
  EXPECT_EQ(HmacHex(k4, std::string(50, '\xcd')), "4c9007f4026250c6bc8414f9bf50c86c2d7235da");
  EXPECT_EQ(HmacHex(std::string(20, '\x0c'), "Test With Truncation"), "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04");
  EXPECT_EQ(HmacHex(std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First"),
            "aa4ae5e15272d00e95705637ce8a3b55ed402112");
  EXPECT_EQ(HmacHex(std::string(80, '\xaa'),
                    "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
            "e8e99d0f45237d786d6bbaa7965c7808bbff1a91");
}

TEST(Hmac, NoDescriptorComputesNothing) {
  THMAC_Context ctx;
  HmacInit(ctx, nullptr, "k", 1);
  HmacUpdate(ctx, "m", 1);
  THashDigest d;
  d.fill(0x77);
  HmacFinal(ctx, d);
  EXPECT_EQ(d, THashDigest{});
}

TEST(Pbkdf2, Rfc6070Sha1Cases) {
  EXPECT_EQ(Pbkdf2Hex("password", "salt", 1, 20), "0c60c80f961f0e71f3a9b524af6012062fe037a6");
  EXPECT_EQ(Pbkdf2Hex("password", "salt", 2, 20), "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957");
  EXPECT_EQ(Pbkdf2Hex("password", "salt", 4096, 20), "4b007901b765489abead49d926f721d065a429c1");
  EXPECT_EQ(Pbkdf2Hex("passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25),
            "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038");
  EXPECT_EQ(Pbkdf2Hex(std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16),
            "56fa6aa75548099dcc37d7f03425e0c3");
}

TEST(Pbkdf2, DefinedEdgesAndErrors) {
  Bytes dk(8, 0xEE);
  // No bytes asked: none written. No iterations: zero bytes.
  EXPECT_EQ(Pbkdf2Sha1("pw", 2, "s", 1, 1000, dk.data(), 0), 0);
  EXPECT_EQ(dk, Bytes(8, 0xEE));
  EXPECT_EQ(Pbkdf2Sha1("pw", 2, "s", 1, 0, dk.data(), dk.size()), 0);
  EXPECT_EQ(dk, Bytes(8, 0));
  EXPECT_EQ(Pbkdf2(nullptr, "pw", 2, "s", 1, 1, dk.data(), dk.size()), 1);
  THashDesc noDigest = SHA1Desc();
  noDigest.HDigestlen = 0;
  dk.assign(8, 0xEE);
  EXPECT_EQ(Pbkdf2(&noDigest, "pw", 2, "s", 1, 1, dk.data(), dk.size()), 2);
  EXPECT_EQ(dk, Bytes(8, 0xEE));
}

TEST(Md4, Rfc1320Suite) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
      {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
      {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
      {"message digest", "d9130a8164549fe818874806e1c7014b"},
      {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "043f8582f241db351ce627e153e7f0e4"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "e33b4ddc9c38f2199c3e7b164fcc0536"}};
  for (const auto& [m, d] : cases) EXPECT_EQ(THash::CalcString(THash_MD4::Class(), m, nullptr, fmtHEXL), d) << m;
  EXPECT_TRUE(THash::SelfTest(THash_MD4::Class()));
}

TEST(RipeMD256, PublishedVectors) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "02ba4c4e5f8ecd1877fc52d64d30e37a2d9774fb1e5d026380ae0168e3c5522d"},
      {"a", "f9333e45d857f5d90a91bab70a1eba0cfb1be4b0783c9acfcd883a9134692925"},
      {"abc", "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65"},
      {"message digest", "87e971759a1ce47a514d5c914c392c9018c7c46bc14465554afcdf54a5070c0e"},
      {"abcdefghijklmnopqrstuvwxyz", "649d3034751ea216776bf9a18acc81bc7896118a5197968782dd1fd97d8d5133"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "3843045583aac6c8c8d9128573e7a9809afb2a0f34ccc36ea9e72f16f6368e3f"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "5740a408ac16b720b84424ae931cbb1fe363d1d0bf4017f1a89f7ea6de77a0b8"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "06fdcc7a409548aaf91368c06a6275b553e3f099bf0ea4edfd6778df89a890dd"}};
  for (const auto& [m, d] : cases)
    EXPECT_EQ(THash::CalcString(THash_RipeMD256::Class(), m, nullptr, fmtHEXL), d) << m;
  const std::string million(1000000, 'a');
  EXPECT_EQ(THash::CalcString(THash_RipeMD256::Class(), million, nullptr, fmtHEXL),
            "ac953744e10e31514c150d4d8d7b677342e33399788296e43ae4850ce4f97978");
}

TEST(HashRegistry, LookupsAndRegistrationRules) {
  const THashDesc* sha1 = &SHA1Desc();
  EXPECT_EQ(FindHashDescById(_SHA1), sha1);
  EXPECT_EQ(FindHashDescByName("sha1"), sha1);
  EXPECT_EQ(FindHashDescByName("Sha1"), sha1);
  EXPECT_EQ(FindHashDescByName("SHA-1"), nullptr);
  EXPECT_EQ(FindHashDescByName("SHA1 "), nullptr);
  EXPECT_EQ(FindHashDescByName(""), nullptr);
  EXPECT_EQ(FindHashDescById(9), nullptr);
  EXPECT_EQ(FindHashDescById(255), nullptr);

  // A descriptor is stored only when all its marks are right.
  static THashDesc good = SHA1Desc();
  good.HAlgNum = 6;
  std::strcpy(good.HName, "Sha1-Copy-Long-Name");  // the longest name: 19 characters
  static THashDesc badSig = good, badSize = good, badVersion = good, badBlock = good;
  badSig.HSig = 0x3D7B;
  badSize.HDSize = 81;
  badVersion.HDVersion = 0x00010002;
  badBlock.HBlockLen = 256;
  for (const THashDesc* d : {&badSig, &badSize, &badVersion, &badBlock}) RegisterHashDesc(6, d);
  RegisterHashDesc(6, nullptr);
  RegisterHashDesc(5, &good);  // HAlgNum differs from the slot
  RegisterHashDesc(9, &good);
  EXPECT_EQ(FindHashDescById(5), nullptr);
  EXPECT_EQ(FindHashDescById(6), nullptr);
  RegisterHashDesc(6, &good);
  EXPECT_EQ(FindHashDescById(6), &good);
  EXPECT_EQ(FindHashDescByName("sha1-copy-long-name"), &good);
  // Names are compared up to 19 characters.
  EXPECT_EQ(FindHashDescByName("SHA1-COPY-LONG-NAME-AND-MORE"), &good);
  EXPECT_EQ(FindHashDescByName("SHA1-COPY-LONG-NAM"), nullptr);
  EXPECT_EQ(FindHashDescByName("sha1"), sha1);
}

TEST(TPBKDF2Test, DerivesFromItsSaltAndMakesFreshSalts) {
  const std::string salt = "\x01\x02\x03\x04\x05\x06\x07\x08";
  TPBKDF2 given("password", std::span(reinterpret_cast<const uint8_t*>(salt.data()), salt.size()), 1000);
  EXPECT_EQ(given.IterationCount(), 1000);
  EXPECT_EQ(given.GetSaltValue(), Bytes(salt.begin(), salt.end()));
  const TSecretBytes key = given.GetKeyBytes(66);
  EXPECT_EQ(Hex(key.data(), key.size()), Pbkdf2Hex("password", salt, 1000, 66));
  EXPECT_TRUE(given.GetKeyBytes(0).empty());

  TPBKDF2 a("pw", 16, 1000), b("pw", 16, 1000);
  EXPECT_EQ(a.GetSaltValue().size(), 16u);
  EXPECT_NE(a.GetSaltValue(), b.GetSaltValue());
  EXPECT_NE(a.GetKeyBytes(20), b.GetKeyBytes(20));
  // Any length of password, far beyond a fixed work area (the value is
  // checked against the peer in hash_peers).
  const std::string longPw(40000, 'p');
  TPBKDF2 big(longPw, std::span(reinterpret_cast<const uint8_t*>(salt.data()), salt.size()), 2);
  const TSecretBytes bigKey = big.GetKeyBytes(20);
  EXPECT_EQ(Hex(bigKey.data(), bigKey.size()), Pbkdf2Hex(longPw, salt, 2, 20));
}
