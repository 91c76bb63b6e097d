#pragma once

#include <string>

#include "lifecycle/single_instance.h"
#include "log/remote_folder.h"

namespace dravion {

class Clock;
class Dialogs;
class LogSink;
class Language;
class OptionStore;
class ReportUploader;
class SessionLog;

// "1" + "." + "9": the version the log header, the caption and the about box show.
inline const std::string kAppVersion = std::string("1") + "." + "9";
constexpr const char* kApplicationTitle = "DravionExplorer 1.7";

// The run's first and last lines in the log: the start time and version between banners, and the
// end time between banners. Every program of the manager frames its log this way.
void LogRunStart(LogSink& log, Clock& clock);
void LogRunEnd(LogSink& log, Clock& clock);

// What the main window does at its steps of start-up and shut-down.
class LifecycleWindow {
 public:
  virtual ~LifecycleWindow() = default;
  // The language was loaded: every caption follows it.
  virtual void ApplyLanguage() {}
  virtual void SetActivePage(int /*page*/) {}
  virtual int ActivePage() { return 0; }
  // The log page starts hidden at every start.
  virtual void HideLogPage() {}
};

struct LifecycleSettings {
  std::string instanceName = SingleInstance::kDefaultName;
  std::string tempFolder;  // empty: the system's temporary folder
};

// The main window's creation and destruction hooks, minus the widgets: options, single
// instance, working folder, log header and footer, log file and report.
class AppLifecycle {
 public:
  enum class State { NotStarted, Running, AlreadyRunning, FolderFailed, Ended };

  AppLifecycle(OptionStore& options, Language& language, Dialogs& dialogs, SessionLog& log,
               Clock& clock, LifecycleWindow* window = nullptr, LifecycleSettings settings = {});

  // Start-up after the communication objects exist: language, page, single instance, working
  // folder, its clearing, the hidden log page and the log header. A refusal has been shown to
  // the user when this returns false; the window must then not be shown and the process ends.
  bool StartUp();
  // Shut-down: save the page, write the footer, save and send the log, release the instance.
  // A copy refused at start does none of it. Runs once.
  void ShutDown(ReportUploader& uploader, const ReportIdentity& identity);

  State GetState() const { return state_; }
  bool Refused() const { return state_ == State::AlreadyRunning || state_ == State::FolderFailed; }
  const std::string& WorkFolder() const { return workFolder_; }
  int StartPage() const { return startPage_; }

 private:
  OptionStore& options_;
  Language& language_;
  Dialogs& dialogs_;
  SessionLog& log_;
  Clock& clock_;
  LifecycleWindow* window_;
  LifecycleSettings settings_;
  SingleInstance instance_;
  State state_ = State::NotStarted;
  std::string workFolder_;
  int startPage_ = 0;
};

}  // namespace dravion
