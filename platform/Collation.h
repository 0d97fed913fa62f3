// The one "locale" order of Windows-1251 text.
//
// The engine's text comparisons that the system calls locale-aware use this
// fixed collation, the same on every machine and independent of the process
// locale (which the GUI toolkit changes):
//  - non-letters sort before letters, among themselves by byte value;
//  - Latin letters before Cyrillic ones, each in alphabet order; "ё" comes
//    right after "е", and the other Cyrillic letters of 1251 (Ukrainian,
//    Belarusian, Serbian, Macedonian) right after the letter they extend;
//  - case only breaks ties between texts that are otherwise equal, lower
//    case before upper case.
// Pure and thread-safe.
#pragma once

#include <string_view>

namespace platform {

// Negative, 0 or positive. Texts equal under the collation are byte-equal.
int AnsiCompareStr(std::string_view a, std::string_view b);
// The same with case ignored: "ЁЖ" and "ёж" are equal.
int AnsiCompareText(std::string_view a, std::string_view b);

}  // namespace platform
