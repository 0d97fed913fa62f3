#include "platform/Signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/File.h"

namespace platform {

namespace {

constexpr int kCaught[] = {SIGTERM, SIGHUP, SIGINT};

// The write end, read by the handler; -1 while nothing is caught.
volatile sig_atomic_t gWriteFd = -1;
struct sigaction gPrevious[sizeof kCaught / sizeof kCaught[0]];

void OnSignal(int signo) {
  const int saved = errno;
  const int fd = gWriteFd;
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signo);
    // A full pipe already says that a signal is pending.
    (void)!::write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

TTerminationSignals::TTerminationSignals() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
    throw EFileError("Cannot create the signal pipe", errno);
  readFd_ = fds[0];
  gWriteFd = fds[1];
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls go on: the pipe is looked at by the event
  // loop, not by whoever was waiting.
  action.sa_flags = SA_RESTART;
  for (size_t k = 0; k < sizeof kCaught / sizeof kCaught[0]; ++k) {
    ::sigaction(kCaught[k], nullptr, &gPrevious[k]);
    // One ignored at start stays ignored: nohup's SIGHUP, a background
    // job's SIGINT. The user asked for the program to outlive them.
    if (gPrevious[k].sa_handler != SIG_IGN) ::sigaction(kCaught[k], &action, nullptr);
  }
}

TTerminationSignals::~TTerminationSignals() {
  for (size_t k = 0; k < sizeof kCaught / sizeof kCaught[0]; ++k)
    ::sigaction(kCaught[k], &gPrevious[k], nullptr);
  const int writeFd = gWriteFd;
  gWriteFd = -1;
  ::close(writeFd);
  ::close(readFd_);
}

void IgnoreFileSizeSignal() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGXFSZ, &action, nullptr);
}

int TTerminationSignals::Take() {
  int last = 0;
  unsigned char bytes[64];
  ssize_t n;
  while ((n = ::read(readFd_, bytes, sizeof bytes)) > 0) last = bytes[n - 1];
  return last;
}

}  // namespace platform
