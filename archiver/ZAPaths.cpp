#include "archiver/ZAPaths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archiver/ZAExcept.h"
#include "archiver/ZAStrFunc.h"
#include "platform/CodePage.h"
#include "platform/Drives.h"
#include "platform/FileAttributes.h"
#include "platform/Files.h"

namespace archiver {

// --- stored names --------------------------------------------------------

bool ZANameToStoredAnsi(std::string_view name, std::string& stored, bool oemFileNames) {
  // Test the round trip through the code page that is actually written: a
  // name that 1251 holds but 866 does not must not reach the disk as '?'.
  bool lossless = true;
  std::string bytes = oemFileNames ? platform::Utf8ToOem(name, &lossless) : platform::Utf8ToAnsi(name, &lossless);
  bool utf8 = false;
  if (!lossless || (oemFileNames ? platform::OemToUtf8(bytes) : platform::AnsiToUtf8(bytes)) != name) {
    bytes.assign(name);
    utf8 = true;
  }
  if (bytes.size() > 0xFFFF) throw EZAException(ZA_ERR_FILE_NAME_TOO_LONG, {}, {std::string(name)});
  stored = std::move(bytes);
  return utf8;
}

std::string ZADecodeStoredName(std::string_view stored, bool oemCodePage) {
  if (!oemCodePage) {
    if (platform::HasNonAscii(stored) && platform::IsValidUtf8(stored)) return std::string(stored);
    return platform::AnsiToUtf8(stored);
  }
  // OEM bytes are looked at in 1251 before the UTF-8 test: Cyrillic in 866
  // forms valid UTF-8 far more often ("сон" is E1 AE AD) than in 1251.
  const std::string ansi = platform::OemToAnsi(stored);
  if (platform::HasNonAscii(ansi) && platform::IsValidUtf8(ansi)) return ansi;
  // Decoded from 866 directly, so that characters 1251 lacks (box drawing)
  // are not lost on the way.
  return platform::OemToUtf8(stored);
}

// --- paths -----------------------------------------------------------------

std::string ZAIncludeTrailingBackslash(const std::string& s) {
  return (!s.empty() && s.back() == '/') ? s : s + '/';
}

std::string ZAExcludeTrailingBackslash(const std::string& s) {
  return (!s.empty() && s.back() == '/') ? s.substr(0, s.size() - 1) : s;
}

std::string ZAExtractFileName(const std::string& path) { return platform::ExtractFileName(path); }
std::string ZAExtractFilePath(const std::string& path) { return platform::ExtractFilePath(path); }
std::string ZAExtractFileExt(const std::string& path) { return platform::ExtractFileExt(path); }

std::string ZAGetCurrentDir() { return platform::GetCurrentDir(); }

std::string ZAExpandFileName(const std::string& path, const std::string& currentDir) {
  if (!path.empty() && path[0] == '/') return platform::NormalizePath(path);
  return platform::NormalizePath(
      ZAIncludeTrailingBackslash(currentDir.empty() ? ZAGetCurrentDir() : currentDir) + path);
}

std::string ZAExtractRelativePath(const std::string& base, const std::string& dest) {
  auto split = [](const std::string& folder) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < folder.size()) {
      size_t p = folder.find('/', i);
      if (p == std::string::npos) p = folder.size();
      if (p > i) parts.push_back(folder.substr(i, p - i));
      i = p + 1;
    }
    return parts;
  };
  const auto b = split(ZAExtractFilePath(base));
  const auto d = split(ZAExtractFilePath(dest));
  size_t common = 0;
  while (common < b.size() && common < d.size() && b[common] == d[common]) ++common;
  std::string out;
  for (size_t i = common; i < b.size(); ++i) out += "../";
  for (size_t i = common; i < d.size(); ++i) out += d[i] + '/';
  return out + ZAExtractFileName(dest);
}

std::string ZAGetBaseDir(const std::string& baseDir, const std::string& currentDir) {
  return ZAIncludeTrailingBackslash(baseDir.empty() ? currentDir : baseDir);
}

std::string ZAGetFullPath(const std::string& baseDir, const std::string& fileName,
                          const std::string& currentDir) {
  const std::string cur = currentDir.empty() ? ZAGetCurrentDir() : currentDir;
  const std::string base = ZAGetBaseDir(baseDir, cur);
  if (!fileName.empty()) return ZAExpandFileName(fileName[0] == '/' ? fileName : base + fileName, cur);
  if (!baseDir.empty() && !platform::DirectoryExists(ZAExpandFileName(base, cur))) return baseDir;
  return ZAExpandFileName(base, cur);
}

std::string ZAGetStoredPath(const std::string& fileName, const std::string& baseDir,
                            TZAStorePathMode mode, const std::string& currentDir) {
  const std::string cur = currentDir.empty() ? ZAGetCurrentDir() : currentDir;
  const std::string base = ZAGetFullPath(baseDir, {}, cur);
  std::string full = ZAGetFullPath({}, fileName, cur);
  // A folder is stored by its name. A trailing '.' of a name is part of the
  // name on Linux, not noise: only whole "." components (gone after
  // expansion) are dropped.
  if (!full.empty() && (full.back() == '/' || full.back() == '\\')) full.pop_back();

  std::string rest;
  switch (mode) {
    case spNoPath:
      rest = ZAExtractFileName(full);
      break;
    case spRelativePath: {
      const std::string rel = ZAExtractRelativePath(ZAGetBaseDir(base, cur), full);
      rest = rel.find("../") != std::string::npos ? full : rel;
      break;
    }
    case spFullPath:
    case spFullPathWithDrive:
      rest = full;
      break;
  }
  if (!rest.empty() && (rest[0] == '/' || rest[0] == '\\')) rest.erase(0, 1);
  std::replace(rest.begin(), rest.end(), '\\', '/');
  return rest;
}

