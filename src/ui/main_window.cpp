#include "ui/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTabBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidgetAction>

#include "lifecycle/options.h"
#include "ui/artwork.h"
#include "ui/captions.h"
#include "ui/history_chart.h"
#include "ui/pages/history_page.h"
#include "ui/pages/info_page.h"
#include "ui/pages/log_page.h"
#include "ui/pages/measurement_page.h"
#include "ui/pages/page_layout.h"
#include "ui/pages/settings_page.h"
#include "ui/qt_services.h"
#include "ui/secondary_windows.h"

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace dravion::ui {

namespace {

const char* const kStatusStyles[4] = {
    "background-color: palette(button); color: palette(window-text); font-weight: normal;",
    "background-color: #008000; color: #ffffff; font-weight: bold;",
    "background-color: #ff0000; color: #ffff00; font-weight: bold;",
    "background-color: #ffff00; color: #0000ff; font-weight: bold;",
};
const char* const kPanelFrame =
    "border: 1px solid palette(mid); border-radius: 2px; padding: 0 4px;";

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

template <typename T>
T* MainWindow::Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

MainWindow::MainWindow(Language& language, OptionStore& options, QWidget* parent)
    : QMainWindow(parent), language_(language), options_(options) {
  setObjectName(QStringLiteral("Form1"));
  setWindowIcon(AppIcon());
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Segoe UI"),
                    QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  setFont(font);

  BuildActions();
  BuildMenu();

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(2, 2, 2, 0);
  layout->setSpacing(0);
  pageControl_ = Named(new PageControl(central), "PageControl1");
  pageControl_->setDocumentMode(false);
  pageControl_->Changing = [this] { return OnPageChanging(); };
  measuringPage_ = new MeasurementPage(language_, pageControl_);
  pageControl_->addTab(measuringPage_, QString());
  pageControl_->addTab(BuildHistoryPage(), QString());
  settingsPage_ = new SettingsPage(language_, pageControl_);
  pageControl_->addTab(settingsPage_, QString());
  pageControl_->addTab(BuildInfoPage(), QString());
  logPage_ = new LogPage(pageControl_);
  connect(logPage_, &LogPage::MenuRequested, this,
          [this](const QPoint& at) { popupLog_->popup(at); });
  pageControl_->addTab(logPage_, QString());
  layout->addWidget(pageControl_, 1);
  layout->addWidget(BuildStatusBar());
  setCentralWidget(central);

  timerProc_ = Named(new QTimer(this), "Timer_Proc");
  timerProc_->setInterval(100);
  connect(timerProc_, &QTimer::timeout, this, &MainWindow::OnHeartbeatTimer);
  timerConnection_ = Named(new QTimer(this), "Timer_Connection");
  timerConnection_->setInterval(500);  // never started: the heartbeat calls its handler
  connect(timerConnection_, &QTimer::timeout, this, &MainWindow::OnConnectionTimer);

  // The log page's tab is shown only through Action_Log_Visible.
  pageControl_->setTabVisible(kLogPage, false);
  SetCaptions();
  UpdateActions();

  // Client area 844 x 362 below the menu; never smaller than 768 x 272 outside.
  resize(844, 362 + menuWidget()->sizeHint().height());
  setMinimumSize(768, 272);
  timerProc_->start();
}

MainWindow::~MainWindow() {
  if (log_) log_->SetObserver(nullptr);
}

void MainWindow::SetSecondaryWindows(BusyWindow* busy, AboutWindow* about) {
  busy_ = busy;
  about_ = about;
}

QAction* MainWindow::NewAction(const char* name, const QString& text, int image) {
  auto* action = new QAction(text, this);
  action->setObjectName(QString::fromLatin1(name));
  if (image >= 0) SetImage(action, image);
  actions_[action->objectName()] = action;
  return action;
}

void MainWindow::SetImage(QAction* action, int index) {
  // The heartbeat's idle update sets the same image ten times a second: only a change is drawn.
  if (action->property("imageIndex").toInt() == index && !action->icon().isNull()) return;
  action->setIcon(ActionImage(index));
  action->setProperty("imageIndex", index);
}

QAction* MainWindow::ActionByName(const QString& name) const {
  auto found = actions_.find(name);
  if (found != actions_.end()) return found->second;
  return findChild<QAction*>(name);
}

void MainWindow::BuildActions() {
  auto* logVisible = NewAction("Action_Log_Visible", QString(), 3);
  connect(logVisible, &QAction::triggered, this, &MainWindow::OnShowLogTriggered);
  auto* sync = NewAction("Action_History_Sync", QString(), -1);
  sync->setCheckable(true);
  sync->setChecked(dravion::LoadHistorySyncOption(options_));
  connect(sync, &QAction::toggled, this,
          [this](bool on) { dravion::SaveHistorySyncOption(options_, on); });
  auto* clear = NewAction("Action_LOG_Clear", QString(), 4);
  clear->setEnabled(false);
  connect(clear, &QAction::triggered, this, &MainWindow::OnClearLogTriggered);
  auto* exit = NewAction("Action_Exit", QString(), 0);
  // The platform's quit keys, from any page, menu open or not (Ctrl+X is Cut, never Exit).
  exit->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Q), QKeySequence(Qt::ALT | Qt::Key_F4)});
  exit->setShortcutContext(Qt::ApplicationShortcut);
  connect(exit, &QAction::triggered, this, &MainWindow::OnExitTriggered);
  addAction(exit);

  auto* autoConnect = NewAction("Action_Connection_Auto", QString());
  autoConnect->setCheckable(true);
  autoConnect->setChecked(true);
  auto* number = NewAction("Action_Connection_Manual_Number", QString());
  auto* list = NewAction("Action_Connection_Manual_List", QString());
  list->setEnabled(false);
  auto* group2 = new QActionGroup(this);
  group2->setObjectName(QStringLiteral("RadioGroup2"));
  group2->addAction(number);
  group2->addAction(list);

  auto* internet = NewAction("Action_Data_Source_Internet", QString::fromUtf8("Интернет"));
  internet->setCheckable(true);
  internet->setChecked(true);
  connect(internet, &QAction::triggered, this, &MainWindow::OnInternetSourceTriggered);
  auto* local = NewAction("Action_Data_Source_Local", QString::fromUtf8("Локальный"));
  local->setCheckable(true);
  connect(local, &QAction::triggered, this, &MainWindow::OnLocalSourceTriggered);

  auto* language = NewAction("Action_Language", QString::fromUtf8("РУС"), 10);
  language->setToolTip(QString::fromUtf8("Выбор языка"));
  language->setStatusTip(QString::fromUtf8("Выбор языка"));
  connect(language, &QAction::triggered, this, &MainWindow::OnLanguageTriggered);

  auto* about = NewAction("Action_Help_About", QString());
  connect(about, &QAction::triggered, this, &MainWindow::OnAboutTriggered);
}

