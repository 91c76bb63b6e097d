#pragma once

#include <QWidget>

#include "device/settings_controller.h"
#include "device/value_tables.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTimer;
class QPushButton;

namespace dravion {
class Language;
}

namespace dravion::ui {

// The settings page (TabSheet_DevControl): the device's settings in lists and check boxes, its
// clock and its calibration coefficient, with the buttons that run the settings controller.
class SettingsPage : public QWidget, public SettingsView {
  Q_OBJECT
 public:
  explicit SettingsPage(const Language& language, QWidget* parent = nullptr);

  // The sequences behind the buttons; until one is set the buttons do nothing.
  void SetController(SettingsController* controller) { controller_ = controller; }

  // The threshold lists rebuilt for a unit (above 2: counts; negative: the unit used last).
  void FillBackgroundThresholds(int unit);
  void FillDoseThresholds(int unit);

  // SettingsView.
  int Selection(SettingsList list) const override;
  void Select(SettingsList list, int position) override;
  void FillThresholdLists(int unit) override;
  bool Checked(SettingsBox box) const override;
  void SetChecked(SettingsBox box, bool checked) override;
  void ShowTime(const std::string& text) override;
  std::string CalibrationText() const override;
  void SetCalibrationText(const std::string& text) override;
  void SetRestartEnabled(bool enabled) override;
  void ShowClockDrift(const std::string& text) override;

  // Handlers.
  void OnReadClicked();
  void OnWriteClicked();
  void OnDefaultClicked();
  void OnRestartClicked();
  void OnUnitsChanged(int unit);
  void OnWriteTimeClicked();
  void OnSaveCalibrationClicked();
  // True when the typed character is to be dropped.
  bool AcceptsCalibrationKey(char32_t key);

  // Texts that follow the interface language beyond the captions: the coefficient's decimal
  // separator.
  void ApplyLanguage();
  // The page's Tab stops in the order Tab visits them.
  QList<QWidget*> TabOrder() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // While the page is shown, the clock comparison is refreshed every second.
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QComboBox* List(SettingsList list) const;
  QCheckBox* Box(SettingsBox box) const;
  void RebuildThresholds(QComboBox* list, const std::vector<std::string>& items);

  const Language& language_;
  SettingsController* controller_ = nullptr;
  ThresholdUnit thresholdUnit_;
  QComboBox* lists_[kSettingsListCount] = {};
  QCheckBox* boxes_[5] = {};
  QLineEdit* time_ = nullptr;
  QLabel* drift_ = nullptr;
  QTimer* driftTimer_ = nullptr;
  QLineEdit* calibration_ = nullptr;
  QPushButton* reset_ = nullptr;
};

}  // namespace dravion::ui
