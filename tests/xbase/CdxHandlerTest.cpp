// CDX files and indexes in memory through the table handler: the
// production index, GENERAL order, and an index in memory beside a file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/CdxReader.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/HandlerIndexUtil.h"
#include "tests/xbase/HarbourOrders.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/handler/table_handler.h"
#include "xbase/table/table_file.h"

using namespace xbase;
using namespace xbtest;

TEST(CdxHandler, AFileOfTheTablesNameMarksItsProductionIndex) {
  TempDir dir;
  const std::string table = MakeAuthorTable(dir / "au.dbf");
  {
    XBO_dBHandler t(table, "", true, false);
    for (int i = 0; i < 5; ++i) {
      t.xbBlank();
      t.xbNumberPutN(1, i);
      t.xbStringPutN(2, "N" + std::to_string(i));
      t.xbAppend();
    }
    ASSERT_EQ(t.xbIndexTo("other.cdx", "NA", "NA", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending), 0);
    ASSERT_EQ(t.xbIndexTo("au.cdx", "ID", "ID", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Descending), 0);
  }
  // The table's bytes but its date of last update.
  auto undated = [&] {
    std::string b = platform::ReadFileBytes(table);
    b[1] = b[2] = b[3] = 0;
    return b;
  };
  const std::string before = undated();
  auto openWritable = [&](const char* index) {
    XBO_dBHandler t(table, "", true, false);
    ASSERT_EQ(t.xbIndexRoute(index), 0);
  };
  {
    XBO_dBHandler t(table, "", false, false);  // read only: reads, marks nothing
    ASSERT_EQ(t.xbIndexRoute("au.cdx"), 0);
    ASSERT_EQ(t.xbIndexRoute("other.cdx"), 0);
    t.xbSetTagTo("ID", false);
    EXPECT_EQ(t.RecNumber(), 5);
  }
  EXPECT_EQ(undated(), before);
  openWritable("other.cdx");
  EXPECT_EQ(undated(), before);
  openWritable("AU.CDX");
  std::string after = undated();
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after[28], before[28] | 1);
  after[28] = before[28];
  EXPECT_EQ(after, before);  // nothing else but the date
}

TEST(CdxHandler, GeneralOrderAndAForeignGeneralTagRefusingWrites) {
  TempDir dir;
  const std::string table = MakeAuthorTable(dir / "au.dbf");
  XBO_dBHandler t(table, "", true, false);
  const std::vector<std::string> names = {"ivanov", "\xE6", "b", "A", "IVAN", "\xB8", "a", "\xE5", "Ivan"};
  for (size_t i = 0; i < names.size(); ++i) {
    t.xbBlank();
    t.xbNumberPutN(1, static_cast<double>(i + 1));
    t.xbStringPutN(2, names[i]);
    t.xbAppend();
  }
  ASSERT_EQ(t.xbIndexTo("au.cdx", "NA", "NA", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::AscendingGeneral),
            0);
  ASSERT_EQ(t.xbIndexRoute("au.cdx"), 0);
  t.xbSetTagTo("NA", false);
  EXPECT_EQ(WalkRecords(t), (std::vector<int>{7, 4, 3, 9, 5, 1, 8, 6, 2}));
  t.SetxbvExactMatch(false);
  EXPECT_TRUE(t.xbFind("iv"));
  EXPECT_EQ(t.RecNumber(), 9);
  EXPECT_TRUE(t.xbFind("\xA8"));  // Ё finds ё
  EXPECT_EQ(t.RecNumber(), 6);
  t.SetxbvExactMatch(true);
  EXPECT_TRUE(t.xbFind("IVAN"));
  EXPECT_EQ(t.RecNumber(), 5);
  EXPECT_FALSE(t.xbFind("IVANOV"));
  // In memory the same.
  ASSERT_TRUE(t.xbMemoryIndexAdd("MEM", "NA", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::AscendingGeneral));
  EXPECT_EQ(WalkRecords(t), (std::vector<int>{7, 4, 3, 9, 5, 1, 8, 6, 2}));
  EXPECT_FALSE(t.xbFind("IVANOV"));
  EXPECT_TRUE(t.xbFind("Ivan"));
  EXPECT_EQ(t.RecNumber(), 9);
  t.SetxbvExactMatch(false);
  EXPECT_TRUE(t.xbFind("IVANO"));
  EXPECT_EQ(t.RecNumber(), 1);
  // Writes keep the order, in the file as read again.
  t.xbBlank();
  t.xbStringPutN(2, "IVANA");
  t.xbAppend();
  t.xbGetRec(3);
  t.xbStringPutN(2, "\xC5");  // b -> Е
  t.xbPutRec(3);
  const std::vector<int> written = {7, 4, 9, 5, 10, 1, 8, 3, 6, 2};
  EXPECT_EQ(WalkRecords(t), written);
  t.xbIndex("au.cdx", "NA");
  EXPECT_EQ(WalkRecords(t), written);

  // Harbour's NAME tag, marked GENERAL: it walks in its own order, and a
  // write that would mix our keys into it is refused before anything is
  // written.
  CopyHarbourFiles(dir.path(), {"mixed.dbf", "mixed.fpt"});
  std::string bytes = platform::ReadFileBytes(kHarbourCdx + "mixed.cdx");
  RawCdx raw(kHarbourCdx + "mixed.cdx");
  const uint32_t name = raw.Tags()[4].second;
  std::memcpy(bytes.data() + name + 494, "GENERAL", 8);
  platform::WriteFileBytes(dir / "mixed.cdx", bytes);
  const std::vector<THarbourOrder> orders = HarbourOrders(kHarbourCdx + "mixed.json");
  XBO_dBHandler m(dir / "mixed.dbf", "", true, false);
  ASSERT_EQ(m.xbIndexRoute("mixed.cdx"), 0);
  m.xbSetTagTo("NAME", false);
  EXPECT_EQ(WalkRecords(m), orders[0].recnos);
  const std::string table0 = platform::ReadFileBytes(dir / "mixed.dbf");
  const std::string index0 = platform::ReadFileBytes(dir / "mixed.cdx");
  m.xbGetRec(3);
  m.xbStringPutN(1, "NEW NAME");
  const std::string refused = ErrorOf([&] { m.xbAppend(); });
  EXPECT_EQ(refused, "Index tag NAME of file " + dir / "mixed.cdx" +
                         " orders its keys by another program's collation: rebuild the index before writing");
  EXPECT_EQ(ErrorOf([&] { m.xbPutRec(3); }), refused);
  EXPECT_EQ(m.NumRecs(), 48);
  EXPECT_EQ(m.xbStringGetN(1), "NEW NAME");  // the record in hand is kept
  EXPECT_EQ(platform::ReadFileBytes(dir / "mixed.dbf"), table0);
  EXPECT_EQ(platform::ReadFileBytes(dir / "mixed.cdx"), index0);
  m.xbReIndex();
  m.xbGetRec(3);
  m.xbStringPutN(1, "NEW NAME");
  m.xbAppend();
  EXPECT_EQ(m.NumRecs(), 49);
}

