// BENCH_LIBS: xbase dataaccess platform
// The catalogue's author lookup through the dataset: 575,000 author names
// among 150,000 distinct ones (letter case varying between occurrences)
// looked up as the book-list build does it -- First, FindKey on the
// upper-cased name in the index on "upper(NA)", AppendRecord (ID, NA) when
// missing -- on the author table (ID N 10, NA C 120) opened exclusive
// without code-page translation. Then the book table's side: 500,000 book
// records, the index on "AU" bulk-built through IndexOn, and a SetRange
// walk over every author reading the fields as the build does. Prints
// microseconds per lookup and per append, the walk's figures, and the peak
// memory.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/dataset/create_table.h"
#include "xbase/dataset/dataset.h"

namespace {

using dataaccess::TVariant;
using platform::AnsiString;

// Divided by the program's argument when given (a quicker run).
int kLookups = 575000;
int kDistinct = 150000;
int kBooks = 500000;

// A name per number: surname, given name and a number, Cyrillic, in a
// letter case picked by `variant`.
AnsiString AuthorName(int n, int variant) {
  static const char* surnames[] = {"Иванов", "Петров", "Smith", "Сидоров", "Кузнецова", "Ёлкин", "Brown", "Щукин"};
  static const char* given[] = {"Пётр", "Анна", "John", "Мария", "Фёдор", "Ольга"};
  std::string s = std::string(surnames[n % 8]) + " " + given[(n / 8) % 6] + " " + std::to_string(n);
  AnsiString a = platform::Utf8ToAnsi(s);
  if (variant == 1) a = platform::AnsiUpperCase(a);
  if (variant == 2) a = platform::AnsiLowerCase(a);
  return a;
}

void OpenWork(xbase::TXBaseDataSet& ds, const std::string& dir, const std::string& table, bool useDeleted) {
  ds.SetDatabaseName(dir);
  ds.SetTableName(table);
  ds.SetExclusive(true);
  ds.SetTranslateASCII(false);
  ds.SetUseDeleted(useDeleted);
  ds.Open();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::atoi(argv[1]) > 1) {
    const int d = std::atoi(argv[1]);
    kLookups /= d;
    kDistinct /= d;
    kBooks /= d;
  }
  const std::string dir = platform::CreateTempFolder(platform::SystemTempDir(), "xbdataset");

  // The stream of names: every distinct name once in order of first
  // appearance spread over the stream, the rest repeats.
  std::vector<AnsiString> stream;
  stream.reserve(kLookups);
  uint32_t seed = 7;
  int introduced = 0;
  for (int i = 0; i < kLookups; ++i) {
    seed = seed * 1103515245u + 12345u;
    const bool fresh = introduced < kDistinct &&
                       (static_cast<int64_t>(introduced) * kLookups <= static_cast<int64_t>(i) * kDistinct);
    const int n = fresh ? introduced++ : static_cast<int>((seed >> 8) % static_cast<uint32_t>(std::max(introduced, 1)));
    stream.push_back(AuthorName(n, static_cast<int>((seed >> 4) % 3)));
  }

  xbase::CreateTableFromFieldList(dir + "/au.dbf", "", 0, {"ID;N;10;0", "NA;C;120;0"});
  xbase::TXBaseDataSet au;
  OpenWork(au, dir, "AU.DBF", false);
  au.IndexOn("AU", "AU", "upper(NA)", "", xbase::XBsetIndexUnique::Duplicates, xbase::XBsetSortStatus::Ascending);
  au.IndexFileInclude("AU.NDX");
  au.SetIndexName("AU");

  int counter = 0;
  double appendSeconds = 0, firstSeconds = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (const AnsiString& name : stream) {
    const auto f0 = std::chrono::steady_clock::now();
    au.First();
    firstSeconds += bench::SecondsSince(f0);
    if (au.FindKey({TVariant(platform::AnsiUpperCase(name))})) continue;
    const auto a0 = std::chrono::steady_clock::now();
    au.AppendRecord({TVariant(++counter), TVariant(name)});
    appendSeconds += bench::SecondsSince(a0);
  }
  const double total = bench::SecondsSince(t0);
  const double lookupSeconds = total - appendSeconds;

  // The book table: records written behind the header, then the index on
  // AU built in bulk and every author's books walked by range.
  const std::string bo = dir + "/bo.dbf";
  xbase::CreateTableFromFieldList(bo, "", 0,
                                  {"AU;N;10;0", "NA;C;250;0", "SB;C;150;0", "FI;C;8;0", "SZ;N;8;0", "GE;C;8;0",
                                   "DT;C;4;0", "LN;C;2;0"});
  {
    xbase::XBO_dBaseDBF t(bo, "", true, false);
    for (int i = 0; i < kBooks; ++i) {
      std::string r = BookRecord(i);
      char num[12];
      std::snprintf(num, sizeof num, "%10d", static_cast<int>(1 + (int64_t{i} * 7919) % counter));
      r.replace(1, 10, num);
      std::memcpy(t.CurRecord(), r.data(), r.size());
      t.xbAppend();
    }
  }
  xbase::TXBaseDataSet books;
  OpenWork(books, dir, "BO.DBF", true);
  const auto b0 = std::chrono::steady_clock::now();
  books.IndexOn("BO", "BO", "AU", "", xbase::XBsetIndexUnique::Duplicates, xbase::XBsetSortStatus::Ascending);
  books.IndexFileInclude("BO.NDX");
  books.SetIndexName("BO");
  const double build = bench::SecondsSince(b0);

  const auto w0 = std::chrono::steady_clock::now();
  long long walked = 0, sink = 0;
  for (au.SetIndexName(""), au.First(); !au.Eof(); au.Next()) {
    const std::string id = std::to_string(au.FieldByName("ID").AsInteger());
    books.SetRange(id, id);
    for (books.First(); !books.Eof(); books.Next()) {
      for (const char* f : {"NA", "SB", "FI", "SZ", "GE", "DT", "LN"}) sink += books.FieldByName(f).AsString().size();
      sink += books.IsDeleted();
      ++walked;
    }
  }
  const double walk = bench::SecondsSince(w0);
  au.Close();
  books.Close();
  platform::DeleteTree(dir);

  std::printf("author lookup: %d names, %d distinct (%d authors appended)\n", kLookups, kDistinct, counter);
  std::printf("  total %.3f s; %.2f us per lookup (First %.2f + FindKey), %.2f us per append\n", total,
              lookupSeconds * 1e6 / kLookups, firstSeconds * 1e6 / kLookups, appendSeconds * 1e6 / std::max(counter, 1));
  std::printf("book table: %d records; IndexOn AU %.3f s; range walk over every author %.3f s (%lld books, sink %lld)\n",
              kBooks, build, walk, walked, sink);
  std::printf("peak memory %.1f MiB\n", bench::PeakMiB());
  return 0;
}
