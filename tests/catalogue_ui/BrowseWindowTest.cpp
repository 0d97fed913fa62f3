// The author list and the books of an author in the main window, driven
// through the components' object names on the offscreen platform. The
// QApplication comes from the suite's environment (MainWindowTest.cpp).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <algorithm>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTreeView>
#include <clocale>
#include <filesystem>
#include <map>

#include "catalogue/AppState.h"
#include "catalogue/Browse.h"
#include "catalogue/ui/MainWindow.h"
#include "catalogue/ui/SortHeader.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "tests/catalogue/SampleCatalogue.h"
#include "tests/catalogue_ui/StateFixture.h"

namespace fs = std::filesystem;
using namespace catalogue;
using platform::AnsiToUtf8;
using platform::Utf8ToAnsi;

namespace {

using TBookTexts = std::vector<std::string>;  // the 8 fields of a book line, UTF-8

class BrowseWindowTest : public uitest::TStateTest {
 protected:
  void SetUp() override { InitState("h8browse"); }

  // The catalogue archive exists; its members come from the reader.
  void PlaceCatalogue() { platform::WriteFileBytes(AppState().dbzPath, ""); }

  // A reference catalogue archive of the generator, in place of the
  // program's own and read through the archiver.
  void UseReference(const std::string& dbz) {
    fs::copy_file(dbz, AppState().dbzPath, fs::copy_options::overwrite_existing);
    reader_.SetPassThrough(true);
  }

  // A catalogue of the given authors (UTF-8 names, in catalogue order) and
  // their books.
  void UseCatalogue(const std::vector<std::pair<std::string, std::vector<TBookTexts>>>& authors) {
    PlaceCatalogue();
    auto& members = reader_.members();
    members.clear();
    TCatalogueWriter w([&](const std::string& name, const AnsiString& bytes) { members[name] = bytes; });
    for (const auto& [name, books] : authors) {
      w.AddAuthor(Utf8ToAnsi(name));
      for (const TBookTexts& b : books) {
        std::array<AnsiString, kBookFieldCount> keep;
        TBookFields fields;
        for (int i = 0; i < kBookFieldCount; ++i) fields[i] = keep[i] = Utf8ToAnsi(b.at(i));
        w.AddBook(fields);
      }
    }
    w.Finish({});
  }

  void Start() { f_ = std::make_unique<TF>(); }

