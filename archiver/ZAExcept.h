// The archiver's errors.
//
// Every failure that the archiver detects itself is raised as EZAException,
// built from a native error code (0..68). The code selects one of 42 fixed
// English texts; the message names the raising component (when it has a
// name) and ends with " - Native error: " and the code in five digits, e.g.
//   "Zip1: Archive is not open - Native error: 00013".
// The exception is an ordinary value type and may be copied between threads.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/Format.h"

namespace archiver {

// The archiver's texts are formatted by the platform's message formatter
// (%s, %d, %u, %x, '-' and width, %%).
using TZAFormatArg = platform::TFormatArg;
inline std::string ZAFormat(std::string_view fmt, std::initializer_list<TZAFormatArg> args) {
  return platform::Format(fmt, args);
}

// Native error codes used by the archiver, by name. The numbers are fixed;
// several share one message text (see ZAExcept.cpp).
enum : int {
  ZA_ERR_UNKNOWN = 0,
  ZA_ERR_INDEX_OUT_OF_BOUNDS = 1,        // also 2, 3, 4, 7, 16, 21, 24
  ZA_ERR_INVALID_COMPRESSION_MODE = 5,
  ZA_ERR_NIL_POINTER = 6,
  ZA_ERR_INVALID_SIZE_OR_CRC = 8,
  ZA_ERR_BLANK_FILE_NAME = 9,            // also 10, 29
  ZA_ERR_FILE_NOT_FOUND = 11,            // also 12, 15, 18, 30, 31, 38, 42, 53, 54
  ZA_ERR_ARCHIVE_NOT_OPEN = 13,          // also 14
  ZA_ERR_NO_SFX_STUB = 17,
  ZA_ERR_CANNOT_CREATE_FILE = 19,        // also 23
  ZA_ERR_CANNOT_CREATE_DIR = 20,
  ZA_ERR_UPDATE_NOT_STARTED = 22,        // also 25
  ZA_ERR_UPDATE_NOT_ENDED = 26,
  ZA_ERR_CANNOT_DELETE_FILE = 27,
  ZA_ERR_IN_MEMORY_CREATE_ONLY = 28,
  ZA_ERR_READ_ONLY = 32,
  ZA_ERR_CANNOT_OPEN_FILE = 33,
  ZA_ERR_INVALID_COMPRESSED_SIZE = 34,
  ZA_ERR_INVALID_ARCHIVE = 35,
  ZA_ERR_CANNOT_CREATE_OUTPUT = 36,
  ZA_ERR_ARCHIVE_IS_OPEN = 37,
  ZA_ERR_UNABLE_TO_CREATE_DIR = 39,
  ZA_ERR_NO_ZIP64_DIR_END = 40,
  ZA_ERR_ZIP64_NOT_ENABLED = 41,         // also 43
  ZA_ERR_OPEN_ABORTED = 44,              // also 45
  ZA_ERR_STREAM_WRITE = 46,
  ZA_ERR_SFX_VOLUME_TOO_SMALL = 47,
  ZA_ERR_ARCHIVE_DAMAGED = 48,           // also 57
  ZA_ERR_MAKESFX_SPANNED = 49,
  ZA_ERR_HAS_SFX_STUB = 50,
  ZA_ERR_MULTIVOLUME_CUSTOM_STREAM = 51,
  ZA_ERR_SPANNED_MODIFICATION = 52,
  ZA_ERR_DEFLATE64 = 55,
  ZA_ERR_MAKESFX = 56,
  ZA_ERR_HASHED_LIST_INVALID = 58,       // also 59
  ZA_ERR_CANNOT_DELETE_FOLDER = 60,
  ZA_ERR_FILE_NAME_TOO_LONG = 61,
  ZA_ERR_MULTIVOLUME_TRANSACTIONS = 62,
  ZA_ERR_INVALID_INIT_VECTOR = 63,       // also 64
  ZA_ERR_DISK_FULL = 65,                 // also 66
  ZA_ERR_INVALID_PASSWORD = 67,
  ZA_ERR_OUT_OF_MEMORY = 68,
};

// Number of message texts (indices 0..41) and of native codes (0..68).
inline constexpr int ZAMessageCount = 42;
inline constexpr int ZANativeCodeCount = 69;

// The message text of an index, unformatted; "Unknown error" outside 0..41.
const char* ZAMessageText(int messageIndex);
// The message index a native code selects; 0 for a code not in the table.
int ZAMessageIndexOfNativeCode(int nativeError);

class EZAException : public std::runtime_error {
 public:
  // The table text for `nativeErr`, not formatted: a text with %s or %d keeps
  // its placeholder. `componentName` empty means "no component".
  explicit EZAException(int nativeErr, std::string_view componentName = {});
  // The same with the table text formatted with `args` first.
  EZAException(int nativeErr, std::string_view componentName,
               std::initializer_list<TZAFormatArg> args);

  // The table text for `nativeErr` followed by the file it concerns, for a
  // text that names none: "...: \"<file>\"".
  static EZAException Naming(int nativeErr, std::string_view componentName, std::string_view file);

  // Index (0..41) of the message text that was used.
  int ErrorCode = 0;
  // The native error code given to the constructor.
  int NativeError = 0;

  std::string Message() const { return what(); }

  // The full message as the constructors build it (exposed for callers that
  // need the text without raising).
  static std::string BuildMessage(int nativeErr, std::string_view componentName,
                                  const std::initializer_list<TZAFormatArg>* args, std::string_view file = {});

 private:
  struct TBuilt {};
  EZAException(TBuilt, int nativeErr, const std::string& message);
};

}  // namespace archiver
