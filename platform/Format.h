// printf-like formatting of numbered message texts.
//
// The archiver's and the engine's message tables use a small subset of the
// C format language: %s, %d (also %u, %x), an optional '-' flag and a width
// ("%5d", "%-8s"), and %%. Numbers are 64-bit. Pure and thread-safe.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace platform {

// One argument of a formatted message: a number (for %d) or a text (for %s).
class TFormatArg {
 public:
  TFormatArg(int v) : v_(static_cast<int64_t>(v)) {}
  TFormatArg(unsigned v) : v_(static_cast<int64_t>(v)) {}
  TFormatArg(long v) : v_(static_cast<int64_t>(v)) {}
  TFormatArg(long long v) : v_(static_cast<int64_t>(v)) {}
  TFormatArg(unsigned long v) : v_(static_cast<int64_t>(v)) {}
  TFormatArg(unsigned long long v) : v_(static_cast<int64_t>(v)) {}
  TFormatArg(const char* s) : v_(std::string(s)) {}
  TFormatArg(std::string_view s) : v_(std::string(s)) {}
  TFormatArg(const std::string& s) : v_(s) {}
  const std::variant<int64_t, std::string>& Value() const { return v_; }

 private:
  std::variant<int64_t, std::string> v_;
};

// Formats `fmt` with `args` in order. A number given for %s is printed as a
// number and a text given for %d as text; a missing argument leaves the
// placeholder as it stands. Never throws on malformed input.
std::string Format(std::string_view fmt, std::initializer_list<TFormatArg> args);

}  // namespace platform
