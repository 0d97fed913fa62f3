// Records our code writes, read back by independent readers (Python's struct
// and zipfile, Info-ZIP's unzip, 7-Zip), and round-tripped byte for byte
// through our own reader and writer.
#include <gtest/gtest.h>
#include <zlib.h>

#include "archiver/ZAExcept.h"
#include "platform/CodePage.h"
#include "records_util.h"

namespace {

using namespace archiver;
using base_test::HaveTool;
using base_test::Q;
using base_test::RunCmd;
using base_test::TempDir;
using base_test::WriteBytes;
using records_test::Lines;
using records_test::RunPython;

template <class R>
R LoadAt(const std::string& bytes, size_t offset) {
  R r;
  r.Load(reinterpret_cast<const uint8_t*>(bytes.data()) + offset);
  return r;
}

// Every record with a distinct value in every field, unpacked by Python with
// the layout's own format strings.
TEST(RecordsWrite, EveryFieldLandsAtItsOffset) {
  TZALocalFileHeader lh{0x04034B50, 0x0102, 0x0304, 0x0506, 0x0708, 0x090A, 0x0B0C0D0E,
                        0x0F101112, 0x13141516, 0x1718, 0x191A};
  TZADataDescriptor dd{0x08074B50, 0x21222324, 0x25262728, 0x292A2B2C};
  TZAZipCentralDir cd{0x02014B50, 0x3132, 0x3334, 0x3536, 0x3738, 0x393A, 0x3B3C, 0x3D3E3F40,
                      0x41424344, 0x45464748, 0x494A, 0x4B4C, 0x4D4E, 0x4F50, 0x5152, 0x53545556,
                      0x5758595A};
  TZAZipCentralDirEnd end{0x06054B50, 0x6162, 0x6364, 0x6566, 0x6768, 0x696A6B6C, 0x6D6E6F70, 0x7172};
  TZAZip64CentralDirEnd z64{0x06064B50, 0x8182838485868788, 0x898A, 0x8B8C, 0x8D8E8F90, 0x91929394,
                            0x95969798999A9B9C, 0x9D9E9FA0A1A2A3A4, 0xA5A6A7A8A9AAABAC,
                            0xADAEAFB0B1B2B3B4};
  TZAZip64CentralDirEndLocator loc{0x07064B50, 0xC1C2C3C4, 0xC5C6C7C8C9CACBCC, 0xCDCECFD0};
  std::string bytes;
  ZAAppendRecord(bytes, lh);
  ZAAppendRecord(bytes, dd);
  ZAAppendRecord(bytes, cd);
  ZAAppendRecord(bytes, end);
  ZAAppendRecord(bytes, z64);
  ZAAppendRecord(bytes, loc);
  ASSERT_EQ(bytes.size(), 30u + 16 + 46 + 22 + 56 + 20);

  TempDir dir;
  WriteBytes(dir / "records.bin", bytes);
  const std::string out = RunPython(dir, R"PY(
import struct, sys
d = open(sys.argv[1], 'rb').read()
p = 0
for fmt in ('<IHHHHHIIIHH', '<IIII', '<IHHHHHHIIIHHHHHII', '<IHHHHIIH', '<IQHHIIQQQQ', '<IIQI'):
    n = struct.calcsize(fmt)
    print(' '.join('%x' % v for v in struct.unpack(fmt, d[p:p+n])))
    p += n
)PY", Q(dir / "records.bin"));
  EXPECT_EQ(out,
            "4034b50 102 304 506 708 90a b0c0d0e f101112 13141516 1718 191a\n"
            "8074b50 21222324 25262728 292a2b2c\n"
            "2014b50 3132 3334 3536 3738 393a 3b3c 3d3e3f40 41424344 45464748 494a 4b4c 4d4e 4f50 "
            "5152 53545556 5758595a\n"
            "6054b50 6162 6364 6566 6768 696a6b6c 6d6e6f70 7172\n"
            "6064b50 8182838485868788 898a 8b8c 8d8e8f90 91929394 95969798999a9b9c 9d9e9fa0a1a2a3a4 "
            "a5a6a7a8a9aaabac adaeafb0b1b2b3b4\n"
            "7064b50 c1c2c3c4 c5c6c7c8c9cacbcc cdcecfd0\n");

  // And back through our own readers.
  const auto lh2 = LoadAt<TZALocalFileHeader>(bytes, 0);
  const auto dd2 = LoadAt<TZADataDescriptor>(bytes, 30);
  const auto cd2 = LoadAt<TZAZipCentralDir>(bytes, 46);
  const auto end2 = LoadAt<TZAZipCentralDirEnd>(bytes, 92);
  const auto z642 = LoadAt<TZAZip64CentralDirEnd>(bytes, 114);
  const auto loc2 = LoadAt<TZAZip64CentralDirEndLocator>(bytes, 170);
  EXPECT_EQ(lh2, lh);
  EXPECT_EQ(dd2, dd);
  EXPECT_EQ(cd2, cd);
  EXPECT_EQ(end2, end);
  EXPECT_EQ(z642, z64);
  EXPECT_EQ(loc2, loc);
}

// One item of the test archive.
struct ItemPlan {
  std::string name;  // UTF-8
  std::string data;
  bool folder = false;
  bool zip64 = false;  // sizes and offset through the zip64 fields
  std::string comment;
};

// Writes a complete archive with our record writers: local headers with
// their extra fields, the central directory through ZAAppendCentralEntry,
// the zip64 end record and locator, and an end record whose counts, size and
// offset hold their sentinels (as for an archive of 65535 entries or more).
std::string BuildArchive(const std::vector<ItemPlan>& plans, std::string& centralDir) {
  std::string out;
  std::vector<TDirItem> items;
  const TZAExtraFieldDataBlock foreign{0x5A5A, {'x', 'y', 'z'}};
  for (const ItemPlan& s : plans) {
    TDirItem item;
    item.Name = s.name;
    TZAZipCentralDir& cd = item.CentralDir;
    cd.signature = ZA_SIG_CENTRAL_DIR;
    cd.versionMadeBy = cd.extractVersion = s.zip64 ? ZA_VERSION_ZIP64 : ZA_VERSION_OEM;
    cd.lastModTime = 0x6000;
    cd.lastModDate = 0x5A21;
    cd.crc32 = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data.data()),
                                           static_cast<uInt>(s.data.size())));
    cd.compSize = cd.unCompSize = static_cast<uint32_t>(s.data.size());
    cd.externalAttr = s.folder ? ZA_ATTR_DIRECTORY : ZA_ATTR_ARCHIVE;
    item.Comment = s.comment;
    item.SetNewStoredName(/*oemFileNames=*/true);
    item.ExtraFields.push_back(foreign);
    item.SetLocalHeaderOffset(out.size());

    TZALocalFileHeader lh;
    lh.signature = ZA_SIG_LOCAL_HEADER;
    lh.extractVersion = cd.extractVersion;
    lh.genPurposeFlag = cd.genPurposeFlag;
    lh.lastModTime = cd.lastModTime;
    lh.lastModDate = cd.lastModDate;
    lh.crc32 = cd.crc32;
    lh.compSize = lh.unCompSize = cd.compSize;
    std::string localExtra;
    if (s.zip64) {
      item.bHugeFile = true;
      item.Zip64ExtInfo = {s.data.size(), s.data.size(), item.LocalHeaderOffset(), 0};
      cd.compSize = cd.unCompSize = cd.relOffsetLH = ZA_SENTINEL32;
      lh.compSize = lh.unCompSize = ZA_SENTINEL32;
      ZAAppendZip64Field(localExtra, TZAZip64Presence::OfLocal(lh), item.Zip64ExtInfo);
    }
    ZAAppendExtraFields(localExtra, item.ExtraFields, true);
    lh.nameLength = static_cast<uint16_t>(item.StoredName->size());
    lh.extraLength = static_cast<uint16_t>(localExtra.size());
    ZAAppendRecord(out, lh);
    out += *item.StoredName + localExtra + s.data;
    items.push_back(std::move(item));
  }
  const uint64_t cdStart = out.size();
  centralDir.clear();
  for (TDirItem& item : items) ZAAppendCentralEntry(centralDir, item, true);
  out += centralDir;
  const uint64_t z64Pos = out.size();
  TZAZip64CentralDirEnd z64{ZA_SIG_ZIP64_CENTRAL_DIR_END, 44, 45, 45, 0, 0, items.size(),
                            items.size(), centralDir.size(), cdStart};
  ZAAppendRecord(out, z64);
  ZAAppendRecord(out, TZAZip64CentralDirEndLocator{ZA_SIG_ZIP64_LOCATOR, 0, z64Pos, 1});
  const std::string comment = "archive comment";
  ZAAppendRecord(out, TZAZipCentralDirEnd{ZA_SIG_CENTRAL_DIR_END, 0, 0, 0xFFFF, 0xFFFF,
                                          ZA_SENTINEL32, ZA_SENTINEL32,
                                          static_cast<uint16_t>(comment.size())});
  return out + comment;
}

