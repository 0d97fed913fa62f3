// Runs a piece of a test in a forked child process: for what must be seen
// from another process (locks, share modes), or what must not reach the
// test's own process (a file size limit).
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

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

// Runs `body` in a forked child whose files may not grow past `limit`
// bytes: a write beyond fails with EFBIG (SIGXFSZ is ignored there).
// Returns the child's exit code: 0 when `body` raised E, 1 when it raised
// something else, 2 when it returned; -1 when the child did not exit.
template <class E, class F>
int ExitOfChildWithFileSizeLimit(rlim_t limit, F body) {
  return InChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit r{limit, limit};
    setrlimit(RLIMIT_FSIZE, &r);
    try {
      body();
    } catch (const E&) {
      return 0;
    } catch (...) {
      return 1;
    }
    return 2;
  });
}
