// The catalogue archive format: the program's own book list.
//
// The catalogue archive is a zip archive of 8-bit text members in the ANSI
// code page (Windows-1251), all at its root:
//
//   "a.txt"    the author names in catalogue order (ascending upper-cased
//              names), each line ended by CR LF; line k is author index k.
//              A name is never empty ("???" stands for a missing one).
//   "inf.txt"  "Авторов:" TAB TAB <authors> LF "Книг:" TAB TAB <books> LF
//              "Дублей книг:" TAB <duplicates>   (decimal, no padding, no LF
//              after the last line)
//   "<n>.txt"  block file n (n decimal, no leading zeros, from 0): the books
//              of authors n*1000 .. n*1000+999
//
// Block file, byte offsets from the start of the member; every number is an
// unsigned 16-bit big-endian value (high byte first):
//
//   offset   size   field
//   0        2      N, the number of authors in this block (1..1000)
//   2        4*N    one entry per author, in author order:
//                     start (2)  0-based line of the author's first book line
//                     count (2)  number of the author's book lines
//   2+4N     1      CR (0x0D)
//   3+4N     rest   the book lines of all authors of the block, in author
//                   order, each ended by a single CR (no LF)
//
//   start(0) = 0 and start(j+1) = start(j) + count(j), stored modulo 65,536.
//   An author without books keeps its entry with count 0.
//
// A block may hold more than 65,535 book lines, which 16-bit starts cannot
// address; the stored starts then wrap. Readers therefore take each start as
// the running sum of the counts before it, which equals the stored start
// whenever the block fits. A count cannot exceed 65,535: the writer keeps an
// author's first 65,535 lines, drops the rest (so the sums stay aligned) and
// reports the cut to its caller.
//
// Book line: eight fields separated by TAB (0x09):
//   0 title, 1 series (" #NN" appended when numbered), 2 file number,
//   3 size in bytes, 4 genre codes (2 letters each), 5 date, 6 language,
//   7 "Y" when the book is flagged deleted (a duplicate), else "N".
//   An empty field is nothing between two TABs.
//
// Every reader of block files (the books of an author, the title search)
// goes through TCatalogueBlock, which checks every header entry against the
// bytes present and never reads out of range, whatever the member holds.
//
// All functions are pure; the classes are not thread-safe but may be used
// from any one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CodePage.h"

namespace catalogue {

using platform::AnsiString;

constexpr int32_t kAuthorsPerBlock = 1000;
constexpr uint32_t kMaxAuthorLines = 65535;
inline constexpr char kAuthorListMember[] = "a.txt";
inline constexpr char kInfoMember[] = "inf.txt";

// Block number and entry within the block of an author index (>= 0).
constexpr int32_t BlockOfAuthor(int32_t authorIndex) { return authorIndex / kAuthorsPerBlock; }
constexpr int32_t EntryOfAuthor(int32_t authorIndex) { return authorIndex % kAuthorsPerBlock; }
// The member name of block file n: "0.txt", "1.txt", ...
std::string BlockMemberName(int32_t block);

// --- "a.txt" ---------------------------------------------------------------

// The names of an author list. A name ends at CR; LF bytes are skipped, so
// "A" CR LF "B" CR LF gives {"A", "B"}. Empty lines give no name and text
// after the last CR is not taken (a list cut short loses its last name).
std::vector<AnsiString> ParseAuthorList(std::string_view text);

// --- "inf.txt" -------------------------------------------------------------

struct TCatalogueInfo {
  int64_t authors = 0;     // authors in the author table
  int64_t books = 0;       // book records read
  int64_t duplicates = 0;  // of those, flagged deleted
};
AnsiString FormatCatalogueInfo(const TCatalogueInfo& info);

// --- book lines ------------------------------------------------------------

enum TBookField : int {
  bfTitle = 0,
  bfSeries,
  bfFile,
  bfSize,
  bfGenres,
  bfDate,
  bfLanguage,
  bfDuplicate,
  kBookFieldCount
};
using TBookFields = std::array<std::string_view, kBookFieldCount>;

// The eight fields joined by TAB, without the line's CR. A TAB, CR or LF
// inside a field would split the line or shift every later line of the
// block, so each becomes a blank.
AnsiString FormatBookLine(const TBookFields& fields);
// The same line appended to `out`.
void AppendBookLine(AnsiString& out, const TBookFields& fields);
// The fields of a book line; fields the line lacks are empty, text after an
// eighth TAB stays in the last field. The views point into `line`.
TBookFields SplitBookLine(std::string_view line);

// --- block files: reading --------------------------------------------------

struct TLineRange {
  size_t first = 0;  // index of the first line (TCatalogueBlock::Line)
  size_t count = 0;
};

// One block file, parsed: its header entries and its book lines.
//
// Owns a copy of the member bytes; lines are handed out as views into them,
// valid while the block lives and is not assigned to.
class TCatalogueBlock {
 public:
  // An empty block: no authors, no lines.
  TCatalogueBlock() = default;
  // Parses `bytes` (the whole member). Never fails: a damaged or cut-off
  // member yields the entries and lines that are present (see Damaged()).
  explicit TCatalogueBlock(AnsiString bytes);