const std::vector<ItemPlan>& TestItems() {
  static const std::vector<ItemPlan> plans = {
      {"a.txt", "hello\n", false, false, ""},
      {"sub/", "", true, false, ""},
      {"sub/\xd0\x9a\xd0\xbd\xd0\xb8\xd0\xb3\xd0\xb0.fb2", "<FictionBook/>", false, false, "commented"},
      {"\xe6\x97\xa5\xe6\x9c\xac.txt", "utf-8 name", false, false, ""},
      {"big.bin", std::string(3000, 'q'), false, true, ""},
      {"last.txt", "end", false, false, ""},
  };
  return plans;
}

TEST(RecordsWrite, PeersReadTheArchiveWeWrite) {
  TempDir dir;
  std::string centralDir;
  const std::string bytes = BuildArchive(TestItems(), centralDir);
  const std::string zip = dir / "ours.zip";
  WriteBytes(zip, bytes);

  // Python's struct reads the values we wrote, zipfile resolves the same
  // zip64 values as we do, and every item's data checks out.
  const auto theirs = records_test::PythonDump(dir, zip, /*test=*/true);
  ASSERT_FALSE(theirs.empty());
  EXPECT_EQ(theirs.back(), "TEST ok");
  auto ours = records_test::OurDump(zip);
  ours.push_back("TEST ok");
  EXPECT_EQ(ours, theirs);

  // Names: the Cyrillic one in OEM (866) without bit 11, the Japanese one in
  // UTF-8 with it; contents as written.
  const std::string names = RunPython(dir, R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as zf:
    for zi in zf.infolist():
        n = zi.filename if zi.flag_bits & 0x800 else zi.orig_filename.encode('cp437').decode('cp866')
        print(n, zi.flag_bits & 0x800, len(zf.read(zi)), zi.comment.decode())
)PY", Q(zip));
  EXPECT_EQ(names,
            "a.txt 0 6 \nsub/ 0 0 \nsub/\xd0\x9a\xd0\xbd\xd0\xb8\xd0\xb3\xd0\xb0.fb2 0 14 commented\n"
            "\xe6\x97\xa5\xe6\x9c\xac.txt 2048 10 \nbig.bin 0 3000 \nlast.txt 0 3 \n");

  if (HaveTool("unzip")) {
    EXPECT_NE(RunCmd("unzip -tqq " + Q(zip) + " 2>&1"), "<failed>");
  }
  for (const char* sevenZip : {"7zz", "7z"}) {
    if (HaveTool(sevenZip)) {
      EXPECT_NE(RunCmd(std::string(sevenZip) + " t " + Q(zip) + " >/dev/null 2>&1"), "<failed>");
      break;
    }
  }
  if (HaveTool("zipdetails")) {
    const std::string details = RunCmd("zipdetails " + Q(zip) + " 2>&1");
    EXPECT_NE(details.find("ZIP64"), std::string::npos) << details;
    EXPECT_NE(details.find("5A5A"), std::string::npos);
  }
}

