// Run format in the work file: entries one after another, each
//   offset 0  2 bytes  form length n (key bytes + 4), little-endian
//   offset 2  1 byte   kind (16 binary, 32 text, 48 float, 64 date)
//   offset 3  n bytes  the form: key bytes, then the record number (big-endian)
// A run is a stretch of the file [start, end) whose entries are in order.
#include "xbase/base/key_sorter.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/File.h"
#include "platform/Files.h"
#include "xbase/base/errors.h"

namespace xbase {

namespace {

enum : uint8_t { kKindBinary = 16, kKindText = 32, kKindFloat = 48, kKindDate = 64 };
constexpr size_t kEntryHead = 3;
constexpr size_t kWriteChunk = size_t{1} << 20;

void PutBE(uint8_t* p, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}

// The form length of an entry, and its whole size.
size_t FormLen(const uint8_t* e) { return size_t{e[0]} | size_t{e[1]} << 8; }
size_t EntrySize(const uint8_t* e) { return kEntryHead + FormLen(e); }

uint64_t GetBE(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
  return v;
}

}  // namespace

struct TxbSort::Rep {
  int keyLen;
  int maxKeyLen = xbMaxSortKeyLength;
  bool unique;
  bool ascending;
  const uint8_t* collate;
  size_t budget;
  std::string tempDir;

  int count = 0;
  bool retrieving = false;

  // Keys in memory: entries packed in `arena`, `refs` pointing at them.
  // A reference carries the first 12 bytes of its form as the comparison
  // sees them (collated, zeros past the end), most significant first: most
  // comparisons are decided there, without a look into the arena.
  struct TKeyRef {
    uint64_t head;
    uint32_t more;
    uint32_t off;
  };
  static constexpr size_t kRefPrefix = 12;
  std::vector<uint8_t> arena;
  std::vector<TKeyRef> refs;

  // The work file and its runs.
  platform::TFile work;
  std::string workPath;
  int64_t workEnd = 0;
  struct TRun {
    int64_t start, end;
  };
  std::vector<TRun> runs;

  // Retrieval: one source per run, the keys left in memory last.
  struct TSource {
    // A file run read through a buffer, or the memory keys when `memory`.
    bool memory = false;
    size_t next = 0;  // memory: index into refs
    std::vector<uint8_t> buf;
    size_t pos = 0, len = 0;
    int64_t fileOff = 0, fileEnd = 0;
    const uint8_t* current = nullptr;  // entry head, nullptr when exhausted
  };
  std::vector<TSource> sources;
  std::vector<int> heap;  // source indices, the next key on top
  std::vector<uint8_t> hold;  // the entry last taken out
  std::string lastKey;        // unique mode: key bytes of the last key returned
  bool haveLast = false;

  Rep(int kl, bool u, bool a, const uint8_t* c, size_t b, std::string dir)
      : keyLen(kl), unique(u), ascending(a), collate(c), budget(b), tempDir(std::move(dir)) {}

  ~Rep() { CloseWork(); }

  void CloseWork() {
    if (!work.IsOpen()) return;
    try {
      work.Close();
    } catch (const platform::EFileError&) {
      // A work file that is dropped: nothing of it is wanted any more.
    }
    platform::DeleteFile(workPath);  // in case it could not be unlinked at creation
  }

  // Form comparison: key bytes through the collate table, the record number
  // as it is. Negative, 0 or positive.
  int CompareForms(const uint8_t* a, size_t na, const uint8_t* b, size_t nb) const {
    if (!collate) {
      const int c = std::memcmp(a, b, std::min(na, nb));
      return c != 0 ? c : (na < nb ? -1 : na > nb ? 1 : 0);
    }
    const size_t ka = na - 4, kb = nb - 4, n = std::min(na, nb);
    for (size_t i = 0; i < n; ++i) {
      const int ca = i < ka ? collate[a[i]] : a[i];
      const int cb = i < kb ? collate[b[i]] : b[i];
      if (ca != cb) return ca - cb;
    }
    return na < nb ? -1 : na > nb ? 1 : 0;
  }

