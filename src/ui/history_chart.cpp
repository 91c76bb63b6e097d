#include "ui/history_chart.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "device/history_chart_model.h"

namespace dravion::ui {

namespace {
const QColor kSeriesColours[3] = {QColor(0, 0, 255), QColor(255, 0, 0), QColor(0, 128, 0)};
// The three bars of a position fill this share of its slot.
constexpr double kGroupShare = 0.9;
}  // namespace

HistoryChart::HistoryChart(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QColor HistoryChart::SeriesColour(int series) const {
  return kSeriesColours[series - 1];
}

void HistoryChart::Clear(int series) {
  bars_[series - 1].clear();
  update();
}

void HistoryChart::Add(int series, double value, const QString& label, const QColor& colour,
                       bool mark) {
  bars_[series - 1].push_back(
      Bar{value, label, colour.isValid() ? colour : kSeriesColours[series - 1], mark});
  update();
}

void HistoryChart::SetNote(const QString& note) {
  note_ = note;
  setAccessibleDescription(note);
  update();
}

bool HistoryChart::NoRecordsAt(int index) const {
  bool any = false;
  for (const auto& bars : bars_) {
    if (index < 0 || static_cast<size_t>(index) >= bars.size()) continue;
    any = true;
    if (!bars[index].mark) return false;
  }
  return any;
}

void HistoryChart::TitleClear() {
  title_.clear();
  update();
}

void HistoryChart::TitleAdd(const QString& line) {
  title_ << line;
  update();
}

void HistoryChart::Refresh() {
  update();
}

void HistoryChart::ShowData(const HistoryChartData& data) {
  TitleClear();
  for (const std::string& line : data.Title)
    TitleAdd(QString::fromStdString(line));
  SetNote(QString::fromStdString(data.Note));
  minimumTop_ = 5 * data.ValueScale;
  const std::vector<ChartPoint>* series[3] = {&data.Maximum, &data.Rate, &data.Coverage};
  for (int s = 0; s < 3; ++s) {
    Clear(s + 1);
    const std::vector<ChartPoint>& points = *series[s];
    for (size_t i = 0; i < points.size(); ++i) {
      const QString label =
          i < data.Labels.size() ? QString::fromStdString(data.Labels[i]) : QString();
      // A mark's value is no measurement: it stays as it is.
      const double value =
          static_cast<double>(points[i].Value) * (points[i].Mark ? 1.0 : data.ValueScale);
      Add(s + 1, value, label, QColor(QRgb(points[i].Colour)), points[i].Mark);
    }
  }
  station_.clear();
  for (double value : data.Station)
    station_.push_back(value * data.ValueScale);
  Refresh();
}

void HistoryChart::SetSelection(int first, int last) {
  selectionFirst_ = std::min(first, last);
  selectionLast_ = std::max(first, last);
  update();
}

int HistoryChart::BarCount() const {
  size_t count = 0;
  for (const auto& bars : bars_)
    count = std::max(count, bars.size());
  return static_cast<int>(count);
}

void HistoryChart::LayOut() {
  const int count = BarCount();
  QStringList labels;
  // Whole steps at the least: rates are whole numbers, and an empty view needs no fractions.
  double top = minimumTop_;
  for (int i = 0; i < count; ++i) {
    QString label;
    for (const auto& bars : bars_)
      if (static_cast<size_t>(i) < bars.size() && !bars[i].label.isEmpty()) {
        label = bars[i].label;
        break;
      }
    labels << label;
  }
  for (const auto& bars : bars_)
    for (const Bar& bar : bars)
      if (!bar.mark) top = std::max(top, bar.value);
  for (double value : station_)
    if (!std::isnan(value)) top = std::max(top, value);
  frame_.Layout(QRectF(rect()), font(), title_, 0, top, count, labels);
}

QRectF HistoryChart::Column(int s, int slot) const {
  const double width = frame_.Left(slot + 1) - frame_.Left(slot);
  const double group = width * kGroupShare;
  const double left = frame_.Left(slot) + (width - group) / 2 + s * group / 3;
  return QRectF(left, frame_.Plot().top(), group / 3, frame_.Plot().height());
}

QRectF HistoryChart::BarRect(int series, int index) {
  const auto& bars = bars_[series - 1];
  if (index < 0 || static_cast<size_t>(index) >= bars.size()) return {};
  LayOut();
  const QRectF column = Column(series - 1, index);
  const double top = frame_.Y(bars[index].value);
  return QRectF(QPointF(column.left(), top), QPointF(column.right(), frame_.Plot().bottom()));
}

void HistoryChart::paintEvent(QPaintEvent*) {
  LayOut();
  QPainter painter(this);
  frame_.Paint(painter);
  const int count = BarCount();
  const double bottom = frame_.Plot().bottom();
  // Positions without records: hatched across the plot, no bar at all.
  for (int i = 0; i < count; ++i) {
    if (!NoRecordsAt(i)) continue;
    const QRectF slot(QPointF(frame_.Left(i), frame_.Plot().top()),
                      QPointF(frame_.Left(i + 1), bottom));
    painter.fillRect(slot, QBrush(QColor(0xE4, 0xE4, 0xE4), Qt::BDiagPattern));
  }
  for (int s = 0; s < 3; ++s) {
    const auto& bars = bars_[s];
    for (int i = 0; i < count && static_cast<size_t>(i) < bars.size(); ++i) {
      const QRectF column = Column(s, i);
      if (bars[i].mark) {
        // The coverage of a position with records: a strip under the axis, never a bar.
        if (s == 2 && !NoRecordsAt(i))
          painter.fillRect(QRectF(column.left(), bottom + 1, column.width(), 3), bars[i].colour);
        continue;
      }
      // At least one pixel high, so that a bar of a small value still shows its colour; a
      // darker edge keeps light colours visible on the white plot.
      const double top = std::min(frame_.Y(bars[i].value), bottom - 1);
      const QRectF bar(QPointF(column.left(), top), QPointF(column.right(), bottom));
      painter.fillRect(bar, bars[i].colour);
      if (bar.width() >= 4 && bar.height() >= 3) {
        painter.setPen(bars[i].colour.darker(140));
        painter.drawRect(bar.adjusted(0, 0, -1, -1));
      }
    }
  }
  if (!station_.empty()) {
    // The station's mean at the middle of each position, joined where neighbours have one.
    const QColor blue(0x15, 0x65, 0xC0);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(blue, 2));
    painter.setBrush(blue);
    QPointF before;
    bool joined = false;
    for (int i = 0; i < count && static_cast<size_t>(i) < station_.size(); ++i) {
      if (std::isnan(station_[i])) {
        joined = false;
        continue;
      }
      const QPointF at((frame_.Left(i) + frame_.Left(i + 1)) / 2, frame_.Y(station_[i]));
      if (joined) painter.drawLine(before, at);
      painter.drawEllipse(at, 2.5, 2.5);
      before = at;
      joined = true;
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
  }
  if (selectionFirst_ >= 0 && selectionLast_ >= selectionFirst_ && selectionFirst_ < count) {
    // The chosen positions: a light veil over their slots, framed.
    const QRectF chosen(QPointF(frame_.Left(selectionFirst_), frame_.Plot().top()),
                        QPointF(frame_.Left(std::min(selectionLast_, count - 1) + 1), bottom));
    painter.fillRect(chosen, QColor(0x30, 0x60, 0xD0, 48));
    painter.setPen(QPen(QColor(0x30, 0x60, 0xD0), 1, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(chosen.adjusted(0, 0, -1, -1));
  }
  if (!note_.isEmpty()) {
    // The note in a box of its own in the middle of the plot.
    const QRectF plot = frame_.Plot();
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    const QRectF room = plot.adjusted(12, 12, -12, -12);
    QRectF box = painter.boundingRect(room, Qt::AlignCenter | Qt::TextWordWrap, note_);
    box.adjust(-10, -6, 10, 6);
    painter.setPen(QColor(0x90, 0x90, 0x90));
    painter.setBrush(QColor(255, 255, 255, 235));
    painter.drawRect(box);
    painter.setPen(Qt::black);
    painter.drawText(room, Qt::AlignCenter | Qt::TextWordWrap, note_);
  }
}

void HistoryChart::mouseDoubleClickEvent(QMouseEvent* event) {
  LayOut();
  const QPointF at = event->position();
  const int slot = frame_.SlotAt(at.x());
  if (slot < 0 || at.y() < frame_.Plot().top() || at.y() > frame_.Plot().bottom()) return;
  for (int s = 0; s < 3; ++s) {
    const QRectF column = Column(s, slot);
    if (at.x() >= column.left() && at.x() < column.right() &&
        static_cast<size_t>(slot) < bars_[s].size()) {
      emit BarDoubleClicked(s + 1, slot);
      return;
    }
  }
}

void HistoryChart::mousePressEvent(QMouseEvent* event) {
  dragFrom_ = -1;
  if (!selectable_ || event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  LayOut();
  const int slot = frame_.SlotAt(event->position().x());
  if (slot >= 0 && slot < BarCount()) dragFrom_ = slot;
}

void HistoryChart::mouseMoveEvent(QMouseEvent* event) {
  if (dragFrom_ < 0 || !(event->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(event);
  LayOut();
  int slot = frame_.SlotAt(event->position().x());
  if (slot < 0) slot = event->position().x() < frame_.Plot().left() ? 0 : BarCount() - 1;
  if (slot != dragFrom_ || selectionFirst_ >= 0) SetSelection(dragFrom_, slot);
}

void HistoryChart::mouseReleaseEvent(QMouseEvent* event) {
  const int from = dragFrom_;
  dragFrom_ = -1;
  if (from < 0 || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  LayOut();
  int slot = frame_.SlotAt(event->position().x());
  if (slot < 0) slot = event->position().x() < frame_.Plot().left() ? 0 : BarCount() - 1;
  // A click on one position is no choice (a double click zooms into it).
  if (slot != from) {
    SetSelection(from, slot);
    emit PositionsChosen(from, slot);
  }
}

bool HistoryChart::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && PositionToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    LayOut();
    const int slot = frame_.SlotAt(help->pos().x());
    const QString text = slot >= 0 && slot < BarCount() ? PositionToolTip(slot) : QString();
    if (text.isEmpty())
      QToolTip::hideText();
    else
      QToolTip::showText(help->globalPos(), text, this);
    return true;
  }
  return QWidget::event(event);
}

}  // namespace dravion::ui
