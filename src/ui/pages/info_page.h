#pragma once

#include <QWidget>

#include "firmware/device_information_view.h"
#include "firmware/update_wizard.h"

class QPushButton;
class QTextEdit;

namespace dravion::ui {

// The About-device page (TabSheet_DevInfo): the memo Memo_Info with what identification found,
// and the update button BitBtn_ReNewDeviceInfo below it.
class InfoPage : public QWidget, public DeviceInformationView, public UpdateWizardView {
  Q_OBJECT
 public:
  explicit InfoPage(QWidget* parent = nullptr);

  void ShowInformationLines(const std::vector<std::string>& lines) override;
  void SetUpdateButtonEnabled(bool enabled) override;

  QTextEdit* Memo() const { return memo_; }
  QPushButton* UpdateButton() const { return update_; }

 private:
  QTextEdit* memo_ = nullptr;
  QPushButton* update_ = nullptr;
};

}  // namespace dravion::ui
