// Drives over sysfs, /proc/self/mountinfo and statvfs.
//
// A block device's "removable" flag belongs to the whole disk, so for a
// partition (its sysfs folder has a "partition" file) the flag is read from
// the parent folder.
#include "platform/Drives.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

namespace fs = std::filesystem;

bool DeviceRemovable(const std::string& sysRoot, unsigned maj, unsigned min) {
  std::error_code ec;
  fs::path dev = fs::canonical(sysRoot + "/dev/block/" + std::to_string(maj) + ":" + std::to_string(min), ec);
  if (ec) return false;
  if (fs::exists(dev / "partition", ec)) dev = dev.parent_path();
  std::ifstream f(dev / "removable");
  char flag = 0;
  return f.get(flag) && flag == '1';
}

// Undoes the octal escapes (\040 for a space, \011, \012, \134) of a
// mountinfo field.
std::string UnescapeMountField(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() &&
        std::all_of(s.begin() + i + 1, s.begin() + i + 4, [](char c) { return c >= '0' && c <= '7'; })) {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool UnderMedia(const std::string& mountPoint) {
  return mountPoint.rfind("/media/", 0) == 0 || mountPoint.rfind("/run/media/", 0) == 0;
}

}  // namespace

bool IsRemovablePath(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return DeviceRemovable("/sys", major(st.st_dev), minor(st.st_dev));
}

int64_t FreeSpace(const std::string& path) {
  struct statvfs vfs {};
  if (::statvfs(path.c_str(), &vfs) != 0) return -1;
  return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
}

std::vector<std::string> RemovableMountPoints() {
  std::ifstream f("/proc/self/mountinfo");
  std::stringstream text;
  text << f.rdbuf();
  return RemovableMountPoints(text.str(), "/sys");
}

std::vector<std::string> RemovableMountPoints(const std::string& mountInfo, const std::string& sysRoot) {
  // Line: id parent major:minor root mount-point options ... - fstype source ...
  std::vector<std::string> out;
  std::istringstream lines(mountInfo);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string id, parent, devNo, root, mountPoint;
    if (!(fields >> id >> parent >> devNo >> root >> mountPoint)) continue;
    mountPoint = UnescapeMountField(mountPoint);
    unsigned maj = 0, min = 0;
    char colon = 0;
    std::istringstream dev(devNo);
    bool hasDev = (dev >> maj >> colon >> min) && colon == ':';
    if (UnderMedia(mountPoint) || (hasDev && DeviceRemovable(sysRoot, maj, min))) out.push_back(mountPoint);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace platform
