#include <ostream>

#include "cli/cli_pages.h"
#include "cli/cli_services.h"
#include "cli/cli_session.h"
#include "device/history_controller.h"

namespace dravion::cli {
namespace {

// The history page on a terminal: progress on stderr.
class TextHistoryView : public HistoryView {
 public:
  explicit TextHistoryView(CliIo& io) : bar_(io) {}
  void ShowVersionMessage(const std::string& text) override { versionMessage = text; }
  void SetReading(bool) override {}
  void SetDeleteEnabled(bool) override {}
  void SetSaveEnabled(bool) override {}
  void SetNavigationEnabled(bool) override {}
  void SetProgressMaximum(int maximum) override { maximum_ = maximum; }
  // Sector k done (the count starts at 0, and goes back to 0 at the end).
  void SetProgress(int position) override {
    if (position > 0) bar_.Show(position + 1, maximum_);
  }
  void ShowChart(const HistoryChartData&) override {}
  bool ShowMaximumTicked() const override { return false; }
  bool AskSaveFileName(const SaveFileRequest&, std::string&) override { return false; }
  void Done() { bar_.Finish(); }

  std::string versionMessage;

 private:
  ProgressBar bar_;
  int maximum_ = 0;
};

}  // namespace

int HistoryDownload(CliSession& s) {
  TextHistoryView view(s.io);
  HistoryController controller(s.context, view);
  bool downloaded = false;
  if (s.options.newOnly) {
    // Only what follows the archive's newest record of this device; the whole ring, said why in
    // one line, when the ring does not continue it.
    std::optional<ArchivedEnd> archived;
    if (!ArchivedEndOfDevice(s, archived)) return kExitFailed;
    downloaded = controller.DownloadNewHistory(archived) && controller.ReadComplete;
    view.Done();
    if (const std::string note = WholeRingNote(controller.LastContinuation, s.language);
        !note.empty() && downloaded)
      s.io.err << TerminalText(note) << '\n';
  } else {
    downloaded = controller.DownloadHistory() && controller.ReadComplete;
    view.Done();
  }
  if (!downloaded) {
    if (!view.versionMessage.empty()) s.io.err << TerminalText(view.versionMessage) << '\n';
    return kExitFailed;
  }
  // The archive and the file each get the download whatever happens to the other: a script
  // that deletes the history after a download that failed to reach one still has the other.
  const bool archived = s.options.noArchive || MergeDownloadIntoArchive(s, controller) == kExitDone;
  if (!s.options.csvFile.empty() && !controller.SaveCsv(s.options.csvFile)) return kExitFailed;
  if (!archived) return kExitFailed;
  return Outcome(s);
}

int HistoryDelete(CliSession& s) {
  TextHistoryView view(s.io);
  HistoryController controller(s.context, view);
  controller.OnDeleteClicked();
  if (!view.versionMessage.empty()) s.io.err << TerminalText(view.versionMessage) << '\n';
  return Outcome(s);
}

}  // namespace dravion::cli
