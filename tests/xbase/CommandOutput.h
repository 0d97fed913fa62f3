// Runs a shell command and returns what it printed (peer programs such as
// Python that a test compares the engine with).
#pragma once

#include <cstdio>
#include <string>

inline std::string CommandOutput(const std::string& cmd) {
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {};
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}
