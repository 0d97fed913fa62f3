// Helpers of the merge and self-extractor tests: a small tree of
// files with UTF-8 and 866 names archived by each peer (and by us), in the
// peers' odd forms too (data descriptors, zip64 records, a stub in front),
// and zipinfo's view of each entry.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archiver/ZAExcept.h"
#include "archiver/ZipArchiver.h"
#include "commit_util.h"

namespace merge_test {

using base_test::Q;
using base_test::RunCmd;
using base_test::TempDir;

// A shell stub that extracts the archive it heads.
inline const std::string kShellStub = "#!/bin/sh\nexec unzip -o \"$0\" -d \"${1:-.}\"\n";

// The files of a tree below the folder `tag`: name as stored -> bytes
// (folders end in '/' and hold nothing).
inline std::map<std::string, std::string> TreeFiles(const std::string& tag) {
  std::string bin;
  for (int i = 0; i < 7000; ++i) bin += static_cast<char>((i * 7919 + tag.size()) & 0xFF);
  return {{tag + "/", ""},
          {tag + "/a.txt", "hello from " + tag + "\n"},
          {tag + "/книга.txt", commit_test::Text(4000, static_cast<int>(tag.size()))},
          {tag + "/d/", ""},
          {tag + "/d/中文.bin", bin},
          {tag + "/empty.txt", ""}};
}

// The name Python stores in the OEM code page 866 (no UTF-8 flag, DOS
// host), and its bytes.
inline std::string Oem866Name(const std::string& tag) { return tag + "/повесть.txt"; }
inline std::string Oem866Data(const std::string& tag) { return "866 " + tag + "\n"; }

inline void WriteTree(const std::string& root, const std::map<std::string, std::string>& files) {
  for (const auto& [name, data] : files) {
    if (name.back() == '/')
      RunCmd("mkdir -p " + Q(root + "/" + name));
    else
      base_test::WriteBytes(root + "/" + name, data);
  }
}

// How an archive of the tree was made.
enum class TMaker { Python, Zip, ZipFz, ZipPipe, ZipA, CatStub, SevenZip, Ours };

inline std::string MakerName(TMaker m) {
  switch (m) {
    case TMaker::Python: return "python";
    case TMaker::Zip: return "zip";
    case TMaker::ZipFz: return "zip -fz";
    case TMaker::ZipPipe: return "zip to a pipe";
    case TMaker::ZipA: return "zip -A";
    case TMaker::CatStub: return "cat stub archive";
    case TMaker::SevenZip: return "7z";
    case TMaker::Ours: return "ours";
  }
  return "?";
}

inline std::vector<TMaker> AllMakers() {
  return {TMaker::Python, TMaker::Zip,     TMaker::ZipFz,    TMaker::ZipPipe,
          TMaker::ZipA,   TMaker::CatStub, TMaker::SevenZip, TMaker::Ours};
}

// An archive made by `maker` at `path` holding the tree of `tag` (and, from
// Python and us, an item with an 866 name). Returns name -> bytes of what
// it holds (folders included, as empty).
inline std::map<std::string, std::string> MakeArchive(const TempDir& dir, TMaker maker, const std::string& tag,
                                                      const std::string& path) {
  auto files = TreeFiles(tag);
  const std::string src = dir / ("src-" + tag);
  std::filesystem::remove_all(src);
  std::filesystem::remove(path);
  WriteTree(src, files);
  const std::string in = "cd " + Q(src) + " && ";
  const std::string zipped = dir / ("plain-" + tag + ".zip");
  std::filesystem::remove(zipped);
  switch (maker) {
    case TMaker::Python: {
      const std::string script = R"PY(
import os, sys, zipfile
z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)
os.chdir(sys.argv[2])
for r, ds, fs in sorted(os.walk(sys.argv[3])):
    for d in sorted(ds): z.write(os.path.join(r, d))
    for f in sorted(fs): z.write(os.path.join(r, f))
z.write(sys.argv[3])
class OemInfo(zipfile.ZipInfo):
    def _encodeFilenameFlags(self):
        return self.filename.encode('cp866'), self.flag_bits
i = OemInfo(sys.argv[4], (2024, 5, 6, 7, 8, 10))
i.create_system = 0
z.writestr(i, sys.argv[5].encode())
z.close()
)PY";
      records_test::RunPython(dir, script,
                              Q(path) + " " + Q(src) + " " + Q(tag) + " " + Q(Oem866Name(tag)) + " " +
                                  Q(Oem866Data(tag)));
      files[Oem866Name(tag)] = Oem866Data(tag);
      break;
    }
    case TMaker::Zip: RunCmd(in + "zip -qr " + Q(path) + " " + Q(tag)); break;
    case TMaker::ZipFz: RunCmd(in + "zip -qr -fz " + Q(path) + " " + Q(tag)); break;
    case TMaker::ZipPipe: RunCmd(in + "zip -qr - " + Q(tag) + " | cat > " + Q(path)); break;
    case TMaker::ZipA:
    case TMaker::CatStub:
      RunCmd(in + "zip -qr " + Q(zipped) + " " + Q(tag));
      base_test::WriteBytes(path, kShellStub + base_test::ReadBytes(zipped));
      if (maker == TMaker::ZipA) RunCmd("zip -qA " + Q(path));
      break;
    case TMaker::SevenZip: RunCmd(in + load_test::SevenZip() + " a -tzip " + Q(path) + " " + Q(tag) + " >/dev/null"); break;
    case TMaker::Ours: {
      archiver::TZipArchiver arc;
      arc.SetFileName(path);
      arc.OpenArchive(archiver::ZAModeCreate);
      arc.SetBaseDir(src);
      arc.AddFromString(tag + "/", "", 0x10);  // a folder first
      arc.AddFiles(tag + "/*", 0x28BF, "");
      arc.AddFromString(Oem866Name(tag), Oem866Data(tag));
      arc.CloseArchive();
      files[Oem866Name(tag)] = Oem866Data(tag);
      break;
    }
  }
  return files;
}

