// Process-wide hooks through which library code asks the user something.
//
// The core never shows a window itself: it calls these functions, which
// forward to the installed provider. The Qt provider lives in catalogue/ui;
// tests install a scripted one. With no provider installed every question is
// answered as if its dialog had been closed (MessageBox returns mrNone,
// InputText returns false), so headless programs never block.
//
// The provider pointer is process-wide; install it once at start-up (or per
// test) from the GUI thread.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum TModalResult {
  mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5,
  mrYes = 6, mrNo = 7, mrAll = 8, mrNoToAll = 9, mrYesToAll = 10
};

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Buttons offered, in order; each is answered by the modal result it names.
using TMsgDlgButtons = std::vector<TModalResult>;

class TDialogProvider {
 public:
  virtual ~TDialogProvider() = default;
  // A modal message box: text and caption are UTF-8.
  virtual TModalResult MessageBox(const std::string& text, const std::string& caption,
                                  TMsgDlgType type, const TMsgDlgButtons& buttons) = 0;
  // A modal one-line text prompt; returns false when cancelled. `secret`
  // hides what is typed (passwords).
  virtual bool InputText(const std::string& caption, const std::string& prompt,
                         std::string& value, bool secret) = 0;
};

// Installs `p` (borrowed; nullptr removes it) and returns the previous one.
TDialogProvider* SetDialogProvider(TDialogProvider* p);
TDialogProvider* GetDialogProvider();

TModalResult MessageBox(const std::string& text, const std::string& caption,
                        TMsgDlgType type, const TMsgDlgButtons& buttons);
// Yes/No question with the question icon; true only for Yes.
bool AskYesNo(const std::string& text, const std::string& caption);
bool InputText(const std::string& caption, const std::string& prompt, std::string& value,
               bool secret = false);

// A provider for tests: answers from a queue and records what was asked.
class TScriptedDialogs : public TDialogProvider {
 public:
  struct Asked {
    std::string text, caption;
    TMsgDlgType type;
    TMsgDlgButtons buttons;
  };
  std::vector<TModalResult> answers;      // taken front first; empty -> mrNone
  std::vector<std::string> textAnswers;   // for InputText; empty -> cancelled
  std::vector<Asked> asked;

  TModalResult MessageBox(const std::string& text, const std::string& caption,
                          TMsgDlgType type, const TMsgDlgButtons& buttons) override;
  bool InputText(const std::string& caption, const std::string& prompt, std::string& value,
                 bool secret) override;
};

// Installs a provider for the lifetime of this object (tests).
class TDialogProviderScope {
 public:
  explicit TDialogProviderScope(TDialogProvider* p) : prev_(SetDialogProvider(p)) {}
  ~TDialogProviderScope() { SetDialogProvider(prev_); }
  TDialogProviderScope(const TDialogProviderScope&) = delete;
  TDialogProviderScope& operator=(const TDialogProviderScope&) = delete;

 private:
  TDialogProvider* prev_;
};

}  // namespace platform
