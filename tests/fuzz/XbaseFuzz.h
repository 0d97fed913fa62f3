// What the engine's harnesses share: the failures a damaged file or text may
// rightly cause. Anything else escapes and counts as a finding.
#pragma once

#include "xbase/base/errors.h"

namespace xbfuzz {

// Runs `f`, swallowing the engine's own errors.
template <class F>
void Expected(F&& f) {
  try {
    f();
  } catch (const xbase::EXBaseError&) {
  } catch (const xbase::EXBaseEncryption&) {
  } catch (const xbase::EXBaseExpression&) {
  }
}

}  // namespace xbfuzz
