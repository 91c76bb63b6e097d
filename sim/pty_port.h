#pragma once

#include <cstdint>
#include <string>

namespace dravion::sim {

// The device end of a pseudo-terminal, raw, registered as COM<n> (a symlink to the terminal
// side) in the port folder. The entry goes away when the port closes.
class PtyPort {
 public:
  PtyPort() = default;
  ~PtyPort() { Close(); }
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  bool Open(const std::string& folder, int number);
  void Close();
  bool IsOpen() const { return master_ >= 0; }
  int Fd() const { return master_; }
  // Descriptor that becomes readable when someone opens the terminal side, -1 when unavailable.
  int OpenWatchFd() const { return watch_; }
  // Drains the open notifications.
  void ClearOpenWatch();
  const std::string& EntryPath() const { return entry_; }
  const std::string& TerminalPath() const { return terminal_; }

 private:
  int master_ = -1;
  int watch_ = -1;
  std::string entry_;
  std::string terminal_;
};

}  // namespace dravion::sim
