#include "catalogue/Browse.h"

#include <algorithm>
#include <exception>

#include "catalogue/AppState.h"
#include "catalogue/FailureText.h"
#include "catalogue/Func.h"
#include "catalogue/MemberReader.h"
#include "platform/Files.h"

namespace catalogue {

// --- the author list -------------------------------------------------------

bool LoadAuthorList() {
  TAppState& st = AppState();
  if (!platform::FileExists(st.dbzPath)) return false;
  // However many names "a.txt" holds: real collections pass 100,000 authors.
  st.authors = ParseAuthorList(ReadMember(st.dbzPath, kAuthorListMember));
  return true;
}

namespace {

// True when the statistics member `inf` counts no authors: the first line
// ends in the number 0. A catalogue built from no books is empty, not
// damaged.
bool CountsNoAuthors(std::string_view inf) {
  const std::string_view first = inf.substr(0, inf.find_first_of("\r\n"));
  const size_t tab = first.find_last_of('\t');
  return tab != std::string_view::npos && first.substr(tab + 1) == "0";
}

}  // namespace

TCatalogueLoad LoadCatalogue() {
  TAppState& st = AppState();
  st.blockCache.Clear();
  st.authors.clear();
  if (!platform::FileExists(st.dbzPath)) return {};
  try {
    LoadAuthorList();
    if (st.authors.empty() && !CountsNoAuthors(ReadMember(st.dbzPath, kInfoMember)))
      return {TCatalogueLoad::clDamaged, "в нём нет списка авторов (a.txt)."};
  } catch (const std::exception& e) {
    st.authors.clear();
    return {TCatalogueLoad::clDamaged, FailureReason(e)};
  }
  return {TCatalogueLoad::clLoaded, {}};
}

int32_t findAuthor(const std::vector<AnsiString>& authors, std::string_view text) {
  if (authors.empty()) return -1;
  const AnsiString key = platform::AnsiUpperCase(text);

  // -1, 0 or 1 as the upper-cased first key.size() bytes of `name` sort
  // before, equal or after the key, byte by byte, unsigned.
  auto comparePrefix = [&key](std::string_view name) {
    const size_t n = std::min(name.size(), key.size());
    for (size_t i = 0; i < n; ++i) {
      const unsigned char a = platform::AnsiUpperChar(static_cast<unsigned char>(name[i]));
      const unsigned char b = static_cast<unsigned char>(key[i]);
      if (a != b) return a < b ? -1 : 1;
    }
    return name.size() < key.size() ? -1 : 0;
  };

  // The first name whose prefix does not sort before the key.
  size_t lo = 0, hi = authors.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (comparePrefix(authors[mid]) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo == authors.size() || comparePrefix(authors[lo]) != 0) return -1;
  return static_cast<int32_t>(lo);
}

// --- the block cache -------------------------------------------------------

const TCatalogueBlock& CachedBlock(int32_t block) {
  TBlockCache& cache = AppState().blockCache;
  if (cache.number != block) {
    // Empty first: a failed read must not leave the old block under the new
    // number.
    cache.Clear();
    cache.block = TCatalogueBlock(ReadMember(AppState().dbzPath, BlockMemberName(block)));
    cache.number = block;
  }
  return cache.block;
}

const TCatalogueBlock& CheckedBlock(int32_t block, std::string& damage) {
  damage.clear();
  const std::string member = BlockMemberName(block);
  const TCatalogueBlock* b = nullptr;
  try {
    b = &CachedBlock(block);
  } catch (const std::exception& e) {
    static const TCatalogueBlock kEmpty;
    damage = "блок " + member + " не читается: " + FailureReason(e);
    return kEmpty;
  }
  const int64_t authors = static_cast<int64_t>(AppState().authors.size());
  const int64_t expected =
      std::clamp<int64_t>(authors - int64_t{block} * kAuthorsPerBlock, 0, kAuthorsPerBlock);
  if (b->Bytes().empty() && expected > 0) {
    damage = "в нём нет блока " + member + ".";
  } else if (b->AuthorCount() != expected) {
    damage = "блок " + member + " описывает " + std::to_string(b->AuthorCount()) +
             " авторов вместо " + std::to_string(expected) + ".";
  } else if (b->Damaged()) {
    damage = "строки книг блока " + member + " не сходятся с его заголовком.";
  }
  return *b;
}

// --- the books of an author ------------------------------------------------

TAuthorBooks BooksOfAuthor(const TCatalogueBlock& block, int32_t entry, bool hideDuplicates) {
  TAuthorBooks books;
  const TLineRange range = block.AuthorLines(entry);
  books.count = range.count;
  books.rows.reserve(range.count);
  for (size_t i = range.first; i < range.first + range.count; ++i) {
    const TBookFields fields = SplitBookLine(block.Line(i));
    if (hideDuplicates && fields[bfDuplicate] == "Y") continue;
    TBookRow& row = books.rows.emplace_back();
    for (int f = 0; f < kBookFieldCount; ++f) row.field[f] = fields[f];
    row.genreNames = codesToGenres(fields[bfGenres]);
  }
  return books;
}

TAuthorBooks ReadAuthorBooks(int32_t index, bool hideDuplicates, std::string& damage) {
  const TCatalogueBlock& block = CheckedBlock(BlockOfAuthor(index), damage);
  return BooksOfAuthor(block, EntryOfAuthor(index), hideDuplicates);
}

// --- what the user is told ---------------------------------------------------

std::string CatalogueDamagedMessage(const std::string& dbzPath, const std::string& reason) {
  std::string text = "Список книг " + dbzPath +
                     " повреждён или не читается.\nНажмите «Создать список книг», чтобы создать "
                     "его заново.";
  if (!reason.empty()) text += "\n\nПричина: " + reason;
  return text;
}

// --- columns and sort order ------------------------------------------------

TSortTag ColumnSortTag(int32_t column) {
  switch (column) {
    case bcDate:
      return TSortTag::Date;
    case bcSize:
    case bcFile:
      return TSortTag::Number;
    default:
      return TSortTag::Text;
  }
}

std::string_view ColumnText(const TBookRow& row, int32_t column) {
  switch (column) {
    case bcTitle:
      return row.field[bfTitle];
    case bcSeries:
      return row.field[bfSeries];
    case bcGenre:
      return row.genreNames;
    case bcDate:
      return row.field[bfDate];
    case bcLanguage:
      return row.field[bfLanguage];
    case bcSize:
      return row.field[bfSize];
    case bcFile:
      return row.field[bfFile];
    default:
      return {};
  }
}

AnsiString SortText(TSortTag tag, std::string_view s) {
  switch (tag) {
    case TSortTag::Number: {
      constexpr size_t kWidth = 10;
      if (s.size() >= kWidth) return AnsiString(s.substr(s.size() - kWidth));
      return AnsiString(kWidth - s.size(), '0') + AnsiString(s);
    }
    case TSortTag::Date: {
      // "dd.mm.yyyy": characters 7-10, 4-5 and 1-2 (counted from 1).
      auto piece = [s](size_t from, size_t n) {
        return from < s.size() ? s.substr(from, n) : std::string_view();
      };
      AnsiString r(piece(6, 4));
      r += piece(3, 2);
      r += piece(0, 2);
      return r;
    }
    case TSortTag::Text:
      break;
  }
  return AnsiString(s);
}

int32_t ClampSortColumn(int32_t column) { return std::clamp(column, 0, kBookColumnCount - 1); }

TSortState ParseSortText(std::string_view text) {
  if (text.size() != 2 || (text[0] != 'A' && text[0] != 'D') || text[1] < '0' ||
      text[1] >= '0' + kBookColumnCount)
    return {};
  return {text[1] - '0', text[0] == 'D'};
}

std::string FormatSortText(const TSortState& state) {
  std::string text(1, state.descending ? 'D' : 'A');
  text += std::to_string(state.column);
  return text;
}

TSortState ColumnClicked(const TSortState& state, int32_t column) {
  column = ClampSortColumn(column);
  return {column, column == state.column ? !state.descending : false};
}

}  // namespace catalogue
