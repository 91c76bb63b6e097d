#pragma once

#include <QMainWindow>
#include <QTabWidget>
#include <QTimer>
#include <functional>
#include <map>

#include "device/value_tables.h"
#include "lifecycle/app_lifecycle.h"
#include "log/report_upload.h"
#include "log/session_log.h"
#include "services/language.h"
#include "services/option_store.h"

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
class TForm2;
class TForm3;

// The page control: a tab widget whose page changes by the user (mouse, wheel, keys) ask
// `Changing` first and are refused when it answers false. Changes made by the program pass.
class PageControl : public QTabWidget {
  Q_OBJECT
 public:
  explicit PageControl(QWidget* parent = nullptr);
  std::function<bool()> Changing;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// The main window: five pages, the status bar, the main menu with its actions, the log memo's
// pop-up menu and the two timers. Device pages carry all their controls; their handlers are
// filled in by the device subsystems.
class TForm1 : public QMainWindow,
               public LifecycleWindow,
               public LogObserver,
               public UploadStatusView {
  Q_OBJECT
 public:
  TForm1(Language& language, OptionStore& options, QWidget* parent = nullptr);
  ~TForm1() override;

  void SetSecondaryWindows(TForm3* busy, TForm2* about);
  TForm3* Busy() const { return busy_; }
  TForm2* About() const { return about_; }

  // Interface language.
  void ApplyLanguage() override;
  void SetCaptions();
  void Action_LanguageExecute();
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

  // History download state: the read button then reads Cancel and the page cannot be left.
  void SetHistoryReading(bool reading);
  bool HistoryReading() const { return historyReading_; }
  bool PageControl1Changing();

  // The page control (every page's controls) enabled or not, while a device operation runs.
  void SetPagesEnabled(bool enabled);
  bool PagesEnabled() const;

  // Busy animation (TForm3) over this window.
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

  // The log memo; `AppendLogLine` / `ReplaceLastLogLine` keep it in step with the log.
  // The log memo (Memo_Log), with every line logged so far.
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
  void BarDoubleClicked(int bar);  // Series1DblClick: a bar of Series1 or Series2
  void LanguageChanged();          // the interface language was applied anew

 public slots:
  void Timer_ProcTimer();
  void Timer_ConnectionTimer();
  void Action_ExitExecute();
  void Action_Log_VisibleExecute();
  void Action_LOG_ClearExecute();
  void Action_Help_AboutExecute();
  void Action_Data_Source_InternetExecute();
  void Action_Data_Source_LocalExecute();
  void FormActivate();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Puts the lines logged since the last turn of the event loop into the memo.
  void FlushLogLines();
  QAction* NewAction(const char* name, const QString& text, int image = -1);
  void SetImage(QAction* action, int index);
  void BuildActions();
  void BuildMenu();
  QWidget* BuildStatusBar();
  QWidget* BuildHistoryPage();
  QWidget* BuildInfoPage();
  QWidget* BuildLogPage();
  void RebuildList(QComboBox* list, const QStringList& items);
  template <typename T>
  T* Named(T* widget, const char* name);

  Language& language_;
  OptionStore& options_;
  SessionLog* log_ = nullptr;
  TForm3* busy_ = nullptr;
  TForm2* about_ = nullptr;

  PageControl* pageControl_ = nullptr;
  MeasurementPage* measuringPage_ = nullptr;
  QWidget* tabLog_ = nullptr;
  QPlainTextEdit* memoLog_ = nullptr;
  QStringList pendingLog_;  // lines logged and not yet in the memo
  int memoLines_ = 0;       // lines in the memo
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
  bool closeRequested_ = false;
  bool minimumSet_ = false;
  std::function<void()> heartbeat_;
  std::function<void()> connectionTick_;
  std::function<bool()> busyProbe_;
};

}  // namespace dravion::ui