TEST(RecordsWrite, CentralDirectoryRoundTripsByteForByte) {
  std::string centralDir;
  const std::string bytes = BuildArchive(TestItems(), centralDir);

  // Read the entries back with our reader, as a loader would keep them, and
  // write them again.
  platform::TStringStream s(centralDir);
  std::string again;
  for (size_t k = 0; k < TestItems().size(); ++k) {
    TDirItem item;
    std::string name;
    ASSERT_TRUE(ZAReadCentralEntry(s, item.CentralDir, name, item.ExtraFields, item.Comment));
    item.Name = "ignored: the stored bytes are written";
    item.StoredName = name;
    if (auto* z64 = ZAFindExtraField(item.ExtraFields, ZA_EXTRA_ZIP64))
      ZAReadZip64ExtendedInfo(*z64, TZAZip64Presence::OfCentral(item.CentralDir), item.Zip64ExtInfo);
    ZAAppendCentralEntry(again, item, true);
  }
  EXPECT_EQ(s.Position(), static_cast<int64_t>(centralDir.size()));
  EXPECT_EQ(records_test::Hex(again), records_test::Hex(centralDir));

  // The end records too.
  const size_t tail = bytes.size() - 15 - 22 - 20 - 56;
  const auto z64 = LoadAt<TZAZip64CentralDirEnd>(bytes, tail);
  const auto loc = LoadAt<TZAZip64CentralDirEndLocator>(bytes, tail + 56);
  const auto end = LoadAt<TZAZipCentralDirEnd>(bytes, tail + 76);
  std::string rewritten;
  ZAAppendRecord(rewritten, z64);
  ZAAppendRecord(rewritten, loc);
  ZAAppendRecord(rewritten, end);
  EXPECT_EQ(rewritten, bytes.substr(bytes.size() - 15 - 98, 98));
}

