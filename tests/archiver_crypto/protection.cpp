// The protection chain: links and their cycle check, coding streams,
// strings and files through a chain of ciphers and hashes, and the hash
// objects' own actions.
#include <gtest/gtest.h>

#include "archiver/crypto/ZACipher.h"
#include "archiver/crypto/ZAHashClasses.h"
#include "crypto_util.h"
#include "platform/Streams.h"

using namespace archiver::crypto;
using namespace crypto_test;

namespace {

std::shared_ptr<TCipher_Rijndael> Cipher(const char* password, TCipherMode mode,
                                         std::shared_ptr<TProtection> next = nullptr) {
  auto c = std::make_shared<TCipher_Rijndael>(password, std::move(next));
  c->SetMode(mode);
  return c;
}

// Codes like a cipher but fails once it has seen `failAfter` bytes.
class TFailing : public TProtection {
 public:
  explicit TFailing(int64_t failAfter) : failAfter_(failAfter) {}

 protected:
  void CodeBuf(void* Buffer, int64_t BufferSize, TPAction Action) override {
    seen_ += BufferSize;
    if (seen_ > failAfter_) throw std::runtime_error("disk gone");
    TProtection::CodeBuf(Buffer, BufferSize, Action);
  }

 private:
  int64_t failAfter_;
  int64_t seen_ = 0;
};

}  // namespace

TEST(Protection, CircularLinksAreRefused) {
  auto a = std::make_shared<THash_MD4>();
  auto b = std::make_shared<THash_MD4>();
  auto c = std::make_shared<THash_MD4>();
  a->SetProtection(b);
  try {
    b->SetProtection(a);
    ADD_FAILURE() << "no exception";
  } catch (const EProtection& e) {
    EXPECT_STREQ(e.what(), "Circular Protection detected, Protection Object is invalid.");
  }
  EXPECT_EQ(b->Protection(), nullptr);
  b->SetProtection(c);
  EXPECT_THROW(c->SetProtection(a), EProtection);
  EXPECT_THROW(a->SetProtection(a), EProtection);
  EXPECT_EQ(a->Protection(), b);  // the old link stays
  a->SetProtection(nullptr);
  c->SetProtection(a);  // no longer a cycle
  EXPECT_EQ(c->Protection(), a);
}

TEST(Protection, StreamsCodeInPlaceOrIntoDestAndCalcNeverWrites) {
  const Bytes data = RandomData(3 * 4096 + 100, 1);
  const std::string text(data.begin(), data.end());
  // In place, from the stream's position, at most DataSize bytes.
  platform::TStringStream s(text);
  s.SetPosition(10);
  Cipher("k", cmCTR)->CodeStream(&s, nullptr, 9000, paEncode);
  Bytes expected(data);
  Cipher("k", cmCTR)->EncodeBuffer(data.data() + 10, expected.data() + 10, 9000);
  EXPECT_TRUE(s.DataString() == std::string(expected.begin(), expected.end()));

  // A negative size codes the whole stream from 0; decoding restores it.
  platform::TStringStream coded;
  Cipher("k", cmCBC)->CodeStream(&s, &coded, -1, paEncode);
  platform::TStringStream back;
  Cipher("k", cmCBC)->CodeStream(&coded, &back, -1, paDecode);
  EXPECT_TRUE(back.DataString() == s.DataString());

  // paCalc: the hash and its chain see the data; Dest stays as it was.
  platform::TStringStream dest("untouched");
  auto hash = std::make_shared<THash_RipeMD256>(Cipher("k", cmCTR));
  std::vector<std::pair<int64_t, int64_t>> progress;
  SetProtectionProgress([&](int64_t done, int64_t total) { progress.emplace_back(done, total); });
  s.SetPosition(0);
  hash->CodeStream(&s, &dest, -1, paCalc);
  SetProtectionProgress(nullptr);
  EXPECT_EQ(dest.DataString(), "untouched");
  EXPECT_TRUE(s.DataString() == std::string(expected.begin(), expected.end()));
  EXPECT_EQ(hash->DigestStr(fmtHEX), THash::CalcString(THash_RipeMD256::Class(), s.DataString(),
                                                       Cipher("k", cmCTR), fmtHEX));
  const int64_t n = static_cast<int64_t>(data.size());
  const std::vector<std::pair<int64_t, int64_t>> steps{{0, n}, {4096, n}, {8192, n}, {12288, n}, {n, n}, {0, 0}};
  EXPECT_EQ(progress, steps);
}

