#include "log/report_upload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>

#include "log/ftp_transfer.h"
#include "log/session_log.h"
#include "support/fakes.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

namespace fs = std::filesystem;

// An FTP client that records its commands and answers from a script (success by default).
struct ScriptedFtp : FtpTransfer {
  bool Connect() override {
    commands.push_back("CONNECT");
    if (connects > 0) {
      --connects;
      connected = true;
    }
    return connected;
  }
  bool IsConnected() const override { return connected; }
  FtpResult SetBinaryType() override { return Run("TYPE"); }
  FtpResult ChangeFolder(const std::string& name) override { return Run("CWD " + name); }
  FtpResult MakeFolder(const std::string& name) override { return Run("MKD " + name); }
  FtpResult Append(const std::string& localPath, const std::string& remoteName,
                   const std::function<void(uint64_t)>& progress) override {
    appendedFrom = localPath;
    for (uint64_t sent : progressSteps)
      progress(sent);
    return Run("APPE " + remoteName);
  }
  void Quit() override {
    commands.push_back("QUIT");
    connected = false;
  }
  void LimitTime(uint32_t ms) override { limits.push_back(ms); }
  FtpResult Run(const std::string& command) {
    commands.push_back(command);
    auto& queue = script[command];
    if (queue.empty()) return kFtpDone;
    const FtpResult result = queue.front();
    queue.pop_front();
    return result;
  }

  int connects = 100;  // how many connections succeed
  bool connected = false;
  std::map<std::string, std::deque<FtpResult>> script;
  std::vector<std::string> commands;
  std::vector<uint64_t> progressSteps;
  std::string appendedFrom;
  std::vector<uint32_t> limits;
};

struct RecordingStatus : UploadStatusView {
  void ShowUploadText(const std::string& text) override { texts.push_back(text); }
  void ShowUploadProgress(int percent) override { progress.push_back(percent); }
  std::vector<std::string> texts;
  std::vector<int> progress;
};

class ReportUpload : public ::testing::Test {
 protected:
  ReportUpload() : uploader(log, pump, clock, &ftp, &status) {
    uploader.SetWorkFolder(folder.string());
  }

  test::FakeClock clock;
  test::FakePump pump{clock};
  SessionLog log;
  ScriptedFtp ftp;
  RecordingStatus status;
  ReportUploader uploader;
  test::ScratchFolder scratch{"dravion-log-upload"};
  const fs::path folder = scratch.path();
  const std::string path = "log5\\A_BC\\rep.txt";
};

TEST_F(ReportUpload, MissingFoldersAreMadeThenTheLogIsAppended) {
  ftp.script["CWD A_BC"] = {kFtpRefused};
  log.LogLine("one line");
  EXPECT_TRUE(uploader.SaveSessionLog("", "log5", "rep.txt", ReportIdentity{}));
  EXPECT_EQ(ftp.appendedFrom, (folder / "log.txt").string());
  ftp.commands.clear();

  ftp.script["CWD A_BC"] = {kFtpRefused};
  EXPECT_TRUE(uploader.UploadWithRetries(path, "local", 3));
  EXPECT_EQ(ftp.commands, (std::vector<std::string>{
                              "CONNECT", "CWD log5", "CWD A_BC", "MKD A_BC", "CWD A_BC", "QUIT",
                              "CONNECT", "TYPE", "CWD log5", "CWD A_BC", "APPE rep.txt", "QUIT"}));
  EXPECT_EQ(uploader.FtpStatus(), kFtpDone);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"one line"});
}

TEST_F(ReportUpload, AFolderThatCannotBeMadeOrEnteredEndsTheWalk) {
  ftp.script["CWD log5"] = {kFtpRefused};
  ftp.script["MKD log5"] = {kFtpRefused};
  EXPECT_FALSE(uploader.UploadWithRetries(path, "local", 3));
  EXPECT_EQ(ftp.commands, (std::vector<std::string>{"CONNECT", "CWD log5", "MKD log5", "QUIT"}));
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"ERROR=[0]-\"Ошибка FTP: не создан каталог\""});

  // A client failure on one level must not let the walk go on at the wrong level.
  ftp.commands.clear();
  ftp.script["CWD log5"] = {kFtpFailed};
  EXPECT_FALSE(uploader.FtpMakeFolders(path));
  EXPECT_EQ(ftp.commands, (std::vector<std::string>{"CONNECT", "CWD log5", "QUIT"}));
  EXPECT_EQ(uploader.FtpStatus(), kFtpFailed);
  EXPECT_TRUE(status.texts.empty());
}

