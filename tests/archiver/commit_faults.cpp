// Failures during a commit: a source that fails part way, answered with
// Retry, Ignore or Abort (by a handler or through the dialog provider);
// progress handlers that cancel; where the tail file goes; sources of moved
// items. Whatever fails, the archive is either byte-identical to before or
// valid without the failed item.
#include <gtest/gtest.h>

#include <filesystem>

#include "archiver/ZAExcept.h"
#include "commit_util.h"
#include "merge_util.h"
#include "volume_util.h"
#include "platform/Dialogs.h"

namespace {

using namespace commit_test;
using archiver::TZipArchiver;

std::vector<std::string> Names(TZABaseArchiver& arc) {
  std::vector<std::string> out;
  for (int i = 0; i < arc.DMHandle()->CDir.Count(); ++i) out.push_back(arc.DMHandle()->CDir[i].Name);
  return out;
}

// Files in `folder` whose names begin with the tail file's prefix.
int TailFiles(const std::string& folder) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.path().filename().string().rfind("FC", 0) == 0) ++n;
  return n;
}

// "ok" when the items' records follow one another and the directory with no
// bytes between them (what a failed attempt would leave behind), else the
// first gap.
std::string Packed(const std::string& path) {
  TempDir dir;
  return records_test::RunPython(dir, R"PY(
import struct, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
f = open(sys.argv[1], 'rb')
at = 0
for i in sorted(z.infolist(), key=lambda i: i.header_offset):
    if i.header_offset != at:
        print('gap before', i.filename, at, i.header_offset); sys.exit()
    f.seek(at)
    n, e = struct.unpack('<HH', f.read(30)[26:30])
    at += 30 + n + e + i.compress_size
    if i.flag_bits & 8:
        f.seek(at)
        at += 16 if f.read(4) == b'PK\x07\x08' else 12
print('ok' if at == z.start_dir else 'gap before the directory %d %d' % (at, z.start_dir))
)PY", Q(path));
}

// Sets up a commit that deletes the first item, renames one, and adds three
// items of which the middle one's source fails after 1000 of its bytes.
std::shared_ptr<TFailingStream> PendChanges(TZABaseArchiver& arc, const std::string& bad) {
  arc.DMHandle()->CDir.DeleteItem(0);
  RenamePending(arc, IndexOf(arc, "d/中文名.txt"), "d/другое имя.txt");
  AddPending(arc, "first.txt", Text(5000, 1));
  auto failing = std::make_shared<TFailingStream>(bad, 1000);
  TDirItem& item = AddPendingItem(arc, "failing.txt");
  item.Stream = failing;
  item.bDestroyStream = true;
  AddPending(arc, "last.txt", Text(7000, 2));
  return failing;
}

TEST(CommitFaults, RetryIgnoreAbortOnPeerArchives) {
  const std::string bad = Text(200000, 9);
  for (const archiver::TZAAction answer : {archiver::fxaAbort, archiver::fxaIgnore, archiver::fxaRetry}) {
    TempDir dir;
    for (const TPeerArchive& peer : MakePeerArchives(dir)) {
      SCOPED_TRACE(peer.maker + (answer == archiver::fxaAbort ? " abort" : answer == archiver::fxaIgnore ? " ignore" : " retry"));
      const std::string before = base_test::ReadBytes(peer.path);
      auto expected = PythonContents(peer.path);
      TZipArchiver arc;
      arc.SetFileName(peer.path);
      arc.OpenArchive();
      const std::vector<std::string> names = Names(arc);
      const std::string first = names[0];
      std::shared_ptr<TFailingStream> failing;
      int failures = 0;
      arc.OnProcessFileFailure = [&](TZABaseArchiver&, const std::string& name, archiver::TZAProcessOperation op,
                                     int native, int, const std::string&, archiver::TZAAction& action) {
        ++failures;
        EXPECT_EQ(name, "failing.txt");
        EXPECT_EQ(op, archiver::poAdd);
        EXPECT_EQ(native, archiver::ZA_ERR_INVALID_COMPRESSED_SIZE);
        action = answer;
        if (answer == archiver::fxaRetry) failing->Heal();
      };
      arc.BeginUpdate();
      failing = PendChanges(arc, bad);
      arc.EndUpdate();
      EXPECT_EQ(failures, 1);
      EXPECT_EQ(TailFiles(dir.Path()), 0);
      if (answer == archiver::fxaAbort) {
        ExpectFileBytes(peer.path, before);
        EXPECT_EQ(Names(arc), names);
        continue;
      }
      arc.CloseArchive();
      expected.erase(first);
      expected["d/другое имя.txt"] = expected["d/中文名.txt"];
      expected.erase("d/中文名.txt");
      expected["first.txt"] = Text(5000, 1);
      expected["last.txt"] = Text(7000, 2);
      if (answer == archiver::fxaRetry) expected["failing.txt"] = bad;
      ExpectPeersAccept(peer.path);
      EXPECT_EQ(Packed(peer.path), "ok\n");
      ExpectContents(peer.path, expected);
    }
  }
}

