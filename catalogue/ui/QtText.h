// Conversions between the catalogue's ANSI text (Windows-1251) and the
// strings the widgets show, for where text is shown or typed.
#pragma once

#include <QString>
#include <string_view>

#include "platform/CodePage.h"

namespace catalogue {

// Every byte of 1251 has a code point in the Basic Multilingual Plane, so a
// byte is one QChar.
QString AnsiToQString(std::string_view ansi);
// Characters 1251 lacks become '?'.
platform::AnsiString QStringToAnsi(const QString& s);

}  // namespace catalogue
