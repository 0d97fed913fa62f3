#include "xbase/base/replace_files.h"

#include "platform/Files.h"
#include "xbase/base/errors.h"

namespace xbase {

namespace {

void DropKept(std::string& kept) {
  if (!kept.empty()) platform::DeleteFile(kept);
  kept.clear();
}

}  // namespace

std::string ExistingOrGiven(const std::string& path) {
  const std::string found = platform::FindExistingFile(path);
  return found.empty() ? path : found;
}

std::unique_ptr<platform::TReplaceFile> NewFileBeside(const std::string& target) {
  try {
    return std::make_unique<platform::TReplaceFile>(target, platform::TReplaceFile::FollowLink);
  } catch (const platform::EFileError&) {
    XBRaise(xbmCannotCreate, {target});
  }
}

void PutTableInPlace(platform::TReplaceFile& table, platform::TReplaceFile* memo, bool keepOld,
                     std::string& keptTable, std::string& keptMemo) {
  const std::string& tableName = table.Target();
  const std::string memoName = memo ? memo->Target() : std::string();
  if (memo) {
    try {
      if (platform::FileExists(memoName)) keptMemo = platform::CreateTempLink(memoName);
      memo->Commit();
    } catch (const platform::EFileError&) {
      DropKept(keptMemo);
      XBRaise(xbmCannotCreate, {memoName});
    }
  }
  try {
    if (keepOld && platform::FileExists(tableName)) keptTable = platform::CreateTempLink(tableName);
    table.Commit();
  } catch (const platform::EFileError&) {
    DropKept(keptTable);
    if (memo) {
      if (keptMemo.empty())
        platform::DeleteFile(memoName);
      else if (platform::RenameOver(keptMemo, memoName))
        keptMemo.clear();
    }
    DropKept(keptMemo);
    XBRaise(xbmCannotCreate, {tableName});
  }
  if (!keepOld) DropKept(keptMemo);
}

}  // namespace xbase
