// Merging archives: items of peer-made archives (odd forms included) merged
// into ours and ours into theirs, raw and checked by the peers; clashing
// names under every overwrite mode; offsets past 4 GiB and more than 65,535
// entries; and every failure leaving both archives as they were.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "archiver/ZAExcept.h"
#include "merge_util.h"
#include "platform/Dialogs.h"

namespace {

using namespace commit_test;
using namespace merge_test;
using archiver::TZipArchiver;
using base_test::NativeErrorOf;

// Files in `folder` whose names begin with the commit's temporary prefix.
int TempFiles(const std::string& folder) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.path().filename().string().rfind("FC", 0) == 0) ++n;
  return n;
}

int Merge(const std::string& into, const std::string& from) {
  TZipArchiver arc;
  arc.SetFileName(into);
  arc.OpenArchive();
  const int n = arc.MergeWith(from);
  arc.CloseArchive();
  EXPECT_EQ(arc.LastCloseError(), "");
  return n;
}

TEST(MergeArchives, DisjointPeersBothWays) {
  TempDir dir;
  for (const TMaker maker : AllMakers()) {
    for (const bool intoOurs : {true, false}) {
      SCOPED_TRACE(MakerName(maker) + (intoOurs ? " into ours" : ", ours into it"));
      const std::string peer = dir / "peer.zip", ours = dir / "ours.zip";
      MakeArchive(dir, maker, "peer", peer);
      MakeArchive(dir, TMaker::Ours, "ours", ours);
      const std::string& target = intoOurs ? ours : peer;
      const std::string& other = intoOurs ? peer : ours;
      const std::string otherBytes = base_test::ReadBytes(other);
      auto expected = PythonContents(target);
      const auto added = PythonContents(other);
      ASSERT_EQ(added.count("<failed>"), 0u) << Describe(added);
      expected.insert(added.begin(), added.end());
      // Where this archive's items lie (a bare stub in front counted).
      std::vector<load_test::InfoEntry> kept;
      {
        TZipArchiver arc;
        arc.SetFileName(target);
        arc.OpenArchive(archiver::ZAModeReadShared);
        kept = load_test::OurInfo(*arc.DMHandle());
      }
      const auto otherEntries = ZipInfoEntries(other);

      EXPECT_EQ(Merge(target, other), static_cast<int>(added.size()));

      ExpectPeersAccept(target);
      ExpectContents(target, expected);
      ExpectFileBytes(other, otherBytes);
      // This archive's items stay where they were, in their order.
      const auto now = load_test::ZipInfo(target);
      ASSERT_EQ(now.size(), kept.size() + added.size());
      EXPECT_TRUE(std::equal(kept.begin(), kept.end(), now.begin()));
      // The merged entries are the other's, but for their offsets.
      const auto entries = ZipInfoEntries(target);
      for (const auto& [name, text] : otherEntries) {
        ASSERT_EQ(entries.count(name), 1u) << name;
        EXPECT_EQ(entries.at(name), text) << name;
      }
    }
  }
}

TEST(MergeArchives, EncryptedItemsNeedNoPassword) {
  TempDir dir;
  const std::string ours = dir / "ours.zip", classic = dir / "classic.zip", aes = dir / "aes.zip";
  MakeArchive(dir, TMaker::Ours, "ours", ours);
  WriteTree(dir / "src", TreeFiles("pw"));
  WriteTree(dir / "src", TreeFiles("aes"));
  RunCmd("cd " + Q(dir / "src") + " && zip -qr -P pw " + Q(classic) + " pw");
  RunCmd("cd " + Q(dir / "src") + " && " + load_test::SevenZip() + " a -tzip -mem=AES256 -pSECRET " + Q(aes) +
         " aes >/dev/null");

  TZipArchiver arc;
  arc.SetFileName(ours);
  arc.OnPassword = [](TZABaseArchiver&, const std::string&, std::string&, bool&) {
    ADD_FAILURE() << "a raw copy asks for no password";
  };
  arc.OpenArchive();
  arc.MergeWith(classic);
  arc.MergeWith(aes);
  arc.CloseArchive();
  EXPECT_EQ(RunCmd("unzip -P pw -tq " + Q(ours) + " 'pw/*' >/dev/null 2>&1 && echo ok"), "ok\n");
  EXPECT_EQ(RunCmd(std::string(load_test::SevenZip()) + " t -pSECRET " + Q(ours) + " 'aes/*' >/dev/null 2>&1 && echo ok"),
            "ok\n");
  // Every item of both is there (the peers' checks passed their CRCs).
  EXPECT_EQ(RunCmd("unzip -Z1 " + Q(ours) + " | grep -c '^pw/\\|^aes/'"), "12\n");
}

