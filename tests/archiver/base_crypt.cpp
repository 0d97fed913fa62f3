// CRC-32 and the traditional zip cipher, checked against known values and
// against archives that Info-ZIP and 7-Zip encrypt at test time.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <sstream>
#include <map>
#include <string>
#include <vector>

#include "archiver/ZAZipCrypt.h"
#include "base_util.h"

using namespace archiver;
using base_test::Q;
using base_test::RunCmd;

TEST(Crc32, KnownValues) {
  EXPECT_EQ(ZACrc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(ZACrc32("abc", 3), 0x352441C2u);
  EXPECT_EQ(ZACrc32("", 0), 0u);
}

TEST(Crc32, RegisterConventionAndChunking) {
  std::string data(100000, '\0');
  std::mt19937 gen(7);
  for (char& c : data) c = static_cast<char>(gen());
  uint32_t reg = 0xFFFFFFFFu;
  // Uneven chunks, a null buffer and a zero count in between change nothing.
  size_t pos = 0;
  for (size_t step : {1u, 7u, 4096u, 3u, 65536u}) {
    ZAUpdateCrc32(data.data() + pos, static_cast<int64_t>(step), reg);
    pos += step;
    ZAUpdateCrc32(nullptr, 10, reg);
    ZAUpdateCrc32(data.data(), 0, reg);
    ZAUpdateCrc32(data.data(), -5, reg);
  }
  ZAUpdateCrc32(data.data() + pos, static_cast<int64_t>(data.size() - pos), reg);
  EXPECT_EQ(~reg, ZACrc32(data.data(), data.size()));
  EXPECT_EQ(~reg, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                                static_cast<uInt>(data.size()))));
}

TEST(Crc32, TableMatchesTheStepRule) {
  const z_crc_t* zt = get_crc_table();
  for (int i = 0; i < 256; ++i) ASSERT_EQ(ZACrc32TableData[i], zt[i]) << i;
  uint32_t reg = 0xFFFFFFFFu;
  for (char c : std::string("123456789")) reg = ZACrc32Step(reg, static_cast<uint8_t>(c));
  EXPECT_EQ(~reg, 0xCBF43926u);
}

TEST(ZipCrypt, EmptyPasswordLeavesInitialKeys) {
  ZAZipCryptKeys k;
  k.Key0 = k.Key1 = k.Key2 = 0;
  ZAZipCryptInitKeys("", k);
  EXPECT_EQ(k.Key0, 0x12345678u);
  EXPECT_EQ(k.Key1, 0x23456789u);
  EXPECT_EQ(k.Key2, 0x34567890u);
}

TEST(ZipCrypt, EncryptThenDecryptRestoresDataAndKeyState) {
  std::string plain(5000, '\0');
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<char>(i * 31 + 7);
  std::vector<uint8_t> buf(plain.size() + 10, 0xEE);
  std::memcpy(buf.data() + 10, plain.data(), plain.size());

  ZAZipCryptKeys enc, dec;
  ZAZipCryptInitKeys("secret", enc);
  ZAZipCryptInitKeys("secret", dec);
  ZAZipCryptEncryptBuffer(static_cast<int64_t>(plain.size()), 10, buf.data(), enc);
  EXPECT_EQ(buf[9], 0xEE);  // bytes before the offset untouched
  EXPECT_NE(std::memcmp(buf.data() + 10, plain.data(), plain.size()), 0);
  ZAZipCryptDecryptBuffer(buf.data() + 10, static_cast<int64_t>(plain.size()), dec);
  EXPECT_EQ(std::memcmp(buf.data() + 10, plain.data(), plain.size()), 0);
  EXPECT_EQ(enc, dec);

  // Byte by byte gives the same stream as the buffer routine.
  ZAZipCryptKeys one;
  ZAZipCryptInitKeys("secret", one);
  std::vector<uint8_t> again(plain.begin(), plain.end());
  ZAZipCryptKeys whole;
  ZAZipCryptInitKeys("secret", whole);
  ZAZipCryptEncryptBuffer(static_cast<int64_t>(again.size()), 0, again.data(), whole);
  for (size_t i = 0; i < plain.size(); ++i)
    ASSERT_EQ(ZAZipCryptEncryptByte(static_cast<uint8_t>(plain[i]), one), again[i]) << i;
}

TEST(ZipCrypt, HeaderCarriesCrcAndRandomBytes) {
  uint8_t a[12], b[12];
  ZAZipCryptMakeHeader(0xA1B2C3D4u, a);
  ZAZipCryptMakeHeader(0xA1B2C3D4u, b);
  EXPECT_EQ(a[10], 0xB2);
  EXPECT_EQ(a[11], 0xA1);
  EXPECT_NE(std::memcmp(a, b, 10), 0);  // 80 random bits: equal once in 2^80

  // Bit 3 checks the time's high byte even when the CRC is known.
  EXPECT_TRUE(ZAZipCryptCheckHeader(a, 0x0001, 0x1234, 0xA1000000u));
  EXPECT_FALSE(ZAZipCryptCheckHeader(a, 0x0009, 0x1234, 0xA1000000u));
  EXPECT_TRUE(ZAZipCryptCheckHeader(a, 0x0009, 0xA100, 0x00000000u));
}

