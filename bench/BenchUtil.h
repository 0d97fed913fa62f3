// Small helpers shared by the benchmark programs.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace bench {

// Runs a shell command and returns what it printed (empty when it could not
// be started).
inline std::string RunCapture(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

// The best wall time of `rounds` runs of f, in seconds: the least disturbed
// run on a shared machine.
template <class F>
double BestSeconds(int rounds, F&& f) {
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

// Seconds since `t0`.
inline double SecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The process's peak resident memory so far, in MiB.
inline double PeakMiB() {
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

// Read and write calls the process has made so far (syscr + syscw of
// /proc/self/io); -1 when the system does not tell.
inline long long ReadWriteCalls() {
  FILE* f = std::fopen("/proc/self/io", "r");
  if (!f) return -1;
  long long calls = 0, value = 0;
  char name[64];
  int seen = 0;
  while (std::fscanf(f, "%63[^:]: %lld\n", name, &value) == 2) {
    if (std::string(name) == "syscr" || std::string(name) == "syscw") calls += value, ++seen;
  }
  std::fclose(f);
  return seen == 2 ? calls : -1;
}

// Starts a new peak of resident memory at what the process holds now, so
// that PeakSinceResetMiB() tells one phase's peak apart from an earlier
// one's; false when the system does not allow it.
inline bool ResetPeak() {
  FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (!f) return false;
  const bool done = std::fputs("5", f) >= 0;
  return std::fclose(f) == 0 && done;
}

// The peak resident memory since the last ResetPeak (VmHWM), in MiB; the
// process's whole peak when /proc does not tell.
inline double PeakSinceResetMiB() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return PeakMiB();
  char line[256];
  double kib = -1;
  while (std::fgets(line, sizeof line, f)) {
    if (std::sscanf(line, "VmHWM: %lf", &kib) == 1) break;
  }
  std::fclose(f);
  return kib >= 0 ? kib / 1024.0 : PeakMiB();
}

// Text-like bytes: words of a small vocabulary picked by a fast generator
// (deterministic; compresses about 3:1 at deflate level 1).
inline std::string TextData(size_t size) {
  static const char* words[] = {"книга ", "the ", "archive ", "deflate ", "zip ", "\n", "0123 ",
                                "author ", "title ", "series ", "genre ", "<p>", "</p>", "lorem ",
                                "ipsum ", "dolor "};
  std::string s;
  s.reserve(size + 16);
  uint64_t x = 88172645463325252ull;
  while (s.size() < size) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    s += words[x % 16];
  }
  s.resize(size);
  return s;
}

// The folder where scripts/bench keeps generated data.
inline std::filesystem::path CacheDir() {
  const char* env = std::getenv("TOMESHELF_BENCH_CACHE");
  return env && *env ? std::filesystem::path(env)
                     : std::filesystem::path(TOMESHELF_SOURCE_DIR) / "build/bench-data";
}

// The scale sample catalogue made by scripts/bench; empty (with a message)
// when it has not been made.
inline std::filesystem::path ScaleCatalogue() {
  const std::filesystem::path dbz = CacheDir() / "scale" / "ref.dbz";
  if (!std::filesystem::exists(dbz)) {
    std::fprintf(stderr, "no scale catalogue at %s: run scripts/bench\n", dbz.c_str());
    return {};
  }
  return dbz;
}

// A folder for a benchmark's data: <cache>/<name>, kept, when
// $TOMESHELF_BENCH_CACHE is set; else a new temporary folder, which `keep`
// false tells the caller to remove.
inline std::filesystem::path DataDir(const std::string& name, bool& keep) {
  const char* env = std::getenv("TOMESHELF_BENCH_CACHE");
  keep = env && *env;
  const std::filesystem::path dir =
      keep ? CacheDir() / name
           : std::filesystem::temp_directory_path() / ("bench-" + name + "-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  return dir;
}

// Writes `script` into `dir` and runs it with Debian's Python and
// `arguments` (already quoted); false, with a message, when it fails.
inline bool RunPythonScript(const std::filesystem::path& dir, const char* script, const std::string& arguments) {
  const std::filesystem::path path = dir / "make.py";
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  std::fputs(script, f);
  std::fclose(f);
  std::string cmd = "/usr/bin/python3 '";
  cmd += path.string();
  cmd += "' ";
  cmd += arguments;
  if (std::system(cmd.c_str()) == 0) return true;
  std::fprintf(stderr, "could not run %s\n", path.c_str());
  return false;
}

}  // namespace bench
