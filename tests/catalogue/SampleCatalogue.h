// Test fixtures over the sample collections of tools/make_collection.py:
// the reference catalogue archives (.dbz) and their expected model, and
// member readers that the catalogue's ReadMember seam can be pointed at.
//
// The members of a reference archive are read by Python's zipfile, an
// independent zip implementation, once per process. Collections are made on
// first use into <build>/tests/sample-collections/<variant> (under a file
// lock, so suites running side by side make each variant once) and made again
// when the generator is newer than them.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/AppState.h"
#include "catalogue/MemberReader.h"
#include "platform/Files.h"
#include "tests/xbase/SampleCollection.h"

namespace sample {

namespace fs = std::filesystem;

// Every member of the zip archive `path`, by name, as Python's zipfile reads
// it.
inline std::map<std::string, std::string> ReadZipMembers(const std::string& path) {
  // Each member as "<name length> <size>\n<name><bytes>".
  const std::string dump = RunCapture(
      "/usr/bin/python3 -c 'import sys, zipfile\n"
      "out = sys.stdout.buffer\n"
      "with zipfile.ZipFile(sys.argv[1]) as z:\n"
      "    for i in z.infolist():\n"
      "        name = i.filename.encode()\n"
      "        data = z.read(i)\n"
      "        out.write(b\"%d %d\\n\" % (len(name), len(data)) + name + data)\n' " +
      Quote(path));
  std::map<std::string, std::string> members;
  size_t pos = 0;
  while (pos < dump.size()) {
    const size_t eol = dump.find('\n', pos);
    size_t nameLen = 0, size = 0;
    if (eol == std::string::npos || sscanf(dump.c_str() + pos, "%zu %zu", &nameLen, &size) != 2 ||
        eol + 1 + nameLen + size > dump.size())
      throw std::runtime_error("bad member dump of " + path);
    members[dump.substr(eol + 1, nameLen)] = dump.substr(eol + 1 + nameLen, size);
    pos = eol + 1 + nameLen + size;
  }
  return members;
}

// The same, read once per process and path (reference catalogues).
inline const std::map<std::string, std::string>& ZipMembers(const std::string& path) {
  static std::map<std::string, std::map<std::string, std::string>> cache;
  auto it = cache.find(path);
  if (it != cache.end()) return it->second;
  return cache.emplace(path, ReadZipMembers(path)).first->second;
}

// A member reader over members held in memory, whatever the archive path,
// counting what is read. Empty for a member it does not have, as the real
// reader. Passing through, it counts and reads the archive with
// readZipMember instead.
class TMemoryReader {
 public:
  explicit TMemoryReader(std::map<std::string, std::string> members = {})
      : members_(std::move(members)) {}

  catalogue::AnsiString operator()(const std::string& zip, const std::string& member, int64_t n) {
    ++reads_[member];
    if (fail_) throw std::runtime_error("read failed: " + member);
    if (passThrough_) return catalogue::readZipMember(zip, member, n);
    const auto it = members_.find(member);
    if (it == members_.end()) return {};
    return n > 0 ? it->second.substr(0, static_cast<size_t>(n)) : it->second;
  }

  std::map<std::string, std::string>& members() { return members_; }
  int Reads(const std::string& member) const {
    const auto it = reads_.find(member);
    return it == reads_.end() ? 0 : it->second;
  }
  int TotalReads() const {
    int n = 0;
    for (const auto& [name, count] : reads_) n += count;
    return n;
  }
  void SetFailing(bool fail) { fail_ = fail; }
  void SetPassThrough(bool on) { passThrough_ = on; }

 private:
  std::map<std::string, std::string> members_;
  std::map<std::string, int> reads_;
  bool fail_ = false;
  bool passThrough_ = false;
};

// Points ReadMember at `reader` (borrowed) for the scope's lifetime.
class TReaderScope {
 public:
  explicit TReaderScope(TMemoryReader& reader)
      : scope_([&reader](const std::string& zip, const std::string& member, int64_t n) {
          return reader(zip, member, n);
        }) {}

 private:
  catalogue::TZipMemberReaderScope scope_;
};

// A fresh application state whose catalogue archive exists as an empty file
// in a temporary folder (the member reader stands in for its content); the
// state is emptied and the folder removed on destruction.
class TPlacedCatalogue {
 public:
  TPlacedCatalogue() {
    std::string tmpl = (fs::temp_directory_path() / "catalogueXXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    catalogue::AppState() = {};
    catalogue::AppState().dbzPath = (dir_ / "tomeshelf.dbz").string();
    platform::WriteFileBytes(catalogue::AppState().dbzPath, "");
  }
  ~TPlacedCatalogue() {
    catalogue::AppState() = {};
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  TPlacedCatalogue(const TPlacedCatalogue&) = delete;
  TPlacedCatalogue& operator=(const TPlacedCatalogue&) = delete;

 private:
  fs::path dir_;
};

// One line of expected/books.txt: the author index and the line's 8 fields.
struct TExpectedBook {
  int author;
  std::vector<std::string> fields;
};

inline std::vector<TExpectedBook> ExpectedBooks(const std::string& expectedDir) {
  const std::string text = platform::ReadFileBytes(expectedDir + "books.txt");
  std::vector<TExpectedBook> books;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    const std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    TExpectedBook b{};
    size_t start = 0;
    bool first = true;
    while (true) {
      const size_t tab = line.find('\t', start);
      const std::string piece = line.substr(start, tab == std::string::npos ? tab : tab - start);
      if (first)
        b.author = std::stoi(piece);
      else
        b.fields.push_back(piece);
      first = false;
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    books.push_back(std::move(b));
  }
  return books;
}

// A number of expected/model.json, e.g. ModelNumber(dir, "authors").
inline long ModelNumber(const std::string& expectedDir, const std::string& key) {
  const std::string json = platform::ReadFileBytes(expectedDir + "model.json");
  const std::string tag = "\"" + key + "\":";
  const size_t at = json.find(tag);
  if (at == std::string::npos) throw std::runtime_error("no " + key + " in model.json");
  return std::stol(json.substr(at + tag.size()));
}

}  // namespace sample
