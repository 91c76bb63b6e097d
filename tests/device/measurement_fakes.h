#pragma once

#include <string>
#include <vector>

#include "device/measurement.h"

namespace dravion::device_test {

// The measuring page as a recorder: what it shows now, every rate and dose text shown in order,
// and the page state the controller asks for (active and auto-read ticked by default).
class RecordingMeasurementView : public MeasurementView {
 public:
  void ShowRate(const std::string& text) override {
    rate = text;
    rates.push_back(text);
  }
  void ShowDose(const std::string& text) override {
    dose = text;
    doses.push_back(text);
  }
  void ShowLevel(int position) override { level = position; }
  void ShowRateIndicator(bool lit) override { rateLit = lit; }
  void ShowDoseIndicator(bool lit) override { doseLit = lit; }
  void ShowVersionMessage(const std::string& text) override { message = text; }
  bool PageActive() override { return pageActive; }
  bool AutoReadChecked() override { return autoRead; }
  bool ReadEnabled() override { return readEnabled; }
  void SetReadEnabled(bool enabled) override {
    readEnabled = enabled;
    readStates.push_back(enabled);
  }

  // Rate texts shown that were values, not dashes.
  std::vector<std::string> Values() const {
    std::vector<std::string> out;
    for (const std::string& r : rates)
      if (r != kMeasureDashes) out.push_back(r);
    return out;
  }

  std::string rate = "----";
  std::string dose = "----";
  std::vector<std::string> rates;
  std::vector<std::string> doses;
  int level = -1;
  bool rateLit = false;
  bool doseLit = false;
  std::string message;
  bool pageActive = true;
  bool autoRead = true;
  bool readEnabled = false;
  std::vector<bool> readStates;
};

}  // namespace dravion::device_test
