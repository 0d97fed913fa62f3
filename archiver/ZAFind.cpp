#include "archiver/ZAFind.h"

#include <algorithm>

#include "archiver/ZAPaths.h"
#include "archiver/ZAStrFunc.h"

namespace archiver {

namespace {

// The attribute bits a search can leave out: hidden, system, volume, folder.
constexpr uint32_t kExcludableAttr = 0x1E;

// `s` with every '\\' turned into '/': names written by DOS-era tools, and
// masks, may use either separator.
std::string Slashed(std::string s) {
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

// An item's name as a search by mask sees it: '/'-separated, one trailing
// separator dropped.
std::string SearchName(const std::string& name) {
  std::string n = Slashed(name);
  if (!n.empty() && n.back() == '/') n.pop_back();
  return n;
}

bool CheckFindAttr(uint32_t itemAttr, int32_t searchAttr) {
  return (itemAttr & ~static_cast<uint32_t>(searchAttr) & kExcludableAttr) == 0;
}

// The entries of a mask list, each '/'-separated as the names are, so that
// a mask means the same whichever separator it was written with.
std::vector<std::string> SlashedMasks(const std::vector<std::string>* masks) {
  std::vector<std::string> out;
  if (masks)
    for (const std::string& m : *masks) out.push_back(Slashed(m));
  return out;
}

bool MatchesAny(const std::string& name, const std::vector<std::string>& masks) {
  return std::any_of(masks.begin(), masks.end(), [&](const std::string& m) { return ZAMatchName(name, m); });
}

// What every search asks of an item: the mask (or the lists); without
// Recurse a search by mask sees only the items in the mask's own folder (a
// search by the lists has no folder and sees everything); and the
// attributes.
class TItemFilter {
 public:
  TItemFilter(const TZASearchScope& scope, const TInternalSearchRec& h)
      : h_(h), sameFolder_(!scope.Recurse && !h.UseProperties) {
    if (sameFolder_) maskFolder_ = ZALowerCase(ZAExtractFilePath(h.CFindMask));
    if (h.UseProperties) {
      fileMasks_ = SlashedMasks(scope.FileMasks);
      exclusionMasks_ = SlashedMasks(scope.ExclusionMasks);
    }
  }
  bool Passes(const TDirItem& item) const {
    if (sameFolder_ && ZALowerCase(ZAExtractFilePath(SearchName(item.Name))) != maskFolder_) return false;
    return MatchItem(item) && CheckFindAttr(item.Attributes(), h_.FFindAttr);
  }

 private:
  bool MatchItem(const TDirItem& item) const {
    if (h_.UseProperties) {
      // The whole stored name, a folder's trailing separator included.
      const std::string name = Slashed(item.Name);
      return MatchesAny(name, fileMasks_) && !MatchesAny(name, exclusionMasks_);
    }
    const std::string name = SearchName(item.Name);
    if (!ZAMatchName(name, h_.CFindMask) && !ZAMatchName(ZAExtractFileName(name), h_.CFindMask)) return false;
    return !ZAMatchName(name, h_.ExclusionMask);
  }

  const TInternalSearchRec& h_;
  bool sameFolder_;
  std::string maskFolder_;
  std::vector<std::string> fileMasks_, exclusionMasks_;
};

void Fill(const TDirItem& item, TZAArchiveItem& F) {
  const std::string name = SearchName(item.Name);
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
  F.ExternalFileAttributes = item.Attributes();
  F.Comment = item.Comment;
}

bool Found(const TZASearchScope& scope, int index, TZAArchiveItem& F) {
  F.Handle.ItemNo = index;
  Fill(scope.Items[index], F);
  return true;
}

// A mask without wildcards: only items whose name part has the mask's
// name-part key can match it (as a whole name or by their name part), so the
// name-part index gives the candidates, in directory order, and each is
// checked as the walk would check it. The answers are the walk's, without
// looking at every item.
bool IndexedFindNext(const TZASearchScope& scope, TZAArchiveItem& F) {
  const TInternalSearchRec& h = F.Handle;
  std::string key = ZANameKey(h.CFindMask);
  if (!key.empty() && key.back() == '.') key.pop_back();  // MatchName's "no extension" mask
  const size_t slash = key.rfind('/');
  const std::string_view part =
      slash == std::string::npos ? std::string_view(key) : std::string_view(key).substr(slash + 1);
  const TItemFilter filter(scope, h);
  const std::span<const int32_t> candidates = scope.Items.FindByNamePart(part);
  for (auto it = std::lower_bound(candidates.begin(), candidates.end(), h.ItemNo); it != candidates.end(); ++it)
    if (*it < scope.Items.Count() && filter.Passes(scope.Items[*it])) return Found(scope, *it, F);
  return false;
}

bool InternalFindNext(const TZASearchScope& scope, TZAArchiveItem& F) {
  TInternalSearchRec& h = F.Handle;
  if (h.ItemNo < 0) h.ItemNo = 0;
  if (!h.UseProperties && !h.FWildCards && scope.UseNameIndex) return IndexedFindNext(scope, F);
  const TItemFilter filter(scope, h);
  for (int i = h.ItemNo; i < scope.Items.Count(); ++i)
    if (filter.Passes(scope.Items[i])) return Found(scope, i, F);
  return false;
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
  h.CFindMask = Slashed(FileMask);
  h.ExclusionMask = Slashed(ExclusionMask);
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
