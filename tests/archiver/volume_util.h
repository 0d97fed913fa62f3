// Helpers of the volume-set tests: simulated media (free space, removable
// disks as folders), sets written with pending items, the files of a set,
// and a peer's check that no header or central entry is cut between
// volumes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archiver/ZAExcept.h"
#include "archiver/ZipArchiver.h"
#include "base_util.h"
#include "commit_util.h"
#include "load_util.h"
#include "records_util.h"

namespace volume_test {

using archiver::TZipArchiver;
using base_test::NativeErrorOf;
using base_test::Q;
using base_test::RunCmd;
using base_test::TempDir;

// Media as a test wants them: free space by a function of the path (none:
// unknown), removable or not, floppy or not.
class TFakeMedia : public archiver::TZAMediaInfo {
 public:
  std::function<int64_t(const std::string& path)> free;
  bool removable = false;
  bool floppy = false;
  int64_t FreeSpace(const std::string& path) const override { return free ? free(path) : -1; }
  bool IsRemovable(const std::string&) const override { return removable; }
  bool IsFloppy(const std::string&) const override { return floppy; }
};

// Bytes in the files directly in the folder of `path`.
inline int64_t UsedInFolder(const std::string& path) {
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  int64_t used = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec))
    if (e.is_regular_file()) used += static_cast<int64_t>(e.file_size());
  return used;
}

// Data that does not compress: deterministic pseudo-random bytes.
inline std::string Noise(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

// Items of a test set: name -> bytes.
using TItems = std::map<std::string, std::string>;

// Some items of mixed size, noise and text, with long names in places (so
// that central entries are large and cross volume ends).
inline TItems SampleItems(int count = 12, size_t big = 70000) {
  TItems items;
  for (int i = 0; i < count; ++i) {
    std::string name = "dir" + std::to_string(i % 3) + "/item" + std::to_string(i);
    if (i % 4 == 1) name += "_" + std::string(120, static_cast<char>('a' + i % 26));
    name += ".bin";
    const size_t size =
        i % 3 == 0 ? big + static_cast<size_t>(i) * 997 : static_cast<size_t>(i) * 1531 + 7;
    items[name] = i % 2 ? commit_test::Text(size, i) : Noise(size, static_cast<uint32_t>(i + 1));
  }
  return items;
}

// Makes `arc` write a split set at `path` with volumes of `size` bytes.
inline void SplitInto(TZipArchiver& arc, const std::string& path, int64_t size) {
  arc.SetFileName(path);
  arc.SetSpanningMode(archiver::smSplitting);
  arc.SpanningOptions().SetVolumeSize(archiver::vsCustom);
  arc.SpanningOptions().SetCustomVolumeSize(size);
}

// Creates a volume set at arc's FileName (the caller set the mode and
// options) holding `items`, written in one transaction.
inline void WriteSet(TZipArchiver& arc, const TItems& items) {
  arc.OpenArchive(archiver::ZAModeCreate);
  arc.BeginUpdate();
  for (const auto& [name, data] : items) commit_test::AddPending(arc, name, data);
  arc.EndUpdate();
  arc.CloseArchive();
  ASSERT_EQ(arc.LastCloseError(), "");
}

// The regular files of a folder, by name.
inline std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.is_regular_file()) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

inline int64_t FileSize(const std::string& path) {
  return static_cast<int64_t>(std::filesystem::file_size(path));
}

// What our archiver reads from the archive `path`: every item's bytes.
inline TItems OurContents(const std::string& path, archiver::TZipArchiver* setup = nullptr) {
  TZipArchiver own;
  TZipArchiver& arc = setup ? *setup : own;
  arc.SetFileName(path);
  arc.OpenArchive(archiver::ZAModeRead);
  TItems out;
  archiver::TZADirArray& dir = arc.DMHandle()->CDir;
  for (int i = 0; i < dir.Count(); ++i) {
    if (dir[i].IsDirectory()) continue;
    std::string text;
    arc.ExtractToString(dir[i].Name, text);
    out[dir[i].Name] = text;
  }
  arc.CloseArchive();
  return out;
}

// A split set joined into one archive by Info-ZIP (zip -s 0), which reads
// every volume through the set's records.
inline std::string JoinWithInfoZip(const TempDir& dir, const std::string& lastVolume) {
  const std::string joined = dir / "joined.zip";
  std::filesystem::remove(joined);
  RunCmd("cd " + Q(dir.Path()) + " && zip -q -s 0 " + Q(lastVolume) + " --out " + Q(joined) +
         " 2>&1");
  return joined;
}

// A peer's walk over a split set (volumes given in order): "ok" when every
// local header and central entry lies whole within one volume and the
// directory's records agree with the volumes; else what is wrong.
inline const char* kWholeRecordsScript = R"PY(
import struct, sys
def fail(msg):
    print(msg)
    sys.exit(0)
vols = [open(p, 'rb').read() for p in sys.argv[1:]]
last = vols[-1]
i = last.rfind(b'PK\x05\x06')
sig, disk, start_disk, on_disk, total, size, offset, clen = struct.unpack('<4s4H2LH', last[i:i+22])
if disk != len(vols) - 1: fail('end record names volume %d of %d' % (disk, len(vols)))
v, pos = start_disk, offset
for n in range(total):
    if pos == len(vols[v]): v, pos = v + 1, 0
    rec = vols[v][pos:pos+46]
    if len(rec) < 46 or rec[:4] != b'PK\x01\x02': fail('entry %d cut or missing at volume %d' % (n, v))
    nl, el, cl, ldisk = struct.unpack('<4H', rec[28:36])
    loff = struct.unpack('<L', rec[42:46])[0]
    if pos + 46 + nl + el + cl > len(vols[v]): fail('entry %d cut at the end of volume %d' % (n, v))
    lh = vols[ldisk][loff:loff+30]
    if len(lh) < 30 or lh[:4] != b'PK\x03\x04': fail('local header of entry %d not where it says' % n)
    lnl, lel = struct.unpack('<2H', lh[26:30])
    if loff + 30 + lnl + lel > len(vols[ldisk]): fail('local header of entry %d cut' % n)
    pos += 46 + nl + el + cl
print('ok')
)PY";

inline std::string WholeRecords(const std::vector<std::string>& volumes) {
  std::string args;
  for (const std::string& v : volumes) args += " " + Q(v);
  return RunCmd(std::string(records_test::kPython) + " -c " + Q(kWholeRecordsScript) + args +
                " 2>&1");
}

// The files of a split set at `folder` + base, in volume order.
inline std::vector<std::string> SplitVolumes(const std::string& folder, const std::string& base,
                                             const std::string& partExt,
                                             const std::string& lastExt) {
  std::vector<std::string> out;
  for (int n = 1;; ++n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", n);
    const std::string part = folder + base + partExt + buf;
    if (!std::filesystem::exists(part)) break;
    out.push_back(part);
  }
  out.push_back(folder + base + lastExt);
  return out;
}

}  // namespace volume_test
