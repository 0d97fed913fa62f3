// Child processes through posix_spawn. glibc's posix_spawn runs the exec in
// a vfork-like child and reports an exec failure as its return value, so a
// missing or unusable program is told apart from a program that ran and
// failed, without a fork of this (multithreaded, large) process.
#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
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

// How one child is started: its process group and where its standard
// input and error come from.
struct TSpawnOptions {
  enum TGroup { kOwnGroup, kOwnSession } group = kOwnGroup;
  pid_t joinGroup = 0;   // kOwnGroup: 0 for a new group numbered as the child
  int input = -1;        // standard input: this descriptor, else /dev/null
  int errorOutput = -1;  // standard error: this descriptor, else ours
  bool quiet = false;    // standard output and error to /dev/null
};

// The attributes and file actions of one spawn, released on every path.
class TSpawnSetup {
 public:
  explicit TSpawnSetup(const TSpawnOptions& options) {
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
    if (options.group == TSpawnOptions::kOwnSession) flags |= POSIX_SPAWN_SETSID;
    if (options.group == TSpawnOptions::kOwnGroup) {
      flags |= POSIX_SPAWN_SETPGROUP;
      posix_spawnattr_setpgroup(&attr_, options.joinGroup);
    }
    posix_spawnattr_setflags(&attr_, flags);
    if (options.input >= 0)
      posix_spawn_file_actions_adddup2(&actions_, options.input, STDIN_FILENO);
    else
      posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (options.quiet) {
      posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
      posix_spawn_file_actions_adddup2(&actions_, STDOUT_FILENO, STDERR_FILENO);
    } else if (options.errorOutput >= 0) {
      posix_spawn_file_actions_adddup2(&actions_, options.errorOutput, STDERR_FILENO);
    }
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
            const TSpawnOptions& options, int& err) {
  // argv[0] is the program's own path, as a shell would pass it.
  std::vector<std::string> strings;
  strings.reserve(args.size() + 1);
  strings.push_back(program);
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  TSpawnSetup setup(options);
  pid_t pid = -1;
  err = posix_spawn(&pid, program.c_str(), setup.Actions(), setup.Attr(), argv.data(), environ);
  return err == 0 ? pid : -1;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// A process that ends the group it leads once this process has ended: it
// reads its standard input, a socket whose other end only this process holds,
// so end of file there means this process is gone (killed, crashed) and the
// group is sent SIGTERM, and SIGKILL after the grace, as a stop does. A
// program run in its group thus does not outlive this process, nor do the
// children it started (which a parent-death signal would miss). Release()
// sends it away without a signal once the wait is over. Without /bin/sh the
// program runs unwatched in a group of its own.
class TGroupWatcher {
 public:
  TGroupWatcher() {
    // A socket, not a pipe: the all-clear sent to a watcher already gone
    // (killed with the group) fails with EPIPE instead of raising SIGPIPE.
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
    life_ = ends[1];
    // The shell ignores the SIGTERM it sends, so that it lives to send the
    // SIGKILL; the sleep it runs for the grace inherits that.
    static const std::string script =
        "trap '' TERM\nread line || { kill -TERM 0; sleep " +
        std::to_string(kStopGrace.count() / 1000.0) + "; kill -KILL 0; }\n";
    TSpawnOptions options;
    options.input = ends[0];
    options.quiet = true;
    int err = 0;
    pid_ = Spawn("/bin/sh", {"-c", script}, options, err);
    ::close(ends[0]);
    if (pid_ < 0) CloseFd(life_);
  }
  ~TGroupWatcher() { Release(); }
  TGroupWatcher(const TGroupWatcher&) = delete;
  TGroupWatcher& operator=(const TGroupWatcher&) = delete;

  // The group for the program to join; 0 (a group of its own) without a
  // watcher.
  pid_t Group() const { return pid_ > 0 ? pid_ : 0; }

  // The watcher leaves without a signal, and is reaped.
  void Release() {
    if (life_ >= 0) {
      // A line read is the all-clear; it fails only when the watcher is
      // gone already.
      [[maybe_unused]] const ssize_t n = ::send(life_, "\n", 1, MSG_NOSIGNAL);
      CloseFd(life_);
    }
    if (pid_ > 0) Reap(pid_);
    pid_ = -1;
  }

 private:
  int life_ = -1;  // this process's end of the socket
  pid_t pid_ = -1;
};

// The tail of what a program writes to a pipe, read as it comes.
class TErrorTail {
 public:
  // Makes the pipe; false when it cannot be (the program then writes to
  // this process's standard error).
  bool Open() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    read_ = ends[0];
    write_ = ends[1];
    ::fcntl(read_, F_SETFL, O_NONBLOCK);
    return true;
  }
  ~TErrorTail() {
    CloseFd(read_);
    CloseFd(write_);
  }
  int WriteEnd() const { return write_; }
  // The program has it now.
  void CloseWriteEnd() { CloseFd(write_); }

  // Waits up to `pause` for bytes (just sleeps when there is no pipe or it
  // has ended) and keeps what came, the last kErrorOutputKept bytes.
  void Wait(std::chrono::milliseconds pause) {
    if (read_ < 0) {
      std::this_thread::sleep_for(pause);
      return;
    }
    pollfd p{read_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(pause.count())) > 0) Drain();
  }
  // Keeps whatever is there without waiting; a program's children may hold
  // the pipe open after it ended, so its end of file is not waited for.
  void Drain() {
    char buffer[16384];
    while (read_ >= 0) {
      const ssize_t n = ::read(read_, buffer, sizeof buffer);
      if (n > 0) {
        tail_.append(buffer, static_cast<size_t>(n));
        if (tail_.size() > 2 * kErrorOutputKept) tail_.erase(0, tail_.size() - kErrorOutputKept);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        if (n == 0) CloseFd(read_);  // every writer is gone
        break;
      }
    }
  }
  std::string Take() {
    Drain();
    if (tail_.size() > kErrorOutputKept) tail_.erase(0, tail_.size() - kErrorOutputKept);
    return std::move(tail_);
  }

