#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "catalogue/AppState.h"
#include "catalogue/ui/MainWindow.h"
#include "catalogue/ui/QtDialogs.h"
#include "catalogue/ui/SearchDialog.h"
#include "catalogue/ui/SettingsDialog.h"
#include "platform/Dialogs.h"
#include "platform/IniFile.h"
#include "tests/catalogue_ui/StateFixture.h"

namespace fs = std::filesystem;
using catalogue::AppState;
using catalogue::TF;

namespace {

// One QApplication for the whole suite (offscreen).
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = new QApplication(argc_, argv_);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  int argc_ = 1;
  char arg0_[16] = "test_catalogue";
  char* argv_[2] = {arg0_, nullptr};
  QApplication* app_ = nullptr;
};
const auto* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class MainWindowTest : public uitest::TStateTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(InitState("h2mainwin"));
    f_ = std::make_unique<TF>();
  }

  template <class T = QObject>
  T* Find(const char* name) {
    return f_->findChild<T*>(QString::fromLatin1(name));
  }
};

TEST_F(MainWindowTest, EveryComponentIsThereByItsName) {
  new catalogue::TFS(f_.get());
  new catalogue::TFINI(f_.get());
  EXPECT_EQ(f_->objectName(), "F");
  EXPECT_EQ(f_->windowTitle(), "Tomeshelf");
  EXPECT_TRUE(f_->windowState() & Qt::WindowMaximized);

  for (const char* name :
       {"TB",      "TB_CREDB", "TB_STOP", "TB_OPT", "TB_READ", "TB_SAVE", "PZ",          "ES",
        "TB_FIND", "TB_STAT",  "TB_WWW",  "PAU",    "EAU",     "LB",      "SP",          "PBO",
        "LAU",     "LV",       "SB",      "PM",     "MI_FB2",  "MI_LRF",  "SONYReader1", "AB",
        "MI_AB",   "MI_WW",    "PX",      "find1",  "EM",      "FS",      "FINI"}) {
    EXPECT_NE(Find(name), nullptr) << name;
  }
  EXPECT_EQ(Find<QDialog>("FS")->windowTitle(), "Поиск по названию книги");
  EXPECT_EQ(Find<QDialog>("FINI")->windowTitle(), "Настойки");

  // Hints, as tooltips.
  const std::pair<const char*, const char*> hints[] = {{"TB_CREDB", "Создать список книг"},
                                                       {"TB_STOP", "Прервать"},
                                                       {"TB_OPT", "Настройки"},
                                                       {"TB_READ", "Читать"},
                                                       {"TB_SAVE", "Экспорт"},
                                                       {"TB_FIND", "Поиск по названию"},
                                                       {"TB_STAT", "Статистика"},
                                                       {"TB_WWW", "О программе"}};
  for (const auto& [name, hint] : hints) {
    EXPECT_EQ(Find<QToolButton>(name)->toolTip(), QString::fromUtf8(hint)) << name;
    EXPECT_FALSE(Find<QToolButton>(name)->icon().isNull()) << name;
  }
  EXPECT_EQ(f_->ES->parent(), f_->PZ);

  // The two drop-down buttons and their menus.
  EXPECT_EQ(f_->TB_SAVE->menu(), f_->PM);
  EXPECT_EQ(f_->TB_WWW->menu(), f_->AB);
  EXPECT_EQ(f_->TB_WWW->popupMode(), QToolButton::MenuButtonPopup);
  EXPECT_EQ(f_->PM->actions(), (QList<QAction*>{f_->MI_FB2, f_->MI_LRF, f_->SONYReader1}));
  EXPECT_EQ(f_->SONYReader1->text(), "lrf в SONY Reader");
  EXPECT_EQ(f_->SONYReader1->property("Tag").toInt(), 2);
  EXPECT_EQ(f_->MI_WW->property("Tag").toInt(), 1);

  // Ctrl+F must stay live: Qt disables the shortcut of a hidden action.
  EXPECT_EQ(f_->find1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
  EXPECT_TRUE(f_->actions().contains(f_->find1));
  EXPECT_TRUE(f_->find1->isEnabled());

  // Both lists are views over models.
  EXPECT_NE(Find<QAbstractItemView>("LB")->model(), nullptr);
  EXPECT_EQ(Find<QAbstractItemView>("LV")->model()->columnCount(), 7);
  EXPECT_EQ(f_->LV->model()->headerData(6, Qt::Horizontal).toString(), "файл");

  // Status bar: four panels of 200, 150, 80, 80.
  const QList<QLabel*> panels =
      f_->SB->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
  ASSERT_EQ(panels.size(), 4);
  const int widths[] = {200, 150, 80, 80};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(panels[k]->width(), widths[k]) << k;
}

TEST_F(MainWindowTest, ShowSBKeepsAPanelOnEmptyTextAndBlanksItOnASpace) {
  f_->showSB(QStringLiteral("Чтение файла..."), QStringLiteral("1.zip"), QStringLiteral("x"));
  f_->showSB(QString(), QStringLiteral("50%"), QStringLiteral(" "));
  EXPECT_EQ(f_->PanelText(0), "Чтение файла...");
  EXPECT_EQ(f_->PanelText(1), "50%");
  EXPECT_EQ(f_->PanelText(2), " ");
  // The job side (UTF-8) behaves the same.
  static_cast<catalogue::TJobHost&>(*f_).showSB(" ", "", "");
  EXPECT_EQ(f_->PanelText(0), " ");
  EXPECT_EQ(f_->PanelText(1), "50%");
}

TEST_F(MainWindowTest, DisenTBNeverDisablesStop) {
  QWidget* const controls[] = {f_->TB_CREDB, f_->TB_OPT, f_->TB_READ, f_->TB_SAVE, f_->TB_FIND,
                               f_->TB_STAT,  f_->TB_WWW, f_->ES,      f_->LB,      f_->LV};
  f_->disenTB(false);
  for (QWidget* w : controls) EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_TRUE(f_->TB_STOP->isEnabled());
  f_->disenTB(true);
  for (QWidget* w : controls) EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
}

TEST_F(MainWindowTest, StopAsksAndOnlyYesSetsTheFlag) {
  platform::TScriptedDialogs script;
  platform::TDialogProviderScope scope(&script);

  script.answers = {platform::mrNo};
  f_->TB_STOP->click();
  EXPECT_FALSE(AppState().stopFlag);
  ASSERT_EQ(script.asked.size(), 1u);
  EXPECT_EQ(script.asked[0].text, "Прервать процесс ?");
  EXPECT_EQ(script.asked[0].caption, "Confirmation");

  script.answers = {platform::mrYes};
  f_->TB_STOP->click();
  EXPECT_TRUE(AppState().stopFlag);

  // No does not clear a request already made.
  script.answers = {platform::mrNo};
  f_->TB_STOPClick();
  EXPECT_TRUE(AppState().stopFlag);
}

TEST_F(MainWindowTest, AStopClickIsSeenWhileAJobReportsProgress) {
  platform::TScriptedDialogs script;
  script.answers = {platform::mrYes};
  platform::TDialogProviderScope scope(&script);
  catalogue::TJobHost& host = *f_;

  catalogue::TJobScope job(host);
  host.ClearStopRequest();
  QMetaObject::invokeMethod(f_->TB_STOP, "click", Qt::QueuedConnection);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int calls = 0;
  while (!host.StopRequested() && std::chrono::steady_clock::now() < deadline) {
    host.showSB("", std::to_string(++calls % 100) + "%", "");
  }
  EXPECT_TRUE(host.StopRequested());
}

TEST_F(MainWindowTest, CloseIsRefusedWhileAJobRunsAndEmptiesTheWorkFolderAfter) {
  const fs::path tmp = root_ / "TMP";
  std::ofstream(tmp / "bo.dbf") << "x";
  f_->show();
  {
    catalogue::TJobScope job(*f_);
    EXPECT_TRUE(f_->JobRunning());
    EXPECT_FALSE(f_->TB_CREDB->isEnabled());
    EXPECT_FALSE(f_->close());
    EXPECT_TRUE(f_->isVisible());
    EXPECT_TRUE(fs::exists(tmp / "bo.dbf"));
  }
  EXPECT_TRUE(f_->TB_CREDB->isEnabled());
  EXPECT_TRUE(f_->close());
  EXPECT_FALSE(fs::exists(tmp / "bo.dbf"));
  EXPECT_TRUE(fs::is_directory(tmp));
}

// Runs `answer` on the modal dialog once it is up, then returns what `ask` gave.
template <class R>
R AnswerModal(const std::function<void(QWidget*)>& answer, const std::function<R()>& ask) {
  QTimer timer;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (QWidget* w = QApplication::activeModalWidget()) {
      timer.stop();
      answer(w);
    }
  });
  timer.start();
  return ask();
}

