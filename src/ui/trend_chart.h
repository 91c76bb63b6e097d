#pragma once

#include <QStringList>
#include <QWidget>

namespace dravion {
class MeasurementTrend;
}

namespace dravion::ui {

// The dose rate over the trend's span as a line: time along x (the span ending with the newest
// reading, a slot per minute), the rate along y from zero. Readings further apart than a few
// seconds are not joined, so a gap shows as one. It paints from the model and keeps nothing.
class TrendChart : public QWidget {
  Q_OBJECT
 public:
  explicit TrendChart(QWidget* parent = nullptr);

  // The model drawn; null draws an empty frame.
  void SetTrend(const MeasurementTrend* trend);
  // Title lines above the plot (the unit).
  void SetTitle(const QStringList& lines);
  QStringList Title() const { return title_; }
  // The decimal separator of the value axis.
  void SetDecimalSeparator(QChar separator);
  // The chart as an image of its current size (for saving).
  QImage Image();

  QSize sizeHint() const override { return {360, 160}; }
  QSize minimumSizeHint() const override { return {160, 90}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Paint(QPainter& painter, const QRectF& bounds);

  const MeasurementTrend* trend_ = nullptr;
  QStringList title_;
  QChar separator_ = QLatin1Char('.');
};

}  // namespace dravion::ui
