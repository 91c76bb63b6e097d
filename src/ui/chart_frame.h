#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QStringList>

class QPainter;

namespace dravion::ui {

// The frame of a chart drawn with QPainter: title lines above, a value axis on the left with a
// grid of round steps, a row of slot labels below, and the plot area between them. A chart
// widget lays the frame out for its size and data, paints it, then draws its own marks (bars,
// lines) inside Plot() with the X() and Y() mappings. Values run from Bottom() at the foot of the
// plot to Top() at its head; the positions along x are `slotCount` equal slots, slot i spanning
// [Left(i), Left(i + 1)) with its centre at X(i).
class ChartFrame {
 public:
  struct Style {
    QColor background = Qt::white;
    QColor plot = Qt::white;
    QColor grid = QColor(0xD8, 0xD8, 0xD8);
    QColor axis = QColor(0x60, 0x60, 0x60);
    QColor text = Qt::black;
  };

  // `minimum` and `maximum` are the values that must fit (the range is widened to round steps;
  // a range of zero width gets one step). `labels` names the slots (empty strings are allowed);
  // only every n-th label is written when they would collide, n a round number.
  void Layout(const QRectF& bounds, const QFont& font, const QStringList& title, double minimum,
              double maximum, int slotCount, const QStringList& labels);

  // Fills the background, writes the title and labels, draws the grid and the axes.
  void Paint(QPainter& painter) const;

  Style& Colours() { return style_; }
  // The decimal separator of the value labels (a point unless set).
  void SetDecimalSeparator(QChar separator) { separator_ = separator; }
  QRectF Plot() const { return plot_; }
  int Slots() const { return slots_; }
  double Bottom() const { return bottom_; }
  double Top() const { return top_; }
  double Step() const { return step_; }
  int LabelEvery() const { return labelEvery_; }

  // Pixel of a value (clamped to the plot) and of slot positions.
  double Y(double value) const;
  double Left(double slot) const;
  double X(int slot) const { return Left(slot + 0.5); }
  // The slot under pixel column x, or -1 outside the plot.
  int SlotAt(double x) const;

  // Round step of about (maximum - minimum) / ticks: 1, 2 or 5 times a power of ten.
  static double RoundStep(double span, int ticks);

 private:
  QString ValueText(double value) const;

  Style style_;
  QRectF bounds_, plot_;
  QFont font_, titleFont_;
  QStringList title_, labels_;
  double bottom_ = 0, top_ = 1, step_ = 1;
  int slots_ = 0;
  int labelEvery_ = 1;
  int decimals_ = 0;
  QChar separator_ = QLatin1Char('.');
};

}  // namespace dravion::ui
