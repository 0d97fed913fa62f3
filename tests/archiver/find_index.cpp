// The name-index answer to a mask without wildcards against the walk over
// every item: random directories (folders, duplicate names, names that
// differ in case, both separators, trailing dots) and random masks,
// attribute sets, exclusions and Recurse settings must give the same items
// in the same order; and so after adds, renames and deletes in a
// transaction, with the index built before the changes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "archiver/ZADirectory.h"
#include "archiver/ZAExcept.h"
#include "archiver/ZAFind.h"
#include "archiver/ZipArchiver.h"

namespace {

using archiver::TZAArchiveItem;
using archiver::TZADirArray;
using archiver::TZASearchScope;

std::vector<int> Walk(TZADirArray& dir, bool recurse, bool indexed, const std::string& mask, int attr,
                      const std::string& exclusion) {
  TZASearchScope scope{dir, recurse, nullptr, nullptr};
  scope.UseNameIndex = indexed;
  std::vector<int> found;
  TZAArchiveItem F;
  for (bool ok = archiver::ZAFindFirst(scope, mask, F, attr, exclusion); ok; ok = archiver::ZAFindNext(scope, F))
    found.push_back(F.Handle.ItemNo);
  return found;
}

class TNames {
 public:
  explicit TNames(uint32_t seed) : rng_(seed) {}

  std::string Pick(const std::vector<std::string>& from) { return from[Below(from.size())]; }
  size_t Below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  bool Chance(int percent) { return static_cast<int>(Below(100)) < percent; }

  // A name as archives hold them: a few folders, few enough base names that
  // duplicates and case variants are common.
  std::string Name() {
    static const std::vector<std::string> folders = {"", "d/", "D/", "d/e/", "x/", "X\\", "x/y/", "d\\e\\"};
    static const std::vector<std::string> bases = {"a.fb2", "A.FB2", "b.txt", "readme", "README.", "c.",
                                                   "1.fb2", "a.fb2.", "e", "d", ".", "Ä.txt", "ä.txt"};
    std::string n = Pick(folders) + Pick(bases);
    if (Chance(8)) n += '/';  // a folder item
    return n;
  }

  // Masks: names from the directory, changed a little, and some wildcards.
  std::string Mask(const std::vector<std::string>& names) {
    std::string m = Chance(70) && !names.empty() ? Pick(names) : Name();
    switch (Below(8)) {
      case 0:  // the name part alone
        if (const size_t s = m.find_last_of("/\\", m.size() > 1 ? m.size() - 2 : 0); s != std::string::npos)
          m = m.substr(s + 1);
        break;
      case 1:
        for (char& c : m) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        break;
      case 2:
        for (char& c : m)
          if (c == '/') c = '\\';
        break;
      case 3:
        m += '.';
        break;
      case 4:
        if (!m.empty() && (m.back() == '/' || m.back() == '.')) m.pop_back();
        break;
      case 5:
        m = Pick({"*.fb2", "d/*", "*", "?.txt", "*.*", "*.", "x\\*.fb2"});
        break;
      default:
        break;
    }
    return m;
  }

  int Attr() { return kAttrs[Below(6)]; }
  std::string Exclusion(const std::vector<std::string>& names) {
    switch (Below(4)) {
      case 0:
        return "*.txt";
      case 1:
        return names.empty() ? std::string() : Pick(names);
      default:
        return {};
    }
  }

 private:
  static constexpr int kAttrs[6] = {0x1EF, 0x28BF, 0, 0x10, 0x02, 0x16};
  std::mt19937 rng_;
};

// Compares the two paths for `rounds` random searches over `dir`.
void CompareSearches(TZADirArray& dir, TNames& r, const std::vector<std::string>& names, int rounds) {
  for (int k = 0; k < rounds; ++k) {
    const std::string mask = r.Mask(names);
    const int attr = r.Attr();
    const std::string exclusion = r.Exclusion(names);
    for (bool recurse : {true, false}) {
      const std::vector<int> walked = Walk(dir, recurse, false, mask, attr, exclusion);
      const std::vector<int> indexed = Walk(dir, recurse, true, mask, attr, exclusion);
      ASSERT_EQ(indexed, walked) << "mask '" << mask << "' attr " << attr << " exclusion '" << exclusion
                                 << "' recurse " << recurse;
    }
  }
}

TEST(FindIndex, AgreesWithTheWalkOnRandomDirectories) {
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    TNames r(seed);
    TZADirArray dir;
    const int n = static_cast<int>(r.Below(2000)) + 1;
    dir.SetCount(n);
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) {
      archiver::TDirItem item;
      item.Name = r.Name();
      item.CentralDir.externalAttr = item.Name.back() == '/' ? 0x10 : (r.Chance(10) ? 0x22 : 0x20);
      dir.SetItem(i, item);
      names.push_back(item.Name);
    }
    CompareSearches(dir, r, names, 100);
    if (HasFatalFailure()) return;
  }
}

TEST(FindIndex, StaysRightThroughAddsRenamesAndDeletesInATransaction) {
  TNames r(99);
  platform::TMemoryStream stream;
  archiver::TZipArchiver arc;
  arc.OpenArchive(stream, true);
  arc.BeginUpdate();
  std::vector<std::string> names;
  const auto current = [&] {
    names.clear();
    TZADirArray& dir = arc.DMHandle()->CDir;
    for (int i = 0; i < dir.Count(); ++i) names.push_back(dir[i].Name);
  };
  for (int round = 0; round < 6; ++round) {
    for (int i = 0; i < 150; ++i) {
      std::string name = r.Name();
      if (name.back() == '/') name.pop_back();
      if (name.empty() || name.back() == '/' || name.back() == '\\') continue;
      arc.Options().SetOverwriteMode(archiver::omAlways);
      arc.AddFromString(name, "x");
    }
    current();
    CompareSearches(arc.DMHandle()->CDir, r, names, 40);  // builds the index
    if (HasFatalFailure()) return;
    for (int i = 0; i < 20 && !names.empty(); ++i) {
      const std::string from = r.Pick(names);
      try {
        arc.RenameFile(from, "renamed/" + std::to_string(round) + "_" + std::to_string(i) + ".fb2");
      } catch (const archiver::EZAException&) {  // e.g. a name the rename cannot find as given
      }
      current();
    }
    arc.DeleteFiles(r.Pick(names), archiver::ZADefaultSearchAttr, "");
    arc.DeleteFiles("*.txt", archiver::ZADefaultSearchAttr, "");
    current();
    CompareSearches(arc.DMHandle()->CDir, r, names, 60);
    if (HasFatalFailure()) return;
  }
  arc.CancelUpdate();
}

TEST(FindIndex, ManyItemsOfOneNameStayQuickToFind) {
  // 100,000 entries named alike: each look-up takes the last without
  // walking the others, and a search by name yields them all in order.
  TZADirArray dir;
  const int n = 100000;
  dir.SetCount(n);
  for (int i = 0; i < n; ++i) {
    archiver::TDirItem item;
    item.Name = i % 2 ? "same.fb2" : "dir/SAME.fb2";
    dir.SetItem(i, item);
  }
  int index = -1;
  for (int k = 0; k < 100000; ++k) ASSERT_TRUE(dir.FileExists("same.fb2", index));
  EXPECT_EQ(index, n - 1);
  EXPECT_EQ(Walk(dir, true, true, "Same.fb2", archiver::ZADefaultSearchAttr, {}).size(), static_cast<size_t>(n));
  dir.DeleteItem(n - 1);
  ASSERT_TRUE(dir.FileExists("SAME.FB2", index));
  EXPECT_EQ(index, n - 3);
}

}  // namespace
