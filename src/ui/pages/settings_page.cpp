#include "ui/pages/settings_page.h"
#include "ui/qt_services.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "services/language.h"
#include "services/wording.h"
#include "ui/pages/page_layout.h"

namespace dravion::ui {

SettingsPage::SettingsPage(const Language& language, QWidget* parent)
    : QWidget(parent), language_(language) {
  setObjectName(QStringLiteral("TabSheet_DevControl"));
  auto* row = PageRow(this);
  QVBoxLayout* column = AddColumn(row, this);
  struct Button {
    const char* name;
    QStyle::StandardPixmap icon;
    void (SettingsPage::*handler)();
  };
  const Button buttons[] = {
      {"BitBtn_Setup_Read", QStyle::SP_ArrowDown, &SettingsPage::OnReadClicked},
      {"BitBtn_Setup_Write", QStyle::SP_ArrowUp, &SettingsPage::OnWriteClicked},
      {"BitBtn_Setup_Default", QStyle::SP_DialogResetButton, &SettingsPage::OnDefaultClicked},
      {"BitBtn_Setup_Time", QStyle::SP_FileDialogDetailedView, &SettingsPage::OnWriteTimeClicked},
      {"BitBtn_Setup_Reset", QStyle::SP_BrowserReload, &SettingsPage::OnRestartClicked},
  };
  for (const Button& b : buttons) {
    auto* button = Named(new QPushButton(this), b.name);
    button->setIcon(style()->standardIcon(b.icon));
    connect(button, &QPushButton::clicked, this, b.handler);
    column->addWidget(button);
    if (b.handler == &SettingsPage::OnRestartClicked) reset_ = button;
  }
  column->addStretch(1);

  auto* work = new QGridLayout;
  work->setContentsMargins(4, 6, 0, 0);
  work->setHorizontalSpacing(12);
  work->setVerticalSpacing(2);
  auto addList = [&](SettingsList list, const char* label, const char* name, int gridRow,
                     int gridColumn) {
    auto* caption = Named(new QLabel(this), label);
    auto* combo = Named(new QComboBox(this), name);
    combo->setMaxVisibleItems(16);
    // A long list opens as a scrolling list of that many items, in every style (some styles
    // would otherwise show all 61 items of a time-out list across the screen).
    combo->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(10);
    caption->setBuddy(combo);
    auto* cell = new QVBoxLayout;
    cell->setSpacing(1);
    cell->addWidget(caption);
    cell->addWidget(combo);
    work->addLayout(cell, gridRow, gridColumn);
    lists_[static_cast<int>(list)] = combo;
  };
  addList(SettingsList::Language, "Label_Setup_Language", "ComboBox_Setup_Language", 0, 0);
  addList(SettingsList::Units, "Label_Setup_Units", "ComboBox_Setup_Units", 1, 0);
  addList(SettingsList::BackgroundLevel, "Label_Setup_Fon_Level", "ComboBox_Setup_Fon_Level", 2, 0);
  addList(SettingsList::DoseLevel, "Label_Setup_Dose_Level", "ComboBox_Setup_Dose_Level", 3, 0);
  addList(SettingsList::Brightness, "Label_Setup_Screen_Bright", "ComboBox_Setup_Screen_Bright", 0,
          1);
  addList(SettingsList::ScreenTimeOff, "Label_Setup_Screen_TOff", "ComboBox_Setup_Screen_TOff", 1,
          1);
  addList(SettingsList::PowerTimeOff, "Label_Setup_Power_TOff", "ComboBox_Setup_Power_TOff", 2, 1);
  addList(SettingsList::HistoryMode, "Label_Setup_History_M", "ComboBox_Setup_History_M", 3, 1);
  connect(List(SettingsList::Units), &QComboBox::activated, this, &SettingsPage::OnUnitsChanged);

  auto* sound = Named(new QGroupBox(this), "GroupBox_Setup_Sound");
  auto* soundLayout = new QVBoxLayout(sound);
  soundLayout->setContentsMargins(8, 4, 8, 4);
  soundLayout->setSpacing(2);
  const std::pair<SettingsBox, const char*> soundBoxes[] = {
      {SettingsBox::Sound, "CheckBox_Setup_Sound_EN"},
      {SettingsBox::ButtonClick, "CheckBox_Setup_Sound_BTN"},
      {SettingsBox::SensorClick, "CheckBox_Setup_Sound_Sensor"},
      {SettingsBox::ThresholdSound, "CheckBox_Setup_Sound_Threshold"},
  };
  for (const auto& [box, name] : soundBoxes) {
    boxes_[static_cast<int>(box)] = Named(new QCheckBox(sound), name);
    soundLayout->addWidget(boxes_[static_cast<int>(box)]);
  }
  auto* third = new QVBoxLayout;
  third->setSpacing(6);
  third->addWidget(sound);

  auto* time = Named(new QGroupBox(this), "GroupBox_Setup_Time");
  auto* timeLayout = new QVBoxLayout(time);
  timeLayout->setContentsMargins(8, 4, 8, 6);
  time_ = Named(new QLineEdit(time), "Edit_Setup_Time");
  time_->setReadOnly(true);
  time_->setAlignment(Qt::AlignCenter);
  timeLayout->addWidget(time_);
  drift_ = Named(new QLabel(time), "Label_Setup_Time_Drift");
  QFont small = drift_->font();
  small.setPixelSize(std::max(9, QFontInfo(small).pixelSize() - 1));
  drift_->setFont(small);
  drift_->setVisible(false);
  timeLayout->addWidget(drift_);
  third->addWidget(time);
  driftTimer_ = new QTimer(this);
  driftTimer_->setInterval(1000);
  connect(driftTimer_, &QTimer::timeout, this, [this] {
    if (controller_) controller_->ClockTick();
  });

  auto* alarm = Named(new QGroupBox(this), "GroupBox_Setup_Alarm");
  auto* alarmLayout = new QGridLayout(alarm);
  alarmLayout->setContentsMargins(8, 4, 8, 6);
  alarmLayout->setHorizontalSpacing(8);
  alarmLayout->setVerticalSpacing(1);
  auto* hourLabel = Named(new QLabel(alarm), "Label_Setup_Alarm_H");
  auto* minuteLabel = Named(new QLabel(alarm), "Label_Setup_Alarm_M");
  auto* hour = Named(new QComboBox(alarm), "ComboBox_Setup_Alarm_H");
  auto* minute = Named(new QComboBox(alarm), "ComboBox_Setup_Alarm_M");
  lists_[static_cast<int>(SettingsList::AlarmHour)] = hour;
  lists_[static_cast<int>(SettingsList::AlarmMinute)] = minute;
  hour->setMaxVisibleItems(12);
  minute->setMaxVisibleItems(12);
  hour->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
  minute->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
  hourLabel->setBuddy(hour);
  minuteLabel->setBuddy(minute);
  alarmLayout->addWidget(hourLabel, 0, 0);
  alarmLayout->addWidget(minuteLabel, 0, 1);
  alarmLayout->addWidget(hour, 1, 0);
  alarmLayout->addWidget(minute, 1, 1);
  boxes_[static_cast<int>(SettingsBox::Alarm)] =
      Named(new QCheckBox(alarm), "CheckBox_Setup_Alarm_En");
  alarmLayout->addWidget(boxes_[static_cast<int>(SettingsBox::Alarm)], 1, 2);
  alarmLayout->setColumnStretch(2, 1);
  work->addWidget(alarm, 4, 0, 1, 2);

  auto* calibration = Named(new QGroupBox(this), "Group_Setup_Calibr");
  auto* calibrationLayout = new QHBoxLayout(calibration);
  calibrationLayout->setContentsMargins(8, 4, 8, 6);
  calibration_ = Named(new QLineEdit(calibration), "Edit_Setup_Calibr");
  calibration_->setMaxLength(kCalibrationTextMax);
  calibration_->setText(QString::fromLatin1(kFactoryCalibrationText));
  calibration_->setFixedWidth(64);
  calibration_->setAlignment(Qt::AlignCenter);
  calibration_->installEventFilter(this);
  calibrationLayout->addWidget(calibration_);
  auto* saveCalibration = Named(new QPushButton(calibration), "BitBtn_Setup_Calibr_Save");
  saveCalibration->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  connect(saveCalibration, &QPushButton::clicked, this, &SettingsPage::OnSaveCalibrationClicked);
  calibrationLayout->addWidget(saveCalibration, 1);
  third->addWidget(calibration);
  third->addStretch(1);
  work->addLayout(third, 0, 2, 6, 1);

  work->setRowStretch(5, 1);
  for (int c = 0; c < 3; ++c)
    work->setColumnStretch(c, 1);
  work->setVerticalSpacing(6);
  row->addWidget(Scrolling(work, this), 1);

  // Tab goes down the column of buttons, then down each column of settings in turn: the two
  // columns of lists, the alarm under them, then sound, clock and calibration.
  QList<QWidget*> order;
  for (const Button& b : buttons)
    order << findChild<QPushButton*>(QLatin1String(b.name));
  for (SettingsList list :
       {SettingsList::Language, SettingsList::Units, SettingsList::BackgroundLevel,
        SettingsList::DoseLevel, SettingsList::Brightness, SettingsList::ScreenTimeOff,
        SettingsList::PowerTimeOff, SettingsList::HistoryMode, SettingsList::AlarmHour,
        SettingsList::AlarmMinute})
    order << List(list);
  order << Box(SettingsBox::Alarm);
  for (SettingsBox box : {SettingsBox::Sound, SettingsBox::ButtonClick, SettingsBox::SensorClick,
                          SettingsBox::ThresholdSound})
    order << Box(box);
  order << time_ << calibration_ << saveCalibration;
  for (qsizetype i = 1; i < order.size(); ++i)
    setTabOrder(order[i - 1], order[i]);
}

void SettingsPage::ApplyLanguage() {
  calibration_->setText(Q(WithDecimalSeparator(S(calibration_->text()), language_)));
}

QList<QWidget*> SettingsPage::TabOrder() const {
  QList<QWidget*> order;
  const QWidget* self = this;
  for (QWidget* w = nextInFocusChain(); w && w != self; w = w->nextInFocusChain()) {
    if (isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus)) order << w;
  }
  return order;
}

