#include "log/report_upload.h"

#include "services/clock.h"

#include <filesystem>
#include <system_error>

#include "log/ftp_transfer.h"
#include "log/run_log_file.h"
#include "log/session_log.h"
#include "services/event_pump.h"

namespace dravion {

namespace {

const char kNoFolder[] = "Ошибка FTP: не создан каталог";
const char kNoConnection[] = "Ошибка: Нет соединения с сервером обновлений";
const char kNoChange[] = "Ошибка FTP: смена каталога не удалась";
const char kAppendFailed[] = "Ошибка добавления файла на сервера обновлений [";
const char kSending[] = "Добавление на сервер";
const char kAttempt[] = " Попытка ";
const char kSkipped[] = "# REPORT: no report server configured, upload skipped";

uint64_t FileSize(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(PathFromUtf8(path), error);
  return error ? 0 : static_cast<uint64_t>(size);
}

}  // namespace

ReportUploader::ReportUploader(SessionLog& log, EventPump& pump, Clock& clock,
                               FtpTransfer* transfer, UploadStatusView* status)
    : log_(log), pump_(pump), clock_(clock), transfer_(transfer), status_(status) {}

void ReportUploader::ShowText(const std::string& text) {
  if (status_) status_->ShowUploadText(text);
}

bool ReportUploader::SaveSessionLog(const std::string& localPath, const std::string& remoteRoot,
                                    const std::string& remoteFile, const ReportIdentity& identity) {
  localPath_ = localPath;
  if (localPath_.empty() && !workFolder_.empty()) {
    localPath_ = Utf8FromPath(PathFromUtf8(workFolder_) / "log.txt");
  }
  // A file that cannot be written is not reported: the upload sends whatever is there.
  if (!localPath_.empty()) WriteRunLogFile(localPath_, log_.Lines());
  if (!transfer_) {
    log_.LogLine(kSkipped);
    return false;
  }
  const std::string remotePath = RemoteLogFolder(remoteRoot, identity) + remoteFile;
  return UploadWithRetries(remotePath, localPath_, kAttempts);
}

void ReportUploader::LimitTime(uint32_t ms) {
  limited_ = true;
  deadline_ = clock_.TickMs() + ms;
  if (transfer_) transfer_->LimitTime(ms);
}

bool ReportUploader::UploadWithRetries(const std::string& remotePath, const std::string& localPath,
                                       int attempts) {
  if (remotePath.empty() || localPath.empty() || !transfer_) return false;
  if (!FtpMakeFolders(remotePath)) return false;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    // These texts stay Russian in both interface languages.
    ShowText(attempt == 1 ? std::string(kSending)
                          : std::string(kSending) + kAttempt + std::to_string(attempt));
    const bool sent = UploadFile(remotePath, localPath);
    ShowText("");
    if (sent) return true;
    if (limited_) {
      const int32_t left = static_cast<int32_t>(deadline_ - clock_.TickMs());
      if (left <= kRetryPauseMs) break;  // no time for another attempt
    }
    Delay(pump_, clock_, kRetryPauseMs);
  }
  return false;
}

bool ReportUploader::FtpMakeFolders(const std::string& remotePath) {
  if (!transfer_) return false;
  transfer_->Connect();
  if (!transfer_->IsConnected()) return false;
  for (const auto& folder : RemoteFolders(remotePath)) {
    ftpStatus_ = kFtpUnderWay;
    ftpStatus_ = transfer_->ChangeFolder(folder);
    if (ftpStatus_ == kFtpRefused) {
      ftpStatus_ = kFtpUnderWay;
      ftpStatus_ = transfer_->MakeFolder(folder);
      if (ftpStatus_ != kFtpDone) break;
      ftpStatus_ = kFtpUnderWay;
      ftpStatus_ = transfer_->ChangeFolder(folder);
    }
    // Any failure ends the walk: going on would enter the next folder at the wrong level.
    if (ftpStatus_ != kFtpDone) break;
  }
  transfer_->Quit();
  if (ftpStatus_ != kFtpDone) {
    log_.LogCodedError(kNoFolder, 0);
    return false;
  }
  return true;
}

bool ReportUploader::UploadFile(const std::string& remotePath, const std::string& localPath) {
  if (!transfer_) return false;
  if (!transfer_->IsConnected()) transfer_->Connect();
  if (!transfer_->IsConnected()) {
    log_.LogCodedError(kNoConnection, 0);
    return false;
  }
  transfer_->SetBinaryType();

  bool entered = true;
  for (const auto& folder : RemoteFolders(remotePath)) {
    ftpStatus_ = kFtpUnderWay;
    ftpStatus_ = transfer_->ChangeFolder(folder);
    if (ftpStatus_ != kFtpDone) {
      log_.LogCodedError(kNoChange, 0);
      entered = false;
      break;
    }
  }
  if (entered) {
    ftpStatus_ = kFtpUnderWay;
    uploadTotal_ = FileSize(localPath);
    const uint64_t total = uploadTotal_;
    ftpStatus_ = transfer_->Append(localPath, RemoteFileName(remotePath), [&](uint64_t sent) {
      if (total == 0 || !status_) return;
      const uint64_t percent = sent >= total ? 100 : sent * 100 / total;
      status_->ShowUploadProgress(static_cast<int>(percent));
    });
    uploadTotal_ = 0;
    if (ftpStatus_ == kFtpDone) {
      transfer_->Quit();
      return true;
    }
  }
  log_.LogCodedError(kAppendFailed + remotePath + "]", -1);
  transfer_->Quit();
  return false;
}

}  // namespace dravion