// Under a file-size limit below the archive's size, an add or a replace of
// the first item fails and leaves the archive byte-identical, wherever the
// limit falls: among the items written again, before the old directory,
// inside it, at its last byte.
TEST(CommitFaults, AChangePastAFileSizeLimit) {
  TempDir dir;
  const std::string path = load_test::MakePeerArchive(dir, "peer.zip", "zip -qr {} .");
  const std::string before = base_test::ReadBytes(path);
  const rlim_t dirStart = before.find("PK\1\2"), size = before.size();
  const std::vector<std::pair<std::string, rlim_t>> cases = {
      {"added.bin", dirStart - 1}, {"added.bin", dirStart + 10}, {"added.bin", size - 1},
      {"a.txt", 100},              {"a.txt", dirStart - 1},      {"a.txt", dirStart + 10},
      {"a.txt", size - 1}};
  for (const auto& [name, limit] : cases) {
    SCOPED_TRACE(name + " under " + std::to_string(limit));
    EXPECT_NE(merge_test::NativeErrorPastFileSize(limit, [&] {
      TZipArchiver arc;
      arc.SetFileName(path);
      arc.Options().SetOverwriteMode(archiver::omAlways);
      arc.OpenArchive();
      arc.AddFromString(name, volume_test::Noise(20000, 1), 0x20, 0);
    }), -2);
    ExpectFileBytes(path, before);
    EXPECT_EQ(TailFiles(dir.Path()), 0);
  }
}

// An Info-ZIP archive open in the component, with what it held.
class CommitFaultsZip : public ::testing::Test {
 protected:
  void SetUp() override {
    arc.SetFileName(path);
    arc.OpenArchive();
    names = Names(arc);
  }
  TempDir dir;
  const std::string path = load_test::MakePeerArchive(dir, "peer.zip", "zip -qr {} .");
  const std::string before = base_test::ReadBytes(path);
  TZipArchiver arc;
  std::vector<std::string> names;
};

TEST_F(CommitFaultsZip, AnswersFromTheDialogProvider) {
  // Without a handler the failure box asks; a closed box (nobody there)
  // aborts and the failure reaches the caller.
  const auto original = PythonContents(path);
  arc.BeginUpdate();
  PendChanges(arc, Text(50000));
  try {
    arc.EndUpdate();
    ADD_FAILURE() << "an abort nobody chose must not be silent";
  } catch (const archiver::EZAException& e) {
    EXPECT_EQ(e.NativeError, archiver::ZA_ERR_INVALID_COMPRESSED_SIZE);
  }
  ExpectFileBytes(path, before);

  // The user's answers, one box per attempt: Retry tries the item again (it
  // fails again here). An abort, after a retry or not, puts every byte back
  // and raises nothing; Ignore leaves nothing of the failed attempts behind.
  platform::TScriptedDialogs dialogs;
  platform::TDialogProviderScope scope(&dialogs);
  const auto commitAnswering = [&](std::vector<platform::TModalResult> answers) {
    dialogs.asked.clear();
    dialogs.answers = answers;
    arc.BeginUpdate();
    PendChanges(arc, Text(50000));
    arc.EndUpdate();
    EXPECT_EQ(dialogs.asked.size(), answers.size());
  };
  commitAnswering({platform::mrAbort});
  ExpectFileBytes(path, before);
  commitAnswering({platform::mrRetry, platform::mrAbort});
  ExpectFileBytes(path, before);
  commitAnswering({platform::mrRetry, platform::mrIgnore});
  arc.CloseArchive();
  ExpectPeersAccept(path);
  EXPECT_EQ(Packed(path), "ok\n");
  const auto now = PythonContents(path);
  EXPECT_EQ(now.count("failing.txt"), 0u);
  EXPECT_EQ(now.count("first.txt") + now.count("last.txt"), 2u);
  EXPECT_EQ(now.size(), original.size() + 1) << Describe(now);  // one deleted, two added
}

