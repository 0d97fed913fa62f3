#include "catalogue/TitleSearch.h"

#include <cmath>

#include "catalogue/CatalogueFormat.h"
#include "catalogue/Job.h"

namespace catalogue {

bool matchMask(std::string_view mask, std::string_view text) {
  if (mask.empty()) return false;
  if (mask == "*") return true;
  if (text.empty()) return false;

  constexpr size_t npos = std::string_view::npos;
  size_t m = 0, t = 0;
  size_t resumeMask = npos;  // just after the last "*" seen
  size_t resumeText = 0;     // where the text stood when that "*" was met
  while (t < text.size()) {
    if (m < mask.size() && mask[m] == '*') {
      resumeMask = ++m;
      resumeText = t;
    } else if (m < mask.size() && (mask[m] == '?' || mask[m] == text[t])) {
      ++m;
      ++t;
    } else if (resumeMask != npos) {
      // Let the last "*" swallow one more byte and try again from there.
      m = resumeMask;
      t = ++resumeText;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

TTitleMask MakeTitleMask(std::string_view typed) {
  TTitleMask r;
  size_t plain = 0;  // characters besides "*"
  std::string mask;
  for (size_t pos = 0; pos < typed.size();) {
    const char32_t c = platform::DecodeUtf8(typed, pos);
    if (c != U'*') ++plain;
    platform::AppendUtf8(mask, c == U'%' ? U'*' : c);
  }
  if (typed.empty()) return r;
  // Stars alone would list every title; they get the answer a short text
  // gets rather than none at all.
  if (plain < 3) {
    r.verdict = TTitleMask::tmTooShort;
    return r;
  }
  AnsiString ansi = platform::Utf8ToAnsi(mask);
  if (ansi.find('*') == AnsiString::npos) ansi = '*' + ansi + '*';
  r.verdict = TTitleMask::tmSearch;
  r.mask = platform::AnsiUpperCase(ansi);
  return r;
}

std::string NoHitsMessage(std::string_view typed) {
  return "По запросу «" + std::string(typed) + "» ничего не найдено.";
}

std::string HitCountText(size_t hits) { return "Найдено книг: " + std::to_string(hits); }

std::string PartNotSearchedText(std::string_view damage) {
  return "Поиск прошёл не по всему списку книг: " + std::string(damage);
}

std::vector<TTitleHit> findBook(const AnsiString& mask, const std::vector<AnsiString>& authors,
                                bool hideDuplicates, const TBlockSource& blockOf, TJobHost& host) {
  TJobScope job(host);
  std::vector<TTitleHit> hits;
  host.showSB("Поиск ...", " ", " ");

  const auto& upper = platform::AnsiUpperTable();
  AnsiString title;
  const int32_t count = static_cast<int32_t>(authors.size());
  for (int32_t i = 0; i < count; ++i) {
    const TCatalogueBlock& block = blockOf(BlockOfAuthor(i));
    const TLineRange lines = block.AuthorLines(EntryOfAuthor(i));
    for (size_t k = lines.first; k < lines.first + lines.count; ++k) {
      const TBookFields f = SplitBookLine(block.Line(k));
      const bool duplicate = f[bfDuplicate] == "Y";
      if (hideDuplicates && duplicate) continue;
      title.resize(f[bfTitle].size());
      for (size_t c = 0; c < title.size(); ++c) {
        title[c] = static_cast<char>(upper[static_cast<unsigned char>(f[bfTitle][c])]);
      }
      if (matchMask(mask, title)) {
        hits.push_back({i, duplicate, authors[i], AnsiString(f[bfTitle]), AnsiString(f[bfFile])});
      }
    }
    if (i % 100 == 0) {
      const long percent = std::lround((i + 1) * 100.0 / count);
      host.showSB("", std::to_string(percent) + "%", "");
    }
  }
  host.showSB(" ", " ", " ");
  return hits;
}

}  // namespace catalogue
