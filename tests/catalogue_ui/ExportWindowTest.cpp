// Reading and exporting from the main window: TB_READ and a double click on
// LV, the items of PM, over the small sample collection's archives. The
// QApplication comes from the suite's environment (MainWindowTest.cpp).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QAction>
#include <QItemSelectionModel>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <chrono>
#include <filesystem>
#include <thread>

#include "catalogue/AppState.h"
#include "catalogue/Export.h"
#include "catalogue/ReaderDevice.h"
#include "catalogue/ui/MainWindow.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "tests/catalogue/SampleCatalogue.h"
#include "tests/catalogue_ui/StateFixture.h"

namespace fs = std::filesystem;
using namespace catalogue;

namespace {

void WriteScript(const std::string& path, const std::string& body) {
  platform::WriteFileBytes(path, "#!/bin/sh\n" + body);
  ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

class ExportWindowTest : public uitest::TStateTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(InitState("h14export", "my program/"));
    dir_ = root_.string() + "/";

    // One author whose books, sorted by title, are 100, 800 (in no
    // archive), 625130 (in the overlapping archive) and 700 (in a
    // sub-folder of its archive).
    platform::WriteFileBytes(AppState().dbzPath, "");
    TCatalogueWriter w([&](const std::string& name, const AnsiString& bytes) { reader_.members()[name] = bytes; });
    w.AddAuthor(platform::Utf8ToAnsi("Автор"));
    for (const auto& [title, file] : std::vector<std::pair<const char*, const char*>>{
             {"A", "100"}, {"B", "800"}, {"C", "625130"}, {"D", "700"}}) {
      std::array<AnsiString, kBookFieldCount> keep = {title, "", file, "1000", "FS", "", "ru", "N"};
      TBookFields fields;
      for (int i = 0; i < kBookFieldCount; ++i) fields[i] = keep[i];
      w.AddBook(fields);
    }
    w.Finish({});
    f_ = std::make_unique<TF>();
    ASSERT_EQ(f_->LV->model()->rowCount(), 4);

    lib_ = sample::Collection("small") + "lib/";
    exportDir_ = dir_ + "export here/";
    fs::create_directories(exportDir_);
    AppState().libDir = lib_;
    AppState().expDir = exportDir_;
  }
  void Select(std::initializer_list<int> rows) {
    f_->LV->clearSelection();
    for (int r : rows)
      f_->LV->selectionModel()->select(f_->LV->model()->index(r, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& a : dialogs_.asked) texts.push_back(a.text);
    return texts;
  }

  std::string Book(const std::string& archive, const std::string& member) {
    return sample::ZipMembers(lib_ + archive).at(member);
  }

  std::string dir_, lib_, exportDir_;  // dir_: root_ with a trailing "/"
  sample::TMemoryReader reader_;
  sample::TReaderScope scope_{reader_};
  platform::TScriptedDialogs dialogs_;
  platform::TDialogProviderScope dialogScope_{&dialogs_};
};

TEST_F(ExportWindowTest, TheFb2ItemExportsTheSelectedBooks) {
  Select({2, 0, 1});
  EXPECT_EQ(f_->SelectedBookFiles(), (std::vector<std::string>{"100", "800", "625130"}));
  f_->MI_FB2->trigger();
  EXPECT_EQ(Messages(), std::vector<std::string>{"Успешно экспортировано файлов 2\nНе экспортировано файлов 1\n"
                                                 "Не найдены в архивах книг: 800.fb2"});
  EXPECT_TRUE(platform::ReadFileBytes(exportDir_ + "100.fb2") == Book("fb2-000100-000139.zip", "100.fb2"));
  EXPECT_TRUE(platform::ReadFileBytes(exportDir_ + "625130.fb2") ==
              Book("fb2-625127-625160_lost.zip", "625130.fb2"));
  EXPECT_TRUE(f_->TB_SAVE->isEnabled());

  dialogs_.asked.clear();
  f_->LV->clearSelection();
  f_->MI_LRF->trigger();
  EXPECT_EQ(Messages(), std::vector<std::string>{kMsgNothingSelected});
}

TEST_F(ExportWindowTest, TheLrfItemsWaitForTheConverterWithTheControlsDisabled) {
  const std::string conv = dir_ + "conv dir/";
  fs::create_directories(conv);
  WriteScript(conv + "fb2lrf", "sleep 0.4\n{ printf 'LRF:'; cat \"$4\"; } > \"$6\"\n");
  AppState().converterProgram = conv + "fb2lrf";

  // Looked at while the converter runs: the window keeps handling events.
  bool sawDisabled = false;
  QTimer::singleShot(150, f_.get(), [&] {
    sawDisabled = !f_->TB_SAVE->isEnabled() && !f_->TB_READ->isEnabled() && !f_->LV->isEnabled();
  });
  Select({0});
  f_->MI_LRF->trigger();
  EXPECT_TRUE(sawDisabled);
  EXPECT_TRUE(f_->TB_SAVE->isEnabled());
  EXPECT_TRUE(f_->LV->isEnabled());
  EXPECT_TRUE(platform::ReadFileBytes(exportDir_ + "100.lrf") ==
              "LRF:" + Book("fb2-000100-000139.zip", "100.fb2"));

  // To the reader device.
  const std::string device = dir_ + "reader device/";
  fs::create_directories(device + "database/media/books");
  TReaderDeviceRootsScope roots({device});
  dialogs_.asked.clear();
  Select({3});
  f_->SONYReader1->trigger();
  EXPECT_EQ(Messages(), std::vector<std::string>{"Успешно экспортировано файлов 1\n"});
  EXPECT_TRUE(platform::ReadFileBytes(device + "database/media/books/700.lrf") ==
              "LRF:" + Book("fb2-000700-000709.zip", "sub/700.fb2"));
}

TEST_F(ExportWindowTest, ADoubleClickAndTheReadButtonOpenTheBookInTheReader) {
  const std::string reader = dir_ + "my reader";
  WriteScript(reader, "printf '%s\\n' \"$@\" >> \"$(dirname \"$0\")/reader args.txt\"\n");
  AppState().readerProgram = "../my reader";  // relative to the program folder
  const std::string args = dir_ + "reader args.txt";
  const auto awaitLines = [&](size_t n) {
    for (int i = 0; i < 1000; ++i) {
      if (platform::FileExists(args)) {
        const std::string text = platform::ReadFileBytes(args);
        if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= n) return text;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::string("<timed out>");
  };

  const QModelIndex row = f_->LV->model()->index(3, 0);
  Select({3});
  emit f_->LV->doubleClicked(row);
  const std::string copy = AppState().workDir + "700.fb2";
  EXPECT_EQ(awaitLines(1), copy + "\n");
  EXPECT_TRUE(platform::ReadFileBytes(copy) == Book("fb2-000700-000709.zip", "sub/700.fb2"));

  Select({0, 2});
  f_->TB_READ->click();
  EXPECT_EQ(awaitLines(2), copy + "\n" + AppState().workDir + "100.fb2\n");

  // No book selected: nothing; a book in no archive: told.
  f_->LV->clearSelection();
  f_->TB_READ->click();
  EXPECT_TRUE(dialogs_.asked.empty());
  Select({1});
  f_->TB_READ->click();
  EXPECT_EQ(Messages(), std::vector<std::string>{"Книга 800.fb2 не найдена в архивах книг."});
}

// A converter that hangs: Stop (confirmed), or the system ending the
// program, ends it at once; the export ends as a stopped one with nothing
// partial left, and only the ended session closes the window.
TEST_F(ExportWindowTest, StopOrAnEndedSessionEndsTheExportWhileTheConverterHangs) {
  const std::string conv = dir_ + "conv dir/";
  fs::create_directories(conv);
  WriteScript(conv + "fb2lrf", "printf partial > \"$6\"\nexec sleep 60\n");
  AppState().converterProgram = conv + "fb2lrf";
  const std::string stopped = "Экспорт прерван: обработано файлов 0 из 1\n";
  for (const bool session : {false, true}) {
    SCOPED_TRACE(session ? "ended session" : "Stop");
    dialogs_.asked.clear();
    dialogs_.answers = {platform::mrYes};
    f_->show();
    QTimer::singleShot(200, f_.get(), [this, session] {
      if (session)
        f_->EndSession();
      else
        f_->TB_STOP->click();
    });
    Select({0});
    const auto start = std::chrono::steady_clock::now();
    f_->MI_LRF->trigger();
    // The wait ends at once; the slack is for a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    const std::vector<std::string> told =
        session ? std::vector<std::string>{stopped}
                : std::vector<std::string>{"Прервать процесс ?", stopped};
    EXPECT_EQ(Messages(), told);
    EXPECT_TRUE(fs::is_empty(exportDir_));
    EXPECT_TRUE(fs::is_empty(AppState().workDir));
    if (session)
      EXPECT_TRUE(uitest::AwaitClosed(*f_));
    else
      EXPECT_TRUE(f_->isVisible());
  }
}

}  // namespace
