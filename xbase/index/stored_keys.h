// Key values as the NDX, NTX and MDX formats store them: text keys padded
// with blanks to the tag's key length; NDX and MDX keep numeric and date
// keys as doubles with two reserved values. Shared so that the formats read
// and order these keys alike.
//
// Pure; thread-safe.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "xbase/base/utilities.h"
#include "xbase/base/variant.h"

namespace xbase {

// The double of a node's pointer-only entry: above every real key (and, in
// a descending tag, negated below every one).
inline constexpr double kSentinelNumber = 1.7e308;
// The key of the empty date: after every real date, below the sentinel.
inline constexpr double kEmptyDate = 1.0e100;

// Writes a text key as it is stored: its first `length` bytes, padded with
// blanks to `length`.
inline void PutPaddedKey(uint8_t* to, const TxbVariant& key, int length) {
  const int n = std::min(key.SizeVar(), length);
  if (n > 0) std::memcpy(to, key.VarBuf(), static_cast<size_t>(n));
  std::memset(to + n, ' ', static_cast<size_t>(length - n));
}

// Text keys in the sorter of a bulk build: the stored bytes (`bytes` holds
// the key length), complemented for a descending order, which is then the
// ascending order of the sort form, so that equal keys still come out in
// record order. PutSortForm puts `key`'s sort form into `bytes`, to be
// given to the sorter as it is; StoredOfSortForm gives the stored bytes of
// a sort form the sorter gives back (`form` itself, or `bytes` holding them).
inline void PutSortForm(const TxbVariant& key, bool descending, std::vector<uint8_t>& bytes) {
  PutPaddedKey(bytes.data(), key, static_cast<int>(bytes.size()));
  if (descending)
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(~b);
}
inline const uint8_t* StoredOfSortForm(const uint8_t* form, bool descending, std::vector<uint8_t>& bytes) {
  if (!descending) return form;
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(~form[i]);
  return bytes.data();
}

// Makes a date key, given as a date or as its day number, the double that
// is stored: the empty date becomes kEmptyDate.
inline void PutDateKey(TxbVariant& key) {
  double day = key.TypeVar() == xbvtFloat ? key.GetFloat() : key.GetDate();
  if (day < 0.1) day = kEmptyDate;
  key.PutFloat(day);
}

}  // namespace xbase
