#include "xbase/base/errors.h"

#include <algorithm>
#include <iterator>

namespace xbase {

namespace {

struct TMessage {
  int number;
  const char* text;
};

// Sorted by number. The texts stand as users of the engine have always seen
// them, odd spellings and a trailing blank (65186) included.
constexpr TMessage kMessages[] = {
    {65136, "Invalid %s value for field %s"},
    {65137, "Field %s is the incorrect type"},
    {65138, "Memo record is bad in %s"},
    {65139, "Record number %d is not in table %s"},
    {65140, "Table Header for %s is invalid"},
    {65141, "Index file %s is corrupted"},
    {65142, "Cannot find index tag %s"},
    {65143, "Tag field is empty"},
    {65144, "No index is assigned for Find operation"},
    {65145, "No index key has been created"},
    {65146, "A Password is included for unencrypted file %s"},
    {65147, "No Password for encrypted file %s"},
    {65148, "Invalid Password for encrypted file %s"},
    {65152, "Field/variable %s is unknown"},
    {65153, "Expression cannot be evaluated"},
    {65154, "Missing closing parentheses"},
    {65155, "Missing closing period"},
    {65156, "Missing closing \"%s\" on literal"},
    {65157, "Expecting \".T.\" or \".F.\""},
    {65158, "Syntax Error in expression \"%s\""},
    {65159, "Variant type is not valid for append"},
    {65160, "Variant types mismatch for compare"},
    {65161, "Variant type cannot be sorted"},
    {65162, "Sort key length must be 1-%d bytes, is %d"},
    {65163, "Cannot add sort keys after beginning retrieval"},
    {65164, "Invalid numeric value in field %s"},
    {65165, "numeric value too big in field %s"},
    {65166, "Invalid date in field %s"},
    {65167, "There is no field name %s"},
    {65168, "Error on Read of file %s"},
    {65169, "Error in Close of file %s"},
    {65170, "Error on Rename of file %s"},
    {65171, "Access denied to file %s"},
    {65172, "Could not create file %s"},
    {65173, "%s requires full access to file %s"},
    {65174, "Error in Truncate of file %s"},
    {65175, "Error in Unlock of file %s"},
    {65176, "There is no function for %s"},
    {65177, "%s needed for Argument %d of %s"},
    {65178, "Argument for %s must be %s"},
    {65179, "Target value missing for %s operation"},
    {65180, "The two sides of an operation do not match"},
    {65181, "A %s value is required but invalid"},
    {65182, "A value is required for %s"},
    {65183, "All arguments for %s must be of the same type"},
    {65184, "Cannot delete the record"},
    {65185, "Cannot recall the record"},
    {65186, "Bookmark is invalid for table "},
    {65187, "Record is locked by another user"},
    {65188, "Table is busy building an index"},
    {65189, "Table is busy copying"},
    {65190, "Filter expression must return boolean result"},
    {65191, "Dataset not in edit or insert mode"},
    {65192, "Master/Detail relation failed, no index open for %s"},
    {65193, "Master/Detail relation failed, field missmatch for %s"},
    {65194, "Alias %s already assigned"},
    {65195, "Error getting FileSize for file %s"},
    {65196, "Error on Flush for file %s"},
    {65197, "Another lock active on file %s"},
    {65198, "Can not Lock file %s"},
    {65199, "File %s could not be found"},
    {65210, "Field list is invalid"},
    {65211, "Table name missing"},
    {65212, "Cannot find file %s"},
    {65213, "Error getting %s"},
    {65214, "Index file %s already open"},
    {65215, "Record request beyond range of table"},
};
static_assert(std::size(kMessages) == 67);

}  // namespace

const char* XBMessageText(int number) {
  const auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), number,
                                   [](const TMessage& m, int n) { return m.number < n; });
  return it != std::end(kMessages) && it->number == number ? it->text : nullptr;
}

std::string XBMessage(int number, std::initializer_list<platform::TFormatArg> args) {
  const char* text = XBMessageText(number);
  if (!text) return platform::Format("Unknown error %d", {number});
  return platform::Format(text, args);
}

std::string XBDiskErrorText(const char* step, int err, const std::string& path, int64_t position) {
  return platform::Format("Error %d in %s of file %s at block %d", {err, step, path, position});
}

void XBRaiseDiskError(const char* step, int err, const std::string& path, int64_t position) {
  throw EXBaseDiskError(XBDiskErrorText(step, err, path, position), err, path);
}

}  // namespace xbase
