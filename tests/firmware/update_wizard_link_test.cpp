#include "firmware/update_wizard.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "device/device_link_harness.h"

namespace dravion {
namespace {

using device_test::DeviceLinkHarness;

constexpr uint16_t kCpuErase = sim::CommandKey(3, 0x05);

class RecordingWizardView : public UpdateWizardView {
 public:
  void SetUpdateButtonEnabled(bool enabled) override { button.push_back(enabled); }
  void StepStarted(int step) override {
    steps.push_back(step);
    if (onStep) onStep(step);
  }
  std::vector<bool> button;
  std::vector<int> steps;
  std::function<void(int)> onStep;
};

// Answers like a user who reads the retry question while the device comes back: before the
// answer the manager has found and identified it again.
class PatientDialogs : public Dialogs {
 public:
  PatientDialogs(DeviceLinkHarness& h) : h_(h) {}
  void ShowMessage(BoxKind kind, const std::string& text) override {
    h_.dialogs.ShowMessage(kind, text);
  }
  bool Ask(QuestionKind kind, const std::string& text) override {
    if (kind == QuestionKind::Error) {
      h_.WaitUntil([this] { return h_.core.manager.Connected && h_.core.manager.Identified; });
    }
    return h_.dialogs.Ask(kind, text);
  }
  bool AskText(const std::string& title, const std::string& prompt, std::string& value) override {
    return h_.dialogs.AskText(title, prompt, value);
  }

 private:
  DeviceLinkHarness& h_;
};

size_t CountKey(const std::vector<sim::FlashRequest>& requests, uint16_t key) {
  return std::count_if(requests.begin(), requests.end(),
                       [key](const sim::FlashRequest& r) { return r.key == key; });
}

std::vector<uint8_t> Bytes(std::span<const uint8_t> span) {
  return {span.begin(), span.end()};
}

// What every run that asked the question leaves: button and pages back, no animation, the link
// watched, the device to be identified afresh.
void ExpectGivenBack(DeviceLinkHarness& h, const RecordingWizardView& view) {
  EXPECT_EQ(view.button, (std::vector<bool>{false, true}));
  EXPECT_EQ(h.frame.pages, (std::vector<bool>{false, true}));
  EXPECT_EQ(h.frame.busy, 0);
  EXPECT_EQ(h.frame.sessionEndHolds, 0);
  EXPECT_TRUE(h.core.manager.LinkWatch);
}

bool Reidentified(DeviceLinkHarness& h) {
  return h.WaitUntil([&] { return h.core.manager.Connected && h.core.manager.Identified; });
}

TEST(UpdateWizardLink, OlderDeviceUpdatedEndToEndAndIdentifiedAfreshWithTheRelease) {
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.mainVersion = 0x0C05; });
  ASSERT_TRUE(h.Connect());
  ASSERT_EQ(h.record.Soft.MainVersion, 0x0C05);
  RecordingWizardView view;
  // Windows holds the end of the session off through every step, with the reason shown.
  std::vector<int> heldAtStep;
  view.onStep = [&](int) { heldAtStep.push_back(h.frame.sessionEndHolds); };
  UpdateWizard wizard(h.context, view);
  h.log.lines.clear();
  EXPECT_EQ(wizard.OnUpgradeClicked(), UpdateOutcome::Updated);
  EXPECT_EQ(heldAtStep, (std::vector<int>{1, 1, 1, 1, 1}));
  EXPECT_EQ(h.frame.sessionEndReason,
            "The device's firmware is being written. Do not sign out or shut down until it ends.");

