// The reasons the user is given for the failures met most: each made by
// the real operation on a damaged or missing input, not by hand.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "archiver/ZAExcept.h"
#include "catalogue/FailureText.h"
#include "catalogue/MemberReader.h"
#include "platform/Files.h"
#include "platform/Streams.h"
#include "tests/catalogue/BookTableFixtures.h"
#include "tests/platform/TempDir.h"
#include "xbase/base/disk_file.h"

using namespace catalogue;

namespace {

const std::string kDamaged = std::string(TOMESHELF_SOURCE_DIR) + "/tests/data/catalogue/";

// The reason for what `fail` raises, given `archive` as the archive worked on.
std::string ReasonOf(const std::function<void()>& fail, const std::string& archive, int* nativeError = nullptr) {
  try {
    fail();
  } catch (const archiver::EZAException& e) {
    if (nativeError) *nativeError = e.NativeError;
    return FailureReason(e, archive);
  } catch (const std::exception& e) {
    return FailureReason(e, archive);
  }
  return "nothing raised";
}

}  // namespace

TEST(FailureReason, TheArchiversCommonFailuresAreToldInRussianWithTheFile) {
  TempDir dir;
  struct Case {
    std::string archive;
    int native;
    std::string reason;
  };
  for (const Case& c : std::initializer_list<Case>{
           {dir / "missing.inpx", 12, "Файл не найден: " + dir / "missing.inpx"},
           {kDamaged + "text-file.dbz", 35, "Файл не является zip-архивом: " + kDamaged + "text-file.dbz"},
           {kDamaged + "flipped-block.dbz", 8, "Данные повреждены: " + kDamaged + "flipped-block.dbz"}}) {
    SCOPED_TRACE(c.archive);
    int native = -1;
    EXPECT_EQ(ReasonOf([&] { ReadMember(c.archive, "0.txt"); }, c.archive, &native), c.reason);
    EXPECT_EQ(native, c.native);
  }
}

TEST(FailureReason, FileErrorsNameTheirOwnFile) {
  TempDir dir;
  const std::string missing = dir / "gone/file.fb2";
  EXPECT_EQ(ReasonOf([&] { platform::TFileStream(missing, platform::fmOpenRead); }, {}),
            "Файл не найден: " + missing);
  EXPECT_EQ(ReasonOf(
                [] {
                  platform::TFileStream full("/dev/full", platform::fmOpenWrite);
                  full.WriteBuffer("x", 1);
                },
                {}),
            "Недостаточно места на диске для записи: /dev/full");
  // A folder that no one may write in, root included.
  EXPECT_EQ(ReasonOf([] { platform::TReplaceFile("/sys/book.fb2"); }, {}), "Нет прав доступа: /sys/");
  // The engine's write to a full disk (a file-size limit here).
  const std::string table = dir / "big.dbf", told = dir / "told.txt";
  EXPECT_EQ(booktable::ExitOfChildWithFileSizeLimit<std::exception>(1000, [&] {
              xbase::XBO_DiskFile file(table, true, false);
              file.xbReWrite();
              const std::string block(4096, 'x');
              platform::WriteFileBytes(told, ReasonOf([&] { file.xbWrite(0, block.data(), 4096); }, {}));
            }),
            2);
  EXPECT_EQ(platform::ReadFileBytes(told), "Недостаточно места на диске для записи: " + table);
}
