// Browsing the catalogue without widgets: the author list, the search by the
// beginning of a name, the one-block cache, the books of one author and the
// rules of their sort order. The main window and the title search are thin
// clients of this unit; it reads the catalogue archive only through
// ReadMember (MemberReader.h).
//
// Text is ANSI (Windows-1251) throughout, as the catalogue stores it; the
// window converts where text is shown or typed. Use from the GUI thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/CatalogueFormat.h"

namespace catalogue {

// --- the author list -------------------------------------------------------

// Fills AppState().authors from "a.txt" of the catalogue archive, as many
// names as it holds. Returns false, leaving the array as it is, when there is
// no catalogue archive; raises when the archive cannot be read.
bool LoadAuthorList();

// The first author whose upper-cased name begins with the upper-cased `text`
// (ANSI), or -1 when none does or the list is empty; an empty text finds
// author 0. `authors` must be in catalogue order: ascending by the bytes of
// their upper-cased names, which is the order the build writes.
int32_t findAuthor(const std::vector<AnsiString>& authors, std::string_view text);

// --- the block cache -------------------------------------------------------

// The block file `block` of the catalogue archive, from AppState().blockCache
// when it holds that block, else read into it (a member the archive lacks
// gives an empty block). When the read fails the cache is left empty and the
// error is raised, so a later call tries again.
const TCatalogueBlock& CachedBlock(int32_t block);

// --- the books of an author ------------------------------------------------

// One book as the list shows it.
struct TBookRow {
  std::array<AnsiString, kBookFieldCount> field;  // the book line's fields
  AnsiString genreNames;                          // codesToGenres(field[bfGenres])

  // A duplicate (the index flags the book deleted): greyed, or hidden when
  // duplicates are hidden.
  bool Duplicate() const { return field[bfDuplicate] == "Y"; }
};

struct TAuthorBooks {
  std::vector<TBookRow> rows;  // the books shown, in block order
  size_t count = 0;            // the author's books, hidden duplicates included
};

// The books of entry `entry` (author index mod 1000) of `block`; duplicates
// are left out when `hideDuplicates`. Never reads outside the block.
TAuthorBooks BooksOfAuthor(const TCatalogueBlock& block, int32_t entry, bool hideDuplicates);

// --- columns and sort order ------------------------------------------------

// The book list's columns, in order.
enum TBookColumn : int32_t {
  bcTitle = 0,
  bcSeries,
  bcGenre,
  bcDate,
  bcLanguage,
  bcSize,
  bcFile,
  kBookColumnCount
};

// How a column's texts are turned into sort texts.
enum class TSortTag { Text = 0, Number = 1, Date = 2 };
TSortTag ColumnSortTag(int32_t column);

// The text a column shows for a row (ANSI); empty for a column out of range.
std::string_view ColumnText(const TBookRow& row, int32_t column);

// The text that sorts in place of `s`: numbers right-aligned with zeros to 10
// characters (their last 10 when longer); dates "dd.mm.yyyy" reordered to
// "yyyymmdd" (what a shorter text lacks is left out); other texts as they
// are. The sort then compares these texts without regard to letter case.
AnsiString SortText(TSortTag tag, std::string_view s);

struct TSortState {
  int32_t column = 0;  // 0..kBookColumnCount-1
  bool descending = false;

  bool operator==(const TSortState&) const = default;
};

// A column index brought into 0..kBookColumnCount-1.
int32_t ClampSortColumn(int32_t column);

// The sort state of the settings text: "A" (ascending) or "D" (descending)
// followed by the column's digit. Anything else ("Z?", "A9", "") gives "A0".
TSortState ParseSortText(std::string_view text);
// "A" or "D" followed by the column in decimal.
std::string FormatSortText(const TSortState& state);

// The state after a click on the header of `column`: the sort column clicked
// again turns its direction, another column sorts ascending.
TSortState ColumnClicked(const TSortState& state, int32_t column);

}  // namespace catalogue
