#include <gtest/gtest.h>

#include <stdexcept>

#include "catalogue/Job.h"
#include "platform/Dialogs.h"

namespace {

TEST(Job, ScopeEndsTheJobEvenWhenItThrows) {
  catalogue::TPlainJobHost host;
  try {
    catalogue::TJobScope outer(host);
    catalogue::TJobScope inner(host);
    EXPECT_EQ(host.running, 2);
    throw std::runtime_error("archive error");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(host.running, 0);
}

TEST(Job, StatusKeepsPanelsOnEmptyTextAndQuestionsGoThroughTheDialogHooks) {
  catalogue::TPlainJobHost host;
  host.showSB("Чтение файла...", "1.zip", " ");
  host.showSB("", "2.zip", "");
  EXPECT_EQ(host.panels[0], "Чтение файла...");
  EXPECT_EQ(host.panels[1], "2.zip");
  EXPECT_EQ(host.panels[2], " ");

  platform::TScriptedDialogs script;
  script.answers = {platform::mrYes, platform::mrNo};
  platform::TDialogProviderScope scope(&script);
  EXPECT_TRUE(host.AskYesNo("Пересоздать список книг ?", "Подтверждение"));
  EXPECT_FALSE(host.AskYesNo("Пересоздать список книг ?", "Подтверждение"));
  ASSERT_EQ(script.asked.size(), 2u);
  EXPECT_EQ(script.asked[0].caption, "Подтверждение");
}

}  // namespace
