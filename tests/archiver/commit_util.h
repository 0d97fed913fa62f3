// Helpers of the commit tests: pending entries set up the way the item
// operations make them, the peers' views of an archive (contents through
// Python, header fields through zipdetails), archives made by the peers
// with non-ASCII names, and sources that fail on purpose.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "archiver/ZipArchiver.h"
#include "base_util.h"
#include "load_util.h"
#include "platform/FileAttributes.h"
#include "platform/Streams.h"
#include "records_util.h"

namespace commit_test {

using archiver::TDirItem;
using archiver::TZABaseArchiver;
using base_test::Q;
using base_test::RunCmd;
using base_test::TempDir;
using load_test::PythonTest;
using load_test::SevenZipTest;
using load_test::UnzipTest;

// A pending entry as the add operations initialise one: new (poAdd) or,
// when the name is there already, replacing that item (poUpdate).
inline TDirItem& AddPendingItem(TZABaseArchiver& arc, const std::string& name, uint32_t attr = 0x20) {
  archiver::TZADirArray& dir = arc.DMHandle()->CDir;
  int index = -1;
  const bool replace = dir.FileExists(name, index) && dir[index].Name == name;
  if (!replace) {
    index = dir.Count();
    dir.SetCount(index + 1);
  }
  TDirItem item;
  item.Name = name;
  item.Modified = true;
  item.Operation = replace ? archiver::poUpdate : archiver::poAdd;
  item.Password = arc.Password();
  const bool folder = (attr & archiver::ZA_ATTR_DIRECTORY) != 0;
  item.CompressionMode = folder ? 0 : static_cast<uint8_t>(arc.CompressionMode());
  item.CompressionMethod = folder ? 0 : arc.CompressionMethod();
  archiver::TZAZipCentralDir& cd = item.CentralDir;
  cd.signature = archiver::ZA_SIG_CENTRAL_DIR;
  cd.compMethod = item.CompressionMethod;
  cd.genPurposeFlag = folder ? 2 : item.Password.empty() ? 0 : archiver::ZA_FLAG_ENCRYPTED;
  cd.lastModDate = (46 << 9) | (3 << 5) | 14;  // 2026-03-14 12:34:56
  cd.lastModTime = (12 << 11) | (34 << 5) | 28;
  cd.crc32 = folder ? 0 : 0xFFFFFFFF;
  cd.externalAttr = attr;
  dir.SetItem(index, item);
  return dir[index];
}

// A pending item holding `data` in a stream it owns.
inline TDirItem& AddPending(TZABaseArchiver& arc, const std::string& name, const std::string& data) {
  TDirItem& item = AddPendingItem(arc, name);
  item.Stream = std::make_shared<platform::TStringStream>(data);
  item.bDestroyStream = true;
  item.CentralDir.unCompSize = static_cast<uint32_t>(data.size());
  return item;
}

// A pending item read from a disk file when the commit runs.
inline TDirItem& AddPendingFile(TZABaseArchiver& arc, const std::string& name, const std::string& path,
                                archiver::TZAProcessOperation op = archiver::poAdd) {
  TDirItem& item = AddPendingItem(arc, name);
  item.SrcFileName = path;
  if (op == archiver::poMove) item.Operation = op;
  return item;
}

inline void RenamePending(TZABaseArchiver& arc, int index, const std::string& name) {
  archiver::TZADirArray& dir = arc.DMHandle()->CDir;
  dir[index].OldName = dir[index].Name;
  dir.SetItemName(index, name);
  dir[index].Modified = true;
  dir[index].Operation = archiver::poRename;
}

inline int IndexOf(TZABaseArchiver& arc, const std::string& name) {
  archiver::TZADirArray& dir = arc.DMHandle()->CDir;
  for (int i = 0; i < dir.Count(); ++i)
    if (dir[i].Name == name) return i;
  return -1;
}

// Text-like data of a given size (compresses well, differs by seed).
inline std::string Text(size_t size, int seed = 0) {
  std::string s;
  for (int i = 0; s.size() < size; ++i) s += "line " + std::to_string(i * 7 + seed) + " книга\n";
  s.resize(size);
  return s;
}

// Names come back in UTF-8: flag bit 11 as UTF-8; without it a name from a
// DOS or Windows host in the OEM code page, any other that is valid UTF-8
// as UTF-8 (Linux tools write that without the flag).
inline const char* kContentsScript = R"PY(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
pw = sys.argv[2].encode() or None
for i in z.infolist():
    raw = i.filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437')
    try:
        if i.create_system in (0, 11, 14) and not i.flag_bits & 0x800:
            raise UnicodeDecodeError('utf-8', raw, 0, 1, 'a DOS name')
        name = raw.decode('utf-8')
    except UnicodeDecodeError:
        name = raw.decode('cp866')
    print(name.encode().hex() + ':' + z.read(i, pwd=pw).hex())
)PY";

