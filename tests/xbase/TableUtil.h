// Helpers of the table, memo and builder tests: peers run as commands, hex,
// record images, and the catalogue's book table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "tests/xbase/CommandOutput.h"
#include "xbase/table/table_builders.h"
#include "xbase/table/table_file.h"

inline const std::string kXbData = TOMESHELF_SOURCE_DIR "/tests/data/xbase/";
inline const std::string kXbPeer = "/usr/bin/python3 " TOMESHELF_SOURCE_DIR "/tests/xbase/xbpeer.py";

inline std::string Sh(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The standard output of `cmd`, its errors discarded.
inline std::string RunOut(const std::string& cmd) { return CommandOutput(cmd + " 2>/dev/null"); }

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

inline std::string Hex(const void* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string h;
  for (size_t i = 0; i < n; ++i) {
    const auto b = static_cast<const uint8_t*>(p)[i];
    h += d[b >> 4];
    h += d[b & 15];
  }
  return h;
}
inline std::string Hex(const std::string& s) { return Hex(s.data(), s.size()); }
inline std::string FromHex(const std::string& h) {
  std::string s;
  for (size_t i = 0; i + 1 < h.size(); i += 2) s += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return s;
}

// A 32-byte field descriptor as a table header holds it (offset and field
// number zero, as on disk).
inline std::string Descriptor(const std::string& name, char type, int len, int dec) {
  std::string d(32, '\0');
  d.replace(0, name.size(), name);
  d[11] = type;
  d[16] = static_cast<char>(len);
  d[17] = static_cast<char>(dec);
  return d;
}

// Puts `text` into field `index` (0-based) of the table's current record:
// left-aligned for C, D, L, right-aligned otherwise, blank-padded.
inline void PutField(xbase::XBO_dBaseDBF& t, int index, const std::string& text) {
  const xbase::XBR_DBFField& f = t.Fields(index);
  uint8_t* at = t.CurRecord() + f.dbFieldOffset;
  const size_t len = static_cast<size_t>(f.Length());
  std::memset(at, ' ', len);
  const size_t n = std::min(len, text.size());
  const bool left = f.dbFieldType == 'C' || f.dbFieldType == 'D' || f.dbFieldType == 'L';
  std::memcpy(at + (left ? 0 : len - n), text.data(), n);
}
inline std::string GetField(const xbase::XBO_dBaseDBF& t, int index) {
  const xbase::XBR_DBFField& f = t.Fields(index);
  return std::string(reinterpret_cast<const char*>(t.CurRecord()) + f.dbFieldOffset, static_cast<size_t>(f.Length()));
}

// The catalogue's book table: 441-byte records.
inline void AddBookFields(xbase::XBO_DBFBuild& b) {
  b.InsertField("AU", "N", 10, 0);
  b.InsertField("NA", "C", 250, 0);
  b.InsertField("SB", "C", 150, 0);
  b.InsertField("FI", "C", 8, 0);
  b.InsertField("SZ", "N", 8, 0);
  b.InsertField("GE", "C", 8, 0);
  b.InsertField("DT", "C", 4, 0);
  b.InsertField("LN", "C", 2, 0);
}

// The catalogue's author table at `path`: ID N 10, NA C 120. Its full name.
inline std::string MakeAuthorTable(const std::string& path) {
  xbase::XBO_DBFBuild b(path);
  b.InsertField("ID", "N", 10, 0);
  b.InsertField("NA", "C", 120, 0);
  b.Complete();
  return b.FileName();
}

// A book record image as the catalogue writes it, distinct per `n`.
inline std::string BookRecord(int n) {
  std::string r(441, ' ');
  char au[12];
  std::snprintf(au, sizeof au, "%10d", n % 1000);  // N 10, right-aligned
  r.replace(1, 10, au);
  const std::string na = platform::Utf8ToAnsi("Книга ") + std::to_string(n);
  r.replace(11, na.size(), na);
  const std::string fi = std::to_string(100000 + n);
  r.replace(411, fi.size(), fi);
  return r;
}

// A new book table at `path` of `records` records, `distinct` different
// ones repeated (book n is BookRecord(n % distinct)).
inline void WriteBookTable(const std::string& path, int records, int distinct) {
  {
    xbase::XBO_DBFBuild b(path);
    AddBookFields(b);
  }
  std::vector<std::string> images;
  for (int i = 0; i < distinct; ++i) images.push_back(BookRecord(i));
  xbase::XBO_dBaseDBF t(path, "", true, false);
  for (int i = 0; i < records; ++i) {
    std::memcpy(t.CurRecord(), images[static_cast<size_t>(i % distinct)].data(), 441);
    t.xbAppend();
  }
}

// Appends book records first..last to the table through xbAppend.
inline void AppendBooks(xbase::XBO_dBaseDBF& t, int first, int last) {
  for (int i = first; i <= last; ++i) {
    const std::string r = BookRecord(i);
    std::memcpy(t.CurRecord(), r.data(), r.size());
    t.xbAppend();
  }
}

// Copies the table `rel` of the test data, with its memo file, into the
// folder `dir` (with its trailing '/'); the copy's path.
inline std::string TakeTable(const std::string& dir, const std::string& rel) {
  const std::string from = kXbData + rel;
  const std::string to = dir + platform::ExtractFileName(from);
  platform::CopyFile(from, to, false);
  for (const char* ext : {".dbt", ".fpt"})
    if (platform::FileExists(platform::ChangeFileExt(from, ext)))
      platform::CopyFile(platform::ChangeFileExt(from, ext), platform::ChangeFileExt(to, ext), false);
  return to;
}

// Every file of the folder `dir` with its bytes (to see that nothing
// changed and nothing was added).
inline std::map<std::string, std::string> FolderFiles(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const platform::TFileInfo& f : platform::ListFolder(dir)) files[f.name] = platform::ReadFileBytes(dir + f.name);
  return files;
}