// This archive: stored "same.txt" (dated 2020) between two others, and
// "a.txt"; the other: "same.txt" dated `otherYear`, "A.txt" and "new.txt".
class MergeClash : public ::testing::Test {
 protected:
  static std::string Make(const std::string& path, const std::vector<std::pair<std::string, std::string>>& items,
                          int year) {
    TZipArchiver arc;
    arc.SetFileName(path);
    arc.SetCompressionMode(0);  // stored: the old bytes can be looked for in the file
    arc.OpenArchive(archiver::ZAModeCreate);
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = 5;
    tm.tm_mday = 1;
    tm.tm_hour = 12;
    const std::time_t when = std::mktime(&tm);
    for (const auto& [name, data] : items) arc.AddFromString(name, data, 0x20, when);
    arc.CloseArchive();
    return base_test::ReadBytes(path);
  }
  void MakeBoth(int otherYear) {
    Make(path, {{"first.txt", "first"}, {"same.txt", kOld}, {"a.txt", "lower"}, {"last.txt", "last"}}, 2020);
    otherBytes = Make(other, {{"same.txt", kNew}, {"A.txt", "upper"}, {"new.txt", "new"}}, otherYear);
  }
  // Merges under `mode`; returns whether same.txt was replaced, checking
  // everything else on the way.
  bool MergeUnder(archiver::TZAOverwriteMode mode, int otherYear,
                  const std::function<void(TZipArchiver&)>& setUp = nullptr) {
    MakeBoth(otherYear);
    TZipArchiver arc;
    arc.SetFileName(path);
    arc.Options().SetOverwriteMode(mode);
    if (setUp) setUp(arc);
    arc.OpenArchive();
    arc.MergeWith(other);
    arc.CloseArchive();
    ExpectFileBytes(other, otherBytes);
    ExpectPeersAccept(path);
    const auto got = PythonContents(path);
    EXPECT_EQ(got.at("a.txt"), "lower");
    EXPECT_EQ(got.at("A.txt"), "upper");
    EXPECT_EQ(got.at("new.txt"), "new");
    // A replaced item keeps its place; its old bytes are gone from the file.
    const std::string names = RunCmd("unzip -Z1 " + Q(path));
    EXPECT_EQ(names, "first.txt\nsame.txt\na.txt\nlast.txt\nA.txt\nnew.txt\n");
    const bool replaced = got.at("same.txt") == kNew;
    EXPECT_EQ(base_test::ReadBytes(path).find(kOld) == std::string::npos, replaced);
    if (!replaced) {
      EXPECT_EQ(got.at("same.txt"), kOld);
    }
    return replaced;
  }
  TempDir dir;
  const std::string path = dir / "this.zip", other = dir / "other.zip";
  std::string otherBytes;
  const std::string kOld = "the old same.txt, stored", kNew = "the new same.txt";
};

TEST_F(MergeClash, OverwriteModes) {
  EXPECT_TRUE(MergeUnder(archiver::omAlways, 2010));
  EXPECT_FALSE(MergeUnder(archiver::omNever, 2030));
  EXPECT_TRUE(MergeUnder(archiver::omIfNewer, 2030));
  EXPECT_FALSE(MergeUnder(archiver::omIfNewer, 2010));
  EXPECT_TRUE(MergeUnder(archiver::omIfOlder, 2010));
  EXPECT_FALSE(MergeUnder(archiver::omIfOlder, 2030));
  EXPECT_FALSE(MergeUnder(archiver::omIfNewer, 2020));  // equal date-times never replace
  for (const bool yes : {true, false}) {
    std::vector<std::pair<std::string, std::string>> asked;
    EXPECT_EQ(MergeUnder(archiver::omPrompt, 2030,
                         [&](TZipArchiver& arc) {
                           arc.OnConfirmOverwrite = [&](TZABaseArchiver&, const std::string& source,
                                                        std::string& dest, bool& confirm) {
                             asked.emplace_back(source, dest);
                             confirm = yes;
                           };
                         }),
              yes);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].first, other + "/same.txt");
    EXPECT_EQ(asked[0].second, path + "/same.txt");
  }
}

TEST_F(MergeClash, YesToAllFromTheDialog) {
  platform::TScriptedDialogs dialogs;
  platform::TDialogProviderScope scope(&dialogs);
  dialogs.answers = {platform::mrYesToAll};
  TZipArchiver* seen = nullptr;
  EXPECT_TRUE(MergeUnder(archiver::omPrompt, 2010, [&](TZipArchiver& arc) { seen = &arc; }));
  ASSERT_EQ(dialogs.asked.size(), 1u);
  EXPECT_NE(dialogs.asked[0].text.find(path + "/same.txt"), std::string::npos) << dialogs.asked[0].text;
  (void)seen;
}

