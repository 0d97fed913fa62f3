// Small routines shared by the catalogue units, and the FB2 genre table.
//
// All functions are pure and thread-safe, except absPath and programPath,
// which read the program folder from the application state (fixed once at
// start-up), and programPath also the disk and PATH.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CodePage.h"

namespace catalogue {

using platform::AnsiString;

// --- the genre table -------------------------------------------------------

// One row of the genre table: the two-letter code stored in the catalogue,
// the Russian name shown in the genre column (UTF-8) and the FB2 genre id.
// Neither codes nor ids are unique: a code may stand for two names and an id
// for two codes; the conversions keep every match, in row order.
struct TGenre {
  const char* code;
  const char* name;
  const char* id;
};

// The 232 rows, in the order in which they are searched.
std::span<const TGenre> GenreTable();

// The codes of the rows whose id equals each of `ids` exactly (case-sensitive),
// id by id, rows in table order; unknown ids add nothing.
AnsiString genresToCodes(const std::vector<std::string>& ids);

// The names of every row whose code equals each complete two-letter code of
// `codes` (an odd last character is ignored), joined by ","; cut to at most
// 999 characters. ANSI, like the rest of a book's data.
AnsiString codesToGenres(std::string_view codes);
constexpr size_t kGenreTextMax = 999;

// --- fixed-width fields ----------------------------------------------------

// The first n characters of s, followed by blanks up to n.
AnsiString padRight(std::string_view s, size_t n);
// The last n characters of s when it has at least n, else s after blanks up
// to n.
AnsiString padLeft(std::string_view s, size_t n);
// padLeft of the decimal text of v.
AnsiString intToStrPadLeft(int64_t v, size_t n);

// The two bytes of a 16-bit number as stored in the catalogue's block files:
// high byte first, then low byte, as raw byte values.
AnsiString wordToChars(uint16_t v);
// The number stored in the first two bytes of `s` (first byte * 256 + second,
// bytes taken as unsigned). A byte that `s` lacks counts as 0, so a cut-off
// header never reads past its end.
uint16_t charsToWord(std::string_view s);

inline std::string iifStr(bool c, std::string a, std::string b) { return c ? a : b; }
inline int64_t iifInt(bool c, int64_t a, int64_t b) { return c ? a : b; }

// --- files and paths -------------------------------------------------------

// Creates or replaces the file `path` (UTF-8) with the bytes of s, through a
// temporary file renamed over it so that a failure keeps the old file.
// Returns false on failure (callers that do not care need not look).
bool saveStrToFile(std::string_view s, const std::string& path);

// The pieces of a path between '/' characters; empty pieces are dropped.
std::vector<std::string> splitPath(std::string_view p);

// `rel` resolved against the folder `base`: an absolute rel (beginning with
// '/') is returned as it is; otherwise "." pieces are skipped and ".." goes
// up one piece, never above the root of an absolute base (a relative base may
// be used up). The result keeps a final '/' only when rel ends with one or is
// empty; it begins with '/' when base does.
std::string expandRelativePath(std::string_view base, std::string_view rel);

// A path from the settings as the program uses it: unchanged when absolute,
// else resolved against the program folder.
std::string absPath(std::string_view p);
// A program from the settings (the FB2 reader, the converter) as it is
// started: a bare command name ("fbreader", "xdg-open") that names no file
// in the program folder is looked up in PATH; anything else, and a name
// found nowhere, as absPath gives it.
std::string programPath(std::string_view p);

// The program's version as "major.minor.release.build", set by the build.
std::string getVersionText();

}  // namespace catalogue
