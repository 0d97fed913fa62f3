// The texts of the statistics box and the About box.
//
// Use from the GUI thread (the statistics are read through ReadMember).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/CodePage.h"

namespace catalogue {

using platform::AnsiString;

// Tomeshelf's home page.
inline constexpr char kHomePage[] = "https://tomeshelf.example.org/";

// What the statistics box shows: the statistics member "inf.txt" of the
// catalogue archive (ANSI; empty when the archive lacks it), or, when there
// is no catalogue archive or it cannot be read, a note saying so (UTF-8)
// in its place.
struct TCatalogueStatistics {
  AnsiString info;
  std::string note;
};
TCatalogueStatistics ReadCatalogueInfo();

// The statistics text laid out as a table (UTF-8 cells): one row per line,
// the line's texts between runs of TAB as its cells, so that texts that the
// TABs align stand in one column ("Авторов:" TAB TAB "3" and "Дублей книг:"
// TAB "2" both give two cells). Empty lines give no row.
std::vector<std::vector<std::string>> StatisticsTable(std::string_view ansiText);

// "Tomeshelf версия <version>" LF LF <closing line>.
std::string AboutText();

}  // namespace catalogue
