#include "archive/archive_workbook.h"

#include <gtest/gtest.h>

#include <optional>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "archive/archive_support.h"
#include "support/comma_locale.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

using archive_test::DownloadOf;
using archive_test::FileBytes;
using archive_test::Measurement;
namespace fs = std::filesystem;

constexpr uint32_t kDayStart = 799977600;  // a day's first second (device seconds)

// Reads a workbook back as a spreadsheet program would: every cell of every sheet with its type,
// value and number format, each sheet's frozen pane and column widths, and the charts' ranges.
const char* const kReader = R"(
import re, sys, zipfile, xml.etree.ElementTree as ET
ns = {'m': 'http://schemas.openxmlformats.org/spreadsheetml/2006/main',
      'r': 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'}
z = zipfile.ZipFile(sys.argv[1])
styles = ET.fromstring(z.read('xl/styles.xml'))
formats = {int(f.get('numFmtId')): f.get('formatCode') for f in styles.iter('{%s}numFmt' % ns['m'])}
xfs = [int(x.get('numFmtId', 0)) for x in styles.find('m:cellXfs', ns)]
rels = ET.fromstring(z.read('xl/_rels/workbook.xml.rels'))
target = {r.get('Id'): r.get('Target') for r in rels}
book = ET.fromstring(z.read('xl/workbook.xml'))
for sheet in book.find('m:sheets', ns):
    name = sheet.get('name')
    root = ET.fromstring(z.read('xl/' + target[sheet.get('{%s}id' % ns['r'])]))
    for pane in root.iter('{%s}pane' % ns['m']):
        print('%s pane %s %s' % (name, pane.get('ySplit'), pane.get('state')))
    for col in root.iter('{%s}col' % ns['m']):
        print('%s col %s width %s' % (name, col.get('min'), col.get('width')))
    for c in root.iter('{%s}c' % ns['m']):
        t = c.get('t', 'n')
        if t == 'inlineStr':
            value = ''.join(x.text or '' for x in c.iter('{%s}t' % ns['m']))
        else:
            v = c.find('m:v', ns)
            value = v.text if v is not None else ''
        fmt = formats.get(xfs[int(c.get('s', 0))], '')
        print('%s!%s %s %s %s' % (name, c.get('r'), t, value, fmt))
for n in sorted(z.namelist()):
    if n.startswith('xl/charts/chart'):
        for f in re.findall(r'<c:f>([^<]*)</c:f>', z.read(n).decode()):
            print('chart %s' % f)
)";

std::string ReadBack(const fs::path& workbook, const fs::path& folder) {
  const fs::path script = folder / "read.py";
  std::ofstream(script) << kReader;
  const fs::path out = folder / "cells.txt";
  const std::string command =
      "python3 '" + script.string() + "' '" + workbook.string() + "' > '" + out.string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return FileBytes(out);
}

// The value of one cell of the read-back workbook ("Days!D2"), empty when there is none.
std::string CellValue(const std::string& cells, const std::string& ref) {
  const size_t at = cells.find("\n" + ref + " ");
  if (at == std::string::npos) return {};
  std::istringstream line(cells.substr(at + 1, cells.find('\n', at + 1) - at - 1));
  std::string name, type, value;
  line >> name >> type >> value;
  return value;
}

// The value beside a label of the front sheet.
std::string FrontValue(const std::string& cells, const std::string& label) {
  const size_t at = cells.find(" inlineStr " + label + " \n");
  if (at == std::string::npos) return {};
  const size_t begin = cells.rfind("\nDevice!A", at) + 9;
  return CellValue(cells, "Device!B" + cells.substr(begin, at - begin));
}

