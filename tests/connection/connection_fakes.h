#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "connection/connected_device.h"
#include "connection/connection_port.h"
#include "connection/connection_view.h"
#include "services/log_sink.h"
#include "support/fakes.h"

namespace dravion::connection_test {

// Remembers what the connection manager showed, latest state and every change.
class RecordingView : public ConnectionView {
 public:
  void ShowStatus(const std::string& text, StatusStyle style) override {
    status = text;
    statusStyle = style;
    statusHistory.push_back(text);
  }
  void ShowLink(LinkState state, uint32_t colour, const std::string& text) override {
    link = state;
    linkColour = colour;
    linkText = text;
    linkHistory.push_back(state);
  }
  void ShowPortPanel(const std::string& text) override { portPanel = text; }
  void SetUpdateButtonEnabled(bool enabled) override { updateEnabled = enabled; }
  void SetAutoChecked(bool checked) override { autoChecked = checked; }
  void SetManualCaption(const std::string& caption) override { manualCaption = caption; }
  void ClearDeviceInformation() override { ++memoClears; }

  std::string status;
  StatusStyle statusStyle = StatusStyle::Neutral;
  std::vector<std::string> statusHistory;
  LinkState link = LinkState::NOK;
  uint32_t linkColour = 0;
  std::string linkText;
  std::vector<LinkState> linkHistory;
  std::string portPanel;
  bool updateEnabled = false;
  bool autoChecked = true;
  std::string manualCaption;
  int memoClears = 0;
};

using RecordingLog = test::RecordingLog;

}  // namespace dravion::connection_test