QComboBox* SettingsPage::List(SettingsList list) const {
  return lists_[static_cast<int>(list)];
}

QCheckBox* SettingsPage::Box(SettingsBox box) const {
  return boxes_[static_cast<int>(box)];
}

void SettingsPage::RebuildThresholds(QComboBox* list, const std::vector<std::string>& items) {
  const int position = list->currentIndex();
  list->clear();
  // The interface language's decimal separator, like everywhere on the window.
  for (const std::string& item : items)
    list->addItem(QString::fromStdString(WithDecimalSeparator(item, language_)));
  list->setCurrentIndex(position < list->count() ? position : -1);
}

void SettingsPage::FillBackgroundThresholds(int unit) {
  unit = thresholdUnit_.Resolve(unit);
  RebuildThresholds(List(SettingsList::BackgroundLevel), BackgroundThresholdItems(unit, language_));
}

void SettingsPage::FillDoseThresholds(int unit) {
  unit = thresholdUnit_.Resolve(unit);
  RebuildThresholds(List(SettingsList::DoseLevel), DoseThresholdItems(unit, language_));
}

int SettingsPage::Selection(SettingsList list) const {
  return List(list)->currentIndex();
}

void SettingsPage::Select(SettingsList list, int position) {
  QComboBox* combo = List(list);
  combo->setCurrentIndex(position >= 0 && position < combo->count() ? position : -1);
}

