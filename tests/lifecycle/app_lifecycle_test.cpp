#include "lifecycle/app_lifecycle.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "lifecycle/options.h"
#include "lifecycle/work_folder.h"
#include "log/report_upload.h"
#include "log/session_log.h"
#include "services/language.h"
#include "support/fakes.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

namespace fs = std::filesystem;

TEST(Options, DefaultsAndOutOfRangeValues) {
  test::MemoryOptionStore options;
  Language language;
  language.Set(Lang::English);
  LoadLanguageOption(options, language);
  EXPECT_EQ(language.Current(), Lang::Russian);
  EXPECT_EQ(LoadPageOption(options), 0);

  const std::pair<int64_t, int> pages[] = {{7, 4}, {5, 4}, {4, 4}, {2, 2}, {-3, 0}};
  for (auto [stored, page] : pages) {
    options.ints["PAGENUM"] = stored;
    EXPECT_EQ(LoadPageOption(options), page) << stored;
  }
  for (int64_t value : {0, 1, 3}) {
    options.ints["LANGUAGE"] = value;
    LoadLanguageOption(options, language);
    EXPECT_EQ(language.Current(), Lang::Russian) << value;
  }
  options.ints["LANGUAGE"] = 2;
  LoadLanguageOption(options, language);
  EXPECT_EQ(language.Current(), Lang::English);
  SaveLanguageOption(options, language);
  SavePageOption(options, 3);
  EXPECT_EQ(options.ints["LANGUAGE"], 2);
  EXPECT_EQ(options.ints["PAGENUM"], 3);
}

struct RecordingWindow : LifecycleWindow {
  void ApplyLanguage() override { steps.push_back("language"); }
  void SetActivePage(int page) override { steps.push_back("page " + std::to_string(page)); }
  int ActivePage() override { return activePage; }
  void HideLogPage() override { steps.push_back("hide log"); }
  std::vector<std::string> steps;
  int activePage = 0;
};

class Lifecycle : public ::testing::Test {
 protected:
  Lifecycle() {
    settings.tempFolder = temp.string();
    settings.instanceName = "dravion_lifecycle_test_" + std::to_string(getpid());
  }

  AppLifecycle Make(LifecycleWindow* window = nullptr) {
    return AppLifecycle(options, language, dialogs, log, clock, window, settings);
  }

  test::ScratchFolder scratch{"dravion-lifecycle"};
  const fs::path temp = scratch.path();
  LifecycleSettings settings;
  test::MemoryOptionStore options;
  Language language;
  test::ScriptedDialogs dialogs;
  SessionLog log;
  test::FakeClock clock;
  test::FakePump pump{clock};
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::string kBanner(42, '#');

TEST_F(Lifecycle, StartEmptiesTheWorkFolderAndWritesTheHeaderExitWritesFooterAndFile) {
  const fs::path work = temp / "tqv8_dravion_explorer";
  fs::create_directories(work / "kept");
  std::ofstream(work / "old.txt") << "left by an earlier run";
  std::ofstream(work / "log.txt") << "old log";
  options.ints["PAGENUM"] = 2;
  RecordingWindow window;
  AppLifecycle app = Make(&window);

  ASSERT_TRUE(app.StartUp());
  EXPECT_EQ(app.WorkFolder(), work.string());
  EXPECT_EQ(window.steps, (std::vector<std::string>{"language", "page 2", "hide log"}));
  EXPECT_FALSE(fs::exists(work / "old.txt"));
  EXPECT_FALSE(fs::exists(work / "log.txt"));
  EXPECT_TRUE(fs::is_directory(work / "kept"));
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{kBanner, "# START: 07.12.2026 10:30:15",
                                                   "# APP VERSION = 1.9", kBanner}));
  EXPECT_TRUE(dialogs.boxes.empty());

  log.LogLine("# work");
  window.activePage = 3;
  clock.now.minute = 45;
  ReportUploader uploader(log, pump, clock, nullptr);
  app.ShutDown(uploader, ReportIdentity{});
  EXPECT_EQ(options.ints["PAGENUM"], 3);
  EXPECT_EQ(ReadFile(work / "log.txt"),
            kBanner + "\n# START: 07.12.2026 10:30:15\n" + "# APP VERSION = 1.9\n" + kBanner +
                "\n# work\n" + kBanner + "\n# END: 07.12.2026 10:45:15\n" + kBanner + "\n");
  // Shut-down runs once.
  const int writes = options.writes;
  app.ShutDown(uploader, ReportIdentity{});
  EXPECT_EQ(options.writes, writes);

  // The instance was released: the next run starts.
  AppLifecycle next = Make();
  EXPECT_TRUE(next.StartUp());
}

