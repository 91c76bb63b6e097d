#include "ui/pages/archive_period_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QVBoxLayout>

#include "archive/archive_pane.h"
#include "device/device_context.h"
#include "services/language.h"
#include "ui/archive_report_pdf.h"
#include "ui/history_chart.h"
#include "ui/pages/page_layout.h"
#include "ui/qt_services.h"

namespace dravion::ui {

namespace {

// Device seconds count from 1 January 2000 in the device's own time, which knows no time zone:
// shown as such, without the computer's zone or daylight saving.
const QDateTime kDeviceEpoch(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC);

QDateTime FromDeviceSeconds(uint32_t seconds) {
  return kDeviceEpoch.addSecs(seconds);
}

uint32_t ToDeviceSeconds(const QDateTime& time) {
  return static_cast<uint32_t>(std::clamp<qint64>(kDeviceEpoch.secsTo(time), 0, 0xFFFFFFFFll));
}

}  // namespace

ArchivePeriodPanel::ArchivePeriodPanel(const Language& language, QWidget* parent)
    : QWidget(parent), language_(language) {
  setObjectName(QStringLiteral("Panel_HIS_Period"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(4);
  auto* row = new QHBoxLayout;
  row->setSpacing(6);
  fromLabel_ = new QLabel(this);
  toLabel_ = new QLabel(this);
  auto edit = [this](const char* name) {
    auto* e = Named(new QDateTimeEdit(this), name);
    e->setTimeSpec(Qt::UTC);
    e->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    e->setDateTimeRange(kDeviceEpoch, QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59), Qt::UTC));
    e->setCalendarPopup(true);
    return e;
  };
  from_ = edit("DateTime_HIS_From");
  to_ = edit("DateTime_HIS_To");
  fromLabel_->setBuddy(from_);
  toLabel_->setBuddy(to_);
  unit_ = Named(new QComboBox(this), "ComboBox_HIS_Unit");
  unit_->addItem(QString());
  unit_->addItem(QString());
  above_ = Named(new QCheckBox(this), "CheckBox_HIS_Above");
  threshold_ = Named(new QDoubleSpinBox(this), "Edit_HIS_Threshold");
  threshold_->setDecimals(2);
  threshold_->setRange(0, 100000);
  threshold_->setValue(0.3);
  threshold_->setEnabled(false);
  station_ = Named(new QCheckBox(this), "CheckBox_HIS_Station");
  // The period on a row of its own, the unit, threshold and station on the next: at the window's
  // first size one row would squeeze the times and the station's box into what they cut off.
  for (QWidget* w : {static_cast<QWidget*>(from_), static_cast<QWidget*>(to_),
                     static_cast<QWidget*>(station_), static_cast<QWidget*>(above_)})
    w->setSizePolicy(QSizePolicy::Minimum, w->sizePolicy().verticalPolicy());
  row->addWidget(fromLabel_);
  row->addWidget(from_);
  row->addSpacing(8);
  row->addWidget(toLabel_);
  row->addWidget(to_);
  row->addStretch(1);
  auto* settings = new QHBoxLayout;
  settings->setSpacing(6);
  settings->addWidget(unit_);
  settings->addSpacing(8);
  settings->addWidget(above_);
  settings->addWidget(threshold_);
  settings->addSpacing(8);
  settings->addWidget(station_);
  settings->addStretch(1);
  // The figures, and beside them the period's two files.
  auto* below = new QHBoxLayout;
  below->setSpacing(6);
  figures_ = Named(new QLabel(this), "Label_HIS_Figures");
  figures_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  figures_->setTextFormat(Qt::RichText);
  figures_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  figures_->setWordWrap(true);
  workbook_ = Named(new QPushButton(this), "BitBtn_HIS_Save_XLSX");
  workbook_->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  report_ = Named(new QPushButton(this), "BitBtn_HIS_Save_PDF");
  report_->setIcon(style()->standardIcon(QStyle::SP_FileIcon));
  auto* files = new QVBoxLayout;
  files->setSpacing(4);
  files->addWidget(workbook_);
  files->addWidget(report_);
  files->addStretch(1);
  below->addWidget(figures_, 1);
  below->addLayout(files);
  column->addLayout(row);
  column->addLayout(settings);
  column->addLayout(below);
  ApplyLanguage();
}

ArchivePeriodPanel::~ArchivePeriodPanel() = default;

QString ArchivePeriodPanel::LangText(const char* russian, const char* english) const {
  return QString::fromUtf8(language_.Current() == Lang::Russian ? russian : english);
}

void ArchivePeriodPanel::Attach(DeviceContext& context, ArchivePane& pane, HistoryController& files,
                                HistoryChart& chart) {
  Detach();
  chart_ = &chart;
  controller_ = std::make_unique<ArchivePeriodController>(context, pane, files, *this);
  ArchivePeriodController* c = controller_.get();
  c->Unit = unit_->currentIndex() == 1 ? FigureUnit::Roentgen : FigureUnit::Sievert;
  pane.Unit = c->Unit;
  pane.ShowStation = station_->isChecked();
  attachment_ = new QObject(this);
  connect(station_, &QCheckBox::toggled, attachment_, [&pane](bool checked) {
    pane.ShowStation = checked;
    pane.DrawChart();
  });
  pane.ChartDrawn = [this, c] {
    chart_->SetSelection(-1, -1);
    c->OnChartDrawn();
  };
  chart.SetSelectable(true);
  chart.PositionToolTip = [this, &pane](int index) {
    return pane.Shown() && controller_ ? Q(controller_->BarText(index)) : QString();
  };
  connect(&chart, &HistoryChart::PositionsChosen, attachment_,
          [c](int first, int last) { c->SetBars(first, last); });
  connect(from_, &QDateTimeEdit::editingFinished, attachment_, [this] { OnPeriodTyped(); });
  connect(to_, &QDateTimeEdit::editingFinished, attachment_, [this] { OnPeriodTyped(); });
  connect(unit_, &QComboBox::activated, attachment_, [this, c](int index) {
    const double typed = threshold_->value();
    const FigureUnit before = c->Unit;
    c->SetUnit(index == 1 ? FigureUnit::Roentgen : FigureUnit::Sievert);
    // The threshold stays the same rate, now in the other unit.
    QSignalBlocker quiet(threshold_);
    threshold_->setDecimals(c->Unit == FigureUnit::Sievert ? 2 : 0);
    threshold_->setValue(RateIn(c->Unit, RateFrom(before, typed)));
    OnThresholdChanged();
  });
  connect(above_, &QCheckBox::toggled, attachment_, [this] { OnThresholdChanged(); });
  connect(threshold_, &QDoubleSpinBox::editingFinished, attachment_,
          [this] { OnThresholdChanged(); });
  connect(workbook_, &QPushButton::clicked, attachment_, [c] { c->OnSaveWorkbookClicked(); });
  connect(report_, &QPushButton::clicked, attachment_, [this] { SaveReport(); });
}

void ArchivePeriodPanel::Detach() {
  delete attachment_;
  attachment_ = nullptr;
  if (chart_) {
    chart_->PositionToolTip = nullptr;
    chart_->SetSelectable(false);
    chart_->SetSelection(-1, -1);
  }
  controller_.reset();
}

void ArchivePeriodPanel::ApplyLanguage() {
  fromLabel_->setText(LangText("&С", "&From"));
  toLabel_->setText(LangText("&По", "&To"));
  unit_->setItemText(0, LangText("мкЗв/ч", "uSv/h"));
  unit_->setItemText(1, LangText("мкР/ч", "uR/h"));
  unit_->setToolTip(LangText("Единица графика и показателей", "The unit of the chart and figures"));
  station_->setText(LangText("Показания станции", "Station readings"));
  station_->setToolTip(
      LangText("Средние показания станции наблюдения (dravion-cli monitor) "
               "линией рядом со столбцами записей",
               "The monitoring station's (dravion-cli monitor) mean readings as a "
               "line beside the records' bars"));
  above_->setText(LangText("Время выше", "Time above"));
  workbook_->setText(LangText("Сохранить в книгу Excel…", "Save as Excel workbook…"));
  report_->setText(LangText("Сохранить отчёт в PDF…", "Save report as PDF…"));
  from_->setAccessibleName(LangText("Начало периода", "Start of the period"));
  to_->setAccessibleName(LangText("Конец периода", "End of the period"));
  threshold_->setAccessibleName(LangText("Порог", "Threshold"));
  // The threshold's decimal separator is the figures' beside it: a comma in Russian, a point in
  // English, whatever the computer's locale.
  QLocale numbers(language_.Current() == Lang::Russian ? QLocale::Russian : QLocale::English,
                  language_.Current() == Lang::Russian ? QLocale::Russia : QLocale::UnitedStates);
  numbers.setNumberOptions(QLocale::OmitGroupSeparator);
  threshold_->setLocale(numbers);
  {
    QSignalBlocker quiet(threshold_);
    threshold_->setValue(threshold_->value());  // shown again with the separator
  }
  if (controller_) {
    // Figures are text of the language they were made in.
    controller_->SetPeriod(controller_->From, controller_->To);
  }
}

void ArchivePeriodPanel::ShowPeriod(uint32_t from, uint32_t to) {
  QSignalBlocker a(from_), b(to_);
  from_->setDateTime(FromDeviceSeconds(from));
  to_->setDateTime(FromDeviceSeconds(to));
}

void ArchivePeriodPanel::ShowFigures(const std::vector<FigureLine>& lines) {
  shown_ = lines;
  // Each label with its value kept together; the pairs flow over as many lines as the width
  // needs.
  QStringList pairs;
  for (const FigureLine& line : lines) {
    QString pair = Q(line.Label).toHtmlEscaped() + QStringLiteral(": <b>") +
                   Q(line.Value).toHtmlEscaped() + QStringLiteral("</b>");
    pairs << pair.replace(QLatin1Char(' '), QStringLiteral("&nbsp;"));
  }
  figures_->setText(pairs.join(QStringLiteral(" &nbsp; &nbsp; ")));
  figures_->setAccessibleDescription(figures_->text());
}

void ArchivePeriodPanel::ShowUnit(FigureUnit unit, std::optional<double> threshold) {
  QSignalBlocker a(unit_), b(above_), c(threshold_);
  unit_->setCurrentIndex(unit == FigureUnit::Roentgen ? 1 : 0);
  threshold_->setDecimals(unit == FigureUnit::Sievert ? 2 : 0);
  above_->setChecked(threshold.has_value());
  threshold_->setEnabled(threshold.has_value());
  if (threshold) threshold_->setValue(*threshold);
}

void ArchivePeriodPanel::OnPeriodTyped() {
  if (!controller_) return;
  controller_->SetPeriod(ToDeviceSeconds(from_->dateTime()), ToDeviceSeconds(to_->dateTime()));
  if (chart_) chart_->SetSelection(-1, -1);
}

void ArchivePeriodPanel::OnThresholdChanged() {
  threshold_->setEnabled(above_->isChecked());
  if (!controller_) return;
  controller_->SetThreshold(above_->isChecked() ? std::optional<double>(threshold_->value())
                                                : std::nullopt);
}

bool ArchivePeriodPanel::SaveReport(std::string name) {
  if (!controller_) return false;
  if (name.empty() && !controller_->AskReportName(name)) return false;
  ArchiveReport report;
  if (!controller_->MakeReport(report)) return false;
  const bool ok = WriteReportPdf(report, Q(name));
  controller_->ReportWritten(name, ok);
  return ok;
}

}  // namespace dravion::ui
