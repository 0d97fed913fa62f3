// Fuzz harness: the catalogue archive's members as the program reads them:
// the author list ("a.txt"), the statistics ("inf.txt") and a block file
// with every author's lines and every line's fields.
#include <cstddef>
#include <cstdint>
#include <string>

#include "catalogue/CatalogueFormat.h"
#include "catalogue/InfoTexts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  catalogue::ParseAuthorList(bytes);
  catalogue::StatisticsTable(bytes);
  const catalogue::TCatalogueBlock block(bytes);
  size_t seen = 0;
  for (int32_t entry = -1; entry <= block.AuthorCount(); ++entry) {
    const catalogue::TLineRange range = block.AuthorLines(entry);
    for (size_t i = 0; i < range.count; ++i) {
      const catalogue::TBookFields fields = catalogue::SplitBookLine(block.Line(range.first + i));
      seen += fields[catalogue::bfTitle].size();
    }
    block.StoredCount(entry);
  }
  for (size_t i = 0; i < block.LineCount(); ++i) seen += block.Line(i).size();
  return seen == SIZE_MAX ? 1 : 0;
}