  EXPECT_EQ(view.steps, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(h.dialogs.questions,
            std::vector<std::string>{
                "The device firmware\n\rwill be updated or restored\n\rto version 1.20.12.6\n\r"
                "The update takes about two minutes.\n\rKeep the device plugged in until it "
                "ends.\n\rContinue?"});
  EXPECT_EQ(h.dialogs.questionKinds, std::vector<QuestionKind>{QuestionKind::Warning});
  ASSERT_EQ(h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(h.dialogs.boxes[0].kind, BoxKind::Information);
  EXPECT_EQ(h.dialogs.boxes[0].text, "Congratulations\n\rYour Device successfully\n\rupdated");
  ExpectGivenBack(h, view);
  EXPECT_FALSE(h.core.manager.Connected);
  EXPECT_TRUE(h.log.Has("# Written: 100%"));
  EXPECT_TRUE(std::any_of(h.log.lines.begin(), h.log.lines.end(),
                          [](const auto& l) { return l.rfind("# REP_CNT:", 0) == 0; }));

  ASSERT_TRUE(Reidentified(h));
  EXPECT_EQ(h.record.Soft.MainVersion, 0x0C06);
  EXPECT_EQ(h.device->ReadProgramFlash(sim::map::kProgramAddress, 57344), Bytes(ProgramImage(41)));
  EXPECT_EQ(h.device->ReadExternalFlash(0, 311296), Bytes(DataFlashImage()));
  EXPECT_TRUE(h.device->DataFlashIntact());
  EXPECT_EQ(h.device->GetCounters().restarts, 3);
}

TEST(UpdateWizardLink, DeviceWithOnlyItsBootLoaderIsRestored) {
  DeviceLinkHarness h([](sim::DeviceConfig& c) {
    c.startInBoot = true;
    c.programValid = false;
    c.dataFlashValid = false;
  });
  ASSERT_TRUE(h.Connect());
  RecordingWizardView view;
  UpdateWizard wizard(h.context, view);
  EXPECT_EQ(wizard.OnUpgradeClicked(), UpdateOutcome::Updated);
  EXPECT_EQ(view.steps, (std::vector<int>{1, 2, 3, 4, 5}));
  ASSERT_TRUE(Reidentified(h));
  EXPECT_FALSE(h.device->InBootLoader());
  EXPECT_EQ(h.record.Soft.MainVersion, 0x0C06);
  EXPECT_TRUE(h.device->DataFlashIntact());
}

TEST(UpdateWizardLink, NothingHappensWithoutAnIdentifiedDeviceOrWithoutYes) {
  DeviceLinkHarness h;
  RecordingWizardView view;
  UpdateWizard wizard(h.context, view);
  EXPECT_EQ(wizard.OnUpgradeClicked(), UpdateOutcome::NotStarted);
  EXPECT_TRUE(h.dialogs.questions.empty());
  EXPECT_TRUE(h.dialogs.boxes.empty());

  ASSERT_TRUE(h.Connect());
  h.language.Set(Lang::Russian);
  h.dialogs.answers = {false};
  EXPECT_EQ(wizard.OnUpgradeClicked(), UpdateOutcome::NotStarted);
  EXPECT_EQ(h.dialogs.questions,
            std::vector<std::string>{"Прошивка прибора\n\rбудет обновлена или восстановлена\n\rдо "
                                     "версии 1.20.12.6\n\rОбновление займёт около двух "
                                     "минут.\n\rНе отключайте прибор, пока оно не "
                                     "закончится.\n\rПродолжить?"});
  EXPECT_TRUE(view.button.empty());
  EXPECT_TRUE(h.frame.pages.empty());
  EXPECT_TRUE(h.core.manager.Connected);
  EXPECT_EQ(h.device->GetCounters().restarts, 0);
}

TEST(UpdateWizardLink, DeviceBackFromStepOneInItsMainProgramFailsTheAttempt) {
  DeviceLinkHarness h;
  ASSERT_TRUE(h.Connect());
  h.device->SetFaults({.restartInto = 2});
  RecordingWizardView view;
  UpdateWizard wizard(h.context, view);
  h.dialogs.answers = {true, false};
  EXPECT_EQ(wizard.OnUpgradeClicked(), UpdateOutcome::Abandoned);
  EXPECT_EQ(view.steps, std::vector<int>{1});
  ASSERT_EQ(h.dialogs.questions.size(), 2u);
  EXPECT_EQ(h.dialogs.questions[1], "Error of Update\n\rTry again?");
  EXPECT_EQ(h.dialogs.questionKinds[1], QuestionKind::Error);
  // No to the question: the device is where it was, and the box says so.
  ASSERT_EQ(h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(h.dialogs.boxes[0].kind, BoxKind::Warning);
  EXPECT_EQ(h.dialogs.boxes[0].text, "Update not completed: the device is unchanged.");
  EXPECT_TRUE(h.device->FlashRequests().empty());
  ExpectGivenBack(h, view);
  EXPECT_FALSE(h.core.manager.Connected);
}

// No to "Try again?" after the program flash was left half written: the box says that the device
// waits in its boot loader and that running the update again restores it.
TEST(UpdateWizardLink, NoToTryAgainSaysWhereTheDeviceIsAndHowToRestoreIt) {
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.mainVersion = 0x0C05; });
  ASSERT_TRUE(h.Connect());
  RecordingWizardView view;
  view.onStep = [&](int step) {
    if (step != 2) return;
    const int sent = h.device->GetCounters().totalRequests;
    h.device->SetFaults({.unplugAfterRequests = sent + 300, .replugAfterMs = 200});
  };
  UpdateWizard wizard(h.context, view);
  h.dialogs.answers = {true, false};
  EXPECT_EQ(wizard.OnUpgradeClicked(), UpdateOutcome::Abandoned);
  EXPECT_EQ(view.steps, (std::vector<int>{1, 2}));
  ASSERT_FALSE(h.dialogs.boxes.empty());
  EXPECT_EQ(h.dialogs.boxes.back().kind, BoxKind::Warning);
  EXPECT_EQ(h.dialogs.boxes.back().text,
            "Update not completed at step 2 of 5: the device is now in its boot loader "
            "(BOOT).\nRunning the firmware update again restores it.");
  EXPECT_TRUE(h.log.Has("==> Update stopped at step 2"));
  ExpectGivenBack(h, view);
  ASSERT_TRUE(Reidentified(h));
  EXPECT_EQ(h.record.Soft.MainVersion, 0);  // identified afresh: in its boot loader
}

TEST(UpdateWizardLink, UnpluggedWhileWritingDataThenYesRewritesBothFlashes) {
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.mainVersion = 0x0C05; });
  ASSERT_TRUE(h.Connect());
  PatientDialogs patient(h);
  DeviceContext context{h.commands, h.record, h.core.manager, h.log,  patient,
                        h.language, h.clock,  h.pump,         h.frame};
  RecordingWizardView view;
  bool unplugged = false;
  view.onStep = [&](int step) {
    if (step != 4 || unplugged) return;
    unplugged = true;
    const int sent = h.device->GetCounters().totalRequests;
    h.device->SetFaults({.unplugAfterRequests = sent + 3000, .replugAfterMs = 300});
  };
  UpdateWizard wizard(context, view);
  h.dialogs.answers = {true, true};
  EXPECT_EQ(wizard.OnUpgradeClicked(), UpdateOutcome::Updated);

  EXPECT_EQ(view.steps, (std::vector<int>{1, 2, 3, 4, 1, 2, 3, 4, 5}));
  EXPECT_EQ(h.dialogs.questions.size(), 2u);
  EXPECT_EQ(h.dialogs.boxes.size(), 1u);
  EXPECT_TRUE(h.log.Has("# ERROR: \"Update not completed\""));
  EXPECT_EQ(CountKey(h.device->FlashRequests(), kCpuErase), 2u * 448u);  // program rewritten
  ExpectGivenBack(h, view);
  ASSERT_TRUE(Reidentified(h));
  EXPECT_EQ(h.record.Soft.MainVersion, 0x0C06);
  EXPECT_EQ(h.device->ReadExternalFlash(0, 311296), Bytes(DataFlashImage()));
  EXPECT_TRUE(h.device->DataFlashIntact());
}

