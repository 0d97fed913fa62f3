// New files written beside the names they are to replace
// (platform::TReplaceFile), for the engine's tables, memo files and index
// files: made, and put in place as a pair, with the engine's errors.
#pragma once

#include <memory>
#include <string>

namespace platform {
class TReplaceFile;
}

namespace xbase {

// An existing file in another letter case is the one a new file replaces:
// two case variants of one file must never come to exist.
std::string ExistingOrGiven(const std::string& path);

// A new file to replace `target` when complete (xbmCannotCreate when it
// cannot be made). A link at `target` is followed: the file it leads to is
// replaced, by a new file beside it with its permissions and owner, and the
// link stays. Its Target() is that file.
std::unique_ptr<platform::TReplaceFile> NewFileBeside(const std::string& target);

// Puts a complete new table and its memo file (`memo` may be null) in
// place over their Target()s: the memo file first, then the table. Should
// the table's replacement fail, the old memo file is put back from a
// second name kept for it, so a table never points into another table's
// memos; the failure raises xbmCannotCreate. With `keepOld` the second
// names of the old files (keptTable, keptMemo) are left to the caller, to
// put back or delete; otherwise they are deleted.
void PutTableInPlace(platform::TReplaceFile& table, platform::TReplaceFile* memo, bool keepOld,
                     std::string& keptTable, std::string& keptMemo);

}  // namespace xbase
