// The message of the engine error a piece of a test raises.
#pragma once

#include <functional>
#include <string>

#include "xbase/base/errors.h"

// The message of the `E` (EXBaseError unless given) that `f` raises ("" when
// it raises none).
template <class E = xbase::EXBaseError>
std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}
