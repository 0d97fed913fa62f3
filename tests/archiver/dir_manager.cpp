// The directory manager: flavour, stub placement and stub offsets, merging,
// the end-record search, and the stored-name rule of the central writer.
#include <gtest/gtest.h>

#include "archiver/ZADirectory.h"
#include "archiver/ZAExcept.h"
#include "archiver/ZAStreams.h"
#include "base_util.h"
#include "platform/CodePage.h"

namespace {

using namespace archiver;
using base_test::TempDir;

class TestOwner : public TZADirOwner {
 public:
  bool zip = true;
  bool corrupted = false;
  std::string stub;
  int64_t firstVolumeLimit = -1;
  int firstVolumeSelected = 0;
  bool isZIPFormat() const override { return zip; }
  bool OpenCorruptedArchives() const override { return corrupted; }
  std::string SFXStub() const override { return stub; }
  int64_t FirstVolumeSizeLimit() const override { return firstVolumeLimit; }
  void SelectFirstVolume() override { ++firstVolumeSelected; }
  std::string ComponentName() const override { return "Zip1"; }
};

void AddEntry(TZADirManager& dm, const std::string& name, uint32_t offset, uint32_t attr = ZA_ATTR_ARCHIVE) {
  TDirItem item;
  item.Name = name;
  item.CentralDir.relOffsetLH = offset;
  item.CentralDir.externalAttr = attr;
  dm.CDir.SetCount(dm.CDir.Count() + 1);
  dm.CDir.SetItem(dm.CDir.Count() - 1, item);
}

TEST(DirManager, EndRecordIsSignedForTheFlavour) {
  TestOwner owner;
  platform::TMemoryStream s;
  TZADirManager zip(&s, false, &owner);
  EXPECT_EQ(zip.CentralDirEnd.signature, ZA_SIG_CENTRAL_DIR_END);
  EXPECT_TRUE(zip.FIsCustomStream);
  owner.zip = false;
  TZADirManager other(&s, false, &owner);
  EXPECT_EQ(other.CentralDirEnd.signature, ZA_SIG_CENTRAL_DIR_END_NZ);
  EXPECT_TRUE(other.IsNonZipFlavour());
  EXPECT_EQ(owner.firstVolumeSelected, 0);

  // Each flavour finds only its own end record.
  std::string end;
  ZAAppendRecord(end, TZAZipCentralDirEnd{ZA_SIG_CENTRAL_DIR_END_NZ, 0, 0, 0, 0, 0, 0, 0});
  platform::TStringStream nz(end);
  TZADirManager reader(&nz, false, &owner);
  EXPECT_TRUE(reader.HasCentralDirEnd());
  owner.zip = true;
  EXPECT_FALSE(reader.HasCentralDirEnd());
}

TEST(DirManager, NewArchiveGetsTheStubAndTheFirstVolume) {
  TempDir dir;
  base_test::WriteBytes(dir / "stub.bin", std::string(1234, 'S'));
  TestOwner owner;
  owner.stub = dir / "stub.bin";
  platform::TMemoryStream s;
  s.WriteBuffer("old content", 11);
  TZADirManager dm(&s, true, &owner);
  EXPECT_EQ(owner.firstVolumeSelected, 1);
  EXPECT_EQ(dm.StubSize, 1234);
  EXPECT_EQ(s.Size(), 1234);
  EXPECT_EQ(s.Memory()[0], 'S');

  owner.firstVolumeLimit = 1000;
  try {
    TZADirManager tooBig(&s, true, &owner);
    FAIL() << "a stub larger than the first volume was placed";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 47);
    EXPECT_EQ(std::string(e.what()).rfind("Zip1: Cannot place SFX stub", 0), 0u) << e.what();
  }
}