TEST(ZipCrypt, PasswordBytes) {
  EXPECT_EQ(ZAPasswordBytes("pw"), "pw");
  EXPECT_EQ(ZAPasswordBytes("пароль"), "\xEF\xE0\xF0\xEE\xEB\xFC");  // Windows-1251
  // Not in 1251: the UTF-8 bytes, never '?'.
  EXPECT_EQ(ZAPasswordBytes("日本"), "日本");
  EXPECT_NE(ZAPasswordBytes("日本"), ZAPasswordBytes("中国"));
  const std::string longPw(10000, 'x');
  EXPECT_EQ(ZAPasswordBytes(longPw), longPw);
}

namespace {

struct Item {
  int flag = 0, method = 0, modTime = 0;
  uint32_t crc = 0;
  int64_t compSize = 0, size = 0, dataOffset = 0;
  std::string name;
};

// Each item's local-header fields and data offset, as Python's zipfile sees them.
std::vector<Item> ListItems(const std::string& zip) {
  static const char* kScript =
      "import sys, zipfile, struct\n"
      "z = zipfile.ZipFile(sys.argv[1]); f = open(sys.argv[1], 'rb')\n"
      "for i in z.infolist():\n"
      "    f.seek(i.header_offset)\n"
      "    h = struct.unpack('<IHHHHHIIIHH', f.read(30))\n"
      "    print(i.flag_bits, i.compress_type, h[4], i.CRC, i.compress_size, i.file_size,\n"
      "          i.header_offset + 30 + h[9] + h[10], i.filename)\n";
  std::istringstream out(RunCmd("/usr/bin/python3 -c " + Q(kScript) + " " + Q(zip)));
  std::vector<Item> items;
  Item it;
  while (out >> it.flag >> it.method >> it.modTime >> it.crc >> it.compSize >> it.size >> it.dataOffset >> it.name)
    items.push_back(it);
  return items;
}

bool RawInflate(const std::string& in, std::string& out, int64_t expected) {
  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
  out.assign(static_cast<size_t>(expected) + 1, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  inflateEnd(&zs);
  return rc == Z_STREAM_END;
}

enum class Outcome { HeaderRefused, DataRefused, Accepted };

// Decrypts one item as the reader does: header check, then data, then the
// CRC of the result. `plain` receives the item's bytes when accepted.
Outcome Decrypt(const std::string& archive, const Item& it, const std::string& password, std::string& plain) {
  std::string data = archive.substr(static_cast<size_t>(it.dataOffset), static_cast<size_t>(it.compSize));
  if (data.size() < 12) return Outcome::DataRefused;
  auto* p = reinterpret_cast<uint8_t*>(data.data());
  ZAZipCryptKeys keys;
  ZAZipCryptInitDecrypt(ZAPasswordBytes(password), keys, p);
  if (!ZAZipCryptCheckHeader(p, static_cast<uint16_t>(it.flag), static_cast<uint16_t>(it.modTime), it.crc))
    return Outcome::HeaderRefused;
  ZAZipCryptDecryptBuffer(p + 12, static_cast<int64_t>(data.size()) - 12, keys);
  std::string body = data.substr(12);
  if (it.method == 8) {
    if (!RawInflate(body, plain, it.size)) return Outcome::DataRefused;
  } else {
    plain = body;
  }
  if (static_cast<int64_t>(plain.size()) != it.size || ZACrc32(plain.data(), plain.size()) != it.crc)
    return Outcome::DataRefused;
  return Outcome::Accepted;
}

class ZipCryptInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 gen(11);
    std::string random(70000, '\0');
    for (char& c : random) c = static_cast<char>(gen());
    std::string text;
    for (int i = 0; text.size() < 200000; ++i) text += "Line " + std::to_string(i) + " of a book\n";
    files_ = {{"random.bin", random}, {"text.txt", text}, {"empty.txt", ""}, {"one.txt", "x"}};
    for (const auto& [name, bytes] : files_) base_test::WriteBytes(dir_ / name, bytes);
  }

  std::string FileList() const {
    std::string s;
    for (const auto& f : files_) s += " " + Q(f.first);
    return s;
  }

  // Every item decrypts to its file with the right password; a wrong one is
  // refused by the header check or, when that one byte matches by chance, by
  // the data check.
  void CheckArchive(const std::string& zip, const std::string& password, bool expectTimeCheck) {
    const std::string archive = base_test::ReadBytes(zip);
    const auto items = ListItems(zip);
    ASSERT_EQ(items.size(), files_.size());
    for (const auto& it : items) {
      SCOPED_TRACE(zip + ": " + it.name);
      EXPECT_EQ(it.flag & 1, 1);
      EXPECT_EQ((it.flag & 8) != 0, expectTimeCheck);
      std::string plain;
      ASSERT_EQ(Decrypt(archive, it, password, plain), Outcome::Accepted);
      EXPECT_EQ(plain, files_.at(it.name));

      int headerRefusals = 0;
      for (int i = 0; i < 64; ++i) {
        const Outcome o = Decrypt(archive, it, "wrong" + std::to_string(i), plain);
        // A wrong key passes the one check byte by chance (1 in 256); the CRC
        // then catches it unless the item is so short that the wrong key
        // happens to give the right bytes (an empty item always does, a
        // 1-byte one 1 time in 256). Never may it give other bytes.
        if (o == Outcome::Accepted) {
          EXPECT_LE(it.size, 1) << "wrong" << i;
          EXPECT_EQ(plain, files_.at(it.name)) << "wrong" << i;
        }
        headerRefusals += o == Outcome::HeaderRefused;
      }
      EXPECT_GE(headerRefusals, 56);  // a chance match is 1 in 256 per try
    }
  }

