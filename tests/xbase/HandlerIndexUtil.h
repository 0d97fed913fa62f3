// Small helpers shared by the index tests of the table handler: the records
// a walk shows, and copies of the other engine's fixture files.
#pragma once

#include <string>
#include <vector>

#include "platform/Files.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/handler/table_handler.h"

namespace xbtest {

inline const std::string kHarbourCdx = kXbData + "harbour/cdx/";

// The records shown walking `t` from the top in its current order.
inline std::vector<int> WalkRecords(xbase::XBO_dBHandler& t) {
  std::vector<int> recs;
  for (t.xbGetRec(xbase::xbRecTop); t.xbvRecRead(); t.xbGetRec(xbase::xbRecNext)) recs.push_back(t.RecNumber());
  return recs;
}

// Copies those of `names` the fixtures hold into folder `dir` (ending in '/').
inline void CopyHarbourFiles(const std::string& dir, const std::vector<std::string>& names) {
  for (const std::string& n : names)
    if (platform::FileExists(kHarbourCdx + n)) platform::WriteFileBytes(dir + n, platform::ReadFileBytes(kHarbourCdx + n));
}

}  // namespace xbtest
