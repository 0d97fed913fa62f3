// Runs a piece of a test in a forked child process: for what must be seen
// from another process (locks, share modes).
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

// Runs `body` in a forked child and returns its exit code: body's result,
// 99 when it threw, -1 when the child did not exit normally. The child never
// returns into the test framework.
inline int InChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    int code = 99;
    try {
      code = body();
    } catch (...) {
    }
    _exit(code);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