TEST(UpdateWizardLink, EveryTenthAnswerDroppedStillUpdatesAndTheResendsAreReported) {
  // The data-flash image is cut to its first four sectors (the rest is already in place) so
  // that the run stays brief.
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.mainVersion = 0x0C05; });
  ASSERT_TRUE(h.Connect());
  FirmwareImages images;
  images.dataFlash = DataFlashImage().first(4 * 4096);
  PatientDialogs patient(h);
  DeviceContext context{h.commands, h.record, h.core.manager, h.log,  patient,
                        h.language, h.clock,  h.pump,         h.frame};
  RecordingWizardView view;
  // Answers are dropped while the data flash is written. (A lost answer to a restart command
  // fails its attempt although the device did restart: the resends find it gone.)
  view.onStep = [&](int step) { h.device->SetFaults({.dropEvery = step == 4 ? 10 : 0}); };
  UpdateWizard wizard(context, view, images);
  h.dialogs.answers = {true, false};
  ASSERT_EQ(wizard.OnUpgradeClicked(), UpdateOutcome::Updated)
      << ::testing::PrintToString(view.steps);
  EXPECT_EQ(view.steps, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_GT(h.device->GetCounters().dropped, 40);

  const auto line = std::find_if(h.log.lines.rbegin(), h.log.lines.rend(),
                                 [](const auto& l) { return l.rfind("# REP_CNT:", 0) == 0; });
  ASSERT_NE(line, h.log.lines.rend());
  // About one data-flash answer in ten was dropped and its request sent again.
  EXPECT_GE(std::stoi(line->substr(10)), 40) << *line;
  ASSERT_TRUE(Reidentified(h));
  EXPECT_EQ(h.record.Soft.MainVersion, 0x0C06);
  EXPECT_TRUE(h.device->DataFlashIntact());
  EXPECT_TRUE(h.device->ProgramImageComplete());
}

