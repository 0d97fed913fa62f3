// BENCH_LIBS: xbase platform
// Random seeks and a key walk on an NTX over upper(NA) of an author table
// of 500,000 records (ID N 8, NA C 100, then C 250; names in mixed case):
// 100,000 exact seeks (xbFind) of names the table holds, and one walk over
// every key in order on the tag's keys alone (as the book-list build walks
// its orders). Each runs in a process of its own, three times, so that its
// peak memory is its own; the best time, the read calls and the peak are
// printed. A seek reads only the blocks it needs (the cache does not fill
// with blocks read ahead of it); a walk reads the blocks it steps into in
// runs of 32 KB.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "bench/BenchUtil.h"
#include "platform/CodePage.h"
#include "xbase/handler/table_handler.h"
#include "xbase/index/index_framework.h"
#include "xbase/table/table_builders.h"

namespace {

constexpr int kRecords = 500000;
constexpr int kSeeks = 100000;

// The name of record n: surname, given name and a number, Cyrillic and
// Latin, in mixed case, drawn from n alone so that a seek can name any
// record without the table's names in memory.
std::string NameOf(int n) {
  static const char* surnames[] = {"Толстой", "Достоевский", "Чехов", "Бунин",    "Пушкин", "Лермонтов",
                                   "Гоголь",  "Тургенев",    "Smith", "Christie", "Asimov", "Hugo"};
  static const char* given[] = {"Лев", "Фёдор", "Антон", "Иван", "Arthur", "Agatha", "Isaac", "Victor"};
  uint64_t h = static_cast<uint64_t>(n) * 0x9E3779B97F4A7C15ull;
  h = (h ^ (h >> 31)) * 0xBF58476D1CE4E5B9ull;
  h ^= h >> 29;
  return platform::Utf8ToAnsi(std::string(surnames[h % std::size(surnames)]) + " " +
                              given[(h >> 8) % std::size(given)] + " " + std::to_string((h >> 16) % 1000000));
}

void MakeTable(const std::string& table, const std::string& index, int nameLength) {
  {
    xbase::XBO_DBFBuild b(table);
    b.InsertField("ID", "N", 8, 0);
    b.InsertField("NA", "C", nameLength, 0);
    b.Complete();
  }
  xbase::XBO_dBHandler t(table, "", true, false);
  t.xbFLock();
  char id[16];
  for (int i = 0; i < kRecords; ++i) {
    uint8_t* r = t.CurRecord();
    std::memset(r, ' ', static_cast<size_t>(t.RecLen()));
    std::snprintf(id, sizeof id, "%8d", i + 1);
    std::memcpy(r + 1, id, 8);
    const std::string name = NameOf(i + 1);
    std::memcpy(r + 9, name.data(), name.size());
    t.xbAppend();
  }
  t.xbLockOff();
  t.xbIndexTo(index, "", "upper(NA)", "", xbase::XBsetIndexUnique::Duplicates, xbase::XBsetSortStatus::Ascending);
}

// One phase in this process: prints "<seconds> <count> <peak MiB> <read
// and write calls>".
int RunPhase(const std::string& phase, const std::string& table, const std::string& index) {
  xbase::XBO_dBHandler t(table, "", false, false);
  t.xbIndex(index, "AU");
  int count = 0;
  const long long calls = bench::ReadWriteCalls();
  const auto t0 = std::chrono::steady_clock::now();
  if (phase == "seek") {
    t.SetxbvExactMatch(true);
    std::mt19937 rng(54);
    for (int i = 0; i < kSeeks; ++i)
      count += t.xbFind(platform::AnsiUpperCase(NameOf(1 + static_cast<int>(rng() % kRecords))));
  } else {
    xbase::XBobjIndexTag& tag = *t.IndexMaster();
    for (int rn = tag.KeyRead(xbase::xbRecTop); rn > 0; rn = tag.KeyRead(xbase::xbRecNext)) ++count;
  }
  const double seconds = bench::SecondsSince(t0);
  std::printf("%.6f %d %.1f %lld\n", seconds, count, bench::PeakMiB(), bench::ReadWriteCalls() - calls);
  return 0;
}

struct TPhase {
  double seconds = 1e9;
  int count = 0;
  double peak = 0;
  long long calls = 0;
};

TPhase Measure(const char* self, const char* phase, const std::string& table, const std::string& index) {
  TPhase best;
  for (int run = 0; run < 3; ++run) {
    int fds[2];
    if (pipe(fds) != 0) return best;
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      close(fds[1]);
      execl(self, self, phase, table.c_str(), index.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    char line[128] = {};
    const ssize_t n = read(fds[0], line, sizeof line - 1);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    TPhase p;
    if (n > 0 && std::sscanf(line, "%lf %d %lf %lld", &p.seconds, &p.count, &p.peak, &p.calls) == 4) {
      if (p.seconds < best.seconds) best.seconds = p.seconds;
      best.count = p.count;
      best.calls = p.calls;
      if (p.peak > best.peak) best.peak = p.peak;
    }
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4) return RunPhase(argv[1], argv[2], argv[3]);
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tomeshelf-bench-ntxseek";
  // An index about the size of the block cache's budget, and one five
  // times as large.
  for (int nameLength : {100, 250}) {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string table = (dir / "au.dbf").string(), index = (dir / "au.ntx").string();
    const auto t0 = std::chrono::steady_clock::now();
    MakeTable(table, index, nameLength);
    const double build = bench::SecondsSince(t0);
    const TPhase seek = Measure(argv[0], "seek", table, index);
    const TPhase walk = Measure(argv[0], "walk", table, index);
    std::printf("NTX on upper(NA), NA C(%d), %d records (table and index made in %.2f s), index %.1f MB\n",
                nameLength, kRecords, build, static_cast<double>(std::filesystem::file_size(index)) / 1e6);
    std::printf("  %d exact seeks: %.3f s, %.2f us each (%d found), %lld read calls, peak %.1f MiB\n", kSeeks,
                seek.seconds, seek.seconds * 1e6 / kSeeks, seek.count, seek.calls, seek.peak);
    std::printf("  key walk: %.3f s for %d keys, %.3f us each, %lld read calls, peak %.1f MiB\n", walk.seconds,
                walk.count, walk.seconds * 1e6 / std::max(1, walk.count), walk.calls, walk.peak);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
