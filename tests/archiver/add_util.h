// Helpers of the add, move, rename and delete tests: source trees on disk,
// the peers' short listing of an archive (zipinfo), and our own reading of
// an archive reopened from disk.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archiver/ZipArchiver.h"
#include "base_util.h"
#include "commit_util.h"

namespace add_test {

using base_test::Q;
using base_test::ReadBytes;
using base_test::RunCmd;
using base_test::TempDir;
using base_test::WriteBytes;

// Writes `files` (relative path -> bytes) below `root`, making folders.
inline void MakeTree(const std::string& root, const std::map<std::string, std::string>& files) {
  for (const auto& [rel, bytes] : files) {
    const std::filesystem::path p = std::filesystem::path(root) / rel;
    std::filesystem::create_directories(p.parent_path());
    WriteBytes(p.string(), bytes);
  }
}

// One line of zipinfo's short listing.
struct TShortInfo {
  std::string attrs;   // "-rw-a--", "drwx---"
  std::string method;  // "defF", "stor", ...
  uint64_t size = 0;
};

// zipinfo's short listing: name -> attributes, method and size.
inline std::map<std::string, TShortInfo> ZipInfoShort(const std::string& path) {
  std::map<std::string, TShortInfo> out;
  std::istringstream in(RunCmd("zipinfo " + Q(path) + " 2>/dev/null"));
  for (std::string line; std::getline(in, line);) {
    std::istringstream f(line);
    std::string attrs, version, host, size, kind, method, date, time, name;
    if (!(f >> attrs >> version >> host >> size >> kind >> method >> date >> time)) continue;
    if (attrs.size() != 10 && attrs.size() != 7) continue;
    std::getline(f >> std::ws, name);
    out[name] = {attrs, method, std::stoull(size)};
  }
  return out;
}

inline std::vector<std::string> Keys(const std::map<std::string, TShortInfo>& m) {
  std::vector<std::string> k;
  for (const auto& [name, info] : m) k.push_back(name);
  return k;
}

// The item names of the archive's directory, in directory order.
inline std::vector<std::string> DirNames(const archiver::TZABaseArchiver& arc) {
  std::vector<std::string> names;
  const archiver::TZADirArray& dir = arc.DMHandle()->CDir;
  for (int i = 0; i < dir.Count(); ++i) names.push_back(dir[i].Name);
  return names;
}

// Reopens the archive at `path` and reads every file item back.
inline std::map<std::string, std::string> ReadBack(const std::string& path) {
  archiver::TZipArchiver arc;
  arc.SetFileName(path);
  arc.OpenArchive(archiver::ZAModeRead);
  std::map<std::string, std::string> out;
  for (const std::string& name : DirNames(arc)) {
    if (!name.empty() && name.back() == '/') continue;
    std::string text;
    arc.ExtractToString(name, text);
    out[name] = text;
  }
  arc.CloseArchive();
  return out;
}

// A new zip archive at `path`, opened for writing, with no dialogs.
inline void Create(archiver::TZipArchiver& arc, const std::string& path) {
  arc.SetFileName(path);
  arc.OpenArchive(archiver::ZAModeCreate);
}

// An existing archive reopened read-write.
inline void Reopen(archiver::TZipArchiver& arc, const std::string& path) {
  arc.SetFileName(path);
  arc.OpenArchive();
}

inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace add_test
