#pragma once

#include <QWidget>

#include "device/measurement.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace dravion::ui {

// The measuring page (TabSheet_Measuring): the Read button, the auto-read box, the dose reset
// and the version message on the left; the dose rate with its level bar and the accumulated
// dose, each with its blinking indicator. It shows what the measurement controller tells it and
// hands the clicks to it.
class MeasurementPage : public QWidget, public MeasurementView {
  Q_OBJECT
 public:
  explicit MeasurementPage(QWidget* parent = nullptr);

  // The controller that the buttons and the box call; null leaves them without effect.
  void SetController(MeasurementController* controller) { controller_ = controller; }

  void ShowRate(const std::string& text) override;
  void ShowDose(const std::string& text) override;
  void ShowLevel(int position) override;
  void ShowRateIndicator(bool lit) override;
  void ShowDoseIndicator(bool lit) override;
  void ShowVersionMessage(const std::string& text) override;
  // The page is the current page of the page control it sits in.
  bool PageActive() override;
  bool AutoReadChecked() override;
  bool ReadEnabled() override;
  void SetReadEnabled(bool enabled) override;

 private:
  void ShowIndicator(QLabel* indicator, bool lit);

  MeasurementController* controller_ = nullptr;
  QPushButton* read_ = nullptr;
  QCheckBox* autoRead_ = nullptr;
  QPushButton* reset_ = nullptr;
  QLabel* message_ = nullptr;
  QLabel* rate_ = nullptr;
  QLabel* dose_ = nullptr;
  QLabel* rateIndicator_ = nullptr;
  QLabel* doseIndicator_ = nullptr;
  QProgressBar* bar_ = nullptr;
};

}  // namespace dravion::ui
