// CDX files as files: damaged ones refused, single-byte damage survived,
// and our files read by a peer.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/Files.h"
#include "tests/platform/LoopSample.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/CdxReader.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/HandlerIndexUtil.h"
#include "tests/xbase/IndexTable.h"
#include "tests/xbase/IndexedTable.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/index/cdx_format.h"

using namespace xbase;
using namespace xbtest;

namespace {

using Keys = std::vector<std::pair<std::string, int>>;

bool IsCorrupted(const std::string& error) {
  return error == "corrupted" || (error.rfind("Index file ", 0) == 0 && error.size() > 13 &&
                                  error.substr(error.size() - 13) == " is corrupted");
}

// Opens `path` and walks every tag both ways: "" when that works, "corrupted"
// when the file was refused at opening, else the error raised.
std::string OpenAndWalk(XBobjIndexOwner* owner, const std::string& path) {
  return ErrorOf([&] {
    XBobjCDXFile cdx(owner, path, false, false, false, false);
    if (!cdx.CreateOK()) throw EXBaseError(cdx.Corrupted() ? "corrupted" : "not opened");
    for (int i = 0; i < cdx.TagCount(); ++i) {
      for (int rec = cdx.Tag(i)->KeyRead(-3); rec != 0;) rec = cdx.Tag(i)->KeyRead(-1);
      for (int rec = cdx.Tag(i)->KeyRead(-4); rec != 0;) rec = cdx.Tag(i)->KeyRead(-2);
    }
  });
}

}  // namespace

TEST(CdxFile, DamagedFilesAreRefusedAndNothingWorse) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf", 10);
  const std::string data = kXbData + "cdx/";
  std::vector<std::string> names;
  for (const platform::TFileInfo& f : platform::ListFolder(data))
    if (f.name.size() > 4 && f.name.substr(f.name.size() - 4) == ".cdx") names.push_back(data + f.name);
  ASSERT_GT(names.size(), 20u);
  for (const std::string& path : names) {
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string copy = dir / name;
    platform::WriteFileBytes(copy, platform::ReadFileBytes(path));
    const std::string error = OpenAndWalk(&table, copy);
    if (name == "sound-two-keys.cdx") {
      EXPECT_EQ(error, "") << name;
      XBobjCDXFile cdx(&table, copy, false, false, false, false);
      EXPECT_EQ(Walk(*cdx.Tag(0)), (Keys{{"A", 1}, {"B", 2}}));
    } else {
      EXPECT_TRUE(IsCorrupted(error)) << name << ": " << error;
    }
    EXPECT_EQ(platform::ReadFileBytes(copy), platform::ReadFileBytes(path)) << name;
  }
}

TEST(CdxFile, SingleByteDamageEndsInAWalkOrCorrupted) {
  TempDir dir;
  CopyHarbourFiles(dir.path(), {"mixed.dbf", "mixed.fpt"});
  TIndexedTable owner(dir / "mixed.dbf", false);
  const std::string original = platform::ReadFileBytes(kHarbourCdx + "mixed.cdx");
  // The header fields before the expressions, then the directory's leaf
  // and the nodes of the two-level NAME tag and of AMOUNT: every byte of
  // their heads and entries, every third of their keys.
  std::vector<size_t> offsets;
  for (size_t at = 0; at < 24; ++at) offsets.push_back(at);
  for (size_t at = 1536; at < 1560; ++at) offsets.push_back(at);
  for (size_t node : {1024, 2560, 3072, 3584, 5120})
    for (size_t at = 0; at < 512; at += at < 96 ? 1 : 3) offsets.push_back(node + at);
  const std::string path = dir / "mixed.cdx";
  platform::WriteFileBytes(path, original);
  platform::TFile file(path, platform::fmOpenReadWrite);
  int walked = 0, refused = 0;
  // Under the sanitizers every fifth of them (tests/platform/LoopSample.h).
  for (size_t i = 0; i < offsets.size(); i += looptest::Step(5)) {
    // One byte changed in place (rewriting the file each time waits for
    // the disk), and put back after.
    const char damaged = static_cast<char>(original[offsets[i]] ^ (1 << (i % 8)));
    file.WriteAt(static_cast<int64_t>(offsets[i]), &damaged, 1);
    const std::string error = OpenAndWalk(&owner, path);
    file.WriteAt(static_cast<int64_t>(offsets[i]), &original[offsets[i]], 1);
    if (error.empty()) {
      ++walked;
    } else {
      ASSERT_TRUE(IsCorrupted(error))
          << "byte " << offsets[i] << ": " << error;
      ++refused;
    }
  }
  EXPECT_GT(walked, 0);
  EXPECT_GT(refused, 0);
}

