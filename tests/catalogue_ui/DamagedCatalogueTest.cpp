// What the user is told when the catalogue or the program's folders are not
// as they should be: a damaged catalogue archive, none at all, a data folder
// the program may not write in, a missing archive folder. The catalogue
// archives are files under tests/data/catalogue/ (see its README).
#include <sys/stat.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTreeView>

#include "catalogue/BookList.h"
#include "catalogue/Browse.h"
#include "catalogue/Export.h"
#include "catalogue/MemberReader.h"
#include "catalogue/ui/AuthorListModel.h"
#include "catalogue/ui/BookListModel.h"
#include "platform/Dialogs.h"
#include "tests/catalogue_ui/SearchWindowFixture.h"

using namespace catalogue;
namespace fs = std::filesystem;

namespace {

// What the first OK adds when the settings cannot be saved.
const std::string kSessionNote = "\nИзменения настроек действуют до закрытия программы.";

class DamagedCatalogueTest : public h9test::TWindowTest {
 protected:
  // Puts tests/data/catalogue/`name` in place of the catalogue archive,
  // read through the archiver.
  void UseDamaged(const char* name) {
    fs::copy_file(fs::path(TOMESHELF_SOURCE_DIR) / "tests/data/catalogue" / name,
                  AppState().dbzPath, fs::copy_options::overwrite_existing);
    reader_.SetPassThrough(true);
  }
  std::string Note() const { return f_->SB->currentMessage().toStdString(); }

