// One book as the book-list build reads it, and where the readers put it.
//
// The two readers (the index file, InpxReader.h; the FB2 heads, Fb2Reader.h)
// turn the collection into TBOOK records and hand each to a TBookSink; the
// build's driver is the sink that stages them in the book table
// (BookTable.h). The readers screen every book's data: a line, member or
// archive they cannot use is skipped and reported to the sink as a read
// error, so that whatever the sink raises is a failure of the build itself
// (a full disk), never of one book.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/CodePage.h"

namespace catalogue {

using platform::AnsiString;

// One book while reading. Every string is 8-bit (Windows-1251). The readers
// fill bookName, seria, author, genre, lang, fname, fsize and del; the rest
// stay empty. Text fields hold no control characters (they became blanks)
// and are trimmed, except seria, which an FB2 head gives as it stands.
struct TBOOK {
  AnsiString bookName;
  AnsiString seria;  // series with " #NN" when numbered
  std::vector<AnsiString> author;
  std::vector<AnsiString> genre;  // FB2 genre ids
  AnsiString date;
  AnsiString lang;
  AnsiString anno;
  AnsiString srcLang;
  AnsiString publName;
  AnsiString publCity;
  AnsiString publYear;
  AnsiString ISBN;
  AnsiString fname;  // file number
  AnsiString fsize;  // size in bytes, decimal without leading zeros
  bool del = false;  // flagged deleted (a duplicate)

  // Empties every field, keeping the strings' storage for the next book.
  void Clear() {
    for (AnsiString* s : {&bookName, &seria, &date, &lang, &anno, &srcLang, &publName, &publCity,
                          &publYear, &ISBN, &fname, &fsize})
      s->clear();
    author.clear();
    genre.clear();
    del = false;
  }
};

// The author name that stands for "no author known" (Windows-1251).
const AnsiString& unknownAuthorName();

// dst := src with every control character (below 0x20) as a blank, trimmed
// of blanks on both sides.
void assignClean(AnsiString& dst, std::string_view src);

// Appends " #" and the series number, padded on the left with blanks to 2
// characters and never cut ("5" gives " # 5", "123" gives " #123").
void appendSeriesNumber(AnsiString& series, std::string_view number);

// Where the readers deliver. Used from the reading thread only.
class TBookSink {
 public:
  virtual ~TBookSink() = default;

  // One book read, in reading order; `file` is its file number (book.fname).
  // A book may come without authors. Raises only on a failure that must end
  // the build.
  virtual void appendBook(const TBOOK& book, const AnsiString& file) = 0;

  // The reader skipped a line, member or archive of the collection, or kept
  // a book whose size it could not read (stored as 0): counted for the
  // "Ошибки при чтении файлов" message at the end of reading.
  virtual void readError() = 0;
};

}  // namespace catalogue