  // Header entries present: N, or fewer when the header is cut off.
  int32_t AuthorCount() const { return static_cast<int32_t>(counts_.size()); }
  size_t LineCount() const { return lines_.size(); }
  // Line i without its line end; i < LineCount().
  std::string_view Line(size_t i) const {
    return std::string_view(bytes_).substr(lines_[i].pos, lines_[i].len);
  }
  // The lines of entry `entry` (an author index mod 1000): starts at the
  // running sum of the counts before it, cut to the lines present. An entry
  // outside 0..AuthorCount()-1 has no lines.
  TLineRange AuthorLines(int32_t entry) const;
  // The stored count of entry `entry` (0 outside the header). Can exceed
  // AuthorLines(entry).count when the member is damaged.
  uint16_t StoredCount(int32_t entry) const;

  // True when the member does not agree with itself: header cut off, missing
  // CR after it, stored starts that are not the running sums, or a line
  // count different from the sum of the counts.
  bool Damaged() const { return damaged_; }
  const AnsiString& Bytes() const { return bytes_; }

 private:
  struct TSpan {
    size_t pos, len;
  };
  AnsiString bytes_;
  std::vector<uint16_t> counts_;
  std::vector<size_t> firstLine_;  // running sums; one more than counts_
  std::vector<TSpan> lines_;
  bool damaged_ = false;
};

// --- the whole catalogue: writing ------------------------------------------

// Writes the members of a catalogue from authors given in catalogue order and
// their book lines, handing each finished member to a sink (which typically
// saves it in the work folder before the members are packed).
//
// Block file n is handed over as soon as author n*1000+999 is complete (when
// the next author begins, or at Finish); "a.txt" and "inf.txt" at Finish.
class TCatalogueWriter {
 public:
  using TMemberSink = std::function<void(const std::string& memberName, const AnsiString& bytes)>;

  // An author whose book lines passed 65,535: only the first 65,535 were
  // written.
  struct TCutAuthor {
    int32_t authorIndex;
    uint64_t droppedLines;
  };

  explicit TCatalogueWriter(TMemberSink sink);
  TCatalogueWriter(const TCatalogueWriter&) = delete;
  TCatalogueWriter& operator=(const TCatalogueWriter&) = delete;

  // Starts the next author; its author index is AuthorsWritten() before the
  // call. An empty name is stored as "???", CR and LF in a name as blanks, so
  // "a.txt" and the block entries stay line for line aligned.
  void AddAuthor(std::string_view name);
  // Appends one book of the current author (AddAuthor must have been
  // called). Returns false when the author already has 65,535 lines: the
  // book is not written and is counted in CutAuthors().
  bool AddBook(const TBookFields& fields);
  // AddBook of a line as FormatBookLine gives it.
  bool AddBookLine(std::string_view line);
  // Hands over the last block, then "a.txt" and "inf.txt" (with `info`,
  // whose author count should be AuthorsWritten(): a build stopped early
  // reports the authors it wrote). The writer must not be used afterwards.
  void Finish(const TCatalogueInfo& info);

  int32_t AuthorsWritten() const { return authorsWritten_; }
  const std::vector<TCutAuthor>& CutAuthors() const { return cut_; }

 private:
  void FlushBlock();
  // Counts one more line of the current author; false (the line counted as
  // cut) when it already has 65,535.
  bool TakeLine();

  TMemberSink sink_;
  AnsiString authorList_;
  std::vector<uint16_t> counts_;  // entries of the block being built
  AnsiString lines_;              // its book lines
  int32_t authorsWritten_ = 0;
  int32_t block_ = 0;
  std::vector<TCutAuthor> cut_;
};

}  // namespace catalogue
