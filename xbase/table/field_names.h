// The names an expression finds on a table: one field variable per field
// and the table-bound functions RECNO, DELETED, BOF, EOF, TYPE, LEN and
// FIELDNO. The table registers them on its user link when it opens
// (XBO_dBaseFld) and they live as long as it does.
//
// A field variable evaluates to its field in the current record, by type:
//   C           text, as stored (not trimmed)       rtText
//   D           Julian day (0: empty)               rtDate
//   F, I, N, Y  number (B too in Visual FoxPro)     rtFloat
//   L           logical                             rtBoolean
//   M           the memo's text ("" without one)    rtText
//   other       the raw field bytes                 rtMemo
#pragma once

#include <memory>
#include <string_view>

#include "xbase/expr/expression.h"

namespace xbase {

class XBO_dBaseFld;

// Registers the seven table-bound functions of `table` on `link`.
void xbRegisterTableFunctions(XBO_dBaseFld& table, TxbExpUserLink& link);

// The variable of field `n` of `table`, known by `names` (';'-separated).
std::unique_ptr<TxbUserDefFieldVar> xbMakeFieldVar(XBO_dBaseFld& table, int n, std::string_view names);

}  // namespace xbase
