#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

#include "device/history_controller.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QBoxLayout;
class QFileDialog;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;

namespace dravion {
class ArchivePane;
class Language;
struct DeviceContext;
}  // namespace dravion

namespace dravion::ui {

class ArchivePeriodPanel;
class HistoryChart;

// The history page (TabSheet_DevHistory): read with progress and cancel, save CSV, delete, the
// chart with its navigation row, and the access message. The sequences are the history
// controller's; this page shows what it says and passes the clicks on.
class HistoryPage : public QWidget, public HistoryView {
  Q_OBJECT
 public:
  HistoryPage(const Language& language, QWidget* parent = nullptr);
  ~HistoryPage() override;

  // Creates the controller on the device session and wires the page's handlers to it; Detach
  // undoes that before the session goes.
  void Attach(DeviceContext& context);
  void Detach();
  HistoryController* Controller() const { return controller_.get(); }
  ArchivePane* Archive() const { return pane_.get(); }
  HistoryChart* Chart() const { return chart_; }
  // The archive view's period, its figures and its files.
  ArchivePeriodPanel* Period() const { return period_; }
  // The CSV save dialog (SaveDialog1), made on first use.
  QFileDialog* SaveDialog();

  // Captions that depend on the page's state, in the current language.
  void ApplyLanguage();
  // The read button as Cancel (tag 1) while a download runs, else Read (tag 0).
  void ShowReadingCaption(bool reading);
  // Read new is offered while the archive holds the connected device (asked again after each
  // identification and each download).
  void UpdateReadNew();
  // Reads the new records in the background (the setting "Download new history when the device
  // is connected"): every page stays usable, the progress shows in the status bar, and a click
  // on a device button cancels the read and then does what it asked for. Boxes of the read go
  // to the log. False when a read already runs.
  bool StartBackgroundReadNew();
  bool BackgroundReading() const { return background_; }
  // Where the status bar's progress goes during a background read (percent, 0 at the end).
  std::function<void(int)> BackgroundProgress;
  // Told whenever a download starts or ends (the window's page-change guard).
  std::function<void(bool)> ReadingChanged;
  // Runs the save dialog; tests replace it. Default: the modal SaveDialog1.
  std::function<bool(QFileDialog*)> RunSaveDialog;
  // Saves the chart as a PNG file; false and an error box when it cannot be written.
  bool SaveChartImage(const QString& fileName);

  // HistoryView.
  void ShowVersionMessage(const std::string& text) override;
  void SetReading(bool reading) override;
  void SetDeleteEnabled(bool enabled) override;
  void SetSaveEnabled(bool enabled) override;
  void SetNavigationEnabled(bool enabled) override;
  void SetProgressMaximum(int maximum) override;
  void SetProgress(int position) override;
  void ShowChart(const HistoryChartData& chart) override;
  void ShowSummary(const std::string& text) override;
  bool ShowMaximumTicked() const override;
  bool AskSaveFileName(const SaveFileRequest& request, std::string& name) override;

 private:
  QString LangText(const char* russian, const char* english) const;
  void Build();
  // The switch between the download and the archive, and the line the merge leaves.
  void BuildArchiveControls(QBoxLayout* column);
  void ApplyArchiveLanguage();
  bool ArchiveShown() const;
  // 0: the download; 1: the archive (false when it holds nothing to show).
  void OnSourceChosen(int source);
  void OnDownloadCompleted();
  void OnReadNewClicked();
  // During a background read: a press on a device button cancels the read and is held until
  // it has ended.
  bool eventFilter(QObject* watched, QEvent* event) override;
  void ShowChartMenu(const QPoint& at);

  const Language& language_;
  DeviceContext* context_ = nullptr;
  std::unique_ptr<HistoryController> controller_;
  std::unique_ptr<ArchivePane> pane_;
  QComboBox* source_ = nullptr;
  QLabel* archiveMessage_ = nullptr;
  QPushButton* read_ = nullptr;
  QPushButton* readNew_ = nullptr;
  bool readingNew_ = false;  // the read under way was started by Read new
  bool background_ = false;  // the read under way runs in the background
  int progressMaximum_ = 1;
  QPointer<QAbstractButton> heldClick_;  // a device button pressed during a background read
  QPushButton* save_ = nullptr;
  QPushButton* delete_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* message_ = nullptr;
  HistoryChart* chart_ = nullptr;
  ArchivePeriodPanel* period_ = nullptr;
  QWidget* buttons_ = nullptr;
  QCheckBox* showMaximum_ = nullptr;
  QLabel* summary_ = nullptr;
  QPushButton* newest_ = nullptr;
  QFileDialog* saveDialog_ = nullptr;
  QMenu* chartMenu_ = nullptr;
  QObject* attachment_ = nullptr;  // owns the connections to the controller
};

}  // namespace dravion::ui
