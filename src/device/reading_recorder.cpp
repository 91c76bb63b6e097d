#include "device/reading_recorder.h"

#include "services/dialogs.h"
#include "services/file_replace.h"
#include "services/language.h"
#include "services/log_sink.h"
#include "services/number_text.h"

namespace dravion {
namespace {

// A field as CSV: quoted (quotes doubled) when it holds a separator, a quote or a line break.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::string ReadingCsvLine(const MeasurementReading& reading) {
  return FormatIsoDateTime(reading.time) + "," +
         FixedDecimal(reading.rate, reading.units == 0 ? 2 : 0) + "," + CsvField(reading.rateUnit) +
         "," + std::to_string(reading.level) + "," + CsvField(reading.dose) + "," +
         CsvField(reading.doseUnit) + "," + CsvField(reading.serial) + "\n";
}

std::string ReadingRecorder::Text(const char* russian, const char* english) const {
  return language_.Text(russian, english);
}

bool ReadingRecorder::Start(const std::string& path) {
  if (recording_) Stop();
  std::string error;
  // An empty append creates the file and writes the header when it is new, and proves that the
  // folder takes writes.
  if (path.empty() || !AppendToFile(path, {}, kReadingCsvHeader, error)) {
    dialogs_.ShowMessage(BoxKind::Error, Text("Не удалось начать запись в файл\r\n",
                                              "Could not start recording to the file\r\n") +
                                             path + "\r\n" + error);
    return false;
  }
  path_ = path;
  failure_.clear();
  recording_ = true;
  inGap_ = false;
  lines_ = 0;
  lastSerial_.clear();
  log_.LogLine(Text("Запись показаний в файл ", "Recording readings to ") + path_);
  if (changed) changed();
  return true;
}

void ReadingRecorder::Stop() {
  if (!recording_) return;
  recording_ = false;
  log_.LogLine(Text("Запись показаний закончена: строк ", "Recording ended: lines written ") +
               std::to_string(lines_) + " (" + path_ + ")");
  if (changed) changed();
}

void ReadingRecorder::Note(const std::string& text) {
  log_.LogLine(text);
  if (note) note(text);
}

void ReadingRecorder::Fail(const std::string& error) {
  recording_ = false;
  failure_ = Text("Запись остановлена: файл не записывается\r\n",
                  "Recording stopped: the file cannot be written\r\n") +
             path_ + "\r\n" + error + "\r\n" +
             Text("Записанные строки (", "The lines written before (") + std::to_string(lines_) +
             Text(") сохранены", ") are kept");
  log_.LogError(failure_);
  if (changed) changed();
  dialogs_.ShowMessage(BoxKind::Error, failure_);
}

void ReadingRecorder::OnReading(const MeasurementReading& reading) {
  if (!recording_) return;
  std::string error;
  if (!AppendToFile(path_, ReadingCsvLine(reading), kReadingCsvHeader, error)) {
    Fail(error);
    return;
  }
  ++lines_;
  if (!lastSerial_.empty() && reading.serial != lastSerial_) {
    Note(Text("Запись: другой прибор, S/N ", "Recording: another device, S/N ") + reading.serial +
         Text(" вместо ", " instead of ") + lastSerial_);
  }
  lastSerial_ = reading.serial;
  if (inGap_) {
    inGap_ = false;
    std::string text = Text("Запись: показания снова идут", "Recording: readings go on");
    if (lines_ > 1) {
      text += Text(", пропуск ", " after a gap of ") +
              std::to_string(SecondsBetween(lastTime_, reading.time)) + Text(" с", " s");
    }
    Note(text);
  }
  lastTime_ = reading.time;
}

void ReadingRecorder::OnReadingFailed() {
  if (!recording_ || inGap_) return;
  inGap_ = true;
  Note(Text("Запись: прибор не отвечает, в файле будет пропуск до его возвращения",
            "Recording: the device does not answer; the file has a gap until it is back"));
}

}  // namespace dravion
