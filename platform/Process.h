// Starting other programs: the FB2 reader (started and left running) and the
// FB2-to-LRF converter (run and waited for); and the process's own memory.
//
// A program is an executable file given by its path (no shell; FindInPath
// turns a command name into such a path): its arguments go to it as a list, so blanks, quotes and other
// characters in paths reach it unchanged. A child gets standard input from
// /dev/null, keeps standard output and error, inherits no other descriptor,
// and starts with default signal handling and an empty signal mask.
//
// Both functions may be called from any thread.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// The exit code RunAndWait reports for a program that could not be started
// (missing, not executable, not a program).
constexpr int kCannotStartExitCode = 5;
// What RunAndWait reports when the wait was given up and the program ended
// by it; no exit code of a program.
constexpr int kStoppedExitCode = -1;

// The executable regular file named `command` in the first folder of the
// PATH environment variable that holds one, as a shell finds a command;
// empty when none does. A `command` holding a '/' is no command name and
// gives empty. PATH's empty and relative entries are passed over: they name
// the folder the program happens to be started from, which is no place to
// run programs from.
std::string FindInPath(const std::string& command);

// Starts `program` with `args` in a session of its own and does not wait for
// it; it keeps running after this process ends. Returns 0 when the program
// was started (its file was executed), else the errno of the failure
// (ENOENT, EACCES, ENOEXEC...).
int StartDetached(const std::string& program, const std::vector<std::string>& args);

// Runs `program` with `args` in a process group of its own and waits,
// without a time limit, until it ends. Returns its exit code (0..255), 128 +
// the signal number when a signal ended it, or kCannotStartExitCode when it
// could not be started (or its end could not be observed: something else
// reaped it); then `startError` (when given) receives the errno of the
// start (ENOENT, EACCES, ENOEXEC...), else 0.
// While waiting, `whileWaiting` (when given) is called about every
// `interval`, so that a GUI can keep its window painted and look at its Stop
// button. When it returns false the wait is given up at once: the program's
// group is sent SIGTERM, and SIGKILL after a grace of kStopGrace, and
// kStoppedExitCode is returned once the program has been reaped.
// When `errorOutput` is given, the program's standard error goes to a pipe
// read while waiting (a program that writes much never blocks on it), and
// it receives the last kErrorOutputKept bytes written there; otherwise the
// program writes to this process's standard error.
// Should this process end while the program runs (a kill, a crash), the
// program's group is ended as by a stop: a watcher in the group sees this
// process's end and sends the signals.
constexpr std::chrono::milliseconds kStopGrace{200};
constexpr size_t kErrorOutputKept = 4096;
int RunAndWait(const std::string& program, const std::vector<std::string>& args,
               const std::function<bool()>& whileWaiting = {},
               std::chrono::milliseconds interval = std::chrono::milliseconds(20),
               int* startError = nullptr, std::string* errorOutput = nullptr);

// Gives the heap memory that is free back to the system, so that after a
// long job that held much of it the process's resident size falls back to
// what it still uses (the allocator keeps freed memory otherwise, and a
// later job's peak would stand on top of it).
void ReleaseFreeMemory();

}  // namespace platform
