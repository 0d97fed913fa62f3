// Loading damaged and odd archives: each case is handled as a zip reader
// should (loaded, rebuilt from the local headers, or refused with the
// archiver's error), and nothing crashes, hangs or allocates wildly
// (the suite runs under the sanitizers).
#include <gtest/gtest.h>

#include <random>

#include "archiver/ZADirectory.h"
#include "archiver/ZAExcept.h"
#include "archiver/ZARecords.h"
#include "load_util.h"

namespace {

using namespace load_test;
using archiver::EZAException;

// A small archive made by Python: two deflated files, an empty file and a
// folder, with an archive comment.
const std::string& Sample() {
  static const std::string bytes = [] {
    TempDir dir;
    const char* script = R"PY(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)
z.writestr('one.txt', 'first file ' * 20)
z.writestr('dir/', '')
z.writestr('dir/two.txt', 'second file ' * 30)
z.writestr('empty.txt', '')
z.comment = b'the comment'
z.close()
)PY";
    records_test::RunPython(dir, script, Q(dir / "s.zip"));
    return base_test::ReadBytes(dir / "s.zip");
  }();
  return bytes;
}

const std::vector<std::string> kSampleNames = {"one.txt", "dir/", "dir/two.txt", "empty.txt"};

size_t EndOffset(const std::string& bytes) { return bytes.rfind(std::string("PK\x05\x06", 4)); }
size_t FirstCentral(const std::string& bytes) { return bytes.find(std::string("PK\x01\x02", 4)); }

void Put16(std::string& b, size_t at, uint16_t v) { archiver::ZAPutU16(reinterpret_cast<uint8_t*>(&b[at]), v); }
void Put32(std::string& b, size_t at, uint32_t v) { archiver::ZAPutU32(reinterpret_cast<uint8_t*>(&b[at]), v); }

// The native code LoadDir raises for `bytes`, or -1 when it loads.
int LoadError(const std::string& bytes, bool corrupted, std::vector<std::string>* names = nullptr) {
  Owner owner;
  owner.corrupted = corrupted;
  try {
    Loaded l = LoadBytes(bytes, &owner);
    if (names) *names = l.Names();
    return -1;
  } catch (const EZAException& e) {
    return e.NativeError;
  }
}

TEST(LoadHostile, CommentHoldingTheEndSignatureAndTrailingJunk) {
  TempDir dir;
  std::string trap = std::string("before PK\x05\x06", 11) + std::string(18, '\0') + "after";
  records_test::RunPython(dir,
                          "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n"
                          "z.writestr('x.txt', 'x')\nz.comment = bytes.fromhex(sys.argv[2])\nz.close()\n",
                          Q(dir / "c.zip") + " " + records_test::Hex(trap));
  Owner owner;
  Loaded l = LoadFile(dir / "c.zip", &owner);
  EXPECT_EQ(l.Names(), std::vector<std::string>{"x.txt"});
  EXPECT_EQ(l.dm->ArchiveComment, trap);

  // Junk after the comment: no end record fits, so the directory is rebuilt
  // from the local headers (the component refuses such an archive unless
  // OpenCorruptedArchives is on).
  std::vector<std::string> names;
  EXPECT_EQ(LoadError(Sample() + "JUNK", false, &names), -1);
  EXPECT_EQ(names, kSampleNames);
  Loaded rebuilt = LoadBytes(Sample() + "JUNK", &owner);
  EXPECT_EQ(rebuilt.dm->CentralDirOffset, rebuilt.stream->Size());
  EXPECT_FALSE(rebuilt.dm->HasCentralDirEnd());
}

TEST(LoadHostile, ArchiveInsideTheComment) {
  // The inner archive's end record ends the file too; the outer one, whose
  // comment holds it, is the archive's own.
  const std::string& inner = Sample();
  std::string outer = Sample();
  const size_t end = EndOffset(outer);
  outer.resize(end + 22);
  Put16(outer, end + 20, static_cast<uint16_t>(inner.size()));
  outer += inner;
  std::vector<std::string> names;
  ASSERT_EQ(LoadError(outer, false, &names), -1);
  EXPECT_EQ(names, kSampleNames);
  Owner owner;
  Loaded l = LoadBytes(outer, &owner);
  EXPECT_EQ(l.dm->ArchiveComment, inner);
  EXPECT_EQ(l.dm->CDir[0].LocalHeaderOffset(), 0u);
}

