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
// added, updated or deleted in; equal keys share one hash node, so that costs
// no more with 100,000 equal names than with one.
//
// TZAKeyIndex is the hash itself, usable for any key an entry's index gives
// (the directory keeps a second one by the name part of its items).
//
// Not thread-safe (lookups build the hash on demand); copying is disabled.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace archiver {

// A hash from keys to the indices of the entries that carry them, in
// ascending order. It stores no keys: `keyAt(i)` gives the key of entry i,
// and must keep giving the key an entry was inserted with until it is
// erased. Equal keys share one node, so Find costs O(1) on average whatever
// the number of entries per key. With `foldAZ` keys compare (and hash) with
// the ASCII letters A-Z folded.
class TZAKeyIndex {
 public:
  using TKeyAt = std::function<std::string_view(int32_t)>;
  TZAKeyIndex(TKeyAt keyAt, bool foldAZ);
  ~TZAKeyIndex();
  TZAKeyIndex(const TZAKeyIndex&) = delete;
  TZAKeyIndex& operator=(const TZAKeyIndex&) = delete;

  // Whether the hash is built. Insert drops it (Built() turns false) once
  // the entries outgrow 5 per bucket; lookups need it built.
  bool Built() const;
  int BucketCount() const;
  // Builds the hash over entries 0..count-1 with max(count, 1000) buckets.
  void Build(int32_t count);
  void Release();
  void SetFoldAZ(bool foldAZ);

  // Entry `index` now carries the key keyAt(index) (built hash only).
  void Insert(int32_t index);
  // Entry `index` loses its key; call while keyAt(index) still gives it.
  void Erase(int32_t index);
  // Entry `index` was removed: the indices above it move down by one.
  void ShiftDownAbove(int32_t index);

  // The entries whose key equals `key`, ascending; empty when none. Valid
  // until the index changes.
  std::span<const int32_t> Find(std::string_view key) const;

 private:
  struct Rep;
  std::unique_ptr<Rep> rep_;
};

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