TEST(Protection, ChainDecodesInTheReverseOrderOfEncoding) {
  // Two chaining modes whose order matters: outer CBC over inner CFB.
  auto chain = [] { return Cipher("outer", cmCBC, Cipher("inner", cmCFB)); };
  const std::string data(1000, 'x');
  const std::string text = chain()->CodeString(data, paEncode, fmtMIME64);
  EXPECT_EQ(chain()->CodeString(text, paDecode, fmtMIME64), data);
  // The inner cipher codes first: the same as coding by hand.
  std::string byHand = data;
  auto inner = Cipher("inner", cmCFB);
  inner->EncodeBuffer(byHand.data(), byHand.data(), byHand.size());
  auto outer = Cipher("outer", cmCBC);
  outer->EncodeBuffer(byHand.data(), byHand.data(), byHand.size());
  EXPECT_EQ(FormatToStr(text, fmtMIME64), byHand);

  // An object left out of an action passes it on to its chain.
  auto skipping = Cipher("outer", cmCBC, Cipher("inner", cmCFB));
  skipping->SetActions(PActions(paDecode));
  std::string innerOnly = data;
  Cipher("inner", cmCFB)->CodeBuffer(innerOnly.data(), static_cast<int64_t>(innerOnly.size()), paEncode);
  std::string viaChain = data;
  skipping->CodeBuffer(viaChain.data(), static_cast<int64_t>(viaChain.size()), paEncode);
  EXPECT_EQ(viaChain, innerOnly);
}

TEST(Protection, FilesAreReplacedOnlyWhenTheRunCompletes) {
  TempDir dir;
  const Bytes data = RandomData(10000, 2);
  const std::string plain(data.begin(), data.end());
  WriteFile(dir / "src", plain);
  WriteFile(dir / "dst", "old content");
  Cipher("k", cmCTR)->CodeFile(dir / "src", dir / "dst", paEncode);
  const std::string coded = ReadFile(dir / "dst");
  EXPECT_EQ(coded.size(), plain.size());
  EXPECT_NE(coded, plain);
  // In place: Dest empty.
  Cipher("k", cmCTR)->CodeFile(dir / "dst", "", paDecode);
  EXPECT_EQ(ReadFile(dir / "dst"), plain);
  // A run that fails half way leaves Dest as it was, and no stray file.
  WriteFile(dir / "dst", "old content");
  auto failing = std::make_shared<TFailing>(5000);
  EXPECT_THROW(failing->CodeFile(dir / "src", dir / "dst", paEncode), std::runtime_error);
  EXPECT_EQ(ReadFile(dir / "dst"), "old content");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / ""), {}), 2);
  // paCalc does not touch Dest.
  auto hash = std::make_shared<THash_MD4>();
  hash->CodeFile(dir / "src", dir / "dst", paCalc);
  EXPECT_EQ(ReadFile(dir / "dst"), "old content");
  EXPECT_EQ(hash->DigestStr(fmtHEX), THash::CalcFile(THash_MD4::Class(), dir / "src", nullptr, fmtHEX));
  EXPECT_EQ(hash->DigestStr(fmtHEX), THash::CalcString(THash_MD4::Class(), plain, nullptr, fmtHEX));
}

TEST(Protection, HashActionsXorAKeystreamOrPassThrough) {
  const Bytes data = RandomData(1000, 3);
  const std::string plain(data.begin(), data.end());
  for (THashClass cls : {THash_MD4::Class(), THash_RipeMD256::Class()}) {
    SCOPED_TRACE(cls->ClassName);
    std::shared_ptr<THash> h = cls->Create();
    std::string s = plain;
    h->CodeBuffer(s.data(), static_cast<int64_t>(s.size()), paEncode);
    EXPECT_NE(s, plain);
    h->CodeBuffer(s.data(), static_cast<int64_t>(s.size()), paDecode);
    EXPECT_EQ(s, plain);
    h->CodeBuffer(s.data(), static_cast<int64_t>(s.size()), paScramble);
    EXPECT_EQ(s, plain);
    // Wiping starts from a random digest: two wipes differ and decoding
    // does not bring the data back.
    std::string w1 = plain, w2 = plain;
    h->CodeBuffer(w1.data(), static_cast<int64_t>(w1.size()), paWipe);
    h->CodeBuffer(w2.data(), static_cast<int64_t>(w2.size()), paWipe);
    EXPECT_NE(w1, w2);
    h->CodeBuffer(w1.data(), static_cast<int64_t>(w1.size()), paDecode);
    EXPECT_NE(w1, plain);
  }
}

TEST(ByteHelpers, Crc16AndComparisons) {
  EXPECT_EQ(CRC16(0, "123456789", 9), 0xBB3D);
  EXPECT_EQ(CRC16(0x1234, nullptr, 5), 0x1234);
  EXPECT_EQ(CompareBuffers("abcd", "abzd", 4), 'c' - 'z');
  EXPECT_EQ(CompareBuffers("\xFF", "\x01", 1), 0xFE);  // bytes compare unsigned
  EXPECT_EQ(CompareBuffers("abcd", "abzd", 2), 0);
  EXPECT_TRUE(ConstantTimeEqual("abcd", "abcd", 4));
  EXPECT_FALSE(ConstantTimeEqual("abcd", "abce", 4));
}
