#include "catalogue/Job.h"

#include "platform/Dialogs.h"

namespace catalogue {

void TPlainJobHost::showSB(const std::string& p0, const std::string& p1, const std::string& p2) {
  const std::string* texts[3] = {&p0, &p1, &p2};
  for (size_t k = 0; k < panels.size(); ++k) {
    if (!texts[k]->empty()) panels[k] = *texts[k];
  }
  ++statusCalls;
}

bool TJobHost::AskYesNo(const std::string& text, const std::string& caption) {
  return platform::AskYesNo(text, caption);
}

void TJobHost::ShowMessage(const std::string& text, const std::string& caption) {
  platform::MessageBox(text, caption, platform::TMsgDlgType::mtCustom, {platform::mrOk});
}

}  // namespace catalogue
