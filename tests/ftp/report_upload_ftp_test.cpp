// The report upload against a real FTP server on loopback (pyftpdlib).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "ftp/curl_ftp_transfer.h"
#include "lifecycle/app_lifecycle.h"
#include "log/report_upload.h"
#include "log/run_log_file.h"
#include "log/session_log.h"
#include "services/clock.h"
#include "services/event_pump.h"
#include "services/language.h"
#include "support/fakes.h"
#include "support/scratch_folder.h"

extern char** environ;

namespace dravion {
namespace {

namespace fs = std::filesystem;

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool Listening(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// pyftpdlib on a free loopback port with a temporary home, for one test.
class FtpServer {
 public:
  FtpServer(const fs::path& home, bool writable) : home_(home), port_(FreePort()) {
    std::vector<std::string> args = {
        "/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(port_), "-d",
        home.string(),      "-u", "reporter",  "-P", "secret"};
    if (writable) args.push_back("-w");
    std::vector<char*> argv;
    for (auto& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 200 && pid_ > 0 && !Listening(port_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~FtpServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Up() const { return pid_ > 0 && Listening(port_); }
  int Port() const { return port_; }

 private:
  fs::path home_;
  int port_;
  pid_t pid_ = -1;
};

struct RecordingStatus : UploadStatusView {
  void ShowUploadText(const std::string& text) override { texts.push_back(text); }
  void ShowUploadProgress(int percent) override { progress.push_back(percent); }
  std::vector<std::string> texts;
  std::vector<int> progress;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

FtpAccount Account(int port, const std::string& password = "secret") {
  FtpAccount account;
  account.host = "127.0.0.1";
  account.port = port;
  account.user = "reporter";
  account.password = password;
  return account;
}

class ReportUploadFtp : public ::testing::Test {
 protected:
  // One exit: the log saved to the working folder and sent, with a fresh client as each run has.
  bool Exit(const FtpAccount& account, const ReportIdentity& identity) {
    CurlFtpTransfer transfer(account);
    ReportUploader uploader(log, pump, clock, &transfer, &status);
    uploader.SetWorkFolder(work.string());
    return uploader.SaveSessionLog("", "log5", "rep.txt", identity);
  }

  test::ScratchFolder homeFolder{"dravion-ftp-home"}, workFolder{"dravion-ftp-work"};
  const fs::path home = homeFolder.path(), work = workFolder.path();
  SystemClock clock;
  ThreadEventPump pump{clock};
  SessionLog log;
  RecordingStatus status;
  ReportIdentity device{true, {0x12, 0x34, 0x56, 0x78}};  // 2-14-36587
};

TEST_F(ReportUploadFtp, MakesTheFoldersAndAppendsEveryRunToTheSameReport) {
  FtpServer server(home, true);
  ASSERT_TRUE(server.Up());
  log.LogLine("# START: run one");
  log.LogLine("Ошибка связи");
  const std::string first = RunLogBytes(log.Lines());
  ASSERT_TRUE(Exit(Account(server.Port()), device));
  const fs::path report = home / "log5" / "2_14" / "36xxx" / "5xx" / "rep.txt";
  EXPECT_EQ(ReadFile(report), first);
  EXPECT_EQ(ReadFile(work / "log.txt"), first);
  EXPECT_EQ(status.texts, (std::vector<std::string>{"Добавление на сервер", ""}));
  ASSERT_FALSE(status.progress.empty());
  EXPECT_EQ(status.progress.back(), 100);
  EXPECT_EQ(log.LineCount(), 2u);  // nothing logged by a successful upload

  log.Clear();
  log.LogLine("# START: run two");
  const std::string second = RunLogBytes(log.Lines());
  ASSERT_TRUE(Exit(Account(server.Port()), device));
  EXPECT_EQ(ReadFile(report), first + second);

  // An unidentified device reports to its own folder.
  ASSERT_TRUE(Exit(Account(server.Port()), ReportIdentity{}));
  EXPECT_EQ(ReadFile(home / "log5" / "__no_number" / "rep.txt"), second);
}

TEST_F(ReportUploadFtp, ServerDownMeansNoAttemptAndNoPause) {
  const int port = FreePort();  // nothing listens there
  log.LogLine("line");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Exit(Account(port), device));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  std::printf("[ figure ] exit with the server down (connection refused): %lld ms\n",
              static_cast<long long>(ms));
  EXPECT_TRUE(status.texts.empty());  // no attempt, so none of the pauses between attempts
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"line"});  // silent
  EXPECT_TRUE(fs::exists(work / "log.txt"));
}

TEST_F(ReportUploadFtp, AServerThatNeverAnswersHoldsTheExitOnlyForTheConnectTimeOut) {
  // Accepts connections (the kernel does) but never greets.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);

  FtpAccount account = Account(ntohs(address.sin_port));
  ASSERT_EQ(account.connectTimeoutMs, 3000);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Exit(account, device));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  close(fd);
  std::printf("[ figure ] exit with a silent server: %lld ms (connect time-out %d ms)\n",
              static_cast<long long>(ms), account.connectTimeoutMs);
  EXPECT_GE(ms, 2500);
  // Not held for the server's or the system's own time-outs (minutes); a hang guard, not a figure.
  EXPECT_LT(ms, 10 * account.connectTimeoutMs);
  EXPECT_TRUE(status.texts.empty());
}

TEST_F(ReportUploadFtp, RefusedAppendIsTriedThreeTimesWithAnErrorLineEach) {
  fs::create_directories(home / "log5" / "2_14" / "36xxx" / "5xx");
  FtpServer server(home, false);  // read-only user
  ASSERT_TRUE(server.Up());
  log.LogLine("line");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Exit(Account(server.Port()), device));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  const std::string error =
      "ERROR=[-1]-\"Ошибка добавления файла на сервера обновлений "
      "[log5\\2_14\\36xxx\\5xx\\rep.txt]\"";
  // Three attempts, three error lines, of which the log keeps one: a line never repeats.
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"line", error}));
  EXPECT_EQ(status.texts,
            (std::vector<std::string>{"Добавление на сервер", "", "Добавление на сервер Попытка 2",
                                      "", "Добавление на сервер Попытка 3", ""}));
  EXPECT_GE(ms, 1500);  // a 500 ms pause after each failed attempt
  EXPECT_FALSE(fs::exists(home / "log5" / "2_14" / "36xxx" / "5xx" / "rep.txt"));
}

