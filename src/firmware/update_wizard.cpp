#include "firmware/update_wizard.h"

#include "connection/connection_manager.h"
#include "connection/connection_view.h"
#include "device/device_context.h"
#include "firmware/device_mode.h"
#include "firmware/firmware_release.h"
#include "services/dialogs.h"
#include "services/language.h"

namespace dravion {

UpdateWizard::UpdateWizard(DeviceContext& context, UpdateWizardView& view, FirmwareImages images)
    : context_(context), view_(view), images_(std::move(images)) {}

std::string UpdateWizard::QuestionText() const {
  const std::string numbers = ReleaseNumbersText();
  return context_.language.Text(
      "Прошивка прибора\n\rбудет обновлена/восстановление\n\rдо версии 1.20." + numbers +
          "\n\rПродолжить?",
      "Device Firmaere\n\rwill Updated/Restored\n\rto Version 1.20." + numbers + "\n\rContinue?");
}

std::string UpdateWizard::StepText(int step) const {
  static const char* const kTexts[5][2] = {
      {"Шаг 1 из 5: Запуск BOOT", "Step 1 of 5: Start BOOT"},
      {"Шаг 2 из 5: Запись прошивки программы", "Step 2 of 5: Writing Firmware Programm"},
      {"Шаг 3 из 5: Запуск обновленной программы", "Step 3 of 5: Starting updated Programm"},
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

void UpdateWizard::ShowStep(int step) {
  context_.connection.ShowStatus(StepText(step), static_cast<int>(StatusStyle::Progress));
  view_.StepStarted(step);
}

int UpdateWizard::Attempt() {
  context_.connection.LinkWatch = false;
  context_.frame.ShowBusy(kBusyIntervalMs);
  ShowStep(1);
  if (ResetToBoot(context_) != 0 || CheckDeviceMode(context_) != 0) return 1;
  ShowStep(2);
  if (!UpdateProgramFlash(context_, images_)) return 2;
  ShowStep(3);
  if (ResetToMain(context_) != 0 || CheckDeviceMode(context_) != 1) return 3;
  ShowStep(4);
  if (!UpdateDataFlash(context_, images_.dataFlash)) return 4;
  ShowStep(5);
  if (ResetToMain(context_) != 0) return 5;
  return 0;
}

UpdateOutcome UpdateWizard::BitBtn_ReNewDeviceInfoClick() {
  const std::string question = QuestionText();
  ConnectionManager& connection = context_.connection;
  if (!connection.Connected || !connection.Identified) return UpdateOutcome::NotStarted;
  if (!context_.dialogs.Ask(QuestionKind::Warning, question)) return UpdateOutcome::NotStarted;

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

  for (;;) {
    const int failedStep = Attempt();
    context_.frame.HideBusy();
    connection.LinkWatch = true;
    connection.Connected = false;  // identified afresh, with the versions it now runs
    if (failedStep == 0) {
      context_.dialogs.ShowMessage(BoxKind::Information, SuccessText());
      return UpdateOutcome::Updated;
    }
    if (!context_.dialogs.Ask(QuestionKind::Error, RetryText())) return UpdateOutcome::Abandoned;
  }
}

}  // namespace dravion
