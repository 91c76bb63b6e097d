#include "ui/pages/measurement_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/pages/page_layout.h"
#include "ui/qt_services.h"

namespace dravion::ui {

namespace {

const QColor kIndicatorLit(0xFF, 0xFF, 0x00);

}  // namespace

MeasurementPage::MeasurementPage(QWidget* parent) : QWidget(parent) {
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
  column->addStretch(1);
  column->addWidget(message_);

  auto* work = new QHBoxLayout;
  work->setContentsMargins(0, 6, 0, 0);
  work->setSpacing(8);
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
  work->addWidget(fon, 1);
  work->addWidget(dose, 1);
  row->addWidget(Scrolling(work, this), 1);
  ShowIndicator(rateIndicator_, false);
  ShowIndicator(doseIndicator_, false);

  connect(read_, &QPushButton::clicked, this, [this] {
    if (controller_) controller_->BitBtn_Measure_ReadClick();
  });
  connect(autoRead_, &QCheckBox::clicked, this, [this] {
    if (controller_) controller_->CheckBox_Measure_AutoReadClick();
  });
  connect(reset_, &QPushButton::clicked, this, [this] {
    if (controller_) controller_->BitBtn_Measure_Dose_ResetClick();
  });
}

void MeasurementPage::ShowRate(const std::string& text) {
  rate_->setText(Q(text));
}

void MeasurementPage::ShowDose(const std::string& text) {
  dose_->setText(Q(text));
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

}  // namespace dravion::ui
