// The hashed string list behind the directory's name index.
//
// The value hash maps a key to list indices. Its nodes hold only the key's
// hash and the index; the key itself is the list string at that index, so
// the names are not stored twice. Chains stay short: the hash is rebuilt with
// one bucket per string once the list outgrows 5 strings per bucket.
#include "archiver/ZAHashedList.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

#include "archiver/ZAPaths.h"

namespace archiver {

namespace {

inline unsigned char Fold(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// FNV-1a over the (folded) bytes with a final avalanche. Archive names are
// often numbered ("100234.fb2"); a hash that only rotates and xors the
// characters puts such names into a few dozen long chains.
uint32_t HashKey(std::string_view s, bool caseSensitive) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : s) {
    h ^= caseSensitive ? c : Fold(c);
    h *= 1099511628211ULL;
  }
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  return static_cast<uint32_t>(h);
}

bool KeysEqual(std::string_view a, std::string_view b, bool caseSensitive) {
  if (a.size() != b.size()) return false;
  if (caseSensitive) return a == b;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Buckets of singly linked nodes kept in one array (no allocation per key).
class StringHash {
 public:
  void Reset(size_t bucketCount) {
    buckets_.assign(bucketCount, -1);
    nodes_.clear();
    free_ = -1;
  }
  void Release() {
    std::vector<int32_t>().swap(buckets_);
    std::vector<Node>().swap(nodes_);
    free_ = -1;
  }
  size_t BucketCount() const { return buckets_.size(); }

  void Add(uint32_t hash, int32_t value) {
    int32_t n;
    if (free_ >= 0) {
      n = free_;
      free_ = nodes_[n].next;
    } else {
      n = static_cast<int32_t>(nodes_.size());
      nodes_.push_back({});
    }
    int32_t& head = buckets_[hash % buckets_.size()];
    nodes_[n] = {head, hash, value};
    head = n;
  }

  // Unlinks the node of exactly this value; with duplicate keys the other
  // entries' nodes stay.
  void Remove(uint32_t hash, int32_t value) {
    int32_t* link = &buckets_[hash % buckets_.size()];
    while (*link >= 0) {
      Node& node = nodes_[*link];
      if (node.value == value && node.hash == hash) {
        int32_t n = *link;
        *link = node.next;
        node.value = -1;
        node.next = free_;
        free_ = n;
        return;
      }
      link = &node.next;
    }
  }

  // The highest value whose key matches (`matches(value)` compares the key).
  template <class Matches>
  int32_t ValueOf(uint32_t hash, Matches matches) const {
    int32_t best = -1;
    for (int32_t n = buckets_[hash % buckets_.size()]; n >= 0; n = nodes_[n].next) {
      const Node& node = nodes_[n];
      if (node.hash == hash && node.value > best && matches(node.value)) best = node.value;
    }
    return best;
  }

  // After list string `index` was removed: later indices move down by one.
  void ShiftDownAbove(int32_t index) {
    for (Node& node : nodes_)
      if (node.value > index) --node.value;
  }

 private:
  struct Node {
    int32_t next;
    uint32_t hash;
    int32_t value;  // -1 on the free list
  };
  std::vector<int32_t> buckets_;
  std::vector<Node> nodes_;
  int32_t free_ = -1;
};

constexpr size_t kMinBuckets = 1000;
constexpr size_t kMaxLoad = 5;

}  // namespace

struct TZAHashedStringList::Rep {
  std::vector<std::string> strings;
  bool caseSensitive = false;
  StringHash valueHash;
  bool valueHashValid = false;
  std::unordered_map<std::string, int> nameIndex;  // folded name part -> last index
  bool nameIndexValid = false;

  uint32_t Hash(std::string_view s) const { return HashKey(s, caseSensitive); }

  void DropValueHash() {
    valueHash.Release();
    valueHashValid = false;
  }

  void BuildValueHash() {
    valueHash.Reset(std::max(strings.size(), kMinBuckets));
    for (size_t i = 0; i < strings.size(); ++i)
      valueHash.Add(Hash(strings[i]), static_cast<int32_t>(i));
    valueHashValid = true;
  }

