// Finding items in archives made by Python's zipfile and Info-ZIP: masks
// ("*.*", "*.", folders), attribute sets (0x1EF, 0x28BF, hidden), exclusions,
// Recurse, searches by the mask lists, tagging, look-up by name, and nested
// searches that must not disturb each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "archiver/ZADirectory.h"
#include "archiver/ZAExcept.h"
#include "archiver/ZACodec.h"
#include "archiver/ZAFind.h"
#include "archiver/ZipArchiver.h"
#include "base_util.h"

namespace {

using archiver::TZAArchiveItem;
using archiver::TZASearchScope;
using base_test::Q;
using base_test::RunCmd;
using base_test::TempDir;

// Items in this order; attribute 0x10 on folders, 0x02 on h.txt.
const char* kMakeScript = R"PY(
import sys, zipfile
def add(z, name, data=b'', attr=0x20):
    zi = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
    zi.external_attr = attr
    z.writestr(zi, data, zipfile.ZIP_DEFLATED if data else zipfile.ZIP_STORED)
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    add(z, 'a.fb2', b'a' * 1000)
    add(z, 'b.fb2', b'bbb')
    add(z, 'd/', attr=0x10)
    add(z, 'x/b.fb2', b'x' * 500)
    add(z, 'x/y/c.txt', b'c')
    add(z, 'docs/readme.TXT', b'r')
    add(z, 'DOCS/Other.txt', b'o')
    add(z, 'README', b'')
    add(z, 'h.txt', b'hidden', attr=0x22)
)PY";

// An archive loaded into a directory manager.
struct Loaded {
  std::unique_ptr<platform::TFileStream> stream;
  std::unique_ptr<archiver::TZADirManager> dm;
  explicit Loaded(const std::string& path)
      : stream(std::make_unique<platform::TFileStream>(path, platform::fmOpenRead | platform::fmShareDenyNone)),
        dm(std::make_unique<archiver::TZADirManager>(stream.get(), false, nullptr)) {
    dm->LoadDir();
  }
  TZASearchScope Scope(bool recurse = true) { return {dm->CDir, recurse, nullptr, nullptr}; }
};

// Stored path + file name of every item a search finds, in order (sorted
// when `sorted`: Info-ZIP adds a folder's files in the order the disk gives).
std::vector<std::string> All(const TZASearchScope& scope, const std::string& mask, int attr,
                             const std::string& exclusion = {}, bool sorted = false) {
  std::vector<std::string> out;
  TZAArchiveItem F;
  for (bool ok = archiver::ZAFindFirst(scope, mask, F, attr, exclusion); ok; ok = archiver::ZAFindNext(scope, F))
    out.push_back(F.StoredPath + F.FileName);
  if (sorted) std::sort(out.begin(), out.end());
  return out;
}
using V = std::vector<std::string>;

class FindItems : public ::testing::Test {
 protected:
  void SetUp() override {
    base_test::WriteBytes(dir_ / "make.py", kMakeScript);
    ASSERT_NE(RunCmd("/usr/bin/python3 " + Q(dir_ / "make.py") + " " + Q(dir_ / "py.zip")), "<failed>");
    arc_ = std::make_unique<Loaded>(dir_ / "py.zip");
    ASSERT_EQ(arc_->dm->CDir.Count(), 9);
  }
  TempDir dir_;
  std::unique_ptr<Loaded> arc_;
};

TEST_F(FindItems, MasksAndAttributeSets) {
  const auto s = arc_->Scope();
  // 0x1EF leaves folders out; hidden items stay in.
  EXPECT_EQ(All(s, "*.*", 0x1EF),
            (V{"a.fb2", "b.fb2", "x/b.fb2", "x/y/c.txt", "docs/readme.TXT", "DOCS/Other.txt", "README", "h.txt"}));
  // 0x28BF lets everything through; the folder d/ is reported as "d".
  EXPECT_EQ(All(s, "*.*", archiver::ZADefaultSearchAttr).size(), 9u);
  EXPECT_EQ(All(s, "d", archiver::ZADefaultSearchAttr), V{"d"});
  // Without the hidden bit the hidden item goes; read-only and archive never exclude.
  EXPECT_EQ(All(s, "*.txt", 0x21), (V{"x/y/c.txt", "docs/readme.TXT", "DOCS/Other.txt"}));
  // "*." finds names without an extension; the folder only when allowed.
  EXPECT_EQ(All(s, "*.", 0x1EF), V{"README"});
  EXPECT_EQ(All(s, "*.", archiver::ZADefaultSearchAttr), (V{"d", "README"}));
  // Case does not matter; an exclusion mask takes items out.
  EXPECT_EQ(All(s, "*.FB2", 0x1EF), (V{"a.fb2", "b.fb2", "x/b.fb2"}));
  EXPECT_EQ(All(s, "*.*", 0x1EF, "*.fb2"),
            (V{"x/y/c.txt", "docs/readme.TXT", "DOCS/Other.txt", "README", "h.txt"}));
  EXPECT_EQ(All(s, "*.fb2", 0x1EF, "x/*"), (V{"a.fb2", "b.fb2"}));
  // A whole stored name, either separator.
  EXPECT_EQ(All(s, "x\\y\\c.txt", 0x1EF), V{"x/y/c.txt"});
  EXPECT_TRUE(All(s, "", 0x1EF).empty());
}

