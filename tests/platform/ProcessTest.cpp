#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <sstream>
#include <thread>

#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Signals.h"
#include "tests/platform/TempDir.h"

using namespace platform;

namespace {

// A shell script at `path` (made executable).
void WriteScript(const std::string& path, const std::string& body) {
  WriteFileBytes(path, "#!/bin/sh\n" + body);
  ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

// Waits up to 10 s for `path` to appear and returns its bytes.
std::string AwaitFile(const std::string& path) {
  for (int i = 0; i < 1000 && !FileExists(path); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the writer finish
  return FileExists(path) ? ReadFileBytes(path) : std::string("<missing>");
}

// Waits up to 30 s for the processes `pids` to end; whether all did (a
// zombie not yet reaped by whoever adopted it has ended).
bool AwaitEnded(const std::vector<std::string>& pids) {
  const auto running = [](const std::string& pid) {
    try {
      return ReadFileBytes("/proc/" + pid + "/stat").find(") Z ") == std::string::npos;
    } catch (const EFileError&) {
      return false;
    }
  };
  for (int i = 0; i < 3000 && std::any_of(pids.begin(), pids.end(), running); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return std::none_of(pids.begin(), pids.end(), running);
}

TEST(RunAndWait, ArgumentsArriveUnchangedAndTheExitCodeComesBack) {
  TempDir dir;
  const std::string prog = dir / "a prog";
  WriteScript(prog, "for a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$(dirname \"$0\")/args\"\nexit 7\n");
  const std::vector<std::string> args = {"-s", "with space", "quote\"d", "it's", "", "$HOME", "*"};
  EXPECT_EQ(RunAndWait(prog, args), 7);
  EXPECT_EQ(ReadFileBytes(dir / "args"), "[-s][with space][quote\"d][it's][][$HOME][*]");
}

TEST(RunAndWait, AProgramThatCannotStartGivesCode5) {
  TempDir dir;
  int error = -1;
  EXPECT_EQ(RunAndWait(dir / "missing", {}, {}, std::chrono::milliseconds(20), &error),
            kCannotStartExitCode);
  EXPECT_EQ(error, ENOENT);
  WriteFileBytes(dir / "not-executable", "#!/bin/sh\nexit 0\n");
  EXPECT_EQ(RunAndWait(dir / "not-executable", {}, {}, std::chrono::milliseconds(20), &error),
            kCannotStartExitCode);
  EXPECT_EQ(error, EACCES);
  EXPECT_EQ(RunAndWait(dir.path(), {}), kCannotStartExitCode);  // a folder
  // A program that exits with 5 itself did start.
  WriteScript(dir / "five", "exit 5\n");
  EXPECT_EQ(RunAndWait(dir / "five", {}, {}, std::chrono::milliseconds(20), &error), 5);
  EXPECT_EQ(error, 0);
  // A program ended by a signal did not succeed.
  WriteScript(dir / "killed", "kill -9 $$\n");
  EXPECT_EQ(RunAndWait(dir / "killed", {}), 128 + 9);
}

TEST(RunAndWait, WaitsWithoutTimeLimitCallingBackMeanwhile) {
  TempDir dir;
  WriteScript(dir / "slow", "sleep 0.3\nexit 0\n");
  int calls = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunAndWait(
                dir / "slow", {}, [&] { return ++calls > 0; }, std::chrono::milliseconds(10)),
            0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_GE(calls, 5);
}

// A program that would run for a minute, one that ignores SIGTERM, and one
// whose own child would outlive it: giving up the wait ends each of them,
// the child too, long before the minute is over.
TEST(RunAndWait, GivingUpTheWaitEndsTheProgramAndWhatItStarted) {
  TempDir dir;
  WriteScript(dir / "sleeps", "exec sleep 60\n");
  WriteScript(dir / "deaf", "trap '' TERM\nwhile :; do sleep 1; done\n");
  WriteScript(dir / "parent", "sleep 60 &\necho $! > \"$(dirname \"$0\")/child\"\nwait\n");
  for (const char* name : {"sleeps", "deaf", "parent"}) {
    SCOPED_TRACE(name);
    int calls = 0;
    const auto start = std::chrono::steady_clock::now();
    const int code = RunAndWait(dir / name, {}, [&] {
      // Stop once the program is well under way (the child's number written).
      return ++calls < 20 || (std::string(name) == "parent" && !FileExists(dir / "child"));
    });
    EXPECT_EQ(code, kStoppedExitCode);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  }
  // Ended by the SIGTERM to the group.
  const std::string child = AwaitFile(dir / "child");
  EXPECT_TRUE(AwaitEnded({std::to_string(std::stoi(child))})) << child;
}

// A megabyte on standard error, far more than a pipe holds: the program is
// not held up by it, and its last words are what is kept.
TEST(RunAndWait, StandardErrorIsReadWhileWaitingAndItsEndKept) {
  TempDir dir;
  WriteScript(dir / "talks", "yes 'a line of noise' | head -c 1000000 >&2\necho 'the last words' >&2\nexit 3\n");
  for (const bool polled : {false, true}) {
    SCOPED_TRACE(polled ? "with a callback" : "without");
    std::string said = "stale";
    const std::function<bool()> whileWaiting = [] { return true; };
    EXPECT_EQ(RunAndWait(dir / "talks", {}, polled ? whileWaiting : nullptr, std::chrono::milliseconds(20),
                         nullptr, &said),
              3);
    EXPECT_EQ(said.size(), kErrorOutputKept);
    EXPECT_EQ(said.substr(said.size() - 21), "noise\nthe last words\n");
  }
}

// The process that waits is killed while the program and the program's own
// child run: neither outlives it by more than the grace.
TEST(RunAndWait, TheProgramAndItsChildrenEndWithTheProcessThatWaits) {
  TempDir dir;
  WriteScript(dir / "parent",
              "sleep 60 &\necho $$ $! > \"$0.tmp\" && mv \"$0.tmp\" \"$0.pids\"\nexec sleep 60\n");
  const pid_t waiter = ::fork();
  if (waiter == 0) {
    RunAndWait(dir / "parent", {});
    ::_exit(0);
  }
  ASSERT_GT(waiter, 0);
  std::istringstream pids(AwaitFile(dir / "parent.pids"));
  std::string program, child;
  ASSERT_TRUE(pids >> program >> child);
  ASSERT_EQ(::kill(waiter, SIGKILL), 0);
  ASSERT_EQ(::waitpid(waiter, nullptr, 0), waiter);
  EXPECT_TRUE(AwaitEnded({program, child}));
}

TEST(RunAndWait, TheChildInheritsNoDescriptorAndReadsNothing) {
  TempDir dir;
  // A descriptor of ours without close-on-exec must not reach the child.
  const int fd = ::open((dir / "held").c_str(), O_CREAT | O_RDWR, 0644);
  ASSERT_GE(fd, 3);
  WriteScript(dir / "fds",
              "ls /proc/$$/fd > \"$(dirname \"$0\")/fds.txt\"\n"
              "cat > \"$(dirname \"$0\")/stdin.txt\"\n");
  EXPECT_EQ(RunAndWait(dir / "fds", {}), 0);
  ::close(fd);
  const std::string fds = ReadFileBytes(dir / "fds.txt");
  EXPECT_EQ(fds.find(std::to_string(fd) + "\n"), std::string::npos) << fds;
  EXPECT_EQ(ReadFileBytes(dir / "stdin.txt"), "");
}

TEST(StartDetached, StartsWithoutWaitingAndReportsAProgramThatCannotStart) {
  TempDir dir;
  WriteScript(dir / "reader", "sleep 0.2\nprintf '%s|' \"$@\" > \"$(dirname \"$0\")/got\"\n");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(StartDetached(dir / "reader", {dir / "book with space.fb2"}), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_EQ(AwaitFile(dir / "got"), dir / "book with space.fb2|");

  EXPECT_EQ(StartDetached(dir / "missing", {}), ENOENT);
  WriteFileBytes(dir / "plain", "text");
  EXPECT_EQ(StartDetached(dir / "plain", {}), EACCES);
}

// Their arrival on the pipe is tested on the running program; what only
// shows here: a signal ignored at start (nohup) stays ignored, and the
// actions in force before come back.
TEST(TerminationSignals, AnIgnoredSignalStaysIgnoredAndTheOldActionsComeBack) {
  struct sigaction runner {};
  ::sigaction(SIGHUP, nullptr, &runner);
  ::signal(SIGHUP, SIG_IGN);
  {
    TTerminationSignals signals;
    ASSERT_EQ(::raise(SIGHUP), 0);
    EXPECT_EQ(signals.Take(), 0);
  }
  struct sigaction after {};
  ASSERT_EQ(::sigaction(SIGHUP, nullptr, &after), 0);
  EXPECT_EQ(after.sa_handler, SIG_IGN);
  ::sigaction(SIGHUP, &runner, nullptr);
}

}  // namespace
