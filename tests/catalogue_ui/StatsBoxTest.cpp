// The statistics box, the About box and the home page.
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QAction>
#include <QUrl>

#include "catalogue/Func.h"
#include "catalogue/InfoTexts.h"
#include "catalogue/MemberReader.h"
#include "catalogue/ui/AuthorListModel.h"
#include "catalogue/ui/InfoBoxes.h"
#include "platform/Dialogs.h"
#include "tests/catalogue_ui/SearchWindowFixture.h"

using namespace catalogue;
namespace fs = std::filesystem;

namespace {

using TRows = std::vector<std::vector<std::string>>;

}  // namespace

// Takes the URLs the desktop would open.
class TUrlCatcher : public QObject {
  Q_OBJECT

 public:
  QUrl url;
 public slots:
  void open(const QUrl& u) { url = u; }
};

namespace {

TEST(StatisticsTable, TabsSeparateTheColumnsWhateverTheirNumber) {
  const AnsiString inf = platform::Utf8ToAnsi("Авторов:\t\t3\nКниг:\t\t10\nДублей книг:\t2");
  EXPECT_EQ(StatisticsTable(inf),
            (TRows{{"Авторов:", "3"}, {"Книг:", "10"}, {"Дублей книг:", "2"}}));
  EXPECT_EQ(StatisticsTable("a\tb\t\tc\r\n\r\n\tx\t\n"), (TRows{{"a", "b", "c"}, {"x"}}));
  EXPECT_TRUE(StatisticsTable("").empty());
}

class StatsBoxTest : public h9test::TWindowTest {
 protected:
  // Runs TB_STATClick; returns the box's caption and text.
  std::pair<std::string, QString> ShowStatistics() {
    std::pair<std::string, QString> shown;
    EXPECT_TRUE(h9test::AnswerModal(
        [&](QWidget* w) {
          auto* box = qobject_cast<QMessageBox*>(w);
          ASSERT_NE(box, nullptr);
          EXPECT_EQ(box->textFormat(), Qt::RichText);
          EXPECT_EQ(box->parentWidget(), f_.get());
          // Wide enough for its caption beside the title bar's buttons.
          EXPECT_GE(box->width(), box->fontMetrics().horizontalAdvance(box->windowTitle()) + 100);
          shown = {box->windowTitle().toStdString(), box->text()};
          box->button(QMessageBox::Ok)->click();
        },
        [&] { TB_STATClick(f_.get()); }));
    return shown;
  }
};

TEST_F(StatsBoxTest, TheCataloguesStatisticsStandInColumns) {
  UseReference("small");
  Start();
  const std::string expected = collection_ + "expected/";
  const auto [caption, html] = ShowStatistics();
  EXPECT_EQ(caption, "Статистика");
  const TRows rows{{"Авторов:", std::to_string(sample::ModelNumber(expected, "authors"))},
                   {"Книг:", std::to_string(sample::ModelNumber(expected, "books"))},
                   {"Дублей книг:", std::to_string(sample::ModelNumber(expected, "duplicates"))}};
  EXPECT_EQ(StatisticsTable(platform::ReadFileBytes(expected + "inf.txt")), rows);
  EXPECT_EQ(html, StatisticsHtml(platform::ReadFileBytes(expected + "inf.txt")));
  // One table row per line, label and figure in cells of their own.
  EXPECT_EQ(html.count(QStringLiteral("<tr>")), 3);
  EXPECT_TRUE(html.contains(QStringLiteral("Дублей книг:</td><td align=\"right\">") +
                            QString::number(sample::ModelNumber(expected, "duplicates"))));
  EXPECT_EQ(reader_.Reads("inf.txt"), 1);
}

TEST_F(StatsBoxTest, TheStatisticsAreReadFromTheCatalogueArchive) {
  const std::string dir = sample::Collection("small");
  fs::copy_file(dir + "ref.dbz", AppState().dbzPath);
  TZipMemberReaderScope archive(readZipMember);
  Start();
  EXPECT_EQ(ShowStatistics().second,
            StatisticsHtml(platform::ReadFileBytes(dir + "expected/inf.txt")));
}

TEST_F(StatsBoxTest, WithoutAReadableCatalogueTheBoxSaysWhy) {
  Start();
  const auto [caption, html] = ShowStatistics();
  EXPECT_EQ(caption, "Статистика");
  EXPECT_FALSE(html.contains(QStringLiteral("<td")));
  EXPECT_TRUE(html.contains(QStringLiteral("«Создать список книг»")));
  EXPECT_EQ(reader_.TotalReads(), 0);

  // Not a zip archive: the Russian note, the reason after it.
  platform::WriteFileBytes(AppState().dbzPath, "text, not an archive\n");
  TZipMemberReaderScope archive(readZipMember);
  const QString damaged = ShowStatistics().second;
  EXPECT_TRUE(damaged.startsWith(QStringLiteral("Список книг "))) << damaged.toStdString();
  EXPECT_TRUE(damaged.contains(QStringLiteral("Причина: Файл не является zip-архивом")));
}

// A damaged catalogue (tests/data/catalogue/, and one without its
// statistics member): the box says so and shows what could be read.
TEST_F(StatsBoxTest, ADamagedCatalogueIsSaidToBeDamagedWithWhatCouldBeRead) {
  platform::TScriptedDialogs script;  // the window's own report at start
  platform::TDialogProviderScope scope(&script);
  struct TCase {
    const char* file;  // nullptr: the reference catalogue without "inf.txt"
    int rows;          // table rows of what could be read
    const char* says;
  };
  for (const TCase c : {TCase{"cut-half.dbz", 3, "Удалось прочитать:"},
                        TCase{"flipped-block.dbz", 3, "0.txt"},
                        TCase{"more-authors.dbz", 3, "описывает"},
                        TCase{"blocks-first-cut-half.dbz", 0, "Статистику прочитать не удалось."},
                        TCase{"text-file.dbz", 0, "Файл не является zip-архивом"},
                        TCase{nullptr, 1, "в нём нет статистики (inf.txt)."}}) {
    SCOPED_TRACE(c.file ? c.file : "no inf.txt");
    if (c.file) {
      fs::copy_file(fs::path(TOMESHELF_SOURCE_DIR) / "tests/data/catalogue" / c.file,
                    AppState().dbzPath, fs::copy_options::overwrite_existing);
      reader_.SetPassThrough(true);
    } else {
      UseReference("small");
      reader_.SetPassThrough(false);
      reader_.members().erase("inf.txt");
    }
    Start();
    const QString html = ShowStatistics().second;
    EXPECT_TRUE(html.startsWith(QStringLiteral("Список книг "))) << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("повреждён"))) << html.toStdString();
    EXPECT_TRUE(html.contains(QString::fromUtf8(c.says))) << html.toStdString();
    EXPECT_EQ(html.count(QStringLiteral("<tr>")), c.rows) << html.toStdString();
    if (!c.file) {
      EXPECT_TRUE(html.contains(QStringLiteral("Авторов:</td><td align=\"right\">") +
                                QString::number(f_->LBModel->rowCount())));
    }
    f_.reset();
  }
}

