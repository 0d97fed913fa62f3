// Changing the items an archive holds: deleting and updating the items a
// search selects (through the per-item loop of ZAExtract.cpp), renaming an
// item or a folder with everything below it, and changing attributes and
// comments.
//
// Like adding, these only change the directory in memory, inside an update
// transaction; the commit (ZACommit.cpp) writes the result. Renamed items
// keep their data (the commit writes a new local header in front of it);
// items with new attributes or a new comment keep their local record as it
// is.
//
// Promises: a rename replaces only the leading part of a name ("old/" in
// "old/gold/x" becomes "new/", "old/gold/" stays inside); a single stored
// name given to RenameFile or ChangeFiles* selects that item alone, before
// any mask search; lengths the format holds in 16 bits are refused before
// anything changes.
#include <algorithm>
#include <utility>
#include <vector>

#include "archiver/ZAExcept.h"
#include "archiver/ZAPaths.h"
#include "archiver/ZipArchiver.h"

namespace archiver {

namespace {

constexpr int kRenameNotFound = 30;
constexpr int kChangeNotFound = 31;
constexpr int kChangeIntAttrNotFound = 38;
constexpr int kRemoveOutOfRange = 21;
constexpr int kRemoveOutsideUpdate = 22;

std::string Slashes(const std::string& s) { return ZAStringReplace(s, "\\", "/", rfReplaceAll); }

// Runs `body` inside a transaction of its own: committed at the end, dropped
// (with the caller's) when the body fails.
template <class Body>
int InTransaction(TZABaseArchiver& arc, Body&& body) {
  arc.BeginUpdate();
  int n = 0;
  try {
    n = body();
  } catch (...) {
    arc.CancelUpdate();
    throw;
  }
  arc.EndUpdate();
  return n;
}

// The item stored exactly under `mask`, else every item the mask finds
// (attribute set 0x28BF).
std::vector<int> SelectItems(TZABaseArchiver& arc, const std::string& mask) {
  TZADirArray& dir = arc.DMHandle()->CDir;
  int index = -1;
  if (dir.FileExists(Slashes(mask), index)) return {index};
  std::vector<int> found;
  TZAArchiveItem F;
  for (bool ok = arc.FindFirst(mask, F, ZADefaultSearchAttr, {}); ok; ok = arc.FindNext(F))
    found.push_back(F.Handle.ItemNo);
  return found;
}

// Applies `change` to the item named `mask` exactly, else to every item the
// mask finds (`notFound`: the code when there is none), in a transaction.
// An item gets `op` as its change unless it has one of its own pending
// (which the commit then writes with the new values).
template <class Change>
int ChangeItems(TZABaseArchiver& arc, const std::string& mask, int notFound, TZAProcessOperation op,
                Change&& change) {
  const std::vector<int> items = SelectItems(arc, mask);
  if (items.empty()) throw EZAException(notFound, arc.Name(), {mask});
  return InTransaction(arc, [&] {
    TZADirArray& dir = arc.DMHandle()->CDir;
    for (int i : items) {
      TDirItem& item = dir[i];
      change(item);
      if (!item.Modified) {
        item.Modified = true;
        item.Operation = op;
      }
    }
    return static_cast<int>(items.size());
  });
}

// Checks that `name` can be stored (code 9 blank, 61 too long).
void CheckNewName(const std::string& name, bool oemFileNames, const std::string& component) {
  if (name.empty() || name == "/") throw EZAException(ZA_ERR_BLANK_FILE_NAME, component);
  std::string stored;
  try {
    ZANameToStoredAnsi(name, stored, oemFileNames);
  } catch (const EZAException&) {
    throw EZAException(ZA_ERR_FILE_NAME_TOO_LONG, component, {name});
  }
}

}  // namespace

// --- Deleting and updating ---------------------------------------------------------------

void TZABaseArchiver::RemoveItem(int Index) {
  TZADirArray& dir = FDMHandle->CDir;
  if (Index < 0 || Index >= dir.Count()) throw EZAException(kRemoveOutOfRange, FName);
  if (FUpdateCount <= 0) throw EZAException(kRemoveOutsideUpdate, FName);
  dir.DeleteItem(Index);
}

int TZABaseArchiver::DeleteFiles(const std::string& FileMask, int SearchAttr, const std::string& ExclusionMask) {
  CheckActive();
  CheckModifySpanning();
  TagFiles(FileMask, SearchAttr, ExclusionMask);
  return InTransaction(*this, [&] { return ProcessTaggedFiles(poDelete, -1); });
}

int TZABaseArchiver::DeleteFiles() {
  CheckActive();
  CheckModifySpanning();
  TagFiles();
  return InTransaction(*this, [&] { return ProcessTaggedFiles(poDelete, -1); });
}

namespace {

// The per-item loop sets the operation of every item it visits; an item it
// did not update keeps the change it had pending before (a rename, say),
// which must not turn into an update without a source.
struct TPendingOps {
  std::vector<std::pair<int, TZAProcessOperation>> ops;
  explicit TPendingOps(TZADirArray& dir) {
    for (int i = 0; i < dir.Count(); ++i)
      if (dir[i].Tagged && dir[i].Modified) ops.emplace_back(i, dir[i].Operation);
  }
  // UpdateTaggedItem clears the tag of each item it queued.
  void Restore(TZADirArray& dir) const {
    for (const auto& [i, op] : ops)
      if (i < dir.Count() && dir[i].Tagged) dir[i].Operation = op;
  }
};

}  // namespace

int TZABaseArchiver::UpdateFiles(const std::string& FileMask, int SearchAttr, const std::string& ExclusionMask) {
  CheckActive();
  CheckModifySpanning();
  TagFiles(FileMask, SearchAttr, ExclusionMask);
  return InTransaction(*this, [&] {
    const TPendingOps pending(FDMHandle->CDir);
    const int n = ProcessTaggedFiles(poUpdate, -1);
    if (FUpdateCount > 0) pending.Restore(FDMHandle->CDir);
    return n;
  });
}

int TZABaseArchiver::UpdateFiles() {
  CheckActive();
  CheckModifySpanning();
  TagFiles();
  return InTransaction(*this, [&] {
    const TPendingOps pending(FDMHandle->CDir);
    const int n = ProcessTaggedFiles(poUpdate, -1);
    if (FUpdateCount > 0) pending.Restore(FDMHandle->CDir);
    return n;
  });
}

// --- Renaming ------------------------------------------------------------------------------

void TZABaseArchiver::RenameFile(const std::string& OldName, const std::string& NewName) {
  CheckActive();
  int index = -1;
  if (!FindItemByName(OldName, index)) throw EZAException(kRenameNotFound, FName, {OldName});
  TZADirArray& dir = FDMHandle->CDir;
  const bool oem = FOptions.OEMFileNames();
  const std::string oldName = Slashes(OldName);
  std::string newName = Slashes(NewName);
  // A stored name never begins at the root, as with adding: readers would
  // extract it there.
  newName.erase(0, newName.find_first_not_of('/'));

  // The new name of every item concerned, worked out before anything changes.
  std::vector<std::pair<int, std::string>> renames;
  // Names are compared with either separator, as they are found: an item
  // stored with backslashes (DOS tools) is renamed all the same.
  const TDirItem& found = dir[index];
  if (found.IsDirectory()) {
    // The folder's own name is the prefix; everything below it moves.
    const std::string oldPrefix = ZAIncludeTrailingBackslash(Slashes(found.Name));
    const std::string newPrefix = ZAIncludeTrailingBackslash(newName);
    const std::string lowerPrefix = ZALowerCase(oldPrefix);
    CheckNewName(newName, oem, FName);
    for (int i = 0; i < dir.Count(); ++i) {
      const std::string name = Slashes(dir[i].Name);
      if (i == index)
        renames.emplace_back(i, name.back() == '/' ? newPrefix : ZAExcludeTrailingBackslash(newPrefix));
      else if (ZALowerCase(name).rfind(lowerPrefix, 0) == 0)
        renames.emplace_back(i, newPrefix + name.substr(oldPrefix.size()));
    }
  } else {
    CheckNewName(newName, oem, FName);
    const std::string name = Slashes(found.Name);
    if (ZALowerCase(name) == ZALowerCase(oldName))
      renames.emplace_back(index, newName);
    else if (name.size() > oldName.size() && name[name.size() - oldName.size() - 1] == '/' &&
             ZALowerCase(name.substr(name.size() - oldName.size())) == ZALowerCase(oldName))
      // Found by its name part: the item stays in its folder.
      renames.emplace_back(index, name.substr(0, name.size() - oldName.size()) + newName);
  }
  for (const auto& [i, name] : renames) CheckNewName(name, oem, FName);

  InTransaction(*this, [&] {
    for (const auto& [i, name] : renames) {
      TDirItem& item = dir[i];
      if (item.Name == name) continue;
      if (!(item.Modified && item.Operation == poRename)) item.OldName = item.Name;
      dir.SetItemName(i, name);
      if (!item.Modified || item.Operation == poChangeAttr || item.Operation == poChangeComment) {
        item.Modified = true;
        item.Operation = poRename;
      }
    }
    return 0;
  });
}

// --- Attributes and comments -----------------------------------------------------------------

int TZABaseArchiver::ChangeFilesAttr(const std::string& FileMask, uint32_t NewAttr) {
  CheckActive();
  return ChangeItems(*this, FileMask, kChangeNotFound, poChangeAttr, [&](TDirItem& item) {
    // The folder bit says what an item is; attributes do not change that.
    item.CentralDir.externalAttr = (NewAttr & ~ZA_ATTR_DIRECTORY) | (item.IsDirectory() ? ZA_ATTR_DIRECTORY : 0);
  });
}

int TZABaseArchiver::ChangeFilesIntAttr(const std::string& FileMask, uint16_t NewAttr) {
  CheckActive();
  return ChangeItems(*this, FileMask, kChangeIntAttrNotFound, poChangeAttr,
                     [&](TDirItem& item) { item.CentralDir.internalAttr = NewAttr; });
}

int TZABaseArchiver::ChangeFilesComment(const std::string& FileMask, const AnsiString& NewComment) {
  CheckActive();
  if (NewComment.size() > 0xFFFF) throw EZAException(ZA_ERR_STREAM_WRITE, FName);
  return ChangeItems(*this, FileMask, kChangeNotFound, poChangeComment, [&](TDirItem& item) {
    item.Comment = NewComment;
    item.CentralDir.commentLength = static_cast<uint16_t>(NewComment.size());
  });
}

}  // namespace archiver
