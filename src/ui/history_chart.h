#pragma once

#include <QChartView>
#include <QColor>
#include <QStringList>
#include <vector>

class QBarSet;
class QBarSeries;
class QCategoryAxis;
class QValueAxis;

namespace dravion::ui {

// The history chart: three bar series side by side per bar position, a title of several lines,
// no legend. Each bar carries its own value, label and colour.
class HistoryChart : public QChartView {
  Q_OBJECT
 public:
  struct Bar {
    double value = 0;
    QString label;
    QColor colour;
  };

  explicit HistoryChart(QWidget* parent = nullptr);

  // Series 1..3.
  void Clear(int series);
  void Add(int series, double value, const QString& label, const QColor& colour);
  const std::vector<Bar>& Bars(int series) const { return bars_[series - 1]; }
  QColor SeriesColour(int series) const;

  void TitleClear();
  void TitleAdd(const QString& line);
  QStringList TitleLines() const { return title_; }

  // Redraws after a batch of Add calls (Add itself redraws on the next event-loop turn).
  void Refresh();

 signals:
  // A double click on bar `index` of series 1..3.
  void BarDoubleClicked(int series, int index);

 private:
  void ScheduleRefresh();
  QBarSeries* series_;
  QBarSet* sets_[3];
  QCategoryAxis* categories_;
  QValueAxis* values_;
  std::vector<Bar> bars_[3];
  QStringList title_;
  bool refreshPending_ = false;
};

}  // namespace dravion::ui
