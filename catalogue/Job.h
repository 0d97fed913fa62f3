// How a long job of the core (the book-list build, the title search, export)
// talks to whoever runs it.
//
// Jobs run on the GUI thread inside an event handler. They report progress
// through showSB, which is also where the host lets the user act (the main
// window pumps pending events there, so a Stop click is seen), poll
// StopRequested() in their loops, and ask the user through the host instead
// of opening message boxes themselves. The main window implements this
// interface; TPlainJobHost serves tests and programs without a window.
#pragma once

#include <array>
#include <string>

namespace catalogue {

class TJobHost {
 public:
  virtual ~TJobHost() = default;

  // Status texts (UTF-8) of panels 0, 1 and 2. A panel whose text is empty
  // keeps what it shows; pass " " to blank it. Cheap enough to call for every
  // record: the host throttles its event pumping.
  virtual void showSB(const std::string& p0, const std::string& p1, const std::string& p2) = 0;

  // The stop request of the user (the Stop button after its confirmation).
  virtual bool StopRequested() const = 0;
  // A job clears the request before it starts reading.
  virtual void ClearStopRequest() = 0;
  // The program is being ended (a logout, a shutdown, a kill): the stop
  // request then stays set whatever ClearStopRequest does, and a job whose
  // result would be cut short (a build) fails instead of keeping it.
  virtual bool Closing() const { return false; }

  // A Yes/No question (UTF-8); true for Yes. By default asked through the
  // process-wide dialog hooks (platform/Dialogs.h).
  virtual bool AskYesNo(const std::string& text, const std::string& caption);
  // A plain message with an OK button (UTF-8), likewise.
  virtual void ShowMessage(const std::string& text, const std::string& caption);
  // The system's sound for a job done; nothing by default.
  virtual void Beep() {}

  // A job begins and ends: the host disables every control that could start
  // another job and refuses to close meanwhile. Calls nest; use TJobScope.
  virtual void JobStarted() = 0;
  virtual void JobEnded() = 0;
};

// Marks a job as running for its lifetime, so the host's controls come back
// even when the job ends by an exception.
class TJobScope {
 public:
  explicit TJobScope(TJobHost& host) : host_(host) { host_.JobStarted(); }
  ~TJobScope() { host_.JobEnded(); }
  TJobScope(const TJobScope&) = delete;
  TJobScope& operator=(const TJobScope&) = delete;

 private:
  TJobHost& host_;
};

// A host without a window: keeps the panel texts and its own stop flag; its
// questions go through the dialog hooks, so tests script the answers with
// platform::TScriptedDialogs.
class TPlainJobHost : public TJobHost {
 public:
  void showSB(const std::string& p0, const std::string& p1, const std::string& p2) override;
  bool StopRequested() const override { return stop; }
  void ClearStopRequest() override { stop = false; }
  void JobStarted() override { ++running; }
  void JobEnded() override { --running; }

  std::array<std::string, 3> panels;  // what the three panels show
  bool stop = false;
  int running = 0;  // jobs running (nesting depth)
  int statusCalls = 0;
};

}  // namespace catalogue