TEST_F(StatsBoxTest, AboutNamesTheVersionAndHomeOpensTheProjectPage) {
  platform::TScriptedDialogs script;
  platform::TDialogProviderScope scope(&script);
  MI_ABClick();
  ASSERT_EQ(script.asked.size(), 1u);
  EXPECT_EQ(script.asked[0].caption, "О программе");
  const std::string head = "Tomeshelf версия " + getVersionText() + "\n\n";
  EXPECT_EQ(script.asked[0].text.substr(0, head.size()), head);
  EXPECT_GT(script.asked[0].text.size(), head.size());
  EXPECT_EQ(script.asked[0].buttons, platform::TMsgDlgButtons{platform::mrOk});

  TUrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
  MI_WWClick();
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  EXPECT_EQ(catcher.url, QUrl(QString::fromLatin1(kHomePage)));
  EXPECT_EQ(script.asked.size(), 1u);

  // No browser to be found: said, with the address.
  const QByteArray path = qgetenv("PATH"), browser = qgetenv("BROWSER");
  qputenv("PATH", QByteArray::fromStdString(root_.string()));
  qunsetenv("BROWSER");
  MI_WWClick();
  qputenv("PATH", path);
  if (!browser.isNull()) qputenv("BROWSER", browser);
  ASSERT_EQ(script.asked.size(), 2u);
  EXPECT_EQ(script.asked[1].text, NoBrowserMessage());
  EXPECT_NE(script.asked[1].text.find(kHomePage), std::string::npos);
}

TEST_F(StatsBoxTest, TheToolBarAndMenuRunTheCommands) {
  UseReference("small");
  Start();
  EXPECT_TRUE(h9test::AnswerModal(
      [](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Статистика");
        static_cast<QDialog*>(w)->reject();
      },
      [&] { f_->TB_STAT->click(); }));

  platform::TScriptedDialogs script;
  platform::TDialogProviderScope scope(&script);
  f_->TB_WWW->click();
  f_->MI_AB->trigger();
  ASSERT_EQ(script.asked.size(), 2u);
  EXPECT_EQ(script.asked[0].caption, "О программе");
  EXPECT_EQ(script.asked[1].text, script.asked[0].text);

  TUrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
  f_->MI_WW->trigger();
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  EXPECT_EQ(catcher.url, QUrl(QString::fromLatin1(kHomePage)));
}

}  // namespace

#include "StatsBoxTest.moc"
