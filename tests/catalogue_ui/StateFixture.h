// A fresh application state over a temporary folder, and the main window's
// slot: the window goes first, then the state, then the folder. Shared by the
// window suites.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "catalogue/AppState.h"
#include "catalogue/ui/MainWindow.h"

namespace uitest {

// Lets events through until the window `f` has closed (an ended session
// closes it from the event loop); false when it does not within a minute.
inline bool AwaitClosed(const catalogue::TF& f) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (f.isVisible() && std::chrono::steady_clock::now() < deadline)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return !f.isVisible();
}

class TStateTest : public ::testing::Test {
 protected:
  // Makes the temporary folder root_ ("<prefix>XXXXXX") and sets up the
  // state of a program in its sub-folder `programDir` ("" for root_).
  void InitState(const char* prefix, const std::string& programDir = {}) {
    namespace fs = std::filesystem;
    std::string tmpl = (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    const fs::path program = root_ / programDir;
    fs::create_directories(program);
    catalogue::TStartupEnvironment env;
    env.programPath = (program / "tomeshelf").string();
    env.isWritable = [](const std::string&) { return true; };
    catalogue::InitAppState(env);
  }
  void TearDown() override {
    f_.reset();
    catalogue::AppState() = {};
    std::filesystem::remove_all(root_);
  }

  std::filesystem::path root_;
  std::unique_ptr<catalogue::TF> f_;
};

}  // namespace uitest
