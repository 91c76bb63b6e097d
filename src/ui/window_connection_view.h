#pragma once

#include <QString>
#include <functional>

#include "connection/connection_view.h"
#include "ui/main_window.h"

namespace dravion::ui {

// The connection manager's view on the main window's status bar, menu and device page.
class WindowConnectionView : public ConnectionView {
 public:
  explicit WindowConnectionView(MainWindow& form) : form_(form) {}

  void ShowStatus(const std::string& text, StatusStyle style) override {
    form_.ShowStatus(QString::fromStdString(text), static_cast<int>(style));
  }
  void ShowLink(LinkState, uint32_t colour, const std::string& text) override {
    form_.ShowLink(colour, QString::fromStdString(text));
  }
  void ShowPortPanel(const std::string& text) override {
    form_.ShowPortPanel(QString::fromStdString(text));
  }
  void SetUpdateButtonEnabled(bool enabled) override { form_.SetUpdateButtonEnabled(enabled); }
  void SetAutoChecked(bool checked) override { form_.SetAutoChecked(checked); }
  void SetManualCaption(const std::string& caption) override {
    form_.SetManualCaption(QString::fromStdString(caption));
  }
  void ClearDeviceInformation() override {
    if (InformationCleared)
      InformationCleared();
    else
      form_.ClearDeviceInformation();
  }
  // The About-device page's own handling of a device gone, when set.
  std::function<void()> InformationCleared;

 private:
  MainWindow& form_;
};

}  // namespace dravion::ui
