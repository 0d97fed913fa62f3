// The engine's system layer: text services and matching routines.
//
// Classless routines over the platform's code pages, case tables and
// collation, plus the soundex and wildcard routines of the expression
// language. Texts are Windows-1251 AnsiString; nothing here depends on the
// process locale. (The file, lock and flush services of this layer are
// platform::TFile, which XBO_DiskFile uses directly.) Pure and thread-safe
// except SleepMs, which blocks the caller.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/CodePage.h"

namespace xbase {

using platform::AnsiString;

// The four-character soundex code of `text` ("Robert" -> "R163"); empty for
// a text that is empty or blank. Only ASCII letters carry digits; H and W
// separate equal digits as vowels do.
AnsiString SoundexCode(std::string_view text);

// The fixed 1251 collation (platform/Collation.h): case breaks ties only /
// case ignored. Negative, 0 or positive.
int CompareTextCase(std::string_view a, std::string_view b);
int CompareTextNoCase(std::string_view a, std::string_view b);

// 1-based position of `sub` in `text`; 0 when absent or `sub` is empty.
int TextPos(std::string_view sub, std::string_view text);

// 0 when `text` does not match `pattern`, else non-zero. A pattern that
// begins with "*" matches where the rest stands anywhere in the text and
// returns its 1-based position ("*BC" in "ABCD" is 2; "?" is literal on this
// road); any other pattern must stand at the start of the text, "?" matching
// any character (so "BC" matches "BCD", not "ABCD"). One trailing "*" is
// ignored; "*" matches everything, the empty text included.
int WildcardMatch(std::string_view pattern, std::string_view text);

// Case conversion by the one ANSI case table.
inline AnsiString UpperCaseText(std::string_view text) { return platform::AnsiUpperCase(text); }
inline AnsiString LowerCaseText(std::string_view text) { return platform::AnsiLowerCase(text); }

// Byte-wise (unsigned) comparison; a proper prefix is smaller.
int CompareBuffers(std::string_view a, std::string_view b);

// `len` bytes of `src` from ANSI (1251) to OEM (866) into `dst`, and back;
// for tables whose text is stored in the OEM code page. A character the
// target lacks becomes '?'. `src` and `dst` may be the same buffer.
void CharToOemBuffer(const char* src, char* dst, size_t len);
void OemToCharBuffer(const char* src, char* dst, size_t len);

// Waits `ms` milliseconds.
void SleepMs(unsigned ms);

// The folder of the engine's settings file "xbase.cfg" (table aliases): the
// user's configuration folder.
std::string WindowsDirectory();

}  // namespace xbase
