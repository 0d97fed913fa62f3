// Repairing damaged archives (tests/data/archiver/repair/, made by Python
// and Info-ZIP): what opening lists, what the repair reports and writes, as
// the peers and "zip -FF" see it; encrypted items with and without their
// password; and every refusal or failure leaving the files as they were.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "archiver/ZAExcept.h"
#include "merge_util.h"
#include "platform/Streams.h"

namespace {

using namespace commit_test;
using archiver::TZipArchiver;
using base_test::NativeErrorOf;
namespace fs = std::filesystem;

std::string Fixture(const std::string& name) {
  return std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/archiver/repair/" + name + ".zip";
}

std::set<std::string> Keys(const std::map<std::string, std::string>& m) {
  std::set<std::string> out;
  for (const auto& [k, v] : m) out.insert(k);
  return out;
}

const std::string kOem = "повесть.txt";

// The item names of an archive, as opening it lists them.
std::set<std::string> Listed(const std::string& path) {
  TZipArchiver arc;
  arc.SetFileName(path);
  arc.OpenArchive(archiver::ZAModeRead);
  std::set<std::string> names;
  for (int i = 0; i < arc.DMHandle()->CDir.Count(); ++i) names.insert(arc.DMHandle()->CDir[i].Name);
  return names;
}

struct TCase {
  std::string damage;
  std::set<std::string> listed;   // what opening lists
  std::set<std::string> damaged;  // what the repair reports
  bool likeZipFF;                 // zip -FF keeps the same items
  std::set<std::string> keptRaw = {};  // damaged items kept as they were
  std::set<std::string> leftOut = {};  // damaged items with nothing to keep
};

const std::vector<TCase>& Cases() {
  static const std::set<std::string> all = {"a.txt", "dir/", "inner.zip", "c.txt", kOem};
  static const std::vector<TCase> cases = {
      {"dir-zeroed", all, {}, true},
      {"dir-zeroed-noend", all, {}, true},
      {"dir-cut", all, {}, true},
      {"garbage", all, {}, true},
      {"garbage-cut", all, {}, true},
      {"flipped", all, {"a.txt"}, false, {"a.txt"}},
      {"cut-in-c", {"a.txt", "dir/", "inner.zip", "c.txt"}, {"c.txt"}, false, {"c.txt"}},
      // The cut falls inside the stored inner archive: the scan goes through
      // it and finds its members, the second of them cut short. The inner
      // archive's bytes are its members': nothing is left of it.
      {"cut-in-inner", {"a.txt", "dir/", "inner.zip", "x.txt", "y.txt"}, {"inner.zip", "y.txt"}, false, {"y.txt"},
       {"inner.zip"}},
  };
  return cases;
}

// The bytes of `item` that 7-Zip extracts from `path`, damaged or not.
std::string SevenZipBytes(const std::string& path, const std::string& item) {
  return RunCmd(std::string(load_test::SevenZip()) + " x -so " + Q(path) + " " + Q(item) + " 2>/dev/null; true");
}

// What a peer recovers of `item` in the damaged archive `path`: its data
// as far as the file goes (a streamed record that declares no size: up to
// the next local header), stored bytes up to the declared size, deflate
// output (Python's zlib, fed byte by byte) up to the first error.
const char* kRecoverScript = R"PY(
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
name = sys.argv[2].encode()
at = 0
while True:
    at = data.index(b'PK\x03\x04', at)
    n, e = struct.unpack_from('<HH', data, at + 26)
    if data[at + 30:at + 30 + n] == name:
        break
    at += 4
flag, method = struct.unpack_from('<HH', data, at + 6)
csize, usize = struct.unpack_from('<II', data, at + 18)
start = at + 30 + n + e
if flag & 8 and csize in (0, 0xFFFFFFFF):
    csize = usize = (data.find(b'PK\x03\x04', start) % (len(data) + 1)) - start
raw = data[start:start + csize]
out = b''
if method == 0:
    out = raw[:usize]
else:
    d = zlib.decompressobj(-15)
    try:
        for i in range(len(raw)):
            out += d.decompress(raw[i:i + 1])
    except zlib.error:
        pass
sys.stdout.write(out.hex())
)PY";

