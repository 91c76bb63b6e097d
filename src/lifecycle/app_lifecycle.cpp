#include "lifecycle/app_lifecycle.h"

#include "lifecycle/options.h"
#include "lifecycle/work_folder.h"
#include "log/report_upload.h"
#include "log/session_log.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/language.h"

namespace dravion {

namespace {

const std::string kBanner(42, '#');

}  // namespace

void LogRunStart(LogSink& log, Clock& clock) {
  log.LogLine(kBanner);
  log.LogLine("# START: " + clock.DateTimeText());
  log.LogLine("# APP VERSION = " + kAppVersion);
  log.LogLine(kBanner);
}

void LogRunEnd(LogSink& log, Clock& clock) {
  log.LogLine(kBanner);
  log.LogLine("# END: " + clock.DateTimeText());
  log.LogLine(kBanner);
}

AppLifecycle::AppLifecycle(OptionStore& options, Language& language, Dialogs& dialogs,
                           SessionLog& log, Clock& clock, LifecycleWindow* window,
                           LifecycleSettings settings)
    : options_(options),
      language_(language),
      dialogs_(dialogs),
      log_(log),
      clock_(clock),
      window_(window),
      settings_(std::move(settings)) {}

bool AppLifecycle::StartUp() {
  if (state_ != State::NotStarted) return state_ == State::Running;

  LoadLanguageOption(options_, language_);
  if (window_) window_->ApplyLanguage();
  startPage_ = LoadPageOption(options_);
  // The log page is hidden at every start, so a run that ended on it (or a value past it) opens
  // the last visible page instead of an empty page area.
  if (startPage_ == kLogPage) startPage_ = kLogPage - 1;
  if (window_) window_->SetActivePage(startPage_);

  // The refusals come after the language, so they speak the saved language.
  if (!instance_.Acquire(settings_.instanceName)) {
    state_ = State::AlreadyRunning;
    dialogs_.ShowMessage(BoxKind::Warning,
                         language_.Text("Приложение уже запущено!", "Application alredy running!"));
    return false;
  }

  const std::string temp = settings_.tempFolder.empty() ? SystemTempFolder() : settings_.tempFolder;
  workFolder_ = WorkFolderPath(temp);
  if (!PrepareWorkFolder(workFolder_)) {
    state_ = State::FolderFailed;
    instance_.Release();
    dialogs_.ShowMessage(BoxKind::Error, language_.Text("Ошибка создания временного каталога",
                                                        "Error of creation temporary folder"));
    return false;
  }
  ClearFolder(workFolder_);

  if (window_) window_->HideLogPage();

  LogRunStart(log_, clock_);
  state_ = State::Running;
  return true;
}

void AppLifecycle::ShutDown(ReportUploader& uploader, const ReportIdentity& identity) {
  if (state_ != State::Running) return;
  state_ = State::Ended;

  SavePageOption(options_, window_ ? window_->ActivePage() : startPage_);

  LogRunEnd(log_, clock_);

  uploader.SetWorkFolder(workFolder_);
  uploader.SaveSessionLog("", ReportUploader::kRemoteRoot, ReportUploader::kRemoteFile, identity);
  // Held until the log is written and sent: a copy started meanwhile would empty the working
  // folder under the upload.
  instance_.Release();
}

}  // namespace dravion
