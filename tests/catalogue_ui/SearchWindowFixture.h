// The main window with its two dialogs, as the program makes them, over a
// reference catalogue of the sample-collection generator served from memory.
// Shared by the title-search, settings and statistics suites; the
// QApplication comes from the suite's environment (MainWindowTest.cpp).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QDialog>
#include <QItemSelectionModel>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
#include <functional>
#include <memory>

#include "catalogue/AppState.h"
#include "catalogue/ui/MainWindow.h"
#include "catalogue/ui/SearchDialog.h"
#include "catalogue/ui/SettingsDialog.h"
#include "platform/Files.h"
#include "tests/catalogue/SampleCatalogue.h"
#include "tests/catalogue_ui/StateFixture.h"

namespace h9test {

namespace fs = std::filesystem;

class TWindowTest : public uitest::TStateTest {
 protected:
  void SetUp() override {
    ASSERT_NE(QApplication::instance(), nullptr);
    InitState("h9window");
  }

  // The reference catalogue of sample collection `variant`: the archive
  // exists, its members come from the reader.
  void UseReference(const std::string& variant) {
    collection_ = sample::Collection(variant);
    platform::WriteFileBytes(catalogue::AppState().dbzPath, "");
    reader_.members() = sample::ZipMembers(collection_ + "ref.dbz");
  }

  // Start-up: the main window, then the search dialog, then the settings
  // dialog (which reads the settings into the window).
  void Start() {
    f_ = std::make_unique<catalogue::TF>();
    fs_ = new catalogue::TFS(f_.get());
    fini_ = new catalogue::TFINI(f_.get());
  }
  // Closes the window (which saves the settings) and starts anew.
  void Restart() {
    f_.reset();
    catalogue::AppState().blockCache.Clear();
    Start();
  }

  // The file number of the first selected book of LV, or "" (UTF-8).
  std::string SelectedBook() const {
    const QModelIndexList rows = f_->LV->selectionModel()->selectedRows();
    if (rows.isEmpty()) return {};
    return f_->LV->model()->index(rows.first().row(), 6).data().toString().toStdString();
  }

  std::string collection_;
  sample::TMemoryReader reader_;
  sample::TReaderScope scope_{reader_};
  catalogue::TFS* fs_ = nullptr;
  catalogue::TFINI* fini_ = nullptr;
};

// Runs `ask`, which opens a modal dialog; `answer` gets that dialog once it
// is up (and closes it; it is rejected if still open). Any further modal
// dialog is a failure and is rejected, so a test never hangs on one.
// Returns whether a modal dialog came up while `ask` ran.
inline bool AnswerModal(const std::function<void(QWidget*)>& answer,
                        const std::function<void()>& ask) {
  QWidget* first = nullptr;
  QTimer timer, guard;  // a timer does not fire again while its slot runs
  timer.setInterval(5);
  guard.setInterval(5);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) return;
    timer.stop();
    first = w;
    guard.start();
    answer(w);
    auto* dialog = qobject_cast<QDialog*>(w);
    if (dialog && dialog->isVisible()) dialog->reject();
  });
  QObject::connect(&guard, &QTimer::timeout, [&] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || w == first) return;
    ADD_FAILURE() << "unexpected dialog: " << w->metaObject()->className() << " "
                  << w->windowTitle().toStdString();
    if (auto* dialog = qobject_cast<QDialog*>(w)) dialog->reject();
  });
  timer.start();
  ask();
  return first != nullptr;
}

}  // namespace h9test
