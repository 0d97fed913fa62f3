#include "archiver/ZAStrFunc.h"

#include <string>
#include <vector>

#include "platform/CodePage.h"

namespace archiver {

// The archiver's rules are those of an ordinary glob (`*` for zero or more
// characters) with two differences:
//  - "*.*" as the whole mask matches everything;
//  - a mask that ends in a run of two or more stars needs at least one name
//    character where that run begins ("abc**" does not match "abc"), so such
//    a run means the same as "?*".
// (A single trailing star matches the empty rest; a star elsewhere must leave
// at least one character for the rest of the mask, which an ordinary glob
// demands anyway, since the rest begins with a character that is not `*`.)
// The glob itself is the iterative one that returns to the last star: no
// recursion, O(|name| x |mask|) at worst and linear for everyday masks.

namespace {

template <class C>
inline bool SameChar(C a, C b, bool ignoreCase) {
  if (a == b) return true;
  if (!ignoreCase) return false;
  auto fold = [](C c) { return (c >= C('A') && c <= C('Z')) ? C(c + 32) : c; };
  return fold(a) == fold(b);
}

template <class C>
bool Glob(const C* n, size_t N, const C* m, size_t M, bool ignoreCase) {
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t i = 0, j = 0, starJ = kNone, starI = 0;
  while (i < N) {
    if (j < M && m[j] == C('*')) {
      starJ = j++;
      starI = i;
    } else if (j < M && (m[j] == C('?') || SameChar(n[i], m[j], ignoreCase))) {
      ++i;
      ++j;
    } else if (starJ != kNone) {
      j = starJ + 1;
      i = ++starI;
    } else {
      return false;
    }
  }
  while (j < M && m[j] == C('*')) ++j;
  return j == M;
}

// Replaces a trailing run of two or more stars by "?*".
template <class S>
void CanonicalTail(S& mask) {
  size_t run = 0;
  while (run < mask.size() && mask[mask.size() - 1 - run] == '*') ++run;
  if (run >= 2) {
    mask.resize(mask.size() - run);
    mask.push_back('?');
    mask.push_back('*');
  }
}

void Decode(std::string_view s, std::u32string& out) {
  out.clear();
  size_t pos = 0;
  while (pos < s.size()) {
    const unsigned char b = static_cast<unsigned char>(s[pos]);
    if (b < 0x80) {
      out.push_back(b);
      ++pos;
    } else {
      out.push_back(platform::DecodeUtf8(s, pos));
    }
  }
}

}  // namespace

bool MatchesWildcard(std::string_view name, std::string_view mask, bool ignoreCase) {
  if (mask == "*.*") return true;
  const bool doubleStarTail = mask.size() >= 2 && mask.back() == '*' && mask[mask.size() - 2] == '*';

  // Bytes will do unless a `?` has to take one whole non-ASCII character.
  if (mask.find('?') == std::string_view::npos || !platform::HasNonAscii(name)) {
    if (!doubleStarTail) return Glob(name.data(), name.size(), mask.data(), mask.size(), ignoreCase);
    std::string m(mask);
    CanonicalTail(m);
    return Glob(name.data(), name.size(), m.data(), m.size(), ignoreCase);
  }
  std::u32string n, m;
  Decode(name, n);
  Decode(mask, m);
  if (doubleStarTail) CanonicalTail(m);
  return Glob(n.data(), n.size(), m.data(), m.size(), ignoreCase);
}

}  // namespace archiver
