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
// What the home page command says when no browser could be started: the
// address, to be opened by hand.
std::string NoBrowserMessage();

// What the statistics box shows: the statistics member "inf.txt" of the
// catalogue archive (ANSI), and a note (UTF-8) above it when the catalogue
// is missing or damaged. A damaged catalogue is one that `knownDamage` (what
// the main window found, UTF-8) describes, or whose statistics cannot be
// read or are missing; its note says so and why, and `info` holds what
// could be read: the statistics, or failing them the number of authors of
// the author list, or nothing.
struct TCatalogueStatistics {
  AnsiString info;
  std::string note;
};
TCatalogueStatistics ReadCatalogueInfo(const std::string& knownDamage = {});

// The statistics text laid out as a table (UTF-8 cells): one row per line,
// the line's texts between runs of TAB as its cells, so that texts that the
// TABs align stand in one column ("Авторов:" TAB TAB "3" and "Дублей книг:"
// TAB "2" both give two cells). Empty lines give no row.
std::vector<std::vector<std::string>> StatisticsTable(std::string_view ansiText);

// "Tomeshelf версия <version>" LF LF <closing line>.
std::string AboutText();

}  // namespace catalogue
