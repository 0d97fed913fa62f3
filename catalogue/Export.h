// Reading and exporting books: finding a book's archive by its file number,
// copying the book out, handing it to the FB2 reader, and exporting a list
// of books as FB2 files or, through the FB2-to-LRF converter, as LRF files
// into the export folder or onto the reader device.
//
// Book archives are the files "*.zip" (any letter case) of the archive
// folder named "prefix-first-last[anything].zip" (the prefix holds no "-"):
// such an archive may hold the books numbered first..last, each as the
// member "<file number>.fb2". A file number goes into a path only after
// isSafeFileNumber has passed it.
//
// Nothing is overwritten before its replacement is complete: a book is
// written under a temporary name in its target folder and renamed over the
// old copy only when it is whole.
//
// The user is told about problems through the TJobHost (message boxes with
// an empty caption). Use from the GUI thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/Job.h"
#include "platform/CodePage.h"

namespace catalogue {

using platform::AnsiString;

// The export kinds, as the Tags of the export menu's items.
enum TExportKind : int32_t {
  ekFB2 = 0,           // FB2 into the export folder
  ekLRF = 1,           // LRF into the export folder
  ekReaderDevice = 2,  // LRF into the books folder of the reader device
};

// --- the messages (UTF-8) ----------------------------------------------------

inline constexpr const char* kMsgNoReader =
    "Не найдена программа чтения FB2. Проверьте правильность имени программы в настройках.";
inline constexpr const char* kMsgNoConverter =
    "Не найдена программа конвертации в LRF. Проверьте правильность имени программы в настройках.";
inline constexpr const char* kMsgNothingSelected = "Ни одна книга не выделена!";
inline constexpr const char* kMsgNoDevice = "Устройство не найдено!";
inline constexpr const char* kMsgNoExportDir = "Каталог экспорта не найден!";
inline constexpr const char* kMsgExported = "Успешно экспортировано файлов ";
inline constexpr const char* kMsgNotExported = "Не экспортировано файлов ";
inline constexpr const char* kMsgNoArchiveDir = "Каталог архивов книг не найден: ";
inline constexpr const char* kMsgArchiveDirNotSet =
    "Каталог архивов книг не задан. Укажите его в настройках.";

// --- finding a book ----------------------------------------------------------

// Whether the file number `file` (ANSI) can stand as a plain file-name
// component: not empty, no "/", "\", "..", ":", "*", "?", '"' and no control
// character.
bool isSafeFileNumber(std::string_view file);

// The number of a safe file number: the decimal digits before its first "."
// (the whole text when there is none). Empty when it is unsafe, when that
// text is not all digits, or when the number is too large to be one.
std::optional<int64_t> fileNumberValue(std::string_view file);

// One book archive: its file name and the range of file numbers it may hold.
struct TBookArchive {
  std::string name;  // file name only (UTF-8)
  int64_t first = 0;
  int64_t last = 0;
};

// The range of a book archive's file name "prefix-first-last[...].zip":
// first is the text between the first and the second "-", last the text
// after the second "-", each read as its leading decimal digits (so
// "fb2-625127-625160_lost.zip" covers 625127..625160). Empty for a name
// without ".zip" (any case), with fewer than two "-" or without digits in
// either place.
std::optional<TBookArchive> archiveRange(const std::string& name);

// The book archives among the entries of `folder`, in byte order of their
// names; a folder so named is one too (one that cannot be read).
std::vector<TBookArchive> listBookArchives(const std::string& folder);

enum class TBookLookup {
  Found,
  BadFileNumber,  // unsafe, or not a number
  NotCovered,     // no archive's range holds the number
  NotInArchive,   // the archives that cover it were read and do not hold it
  ArchiveUnreadable,  // an archive that covers it could not be read, and no
                      // other holds it
};

// Where a book is.
struct TBookSource {
  TBookLookup result = TBookLookup::BadFileNumber;
  std::string archive;  // the archive's file name (without folder) when found
  std::string member;   // the member's stored name when found
  // ArchiveUnreadable: `archive` is the first covering archive that could
  // not be read, and this why, in the user's words with its path (UTF-8).
  std::string reason;
};

// Finds book `file` (ANSI file number) among `archives` of `folder`: every
// archive whose range holds its number is opened in turn (in the order
// given) until one holds the member: the item stored as "<file>.fb2" at the
// archive's root, else the first item in a sub-folder with that name (the
// name compared without regard to ASCII letter case). An archive that
// cannot be opened is passed over.
TBookSource findArchiveOfFile(const std::vector<TBookArchive>& archives, const std::string& folder,
                              const AnsiString& file);
// The same in the archive folder of the settings.
TBookSource findArchiveOfFile(const AnsiString& file);

// The archive folder of the settings, made absolute ("" when not set).
std::string archiveFolder();
// What to tell the user when the archive folder is not set or does not
// exist ("Каталог архивов книг не найден: <folder>"); empty when it exists.
std::string archiveFolderProblem();

// Copies member `member` (its stored name) of the zip archive `zipPath`
// byte for byte to `destFolder`/`newName` (`newName` empty: the member's
// name without its folder). It is written in a temporary folder inside
// `destFolder` and moved over the target only when complete. Raises the archiver's exception when the archive
// cannot be opened or the member is missing or damaged, and
// platform::EFileError when the file cannot be written; the target is
// then as it was.
void extractZipMember(const std::string& zipPath, const std::string& member,
                      const std::string& destFolder, const std::string& newName = {});

// --- reading -------------------------------------------------------------------

// Opens book `file` (ANSI file number) in the FB2 reader: copies it to the
// work folder as "<file>.fb2" and starts the reader (the settings' program)
// with that copy's path as its one argument, without waiting (it keeps
// running after this program ends). A missing reader or archive folder, a
// book that cannot be found or read, a work folder that cannot be written
// and a reader that cannot be started (named with the reason) are told
// through `host`. True when the reader was started.
bool readBook(TJobHost& host, const AnsiString& file);

// --- export ----------------------------------------------------------------------

struct TExportCounts {
  int32_t succeeded = 0;
  int32_t failed = 0;
  // The books of `failed` that no archive holds ("<file>.fb2", UTF-8).
  std::vector<std::string> notFound;
  // The books of `failed` not read because an archive that covers them
  // could not be read: by archive, in the order met.
  struct TUnreadArchive {
    std::string reason;              // why, with the archive's path
    std::vector<std::string> books;  // "<file>.fb2"
  };
  std::vector<TUnreadArchive> unreadArchives;
  // A stop, or a read or write error, ended the export before its last
  // book was done.
  bool stopped = false;
};

// Exports the books `files` (ANSI file numbers, in the order given) as
// `kind`, as one job of `host`:
//  - nothing to export: "Ни одна книга не выделена!";
//  - ekReaderDevice: the books folder of the reader device is looked for
//    (findReaderBooksDir) and kept in AppState().deviceDir; none:
//    "Устройство не найдено!"; otherwise the export folder of the settings
//    must exist: "Каталог экспорта не найден!"; and so must the archive
//    folder (archiveFolderProblem);
//  - then each book in turn, the status bar showing its name and "<k> из
//    <n>": ekFB2 copies the member as "<file>.fb2" into
//    the export folder; the LRF kinds copy it to the work folder, run the
//    converter "-s <converter's folder>/default_styles.sini -i <copy> -o
//    <target>/<file>.lrf" and wait for it (exit code 0 and an output file
//    are success), then delete the copy. A missing converter, and one
//    that cannot be started (named with the reason), is told for each
//    book; one that runs and fails is named with its exit code and the
//    last lines of its error output, once while it fails every book the
//    same way. A book that cannot be found, or that the converter fails
//    on, or whose archive cannot be opened, counts as not exported and the
//    export goes on; a read or write error is told (a write error with
//    the file written) and ends the export there (that book not
//    exported), as does the user's stop request: between books, or at
//    once while the converter runs (it is ended, its output dropped, and
//    that book not counted);
//  - at the end one box: "Экспорт прерван: обработано файлов <k> из <n>"
//    when a stop or an error ended it early, "Успешно экспортировано
//    файлов <n>" (when n > 0), "Не экспортировано файлов <m>" (when m >
//    0), the books not found in the archives by name, and for each archive
//    that could not be read its books and the reason, on separate lines.
// Returns the counts.
TExportCounts expFiles(TJobHost& host, const std::vector<AnsiString>& files, int32_t kind);

// Removes the staging folders of LRF exports (".tomeshelf-" and a random
// part) that a crash or a kill left in `folder`: those no running export,
// of this program or another, holds. Each LRF export does so in its target
// folder before it begins. Returns the number removed.
int RemoveStagingLeftovers(const std::string& folder);

}  // namespace catalogue