// --- Extra fields -------------------------------------------------------------

TEST(RecordsExtra, BlocksSplitInOrderAndForeignOnesComeBackUnchanged) {
  const std::string area = std::string("\xFE\xCA\x03\x00xyz", 7) + std::string("\x55\x54\x00\x00", 4) +
                           std::string("\x01\x00\x08\x00", 4) + std::string(8, '\x07');
  const auto fields = ZAParseExtraFields(area);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0].headerID, 0xCAFE);
  EXPECT_EQ(fields[1].dataSize(), 0);
  EXPECT_EQ(fields[2].headerID, ZA_EXTRA_ZIP64);
  EXPECT_EQ(ZAExtraFieldsSize(fields, false), area.size());
  EXPECT_EQ(ZAExtraFieldsSize(fields, true), area.size() - 12);
  std::string all, foreign;
  ZAAppendExtraFields(all, fields, false);
  ZAAppendExtraFields(foreign, fields, true);
  EXPECT_EQ(all, area);
  EXPECT_EQ(foreign, area.substr(0, 11));
}

TEST(RecordsExtra, OverlongBlockIsCutAndPaddingDropped) {
  // A dataSize running past the area keeps the bytes that are there; a tail
  // too short for a block header is padding and goes.
  const auto cut = ZAParseExtraFields(std::string("\x99\x99\x10\x00" "abc", 7));
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0].Data, (std::vector<uint8_t>{'a', 'b', 'c'}));
  const auto padded = ZAParseExtraFields(std::string("\x99\x99\x01\x00" "a\0\0", 7));
  ASSERT_EQ(padded.size(), 1u);
  EXPECT_EQ(padded[0].dataSize(), 1);
  EXPECT_TRUE(ZAParseExtraFields(std::string("\x01\x00", 2)).empty());
}

