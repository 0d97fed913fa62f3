// Small routines shared by the catalogue units.
//
// All functions are pure and thread-safe.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/CodePage.h"

namespace catalogue {

using platform::AnsiString;

// The two bytes of a 16-bit number as stored in the catalogue's block files:
// high byte first, then low byte, as raw byte values.
AnsiString wordToChars(uint16_t v);
// The number stored in the first two bytes of `s` (first byte * 256 + second,
// bytes taken as unsigned). A byte that `s` lacks counts as 0, so a cut-off
// header never reads past its end.
uint16_t charsToWord(std::string_view s);

}  // namespace catalogue