TEST_F(CommitFaultsZip, ASourceThatThrowsRollsBackAndPassesOn) {
  arc.BeginUpdate();
  arc.DMHandle()->CDir.DeleteItem(0);
  TDirItem& item = AddPendingItem(arc, "throws.txt");
  item.Stream = std::make_shared<TFailingStream>(Text(100000), 5000, /*raise=*/true);
  item.bDestroyStream = true;
  EXPECT_THROW(arc.EndUpdate(), platform::EStreamError);
  EXPECT_FALSE(arc.InUpdate());
  EXPECT_EQ(Names(arc), names);
  ExpectFileBytes(path, before);
  EXPECT_EQ(TailFiles(dir.Path()), 0);
}

TEST_F(CommitFaultsZip, AnIgnoredUpdateKeepsTheOldData) {
  auto expected = PythonContents(path);
  arc.OnProcessFileFailure = [](TZABaseArchiver&, const std::string& name, archiver::TZAProcessOperation op, int,
                                int, const std::string&, archiver::TZAAction& action) {
    EXPECT_EQ(name, "a.txt");  // an update is reported by its item name
    EXPECT_EQ(op, archiver::poUpdate);
    action = archiver::fxaIgnore;
  };
  arc.BeginUpdate();
  TDirItem& update = AddPendingItem(arc, "a.txt");
  ASSERT_EQ(update.Operation, archiver::poUpdate);
  update.Stream = std::make_shared<TFailingStream>(Text(30000), 100);
  update.bDestroyStream = true;
  AddPending(arc, "d/e/deep.bin", "replaced");
  arc.EndUpdate();
  EXPECT_EQ(Names(arc), names);
  arc.CloseArchive();
  expected["d/e/deep.bin"] = "replaced";
  ExpectPeersAccept(path);
  ExpectContents(path, expected);
}

TEST_F(CommitFaultsZip, ProgressCancels) {
  // A cancel while an item is compressed: everything goes back.
  int events = 0;
  arc.OnFileProgress = [&](TZABaseArchiver&, const std::string&, double, archiver::TZAProcessOperation,
                           archiver::TZAProgressPhase phase, bool& cancel) {
    if (phase == archiver::ppProcess && ++events == 3) cancel = true;
  };
  arc.BeginUpdate();
  arc.DMHandle()->CDir.DeleteItem(1);
  AddPending(arc, "big.txt", Text(3 << 20));  // six chunks
  arc.EndUpdate();
  EXPECT_EQ(events, 3);
  EXPECT_EQ(Names(arc), names);
  ExpectFileBytes(path, before);
  arc.OnFileProgress = nullptr;

  // A cancel at the commit's start drops what was pending: nothing of it
  // reaches a later transaction.
  arc.OnOverallProgress = [&](TZABaseArchiver&, double, archiver::TZAProcessOperation,
                              archiver::TZAProgressPhase phase, bool& cancel) { cancel = phase == archiver::ppStart; };
  arc.BeginUpdate();
  AddPending(arc, "phantom.txt", "never");
  arc.EndUpdate();
  EXPECT_EQ(Names(arc), names);
  arc.OnOverallProgress = nullptr;
  arc.BeginUpdate();
  AddPending(arc, "real.txt", "real");
  arc.EndUpdate();
  arc.CloseArchive();
  const auto now = PythonContents(path);
  EXPECT_EQ(now.count("phantom.txt"), 0u);
  EXPECT_EQ(now.count("real.txt"), 1u);
}

