// The sample collections of tools/make_collection.py, for any suite: made
// on first use into <build>/tests/sample-collections/<variant> (under a file
// lock, so suites running side by side make each variant once) and made
// again when the generator is newer than them. Includes nothing of the
// catalogue, so the engine's tests can read the expected files too.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/Files.h"

namespace sample {

namespace fs = std::filesystem;

inline std::string RunCapture(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) throw std::runtime_error("cannot run: " + command);
  std::string out;
  char buf[1 << 16];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
  if (pclose(pipe.release()) != 0) throw std::runtime_error("failed: " + command);
  return out;
}

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The folder of sample collection `variant` ("small", "edge"), with '/'.
inline std::string Collection(const std::string& variant) {
  const fs::path cache =
      fs::path(platform::ProgramDir()).parent_path().parent_path() / "sample-collections";
  fs::create_directories(cache);
  const fs::path out = cache / variant;
  const fs::path generator = fs::path(TOMESHELF_SOURCE_DIR) / "tools" / "make_collection.py";

  struct TLock {
    int fd;
    ~TLock() {
      if (fd >= 0) close(fd);  // releases the lock
    }
  } lock{open((cache / ".lock").c_str(), O_CREAT | O_RDWR, 0644)};
  if (lock.fd < 0 || flock(lock.fd, LOCK_EX) != 0)
    throw std::runtime_error("cannot lock " + cache.string());
  std::error_code ec;
  const auto made = fs::last_write_time(out / "manifest.json", ec);
  if (ec || made < fs::last_write_time(generator)) {
    RunCapture("/usr/bin/python3 " + Quote(generator.string()) + " --variant " + variant +
               " --out " + Quote(out.string()) + " 2>&1");
  }
  return out.string() + "/";
}

}  // namespace sample
