// The expression compiler: text -> tokens -> tree. Used by TxbExpHandler
// only (expr/expression.h is the interface).
#pragma once

#include <memory>
#include <string_view>

#include "xbase/expr/expression.h"

namespace xbase {

struct TxbCompileOptions {
  bool Insensitive = false;
  bool WildCards = true;
  char WildCharAll = '*';
  char WildCharOne = '?';
};

struct TxbCompiled {
  std::unique_ptr<TxbExpBaseObject> Root;  // nullptr for an empty text
  int ArgCount = 0;                        // operands at every depth
  int ExpLen = 0;                          // largest field or number length
  int ExpDec = 0;                          // largest decimal count
};

// Compiles `text` for `owner` (its user link binds the names). `alias`, when
// not empty, is upper-case: "ALIAS." and "ALIAS->" before a name are
// dropped. Raises EXBaseExpression.
TxbCompiled xbCompileExpression(TxbExpHandler* owner, std::string_view text, std::string_view alias,
                                const TxbCompileOptions& options);

}  // namespace xbase
