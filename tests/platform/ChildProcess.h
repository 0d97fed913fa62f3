// Runs a piece of a test in a forked child process: for what must be seen
// from another process (locks, share modes), or what must not reach the
// test's own process (a file size limit).
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "platform/Files.h"

// Runs every one of `bodies` at the same time, each in a forked child of
// its own, and returns their exit codes in order: a body's result, 99 when
// it threw, -1 when the child did not exit normally. The children never
// return into the test framework.
inline std::vector<int> InChildren(const std::vector<std::function<int()>>& bodies) {
  std::vector<pid_t> pids;
  for (const auto& body : bodies) {
    const pid_t pid = fork();
    if (pid == 0) {
      int code = 99;
      try {
        code = body();
      } catch (...) {
      }
      _exit(code);
    }
    pids.push_back(pid);
  }
  std::vector<int> codes;
  for (pid_t pid : pids) {
    int status = 0;
    const bool exited = pid >= 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status);
    codes.push_back(exited ? WEXITSTATUS(status) : -1);
  }
  return codes;
}

// Runs `body` in a forked child and returns its exit code (as InChildren).
inline int InChild(const std::function<int()>& body) { return InChildren({body}).front(); }

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

// What a program killed while it replaces `target` leaves: a child writes
// `bytes` into the replacement and is killed before it commits. False when
// the child did not get that far.
inline bool KillWhileReplacing(const std::string& target, const std::string& bytes) {
  int ready[2];
  if (pipe(ready) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    platform::TReplaceFile out(target);
    out.File().WriteAt(0, bytes.data(), static_cast<int64_t>(bytes.size()));
    (void)!write(ready[1], "x", 1);
    pause();  // killed here, before Commit
    _exit(0);
  }
  close(ready[1]);
  char c;
  const bool writing = pid > 0 && read(ready[0], &c, 1) == 1;
  close(ready[0]);
  if (pid <= 0) return false;
  kill(pid, SIGKILL);
  int status = 0;
  return waitpid(pid, &status, 0) == pid && writing && WIFSIGNALED(status);
}