TEST(LoadHostile, DamagedOrMissingEndRecord) {
  std::string bytes = Sample();
  bytes[EndOffset(bytes) + 1] = 'X';
  std::vector<std::string> names;
  EXPECT_EQ(LoadError(bytes, false, &names), -1);
  EXPECT_EQ(names, kSampleNames);

  // Truncated inside the last local header: the complete headers are
  // rebuilt, the cut one is not.
  const std::string cut = Sample().substr(0, FirstCentral(Sample()) - 5);
  EXPECT_EQ(LoadError(cut, false, &names), -1);
  EXPECT_EQ(names, std::vector<std::string>({"one.txt", "dir/", "dir/two.txt"}));
  // Nothing that looks like an archive: code 35.
  EXPECT_EQ(LoadError(std::string(1000, 'z'), false), 35);
  EXPECT_EQ(LoadError("", false), 35);
}

TEST(LoadHostile, DamagedCentralEntries) {
  const size_t cd = FirstCentral(Sample());
  std::string badSignature = Sample();
  badSignature[cd + 46 + 7 + 1] ^= 0x55;  // the second entry's signature
  std::string longName = Sample();
  Put16(longName, cd + 28, 0xFFF0);  // name runs past the directory
  std::string badOffset = Sample();
  Put32(badOffset, cd + 42, 0x7FFFFFF0);  // local header beyond the file
  std::string badSizes = Sample();
  Put32(badSizes, cd + 20, 0x7FFFFFF0);  // compressed size beyond the file
  for (const std::string* bytes : {&badSignature, &longName, &badOffset, &badSizes}) {
    std::vector<std::string> names;
    EXPECT_EQ(LoadError(*bytes, false), 57);
    EXPECT_EQ(LoadError(*bytes, true, &names), -1);
    EXPECT_EQ(names, kSampleNames);
  }
}

TEST(LoadHostile, BadCounts) {
  const size_t end = EndOffset(Sample());
  // More entries than the directory can hold: refused before allocating.
  std::string tooMany = Sample();
  Put16(tooMany, end + 8, 60000);
  Put16(tooMany, end + 10, 60000);
  EXPECT_EQ(LoadError(tooMany, false), 57);
  std::vector<std::string> names;
  EXPECT_EQ(LoadError(tooMany, true, &names), -1);
  EXPECT_EQ(names, kSampleNames);
  // A directory larger than what comes before the end record.
  std::string tooLarge = Sample();
  Put32(tooLarge, end + 12, static_cast<uint32_t>(end + 1));
  EXPECT_EQ(LoadError(tooLarge, false), 57);
  // Fewer entries counted than there are: a strict open refuses the
  // archive, a lenient one walks the directory by its size.
  std::string fewer = Sample();
  Put16(fewer, end + 10, 2);
  EXPECT_EQ(LoadError(fewer, false), 57);
  EXPECT_EQ(LoadError(fewer, true, &names), -1);
  EXPECT_EQ(names, kSampleNames);
  // 0xFFFF without zip64 records: the directory is walked.
  std::string walk = Sample();
  Put16(walk, end + 8, 0xFFFF);
  Put16(walk, end + 10, 0xFFFF);
  EXPECT_EQ(LoadError(walk, false, &names), -1);
  EXPECT_EQ(names, kSampleNames);
  // ... and when the walk fails, the archive is rebuilt.
  std::string badWalk = walk;
  badWalk[FirstCentral(badWalk) + 46 + 7] ^= 0x55;
  EXPECT_EQ(LoadError(badWalk, false, &names), -1);
  EXPECT_EQ(names, kSampleNames);
  // The last volume of a set is not read as a single file.
  std::string lastVolume = Sample();
  Put16(lastVolume, end + 4, 2);
  EXPECT_EQ(LoadError(lastVolume, false), 44);
  // An all-ones directory size with a valid offset: walked from the offset.
  std::string unknownSize = Sample();
  Put32(unknownSize, end + 12, 0xFFFFFFFF);
  EXPECT_EQ(LoadError(unknownSize, false, &names), -1);
  EXPECT_EQ(names, kSampleNames);
}