  platform::TScriptedDialogs dialogs_;
  platform::TDialogProviderScope dialogScope_{&dialogs_};
};

TEST_F(DamagedCatalogueTest, EachDamagedCatalogueIsReportedOnceNamingTheFile) {
  struct TCase {
    const char* file;
    bool authorsShown;  // a.txt could be read
  };
  for (const TCase c : {TCase{"cut-half.dbz", true}, TCase{"flipped-block.dbz", true},
                        TCase{"text-file.dbz", false}, TCase{"more-authors.dbz", true},
                        TCase{"blocks-first-cut-half.dbz", false}}) {
    SCOPED_TRACE(c.file);
    dialogs_.asked.clear();
    UseDamaged(c.file);
    Start();  // the window, the search dialog, the settings (which restore an author)

    ASSERT_EQ(dialogs_.asked.size(), 1u);
    const std::string& text = dialogs_.asked[0].text;
    EXPECT_NE(text.find(AppState().dbzPath), std::string::npos) << text;
    EXPECT_NE(text.find("повреждён"), std::string::npos) << text;
    EXPECT_NE(text.find("«Создать список книг»"), std::string::npos) << text;
    EXPECT_EQ(dialogs_.asked[0].type, platform::TMsgDlgType::mtError);

    const int authors = f_->LBModel->rowCount();
    EXPECT_EQ(authors > 0, c.authorsShown);
    if (c.authorsShown) {
      // Clicks on authors whose books cannot be read: empty lists, the
      // status bar says why, no more boxes.
      for (int a : {authors - 1, authors / 2, authors - 1}) {
        f_->SelectAuthor(a);
        if (f_->LVModel->rowCount() == 0) {
          EXPECT_EQ(Note(), kMsgAuthorBooksUnreadable);
        }
      }
      f_->SelectAuthor(authors - 1);  // one of the names the blocks lack
      EXPECT_EQ(f_->LVModel->rowCount(), 0);
      EXPECT_EQ(Note(), kMsgAuthorBooksUnreadable);
    } else {
      EXPECT_EQ(Note(), kMsgCatalogueDamagedNote);
    }
    EXPECT_EQ(dialogs_.asked.size(), 1u);

    // A search over it tells nothing new either.
    findBook(*f_, "*");
    EXPECT_EQ(dialogs_.asked.size(), 1u);
    Restart();  // a new load reports again
    EXPECT_EQ(dialogs_.asked.size(), 2u);
    f_.reset();
  }
}

TEST_F(DamagedCatalogueTest, OneUnreadableBlockLeavesTheOthersReadable) {
  // 1,500 authors with one book each; block 1 cannot be read.
  platform::WriteFileBytes(AppState().dbzPath, "");
  TCatalogueWriter w([&](const std::string& name, const AnsiString& bytes) {
    reader_.members()[name] = bytes;
  });
  for (int a = 0; a < 1500; ++a) {
    const std::string n = std::to_string(10000 + a);
    w.AddAuthor("A" + n);
    w.AddBook({"Title" + n, "", n, "1", "FS", "", "ru", "N"});
  }
  w.Finish({});
  catalogue::TZipMemberReaderScope failing(
      [&](const std::string& zip, const std::string& member, int64_t n) {
        if (member == "1.txt") {
          reader_(zip, member, n);  // counted
          throw std::runtime_error("CRC error");
        }
        return reader_(zip, member, n);
      });
  Start();
  EXPECT_TRUE(dialogs_.asked.empty());
  EXPECT_EQ(f_->LVModel->rowCount(), 1);

  f_->SelectAuthor(1200);
  ASSERT_EQ(dialogs_.asked.size(), 1u);
  EXPECT_NE(dialogs_.asked[0].text.find("1.txt"), std::string::npos);
  EXPECT_NE(dialogs_.asked[0].text.find("CRC error"), std::string::npos);
  EXPECT_EQ(f_->LVModel->rowCount(), 0);
  EXPECT_EQ(Note(), kMsgAuthorBooksUnreadable);

  f_->SelectAuthor(5);
  EXPECT_EQ(f_->LVModel->rowCount(), 1);
  EXPECT_EQ(Note(), kMsgCatalogueDamagedNote);
  f_->SelectAuthor(1300);
  EXPECT_EQ(dialogs_.asked.size(), 1u);

  // The search finds what blocks 0 and 2 hold and tries block 1 once.
  const int readsBefore = reader_.Reads("1.txt");
  findBook(*f_, "TITLE1*");
  EXPECT_EQ(fs_->HitCount(), 1000);
  EXPECT_NE(fs_->LHITS->text().toStdString().find(PartNotSearchedText("блок 1.txt")),
            std::string::npos);
  EXPECT_EQ(reader_.Reads("1.txt"), readsBefore + 1);
  EXPECT_EQ(dialogs_.asked.size(), 1u);
}

TEST_F(DamagedCatalogueTest, WithoutACatalogueTheStatusBarSaysHowToMakeOne) {
  Start();
  EXPECT_TRUE(dialogs_.asked.empty());
  EXPECT_EQ(Note(), kMsgNoCatalogue);
  EXPECT_EQ(f_->LBModel->rowCount(), 0);

  // A job takes the status bar and gives the note back when it ends.
  {
    TJobScope job(*f_);
    f_->showSB(QStringLiteral("Поиск ..."), QString(), QString());
    EXPECT_EQ(Note(), "");
    EXPECT_EQ(f_->PanelText(0), "Поиск ...");
  }
  EXPECT_EQ(Note(), kMsgNoCatalogue);
  // An empty status tip (a menu item hovered) does not wipe it either.
  QStatusTipEvent tip{QString()};
  QApplication::sendEvent(f_.get(), &tip);
  EXPECT_EQ(Note(), kMsgNoCatalogue);
}

TEST_F(DamagedCatalogueTest, AMissingArchiveFolderIsReportedAsAFolder) {
  UseReference("small");
  Start();
  const std::string missing = (root_ / "no-such-lib").string() + "/";
  AppState().libDir = missing;
  AppState().readerProgram = "/bin/true";
  f_->SelectAuthor(1);
  f_->LV->setCurrentIndex(f_->LVModel->index(0, 0));

  f_->LVDblClick();
  f_->expFiles(ekFB2);
  ASSERT_EQ(dialogs_.asked.size(), 2u);
  for (const auto& asked : dialogs_.asked) EXPECT_EQ(asked.text, kMsgNoArchiveDir + missing);
}

class DataFolderTest : public uitest::TStateTest {
 protected:
  void SetUp() override {
    // Neither the program folder nor the user's data folder may be written
    // in (as with a read-only home): the check is injected, since tests run
    // as root.
    std::string tmpl = (fs::temp_directory_path() / "dataroXXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    TStartupEnvironment env;
    env.programPath = (root_ / "bin/tomeshelf").string();
    env.userDataDir = (root_ / "home/.local/share/tomeshelf").string();
    env.isWritable = [](const std::string&) { return false; };
    InitAppState(env);
  }

  platform::TScriptedDialogs dialogs_;
  platform::TDialogProviderScope dialogScope_{&dialogs_};
  sample::TMemoryReader reader_;
  sample::TReaderScope readerScope_{reader_};
};

TEST_F(DataFolderTest, ItIsToldOnceAtStartAndAgainOnlyWhenSettingsAreSaved) {
  EXPECT_FALSE(AppState().dataDirWritable);
  f_ = std::make_unique<TF>();
  new TFS(f_.get());
  TFINI* fini = new TFINI(f_.get());
  ASSERT_EQ(dialogs_.asked.size(), 1u);
  const std::string message = dialogs_.asked[0].text;
  EXPECT_EQ(message, DataDirNotWritableMessage());
  EXPECT_NE(message.find(AppState().dataDir), std::string::npos);

  // The first OK says so with the session's note, and applies what was
  // chosen all the same (the real write fails: the folder is a file's
  // place); the next says nothing.
  fs::remove_all(AppState().dataDir);
  platform::WriteFileBytes(platform::ExcludeTrailingPathDelimiter(AppState().dataDir), "");
  for (const char* reader : {"/opt/reader", "/opt/other"}) {
    fini->fb2reader->setText(QString::fromUtf8(reader));
    fini->OKBtn->click();
    EXPECT_EQ(AppState().readerProgram, reader);
  }
  ASSERT_EQ(dialogs_.asked.size(), 2u);
  EXPECT_EQ(dialogs_.asked[1].text, message + kSessionNote);

  f_->show();
  EXPECT_TRUE(f_->close());
  EXPECT_EQ(dialogs_.asked.size(), 2u);
}

// A settings file the user made read-only keeps its bytes: told once at
// start, the first OK says so again and applies what was chosen for the
// session, Cancel keeps that, and neither a build's session nor the close
// writes the file or says more.
class ReadOnlySettingsTest : public uitest::TStateTest {
 protected:
  platform::TScriptedDialogs dialogs_;
  platform::TDialogProviderScope dialogScope_{&dialogs_};
  sample::TMemoryReader reader_;
  sample::TReaderScope readerScope_{reader_};
};

TEST_F(ReadOnlySettingsTest, ItKeepsItsBytesAndIsToldOnce) {
  ASSERT_NO_FATAL_FAILURE(InitState("rosettings"));
  const std::string bytes = "; kept as it is\n[XXX]\nSORT=D3\n";
  platform::WriteFileBytes(AppState().iniPath, bytes);
  ASSERT_EQ(::chmod(AppState().iniPath.c_str(), 0444), 0);

  f_ = std::make_unique<TF>();
  new TFS(f_.get());
  TFINI* fini = new TFINI(f_.get());
  const std::string message = SettingsReadOnlyMessage(AppState().iniPath);
  ASSERT_EQ(dialogs_.asked.size(), 1u);
  EXPECT_EQ(dialogs_.asked[0].text, message);
  EXPECT_EQ(f_->getSort(), "D3");

  fini->fb2lrf->setText(QStringLiteral("/opt/fb2lrf"));
  fini->OKBtn->click();
  EXPECT_EQ(fini->result(), QDialog::Accepted);
  EXPECT_EQ(AppState().converterProgram, "/opt/fb2lrf");
  fini->cbDUP->setChecked(false);
  fini->OKBtn->click();
  EXPECT_FALSE(AppState().hideDuplicates);
  fini->fb2lrf->setText(QStringLiteral("/typed/then/cancelled"));
  fini->CancelBtn->click();
  EXPECT_EQ(fini->fb2lrf->text(), "/opt/fb2lrf");
  ASSERT_EQ(dialogs_.asked.size(), 2u);
  EXPECT_EQ(dialogs_.asked[1].text, message + kSessionNote);
  EXPECT_TRUE(NewBuildSession(AppState(), fini->CurrentSettings()).iniPath.empty());

  f_->show();
  EXPECT_TRUE(f_->close());
  EXPECT_EQ(dialogs_.asked.size(), 2u);
  EXPECT_EQ(platform::ReadFileBytes(AppState().iniPath), bytes);
}

}  // namespace