// What zlib recovers of `item` in the damaged archive `path`.
std::string PeerRecovers(const TempDir& dir, const std::string& path, const std::string& item) {
  return base_test::Unhex(records_test::RunPython(dir, kRecoverScript, Q(path) + " " + Q(item)));
}

TEST(RepairArchive, DamagedFixtures) {
  TempDir dir;
  for (const std::string maker : {"py", "iz"}) {
    const auto sound = PythonContents(Fixture(maker + "-sound"));
    ASSERT_EQ(Keys(sound), Cases()[0].listed);
    for (const TCase& c : Cases()) {
      SCOPED_TRACE(maker + "-" + c.damage);
      const std::string damaged = Fixture(maker + "-" + c.damage), out = dir / "out.zip";
      EXPECT_EQ(Listed(damaged), c.listed);
      TZipArchiver arc;
      arc.SetFileName(damaged);

      std::set<std::string> reported;
      arc.OnProcessFileFailure = [&](archiver::TZABaseArchiver&, const std::string& name,
                                     archiver::TZAProcessOperation, int native, int, const std::string&,
                                     archiver::TZAAction& action) {
        EXPECT_EQ(native, archiver::ZA_ERR_INVALID_SIZE_OR_CRC);
        reported.insert(name);
        action = archiver::fxaIgnore;
      };
      const auto result = arc.RepairArchive(out);
      EXPECT_TRUE(result.Completed);
      EXPECT_EQ(reported, c.damaged);
      EXPECT_EQ(result.Damaged, static_cast<int>(c.damaged.size()));
      std::set<std::string> written = c.listed;
      for (const std::string& name : c.leftOut) written.erase(name);
      EXPECT_EQ(result.Written, static_cast<int>(written.size()));
      EXPECT_EQ(Listed(out), written);
      // A damaged item kept as it was: peers see the damage and recover as
      // much of it as before (an item inside another, which 7-Zip does not
      // list, as much as zlib recovers).
      if (!c.keptRaw.empty()) {
        EXPECT_NE(UnzipTest(out), "ok\n");
      }
      for (const std::string& name : c.keptRaw) {
        const std::string kept = SevenZipBytes(out, name), before = SevenZipBytes(damaged, name);
        EXPECT_FALSE(kept.empty());
        if (!before.empty()) {
          EXPECT_EQ(kept, before);
        } else {
          const std::string peer = PeerRecovers(dir, damaged, name);
          EXPECT_FALSE(peer.empty());
          EXPECT_TRUE(kept.compare(0, peer.size(), peer) == 0);
        }
      }
      if (!c.keptRaw.empty()) continue;
      ExpectPeersAccept(out);
      const auto got = PythonContents(out);
      EXPECT_EQ(Keys(got), written);
      for (const auto& [name, data] : got) {
        // Never written empty for an item that had data.
        EXPECT_TRUE(!data.empty() || (sound.count(name) && sound.at(name).empty())) << name;
        if (c.damaged.count(name)) continue;
        if (name == "x.txt") {
          std::string x;
          for (int i = 0; i < 40; ++i) x += "x of the inner archive\n";
          EXPECT_EQ(data, x);
        } else {
          EXPECT_TRUE(sound.count(name) && sound.at(name) == data) << name;
        }
      }
      if (c.likeZipFF) {
        const std::string ff = dir / "ff.zip";
        fs::remove(ff);
        RunCmd("echo y | zip -FF " + Q(damaged) + " --out " + Q(ff) + " >/dev/null 2>&1");
        EXPECT_EQ(Keys(PythonContents(ff)), c.listed);
      }
    }
  }
}