TEST(MergeArchives, OffsetsPastFourGigabytes) {
  TempDir dir;
  const std::string big = dir / "big.zip", small = dir / "small.zip";
  // One stored item whose data is a hole ending 60 bytes below 0xFFFFFFFF
  // (4 GiB long, a few KB on disk).
  records_test::RunPython(dir, R"PY(
import struct, sys
f = open(sys.argv[1], 'wb')
name = b'hole.bin'
size = 0xFFFFFFFF - 60 - 30 - len(name)
f.write(struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, 0, 0, 0x21, 0, size, size, len(name), 0) + name)
f.seek(size, 1)
start = f.tell()
central = struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 20, 20, 0, 0, 0, 0x21, 0, size, size,
                      len(name), 0, 0, 0, 0, 0x20, 0) + name
f.write(central)
f.write(struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 1, 1, len(central), start, 0))
)PY",
                          Q(big));
  records_test::RunPython(dir, R"PY(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)
for i in range(4): z.writestr('m%d.txt' % i, ('merged %d ' % i) * 40)
z.close()
)PY",
                          Q(small));
  EXPECT_EQ(Merge(big, small), 4);
  const std::string names = "m0.txt m1.txt m2.txt m3.txt";
  EXPECT_EQ(RunCmd("unzip -tq " + Q(big) + " " + names + " >/dev/null 2>&1 && echo ok"), "ok\n");
  EXPECT_EQ(RunCmd(std::string(load_test::SevenZip()) + " t " + Q(big) + " " + names + " >/dev/null 2>&1 && echo ok"),
            "ok\n");
  const auto info = load_test::ZipInfo(big);
  ASSERT_EQ(info.size(), 5u);
  EXPECT_LT(info[1].offset, uint64_t{0xFFFFFFFF});
  EXPECT_GT(info[3].offset, uint64_t{0xFFFFFFFF});
  TZipArchiver arc;
  arc.SetFileName(big);
  arc.OpenArchive();
  const archiver::TZADirManager& dm = *arc.DMHandle();
  EXPECT_TRUE(dm.FZip64);
  EXPECT_EQ(dm.CDir[3].CentralDir.relOffsetLH, archiver::ZA_SENTINEL32);
  EXPECT_EQ(dm.CDir[3].LocalHeaderOffset(), info[3].offset);
  EXPECT_EQ(dm.CDir[1].CentralDir.relOffsetLH, info[1].offset);
  for (int i = 0; i < 4; ++i) {
    std::string text;
    arc.ExtractToString("m" + std::to_string(i) + ".txt", text);
    EXPECT_EQ(text.size(), 40u * 9);
  }
}

TEST(MergeArchives, MoreThan65535Entries) {
  TempDir dir;
  const std::string a = dir / "a.zip", b = dir / "b.zip";
  records_test::RunPython(dir, R"PY(
import sys, zipfile
for path, n, prefix in ((sys.argv[1], 30000, 'a'), (sys.argv[2], 40000, 'b')):
    z = zipfile.ZipFile(path, 'w')
    for i in range(n): z.writestr('%s%d' % (prefix, i), prefix)
    z.close()
)PY",
                          Q(a) + " " + Q(b));
  EXPECT_EQ(Merge(a, b), 40000);
  EXPECT_EQ(RunCmd(std::string(records_test::kPython) + " -c " +
                   Q("import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1])\n"
                     "print(len(z.infolist()), z.read('a0'), z.read('b39999'))") +
                   " " + Q(a)),
            "70000 b'a' b'b'\n");
  const std::string listing = RunCmd("unzip -l " + Q(a) + " | tail -1");
  EXPECT_NE(listing.find("70000 files"), std::string::npos) << listing;
  EXPECT_NE(base_test::ReadBytes(a).rfind(std::string("PK\x06\x06", 4)), std::string::npos);
}

// Both archives as they were: bytes, the other's modification time, no
// temporary file left.
class MergeFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeArchive(dir, TMaker::Zip, "this", path);
    MakeArchive(dir, TMaker::Python, "other", other);
    // An hour back, so that a touch would show.
    const auto when = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    std::filesystem::last_write_time(other, when);
    before = base_test::ReadBytes(path);
    otherBefore = base_test::ReadBytes(other);
    otherTime = std::filesystem::last_write_time(other);
  }
  void ExpectUnchanged() {
    ExpectFileBytes(path, before);
    ExpectFileBytes(other, otherBefore);
    EXPECT_EQ(std::filesystem::last_write_time(other), otherTime);
    EXPECT_EQ(TempFiles(dir.Path()), 0);
  }
  TempDir dir;
  const std::string path = dir / "this.zip", other = dir / "other.zip";
  std::string before, otherBefore;
  std::filesystem::file_time_type otherTime;
};

