// The program as a process: a logout or a kill ends it as closing its
// window does, and a second program on the same work folder does not run.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "tests/platform/ChildProcess.h"
#include "tests/platform/TempDir.h"

namespace fs = std::filesystem;

namespace {

// Generous: a sanitized program starting on a busy machine.
constexpr auto kPatience = std::chrono::seconds(120);

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Await(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class ProgramProcessTest : public ::testing::Test {
 protected:
  // The program installed in the folder `dir` as `name`: it keeps its
  // files beside itself.
  static fs::path Install(const fs::path& dir, const std::string& name) {
    fs::create_directories(dir);
    const fs::path program = dir / name;
    std::error_code ec;
    fs::create_hard_link(TOMESHELF_PROGRAM, program, ec);
    if (ec) fs::copy_file(TOMESHELF_PROGRAM, program);
    return program;
  }

  // Starts `program` on the offscreen platform, its error output into
  // "<program>.err", its files not to grow past `fileSizeLimit` bytes.
  static pid_t Start(const fs::path& program, rlim_t fileSizeLimit = RLIM_INFINITY) {
    const std::string err = program.string() + ".err";
    const pid_t pid = ::fork();
    if (pid == 0) {
      // As a terminal starts it, whatever the test runner ignores.
      for (const int signo : {SIGTERM, SIGHUP, SIGINT, SIGXFSZ}) ::signal(signo, SIG_DFL);
      const rlimit limit{fileSizeLimit, fileSizeLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      if (!::freopen(err.c_str(), "w", stderr)) ::_exit(126);
      ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  }

  // Waits for `pid` to end; its exit code, or -1 when it does not end or
  // ends by a signal.
  static int AwaitExit(pid_t pid) {
    int status = -1;
    if (!Await([&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The program's window is up once its settings have been read: the
  // export folder they name has been made.
  static bool AwaitWindow(const fs::path& dir) {
    return Await([&] { return fs::is_directory(dir / "exp"); });
  }

  static std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> names;
    for (const platform::TFileInfo& e : platform::ListFolder(dir)) names.push_back(e.name);
    return names;
  }

  TempDir root_;
};

TEST_F(ProgramProcessTest,
       AnEndingSignalClosesLikeTheWindowSavingSettingsAndEmptyingTheWorkFolder) {
  for (const int signo : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(strsignal(signo));
    const fs::path dir = fs::path(root_.path()) / std::to_string(signo);
    const fs::path program = Install(dir, "tomeshelf");
    fs::create_directories(dir / "TMP");
    std::ofstream(dir / "TMP" / "0.fb2") << "a book being read";
    // The sort the user left last time; everything else is written anew.
    std::ofstream(dir / "tomeshelf.ini") << "[XXX]\nSORT=D3\n";

    const pid_t pid = Start(program);
    ASSERT_TRUE(AwaitWindow(dir));
    ASSERT_EQ(::kill(pid, signo), 0);
    ASSERT_EQ(AwaitExit(pid), 0) << Slurp(program.string() + ".err");

    const std::string ini = Slurp(dir / "tomeshelf.ini");
    EXPECT_NE(ini.find("SORT=D3"), std::string::npos) << ini;
    EXPECT_NE(ini.find("[WI]"), std::string::npos) << ini;
    EXPECT_FALSE(fs::exists(dir / "TMP" / "0.fb2"));
    EXPECT_TRUE(fs::is_directory(dir / "TMP"));
  }
}

TEST_F(ProgramProcessTest, AProgramOfAnotherNameOnTheSameWorkFolderDoesNotRun) {
  const fs::path dir = root_.path();
  const fs::path first = Install(dir, "tomeshelf");
  const fs::path second = Install(dir, "books");
  const pid_t running = Start(first);
  ASSERT_TRUE(AwaitWindow(dir));
  std::ofstream(dir / "TMP" / "0.fb2") << "the first one's open book";

  // The second says why on its error output and in a box; a signal
  // answers the box, and it ends without having touched anything.
  const pid_t refused = Start(second);
  const std::string err = second.string() + ".err";
  EXPECT_TRUE(Await([&] { return Slurp(err).find("рабочим каталогом") != std::string::npos; }));
  EXPECT_NE(Slurp(err).find("Tomeshelf уже запущен с этим рабочим каталогом (" +
                            (dir / "TMP/").string() + ")"),
            std::string::npos)
      << Slurp(err);
  ::kill(refused, SIGTERM);
  EXPECT_EQ(AwaitExit(refused), 1);
  EXPECT_TRUE(fs::exists(dir / "TMP" / "0.fb2"));
  EXPECT_FALSE(fs::exists(dir / "books.ini"));

  ::kill(running, SIGTERM);
  ASSERT_EQ(AwaitExit(running), 0);
  EXPECT_FALSE(fs::exists(dir / "TMP" / "0.fb2"));
}

// A start removes what a run killed while it packed the catalogue, wrote
// the settings, staged a build and converted a book left, and no file of
// the user's of a like name. At the end a settings write that fails (a
// file size limit, as on a full disk) is told, naming the settings file,
// not its temporary; the program ends normally and the file stays as it was.
TEST_F(ProgramProcessTest, AStartRemovesWhatAKilledRunLeftAndAFailedSettingsWriteIsTold) {
  const fs::path dir = root_.path();
  const fs::path program = Install(dir, "tomeshelf");
  const fs::path ini = dir / "tomeshelf.ini";
  // Kept on a rewrite, so the new file outgrows the limit.
  const std::string settings = "; " + std::string(8000, 'x') + "\n[XXX]\nSORT=D3\n";
  std::ofstream(ini) << settings;
  fs::create_directories(dir / "TMP");
  for (const fs::path& target : {dir / "tomeshelf.dbz", ini, dir / "TMP" / "AU.ndx"})
    ASSERT_TRUE(KillWhileReplacing(target, "half"));
  std::ofstream(dir / "TMP" / "bo.dbf") << "staged";
  const fs::path converting = dir / "exp" / ".tomeshelf-Ab12Cd34";
  fs::create_directories(converting);
  std::ofstream(converting / ".lock");
  std::ofstream(converting / "5.lrf") << "half a book";
  const std::vector<std::string> users = {
      ".tomeshelf.dbz.old.tmp", ".tomeshelf.ini.12345678.tmp.bak", "tomeshelf.dbz.12345678.tmp"};
  for (const std::string& name : users) std::ofstream(dir / name) << "the user's";
  // Not one of ours as an export leaves it: no lock file in it.
  fs::create_directories(dir / "exp" / ".tomeshelf-Xy98Zw76");
  std::ofstream(dir / "exp" / "5.lrf") << "an exported book";

  // The export folder is there already: the program is at work once it
  // holds its locks, and a signal waits for its window.
  const pid_t pid = Start(program, 4096);
  ASSERT_TRUE(Await([&] { return fs::exists(dir / "TMP.lock"); }));
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  const std::string err = program.string() + ".err";
  EXPECT_EQ(AwaitExit(pid), 0) << Slurp(err);
  EXPECT_NE(Slurp(err).find("Не удалось сохранить настройки в файл " + ini.string() +
                            ":\nНедостаточно места на диске для записи: " + ini.string() + "\n"),
            std::string::npos)
      << Slurp(err);

  std::vector<std::string> expected = {
      "TMP", "TMP.lock", "exp", "tomeshelf", "tomeshelf.err", "tomeshelf.ini", "tomeshelf.lock"};
  expected.insert(expected.end(), users.begin(), users.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(dir), expected);
  EXPECT_TRUE(fs::is_empty(dir / "TMP"));
  EXPECT_EQ(Names(dir / "exp"), (std::vector<std::string>{".tomeshelf-Xy98Zw76", "5.lrf"}));
  EXPECT_EQ(Slurp(ini), settings);
}

}  // namespace