// Single damaged or awkward items: what extraction and repair keep of them.
TEST(RepairArchive, WhatAnAwkwardItemKeeps) {
  enum TKeeps { kRecovered, kPassedOver, kMode755, kOthersClean, kSameNames, kNothingKept };
  struct TItemCase {
    std::string file, item;
    TKeeps keeps;
  };
  const std::vector<TItemCase> cases = {
      {"py-flipped", "a.txt", kRecovered},   // deflate, one byte flipped
      {"iz-flipped", "a.txt", kRecovered},
      {"py-cut-in-c", "c.txt", kRecovered},  // deflate, cut short
      {"cut-stored", "b.txt", kRecovered},   // stored, cut short
      {"cut-in-first", "first.txt", kRecovered},  // deflate, the file cut inside it
      {"cut-at-data", "gone.txt", kNothingKept},
      // Streamed records (data descriptor), cut: their local headers give
      // no CRC, nor sizes (Python's zip64 streams) or only the uncompressed
      // size (Info-ZIP to a pipe).
      {"py64-stream-cut", "book.fb2", kRecovered},
      {"py64-stream-cut-in-descriptor", "book.fb2", kRecovered},
      {"iz-stream-cut", "book.fb2", kRecovered},
      {"py64-stream-cut-at-data", "book.fb2", kNothingKept},
      {"cut-in-name", "", kNothingKept},
      // A name in the DOS code page with its Unicode path field; names in
      // UTF-8 (flag bit 11) from a DOS host.
      {"unicode-path", "повесть.txt", kSameNames},
      {"utf8-name", "", kSameNames},
      // Names that cannot be added again: the rest is repaired.
      {"blank-name", "", kPassedOver},
      {"unix-755", "run.sh", kMode755},
      // Its record, copied as it is, would make the next item overlap it.
      {"local-name-shorter", "m0.txt", kOthersClean},
  };
  TempDir dir;
  for (const TItemCase& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string damaged = Fixture(c.file), out = dir / "out.zip";
    TZipArchiver arc;
    arc.SetFileName(damaged);
    std::set<std::string> reported;
    arc.OnProcessFileFailure = [&](archiver::TZABaseArchiver&, const std::string& name,
                                   archiver::TZAProcessOperation, int, int, const std::string&,
                                   archiver::TZAAction& action) {
      reported.insert(name);
      action = archiver::fxaIgnore;
    };
    switch (c.keeps) {
      case kRecovered: {
        const std::string peer = PeerRecovers(dir, damaged, c.item);
        ASSERT_FALSE(peer.empty());
        arc.SetOpenCorruptedArchives(true);
        arc.OpenArchive(archiver::ZAModeRead);
        std::string text;
        EXPECT_EQ(NativeErrorOf([&] { arc.ExtractToString(c.item, text); }), archiver::ZA_ERR_INVALID_SIZE_OR_CRC);
        arc.SetExtractCorruptedFiles(true);
        arc.ExtractToString(c.item, text);
        EXPECT_EQ(text.size(), peer.size());
        EXPECT_TRUE(text == peer);
        arc.CloseArchive();
        // Repaired in place: the item keeps what was there, and stays
        // damaged to every reader.
        fs::copy_file(damaged, out);
        arc.SetFileName(out);
        const auto result = arc.RepairArchive("");
        EXPECT_TRUE(result.Completed);
        EXPECT_EQ(result.Damaged, 1);
        EXPECT_EQ(reported, std::set<std::string>{c.item});
        const std::string repaired = SevenZipBytes(out, c.item);
        EXPECT_GE(repaired.size(), peer.size());
        EXPECT_TRUE(repaired.compare(0, peer.size(), peer) == 0);
        EXPECT_NE(UnzipTest(out), "ok\n");
        EXPECT_NE(load_test::SevenZipTest(out), "ok\n");
        EXPECT_NE(load_test::PythonTest(out), "ok\n");
        arc.OpenArchive(archiver::ZAModeRead);
        arc.ExtractToString(c.item, text);
        EXPECT_TRUE(text == peer);
        arc.CloseArchive();
        break;
      }
      case kNothingKept: {
        // Nothing of the only item is left: no archive is made of nothing,
        // and repaired in place the file stays as it was.
        EXPECT_EQ(NativeErrorOf([&] { arc.RepairArchive(out); }), archiver::ZA_ERR_INVALID_ARCHIVE);
        EXPECT_FALSE(fs::exists(out));
        fs::copy_file(damaged, out);
        arc.SetFileName(out);
        EXPECT_EQ(NativeErrorOf([&] { arc.RepairArchive(""); }), archiver::ZA_ERR_INVALID_ARCHIVE);
        ExpectFileBytes(out, base_test::ReadBytes(damaged));
        for (const auto& e : fs::directory_iterator(dir.Path()))  // no temporary file left
          EXPECT_TRUE(e.path() == out || e.path().filename() == "script.py") << e.path();
        break;
      }
      case kSameNames: {
        EXPECT_TRUE(arc.RepairArchive(out).Completed);
        EXPECT_EQ(RunCmd("unzip -Z1 " + Q(out) + " 2>&1"), RunCmd("unzip -Z1 " + Q(damaged) + " 2>&1"));
        EXPECT_EQ(load_test::PythonNames(out), load_test::PythonNames(damaged));
        if (!c.item.empty()) {
          EXPECT_EQ(RunCmd("unzip -l " + Q(out) + " | grep -c " + Q(c.item)), "1\n");
        }
        break;
      }
      case kPassedOver: {
        EXPECT_TRUE(arc.RepairArchive(out).Completed);
        EXPECT_TRUE(reported.count(c.item));
        EXPECT_EQ(PythonContents(out), (std::map<std::string, std::string>{{"first.txt", "first\n"},
                                                                            {"last.txt", "last\n"}}));
        break;
      }
      case kOthersClean: {
        EXPECT_TRUE(arc.RepairArchive(out).Completed);
        EXPECT_EQ(reported, std::set<std::string>{c.item});
        TZipArchiver check;
        check.SetFileName(out);
        int failures = 0;
        check.OnProcessFileFailure = [&](archiver::TZABaseArchiver&, const std::string&,
                                         archiver::TZAProcessOperation, int, int, const std::string&,
                                         archiver::TZAAction& action) {
          ++failures;
          action = archiver::fxaIgnore;
        };
        check.OpenArchive(archiver::ZAModeRead);
        check.TestFiles("*.*", archiver::ZADefaultSearchAttr, "");
        EXPECT_LE(failures, 1);
        break;
      }
      case kMode755:
        EXPECT_TRUE(arc.RepairArchive(out).Completed);
        EXPECT_EQ(records_test::RunPython(dir, R"PY(
import sys, zipfile
i = zipfile.ZipFile(sys.argv[1]).getinfo(sys.argv[2])
print(i.create_system, oct(i.external_attr >> 16))
)PY",
                                          Q(out) + " " + Q(c.item)),
                  "3 0o100755\n");
        RunCmd("cd " + Q(dir.Path()) + " && unzip -qo " + Q(out));
        EXPECT_EQ(fs::status(dir / c.item).permissions() & fs::perms::all, fs::perms(0755));
        break;
    }
    fs::remove(out);
  }
}

