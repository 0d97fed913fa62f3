// Title search: every book of the catalogue whose title matches a mask.
//
// The user types part of a title, with optional wildcards; the search walks
// the books of every author, block by block through the shared block cache,
// and collects the hits. Titles and masks are ANSI (Windows-1251) and are
// compared upper-cased, so letter case does not matter.
//
// matchMask and MakeTitleMask are pure; findBook reads blocks and reports to a
// job host, so it belongs to the GUI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CodePage.h"

namespace catalogue {

using platform::AnsiString;

class TCatalogueBlock;
class TJobHost;

// Byte-wise wildcard match: "*" matches any run of bytes (also none), "?"
// exactly one byte, any other byte itself. An empty mask matches nothing; the
// mask "*" matches everything, an empty text included; otherwise an empty
// text matches nothing. On a mismatch the match resumes after the last "*"
// with the text advanced by one byte, so "*?B" matches "ABB".
bool matchMask(std::string_view mask, std::string_view text);

// The message for a search text that is too short.
inline constexpr char kTooShortMessage[] = "Не меньше 3-х символов для поиска";

// What a search says besides its hits (UTF-8).
// No title matched the text typed (`typed`, UTF-8).
std::string NoHitsMessage(std::string_view typed);
// The hits are asked for again (Ctrl+F) before any search.
inline constexpr char kMsgNoSearchYet[] =
    "Поиска по названию ещё не было: введите часть названия книги в поле поиска и нажмите Enter.";
// The number of hits, shown with them.
std::string HitCountText(size_t hits);
// Part of the catalogue could not be searched; `damage` says what.
std::string PartNotSearchedText(std::string_view damage);

// What the typed search text asks for.
struct TTitleMask {
  enum TVerdict {
    tmEmpty,     // nothing typed: do nothing
    tmTooShort,  // fewer than 3 characters besides "*" (stars alone too):
                 // say kTooShortMessage
    tmSearch     // search with `mask`
  } verdict = tmEmpty;
  AnsiString mask;  // upper-cased ANSI mask
};

// Builds the mask from the text typed in the search box (UTF-8): "%" stands
// for "*" (it counts as a character for the length rule, "*" does not); a
// text without "*" is searched anywhere in the title ("*" text "*").
// Characters Windows-1251 lacks become "?", which matches any one.
TTitleMask MakeTitleMask(std::string_view typed);

// One book found.
struct TTitleHit {
  int32_t authorIndex = 0;
  bool duplicate = false;  // flagged deleted: shown grey
  AnsiString author;       // the author's name as it was when found
  AnsiString title;
  AnsiString file;  // file number
};

// Block file n of the catalogue, parsed. The main window passes CachedBlock
// (Browse.h), which reads through the shared one-block cache; tests pass
// blocks of their own. May raise (a damaged archive).
using TBlockSource = std::function<const TCatalogueBlock&(int32_t block)>;

// Searches the books of `authors` (the author array, catalogue order) for
// titles matching `mask` (as made by MakeTitleMask), skipping duplicates when
// `hideDuplicates`. Asks `blockOf` for each author's block in turn (so each
// block once). Reports "Поиск ..." and the percentage done through `host`,
// and marks itself as a running job there (controls disabled until it
// returns, also when it raises). A block that cannot be read raises; a
// damaged block yields the books it holds.
std::vector<TTitleHit> findBook(const AnsiString& mask, const std::vector<AnsiString>& authors,
                                bool hideDuplicates, const TBlockSource& blockOf, TJobHost& host);

}  // namespace catalogue
