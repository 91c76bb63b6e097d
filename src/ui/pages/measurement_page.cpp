#include "ui/pages/measurement_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "device/measurement_trend.h"
#include "device/reading_recorder.h"
#include "services/dialogs.h"
#include "services/file_replace.h"
#include "services/language.h"
#include "services/wording.h"
#include "ui/pages/page_layout.h"
#include "ui/qt_services.h"
#include "ui/trend_chart.h"

namespace dravion::ui {

namespace {

const QColor kIndicatorLit(0xFF, 0xFF, 0x00);

}  // namespace

MeasurementPage::MeasurementPage(const Language& language, QWidget* parent)
    : QWidget(parent), language_(language) {
  setObjectName(QStringLiteral("TabSheet_Measuring"));
  auto* row = PageRow(this);
  QVBoxLayout* column = AddColumn(row, this);
  read_ = Named(new QPushButton(this), "BitBtn_Measure_Read");
  read_->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
  read_->setEnabled(false);
  autoRead_ = Named(new QCheckBox(this), "CheckBox_Measure_AutoRead");
  autoRead_->setChecked(true);
  reset_ = Named(new QPushButton(this), "BitBtn_Measure_Dose_Reset");
  reset_->setIcon(style()->standardIcon(QStyle::SP_DialogResetButton));
  message_ = Named(new QLabel(this), "Label_Measure_Version_Msg");
  message_->setStyleSheet(QStringLiteral("color: #d00000; font-weight: bold;"));
  message_->setAlignment(Qt::AlignCenter);
  message_->setWordWrap(true);
  column->addWidget(read_);
  column->addWidget(autoRead_);
  column->addSpacing(10);
  column->addWidget(reset_);
  column->addSpacing(10);
  record_ = Named(new QPushButton(this), "BitBtn_Measure_Record");
  record_->setCheckable(true);
  record_->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  column->addWidget(record_);
  recordState_ = Named(new QLabel(this), "Label_Measure_RecordState");
  recordState_->setWordWrap(true);
  recordState_->setVisible(false);
  column->addWidget(recordState_);
  column->addStretch(1);
  column->addWidget(message_);

  auto* work = new QVBoxLayout;
  work->setContentsMargins(0, 6, 0, 0);
  work->setSpacing(6);
  auto* values = new QHBoxLayout;
  values->setSpacing(8);
  auto makeValue = [this](const char* group, const char* value, const char* indicator,
                          QLabel*& label, QLabel*& square) {
    auto* box = Named(new QGroupBox(this), group);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(12, 10, 12, 10);
    grid->setHorizontalSpacing(12);
    square = Named(new QLabel(box), indicator);
    square->setFixedSize(17, 17);
    square->setAutoFillBackground(true);
    square->setFrameShape(QFrame::Box);
    label = Named(new QLabel(QStringLiteral("----"), box), value);
    QFont big = label->font();
    big.setPixelSize(30);
    big.setBold(true);
    label->setFont(big);
    label->setMinimumHeight(40);
    // The value sits in the middle of its box, whatever the window's height.
    grid->setRowStretch(0, 1);
    grid->addWidget(square, 1, 0, Qt::AlignVCenter);
    grid->addWidget(label, 1, 1);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(1, 1);
    return std::make_pair(box, grid);
  };
  auto [fon, fonGrid] = makeValue("GroupBox_Measure_Fon", "Label_Measure_Fon",
                                  "Label_Measure_Indicator_Fon", rate_, rateIndicator_);
  bar_ = Named(new QProgressBar(fon), "ProgressBar_Measure_Fon");
  bar_->setRange(0, kLevelMax);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  bar_->setFixedHeight(16);
  fonGrid->addWidget(bar_, 2, 0, 1, 2);
  auto [dose, doseGrid] = makeValue("GroupBox_Measure_Dose", "Label_Measure_Dose",
                                    "Label_Measure_Indicator_Dose", dose_, doseIndicator_);
  doseGrid->setRowMinimumHeight(2, 16);  // level with the bar of the other box
  values->addWidget(fon, 1);
  values->addWidget(dose, 1);
  work->addLayout(values);

  work->addWidget(BuildStationBox(), 1);

  trendBox_ = Named(new QGroupBox(this), "GroupBox_Measure_Trend");
  auto* trendRow = new QHBoxLayout(trendBox_);
  trendRow->setContentsMargins(6, 4, 6, 6);
  trendRow->setSpacing(8);
  chart_ = Named(new TrendChart(trendBox_), "Chart_Measure_Trend");
  trendRow->addWidget(chart_, 1);
  auto* side = new QVBoxLayout;
  side->setSpacing(4);
  span_ = Named(new QComboBox(trendBox_), "ComboBox_Measure_Trend_Span");
  stats_ = Named(new QLabel(trendBox_), "Label_Measure_Trend_Stats");
  stats_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  savePng_ = Named(new QPushButton(trendBox_), "BitBtn_Measure_Save_PNG");
  saveCsv_ = Named(new QPushButton(trendBox_), "BitBtn_Measure_Save_Readings");
  side->addWidget(span_);
  side->addWidget(stats_);
  side->addStretch(1);
  side->addWidget(savePng_);
  side->addWidget(saveCsv_);
  trendRow->addLayout(side);
  work->addWidget(trendBox_, 1);
  row->addWidget(Scrolling(work, this), 1);
  ShowIndicator(rateIndicator_, false);
  ShowIndicator(doseIndicator_, false);

  connect(read_, &QPushButton::clicked, this, [this] {
    if (controller_) controller_->OnReadClicked();
  });
  // toggled, not clicked: a screen reader's toggle action changes the box without a click. That
  // action returns only when the handler does, so handlers that may open a modal dialog (an error
  // box, the file dialog) run from the event loop: the screen reader's call is answered first.
  connect(
      autoRead_, &QCheckBox::toggled, this,
      [this] {
        if (controller_) controller_->OnAutoReadClicked();
      },
      Qt::QueuedConnection);
  connect(reset_, &QPushButton::clicked, this, [this] {
    if (controller_) controller_->OnDoseResetClicked();
  });
  connect(record_, &QPushButton::toggled, this, &MeasurementPage::OnRecordToggled,
          Qt::QueuedConnection);
  connect(span_, &QComboBox::activated, this, [this](int index) {
    if (trend_)
      trend_->SetSpan(index == 1 ? MeasurementTrend::kLongSpanS : MeasurementTrend::kShortSpanS);
  });
  connect(savePng_, &QPushButton::clicked, this, [this] {
    const QString name = AskSaveFileName(LangText("Сохранить график в PNG…", "Save chart as PNG…"),
                                         QStringLiteral("PNG (*.png)"), true);
    if (!name.isEmpty()) SaveChartImage(name);
  });
  connect(saveCsv_, &QPushButton::clicked, this, [this] {
    const QString name =
        AskSaveFileName(LangText("Сохранить показания в CSV…", "Save readings as CSV…"),
                        LangText("Файлы CSV (*.csv)", "CSV Files (*.csv)"), true);
    if (!name.isEmpty()) SaveReadings(name);
  });
  AskSaveFileName = [this](const QString& title, const QString& filter, bool confirmOverwrite) {
    const QString suffix =
        filter.contains(QStringLiteral("png")) ? QStringLiteral(".png") : QStringLiteral(".csv");
    // Recording (no overwrite question) appends readings; the others save a chart or readings.
    const bool png = suffix == QLatin1String(".png");
    const std::string what = png ? "chart" : confirmOverwrite ? "readings" : "recording";
    const QString suggested = SuggestName ? Q(SuggestName(what, suffix.mid(1).toStdString()))
                                          : QString::fromStdString(what) + suffix;
    QString name = QFileDialog::getSaveFileName(
        this, title, InDocuments(suggested), filter, nullptr,
        confirmOverwrite ? QFileDialog::Options() : QFileDialog::DontConfirmOverwrite);
    if (!name.isEmpty() && QFileInfo(name).suffix().isEmpty()) name += suffix;
    return name;
  };
  ApplyLanguage();
}

QGroupBox* MeasurementPage::BuildStationBox() {
  stationBox_ = Named(new QGroupBox(this), "GroupBox_Measure_Station");
  auto* stationColumn = new QVBoxLayout(stationBox_);
  stationColumn->setContentsMargins(6, 4, 6, 6);
  stationLines_ = Named(new QLabel(stationBox_), "Label_Measure_Station");
  stationLines_->setWordWrap(true);
  stationLines_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  stationTable_ = Named(new QTableWidget(0, 6, stationBox_), "Table_Measure_Station_Readings");
  stationTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  stationTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
  stationTable_->verticalHeader()->setVisible(false);
  stationTable_->verticalHeader()->setDefaultSectionSize(stationTable_->fontMetrics().height() + 6);
  stationTable_->horizontalHeader()->setStretchLastSection(true);
  stationTable_->setMinimumHeight(120);
  stationOutputs_ = Named(new QLabel(stationBox_), "Label_Measure_Station_Outputs");
  stationOutputs_->setWordWrap(true);
  stationOutputs_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  stationColumn->addWidget(stationLines_);
  stationColumn->addWidget(stationTable_, 1);
  stationColumn->addWidget(stationOutputs_);
  stationBox_->setVisible(false);
  return stationBox_;
}

QString MeasurementPage::LangText(const char* russian, const char* english) const {
  return Q(language_.Text(russian, english));
}

void MeasurementPage::SetTrend(MeasurementTrend* trend, ReadingRecorder* recorder,
                               Dialogs* dialogs) {
  if (trend_) trend_->changed = nullptr;
  if (recorder_) recorder_->changed = nullptr;
  trend_ = trend;
  recorder_ = recorder;
  dialogs_ = dialogs;
  chart_->SetTrend(trend_);
  if (trend_) {
    trend_->changed = [this] { RefreshTrend(); };
    span_->setCurrentIndex(trend_->Span() == MeasurementTrend::kLongSpanS ? 1 : 0);
  }
  if (recorder_) recorder_->changed = [this] { ShowRecording(); };
  RefreshTrend();
  ShowRecording();
}

void MeasurementPage::ApplyLanguage() {
  trendBox_->setTitle(LangText("Динамика фона", "Background Trend"));
  stationBox_->setTitle(LangText("Станция наблюдения", "Monitoring station"));
  stationTable_->setAccessibleName(LangText("Показания станции наблюдения", "Station readings"));
  stationTable_->setHorizontalHeaderLabels(
      {LangText("Время", "Time"), LangText("Прибор", "Device"),
       LangText("Мощность дозы", "Dose rate"), QStringLiteral("CPM"),
       LangText("Накопленная доза", "Accumulated dose"), LangText("Отправлено", "Sent to")});
  const int span = span_->currentIndex();
  span_->clear();
  span_->addItem(LangText("10 минут", "10 minutes"));
  span_->addItem(LangText("1 час", "1 hour"));
  span_->setCurrentIndex(span < 0 ? 0 : span);
  savePng_->setText(LangText("Сохранить график в PNG…", "Save chart as PNG…"));
  saveCsv_->setText(LangText("Сохранить показания в CSV…", "Save readings as CSV…"));
  chart_->SetDecimalSeparator(QLatin1Char(DecimalSeparator(language_)));
  for (QLabel* value : {rate_, dose_})
    value->setText(Q(WithDecimalSeparator(S(value->text()), language_)));
  ShowRecording();
  RefreshTrend();
}

void MeasurementPage::RefreshTrend() {
  const bool any = trend_ && !trend_->Readings().empty();
  QStringList title{LangText("Мощность дозы", "Dose rate")};
  if (any) title.front() += QStringLiteral(", ") + Q(RateUnitTextFor(trend_->Units(), language_));
  chart_->SetTitle(title);
  stats_->setText(any ? Q(WithDecimalSeparator(TrendStatisticsText(*trend_, language_), language_))
                      : QString());
  savePng_->setEnabled(trend_ != nullptr);
  saveCsv_->setEnabled(any);
  chart_->update();
}

void MeasurementPage::ShowRecording() {
  const bool recording = recorder_ && recorder_->Recording();
  record_->setChecked(recording);
  record_->setText(recording ? LangText("Остановить запись", "Stop recording")
                             : LangText("Запись в файл…", "Record to file…"));
  record_->setToolTip(recording ? Q(recorder_->Path()) : QString());
  const bool waiting = recording && recorder_->Waiting() > 0;
  recordState_->setText(waiting ? LangText("Файл занят другой программой: показания ждут и будут "
                                           "дописаны, когда его закроют.",
                                           "The file is open in another program: readings wait "
                                           "and are written when it is closed.")
                                : QString());
  recordState_->setVisible(waiting);
}

void MeasurementPage::OnRecordToggled(bool checked) {
  if (!recorder_) {
    if (checked) ShowRecording();
    return;
  }
  // The check mark shown already matches (ShowRecording set it): nothing to do.
  if (checked == recorder_->Recording()) return;
  if (!checked) {
    recorder_->Stop();
  } else {
    // An existing file is appended to, so the dialog does not ask about replacing it.
    const QString name = AskSaveFileName(LangText("Запись в файл…", "Record to file…"),
                                         LangText("Файлы CSV (*.csv)", "CSV Files (*.csv)"), false);
    if (!name.isEmpty()) recorder_->Start(S(name));
  }
  ShowRecording();
}

void MeasurementPage::FileError(const QString& fileName) {
  if (dialogs_)
    dialogs_->ShowMessage(
        BoxKind::Error, S(LangText("Ошибка записи файла\r\n", "File write Error\r\n") + fileName));
}

bool MeasurementPage::SaveChartImage(const QString& fileName) {
  // Written aside and renamed, like every file the manager replaces.
  QSaveFile file(fileName);
  const bool ok =
      file.open(QIODevice::WriteOnly) && chart_->Image().save(&file, "PNG") && file.commit();
  if (!ok) FileError(fileName);
  return ok;
}

bool MeasurementPage::SaveReadings(const QString& fileName) {
  if (!trend_) return false;
  const bool ok = WriteFileReplacing(S(fileName), trend_->CsvText()).Ok;
  if (!ok) FileError(fileName);
  return ok;
}

void MeasurementPage::ShowRate(const std::string& text) {
  // One decimal separator on the page, the interface language's (the device writes the dose
  // with a point).
  rate_->setText(Q(WithDecimalSeparator(text, language_)));
}

void MeasurementPage::ShowDose(const std::string& text) {
  dose_->setText(Q(WithDecimalSeparator(text, language_)));
}

void MeasurementPage::ShowLevel(int position) {
  bar_->setValue(std::clamp(position, 0, kLevelMax));
}

void MeasurementPage::ShowIndicator(QLabel* indicator, bool lit) {
  QPalette colours = indicator->palette();
  colours.setColor(QPalette::Window, lit ? kIndicatorLit : palette().color(QPalette::Button));
  indicator->setPalette(colours);
  indicator->setProperty("lit", lit);
}

void MeasurementPage::ShowRateIndicator(bool lit) {
  ShowIndicator(rateIndicator_, lit);
}

void MeasurementPage::ShowDoseIndicator(bool lit) {
  ShowIndicator(doseIndicator_, lit);
}

void MeasurementPage::ShowVersionMessage(const std::string& text) {
  message_->setText(NormaliseLineBreaks(Q(text)));
}

bool MeasurementPage::PageActive() {
  for (QWidget* up = parentWidget(); up != nullptr; up = up->parentWidget()) {
    if (auto* pages = qobject_cast<QTabWidget*>(up)) return pages->currentWidget() == this;
  }
  return false;
}

bool MeasurementPage::AutoReadChecked() {
  return autoRead_->isChecked();
}

bool MeasurementPage::ReadEnabled() {
  // The button's own state, whatever the page control's.
  return !read_->testAttribute(Qt::WA_ForceDisabled);
}

void MeasurementPage::SetReadEnabled(bool enabled) {
  read_->setEnabled(enabled);
}

void MeasurementPage::ShowStations(const std::vector<std::string>& stations,
                                   const std::vector<StationRowText>& readings,
                                   const std::vector<std::string>& outputs) {
  auto joined = [](const std::vector<std::string>& lines) {
    QStringList texts;
    for (const std::string& line : lines)
      texts << Q(line);
    return texts.join(QLatin1Char('\n'));
  };
  stationLines_->setText(joined(stations));
  stationOutputs_->setText(joined(outputs));
  stationOutputs_->setVisible(!outputs.empty());
  stationTable_->setRowCount(static_cast<int>(readings.size()));
  for (int row = 0; row < static_cast<int>(readings.size()); ++row) {
    const StationRowText& r = readings[static_cast<size_t>(row)];
    int column = 0;
    for (const std::string* text : {&r.time, &r.serial, &r.rate, &r.cpm, &r.dose, &r.sentTo})
      stationTable_->setItem(row, column++, new QTableWidgetItem(Q(*text)));
  }
  stationTable_->resizeColumnsToContents();
  stationBox_->setVisible(true);
}

void MeasurementPage::HideStations() {
  stationBox_->setVisible(false);
  stationTable_->setRowCount(0);
}

}  // namespace dravion::ui
