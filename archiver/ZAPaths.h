// Paths, stored names and file-system helpers of the archiver.
//
// Path algebra is POSIX: '/' separates, a path is absolute when it begins
// with '/', ':' is an ordinary character, and there are no drives or UNC
// prefixes. The helpers keep the system's names (ZAIncludeTrailingBackslash
// adds the platform's delimiter, which is '/').
//
// Stored names (the 8-bit names in the zip headers): a name is written in the
// code page the archive uses (866 with OEM names, else 1251) when that code
// page holds every character, else as UTF-8 with general-purpose bit 11.
// Stored paths always use '/' and never begin with '/'.
//
// All functions are reentrant; those that touch the disk say so.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "archiver/ZAOptions.h"

namespace archiver {

// --- stored names --------------------------------------------------------

// General-purpose flag bit 11: the stored name is UTF-8.
inline constexpr uint16_t ZAFlagUtf8Name = 0x0800;

// Encodes an item name (UTF-8) for the headers. With `oemFileNames` the code
// page written is 866, else 1251; the name is stored in it when converting
// back gives the same name, and the result is false. Otherwise `stored`
// is the UTF-8 name, whole, and the result is true: the caller sets bit 11.
// The bytes returned are final: the caller converts nothing more. A name
// longer than the 65,535 bytes a header holds raises EZAException (61).
bool ZANameToStoredAnsi(std::string_view name, std::string& stored, bool oemFileNames);

// Decodes stored name bytes. With `oemCodePage` (the caller passes: OEM names
// on, zip flavour, bit 11 clear) the bytes are first taken from 866 to 1251.
// Then bytes with a byte >= 0x80 that form valid UTF-8 are UTF-8, whatever
// bit 11 says; all others are read in their code page (866 or 1251).
std::string ZADecodeStoredName(std::string_view stored, bool oemCodePage);

// --- paths -----------------------------------------------------------------

// `baseDir` when not empty, else `currentDir`, with a trailing '/'.
std::string ZAGetBaseDir(const std::string& baseDir, const std::string& currentDir);
// The full path of `fileName` against `baseDir` (relative base dirs are taken
// against `currentDir`; an empty `currentDir` means the process's current
// folder). An empty `fileName` gives the expanded base with a trailing '/',
// or `baseDir` itself when it is not empty and not an existing folder
// (touches the disk for that test only).
std::string ZAGetFullPath(const std::string& baseDir, const std::string& fileName,
                          const std::string& currentDir);
// The path stored in the archive for a file on disk:
//  spNoPath            the file name alone;
//  spRelativePath      the path relative to the base folder, or the full
//                      path when the file lies outside it;
//  spFullPath and spFullPathWithDrive (the same on Linux)  the full path.
// Always without a leading '/', '\' turned into '/', one trailing '/'
// dropped; empty for the root or for the base folder itself.
std::string ZAGetStoredPath(const std::string& fileName, const std::string& baseDir,
                            TZAStorePathMode mode, const std::string& currentDir);

std::string ZAIncludeTrailingBackslash(const std::string& s);
std::string ZAExcludeTrailingBackslash(const std::string& s);
std::string ZAExtractFileName(const std::string& path);
// The folder part with its trailing '/' ("" when there is none).
std::string ZAExtractFilePath(const std::string& path);
std::string ZAExtractFileExt(const std::string& path);
// Makes `path` absolute against `currentDir` (empty: the process's current
// folder) and removes ".", ".." and doubled delimiters lexically; a trailing
// '/' stays. Links are not resolved.
std::string ZAExpandFileName(const std::string& path, const std::string& currentDir = {});
// `dest` relative to the folder of `base` (a base folder ends in '/'),
// climbing with "../" where the two part ways.
std::string ZAExtractRelativePath(const std::string& base, const std::string& dest);
std::string ZAGetCurrentDir();

// --- text --------------------------------------------------------------------

// ASCII-only case change; other bytes stay as they are.
std::string ZALowerCase(std::string_view s);
std::string ZAUpperCase(std::string_view s);
bool ZAMatchesMask(std::string_view name, std::string_view mask, bool ignoreCase);
enum : unsigned { rfReplaceAll = 1, rfIgnoreCase = 2 };
// Replaces the first (or with rfReplaceAll every) occurrence of `oldPattern`;
// rfIgnoreCase compares ASCII letters without case.
std::string ZAStringReplace(std::string_view s, std::string_view oldPattern,
                            std::string_view newPattern, unsigned flags);
// Bytes the text takes as UTF-16 (two per code unit).
int64_t ZAByteLength(std::string_view s);
void ZAFillChar(void* buffer, uint8_t value, int64_t count);

// --- files and folders (all touch the disk) ---------------------------------

bool ZADirectoryExists(const std::string& path);
bool ZAFileExists(const std::string& path);
bool ZAForceDirectories(const std::string& path);
bool ZADeleteFile(const std::string& path);
bool ZARenameFile(const std::string& from, const std::string& to);
// Copies the bytes, permissions and modification time. With `failIfExists`
// an existing target is left alone and the result is false. Copying a file
// onto itself fails rather than truncating it.
bool ZACopyFile(const std::string& source, const std::string& dest, bool failIfExists);
// DOS attributes: -1 when missing (see platform/FileAttributes.h).
int ZAFileGetAttr(const std::string& path);
bool ZAFileSetAttr(const std::string& path, int attr);
// DOS date-time of the file's modification time; -1 when missing.
int64_t ZAFileAge(const std::string& path);

// A folder search by mask. Found entries are regular files and folders (links
// followed; dangling links, devices, pipes and sockets never), without "."
// and "..", in name order. Folders are found only when `attr` holds 0x10.
// A mask without wildcards finds that exact name, or else the names that
// equal it without regard to case (files written on Windows); a mask with
// wildcards is matched without regard to ASCII case.
struct TZASearchRec {
  std::string Name;      // name only
  int64_t Size = 0;
  int Attr = 0;          // DOS attributes
  uint32_t Time = 0;     // DOS date-time of the modification time
  std::time_t MTime = 0;

  struct Entry {
    std::string name;
    int64_t size;
    int attr;
    std::time_t mtime;
  };
  std::vector<Entry> entries;  // the search state
  size_t next = 0;
};
// True when something was found (into `rec`); `pathMask` is a folder path plus
// a mask, e.g. "/books/*.fb2".
bool ZAFindFirst(const std::string& pathMask, int attr, TZASearchRec& rec);
bool ZAFindNext(TZASearchRec& rec);
void ZAFindClose(TZASearchRec& rec);

// --- drives --------------------------------------------------------------------

// There are no floppy drive letters on Linux: always false.
bool ZAIsFloppyDrive(const std::string& path);
// Whether the block device that holds `path` is removable.
bool ZAIsRemovableDrive(const std::string& path);
// Removes `dir` and every folder below it that is (or becomes) empty; stops
// with false at the first subfolder that cannot be removed. Files are never
// deleted and links are not followed. True when `dir` is gone afterwards.
bool ZARemoveEmptyDirTree(const std::string& dir);

}  // namespace archiver