TEST(DirManager, StubOffsetMovesEveryEntryFoldersIncluded) {
  TZADirManager dm(nullptr, false, nullptr);
  AddEntry(dm, "a.txt", 0);
  AddEntry(dm, "dir/", 100, ZA_ATTR_DIRECTORY);
  AddEntry(dm, "near-limit.bin", 0xFFFFFFFF - 600);
  AddEntry(dm, "zip64.bin", ZA_SENTINEL32);
  dm.CDir[3].bHugeFile = true;
  dm.CDir[3].Zip64ExtInfo.relOffsetLH = 0x100000000ULL;
  EXPECT_FALSE(dm.IsSFXArchive());
  dm.StubSize = 600;
  dm.ApplyStubOffset();
  EXPECT_EQ(dm.CDir[0].LocalHeaderOffset(), 600u);
  EXPECT_EQ(dm.CDir[1].LocalHeaderOffset(), 700u);
  // Reaching 0xFFFFFFFF takes the zip64 form.
  EXPECT_EQ(dm.CDir[2].CentralDir.relOffsetLH, ZA_SENTINEL32);
  EXPECT_TRUE(dm.CDir[2].bHugeFile);
  EXPECT_EQ(dm.CDir[2].LocalHeaderOffset(), 0xFFFFFFFFULL);
  EXPECT_EQ(dm.CDir[3].LocalHeaderOffset(), 0x100000000ULL + 600);
  EXPECT_TRUE(dm.IsSFXArchive());
  EXPECT_FALSE(dm.IsEncrypted());
  dm.CDir[0].CentralDir.genPurposeFlag = ZA_FLAG_ENCRYPTED;
  EXPECT_TRUE(dm.IsEncrypted());
}

TEST(DirManager, MergeMovesOnlyTaggedAppendedEntries) {
  TZADirManager dm(nullptr, false, nullptr);
  TZADirManager other(nullptr, false, nullptr);
  AddEntry(dm, "own.txt", 0);
  dm.CDir[0].Tagged = true;
  AddEntry(other, "moved.txt", 0);
  AddEntry(other, "untagged.txt", 50);
  AddEntry(other, "exact.txt", 0xFFFFFFFF - 1000);
  AddEntry(other, "huge.txt", ZA_SENTINEL32);
  other.CDir[3].Zip64ExtInfo.relOffsetLH = 0x200000000ULL;
  for (int i : {0, 2, 3}) other.CDir[i].Tagged = true;
  dm.CentralDirOffset = 1000;
  dm.MergeWith(other);
  ASSERT_EQ(dm.CDir.Count(), 5);
  EXPECT_FALSE(dm.CDir[0].Tagged);
  EXPECT_EQ(dm.CDir[0].LocalHeaderOffset(), 0u);
  EXPECT_EQ(dm.CDir[1].LocalHeaderOffset(), 1000u);
  EXPECT_EQ(dm.CDir[2].LocalHeaderOffset(), 50u);
  // A moved offset of exactly 0xFFFFFFFF already needs the zip64 form.
  EXPECT_EQ(dm.CDir[3].CentralDir.relOffsetLH, ZA_SENTINEL32);
  EXPECT_TRUE(dm.CDir[3].bHugeFile);
  EXPECT_EQ(dm.CDir[3].Zip64ExtInfo.relOffsetLH, 0xFFFFFFFFULL);
  EXPECT_EQ(dm.CDir[4].LocalHeaderOffset(), 0x200000000ULL + 1000);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(dm.CDir[i].Tagged);
  int index = -1;
  EXPECT_TRUE(dm.CDir.FileExists("HUGE.txt", index));
  EXPECT_EQ(index, 4);
}

std::string EndRecord(uint16_t commentLength, uint32_t signature = ZA_SIG_CENTRAL_DIR_END) {
  std::string out;
  ZAAppendRecord(out, TZAZipCentralDirEnd{signature, 0, 0, 1, 1, 46, 7, commentLength});
  return out;
}