void MainWindow::BuildMenu() {
  // The menu bar and the language switch share one strip above the pages. The switch is a
  // widget of its own beside the menu bar, not the bar's corner widget: the bar's accessibility
  // interface lists only its menu items, so a corner widget never reaches a screen reader.
  auto* strip = Named(new QWidget(this), "Panel_Menu");
  auto* stripLayout = new QHBoxLayout(strip);
  stripLayout->setContentsMargins(0, 0, 0, 0);
  stripLayout->setSpacing(0);
  QMenuBar* bar = Named(new QMenuBar(strip), "MainMenu1");
  mainMenu_ = bar;
  stripLayout->addWidget(bar, 1);

  QMenu* file = bar->addMenu(QString());
  file->menuAction()->setObjectName(QStringLiteral("Action_Menu_File"));
  file->addAction(ActionByName(QStringLiteral("Action_Log_Visible")));
  file->addSeparator();
  file->addAction(ActionByName(QStringLiteral("Action_Exit")));

  QMenu* settings = Named(bar->addMenu(QString()), "N_Nastroiki");
  QMenu* connection = settings->addMenu(QString());
  connection->menuAction()->setObjectName(QStringLiteral("Action_Menu_Connection"));
  QAction* autoConnect = ActionByName(QStringLiteral("Action_Connection_Auto"));
  connection->addAction(autoConnect);
  QMenu* manual = connection->addMenu(QString());
  QAction* manualAction = manual->menuAction();
  manualAction->setObjectName(QStringLiteral("Action_Connection_Manual"));
  manualAction->setCheckable(true);
  actions_[manualAction->objectName()] = manualAction;
  auto* group1 = new QActionGroup(this);
  group1->setObjectName(QStringLiteral("RadioGroup1"));
  group1->addAction(autoConnect);
  group1->addAction(manualAction);
  manual->addAction(ActionByName(QStringLiteral("Action_Connection_Manual_Number")));
  manual->addAction(ActionByName(QStringLiteral("Action_Connection_Manual_List")));

  settings->addAction(ActionByName(QStringLiteral("Action_History_Sync")));

  QMenu* source = settings->addMenu(QString::fromUtf8("Источник данных"));
  QAction* sourceAction = source->menuAction();
  sourceAction->setObjectName(QStringLiteral("Action_Data_Source"));
  SetImage(sourceAction, 6);
  actions_[sourceAction->objectName()] = sourceAction;
  source->addAction(ActionByName(QStringLiteral("Action_Data_Source_Internet")));
  source->addAction(ActionByName(QStringLiteral("Action_Data_Source_Local")));
  sourceAction->setVisible(false);  // the built-in firmware is always used

  QMenu* help = bar->addMenu(QString());
  help->menuAction()->setObjectName(QStringLiteral("Action_Menu_Help"));
  help->addAction(ActionByName(QStringLiteral("Action_Help_About")));

  for (QAction* heading : {file->menuAction(), connection->menuAction(), help->menuAction()})
    actions_[heading->objectName()] = heading;

  // The room of two blank menu items (24 and 20 blanks) before the language switch, kept as a
  // spacing beside the bar: blank items would reach screen readers as dimmed nameless entries.
  const int itemPadding =
      2 * bar->style()->pixelMetric(QStyle::PM_MenuBarItemSpacing, nullptr, bar) +
      4 * bar->style()->pixelMetric(QStyle::PM_MenuBarHMargin, nullptr, bar) + 16;
  stripLayout->addSpacing(bar->fontMetrics().horizontalAdvance(QString(44, QLatin1Char(' '))) +
                          itemPadding);
  languageButton_ = Named(new QToolButton(strip), "ToolButton_Language");
  languageButton_->setDefaultAction(ActionByName(QStringLiteral("Action_Language")));
  languageButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  languageButton_->setAutoRaise(true);
  languageButton_->setIconSize(QSize(16, 16));
  languageButton_->setFocusPolicy(Qt::StrongFocus);  // reachable with Tab like any button
  languageButton_->setAutoFillBackground(false);
  stripLayout->addWidget(languageButton_);
  // Drawn like the rest of the menu bar (which paints its own panel).
  strip->setAutoFillBackground(true);
  strip->setBackgroundRole(QPalette::Button);
  // Never QMainWindow::menuBar() from here on: it would replace this strip with an empty bar.
  setMenuWidget(strip);

  popupLog_ = Named(new QMenu(this), "PopupMenu_Log");
  popupLog_->addAction(ActionByName(QStringLiteral("Action_Log_Visible")));
  popupLog_->addAction(ActionByName(QStringLiteral("Action_LOG_Clear")));
  QAction* saveLog = popupLog_->addAction(QString::fromUtf8("Сохранить"));
  saveLog->setObjectName(QStringLiteral("N_Log_Save"));
  saveLog->setEnabled(false);
}

