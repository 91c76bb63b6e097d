#pragma once

#include <QString>

namespace dravion {
struct ArchiveReport;
}

namespace dravion::ui {

// Writes the report as an A4 PDF document: the title, the device, the period, the figures, the
// chart of the period, the table of days or months, and on each page the time it was made and
// the page's number. Written aside and renamed over `fileName` only when complete; false when
// the file cannot be written.
bool WriteReportPdf(const ArchiveReport& report, const QString& fileName);

}  // namespace dravion::ui