TEST_F(FindItems, RecurseDecidesFoldersAndNameParts) {
  // With Recurse, a bare name also finds items in folders by their name part.
  EXPECT_EQ(All(arc_->Scope(true), "b.fb2", archiver::ZADefaultSearchAttr), (V{"b.fb2", "x/b.fb2"}));
  // Without, only the exact stored name, through the name index (any case).
  const auto flat = arc_->Scope(false);
  EXPECT_EQ(All(flat, "B.FB2", archiver::ZADefaultSearchAttr), V{"b.fb2"});
  EXPECT_EQ(All(flat, "c.txt", archiver::ZADefaultSearchAttr), V{});
  // ... and a wildcard mask searches its own folder only, in any letter case.
  EXPECT_EQ(All(flat, "docs\\*.txt", 0x1EF), (V{"docs/readme.TXT", "DOCS/Other.txt"}));
  EXPECT_EQ(All(flat, "*.fb2", 0x1EF), (V{"a.fb2", "b.fb2"}));
  EXPECT_EQ(All(flat, "x/*.*", 0x1EF), V{"x/b.fb2"});
}

TEST_F(FindItems, ResultFieldsAndStateAfterTheLast) {
  const auto s = arc_->Scope();
  TZAArchiveItem F;
  ASSERT_TRUE(archiver::ZAFindFirst(s, "c.txt", F, 0x1EF, ""));
  EXPECT_EQ(F.FileName, "c.txt");
  EXPECT_EQ(F.StoredPath, "x/y/");
  EXPECT_EQ(F.UncompressedSize, 1);
  EXPECT_EQ(F.LastModFileDate, (40 << 9) | (1 << 5) | 2);
  EXPECT_EQ(F.LastModFileTime, (3 << 11) | (4 << 5) | 3);
  EXPECT_EQ(F.CRC, 0x06B9DF6Fu);  // CRC-32 of "c"
  EXPECT_FALSE(F.Encrypted);
  const TZAArchiveItem last = F;
  EXPECT_FALSE(archiver::ZAFindNext(s, F));
  EXPECT_FALSE(archiver::ZAFindNext(s, F));
  EXPECT_EQ(F.FileName, last.FileName);
  EXPECT_EQ(F.Handle.ItemNo, last.Handle.ItemNo);

  // a.fb2 (1000 equal bytes) compresses well; README is empty: rate 100.
  ASSERT_TRUE(archiver::ZAFindFirst(s, "a.fb2", F, 0x1EF, ""));
  EXPECT_GT(F.CompressionRate, 90);
  EXPECT_LT(F.CompressionRate, 100);
  ASSERT_TRUE(archiver::ZAFindFirst(s, "README", F, 0x1EF, ""));
  EXPECT_EQ(F.CompressionRate, 100);
}

TEST_F(FindItems, NestedSearchesKeepTheirOwnState) {
  const auto s = arc_->Scope();
  std::vector<std::string> outer;
  int inner = 0;
  TZAArchiveItem F;
  for (bool ok = archiver::ZAFindFirst(s, "*.fb2", F, 0x1EF, ""); ok; ok = archiver::ZAFindNext(s, F)) {
    outer.push_back(F.StoredPath + F.FileName);
    inner += static_cast<int>(All(s, "*.txt", 0x1EF).size());
    archiver::ZATagFiles(s, "*.*", 0x1EF, "");
    EXPECT_GE(archiver::ZAFindItemByName(s, "x/y/c.txt"), 0);
  }
  EXPECT_EQ(outer, (V{"a.fb2", "b.fb2", "x/b.fb2"}));
  EXPECT_EQ(inner, 3 * 4);
}

