// The hashed string list behind the directory's name index, and the key
// index it is built on.
//
// The key index keeps one node per distinct key, holding the key's hash and
// its entries: a single index inline, or a sorted group of indices kept
// aside when several entries share the key (archives with many items of one
// name exist, and each lookup must not walk them all). Nodes hold no key
// text; the key is asked of the owner by index when two hashes meet. Chains
// stay short: the hash is rebuilt with one bucket per entry once the entries
// outgrow 5 per bucket.
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
uint32_t HashKey(std::string_view s, bool foldAZ) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : s) {
    h ^= foldAZ ? Fold(c) : c;
    h *= 1099511628211ULL;
  }
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  return static_cast<uint32_t>(h);
}

bool KeysEqual(std::string_view a, std::string_view b, bool foldAZ) {
  if (a.size() != b.size()) return false;
  if (!foldAZ) return a == b;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

constexpr size_t kMinBuckets = 1000;
constexpr size_t kMaxLoad = 5;

}  // namespace

// --- TZAKeyIndex ---------------------------------------------------------------

struct TZAKeyIndex::Rep {
  struct Node {
    int32_t next;   // next node of the bucket, or of the free list
    uint32_t hash;
    int32_t value;  // the one entry, when group < 0
    int32_t group;  // entries in groups[group] (two or more), else -1
  };

  TKeyAt keyAt;
  bool foldAZ;
  bool built = false;
  size_t entries = 0;
  std::vector<int32_t> buckets;  // head node per bucket, -1 when empty
  std::vector<Node> nodes;
  int32_t freeNode = -1;
  std::vector<std::vector<int32_t>> groups;
  std::vector<int32_t> freeGroups;

  Rep(TKeyAt k, bool f) : keyAt(std::move(k)), foldAZ(f) {}

  int32_t FirstEntry(const Node& n) const { return n.group < 0 ? n.value : groups[n.group].front(); }

  // The node of `key`; with `link` the link that points at it.
  int32_t FindNode(std::string_view key, uint32_t hash, int32_t** link = nullptr) {
    int32_t* l = &buckets[hash % buckets.size()];
    for (; *l >= 0; l = &nodes[*l].next) {
      const Node& n = nodes[*l];
      if (n.hash == hash && KeysEqual(keyAt(FirstEntry(n)), key, foldAZ)) {
        if (link) *link = l;
        return *l;
      }
    }
    return -1;
  }

  int32_t NewNode() {
    if (freeNode >= 0) {
      const int32_t n = freeNode;
      freeNode = nodes[n].next;
      return n;
    }
    nodes.push_back({});
    return static_cast<int32_t>(nodes.size() - 1);
  }

  int32_t NewGroup(int32_t a, int32_t b) {
    int32_t g;
    if (!freeGroups.empty()) {
      g = freeGroups.back();
      freeGroups.pop_back();
    } else {
      groups.emplace_back();
      g = static_cast<int32_t>(groups.size() - 1);
    }
    groups[g] = {std::min(a, b), std::max(a, b)};
    return g;
  }

  void FreeGroup(int32_t g) {
    std::vector<int32_t>().swap(groups[g]);
    freeGroups.push_back(g);
  }

  void Insert(int32_t index) {
    const std::string_view key = keyAt(index);
    const uint32_t hash = HashKey(key, foldAZ);
    ++entries;
    const int32_t found = FindNode(key, hash);
    if (found < 0) {
      const int32_t n = NewNode();
      int32_t& head = buckets[hash % buckets.size()];
      nodes[n] = {head, hash, index, -1};
      head = n;
      return;
    }
    Node& node = nodes[found];
    if (node.group < 0) {
      node.group = NewGroup(node.value, index);
      return;
    }
    std::vector<int32_t>& g = groups[node.group];
    // Entries are mostly appended in index order: the end is the usual place.
    if (index > g.back())
      g.push_back(index);
    else
      g.insert(std::lower_bound(g.begin(), g.end(), index), index);
  }

  void Erase(int32_t index) {
    const std::string_view key = keyAt(index);
    const uint32_t hash = HashKey(key, foldAZ);
    int32_t* link = nullptr;
    const int32_t found = FindNode(key, hash, &link);
    if (found < 0) return;
    Node& node = nodes[found];
    if (node.group < 0) {
      if (node.value != index) return;
      *link = node.next;
      node.next = freeNode;
      freeNode = found;
      --entries;
      return;
    }
    std::vector<int32_t>& g = groups[node.group];
    const auto it = std::lower_bound(g.begin(), g.end(), index);
    if (it == g.end() || *it != index) return;
    g.erase(it);
    --entries;
    if (g.size() == 1) {
      node.value = g.front();
      FreeGroup(node.group);
      node.group = -1;
    }
  }

  void Release() {
    std::vector<int32_t>().swap(buckets);
    std::vector<Node>().swap(nodes);
    std::vector<std::vector<int32_t>>().swap(groups);
    std::vector<int32_t>().swap(freeGroups);
    freeNode = -1;
    entries = 0;
    built = false;
  }
};