TEST_F(CommitFaultsZip, TheTailFileGoesToTempDirOrBesideTheArchive) {
  TempDir temp;
  std::vector<int> seen;  // tail files in (TempDir, the archive's folder) while items are written
  arc.OnFileProgress = [&](TZABaseArchiver&, const std::string&, double, archiver::TZAProcessOperation,
                           archiver::TZAProgressPhase phase, bool&) {
    if (phase == archiver::ppStart) {
      seen.push_back(TailFiles(temp.Path()));
      seen.push_back(TailFiles(dir.Path()));
    }
  };
  arc.BeginUpdate();
  AddPending(arc, "one.txt", "1");
  arc.EndUpdate();
  arc.SetTempDir(temp.Path());
  arc.BeginUpdate();
  arc.DMHandle()->CDir.DeleteItem(0);
  AddPending(arc, "two.txt", "2");
  arc.EndUpdate();
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 1, 0}));
  EXPECT_EQ(TailFiles(temp.Path()) + TailFiles(dir.Path()), 0);
}

// The files directly in `folder`, name -> bytes: an archive and its volumes.
std::map<std::string, std::string> FolderBytes(const std::string& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.is_regular_file()) out[e.path().filename().string()] = base_test::ReadBytes(e.path().string());
  return out;
}

// A handler that raises at the first or the last event of a commit: the
// call fails and the archive is as before, or it succeeds and holds every
// item, and closing the component changes nothing of that.
TEST(CommitFaults, AHandlerThatRaisesAtTheFirstOrLastEvent) {
  enum TKind { kNewArchive, kNewSplitSet, kDeleteInExisting };
  for (const TKind kind : {kNewArchive, kNewSplitSet, kDeleteInExisting})
    for (const archiver::TZAProgressPhase raiseAt : {archiver::ppStart, archiver::ppEnd}) {
      SCOPED_TRACE(std::to_string(kind) + (raiseAt == archiver::ppStart ? " first" : " last"));
      TempDir dir, src;
      std::map<std::string, std::string> files, expected;
      for (int i = 0; i < 43; ++i) {
        const std::string name = "book" + std::to_string(i) + ".fb2";
        files[name] = Text(3000 + 97 * static_cast<size_t>(i), i);
        base_test::WriteBytes(src / name, files[name]);
      }
      const std::string path = dir / "set.zip";
      TZipArchiver arc;
      if (kind == kDeleteInExisting) {
        RunCmd("cd " + Q(src.Path()) + " && zip -q " + Q(path) + " *");
        arc.SetFileName(path);
        arc.OpenArchive(archiver::ZAModeReadWrite);
      } else {
        if (kind == kNewSplitSet)
          volume_test::SplitInto(arc, path, 40000);
        else
          arc.SetFileName(path);
        arc.OpenArchive(archiver::ZAModeCreate);
      }
      const auto before = FolderBytes(dir.Path());
      arc.OnOverallProgress = [&](TZABaseArchiver&, double, archiver::TZAProcessOperation,
                                  archiver::TZAProgressPhase phase, bool&) {
        if (phase == raiseAt) throw std::runtime_error("raised by the handler");
      };
      bool raised = false;
      try {
        if (kind == kDeleteInExisting) {
          arc.DeleteFiles("book1*", archiver::ZADefaultSearchAttr, "");
        } else {
          arc.SetBaseDir(src.Path());
          arc.AddFiles("*.*", archiver::ZADefaultSearchAttr, "");
        }
      } catch (const std::runtime_error& e) {
        raised = true;
        EXPECT_STREQ(e.what(), "raised by the handler");
      }
      EXPECT_FALSE(arc.InUpdate());
      if (raised) {
        EXPECT_EQ(FolderBytes(dir.Path()), before);
      }
      arc.OnOverallProgress = nullptr;
      arc.CloseArchive();
      // A new archive whose commit raised holds nothing; an existing one
      // holds what it held.
      if (raised && kind == kDeleteInExisting) {
        EXPECT_EQ(FolderBytes(dir.Path()), before);
      }
      if (!raised || kind == kDeleteInExisting) expected = files;
      if (!raised && kind == kDeleteInExisting)
        std::erase_if(expected, [](const auto& f) { return f.first.rfind("book1", 0) == 0; });
      if (kind != kNewSplitSet) {
        EXPECT_EQ(PythonContents(path), expected);
      }
      if (kind != kNewSplitSet || !expected.empty() || std::filesystem::exists(path)) {
        EXPECT_EQ(volume_test::OurContents(path), expected);
      }
    }
}