// Python's reading of an archive: name -> bytes (hex on the wire), with the
// password when one is given. "<failed>" entries say Python could not read.
inline std::map<std::string, std::string> PythonContents(const std::string& path, const std::string& pwd = "") {
  const std::string out = RunCmd(std::string(records_test::kPython) + " -c " +
                                 Q(kContentsScript) +
                                 " " + Q(path) + " " + Q(pwd) + " 2>&1");
  std::map<std::string, std::string> m;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || line.find_first_not_of("0123456789abcdef:") != std::string::npos)
      return {{"<failed>", out}};
    m[base_test::Unhex(line.substr(0, colon))] = base_test::Unhex(line.substr(colon + 1));
  }
  return m;
}

// A short description of contents (names and sizes), for failure messages.
inline std::string Describe(const std::map<std::string, std::string>& m) {
  std::string out;
  for (const auto& [name, data] : m)
    out += name + " (" + std::to_string(data.size()) + ")" + (name == "<failed>" ? ": " + data : "") + "\n";
  return out;
}

// Python reads exactly `expected` from the archive (compared without
// printing the data itself).
inline void ExpectContents(const std::string& path, const std::map<std::string, std::string>& expected,
                           const std::string& pwd = "") {
  const auto got = PythonContents(path, pwd);
  EXPECT_TRUE(got == expected) << "got:\n" << Describe(got) << "expected:\n" << Describe(expected);
}

// The file holds exactly `bytes` (compared without printing them).
inline void ExpectFileBytes(const std::string& path, const std::string& bytes) {
  const std::string now = base_test::ReadBytes(path);
  size_t at = 0;
  while (at < now.size() && at < bytes.size() && now[at] == bytes[at]) ++at;
  EXPECT_TRUE(now == bytes) << path << ": " << now.size() << " bytes instead of " << bytes.size()
                            << ", first difference at " << at;
}

// All three peers accept the archive.
inline void ExpectPeersAccept(const std::string& path) {
  EXPECT_EQ(UnzipTest(path), "ok\n") << RunCmd("unzip -t " + Q(path) + " 2>&1");
  EXPECT_EQ(SevenZipTest(path), "ok\n") << RunCmd(std::string(load_test::SevenZip()) + " t " + Q(path) + " 2>&1");
  EXPECT_EQ(PythonTest(path), "ok\n");
}

// One record of zipdetails' dump: its title ("LOCAL HEADER #1") and its
// fields in order, as (name, first word of the value).
struct TDetail {
  std::string title;
  std::vector<std::pair<std::string, std::string>> fields;
  std::string Get(const std::string& name, int nth = 0) const {
    for (const auto& [k, v] : fields)
      if (k == name && nth-- == 0) return v;
    return {};
  }
  // The IDs of the extra fields, in order.
  std::vector<std::string> ExtraIds() const {
    std::vector<std::string> ids;
    for (const auto& [k, v] : fields)
      if (k.rfind("Extra ID #", 0) == 0) ids.push_back(v);
    return ids;
  }
};