TEST(UpdateWizardLink, WhatWasWrittenIsReadBackAndADifferenceFailsItsStepByAddress) {
  // The data-flash image is cut to its first four sectors (the rest is already in place).
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.mainVersion = 0x0C05; });
  ASSERT_TRUE(h.Connect());
  FirmwareImages images;
  images.dataFlash = DataFlashImage().first(4 * 4096);
  PatientDialogs patient(h);
  DeviceContext context{h.commands, h.record, h.core.manager, h.log,  patient,
                        h.language, h.clock,  h.pump,         h.frame};
  RecordingWizardView view;
  // Attempt 1 stores one program byte wrong, attempt 2 one data byte; attempt 3 goes through.
  // The program byte is the last of a 256-byte read-back block, the data byte the first of a
  // 32-byte block, so a compare that skips either end of its blocks is caught.
  int attempt = 0;
  view.onStep = [&](int step) {
    if (step == 1) ++attempt;
    sim::Faults faults;
    if (attempt == 1 && step == 2) faults.badWriteAddress = sim::map::kProgramAddress + 0x10FF;
    if (attempt == 2 && step == 4) faults.badWriteAddress = 0x1A80;
    h.device->SetFaults(faults);
  };
  UpdateWizard wizard(context, view, images);
  h.dialogs.answers = {true, true, true};
  EXPECT_EQ(wizard.OnUpgradeClicked(), UpdateOutcome::Updated);
  EXPECT_EQ(view.steps, (std::vector<int>{1, 2, 1, 2, 3, 4, 1, 2, 3, 4, 5}));
  EXPECT_EQ(h.device->GetCounters().badWrites, 2);
  std::vector<std::string> boxes;
  for (const auto& box : h.dialogs.boxes)
    boxes.push_back(box.text);
  EXPECT_EQ(boxes, (std::vector<std::string>{
                       "The written program differs from the image\n\rat address 0x080030FF",
                       "The written data differs from the image\n\rat address 0x001A80",
                       "Congratulations\n\rYour Device successfully\n\rupdated"}));
  EXPECT_EQ(h.dialogs.questions.size(), 3u);  // each box is followed by the retry question
  EXPECT_TRUE(std::any_of(h.log.lines.begin(), h.log.lines.end(), [](const std::string& l) {
    return l.starts_with("# ERROR: \"Verify CPU Flash: A=0x080030FF reads 0x");
  }));
  EXPECT_TRUE(h.log.Has("# Verified: CPU Flash equals the image, 57344 bytes read back"));
  EXPECT_TRUE(h.log.Has("# Verified: EFL equals the image, 16384 bytes read back"));
  EXPECT_TRUE(h.log.Has("# Verified: TQV8 12.6 is the release"));

  // A device whose new program reports another version fails step 3.
  DeviceLinkHarness other([](sim::DeviceConfig& c) {
    c.mainVersion = 0x0C05;
    c.releaseVersion = 0x0C05;
  });
  ASSERT_TRUE(other.Connect());
  RecordingWizardView otherView;
  UpdateWizard otherWizard(other.context, otherView, images);
  other.dialogs.answers = {true, false};
  EXPECT_EQ(otherWizard.OnUpgradeClicked(), UpdateOutcome::Abandoned);
  EXPECT_EQ(otherView.steps, (std::vector<int>{1, 2, 3}));
  ASSERT_EQ(other.dialogs.boxes.size(), 2u);
  EXPECT_EQ(other.dialogs.boxes[0].text,
            "After the update the device reports version 12.5,\n\rnot 12.6");
  EXPECT_TRUE(other.dialogs.boxes[1].text.starts_with("Update not completed at step 3 of 5"))
      << other.dialogs.boxes[1].text;
  EXPECT_TRUE(other.log.Has("# ERROR: \"TQV8 12.5 after the update, not 12.6\""));
}

