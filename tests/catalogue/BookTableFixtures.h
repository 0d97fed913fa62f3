// Test fixtures for the book-list build's tables without the engine: a new
// "bo.dbf" as the table builder writes it, the records read back in the
// generator's bo.txt form, and an author table in memory.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "catalogue/BookTable.h"
#include "platform/Files.h"
#include "tests/platform/ChildProcess.h"

namespace booktable {

// The field lines of "bo.dbf": name, type, length.
struct TFieldLine {
  const char* name;
  char type;
  int length;
};
inline constexpr TFieldLine kBookFields[] = {{"AU", 'N', 10}, {"NA", 'C', 250}, {"SB", 'C', 150}, {"FI", 'C', 8},
                                             {"SZ", 'N', 8},  {"GE", 'C', 8},   {"DT", 'C', 4},   {"LN", 'C', 2}};

// A new, empty "bo.dbf" (290 bytes) as the engine's table builder makes it
// from the field lines: version 3, 0 records, header 289, record 441,
// descriptors, 0x0D and 0x1A.
inline void WriteNewBookTable(const std::string& path) {
  std::string t(32, '\0');
  t[0] = 0x03;
  t[1] = 24, t[2] = 1, t[3] = 1;
  t[8] = static_cast<char>(289 & 0xFF), t[9] = static_cast<char>(289 >> 8);
  t[10] = static_cast<char>(441 & 0xFF), t[11] = static_cast<char>(441 >> 8);
  for (const TFieldLine& f : kBookFields) {
    std::string d(32, '\0');
    d.replace(0, std::char_traits<char>::length(f.name), f.name);
    d[11] = f.type;
    d[16] = static_cast<char>(f.length);
    t += d;
  }
  t += "\x0D\x1A";
  platform::WriteFileBytes(path, t);
}

// A field of a record as the table gives it: a C field without trailing
// blanks, an N field without any.
inline std::string_view Field(std::string_view r, size_t at, size_t width, bool numeric) {
  std::string_view f = r.substr(at, width);
  while (!f.empty() && f.back() == ' ') f.remove_suffix(1);
  while (numeric && !f.empty() && f.front() == ' ') f.remove_prefix(1);
  return f;
}

// The records of the book table at `path`, as the generator's bo.txt holds
// them: author number, title, series, file, size, genre codes, date,
// language, "Y"/"N", TAB-separated. The count is taken from the header, as
// the engine takes it.
inline std::vector<std::string> ReadBookRecords(const std::string& path) {
  const std::string t = platform::ReadFileBytes(path);
  if (t.size() < 289) throw std::runtime_error("short table " + path);
  const auto u = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(t[i])); };
  const uint32_t count = u(4) | u(5) << 8 | u(6) << 16 | u(7) << 24;
  if (289 + static_cast<uint64_t>(count) * 441 > t.size()) throw std::runtime_error("count beyond the file");
  std::vector<std::string> out;
  out.reserve(count);
  for (uint32_t k = 0; k < count; ++k) {
    const std::string_view r = std::string_view(t).substr(289 + size_t{k} * 441, 441);
    std::string line;
    line.reserve(128);
    line += Field(r, 1, 10, true);
    for (const auto& [at, width, numeric] :
         {std::tuple{11, 250, false}, {261, 150, false}, {411, 8, false}, {419, 8, true}, {427, 8, false},
          {435, 4, false}, {439, 2, false}}) {
      line += '\t';
      line += Field(r, at, width, numeric);
    }
    line += r[0] == '*' ? "\tY" : "\tN";
    out.push_back(std::move(line));
  }
  return out;
}

// Its children under a file size limit (tests/platform/ChildProcess.h).
using ::ExitOfChildWithFileSizeLimit;

// Lines of a LF-ended text file.
inline std::vector<std::string> Lines(const std::string& path) {
  const std::string text = platform::ReadFileBytes(path);
  std::vector<std::string> out;
  for (size_t pos = 0; pos < text.size();) {
    const size_t eol = text.find('\n', pos);
    out.push_back(text.substr(pos, eol - pos));
    pos = eol + 1;
  }
  return out;
}

// The author table in memory: names by their upper case, numbered from 1
// in order of first appearance, as the engine's author table numbers them.
class TMapAuthors : public catalogue::TAuthorTable {
 public:
  uint32_t getAuthorID(const catalogue::AnsiString& name) override {
    if (name.empty() || name.size() > 120 || name.back() == ' ') throw std::logic_error("bad author name");
    auto [it, added] = ids_.emplace(platform::AnsiUpperCase(name), static_cast<uint32_t>(names_.size() + 1));
    if (added) names_.push_back(name);
    return it->second;
  }
  const std::vector<std::string>& Names() const { return names_; }

 private:
  std::unordered_map<std::string, uint32_t> ids_;
  std::vector<std::string> names_;
};

}  // namespace booktable
