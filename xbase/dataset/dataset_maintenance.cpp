// The dataset component: table maintenance -- copies, sorts, pack and zap
// through the table handler, and renaming the table with its files.
#include <vector>

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "xbase/base/errors.h"
#include "xbase/base/utilities.h"
#include "xbase/dataset/dataset.h"
#include "xbase/index/index_framework.h"
#include "xbase/table/memo_files.h"

namespace xbase {

using namespace dataaccess;

namespace {

AnsiString UpperBase(const std::string& path) { return platform::AnsiUpperCase(FileBaseName(path)); }

// The file `from` is to be renamed to `to`: nothing else may stand there
// (in any letter case), or the rename would fail half-way.
void CheckFree(const std::string& from, const std::string& to) {
  const std::string there = platform::FindExistingFile(to);
  if (!there.empty() && !platform::IsSameFile(there, from)) XBRaise(xbmRenameError, {from});
}

}  // namespace

std::string TXBaseDataSet::BesideTable(const std::string& name) const {
  if (name.find('/') != std::string::npos) return name;
  const std::string table = FDBFHandle ? FDBFHandle->FileName() : ResolvedDirectory() + FTableName;
  return platform::ExtractFilePath(table) + name;
}

void TXBaseDataSet::CopyTo(const std::string& filname, const AnsiString& apassword) {
  CheckBrowseMode();
  const std::string target = BesideTable(filname);
  ActivityGuard busy(*this, aCopying);
  FDBFHandle->xbCopyFile(target, apassword);
}

void TXBaseDataSet::SortTo(const std::string& filname, const AnsiString& apassword, const AnsiString& formla,
                           XBsetSortStatus sortseq) {
  CheckBrowseMode();
  const std::string target = BesideTable(filname);
  ActivityGuard busy(*this, aCopying);
  FDBFHandle->xbSortFile(target, apassword, formla, sortseq);
}

void TXBaseDataSet::CopyStructure(const std::string& filname, const AnsiString& apassword) {
  XBO_dBHandler& t = Table();
  const std::string target = BesideTable(filname);
  t.xbCopyStructure(target);
  // The copy carries this table's descriptors as they stand, scrambled
  // under its password: it opens with that one and takes the new one.
  const AnsiString password = t.xbvIsEncrypted() ? t.xbvPasswordIn() : AnsiString();
  if (apassword != password) XBO_dBHandler(DefaultFileExt(target, ".dbf"), password, true, false).xbSetPassword(apassword);
}

void TXBaseDataSet::CopyRecordTo(TXBaseDataSet& area) {
  CheckActive();
  XBO_dBHandler& target = area.Table();
  const TRecordBuffer rec = GetActiveRecBuf();
  if (!rec) DatabaseError(SDataSetEmpty);
  {
    TxbRecordPointer at(*FDBFHandle, rec);
    FDBFHandle->xbCopyRecord(target);
  }
  // The other table now stands on the record appended.
  area.CursorPosChanged();
}

void TXBaseDataSet::Pack() {
  CheckBrowseMode();
  const AnsiString index = FIndexName;
  const bool filtered = Filtered();
  const auto restore = [&] {
    SetFiltered(filtered);
    SetIndexName(index);
  };
  SetIndexName("");
  SetFiltered(false);
  try {
    ActivityGuard busy(*this, aCopying);
    FDBFHandle->xbPack();
  } catch (...) {
    try {
      restore();
    } catch (const EXBaseError&) {
      // The pack's error is the one to report.
    }
    throw;
  }
  restore();
  First();
}

void TXBaseDataSet::Zap() {
  CheckBrowseMode();
  FDBFHandle->xbZap();
  First();
}

void TXBaseDataSet::RenameTable(const std::string& NewTableName) {
  CheckInactive();
  const bool exclusive = FExclusive, filtered = Filtered();
  const auto restore = [&] {
    FRenaming = false;
    SetExclusive(exclusive);
    SetFiltered(filtered);
  };
  FRenaming = true;
  try {
    SetExclusive(true);
    SetFiltered(false);
    Open();
    XBO_dBHandler& t = *FDBFHandle;
    const std::string oldPath = t.FileName();
    const std::string newPath = DefaultFileExt(XBO_DiskFile::ExpandName(BesideTable(NewTableName)), ".DBF");
    const AnsiString oldBase = UpperBase(oldPath);
    const auto follow = [&](const std::string& file) {
      return platform::ChangeFileExt(newPath, platform::ExtractFileExt(file));
    };
    CheckFree(oldPath, newPath);
    if (XBobjMemo* memo = t.xbMemoObject()) CheckFree(memo->FileName(), follow(memo->FileName()));
    // A single-tag index file's tag is named after the file: the active
    // one renamed takes the new name.
    bool tagFollows = false;
    for (int slot = 1; slot <= XBO_dBHandler::MaxIndexFiles; ++slot) {
      XBobjIndexFile* f = t.IndexStack(slot);
      if (!f || UpperBase(f->GetFileName()) != oldBase) continue;
      CheckFree(f->GetFileName(), follow(f->GetFileName()));
      const AnsiString ext = platform::AnsiUpperCase(platform::ExtractFileExt(f->GetFileName()));
      tagFollows |= (ext == ".NDX" || ext == ".NTX") && platform::AnsiUpperCase(FIndexName) == oldBase;
    }
    t.xbRename(newPath);

    std::vector<std::string> indexFiles = FIndexFiles;
    for (std::string& entry : indexFiles) {
      if (UpperBase(entry) != oldBase) continue;
      const std::string renamed = FileBaseName(newPath) + platform::ExtractFileExt(entry);
      entry = entry.find('/') == std::string::npos ? renamed : platform::ExtractFilePath(newPath) + renamed;
    }
    Close();
    SetDatabaseName(platform::ExtractFilePath(newPath));
    SetTableName(platform::ExtractFileName(newPath));
    SetIndexFiles(indexFiles);
    if (tagFollows) FIndexName = UpperBase(newPath);
  } catch (...) {
    Close();
    restore();
    throw;
  }
  restore();
}

}  // namespace xbase
