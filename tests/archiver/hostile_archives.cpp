// Hostile archives (tests/data/archiver/hostile, made by make.py there):
// each case once let damaged data pass as good, lost a file's data, or made
// a small archive cost far more than it is worth. Every item is read through
// the public operations, in the lenient open (OpenCorruptedArchives, the
// default) and the strict one.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "archiver/ZAExcept.h"
#include "archiver/ZipArchiver.h"
#include "commit_util.h"
#include "extract_util.h"
#include "platform/Streams.h"
#include "records_util.h"

namespace {

using archiver::TZipArchiver;
using base_test::NativeErrorOf;
using base_test::Q;
using base_test::RunCmd;
using base_test::TempDir;
using extract_test::FilesBelow;
using extract_test::Names;

std::string Hostile(const std::string& name) {
  return std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/archiver/hostile/" + name;
}

std::unique_ptr<TZipArchiver> Open(const std::string& name, bool lenient = true, const std::string& base = {}) {
  auto arc = std::make_unique<TZipArchiver>();
  arc->SetFileName(Hostile(name));
  arc->SetBaseDir(base);
  arc->SetOpenCorruptedArchives(lenient);
  arc->OpenArchive(archiver::ZAModeRead);
  return arc;
}

// What TestFiles or ExtractFiles of every item did: the count that passed
// and the native code of each failure, by item (failures are ignored so
// that the operation goes on).
struct TRun {
  int passed = 0;
  std::map<std::string, int> failed;
};

TRun RunAll(TZipArchiver& arc, bool extract) {
  TRun run;
  arc.OnProcessFileFailure = [&run](archiver::TZABaseArchiver&, const std::string& name,
                                    archiver::TZAProcessOperation, int native, int, const std::string&,
                                    archiver::TZAAction& action) {
    run.failed[name] = native;
    action = archiver::fxaIgnore;
  };
  run.passed = extract ? arc.ExtractFiles("*.*", archiver::ZADefaultSearchAttr, "")
                       : arc.TestFiles("*.*", archiver::ZADefaultSearchAttr, "");
  arc.OnProcessFileFailure = nullptr;
  return run;
}

TRun TestAll(TZipArchiver& arc) { return RunAll(arc, false); }
TRun ExtractAll(TZipArchiver& arc) { return RunAll(arc, true); }

bool IsValid(const std::string& name) {
  TZipArchiver arc;
  arc.SetFileName(Hostile(name));
  return arc.IsValidArchiveFile();
}

int ExtractError(TZipArchiver& arc, const std::string& name) {
  return NativeErrorOf([&] {
    std::string text;
    arc.ExtractToString(name, text);
  });
}

void IgnoreFailures(TZipArchiver& arc) {
  arc.OnProcessFileFailure = [](archiver::TZABaseArchiver&, const std::string&, archiver::TZAProcessOperation, int,
                                int, const std::string&, archiver::TZAAction& action) { action = archiver::fxaIgnore; };
}

// A new archive at `path` of one item, one.txt holding `text`, into which
// `file` is merged (an item that cannot be copied is passed over). Returns
// the native code the merge raised (-1: none); a merge that raises leaves
// the archive as it was.
int MergeIntoOneItem(const std::string& path, const std::string& file, const std::string& text) {
  TZipArchiver arc;
  arc.SetFileName(path);
  arc.OpenArchive(archiver::ZAModeCreate);
  arc.AddFromString("one.txt", text);
  arc.CloseArchive();
  const std::string before = base_test::ReadBytes(path);
  arc.OpenArchive(archiver::ZAModeReadWrite);
  IgnoreFailures(arc);
  const int raised = NativeErrorOf([&] { arc.MergeWith(file); });
  arc.CloseArchive();
  if (raised >= 0) {
    EXPECT_EQ(base_test::ReadBytes(path), before);
  }
  return raised;
}

// Applies `change` to a copy of `file` at `path`, opened as OpenArchive
// opens by default. Returns whether it was refused: only as a change of a
// damaged archive, the copy left as it was.
bool ChangeCopy(const std::string& file, const std::string& path,
                const std::function<void(TZipArchiver&)>& change) {
  std::filesystem::copy_file(file, path, std::filesystem::copy_options::overwrite_existing);
  TZipArchiver arc;
  arc.SetFileName(path);
  arc.OpenArchive(archiver::ZAModeReadWrite);
  const int raised = NativeErrorOf([&] { change(arc); });
  if (raised < 0) return false;
  EXPECT_EQ(raised, archiver::ZA_ERR_INVALID_ARCHIVE);
  EXPECT_EQ(base_test::ReadBytes(path), base_test::ReadBytes(file));
  return true;
}

using TItems = std::map<std::string, std::string>;

// The changes of the tables below, each of an item `next`, and what it
// does to the items read before it.
struct TChange {
  std::string what;
  std::function<void(TZipArchiver&, const std::string& next)> apply;
  std::function<void(TItems&, const std::string& next)> expect;
};
const std::vector<TChange> kChanges = {
    {"none", [](TZipArchiver&, const std::string&) {}, [](TItems&, const std::string&) {}},
    {"add",
     [](TZipArchiver& arc, const std::string&) { arc.AddFromString("added.txt", "added\n"); },
     [](TItems& items, const std::string&) { items["added.txt"] = "added\n"; }},
    {"delete", [](TZipArchiver& arc, const std::string& next) { arc.DeleteFiles(next, 0x27, ""); },
     [](TItems& items, const std::string& next) { items.erase(next); }},
    {"update",
     [](TZipArchiver& arc, const std::string& next) { arc.AddFromString(next, "updated\n"); },
     [](TItems& items, const std::string& next) { items[next] = "updated\n"; }},
    {"rename",
     [](TZipArchiver& arc, const std::string& next) { arc.RenameFile(next, "renamed.txt"); },
     [](TItems& items, const std::string& next) {
       if (items.count(next)) items["renamed.txt"] = items[next];
       items.erase(next);
     }},
    // From a source that fails, the failure ignored: the old record is
    // given back, also where others quote it.
    {"failed update",
     [](TZipArchiver& arc, const std::string& next) {
       IgnoreFailures(arc);
       commit_test::TFailingStream source(std::string(1000, 'x'), 100);
       arc.AddFromStream(next, source, false);
     },
     [](TItems&, const std::string&) {}},
};

// The items of `path` that our reader reads cleanly; nullopt when the open
// (lenient or strict) refuses it.
std::optional<TItems> ReadCleanly(const std::string& path, bool lenient) {
  TZipArchiver arc;
  arc.SetFileName(path);
  arc.SetOpenCorruptedArchives(lenient);
  if (NativeErrorOf([&] { arc.OpenArchive(archiver::ZAModeRead); }) >= 0) return std::nullopt;
  TItems items;
  for (const std::string& name : Names(arc)) {
    std::string text;
    if (NativeErrorOf([&] { arc.ExtractToString(name, text); }) < 0) items[name] = text;
  }
  return items;
}

// Every item of `expected` is in `got`, with its bytes.
void ExpectHolds(const TItems& got, const TItems& expected) {
  for (const auto& [name, bytes] : expected)
    EXPECT_EQ(got.count(name) ? got.at(name) : "(missing)", bytes) << name;
}

TEST(HostileArchives, AnEntryClaimingTheOtherFlavourIsStillCheckedForItsCrc) {
  // The stored item's data were changed after its CRC was taken; its entry
  // says "version needed 0x4114", the other flavour's mark.
  for (const char* file : {"crc-version-4114.zip", "crc-version-4114-nodir.zip"}) {
    SCOPED_TRACE(file);
    TempDir out;
    auto arc = Open(file, true, out.Path());
    ASSERT_EQ(Names(*arc), std::vector<std::string>{"book.fb2"});
    EXPECT_EQ(ExtractError(*arc, "book.fb2"), archiver::ZA_ERR_INVALID_SIZE_OR_CRC);
    const TRun test = TestAll(*arc);
    EXPECT_EQ(test.passed, 0);
    EXPECT_EQ(test.failed, (std::map<std::string, int>{{"book.fb2", 8}}));
    const TRun extract = ExtractAll(*arc);
    EXPECT_EQ(extract.passed, 0);
    EXPECT_TRUE(FilesBelow(out.Path()).empty());
    EXPECT_FALSE(IsValid(file));
  }
}

TEST(HostileArchives, OverlappingItemsFailAsDamagedButStillList) {
  // Twenty entries sharing one 5 MB item (also when each names a volume of
  // its own), and twenty stored items each quoting the next one's header
  // and data: all inflate far beyond the file, with valid CRCs.
  const std::map<std::string, size_t> files = {{"overlap-shared.zip", 20},
                                               {"overlap-quoted.zip", 20},
                                               {"disk-number-shared.zip", 20},
                                               {"disk-number-zip64.zip", 20}};
  for (const auto& [file, count] : files) {
    SCOPED_TRACE(file);
    TempDir out;
    auto arc = Open(file, true, out.Path());
    const std::vector<std::string> names = Names(*arc);
    ASSERT_EQ(names.size(), count);
    for (const std::string& name : names) EXPECT_EQ(ExtractError(*arc, name), 8) << name;
    const TRun test = TestAll(*arc);
    EXPECT_EQ(test.passed, 0);
    EXPECT_EQ(test.failed.size(), count);
    const TRun extract = ExtractAll(*arc);
    EXPECT_EQ(extract.passed, 0);
    EXPECT_TRUE(FilesBelow(out.Path()).empty());
    EXPECT_FALSE(IsValid(file));
    // The strict open refuses them outright, or fails every item the same.
    try {
      auto strict = Open(file, false);
      EXPECT_EQ(TestAll(*strict).passed, 0);
    } catch (const archiver::EZAException& e) {
      EXPECT_EQ(e.NativeError, 57);
    }
  }
}

TEST(HostileArchives, AFileMarkedAsAFolderKeepsItsData) {
  TempDir out;
  auto arc = Open("folder-attr-with-data.zip", true, out.Path());
  // Listed as a file (the catalogue's attribute set leaves folders out).
  std::vector<std::string> files;
  archiver::TZAArchiveItem F;
  for (bool ok = arc->FindFirst("*.*", F, 0x1EF, ""); ok; ok = arc->FindNext(F)) {
    files.push_back(F.StoredPath + F.FileName);
    EXPECT_EQ(F.ExternalFileAttributes & 0x10, 0u);
  }
  EXPECT_EQ(files, std::vector<std::string>{"data"});
  EXPECT_EQ(arc->FileCount(), 1);
  std::string text;
  arc->ExtractToString("data", text);
  EXPECT_EQ(text, "payload of a file marked as a folder");
  EXPECT_EQ(TestAll(*arc).passed, 2);
  ExtractAll(*arc);
  EXPECT_EQ(FilesBelow(out.Path()), std::vector<std::string>{"data"});
  EXPECT_EQ(base_test::ReadBytes(out / "data"), text);
  EXPECT_TRUE(std::filesystem::is_directory(out / "d"));

  // Damaged, it is found out: a test reads it.
  auto damaged = Open("folder-attr-damaged.zip");
  const TRun run = TestAll(*damaged);
  EXPECT_EQ(run.passed, 0);
  EXPECT_EQ(run.failed, (std::map<std::string, int>{{"data", 8}}));
}

TEST(HostileArchives, BackslashNamesAreFoundAsListed) {
  TempDir out;
  auto arc = Open("backslash-names.zip", true, out.Path());
  const std::vector<std::string> listed = Names(*arc);
  ASSERT_EQ(listed, (std::vector<std::string>{"folder/123.fb2", "folder/sub/x.txt"}));
  std::string text;
  for (const std::string& name : {std::string("folder/123.fb2"), std::string("folder\\123.fb2"),
                                  std::string("FOLDER/123.FB2")}) {
    text.clear();
    arc->ExtractToString(name, text);
    EXPECT_EQ(text.substr(0, 13), "<FictionBook>") << name;
  }
  // A bare name finds it in its folder (Recurse), and a mask with a folder
  // in either spelling selects both items.
  archiver::TZAArchiveItem F;
  ASSERT_TRUE(arc->FindFirst("123.fb2", F, 0x1EF, ""));
  EXPECT_EQ(F.StoredPath, "folder/");
  EXPECT_EQ(F.FileName, "123.fb2");
  arc->Options().SetRecurse(false);
  EXPECT_TRUE(arc->FindFirst("folder\\sub\\x.txt", F, 0x1EF, ""));
  EXPECT_TRUE(arc->FindFirst("folder/sub/*.txt", F, 0x1EF, ""));
  arc->Options().SetRecurse(true);
  arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, "");
  EXPECT_EQ(FilesBelow(out.Path()), (std::vector<std::string>{"folder/123.fb2", "folder/sub/x.txt"}));
  // Renamed by the name it is listed under, it is renamed, not passed over.
  EXPECT_FALSE(
      ChangeCopy(Hostile("backslash-names.zip"), out / "renamed.zip", [](TZipArchiver& changed) {
        changed.RenameFile("folder/123.fb2", "book.fb2");
        EXPECT_EQ(Names(changed), (std::vector<std::string>{"book.fb2", "folder/sub/x.txt"}));
      }));
}

