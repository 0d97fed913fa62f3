// The text formats against Python (bytes.hex, base64, binascii's UU), the
// inputs each decoder must refuse (tests/data/crypto, one case per file),
// random input, and the format registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "archiver/crypto/ZADecUtil.h"
#include "crypto_util.h"

using namespace archiver::crypto;
using namespace crypto_test;

namespace {

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The UU text of Python's binascii, 45 bytes a line, turned into the XX
// alphabet character by character.
std::string UuToXx(const std::string& uu) {
  const std::string xx = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::string out = uu;
  for (char& c : out)
    if (c == '`')
      c = xx[0];
    else if (c >= '!' && c <= '_')
      c = xx[static_cast<size_t>(c - ' ')];
  return out;
}

int FormatOfFileName(const std::string& name) {
  if (name.rfind("hex-", 0) == 0) return fmtHEX;
  if (name.rfind("mime64-", 0) == 0) return fmtMIME64;
  if (name.rfind("uu-", 0) == 0) return fmtUU;
  if (name.rfind("xx-", 0) == 0) return fmtXX;
  return 0;
}

}  // namespace

TEST(StringFormats, EncodingsMatchPython) {
  TempDir dir;
  std::string py = "import base64, binascii\n";
  std::vector<std::string> ours;
  uint32_t seed = 1;
  for (size_t n : PeerSizes()) {
    const Bytes data = RandomData(n, seed++);
    const std::string file = dir / std::to_string(n);
    WriteFile(file, Str(data));
    py += "d = open('" + file + "','rb').read()\n";
    py += "print(d.hex().upper()); print(d.hex()); print(base64.b64encode(d).decode())\n";
    py += "print(b''.join(binascii.b2a_uu(d[i:i+45], backtick=True) for i in range(0, len(d), 45)).hex())\n";
    const std::string hex = StrToFormat(Str(data), fmtHEX);
    const std::string hexl = StrToFormat(Str(data), fmtHEXL);
    const std::string b64 = StrToFormat(Str(data), fmtMIME64);
    const std::string uu = StrToFormat(Str(data), fmtUU);
    ours.insert(ours.end(), {hex, hexl, b64, uu});
    for (const auto& [text, fmt] : {std::pair{hex, fmtHEX}, std::pair{hexl, fmtHEXL}, std::pair{b64, fmtMIME64},
                                    std::pair{uu, fmtUU}})
      EXPECT_EQ(FormatToStr(text, fmt), Str(data)) << fmt << " " << n;
    const std::string xx = StrToFormat(Str(data), fmtXX);
    EXPECT_EQ(xx, UuToXx(uu));
    EXPECT_EQ(FormatToStr(xx, fmtXX), Str(data));
  }
  std::vector<std::string> peer = RunPython(py);
  // Python printed the UU text in hexadecimal, for its line ends.
  for (size_t i = 3; i < peer.size(); i += 4) peer[i] = Str(Unhex(peer[i]));
  EXPECT_EQ(peer, ours);
}

TEST(StringFormats, Rfc4648Base64Vectors) {
  const std::pair<const char*, const char*> v[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                                   {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                                   {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, text] : v) {
    EXPECT_EQ(StrToFormat(plain, -1, fmtMIME64), text);
    EXPECT_EQ(FormatToStr(text, -1, fmtMIME64), plain);
  }
}

TEST(StringFormats, DecodersAcceptWhatOtherWritersWrite) {
  // Hexadecimal with prefixes, separators and either case.
  EXPECT_EQ(FormatToStr("0x1F, 0x2a; $3B h4C 5dh\r\n(6E)", fmtHEX), "\x1F\x2A\x3B\x4C\x5D\x6E");
  EXPECT_EQ(FormatToStr("1f2A", fmtHEXL), "\x1F\x2A");
  // Base64 wrapped into lines, and without its padding.
  EXPECT_EQ(FormatToStr("Zm9v\r\nYmFy\nZg", fmtMIME64), "foobarf");
  EXPECT_EQ(FormatToStr(" Zm8 ", fmtMIME64), "fo");
  // UU with CR LF line ends, blank lines, trailing blanks, and blanks for
  // zero as older encoders wrote them (binascii without backtick).
  const std::string lines = RunPython(
      "import binascii\nprint(binascii.b2a_uu(bytes(range(0, 40)) + b'\\0\\0\\0', backtick=False).hex())")[0];
  const Bytes uuBlank = Unhex(lines);
  std::string text = Str(uuBlank);
  text.insert(text.size() - 1, "  \r");
  text = "\n\n" + text + "\r\n";
  std::string expected;
  for (int i = 0; i < 40; ++i) expected += static_cast<char>(i);
  expected += std::string(3, '\0');
  EXPECT_EQ(FormatToStr(text, fmtUU), expected);
}

TEST(StringFormats, EveryFileOfDamagedTextIsRefused) {
  const std::filesystem::path dir = std::filesystem::path(TOMESHELF_SOURCE_DIR) / "tests/data/crypto";
  int cases = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    const int fmt = FormatOfFileName(name);
    if (fmt == 0) continue;
    SCOPED_TRACE(name);
    ++cases;
    try {
      FormatToStr(ReadFile(entry.path().string()), fmt);
      ADD_FAILURE() << "accepted";
    } catch (const EStringFormat& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Input is not an valid ") + StringFormat(fmt)->Name() + " Format.");
    }
  }
  EXPECT_GE(cases, 20);
}

// Under the sanitizers: no read past the text, no other exception.
TEST(StringFormats, RandomInputIsDecodedOrRefused) {
  std::mt19937 g(77);
  for (int fmt : {fmtHEX, fmtHEXL, fmtMIME64, fmtUU, fmtXX}) {
    const std::string_view table = StringFormat(fmt)->CharTable();
    for (int round = 0; round < 400; ++round) {
      const size_t n = g() % 120;
      std::string text(n, '\0');
      // Half the cases use only characters the format allows, so that the
      // structural checks are reached.
      for (char& c : text) c = round % 2 ? table[g() % table.size()] : static_cast<char>(g());
      if (round % 2 == 0 && n > 0) text[g() % n] = '\xFF';
      try {
        FormatToStr(text, fmt);
        EXPECT_TRUE(round % 2 != 0 || n == 0) << "accepted a byte outside the alphabet";
      } catch (const EStringFormat&) {
      }
    }
  }
}

TEST(StringFormats, RegistryAndConversionRules) {
  const auto count = [] { return RegisteredStringFormats().size(); };
  const size_t before = count();
  EXPECT_EQ(before, 6u);
  RegisterStringFormats({TStringFormat_MIME64::Instance(), TStringFormat_MIME64::Instance()});
  EXPECT_EQ(count(), before);
  EXPECT_EQ(StringFormat(fmtDEFAULT), TStringFormat_MIME64::Instance());
  EXPECT_EQ(StringFormat(77), nullptr);
  try {
    StrToFormat("x", 1, 77);
    ADD_FAILURE() << "no exception";
  } catch (const EStringFormat& e) {
    EXPECT_STREQ(e.what(), "String Format \"77\" not exists.");
  }
  EXPECT_EQ(StrToFormat("abc", 3, 0), "");
  EXPECT_EQ(StrToFormat(nullptr, 3, fmtHEX), "");
  EXPECT_EQ(StrToFormat("ab\0cd", -1, fmtHEX), "6162");  // negative length: up to the zero
  EXPECT_EQ(StrToFormat("a\0b", 3, fmtCOPY), std::string("a\0b", 3));
}
