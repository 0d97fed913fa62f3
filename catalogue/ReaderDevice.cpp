#include "catalogue/ReaderDevice.h"

#include <optional>
#include <utility>

#include "platform/Drives.h"
#include "platform/Files.h"

namespace catalogue {

namespace {

std::optional<std::vector<std::string>>& InjectedRoots() {
  static std::optional<std::vector<std::string>> roots;
  return roots;
}

}  // namespace

std::vector<std::string> removableDrives() {
  std::vector<std::string> roots =
      InjectedRoots() ? *InjectedRoots() : platform::RemovableMountPoints();
  for (std::string& root : roots) root = platform::IncludeTrailingPathDelimiter(root);
  return roots;
}

std::string findReaderBooksDir() {
  for (const std::string& root : removableDrives()) {
    const std::string books = platform::JoinPath(root, kReaderBooksSubdir);
    if (platform::DirectoryExists(books)) return platform::IncludeTrailingPathDelimiter(books);
  }
  return {};
}

TReaderDeviceRootsScope::TReaderDeviceRootsScope(std::vector<std::string> roots)
    : hadRoots_(InjectedRoots().has_value()),
      previous_(hadRoots_ ? std::move(*InjectedRoots()) : std::vector<std::string>{}) {
  InjectedRoots() = std::move(roots);
}

TReaderDeviceRootsScope::~TReaderDeviceRootsScope() {
  if (hadRoots_)
    InjectedRoots() = std::move(previous_);
  else
    InjectedRoots().reset();
}

}  // namespace catalogue
