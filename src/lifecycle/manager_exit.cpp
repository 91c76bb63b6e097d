#include "lifecycle/manager_exit.h"

#include "device/reading_recorder.h"
#include "lifecycle/app_lifecycle.h"
#include "log/ftp_transfer.h"
#include "log/report_upload.h"
#include "log/session_log.h"
#include "services/language.h"

namespace dravion {

void ManagerExit::Run(Kind kind) {
  if (done_) return;
  done_ = true;
  const bool sessionEnding = kind == Kind::SessionEnding;
  if (sessionEnding)
    log_.LogLine(language_.Text("Сеанс Windows завершается", "The Windows session is ending"));
  // Before the footer: its lines belong in log.txt, and its file must be written before Windows
  // ends the process.
  recorder_.Stop(!sessionEnding);
  std::unique_ptr<FtpTransfer> transfer = makeTransfer ? makeTransfer() : nullptr;
  ReportUploader uploader(log_, pump_, clock_, transfer.get(), status);
  if (sessionEnding) uploader.LimitTime(kSessionEndUploadMs);
  lifecycle_.ShutDown(uploader, identity ? identity() : ReportIdentity{});
}

}  // namespace dravion
