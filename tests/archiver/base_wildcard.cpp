// Mask matching: the archiver's own rules, and no blow-up on many stars.
#include <gtest/gtest.h>

#include <string>

#include "archiver/ZAStrFunc.h"

using archiver::MatchesWildcard;

namespace {

// The plain recursive matcher, exponential on purpose: short enough to check
// by eye, and the real matcher must agree with it everywhere.
bool Reference(const std::u32string& n, size_t i, const std::u32string& m, size_t j) {
  while (m.substr(j) != U"*") {
    if (i == n.size()) return j == m.size();
    if (j == m.size()) return false;
    if (m[j] == U'*') {
      for (size_t k = i; k < n.size(); ++k)
        if (Reference(n, k, m, j + 1)) return true;
      return false;
    }
    if (m[j] != U'?' && m[j] != n[i]) return false;
    ++i;
    ++j;
  }
  return true;
}

}  // namespace

TEST(Wildcard, DocumentedCases) {
  struct Case {
    const char* mask;
    const char* name;
    bool ignoreCase;
    bool expected;
  };
  const Case cases[] = {
      {"*.*", "README", false, true},   {"*.*", "", false, true},         {"*", "", false, true},
      {"*", "anything.at.all", false, true},
      {"abc*", "abc", false, true},     {"abc**", "abc", false, false},   {"abc**", "abcd", false, true},
      {"*.fb2", "x.fb2", false, true},  {"*.fb2", "x.fb2.bak", false, false},
      {"*.fb2*", "x.fb2", false, true}, {"*.fb2*", "x.fb2.bak", false, true},
      {"a?c", "abc", false, true},      {"a?c", "ac", false, false},
      {"*.TXT", "a.txt", true, true},   {"*.TXT", "a.txt", false, false},
      {"x*.*", "x", false, false},      {"x*.*", "x.y", false, true},
      {"", "", false, true},            {"", "a", false, false},          {"a", "", false, false},
      {"a*b", "ab", false, true},       {"a*b", "axxb", false, true},     {"a*b", "axxbc", false, false},
      {"?", "", false, false},          {"*?", "a", false, true},         {"**", "", false, false},
      // IgnoreCase folds only ASCII letters.
      {"ПРИВЕТ.txt", "привет.txt", true, false}, {"?ривет.txt", "Привет.txt", false, true},
      {"b.fb2", "B.FB2", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mask) + " vs " + c.name);
    EXPECT_EQ(MatchesWildcard(c.name, c.mask, c.ignoreCase), c.expected);
  }
}

TEST(Wildcard, StarDotStarIsSpecialOnlyAsTheWholeMask) {
  EXPECT_TRUE(MatchesWildcard("noext", "*.*", false));
  EXPECT_FALSE(MatchesWildcard("noext", "n*.*", false));
  EXPECT_FALSE(MatchesWildcard("ab", "a**.*", false));
}

TEST(Wildcard, AgreesWithTheRulesOnAllSmallCases) {
  // Every mask of up to 4 symbols over {a, я, *, ?} against every name of up
  // to 4 letters over {a, b, я} (a two-byte letter, so that `?` must take
  // whole characters).
  const std::u32string maskAlphabet = U"aя*?", nameAlphabet = U"abя";
  auto all = [](const std::u32string& alphabet) {
    std::vector<std::u32string> out{U""};
    for (size_t len = 0, from = 0; len < 4; ++len) {
      const size_t to = out.size();
      for (size_t k = from; k < to; ++k)
        for (char32_t c : alphabet) out.push_back(out[k] + c);
      from = to;
    }
    return out;
  };
  auto utf8 = [](const std::u32string& s) {
    std::string out;
    for (char32_t c : s) out += c == U'я' ? std::string("я") : std::string(1, static_cast<char>(c));
    return out;
  };
  int checked = 0;
  for (const auto& m : all(maskAlphabet))
    for (const auto& n : all(nameAlphabet)) {
      const bool ref = (m == U"*.*") || Reference(n, 0, m, 0);
      ASSERT_EQ(MatchesWildcard(utf8(n), utf8(m), false), ref) << "mask '" << utf8(m) << "' name '" << utf8(n) << "'";
      ++checked;
    }
  EXPECT_GT(checked, 30000);
}

TEST(Wildcard, ManyStarsDoNotTakeExponentialTime) {
  std::string mask;
  for (int i = 0; i < 40; ++i) mask += "*a";
  const std::string name = std::string(80, 'a') + "b";
  EXPECT_FALSE(MatchesWildcard(name, mask, false));
  EXPECT_TRUE(MatchesWildcard(std::string(80, 'a'), mask, false));
  // A long hostile mask against a long name still completes.
  std::string longMask;
  for (int i = 0; i < 2000; ++i) longMask += "*?";
  EXPECT_FALSE(MatchesWildcard(std::string(1000, 'x'), longMask, false));
}
