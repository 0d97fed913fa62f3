#include "platform/Dialogs.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(Dialogs, WithoutProviderEveryQuestionIsDismissed) {
  TDialogProviderScope none(nullptr);
  EXPECT_EQ(MessageBox("text", "caption", TMsgDlgType::mtError, {mrOk}), mrNone);
  EXPECT_FALSE(AskYesNo("Прервать процесс ?", "Подтверждение"));
  std::string value = "unchanged";
  EXPECT_FALSE(InputText("Пароль", "Введите пароль", value, true));
  EXPECT_EQ(value, "unchanged");
}

TEST(Dialogs, ScriptedAnswersInOrder) {
  TScriptedDialogs script;
  script.answers = {mrYes, mrNo, mrRetry};
  script.textAnswers = {"secret"};
  {
    TDialogProviderScope scope(&script);
    EXPECT_EQ(GetDialogProvider(), &script);
    EXPECT_TRUE(AskYesNo("first?", "c1"));
    EXPECT_FALSE(AskYesNo("second?", "c2"));
    EXPECT_EQ(MessageBox("third", "c3", TMsgDlgType::mtWarning, {mrAbort, mrRetry, mrIgnore}), mrRetry);
    EXPECT_EQ(MessageBox("fourth", "c4", TMsgDlgType::mtInformation, {mrOk}), mrNone);  // queue empty
    std::string value;
    EXPECT_TRUE(InputText("Пароль", "Введите пароль", value));
    EXPECT_EQ(value, "secret");
    EXPECT_FALSE(InputText("Пароль", "again", value));
  }
  EXPECT_EQ(GetDialogProvider(), nullptr);  // the scope restored the previous one
  ASSERT_EQ(script.asked.size(), 6u);
  EXPECT_EQ(script.asked[0].text, "first?");
  EXPECT_EQ(script.asked[0].type, TMsgDlgType::mtConfirmation);
  EXPECT_EQ(script.asked[0].buttons, (TMsgDlgButtons{mrYes, mrNo}));
  EXPECT_EQ(script.asked[2].caption, "c3");
  EXPECT_EQ(script.asked[2].buttons, (TMsgDlgButtons{mrAbort, mrRetry, mrIgnore}));
  EXPECT_EQ(script.asked[4].text, "Введите пароль");
}
