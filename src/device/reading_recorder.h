#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "device/measurement.h"
#include "services/file_replace.h"

namespace dravion {

class Dialogs;
class Language;
class LogSink;

// The header line of a reading file, and one reading as a line of it: local time in ISO 8601 with
// its offset, the rate as a number (decimal point, whatever the locale) in the device's unit, that
// unit, the level, the dose text as the device gave it, its unit, and the device's serial number.
// Both end in a line feed.
inline constexpr const char* kReadingCsvHeader =
    "time,rate,rate_unit,level,dose,dose_unit,serial\n";
// `withSerial` false leaves the serial number out, for a file begun with the six-column header
// (kReadingCsvHeaderWithoutSerial) that programs of before the serial number wrote.
std::string ReadingCsvLine(const MeasurementReading& reading, bool withSerial = true);
inline constexpr const char* kReadingCsvHeaderWithoutSerial =
    "time,rate,rate_unit,level,dose,dose_unit\n";

// Records every reading of a measurement controller into a file, one line each, appended and on
// the disk (handed to the system) before the next reading. A device that stops answering leaves
// a gap in the file, noted in the log, and the recording goes on when readings come back; another
// device in the same recording is noted too (its lines carry its serial number). While another
// program holds the file against writing (a spreadsheet that has it open), the readings are kept
// in memory, the user is told once, and they are written in order as soon as an append succeeds
// again; if the recording stops first, they go to a file beside it. A file that cannot be written
// (a full disk, a removed folder) stops the recording with an error box and a log line; the lines
// written before stay as they were.
class ReadingRecorder : public ReadingListener {
 public:
  ReadingRecorder(LogSink& log, Dialogs& dialogs, const Language& language)
      : log_(log), dialogs_(dialogs), language_(language) {}

  // Starts recording into `path`: an existing file is appended to, a new or empty one gets the
  // header line. False, with the error box, when the file cannot be written.
  bool Start(const std::string& path);
  // Ends the recording (a log line says how many lines were written). Readings that wait for a
  // held file go into a file beside it. `showBoxes` false says what happened in the log only (the
  // Windows session is ending: nobody would answer a box).
  void Stop(bool showBoxes = true);
  bool Recording() const { return recording_; }
  const std::string& Path() const { return path_; }
  int Lines() const { return lines_; }
  // Why the recording stopped by itself; empty while it runs or after Stop.
  const std::string& Failure() const { return failure_; }
  // Readings kept in memory while another program holds the file; 0 while it takes writes.
  int Waiting() const { return waiting_; }

  // Appends to the file (AppendToFile; tests put a file that another program holds in its place).
  std::function<AppendResult(const std::string& path, std::string_view data,
                             std::string_view header, std::string& error)>
      append = [](const std::string& path, std::string_view data, std::string_view header,
                  std::string& error) { return AppendToFile(path, data, header, error); };

  void OnReading(const MeasurementReading& reading) override;
  void OnReadingFailed() override;

  // Called when the recording starts or stops (by Stop or by itself), and when the file becomes
  // held by another program or free again.
  std::function<void()> changed;
  // Also gets the notes written to the log: gaps, another device (a terminal prints them).
  std::function<void(const std::string& note)> note;

 private:
  void Note(const std::string& text);
  void Fail(const std::string& error);
  void NoteLocked(const std::string& error);
  const char* Header() const {
    return withSerial_ ? kReadingCsvHeader : kReadingCsvHeaderWithoutSerial;
  }
  // Writes the waiting readings and `line` (either may be empty); false when the recording failed.
  bool Write(const std::string& line);
  // At the end of a recording whose file is still held: the waiting readings into a file beside.
  void SaveWaiting();
  std::string Text(const char* russian, const char* english) const;

  LogSink& log_;
  Dialogs& dialogs_;
  const Language& language_;
  std::string path_;
  std::string failure_;
  bool recording_ = false;
  bool inGap_ = false;
  int lines_ = 0;
  std::string waitingText_;  // the readings not yet written, as lines
  int waiting_ = 0;
  bool lockNoted_ = false;  // the user was told that the file is held
  LocalDateTime lastTime_;
  std::string lastSerial_;  // of the last line written
  bool withSerial_ = true;  // false for a file begun without the serial column
  bool showBoxes_ = true;   // false while a stop at the end of the session writes
};

}  // namespace dravion
