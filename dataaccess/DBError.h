// Failures of the data-access layer: EDatabaseError, the routines that raise
// it, and the texts of the conditions the framework itself reports.
//
// A dataset built on this layer reports its own conditions through
// DatabaseError/DatabaseErrorFmt too, with its own texts; failures of the
// storage below it pass through with their own exception classes.
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>

namespace dataaccess {

class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An operation given up at a handler's request (an error event answering
// daAbort). It carries no message worth showing.
class EAbort : public std::runtime_error {
 public:
  EAbort() : std::runtime_error("Operation aborted") {}
};

// Raises EDatabaseError with `message`.
[[noreturn]] void DatabaseError(const std::string& message);
// Raises EDatabaseError with `format` in which each "%s" or "%d" takes the
// next of `args` in order ("%%" is a percent sign).
[[noreturn]] void DatabaseErrorFmt(const std::string& format, std::initializer_list<std::string> args);

// The framework's own texts (format arguments noted where they take any).
inline constexpr const char* SDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* SDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* SDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* SDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* SNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* SRecordNotFound = "Record not found";
inline constexpr const char* SInvalidBookmark = "Invalid bookmark";
inline constexpr const char* SFieldIndexError = "Field index out of range";
inline constexpr const char* SOperationNotSupported = "Operation not supported";
inline constexpr const char* SCircularDataLink = "Circular datalinks are not allowed";
inline constexpr const char* SInvalidFieldSize = "Invalid field size";
// Field name.
inline constexpr const char* SFieldNotFound = "Field '%s' not found";
inline constexpr const char* SDuplicateFieldName = "Duplicate field name '%s'";
inline constexpr const char* SFieldReadOnly = "Field '%s' cannot be modified";
inline constexpr const char* SFieldRequired = "Field '%s' must have a value";
inline constexpr const char* SNotIndexField = "Field '%s' is not indexed and cannot be modified";
inline constexpr const char* SDataSetMissing = "Field '%s' has no dataset";
// Field name, wanted type, the type of the definition.
inline constexpr const char* SFieldTypeMismatch = "Type mismatch for field '%s', expecting: %s actual: %s";
// Field name, type asked for.
inline constexpr const char* SFieldAccessError = "Cannot access field '%s' as type %s";
// Value, field name, lowest, highest.
inline constexpr const char* SFieldRangeError =
    "%s is not a valid value for field '%s'. The allowed range is %s to %s";
// The text given.
inline constexpr const char* SInvalidInteger = "'%s' is not a valid integer value";
inline constexpr const char* SInvalidFloat = "'%s' is not a valid floating point value";
inline constexpr const char* SInvalidBoolean = "'%s' is not a valid boolean value";
inline constexpr const char* SInvalidDate = "'%s' is not a valid date";
inline constexpr const char* SInvalidDateTime = "'%s' is not a valid date and time";

}  // namespace dataaccess