TEST_F(FindItems, PropertyListsTaggingAndLookUp) {
  const std::vector<std::string> masks{"*.fb2", "README"}, exclusions{"a*"};
  TZASearchScope s{arc_->dm->CDir, true, &masks, &exclusions};
  TZAArchiveItem F;
  std::vector<std::string> found;
  for (bool ok = archiver::ZAFindFirst(s, F, 0x1EF); ok; ok = archiver::ZAFindNext(s, F))
    found.push_back(F.StoredPath + F.FileName);
  EXPECT_EQ(found, (V{"b.fb2", "x/b.fb2", "README"}));
  // Without Recurse the lists still select from every folder.
  s.Recurse = false;
  EXPECT_EQ(archiver::ZATagFiles(s, 0x1EF), 3);

  auto& cdir = arc_->dm->CDir;
  // The exclusion takes out both spellings of the docs folder.
  EXPECT_EQ(archiver::ZATagFiles(arc_->Scope(), "*.txt", 0x1EF, "docs/*"), 2);
  std::vector<std::string> tagged;
  for (int i = 0; i < cdir.Count(); ++i)
    if (cdir[i].Tagged) tagged.push_back(cdir[i].Name);
  EXPECT_EQ(tagged, (V{"x/y/c.txt", "h.txt"}));

  EXPECT_EQ(archiver::ZAFindItemByName(arc_->Scope(false), "x\\b.fb2"), 3);
  EXPECT_EQ(archiver::ZAFindItemByName(arc_->Scope(false), "X/B.FB2"), 3);
  EXPECT_EQ(archiver::ZAFindItemByName(arc_->Scope(false), "c.txt"), -1);
}

TEST(FindItemsInfoZip, FoldersEncryptionAndTheCatalogueListing) {
  TempDir dir;
  ASSERT_NE(RunCmd("cd " + Q(dir.Path()) + " && mkdir -p lib/sub && printf 'x%.0s' $(seq 1 300) > lib/1.fb2"
                   " && printf 'ab' > lib/sub/2.fb2 && : > lib/empty.fb2"
                   " && zip -q -r -X books.zip lib && zip -q -X -0 -P pw enc.zip lib/sub/2.fb2"),
            "<failed>");
  Loaded arc(dir / "books.zip");
  // The catalogue lists its book archives with 0x1EF: the files, no folders.
  EXPECT_EQ(All(arc.Scope(), "*.fb2", 0x1EF, "", true), (V{"lib/1.fb2", "lib/empty.fb2", "lib/sub/2.fb2"}));
  EXPECT_EQ(All(arc.Scope(), "*.*", 0x1EF).size(), 3u);
  EXPECT_EQ(All(arc.Scope(), "*.*", 0x28BF, "", true),
            (V{"lib", "lib/1.fb2", "lib/empty.fb2", "lib/sub", "lib/sub/2.fb2"}));
  EXPECT_EQ(All(arc.Scope(false), "lib/sub/*.*", 0x28BF), (V{"lib/sub/2.fb2"}));

  // A stored item with its encryption header costs more than it holds: rate 0.
  Loaded enc(dir / "enc.zip");
  TZAArchiveItem F;
  ASSERT_TRUE(archiver::ZAFindFirst(enc.Scope(), "2.fb2", F, 0x1EF, ""));
  EXPECT_TRUE(F.Encrypted);
  EXPECT_EQ(F.CompressedSize, 14);
  EXPECT_EQ(F.CompressionRate, 0);
}

TEST(FindMatchName, StarDotStarAndTrailingDot) {
  using archiver::ZAMatchName;
  EXPECT_TRUE(ZAMatchName("README", "*.*"));
  EXPECT_TRUE(ZAMatchName("a.txt", "*.*"));
  EXPECT_TRUE(ZAMatchName("a.b.c", "a*.*"));
  EXPECT_TRUE(ZAMatchName("README", "*."));
  EXPECT_TRUE(ZAMatchName("README.", "*."));
  EXPECT_FALSE(ZAMatchName("a.txt", "*."));
  EXPECT_TRUE(ZAMatchName("abc", "abc."));
  EXPECT_FALSE(ZAMatchName("abc.d", "abc."));
  EXPECT_FALSE(ZAMatchName("anything", ""));
  EXPECT_FALSE(ZAMatchName("Книга.FB2", "книга.fb2"));  // only A-Z fold
  EXPECT_TRUE(ZAMatchName("Книга.FB2", "Книга.fb2"));
}