 private:
  int read_ = -1, write_ = -1;
  std::string tail_;
};

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kCannotStartExitCode;
}

// Ends `group`, the group of the child `pid`, and reaps the child: SIGTERM
// lets a program clean up after itself, SIGKILL after the grace ends one
// that does not. The group's number stays ours until the SIGKILL: it is the
// unreaped watcher's, or the child's, which is only looked at (WNOWAIT)
// until then.
void Terminate(pid_t group, pid_t pid) {
  ::kill(-group, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
  while (std::chrono::steady_clock::now() < deadline) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::kill(-group, SIGKILL);
  Reap(pid);
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
  TSpawnOptions options;
  options.group = TSpawnOptions::kOwnSession;
  const pid_t pid = Spawn(program, args, options, err);
  if (pid < 0) return err;
  // The program stays our child until it ends; a thread that only waits for
  // it keeps it from lingering as a zombie, without a SIGCHLD handler that
  // could take the exit codes RunAndWait waits for.
  std::thread([pid] { Reap(pid); }).detach();
  return 0;
}

int RunAndWait(const std::string& program, const std::vector<std::string>& args,
               const std::function<bool()>& whileWaiting, std::chrono::milliseconds interval,
               int* startError, std::string* errorOutput) {
  if (errorOutput) errorOutput->clear();
  TErrorTail tail;
  const bool capture = errorOutput && tail.Open();
  // In the watcher's group, so that a stop, or this process's end, also
  // ends what the program started (a script's own children).
  TGroupWatcher watcher;
  TSpawnOptions options;
  options.joinGroup = watcher.Group();
  options.errorOutput = tail.WriteEnd();
  int err = 0;
  const pid_t pid = Spawn(program, args, options, err);
  tail.CloseWriteEnd();
  if (startError) *startError = err;
  if (pid < 0) return kCannotStartExitCode;
  const pid_t group = watcher.Group() ? watcher.Group() : pid;

  // Short programs end within a few milliseconds: look again soon at first,
  // then settle at the interval.
  std::chrono::milliseconds pause(1);
  int status = 0, code = kCannotStartExitCode;
  while (true) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) code = ExitCodeOf(status);
    if (done == pid || (done < 0 && errno != EINTR)) break;
    if (whileWaiting && !whileWaiting()) {
      Terminate(group, pid);
      if (capture) *errorOutput = tail.Take();
      return kStoppedExitCode;
    }
    tail.Wait(pause);
    pause = std::min(pause * 2, std::max(interval, std::chrono::milliseconds(1)));
  }
  watcher.Release();
  if (capture) *errorOutput = tail.Take();
  return code;
}

void ReleaseFreeMemory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

}  // namespace platform