TEST(LoadHostile, Zip64RecordsThatLie) {
  TempDir dir;
  const std::string path = MakePeerArchive(dir, "z.zip", "zip -q -r -fz {} .");
  const std::string good = base_test::ReadBytes(path);
  const size_t end = EndOffset(good);
  const size_t z64 = end - 20 - 56;
  ASSERT_EQ(good.substr(z64, 4), std::string("PK\x06\x06", 4));
  // An entry count of 2^40: refused, nothing allocated for it.
  std::string huge = good;
  archiver::ZAPutU64(reinterpret_cast<uint8_t*>(&huge[z64 + 32]), uint64_t{1} << 40);
  EXPECT_EQ(LoadError(huge, false), 57);
  // A zip64 directory size beyond the file.
  std::string size = good;
  archiver::ZAPutU64(reinterpret_cast<uint8_t*>(&size[z64 + 40]), uint64_t{1} << 50);
  EXPECT_EQ(LoadError(size, false), 57);
  // No zip64 end record anywhere the locator could mean: code 40, or a
  // rebuild when damaged archives may be opened.
  std::string none = good;
  none[z64] = 'X';
  EXPECT_EQ(LoadError(none, false), 40);
  std::vector<std::string> names;
  EXPECT_EQ(LoadError(none, true, &names), -1);
  EXPECT_EQ(AsSet(names), AsSet(SampleNames()));

}

TEST(LoadHostile, RebuildKeepsFilesAndFoldersApart) {
  // Written to a pipe, zip uses data descriptors (flag bit 3): the rebuild
  // takes CRC and sizes from them.
  TempDir dir;
  const std::string path = MakePeerArchive(dir, "pipe.zip", "zip -q -r - . > {}");
  std::string bytes = base_test::ReadBytes(path);
  ASSERT_GT(bytes.size(), 100u);
  Owner owner;
  Loaded good = LoadBytes(bytes, &owner);
  bytes.resize(EndOffset(bytes) + 5);  // the end record is cut short
  Loaded rebuilt = LoadBytes(bytes, &owner);
  ASSERT_EQ(rebuilt.dm->CDir.Count(), good.dm->CDir.Count());
  for (int i = 0; i < good.dm->CDir.Count(); ++i) {
    const auto& a = good.dm->CDir[i];
    const auto& b = rebuilt.dm->CDir[i];
    EXPECT_EQ(b.Name, a.Name);
    EXPECT_EQ(b.IsDirectory(), a.Name.back() == '/') << a.Name;  // empty.txt stays a file
    EXPECT_EQ(b.LocalHeaderOffset(), a.LocalHeaderOffset());
    if (!a.IsDirectory()) {
      EXPECT_EQ(b.CentralDir.crc32, a.CentralDir.crc32) << a.Name;
      EXPECT_EQ(b.CompressedSize(), a.CompressedSize()) << a.Name;
      EXPECT_EQ(b.CentralDir.externalAttr, archiver::ZA_ATTR_ARCHIVE);
    }
  }
}

TEST(LoadHostile, LongCommentLeavesNoFindableEndRecord) {
  std::string bytes = Sample();
  const size_t end = EndOffset(bytes);
  bytes.resize(end + 22);
  Put16(bytes, end + 20, 65535);
  bytes += std::string(65535, 'c');
  std::vector<std::string> names;
  EXPECT_EQ(LoadError(bytes, false, &names), -1);  // within the window: found
  EXPECT_EQ(names, kSampleNames);
}

// Random damage: flipped bytes, cut archives. Whatever comes out, it is an
// archiver error or a directory, never a crash.
TEST(LoadHostile, RandomDamageNeverCrashes) {
  std::mt19937 rng(20261207);
  const std::string& base = Sample();
  const size_t cd = FirstCentral(base);
  for (int round = 0; round < 1000; ++round) {
    std::string bytes = base;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) {
      // Mostly in the directory and end record, where the values are read.
      const size_t at = rng() % 3 ? cd + rng() % (bytes.size() - cd) : rng() % bytes.size();
      bytes[at] = static_cast<char>(rng() % 4 ? rng() : (rng() % 2 ? 0xFF : 0x00));
    }
    if (round % 5 == 0) bytes.resize(rng() % bytes.size());
    for (bool corrupted : {false, true}) {
      Owner owner;
      owner.corrupted = corrupted;
      try {
        Loaded l = LoadBytes(bytes, &owner);
        // Loaded or rebuilt, every item lies inside the archive.
        for (int i = 0; i < l.dm->CDir.Count(); ++i)
          EXPECT_LT(l.dm->CDir[i].LocalHeaderOffset(), bytes.size()) << "round " << round;
      } catch (const EZAException&) {
      } catch (const platform::EStreamError&) {
        ADD_FAILURE() << "a stream error escaped at round " << round;
      }
    }
  }
}

}  // namespace
