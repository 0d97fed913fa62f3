// Drives: whether a path lies on removable media, free space, and the
// mounted removable volumes. Everything is read fresh from the system on
// each call (media come and go); thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// True when the block device holding `path` reports itself removable in
// sysfs; false when it does not or cannot be told (a missing path, a
// network or virtual file system).
bool IsRemovablePath(const std::string& path);
// Bytes available to the user on the file system holding `path`; -1 on error.
int64_t FreeSpace(const std::string& path);
// Mount points of the volumes on a removable block device or mounted under
// /media/ or /run/media/, sorted, each once.
std::vector<std::string> RemovableMountPoints();
// The same, from a /proc/self/mountinfo text and a sysfs root ("/sys") that
// the caller supplies (tests).
std::vector<std::string> RemovableMountPoints(const std::string& mountInfo, const std::string& sysRoot);

}  // namespace platform