TEST(RecordsExtra, Zip64FieldHoldsOnlyTheSentinelValuesInOrder) {
  TZAZipCentralDir cd;
  cd.compSize = ZA_SENTINEL32;
  cd.diskNumberStart = ZA_SENTINEL16;
  const TZAZip64ExtendedInfo info{0x1111, 0x100000000ULL, 0x3333, 0x12345};
  std::string bytes;
  ZAAppendZip64Field(bytes, TZAZip64Presence::OfCentral(cd), info);
  EXPECT_EQ(records_test::Hex(bytes), "01000c00" "0000000001000000" "45230100");

  // Read back: the disk number keeps its low 16 bits; fields without a
  // sentinel stay as they were.
  TZAZip64ExtendedInfo back{7, 7, 7, 7};
  ZAReadZip64ExtendedInfo(ZAParseExtraFields(bytes)[0], TZAZip64Presence::OfCentral(cd), back);
  EXPECT_EQ(back, (TZAZip64ExtendedInfo{7, 0x100000000ULL, 7, 0x2345}));

  // No sentinel: no field at all.
  std::string none;
  ZAAppendZip64Field(none, TZAZip64Presence::OfCentral(TZAZipCentralDir{}), info);
  EXPECT_TRUE(none.empty());
  EXPECT_TRUE(ZAMakeZip64Block(TZAZip64Presence{}, info).Data.empty());
}

TEST(RecordsExtra, ShortZip64FieldYieldsOnlyTheValuesThatFit) {
  const TZAZip64Presence all{true, true, true, true};
  std::string data;
  for (int i = 1; i <= 12; ++i) data += static_cast<char>(i);  // 8 + 4 bytes
  TZAZip64ExtendedInfo info{0, 0, 0, 0};
  ZAReadZip64ExtendedInfo(reinterpret_cast<const uint8_t*>(data.data()), data.size(), all, info);
  EXPECT_EQ(info.uncompSize, 0x0807060504030201ULL);
  EXPECT_EQ(info.compSize, 0u);  // only 4 of its 8 bytes are there
  EXPECT_EQ(info.relOffsetLH, 0u);
  EXPECT_EQ(info.diskNumberStart, 0u);
}

TEST(RecordsExtra, AesFieldReadsAndWritesItsSevenBytes) {
  const TZAAESExtraInfo aes{2, ZA_AES_VENDOR, 3, ZA_METHOD_DEFLATE};
  const TZAExtraFieldDataBlock block = aes.ToBlock();
  std::string bytes;
  ZAAppendExtraFields(bytes, {block}, false);
  EXPECT_EQ(records_test::Hex(bytes), "01990700" "0200" "4145" "03" "0800");
  TZAAESExtraInfo back;
  ASSERT_TRUE(back.Load(block));
  EXPECT_EQ(back, aes);
  EXPECT_FALSE(back.Load(TZAExtraFieldDataBlock{ZA_EXTRA_AES, {2, 0, 'A', 'E'}}));
}

TEST(RecordsExtra, ShortStreamsAreReportedNotOverread) {
  TZAZipCentralDir cd;
  cd.signature = ZA_SIG_CENTRAL_DIR;
  cd.nameLength = 10;
  std::string bytes;
  ZAAppendRecord(bytes, cd);
  bytes += "abc";  // 7 name bytes missing
  platform::TStringStream s(bytes);
  TZAZipCentralDir back;
  std::string name, comment;
  TZAExtraFields extra;
  EXPECT_FALSE(ZAReadCentralEntry(s, back, name, extra, comment));
  platform::TStringStream tooShort(std::string(45, '\0'));
  EXPECT_FALSE(ZAReadRecord(tooShort, back));
}

}  // namespace
