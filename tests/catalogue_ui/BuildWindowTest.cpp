// "Создать список книг" in the main window: the confirmation, the build
// from the settings as they stand, the final box, the author list loaded
// anew, and the old catalogue kept when the build fails.
#include <gtest/gtest.h>

#include <QEvent>
#include <QLabel>
#include <QToolButton>
#include <QTreeView>

#include "catalogue/AppState.h"
#include "catalogue/Settings.h"
#include "catalogue/ui/MainWindow.h"
#include "catalogue/ui/SettingsDialog.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "tests/catalogue/SampleCatalogue.h"
#include "tests/catalogue_ui/StateFixture.h"

using namespace catalogue;

namespace {

class BuildWindowTest : public uitest::TStateTest {
 protected:
  void SetUp() override {
    InitState("buildwin");
    small_ = sample::Collection("small");
  }

  // Settings that build from `inpFile`, then the window and its dialogs.
  void Start(const std::string& inpFile, bool useInp = true) {
    TSettings s = DefaultSettings(AppState().defaultExportDir);
    s.inpFile = inpFile;
    s.libDir = small_ + "lib/";
    s.useInp = useInp;
    WriteSettings(AppState().iniPath, s);
    f_ = std::make_unique<TF>();
    new TFINI(f_.get());
    f_->show();
  }
  int Authors() const { return f_->LB->model()->rowCount(); }

  std::string small_;
  platform::TScriptedDialogs script_;
  platform::TDialogProviderScope scope_{&script_};
};

// Counts the close events a widget gets.
class TCloseCounter : public QObject {
 public:
  int closes = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Close) ++closes;
    return false;
  }
};

}  // namespace

TEST_F(BuildWindowTest, NoDoesNothingAndYesBuildsAndShowsTheNewCatalogue) {
  Start(small_ + "librusec.inpx");
  ASSERT_EQ(Authors(), 0);

  script_.answers = {platform::mrNo};
  f_->TB_CREDB->click();
  ASSERT_EQ(script_.asked.size(), 1u);
  EXPECT_EQ(script_.asked[0].caption, "Подтверждение");
  EXPECT_FALSE(platform::FileExists(AppState().dbzPath));

  // A close asked for while the build runs is refused: the build pumps
  // events at its first status update.
  script_.asked.clear();
  script_.answers = {platform::mrYes};
  TCloseCounter counter;
  f_->installEventFilter(&counter);
  QMetaObject::invokeMethod(f_.get(), "close", Qt::QueuedConnection);
  f_->TB_CREDB->click();
  EXPECT_EQ(counter.closes, 1);
  EXPECT_TRUE(f_->isVisible());
  EXPECT_FALSE(f_->JobRunning());
  EXPECT_TRUE(f_->TB_CREDB->isEnabled());
  EXPECT_TRUE(f_->LB->isEnabled());

  ASSERT_EQ(script_.asked.size(), 2u);
  const std::string expected = small_ + "expected/";
  const long authors = sample::ModelNumber(expected, "authors");
  EXPECT_EQ(script_.asked[1].text, "Создание списка книг завершено\nАвторов " + std::to_string(authors) + "\nКниг " +
                                       std::to_string(sample::ModelNumber(expected, "books")) + " [" +
                                       std::to_string(sample::ModelNumber(expected, "duplicates")) + "]");
  EXPECT_TRUE(script_.asked[1].caption.starts_with("время работы "));
  EXPECT_EQ(sample::ReadZipMembers(AppState().dbzPath), sample::ZipMembers(small_ + "ref.dbz"));

  EXPECT_EQ(Authors(), authors);
  EXPECT_EQ(f_->LBItemIndex(), 0);
  EXPECT_EQ(f_->LAU->text().toStdString(), platform::AnsiToUtf8(AppState().authors[0]));
  EXPECT_GT(f_->LV->model()->rowCount(), 0);
  EXPECT_EQ(AppState().countAuthors, authors);
  EXPECT_TRUE(f_->CatalogueNote().isEmpty());
  EXPECT_TRUE(platform::FileExists(AppState().iniPath));
}

TEST_F(BuildWindowTest, AFailedBuildIsShownAndKeepsTheCatalogue) {
  const std::string ref = platform::ReadFileBytes(small_ + "ref.dbz");
  platform::WriteFileBytes(AppState().dbzPath, ref);
  // A folder where the index file should be; an index file that is not
  // there; a book archive picked as the index file.
  const std::string missing = small_ + "gone.inpx", book = small_ + "lib/fb2-000100-000139.zip";
  for (const auto& [inpFile, reason] : std::initializer_list<std::pair<std::string, std::string>>{
           {small_ + "lib/", ""},
           {missing, "Файл не найден: " + missing},
           {book, "В файле " + book + " нет списков книг (.inp): возможно, выбран не тот файл.\n"
                  "Прежний список книг не изменён."}}) {
    SCOPED_TRACE(inpFile);
    Start(inpFile);
    const int before = Authors();
    ASSERT_GT(before, 0);

    script_.asked.clear();
    script_.answers = {platform::mrYes};
    f_->TB_CREDB->click();
    ASSERT_EQ(script_.asked.size(), 2u);
    EXPECT_TRUE(script_.asked[1].text.starts_with("Не удалось создать список книг:\n" + reason))
        << script_.asked[1].text;
    EXPECT_EQ(platform::ReadFileBytes(AppState().dbzPath), ref);
    EXPECT_TRUE(f_->TB_CREDB->isEnabled());
    EXPECT_EQ(Authors(), before);
  }
}