TEST_F(ReportUpload, NoConnectionMeansNoAttemptAndNoLine) {
  ftp.connects = 0;
  EXPECT_FALSE(uploader.UploadWithRetries(path, "local", 3));
  EXPECT_EQ(ftp.commands, std::vector<std::string>{"CONNECT"});
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_TRUE(status.texts.empty());
}

TEST_F(ReportUpload, ALostConnectionFailsEachAttemptWithAPauseAfterEach) {
  ftp.connects = 1;  // the folder step connects, the attempts cannot
  const uint32_t start = clock.tick;
  EXPECT_FALSE(uploader.UploadWithRetries(path, "local", 3));
  EXPECT_EQ(clock.tick - start, 1500u);
  EXPECT_EQ(status.texts,
            (std::vector<std::string>{"Добавление на сервер", "", "Добавление на сервер Попытка 2",
                                      "", "Добавление на сервер Попытка 3", ""}));
  // Three identical error lines; the log never repeats a line.
  EXPECT_EQ(log.Lines(),
            std::vector<std::string>{"ERROR=[0]-\"Ошибка: Нет соединения с сервером обновлений\""});
}

TEST_F(ReportUpload, ABoundedUploadStartsNoAttemptItCannotFinishInTime) {
  // The session is ending: 800 ms are left, the client is told, and after the second failed
  // attempt there is no time for a pause and a third.
  ftp.connects = 1;
  uploader.LimitTime(800);
  EXPECT_EQ(ftp.limits, std::vector<uint32_t>{800});
  const uint32_t start = clock.tick;
  EXPECT_FALSE(uploader.UploadWithRetries(path, "local", 3));
  EXPECT_EQ(clock.tick - start, 500u);
  EXPECT_EQ(std::count(ftp.commands.begin(), ftp.commands.end(), "CONNECT"), 3);
}

TEST_F(ReportUpload, ARefusedFolderChangeIsLoggedWithTheAppendErrorAndRetried) {
  ftp.script["CWD A_BC"] = {kFtpDone, kFtpRefused};  // the folder step passes, attempt 1 fails
  EXPECT_TRUE(uploader.UploadWithRetries(path, "local", 3));
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"ERROR=[0]-\"Ошибка FTP: смена каталога не удалась\"",
                                      "ERROR=[-1]-\"Ошибка добавления файла на сервера обновлений "
                                      "[log5\\A_BC\\rep.txt]\""}));
  EXPECT_EQ(status.texts, (std::vector<std::string>{"Добавление на сервер", "",
                                                    "Добавление на сервер Попытка 2", ""}));
}

TEST_F(ReportUpload, ProgressIsTheShareOfTheLocalFileSent) {
  const fs::path local = folder / "local.txt";
  std::ofstream(local) << std::string(200, 'x');
  ftp.progressSteps = {50, 199, 200, 400};
  EXPECT_TRUE(uploader.UploadFile(path, local.string()));
  EXPECT_EQ(status.progress, (std::vector<int>{25, 99, 100, 100}));
  EXPECT_EQ(uploader.UploadTotal(), 0u);

  // An absent file is an empty transfer and moves no bar.
  status.progress.clear();
  EXPECT_TRUE(uploader.UploadFile(path, (folder / "absent").string()));
  EXPECT_TRUE(status.progress.empty());
}

TEST_F(ReportUpload, WithoutAServerTheFileIsStillWrittenAndTheSkipLogged) {
  ReportUploader offline(log, pump, clock, nullptr, &status);
  offline.SetWorkFolder(folder.string());
  log.LogLine("kept");
  EXPECT_FALSE(offline.SaveSessionLog("", "log5", "rep.txt", ReportIdentity{}));
  EXPECT_TRUE(fs::exists(folder / "log.txt"));
  EXPECT_EQ(fs::file_size(folder / "log.txt"), 5u);
  EXPECT_EQ(log.Lines().back(), "# REPORT: no report server configured, upload skipped");

  EXPECT_FALSE(uploader.UploadWithRetries("", "local", 3));
  EXPECT_FALSE(uploader.UploadWithRetries(path, "", 3));
  EXPECT_TRUE(ftp.commands.empty());
}

}  // namespace
}  // namespace dravion
