// Code pages and case tables.
//
// Two kinds of text travel through the system, both in std::string and never
// mixed in one variable:
//  - "Unicode" text (paths, archive item names, UI strings): UTF-8;
//  - "ANSI" text (the engine's values and keys, the catalogue's members):
//    Windows-1251, marked AnsiString. The OEM code page is 866.
// Conversions happen only at boundaries and only through this unit. A
// character the target code page lacks becomes '?' (0x3F); nothing is
// dropped and nothing becomes 0x1A. Byte 0x98, undefined in 1251, maps to
// U+0098 and back so that raw bytes survive a round trip.
//
// All functions are pure and thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace platform {

using AnsiString = std::string;

// --- UTF-8 -----------------------------------------------------------------

// True when `s` is well-formed UTF-8 (no overlongs, no surrogates, <= U+10FFFF).
bool IsValidUtf8(std::string_view s);
// True when `s` has a byte >= 0x80.
bool HasNonAscii(std::string_view s);
// Decodes one code point at `pos` and advances it; malformed input yields
// U+FFFD and advances by one byte.
char32_t DecodeUtf8(std::string_view s, size_t& pos);
void AppendUtf8(std::string& out, char32_t cp);
// Number of code points.
size_t Utf8Length(std::string_view s);

// Unicode simple case mapping, code point by code point.
std::string Utf8Upper(std::string_view s);
std::string Utf8Lower(std::string_view s);
char32_t UnicodeUpper(char32_t cp);
char32_t UnicodeLower(char32_t cp);

// --- Windows-1251 ("ANSI") and 866 ("OEM") ----------------------------------

// The code point of each byte (bytes a code page leaves undefined map to the
// C1 control of the same value, so they pass through unchanged).
char32_t AnsiToUnicode(unsigned char b);
char32_t OemToUnicode(unsigned char b);
// The byte for a code point, or -1 when the code page lacks it.
int UnicodeToAnsi(char32_t cp);
int UnicodeToOem(char32_t cp);

std::string AnsiToUtf8(std::string_view ansi);
// From UTF-8: a character the code page lacks becomes one '?', and so does
// each maximal invalid subpart of malformed input (as Python's
// decode(errors="replace") followed by the encoding: a truncated sequence is
// one '?', a stray continuation byte another). `lossless`, when given, is set
// to false if any '?' was made.
AnsiString Utf8ToAnsi(std::string_view utf8, bool* lossless = nullptr);
std::string OemToUtf8(std::string_view oem);
std::string Utf8ToOem(std::string_view utf8, bool* lossless = nullptr);
AnsiString OemToAnsi(std::string_view oem);
std::string AnsiToOem(std::string_view ansi);

// The one ANSI case table pair, derived from Unicode simple case mapping
// restricted to Windows-1251 (index order and prefix search depend on it).
unsigned char AnsiUpperChar(unsigned char b);
unsigned char AnsiLowerChar(unsigned char b);
AnsiString AnsiUpperCase(std::string_view s);
AnsiString AnsiLowerCase(std::string_view s);
// The upper-case table itself, for loops that upper-case byte after byte on
// a hot path without a call per byte.
const unsigned char (&AnsiUpperTable())[256];

// The bytes a password feeds to a cipher. Passwords are held as UTF-8 text;
// ciphers see their Windows-1251 bytes, as 8-bit passwords always were. A
// password that 1251 cannot represent is taken as its UTF-8 bytes rather
// than turned into '?' (which would make unrelated passwords equal).
std::string PasswordBytes(std::string_view utf8Password);

}  // namespace platform