QWidget* MainWindow::BuildStatusBar() {
  auto* panel = Named(new QWidget(this), "Panel_Bottom");
  panel->setFixedHeight(29);
  auto* row = new QHBoxLayout(panel);
  row->setContentsMargins(2, 3, 2, 3);
  row->setSpacing(3);
  panelCom_ = Named(new QLabel(QStringLiteral("----"), panel), "Panel_COM");
  panelCom_->setFixedWidth(55);
  panelCom_->setAlignment(Qt::AlignCenter);
  panelCom_->setStyleSheet(QLatin1String(kPanelFrame));
  panelConnection_ = Named(new QLabel(panel), "Panel_Connection");
  panelConnection_->setFixedWidth(55);
  panelConnection_->setAlignment(Qt::AlignCenter);
  panelConnection_->setStyleSheet(QLatin1String(kPanelFrame));
  panelInfo_ = Named(new QLabel(panel), "Panel_Bottom_Info_Text");
  panelInfo_->setMinimumWidth(40);
  panelInfo_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  auto* progressPanel = Named(new QWidget(panel), "Panel_Bottom_Progress");
  progressPanel->setFixedWidth(173);
  auto* progressLayout = new QHBoxLayout(progressPanel);
  progressLayout->setContentsMargins(3, 2, 3, 2);
  progressInfo_ = Named(new QProgressBar(progressPanel), "ProgressBar_Bottom_Info");
  progressInfo_->setFixedWidth(167);
  progressInfo_->setRange(0, 100);
  progressInfo_->setValue(0);
  progressInfo_->setTextVisible(false);
  progressLayout->addWidget(progressInfo_);
  row->addWidget(panelCom_);
  row->addWidget(panelConnection_);
  row->addWidget(panelInfo_, 1);
  row->addWidget(progressPanel);
  ShowStatus(QString::fromUtf8("Ожидание соединения"), 0);
  return panel;
}