inline std::vector<TDetail> ZipDetails(const std::string& path) {
  std::vector<TDetail> out;
  std::istringstream in(RunCmd("zipdetails " + Q(path) + " 2>&1"));
  for (std::string line; std::getline(in, line);) {
    const size_t sp = line.find(' ');
    if (sp == std::string::npos || sp == 0 || line.find_first_not_of("0123456789ABCDEF") != sp) continue;
    std::string rest = line.substr(sp);
    const size_t keyStart = rest.find_first_not_of(' ');
    const size_t gap = rest.find("  ", keyStart);
    if (keyStart == std::string::npos || gap == std::string::npos) continue;
    const std::string key = rest.substr(keyStart, gap - keyStart);
    std::string value = rest.substr(rest.find_first_not_of(' ', gap));
    value = value.substr(0, value.find(' '));
    if (key.find("HEADER #") != std::string::npos || key.find("END CENTRAL") != std::string::npos) {
      out.push_back({key, {}});
      continue;
    }
    if (!out.empty()) out.back().fields.emplace_back(key, value);
  }
  return out;
}

// The records of zipdetails whose title starts with `kind` ("LOCAL HEADER",
// "CENTRAL HEADER"), keyed by file name.
inline std::map<std::string, TDetail> DetailsByName(const std::vector<TDetail>& all, const std::string& kind) {
  std::map<std::string, TDetail> m;
  for (const TDetail& d : all)
    if (d.title.rfind(kind, 0) == 0) {
      std::string name = d.Get("Filename");
      if (name.size() >= 2 && name.front() == '\'') name = name.substr(1, name.size() - 2);
      m[name] = d;
    }
  return m;
}

// A source that yields `good` bytes and then fails: short reads (the size
// it claims is not there) or, with `raise`, an I/O error.
class TFailingStream : public platform::TStringStream {
 public:
  TFailingStream(std::string data, int64_t good, bool raise = false)
      : platform::TStringStream(std::move(data)), good_(good), raise_(raise) {}
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t pos = Position();
    if (pos + count > good_) {
      if (raise_) throw platform::EStreamError("Read error (injected)");
      count = std::max<int64_t>(good_ - pos, 0);
    }
    return platform::TStringStream::Read(buffer, count);
  }
  // Lets every later read through (a retry that works).
  void Heal() { good_ = INT64_MAX; }

 private:
  int64_t good_;
  bool raise_;
};

// The peers' archives of one sample tree, each with non-ASCII names: made by
// Python's zipfile, Info-ZIP zip, zip -fz (zip64 records) and 7-Zip.
struct TPeerArchive {
  std::string maker;
  std::string path;
};

inline std::vector<TPeerArchive> MakePeerArchives(const TempDir& dir) {
  std::vector<TPeerArchive> out;
  const std::string py = std::string(records_test::kPython) +
                         " -c \"import zipfile,os\n"
                         "z=zipfile.ZipFile({},'w',zipfile.ZIP_DEFLATED)\n"
                         "for r,ds,fs in sorted(os.walk('.')):\n"
                         "  for d in sorted(ds): z.write(os.path.join(r,d)[2:])\n"
                         "  for f in sorted(fs): z.write(os.path.join(r,f)[2:])\n"
                         "z.close()\"";
  out.push_back({"python", load_test::MakePeerArchive(dir, "py.zip", py)});
  out.push_back({"zip", load_test::MakePeerArchive(dir, "iz.zip", "zip -qr {} .")});
  out.push_back({"zip -fz", load_test::MakePeerArchive(dir, "fz.zip", "zip -qr -fz {} .")});
  out.push_back({"7z", load_test::MakePeerArchive(dir, "7z.zip", std::string(load_test::SevenZip()) + " a -tzip {} .")});
  return out;
}

}  // namespace commit_test
