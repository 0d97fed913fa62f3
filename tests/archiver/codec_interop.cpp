// Items made by other zip tools decode here: Info-ZIP and 7-Zip archives,
// stored and deflated, plain and with traditional encryption (each tool's
// own style of password check). Each member is read straight from its local
// header, located by Python's zipfile; whole reads must give the file's
// bytes, windows its first bytes, and wrong passwords must never pass.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "archiver/ZACodec.h"
#include "codec_util.h"

namespace {

using namespace codec_test;
using base_test::Q;
using base_test::RunCmd;
using base_test::TempDir;

// One line per member: name, header offset, flags, method, CRC, sizes.
const char* kListScript = R"PY(
import sys, zipfile
for zi in zipfile.ZipFile(sys.argv[1]).infolist():
    print(zi.filename, zi.header_offset, zi.flag_bits, zi.compress_type, zi.CRC,
          zi.compress_size, zi.file_size)
)PY";

struct Member {
  std::string name;
  TDirItem item;
  int64_t offset = 0;
};

std::vector<Member> ListMembers(const TempDir& dir, const std::string& archive) {
  base_test::WriteBytes(dir / "list.py", kListScript);
  std::istringstream in(RunCmd("/usr/bin/python3 " + Q(dir / "list.py") + " " + Q(archive)));
  std::vector<Member> out;
  Member m;
  unsigned flags, method;
  uint32_t crc;
  uint64_t csize, usize;
  while (in >> m.name >> m.offset >> flags >> method >> crc >> csize >> usize) {
    m.item = TDirItem{};
    m.item.Name = m.name;
    auto& cd = m.item.CentralDir;
    cd.extractVersion = 20;
    cd.genPurposeFlag = static_cast<uint16_t>(flags);
    cd.compMethod = static_cast<uint16_t>(method);
    m.item.CompressionMethod = cd.compMethod;
    cd.crc32 = crc;
    cd.compSize = static_cast<uint32_t>(csize);
    cd.unCompSize = static_cast<uint32_t>(usize);
    out.push_back(m);
  }
  return out;
}

class CodecInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    files_["book.fb2"] = TextData(1'200'000, 21);
    files_["noise.bin"] = RandomData(150'000, 22);
    files_["small.txt"] = "hello, world\n";
    files_["empty.txt"] = "";
    for (const auto& [name, bytes] : files_) base_test::WriteBytes(dir_ / name, bytes);
  }

  // Runs `cmd` in the folder (the tool adds every sample file) and checks
  // each member of the archive made.
  void CheckArchive(const std::string& cmd, const std::string& archive, bool encrypted) {
    SCOPED_TRACE(cmd);
    ASSERT_NE(RunCmd("cd " + Q(dir_.Path()) + " && " + cmd + " >/dev/null 2>&1 && echo done"), "<failed>");
    const std::vector<Member> members = ListMembers(dir_, dir_ / archive);
    ASSERT_EQ(members.size(), files_.size());
    platform::TFileStream arc(dir_ / archive, platform::fmOpenRead | platform::fmShareDenyNone);
    for (const Member& m : members) {
      SCOPED_TRACE(m.name);
      const std::string& expected = files_.at(m.name);
      EXPECT_EQ((m.item.CentralDir.genPurposeFlag & 1) != 0, encrypted);

      TestHost host;
      host.password = "pw";
      TDirItem item = m.item;
      platform::TStringStream whole, head;
      arc.SetPosition(m.offset);
      EXPECT_TRUE(archiver::ZADecompressItem(host, arc, whole, item, 0, 0));
      EXPECT_TRUE(whole.DataString() == expected);
      arc.SetPosition(m.offset);
      EXPECT_TRUE(archiver::ZADecompressItem(host, arc, head, item, 2000, 0));
      EXPECT_EQ(head.DataString(), expected.substr(0, 2000));

      // A wrong password fails at the header check or at the CRC, whichever
      // catches it (an empty member has nothing to catch it with).
      if (encrypted && !expected.empty()) {
        for (const char* wrong : {"px", "PW", "pw ", "wrong", "1234"}) {
          TestHost other;
          other.password = wrong;
          platform::TStringStream out;
          arc.SetPosition(m.offset);
          EXPECT_FALSE(archiver::ZADecompressItem(other, arc, out, item, 0, 0)) << wrong;
        }
      }
    }
  }

  TempDir dir_;
  std::map<std::string, std::string> files_;
  const std::string all_ = "book.fb2 noise.bin small.txt empty.txt";
};

TEST_F(CodecInterop, InfoZip) {
  CheckArchive("zip -q -X d.zip " + all_, "d.zip", false);
  CheckArchive("zip -q -X -0 s.zip " + all_, "s.zip", false);
  CheckArchive("zip -q -X -P pw de.zip " + all_, "de.zip", true);
  CheckArchive("zip -q -X -0 -P pw se.zip " + all_, "se.zip", true);
  // Streamed input: sizes in a data descriptor, password check on the time.
  CheckArchive("cat book.fb2 | zip -q -P pw pipe.zip - && zip -q -P pw pipe.zip noise.bin small.txt empty.txt"
               " && printf '@ -\\n@=book.fb2\\n' | zipnote -w pipe.zip",
               "pipe.zip", true);
}

TEST_F(CodecInterop, SevenZip) {
  if (!base_test::HaveTool("7zz")) GTEST_SKIP() << "7zz not installed";
  CheckArchive("7zz a -tzip -mx=0 s.zip " + all_, "s.zip", false);
  CheckArchive("7zz a -tzip -mm=Deflate -mx=5 d.zip " + all_, "d.zip", false);
  CheckArchive("7zz a -tzip -mx=0 -mem=ZipCrypto -ppw se.zip " + all_, "se.zip", true);
  CheckArchive("7zz a -tzip -mm=Deflate -mx=9 -mem=ZipCrypto -ppw de.zip " + all_, "de.zip", true);
}

}  // namespace