// zipinfo -v's account of each central entry, by the name it shows, with
// the entry's number, its local-header offset and the gap before it left
// out.
inline std::map<std::string, std::string> ZipInfoEntries(const std::string& path) {
  std::map<std::string, std::string> out;
  // Warnings (a stub in front that the offsets do not count) make zipinfo
  // exit with 1; what it shows is read all the same.
  std::istringstream in(RunCmd("zipinfo -v " + Q(path) + " 2>/dev/null; true"));
  std::string name, text;
  bool inEntry = false, skipNext = false;
  const auto flush = [&] {
    if (inEntry) out[name] = text;
    name.clear();
    text.clear();
  };
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Central directory entry #", 0) == 0) {
      flush();
      inEntry = true;
      continue;
    }
    if (!inEntry || line.rfind("---", 0) == 0) continue;
    if (skipNext) {
      skipNext = false;
      continue;
    }
    // Where the entry lies, and what zipinfo makes of the gap before it,
    // belong to the archive, not to the entry.
    if (line.find("bytes preceding this file") != std::string::npos) continue;
    if (line.find("offset of local header from start of archive") != std::string::npos) {
      skipNext = true;  // and its hexadecimal continuation line
      continue;
    }
    if (name.empty() && line.size() > 2 && line.rfind("  ", 0) == 0) {
      name = line.substr(2);
      continue;
    }
    if (!line.empty()) text += line + "\n";
  }
  flush();
  return out;
}

// Runs `f` in a child process whose files may not grow past `limit` bytes
// (SIGXFSZ ignored: a write past it fails). The native code of the
// archiver's error it raises; 1000 for another exception, -1 when it
// raises none.
inline int NativeErrorPastFileSize(rlim_t limit, const std::function<void()>& f) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit rl{limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    try {
      f();
    } catch (const archiver::EZAException& e) {
      _exit(e.NativeError);
    } catch (const std::exception&) {
      _exit(100);
    }
    _exit(101);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -2;
  const int code = WEXITSTATUS(status);
  return code == 100 ? 1000 : code == 101 ? -1 : code;
}

// Whether `f` raises in a child process whose files may not grow past
// `limit` bytes.
inline bool FailsPastFileSize(rlim_t limit, const std::function<void()>& f) {
  return NativeErrorPastFileSize(limit, f) >= 0;
}

}  // namespace merge_test