// --- text --------------------------------------------------------------------

std::string ZALowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

std::string ZAUpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

bool ZAMatchesMask(std::string_view name, std::string_view mask, bool ignoreCase) {
  return MatchesWildcard(name, mask, ignoreCase);
}

std::string ZAStringReplace(std::string_view s, std::string_view oldPattern, std::string_view newPattern,
                            unsigned flags) {
  if (oldPattern.empty()) return std::string(s);
  const bool ignoreCase = flags & rfIgnoreCase;
  const std::string hay = ignoreCase ? ZALowerCase(s) : std::string(s);
  const std::string needle = ignoreCase ? ZALowerCase(oldPattern) : std::string(oldPattern);
  std::string out;
  size_t from = 0;
  for (;;) {
    const size_t p = hay.find(needle, from);
    if (p == std::string::npos) break;
    out.append(s.substr(from, p - from));
    out.append(newPattern);
    from = p + needle.size();
    if (!(flags & rfReplaceAll)) break;
  }
  out.append(s.substr(from));
  return out;
}

int64_t ZAByteLength(std::string_view s) {
  int64_t units = 0;
  size_t pos = 0;
  while (pos < s.size()) units += platform::DecodeUtf8(s, pos) >= 0x10000 ? 2 : 1;
  return units * 2;
}

void ZAFillChar(void* buffer, uint8_t value, int64_t count) {
  if (buffer != nullptr && count > 0) std::memset(buffer, value, static_cast<size_t>(count));
}

// --- files and folders ---------------------------------------------------------

bool ZADirectoryExists(const std::string& path) { return platform::DirectoryExists(path); }
bool ZAFileExists(const std::string& path) { return platform::FileExists(path); }
bool ZAForceDirectories(const std::string& path) { return platform::ForceDirectories(path); }
bool ZADeleteFile(const std::string& path) { return platform::DeleteFile(path); }
bool ZARenameFile(const std::string& from, const std::string& to) { return platform::RenameFile(from, to); }
int ZAFileGetAttr(const std::string& path) { return platform::FileGetAttr(path); }
bool ZAFileSetAttr(const std::string& path, int attr) { return platform::FileSetAttr(path, attr); }
int64_t ZAFileAge(const std::string& path) { return platform::FileAgeDos(path); }

bool ZACopyFile(const std::string& source, const std::string& dest, bool failIfExists) {
  return platform::CopyFile(source, dest, failIfExists);
}

bool ZAFindFirst(const std::string& pathMask, int attr, TZASearchRec& rec) {
  ZAFindClose(rec);
  std::string folder = ZAExtractFilePath(pathMask);
  const std::string mask = ZAExtractFileName(pathMask);
  if (mask.empty()) return false;
  const std::string dirPath = folder.empty() ? std::string("./") : folder;
  const int excludeAttr = ~attr & (platform::faHidden | platform::faSysFile | platform::faVolumeID |
                                   platform::faDirectory);
  const bool wild = mask.find_first_of("*?") != std::string::npos;

  // Folders and regular files only: no fifos, devices or dangling links.
  auto consider = [&](const platform::TFileInfo& fi) {
    int a;
    if (S_ISDIR(fi.mode))
      a = platform::faDirectory;
    else if (S_ISREG(fi.mode))
      a = platform::faArchive | ((fi.mode & S_IWUSR) ? 0 : platform::faReadOnly);
    else
      return;
    if (a & excludeAttr) return;
    rec.entries.push_back({fi.name, S_ISREG(fi.mode) ? fi.size : 0, a, fi.mtime});
  };

  platform::TFileInfo exact;
  if (!wild && platform::GetFileInfo(dirPath + mask, exact)) {
    consider(exact);
  } else {
    const std::string lowerMask = wild ? std::string() : platform::Utf8Lower(mask);
    // Listed in name order.
    for (const platform::TFileInfo& fi : platform::ListFolder(dirPath))
      if (wild ? MatchesWildcard(fi.name, mask, true) : platform::Utf8Lower(fi.name) == lowerMask) consider(fi);
  }
  return ZAFindNext(rec);
}

bool ZAFindNext(TZASearchRec& rec) {
  if (rec.next >= rec.entries.size()) return false;
  const auto& e = rec.entries[rec.next++];
  rec.Name = e.name;
  rec.Size = e.size;
  rec.Attr = e.attr;
  rec.MTime = e.mtime;
  rec.Time = platform::DateTimeToDosDateTime(e.mtime);
  return true;
}

void ZAFindClose(TZASearchRec& rec) {
  rec.entries.clear();
  rec.entries.shrink_to_fit();
  rec.next = 0;
}

// --- drives --------------------------------------------------------------------

bool ZAIsFloppyDrive(const std::string&) { return false; }

bool ZAIsRemovableDrive(const std::string& path) { return platform::IsRemovablePath(path); }

bool ZARemoveEmptyDirTree(const std::string& dir) {
  const std::string d = ZAIncludeTrailingBackslash(dir);
  // Links to folders are entries of this folder, not folders to descend into.
  for (const platform::TFileInfo& fi : platform::ListFolder(d))
    if (fi.isDir && !fi.isLink && !ZARemoveEmptyDirTree(d + fi.name + '/')) return false;
  return platform::RemoveFolder(d);
}

}  // namespace archiver