QWidget* MainWindow::BuildHistoryPage() {
  historyPage_ = new HistoryPage(language_, this);
  historyPage_->ReadingChanged = [this](bool reading) { historyReading_ = reading; };
  connect(historyPage_->Chart(), &HistoryChart::BarDoubleClicked, this,
          [this](int series, int bar) {
            // OnBarDoubleClicked serves the bars of Maximum and Rate.
            if (series == 1 || series == 2) emit BarDoubleClicked(bar);
          });
  return historyPage_;
}

QWidget* MainWindow::BuildInfoPage() {
  infoPage_ = new InfoPage;
  return infoPage_;
}

// ---------------------------------------------------------------------------------------------
// Language

void MainWindow::ApplyLanguage() {
  qtTranslations_.Use(language_);
  QAction* switcher = ActionByName(QStringLiteral("Action_Language"));
  if (language_.Current() == Lang::English) {
    switcher->setText(QStringLiteral("ENG"));
    SetImage(switcher, 11);
  } else {
    switcher->setText(QStringLiteral("RUS"));
    SetImage(switcher, 10);
  }
  SetCaptions();
  emit LanguageChanged();
}

void MainWindow::OnLanguageTriggered() {
  language_.Set(language_.Current() == Lang::Russian ? Lang::English : Lang::Russian);
  ApplyLanguage();
  dravion::SaveLanguageOption(options_, language_);
}

void MainWindow::RebuildList(QComboBox* list, const QStringList& items) {
  // Programmatic rebuilds are not user choices: no change handler runs.
  const QSignalBlocker quiet(list);
  const int position = list->currentIndex();
  list->clear();
  list->addItems(items);
  list->setCurrentIndex(position < list->count() ? position : -1);
}

void MainWindow::SetCaptions() {
  setWindowTitle(WindowTitle(language_));
  auto apply = [&](const std::vector<CaptionPair>& table) {
    for (const CaptionPair& pair : table)
      SetCaption(this, QString::fromLatin1(pair.object),
                 Q(language_.Text(pair.russian, pair.english)));
  };
  auto rebuild = [&](const std::vector<ListItems>& lists) {
    for (const ListItems& list : lists)
      if (auto* combo = findChild<QComboBox*>(QString::fromLatin1(list.object)))
        RebuildList(combo, list.items(language_));
  };
  apply(CaptionsBeforeLists());
  rebuild(SettingsListsBeforeThresholds());
  const int unit = findChild<QComboBox*>(QStringLiteral("ComboBox_Setup_Units"))->currentIndex();
  FillBackgroundThresholds(unit);
  FillDoseThresholds(unit);
  rebuild(SettingsListsAfterThresholds());
  apply(CaptionsAfterLists());
  historyPage_->ApplyLanguage();
  measuringPage_->ApplyLanguage();
  settingsPage_->ApplyLanguage();
  // A screen reader says the switch's caption and what it is for; the memos are named after
  // their pages.
  languageButton_->setAccessibleName(ActionByName(QStringLiteral("Action_Language"))->text() +
                                     QStringLiteral(" - ") +
                                     Q(language_.Text("Выбор языка", "Language")));
  infoPage_->Memo()->setAccessibleName(Q(language_.Text("О приборе", "About Device")));
  logPage_->Memo()->setAccessibleName(Q(language_.Text("Лог", "Log")));
  // The idle update turns the show/hide caption into the one for the log tab's state.
  QTimer::singleShot(0, this, &MainWindow::UpdateActions);
}

