#include "ui/archive_report_pdf.h"

#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include "archive/archive_period.h"
#include "ui/history_chart.h"

namespace dravion::ui {

namespace {

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The page in units of 1/96 inch, the unit widgets are drawn in, so that the chart widget draws
// itself into the document as it does on the screen.
constexpr int kResolution = 96;

class ReportPainter {
 public:
  ReportPainter(QPdfWriter& writer, const ArchiveReport& report)
      : writer_(writer), painter_(&writer), report_(report) {
    page_ = QRectF(QPointF(0, 0), writer.pageLayout().paintRectPixels(kResolution).size());
    body_ = QFont();
    body_.setPointSizeF(9.5);
    painter_.setFont(body_);
    Footer();
  }

  bool Ok() const { return painter_.isActive(); }

  void Title(const std::string& text) {
    QFont font = body_;
    font.setPointSizeF(16);
    font.setBold(true);
    Line(Q(text), font, 8);
  }

  void Heading(const std::string& text) {
    QFont font = body_;
    font.setPointSizeF(11);
    font.setBold(true);
    y_ += 6;
    Line(Q(text), font, 4);
  }

  void Gap(double height) { y_ += height; }

  // Label and value in two columns.
  void Pairs(const std::vector<FigureLine>& lines) {
    const QFontMetricsF metrics(body_, &writer_);
    double labelWidth = 0;
    for (const FigureLine& line : lines)
      labelWidth =
          std::max(labelWidth, metrics.horizontalAdvance(Q(line.Label) + QStringLiteral(":")));
    for (const FigureLine& line : lines) {
      Room(metrics.height() + 2);
      painter_.setFont(body_);
      painter_.drawText(QPointF(0, y_ + metrics.ascent()), Q(line.Label) + QStringLiteral(":"));
      painter_.drawText(QPointF(labelWidth + 12, y_ + metrics.ascent()), Q(line.Value));
      y_ += metrics.height() + 2;
    }
  }

  void Chart(const ArchiveReport& report) {
    const double height = 300;
    Room(height + 8);
    HistoryChart chart;
    chart.setFont(body_);
    chart.resize(static_cast<int>(page_.width()), static_cast<int>(height));
    chart.SetDecimalSeparator(QLatin1Char(report.DecimalSeparator));
    chart.ShowData(report.Chart);
    painter_.save();
    painter_.translate(0, y_);
    chart.render(&painter_, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    painter_.restore();
    y_ += height + 8;
  }

  void Table(const std::vector<std::string>& columns,
             const std::vector<std::vector<std::string>>& rows) {
    const QFontMetricsF metrics(body_, &writer_);
    const double rowHeight = metrics.height() + 4;
    const double width = page_.width() / static_cast<double>(columns.size());
    QFont bold = body_;
    bold.setBold(true);
    auto header = [&]() {
      // Two lines for titles that do not fit in one.
      const double headerHeight = 2 * metrics.height() + 4;
      Room(headerHeight + rowHeight);
      painter_.setFont(bold);
      for (size_t c = 0; c < columns.size(); ++c)
        painter_.drawText(
            QRectF(c * width, y_, width - 6, headerHeight),
            (c == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignBottom | Qt::TextWordWrap,
            Q(columns[c]));
      y_ += headerHeight;
      painter_.drawLine(QPointF(0, y_), QPointF(page_.width(), y_));
      painter_.setFont(body_);
    };
    header();
    for (size_t r = 0; r < rows.size(); ++r) {
      if (y_ + rowHeight > Bottom()) {
        NewPage();
        header();
      }
      if (r % 2 == 1)
        painter_.fillRect(QRectF(0, y_, page_.width(), rowHeight), QColor(0xF2, 0xF2, 0xF2));
      for (size_t c = 0; c < columns.size() && c < rows[r].size(); ++c)
        painter_.drawText(QRectF(c * width, y_, width - 6, rowHeight),
                          (c == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                          Q(rows[r][c]));
      y_ += rowHeight;
    }
  }

 private:
  double Bottom() const { return page_.height() - 28; }

  void Line(const QString& text, const QFont& font, double after) {
    const QFontMetricsF metrics(font, &writer_);
    Room(metrics.height() + after);
    painter_.setFont(font);
    painter_.drawText(QPointF(0, y_ + metrics.ascent()), text);
    y_ += metrics.height() + after;
    painter_.setFont(body_);
  }

  // Starts a new page unless `height` fits on this one.
  void Room(double height) {
    if (y_ + height > Bottom() && y_ > 0) NewPage();
  }

  void NewPage() {
    writer_.newPage();
    y_ = 0;
    ++pageNumber_;
    Footer();
  }

  // The time made and the page's number at the foot of the page.
  void Footer() {
    QFont small = body_;
    small.setPointSizeF(8);
    painter_.setFont(small);
    painter_.setPen(QColor(0x50, 0x50, 0x50));
    const QRectF foot(0, page_.height() - 16, page_.width(), 16);
    painter_.drawText(foot, Qt::AlignLeft | Qt::AlignVCenter, Q(report_.Made));
    painter_.drawText(foot, Qt::AlignRight | Qt::AlignVCenter,
                      Q(report_.Page) + QLatin1Char(' ') + QString::number(pageNumber_));
    painter_.setPen(Qt::black);
    painter_.setFont(body_);
  }

  QPdfWriter& writer_;
  QPainter painter_;
  const ArchiveReport& report_;
  QRectF page_;
  QFont body_;
  double y_ = 0;
  int pageNumber_ = 1;
};

}  // namespace

bool WriteReportPdf(const ArchiveReport& report, const QString& fileName) {
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly)) return false;
  {
    QPdfWriter writer(&file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(15, 15, 15, 12), QPageLayout::Millimeter);
    writer.setResolution(kResolution);
    writer.setTitle(Q(report.Title));
    writer.setCreator(QStringLiteral("Dravion Manager"));
    ReportPainter page(writer, report);
    if (!page.Ok()) return false;
    page.Title(report.Title);
    page.Pairs(report.Device);
    page.Heading(report.Period);
    page.Pairs(report.Figures);
    page.Gap(10);
    page.Chart(report);
    page.Table(report.Columns, report.Rows);
  }
  return file.commit();
}

}  // namespace dravion::ui
