#pragma once

#include <QWidget>
#include <memory>

#include "archive/archive_period.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QDoubleSpinBox;
class QLabel;
class QPushButton;

namespace dravion {
class ArchivePane;
class HistoryController;
class Language;
struct DeviceContext;
}  // namespace dravion

namespace dravion::ui {

class HistoryChart;

// Under the archive's chart: the period (From and To, typed, or dragged across the chart's bars),
// the unit of the chart and the figures, the threshold of the time above it, the period's
// figures, and the period as an Excel workbook or a PDF report. The sequences are the period
// controller's; this panel shows what it says.
class ArchivePeriodPanel : public QWidget, public ArchivePeriodView {
  Q_OBJECT
 public:
  ArchivePeriodPanel(const Language& language, QWidget* parent = nullptr);
  ~ArchivePeriodPanel() override;

  void Attach(DeviceContext& context, ArchivePane& pane, HistoryController& files,
              HistoryChart& chart);
  void Detach();
  ArchivePeriodController* Controller() const { return controller_.get(); }
  void ApplyLanguage();
  // Writes the period's report to `name` (asked before when empty); true when written.
  bool SaveReport(std::string name = {});

  // ArchivePeriodView.
  void ShowPeriod(uint32_t from, uint32_t to) override;
  void ShowFigures(const std::vector<FigureLine>& lines) override;
  void ShowUnit(FigureUnit unit, std::optional<double> threshold) override;

 private:
  QString LangText(const char* russian, const char* english) const;
  void OnPeriodTyped();
  void OnThresholdChanged();

  const Language& language_;
  std::unique_ptr<ArchivePeriodController> controller_;
  HistoryChart* chart_ = nullptr;
  QLabel* fromLabel_ = nullptr;
  QLabel* toLabel_ = nullptr;
  QDateTimeEdit* from_ = nullptr;
  QDateTimeEdit* to_ = nullptr;
  QComboBox* unit_ = nullptr;
  QCheckBox* above_ = nullptr;
  QDoubleSpinBox* threshold_ = nullptr;
  QCheckBox* station_ = nullptr;
  QLabel* figures_ = nullptr;
  QPushButton* workbook_ = nullptr;
  QPushButton* report_ = nullptr;
  std::vector<FigureLine> shown_;
  QObject* attachment_ = nullptr;
};

}  // namespace dravion::ui
