// Helpers of the extraction tests: archives made by the peers at run time,
// an archiver opened on one, the peers' view of it (unzip -p, zipinfo -v),
// and the files a folder holds.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "archiver/ZAFind.h"
#include "archiver/ZipArchiver.h"
#include "base_util.h"

namespace extract_test {

using base_test::Q;
using base_test::ReadBytes;
using base_test::RunCmd;
using base_test::TempDir;
using base_test::WriteBytes;

// Runs a Python script with arguments (already quoted); false when it failed.
inline bool Py(const std::string& script, const std::string& args) {
  return RunCmd("/usr/bin/python3 -c " + Q(script) + " " + args) != "<failed>";
}

// 7-Zip's command-line program, or "" when neither name is installed.
inline std::string SevenZip() {
  if (base_test::HaveTool("7zz")) return "7zz";
  if (base_test::HaveTool("7z")) return "7z";
  return {};
}

// An archiver opened read-only on `path`, extracting into `baseDir`.
inline std::unique_ptr<archiver::TZipArchiver> Open(const std::string& path, const std::string& baseDir = {}) {
  auto arc = std::make_unique<archiver::TZipArchiver>();
  arc->SetFileName(path);
  arc->SetBaseDir(baseDir);
  arc->OpenArchive(archiver::ZAModeRead);
  return arc;
}

// Stored names of the items (folders included), in directory order.
inline std::vector<std::string> Names(archiver::TZipArchiver& arc) {
  std::vector<std::string> out;
  archiver::TZAArchiveItem F;
  for (bool ok = arc.FindFirst("*.*", F, archiver::ZADefaultSearchAttr, ""); ok; ok = arc.FindNext(F))
    out.push_back(F.StoredPath + F.FileName);
  return out;
}

// The DOS date-times zipinfo -v shows, one per central entry in order, as
// "2021 Mar 4 05:06:06".
inline std::vector<std::string> ZipinfoDosTimes(const std::string& zip) {
  std::vector<std::string> out;
  std::istringstream lines(RunCmd("zipinfo -v " + Q(zip)));
  const std::string key = "file last modified on (DOS date/time):";
  for (std::string line; std::getline(lines, line);) {
    const size_t p = line.find(key);
    if (p == std::string::npos) continue;
    std::string value = line.substr(p + key.size());
    value.erase(0, value.find_first_not_of(' '));
    out.push_back(value);
  }
  return out;
}

// A file's modification time in zipinfo's form, read as local time.
inline std::string LocalModTime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "<missing>";
  struct tm lt {};
  ::localtime_r(&st.st_mtime, &lt);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y %b %-d %H:%M:%S", &lt);
  return buf;
}

// Every regular file below `dir`, as paths relative to it, sorted.
inline std::vector<std::string> FilesBelow(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.push_back(std::filesystem::relative(e.path(), dir).string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace extract_test
