#pragma once

#include <QColor>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <vector>

#include "ui/chart_frame.h"

namespace dravion {
struct HistoryChartData;
}

namespace dravion::ui {

// The history chart: three bar series side by side per bar position, a title of several lines,
// no legend. Each bar carries its own value, label and colour. Drawn with QPainter on a
// ChartFrame; values start at 0.
class HistoryChart : public QWidget {
  Q_OBJECT
 public:
  // A value bar, or a mark (`mark`): no measurement, whatever its value. A position whose
  // points are all marks has no records and is drawn hatched; the mark of the third series at a
  // position with records (the coverage) is drawn as a strip under the axis; other marks are
  // not drawn. The value axis is scaled to the value bars alone.
  struct Bar {
    double value = 0;
    QString label;
    QColor colour;
    bool mark = false;
  };

  explicit HistoryChart(QWidget* parent = nullptr);

  // Series 1..3.
  void Clear(int series);
  void Add(int series, double value, const QString& label, const QColor& colour, bool mark = false);
  const std::vector<Bar>& Bars(int series) const { return bars_[series - 1]; }
  // The colour of a bar added without a valid colour of its own.
  QColor SeriesColour(int series) const;

  void TitleClear();
  void TitleAdd(const QString& line);
  QStringList TitleLines() const { return title_; }
  // A note written across the plot (empty: none), for a view without records.
  void SetNote(const QString& note);
  QString Note() const { return note_; }
  const std::vector<double>& StationLine() const { return station_; }
  // Whether position `index` has no records (every point there is a mark).
  bool NoRecordsAt(int index) const;
  // The decimal separator of the value axis.
  void SetDecimalSeparator(QChar separator) { frame_.SetDecimalSeparator(separator); }

  // Redraws after a batch of Add calls (Add itself redraws on the next paint).
  void Refresh();
  // Title, note and the three series of a chart model, its values in the chart's unit.
  void ShowData(const HistoryChartData& data);

  // Positions `first` to `last` shown as chosen (-1: none).
  void SetSelection(int first, int last);
  int SelectionFirst() const { return selectionFirst_; }
  int SelectionLast() const { return selectionLast_; }
  // Whether positions can be chosen by dragging across them.
  void SetSelectable(bool selectable) { selectable_ = selectable; }
  // The tooltip of position `index` (empty: none), asked when the mouse rests over it.
  std::function<QString(int index)> PositionToolTip;

  // Where bar `index` of series 1..3 is drawn at the widget's present size (empty when none).
  QRectF BarRect(int series, int index);

  QSize sizeHint() const override { return QSize(480, 260); }
  QSize minimumSizeHint() const override { return QSize(160, 120); }

 signals:
  // A double click on bar `index` of series 1..3 (anywhere in the bar's column).
  void BarDoubleClicked(int series, int index);
  // Positions `first` to `last` chosen by dragging across them (first may be the later one).
  void PositionsChosen(int first, int last);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  int BarCount() const;
  void LayOut();
  // The column of series s (0..2) in slot `slot`.
  QRectF Column(int s, int slot) const;

  ChartFrame frame_;
  std::vector<Bar> bars_[3];
  // The station's line: a value (already scaled) per bar position, NaN where it has none.
  std::vector<double> station_;
  QStringList title_;
  QString note_;
  double minimumTop_ = 5;  // the value axis reaches at least this high
  bool selectable_ = false;
  int selectionFirst_ = -1, selectionLast_ = -1;
  int dragFrom_ = -1;  // the position a drag began at
};

}  // namespace dravion::ui
