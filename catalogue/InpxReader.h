// Reading the index file: a zip archive whose members hold book records,
// UTF-8 text, one record per line (CR, LF or CR LF), fields separated by the
// byte 0x04. Fields used, numbered from 0:
//
//   0 authors   "Last,First,Middle:" per author
//   1 genres    FB2 genre ids, each followed by ":"
//   2 title     3 series     4 number in series    5 file number
//   6 size      8 deleted ("1")                    11 language
//
// A line must have the 12 fields 0 to 11; a 0x04 ending the line opens no
// field of its own.
#pragma once

#include <string>
#include <string_view>

#include "catalogue/BookSink.h"
#include "catalogue/Job.h"

namespace catalogue {

enum class TInpLine {
  ilBook,     // a book
  ilBadSize,  // a book whose size is not a number: stored as 0, a read error
  ilShort,    // fewer than 12 fields: no book, a read error
};

// Fills `book` (cleared first) from one record line in Windows-1251.
// Control characters in a field become blanks, and every field is trimmed of
// blanks. Authors: field 0 split at ":"; in each piece "," becomes a blank,
// then it is trimmed; a piece left empty is "Неизвестный автор", except an
// empty piece after the last ":", which names no one. Genres: field 1 split
// at ":" likewise, empty pieces dropped. An empty title is "???". A series
// with a number other than "0" gets " #" and the number, padded on the left
// to 2 and never cut; an empty series stays empty. A size of ASCII digits is
// kept without leading zeros, at most 99999999; an empty one is "0". The
// book is deleted when field 8 is "1".
TInpLine parseInpLine(std::string_view line, TBOOK& book);

// Reads every record of the index file `path` (UTF-8) into `sink`, in the
// archive's order: members whose name ends in ".inp" (any case) and every
// other member of at least 3,333 bytes; folders are passed over. A UTF-8
// byte-order mark is dropped; the text goes to Windows-1251 with one "?"
// per character it lacks and per malformed sequence. Each short line and
// bad size is a read error to the sink. Reports progress through `host`
// and ends early, having delivered whole books only, when a stop is
// requested. Raises the archiver's exception when the index file cannot be
// opened or a member cannot be read, and whatever the sink raises. Returns
// the number of members named ".inp" read (0: the file holds no book list,
// as a book archive picked by mistake does).
int readInpx(const std::string& path, TJobHost& host, TBookSink& sink);

}  // namespace catalogue
