// The report upload of the Windows build against real FTP servers. scripts/wine-ftp-check runs
// this program under Wine with pyftpdlib on loopback: plain FTP on DRAVION_TEST_FTP_PORT, explicit
// FTPS that allows nothing outside TLS on DRAVION_TEST_FTPS_PORT, one home for both (the user
// "reporter" may make folders and append, "reader" may only enter folders). Afterwards the script
// checks the report's bytes on the server's disk.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ftp/curl_ftp_transfer.h"
#include "log/report_upload.h"
#include "log/run_log_file.h"
#include "log/session_log.h"
#include "services/clock.h"
#include "services/event_pump.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ReportUploadWindows, AppendsEveryRunOverFtpAndFtpsAndCountsARefusalAsAFailure) {
  const char* port = std::getenv("DRAVION_TEST_FTP_PORT");
  const char* tlsPort = std::getenv("DRAVION_TEST_FTPS_PORT");
  ASSERT_TRUE(port && tlsPort) << "scripts/wine-ftp-check starts the servers and this program";
  test::ScratchFolder work("dravion-ftp-work");
  SystemClock clock;
  ThreadEventPump pump{clock};
  const ReportIdentity device{true, {0x12, 0x34, 0x56, 0x78}};  // log5\2_14\36xxx\5xx\rep.txt
  // One exit of the manager: the log written to log.txt, then appended by a fresh client.
  auto exitAs = [&](const std::string& user, bool tls, SessionLog& log) {
    FtpAccount account;
    account.host = "127.0.0.1";
    account.port = std::atoi(tls ? tlsPort : port);
    account.user = user;
    account.password = "secret";
    account.explicitTls = tls;
    CurlFtpTransfer transfer(account);
    ReportUploader uploader(log, pump, clock, &transfer);
    uploader.SetWorkFolder(work.Utf8());
    return uploader.SaveSessionLog("", ReportUploader::kRemoteRoot, ReportUploader::kRemoteFile,
                                   device);
  };

  // scripts/wine-ftp-check expects these lines on the server, in Windows-1251: the carriage return
  // that ends a line's text and the line feed after every line must arrive as they are.
  SessionLog first;
  first.LogLine("# START: run one");
  first.LogLine("Ошибка связи: нет ответа");
  first.LogLine("device text\r");
  EXPECT_TRUE(exitAs("reporter", false, first));
  EXPECT_EQ(first.LineCount(), 3u);  // a successful upload logs nothing
  EXPECT_EQ(ReadFile(work.path() / "log.txt"), RunLogBytes(first.Lines()));

  // The next run over explicit FTPS (Schannel): appended after the first.
  SessionLog second;
  second.LogLine("# START: run two, явка");
  EXPECT_TRUE(exitAs("reporter", true, second));

  // Three appends refused by the server: a failure with its error line, never a success.
  SessionLog third;
  third.LogLine("# START: run three");
  EXPECT_FALSE(exitAs("reader", false, third));
  EXPECT_EQ(third.Lines(),
            (std::vector<std::string>{"# START: run three",
                                      "ERROR=[-1]-\"Ошибка добавления файла на сервера обновлений "
                                      "[log5\\2_14\\36xxx\\5xx\\rep.txt]\""}));
}

}  // namespace
}  // namespace dravion
