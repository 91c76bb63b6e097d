#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "log/ftp_account.h"
#include "log/ftp_transfer.h"

namespace dravion {

class OptionStore;

// FtpTransfer on libcurl: passive mode, binary type, one CWD per folder, MKD, APPE, and explicit
// FTPS when the account asks for it. Every command is one libcurl transfer on a kept-alive
// control connection; the folders entered so far are remembered, so each command runs in the
// folder the previous ones reached. Connecting is bounded by the account's time-out.
class CurlFtpTransfer : public FtpTransfer {
 public:
  explicit CurlFtpTransfer(FtpAccount account);
  ~CurlFtpTransfer() override;
  CurlFtpTransfer(const CurlFtpTransfer&) = delete;
  CurlFtpTransfer& operator=(const CurlFtpTransfer&) = delete;

  bool Connect() override;
  bool IsConnected() const override { return connected_; }
  FtpResult SetBinaryType() override;
  FtpResult ChangeFolder(const std::string& name) override;
  FtpResult MakeFolder(const std::string& name) override;
  FtpResult Append(const std::string& localPath, const std::string& remoteName,
                   const std::function<void(uint64_t sent)>& progress) override;
  void Quit() override;
  void LimitTime(uint32_t ms) override;

  // The last libcurl error text, for diagnostics.
  const std::string& LastError() const { return lastError_; }

 private:
  struct Handle;
  std::string Url(const std::vector<std::string>& folders, const std::string& file) const;
  void Prepare(const std::string& url);
  FtpResult Finish(int code);
  // `ms`, or less when the time limit ends sooner (at least 1).
  long Bounded(long ms) const;

  FtpAccount account_;
  std::unique_ptr<Handle> handle_;
  std::vector<std::string> folders_;
  bool connected_ = false;
  bool limited_ = false;
  std::chrono::steady_clock::time_point deadline_;
  std::string lastError_;
};

// The report server's client from the options and the environment; null when no host is set.
std::unique_ptr<FtpTransfer> MakeReportTransfer(OptionStore* options);

}  // namespace dravion
