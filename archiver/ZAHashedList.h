// A string list with a hashed index: the name index of an archive's
// directory in memory.
//
// String i of the list belongs to directory entry i. Lookups (IndexOf) go
// through a bucket hash that is built on the first lookup and kept up to date
// by Add, Update and Delete, so a lookup costs O(1) on average however large
// the list is. Unless CaseSensitive is set, keys compare with only the ASCII
// letters A-Z folded: names that differ in the case of any other letter are
// distinct. When several strings have the same key, IndexOf finds the one with
// the highest index (the entry added last), whatever order the strings were
// added, updated or deleted in.
//
// Not thread-safe (IndexOf builds the hash on demand); copying is disabled.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace archiver {

class TZAHashedStringList {
 public:
  TZAHashedStringList();
  ~TZAHashedStringList();
  TZAHashedStringList(const TZAHashedStringList&) = delete;
  TZAHashedStringList& operator=(const TZAHashedStringList&) = delete;

  // Default false. Changing it drops the hashes (they are rebuilt on demand).
  bool CaseSensitive() const;
  void SetCaseSensitive(bool value);

  int Count() const;
  const std::string& Strings(int index) const;  // index must be in range

  // Appends s; returns its index.
  int Add(std::string s);
  // Replaces string `index` (index must be in range).
  void Update(int index, std::string newValue);
  // Removes string `index`; later strings move down by one.
  void Delete(int index);
  // Keeps the first `count` strings and drops the rest.
  void Truncate(int count);
  void Clear();

  // Index of the string whose key equals s's key (highest index among equal
  // keys), or -1.
  int IndexOf(std::string_view s);
  // Index of the last string of the form "name=value" whose name part equals
  // `name` (by the same key rule), or -1.
  int IndexOfName(std::string_view name);

  // Bucket count of the built value hash, 0 when none is built (for tests and
  // diagnostics of the growth rule).
  int HashSize() const;

 private:
  struct Rep;
  std::unique_ptr<Rep> rep_;
};

}  // namespace archiver
