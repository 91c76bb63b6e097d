#include <ostream>

#include "cli/cli_pages.h"
#include "cli/cli_services.h"
#include "cli/cli_session.h"
#include "firmware/update_wizard.h"

namespace dravion::cli {
namespace {

// The About-device page's update button on a terminal: each step's text on stderr.
class TextWizardView : public UpdateWizardView {
 public:
  explicit TextWizardView(CliSession& session) : session_(session) {}
  void SetUpdateButtonEnabled(bool) override {}
  void StepStarted(int step) override {
    session_.frame.EndProgress();
    if (step == 1) ++attempts;
    if (wizard != nullptr) session_.io.err << wizard->StepText(step) << '\n' << std::flush;
  }

  const UpdateWizard* wizard = nullptr;
  int attempts = 0;

 private:
  CliSession& session_;
};

}  // namespace

int FirmwareUpdate(CliSession& s) {
  TextWizardView view(s);
  UpdateWizard wizard(s.context, view);
  view.wizard = &wizard;
  // "Try again?" is answered by --retries: yes while attempts are left, whatever --yes says.
  const std::string retry = wizard.RetryText();
  s.dialogs.decide = [&](const std::string& text) {
    if (text != retry) return -1;
    return view.attempts <= s.options.retries ? 1 : 0;
  };
  const UpdateOutcome outcome = wizard.OnUpgradeClicked();
  s.dialogs.decide = nullptr;
  s.frame.EndProgress();
  return outcome == UpdateOutcome::Updated && !s.dialogs.refused ? kExitDone : kExitFailed;
}

}  // namespace dravion::cli
