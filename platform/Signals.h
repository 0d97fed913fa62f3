// The signals by which the system asks this program to end: SIGTERM (a
// logout, a shutdown, `kill`), SIGHUP (the terminal it runs in went away)
// and SIGINT (Ctrl+C in that terminal).
//
// Their default action ends the process on the spot, which loses whatever a
// normal close would save. TTerminationSignals catches them instead and
// turns each arrival into one byte on a pipe: the program's event loop
// watches the pipe and ends the way its window closes. The handler does
// nothing but that write (async-signal-safe); everything else happens on the
// thread that reads the pipe.
#pragma once

namespace platform {

class TTerminationSignals {
 public:
  // Catches the three signals for the object's lifetime; one object per
  // process. A signal ignored when the object is made (nohup, a background
  // job) stays ignored. Raises EFileError when the pipe cannot be made.
  TTerminationSignals();
  // Restores the actions in force before and closes the pipe.
  ~TTerminationSignals();
  TTerminationSignals(const TTerminationSignals&) = delete;
  TTerminationSignals& operator=(const TTerminationSignals&) = delete;

  // The read end of the pipe (non-blocking, close-on-exec): readable once
  // a signal has arrived.
  int Descriptor() const { return readFd_; }
  // Empties the pipe; the number of the last signal that arrived, or 0
  // when none had.
  int Take();

 private:
  int readFd_ = -1;
};

// A write past the file size limit (ulimit -f) ends the process with
// SIGXFSZ on the spot by default: nothing is told, and the new file of a
// replacement is left behind. With the signal ignored, such a write fails
// with EFBIG and is reported as any failed write is. The programs this one
// starts get the default back (Process.h).
void IgnoreFileSizeSignal();

}  // namespace platform
