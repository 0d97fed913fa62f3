// BENCH_LIBS: xbase platform
// The catalogue's author index: an NDX index on a text key of 120 bytes (3
// keys a page), grown by adding 100,000 distinct upper-cased names one by
// one in reading order, then 10,000 seeks of names it holds. Prints the
// microseconds per add and per seek, the tree's depth and the file's size,
// for the file opened exclusively (pages cached, as the catalogue opens it)
// and shared (every page read and written each time).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "xbase/expr/expression.h"
#include "xbase/index/ndx_format.h"

using namespace xbase;

namespace {

constexpr int kNames = 100000;
constexpr int kSeeks = 10000;

// The one field NA of 120 characters; the record buffer is never read here
// (the keys are given), but the key expression names it.
class TNameField : public TxbUserDefFieldVar {
 public:
  TNameField() : TxbUserDefFieldVar("NA", 120) {}
  int FieldVarType() const override { return etDataField; }
  void FieldVarResult(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar.PutText(std::string(120, ' '));
    ExpResult = rtText;
  }
};

class TAuthorTable : public XBobjIndexOwner {
 public:
  explicit TAuthorTable(std::string path) : path_(std::move(path)) {
    link_.RegisterFieldVar(std::make_unique<TNameField>());
  }
  std::string IndexTableFileName() const override { return path_; }
  TxbExpUserLink* IndexExpLink() override { return &link_; }
  AnsiString IndexAlias() const override { return "AU"; }
  int IndexRecordCount() override { return 0; }
  int IndexRecNumber() const override { return 0; }
  bool IndexExactMatch() const override { return false; }
  const AnsiString& IndexPasswordIn() const override { return none_; }
  const AnsiString& IndexPasswordOut() const override { return none_; }
  void IndexReadRecord(int) override {}
  void IndexStatus(int, int, int) override {}
  bool IndexRecModified() const override { return false; }
  void IndexUseOrigRec(bool) override {}
  std::string IndexTempDir() const override { return {}; }

 private:
  std::string path_;
  TxbExpUserLink link_;
  AnsiString none_;
};

// Distinct names like "ИВАНОВ ПЕТР СЕРГЕЕВИЧ 1234" or "SMITH JOHN 77", upper
// case, in a shuffled (reading) order.
std::vector<std::string> Names() {
  static const char* cyr[] = {"ИВАНОВ", "ПЕТРОВ", "СИДОРОВ", "КУЗНЕЦОВ", "СМИРНОВ", "ПОПОВ", "ВАСИЛЬЕВ", "СОКОЛОВ"};
  static const char* lat[] = {"SMITH", "JONES", "BROWN", "TAYLOR", "WILSON", "DAVIES", "EVANS", "THOMAS"};
  static const char* first[] = {"АЛЕКСАНДР", "ПЕТР", "JOHN", "MARY", "ЕЛЕНА", "ANNA", "СЕРГЕЙ", "JAMES"};
  std::vector<std::string> names;
  names.reserve(kNames);
  for (int i = 0; i < kNames; ++i) {
    std::string n = (i % 3 ? cyr[i % 8] : lat[i % 8]);
    n += " ";
    n += first[(i / 8) % 8];
    n += " " + std::to_string(i / 64);
    // The engine's keys are Windows-1251; the source is UTF-8: two bytes
    // a Cyrillic letter, which only lengthens the keys a little.
    names.push_back(n.substr(0, 120));
  }
  std::shuffle(names.begin(), names.end(), std::mt19937(1251));
  return names;
}

void Run(const std::vector<std::string>& names, bool shared, int count) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tomeshelf-bench-ndxadd";
  std::filesystem::create_directories(dir);
  TAuthorTable table((dir / "au.dbf").string());
  auto ndx = std::make_unique<XBobjNDXFile>(&table, "au", true, shared, true, true);
  ndx->AddTag("AU", "NA", "", true, false);
  XBobjIndexTag& tag = *ndx->Tag();

  XBobjIndexKeyData key(128);
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    key.PutString(names[static_cast<size_t>(i)]);
    key.Tag = i + 1;
    tag.KeyAdd(key);
  }
  const double add = bench::SecondsSince(t0);

  std::mt19937 gen(7);
  int found = 0;
  const auto t1 = std::chrono::steady_clock::now();
  for (int i = 0; i < kSeeks; ++i) {
    key.PutString(names[gen() % static_cast<unsigned>(count)]);
    if (tag.SeekKey(XBobjIndexTag::AnyRecord, key, XBobjIndexTag::Whole) == 0) ++found;
  }
  const double seek = bench::SecondsSince(t1);
  const int depth = tag.PathDepth();
  ndx->CloseFile();
  const auto size = std::filesystem::file_size(dir / "au.ndx");
  std::printf("%-9s %6d adds: %6.2f us/add  %5d seeks: %5.2f us/seek (%d found)  depth %d  %7.1f MB  peak %.0f MiB\n",
              shared ? "shared" : "exclusive", count, add * 1e6 / count, kSeeks, seek * 1e6 / kSeeks, found, depth,
              static_cast<double>(size) / 1e6, bench::PeakMiB());
  ndx.reset();
  std::filesystem::remove_all(dir);
}

}  // namespace

int main() {
  const std::vector<std::string> names = Names();
  Run(names, false, kNames);
  Run(names, true, kNames);
  return 0;
}
