// The expression function library: the functions any expression may call,
// independent of a table (UPPER, SUBSTR, STR, DTOS, IIF, ...). One object of
// each is registered in the global function registry when it is first used
// (xbFunctionRegistry, expr/expression.h); the table-bound functions (RECNO, DELETED,
// ...) are registered by each table on its own user link.
//
// Conventions of the library:
//  - Dates are Julian day numbers carried as doubles; the empty date is
//    xbEmptyDate (CTOD of an empty or impossible text gives it). A day
//    below 1 reads as empty too (a blank D field gives 0).
//  - Upper- and lower-casing use the one ANSI case table
//    (platform::AnsiUpperChar), with which the catalogue upper-cases author
//    names: an index on UPPER(...) orders as the catalogue does. The table
//    raises ё ґ є і ї ў as well; some other engines' UPPER in their
//    Windows-1251 setting leaves these six lower case. Each reads the
//    other's index files alike, but such an engine updating keys with these
//    letters in our index files loses track of them. Ours is kept: the
//    catalogue's order and prefix search depend on it.
//  - Numbers are read and written without the process locale.
//  - A text result is limited to xbMaxTextValue bytes (expr/expression.h).
//  - Counts below 0 act as 0.
#pragma once

#include <cstdint>

#include "xbase/expr/expression.h"

namespace xbase {

inline constexpr double xbEmptyDate = 1.0E100;

// True for the empty date: xbEmptyDate, a day below 1, or no number.
bool xbIsEmptyDate(double julian);

// The number as STR(v, width, dec) writes it into `out`: rounded half away
// from zero at `dec` decimals (0-400), right-aligned in `width` characters;
// false, and `width` '*'s, when it does not fit or is no finite number.
bool xbStrNumber(double v, int64_t width, int dec, AnsiString& out);

// Registers one object of every library function in `reg`.
void xbRegisterFunctionLibrary(TxbFunctionReg& reg);

}  // namespace xbase