TEST(HostileArchives, ADeflateBombTakesOneReservationOfItsDeclaredSize) {
  auto arc = Open("deflate-bomb-100mb.zip");
  std::string text;
  arc->ExtractToString("zeros.bin", text);
  ASSERT_EQ(text.size(), size_t{100} << 20);
  // No doubling past the declared size.
  EXPECT_LE(text.capacity(), (size_t{100} << 20) + 64);
  EXPECT_EQ(text.find_first_not_of('\0'), std::string::npos);
}

TEST(HostileArchives, ACountLowerThanTheEntriesIsWalkedOrRefused) {
  auto lenient = Open("count-low.zip");
  EXPECT_EQ(Names(*lenient), (std::vector<std::string>{"m0.txt", "m1.txt", "m2.txt"}));
  std::string text;
  lenient->ExtractToString("m2.txt", text);
  EXPECT_EQ(text, "member 2");
  EXPECT_EQ(NativeErrorOf([] { Open("count-low.zip", false); }), 57);
  EXPECT_FALSE(IsValid("count-low.zip"));
}

// The items a peer passes, with their bytes: those `unzip -t` passes (as
// `unzip -p` gives them) and those Python's zipfile reads one by one (it
// checks each CRC). Info-ZIP stops at a record it takes for an overlap;
// Python goes on.
TItems PeersPass(const std::string& path) {
  TItems ok;
  // Its exit code says "warnings" for the odd names: the lines count.
  std::istringstream lines(RunCmd("unzip -t " + Q(path) + " 2>/dev/null; true"));
  const std::regex passed(R"(^\s+testing: (\S+)\s+OK$)");
  std::smatch m;
  for (std::string line; std::getline(lines, line);)
    if (std::regex_match(line, m, passed))
      ok[m[1]] = RunCmd("unzip -p " + Q(path) + " " + Q(m[1]) + " 2>/dev/null; true");
  std::istringstream python(RunCmd(std::string(records_test::kPython) + " -c " + Q(R"PY(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
for i in z.infolist():
    try:
        print(i.filename.encode().hex(), z.read(i).hex())
    except Exception:
        pass
)PY") + " " + Q(path) + " 2>/dev/null"));
  for (std::string name, data; python >> name >> data;) ok[base_test::Unhex(name)] = base_test::Unhex(data);
  return ok;
}

TEST(HostileArchives, OddRecordsKeepWhatPeersReadThroughEveryChange) {
  // A record whose local header names less than its entry must not seem to
  // run into the record after it, nor one whose header alone announces a
  // data descriptor that is not there be dropped from a copy: what a peer
  // read before a change it reads after it (but what the change itself
  // took away or replaced), and whatever a peer reads, we read, in a
  // lenient and a strict open. The odd records stand first and last (run
  // into by the directory, or by an item added behind it); a directory
  // offset damaged to point into another item's data must not cost that
  // item or the next theirs, nor an end-record signature in an item's data
  // the archive its directory.
  // The item behind each archive's first odd record.
  const std::string data = std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/archiver/";
  const std::map<std::string, std::string> files = {
      {Hostile("local-name-shorter-sound.zip"), "c.txt"},
      {data + "repair/local-name-shorter.zip", "m1.txt"},
      {data + "merge/descriptor-flag-only-local.zip", "c.txt"},
      {Hostile("offset-flipped.zip"), "c.txt"},
      {Hostile("end-record-in-data.zip"), "c.txt"}};
  TempDir dir;
  const std::string path = dir / "changed.zip";
  const auto expectRead = [&](const TItems& expected) {
    const TItems passes = PeersPass(path);
    ExpectHolds(passes, expected);
    for (const bool lenient : {true, false}) {
      const std::optional<TItems> ours = ReadCleanly(path, lenient);
      EXPECT_TRUE(ours || !lenient);  // the fuzzed directory may be refused outright
      if (ours) ExpectHolds(*ours, passes);
    }
  };
  for (const auto& [file, next] : files) {
    const TItems before = PeersPass(file);
    ASSERT_GE(before.size(), 2u) << file;
    for (const TChange& change : kChanges) {
      SCOPED_TRACE(file + ": " + change.what);
      TItems expected = before;
      if (!ChangeCopy(file, path, [&](TZipArchiver& arc) { change.apply(arc, next); }))
        change.expect(expected, next);
      expectRead(expected);
    }
    // Merged into an archive of one item, its records copied as they are.
    SCOPED_TRACE(file + ": merge");
    std::filesystem::remove(path);
    EXPECT_EQ(MergeIntoOneItem(path, file, "the one item\n"), -1);
    TItems expected = before;
    expected["one.txt"] = "the one item\n";
    expectRead(expected);
  }
}

// The bytes all items of `path` give, read as damaged items are read
// (ExtractCorruptedFiles) in a lenient open; 0 when it does not open.
uint64_t TotalOutput(const std::string& path) {
  TZipArchiver arc;
  arc.SetFileName(path);
  arc.SetExtractCorruptedFiles(true);
  if (NativeErrorOf([&] { arc.OpenArchive(archiver::ZAModeRead); }) >= 0) return 0;
  uint64_t total = 0;
  for (int i = 0; i < arc.DMHandle()->CDir.Count(); ++i) {
    platform::TMemoryStream out;
    NativeErrorOf([&] { arc.ExtractToStream(arc.DMHandle()->CDir[i].Name, out); });
    total += static_cast<uint64_t>(out.Size());
  }
  return total;
}

TEST(HostileArchives, ABombStaysSmallOnEveryRoad) {
  // Entries that share their bytes, read, repaired, merged into another
  // archive or changed: what comes out of the result is never more than the
  // one record they share (the most an entry declares), or the change is
  // refused as one of a damaged archive and the archive left as it was.
  using TRoad = std::function<void(const std::string& bomb, const std::string& out, const std::string& item)>;
  std::map<std::string, TRoad> roads = {
      {"repair",
       [](const std::string& bomb, const std::string& out, const std::string&) {
         TZipArchiver arc;
         arc.SetFileName(bomb);
         IgnoreFailures(arc);
         NativeErrorOf([&] { arc.RepairArchive(out); });
       }},
      {"merge", [](const std::string& bomb, const std::string& out, const std::string&) {
         MergeIntoOneItem(out, bomb, "one");
       }}};
  for (const TChange& change : kChanges)
    roads[change.what] = [&change](const std::string& bomb, const std::string& out,
                                   const std::string& item) {
      ChangeCopy(bomb, out, [&](TZipArchiver& arc) { change.apply(arc, item); });
    };
  TempDir dir;
  for (const char* file : {"overlap-quoted.zip", "disk-number-shared.zip", "disk-number-zip64.zip",
                           "lost-offset-inside-other.zip", "lost-offset-foreign-header.zip"}) {
    uint64_t kernel = 0;
    auto arc = Open(file);
    for (int i = 0; i < arc->DMHandle()->CDir.Count(); ++i)
      kernel = std::max(kernel, arc->DMHandle()->CDir[i].UncompressedSize());
    for (const auto& [road, run] : roads) {
      SCOPED_TRACE(std::string(file) + ": " + road);
      const std::string out = dir / road;
      run(Hostile(file), out, arc->DMHandle()->CDir[1].Name);
      EXPECT_LE(TotalOutput(out), kernel + 8);  // and what a change wrote
      std::filesystem::remove(out);
    }
  }
}

TEST(HostileArchives, AChangeOfADamagedArchiveKeepsWhatReadCleanly) {
  // Cut inside an item (the directory rebuilt from the local headers, the
  // cut one inside another's data), or a first record claiming a name
  // longer than the file: a change keeps every item that read cleanly, in
  // a lenient and a strict open, and writes inside no record as peers see it.
  const std::string data = std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/archiver/";
  // The file and the clean item that is changed.
  const std::map<std::string, std::string> files = {{data + "repair/iz-cut-in-c.zip", "a.txt"},
                                                    {data + "repair/py-cut-in-inner.zip", "a.txt"},
                                                    {Hostile("local-name-runs-over.zip"), "c.txt"}};
  TempDir dir;
  const std::string path = dir / "changed.zip";
  for (const auto& [file, item] : files) {
    const TItems before = ReadCleanly(file, true).value_or(TItems{});
    ASSERT_TRUE(before.count(item)) << file;
    for (const TChange& change : kChanges) {
      if (change.what == "none") continue;  // a strict open refuses the file itself
      SCOPED_TRACE(file + ": " + change.what);
      EXPECT_FALSE(ChangeCopy(file, path, [&](TZipArchiver& arc) { change.apply(arc, item); }));
      TItems expected = before;
      change.expect(expected, item);
      for (const bool lenient : {true, false})
        ExpectHolds(ReadCleanly(path, lenient).value_or(TItems{}), expected);
      EXPECT_EQ(RunCmd("unzip -t " + Q(path) + " 2>&1").find("overlap"), std::string::npos);
    }
  }
}

TEST(HostileArchives, ManyItemsOfOneNameAreEachFound) {
  // Every look-up by that name takes the last item at once; a search by the
  // name walks them all in order.
  auto arc = Open("one-name-20000.zip");
  std::string text;
  for (int k = 0; k < 20000; ++k) arc->ExtractToString("same.txt", text);
  EXPECT_EQ(text, "19999");
  archiver::TZAArchiveItem F;
  int n = 0;
  for (bool ok = arc->FindFirst("SAME.TXT", F, 0x1EF, ""); ok; ok = arc->FindNext(F), ++n)
    ASSERT_EQ(F.Handle.ItemNo, n);
  EXPECT_EQ(n, 20000);
}

}  // namespace