TEST(QtDialogProvider, ButtonsAnswerWithTheirResults) {
  catalogue::TQtDialogProvider qt;
  const platform::TMsgDlgButtons yesNo = {platform::mrYes, platform::mrNo};

  std::string text;
  const auto r = AnswerModal<platform::TModalResult>(
      [&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        text = box->text().toStdString();
        EXPECT_EQ(box->icon(), QMessageBox::Question);
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        box->button(QMessageBox::No)->click();
      },
      [&] {
        return qt.MessageBox("<b>Прервать</b> процесс ?", "Confirmation",
                             platform::TMsgDlgType::mtConfirmation, yesNo);
      });
  EXPECT_EQ(r, platform::mrNo);
  EXPECT_EQ(text, "<b>Прервать</b> процесс ?");

  // Escape on a Yes/No box answers No.
  const auto esc = [](QWidget* w) {
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(w, &key);
  };
  EXPECT_EQ(
      AnswerModal<platform::TModalResult>(
          esc,
          [&] { return qt.MessageBox("?", "", platform::TMsgDlgType::mtConfirmation, yesNo); }),
      platform::mrNo);

  const auto r2 = AnswerModal<platform::TModalResult>(
      [](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        EXPECT_EQ(box->windowTitle(), "Tomeshelf");  // no caption of its own
        ASSERT_EQ(box->buttons().size(), 3);
        box->button(QMessageBox::Ignore)->click();
      },
      [&] {
        return qt.MessageBox("Read error", "", platform::TMsgDlgType::mtError,
                             {platform::mrAbort, platform::mrRetry, platform::mrIgnore});
      });
  EXPECT_EQ(r2, platform::mrIgnore);
}

