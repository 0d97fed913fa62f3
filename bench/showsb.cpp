// BENCH_LIBS: catalogue_ui
//
// The price of progress reporting in the main window: the time of 100,000
// showSB calls, and how late a Stop click is seen while a job reports
// progress (the click is posted from another thread, as the window system
// would deliver it, and timed until TB_STOPClick asks its question).
#include <stdlib.h>

#include <QApplication>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "catalogue/AppState.h"
#include "catalogue/ui/MainWindow.h"
#include "platform/Dialogs.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Answers every question with Yes at once and notes when it was asked.
class TRecordingDialogs : public platform::TDialogProvider {
 public:
  platform::TModalResult MessageBox(const std::string&, const std::string&, platform::TMsgDlgType,
                                    const platform::TMsgDlgButtons&) override {
    std::lock_guard<std::mutex> lock(mutex);
    asked.push_back(Clock::now());
    return platform::mrYes;
  }
  bool InputText(const std::string&, const std::string&, std::string&, bool) override {
    return false;
  }
  std::mutex mutex;
  std::vector<Clock::time_point> asked;
};

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

  namespace fs = std::filesystem;
  std::string root = (fs::temp_directory_path() / "tomeshelf-benchXXXXXX").string();
  if (!mkdtemp(root.data())) return 1;
  catalogue::TStartupEnvironment env;
  env.programPath = root + "/tomeshelf";
  catalogue::InitAppState(env);

  QApplication app(argc, argv);
  TRecordingDialogs dialogs;
  platform::TDialogProviderScope scope(&dialogs);
  catalogue::TF f;
  f.show();
  QCoreApplication::processEvents();

  // 1. The cost of the calls themselves, every call changing a panel.
  constexpr int kCalls = 100000;
  const auto t0 = Clock::now();
  for (int i = 0; i < kCalls; ++i) {
    f.showSB(QString(), QString::number(i), QString());
  }
  const double total = Ms(Clock::now() - t0);
  std::printf("showSB: %d calls in %.1f ms (%.2f us per call), events pumped every %lld ms\n",
              kCalls, total, total * 1000.0 / kCalls,
              static_cast<long long>(catalogue::TF::kPumpInterval.count()));

  // 2. Stop clicks during a job that reports progress after every record of
  // about 20 us of work.
  constexpr int kClicks = 30;
  std::vector<Clock::time_point> posted;
  std::atomic<bool> done{false};
  std::thread clicker([&] {
    for (int k = 0; k < kClicks; ++k) {
      std::this_thread::sleep_for(std::chrono::milliseconds(40 + (k * 37) % 70));
      posted.push_back(Clock::now());
      QMetaObject::invokeMethod(f.TB_STOP, "click", Qt::QueuedConnection);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    done = true;
  });
  long long records = 0;
  while (!done) {
    const auto until = Clock::now() + std::chrono::microseconds(20);
    while (Clock::now() < until) {
    }
    ++records;
    f.showSB(QString(), QString::number(records), QString());
  }
  clicker.join();
  QCoreApplication::processEvents();

  double worst = 0, sum = 0;
  const size_t seen = std::min(posted.size(), dialogs.asked.size());
  for (size_t k = 0; k < seen; ++k) {
    const double late = Ms(dialogs.asked[k] - posted[k]);
    worst = std::max(worst, late);
    sum += late;
  }
  std::printf(
      "Stop click during a job: %zu of %d seen, worst %.1f ms, mean %.1f ms "
      "(%lld records reported)\n",
      seen, kClicks, worst, seen ? sum / seen : 0.0, records);

  f.hide();
  catalogue::AppState() = {};
  fs::remove_all(root);
  return seen == static_cast<size_t>(kClicks) ? 0 : 1;
}
