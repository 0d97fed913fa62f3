// The key sorter: every bulk index build and table sort takes its keys in
// order from a TxbSort.
//
// Keys (TxbVariant values of type text, float, date or binary) go in with
// their record numbers and come out in the order of their byte-sortable
// forms:
//   text    the bytes with trailing blanks removed
//   float   the 8-byte double, most significant byte first, with the sign bit
//           set when the value is not negative and every byte inverted when
//           it is (so byte order is numeric order; 0 and -0 are one key)
//   date    the 32-bit day number, most significant byte first
//   binary  the bytes as they are
// each followed by the record number as 4 bytes, most significant first, so
// equal keys come out in record order. The forms compare as unsigned bytes
// (the key bytes through the collate table when one is given). Descending
// order reverses the whole comparison, record number included: equal keys
// then come out in descending record order. Note that a shorter key meets
// the record number of a longer one: for keys with NUL bytes, or record
// numbers of 2^24 and more, the order is that of the forms, not "key, then
// record number".
//
// Keys are held in memory up to a budget; past it they are sorted into a run
// that is written to an unnamed work file (removed from its folder as soon
// as it is made, so nothing is left behind), and retrieval merges the runs.
//
// Not thread-safe; one builder uses a sorter at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "xbase/base/errors.h"
#include "xbase/base/variant.h"

namespace xbase {

class TxbSort {
 public:
  static constexpr size_t DefaultMemoryBudget = size_t{32} << 20;

  // The longest key a sorter can take.
  static constexpr int MaxKeyLimit = 1024;

  // A sorter for keys of up to `keyLen` bytes (1-`maxKeyLen`, else
  // EXBaseError 65162 with `maxKeyLen`; the engine's limit is 240, a format
  // that stores longer keys asks for more, up to MaxKeyLimit).
  // `collateTable` (256 bytes, kept by the caller) maps the key bytes before
  // they are compared. `memoryBudget` bounds the keys held in memory; runs
  // spill into a work file in `tempDir` (default: the system's folder for
  // temporary files).
  TxbSort(int keyLen, bool unique, bool ascending, const uint8_t* collateTable = nullptr,
          size_t memoryBudget = DefaultMemoryBudget, const std::string& tempDir = {},
          int maxKeyLen = xbMaxSortKeyLength);
  virtual ~TxbSort();
  TxbSort(const TxbSort&) = delete;
  TxbSort& operator=(const TxbSort&) = delete;

  // Adds a key with its record number. Raises 65163 once retrieval has
  // begun, 65161 for a boolean or untyped key, 65162 for a key longer than
  // the key length (text: without its trailing blanks).
  void AddKey(const TxbVariant& key, int32_t tag);
  // About `keys` keys of `keyBytes` bytes each are coming: memory for them
  // (within the budget) is taken at once rather than grown by copying.
  void Expect(int keys, size_t keyBytes);
  // Adds `n` key bytes as they are (a binary key) without a variant between.
  void AddForm(const uint8_t* bytes, size_t n, int32_t tag);

  // The next key in order, in its own type, with its record number; false
  // when all are taken. The first call of any of them begins retrieval.
  // GetNextKey in a unique sorter skips every key equal to the last one it
  // returned (record numbers not counted), so the first record of each run
  // of equal keys is the one kept; GetNextAvailKey never skips.
  bool GetFirstKey(TxbVariant& key, int32_t& tag) { return GetNextKey(key, tag); }
  bool GetNextKey(TxbVariant& key, int32_t& tag);
  bool GetNextAvailKey(TxbVariant& key, int32_t& tag);
  // GetNextKey giving the key's form bytes (`n` of them; a text key without
  // its trailing blanks, a binary one as it came) in place: valid until the
  // next call.
  bool GetNextForm(const uint8_t*& bytes, size_t& n, int32_t& tag);

  // Drops every key and run; keys may be added again.
  void ReinitSorting();

  // Keys added since creation or ReinitSorting.
  int Count() const;
  bool Ascending() const;
  // Runs written to the work file so far.
  int RunCount() const;

 private:
  // The next entry, skipping repeated keys in a unique sorter.
  const uint8_t* NextUniqueEntry();

  struct Rep;
  std::unique_ptr<Rep> rep_;
};

}  // namespace xbase