TEST_F(MergeFailure, CancelAtAnItem) {
  // Small records reach the archive together; one larger than the copy
  // buffer goes on its own, with progress on the way.
  RunCmd("cd " + Q(dir.Path()) + " && echo one > one.txt && head -c 1200000 /dev/urandom > big.bin && "
         "echo three > three.txt && zip -q big.zip one.txt big.bin three.txt");
  const std::string big = dir / "big.zip";
  const std::string bigBytes = base_test::ReadBytes(big);
  for (const auto& [item, phase] : {std::pair{3, archiver::ppEnd}, std::pair{2, archiver::ppProcess}}) {
    TZipArchiver arc;
    arc.SetFileName(path);
    int started = 0;
    arc.OnFileProgress = [&, item = item, phase = phase](TZABaseArchiver&, const std::string&, double,
                                                        archiver::TZAProcessOperation op,
                                                        archiver::TZAProgressPhase ph, bool& cancel) {
      EXPECT_EQ(op, archiver::poMerge);
      if (ph == archiver::ppStart) ++started;
      cancel = started == item && ph == phase;
    };
    arc.OpenArchive();
    EXPECT_EQ(arc.MergeWith(big), 0);
    EXPECT_EQ(started, item);
    EXPECT_EQ(arc.DMHandle()->CDir.Count(), static_cast<int>(PythonContents(path).size()));
    arc.CloseArchive();
    ExpectUnchanged();
    ExpectFileBytes(big, bigBytes);
  }
  auto expected = PythonContents(path);
  const auto added = PythonContents(big);
  expected.insert(added.begin(), added.end());
  EXPECT_EQ(Merge(path, big), 3);
  ExpectContents(path, expected);
}

TEST_F(MergeFailure, ProgressOfAMerge) {
  std::vector<std::string> events;
  TZipArchiver arc;
  arc.SetFileName(path);
  arc.OnOverallProgress = [&](TZABaseArchiver&, double percent, archiver::TZAProcessOperation op,
                              archiver::TZAProgressPhase ph, bool&) {
    EXPECT_EQ(op, archiver::poMerge);
    if (ph != archiver::ppProcess) events.push_back(std::to_string(ph) + ":" + std::to_string(int(percent)));
  };
  arc.OpenArchive();
  arc.MergeWith(other);
  EXPECT_EQ(events, (std::vector<std::string>{"0:0", "2:100"}));
  // Nothing left to merge (every name is there): still one end at 100.
  events.clear();
  arc.Options().SetOverwriteMode(archiver::omNever);
  EXPECT_EQ(arc.MergeWith(other), 0);
  EXPECT_EQ(events, (std::vector<std::string>{"2:100"}));
}

TEST_F(MergeFailure, AbortOnARecordPastTheEnd) {
  // The last item's directory entry claims more data than lies before the
  // directory.
  const std::string damaged = std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/archiver/merge/record-past-end.zip";
  std::filesystem::copy_file(damaged, other, std::filesystem::copy_options::overwrite_existing);
  otherBefore = base_test::ReadBytes(other);
  std::filesystem::last_write_time(other, otherTime);
  for (const auto answer : {archiver::fxaAbort, archiver::fxaRetry}) {
    TZipArchiver arc;
    arc.SetFileName(path);
    int asked = 0;
    arc.OnProcessFileFailure = [&](TZABaseArchiver&, const std::string& name, archiver::TZAProcessOperation op,
                                   int native, int, const std::string&, archiver::TZAAction& action) {
      EXPECT_EQ(name, "c.txt");
      EXPECT_EQ(op, archiver::poMerge);
      EXPECT_EQ(native, archiver::ZA_ERR_INVALID_ARCHIVE);
      action = ++asked < 3 ? answer : archiver::fxaAbort;
    };
    arc.OpenArchive();
    arc.MergeWith(other);
    EXPECT_EQ(asked, answer == archiver::fxaRetry ? 3 : 1);
    arc.CloseArchive();
    ExpectUnchanged();
  }
  // Ignored, the item stays out and the rest is merged.
  TZipArchiver arc;
  arc.SetFileName(path);
  arc.OnProcessFileFailure = [](TZABaseArchiver&, const std::string&, archiver::TZAProcessOperation, int, int,
                                const std::string&, archiver::TZAAction& action) { action = archiver::fxaIgnore; };
  arc.OpenArchive();
  EXPECT_EQ(arc.MergeWith(other), 2);
  arc.CloseArchive();
  ExpectPeersAccept(path);
  const auto got = PythonContents(path);
  EXPECT_EQ(got.count("c.txt"), 0u);
  EXPECT_EQ(got.count("b.txt"), 1u);
}

