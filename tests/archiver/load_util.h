// Helpers of the loading, saving and opening tests: archives made by the
// peers in a temporary folder, zipinfo's view of an archive, and a directory
// manager loaded over a file or over bytes.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "archiver/ZADirectory.h"
#include "base_util.h"
#include "platform/Streams.h"
#include "records_util.h"

namespace load_test {

using base_test::Q;
using base_test::RunCmd;
using base_test::TempDir;

// The owner options a test varies.
class Owner : public archiver::TZADirOwner {
 public:
  bool corrupted = false;
  bool oem = true;
  bool zip = true;
  bool isZIPFormat() const override { return zip; }
  bool OpenCorruptedArchives() const override { return corrupted; }
  bool OEMFileNames() const override { return oem; }
};

// A manager with the stream it reads.
struct Loaded {
  std::unique_ptr<platform::TStream> stream;
  std::unique_ptr<archiver::TZADirManager> dm;
  // Item names in directory order.
  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (int i = 0; i < dm->CDir.Count(); ++i) out.push_back(dm->CDir[i].Name);
    return out;
  }
};

inline Loaded LoadBytes(const std::string& bytes, archiver::TZADirOwner* owner) {
  Loaded l;
  l.stream = std::make_unique<platform::TStringStream>(bytes);
  l.dm = std::make_unique<archiver::TZADirManager>(l.stream.get(), false, owner);
  l.dm->LoadDir();
  return l;
}

inline Loaded LoadFile(const std::string& path, archiver::TZADirOwner* owner, bool write = false) {
  Loaded l;
  l.stream = std::make_unique<platform::TFileStream>(
      path, write ? platform::fmOpenReadWrite | platform::fmShareDenyWrite
                  : platform::fmOpenRead | platform::fmShareDenyNone);
  l.dm = std::make_unique<archiver::TZADirManager>(l.stream.get(), false, owner);
  l.dm->LoadDir();
  return l;
}

// The sample tree every peer archives: ASCII, Cyrillic and CJK names, an
// empty file and a folder. Names as stored (folders end in '/').
inline const std::vector<std::string>& SampleNames() {
  static const std::vector<std::string> names = {
      "a.txt", "empty.txt", "d/", "d/список.txt", "d/中文名.txt", "d/e/", "d/e/deep.bin"};
  return names;
}

inline void MakeSampleTree(const TempDir& dir, const std::string& sub) {
  const std::string root = dir / sub;
  RunCmd("mkdir -p " + Q(root + "/d/e"));
  base_test::WriteBytes(root + "/a.txt", "hello, archive\n");
  base_test::WriteBytes(root + "/empty.txt", "");
  base_test::WriteBytes(root + "/d/список.txt", std::string(3000, 'x') + "тест");
  base_test::WriteBytes(root + "/d/中文名.txt", "中文内容");
  std::string bin;
  for (int i = 0; i < 5000; ++i) bin += static_cast<char>((i * 7919) & 0xFF);
  base_test::WriteBytes(root + "/d/e/deep.bin", bin);
}

// Archives the sample tree with a shell command run inside the tree; "{}" in
// `cmd` stands for the archive's path (appended when absent).
inline std::string MakePeerArchive(const TempDir& dir, const std::string& name, std::string cmd) {
  MakeSampleTree(dir, name + ".src");
  const std::string path = dir / name;
  const size_t at = cmd.find("{}");
  if (at == std::string::npos)
    cmd += " " + Q(path);
  else
    cmd.replace(at, 2, Q(path));
  RunCmd("cd " + Q(dir / (name + ".src")) + " && (" + cmd + ") >/dev/null 2>&1");
  return path;
}

inline const char* SevenZip() {
  static const char* tool = base_test::HaveTool("7zz") ? "7zz" : "7z";
  return tool;
}

// One central entry as zipinfo -v shows it.
struct InfoEntry {
  uint64_t offset = 0, csize = 0, usize = 0;
  uint32_t crc = 0;
  bool operator==(const InfoEntry&) const = default;
};

inline std::vector<InfoEntry> ZipInfo(const std::string& path) {
  std::vector<InfoEntry> out;
  std::istringstream in(RunCmd("zipinfo -v " + Q(path) + " 2>/dev/null"));
  auto value = [](const std::string& line) {
    const size_t colon = line.find(':');
    return line.substr(colon + 1);
  };
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Central directory entry #", 0) == 0) out.emplace_back();
    if (out.empty()) continue;
    if (line.find("offset of local header from start of archive:") != std::string::npos)
      out.back().offset = std::stoull(value(line));
    else if (line.find("  compressed size:") == 0)
      out.back().csize = std::stoull(value(line));
    else if (line.find("  uncompressed size:") == 0)
      out.back().usize = std::stoull(value(line));
    else if (line.find("32-bit CRC value (hex):") != std::string::npos)
      out.back().crc = static_cast<uint32_t>(std::stoul(value(line), nullptr, 16));
  }
  return out;
}

inline std::vector<InfoEntry> OurInfo(const archiver::TZADirManager& dm) {
  std::vector<InfoEntry> out;
  for (int i = 0; i < dm.CDir.Count(); ++i) {
    const archiver::TDirItem& item = dm.CDir[i];
    out.push_back({item.LocalHeaderOffset(), item.CompressedSize(), item.UncompressedSize(),
                   item.CentralDir.crc32});
  }
  return out;
}

inline std::set<std::string> AsSet(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }

// Peers' verdicts on an archive: "ok" from each, or what failed.
inline std::string UnzipTest(const std::string& path) {
  return RunCmd("unzip -tq " + Q(path) + " >/dev/null 2>&1 && echo ok");
}
inline std::string SevenZipTest(const std::string& path) {
  return RunCmd(std::string(SevenZip()) + " t " + Q(path) + " >/dev/null 2>&1 && echo ok");
}
inline std::string PythonTest(const std::string& path) {
  return RunCmd(std::string(records_test::kPython) + " -c " +
                Q("import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1])\n"
                  "print('ok' if z.testzip() is None else 'bad')") +
                " " + Q(path) + " 2>&1");
}
// Python's names of an archive, one per line, in directory order.
inline std::vector<std::string> PythonNames(const std::string& path) {
  return records_test::Lines(RunCmd(std::string(records_test::kPython) + " -c " +
                                    Q("import zipfile,sys\nfor n in zipfile.ZipFile(sys.argv[1]).namelist(): print(n)") +
                                    " " + Q(path) + " 2>&1"));
}

// Archives of many entries made once per test binary by Python's zipfile:
// 65,535 entries (a plain end record whose count is 0xFFFF) and 70,000
// (zip64 end records). Entries are "f<5 digits>.txt" holding their number.
struct BigArchives {
  TempDir dir;
  std::string n65535, n70000;
  static const BigArchives& Get() {
    // Deleted (with its folder) at exit.
    static const std::unique_ptr<BigArchives> big = [] {
      auto b = std::make_unique<BigArchives>();
      const char* script = R"PY(
import sys, zipfile
for path, n in ((sys.argv[1], 65535), (sys.argv[2], 70000)):
    with zipfile.ZipFile(path, 'w') as z:
        for i in range(n):
            z.writestr('f%05d.txt' % i, str(i))
)PY";
      b->n65535 = b->dir / "n65535.zip";
      b->n70000 = b->dir / "n70000.zip";
      base_test::WriteBytes(b->dir / "big.py", script);
      RunCmd(std::string(records_test::kPython) + " " + Q(b->dir / "big.py") + " " + Q(b->n65535) +
             " " + Q(b->n70000));
      return b;
    }();
    return *big;
  }
};

}  // namespace load_test
