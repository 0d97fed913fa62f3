#include "catalogue/ui/QtText.h"

#include <array>

namespace catalogue {

QString AnsiToQString(std::string_view ansi) {
  static const std::array<char16_t, 256> kChars = [] {
    std::array<char16_t, 256> t{};
    for (int b = 0; b < 256; ++b)
      t[b] = static_cast<char16_t>(platform::AnsiToUnicode(static_cast<unsigned char>(b)));
    return t;
  }();
  QString s(static_cast<qsizetype>(ansi.size()), Qt::Uninitialized);
  QChar* out = s.data();
  for (size_t i = 0; i < ansi.size(); ++i) out[i] = QChar(kChars[static_cast<unsigned char>(ansi[i])]);
  return s;
}

platform::AnsiString QStringToAnsi(const QString& s) {
  const QByteArray utf8 = s.toUtf8();
  return platform::Utf8ToAnsi(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

}  // namespace catalogue