void MainWindow::FillBackgroundThresholds(int unit) {
  settingsPage_->FillBackgroundThresholds(unit);
}

void MainWindow::FillDoseThresholds(int unit) {
  settingsPage_->FillDoseThresholds(unit);
}

// ---------------------------------------------------------------------------------------------
// Start-up and shut-down steps

void MainWindow::SetActivePage(int page) {
  pageControl_->setCurrentIndex(page);
}

int MainWindow::ActivePage() {
  return pageControl_->currentIndex();
}

void MainWindow::HideLogPage() {
  pageControl_->setTabVisible(kLogPage, false);
  UpdateActions();
}

// ---------------------------------------------------------------------------------------------
// Status bar

void MainWindow::ShowStatus(const QString& text, int style) {
  if (style < 0 || style > 3) style = 0;
  panelInfo_->setText(text);
  // The panel cuts a text longer than itself; the pointer resting on it shows the whole.
  panelInfo_->setToolTip(text);
  panelInfo_->setProperty("statusStyle", style);
  panelInfo_->setStyleSheet(QLatin1String(kPanelFrame) + QLatin1String(kStatusStyles[style]));
}

void MainWindow::ShowLink(uint32_t rgb, const QString& text) {
  panelConnection_->setText(text);
  panelConnection_->setStyleSheet(
      QLatin1String(kPanelFrame) +
      QStringLiteral("background-color: %1; color: #000000;").arg(QColor(QRgb(rgb)).name()));
}

void MainWindow::ShowPortPanel(const QString& text) {
  panelCom_->setText(text);
}

void MainWindow::SetUpdateButtonEnabled(bool enabled) {
  infoPage_->UpdateButton()->setEnabled(enabled);
}

void MainWindow::SetAutoChecked(bool checked) {
  ActionByName(checked ? QStringLiteral("Action_Connection_Auto")
                       : QStringLiteral("Action_Connection_Manual"))
      ->setChecked(true);
}

void MainWindow::SetManualCaption(const QString& caption) {
  ActionByName(QStringLiteral("Action_Connection_Manual"))->setText(caption);
}

void MainWindow::ClearDeviceInformation() {
  infoPage_->ShowInformationLines({});
}

void MainWindow::SetProgress(int percent) {
  progressInfo_->setValue(qBound(0, percent, 100));
}

void MainWindow::HoldSessionEnd(const QString& reason) {
  if (sessionEndHolds_++ > 0) return;
#ifdef Q_OS_WIN
  ::ShutdownBlockReasonCreate(reinterpret_cast<HWND>(winId()),
                              reinterpret_cast<LPCWSTR>(reason.utf16()));
#else
  Q_UNUSED(reason);
#endif
}

void MainWindow::ReleaseSessionEnd() {
  if (sessionEndHolds_ == 0 || --sessionEndHolds_ > 0) return;
#ifdef Q_OS_WIN
  ::ShutdownBlockReasonDestroy(reinterpret_cast<HWND>(winId()));
#endif
}

// ---------------------------------------------------------------------------------------------
// Pages

void MainWindow::SetHistoryReading(bool reading) {
  historyReading_ = reading;
  historyPage_->ShowReadingCaption(reading);
}

HistoryChart* MainWindow::Chart() const {
  return historyPage_->Chart();
}

bool MainWindow::OnPageChanging() {
  return !historyReading_;
}

bool MainWindow::HistorySyncChecked() const {
  return ActionByName(QStringLiteral("Action_History_Sync"))->isChecked();
}

void MainWindow::SetPagesEnabled(bool enabled) {
  pageControl_->setEnabled(enabled);
}

bool MainWindow::PagesEnabled() const {
  return pageControl_->isEnabled();
}

void MainWindow::ShowBusy(int interval) {
  if (busy_) busy_->ShowBusy(interval);
}

void MainWindow::HideBusy() {
  if (busy_) busy_->HideBusy();
}

// ---------------------------------------------------------------------------------------------
// Log memo

void MainWindow::AppendLogLine(const QString& line) {
  logPage_->AppendLine(line);
}

QPlainTextEdit* MainWindow::LogMemo() {
  return logPage_->Memo();
}

void MainWindow::ReplaceLastLogLine(const QString& line) {
  logPage_->ReplaceLastLine(line);
}

void MainWindow::ClearLogMemo() {
  logPage_->Clear();
}

