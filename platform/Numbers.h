// Numbers to and from text, independent of the process locale.
//
// The decimal separator is always '.', whatever locale the GUI toolkit sets.
// Reading accepts blanks (spaces, tabs) around the number and one leading
// '+' (values written by other programs, blank-padded range bounds); any
// other text is refused. Pure and thread-safe.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

// A text that is not a number of the kind asked for.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The general format with up to 15 significant digits: fixed notation while
// the value has at most 15 integer digits and is not below 0.00001,
// otherwise "1.5E20" / "1E-7"; "0" for zero (either sign), "NAN", "INF",
// "-INF".
std::string FloatToStr(double value);

// Raises EConvertError "'<text>' is not a valid floating point value".
double StrToFloat(std::string_view text);
bool TryStrToFloat(std::string_view text, double& value);

// Whole decimal numbers, with the same blank and '+' rules; false when the
// text is not one or the value does not fit.
bool TryStrToInt(std::string_view text, int32_t& value);
bool TryStrToInt(std::string_view text, int64_t& value);

// The decimal digits at the start of `text` as a number: the count of digits
// read, 0 when `text` does not begin with a digit or the value does not fit.
size_t ScanDigits(std::string_view text, int64_t& value);

}  // namespace platform