TEST(DirManager, EndRecordSearchAcceptsOnlyACommentReachingTheEnd) {
  TestOwner owner;
  // The comment holds an end-record signature of its own, with a comment
  // length that does not reach the end: the real record before it is found.
  const std::string fake = EndRecord(99);
  const std::string comment = "see " + fake + " here";
  platform::TStringStream s(std::string(300, 'd') + EndRecord(static_cast<uint16_t>(comment.size())) + comment);
  TZADirManager dm(&s, false, &owner);
  TZAZipCentralDirEnd end;
  int64_t offset = 0;
  ASSERT_TRUE(dm.FindCentralDirEnd(end, offset, ZA_SIG_CENTRAL_DIR_END));
  EXPECT_EQ(offset, 300);
  EXPECT_EQ(end.offsetStartDir, 7u);
  EXPECT_EQ(dm.ArchiveComment, comment);
  EXPECT_TRUE(dm.HasCentralDirEnd());
  EXPECT_FALSE(dm.FindCentralDirEnd(end, offset, ZA_SIG_CENTRAL_DIR_END_NZ));
  EXPECT_EQ(offset, -1);
  EXPECT_TRUE(dm.ArchiveComment.empty());
}

TEST(DirManager, EndRecordSearchFailsOnTrailingBytesButReachesTheLongestComment) {
  TestOwner owner;
  platform::TStringStream trailing(EndRecord(0) + "junk");
  TZADirManager dm(&trailing, false, &owner);
  EXPECT_FALSE(dm.HasCentralDirEnd());
  owner.corrupted = true;  // then the archive counts as openable (rebuilt)
  EXPECT_TRUE(dm.HasCentralDirEnd());
  owner.corrupted = false;

  // The longest comment a record can declare still lies inside the window.
  platform::TStringStream huge(EndRecord(65535) + std::string(65535, 'c'));
  TZADirManager fits(&huge, false, &owner);
  EXPECT_TRUE(fits.HasCentralDirEnd());
  EXPECT_EQ(fits.ArchiveComment.size(), 65535u);
  platform::TStringStream tooShort(std::string(10, 'x'));
  TZADirManager none(&tooShort, false, &owner);
  EXPECT_FALSE(none.HasCentralDirEnd());
}

// --- Stored names in the central entries ----------------------------------------

TDirItem Stored(const std::string& name, const std::string& bytes, uint16_t flag) {
  TDirItem item;
  item.Name = name;
  item.StoredName = bytes;
  item.CentralDir.signature = ZA_SIG_CENTRAL_DIR;
  item.CentralDir.genPurposeFlag = flag;
  return item;
}

std::string WrittenName(const std::string& entry) {
  return entry.substr(TZAZipCentralDir::Size, ZAGetU16(reinterpret_cast<const uint8_t*>(entry.data()) + 28));
}

uint16_t WrittenFlag(const std::string& entry) {
  return ZAGetU16(reinterpret_cast<const uint8_t*>(entry.data()) + 8);
}

TEST(DirManager, EntriesKeepTheirStoredNameAndFlagAsRead) {
  // Read from an archive: an ASCII name with bit 11 (many tools set it), and
  // a Cyrillic name some tool stored in UTF-8 without bit 11. Their local
  // headers are not rewritten, so neither may change.
  const std::string cyrillic = "\xd0\x9a\xd0\xbd\xd0\xb8\xd0\xb3\xd0\xb0.fb2";
  TDirItem ascii = Stored("a.txt", "a.txt", ZA_FLAG_UTF8_NAME);
  TDirItem utf8NoFlag = Stored(cyrillic, cyrillic, 0);
  std::string out1, out2;
  ZAAppendCentralEntry(out1, ascii, true);
  ZAAppendCentralEntry(out2, utf8NoFlag, true);
  EXPECT_EQ(WrittenName(out1), "a.txt");
  EXPECT_EQ(WrittenFlag(out1), ZA_FLAG_UTF8_NAME);
  EXPECT_EQ(WrittenName(out2), cyrillic);
  EXPECT_EQ(WrittenFlag(out2), 0);
}