TEST(RepairArchive, EncryptedItemsWithAndWithoutThePassword) {
  // Info-ZIP's traditional encryption and 7-Zip's AES-256, directory cut off.
  struct TMaker {
    std::string password, make, test;
  };
  const std::vector<TMaker> makers = {
      {"pw", "zip -qr -P pw {} pw", "unzip -P pw -tq {}"},
      {"SECRET", std::string(load_test::SevenZip()) + " a -tzip -mem=AES256 -pSECRET {} pw",
       std::string(load_test::SevenZip()) + " t -pSECRET {}"}};
  TempDir dir;
  merge_test::WriteTree(dir / "src", merge_test::TreeFiles("pw"));
  for (const TMaker& m : makers) {
    const std::string sound = dir / "sound.zip", damaged = dir / "damaged.zip", out = dir / "out.zip";
    const auto cmd = [](std::string c, const std::string& path) { return c.replace(c.find("{}"), 2, Q(path)); };
    fs::remove(sound);
    RunCmd("cd " + Q(dir / "src") + " && " + cmd(m.make, sound) + " >/dev/null");
    const std::string bytes = base_test::ReadBytes(sound);
    base_test::WriteBytes(damaged, bytes.substr(0, bytes.find(std::string("PK\x01\x02", 4))));
    for (const bool known : {false, true}) {
      SCOPED_TRACE(m.password + (known ? " given" : " not given"));
      TZipArchiver arc;
      arc.SetFileName(damaged);
      if (known) arc.SetPassword(m.password);
      const auto result = arc.RepairArchive(out);
      EXPECT_TRUE(result.Completed);
      EXPECT_EQ(result.Damaged, 0);
      EXPECT_EQ(result.Unverified, known ? 0 : 4);  // the four files; folders need no password
      EXPECT_EQ(RunCmd(cmd(m.test, out) + " >/dev/null 2>&1 && echo ok"), "ok\n");
      EXPECT_EQ(Listed(out), Listed(sound));
    }
  }
}

