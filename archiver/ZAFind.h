// Finding items of an open archive by mask, attributes and exclusions.
//
// One search serves every selection: the public FindFirst/FindNext pair,
// the tagging of the items an operation works on, and the look-up of an item
// by its stored name. A search keeps all of its state in the caller's
// TZAArchiveItem, so any number of searches (and any other read of the
// directory) may run inside a FindNext loop.
//
// Names. Stored names use '/', and so do the names handed out here
// (FileName, StoredPath), as the rest of the component hands out names with
// '/' on this platform. A '\' in a stored name (DOS-era tools wrote
// "folder\\123.fb2") and in every mask (the search mask, the exclusion mask
// and each entry of FileMasks and ExclusionMasks) is taken as '/', so either
// separator selects the same items, and a listed StoredPath + FileName finds
// its item again.
//
// Speed. A mask without wildcards (a name, with or without a folder part)
// is answered from the directory's name-part index in time that does not
// grow with the archive; masks with wildcards and searches by the mask lists
// walk every item.
//
// Masks follow MatchName: a "*.*" in the mask stands for "*", so "*.*"
// matches every name with or without an extension, and a mask ending in "."
// matches only names without an extension ("*." finds "README", not "a.txt").
// Letters compare without regard to ASCII case.
//
// Attributes. An item is found when it carries none of hidden (0x02), system
// (0x04), volume (0x08) and folder (0x10) that the search's attribute set
// leaves out; read-only and archive never exclude. The folder bit is the
// item's own only when it is a folder (TDirItem::IsDirectory): a file with
// data that some tool marked as a folder is found, and reported, as a file. The catalogue's 0x1EF
// leaves out folders; 0x28BF (ZADefaultSearchAttr) lets everything through.
//
// Nothing here is thread-safe; the component serialises access.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archiver/ZADirectory.h"
#include "archiver/ZAOptions.h"

namespace archiver {

// The search state inside a result record.
struct TInternalSearchRec {
  int32_t ItemNo = 0;         // the item found last; FindNext goes on after it
  std::string CFindMask;      // the mask, '/'-separated
  bool FWildCards = false;    // the mask holds '*' or '?'
  int32_t FFindAttr = 0;      // the attribute set of the search
  std::string ExclusionMask;  // one exclusion mask, '/'-separated, may be empty
  bool UseProperties = false;  // select by the component's mask lists instead
};

// One item found, with the search state. A plain value.
struct TZAArchiveItem {
  std::string FileName;    // name part of the stored name (a folder d/e/ gives e)
  std::string StoredPath;  // folder part, ending in '/' (empty for a root item)
  int64_t CompressedSize = 0;
  int64_t UncompressedSize = 0;
  // (1 - compressed / uncompressed) x 100, 100 for an empty item, never below 0.
  double CompressionRate = 0;
  bool Encrypted = false;
  uint16_t LastModFileDate = 0;  // DOS date
  uint16_t LastModFileTime = 0;  // DOS time
  uint32_t CRC = 0;
  // Low byte: DOS attributes, the folder bit as TDirItem::Attributes gives it.
  uint32_t ExternalFileAttributes = 0;
  std::string Comment;                  // raw bytes
  TInternalSearchRec Handle;
};

// What a search reads of the component: the open archive's directory, the
// Recurse option and, for a search by the properties, the mask lists.
// Without Recurse a search by mask finds only items in the mask's folder.
struct TZASearchScope {
  TZADirArray& Items;
  bool Recurse = true;
  const std::vector<std::string>* FileMasks = nullptr;
  const std::vector<std::string>* ExclusionMasks = nullptr;
  // A mask without wildcards is answered from the directory's name index
  // (the same items in the same order as a walk over every item, which
  // false forces).
  bool UseNameIndex = true;
};

// Starts a search with a mask (a stored name or a wildcard mask, either
// separator), an attribute set and one exclusion mask (empty: none).
// True with F filled when an item is found; false leaves F's fields as they
// were (its search state is the new search's).
bool ZAFindFirst(const TZASearchScope& scope, const std::string& FileMask, TZAArchiveItem& F,
                 int SearchAttr, const std::string& ExclusionMask);
// Starts a search by the mask lists of the scope with the attribute set
// `searchAttr` (the component's Options.SearchAttr): an item is found when
// some file mask matches its stored name and no exclusion mask does.
bool ZAFindFirst(const TZASearchScope& scope, TZAArchiveItem& F, int searchAttr);
// The next item of the search in F; false (F unchanged) after the last.
bool ZAFindNext(const TZASearchScope& scope, TZAArchiveItem& F);

// The index of the item stored under `name` (either separator): the name
// index first, then a search with attribute set 0x28BF (which with Recurse
// also finds x/name by its name part). -1 when there is none.
int ZAFindItemByName(const TZASearchScope& scope, const std::string& name);

// Clears every item's Tagged flag, then tags what the search finds. Returns
// the number tagged.
int ZATagFiles(const TZASearchScope& scope, const std::string& FileMask, int SearchAttr,
               const std::string& ExclusionMask);
int ZATagFiles(const TZASearchScope& scope, int searchAttr);

// The mask rules above: whether `name` (a stored name or a name part)
// matches `mask`. An empty mask matches nothing.
bool ZAMatchName(const std::string& name, const std::string& mask);

}  // namespace archiver
