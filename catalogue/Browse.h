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

// What loading the catalogue archive found.
struct TCatalogueLoad {
  enum TState {
    clMissing,  // no catalogue archive yet: the author list is empty
    clLoaded,   // the author list is read (blocks are checked as they are read)
    clDamaged   // the archive cannot be read or is no catalogue: the list is empty
  } state = clMissing;
  std::string reason;  // clDamaged: why (UTF-8; may end with the archiver's text)
};

// Loads the catalogue archive afresh: empties the block cache and fills
// AppState().authors from "a.txt" (emptied when it cannot be read). An
// archive that holds neither an author nor a statistics member whose count
// of authors is 0 is taken as damaged (a catalogue cut short loses its last
// members). Never raises for a damaged or unreadable archive.
TCatalogueLoad LoadCatalogue();

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

// The block file `block`, read through the cache as CachedBlock does and
// checked against the author list: it must hold one entry for each of its
// authors (1,000, fewer in the last block) and agree with itself. Never
// raises: when the member cannot be read an empty block is returned; in
// either case `damage` says what is wrong (UTF-8), and stays empty for a
// sound block. A block that cannot be read leaves the cache empty, so the
// next call reads it again.
const TCatalogueBlock& CheckedBlock(int32_t block, std::string& damage);

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

// The books of author `index` of the catalogue archive, from its checked
// block (CheckedBlock): what could be read, and in `damage` why it may not
// be all (empty when the block is sound). Never raises for a damaged
// catalogue.
TAuthorBooks ReadAuthorBooks(int32_t index, bool hideDuplicates, std::string& damage);

// --- what the user is told (UTF-8) -------------------------------------------

// The status-bar text when there is no catalogue yet: how to make one.
inline constexpr const char* kMsgNoCatalogue =
    "Списка книг ещё нет. Укажите в настройках файл списка книг (librusec.inpx) или каталог "
    "архивов книг и нажмите «Создать список книг».";
// The status-bar text once the catalogue has been found damaged.
inline constexpr const char* kMsgCatalogueDamagedNote =
    "Список книг повреждён. Нажмите «Создать список книг», чтобы создать его заново.";
// The status-bar text for an author whose books could not be read.
inline constexpr const char* kMsgAuthorBooksUnreadable =
    "Книги автора не прочитаны: список книг повреждён. Нажмите «Создать список книг», чтобы "
    "создать его заново.";
// The message for a damaged or unreadable catalogue archive `dbzPath`:
// it names the file, says how to make a new one and ends with `reason`.
std::string CatalogueDamagedMessage(const std::string& dbzPath, const std::string& reason);

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
