// NDX files as files: damaged ones refused, the index lock's bytes per
// protocol, pages of a scrambled table, and the files read by a peer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/IndexTable.h"
#include "tests/xbase/NdxReader.h"
#include "xbase/base/scrambling.h"
#include "xbase/index/ndx_format.h"

using namespace xbase;
using namespace xbtest;

namespace {

const std::string kData = std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/ndx/";

using Keys = std::vector<std::pair<std::string, int>>;

}  // namespace

TEST(NdxFile, DamagedFilesRaiseCorruptedAndNothingWorse) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf", 10);
  const char* damaged[] = {"cycle.ndx",          "count-past-max.ndx",        "entry-length-0.ndx",
                           "entry-length-600.ndx", "key-longer-than-entry.ndx", "max-keys-0.ndx",
                           "root-outside.ndx",   "root-is-header.ndx",        "truncated-page.ndx",
                           "child-past-end.ndx", "node-without-last-child.ndx"};
  for (const char* name : damaged) {
    const std::string path = dir / name;
    platform::WriteFileBytes(path, platform::ReadFileBytes(kData + name));
    const std::string error = ErrorOf([&] {
      XBobjNDXFile ndx(&table, path, false, false, false, false);
      Walk(*ndx.Tag());
      Walk(*ndx.Tag(), false);
    });
    EXPECT_EQ(error, "Index file " + path + " is corrupted") << name;
  }
  const std::string sound = dir / "sound.ndx";
  platform::WriteFileBytes(sound, platform::ReadFileBytes(kData + "sound-two-keys.ndx"));
  XBobjNDXFile ndx(&table, sound, false, false, false, false);
  EXPECT_EQ(Walk(*ndx.Tag()), (Keys{{"A", 1}, {"B", 2}}));
}

TEST(NdxFile, TheIndexLockTakesTheProtocolsBytes) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf");
  XBobjNDXFile(&table, "t", true, false, true, true).AddTag("T", "NA", "", true, false);
  const std::string path = dir / "t.ndx";
  struct Case {
    XBsetLokProtocol protocol;
    int64_t pos, len;
  } cases[] = {{XBsetLokProtocol::Default, 0x7FFFFFFE, 1},
               {XBsetLokProtocol::FoxLock, 0x7FFFFFFE, 1},
               {XBsetLokProtocol::DB4Lock, 0xEFFFFFFE, 2},
               {XBsetLokProtocol::ClipLock, 1000000000, 1}};
  for (const Case& c : cases) {
    XBobjNDXFile ndx(&table, path, true, true, false, false);
    ndx.ixSetLockProtocol(c.protocol);
    // Around the range, a few bytes to either side.
    const auto seen = [&] { return LockSeenAt(path, c.pos - 8, c.len + 16); };
    EXPECT_EQ(seen(), "");
    ASSERT_TRUE(ndx.Tag()->LockOwner());
    ASSERT_TRUE(ndx.IndexLock());  // counted: two holds, one range
    EXPECT_EQ(seen(), std::to_string(c.pos) + "+" + std::to_string(c.len));
    ndx.IndexUnlock();
    EXPECT_NE(seen(), "");
    ndx.IndexUnlock();
    EXPECT_EQ(seen(), "");
  }
  // An exclusive file takes no lock at all.
  XBobjNDXFile own(&table, path, true, false, false, false);
  EXPECT_TRUE(own.IndexLock());
  EXPECT_EQ(own.DiskFile()->LockCount(), 0);
}

TEST(NdxFile, PagesOfAScrambledTableAreScrambledPer512Bytes) {
  TempDir dir;
  std::string plain, scrambled;
  for (const char* password : {"", "Secret"}) {
    TIndexTable table(dir / "t.dbf");
    table.PasswordIn = table.PasswordOut = password;
    auto ndx = std::make_unique<XBobjNDXFile>(&table, "t", true, false, true, true);
    ASSERT_TRUE(ndx->AddTag("T", "NA", "", true, false));
    for (int i = 0; i < 200; ++i) AddText(*ndx->Tag(), "NAME" + std::to_string(i * 7 % 200), i + 1);
    ndx.reset();
    (*password ? scrambled : plain) = platform::ReadFileBytes(dir / "t.ndx");
    if (*password) {
      ndx = std::make_unique<XBobjNDXFile>(&table, "t", true, false, false, false);
      EXPECT_EQ(Walk(*ndx->Tag()).size(), 200u);
    }
  }
  ASSERT_EQ(plain.size(), scrambled.size());
  ASSERT_GT(plain.size(), 2048u);
  for (size_t at = 0; at < plain.size(); at += 512) {
    std::string block = plain.substr(at, 512);
    CryptBuffer("Secret", block.data(), block.data(), block.size(), true);
    EXPECT_TRUE(block == scrambled.substr(at, 512)) << "block " << at / 512;
  }
}

