#include "catalogue/BookSink.h"

namespace catalogue {

const AnsiString& unknownAuthorName() {
  static const AnsiString name = platform::Utf8ToAnsi("Неизвестный автор");
  return name;
}

void assignClean(AnsiString& dst, std::string_view src) {
  // Controls become blanks and blanks are trimmed: together, trimming every
  // byte up to 0x20.
  size_t first = 0, last = src.size();
  while (first < last && static_cast<unsigned char>(src[first]) <= 0x20) ++first;
  while (last > first && static_cast<unsigned char>(src[last - 1]) <= 0x20) --last;
  dst.assign(src.data() + first, last - first);
  for (char& c : dst) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
}

void appendSeriesNumber(AnsiString& series, std::string_view number) {
  series += " #";
  if (number.size() < 2) series.append(2 - number.size(), ' ');
  series += number;
}

}  // namespace catalogue
