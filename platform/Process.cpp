// Child processes through posix_spawn. glibc's posix_spawn runs the exec in
// a vfork-like child and reports an exec failure as its return value, so a
// missing or unusable program is told apart from a program that ran and
// failed, without a fork of this (multithreaded, large) process.
#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <thread>

extern char** environ;

namespace platform {
namespace {

// The attributes and file actions of one spawn, released on every path.
class TSpawnSetup {
 public:
  enum TGroup { kOwnGroup, kOwnSession };
  explicit TSpawnSetup(TGroup group) {
    posix_spawnattr_init(&attr_);
    posix_spawn_file_actions_init(&actions_);
    // Whatever this process ignores or blocks (SIGPIPE, say) must not carry
    // over into a program that knows nothing of it.
    sigset_t all, none;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr_, &all);
    posix_spawnattr_setsigmask(&attr_, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (group == kOwnSession) flags |= POSIX_SPAWN_SETSID;
    if (group == kOwnGroup) {
      flags |= POSIX_SPAWN_SETPGROUP;
      posix_spawnattr_setpgroup(&attr_, 0);  // a group numbered as the child
    }
    posix_spawnattr_setflags(&attr_, flags);
    posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
  }
  ~TSpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  TSpawnSetup(const TSpawnSetup&) = delete;
  TSpawnSetup& operator=(const TSpawnSetup&) = delete;

  const posix_spawnattr_t* Attr() const { return &attr_; }
  const posix_spawn_file_actions_t* Actions() const { return &actions_; }

 private:
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
};

// Starts the program; its pid, or -1 with `err` set.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            TSpawnSetup::TGroup group, int& err) {
  // argv[0] is the program's own path, as a shell would pass it.
  std::vector<std::string> strings;
  strings.reserve(args.size() + 1);
  strings.push_back(program);
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  TSpawnSetup setup(group);
  pid_t pid = -1;
  err = posix_spawn(&pid, program.c_str(), setup.Actions(), setup.Attr(), argv.data(), environ);
  return err == 0 ? pid : -1;
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kCannotStartExitCode;
}

// Ends the group of the child `pid` and reaps the child: SIGTERM lets a
// program clean up after itself, SIGKILL after the grace ends one that
// does not. The child is only looked at (WNOWAIT) until the SIGKILL, so its
// number, which is the group's, stays ours until then.
void Terminate(pid_t pid) {
  ::kill(-pid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
  while (std::chrono::steady_clock::now() < deadline) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::kill(-pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

std::string FindInPath(const std::string& command) {
  if (command.empty() || command.find('/') != std::string::npos) return {};
  const char* path = std::getenv("PATH");
  if (!path) return {};
  const std::string_view folders(path);
  for (size_t start = 0; start <= folders.size();) {
    size_t end = folders.find(':', start);
    if (end == std::string_view::npos) end = folders.size();
    const std::string_view folder = folders.substr(start, end - start);
    start = end + 1;
    if (folder.empty() || folder.front() != '/') continue;
    std::string candidate(folder);
    if (candidate.back() != '/') candidate += '/';
    candidate += command;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

int StartDetached(const std::string& program, const std::vector<std::string>& args) {
  int err = 0;
  const pid_t pid = Spawn(program, args, TSpawnSetup::kOwnSession, err);
  if (pid < 0) return err;
  // The program stays our child until it ends; a thread that only waits for
  // it keeps it from lingering as a zombie, without a SIGCHLD handler that
  // could take the exit codes RunAndWait waits for.
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return 0;
}

int RunAndWait(const std::string& program, const std::vector<std::string>& args,
               const std::function<bool()>& whileWaiting, std::chrono::milliseconds interval,
               int* startError) {
  int err = 0;
  // In a group of its own, so that a stop also ends what the program
  // started (a script's own children).
  const pid_t pid = Spawn(program, args, TSpawnSetup::kOwnGroup, err);
  if (startError) *startError = err;
  if (pid < 0) return kCannotStartExitCode;

  int status = 0;
  if (!whileWaiting) {
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return kCannotStartExitCode;
    }
    return ExitCodeOf(status);
  }
  // Short programs end within a few milliseconds: look again soon at first,
  // then settle at the interval.
  std::chrono::milliseconds pause(1);
  while (true) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return ExitCodeOf(status);
    if (done < 0 && errno != EINTR) return kCannotStartExitCode;
    if (!whileWaiting()) break;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::max(interval, std::chrono::milliseconds(1)));
  }
  Terminate(pid);
  return kStoppedExitCode;
}

void ReleaseFreeMemory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

}  // namespace platform