TEST(CdxHandler, AnIndexInMemoryFollowsWritesAsTheFileDoes) {
  TempDir dir;
  const std::string table = MakeAuthorTable(dir / "au.dbf");
  {
    XBO_dBaseDBF raw(table, "", true, false);
    for (int i = 0; i < 100000; ++i) {
      std::memset(raw.CurRecord(), ' ', static_cast<size_t>(raw.RecLen()));
      PutField(raw, 0, std::to_string((i * 7919) % 1000 - 500));
      PutField(raw, 1, "N" + std::to_string((int64_t{i} * 104729) % 20000));
      raw.xbAppend();
    }
  }
  XBO_dBHandler t(table, "", true, false);
  ASSERT_EQ(t.xbIndexTo("au.cdx", "NAD", "NA", "ID > 0", XBsetIndexUnique::Duplicates, XBsetSortStatus::Descending), 0);
  ASSERT_EQ(t.xbIndexRoute("au.cdx"), 0);
  ASSERT_TRUE(t.xbMemoryIndexAdd("mem", "NA", "ID > 0", XBsetIndexUnique::Duplicates, XBsetSortStatus::Descending));
  auto same = [&] {
    t.xbSetTagTo("MEM", false);
    const std::vector<int> memory = WalkRecords(t);
    t.xbSetTagTo("NAD", false);
    EXPECT_EQ(WalkRecords(t), memory);
    return memory.size();
  };
  EXPECT_EQ(same(), 49900u);
  for (int i = 0; i < 400; ++i) {
    if (i % 2 == 0) {
      t.xbBlank();
      t.xbNumberPutN(1, i % 7 - 3);
      t.xbStringPutN(2, "A" + std::to_string(i));
      t.xbAppend();
    } else {
      t.xbGetRec(1 + (i * 31) % t.NumRecs());
      t.xbNumberPutN(1, i % 5 - 2);
      t.xbStringPutN(2, "B" + std::to_string(i % 50));
      t.xbPutRec(t.RecNumber());
    }
  }
  EXPECT_GT(same(), 49900u);
  // Made again under the same name, it replaces the one before.
  ASSERT_TRUE(t.xbMemoryIndexAdd("MEM", "ID", "", XBsetIndexUnique::Unique, XBsetSortStatus::Ascending));
  EXPECT_EQ(WalkRecords(t).size(), 1000u);  // one record a value
}

// Node offsets are 32-bit: a file grown to the largest one (here sparse)
// refuses a new node with the file-size error instead of writing it at a
// wrapped offset, whether its end lies on a node boundary or not.
TEST(CdxHandler, AFileAtTheLargestNodeOffsetTakesNoNewNode) {
  for (const int64_t size : {(int64_t{1} << 31) - 512, (int64_t{1} << 31) - 1}) {
    SCOPED_TRACE(size);
    TempDir dir;
    const std::string table = MakeAuthorTable(dir / "au.dbf");
    const std::string index = dir / "big.cdx";
    {
      XBO_dBHandler t(table, "", true, false);
      ASSERT_EQ(t.xbIndexTo(index, "ID", "ID", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending), 0);
    }
    platform::TFile(index, platform::fmOpenReadWrite).Truncate(size);
    XBO_dBHandler t(table, "", true, false);
    ASSERT_EQ(t.xbIndexRoute(index), 0);
    const std::string error = ErrorOf([&] {
      for (int i = 0; i < 1000; ++i) {
        t.xbBlank();
        t.xbNumberPutN(1, i);
        t.xbAppend();
      }
    });
    EXPECT_EQ(error, "Error getting FileSize for file " + index);
  }
}