// The workbook of a small archive read back: dates are Excel dates with a date format, rates,
// counts and doses are numbers in the unit asked for, headers frozen and columns sized; the days
// sheet holds each day's mean, highest, dose and hours covered, charted; the front sheet the
// device, the period and its figures. A failed write leaves the file there as it was.
TEST(ArchiveWorkbook, TheWorkbookReadBackHoldsDatesAndNumbersOfTheRecordsAndDays) {
#ifdef _WIN32
  GTEST_SKIP() << "read back with Python's zipfile, on Linux";
#endif
  test::ScratchFolder folder("workbook");
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open((folder.path() / "a.sqlite3").string())) << archive.Error();
  const uint32_t d = kDayStart;
  ASSERT_TRUE(
      archive.Merge(DownloadOf({Measurement(d, 60, 86), Measurement(d + 60, 60, 172)}, 100)).Ok);
  ASSERT_TRUE(
      archive
          .Merge(DownloadOf({Measurement(d + 240, 120, 86), Measurement(d + 86370, 60, 172)}, 200))
          .Ok);
  const ArchiveDevice device = archive.Devices().at(0);

  WorkbookInfo info;
  info.Serial = device.Serial;
  info.Uid = device.Uid;
  info.Unit = FigureUnit::Roentgen;
  info.Texts.Set(Lang::English);
  info.Made = {2026, 12, 8, 14, 30, 0};
  const fs::path file = folder.path() / "history.xlsx";
  // The window runs with the user's locale, whose decimal separator may be a comma: the
  // workbook's numbers must not follow it.
  std::optional<test::CommaDecimalLocale> comma;
  comma.emplace();
  WorkbookResult written =
      WriteArchiveWorkbook(archive, {device.Id, d, d + 2 * 86400 - 1}, info, file.string());
  comma.reset();
  ASSERT_TRUE(written.Ok) << written.Error;
  EXPECT_EQ(written.Records, 4u);
  EXPECT_EQ(written.Days, 2u);
  const std::string cells = ReadBack(file, folder.path());
  auto has = [&](const std::string& line) {
    EXPECT_NE(cells.find(line + "\n"), std::string::npos) << line << "\n" << cells;
  };
  // Day 36526 + 9259 is the archive's day; the first record at its midnight.
  has("Records pane 1 frozen");
  has("Records col 1 width 20.7109375");
  has("Records!A1 inlineStr Start ");
  has("Records!E1 inlineStr Dose rate, uR/h ");
  has("Records!A2 n 45785 dd.mm.yyyy hh:mm:ss");
  has("Records!B2 n 60 ");
  has("Records!C2 n 86 ");
  has("Records!D2 n 1 0.00");
  has("Records!E2 n 30 0.0");
  has("Records!D4 n 2 0.00");
  has("Records!A5 n 45785.99965277778 dd.mm.yyyy hh:mm:ss");
  has("Records!E5 n 120 0.0");
  has("Records!F5 n 2 0.0");
  // Day 1: 60200 pulses x K over 270 s; day 2: the 30 s after midnight of the last record.
  has("Days!A2 n 45785 dd.mm.yyyy");
  has("Days!B2 n 46.66666666666666 0.0");
  has("Days!C2 n 120 0.0");
  has("Days!D2 n 3.5 0.0");
  has("Days!E2 n 0.075 0.00");
  has("Days!A3 n 45786 dd.mm.yyyy");
  has("Days!B3 n 120 0.0");
  has("chart 'Days'!$B$2:$B$3");
  has("chart 'Days'!$C$2:$C$3");
  has("Device!B3 inlineStr 214-36587 ");
  has("Device!A5 inlineStr From ");
  has("Device!B5 n 45785 dd.mm.yyyy hh:mm:ss");
  // Each day's mean with its 95% interval, as numbers beside the other figures.
  has("Days!F1 inlineStr Mean, lower 95% limit, uR/h ");
  has("Days!G1 inlineStr Mean, upper 95% limit, uR/h ");
  ArchiveFigures second;
  ASSERT_TRUE(ArchiveStatistics(archive, {device.Id, d + 86400, d + 2 * 86400 - 1, {}}, second));
  EXPECT_NEAR(std::stod(CellValue(cells, "Days!F3")), second.MeanInterval().Low, 1e-9) << cells;
  EXPECT_NEAR(std::stod(CellValue(cells, "Days!G3")), second.MeanInterval().High, 1e-9) << cells;
  EXPECT_LT(std::stod(CellValue(cells, "Days!F3")), 120);
  EXPECT_GT(std::stod(CellValue(cells, "Days!G3")), 120);
  has("Days!F2 n " + CellValue(cells, "Days!F2") + " 0.0");
  has("Device!C15 n 45785.99965277778 dd.mm.yyyy hh:mm:ss");  // the highest rate's time
  has("Device!B8 n 4 ");
  has("Device!A13 inlineStr Mean, lower 95% limit, uR/h ");
  has("Device!A17 inlineStr Dose, uR ");
  has("Device!B17 n 4.5 0.0");
  has("Device!A18 inlineStr Dose, lower 95% limit, uR ");
  has("Device!B19 n " + CellValue(cells, "Device!B19") + " 0.0");
  has("Device!B21 n 46364.60416666666 dd.mm.yyyy hh:mm:ss");

  // A file that cannot be put in place: the one there stays.
  std::ofstream(file, std::ios::binary | std::ios::trunc) << "earlier";
  written = WriteArchiveWorkbook(archive, {device.Id, d, d + 86399}, info, file.string(),
                                 [](FileStep step) { return step != FileStep::Replace; });
  EXPECT_FALSE(written.Ok);
  EXPECT_EQ(FileBytes(file), "earlier");
  for (const fs::directory_entry& entry : fs::directory_iterator(folder.path()))
    EXPECT_EQ(entry.path().string().find(".part-"), std::string::npos) << entry.path();
}