  template <class T>
  T* Find(const char* name) {
    T* w = f_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QTreeView* LB() { return Find<QTreeView>("LB"); }
  QTreeView* LV() { return Find<QTreeView>("LV"); }
  QLineEdit* EAU() { return Find<QLineEdit>("EAU"); }
  QLabel* LAU() { return Find<QLabel>("LAU"); }

  int SelectedAuthor() {
    const QModelIndexList rows = LB()->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().row() : -1;
  }
  void ClickAuthor(int row) { LB()->setCurrentIndex(LB()->model()->index(row, 0)); }
  void ClickHeader(int column) { emit LV()->header()->sectionClicked(column); }
  // The texts of column `column` of LV, top to bottom.
  std::vector<std::string> Column(int column) {
    std::vector<std::string> texts;
    const QAbstractItemModel* m = LV()->model();
    for (int r = 0; r < m->rowCount(); ++r)
      texts.push_back(m->index(r, column).data().toString().toStdString());
    return texts;
  }

  sample::TMemoryReader reader_;
  sample::TReaderScope scope_{reader_};
};

// A book line's fields in the order of the format: title, series, file,
// size, genres, date, language, duplicate.
TBookTexts Book(const std::string& title, const std::string& series, const std::string& size,
                const char* dup = "N", const std::string& file = "1") {
  return {title, series, file, size, "FS", "", "ru", dup};
}

TEST_F(BrowseWindowTest, TheReferenceCatalogueOpensOnItsFirstAuthor) {
  const std::string dir = sample::Collection("small");
  UseReference(dir + "ref.dbz");
  Start();

  const auto authors = ParseAuthorList(platform::ReadFileBytes(dir + "expected/a.txt"));
  ASSERT_EQ(LB()->model()->rowCount(), sample::ModelNumber(dir + "expected/", "authors"));
  EXPECT_EQ(LB()->model()->index(85, 0).data().toString().toStdString(), AnsiToUtf8(authors[85]));
  EXPECT_EQ(SelectedAuthor(), 0);
  EXPECT_EQ(LAU()->text().toStdString(), AnsiToUtf8(authors[0]));

  size_t books = 0;
  for (const auto& b : sample::ExpectedBooks(dir + "expected/")) books += b.author == 0;
  EXPECT_EQ(static_cast<size_t>(LV()->model()->rowCount()), books);
  EXPECT_EQ(LAU()->toolTip().toStdString(), "Книг " + std::to_string(books));
  // Sorted by title, ascending, arrow on the title.
  EXPECT_EQ(LV()->header()->sortIndicatorSection(), 0);
  EXPECT_EQ(LV()->header()->sortIndicatorOrder(), Qt::AscendingOrder);
  EXPECT_EQ(reader_.Reads("a.txt"), 1);
  EXPECT_EQ(reader_.Reads("0.txt"), 1);
}

TEST_F(BrowseWindowTest, MoreThanAHundredThousandAuthorsAllShow) {
  const std::string dir = sample::Collection("edge");
  UseReference(dir + "ref.dbz");
  Start();
  const int authors = LB()->model()->rowCount();
  EXPECT_EQ(authors, sample::ModelNumber(dir + "expected/", "authors"));
  EXPECT_GT(authors, 100000);

  // The last author's books come from the last block.
  size_t books = 0;
  for (const auto& b : sample::ExpectedBooks(dir + "expected/")) books += b.author == authors - 1;
  ClickAuthor(authors - 1);
  EXPECT_EQ(reader_.Reads(BlockMemberName(BlockOfAuthor(authors - 1))), 1);
  EXPECT_EQ(static_cast<size_t>(LV()->model()->rowCount()), books);
}

TEST_F(BrowseWindowTest, TypingSelectsTheFirstAuthorBeginningWithTheText) {
  const std::string dir = sample::Collection("small");
  UseReference(dir + "ref.dbz");
  Start();
  const auto authors = ParseAuthorList(platform::ReadFileBytes(dir + "expected/a.txt"));
  // The first name that begins with `utf8` in any letter case, by a walk.
  auto firstWith = [&](const std::string& utf8) {
    const AnsiString key = platform::AnsiUpperCase(Utf8ToAnsi(utf8));
    for (size_t i = 0; i < authors.size(); ++i)
      if (platform::AnsiUpperCase(authors[i]).rfind(key, 0) == 0) return static_cast<int>(i);
    return -1;
  };

  for (const char* typed : {"smi", "SMITHS", "пет", "петров п", "ни", "s"}) {
    EAU()->setText(QString::fromUtf8(typed));
    ASSERT_GE(firstWith(typed), 0) << typed;
    EXPECT_EQ(SelectedAuthor(), firstWith(typed)) << typed;
    EXPECT_EQ(LAU()->text().toStdString(), AnsiToUtf8(authors[SelectedAuthor()]));
  }
  // No match, before the first, after the last: the selection stays.
  const int before = SelectedAuthor();
  for (const char* typed : {"smx", "!", "яяя"}) {
    EAU()->setText(QString::fromUtf8(typed));
    EXPECT_EQ(SelectedAuthor(), before) << typed;
  }
  EAU()->setText(QString());
  EXPECT_EQ(SelectedAuthor(), 0);

  // The list's own type-ahead finds the same author.
  LB()->keyboardSearch(QStringLiteral("smi"));
  EXPECT_EQ(SelectedAuthor(), firstWith("smi"));
}

TEST_F(BrowseWindowTest, AuthorsOfOneBlockShareOneRead) {
  UseReference(sample::Collection("edge") + "sub/authors-2500/ref.dbz");
  Start();
  EXPECT_EQ(reader_.Reads("0.txt"), 1);  // author 0, at start
  ClickAuthor(10);
  ClickAuthor(999);
  EXPECT_EQ(reader_.Reads("0.txt"), 1);
  EXPECT_EQ(reader_.Reads("1.txt"), 0);
  ClickAuthor(1000);
  EXPECT_EQ(reader_.Reads("1.txt"), 1);
  EXPECT_EQ(reader_.Reads("0.txt"), 1);
  EXPECT_EQ(LAU()->text().toStdString(), AnsiToUtf8(AppState().authors[1000]));
  ClickAuthor(2499);
  EXPECT_EQ(reader_.Reads("2.txt"), 1);
  // One block is cached, not every block read so far.
  ClickAuthor(10);
  EXPECT_EQ(reader_.Reads("0.txt"), 2);
}

TEST_F(BrowseWindowTest, WithoutCatalogueTheListsStayEmpty) {
  Start();
  EXPECT_EQ(LB()->model()->rowCount(), 0);
  EXPECT_EQ(LV()->model()->rowCount(), 0);
  EAU()->setText(QStringLiteral("abc"));
  EXPECT_EQ(SelectedAuthor(), -1);
  EXPECT_EQ(reader_.TotalReads(), 0);
  EXPECT_TRUE(LAU()->text().isEmpty());
}

TEST_F(BrowseWindowTest, SizesSortAsNumbersAndAHeaderClickedTwiceTurns) {
  UseCatalogue({{"Автор",
                 {Book("Бета", "Серия А", "1200"), Book("альфа", "Серия В", "900"),
                  Book("Гамма", "серия Б", "30000")}}});
  Start();
  EXPECT_EQ(Column(0), (std::vector<std::string>{"альфа", "Бета", "Гамма"}));

  ClickHeader(5);  // "Размер"
  EXPECT_EQ(Column(5), (std::vector<std::string>{"900", "1200", "30000"}));
  EXPECT_EQ(AppState().sortColumn, 5);

  ClickHeader(1);  // "Серия"
  EXPECT_EQ(Column(1), (std::vector<std::string>{"Серия А", "серия Б", "Серия В"}));
  EXPECT_FALSE(AppState().sortDescending);
  ClickHeader(1);
  EXPECT_EQ(Column(1), (std::vector<std::string>{"Серия В", "серия Б", "Серия А"}));
  EXPECT_TRUE(AppState().sortDescending);
  EXPECT_EQ(LV()->header()->sortIndicatorSection(), 1);
  EXPECT_EQ(LV()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
  EXPECT_EQ(f_->getSort(), "D1");

  // Another author keeps the sort.
  ClickAuthor(0);
  f_->refreshBooksTXT(0);
  EXPECT_EQ(Column(1), (std::vector<std::string>{"Серия В", "серия Б", "Серия А"}));
}

TEST_F(BrowseWindowTest, DuplicatesAreGreyOrHiddenAndStillCounted) {
  UseCatalogue({{"Автор",
                 {Book("1", "", "10"), Book("2", "", "10", "Y"), Book("3", "", "10"),
                  Book("4", "", "10", "Y"), Book("5", "", "10")}}});
  AppState().hideDuplicates = true;
  Start();
  EXPECT_EQ(Column(0), (std::vector<std::string>{"1", "3", "5"}));
  EXPECT_EQ(LAU()->toolTip(), QStringLiteral("Книг 5"));

  AppState().hideDuplicates = false;
  f_->refreshBooksTXT(0);
  ASSERT_EQ(LV()->model()->rowCount(), 5);
  EXPECT_EQ(LAU()->toolTip(), QStringLiteral("Книг 5"));
  for (int r = 0; r < 5; ++r) {
    const QVariant color = LV()->model()->index(r, 3).data(Qt::ForegroundRole);
    if (r == 1 || r == 3)
      EXPECT_EQ(color.value<QColor>(), QColor(0x80, 0x80, 0x80)) << r;
    else
      EXPECT_FALSE(color.isValid()) << r;
  }
}

TEST_F(BrowseWindowTest, TitlesSortInRussianWhateverTheMachineLocale) {
  setenv("LANG", "C", 1);
  setenv("LC_ALL", "C", 1);
  std::setlocale(LC_ALL, "C");
  QLocale::setDefault(QLocale::c());
  UseCatalogue({{"Автор",
                 {Book("apple", "", "1"), Book("Яблоко", "", "1"), Book("ежевика", "", "1"),
                  Book("Zebra", "", "1"), Book("Ёж", "", "1"), Book("арбуз", "", "1"),
                  Book("Банан", "", "1")}}});
  Start();
  // Cyrillic before Latin, letter case ignored, Ё beside Е.
  EXPECT_EQ(Column(0), (std::vector<std::string>{"арбуз", "Банан", "Ёж", "ежевика", "Яблоко",
                                                 "apple", "Zebra"}));
  QLocale::setDefault(QLocale::system());
}

TEST_F(BrowseWindowTest, SortTextFromTheSettingsAndSelectionThroughASort) {
  UseCatalogue({{"Автор",
                 {Book("Б", "", "1200", "N", "11"), Book("А", "", "900", "N", "22"),
                  Book("В", "", "30000", "N", "33")}}});
  Start();
  f_->setSort("D5");
  EXPECT_EQ(Column(5), (std::vector<std::string>{"30000", "1200", "900"}));
  EXPECT_EQ(LV()->header()->sortIndicatorSection(), 5);
  EXPECT_EQ(LV()->header()->sortIndicatorOrder(), Qt::DescendingOrder);

  f_->setSort("Z?");  // malformed: by title, ascending
  EXPECT_EQ(f_->getSort(), "A0");
  EXPECT_EQ(Column(0), (std::vector<std::string>{"А", "Б", "В"}));
  EXPECT_EQ(LV()->header()->sortIndicatorSection(), 0);

  // The selected book stays selected when the list is sorted anew.
  LV()->setCurrentIndex(LV()->model()->index(0, 0));  // "А", file 22
  ClickHeader(6);
  ClickHeader(6);  // by file, descending: 33, 22, 11
  const QModelIndexList selected = LV()->selectionModel()->selectedRows();
  ASSERT_EQ(selected.size(), 1);
  EXPECT_EQ(selected.first().row(), 1);
  EXPECT_EQ(LV()->model()->index(1, 6).data().toString(), "22");
}

// Which way the arrow that the style paints on `section` points: 1 up, -1
// down, 0 none. The section is painted as the header asks for it and again
// without an arrow; the pixels that differ are the arrow, and an arrow
// pointing up is narrow at the top and wide at the bottom.
int PaintedArrow(const TSortHeader& header, int section) {
  const auto paint = [&](QStyleOptionHeader option) {
    QImage image(header.sectionSize(section), header.height(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    option.rect = image.rect();
    QPainter painter(&image);
    header.style()->drawControl(QStyle::CE_Header, &option, &painter, &header);
    return image;
  };
  QStyleOptionHeader option = header.SectionOption(section);
  const QImage with = paint(option);
  option.sortIndicator = QStyleOptionHeader::None;
  const QImage without = paint(option);
  std::vector<int> ink;  // differing pixels of each row that has any
  for (int y = 0; y < with.height(); ++y) {
    int n = 0;
    for (int x = 0; x < with.width(); ++x) n += with.pixel(x, y) != without.pixel(x, y);
    if (n > 0) ink.push_back(n);
  }
  if (ink.size() < 2 || ink.front() == ink.back()) return 0;
  return ink.front() < ink.back() ? 1 : -1;
}

TEST_F(BrowseWindowTest, TheSortArrowPointsUpAscendingAndDownDescending) {
  UseCatalogue({{"Автор", {Book("Бета", "Серия А", "1200"), Book("альфа", "Серия В", "900")}}});
  Start();
  f_->resize(1000, 600);
  f_->show();
  auto* header = dynamic_cast<TSortHeader*>(LV()->header());
  ASSERT_NE(header, nullptr);
  const auto arrows = [&] {
    std::vector<int> painted;
    for (int c = 0; c < kBookColumnCount; ++c) {
      EXPECT_EQ(header->SectionOption(c).sortIndicator, header->Arrow(c)) << c;
      painted.push_back(PaintedArrow(*header, c));
    }
    return painted;
  };
  EXPECT_EQ(header->Arrow(0), QStyleOptionHeader::SortUp);
  EXPECT_EQ(arrows(), (std::vector<int>{1, 0, 0, 0, 0, 0, 0}));
  ClickHeader(1);
  EXPECT_EQ(arrows(), (std::vector<int>{0, 1, 0, 0, 0, 0, 0}));
  ClickHeader(1);  // descending
  EXPECT_EQ(header->Arrow(1), QStyleOptionHeader::SortDown);
  EXPECT_EQ(arrows(), (std::vector<int>{0, -1, 0, 0, 0, 0, 0}));
}

TEST_F(BrowseWindowTest, AFailedReadIsShownAndLeavesNoStaleBooks) {
  platform::TScriptedDialogs dialogs;
  platform::TDialogProviderScope dialogScope(&dialogs);
  std::vector<std::pair<std::string, std::vector<TBookTexts>>> authors;
  for (int i = 0; i < 1001; ++i) authors.push_back({"A" + std::to_string(1000 + i), {Book("T", "", "1")}});
  UseCatalogue(authors);
  Start();
  ASSERT_EQ(LV()->model()->rowCount(), 1);

  reader_.SetFailing(true);
  ClickAuthor(1000);
  ASSERT_EQ(dialogs.asked.size(), 1u);
  EXPECT_NE(dialogs.asked[0].text.find("1.txt"), std::string::npos);
  EXPECT_EQ(LV()->model()->rowCount(), 0);
  EXPECT_EQ(LAU()->text(), QStringLiteral("A2000"));

  reader_.SetFailing(false);
  f_->refreshBooksTXT(1000);  // tries again
  EXPECT_EQ(LV()->model()->rowCount(), 1);
}

}  // namespace
