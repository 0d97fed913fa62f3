// NTX bulk builds: the tree layout for every key count on a model of pages
// in memory, and builds from a table's records against the sorted keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/platform/LoopSample.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/IndexTable.h"
#include "tests/xbase/NtxReader.h"
#include "xbase/base/byte_order.h"
#include "xbase/index/ntx_format.h"

using namespace xbase;
using namespace xbtest;

namespace {

using Keys = std::vector<std::pair<std::string, int>>;

// Pages kept in a string: the first `stride` bytes of page n (offset
// n * 1024) at n * stride; page 0 is left for a header.
class TMemorySink : public TxbNTXTreeBuilder::TPageSink {
 public:
  explicit TMemorySink(size_t stride) : stride(stride), image(stride, '\0') {}
  int NewPage() override {
    image.resize(image.size() + stride);
    return static_cast<int>(image.size() / stride - 1) * 1024;
  }
  void WritePage(int offset, const uint8_t* page) override {
    std::memcpy(image.data() + offset / 1024 * stride, page, stride);
  }
  size_t stride;
  std::string image;
};

// Builds `n` keys at `maxKeys` to a page and walks the result (records
// only, unless `withKeys`).
RawNtx BuildModel(int n, int maxKeys, bool withKeys = false, int keyLength = 8) {
  // Only the bytes the items can reach are kept.
  TMemorySink sink(static_cast<size_t>((maxKeys + 2) * 2 + (maxKeys + 1) * (keyLength + 8)));
  TxbNTXTreeBuilder tree(sink, keyLength, maxKeys, n);
  std::string key(static_cast<size_t>(keyLength), '0');
  for (int i = 1; i <= n; ++i) {
    for (int v = i, at = keyLength - 1; v > 0; v /= 10, --at) key[static_cast<size_t>(at)] = static_cast<char>('0' + v % 10);
    tree.Add(reinterpret_cast<const uint8_t*>(key.data()), static_cast<uint32_t>(i));
  }
  const int root = tree.Finish();
  RawNtx raw;
  raw.withKeys = withKeys;
  raw.bytes = sink.image;
  raw.stride = sink.stride;
  raw.Walk(static_cast<uint32_t>(root), keyLength, maxKeys, true);
  return raw;
}

}  // namespace

TEST(NtxBuild, EveryCountToThreeThousandWalksWholeWithinTheMaximum) {
  for (int maxKeys : {2, 44, 50}) {
    // Under the sanitizers every count to 120, then every seventh.
    for (int n = 0; n <= 3000; n += n < 120 ? 1 : static_cast<int>(looptest::Step(7))) {
      const RawNtx raw = BuildModel(n, maxKeys);
      ASSERT_EQ(raw.error, "") << n << " keys at " << maxKeys;
      ASSERT_EQ(raw.records.size(), static_cast<size_t>(n)) << n << " keys at " << maxKeys;
      for (int i = 0; i < n; ++i) ASSERT_EQ(raw.records[static_cast<size_t>(i)], i + 1) << n << " keys at " << maxKeys;
    }
  }
}

TEST(NtxBuild, HundredKeysAtFiftyMakeLeavesOf34And34And30UnderTwoKeys) {
  const RawNtx raw = BuildModel(100, 50, true);
  ASSERT_EQ(raw.error, "");
  EXPECT_EQ(raw.leafCounts, (std::vector<int>{34, 34, 30}));
  EXPECT_EQ(raw.depth, 2);
  // The root is the last page written: keys 35 and 70.
  const std::string root = raw.Page(static_cast<uint32_t>((raw.bytes.size() / raw.stride - 1) * 1024));
  const uint8_t* p = reinterpret_cast<const uint8_t*>(root.data());
  ASSERT_EQ(GetLE16(p), 2);
  EXPECT_EQ(GetLE32(p + GetLE16(p + 2) + 4), 35u);
  EXPECT_EQ(GetLE32(p + GetLE16(p + 4) + 4), 70u);
  EXPECT_EQ(root.substr(GetLE16(p + 2) + 8, 8), "00000035");
}
