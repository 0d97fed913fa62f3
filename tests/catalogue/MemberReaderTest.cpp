#include <gtest/gtest.h>

#include <cstdlib>

#include "archiver/ZAExcept.h"
#include "catalogue/MemberReader.h"
#include "platform/Files.h"
#include "tests/catalogue/SampleCatalogue.h"
#include "tests/platform/TempDir.h"

using namespace catalogue;

namespace {

TEST(ReadZipMember, EveryMemberOfTheReferenceCataloguesReadsAsPythonReadsIt) {
  const std::string edge = sample::Collection("edge");
  for (const std::string& dbz :
       {sample::Collection("small") + "ref.dbz", edge + "sub/authors-2500/ref.dbz"}) {
    SCOPED_TRACE(dbz);
    const auto& members = sample::ZipMembers(dbz);
    ASSERT_GE(members.size(), 3u);
    for (const auto& [name, bytes] : members) EXPECT_TRUE(readZipMember(dbz, name) == bytes) << name;
    // The first bytes of a block: its author count, big-endian.
    EXPECT_EQ(readZipMember(dbz, "0.txt", 2), members.at("0.txt").substr(0, 2));
  }
}

TEST(ReadZipMember, RawBytesStoredOrDeflatedFoldersLeftOut) {
  TempDir dir;
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>(i * 7 % 256);  // 0x98 and NUL too
  platform::WriteFileBytes(dir / "bin.dat", binary);
  platform::ForceDirectories(dir / "sub");
  platform::WriteFileBytes(dir / "sub/x.txt", "inner");
  platform::WriteFileBytes(dir / "s.txt", "stored text");
  const std::string zip = dir / "t.zip";
  ASSERT_EQ(std::system(("cd '" + dir.path() + "' && zip -q -9 t.zip bin.dat sub/ sub/x.txt && zip -q -0 t.zip s.txt")
                            .c_str()),
            0);

  EXPECT_TRUE(readZipMember(zip, "bin.dat") == binary);
  EXPECT_EQ(readZipMember(zip, "s.txt"), "stored text");
  EXPECT_EQ(readZipMember(zip, "sub/x.txt"), "inner");
  EXPECT_EQ(readZipMember(zip, "bin.dat", 10), binary.substr(0, 10));
  EXPECT_EQ(readZipMember(zip, "s.txt", 6), "stored");
  EXPECT_EQ(readZipMember(zip, "s.txt", 1000), "stored text");  // shorter than asked: all of it
  EXPECT_EQ(readZipMember(zip, "missing.txt"), "");
  EXPECT_EQ(readZipMember(zip, "sub/"), "");  // a folder is no member

  // No archive, or a file that is none: the archiver's error.
  EXPECT_THROW(readZipMember(dir / "none.zip", "a.txt"), archiver::EZAException);
  EXPECT_ANY_THROW(readZipMember(dir / "bin.dat", "a.txt"));
}

TEST(ReadZipMember, OddButReadableArchivesGiveTheirMembers) {
  const std::string hostile = std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/archiver/hostile/";
  // A member named with DOS backslashes, found by its bare name.
  EXPECT_EQ(readZipMember(hostile + "backslash-names.zip", "123.fb2").substr(0, 13), "<FictionBook>");
  EXPECT_EQ(readZipMember(hostile + "backslash-names.zip", "x.txt"), "inner");
  // A file that its writer marked with the folder attribute.
  EXPECT_EQ(readZipMember(hostile + "folder-attr-with-data.zip", "data"), "payload of a file marked as a folder");
  // A damaged member is an error, never text.
  EXPECT_THROW(readZipMember(hostile + "crc-version-4114.zip", "book.fb2"), archiver::EZAException);
}

TEST(ReadZipMember, AReaderScopeStandsInAndRestores) {
  TempDir dir;
  EXPECT_THROW(ReadMember(dir / "none.zip", "a.txt"), archiver::EZAException);
  {
    TZipMemberReaderScope outer([](const std::string&, const std::string& m, int64_t) { return "outer " + m; });
    {
      TZipMemberReaderScope inner([](const std::string&, const std::string&, int64_t n) {
        return std::to_string(n);
      });
      EXPECT_EQ(ReadMember(dir / "none.zip", "a.txt", 7), "7");
    }
    EXPECT_EQ(ReadMember(dir / "none.zip", "a.txt"), "outer a.txt");
  }
  EXPECT_THROW(ReadMember(dir / "none.zip", "a.txt"), archiver::EZAException);
}

}  // namespace
