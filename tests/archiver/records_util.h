// Helpers of the zip-record tests: an independent dump of an archive's end
// records and central directory made by Python (struct for the raw fields,
// zipfile for the resolved zip64 values), and the same dump made with our
// record readers only, line for line in the same format.
#pragma once

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "archiver/ZADirectory.h"
#include "archiver/ZARecords.h"
#include "base_util.h"
#include "platform/Streams.h"

namespace records_test {

using base_test::Q;
using base_test::RunCmd;

inline const char* kPython = "/usr/bin/python3";

inline std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

inline std::string Hex(const std::vector<uint8_t>& bytes) {
  return Hex(std::string(bytes.begin(), bytes.end()));
}

// Runs a Python script with arguments; returns its output or "<failed>".
inline std::string RunPython(const base_test::TempDir& dir, const std::string& script,
                             const std::string& args) {
  const std::string path = dir / "script.py";
  base_test::WriteBytes(path, script);
  return RunCmd(std::string(kPython) + " " + Q(path) + " " + args + " 2>&1");
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

// The dump made by Python. The first block parses the bytes with struct
// only; the ZF lines come from zipfile's own reader.
inline const char* kDumpScript = R"PY(
import struct, sys, zipfile
data = open(sys.argv[1], 'rb').read()
i = data.rfind(b'PK\x05\x06')
sig, disk, sdisk, eod, ecd, cdsize, cdoff, clen = struct.unpack('<IHHHHIIH', data[i:i+22])
print('END off=%d disk=%d sdisk=%d eod=%d ecd=%d size=%d cdoff=%d clen=%d comment=%s' %
      (i, disk, sdisk, eod, ecd, cdsize, cdoff, clen, data[i+22:i+22+clen].hex()))
start, count = cdoff, ecd
if i >= 20 and data[i-20:i-16] == b'PK\x06\x07':
    s, d, off, tot = struct.unpack('<IIQI', data[i-20:i])
    print('LOC sdisk=%d off=%d total=%d' % (d, off, tot))
    z = struct.unpack('<IQHHIIQQQQ', data[off:off+56])
    print('Z64END size=%d vmb=%d vne=%d disk=%d sdisk=%d eod=%d ecd=%d cdsize=%d cdoff=%d' % z[1:])
    start, count = z[9], z[7]
pos = start
for k in range(count):
    f = struct.unpack('<IHHHHHHIIIHHHHHII', data[pos:pos+46])
    n, x, c = f[10], f[11], f[12]
    name = data[pos+46:pos+46+n]
    extra = data[pos+46+n:pos+46+n+x]
    comment = data[pos+46+n+x:pos+46+n+x+c]
    print('CEN sig=%x vmb=%d ver=%d flag=%d meth=%d time=%d date=%d crc=%d csize=%d usize=%d '
          'nlen=%d xlen=%d clen=%d disk=%d iattr=%d eattr=%d off=%d' % f +
          ' name=%s extra=%s comment=%s' % (name.hex(), extra.hex(), comment.hex()))
    pos += 46 + n + x + c
with zipfile.ZipFile(sys.argv[1]) as zf:
    for zi in zf.infolist():
        raw = zi.orig_filename.encode('utf-8' if zi.flag_bits & 0x800 else 'cp437')
        print('ZF name=%s off=%d csize=%d usize=%d crc=%d' %
              (raw.hex(), zi.header_offset, zi.compress_size, zi.file_size, zi.CRC))
    if len(sys.argv) > 2:
        bad = zf.testzip()
        print('TEST', 'ok' if bad is None else 'bad ' + bad)
)PY";

// The same dump with our readers: end-record search, zip64 locator and end
// record, then every central entry read with the record reader.
inline std::vector<std::string> OurDump(const std::string& path) {
  std::vector<std::string> out;
  platform::TFileStream s(path, platform::fmOpenRead | platform::fmShareDenyNone);
  archiver::TZADirManager dm(&s, false, nullptr);
  archiver::TZAZipCentralDirEnd end;
  int64_t endOffset = -1;
  if (!dm.FindCentralDirEnd(end, endOffset, archiver::ZA_SIG_CENTRAL_DIR_END)) return out;
  char buf[512];
  std::snprintf(buf, sizeof buf, "END off=%lld disk=%u sdisk=%u eod=%u ecd=%u size=%u cdoff=%u clen=%u comment=",
                static_cast<long long>(endOffset), end.diskNumber, end.startDiskNumber,
                end.entriesOnDisk, end.entriesCentralDir, end.centralDirSize, end.offsetStartDir,
                end.commentLength);
  out.push_back(buf + Hex(dm.ArchiveComment));
  uint64_t start = end.offsetStartDir, count = end.entriesCentralDir;
  archiver::TZAZip64CentralDirEndLocator loc;
  if (endOffset >= 20) {
    s.SetPosition(endOffset - 20);
    if (archiver::ZAReadRecord(s, loc) && loc.signature == archiver::ZA_SIG_ZIP64_LOCATOR) {
      std::snprintf(buf, sizeof buf, "LOC sdisk=%u off=%llu total=%u", loc.startDiskNumber,
                    static_cast<unsigned long long>(loc.offsetStartDirEnd), loc.totalNumberOfDisks);
      out.push_back(buf);
      archiver::TZAZip64CentralDirEnd z;
      s.SetPosition(static_cast<int64_t>(loc.offsetStartDirEnd));
      if (!archiver::ZAReadRecord(s, z)) return out;
      std::snprintf(buf, sizeof buf,
                    "Z64END size=%llu vmb=%u vne=%u disk=%u sdisk=%u eod=%llu ecd=%llu cdsize=%llu cdoff=%llu",
                    static_cast<unsigned long long>(z.centralDirEndSize), z.versionMadeBy,
                    z.versionNeededToExtract, z.diskNumber, z.startDiskNumber,
                    static_cast<unsigned long long>(z.entriesOnDisk),
                    static_cast<unsigned long long>(z.entriesCentralDir),
                    static_cast<unsigned long long>(z.centralDirSize),
                    static_cast<unsigned long long>(z.offsetStartDir));
      out.push_back(buf);
      start = z.offsetStartDir;
      count = z.entriesCentralDir;
    }
  }
  s.SetPosition(static_cast<int64_t>(start));
  std::vector<std::string> resolved;
  for (uint64_t k = 0; k < count; ++k) {
    archiver::TZAZipCentralDir cd;
    std::string name, comment;
    archiver::TZAExtraFields extra;
    if (!archiver::ZAReadCentralEntry(s, cd, name, extra, comment)) break;
    std::snprintf(buf, sizeof buf,
                  "CEN sig=%x vmb=%u ver=%u flag=%u meth=%u time=%u date=%u crc=%u csize=%u usize=%u "
                  "nlen=%u xlen=%u clen=%u disk=%u iattr=%u eattr=%u off=%u",
                  cd.signature, cd.versionMadeBy, cd.extractVersion, cd.genPurposeFlag,
                  cd.compMethod, cd.lastModTime, cd.lastModDate, cd.crc32, cd.compSize,
                  cd.unCompSize, cd.nameLength, cd.extraLength, cd.commentLength,
                  cd.diskNumberStart, cd.internalAttr, cd.externalAttr, cd.relOffsetLH);
    std::string extraBytes;
    archiver::ZAAppendExtraFields(extraBytes, extra, false);
    out.push_back(buf + (" name=" + Hex(name)) + " extra=" + Hex(extraBytes) + " comment=" +
                  Hex(comment));
    archiver::TDirItem item;
    item.CentralDir = cd;
    if (auto* z64 = archiver::ZAFindExtraField(extra, archiver::ZA_EXTRA_ZIP64))
      archiver::ZAReadZip64ExtendedInfo(*z64, archiver::TZAZip64Presence::OfCentral(cd),
                                        item.Zip64ExtInfo);
    std::snprintf(buf, sizeof buf, " off=%llu csize=%llu usize=%llu crc=%u",
                  static_cast<unsigned long long>(item.LocalHeaderOffset()),
                  static_cast<unsigned long long>(item.CompressedSize()),
                  static_cast<unsigned long long>(item.UncompressedSize()), cd.crc32);
    resolved.push_back("ZF name=" + Hex(name) + buf);
  }
  out.insert(out.end(), resolved.begin(), resolved.end());
  return out;
}

// Python's dump of an archive (without the TEST line unless `test`).
inline std::vector<std::string> PythonDump(const base_test::TempDir& dir, const std::string& path,
                                           bool test = false) {
  return Lines(RunPython(dir, kDumpScript, Q(path) + (test ? " test" : "")));
}

}  // namespace records_test