TZAKeyIndex::TZAKeyIndex(TKeyAt keyAt, bool foldAZ) : rep_(std::make_unique<Rep>(std::move(keyAt), foldAZ)) {}
TZAKeyIndex::~TZAKeyIndex() = default;

bool TZAKeyIndex::Built() const { return rep_->built; }

int TZAKeyIndex::BucketCount() const { return rep_->built ? static_cast<int>(rep_->buckets.size()) : 0; }

void TZAKeyIndex::Build(int32_t count) {
  Rep& r = *rep_;
  r.Release();
  const size_t n = static_cast<size_t>(std::max<int32_t>(count, 0));
  r.buckets.assign(std::max(n, kMinBuckets), -1);
  r.nodes.reserve(n);
  r.built = true;
  for (int32_t i = 0; i < count; ++i) r.Insert(i);
}

void TZAKeyIndex::Release() { rep_->Release(); }

void TZAKeyIndex::SetFoldAZ(bool foldAZ) {
  if (foldAZ == rep_->foldAZ) return;
  rep_->foldAZ = foldAZ;
  rep_->Release();
}

void TZAKeyIndex::Insert(int32_t index) {
  Rep& r = *rep_;
  if (!r.built) return;
  r.Insert(index);
  // Chains would grow long: rebuilt at the next lookup with a bucket per entry.
  if (r.entries > kMaxLoad * r.buckets.size()) r.Release();
}

void TZAKeyIndex::Erase(int32_t index) {
  if (rep_->built) rep_->Erase(index);
}

void TZAKeyIndex::ShiftDownAbove(int32_t index) {
  Rep& r = *rep_;
  if (!r.built) return;
  for (Rep::Node& node : r.nodes)
    if (node.group < 0 && node.value > index) --node.value;
  // A group's order survives: every index above `index` moves alike, and
  // `index` itself was erased first.
  for (std::vector<int32_t>& g : r.groups)
    for (auto it = std::upper_bound(g.begin(), g.end(), index); it != g.end(); ++it) --*it;
}

std::span<const int32_t> TZAKeyIndex::Find(std::string_view key) const {
  Rep& r = *rep_;
  if (!r.built) return {};
  const int32_t n = r.FindNode(key, HashKey(key, r.foldAZ));
  if (n < 0) return {};
  const Rep::Node& node = r.nodes[n];
  if (node.group < 0) return {&node.value, 1};
  return r.groups[node.group];
}

// --- TZAHashedStringList ---------------------------------------------------------

struct TZAHashedStringList::Rep {
  std::vector<std::string> strings;
  bool caseSensitive = false;
  TZAKeyIndex valueHash;
  std::unordered_map<std::string, int> nameIndex;  // folded name part -> last index
  bool nameIndexValid = false;

  Rep()
      : valueHash([this](int32_t i) { return std::string_view(strings[static_cast<size_t>(i)]); },
                  /*foldAZ=*/true) {}

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
  rep_->valueHash.SetFoldAZ(!value);
  rep_->nameIndexValid = false;
}

int TZAHashedStringList::Count() const { return static_cast<int>(rep_->strings.size()); }

const std::string& TZAHashedStringList::Strings(int index) const {
  return rep_->strings.at(static_cast<size_t>(index));
}

int TZAHashedStringList::Add(std::string s) {
  Rep& r = *rep_;
  const int index = static_cast<int>(r.strings.size());
  r.strings.push_back(std::move(s));
  r.nameIndexValid = false;
  r.valueHash.Insert(index);
  return index;
}

void TZAHashedStringList::Update(int index, std::string newValue) {
  Rep& r = *rep_;
  std::string& slot = r.strings.at(static_cast<size_t>(index));
  r.valueHash.Erase(index);
  slot = std::move(newValue);
  r.valueHash.Insert(index);
  r.nameIndexValid = false;
}

void TZAHashedStringList::Delete(int index) {
  Rep& r = *rep_;
  r.strings.at(static_cast<size_t>(index));  // range check
  r.valueHash.Erase(index);
  r.valueHash.ShiftDownAbove(index);
  r.strings.erase(r.strings.begin() + index);
  r.nameIndexValid = false;
}

void TZAHashedStringList::Truncate(int count) {
  Rep& r = *rep_;
  if (count < 0) count = 0;
  if (static_cast<size_t>(count) >= r.strings.size()) return;
  r.strings.resize(static_cast<size_t>(count));
  r.valueHash.Release();
  r.nameIndexValid = false;
}

void TZAHashedStringList::Clear() {
  Rep& r = *rep_;
  r.strings.clear();
  r.valueHash.Release();
  r.nameIndex.clear();
  r.nameIndexValid = false;
}

int TZAHashedStringList::IndexOf(std::string_view s) {
  Rep& r = *rep_;
  if (!r.valueHash.Built()) r.valueHash.Build(static_cast<int32_t>(r.strings.size()));
  const std::span<const int32_t> found = r.valueHash.Find(s);
  return found.empty() ? -1 : found.back();
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

int TZAHashedStringList::HashSize() const { return rep_->valueHash.BucketCount(); }

}  // namespace archiver
