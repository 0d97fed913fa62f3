// The table the filter, find and search tests work on: RN N 6 (the record
// number), AU N 5, NA C 20, BD D, OK L, NOTE M; names with letter-case
// variants, prefixes of each other, blanks, Cyrillic and a '*'; empty
// dates; every 11th record deleted.
#pragma once

#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "tests/platform/TempDir.h"
#include "xbase/base/dates.h"
#include "xbase/table/fields.h"
#include "xbase/table/table_builders.h"

namespace xbtest {

inline const std::vector<std::string>& FilterNames() {
  static const std::vector<std::string> names = {
      "Smith", "SMITH", "Smithson", "Jones", "Lovecraft", "Adams", "", platform::Utf8ToAnsi("Ёлкин"),
      "Sm*th", " Smith", "Abbot", platform::Utf8ToAnsi("ёлкин")};
  return names;
}

// `count` records into `dir`/`name`; returns the table's path.
inline std::string MakeFilterTable(const TempDir& dir, int count, const std::string& name = "f.dbf") {
  xbase::XBO_DBFBuild b(dir / name);
  b.InsertField("RN", "N", 6, 0);
  b.InsertField("AU", "N", 5, 0);
  b.InsertField("NA", "C", 20, 0);
  b.InsertField("BD", "D", 8, 0);
  b.InsertField("OK", "L", 1, 0);
  b.InsertField("NOTE", "M", 10, 0);
  b.Complete();
  xbase::XBO_dBaseFld t(b.FileName(), "", true, false);
  const auto& names = FilterNames();
  const int32_t day0 = xbase::xbDBFDate().MDY2Jul(1, 1, 2000);
  for (int i = 1; i <= count; ++i) {
    t.xbBlank();
    t.xbNumberPut("RN", i);
    t.xbNumberPut("AU", (i * 37) % 50);
    t.xbStringPut("NA", names[static_cast<size_t>(i * 7 % static_cast<int>(names.size()))]);
    if (i % 7 != 0) t.xbDatePut("BD", day0 + (i * 13) % 400);
    t.xbLogicPut("OK", i % 3 == 0);
    if (i % 5 == 0) t.xbStringPut("NOTE", "note of record " + std::to_string(i) + ", Lovecraft");
    t.xbAppend();
    if (i % 11 == 0) t.xbDeleteRec();
  }
  return b.FileName();
}

}  // namespace xbtest