// The archive and an existing output as they were, whatever failed.
class RepairFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(Fixture("py-flipped"), path);
    original = base_test::ReadBytes(path);
    base_test::WriteBytes(out, "an old output");
  }
  void ExpectUnchanged() {
    ExpectFileBytes(path, original);
    ExpectFileBytes(out, "an old output");
    int others = 0;
    for (const auto& e : fs::directory_iterator(dir.Path()))
      others += e.path().filename() != "a.zip" && e.path().filename() != "out.zip";
    EXPECT_EQ(others, 0);
  }
  TempDir dir;
  const std::string path = dir / "a.zip", out = dir / "out.zip";
  std::string original;
};

TEST_F(RepairFailure, RefusalsAndAbort) {
  TZipArchiver arc;
  arc.SetFileName(path);
  arc.OpenArchive(archiver::ZAModeRead);
  EXPECT_EQ(NativeErrorOf([&] { arc.RepairArchive(out); }), archiver::ZA_ERR_ARCHIVE_IS_OPEN);
  arc.CloseArchive();
  {
    platform::TFileStream holder(path, platform::fmOpenRead | platform::fmShareDenyWrite);
    EXPECT_EQ(NativeErrorOf([&] { arc.RepairArchive(""); }), archiver::ZA_ERR_CANNOT_OPEN_FILE);
  }
  arc.OnProcessFileFailure = [](archiver::TZABaseArchiver&, const std::string&, archiver::TZAProcessOperation, int,
                                int, const std::string&, archiver::TZAAction& action) {
    action = archiver::fxaAbort;
  };
  EXPECT_FALSE(arc.RepairArchive(out).Completed);
  EXPECT_FALSE(arc.RepairArchive("").Completed);
  ExpectUnchanged();

  // Random bytes: no item at all.
  std::string noise(5000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
  base_test::WriteBytes(dir / "noise.bin", noise);
  arc.SetFileName(dir / "noise.bin");
  EXPECT_EQ(NativeErrorOf([&] { arc.RepairArchive(out); }), archiver::ZA_ERR_INVALID_ARCHIVE);
  ExpectFileBytes(out, "an old output");
  fs::remove(dir / "noise.bin");
}

TEST_F(RepairFailure, AWriteThatFails) {
  // Data that do not compress: the data file that the repair extracts into
  // fits the limit, the repaired archive does not.
  records_test::RunPython(dir, R"PY(
import os, sys, zipfile
z = zipfile.ZipFile(sys.argv[1], 'w')
z.writestr('noise.bin', os.urandom(20000))
z.close()
)PY",
                          Q(path));
  const std::string noise = base_test::ReadBytes(path);
  fs::remove(dir / "script.py");
  // Intact items whose directory was cut off: only the data file passes
  // the limit, and that is no damage of the item.
  const std::string compressible = base_test::ReadBytes(Fixture("compressible-dir-cut"));
  for (const auto& [bytes, limit] : {std::pair{noise, 20050}, std::pair{compressible, 20000}}) {
    base_test::WriteBytes(path, bytes);
    original = bytes;
    for (const bool inPlace : {false, true}) {
      SCOPED_TRACE(std::to_string(limit) + (inPlace ? " in place" : ""));
      EXPECT_TRUE(merge_test::FailsPastFileSize(limit, [&] {
        TZipArchiver arc;
        arc.SetFileName(path);
        arc.RepairArchive(inPlace ? "" : out);
      }));
      ExpectUnchanged();
    }
  }
}

TEST_F(RepairFailure, InPlaceThroughALink) {
  fs::create_symlink(path, dir / "link.zip");
  TZipArchiver arc;
  arc.SetFileName(dir / "link.zip");
  EXPECT_TRUE(arc.RepairArchive("").Completed);
  EXPECT_TRUE(fs::is_symlink(dir / "link.zip"));
  // The flipped item is kept as it was; the rest passes.
  EXPECT_EQ(RunCmd("unzip -tq " + Q(path) + " -x a.txt >/dev/null 2>&1 && echo ok"), "ok\n");
  EXPECT_EQ(Listed(path).size(), 5u);
}

}  // namespace