// Starts a second copy of the manager when the first one begins to send its report.
struct SecondCopyAtSending : UploadStatusView {
  void ShowUploadText(const std::string& text) override {
    if (!text.empty() && !copy) {
      copy = start();
      copy->StartUp();
    }
  }
  void ShowUploadProgress(int) override {}
  std::function<std::unique_ptr<AppLifecycle>()> start;
  std::unique_ptr<AppLifecycle> copy;
};

TEST_F(ReportUploadFtp, ASecondCopyStartedDuringTheExitLeavesTheReportWhole) {
  FtpServer server(home, true);
  ASSERT_TRUE(server.Up());
  LifecycleSettings settings;
  settings.tempFolder = work.string();
  settings.instanceName = "dravion_exit_" + std::to_string(getpid());
  test::MemoryOptionStore options;
  Language language;
  test::ScriptedDialogs dialogs;
  AppLifecycle first(options, language, dialogs, log, clock, nullptr, settings);
  ASSERT_TRUE(first.StartUp());
  log.LogLine("# the first copy's work");

  SessionLog secondLog;
  SecondCopyAtSending second;
  second.start = [&] {
    return std::make_unique<AppLifecycle>(options, language, dialogs, secondLog, clock, nullptr,
                                          settings);
  };
  CurlFtpTransfer transfer(Account(server.Port()));
  ReportUploader uploader(log, pump, clock, &transfer, &second);
  first.ShutDown(uploader, device);

  ASSERT_TRUE(second.copy);
  EXPECT_TRUE(second.copy->Refused());
  EXPECT_EQ(dialogs.boxes.size(), 1u);
  if (!dialogs.boxes.empty()) {
    EXPECT_EQ(dialogs.boxes[0].text, "Приложение уже запущено!");
  }
  const std::string saved = ReadFile(work / "tqv8_dravion_explorer" / "log.txt");
  EXPECT_NE(saved.find("# the first copy's work\n"), std::string::npos);
  EXPECT_NE(saved.find("# END: "), std::string::npos);
  EXPECT_EQ(ReadFile(home / "log5" / "2_14" / "36xxx" / "5xx" / "rep.txt"), saved);

  // Once the first copy has ended, a new one starts.
  AppLifecycle next(options, language, dialogs, secondLog, clock, nullptr, settings);
  EXPECT_TRUE(next.StartUp());
}

TEST_F(ReportUploadFtp, FoldersThatCannotBeMadeStopBeforeAnyAttempt) {
  FtpServer server(home, false);
  ASSERT_TRUE(server.Up());
  log.LogLine("line");
  EXPECT_FALSE(Exit(Account(server.Port()), device));
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"line", "ERROR=[0]-\"Ошибка FTP: не создан каталог\""}));
  EXPECT_TRUE(status.texts.empty());
}

TEST_F(ReportUploadFtp, AWrongPasswordIsASilentFailure) {
  FtpServer server(home, true);
  ASSERT_TRUE(server.Up());
  log.LogLine("line");
  EXPECT_FALSE(Exit(Account(server.Port(), "wrong"), device));
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"line"});
  EXPECT_FALSE(fs::exists(home / "log5"));
}

}  // namespace
}  // namespace dravion