void MainWindow::SetLog(SessionLog* log) {
  if (log_) log_->SetObserver(nullptr);
  log_ = log;
  ClearLogMemo();
  if (!log_) return;
  for (const std::string& line : log_->Lines())
    AppendLogLine(Q(line));
  log_->SetObserver(this);
}

void MainWindow::OnLogLineAdded(const std::string& line) {
  AppendLogLine(Q(line));
}

void MainWindow::OnLogLastLineReplaced(const std::string& line) {
  ReplaceLastLogLine(Q(line));
}

void MainWindow::OnLogCleared() {
  ClearLogMemo();
}

void MainWindow::ShowUploadText(const std::string& text) {
  panelInfo_->setText(Q(text));
}

void MainWindow::ShowUploadProgress(int percent) {
  SetProgress(percent);
}

// ---------------------------------------------------------------------------------------------
// Actions and timers

void MainWindow::UpdateActions() {
  QAction* logVisible = ActionByName(QStringLiteral("Action_Log_Visible"));
  if (pageControl_->isTabVisible(kLogPage)) {
    logVisible->setText(Q(language_.Text("Cкрыть &лог", "&Hide Report")));  // a Latin capital C
    SetImage(logVisible, 3);
  } else {
    logVisible->setText(Q(language_.Text("Показать &лог", "&Show Report")));
    SetImage(logVisible, 2);
  }
}

void MainWindow::OnHeartbeatTimer() {
  // A close put off by a running operation happens at the first beat after it has ended.
  if (closeRequested_) OperationEnded();
  if (heartbeat_) heartbeat_();
  UpdateActions();
}

void MainWindow::OnConnectionTimer() {
  if (connectionTick_) connectionTick_();
}

void MainWindow::OnExitTriggered() {
  close();
}

void MainWindow::OnShowLogTriggered() {
  pageControl_->setTabVisible(kLogPage, !pageControl_->isTabVisible(kLogPage));
  UpdateActions();
}

void MainWindow::OnClearLogTriggered() {
  if (log_)
    log_->Clear();  // the memo follows the log
  else
    ClearLogMemo();
  emit LogCleared();
}

void MainWindow::OnAboutTriggered() {
  if (about_) about_->ShowAbout();
}

void MainWindow::OnInternetSourceTriggered() {
  ActionByName(QStringLiteral("Action_Data_Source_Internet"))->setChecked(true);
  ActionByName(QStringLiteral("Action_Data_Source_Local"))->setChecked(false);
  SetImage(ActionByName(QStringLiteral("Action_Data_Source")), 6);
}

void MainWindow::OnLocalSourceTriggered() {
  ActionByName(QStringLiteral("Action_Data_Source_Local"))->setChecked(true);
  ActionByName(QStringLiteral("Action_Data_Source_Internet"))->setChecked(false);
  SetImage(ActionByName(QStringLiteral("Action_Data_Source")), 8);
}

void MainWindow::OnActivated() {
  if (about_ && about_->AboutShown()) about_->CloseAbout();
}

void MainWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) OnActivated();
  QMainWindow::changeEvent(event);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!timerProc_->isActive()) timerProc_->start();  // a window shown again beats again
  // The least outer size is 768 x 272: take the frame off once the system has given it.
  if (!minimumSet_) {
    const QMargins frame(geometry().left() - frameGeometry().left(),
                         geometry().top() - frameGeometry().top(),
                         frameGeometry().right() - geometry().right(),
                         frameGeometry().bottom() - geometry().bottom());
    if (!frame.isNull()) {
      setMinimumSize(768 - frame.left() - frame.right(), 272 - frame.top() - frame.bottom());
      minimumSet_ = true;
    }
  }
}

void MainWindow::OperationEnded() {
  if (!closeRequested_) return;
  if (busyProbe_ && busyProbe_()) return;
  QTimer::singleShot(0, this, [this] { close(); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // A device exchange that is waiting runs below this event on the same thread: the window and
  // everything the exchange uses must outlive it, so the close waits for it to end.
  if (busyProbe_ && busyProbe_()) {
    closeRequested_ = true;
    event->ignore();
    return;
  }
  closeRequested_ = false;
  event->accept();
  timerProc_->stop();
  if (about_) about_->close();
  HideBusy();
  emit Closed();
}

}  // namespace dravion::ui