  std::string NameKey(std::string_view s) const {
    return caseSensitive ? std::string(s) : ZALowerCase(s);
  }
};

TZAHashedStringList::TZAHashedStringList() : rep_(std::make_unique<Rep>()) {}
TZAHashedStringList::~TZAHashedStringList() = default;

bool TZAHashedStringList::CaseSensitive() const { return rep_->caseSensitive; }

void TZAHashedStringList::SetCaseSensitive(bool value) {
  if (value == rep_->caseSensitive) return;
  rep_->caseSensitive = value;
  rep_->DropValueHash();
  rep_->nameIndexValid = false;
}

int TZAHashedStringList::Count() const { return static_cast<int>(rep_->strings.size()); }

const std::string& TZAHashedStringList::Strings(int index) const {
  return rep_->strings.at(static_cast<size_t>(index));
}

int TZAHashedStringList::Add(std::string s) {
  Rep& r = *rep_;
  int index = static_cast<int>(r.strings.size());
  uint32_t h = r.Hash(s);
  r.strings.push_back(std::move(s));
  r.nameIndexValid = false;
  if (r.valueHashValid) {
    r.valueHash.Add(h, index);
    // Chains would grow long: rebuild at the next lookup with a bucket per string.
    if (r.strings.size() > kMaxLoad * r.valueHash.BucketCount()) r.DropValueHash();
  }
  return index;
}

void TZAHashedStringList::Update(int index, std::string newValue) {
  Rep& r = *rep_;
  std::string& slot = r.strings.at(static_cast<size_t>(index));
  if (r.valueHashValid) {
    r.valueHash.Remove(r.Hash(slot), index);
    r.valueHash.Add(r.Hash(newValue), index);
  }
  slot = std::move(newValue);
  r.nameIndexValid = false;
}

void TZAHashedStringList::Delete(int index) {
  Rep& r = *rep_;
  const std::string& slot = r.strings.at(static_cast<size_t>(index));
  if (r.valueHashValid) {
    r.valueHash.Remove(r.Hash(slot), index);
    r.valueHash.ShiftDownAbove(index);
  }
  r.strings.erase(r.strings.begin() + index);
  r.nameIndexValid = false;
}

void TZAHashedStringList::Truncate(int count) {
  Rep& r = *rep_;
  if (count < 0) count = 0;
  if (static_cast<size_t>(count) >= r.strings.size()) return;
  r.strings.resize(static_cast<size_t>(count));
  r.DropValueHash();
  r.nameIndexValid = false;
}

void TZAHashedStringList::Clear() {
  Rep& r = *rep_;
  r.strings.clear();
  r.DropValueHash();
  r.nameIndex.clear();
  r.nameIndexValid = false;
}

int TZAHashedStringList::IndexOf(std::string_view s) {
  Rep& r = *rep_;
  if (!r.valueHashValid) r.BuildValueHash();
  return r.valueHash.ValueOf(r.Hash(s), [&](int32_t v) {
    return KeysEqual(r.strings[static_cast<size_t>(v)], s, r.caseSensitive);
  });
}

int TZAHashedStringList::IndexOfName(std::string_view name) {
  Rep& r = *rep_;
  if (!r.nameIndexValid) {
    r.nameIndex.clear();
    for (size_t i = 0; i < r.strings.size(); ++i) {
      size_t eq = r.strings[i].find('=');
      if (eq != std::string::npos)
        r.nameIndex[r.NameKey(std::string_view(r.strings[i]).substr(0, eq))] = static_cast<int>(i);
    }
    r.nameIndexValid = true;
  }
  auto it = r.nameIndex.find(r.NameKey(name));
  return it == r.nameIndex.end() ? -1 : it->second;
}

int TZAHashedStringList::HashSize() const {
  return rep_->valueHashValid ? static_cast<int>(rep_->valueHash.BucketCount()) : 0;
}

}  // namespace archiver