  base_test::TempDir dir_;
  std::map<std::string, std::string> files_;
};

}  // namespace

TEST_F(ZipCryptInterop, InfoZipArchivesDecrypt) {
  if (!base_test::HaveTool("zip")) GTEST_SKIP() << "zip not installed";
  const std::string zip = dir_ / "infozip.zip";
  ASSERT_NE(RunCmd("cd " + Q(dir_.Path()) + " && zip -q -P pw " + Q(zip) + FileList()), "<failed>");
  CheckArchive(zip, "pw", true);  // Info-ZIP streams: data descriptor, time check byte

  // A Cyrillic password reaches the cipher as its Windows-1251 bytes.
  const std::string zip1251 = dir_ / "cyr.zip";
  ASSERT_NE(RunCmd("cd " + Q(dir_.Path()) + " && zip -q -P \"$(printf '\\357\\340\\360\\356\\353\\374')\" " +
                Q(zip1251) + FileList()),
            "<failed>");
  CheckArchive(zip1251, "пароль", true);
}

TEST_F(ZipCryptInterop, SevenZipArchivesDecrypt) {
  std::string tool = base_test::HaveTool("7z") ? "7z" : base_test::HaveTool("7zz") ? "7zz" : "";
  if (tool.empty()) GTEST_SKIP() << "7-Zip not installed";
  const std::string zip = dir_ / "7z.zip";
  ASSERT_NE(RunCmd("cd " + Q(dir_.Path()) + " && " + tool + " a -tzip -mem=ZipCrypto -ppw " + Q(zip) + FileList() +
                " >/dev/null"),
            "<failed>");
  CheckArchive(zip, "pw", false);  // 7-Zip knows the CRC first: CRC check byte
}

TEST_F(ZipCryptInterop, ItemsWeEncryptAreReadByPeers) {
  // One stored item per file, written by hand around our header and cipher:
  // local header, encrypted data, central directory, end record.
  auto le16 = [](std::string& s, unsigned v) { s += char(v & 0xFF); s += char((v >> 8) & 0xFF); };
  auto le32 = [&](std::string& s, uint32_t v) { le16(s, v & 0xFFFF); le16(s, v >> 16); };
  std::string out, central;
  int count = 0;
  for (const auto& [name, bytes] : files_) {
    const uint32_t crc = ZACrc32(bytes.data(), bytes.size());
    std::string data(12, '\0');
    ZAZipCryptMakeHeader(crc, reinterpret_cast<uint8_t*>(data.data()));
    data += bytes;
    ZAZipCryptKeys keys;
    ZAZipCryptInitKeys(ZAPasswordBytes("pw"), keys);
    ZAZipCryptEncryptBuffer(static_cast<int64_t>(data.size()), 0, reinterpret_cast<uint8_t*>(data.data()), keys);
    const uint32_t offset = static_cast<uint32_t>(out.size());
    std::string fields;  // version, flag, method, time, date, crc, sizes, name length
    le16(fields, 20); le16(fields, 1); le16(fields, 0); le16(fields, 0x6000); le16(fields, 0x5A21);
    le32(fields, crc); le32(fields, static_cast<uint32_t>(data.size())); le32(fields, static_cast<uint32_t>(bytes.size()));
    le16(fields, static_cast<unsigned>(name.size()));
    le32(out, 0x04034B50); out += fields; le16(out, 0); out += name; out += data;
    le32(central, 0x02014B50); le16(central, 20); central += fields;
    le16(central, 0); le16(central, 0); le16(central, 0); le16(central, 0); le32(central, 0x20); le32(central, offset);
    central += name;
    ++count;
  }
  const uint32_t cdOffset = static_cast<uint32_t>(out.size());
  out += central;
  le32(out, 0x06054B50); le16(out, 0); le16(out, 0); le16(out, count); le16(out, count);
  le32(out, static_cast<uint32_t>(central.size())); le32(out, cdOffset); le16(out, 0);
  const std::string zip = dir_ / "ours.zip";
  base_test::WriteBytes(zip, out);

  if (base_test::HaveTool("unzip")) {
    for (const auto& [name, bytes] : files_)
      EXPECT_EQ(RunCmd("unzip -p -P pw " + Q(zip) + " " + Q(name)), bytes) << name;
    EXPECT_EQ(RunCmd("unzip -tq -P wrong " + Q(zip) + " >/dev/null 2>&1"), "<failed>");
  }
  CheckArchive(zip, "pw", false);
}