TEST(CdxPeer, IndexDumpListsOurTagsAndKeys) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf", 40);
  std::mt19937 rng(12);
  for (int i = 0; i < 6000; ++i) {
    std::string name = "AUTHOR " + std::to_string(rng() % 5000);
    if (i % 3 == 0) name = std::string(30, 'Q') + name;
    table.Records.push_back({name, static_cast<double>(static_cast<int>(rng() % 20000)) / 4 - 2000,
                             static_cast<double>(2415021 + rng() % 40000)});
  }
  table.Records[5].bd = 0;
  auto cdx = std::make_unique<XBobjCDXFile>(&table, "t", true, false, true, true);
  ASSERT_TRUE(cdx->AddTag("NAME", "NA", "", true, false));  // bulk-built
  ASSERT_TRUE(cdx->AddTag("AMOUNT", "AU", "", true, false));
  ASSERT_TRUE(cdx->AddTag("BORND", "BD", "", false, false));
  ASSERT_TRUE(cdx->AddTag("GROWN", "NA", "", true, false));
  TIndexTable empty(dir / "t.dbf", 40);
  {
    XBobjCDXFile add(&empty, "g", true, false, true, true);
    ASSERT_TRUE(add.AddTag("GROWN", "NA", "", true, false));
    for (const TIndexTable::Record& r : table.Records) empty.Append(add, r);
  }
  cdx.reset();
  EXPECT_EQ(RunOut("index_dump --type=char " + Sh(dir / "t.cdx")), "AMOUNT\nBORND\nGROWN\nNAME\n");
  for (const char* file : {"t.cdx", "g.cdx"}) {
    XBobjCDXFile ours(&table, dir / file, false, false, false, false);
    for (int i = 0; i < ours.TagCount(); ++i) {
      XBobjIndexTag& tag = *ours.Tag(i);
      const char type = tag.KeyType();
      std::string expected;
      // The peer lists the stored order: a descending tag backwards.
      for (int rec = tag.KeyRead(tag.KeyIsAscending() ? -3 : -4); rec != 0;
           rec = tag.KeyRead(tag.KeyIsAscending() ? -1 : -2)) {
        const TxbVariant& key = tag.CurKeyInfo();
        std::string text;
        if (type == 'C') {
          text = key.GetString();
        } else if (type == 'N') {
          char buf[64];
          std::snprintf(buf, sizeof buf, "%g", CdxNumber(key));
          text = buf;
        } else {
          const double day = CdxNumber(key);
          text = day < 0.5 ? "0" : xbDBFDate().DTOS(static_cast<int32_t>(day));
        }
        expected += text + " " + std::to_string(rec) + "\n";
      }
      const std::string kind = type == 'C' ? "char" : type == 'N' ? "num" : "date";
      const std::string listed =
          RunOut("index_dump --type=" + kind + " " + Sh(dir / file) + " " + tag.TagName());
      EXPECT_EQ(listed, expected) << file << " " << tag.TagName();
    }
    RawCdx raw(dir / file);
    for (auto& [name, header] : raw.Tags())
      if (name == "NAME" || name == "GROWN") {
        raw.Walk(header, ' ');
        EXPECT_GE(raw.depth, 3) << file;
      }
  }
}
