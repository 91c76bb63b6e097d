#pragma once

#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <map>

#include "device/value_tables.h"
#include "lifecycle/app_lifecycle.h"
#include "log/report_upload.h"
#include "log/session_log.h"
#include "services/language.h"
#include "services/option_store.h"
#include "ui/page_control.h"
#include "ui/qt_translations.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QToolButton;

namespace dravion::ui {

class HistoryChart;
class SettingsPage;
class MeasurementPage;
class HistoryPage;
class InfoPage;
class LogPage;
class AboutWindow;
class BusyWindow;

// The main window: five pages, the status bar, the main menu with its actions, the log memo's
// pop-up menu and the two timers. Device pages carry all their controls; their handlers are
// filled in by the device subsystems.
class MainWindow : public QMainWindow,
                   public LifecycleWindow,
                   public LogObserver,
                   public UploadStatusView {
  Q_OBJECT
 public:
  MainWindow(Language& language, OptionStore& options, QWidget* parent = nullptr);
  ~MainWindow() override;

  void SetSecondaryWindows(BusyWindow* busy, AboutWindow* about);
  BusyWindow* Busy() const { return busy_; }
  AboutWindow* About() const { return about_; }

  // Interface language.
  void ApplyLanguage() override;
  void SetCaptions();
  void OnLanguageTriggered();
  Language& CurrentLanguage() { return language_; }

  // Threshold lists of the settings page for a unit (negative: the unit used last).
  void FillBackgroundThresholds(int unit);
  void FillDoseThresholds(int unit);
  SettingsPage* Settings() const { return settingsPage_; }

  // The start-up and shut-down steps of the window.
  void SetActivePage(int page) override;
  int ActivePage() override;
  void HideLogPage() override;

  // The log memo mirrors the run's log; Clear Report empties the log.
  void SetLog(SessionLog* log);
  void OnLogLineAdded(const std::string& line) override;
  void OnLogLastLineReplaced(const std::string& line) override;
  void OnLogCleared() override;

  // The report upload's texts and progress in the bottom panel.
  void ShowUploadText(const std::string& text) override;
  void ShowUploadProgress(int percent) override;

  // The status bar.
  void ShowStatus(const QString& text, int style);
  void ShowLink(uint32_t rgb, const QString& text);
  void ShowPortPanel(const QString& text);
  // The connection manager's other marks on the window.
  void SetUpdateButtonEnabled(bool enabled);
  void SetAutoChecked(bool checked);  // false: the manual action is the checked one
  void SetManualCaption(const QString& caption);
  void ClearDeviceInformation();
  void SetProgress(int percent);
  // While a firmware write runs, Windows holds the end of the session off: the window gives it
  // the reason to show (ShutdownBlockReasonCreate), and the session-end filter answers
  // WM_QUERYENDSESSION with FALSE while SessionEndHeld. Holds nest.
  void HoldSessionEnd(const QString& reason);
  void ReleaseSessionEnd();
  bool SessionEndHeld() const { return sessionEndHolds_ > 0; }

  // History download state: the read button then reads Cancel and the page cannot be left.
  void SetHistoryReading(bool reading);
  bool HistoryReading() const { return historyReading_; }
  // The setting "Download new history when the device is connected".
  bool HistorySyncChecked() const;
  bool OnPageChanging();

  // The page control (every page's controls) enabled or not, while a device operation runs.
  void SetPagesEnabled(bool enabled);
  bool PagesEnabled() const;

  // Busy animation (BusyWindow) over this window.
  void ShowBusy(int interval);
  void HideBusy();

  // The 100 ms heartbeat and the connection tick call these when set.
  void SetHeartbeat(std::function<void()> heartbeat) { heartbeat_ = std::move(heartbeat); }
  void SetConnectionTick(std::function<void()> tick) { connectionTick_ = std::move(tick); }

  // Closing. While `busy` answers true (a device exchange is waiting or an operation runs), a
  // close is deferred: it happens when OperationEnded is called with nothing running any more.
  void SetBusyProbe(std::function<bool()> busy) { busyProbe_ = std::move(busy); }
  void OperationEnded();
  bool CloseRequested() const { return closeRequested_; }

  // The log memo (Memo_Log), with every line logged so far; `AppendLogLine` /
  // `ReplaceLastLogLine` keep it in step with the log.
  QPlainTextEdit* LogMemo();
  void AppendLogLine(const QString& line);
  void ReplaceLastLogLine(const QString& line);
  void ClearLogMemo();

  HistoryChart* Chart() const;
  MeasurementPage* MeasuringPage() const { return measuringPage_; }
  HistoryPage* History() const { return historyPage_; }
  InfoPage* DeviceInfoPage() const { return infoPage_; }
  QAction* ActionByName(const QString& name) const;
  // The main menu (MainMenu1); the language switch sits beside it.
  QMenuBar* MainMenu() const { return mainMenu_; }

  // Idle updates of the actions (captions and images that follow a state).
  void UpdateActions();

 signals:
  void Closed();                   // the window accepted its close
  void LogCleared();               // Action_LOG_Clear
  void BarDoubleClicked(int bar);  // OnBarDoubleClicked: a bar of Maximum or Rate
  void LanguageChanged();          // the interface language was applied anew

 public slots:
  void OnHeartbeatTimer();
  void OnConnectionTimer();
  void OnExitTriggered();
  void OnShowLogTriggered();
  void OnClearLogTriggered();
  void OnAboutTriggered();
  void OnInternetSourceTriggered();
  void OnLocalSourceTriggered();
  void OnActivated();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QAction* NewAction(const char* name, const QString& text, int image = -1);
  void SetImage(QAction* action, int index);
  void BuildActions();
  void BuildMenu();
  QWidget* BuildStatusBar();
  QWidget* BuildHistoryPage();
  QWidget* BuildInfoPage();
  void RebuildList(QComboBox* list, const QStringList& items);
  template <typename T>
  T* Named(T* widget, const char* name);

  Language& language_;
  OptionStore& options_;
  QtTranslations qtTranslations_;
  SessionLog* log_ = nullptr;
  BusyWindow* busy_ = nullptr;
  AboutWindow* about_ = nullptr;

  PageControl* pageControl_ = nullptr;
  MeasurementPage* measuringPage_ = nullptr;
  LogPage* logPage_ = nullptr;
  QMenu* popupLog_ = nullptr;
  HistoryPage* historyPage_ = nullptr;
  InfoPage* infoPage_ = nullptr;
  QMenuBar* mainMenu_ = nullptr;
  QToolButton* languageButton_ = nullptr;
  QLabel* panelCom_ = nullptr;
  QLabel* panelConnection_ = nullptr;
  QLabel* panelInfo_ = nullptr;
  QProgressBar* progressInfo_ = nullptr;
  SettingsPage* settingsPage_ = nullptr;
  QTimer* timerProc_ = nullptr;
  QTimer* timerConnection_ = nullptr;
  std::map<QString, QAction*> actions_;

  bool historyReading_ = false;
  int sessionEndHolds_ = 0;
  bool closeRequested_ = false;
  bool minimumSet_ = false;
  std::function<void()> heartbeat_;
  std::function<void()> connectionTick_;
  std::function<bool()> busyProbe_;
};

}  // namespace dravion::ui
