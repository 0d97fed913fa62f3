#include "xbase/base/utilities.h"

#include <cstring>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "xbase/base/dates.h"

namespace xbase {

// --- TxbHugeSet ----------------------------------------------------------------

void TxbHugeSet::Clear() {
  pages_.clear();
  highest_ = -1;
}

size_t TxbHugeSet::AllocatedPages() const {
  size_t n = 0;
  for (const auto& p : pages_) n += p != nullptr;
  return n;
}

uint8_t* TxbHugeSet::Page(size_t index) {
  if (index >= pages_.size()) pages_.resize(index + 1);
  if (!pages_[index]) pages_[index] = std::make_unique<uint8_t[]>(PageBytes);  // zeroed
  return pages_[index].get();
}

void TxbHugeSet::ChangeBit(uint32_t bit, int how) {
  if (static_cast<int64_t>(bit) > highest_) highest_ = bit;
  const size_t page = bit / PageBits;
  const uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
  if (how == 0 && (page >= pages_.size() || !pages_[page])) return;  // already clear
  uint8_t& byte = Page(page)[(bit / 8) % PageBytes];
  if (how == 0) byte &= static_cast<uint8_t>(~mask);
  else if (how == 1) byte |= mask;
  else byte ^= mask;
}

bool TxbHugeSet::BitValue(uint32_t bit) const {
  if (static_cast<int64_t>(bit) > highest_) return false;
  const size_t page = bit / PageBits;
  if (page >= pages_.size() || !pages_[page]) return false;
  return (pages_[page][(bit / 8) % PageBytes] >> (bit % 8)) & 1;
}

void TxbHugeSet::NegateSet(uint32_t recordCount) {
  const size_t lastPage = recordCount / PageBits;
  pages_.resize(lastPage + 1);
  for (size_t i = 0; i <= lastPage; ++i) {
    uint8_t* p = Page(i);
    for (uint32_t b = 0; b < PageBytes; ++b) p[b] = static_cast<uint8_t>(~p[b]);
  }
  // Record 0 does not exist, and nothing beyond the last record does.
  pages_[0][0] &= 0xFE;
  uint8_t* last = pages_[lastPage].get();
  const uint32_t firstOut = recordCount + 1;
  const uint32_t inPage = firstOut % PageBits;
  if (firstOut / PageBits == lastPage) {
    last[inPage / 8] &= static_cast<uint8_t>((1u << (inPage % 8)) - 1);
    std::memset(last + inPage / 8 + 1, 0, PageBytes - inPage / 8 - 1);
  }
  highest_ = recordCount;
}

template <class Op>
void TxbHugeSet::Combine(const TxbHugeSet& other, Op op, bool zeroKeepsPage) {
  const size_t n = pages_.size() > other.pages_.size() ? pages_.size() : other.pages_.size();
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* theirs = i < other.pages_.size() ? other.pages_[i].get() : nullptr;
    const bool mine = i < pages_.size() && pages_[i];
    if (!theirs) {
      // Combining with zeros: OR and XOR keep the page, AND clears it.
      if (!zeroKeepsPage && mine) pages_[i].reset();
      continue;
    }
    if (!mine && !zeroKeepsPage) continue;  // AND of zeros stays zero
    uint8_t* p = Page(i);
    for (uint32_t b = 0; b < PageBytes; ++b) p[b] = op(p[b], theirs[b]);
  }
  if (other.highest_ > highest_) highest_ = other.highest_;
}

void TxbHugeSet::ANDSet(const TxbHugeSet& other) {
  Combine(other, [](uint8_t a, uint8_t b) { return static_cast<uint8_t>(a & b); }, false);
}
void TxbHugeSet::ORSet(const TxbHugeSet& other) {
  Combine(other, [](uint8_t a, uint8_t b) { return static_cast<uint8_t>(a | b); }, true);
}
void TxbHugeSet::XORSet(const TxbHugeSet& other) {
  Combine(other, [](uint8_t a, uint8_t b) { return static_cast<uint8_t>(a ^ b); }, true);
}

// --- Boyer-Moore ---------------------------------------------------------------

namespace {

template <class Fold>
int BoyerMoore(const char* pattern, const char* text, int start, int textLength, int patternLength,
               Fold fold) {
  if (!pattern || !text || start < 0 || patternLength < 1 ||
      static_cast<int64_t>(start) + patternLength > textLength)
    return -1;
  const auto* pat = reinterpret_cast<const unsigned char*>(pattern);
  const auto* txt = reinterpret_cast<const unsigned char*>(text);
  // 1 + the last position of each byte in the pattern, 0 when absent.
  int last[256] = {};
  for (int i = 0; i < patternLength; ++i) last[fold(pat[i])] = i + 1;
  for (int at = start; at + patternLength <= textLength;) {
    int j = patternLength - 1;
    while (j >= 0 && fold(pat[j]) == fold(txt[at + j])) --j;
    if (j < 0) return at;
    const int shift = j + 1 - last[fold(txt[at + j])];
    at += shift > 1 ? shift : 1;
  }
  return -1;
}

}  // namespace

int BoyerMooreSearch(const char* pattern, const char* text, int start, int textLength,
                     int patternLength) {
  return BoyerMoore(pattern, text, start, textLength, patternLength, [](unsigned char c) { return c; });
}

int BoyerMooreSearchNoCase(const char* pattern, const char* text, int start, int textLength,
                           int patternLength) {
  return BoyerMoore(pattern, text, start, textLength, patternLength,
                    [](unsigned char c) { return platform::AnsiUpperChar(c); });
}

// --- Names ---------------------------------------------------------------------

std::string DefaultFileExt(const std::string& name, const std::string& ext) {
  return platform::ExtractFileExt(name).empty() ? name + ext : name;
}

std::string FileBaseName(const std::string& name) {
  const std::string file = platform::ExtractFileName(name);
  return file.substr(0, file.size() - platform::ExtractFileExt(file).size());
}

void StrPadTo(char* buffer, char c, int length) {
  int n = static_cast<int>(std::strlen(buffer));
  while (n < length) buffer[n++] = c;
  buffer[n] = 0;
}

std::string UniqueTempFileName() {
  static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  static std::string last;
  std::string name;
  do {
    const platform::TSystemTime t = platform::LocalTimeOf(xbClockMs());
    int64_t d = t.month * 100 + 10000 + t.day;
    int64_t tm = (t.hour + 10) * int64_t{1000000} + t.minute * 10000 + t.second * 100 + t.milliseconds;
    name.assign(1, static_cast<char>('A' + d % 26));
    d /= 26;
    for (; d > 0; d /= 36) name += kDigits[d % 36];
    for (; tm > 0; tm /= 36) name += kDigits[tm % 36];
  } while (name == last);
  last = name;
  return name;
}

}  // namespace xbase
