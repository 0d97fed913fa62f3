// Small helpers for the archiver base tests: a temporary folder that cleans
// up after itself, running a peer tool, whole-file I/O, and the native
// error number an archiver call fails with.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "archiver/ZAExcept.h"

namespace base_test {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "archtest.XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    // Read-only files made by tests must not stop the clean-up.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The folder with a trailing '/'.
  std::string Path() const { return path_ + "/"; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs a shell command; returns its standard output, or "<failed>" when the
// command did not exit with 0.
inline std::string RunCmd(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return "<failed>";
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = ::pclose(p);
  return rc == 0 ? out : "<failed>";
}

inline bool HaveTool(const std::string& tool) { return RunCmd("command -v " + tool + " >/dev/null 2>&1") != "<failed>"; }

inline std::string ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The bytes of a hex string (how the Python scripts hand back binary data).
inline std::string Unhex(const std::string& h) {
  std::string b;
  for (size_t i = 0; i + 1 < h.size(); i += 2) b += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return b;
}

// Quotes a string for the shell.
inline std::string Q(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

// The native error number of the archiver exception `f` raises, or -1 when it
// raises none.
inline int NativeErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const archiver::EZAException& e) {
    return e.NativeError;
  }
  return -1;
}

}  // namespace base_test
