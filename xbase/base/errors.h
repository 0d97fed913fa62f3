// The engine's errors and its numbered message table.
//
// Every failure the engine detects is raised as one of three exception
// classes, with a text from the message table (numbers 65136-65199 and
// 65210-65215) formatted with its arguments. Where a text names a file, the
// argument is the full path as the file object holds it, never the name the
// caller first gave. The dataset reports its own conditions through the
// data-access framework's database error with texts of the same table
// (XBMessage). The engine never shows a message itself.
//
// The exceptions are plain value types; the table is constant, so everything
// here is thread-safe.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/Format.h"

namespace xbase {

// Files, tables, fields, indexes, locks, values, the key sorter, memo blocks.
class EXBaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A transfer the system refused for good (XBDiskErrorText): its reason
// (errno) and the file, for callers that tell the user in their own words.
class EXBaseDiskError : public EXBaseError {
 public:
  EXBaseDiskError(const std::string& msg, int err, std::string file)
      : EXBaseError(msg), error(err), path(std::move(file)) {}
  int error;
  std::string path;
};

// An index file whose bytes do not make sense (65141): damaged, or
// scrambled under another password than its table's.
class EXBaseIndexCorrupted : public EXBaseError {
 public:
  using EXBaseError::EXBaseError;
};

// Passwords of encrypted tables, and the header checks made while such a
// table is opened.
class EXBaseEncryption : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parsing and evaluating expressions and calling expression functions.
class EXBaseExpression : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Message numbers by name; the comment gives the arguments of the text.
enum : int {
  xbmInvalidFieldValue = 65136,     // kind of value, field name
  xbmFieldIncorrectType = 65137,    // field name
  xbmBadMemoRecord = 65138,         // memo file
  xbmRecordNotInTable = 65139,      // record number, table file
  xbmInvalidTableHeader = 65140,    // table file
  xbmIndexCorrupted = 65141,        // index file
  xbmIndexTagNotFound = 65142,      // tag name
  xbmTagFieldEmpty = 65143,
  xbmNoIndexForFind = 65144,
  xbmNoIndexKey = 65145,
  xbmPasswordForUnencrypted = 65146,  // table file
  xbmNoPassword = 65147,              // table file
  xbmInvalidPassword = 65148,         // table file
  xbmUnknownName = 65152,             // field or variable name
  xbmCannotEvaluate = 65153,
  xbmMissingParenthesis = 65154,
  xbmMissingPeriod = 65155,
  xbmMissingQuote = 65156,            // the quote character
  xbmExpectingLogical = 65157,
  xbmSyntaxError = 65158,             // the expression text
  xbmVariantAppend = 65159,
  xbmVariantCompare = 65160,
  xbmVariantSort = 65161,
  xbmSortKeyLength = 65162,           // 240, the length given
  xbmSortAfterRetrieval = 65163,
  xbmInvalidNumeric = 65164,          // field name
  xbmNumericTooBig = 65165,           // field name
  xbmInvalidDate = 65166,             // field name
  xbmNoSuchField = 65167,             // field name
  xbmReadError = 65168,               // table file
  xbmCloseError = 65169,              // file
  xbmRenameError = 65170,             // old file name
  xbmAccessDenied = 65171,            // file
  xbmCannotCreate = 65172,            // file
  xbmFullAccessRequired = 65173,      // operation word, file
  xbmTruncateError = 65174,           // file
  xbmUnlockError = 65175,             // file
  xbmNoFunction = 65176,              // function or field name
  xbmArgumentNeeded = 65177,          // type word, argument number, function
  xbmArgumentMustBe = 65178,          // function, condition
  xbmTargetMissing = 65179,           // operator text
  xbmSidesDoNotMatch = 65180,
  xbmValueInvalid = 65181,            // type word
  xbmValueRequired = 65182,           // function name
  xbmArgumentsSameType = 65183,       // function name
  xbmCannotDelete = 65184,
  xbmCannotRecall = 65185,
  xbmInvalidBookmark = 65186,
  xbmRecordLocked = 65187,
  xbmBusyIndexing = 65188,
  xbmBusyCopying = 65189,
  xbmFilterNotBoolean = 65190,
  xbmNotEditing = 65191,
  xbmMasterNoIndex = 65192,           // table name
  xbmMasterMismatch = 65193,          // table name
  xbmAliasAssigned = 65194,           // alias
  xbmFileSizeError = 65195,           // file
  xbmFlushError = 65196,              // file
  xbmAnotherLock = 65197,             // file
  xbmCannotLock = 65198,              // file
  xbmFileNotFound = 65199,            // file
  xbmInvalidFieldList = 65210,
  xbmTableNameMissing = 65211,
  xbmCannotFindFile = 65212,          // file
  xbmErrorGetting = 65213,            // what was asked for
  xbmIndexAlreadyOpen = 65214,        // index file
  xbmBeyondRange = 65215,
};

// The longest key the sorter and the table sort accept (message 65162).
inline constexpr int xbMaxSortKeyLength = 240;

// The table text of `number`, unformatted; nullptr for a number not in it.
const char* XBMessageText(int number);

// The table text of `number` formatted with `args` (%s text, %d a 64-bit
// number). A number not in the table gives "Unknown error %d" with it.
std::string XBMessage(int number, std::initializer_list<platform::TFormatArg> args = {});

// The text of a transfer that failed for good: "Error <err> in <step> of
// file <path> at block <position>", where step is "Read", "Write" or
// "FileSeek" and the position is the byte position asked for.
std::string XBDiskErrorText(const char* step, int err, const std::string& path, int64_t position);
// Raises EXBaseDiskError with that text.
[[noreturn]] void XBRaiseDiskError(const char* step, int err, const std::string& path, int64_t position);

// Raises `E` (EXBaseError unless the raising place says otherwise) with
// XBMessage(number, args).
template <class E = EXBaseError>
[[noreturn]] void XBRaise(int number, std::initializer_list<platform::TFormatArg> args = {}) {
  throw E(XBMessage(number, args));
}

}  // namespace xbase
