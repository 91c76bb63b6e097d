#include "ui/trend_chart.h"

#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>

#include "device/measurement_trend.h"
#include "ui/chart_frame.h"
#include "ui/qt_services.h"

namespace dravion::ui {

namespace {

// Readings further apart than this are not joined by the line.
constexpr uint32_t kJoinMs = 5000;
const QColor kLine(0xC0, 0x00, 0x00);
const QColor kMean(0x00, 0x80, 0x00);

}  // namespace

TrendChart::TrendChart(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TrendChart::SetTrend(const MeasurementTrend* trend) {
  trend_ = trend;
  update();
}

void TrendChart::SetTitle(const QStringList& lines) {
  title_ = lines;
  update();
}

void TrendChart::SetDecimalSeparator(QChar separator) {
  separator_ = separator;
  update();
}

QImage TrendChart::Image() {
  QImage image(size() * devicePixelRatioF(), QImage::Format_RGB32);
  image.setDevicePixelRatio(devicePixelRatioF());
  QPainter painter(&image);
  Paint(painter, QRectF(QPointF(0, 0), QSizeF(size())));
  return image;
}

void TrendChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Paint(painter, QRectF(rect()));
}

void TrendChart::Paint(QPainter& painter, const QRectF& bounds) {
  const uint32_t span = trend_ ? trend_->Span() : MeasurementTrend::kShortSpanS;
  const int minutes = static_cast<int>(span / 60);
  const auto* readings = trend_ ? &trend_->Readings() : nullptr;
  const bool any = readings && !readings->empty();
  const size_t first = any ? trend_->SpanStart() : 0;

  double maximum = 0;
  QStringList labels;
  if (any) {
    for (size_t i = first; i < readings->size(); ++i)
      maximum = std::max(maximum, (*readings)[i].rate);
    // Each minute slot is labelled with its clock time.
    const LocalDateTime& newest = readings->back().time;
    for (int i = 0; i < minutes; ++i) {
      const LocalDateTime t = ShiftedBy(newest, -static_cast<int64_t>(span) + i * 60);
      labels << QStringLiteral("%1:%2")
                    .arg(t.hour, 2, 10, QLatin1Char('0'))
                    .arg(t.minute, 2, 10, QLatin1Char('0'));
    }
  }
  ChartFrame frame;
  frame.SetDecimalSeparator(separator_);
  frame.Layout(bounds, font(), title_, 0, maximum, minutes, labels);
  frame.Paint(painter);
  if (!any) return;

  // The span ends with the newest reading at the right edge of the plot.
  const uint32_t newest = readings->back().tick;
  auto x = [&](uint32_t tick) {
    const double before = static_cast<double>(TicksSince(tick, newest)) / 60000.0;
    return frame.Left(minutes - before);
  };
  painter.save();
  painter.setClipRect(frame.Plot().adjusted(0, -1, 1, 1));
  painter.setRenderHint(QPainter::Antialiasing, true);
  const MeasurementTrend::Statistics stats = trend_->SpanStatistics();
  QPen mean(kMean, 1, Qt::DashLine);
  painter.setPen(mean);
  painter.drawLine(QPointF(frame.Plot().left(), frame.Y(stats.mean)),
                   QPointF(frame.Plot().right(), frame.Y(stats.mean)));
  painter.setPen(QPen(kLine, 1.5));
  QPolygonF line;
  auto flush = [&] {
    if (line.size() == 1)
      painter.drawEllipse(line.front(), 1.5, 1.5);
    else if (line.size() > 1)
      painter.drawPolyline(line);
    line.clear();
  };
  for (size_t i = first; i < readings->size(); ++i) {
    const MeasurementReading& r = (*readings)[i];
    if (i > first && TicksSince((*readings)[i - 1].tick, r.tick) > kJoinMs) flush();
    line << QPointF(x(r.tick), frame.Y(r.rate));
  }
  flush();
  painter.restore();
}

}  // namespace dravion::ui