  // Entry `a` against entry `b` in the order asked for: negative when `a`
  // comes first.
  int Order(const uint8_t* a, const uint8_t* b) const {
    const int c = CompareForms(a + kEntryHead, FormLen(a), b + kEntryHead, FormLen(b));
    return ascending ? c : -c;
  }

  // The reference of the entry at `off`.
  TKeyRef RefOf(uint32_t off) const {
    const uint8_t* e = arena.data() + off;
    const size_t n = FormLen(e), keyBytes = n - 4;
    uint8_t prefix[kRefPrefix] = {};
    for (size_t i = 0; i < std::min(n, kRefPrefix); ++i)
      prefix[i] = collate && i < keyBytes ? collate[e[kEntryHead + i]] : e[kEntryHead + i];
    return {GetBE(prefix, 8), static_cast<uint32_t>(GetBE(prefix + 8, 4)), off};
  }

  // Byte `d` (0-11) of a reference's prefix, its complement when the order
  // is descending: the bucket it goes to in that order.
  static uint8_t Digit(const TKeyRef& r, int d, bool up) {
    const uint8_t b = static_cast<uint8_t>(d < 8 ? r.head >> (56 - 8 * d) : r.more >> (24 - 8 * (d - 8)));
    return up ? b : static_cast<uint8_t>(~b);
  }

  // Orders [first, last), whose prefixes agree before byte `d`: by that
  // byte into buckets in place, each bucket by the bytes after it, and
  // small ones (and prefixes used up) by comparison.
  template <class Less>
  void RadixSort(TKeyRef* first, TKeyRef* last, int d, const Less& less) {
    constexpr ptrdiff_t kSmall = 64;
    for (;; ++d) {
      const ptrdiff_t n = last - first;
      if (n < kSmall || d == static_cast<int>(kRefPrefix)) {
        std::sort(first, last, less);
        return;
      }
      ptrdiff_t count[256] = {};
      for (const TKeyRef* p = first; p != last; ++p) ++count[Digit(*p, d, ascending)];
      if (count[Digit(*first, d, ascending)] == n) continue;  // one bucket: the next byte
      ptrdiff_t start[256], next[256];
      for (ptrdiff_t b = 0, at = 0; b < 256; at += count[b], ++b) start[b] = next[b] = at;
      for (int b = 0; b < 256; ++b) {
        const ptrdiff_t end = start[b] + count[b];
        while (next[b] < end) {
          TKeyRef v = first[next[b]];
          for (int to = Digit(v, d, ascending); to != b; to = Digit(v, d, ascending)) std::swap(v, first[next[to]++]);
          first[next[b]++] = v;
        }
      }
      for (int b = 0; b < 256; ++b)
        if (count[b] > 1) RadixSort(first + start[b], first + start[b] + count[b], d + 1, less);
      return;
    }
  }

  void SortMemory() {
    const uint8_t* base = arena.data();
    const bool up = ascending;
    // The prefixes order as the forms do as far as they reach (a form that
    // ends first reads zeros there, and either is below or ties); ties go
    // to the whole forms, and the same key and record twice keep the order
    // of adding. The prefixes are sorted by their bytes first.
    const auto less = [&](const TKeyRef& x, const TKeyRef& y) {
      if (x.head != y.head) return (x.head < y.head) == up;
      if (x.more != y.more) return (x.more < y.more) == up;
      const int c = Order(base + x.off, base + y.off);
      return c != 0 ? c < 0 : x.off < y.off;
    };
    RadixSort(refs.data(), refs.data() + refs.size(), 0, less);
  }

  void OpenWork() {
    if (work.IsOpen()) return;
    const std::string dir = tempDir.empty() ? platform::SystemTempDir() : tempDir;
    try {
      work = platform::CreateTempFile(dir, "xbsort", ".tmp");
    } catch (const platform::EFileError&) {
      XBRaise(xbmCannotCreate, {platform::JoinPath(dir, "xbsort*.tmp")});
    }
    workPath = work.Path();
    // Unnamed from here on: the system frees it when it is closed, even if
    // the program never gets that far.
    if (platform::DeleteFile(workPath)) workPath.clear();
    workEnd = 0;
  }