// A period that cuts a record at each end, with a record in conflict inside it and a record in
// another run: the days sheet holds the period's days alone, each with the figures the front
// sheet and the statistics give; the records sheet lists the records those figures count. A
// cell the library refuses fails the workbook.
TEST(ArchiveWorkbook, TheDaysTheFrontSheetAndTheStatisticsAgreeAtThePeriodsEdges) {
#ifdef _WIN32
  GTEST_SKIP() << "read back with Python's zipfile, on Linux";
#endif
  test::ScratchFolder folder("workbook");
  HistoryArchive archive;
  ASSERT_TRUE(archive.Open((folder.path() / "a.sqlite3").string())) << archive.Error();
  const uint32_t d = kDayStart;
  ASSERT_TRUE(archive
                  .Merge(DownloadOf({Measurement(d - 30, 60, 120), Measurement(d + 600, 60, 172),
                                     Measurement(d + 86380, 60, 300)},
                                    100))
                  .Ok);
  const MergeResult conflict =
      archive.Merge(DownloadOf({Measurement(d - 30, 60, 120), Measurement(d + 600, 60, 250),
                                Measurement(d + 86380, 60, 300)},
                               100));
  ASSERT_TRUE(conflict.Ok) << conflict.Error;
  ASSERT_EQ(conflict.Conflicts, 1u);
  const ArchiveDevice device = archive.Devices().at(0);
  ArchiveFigures figures;
  ASSERT_TRUE(ArchiveStatistics(archive, {device.Id, d, d + 86399, {}}, figures));
  ASSERT_EQ(figures.Records, 3u);

  WorkbookInfo info;
  info.Serial = device.Serial;
  info.Unit = FigureUnit::Roentgen;
  info.Texts.Set(Lang::English);
  const fs::path file = folder.path() / "history.xlsx";
  WorkbookResult written =
      WriteArchiveWorkbook(archive, {device.Id, d, d + 86399}, info, file.string());
  ASSERT_TRUE(written.Ok) << written.Error;
  EXPECT_EQ(written.Records, figures.Records);
  EXPECT_EQ(written.Days, 1u);
  const std::string cells = ReadBack(file, folder.path());
  EXPECT_EQ(CellValue(cells, "Days!A2"), "45785") << cells;
  EXPECT_EQ(CellValue(cells, "Days!A3"), "") << cells;
  EXPECT_EQ(CellValue(cells, "Days!D2"), FrontValue(cells, "Dose, uR")) << cells;
  EXPECT_EQ(CellValue(cells, "Days!B2"), FrontValue(cells, "Mean, uR/h")) << cells;
  EXPECT_EQ(CellValue(cells, "Days!E2"), FrontValue(cells, "Covered, h")) << cells;
  EXPECT_EQ(FrontValue(cells, "Records"), "3") << cells;
  EXPECT_NEAR(std::stod(CellValue(cells, "Days!D2")), figures.Dose(), 1e-9);
  // The 95% limits of the mean and the dose: those of the statistics, the day's the period's.
  auto front = [&](const std::string& label) {
    const std::string value = FrontValue(cells, label);
    EXPECT_FALSE(value.empty()) << label << "\n" << cells;
    return value.empty() ? -1.0 : std::stod(value);
  };
  EXPECT_NEAR(front("Mean, lower 95% limit, uR/h"), figures.MeanInterval().Low, 1e-9);
  EXPECT_NEAR(front("Mean, upper 95% limit, uR/h"), figures.MeanInterval().High, 1e-9);
  EXPECT_NEAR(front("Dose, lower 95% limit, uR"), figures.DoseInterval().Low, 1e-9);
  EXPECT_NEAR(front("Dose, upper 95% limit, uR"), figures.DoseInterval().High, 1e-9);
  EXPECT_LT(figures.DoseInterval().Low, figures.Dose());
  EXPECT_EQ(CellValue(cells, "Days!F2"), FrontValue(cells, "Mean, lower 95% limit, uR/h"));
  EXPECT_EQ(CellValue(cells, "Days!G2"), FrontValue(cells, "Mean, upper 95% limit, uR/h"));
  // The record that began before the period is listed; the one in conflict is not.
  EXPECT_EQ(CellValue(cells, "Records!B2"), "60") << cells;
  EXPECT_EQ(CellValue(cells, "Records!C2"), "120") << cells;
  EXPECT_EQ(CellValue(cells, "Records!C3"), "172") << cells;
  EXPECT_EQ(CellValue(cells, "Records!C4"), "300") << cells;
  EXPECT_EQ(CellValue(cells, "Records!C5"), "") << cells;

  // A serial number longer than a cell takes: no workbook, and the reason.
  std::ofstream(file, std::ios::binary | std::ios::trunc) << "earlier";
  info.Serial = std::string(40000, '7');
  written = WriteArchiveWorkbook(archive, {device.Id, d, d + 86399}, info, file.string());
  EXPECT_FALSE(written.Ok);
  EXPECT_NE(written.Error.find("32"), std::string::npos) << written.Error;
  EXPECT_TRUE(FileBytes(file) == "earlier");
}

}  // namespace
}  // namespace dravion
