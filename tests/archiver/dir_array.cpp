// The directory array and its name index: growth, lookups with duplicate
// names, deletion, renaming, and a directory of 200,000 names.
#include <gtest/gtest.h>

#include "archiver/ZADirectory.h"
#include "archiver/ZAExcept.h"
#include "base_util.h"

namespace {

using namespace archiver;
using base_test::NativeErrorOf;

TDirItem Named(const std::string& name, uint32_t offset = 0) {
  TDirItem item;
  item.Name = name;
  item.CentralDir.relOffsetLH = offset;
  return item;
}

// Appends one named entry.
void Push(TZADirArray& da, const std::string& name, uint32_t offset = 0) {
  da.SetCount(da.Count() + 1);
  da.SetItem(da.Count() - 1, Named(name, offset));
}

int Find(TZADirArray& da, const std::string& name) {
  int i = -2;
  da.FileExists(name, i);
  return i;
}

TEST(DirArray, CapacityGrowsInDoublingStepsUpToTenThousand) {
  TZADirArray da;
  std::vector<int> capacities;
  for (int n = 1; n <= 40000; ++n)
    if (n > da.Capacity()) {
      da.SetCount(n);
      capacities.push_back(da.Capacity());
    }
  EXPECT_EQ(capacities, (std::vector<int>{1000, 3000, 7000, 15000, 25000, 35000, 45000}));

  // A jump past the next step allocates exactly what is asked.
  TZADirArray big;
  big.SetCount(123456);
  EXPECT_EQ(big.Capacity(), 123456);

  // Shrinking keeps the storage; 0 releases it.
  da.SetCount(10);
  EXPECT_EQ(da.Capacity(), 45000);
  da.SetCount(0);
  EXPECT_EQ(da.Capacity(), 0);
}

TEST(DirArray, NewAndDroppedSlotsAreCleared) {
  TZADirArray da;
  Push(da, "a.txt", 5);
  da[0].ExtraFields.push_back({0x1234, {1, 2}});
  da[0].Modified = true;
  Push(da, "b.txt", 6);
  // Shrinking drops the entry and its name: no lookup may find an index at
  // or beyond the count, and the slot comes back clean.
  da.SetCount(1);
  EXPECT_EQ(Find(da, "b.txt"), -1);
  da.SetCount(2);
  EXPECT_TRUE(da[1].Name.empty());
  EXPECT_EQ(da[1].CentralDir.relOffsetLH, 0u);
  EXPECT_EQ(Find(da, "a.txt"), 0);
  EXPECT_TRUE(da[0].Modified);
  EXPECT_EQ(da[0].ExtraFields.size(), 1u);
  da.SetItem(1, Named("c.txt"));
  EXPECT_EQ(Find(da, "C.TXT"), 1);

  da.Clear();
  EXPECT_EQ(da.Count(), 0);
  EXPECT_EQ(Find(da, "a.txt"), -1);
  EXPECT_GT(da.Capacity(), 0);
}

TEST(DirArray, IndexErrorsCarryTheirCodes) {
  TZADirArray da;
  Push(da, "x");
  EXPECT_EQ(NativeErrorOf([&] { da.SetItem(1, Named("y")); }), 1);
  EXPECT_EQ(NativeErrorOf([&] { (void)da.GetItem(-1); }), 2);
  EXPECT_EQ(NativeErrorOf([&] { (void)da.ItemPtr(1); }), 3);
  EXPECT_EQ(NativeErrorOf([&] { da.DeleteItem(1); }), 4);
  // Entries must receive their names in order.
  da.SetCount(3);
  EXPECT_EQ(NativeErrorOf([&] { da.SetItem(2, Named("z")); }), 58);
  EXPECT_EQ(NativeErrorOf([&] { da.SetItemName(2, "z"); }), 59);
  da.SetItem(1, Named("y"));
  da.SetItem(2, Named("z"));
  EXPECT_EQ(Find(da, "z"), 2);
}

TEST(DirArray, OnlyAsciiLettersFoldAndTheLatestDuplicateWins) {
  TZADirArray da;
  Push(da, "Readme.TXT");
  Push(da, "\xc3\x84pfel.txt");  // "Äpfel.txt"
  Push(da, "\xc3\xa4pfel.txt");  // "äpfel.txt": another name
  Push(da, "README.txt");         // the same name as entry 0
  EXPECT_EQ(Find(da, "readme.txt"), 3);
  EXPECT_EQ(Find(da, "\xc3\x84PFEL.TXT"), 1);
  EXPECT_EQ(Find(da, "\xc3\xa4pfel.TXT"), 2);
  EXPECT_EQ(Find(da, "pfel.txt"), -1);

  // Rename the later duplicate away and back: the highest index still wins,
  // whether the index was built before or after the change.
  da.SetItemName(3, "other.txt");
  EXPECT_EQ(Find(da, "readme.txt"), 0);
  da.SetItemName(0, "Other.txt");
  EXPECT_EQ(Find(da, "OTHER.TXT"), 3);
  da.SetItemName(3, "readme.txt");
  EXPECT_EQ(Find(da, "other.txt"), 0);
  EXPECT_EQ(Find(da, "readme.txt"), 3);
  EXPECT_EQ(da[0].Name, "Other.txt");
}

TEST(DirArray, DeletingOneOfSeveralDuplicatesKeepsTheIndexAligned) {
  TZADirArray da;
  Push(da, "dup", 10);
  Push(da, "first", 20);
  Push(da, "DUP", 30);
  Push(da, "last", 40);
  ASSERT_EQ(Find(da, "dup"), 2);

  // Deleting the earlier duplicate must take its own name string with it,
  // not the later duplicate's that a lookup would find.
  da.DeleteItem(0);
  ASSERT_EQ(da.Count(), 3);
  EXPECT_EQ(Find(da, "first"), 0);
  EXPECT_EQ(Find(da, "dup"), 1);
  EXPECT_EQ(Find(da, "last"), 2);
  EXPECT_EQ(da[1].CentralDir.relOffsetLH, 30u);

  // Every entry's name string still matches its entry: renaming checks that.
  for (int i = 0; i < da.Count(); ++i) da.SetItemName(i, da[i].Name + ".bak");
  EXPECT_EQ(Find(da, "last.bak"), 2);

  da.DeleteItem(2);
  EXPECT_EQ(Find(da, "last.bak"), -1);
  EXPECT_EQ(Find(da, "dup.bak"), 1);
}

TEST(DirArray, DeleteReleasesAnOwnedStreamButNotACopyStillInUse) {
  TZADirArray da;
  auto stream = std::make_shared<platform::TStringStream>("data");
  std::weak_ptr<platform::TStream> watch = stream;
  TDirItem item = Named("s.bin");
  item.Stream = std::move(stream);
  item.bDestroyStream = true;
  da.SetCount(1);
  da.SetItem(0, item);
  item = TDirItem();
  TZADirArray rollback;
  rollback.Assign(da);
  da.DeleteItem(0);
  EXPECT_FALSE(watch.expired());  // the rollback copy still refers to it
  rollback.Clear();
  EXPECT_TRUE(watch.expired());
}

TEST(DirArray, AssignAndAppendCopyEntriesWithTheirNames) {
  TZADirArray a, b;
  Push(a, "one", 1);
  Push(a, "two", 2);
  a[1].ExtraFields.push_back({0x7777, {9}});
  b.Assign(a);
  b.Append(a);
  ASSERT_EQ(b.Count(), 4);
  EXPECT_EQ(Find(b, "one"), 2);
  EXPECT_EQ(b[3].ExtraFields, a[1].ExtraFields);
  // Deep copies: changing the copy leaves the original alone.
  b[1].ExtraFields[0].Data[0] = 1;
  EXPECT_EQ(a[1].ExtraFields[0].Data[0], 9);
  b.Assign(b);
  EXPECT_EQ(b.Count(), 4);
  a.ClearTags();
}

TEST(DirArray, TwoHundredThousandNamesAreInsertedAndFound) {
  TZADirArray da;
  const int n = 200000;
  for (int i = 0; i < n; ++i)
    Push(da, "Author " + std::to_string(i % 977) + "/" + std::to_string(100000 + i) + ".FB2",
         static_cast<uint32_t>(i));
  for (int i = 0; i < n; ++i) {
    const std::string name = "author " + std::to_string(i % 977) + "/" + std::to_string(100000 + i) + ".fb2";
    ASSERT_EQ(Find(da, name), i) << name;
  }
  EXPECT_EQ(Find(da, "author 1/99999.fb2"), -1);
  // A deletion in the middle shifts every later index by one.
  da.DeleteItem(1000);
  EXPECT_EQ(Find(da, "author 24/101000.fb2"), -1);
  EXPECT_EQ(Find(da, "author " + std::to_string((n - 1) % 977) + "/" + std::to_string(100000 + n - 1) + ".fb2"),
            n - 2);
}

TEST(HashedStringList, LookupsAfterAddsUpdatesAndRebuilds) {
  TZAHashedStringList list;
  for (int i = 0; i < 10; ++i) list.Add("k" + std::to_string(i));
  EXPECT_EQ(list.HashSize(), 0);  // built on the first lookup
  EXPECT_EQ(list.IndexOf("K7"), 7);
  EXPECT_EQ(list.HashSize(), 1000);
  // Filling past 5 strings per bucket drops the hash; the next lookup builds
  // one with a bucket per string.
  for (int i = 10; i < 5001; ++i) list.Add("k" + std::to_string(i));
  EXPECT_EQ(list.HashSize(), 0);
  EXPECT_EQ(list.IndexOf("k5000"), 5000);
  EXPECT_EQ(list.HashSize(), 5001);
  list.Update(3, "k4999");
  EXPECT_EQ(list.IndexOf("k3"), -1);
  EXPECT_EQ(list.IndexOf("k4999"), 4999);
  list.Delete(4999);
  EXPECT_EQ(list.IndexOf("k4999"), 3);
  EXPECT_EQ(list.IndexOf("k5000"), 4999);

  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf("K7"), -1);
  EXPECT_EQ(list.IndexOf("k7"), 7);
}

TEST(HashedStringList, IndexOfNameLooksAtThePartBeforeTheEqualsSign) {
  TZAHashedStringList list;
  list.Add("Path=/a");
  list.Add("novalue");
  list.Add("path=/b");
  EXPECT_EQ(list.IndexOfName("PATH"), 2);
  EXPECT_EQ(list.IndexOfName("novalue"), -1);
  list.Delete(2);
  EXPECT_EQ(list.IndexOfName("path"), 0);
}

}  // namespace