  // Writes the memory keys, sorted, as a new run.
  void Spill() {
    SortMemory();
    OpenWork();
    const int64_t start = workEnd;
    std::vector<uint8_t> out;
    out.reserve(kWriteChunk + 256);
    auto flush = [&] {
      try {
        work.WriteAt(workEnd, out.data(), static_cast<int64_t>(out.size()));
      } catch (const platform::EFileError& e) {
        XBRaiseDiskError("Write", e.error, work.Path(), workEnd);  // a full disk
      }
      workEnd += static_cast<int64_t>(out.size());
      out.clear();
    };
    for (const TKeyRef& ref : refs) {
      const uint8_t* e = arena.data() + ref.off;
      out.insert(out.end(), e, e + EntrySize(e));
      if (out.size() >= kWriteChunk) flush();
    }
    if (!out.empty()) flush();
    runs.push_back({start, workEnd});
    arena.clear();
    refs.clear();
  }

  // Adds the form of `n` key bytes of `kind` with record `tag`.
  void Insert(uint8_t kind, const uint8_t* bytes, size_t n, int32_t tag) {
    const size_t entry = kEntryHead + n + 4;
    constexpr size_t ref = sizeof(TKeyRef);
    if (!refs.empty() && arena.size() + entry + ref * (refs.size() + 1) > budget) Spill();
    const size_t at = arena.size();
    // Grow within the budget rather than by doubling past it.
    if (at + entry > arena.capacity())
      arena.reserve(std::max(at + entry, std::min(std::max(arena.capacity() * 2, size_t{64} << 10), budget)));
    if (refs.size() == refs.capacity())
      refs.reserve(std::max(refs.size() + 1, std::min(std::max(refs.capacity() * 2, size_t{4096}), budget / ref)));
    arena.resize(at + entry);
    uint8_t* e = arena.data() + at;
    e[0] = static_cast<uint8_t>(n + 4);
    e[1] = static_cast<uint8_t>((n + 4) >> 8);
    e[2] = kind;
    if (n) std::memcpy(e + kEntryHead, bytes, n);
    PutBE(e + kEntryHead + n, static_cast<uint32_t>(tag), 4);
    refs.push_back(RefOf(static_cast<uint32_t>(at)));
    ++count;
  }

  // --- retrieval -------------------------------------------------------------

  void Load(TSource& s) {
    if (s.memory) {
      s.current = s.next < refs.size() ? arena.data() + refs[s.next].off : nullptr;
      // The sorted keys lie all over the arena: fetch ahead of the walk.
      constexpr size_t kAhead = 16;
      if (s.next + kAhead < refs.size()) __builtin_prefetch(arena.data() + refs[s.next + kAhead].off);
      return;
    }
    // The whole entry must stand in the buffer: keep the rest, read on.
    if (s.len - s.pos < kEntryHead || s.len - s.pos < EntrySize(s.buf.data() + s.pos)) {
      std::memmove(s.buf.data(), s.buf.data() + s.pos, s.len - s.pos);
      s.len -= s.pos;
      s.pos = 0;
      const int64_t want = std::min<int64_t>(static_cast<int64_t>(s.buf.size() - s.len), s.fileEnd - s.fileOff);
      if (want > 0) {
        int64_t got = 0;
        try {
          got = work.ReadAt(s.fileOff, s.buf.data() + s.len, want);
        } catch (const platform::EFileError& e) {
          XBRaiseDiskError("Read", e.error, work.Path(), s.fileOff);
        }
        if (got != want) XBRaise(xbmReadError, {work.Path()});
        s.fileOff += got;
        s.len += static_cast<size_t>(got);
      }
    }
    s.current = s.len - s.pos >= kEntryHead ? s.buf.data() + s.pos : nullptr;
  }

  void Advance(TSource& s) {
    if (s.memory) ++s.next;
    else s.pos += EntrySize(s.buf.data() + s.pos);
    Load(s);
  }

