// AES items between this archiver and the peers: items 7-Zip and libzip's
// ziptool encrypt (every strength, sizes around the block and CRC limits,
// stored and deflated) extract here byte for byte; items written here pass
// 7-Zip's test, come out of 7-Zip and ziptool as their sources, and have
// the layout zipdetails shows for AE-2; an AES item crossing two volumes of
// a split set reads back.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "archiver/ZACryptoTransform.h"
#include "archiver/ZipArchiver.h"
#include "codec_util.h"
#include "commit_util.h"
#include "volume_util.h"

namespace {

using base_test::Q;
using base_test::ReadBytes;
using base_test::RunCmd;
using base_test::TempDir;
using base_test::WriteBytes;

using TFiles = std::map<std::string, std::string>;

// Sizes around the AES block (16), the CRC rule (20), the inflate output
// and a few chunks; random bytes (7-Zip stores them) and text (deflated).
TFiles PeerSources() {
  TFiles files;
  for (const size_t n : {0, 1, 15, 16, 17, 19, 20, 65537})
    files["r" + std::to_string(n) + ".bin"] = codec_test::RandomData(n, static_cast<unsigned>(n + 3));
  files["big.bin"] = codec_test::RandomData(3u << 20, 77);
  files["book.txt"] = codec_test::TextData(400'000, 78);
  return files;
}

void WriteFiles(const TempDir& dir, const TFiles& files) {
  for (const auto& [name, bytes] : files) WriteBytes(dir / name, bytes);
}

// Every item of the archive at `path`, read here with `password`.
TFiles ReadHere(const std::string& path, const std::string& password) {
  archiver::TZipArchiver arc;
  arc.SetFileName(path);
  arc.SetPassword(password);
  arc.OpenArchive(archiver::ZAModeRead);
  TFiles out;
  const archiver::TZADirArray& dir = arc.DMHandle()->CDir;
  for (int i = 0; i < dir.Count(); ++i) {
    std::string text;
    arc.ExtractToString(dir[i].Name, text);
    out[dir[i].Name] = text;
  }
  arc.CloseArchive();
  return out;
}

void ExpectSame(const TFiles& got, const TFiles& expected) {
  ASSERT_EQ(got.size(), expected.size());
  for (const auto& [name, bytes] : expected) {
    ASSERT_TRUE(got.count(name)) << name;
    EXPECT_TRUE(got.at(name) == bytes) << name << ": " << got.at(name).size() << " bytes, not " << bytes.size();
  }
}

TEST(AESInterop, SevenZipItemsOfEveryStrengthExtract) {
  TempDir dir;
  const TFiles files = PeerSources();
  WriteFiles(dir, files);
  std::string names;
  for (const auto& [name, bytes] : files) names += " " + name;
  for (const char* method : {"AES128", "AES192", "AES256"}) {
    SCOPED_TRACE(method);
    const std::string zip = dir / (std::string(method) + ".zip");
    ASSERT_NE(RunCmd("cd " + Q(dir.Path()) + " && 7zz a -tzip -mem=" + method + " -pSECRET " + Q(zip) + names +
                     " >/dev/null"),
              "<failed>");
    ExpectSame(ReadHere(zip, "SECRET"), files);
  }
}

TEST(AESInterop, ZiptoolItemsExtractWithAsciiAndCyrillicPasswords) {
  TempDir dir;
  const TFiles files = PeerSources();
  WriteFiles(dir, files);
  for (const char* method : {"AES-128", "AES-192", "AES-256"}) {
    for (const std::string password : {"SECRET", "пароль"}) {
      SCOPED_TRACE(std::string(method) + " " + password);
      const std::string zip = dir / "z.zip";
      std::filesystem::remove(zip);
      std::string cmd = "ziptool -n " + Q(zip);
      int index = 0;
      for (const auto& [name, bytes] : files) {
        cmd += " add_file " + name + " " + Q(dir / name) + " 0 0";
        cmd += " set_file_encryption " + std::to_string(index++) + " " + method + " " + Q(password);
      }
      ASSERT_NE(RunCmd(cmd), "<failed>");
      ExpectSame(ReadHere(zip, password), files);
    }
  }
}

// zipdetails' fields of each central header, in order.
std::vector<std::map<std::string, std::string>> CentralFields(const std::string& zip) {
  std::vector<std::map<std::string, std::string>> out;
  std::istringstream in(RunCmd("zipdetails " + Q(zip)));
  bool central = false;
  for (std::string line; std::getline(in, line);) {
    // "<offset> <field> <value> ...": lines without an offset continue the
    // one before.
    if (line.empty() || line[0] == ' ') continue;
    std::istringstream f(line);
    std::string key, word;
    std::vector<std::string> words;
    f >> word;
    while (f >> word) words.push_back(word);
    if (line.find("HEADER") != std::string::npos) {
      central = line.find("CENTRAL HEADER") != std::string::npos && line.find("END") == std::string::npos;
      if (central) out.emplace_back();
      continue;
    }
    if (!central) continue;
    // "Compression Method 0063 'AES Encryption'": the key is the words
    // before the hexadecimal value. The AES field's own method comes
    // second and is kept as "Actual Method".
    size_t k = 0;
    while (k < words.size() && !(words[k].find_first_not_of("0123456789ABCDEF") == std::string::npos &&
                                 words[k].size() >= 2))
      key += (key.empty() ? "" : " ") + words[k++];
    if (k == words.size()) continue;
    if (key == "Compression Method" && out.back().count(key)) key = "Actual Method";
    out.back()[key] = words[k];
  }
  return out;
}

class AESOurs : public ::testing::Test {
 protected:
  // Writes `files` with AES of `algorithm` at `mode` (and `zip64`) into
  // `path`; the same without a password into `path` + ".plain.zip".
  void Write(const std::string& path, const TFiles& files, archiver::TZACryptoAlgorithm algorithm, int mode,
             archiver::TZip64Mode zip64 = archiver::zmAuto) {
    for (const bool encrypted : {true, false}) {
      archiver::TZipArchiver arc;
      arc.SetFileName(encrypted ? path : path + ".plain.zip");
      arc.SetCompressionMode(mode);
      arc.SetZip64Mode(zip64);
      if (encrypted) {
        arc.SetPassword("SECRET");
        arc.SetEncryptionMethod(algorithm);
      }
      arc.OpenArchive(archiver::ZAModeCreate);
      arc.BeginUpdate();
      for (const auto& [name, bytes] : files) commit_test::AddPending(arc, name, bytes);
      arc.EndUpdate();
      arc.CloseArchive();
      ASSERT_EQ(arc.LastCloseError(), "");
    }
  }

  // The peers' reading of an archive of ours: 7-Zip's test and extraction,
  // ziptool's cat of every item.
  void ExpectPeersRead(const std::string& zip, const TFiles& files) {
    EXPECT_NE(RunCmd("7zz t -pSECRET " + Q(zip) + " 2>&1").find("Everything is Ok"), std::string::npos)
        << RunCmd("7zz t -pSECRET " + Q(zip) + " 2>&1");
    TempDir out;
    ASSERT_NE(RunCmd("7zz x -pSECRET -o" + Q(out.Path()) + " " + Q(zip) + " >/dev/null"), "<failed>");
    int index = 0;
    for (const auto& [name, bytes] : files) {
      EXPECT_TRUE(ReadBytes(out / name) == bytes) << "7zz x: " << name;
      EXPECT_TRUE(RunCmd("ziptool " + Q(zip) + " set_password SECRET cat " + std::to_string(index++)) == bytes)
          << "ziptool cat: " << name;
    }
  }

  TempDir dir_;
};

TEST_F(AESOurs, EveryStrengthAndModePassesThePeersWithTheAE2Layout) {
  TFiles files = {{"empty.txt", ""},
                  {"one.bin", "x"},
                  {"short.txt", "nineteen bytes long"},
                  {"twenty.txt", "twenty bytes long..."},
                  {"book.txt", codec_test::TextData(200'000, 9)}};
  files["big.bin"] = codec_test::RandomData(3u << 20, 10);
  const struct {
    archiver::TZACryptoAlgorithm algorithm;
    int mode;
  } cases[] = {{archiver::caAES_128, 0}, {archiver::caAES_192, 1}, {archiver::caAES_256, 6}, {archiver::caAES_128, 6}};
  for (const auto& c : cases) {
    const int strength = archiver::ZAAESKeyBits(c.algorithm) / 64 - 1;
    SCOPED_TRACE(::testing::Message() << "strength " << strength << ", mode " << c.mode);
    const std::string zip = dir_ / "ours.zip";
    Write(zip, files, c.algorithm, c.mode);
    ExpectPeersRead(zip, files);

    const auto fields = CentralFields(zip);
    const auto plain = CentralFields(zip + ".plain.zip");
    ASSERT_EQ(fields.size(), files.size());
    ASSERT_EQ(plain.size(), files.size());
    const uint64_t overhead = 4 * (strength + 1) + 2 + 10;  // salt, verifier, code
    for (size_t i = 0; i < fields.size(); ++i) {
      auto f = fields[i];
      EXPECT_EQ(f["Compression Method"], "0063");
      EXPECT_EQ(f["Vendor Version"], "0002");
      EXPECT_EQ(f["Vendor ID"], "4541");
      EXPECT_EQ(f["Encryption Strength"], "0" + std::to_string(strength));
      // The data is what the same item has without a password.
      auto p = plain[i];
      EXPECT_EQ(f["Actual Method"], p["Compression Method"]);
      EXPECT_EQ(std::stoull(f["Compressed Length"], nullptr, 16),
                std::stoull(p["Compressed Length"], nullptr, 16) + overhead);
    }
  }
}

TEST_F(AESOurs, Zip64ItemsPassThePeersAndWindowsNeedNoCode) {
  const TFiles files = {{"empty.txt", ""}, {"book.txt", codec_test::TextData(300'000, 12)}, {"x.bin", "abc"}};
  const std::string zip = dir_ / "z64.zip";
  Write(zip, files, archiver::caAES_256, 1, archiver::zmAlways);
  ExpectPeersRead(zip, files);
  ExpectSame(ReadHere(zip, "SECRET"), files);

  archiver::TZipArchiver arc;
  arc.SetFileName(zip);
  arc.SetPassword("SECRET");
  arc.OpenArchive(archiver::ZAModeRead);
  std::string head(100, '\0');
  arc.ExtractToBuffer("book.txt", head.data(), 100, 0);
  EXPECT_EQ(head, files.at("book.txt").substr(0, 100));
}

TEST_F(AESOurs, RenamedItemsKeepTheirFieldAndReplacedOnesAreEncryptedAgain) {
  const TFiles files = {{"a.txt", codec_test::TextData(30'000, 13)}, {"b.txt", "short"}, {"c.txt", "third item here"}};
  const std::string zip = dir_ / "r.zip";
  Write(zip, files, archiver::caAES_192, 6);
  archiver::TZipArchiver arc;
  arc.SetFileName(zip);
  arc.SetPassword("SECRET");
  arc.SetEncryptionMethod(archiver::caAES_128);
  arc.OpenArchive(archiver::ZAModeReadWrite);
  arc.BeginUpdate();
  // Renaming copies the data with its 0x9901 field; replacing writes the
  // item again with the component's method.
  arc.RenameFile("a.txt", "a-renamed-to-a-longer-name.txt");
  arc.AddFromString("b.txt", "replaced and longer than twenty bytes");
  arc.EndUpdate();
  arc.CloseArchive();
  const TFiles expected = {{"a-renamed-to-a-longer-name.txt", files.at("a.txt")},
                           {"b.txt", "replaced and longer than twenty bytes"},
                           {"c.txt", files.at("c.txt")}};
  ExpectSame(ReadHere(zip, "SECRET"), expected);
  ExpectPeersRead(zip, expected);
  const auto fields = CentralFields(zip);
  ASSERT_EQ(fields.size(), 3u);
  const char* strengths[] = {"02", "01", "02"};  // directory order: renamed, replaced, kept
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(fields[i].at("Encryption Strength"), strengths[i]);
}

TEST(AESVolumes, AnItemCrossingTwoVolumesReadsBack) {
  TempDir dir;
  const volume_test::TItems items = {{"a.bin", volume_test::Noise(150'000, 5)},
                                     {"b.txt", codec_test::TextData(90'000, 6)}};
  archiver::TZipArchiver arc;
  volume_test::SplitInto(arc, dir / "set.zip", 65536);
  arc.SetPassword("SECRET");
  arc.SetEncryptionMethod(archiver::caAES_256);
  volume_test::WriteSet(arc, items);
  ASSERT_GE(volume_test::SplitVolumes(dir.Path(), "set", ".z", ".zip").size(), 3u);

  archiver::TZipArchiver reader;
  reader.SetPassword("SECRET");
  EXPECT_TRUE(volume_test::OurContents(dir / "set.zip", &reader) == items);
  EXPECT_NE(RunCmd("7zz t -pSECRET " + Q(dir / "set.zip") + " 2>&1").find("Everything is Ok"), std::string::npos);
}

}  // namespace