TEST_F(Lifecycle, ASavedLogPageStartsOnTheLastVisiblePage) {
  for (int64_t stored : {4, 7}) {
    options.ints["PAGENUM"] = stored;
    RecordingWindow window;
    AppLifecycle app = Make(&window);
    ASSERT_TRUE(app.StartUp());
    EXPECT_EQ(window.steps, (std::vector<std::string>{"language", "page 3", "hide log"}));
    EXPECT_EQ(app.StartPage(), 3);
    ReportUploader uploader(log, pump, clock, nullptr);
    app.ShutDown(uploader, ReportIdentity{});
  }
}

TEST_F(Lifecycle, ASecondCopyIsRefusedInTheSavedLanguageAndTheFirstGoesOn) {
  AppLifecycle first = Make();
  ASSERT_TRUE(first.StartUp());
  fs::remove(fs::path(first.WorkFolder()) / "log.txt");

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The second copy: its own options say English.
    test::MemoryOptionStore childOptions;
    childOptions.ints["LANGUAGE"] = 2;
    Language childLanguage;
    test::ScriptedDialogs childDialogs;
    SessionLog childLog;
    AppLifecycle second(childOptions, childLanguage, childDialogs, childLog, clock, nullptr,
                        settings);
    int result = 0;
    if (second.StartUp()) result |= 1;
    if (second.GetState() != AppLifecycle::State::AlreadyRunning) result |= 2;
    if (childDialogs.boxes.size() != 1 || childDialogs.boxes[0].kind != BoxKind::Warning ||
        childDialogs.boxes[0].text != "Application alredy running!")
      result |= 4;
    ReportUploader uploader(childLog, pump, clock, nullptr);
    second.ShutDown(uploader, ReportIdentity{});
    if (childOptions.writes != 0 || !childLog.Lines().empty()) result |= 8;
    _exit(result);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  // The first copy is undisturbed: it still holds the instance and its folder.
  EXPECT_EQ(first.GetState(), AppLifecycle::State::Running);
  EXPECT_FALSE(fs::exists(fs::path(first.WorkFolder()) / "log.txt"));
  SingleInstance probe;
  EXPECT_FALSE(probe.Acquire(settings.instanceName));
}

TEST_F(Lifecycle, ACrashedCopyLeavesNoLockBehind) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SingleInstance instance;
    _exit(instance.Acquire(settings.instanceName) ? 0 : 1);  // no release: the process just ends
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  SingleInstance instance;
  EXPECT_TRUE(instance.Acquire(settings.instanceName));
}

TEST_F(Lifecycle, AFolderThatCannotBeMadeRefusesTheStartAndSkipsTheExitSteps) {
  settings.tempFolder = (temp / "missing" / "deeper").string();  // one level only is made
  AppLifecycle app = Make();
  EXPECT_FALSE(app.StartUp());
  EXPECT_EQ(app.GetState(), AppLifecycle::State::FolderFailed);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].kind, BoxKind::Error);
  EXPECT_EQ(dialogs.boxes[0].text, "Ошибка создания временного каталога");
  ReportUploader uploader(log, pump, clock, nullptr);
  app.ShutDown(uploader, ReportIdentity{});
  EXPECT_EQ(options.writes, 0);
  EXPECT_TRUE(log.Lines().empty());

  // A link in the folder's place (another user's trap in a shared /tmp) is refused as well.
  settings.tempFolder = temp.string();
  fs::create_directories(temp / "elsewhere");
  fs::create_directory_symlink(temp / "elsewhere", temp / "tqv8_dravion_explorer");
  language.Set(Lang::English);
  options.ints["LANGUAGE"] = 2;
  AppLifecycle linked = Make();
  EXPECT_FALSE(linked.StartUp());
  EXPECT_EQ(dialogs.boxes.back().text, "Error of creation temporary folder");
}

TEST(WorkFolder, PathOfTheTemporaryFolder) {
  EXPECT_EQ(WorkFolderPath("/var/tmp"), "/var/tmp/tqv8_dravion_explorer");
  EXPECT_EQ(WorkFolderPath(""), "/tqv8_dravion_explorer");
  EXPECT_FALSE(SystemTempFolder().empty());
}

}  // namespace
}  // namespace dravion
