#pragma once

#include <functional>
#include <string>

#include "device/measurement.h"

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
std::string ReadingCsvLine(const MeasurementReading& reading);

// Records every reading of a measurement controller into a file, one line each, appended and on
// the disk (handed to the system) before the next reading. A device that stops answering leaves
// a gap in the file, noted in the log, and the recording goes on when readings come back; another
// device in the same recording is noted too (its lines carry its serial number). A file
// that cannot be written (a full disk, a removed folder) stops the recording with an error box
// and a log line; the lines written before stay as they were.
class ReadingRecorder : public ReadingListener {
 public:
  ReadingRecorder(LogSink& log, Dialogs& dialogs, const Language& language)
      : log_(log), dialogs_(dialogs), language_(language) {}

  // Starts recording into `path`: an existing file is appended to, a new or empty one gets the
  // header line. False, with the error box, when the file cannot be written.
  bool Start(const std::string& path);
  // Ends the recording (a log line says how many lines were written).
  void Stop();
  bool Recording() const { return recording_; }
  const std::string& Path() const { return path_; }
  int Lines() const { return lines_; }
  // Why the recording stopped by itself; empty while it runs or after Stop.
  const std::string& Failure() const { return failure_; }

  void OnReading(const MeasurementReading& reading) override;
  void OnReadingFailed() override;

  // Called when the recording starts or stops (by Stop or by itself).
  std::function<void()> changed;
  // Also gets the notes written to the log: gaps, another device (a terminal prints them).
  std::function<void(const std::string& note)> note;

 private:
  void Note(const std::string& text);
  void Fail(const std::string& error);
  std::string Text(const char* russian, const char* english) const;

  LogSink& log_;
  Dialogs& dialogs_;
  const Language& language_;
  std::string path_;
  std::string failure_;
  bool recording_ = false;
  bool inGap_ = false;
  int lines_ = 0;
  LocalDateTime lastTime_;
  std::string lastSerial_;  // of the last line written
};

}  // namespace dravion
