// The message of the engine error a piece of a test raises.
#pragma once

#include <functional>
#include <string>

#include "xbase/xb_error.h"

// The message of the EXBaseError `f` raises ("" when it raises none).
inline std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const xbase::EXBaseError& e) {
    return e.what();
  }
  return "";
}
