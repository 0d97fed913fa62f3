#include <gtest/gtest.h>
#include <unistd.h>

#include "TempDir.h"
#include "platform/Clock.h"
#include "platform/Drives.h"
#include "platform/Files.h"

using namespace platform;

TEST(Drives, FreeSpaceAndUnknownPaths) {
  TempDir dir;
  EXPECT_GT(FreeSpace(dir.path()), 0);
  EXPECT_EQ(FreeSpace(dir / "missing"), -1);
  EXPECT_FALSE(IsRemovablePath(dir / "missing"));
  EXPECT_FALSE(IsRemovablePath("/proc"));  // no block device behind it
}

TEST(Drives, RemovableMountPointsFromMountTable) {
  // A fake sysfs: sdb (removable) with partition sdb1, sda (fixed) with sda1.
  TempDir sys;
  for (const char* disk : {"sda", "sdb"}) {
    const std::string d = sys / "devices/pci/block/" + disk;
    ASSERT_TRUE(ForceDirectories(d + "/" + disk + "1"));
    WriteFileBytes(d + "/removable", disk == std::string("sdb") ? "1\n" : "0\n");
    WriteFileBytes(d + "/" + disk + "1/partition", "1\n");
  }
  ASSERT_TRUE(ForceDirectories(sys / "dev/block"));
  ASSERT_EQ(symlink("../../devices/pci/block/sda/sda1", (sys / "dev/block/8:1").c_str()), 0);
  ASSERT_EQ(symlink("../../devices/pci/block/sdb/sdb1", (sys / "dev/block/8:17").c_str()), 0);
  ASSERT_EQ(symlink("../../devices/pci/block/sdb", (sys / "dev/block/8:16").c_str()), 0);

  const std::string mountInfo =
      "27 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
      "40 27 8:17 / /mnt/usb rw - vfat /dev/sdb1 rw\n"
      "41 27 8:16 / /mnt/whole rw - vfat /dev/sdb rw\n"
      "42 27 0:50 / /media/reader/MY\\040DISK rw - fuse.sshfs host: rw\n"
      "43 27 0:51 / /run/media/reader/CARD rw - exfat /dev/mmc rw\n"
      "44 27 8:17 / /mnt/usb rw - vfat /dev/sdb1 rw\n"
      "45 27 0:22 / /sys rw - sysfs sysfs rw\n"
      "garbage line\n";
  EXPECT_EQ(RemovableMountPoints(mountInfo, sys.path()),
            (std::vector<std::string>{"/media/reader/MY DISK", "/mnt/usb", "/mnt/whole", "/run/media/reader/CARD"}));
  RemovableMountPoints();  // the real table parses without harm
}

TEST(Clock, MonotonicAndSleeps) {
  uint64_t t0 = GetTickCount64();
  Sleep(20);
  uint64_t t1 = GetTickCount64();
  EXPECT_GE(t1 - t0, 20u);
}
