#pragma once

#include <QColor>
#include <QStringList>
#include <QWidget>
#include <vector>

#include "ui/chart_frame.h"

namespace dravion::ui {

// The history chart: three bar series side by side per bar position, a title of several lines,
// no legend. Each bar carries its own value, label and colour. Drawn with QPainter on a
// ChartFrame; values start at 0.
class HistoryChart : public QWidget {
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
  // The colour of a bar added without a valid colour of its own.
  QColor SeriesColour(int series) const;

  void TitleClear();
  void TitleAdd(const QString& line);
  QStringList TitleLines() const { return title_; }

  // Redraws after a batch of Add calls (Add itself redraws on the next paint).
  void Refresh();

  // Where bar `index` of series 1..3 is drawn at the widget's present size (empty when none).
  QRectF BarRect(int series, int index);

  QSize sizeHint() const override { return QSize(480, 260); }
  QSize minimumSizeHint() const override { return QSize(160, 120); }

 signals:
  // A double click on bar `index` of series 1..3 (anywhere in the bar's column).
  void BarDoubleClicked(int series, int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  int BarCount() const;
  void LayOut();
  // The column of series s (0..2) in slot `slot`.
  QRectF Column(int s, int slot) const;

  ChartFrame frame_;
  std::vector<Bar> bars_[3];
  QStringList title_;
};

}  // namespace dravion::ui