// The component's own members: the catalogue's listing call, the search by
// the mask lists, and the codec wired to the component's password, events
// and progress block.
class Probe : public archiver::TZipArchiver {
 public:
  using TZABaseArchiver::DecompressItem;
  using TZABaseArchiver::FindItemByName;
  using TZABaseArchiver::TagFiles;
  void EnableProgress() { FProgressEnabled = true; }
  bool SkipFile() const { return FSkipFile; }
};

TEST(FindComponent, ListsAndDecodesThroughTheComponent) {
  TempDir dir;
  ASSERT_NE(RunCmd("cd " + Q(dir.Path()) + " && mkdir d && printf 'first book' > a.fb2 && printf 'second' > d/b.fb2"
                   " && zip -q -X -P pw arc.zip a.fb2 d d/b.fb2"),
            "<failed>");
  Probe a;
  TZAArchiveItem F;
  EXPECT_THROW(a.FindFirst("*.*", F, 0x1EF, ""), archiver::EZAException);  // closed: code 13
  a.SetFileName(dir / "arc.zip");
  a.OpenArchive(archiver::ZAModeRead);

  std::vector<std::string> names;
  for (bool ok = a.FindFirst("*.*", F, 0x1EF, ""); ok; ok = a.FindNext(F)) names.push_back(F.FileName);
  EXPECT_EQ(names, (V{"a.fb2", "b.fb2"}));
  a.SetFileMasks({"d/*.fb2"});
  ASSERT_TRUE(a.FindFirst(F));
  EXPECT_EQ(F.StoredPath + F.FileName, "d/b.fb2");
  EXPECT_EQ(a.TagFiles("*.fb2", 0x1EF, ""), 2);
  int index = -1;
  a.Options().SetRecurse(false);
  EXPECT_FALSE(a.FindItemByName("b.fb2", index));
  ASSERT_TRUE(a.FindItemByName("D\\B.FB2", index));

  // The password comes from OnPassword and stays with the component.
  int asked = 0, progress = 0;
  a.OnPassword = [&](archiver::TZABaseArchiver&, const std::string& name, std::string& password, bool& skip) {
    EXPECT_EQ(name, "d/b.fb2");
    ++asked;
    password = "pw";
    skip = false;
  };
  a.OnFileProgress = [&](archiver::TZABaseArchiver&, const std::string&, double, archiver::TZAProcessOperation,
                         archiver::TZAProgressPhase phase, bool&) { progress += phase == archiver::ppProcess; };
  a.EnableProgress();
  archiver::TDirItem item = a.DMHandle()->CDir[index];
  platform::TStream& arc = *a.CompressedStream();
  arc.SetPosition(static_cast<int64_t>(item.LocalHeaderOffset()));
  platform::TStringStream out;
  EXPECT_TRUE(a.DecompressItem(arc, out, item, 0, 0));
  EXPECT_EQ(out.DataString(), "second");
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(a.Password(), "pw");
  EXPECT_GT(progress, 0);

  // A refused password with the event answering "skip" marks the item
  // skipped. (The header check passes a wrong password once in 256: take
  // one that this header refuses.)
  archiver::TZALocalFileHeader lh;
  arc.SetPosition(static_cast<int64_t>(item.LocalHeaderOffset()));
  ASSERT_TRUE(archiver::ZAReadRecord(arc, lh));
  const int64_t header = arc.Position() + lh.nameLength + lh.extraLength;
  std::string wrong = "wrong";
  for (archiver::ZAZipCryptKeys keys;; wrong += "!") {
    arc.SetPosition(header);
    if (!archiver::ZACheckClassicPassword(arc, wrong, keys, lh.crc32, lh.lastModTime, lh.genPurposeFlag)) break;
  }
  a.SetPassword(wrong);
  a.OnPassword = [](archiver::TZABaseArchiver&, const std::string&, std::string&, bool& skip) { skip = true; };
  arc.SetPosition(static_cast<int64_t>(item.LocalHeaderOffset()));
  EXPECT_FALSE(a.DecompressItem(arc, out, item, 0, 0));
  EXPECT_TRUE(a.SkipFile());
  a.CloseArchive();
}

}  // namespace