TEST(NdxPeer, IndexDumpListsTreesGrownByAdds) {
  // Text keys of 120 bytes (3 a page) and numbers (25 a page), several
  // levels deep, with equal keys.
  struct Case {
    const char* name;
    const char* expr;
    int count, modulo, depth;
  } cases[] = {{"t", "NA", 400, 250, 5}, {"n", "AU", 3000, 1000, 3}};
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expr);
    TIndexTable table(dir / (std::string(c.name) + ".dbf"));
    XBobjNDXFile ndx(&table, c.name, true, false, true, true);
    ASSERT_TRUE(ndx.AddTag("T", c.expr, "", true, false));
    for (int i = 0; i < c.count; ++i) {
      const int v = i * 7919 % c.modulo;
      if (*c.expr == 'N') {
        AddText(*ndx.Tag(), "AUTHOR " + std::to_string(v), i + 1);
      } else {
        AddNumber(*ndx.Tag(), v, i + 1);
      }
    }
    const Keys ours = Walk(*ndx.Tag());
    ndx.CloseFile();
    const std::string path = dir / (std::string(c.name) + ".ndx");
    RawNdx raw(path);
    raw.Walk();
    EXPECT_GE(raw.depth, c.depth);
    EXPECT_EQ(PeerListing(path), ours);
  }
}

TEST(NdxFile, NamesAndRenameKeepTheExtension) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf");
  XBobjNDXFile ndx(&table, "Authors", true, false, true, true);
  ASSERT_TRUE(ndx.AddTag("ignored", "NA", "", true, false));
  AddText(*ndx.Tag(), "SMITH", 1);
  EXPECT_EQ(ndx.TagByName("authors"), ndx.Tag());  // an NDX tag is named after its file
  EXPECT_EQ(ndx.TagByName("T"), nullptr);
  EXPECT_TRUE(ndx.IsFileName("/elsewhere/AUTHORS.NDX"));
  EXPECT_EQ(ndx.KeyByName("na", false), ndx.Tag());

  ASSERT_TRUE(ndx.Rename("Writers.idx"));
  EXPECT_EQ(ndx.IndexName(), "Writers.ndx");
  EXPECT_FALSE(platform::FileExists(dir / "Authors.ndx"));
  AddText(*ndx.Tag(), "JONES", 2);
  ndx.CloseFile();
  XBobjNDXFile again(&table, "Writers", true, false, false, false);
  EXPECT_EQ(Walk(*again.Tag()), (Keys{{"JONES", 2}, {"SMITH", 1}}));
}

TEST(NdxFile, ZapAndReindexOfASharedFileLockItWhole) {
  TempDir dir;
  TIndexTable table(dir / "t.dbf");
  for (int i = 0; i < 60; ++i) table.Records.push_back({"N" + std::to_string(i)});
  XBobjNDXFile(&table, "t", true, false, true, true).AddTag("T", "NA", "", true, false);
  const std::string path = dir / "t.ndx";
  const std::string built = platform::ReadFileBytes(path);
  // Another program's lock on `pos`, `len` while `body` runs.
  const auto whileLocked = [&](int64_t pos, int64_t len, const std::function<void()>& body) {
    struct flock fl;
    const int fd = LockProbe(path, pos, len, F_OFD_SETLK, fl);
    body();
    ::close(fd);
  };
  for (XBsetLokProtocol protocol : {XBsetLokProtocol::Default, XBsetLokProtocol::DB4Lock}) {
    XBobjNDXFile ndx(&table, path, true, true, false, false);
    ndx.ixSetLockProtocol(protocol);
    ndx.DiskFile()->SetXBwrdAccessMSecDelay(1);
    ndx.DiskFile()->SetXBwrdAccessMiliSeconds(20);
    const std::string refused = "Can not Lock file " + path;
    whileLocked(100, 1, [&] { EXPECT_EQ(ErrorOf([&] { ndx.Reindex(); }), refused); });
    if (protocol == XBsetLokProtocol::DB4Lock)
      whileLocked(0xEFFFFFFE, 2, [&] { EXPECT_EQ(ErrorOf([&] { ndx.Zap(); }), refused); });
    EXPECT_TRUE(platform::ReadFileBytes(path) == built);
    ndx.Zap();
    EXPECT_EQ(platform::ReadFileBytes(path).size(), 1024u);
    ndx.Reindex();
    EXPECT_TRUE(platform::ReadFileBytes(path) == built);
    EXPECT_EQ(LockSeenAt(path, 0, 0x7FFFFFFF), "");  // all released
    EXPECT_EQ(LockSeenAt(path, 0xEFFFFFFE, 2), "");
  }
}
