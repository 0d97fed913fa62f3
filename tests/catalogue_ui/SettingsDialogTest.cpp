// The settings dialog and the settings file as the main window uses them:
// defaults, OK, Cancel, the restored window and the list font.
#include <QCheckBox>
#include <QColor>
#include <QFileDialog>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QToolButton>
#include <QTreeView>
#include <map>

#include "catalogue/CatalogueFormat.h"
#include "catalogue/Func.h"
#include "catalogue/ui/BookListModel.h"
#include "catalogue/ui/RowHeightDelegate.h"
#include "platform/IniFile.h"
#include "tests/catalogue_ui/SearchWindowFixture.h"

using namespace catalogue;

namespace {

class SettingsDialogTest : public h9test::TWindowTest {
 protected:
  std::string Ini() const { return AppState().iniPath; }
  int Rows() const { return f_->LV->model()->rowCount(); }

  // An author of the catalogue with at least two books, one a duplicate.
  int AuthorWithDuplicates() const {
    std::map<int, std::pair<int, int>> books;  // author -> (books, duplicates)
    for (const auto& b : sample::ExpectedBooks(collection_ + "expected/")) {
      ++books[b.author].first;
      books[b.author].second += b.fields[7] == "Y";
    }
    for (const auto& [author, n] : books) {
      if (n.second > 0 && n.first > n.second && author > 0) return author;
    }
    return -1;
  }
};

TEST_F(SettingsDialogTest, WithoutASettingsFileTheDefaultsHold) {
  UseReference("small");
  Start();
  const TAppState& st = AppState();
  EXPECT_FALSE(platform::FileExists(Ini()));
  EXPECT_TRUE(platform::DirectoryExists(st.defaultExportDir));
  EXPECT_EQ(st.expDir, st.defaultExportDir);
  EXPECT_EQ(fini_->dirEXP->text().toStdString(), st.defaultExportDir);
  EXPECT_TRUE(st.useInp);
  EXPECT_TRUE(st.hideDuplicates);
  EXPECT_TRUE(fini_->cbINP->isChecked());
  EXPECT_TRUE(fini_->cbDUP->isChecked());
  EXPECT_EQ(fini_->LFNT->font().family(), "Tahoma");
  EXPECT_EQ(fini_->LFNT->font().pointSize(), 8);
  EXPECT_EQ(f_->LB->font().family(), "Tahoma");
  EXPECT_EQ(f_->getSort(), "A0");
  EXPECT_EQ(f_->LBItemIndex(), 0);
  EXPECT_EQ(f_->LV->columnWidth(0), 250);
  EXPECT_EQ(f_->LV->columnWidth(6), 60);

  // The first author's books were shown before the settings were read:
  // they follow "hide duplicates" all the same.
  for (int r = 0; r < Rows(); ++r) EXPECT_NE(f_->LVModel->Row(r).field[bfDuplicate], "Y");
}

TEST_F(SettingsDialogTest, OKWritesEveryKeyAndARestartRestoresTheWindow) {
  UseReference("small");
  Start();
  f_->show();
  const int author = AuthorWithDuplicates();
  ASSERT_GT(author, 0);

  // The user's changes: dialog, font, sort, widths, author and book.
  fini_->dirZIP->setText(QStringLiteral("/книги/lib/"));
  fini_->fb2reader->setText(QStringLiteral("bin/reader"));
  fini_->cbINP->setChecked(false);
  QFont font(QStringLiteral("DejaVu Sans"), 11);
  font.setItalic(true);
  fini_->LFNT->setFont(font);
  f_->LVColumnClick(1);
  f_->LVColumnClick(1);
  f_->LV->setColumnWidth(0, 311);
  f_->LV->setColumnWidth(5, 77);
  f_->SP->setSizes({260, 600});
  f_->SelectAuthor(author);
  ASSERT_GT(Rows(), 1);
  f_->LV->setCurrentIndex(f_->LV->model()->index(1, 0));
  const std::string book = SelectedBook();

  fini_->OKBtn->click();
  EXPECT_EQ(fini_->result(), QDialog::Accepted);

  const platform::TIniFile ini(Ini());
  const std::pair<const char*, std::vector<const char*>> keys[] = {
      {"PathFile", {"LIB", "INP", "EXP", "FB2READER", "USEINP", "FB2LRF"}},
      {"XXX", {"SORT", "AR", "DUP", "AUNO", "BOFI"}},
      {"WI", {"AU", "C0", "C1", "C2", "C3", "C4", "C5", "C6"}},
      {"Font", {"FontName", "CharSet", "Size", "Style"}}};
  for (const auto& [section, names] : keys) {
    for (const char* key : names) EXPECT_TRUE(ini.ValueExists(section, key)) << key;
  }
  EXPECT_EQ(ini.ReadString("PathFile", "LIB", ""), "/книги/lib/");
  EXPECT_EQ(ini.ReadString("XXX", "SORT", ""), "D1");
  EXPECT_EQ(ini.ReadInteger("XXX", "AUNO", -1), author);
  EXPECT_EQ(ini.ReadString("XXX", "BOFI", ""), book);
  EXPECT_EQ(ini.ReadInteger("WI", "AU", 0), f_->SP->sizes().first());
  EXPECT_EQ(ini.ReadString("Font", "FontName", ""), "DejaVu Sans");
  EXPECT_EQ(ini.ReadInteger("Font", "Size", 0), 11);
  EXPECT_EQ(ini.ReadInteger("Font", "Style", 0), fsItalic);
  // OK applied the font to the lists.
  EXPECT_EQ(f_->LV->font().family(), "DejaVu Sans");

  const int side = f_->SP->sizes().first();
  Restart();
  f_->show();
  EXPECT_EQ(fini_->dirZIP->text(), "/книги/lib/");
  EXPECT_EQ(fini_->fb2reader->text(), "bin/reader");
  EXPECT_FALSE(fini_->cbINP->isChecked());
  EXPECT_FALSE(AppState().useInp);
  EXPECT_EQ(AppState().readerProgram, "bin/reader");
  EXPECT_EQ(f_->LB->font().family(), "DejaVu Sans");
  EXPECT_EQ(f_->LB->font().pointSize(), 11);
  EXPECT_TRUE(f_->LV->font().italic());
  EXPECT_EQ(f_->getSort(), "D1");
  EXPECT_EQ(f_->LV->columnWidth(0), 311);
  EXPECT_EQ(f_->LV->columnWidth(5), 77);
  EXPECT_EQ(f_->SP->sizes().first(), side);
  EXPECT_EQ(f_->LBItemIndex(), author);
  EXPECT_EQ(SelectedBook(), book);
}

// Cancel drops the dialog's edits; what the session changed in the window
// (a sort, a width) stays, whatever the file holds.
TEST_F(SettingsDialogTest, CancelDropsTheEditsAndKeepsTheSession) {
  UseReference("small");
  platform::TIniFile ini(Ini());
  ini.WriteString("PathFile", "LIB", "/from/file/");
  ini.WriteInteger("WI", "C2", 123);
  ini.WriteString("XXX", "SORT", "A4");
  ini.UpdateFile();
  Start();
  EXPECT_EQ(AppState().libDir, "/from/file/");

  fini_->dirZIP->setText(QStringLiteral("/typed/"));
  fini_->cbDUP->setChecked(false);
  f_->LV->setColumnWidth(2, 40);
  f_->LVColumnClick(0);
  fini_->CancelBtn->click();

  EXPECT_EQ(fini_->result(), QDialog::Rejected);
  EXPECT_EQ(fini_->dirZIP->text(), "/from/file/");
  EXPECT_TRUE(fini_->cbDUP->isChecked());
  EXPECT_EQ(AppState().libDir, "/from/file/");
  EXPECT_TRUE(AppState().hideDuplicates);
  EXPECT_EQ(f_->LV->columnWidth(2), 40);
  EXPECT_EQ(f_->getSort(), "A0");
}

TEST_F(SettingsDialogTest, ShowingDuplicatesTakesEffectAtOnceInGrey) {
  UseReference("small");
  Start();
  const int author = AuthorWithDuplicates();
  f_->SelectAuthor(author);
  const int hiddenRows = Rows();

  fini_->cbDUP->setChecked(false);
  fini_->OKBtn->click();
  EXPECT_FALSE(AppState().hideDuplicates);
  EXPECT_EQ(f_->LBItemIndex(), author);
  EXPECT_GT(Rows(), hiddenRows);
  int grey = 0;
  for (int r = 0; r < Rows(); ++r) {
    const QVariant colour = f_->LV->model()->index(r, 0).data(Qt::ForegroundRole);
    if (f_->LVModel->Row(r).Duplicate()) {
      EXPECT_EQ(colour.value<QColor>(), QColor(TBookListModel::kDuplicateColor));
      ++grey;
    }
  }
  EXPECT_EQ(grey, Rows() - hiddenRows);
}

// The author a stale or damaged file names is not in the catalogue: the first
// author stays, and its list follows "hide duplicates" as any other does.
TEST_F(SettingsDialogTest, AnAuthorBeyondTheCatalogueLeavesTheFirstListWithDuplicatesHidden) {
  platform::WriteFileBytes(AppState().dbzPath, "");
  TCatalogueWriter w([&](const std::string& name, const AnsiString& bytes) {
    reader_.members()[name] = bytes;
  });
  w.AddAuthor("A");
  w.AddBook({"One", "", "1", "10", "", "", "ru", "N"});
  w.AddBook({"One", "", "2", "10", "", "", "ru", "Y"});
  w.AddBook({"Two", "", "3", "10", "", "", "ru", "N"});
  w.AddAuthor("B");
  w.Finish({});
  for (const char* auno : {"99999", "2", "-1"}) {
    SCOPED_TRACE(auno);
    platform::WriteFileBytes(Ini(), std::string("[XXX]\nDUP=1\nAUNO=") + auno + "\n");
    Start();
    EXPECT_EQ(f_->LBItemIndex(), 0);
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(f_->LAU->toolTip(), "Книг 3");
    f_.reset();
  }
}

TEST_F(SettingsDialogTest, TheListFontSetsRowHeightsAndTheAuthorTitle) {
  Start();
  QFont font(QStringLiteral("DejaVu Sans"), 12);
  setFont(*f_, font);
  const int pixels = QFontInfo(font).pixelSize();
  EXPECT_EQ(f_->EM->RowHeight(), pixels + 8);
  EXPECT_EQ(f_->LB->font(), font);
  EXPECT_EQ(f_->EAU->font(), font);
  EXPECT_TRUE(f_->LAU->font().bold());
  EXPECT_EQ(f_->LAU->font().pointSize(), 14);
  EXPECT_EQ(f_->LAU->height(), QFontInfo(f_->LAU->font()).pixelSize() + 10);
  EXPECT_EQ(f_->EAU->height(), f_->LAU->height() - 6);
}

TEST_F(SettingsDialogTest, PathButtonsPickAFolderOrAFile) {
  Start();
  const std::string lib = (root_ / "lib").string();
  platform::ForceDirectories(lib);
  platform::WriteFileBytes(lib + "/librusec.inpx", "x");

  // A file edit starts at its file and takes the file chosen.
  fini_->inpZIP->setText(QString::fromStdString(lib + "/librusec.inpx"));
  std::string startedIn;
  ASSERT_TRUE(h9test::AnswerModal(
      [&](QWidget* w) {
        auto* od = qobject_cast<QFileDialog*>(w);
        ASSERT_EQ(od, fini_->OD);
        startedIn = od->directory().absolutePath().toStdString();
        EXPECT_EQ(od->fileMode(), QFileDialog::ExistingFile);
        od->selectFile(QString::fromStdString(lib + "/librusec.inpx"));
        static_cast<QDialog*>(od)->accept();
      },
      [&] { fini_->inpZIP->actions().first()->trigger(); }));
  EXPECT_EQ(startedIn, lib);
  EXPECT_EQ(fini_->inpZIP->text().toStdString(), lib + "/librusec.inpx");

  // A folder edit takes the folder, with its delimiter; a relative path
  // starts from the program's folder.
  fini_->dirZIP->setText(QStringLiteral("lib/"));
  ASSERT_TRUE(h9test::AnswerModal(
      [&](QWidget* w) {
        auto* od = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(od, nullptr);
        startedIn = od->directory().absolutePath().toStdString();
        EXPECT_EQ(od->fileMode(), QFileDialog::Directory);
        // Accepted where it stands: the folder shown is the one chosen.
        static_cast<QDialog*>(od)->accept();
      },
      [&] { fini_->dirZIP->actions().first()->trigger(); }));
  EXPECT_EQ(startedIn, lib);
  EXPECT_EQ(fini_->dirZIP->text().toStdString(), lib + "/");

  // Cancelled: the edit keeps its text.
  h9test::AnswerModal([](QWidget* w) { static_cast<QDialog*>(w)->reject(); },
                      [&] { fini_->fb2lrf->actions().first()->trigger(); });
  EXPECT_EQ(fini_->fb2lrf->text(), "");
}

TEST_F(SettingsDialogTest, TheToolBarOpensTheDialogAndClosingTheWindowSaves) {
  UseReference("small");
  Start();
  EXPECT_TRUE(h9test::AnswerModal(
      [&](QWidget* w) {
        ASSERT_EQ(w, fini_);
        // FormActivate: the font label shows the lists' font.
        EXPECT_EQ(fini_->LFNT->font().family(), f_->LB->font().family());
        fini_->fb2lrf->setText(QStringLiteral("/opt/fb2lrf"));
        fini_->OKBtn->click();
      },
      [&] { f_->TB_OPT->click(); }));
  EXPECT_EQ(AppState().converterProgram, "/opt/fb2lrf");

  f_->SelectAuthor(7);
  f_->show();
  EXPECT_TRUE(f_->close());
  const platform::TIniFile ini(Ini());
  EXPECT_EQ(ini.ReadInteger("XXX", "AUNO", -1), 7);
  EXPECT_EQ(ini.ReadString("PathFile", "FB2LRF", ""), "/opt/fb2lrf");
}

}  // namespace

