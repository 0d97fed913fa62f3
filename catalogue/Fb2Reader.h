// Reading FB2 book headers: the book records of the archive folder when the
// index file is not used.
//
// Every "*.fb2" member of every "*.zip" archive is one book; its record
// comes from the <title-info> block at the head of the file. Only the head
// is inflated: 2,000 bytes at first, doubled (to 16,000 at most) while no
// title is found, and kept grown for the rest of the archive. The block is
// parsed by libxml2, without network access, entity substitution, DTD
// loading or recovery, so a malformed block gives no book.
//
// Fields from the direct children of <title-info> (elements without a
// namespace or in the FictionBook one; later ones overwrite, genres and
// authors accumulate):
//   book-title  the title          lang   the language
//   genre       a genre id         sequence  series: attribute "name",
//   author      last-name, first-name, middle-name     " #", attribute
//               joined by blanks ("Неизвестный автор"   "number" padded
//               when none has text)                      to 2 (blanks kept)
// An element's text is all its descendant text; texts go to Windows-1251
// ("?" for what it lacks), controls become blanks, and they are trimmed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "catalogue/BookSink.h"
#include "catalogue/Job.h"

namespace catalogue {

// One reading of FB2 heads, with its log. Holds a libxml2 parser; use from
// one thread. Not copyable.
class TFb2Reader {
 public:
  // Borrows `host` (progress, stop) and `sink` (books, read errors).
  TFb2Reader(TJobHost& host, TBookSink& sink);
  ~TFb2Reader();
  TFb2Reader(const TFb2Reader&) = delete;
  TFb2Reader& operator=(const TFb2Reader&) = delete;

  // Reads the archives of the folder `libDir` (UTF-8): its regular files
  // whose names end in ".zip" in any letter case, in byte order of their
  // names, until a stop is requested. Raises platform::EFileError when
  // `libDir` is not a folder, and whatever the sink raises.
  void readFb2Archives(const std::string& libDir);

  // Reads the books of one archive: its "*.fb2" members in any folder, in
  // the archive's order; the file number is the member's name less ".fb2",
  // cut to 8. An archive that cannot be opened, and a member that is
  // encrypted or cannot be read, is a read error to the sink and is passed
  // over. A book whose head gives no title within 16,000 bytes is skipped.
  // Stops after the current member when a stop is requested.
  void readFb2Zip(const std::string& zipPath);

  // Clears `book`, appends to the log the 1-based position of
  // "</title-info" in `head` (0 when absent) and a CR, and fills `book` from
  // the head's title-info block: the XML declaration in front of it (when
  // there is one before the block; without it the block is read as UTF-8),
  // a CR and the block through the ">" of "</title-info", with every
  // ":href" made "href". True when the book has a title. Never raises for
  // the head's content.
  bool parseFb2Header(std::string_view head, TBOOK& book);

  // The "*.fb2" members met in the archives read, titled or not.
  int64_t MembersFound() const;

  // The log of every head parsed by this reader, one line per try.
  const AnsiString& Log() const;
  // Saves the log as "zzz.txt" in `exportDir` (replacing it). False when it
  // cannot be written.
  bool saveLog(const std::string& exportDir) const;

 private:
  struct Rep;
  std::unique_ptr<Rep> rep_;
};

}  // namespace catalogue
