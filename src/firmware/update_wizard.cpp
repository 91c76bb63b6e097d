#include "firmware/update_wizard.h"

#include "connection/connection_manager.h"
#include "connection/connection_view.h"
#include "connection/device_mode.h"
#include "device/device_context.h"
#include "firmware/firmware_release.h"
#include "firmware/flash_verify.h"
#include "protocol/commands.h"
#include "protocol/device_format.h"
#include "protocol/identification.h"
#include "services/clock.h"
#include "services/dialogs.h"
#include "services/event_pump.h"
#include "services/language.h"
#include "services/log_sink.h"

namespace dravion {
namespace {

// How often a retry looks whether the device is back.
constexpr int kRetryPollMs = 100;

}  // namespace

UpdateWizard::UpdateWizard(DeviceContext& context, UpdateWizardView& view, FirmwareImages images)
    : context_(context), view_(view), images_(std::move(images)) {}

std::string UpdateWizard::QuestionText() const {
  const std::string numbers = ReleaseNumbersText();
  return context_.language.Text(
      "Прошивка прибора\n\rбудет обновлена или восстановлена\n\rдо версии 1.20." + numbers +
          "\n\rОбновление займёт около двух минут.\n\rНе отключайте прибор, пока оно не "
          "закончится.\n\rПродолжить?",
      "The device firmware\n\rwill be updated or restored\n\rto version 1.20." + numbers +
          "\n\rThe update takes about two minutes.\n\rKeep the device plugged in until it "
          "ends.\n\rContinue?");
}

std::string UpdateWizard::StepText(int step) const {
  static const char* const kTexts[5][2] = {
      {"Шаг 1 из 5: Запуск BOOT", "Step 1 of 5: Start BOOT"},
      {"Шаг 2 из 5: Запись прошивки программы", "Step 2 of 5: Writing Program Firmware"},
      {"Шаг 3 из 5: Запуск обновленной программы", "Step 3 of 5: Starting updated Program"},
      {"Шаг 4 из 5: Запись прошивки данных", "Step 4 of 5: Writing Firmware Data"},
      {"Шаг 5 из 5: Перезапуск прибора", "Step 5 of 5: Reset Device"},
  };
  if (step < 1 || step > 5) return {};
  return context_.language.Text(kTexts[step - 1][0], kTexts[step - 1][1]);
}

std::string UpdateWizard::SuccessText() const {
  return context_.language.Text("Поздравляем!!!\n\rВаш прибор\n\rблагополучно обновлен!!!",
                                "Congratulations\n\rYour Device successfully\n\rupdated");
}

std::string UpdateWizard::RetryText() const {
  return context_.language.Text("Ошибка обновления\n\rПопыытаться повторить еще раз?",
                                "Error of Update\n\rTry again?");
}

std::string UpdateWizard::InterruptedText(int step) const {
  return StoppedText(step, true);
}

std::string UpdateWizard::SessionEndReasonText() const {
  return context_.language.Text(
      "Обновляется прошивка прибора. Не завершайте сеанс, пока обновление не закончится.",
      "The device's firmware is being written. Do not sign out or shut down until it ends.");
}

std::string UpdateWizard::NotCompletedText(int step) const {
  return StoppedText(step, false);
}

std::string UpdateWizard::StoppedText(int step, bool interrupted) const {
  const std::string at = std::to_string(step);
  const Language& l = context_.language;
  const std::string ru = interrupted ? "Обновление прервано" : "Обновление не завершено";
  const std::string en = interrupted ? "Update interrupted" : "Update not completed";
  switch (reached_) {
    case Reached::Unchanged:
      return l.Text(ru + (interrupted ? " до начала" : "") + ": прибор не изменён.",
                    en + (interrupted ? " before it began" : "") + ": the device is unchanged.");
    case Reached::BootLoader:
      return l.Text(ru + " на шаге " + at +
                        " из 5: прибор сейчас в загрузчике (BOOT).\nПовторный запуск обновления "
                        "прошивки восстановит его.",
                    en + " at step " + at +
                        " of 5: the device is now in its boot loader (BOOT).\nRunning the "
                        "firmware update again restores it.");
    case Reached::NewMainProgram:
      return l.Text(ru + " на шаге " + at +
                        " из 5: прибор сейчас в новой основной программе, память данных не "
                        "обновлена.\nПовторный запуск обновления прошивки восстановит её.",
                    en + " at step " + at +
                        " of 5: the device now runs its new main program, its data flash is not "
                        "updated.\nRunning the firmware update again restores it.");
    case Reached::Written:
      break;
  }
  return l.Text(ru + " на шаге " + at +
                    " из 5: обе памяти записаны, прибор в обновлённой основной программе.",
                en + " at step " + at +
                    " of 5: both flashes are written, the device runs its updated main program.");
}

bool UpdateWizard::QuitRequested() const {
  return context_.pump.QuitRequested();
}

void UpdateWizard::ShowStep(int step) {
  context_.connection.ShowStatus(StepText(step), static_cast<int>(StatusStyle::Progress));
  view_.StepStarted(step);
}

RestartLink UpdateWizard::Link() const {
  RestartLink link = context_.Link();
  link.expected = expected_;
  return link;
}

bool UpdateWizard::DeviceBack() {
  ConnectionManager& connection = context_.connection;
  connection.LinkWatch = true;
  const uint32_t start = context_.clock.TickMs();
  bool back = true;
  while (!connection.Connected || !connection.Identified) {
    if (QuitRequested()) {
      connection.LinkWatch = false;
      return false;
    }
    if (TicksSince(start, context_.clock.TickMs()) >= static_cast<uint32_t>(kRestartWaitMs)) {
      back = false;
      break;
    }
    Delay(context_.pump, context_.clock, kRetryPollMs);
  }
  connection.LinkWatch = false;
  if (!back) {
    context_.log.LogError("Device not found again");
    return false;
  }
  if (expected_ && IdentityOf(context_.device) != expected_) {
    context_.log.LogError("Another device connected: S/N " +
                          FormatSerial(SerialBytes(context_.device.Factory), "-"));
    otherDevice_ = true;
    return false;
  }
  return true;
}

bool UpdateWizard::Restarted(int result) {
  if (result == kRestartOtherDevice) otherDevice_ = true;
  return result == 0;
}

bool UpdateWizard::ReleaseRuns() {
  const Cached<SoftInfo>& soft = context_.commands.CachedSoftInfo();
  const uint16_t version = soft.present ? soft.value.MainVersion : 0;
  if (version == ReleaseVersion) {
    context_.log.LogLine("# Verified: TQV8 " + FormatVersion(version) + " is the release");
    return true;
  }
  context_.log.LogError("TQV8 " + FormatVersion(version) + " after the update, not " +
                        FormatVersion(ReleaseVersion));
  problem_ = context_.language.Text(
      "После обновления прибор сообщает версию " + FormatVersion(version) + ",\n\rа не " +
          FormatVersion(ReleaseVersion),
      "After the update the device reports version " + FormatVersion(version) + ",\n\rnot " +
          FormatVersion(ReleaseVersion));
  return false;
}

bool UpdateWizard::ProgramVerified() {
  DeviceCommands& commands = context_.commands;
  const uint8_t revision = commands.CachedBoardInfo().value.HardwareRevision;
  const std::span<const uint8_t> image =
      images_.programFor ? images_.programFor(revision) : std::span<const uint8_t>();
  const FlashCheck check = VerifyProgramFlash(context_, commands.ProgramAddress(), image);
  if (check.result == FlashCheck::Result::Differs) {
    const std::string at = HexText(check.address, 8);
    problem_ =
        context_.language.Text("Записанная программа не совпадает с образом\n\rпо адресу " + at,
                               "The written program differs from the image\n\rat address " + at);
  }
  return check.Same();
}

bool UpdateWizard::DataVerified() {
  const FlashCheck check = VerifyDataFlash(context_, images_.dataFlash);
  if (check.result == FlashCheck::Result::Differs) {
    const std::string at = HexText(check.address, 6);
    problem_ =
        context_.language.Text("Записанные данные не совпадают с образом\n\rпо адресу " + at,
                               "The written data differs from the image\n\rat address " + at);
  }
  return check.Same();
}

int UpdateWizard::Attempt() {
  // A sign-out, restart or shut-down would cut a write short and leave the device in its boot
  // loader or with a partial data flash: Windows waits until the attempt ends.
  struct SessionEndHold {
    DeviceFrame& frame;
    SessionEndHold(DeviceFrame& f, const std::string& reason) : frame(f) {
      frame.HoldSessionEnd(reason);
    }
    ~SessionEndHold() { frame.ReleaseSessionEnd(); }
  } hold(context_.frame, SessionEndReasonText());
  problem_.clear();
  context_.frame.ShowBusy(kBusyIntervalMs);
  // A request to end is looked at before each step (and inside the long ones), so the update
  // stops between exchanges with the device in a state that `reached_` names.
  ShowStep(1);
  if (QuitRequested()) return 1;
  // A retry begins once the device is back (the first attempt finds it at once).
  if (!DeviceBack()) return 1;
  const RestartLink link = Link();
  // Until a restart's outcome is known, the device is taken to be where the restart sends it; one
  // that came back in the other program is where it was.
  const Reached before = reached_;
  reached_ = Reached::BootLoader;
  const int toBoot = ResetToBoot(link);
  if (toBoot == -2) reached_ = before;
  if (!Restarted(toBoot) || CheckDeviceMode(link) != 0) return 1;
  ShowStep(2);
  if (QuitRequested() || !UpdateProgramFlash(context_, images_) || !ProgramVerified()) return 2;
  ShowStep(3);
  if (QuitRequested()) return 3;
  reached_ = Reached::NewMainProgram;
  const int toMain = ResetToMain(link);
  if (toMain == -2) reached_ = Reached::BootLoader;
  if (!Restarted(toMain) || CheckDeviceMode(link) != 1 || !ReleaseRuns()) return 3;
  ShowStep(4);
  if (QuitRequested() || !UpdateDataFlash(context_, images_.dataFlash) || !DataVerified()) {
    return 4;
  }
  reached_ = Reached::Written;
  ShowStep(5);
  if (QuitRequested() || !Restarted(ResetToMain(link)) || !ReleaseRuns()) return 5;
  return 0;
}

UpdateOutcome UpdateWizard::OnUpgradeClicked() {
  const std::string question = QuestionText();
  ConnectionManager& connection = context_.connection;
  if (!connection.Connected || !connection.Identified) return UpdateOutcome::NotStarted;
  if (!context_.dialogs.Ask(QuestionKind::Warning, question)) return UpdateOutcome::NotStarted;
  expected_ = IdentityOf(context_.device);
  otherDevice_ = false;

  // The button and the pages come back on every path out of here.
  struct Locked {
    UpdateWizard& wizard;
    explicit Locked(UpdateWizard& w) : wizard(w) {
      wizard.view_.SetUpdateButtonEnabled(false);
      wizard.context_.frame.SetPagesEnabled(false);
    }
    ~Locked() {
      wizard.view_.SetUpdateButtonEnabled(true);
      wizard.context_.frame.SetPagesEnabled(true);
    }
  } locked(*this);

  reached_ = Reached::Unchanged;
  for (;;) {
    const int failedStep = Attempt();
    context_.frame.HideBusy();
    connection.LinkWatch = true;
    connection.ReconnectDevice();  // identified afresh, with the versions it now runs
    if (failedStep == 0) {
      context_.dialogs.ShowMessage(BoxKind::Information, SuccessText());
      return UpdateOutcome::Updated;
    }
    if (QuitRequested()) {
      context_.log.LogLine("==> Update interrupted at step " + std::to_string(failedStep));
      context_.dialogs.ShowMessage(BoxKind::Warning, InterruptedText(failedStep));
      return UpdateOutcome::Interrupted;
    }
    // Every way out of a failed update says where it left the device.
    if (otherDevice_) {
      context_.log.LogLine("==> Update stopped at step " + std::to_string(failedStep));
      const std::string where = "\n\r" + NotCompletedText(failedStep);
      context_.dialogs.ShowMessage(
          BoxKind::Error,
          expected_
              ? OtherDeviceText(context_.language, *expected_, IdentityOf(context_.device)) + where
              : NotCompletedText(failedStep));
      return UpdateOutcome::OtherDevice;
    }
    if (!problem_.empty()) context_.dialogs.ShowMessage(BoxKind::Error, problem_);
    if (!context_.dialogs.Ask(QuestionKind::Error, RetryText())) {
      context_.log.LogLine("==> Update stopped at step " + std::to_string(failedStep));
      context_.dialogs.ShowMessage(BoxKind::Warning, NotCompletedText(failedStep));
      return UpdateOutcome::Abandoned;
    }
  }
}

}  // namespace dravion