namespace {

TEST_F(SettingsDialogTest, WidthsFromTheFileAreClampedAndTheLastColumnFillsTheRest) {
  platform::WriteFileBytes(Ini(), "[WI]\nC0=-500\nC1=-7\nC2=999999\nC6=75\n");
  UseReference("small");
  Start();
  f_->resize(1200, 700);
  f_->show();
  QCoreApplication::processEvents();
  EXPECT_EQ(f_->LV->columnWidth(0), kMinTitleColumnWidth);
  EXPECT_EQ(f_->LV->columnWidth(1), std::max(kMinColumnWidth, f_->LV->header()->minimumSectionSize()));
  EXPECT_EQ(f_->LV->columnWidth(2), kMaxWidth);

  // With sane widths the last column takes what the others leave, and its
  // own width is still the one saved.
  f_->SetColumnWidths({100, 80, 50, 50, 50, 40, 75});
  QCoreApplication::processEvents();
  const QHeaderView* header = f_->LV->header();
  EXPECT_EQ(header->sectionViewportPosition(6) + header->sectionSize(6),
            f_->LV->viewport()->width());
  EXPECT_GT(header->sectionSize(6), 75);
  EXPECT_EQ(f_->ColumnWidths()[6], 75);
  fini_->OKBtn->click();
  EXPECT_EQ(platform::TIniFile(Ini()).ReadInteger("WI", "C6", 0), 75);
  EXPECT_EQ(platform::TIniFile(Ini()).ReadInteger("WI", "C0", 0), 100);
}

}  // namespace
