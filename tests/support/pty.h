#pragma once

#include <string>

namespace dravion::test {

// The far end of a serial line: a pseudo-terminal master whose slave the manager opens.
class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int master() const { return master_; }
  const std::string& slavePath() const { return slave_; }
  // Reads what the manager wrote, waiting up to `ms` for the first byte.
  std::string Read(int ms);
  void Write(const std::string& bytes);
  void CloseMaster();

 private:
  int master_ = -1;
  std::string slave_;
};

// A temporary port folder, made current through DRAVION_PORT_DIR for the test's lifetime.
class TempPortFolder {
 public:
  TempPortFolder();
  ~TempPortFolder();
  const std::string& path() const { return path_; }
  // Creates the entry `name` (a symlink to `target`).
  void Add(const std::string& name, const std::string& target);
  void Remove(const std::string& name);

 private:
  std::string path_;
  std::string previous_;
  bool hadPrevious_ = false;
};

}  // namespace dravion::test
