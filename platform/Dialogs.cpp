// The process-wide dialog hooks and the scripted provider used by tests.
//
// Invariant: with no provider installed nothing blocks — every question is
// answered as a closed dialog would answer it (mrNone, or a cancelled prompt).
#include "platform/Dialogs.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<TDialogProvider*> gProvider{nullptr};

}  // namespace

TDialogProvider* SetDialogProvider(TDialogProvider* p) { return gProvider.exchange(p); }
TDialogProvider* GetDialogProvider() { return gProvider.load(); }

TModalResult MessageBox(const std::string& text, const std::string& caption, TMsgDlgType type,
                        const TMsgDlgButtons& buttons) {
  TDialogProvider* p = GetDialogProvider();
  return p ? p->MessageBox(text, caption, type, buttons) : mrNone;
}

bool AskYesNo(const std::string& text, const std::string& caption) {
  return MessageBox(text, caption, TMsgDlgType::mtConfirmation, {mrYes, mrNo}) == mrYes;
}

bool InputText(const std::string& caption, const std::string& prompt, std::string& value,
               bool secret) {
  TDialogProvider* p = GetDialogProvider();
  return p && p->InputText(caption, prompt, value, secret);
}

TModalResult TScriptedDialogs::MessageBox(const std::string& text, const std::string& caption,
                                          TMsgDlgType type, const TMsgDlgButtons& buttons) {
  asked.push_back({text, caption, type, buttons});
  if (answers.empty()) return mrNone;
  TModalResult r = answers.front();
  answers.erase(answers.begin());
  return r;
}

bool TScriptedDialogs::InputText(const std::string& caption, const std::string& prompt,
                                 std::string& value, bool /*secret*/) {
  asked.push_back({prompt, caption, TMsgDlgType::mtCustom, {}});
  if (textAnswers.empty()) return false;
  value = textAnswers.front();
  textAnswers.erase(textAnswers.begin());
  return true;
}

}  // namespace platform
