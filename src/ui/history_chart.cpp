#include "ui/history_chart.h"

#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QTimer>
#include <QValueAxis>
#include <algorithm>

namespace dravion::ui {

namespace {
const QColor kSeriesColours[3] = {QColor(0, 0, 255), QColor(255, 0, 0), QColor(0, 128, 0)};
}

HistoryChart::HistoryChart(QWidget* parent) : QChartView(parent) {
  auto* chart = new QChart();
  chart->legend()->hide();
  chart->setMargins(QMargins(4, 4, 4, 4));
  chart->setBackgroundRoundness(0);
  series_ = new QBarSeries(chart);
  series_->setBarWidth(0.9);
  for (int i = 0; i < 3; ++i) {
    sets_[i] = new QBarSet(QStringLiteral("Series%1").arg(i + 1));
    sets_[i]->setObjectName(QStringLiteral("Series%1").arg(i + 1));
    sets_[i]->setColor(kSeriesColours[i]);
    sets_[i]->setBorderColor(Qt::transparent);
    series_->append(sets_[i]);
    connect(sets_[i], &QBarSet::doubleClicked, this,
            [this, i](int index) { emit BarDoubleClicked(i + 1, index); });
  }
  chart->addSeries(series_);
  categories_ = new QCategoryAxis(chart);
  categories_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  categories_->setGridLineVisible(false);
  values_ = new QValueAxis(chart);
  values_->setLabelFormat(QStringLiteral("%.0f"));
  values_->setRange(0, 1);
  chart->addAxis(categories_, Qt::AlignBottom);
  chart->addAxis(values_, Qt::AlignLeft);
  series_->attachAxis(categories_);
  series_->attachAxis(values_);
  setChart(chart);
  setRenderHint(QPainter::Antialiasing, false);
}

QColor HistoryChart::SeriesColour(int series) const {
  return sets_[series - 1]->color();
}

void HistoryChart::Clear(int series) {
  bars_[series - 1].clear();
  ScheduleRefresh();
}

void HistoryChart::Add(int series, double value, const QString& label, const QColor& colour) {
  bars_[series - 1].push_back(Bar{value, label, colour});
  ScheduleRefresh();
}

void HistoryChart::TitleClear() {
  title_.clear();
  chart()->setTitle(QString());
}

void HistoryChart::TitleAdd(const QString& line) {
  title_ << line;
  QStringList escaped;
  for (const QString& text : title_)
    escaped << text.toHtmlEscaped();
  chart()->setTitle(escaped.join(QStringLiteral("<br>")));
}

void HistoryChart::ScheduleRefresh() {
  if (refreshPending_) return;
  refreshPending_ = true;
  QTimer::singleShot(0, this, &HistoryChart::Refresh);
}

void HistoryChart::Refresh() {
  refreshPending_ = false;
  size_t count = 0;
  for (const auto& bars : bars_)
    count = std::max(count, bars.size());
  // Bar i stands at x = i. Dense views (the hour, a month) label every fifth bar, so that the
  // labels stay readable; the bars keep their own labels.
  for (const QString& label : categories_->categoriesLabels())
    categories_->remove(label);
  const int step = count > 31 ? 5 : 1;
  QStringList used;
  for (size_t i = 0; i < count; i += step) {
    QString label;
    for (const auto& bars : bars_)
      if (i < bars.size() && !bars[i].label.isEmpty()) {
        label = bars[i].label;
        break;
      }
    while (used.contains(label))
      label += QChar(0x200B);  // labels of an axis must differ
    used << label;
    categories_->append(label, static_cast<qreal>(i));
  }
  categories_->setRange(-0.5, count > 0 ? static_cast<qreal>(count) - 0.5 : 0.5);
  double top = 1;
  for (int s = 0; s < 3; ++s) {
    QBarSet* set = sets_[s];
    set->remove(0, set->count());
    // A set has its own colour and one selection colour: the first colour of the series is the
    // set's colour and bars of another colour are drawn as selected in that colour.
    const auto& bars = bars_[s];
    QColor base = bars.empty() ? kSeriesColours[s] : bars.front().colour;
    QColor other;
    QList<qreal> values;
    QList<int> marked;
    for (size_t i = 0; i < count; ++i) {
      if (i >= bars.size()) {
        values << 0;
        continue;
      }
      values << bars[i].value;
      top = std::max(top, bars[i].value);
      if (bars[i].colour != base) {
        if (!other.isValid()) other = bars[i].colour;
        marked << static_cast<int>(i);
      }
    }
    set->setColor(base);
    set->setSelectedColor(other.isValid() ? other : base);
    set->append(values);
    set->deselectAllBars();
    set->selectBars(marked);
  }
  values_->setRange(0, top * 1.05);
  values_->applyNiceNumbers();
}

}  // namespace dravion::ui