// A pending folder item moved from the folder `source` on disk.
void PendMovedFolder(TZABaseArchiver& arc, const std::string& name, const std::string& source) {
  TDirItem& f = AddPendingItem(arc, name, archiver::ZA_ATTR_DIRECTORY);
  f.SrcFileName = source;
  f.Operation = archiver::poMove;
}

TEST(CommitFaults, MovedSourcesGoOnlyAfterACommit) {
  TempDir dir;
  const std::string path = dir / "move.zip";
  const std::string plain = dir / "plain.txt", readOnly = dir / "read-only.txt", folder = dir / "folder";
  base_test::WriteBytes(plain, "plain");
  base_test::WriteBytes(readOnly, "read-only");
  ::chmod(readOnly.c_str(), 0444);
  std::filesystem::create_directory(folder);
  TZipArchiver arc;
  arc.SetFileName(path);
  arc.OpenArchive(archiver::ZAModeCreate);

  // An abort leaves every source where it was.
  arc.OnProcessFileFailure = [](TZABaseArchiver&, const std::string&, archiver::TZAProcessOperation, int, int,
                                const std::string&, archiver::TZAAction& action) { action = archiver::fxaAbort; };
  arc.BeginUpdate();
  AddPendingFile(arc, "plain.txt", plain, archiver::poMove);
  AddPendingFile(arc, "missing.txt", dir / "missing.txt", archiver::poMove);
  arc.EndUpdate();
  EXPECT_EQ(base_test::ReadBytes(plain), "plain");

  arc.BeginUpdate();
  AddPendingFile(arc, "plain.txt", plain, archiver::poMove);
  AddPendingFile(arc, "read-only.txt", readOnly, archiver::poMove);
  PendMovedFolder(arc, "folder/", folder);
  arc.EndUpdate();
  arc.CloseArchive();
  EXPECT_FALSE(std::filesystem::exists(plain));
  EXPECT_FALSE(std::filesystem::exists(readOnly));
  EXPECT_FALSE(std::filesystem::exists(folder));
  ExpectContents(path, {{"plain.txt", "plain"}, {"read-only.txt", "read-only"}, {"folder/", ""}});
}

// A source that cannot be deleted (here a folder that still holds a file of
// its own) is reported; the archive, already on disk, stays as written
// whatever the answer.
TEST(CommitFaults, ASourceThatCannotGoIsReportedNotRolledBack) {
  for (const archiver::TZAAction answer : {archiver::fxaIgnore, archiver::fxaAbort}) {
    TempDir dir;
    const std::string path = dir / "move.zip", plain = dir / "plain.txt", folder = dir / "folder";
    base_test::WriteBytes(plain, "plain");
    std::filesystem::create_directory(folder);
    base_test::WriteBytes(folder + "/keep.txt", "not moved");
    TZipArchiver arc;
    arc.SetFileName(path);
    arc.OpenArchive(archiver::ZAModeCreate);
    std::vector<std::string> reported;
    arc.OnProcessFileFailure = [&](TZABaseArchiver&, const std::string& name, archiver::TZAProcessOperation op,
                                   int native, int, const std::string&, archiver::TZAAction& action) {
      EXPECT_EQ(op, archiver::poMove);
      reported.push_back(name + ":" + std::to_string(native));
      action = answer;
    };
    arc.BeginUpdate();
    AddPendingFile(arc, "plain.txt", plain, archiver::poMove);
    PendMovedFolder(arc, "folder/", folder);
    arc.EndUpdate();
    arc.CloseArchive();
    EXPECT_EQ(reported, std::vector<std::string>{folder + ":" + std::to_string(archiver::ZA_ERR_CANNOT_DELETE_FOLDER)});
    EXPECT_FALSE(std::filesystem::exists(plain));
    EXPECT_EQ(base_test::ReadBytes(folder + "/keep.txt"), "not moved");
    ExpectPeersAccept(path);
    ExpectContents(path, {{"plain.txt", "plain"}, {"folder/", ""}});
  }
}

}  // namespace
