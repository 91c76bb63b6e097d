#include "device/reading_recorder.h"

#include <fstream>

#include "log/run_log_file.h"
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

// Whether the lines appended to `path` carry the serial number: a file whose header is the one
// without it keeps its six columns, so that every line matches its header.
bool TakesSerialColumn(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  std::string first;
  if (!in || !std::getline(in, first)) return true;
  if (!first.empty() && first.back() == '\r') first.pop_back();
  return first + "\n" != kReadingCsvHeaderWithoutSerial;
}

}  // namespace

std::string ReadingCsvLine(const MeasurementReading& reading, bool withSerial) {
  return FormatIsoDateTime(reading.time) + "," +
         FixedDecimal(reading.rate, reading.units == 0 ? 2 : 0) + "," + CsvField(reading.rateUnit) +
         "," + std::to_string(reading.level) + "," + CsvField(reading.dose) + "," +
         CsvField(reading.doseUnit) + (withSerial ? "," + CsvField(reading.serial) : "") + "\n";
}

std::string ReadingRecorder::Text(const char* russian, const char* english) const {
  return language_.Text(russian, english);
}

bool ReadingRecorder::Start(const std::string& path) {
  if (recording_) Stop();
  std::string error;
  // An empty append creates the file and writes the header when it is new, and proves that the
  // folder takes writes.
  const AppendResult started =
      path.empty() ? AppendResult::Failed : append(path, {}, kReadingCsvHeader, error);
  if (started == AppendResult::Failed) {
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
  withSerial_ = TakesSerialColumn(path);
  waitingText_.clear();
  waiting_ = 0;
  lockNoted_ = false;
  log_.LogLine(Text("Запись показаний в файл ", "Recording readings to ") + path_);
  if (started == AppendResult::Locked) NoteLocked(error);
  if (changed) changed();
  return true;
}

void ReadingRecorder::Stop(bool showBoxes) {
  if (!recording_) return;
  showBoxes_ = showBoxes;
  if (waiting_ > 0 && Write({})) SaveWaiting();
  showBoxes_ = true;
  if (!recording_) return;  // the last write failed for good (said already)
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
  if (showBoxes_) dialogs_.ShowMessage(BoxKind::Error, failure_);
}

void ReadingRecorder::NoteLocked(const std::string& error) {
  lockNoted_ = true;
  Note(Text("Запись: файл занят другой программой (",
            "Recording: the file is held by another program (") +
       error +
       Text("). Показания сохраняются в памяти и будут дописаны, когда файл освободится",
            "). Readings are kept and will be written when it is closed"));
}

bool ReadingRecorder::Write(const std::string& line) {
  std::string error;
  const std::string text = waitingText_ + line;
  const int count = waiting_ + (line.empty() ? 0 : 1);
  const AppendResult result = append(path_, text, Header(), error);
  if (result == AppendResult::Failed) {
    Fail(error);
    return false;
  }
  if (result == AppendResult::Locked) {
    const bool first = waiting_ == 0;
    waitingText_ = text;
    waiting_ = count;
    if (!lockNoted_) NoteLocked(error);
    if (first && changed) changed();
    return true;
  }
  const bool wasWaiting = waiting_ > 0;
  lockNoted_ = false;
  lines_ += count;
  waitingText_.clear();
  waiting_ = 0;
  if (wasWaiting) {
    Note(Text("Запись: файл снова доступен, дописано показаний: ",
              "Recording: the file is free again; readings written: ") +
         std::to_string(count));
    if (changed) changed();
  }
  return true;
}

void ReadingRecorder::SaveWaiting() {
  if (waiting_ == 0) return;
  const std::string aside = path_ + ".unsaved.csv";
  std::string error;
  const int count = waiting_;
  if (AppendToFile(aside, waitingText_, Header(), error) == AppendResult::Written) {
    const std::string text =
        Text("Запись: файл всё ещё занят; показания (", "Recording: the file is still held; ") +
        std::to_string(count) + Text(") сохранены в ", " readings were saved to ") + aside;
    log_.LogLine(text);
    if (showBoxes_) dialogs_.ShowMessage(BoxKind::Warning, text);
  } else {
    const std::string text =
        Text("Запись: файл занят, показания (", "Recording: the file is held; ") +
        std::to_string(count) + Text(") не удалось сохранить: ", " readings could not be saved: ") +
        error;
    log_.LogError(text);
    if (showBoxes_) dialogs_.ShowMessage(BoxKind::Error, text);
  }
  waitingText_.clear();
  waiting_ = 0;
}

void ReadingRecorder::OnReading(const MeasurementReading& reading) {
  if (!recording_) return;
  if (!Write(ReadingCsvLine(reading, withSerial_))) return;
  if (!lastSerial_.empty() && reading.serial != lastSerial_) {
    Note(Text("Запись: другой прибор, S/N ", "Recording: another device, S/N ") + reading.serial +
         Text(" вместо ", " instead of ") + lastSerial_);
  }
  lastSerial_ = reading.serial;
  if (inGap_) {
    inGap_ = false;
    std::string text = Text("Запись: показания снова идут", "Recording: readings go on");
    if (lines_ + waiting_ > 1) {
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
