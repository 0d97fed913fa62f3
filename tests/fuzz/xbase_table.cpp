// Fuzz harness: a table and its memo file as another program may have left
// them. The input is a 4-byte little-endian length L, then L bytes of the
// table file, then the memo file (given to the table as both its ".dbt" and
// its ".fpt"). The table is opened, and of its first records every field is
// read in every form, as an expression sees it too, then put back through
// the text puts and the record rewritten. Only the engine's own errors may
// come out.
#include "XbaseFuzz.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Files.h"
#include "xbase/expr/expression.h"
#include "xbase/table/fields.h"

namespace {

using namespace xbase;

constexpr int kMaxRecords = 32;

// The folder the inputs are written to, removed when the run ends.
const std::string& Folder() {
  static const struct TFolder {
    std::string path = platform::CreateTempFolder(platform::SystemTempDir(), "fuzz-table");
    ~TFolder() { platform::DeleteTree(path); }
  } folder;
  return folder.path;
}

using xbfuzz::Expected;

void Exercise(XBO_dBaseFld& t, int r) {
  t.xbGetRec(r);
  AnsiString text;
  for (int n = 1; n <= t.NumFields(); ++n) {
    Expected([&] { t.xbStringGetNInto(n, text); });
    Expected([&] { t.xbNumberGetN(n); });
    Expected([&] { t.xbDateGetN(n); });
    Expected([&] { t.xbMemoSizeN(n); });
    t.xbLogicGetN(n);
    Expected([&] {
      TxbExpHandler h(t.DBFExpLink(), t.xbFieldName(n));
      TxbExpValue v;
      h.ExpressionResult(v);
    });
  }
  Expected([&] {
    for (int n = 1; n <= t.NumFields(); ++n) {
      t.xbStringGetNInto(n, text);
      t.xbStringPutN(n, text);
    }
    t.SetdState(dbEdit);
    t.xbPutRec(r);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t tableLen = std::min<size_t>(size - 4, data[0] | data[1] << 8 | data[2] << 16 | size_t{data[3]} << 24);
  const char* bytes = reinterpret_cast<const char*>(data) + 4;
  const std::string table = Folder() + "/t.dbf";
  platform::WriteFileBytes(table, std::string(bytes, tableLen));
  const std::string memo(bytes + tableLen, size - 4 - tableLen);
  platform::WriteFileBytes(Folder() + "/t.dbt", memo);
  platform::WriteFileBytes(Folder() + "/t.fpt", memo);
  Expected([&] {
    XBO_dBaseFld t(table, "", true, false);
    for (int r = 1; r <= t.NumRecs() && r <= kMaxRecords; ++r) Expected([&] { Exercise(t, r); });
    t.xbBlank();
    Expected([&] { t.xbAppend(); });
  });
  return 0;
}
