#include "ui/chart_frame.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace dravion::ui {

namespace {
constexpr double kPadding = 4;
constexpr double kTick = 4;
constexpr int kTicks = 5;
}  // namespace

double ChartFrame::RoundStep(double span, int ticks) {
  if (!(span > 0) || !std::isfinite(span)) return 1;
  const double raw = span / std::max(ticks, 1);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0})
    if (raw <= factor * power * (1 + 1e-9)) return factor * power;
  return 10 * power;
}

void ChartFrame::Layout(const QRectF& bounds, const QFont& font, const QStringList& title,
                        double minimum, double maximum, int slotCount, const QStringList& labels) {
  bounds_ = bounds;
  font_ = font;
  titleFont_ = font;
  titleFont_.setBold(true);
  title_ = title;
  labels_ = labels;
  slots_ = std::max(slotCount, 0);

  if (!std::isfinite(minimum)) minimum = 0;
  if (!std::isfinite(maximum)) maximum = minimum;
  if (maximum < minimum) std::swap(minimum, maximum);
  step_ = RoundStep(maximum - minimum, kTicks);
  bottom_ = std::floor(minimum / step_ + 1e-9) * step_;
  top_ = std::ceil(maximum / step_ - 1e-9) * step_;
  if (top_ <= bottom_) top_ = bottom_ + step_;
  decimals_ = step_ >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step_) - 1e-9));

  const QFontMetricsF metrics(font_);
  const QFontMetricsF titleMetrics(titleFont_);
  double valueWidth = 0;
  for (double v = bottom_; v <= top_ + step_ / 2; v += step_)
    valueWidth = std::max(valueWidth, metrics.horizontalAdvance(ValueText(v)));
  const double titleHeight = title_.size() * titleMetrics.height();
  const double top = bounds.top() + kPadding + titleHeight + (title_.isEmpty() ? 0 : kPadding) +
                     metrics.height() / 2;
  const double left = bounds.left() + kPadding + valueWidth + kTick + 2;
  const double bottom = bounds.bottom() - kPadding - metrics.height() - kTick;
  const double right =
      bounds.right() - kPadding - metrics.horizontalAdvance(QStringLiteral("00")) / 2;
  plot_ = QRectF(QPointF(left, top), QPointF(std::max(left + 1, right), std::max(top + 1, bottom)));

  // Every n-th label, n the smallest round number that keeps neighbours apart.
  double labelWidth = 0;
  for (const QString& label : labels_)
    labelWidth = std::max(labelWidth, metrics.horizontalAdvance(label));
  const double slotWidth = slots_ > 0 ? plot_.width() / slots_ : plot_.width();
  labelEvery_ = 1;
  for (int every : {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000}) {
    labelEvery_ = every;
    if (every * slotWidth >= labelWidth + metrics.horizontalAdvance(QStringLiteral("0"))) break;
  }
}

double ChartFrame::Y(double value) const {
  const double share = (value - bottom_) / (top_ - bottom_);
  return plot_.bottom() - std::clamp(share, 0.0, 1.0) * plot_.height();
}

double ChartFrame::Left(double slot) const {
  if (slots_ <= 0) return plot_.left();
  return plot_.left() + slot * plot_.width() / slots_;
}

int ChartFrame::SlotAt(double x) const {
  if (slots_ <= 0 || x < plot_.left() || x >= plot_.right()) return -1;
  return std::min(slots_ - 1, static_cast<int>((x - plot_.left()) * slots_ / plot_.width()));
}

QString ChartFrame::ValueText(double value) const {
  if (std::abs(value) < step_ * 1e-6) value = 0;  // no "-0"
  QString text = QString::number(value, 'f', decimals_);
  text.replace(QLatin1Char('.'), separator_);
  return text;
}

void ChartFrame::Paint(QPainter& painter) const {
  painter.save();
  painter.fillRect(bounds_, style_.background);
  painter.fillRect(plot_, style_.plot);

  const QFontMetricsF metrics(font_);
  const QFontMetricsF titleMetrics(titleFont_);
  painter.setPen(style_.text);
  painter.setFont(titleFont_);
  double y = bounds_.top() + kPadding;
  for (const QString& line : title_) {
    painter.drawText(QRectF(bounds_.left(), y, bounds_.width(), titleMetrics.height()),
                     Qt::AlignHCenter | Qt::AlignVCenter, line);
    y += titleMetrics.height();
  }

  // Grid and value labels.
  painter.setFont(font_);
  const int lines = static_cast<int>(std::lround((top_ - bottom_) / step_));
  for (int i = 0; i <= lines; ++i) {
    const double value = bottom_ + i * step_;
    const double at = Y(value);
    painter.setPen(style_.grid);
    if (i > 0) painter.drawLine(QPointF(plot_.left(), at), QPointF(plot_.right(), at));
    painter.setPen(style_.axis);
    painter.drawLine(QPointF(plot_.left() - kTick, at), QPointF(plot_.left(), at));
    painter.setPen(style_.text);
    painter.drawText(QRectF(bounds_.left(), at - metrics.height() / 2,
                            plot_.left() - kTick - 2 - bounds_.left(), metrics.height()),
                     Qt::AlignRight | Qt::AlignVCenter, ValueText(value));
  }

  // Slot labels, centred under their slots.
  const double labelTop = plot_.bottom() + kTick;
  for (int i = 0; i < slots_ && i < labels_.size(); i += labelEvery_) {
    const double centre = X(i);
    painter.setPen(style_.axis);
    painter.drawLine(QPointF(centre, plot_.bottom()), QPointF(centre, labelTop));
    painter.setPen(style_.text);
    painter.drawText(QRectF(centre - 50, labelTop, 100, metrics.height()),
                     Qt::AlignHCenter | Qt::AlignTop, labels_[i]);
  }

  painter.setPen(style_.axis);
  painter.drawLine(plot_.bottomLeft(), plot_.bottomRight());
  painter.drawLine(plot_.bottomLeft(), plot_.topLeft());
  painter.restore();
}

}  // namespace dravion::ui
