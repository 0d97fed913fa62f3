// Table creation from field lines: a new table described as text, one line
// per field, "NAME;T;LEN;DEC" (for example "AU;N;10;0" or "NA;C;250;0").
//
// The whole list is checked before any file is touched, so a bad list
// leaves nothing behind; then the table (and its memo file, with a memo
// field) is written by the builder of the table kind, scrambled under a
// password when one is given.
#pragma once

#include <string>
#include <vector>

#include "platform/CodePage.h"

namespace xbase {

using platform::AnsiString;

// One field line taken apart.
struct TxbFieldSpec {
  AnsiString Name;
  char Type = 0;
  int Length = 0;
  int Decimals = 0;
};

// Splits a field line into `spec`; false when the line is bad. Blanks and
// ";" at the end of the line are dropped first; then NAME is the text
// before the first ";" (not empty), T exactly one character, LEN the text
// up to the third ";" and DEC the first three characters of the rest, both
// whole numbers (so "SZ;N;8" has no DEC and is bad). Blanks inside the line
// count as text.
bool ParseFieldSpec(const AnsiString& line, TxbFieldSpec& spec);

// Creates the table `FileName` (".DBF" added when it has no extension) with
// the fields of `Fields`, in order, by the builder of `TableType`: 2 dBase
// IV, 3 FoxPro, any other value dBase III. Lines that are empty after the
// end is trimmed are skipped. A list without fields, a bad line, a name
// that repeats an earlier one (compared upper-cased, on the 10 characters
// the table keeps), or a length or decimals count the table cannot hold
// raises EXBaseError 65210 "Field list is invalid" before anything is
// written. With a non-empty `Password` the new table is written scrambled
// with it (a field a scrambled table cannot hold is refused so too), in
// one step: a table it replaces stays as it was should that fail. True
// when the table was written. Errors creating the files pass through.
bool CreateTableFromFieldList(const std::string& FileName, const AnsiString& Password, int TableType,
                              const std::vector<AnsiString>& Fields);

}  // namespace xbase