TEST(DirManager, NewLocalHeadersFollowTheNameRule) {
  const std::string cyrillic = "\xd0\x9a\xd0\xbd\xd0\xb8\xd0\xb3\xd0\xb0.fb2";
  TDirItem item = Stored(cyrillic, cyrillic, ZA_FLAG_UTF8_NAME);
  item.SetNewStoredName(/*oemFileNames=*/true);
  EXPECT_EQ(*item.StoredName, platform::Utf8ToOem(cyrillic));
  EXPECT_EQ(item.CentralDir.genPurposeFlag & ZA_FLAG_UTF8_NAME, 0);
  item.SetNewStoredName(false);
  EXPECT_EQ(*item.StoredName, platform::Utf8ToAnsi(cyrillic));

  // A name no code page holds goes in UTF-8, whole, however long.
  std::string longName;
  for (int i = 0; i < 100; ++i) longName += "\xe6\x97\xa5";  // 300 bytes
  TDirItem wide;
  wide.Name = longName;
  std::string entry;
  ZAAppendCentralEntry(entry, wide, true);  // no stored name yet: the rule applies
  EXPECT_EQ(WrittenName(entry), longName);
  EXPECT_EQ(WrittenFlag(entry) & ZA_FLAG_UTF8_NAME, ZA_FLAG_UTF8_NAME);
  EXPECT_EQ(wide.CentralDir.nameLength, 300);

  TDirItem tooLong;
  tooLong.Name = std::string(70000, 'n');
  try {
    tooLong.SetNewStoredName(true);
    FAIL() << "a name longer than a header holds was accepted";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 61);
  }
}

TEST(DirManager, CentralEntryRebuildsItsZip64FieldFromCurrentValues) {
  TDirItem item = Stored("big", "big", 0);
  // As read: a zip64 field with the sizes, and a foreign field.
  item.ExtraFields = {ZAMakeZip64Block(TZAZip64Presence{true, true, false, false}, {5, 6, 0, 0}),
                      TZAExtraFieldDataBlock{0x5A5A, {1, 2, 3}}};
  // The entry no longer needs zip64 sizes, but its offset moved past 4 GiB.
  item.SetLocalHeaderOffset(0x123456789ULL);
  std::string entry;
  ZAAppendCentralEntry(entry, item, true);
  const auto fields = ZAParseExtraFields(entry.substr(TZAZipCentralDir::Size + 3));
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0].headerID, ZA_EXTRA_ZIP64);
  EXPECT_EQ(fields[0].dataSize(), 8);
  TZAZip64ExtendedInfo back;
  ZAReadZip64ExtendedInfo(fields[0], TZAZip64Presence::OfCentral(item.CentralDir), back);
  EXPECT_EQ(back.relOffsetLH, 0x123456789ULL);
  EXPECT_EQ(fields[1], item.ExtraFields[1]);

  // Back below the limit: the zip64 field goes altogether.
  item.CentralDir.relOffsetLH = 10;
  entry.clear();
  ZAAppendCentralEntry(entry, item, true);
  EXPECT_EQ(item.CentralDir.extraLength, 7);
}

TEST(DirManager, UnicodeNameFieldReadFromAnArchiveIsWrittenBackAsItWas) {
  TUnicodeExtendedInfo info;
  info.SetName("\xd0\x9a\xd0\xbd\xd0\xb8\xd0\xb3\xd0\xb0 \xe6\x97\xa5.fb2");
  platform::TStringStream data;
  info.SaveToStream(data);
  const std::string& raw = data.DataString();
  TDirItem item = Stored(info.Name(), "????? ?.fb2", 0);
  item.ExtraFields.push_back({ZA_EXTRA_UNICODE_NAME, std::vector<uint8_t>(raw.begin(), raw.end())});
  std::string entry;
  ZAAppendCentralEntry(entry, item, true);
  EXPECT_EQ(WrittenName(entry), "????? ?.fb2");
  const auto fields = ZAParseExtraFields(entry.substr(TZAZipCentralDir::Size + 11));
  const auto* field = ZAFindExtraField(fields, ZA_EXTRA_UNICODE_NAME);
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(std::string(field->Data.begin(), field->Data.end()), raw);
  TUnicodeExtendedInfo back;
  ASSERT_TRUE(back.Load(field->Data.data(), field->dataSize()));
  EXPECT_EQ(back.Name(), info.Name());
}

}  // namespace