TEST(UpdateWizardLink, ALostRestartAnswerIsNoFailureButAnotherDeviceStopsTheUpdate) {
  DeviceLinkHarness h([](sim::DeviceConfig& c) { c.mainVersion = 0x0C05; });
  ASSERT_TRUE(h.Connect());
  FirmwareImages images;
  images.dataFlash = DataFlashImage().first(4 * 4096);
  RecordingWizardView view;
  // The answer to the last restart command is lost as the device resets.
  view.onStep = [&](int step) {
    if (step == 5) h.device->SetFaults({.loseAnswerTo = sim::CommandKey(1, 0x05)});
  };
  UpdateWizard wizard(h.context, view, images);
  EXPECT_EQ(wizard.OnUpgradeClicked(), UpdateOutcome::Updated);
  EXPECT_EQ(view.steps, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(h.device->GetCounters().lost, 1);
  EXPECT_EQ(h.dialogs.questions.size(), 1u);
  ASSERT_TRUE(Reidentified(h));

  // Another device comes back from step 3: the update stops with a box, without the retry
  // question and without writing anything to the other device.
  view.onStep = [&](int step) {
    if (step == 3) h.device->SetFaults({.restartAsAnother = true});
  };
  view.steps.clear();
  h.dialogs.boxes.clear();
  h.dialogs.answers = {true};
  const size_t requests = h.device->FlashRequests().size();
  EXPECT_EQ(wizard.OnUpgradeClicked(), UpdateOutcome::OtherDevice);
  EXPECT_EQ(view.steps, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(h.dialogs.questions.size(), 2u);
  ASSERT_EQ(h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(h.dialogs.boxes[0].kind, BoxKind::Error);
  // Where the device the update began with was left: its new program runs, its data flash is
  // not written.
  EXPECT_EQ(h.dialogs.boxes[0].text,
            "Another device answered after the restart\n\r(S/N 325-47698 instead of "
            "214-36587)\n\rThe operation was stopped\n\rUpdate not completed at step 3 of 5: the "
            "device now runs its new main program, its data flash is not updated.\nRunning the "
            "firmware update again restores it.");
  EXPECT_EQ(h.device->FlashRequests().size(), requests + 448 + 1792);  // step 2 only
  EXPECT_TRUE(h.core.manager.LinkWatch);
  EXPECT_EQ(h.frame.busy, 0);
}

}  // namespace
}  // namespace dravion
