#pragma once

#include <cstdint>
#include <string>

#include "log/remote_folder.h"

namespace dravion {

class Clock;
class EventPump;
class FtpTransfer;
class SessionLog;

// The bottom information panel while the report is sent: its text (Panel_Bottom_Info_Text) and
// the progress bar (ProgressBar_Bottom_Info).
class UploadStatusView {
 public:
  virtual ~UploadStatusView() = default;
  virtual void ShowUploadText(const std::string& text) = 0;
  virtual void ShowUploadProgress(int percent) = 0;
};

// Saves the run log as log.txt and appends it to the device's report file on the report server.
class ReportUploader {
 public:
  static constexpr const char* kRemoteRoot = "log5";
  static constexpr const char* kRemoteFile = "rep.txt";
  static constexpr int kAttempts = 3;
  static constexpr int kRetryPauseMs = 500;

  // `transfer` null means that no report server is configured: the file is still written, the
  // upload is skipped with a log line. `status` may be null.
  ReportUploader(SessionLog& log, EventPump& pump, Clock& clock, FtpTransfer* transfer,
                 UploadStatusView* status = nullptr);

  // The working folder that an empty local path refers to (log.txt inside it).
  void SetWorkFolder(const std::string& folder) { workFolder_ = folder; }
  // Bounds the upload to `ms` milliseconds from now (the session is ending and the system ends
  // the process soon): commands are cut short and no attempt starts after that.
  void LimitTime(uint32_t ms);

  // Writes the log to `localPath` (working folder + log.txt when empty), then appends it to
  // remoteRoot\<device folder>\remoteFile. True when the report reached the server.
  bool SaveSessionLog(const std::string& localPath, const std::string& remoteRoot,
                      const std::string& remoteFile, const ReportIdentity& identity);
  // Makes the remote folders, then up to `attempts` appends with a pause after each failure.
  bool UploadWithRetries(const std::string& remotePath, const std::string& localPath, int attempts);
  // Connects, enters (creating where needed) every folder of `remotePath`, disconnects.
  bool FtpMakeFolders(const std::string& remotePath);
  // One append attempt.
  bool UploadFile(const std::string& remotePath, const std::string& localPath);

  // Status of the last FTP command (FtpResult values).
  int FtpStatus() const { return ftpStatus_; }
  // Size of the file being sent; 0 outside a transfer.
  uint64_t UploadTotal() const { return uploadTotal_; }
  // The local path that SaveSessionLog used last.
  const std::string& LocalLogPath() const { return localPath_; }

 private:
  void ShowText(const std::string& text);

  SessionLog& log_;
  EventPump& pump_;
  Clock& clock_;
  FtpTransfer* transfer_;
  bool limited_ = false;
  uint32_t deadline_ = 0;  // clock tick, while limited_
  UploadStatusView* status_;
  std::string workFolder_;
  std::string localPath_;
  int ftpStatus_ = 0;
  uint64_t uploadTotal_ = 0;
};

}  // namespace dravion
