#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace dravion {

// Outcome of one FTP command, in the values FtpStatus takes.
enum FtpResult : int {
  kFtpUnderWay = 0,  // set before each command
  kFtpDone = 1,      // the server accepted the command
  kFtpRefused = -1,  // the server refused it
  kFtpFailed = -2,   // the client failed (connection lost, time-out, local file error)
};

// The FTP client of the report upload. Calls block until the server has answered or the client
// gave up; every connection attempt is bounded by the implementation.
class FtpTransfer {
 public:
  virtual ~FtpTransfer() = default;
  // Connects and logs in unless already connected; true when connected afterwards.
  virtual bool Connect() = 0;
  virtual bool IsConnected() const = 0;
  // Binary transfer type for the following transfers.
  virtual FtpResult SetBinaryType() = 0;
  // CWD into `name` below the current folder.
  virtual FtpResult ChangeFolder(const std::string& name) = 0;
  // MKD `name` below the current folder.
  virtual FtpResult MakeFolder(const std::string& name) = 0;
  // APPE the local file's bytes to `remoteName` in the current folder (an empty transfer when the
  // local file cannot be read). `progress` receives the bytes sent so far.
  virtual FtpResult Append(const std::string& localPath, const std::string& remoteName,
                           const std::function<void(uint64_t sent)>& progress) = 0;
  // QUIT and close; the next Connect starts again at the root.
  virtual void Quit() = 0;
  // Every later command ends (failed) at the latest `ms` milliseconds from now; 0 lifts the
  // limit. A client without a limit of its own keeps its own time-outs.
  virtual void LimitTime(uint32_t ms) { (void)ms; }
};

}  // namespace dravion
