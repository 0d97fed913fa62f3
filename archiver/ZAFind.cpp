#include "archiver/ZAFind.h"

#include <algorithm>

#include "archiver/ZAPaths.h"
#include "archiver/ZAStrFunc.h"

namespace archiver {

namespace {

// The attribute bits a search can leave out: hidden, system, volume, folder.
constexpr uint32_t kExcludableAttr = 0x1E;

std::string WithoutTrailingSlash(const std::string& name) {
  if (!name.empty() && (name.back() == '/' || name.back() == '\\'))
    return name.substr(0, name.size() - 1);
  return name;
}

bool CheckFindAttr(uint32_t itemAttr, int32_t searchAttr) {
  return (itemAttr & ~static_cast<uint32_t>(searchAttr) & kExcludableAttr) == 0;
}

bool MatchesAny(const std::string& name, const std::vector<std::string>* masks) {
  if (!masks) return false;
  return std::any_of(masks->begin(), masks->end(),
                     [&](const std::string& m) { return ZAMatchName(name, m); });
}

bool MatchItem(const TZASearchScope& scope, const TDirItem& item, const TInternalSearchRec& h) {
  if (h.UseProperties)
    return MatchesAny(item.Name, scope.FileMasks) && !MatchesAny(item.Name, scope.ExclusionMasks);
  const std::string name = WithoutTrailingSlash(item.Name);
  if (!ZAMatchName(name, h.CFindMask) && !ZAMatchName(ZAExtractFileName(name), h.CFindMask))
    return false;
  return !ZAMatchName(name, h.ExclusionMask);
}

void Fill(const TDirItem& item, TZAArchiveItem& F) {
  const std::string name = WithoutTrailingSlash(item.Name);
  F.FileName = ZAExtractFileName(name);
  F.StoredPath = ZAExtractFilePath(name);
  F.CompressedSize = static_cast<int64_t>(item.CompressedSize());
  F.UncompressedSize = static_cast<int64_t>(item.UncompressedSize());
  F.CompressionRate =
      F.UncompressedSize > 0
          ? (1.0 - static_cast<double>(F.CompressedSize) / static_cast<double>(F.UncompressedSize)) * 100.0
          : 100.0;
  if (F.CompressionRate < 0) F.CompressionRate = 0;
  F.Encrypted = (item.CentralDir.genPurposeFlag & ZA_FLAG_ENCRYPTED) != 0;
  F.LastModFileDate = item.CentralDir.lastModDate;
  F.LastModFileTime = item.CentralDir.lastModTime;
  F.CRC = item.CentralDir.crc32;
  F.ExternalFileAttributes = item.CentralDir.externalAttr;
  F.Comment = item.Comment;
}

bool InternalFindNext(const TZASearchScope& scope, TZAArchiveItem& F) {
  TInternalSearchRec& h = F.Handle;
  const int count = scope.Items.Count();
  if (h.ItemNo < 0) h.ItemNo = 0;
  if (h.FWildCards || scope.Recurse || h.UseProperties) {
    // Without Recurse only the mask's own folder is searched (a search by
    // the lists has no folder and walks everything).
    const bool sameFolder = !scope.Recurse && !h.UseProperties;
    const std::string maskFolder = sameFolder ? ZALowerCase(ZAExtractFilePath(h.CFindMask)) : std::string();
    for (int i = h.ItemNo; i < count; ++i) {
      const TDirItem& item = scope.Items[i];
      if (sameFolder && ZALowerCase(ZAExtractFilePath(WithoutTrailingSlash(item.Name))) != maskFolder)
        continue;
      if (!MatchItem(scope, item, h) || !CheckFindAttr(item.CentralDir.externalAttr, h.FFindAttr))
        continue;
      h.ItemNo = i;
      Fill(item, F);
      return true;
    }
    return false;
  }
  // A whole stored name: the name index answers.
  int index = -1;
  if (!scope.Items.FileExists(h.CFindMask, index) || index < h.ItemNo) return false;
  h.ItemNo = index;
  Fill(scope.Items[index], F);
  return true;
}

int TagFound(const TZASearchScope& scope, TZAArchiveItem& F, bool found) {
  scope.Items.ClearTags();
  int tagged = 0;
  for (; found; found = ZAFindNext(scope, F)) {
    scope.Items[F.Handle.ItemNo].Tagged = true;
    ++tagged;
  }
  return tagged;
}

}  // namespace

bool ZAMatchName(const std::string& name, const std::string& mask) {
  if (mask.empty()) return false;
  const size_t star = mask.find("*.*");
  std::string m = star == std::string::npos ? mask : mask.substr(0, star + 1) + mask.substr(star + 3);
  const bool noExtension = mask.back() == '.';
  if (noExtension) m.pop_back();
  std::string n = name;
  if (!n.empty() && n.back() == '.') n.pop_back();
  if (!MatchesWildcard(n, m, true)) return false;
  if (!noExtension) return true;
  const std::string ext = ZAExtractFileExt(name);
  return ext.empty() || ext == ".";
}

bool ZAFindFirst(const TZASearchScope& scope, const std::string& FileMask, TZAArchiveItem& F,
                 int SearchAttr, const std::string& ExclusionMask) {
  TInternalSearchRec& h = F.Handle;
  h.CFindMask = FileMask;
  std::replace(h.CFindMask.begin(), h.CFindMask.end(), '\\', '/');
  h.ExclusionMask = ExclusionMask;
  h.UseProperties = false;
  h.FWildCards = h.CFindMask.find_first_of("*?") != std::string::npos;
  h.FFindAttr = SearchAttr;
  h.ItemNo = 0;
  return InternalFindNext(scope, F);
}

bool ZAFindFirst(const TZASearchScope& scope, TZAArchiveItem& F, int searchAttr) {
  TInternalSearchRec& h = F.Handle;
  h.CFindMask.clear();
  h.ExclusionMask.clear();
  h.UseProperties = true;
  h.FWildCards = false;
  h.FFindAttr = searchAttr;
  h.ItemNo = 0;
  return InternalFindNext(scope, F);
}

bool ZAFindNext(const TZASearchScope& scope, TZAArchiveItem& F) {
  const int32_t saved = F.Handle.ItemNo;
  ++F.Handle.ItemNo;
  if (InternalFindNext(scope, F)) return true;
  // After the last match the record stays as it was, search state included,
  // so a further FindNext still finds nothing.
  F.Handle.ItemNo = saved;
  return false;
}

int ZAFindItemByName(const TZASearchScope& scope, const std::string& name) {
  std::string stored = name;
  std::replace(stored.begin(), stored.end(), '\\', '/');
  int index = -1;
  if (scope.Items.FileExists(stored, index)) return index;
  TZAArchiveItem F;
  return ZAFindFirst(scope, stored, F, ZADefaultSearchAttr, {}) ? F.Handle.ItemNo : -1;
}

int ZATagFiles(const TZASearchScope& scope, const std::string& FileMask, int SearchAttr,
               const std::string& ExclusionMask) {
  TZAArchiveItem F;
  const bool found = ZAFindFirst(scope, FileMask, F, SearchAttr, ExclusionMask);
  return TagFound(scope, F, found);
}

int ZATagFiles(const TZASearchScope& scope, int searchAttr) {
  TZAArchiveItem F;
  const bool found = ZAFindFirst(scope, F, searchAttr);
  return TagFound(scope, F, found);
}

}  // namespace archiver
