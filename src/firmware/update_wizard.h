#pragma once

#include <optional>
#include <string>

#include "connection/device_mode.h"
#include "firmware/flash_update.h"

namespace dravion {

struct DeviceContext;

// What the update wizard changes on its page besides the window's frame.
class UpdateWizardView {
 public:
  virtual ~UpdateWizardView() = default;
  // BitBtn_ReNewDeviceInfo.
  virtual void SetUpdateButtonEnabled(bool enabled) = 0;
  // Step 1-5 of an attempt begins; its text is on the status line already.
  virtual void StepStarted(int /*step*/) {}
};

enum class UpdateOutcome {
  NotStarted,   // no identified device, or the user said No to the question
  Updated,      // an attempt went through all five steps
  Abandoned,    // attempts failed and the user said No to trying again
  Interrupted,  // the program was asked to end: stopped between exchanges, the user told where
  OtherDevice,  // another device came back after a restart (or before a retry): stopped
};

// The firmware update in five steps: restart into the boot loader, write the program flash,
// restart into the new main program, write the data flash, restart. Each attempt starts over from
// step 1, so a device left half-written is rewritten whole; the user is asked before the first
// attempt and after each failed one. The pages and the button are disabled while it runs and
// given back on every path; at the end of each attempt the device is marked unconnected so that
// the connection manager identifies it afresh.
//
// What was written is checked: the program flash and the data flash are read back and compared
// with their images, and after steps 3 and 5 the main program must report the release's version.
// A difference fails its step with a box naming the first differing address (or the versions)
// before the retry question. A retry waits first until the device is found and identified again
// (at most a restart's wait). The device must stay the one the update began with: another one
// after a restart or before a retry ends the update with a box saying so.
class UpdateWizard {
 public:
  UpdateWizard(DeviceContext& context, UpdateWizardView& view, FirmwareImages images = {});

  // The update button's handler.
  UpdateOutcome OnUpgradeClicked();
  // One attempt of the five steps: 0 when all went through, else the step that failed.
  int Attempt();
  // Why the last attempt failed, when it is worth a box of its own (a check of what was written
  // found a difference); else empty.
  const std::string& Problem() const { return problem_; }

  // The texts, in the current interface language.
  std::string QuestionText() const;
  std::string StepText(int step) const;
  std::string SuccessText() const;
  std::string RetryText() const;
  // Where an update stopped at step `step` left the device, and how to restore it: after a
  // request to end, and after a failure the user did not retry (or another device answered).
  std::string InterruptedText(int step) const;
  // Why Windows waits with the end of the session while an attempt runs.
  std::string SessionEndReasonText() const;
  std::string NotCompletedText(int step) const;

  // The frame interval of the busy animation while the steps run.
  static constexpr int kBusyIntervalMs = 100;

 private:
  void ShowStep(int step);
  std::string StoppedText(int step, bool interrupted) const;
  bool QuitRequested() const;
  // Waits, with LinkWatch on, until the device is found and identified again; false when it is
  // not back within a restart's wait, another device is, or the program is asked to end.
  bool DeviceBack();
  // A restart's result, noting another device.
  bool Restarted(int result);
  // After the main program started: it must report the release's version.
  bool ReleaseRuns();
  bool ProgramVerified();
  bool DataVerified();
  RestartLink Link() const;

  // What the device runs as far as the steps so far have brought it.
  enum class Reached { Unchanged, BootLoader, NewMainProgram, Written };

  DeviceContext& context_;
  Reached reached_ = Reached::Unchanged;
  UpdateWizardView& view_;
  FirmwareImages images_;
  std::optional<DeviceIdentity> expected_;  // the device the update began with
  bool otherDevice_ = false;
  std::string problem_;
};

}  // namespace dravion