TEST_F(MergeFailure, AWriteThatFails) {
  // Room for less than the other's items.
  EXPECT_TRUE(FailsPastFileSize(before.size() + 400, [&] {
    TZipArchiver arc;
    arc.SetFileName(path);
    arc.OpenArchive();
    arc.MergeWith(other);
  }));
  ExpectUnchanged();
}

TEST_F(MergeFailure, RefusedBeforeAnythingIsWritten) {
  TZipArchiver arc;
  arc.SetFileName(path);
  EXPECT_EQ(NativeErrorOf([&] { arc.MergeWith(other); }), archiver::ZA_ERR_ARCHIVE_NOT_OPEN);
  arc.OpenArchive();
  EXPECT_EQ(NativeErrorOf([&] { arc.MergeWith(dir / "missing.zip"); }), 12);
  // Itself, by its name, a link and a hard link.
  std::filesystem::create_symlink(path, dir / "link.zip");
  std::filesystem::create_hard_link(path, dir / "hard.zip");
  for (const std::string& self : {path, dir / "link.zip", dir / "hard.zip"})
    EXPECT_EQ(NativeErrorOf([&] { arc.MergeWith(self); }), archiver::ZA_ERR_CANNOT_OPEN_FILE) << self;
  arc.BeginUpdate();
  EXPECT_EQ(NativeErrorOf([&] { arc.MergeWith(other); }), archiver::ZA_ERR_UPDATE_NOT_ENDED);
  arc.CancelUpdate();
  // A volume set, as the other archive and as this one.
  RunCmd("cd " + Q(dir.Path()) + " && head -c 200000 /dev/urandom > split.bin && zip -q -s 64k split.zip split.bin");
  ASSERT_TRUE(std::filesystem::exists(dir / "split.z01"));
  EXPECT_EQ(NativeErrorOf([&] { arc.MergeWith(dir / "split.zip"); }), archiver::ZA_ERR_SPANNED_MODIFICATION);
  arc.CloseArchive();
  TZipArchiver set;
  set.SetFileName(dir / "split.zip");
  set.OpenArchive();
  ASSERT_NE(set.SpanningMode(), archiver::smNone);
  const std::string setBytes = base_test::ReadBytes(dir / "split.zip");
  EXPECT_EQ(NativeErrorOf([&] { set.MergeWith(other); }), archiver::ZA_ERR_SPANNED_MODIFICATION);
  set.CloseArchive();
  ExpectFileBytes(dir / "split.zip", setBytes);
  std::filesystem::remove(dir / "link.zip");
  std::filesystem::remove(dir / "hard.zip");
  ExpectUnchanged();
}

// Damaged other archives: whatever the damage, a merge either completes
// with an archive the peers can list, or raises and leaves this one as it
// was; never a crash (the suite runs under the sanitizers).
TEST_F(MergeFailure, DamagedOtherArchivesNeverCrash) {
  std::mt19937 rng(40);
  for (int round = 0; round < 80; ++round) {
    std::string bytes = otherBefore;
    for (int f = 1 + static_cast<int>(rng() % 4); f > 0; --f)
      bytes[rng() % bytes.size()] = static_cast<char>(rng() % 3 ? rng() : 0xFF);
    if (round % 3 == 0) bytes.resize(rng() % bytes.size());
    base_test::WriteBytes(other, bytes);
    base_test::WriteBytes(path, before);
    TZipArchiver arc;
    arc.SetFileName(path);
    arc.OnProcessFileFailure = [](TZABaseArchiver&, const std::string&, archiver::TZAProcessOperation, int, int,
                                  const std::string&, archiver::TZAAction& action) {
      action = archiver::fxaIgnore;
    };
    try {
      arc.OpenArchive();
      arc.MergeWith(other);
      arc.CloseArchive();
      EXPECT_NE(RunCmd("unzip -Z1 " + Q(path) + " 2>&1"), "<failed>") << "round " << round;
    } catch (const archiver::EZAException&) {
      arc.CloseArchive();
      ExpectFileBytes(path, before);
    }
  }
}

}  // namespace