TEST(QtDialogProvider, QtsOwnDialogsSpeakRussian) {
  ASSERT_TRUE(catalogue::InstallQtTranslation(*QCoreApplication::instance()));
  QDialogButtonBox buttons(QDialogButtonBox::Open | QDialogButtonBox::Cancel);
  EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), "Отмена");
  EXPECT_EQ(buttons.button(QDialogButtonBox::Open)->text(), "Открыть");
}

TEST(QtDialogProvider, SecretInputIsHidden) {
  catalogue::TQtDialogProvider qt;
  std::string value = "old";
  QLineEdit::EchoMode echo = QLineEdit::Normal;
  const bool ok = AnswerModal<bool>(
      [&](QWidget* w) {
        auto* dlg = qobject_cast<QInputDialog*>(w);
        ASSERT_NE(dlg, nullptr);
        echo = dlg->textEchoMode();
        dlg->setTextValue(QStringLiteral("пароль"));
        dlg->accept();
      },
      [&] { return qt.InputText("Password", "Enter password", value, true); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(echo, QLineEdit::Password);
  EXPECT_EQ(value, "пароль");
}

// The system ends the program while a question or the settings dialog is
// open: the dialog is cancelled, and the window closes as by its close
// button, saving the settings (the sort of the session, not the file's) and
// emptying the work folder.
TEST_F(MainWindowTest, AnEndedSessionCancelsOpenDialogsAndClosesTheWindow) {
  catalogue::TQtDialogProvider dialogs;
  platform::TDialogProviderScope scope(&dialogs);
  for (const char* opener : {"TB_STOP", "TB_OPT"}) {
    SCOPED_TRACE(opener);
    f_ = std::make_unique<TF>();
    new catalogue::TFINI(f_.get());
    fs::remove(AppState().iniPath);
    std::ofstream(root_ / "TMP" / "bo.dbf") << "x";
    f_->LVColumnClick(3);
    const std::string sort = f_->getSort();
    f_->show();
    QTimer::singleShot(50, f_.get(), [this] { f_->EndSession(); });
    Find<QToolButton>(opener)->click();  // returns once the dialog is cancelled
    EXPECT_FALSE(AppState().stopFlag);   // the question was not answered Yes
    ASSERT_TRUE(uitest::AwaitClosed(*f_));
    EXPECT_EQ(platform::TIniFile(AppState().iniPath).ReadString("XXX", "SORT", ""), sort);
    EXPECT_FALSE(fs::exists(root_ / "TMP" / "bo.dbf"));
  }
}

}  // namespace
