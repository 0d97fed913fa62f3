// The reader device: an e-book reader attached as removable storage, whose
// books folder "database/media/books" receives LRF exports.
//
// Use from the GUI thread (the test override is process-wide).
#pragma once

#include <string>
#include <vector>

namespace catalogue {

// The folder below a device's root that holds its books.
inline constexpr const char* kReaderBooksSubdir = "database/media/books";

// The roots of the mounted removable volumes, in the order of their mount
// points, each with a trailing '/': volumes on a removable block device or
// mounted under /media/ or /run/media/. Read fresh on each call (devices
// come and go).
std::vector<std::string> removableDrives();

// The books folder of the first removable volume that has one
// (<root>/database/media/books/, with a trailing '/'), or empty.
std::string findReaderBooksDir();

// Makes removableDrives() report `roots` in place of the mounted volumes for
// the scope's lifetime (tests point the search at a fake device this way).
// Scopes nest and restore what was before on destruction.
class TReaderDeviceRootsScope {
 public:
  explicit TReaderDeviceRootsScope(std::vector<std::string> roots);
  ~TReaderDeviceRootsScope();
  TReaderDeviceRootsScope(const TReaderDeviceRootsScope&) = delete;
  TReaderDeviceRootsScope& operator=(const TReaderDeviceRootsScope&) = delete;

 private:
  bool hadRoots_;
  std::vector<std::string> previous_;
};

}  // namespace catalogue