  // Heap order: the source whose key comes later sinks; equal keys come from
  // the earlier source first (it holds the keys added earlier).
  bool After(int x, int y) const {
    const int c = Order(sources[static_cast<size_t>(x)].current, sources[static_cast<size_t>(y)].current);
    return c != 0 ? c > 0 : x > y;
  }

  void BeginRetrieval() {
    retrieving = true;
    SortMemory();
    sources.assign(runs.size() + 1, TSource{});
    const size_t bufSize = std::clamp(budget / (runs.size() + 1), size_t{16} << 10, size_t{1} << 20);
    for (size_t i = 0; i < runs.size(); ++i) {
      TSource& s = sources[i];
      s.buf.resize(std::max(bufSize, size_t{256}));
      s.fileOff = runs[i].start;
      s.fileEnd = runs[i].end;
      Load(s);
    }
    sources.back().memory = true;
    Load(sources.back());
    heap.clear();
    for (size_t i = 0; i < sources.size(); ++i)
      if (sources[i].current) heap.push_back(static_cast<int>(i));
    auto after = [this](int x, int y) { return After(x, y); };
    std::make_heap(heap.begin(), heap.end(), after);
  }

  // The next entry in order (valid until the next call), nullptr at the end.
  const uint8_t* NextEntry() {
    if (!retrieving) BeginRetrieval();
    if (runs.empty()) {
      // Only the keys in memory: they stay where they are, no merge.
      TSource& s = sources.back();
      const uint8_t* e = s.current;
      if (e) Advance(s);
      return e;
    }
    if (heap.empty()) return nullptr;
    auto after = [this](int x, int y) { return After(x, y); };
    std::pop_heap(heap.begin(), heap.end(), after);
    TSource& s = sources[static_cast<size_t>(heap.back())];
    // Copy out: advancing may refill the buffer under it.
    hold.assign(s.current, s.current + EntrySize(s.current));
    Advance(s);
    if (s.current) std::push_heap(heap.begin(), heap.end(), after);
    else heap.pop_back();
    return hold.data();
  }
};

TxbSort::TxbSort(int keyLen, bool unique, bool ascending, const uint8_t* collateTable, size_t memoryBudget,
                 const std::string& tempDir, int maxKeyLen) {
  maxKeyLen = std::clamp(maxKeyLen, 1, MaxKeyLimit);
  if (keyLen < 1 || keyLen > maxKeyLen) XBRaise(xbmSortKeyLength, {maxKeyLen, keyLen});
  rep_ = std::make_unique<Rep>(keyLen, unique, ascending, collateTable, memoryBudget, tempDir);
  rep_->maxKeyLen = maxKeyLen;
}

TxbSort::~TxbSort() = default;

int TxbSort::Count() const { return rep_->count; }
bool TxbSort::Ascending() const { return rep_->ascending; }
int TxbSort::RunCount() const { return static_cast<int>(rep_->runs.size()); }

void TxbSort::AddKey(const TxbVariant& key, int32_t tag) {
  Rep& r = *rep_;
  if (r.retrieving) XBRaise(xbmSortAfterRetrieval);
  const uint8_t* bytes = key.VarBuf();
  size_t n = static_cast<size_t>(key.SizeVar());
  uint8_t kind;
  switch (key.TypeVar()) {
    case xbvtText:
      kind = kKindText;
      while (n > 0 && bytes[n - 1] == ' ') --n;
      break;
    case xbvtFloat: kind = kKindFloat; break;
    case xbvtDate: kind = kKindDate; break;
    case xbvtBinary: kind = kKindBinary; break;
    default: XBRaise(xbmVariantSort);
  }
  if (n > static_cast<size_t>(r.keyLen)) XBRaise(xbmSortKeyLength, {r.maxKeyLen, n});
  uint8_t number[8];
  if (kind == kKindFloat) {
    double v = key.GetFloat();
    if (v == 0) v = 0;  // -0 is 0
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    bits = bits >> 63 ? ~bits : bits | uint64_t{1} << 63;
    PutBE(number, bits, 8);
    bytes = number;
    n = 8;
  } else if (kind == kKindDate) {
    PutBE(number, static_cast<uint32_t>(key.GetDate()), 4);
    bytes = number;
    n = 4;
  }
  r.Insert(kind, bytes, n, tag);
}

void TxbSort::Expect(int keys, size_t keyBytes) {
  Rep& r = *rep_;
  if (keys <= 0 || r.count > 0) return;
  const size_t entry = kEntryHead + keyBytes + 4, ref = sizeof(Rep::TKeyRef);
  const size_t fit = std::min(static_cast<size_t>(keys), r.budget / (entry + ref));
  r.arena.reserve(fit * entry);
  r.refs.reserve(fit);
}

void TxbSort::AddForm(const uint8_t* bytes, size_t n, int32_t tag) {
  Rep& r = *rep_;
  if (r.retrieving) XBRaise(xbmSortAfterRetrieval);
  if (n > static_cast<size_t>(r.keyLen)) XBRaise(xbmSortKeyLength, {r.maxKeyLen, n});
  r.Insert(kKindBinary, bytes, n, tag);
}

namespace {

// An entry back in the key's own type, with its record number.
void EntryToKey(const uint8_t* e, TxbVariant& key, int32_t& tag) {
  const size_t n = FormLen(e) - 4u;
  const uint8_t* form = e + kEntryHead;
  tag = static_cast<int32_t>(GetBE(form + n, 4));
  switch (e[2]) {
    case kKindText: key.PutString(std::string_view(reinterpret_cast<const char*>(form), n)); break;
    case kKindFloat: {
      uint64_t bits = GetBE(form, 8);
      bits = bits >> 63 ? bits & ~(uint64_t{1} << 63) : ~bits;
      double v;
      std::memcpy(&v, &bits, 8);
      key.PutFloat(v);
      break;
    }
    case kKindDate: key.PutDate(static_cast<int32_t>(GetBE(form, 4))); break;
    default: key.PutBinary(form, n);
  }
}

}  // namespace

bool TxbSort::GetNextAvailKey(TxbVariant& key, int32_t& tag) {
  const uint8_t* e = rep_->NextEntry();
  if (!e) return false;
  EntryToKey(e, key, tag);
  return true;
}

const uint8_t* TxbSort::NextUniqueEntry() {
  Rep& r = *rep_;
  if (!r.unique) return r.NextEntry();
  while (const uint8_t* e = r.NextEntry()) {
    const size_t n = FormLen(e) - 4u;
    const uint8_t* form = e + kEntryHead;
    bool same = r.haveLast && r.lastKey.size() == n;
    for (size_t i = 0; same && i < n; ++i) {
      const uint8_t a = static_cast<uint8_t>(r.lastKey[i]), b = form[i];
      same = r.collate ? r.collate[a] == r.collate[b] : a == b;
    }
    if (same) continue;
    r.lastKey.assign(reinterpret_cast<const char*>(form), n);
    r.haveLast = true;
    return e;
  }
  return nullptr;
}

bool TxbSort::GetNextKey(TxbVariant& key, int32_t& tag) {
  const uint8_t* e = NextUniqueEntry();
  if (!e) return false;
  EntryToKey(e, key, tag);
  return true;
}

bool TxbSort::GetNextForm(const uint8_t*& bytes, size_t& n, int32_t& tag) {
  const uint8_t* e = NextUniqueEntry();
  if (!e) return false;
  n = FormLen(e) - 4u;
  bytes = e + kEntryHead;
  tag = static_cast<int32_t>(GetBE(bytes + n, 4));
  return true;
}

void TxbSort::ReinitSorting() {
  Rep& r = *rep_;
  r.CloseWork();
  r.work = platform::TFile();
  r.workPath.clear();
  r.workEnd = 0;
  r.runs.clear();
  r.arena.clear();
  r.refs.clear();
  r.sources.clear();
  r.heap.clear();
  r.lastKey.clear();
  r.haveLast = false;
  r.retrieving = false;
  r.count = 0;
}

}  // namespace xbase