void SettingsPage::FillThresholdLists(int unit) {
  FillBackgroundThresholds(unit);
  FillDoseThresholds(unit);
}

bool SettingsPage::Checked(SettingsBox box) const {
  return Box(box)->isChecked();
}

void SettingsPage::SetChecked(SettingsBox box, bool checked) {
  Box(box)->setChecked(checked);
}

void SettingsPage::ShowTime(const std::string& text) {
  time_->setText(QString::fromStdString(text));
}

std::string SettingsPage::CalibrationText() const {
  return calibration_->text().toStdString();
}

void SettingsPage::SetCalibrationText(const std::string& text) {
  calibration_->setText(QString::fromStdString(WithDecimalSeparator(text, language_)));
}

void SettingsPage::SetRestartEnabled(bool enabled) {
  reset_->setEnabled(enabled);
}

void SettingsPage::OnReadClicked() {
  if (controller_) controller_->Read();
}

void SettingsPage::OnWriteClicked() {
  if (controller_) controller_->Write();
}

void SettingsPage::OnDefaultClicked() {
  if (controller_) controller_->Default();
}

void SettingsPage::OnRestartClicked() {
  if (controller_) controller_->Restart();
}

void SettingsPage::OnUnitsChanged(int unit) {
  if (controller_) {
    controller_->UnitsChanged(unit);
  } else {
    FillThresholdLists(unit);
  }
}

void SettingsPage::ShowClockDrift(const std::string& text) {
  // "Name:  value" lines as two columns (the blanks that align them on a terminal do not in a
  // proportional font); other lines across both.
  QString table = QStringLiteral("<table cellspacing=0 cellpadding=0>");
  for (const QString& line : Q(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const int colon = line.indexOf(QLatin1Char(':'));
    if (colon > 0 && colon + 1 < line.size() && line[colon + 1] == QLatin1Char(' ')) {
      table += QStringLiteral("<tr><td>%1&nbsp;</td><td>%2</td></tr>")
                   .arg(line.left(colon + 1).toHtmlEscaped(),
                        line.mid(colon + 1).trimmed().toHtmlEscaped());
    } else {
      table += QStringLiteral("<tr><td colspan=2>%1</td></tr>").arg(line.toHtmlEscaped());
    }
  }
  drift_->setText(text.empty() ? QString() : table + QStringLiteral("</table>"));
  drift_->setVisible(!text.empty());
  drift_->setAccessibleName(Q(text));
}

void SettingsPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  driftTimer_->start();
  // The first comparison once the page is on the screen, not inside the tab switch.
  QTimer::singleShot(0, this, [this] {
    if (controller_ && isVisible()) controller_->ClockTick();
  });
}

void SettingsPage::hideEvent(QHideEvent* event) {
  driftTimer_->stop();
  QWidget::hideEvent(event);
}

void SettingsPage::OnWriteTimeClicked() {
  if (controller_) controller_->WriteTime();
}

void SettingsPage::OnSaveCalibrationClicked() {
  if (controller_) controller_->SaveCalibration();
}

bool SettingsPage::AcceptsCalibrationKey(char32_t key) {
  return !CalibrationKeyAccepted(key);
}

bool SettingsPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == calibration_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    // Shortcuts (Ctrl+X, Ctrl+V, ...) are the editor's; only typed characters are filtered.
    const bool shortcut =
        key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const QString text = key->text();
    if (!shortcut && !text.isEmpty() && AcceptsCalibrationKey(text.toUcs4().value(0))) return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace dravion::ui
