// Small building blocks of the engine: an owning object list, a paged bit
// set for record maps, Boyer-Moore text search, trailing-blank trimming,
// file-name helpers and the work-file name maker.
//
// None of these is thread-safe; each object has one user at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/CodePage.h"

namespace xbase {

using platform::AnsiString;

// Sets a value for the life of the object and puts the old one back on
// every exit, an exception's included.
template <class T>
class TValueScope {
 public:
  TValueScope(T& v, T now) : v_(v), was_(v) { v = now; }
  ~TValueScope() { v_ = was_; }
  TValueScope(const TValueScope&) = delete;
  TValueScope& operator=(const TValueScope&) = delete;

 private:
  T& v_;
  T was_;
};

// An ordered list that owns its items (index pages own their entries, index
// files their tags). FreeItem decides what becomes of an item the list lets
// go of; by default it is destroyed. A descendant that overrides FreeItem
// calls FreeAll in its own destructor, since the base destructor no longer
// reaches the override.
template <class T>
class TxbCollection {
 public:
  TxbCollection() = default;
  virtual ~TxbCollection() { FreeAll(); }
  TxbCollection(const TxbCollection&) = delete;
  TxbCollection& operator=(const TxbCollection&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // The item at `index` (0-based; must be in range).
  T* Items(int index) const { return items_[static_cast<size_t>(index)]; }
  T* operator[](int index) const { return Items(index); }
  // Position of `item`, -1 when it is not in the list.
  int IndexOf(const T* item) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i] == item) return static_cast<int>(i);
    return -1;
  }

  T* Add(std::unique_ptr<T> item) { return Insert(Count(), std::move(item)); }
  // Inserts before position `index` (Count() appends).
  T* Insert(int index, std::unique_ptr<T> item) {
    T* p = item.release();
    items_.insert(items_.begin() + index, p);
    return p;
  }
  // Takes the item at `index` out of the list and hands it to the caller.
  std::unique_ptr<T> Extract(int index) {
    T* p = items_[static_cast<size_t>(index)];
    items_.erase(items_.begin() + index);
    return std::unique_ptr<T>(p);
  }
  // Removes `item` from the list, then FreeItem; nothing when absent.
  void FreeOne(T* item) {
    const int i = IndexOf(item);
    if (i >= 0) FreeItem(Extract(i));
  }
  // FreeItem for every item in order, then the list is empty.
  void FreeAll() {
    std::vector<T*> items;
    items.swap(items_);
    for (T* p : items) FreeItem(std::unique_ptr<T>(p));
  }

 protected:
  virtual void FreeItem(std::unique_ptr<T> item) { item.reset(); }

 private:
  std::vector<T*> items_;
};

// A set of record numbers (bits 0 .. 2^31-1) in pages of 16384 bytes,
// allocated zeroed when a bit in them is first set. Bit n is bit n mod 8
// (from the least significant) of byte (n div 8) mod 16384 of page
// n div 131072. The highest bit ever changed is recorded; bits above it
// read as clear without touching memory.
class TxbHugeSet {
 public:
  static constexpr uint32_t PageBytes = 16384;
  static constexpr uint32_t PageBits = PageBytes * 8;

  TxbHugeSet() = default;
  TxbHugeSet(const TxbHugeSet&) = delete;
  TxbHugeSet& operator=(const TxbHugeSet&) = delete;

  // Drops every page; the highest bit becomes -1.
  void Clear();
  // how: 0 clear, 1 set, 2 toggle. Raises the recorded highest bit.
  void ChangeBit(uint32_t bit, int how);
  bool BitValue(uint32_t bit) const;
  // The complement within the records 1..`recordCount`: bit 0 and bits above
  // `recordCount` stay clear, and the highest bit becomes `recordCount`.
  void NegateSet(uint32_t recordCount);
  // This set combined with `other`, bit by bit; a set shorter than the other
  // counts as zeros beyond its end. The highest bit becomes the larger one.
  void ANDSet(const TxbHugeSet& other);
  void ORSet(const TxbHugeSet& other);
  void XORSet(const TxbHugeSet& other);

  int64_t HighestBit() const { return highest_; }
  // Pages holding memory (for checking that reads allocate nothing).
  size_t AllocatedPages() const;

 private:
  template <class Op>
  void Combine(const TxbHugeSet& other, Op op, bool zeroKeepsPage);
  uint8_t* Page(size_t index);  // allocates on demand

  std::vector<std::unique_ptr<uint8_t[]>> pages_;
  int64_t highest_ = -1;
};

// 0-based position of the first occurrence of `pattern` in `text` at or
// after `start`; -1 when there is none or an argument is invalid (a null
// pointer, `start` < 0, `patternLength` < 1, `start` + `patternLength` >
// `textLength`). The NoCase form compares through the engine's upper-case
// table.
int BoyerMooreSearch(const char* pattern, const char* text, int start, int textLength,
                     int patternLength);
int BoyerMooreSearchNoCase(const char* pattern, const char* text, int start, int textLength,
                           int patternLength);

// `name` unchanged when its file name has an extension, else with `ext`
// (".DBF") added.
std::string DefaultFileExt(const std::string& name, const std::string& ext);
// The file name without folder and extension (a table's alias, a tag name).
std::string FileBaseName(const std::string& name);
// Pads the zero-terminated text in `buffer` with `c` up to `length`
// characters and terminates it; a longer text is left as it is. The buffer
// must hold `length` + 1 bytes.
void StrPadTo(char* buffer, char c, int length);

// The length of `n` bytes of text without their trailing blanks, eight
// bytes at a time first: stored texts and keys are mostly padding, and an
// expression's text may run to hundreds of megabytes.
inline size_t TrimmedLength(const char* text, size_t n) {
  constexpr uint64_t kBlanks = 0x2020202020202020ull;
  uint64_t word;
  while (n >= 8) {
    std::memcpy(&word, text + n - 8, 8);
    if (word != kBlanks) break;
    n -= 8;
  }
  while (n > 0 && text[n - 1] == ' ') --n;
  return n;
}
inline int TrimmedLength(const uint8_t* text, int n) {
  return static_cast<int>(TrimmedLength(reinterpret_cast<const char*>(text), static_cast<size_t>(n)));
}

// `s` without its trailing blanks; without its leading ones as well.
inline std::string_view TrimBlanksRight(std::string_view s) { return s.substr(0, TrimmedLength(s.data(), s.size())); }
inline std::string_view TrimBlanks(std::string_view s) {
  const size_t from = s.find_first_not_of(' ');
  return from == std::string_view::npos ? std::string_view() : TrimBlanksRight(s.substr(from));
}

// A name (no folder, no extension) made of letters and digits from the
// current local date and time to the millisecond, different from the last
// one it returned: within one millisecond it reads the engine's clock
// (xbClockMs) until the name changes. Names are unique only within one run
// of the program: whoever creates a file with one creates it exclusively and
// asks again when the name is taken.
std::string UniqueTempFileName();

}  // namespace xbase
