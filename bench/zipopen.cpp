// BENCH_LIBS: archiver
// Opening a large archive: Python's zipfile writes an archive of 100,000
// entries (numbered books under author folders, as the collection holds),
// then the same file is opened by our component and by zipfile, each the
// best of several runs, in the same run of this program. Prints both times
// and the ratio (target: at least 5x faster than zipfile).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchUtil.h"
#include "archiver/ZipArchiver.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* kPython = "/usr/bin/python3";

}  // namespace

int main() {
  const int entries = 100000;
  const int runs = 7;
  std::string tmpl = (std::filesystem::temp_directory_path() / "zipopen.XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) return 1;
  const std::string dir = tmpl;
  const std::string path = dir + "/books.zip";
  const std::string script = dir + "/make.py";
  {
    FILE* f = std::fopen(script.c_str(), "w");
    std::fprintf(f,
                 "import sys, zipfile, time\n"
                 "if sys.argv[1] == 'make':\n"
                 "    with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                 "        for i in range(int(sys.argv[3])):\n"
                 "            z.writestr('Author %%d/%%d.fb2' %% (i %% 1499, 200000 + i), 'book %%d' %% i)\n"
                 "else:\n"
                 "    best = 1e9\n"
                 "    for _ in range(int(sys.argv[3])):\n"
                 "        t = time.perf_counter()\n"
                 "        with zipfile.ZipFile(sys.argv[2]) as z: n = len(z.infolist())\n"
                 "        best = min(best, time.perf_counter() - t)\n"
                 "    print(best, n)\n");
    std::fclose(f);
  }
  bench::RunCapture(std::string(kPython) + " " + script + " make " + path + " " + std::to_string(entries));

  double best = 1e9;
  int count = 0;
  for (int r = 0; r < runs; ++r) {
    const auto t = Clock::now();
    archiver::TZipArchiver arc;
    arc.SetFileName(path);
    arc.OpenArchive(archiver::ZAModeRead);
    count = arc.DMHandle()->CDir.Count();
    arc.CloseArchive();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t).count());
  }
  double pyBest = 0;
  int pyCount = 0;
  const std::string py =
      bench::RunCapture(std::string(kPython) + " " + script + " open " + path + " " + std::to_string(runs));
  std::sscanf(py.c_str(), "%lf %d", &pyBest, &pyCount);

  std::printf("archive: %d entries, %lld bytes\n", entries,
              static_cast<long long>(std::filesystem::file_size(path)));
  std::printf("TZipArchiver open : %8.2f ms (%d entries)\n", best * 1000, count);
  std::printf("Python zipfile    : %8.2f ms (%d entries)\n", pyBest * 1000, pyCount);
  std::printf("ratio             : %8.2fx faster than zipfile\n", best > 0 ? pyBest / best : 0.0);
  std::filesystem::remove_all(dir);
  return count == entries && pyCount == entries ? 0 : 1;
}
