// The settings file: what the settings dialog edits and what the main window
// keeps between runs.
//
// An INI file beside the program (AppState().iniPath), UTF-8, with these
// sections and keys, written in this order:
//
//   [PathFile]  LIB        archive folder                  (empty)
//               INP        index file                      (empty)
//               EXP        export folder                   (<data folder>/exp/)
//               FB2READER  reader program                  (empty)
//               USEINP     build from the index file, 1/0  (1)
//               FB2LRF     converter program               (empty)
//   [XXX]       SORT       "A" or "D" + book-list column   ("A0")
//               AR         text of the author filter       (empty)
//               DUP        hide duplicate books, 1/0       (1)
//               AUNO       selected author index           (0)
//               BOFI       file number of the selected book, empty when none
//   [WI]        AU         width of the author side        (200)
//               C0 .. C6   widths of the book-list columns (250 150 80 80 100 60 60)
//   [Font]      FontName   list font                       ("Tahoma")
//               CharSet    its character set               (1)
//               Size       its size in points              (8)
//               Style      bit 0 bold, 1 italic, 2 underline, 3 strike-out (0)
//
// Paths are kept as the user typed them; they are made absolute (absPath)
// only where they are used. A missing or malformed value reads as its
// default (a sort text the book list does not understand reads as "A0");
// sizes are clamped to what a window can show.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "catalogue/Browse.h"

namespace catalogue {

struct TAppState;

struct TSettings {
  // [PathFile]
  std::string libDir;
  std::string inpFile;
  std::string expDir;
  std::string readerProgram;
  bool useInp = true;
  std::string converterProgram;
  // [XXX]
  std::string sort = "A0";
  std::string authorFilter;
  bool hideDuplicates = true;
  int32_t authorIndex = 0;
  std::string bookFile;
  // [WI]
  int32_t authorWidth = 200;
  std::array<int32_t, kBookColumnCount> columnWidths = {250, 150, 80, 80, 100, 60, 60};
  // [Font]
  std::string fontName = "Tahoma";
  int32_t fontCharSet = 1;
  int32_t fontSize = 8;
  int32_t fontStyle = 0;

  bool operator==(const TSettings&) const = default;
};

// Font style bits of the "Style" key.
enum : int32_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// Limits that values read are clamped to (pixels, points): what a window
// can show, whatever a hand-edited or damaged file holds.
constexpr int32_t kMinAuthorWidth = 100;
// A book-list column stays wide enough to be seen and dragged wider; the
// titles, which tell the books apart, keep as much room as the authors.
constexpr int32_t kMinColumnWidth = 30;
constexpr int32_t kMinTitleColumnWidth = kMinAuthorWidth;
constexpr int32_t kMaxWidth = 2000;
constexpr int32_t kMinFontSize = 6;
constexpr int32_t kMaxFontSize = 72;

// The defaults, with `defaultExportDir` as the export folder.
TSettings DefaultSettings(const std::string& defaultExportDir);

// Reads the settings file; a missing file gives the defaults. Raises
// platform::EFileError when the file exists but cannot be read.
TSettings ReadSettings(const std::string& iniPath, const std::string& defaultExportDir);

// Writes every key, in the order above, keeping any other keys and comments
// the file holds. The file is replaced whole (never left half written).
// Raises platform::EFileError on failure, and for a read-only file, which
// stays as it is.
void WriteSettings(const std::string& iniPath, const TSettings& s);

// Whether the settings file exists and is read-only (this process may not
// write it; for root, its owner may not): the user made it so, or it is
// another user's, and it is left as it is.
bool SettingsFileReadOnly(const std::string& iniPath);
// What to say, once, about such a file (UTF-8).
std::string SettingsReadOnlyMessage(const std::string& iniPath);

// Copies what the rest of the program reads from the application state:
// the five paths, "use index file" and "hide duplicates".
void ApplySettings(const TSettings& s, TAppState& state);

}  // namespace catalogue
