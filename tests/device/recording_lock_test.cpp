// A recording whose file another program holds (a spreadsheet that has the CSV open): no reading
// is lost, the user is told once, and the readings reach the file in order when it is free.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "device/reading_recorder.h"
#include "services/language.h"
#include "support/fakes.h"
#include "support/scratch_folder.h"

#ifdef _WIN32
#include "services/wide_text_win32.h"
#endif

namespace dravion {
namespace {

namespace fs = std::filesystem;

std::string Contents(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

MeasurementReading Reading(int second) {
  MeasurementReading r;
  r.time = LocalDateTime{2026, 12, 8, 1, 30, second, 0, 180};
  r.rate = 0.1 + second / 100.0;
  r.rateUnit = "uSv/h";
  r.level = second % 5;
  r.dose = "1,5";
  r.doseUnit = "mSv";
  return r;
}

struct Bench {
  test::ScratchFolder folder{"dravion-recording"};
  const std::string path = folder.Utf8() + "/показания.csv";
  test::RecordingLog log;
  test::ScriptedDialogs dialogs;
  Language language;
  ReadingRecorder recorder{log, dialogs, language};
  std::vector<std::string> notes;
  int changes = 0;
  std::string written;  // what the file should hold: the header and every reading, in order

  Bench() {
    language.Set(Lang::English);
    recorder.note = [this](const std::string& text) { notes.push_back(text); };
    recorder.changed = [this] { ++changes; };
    written = kReadingCsvHeader;
  }
  void Take(int second) {
    const MeasurementReading r = Reading(second);
    written += ReadingCsvLine(r);
    recorder.OnReading(r);
  }
};

TEST(RecordingLockedFile, ReadingsWaitWhileTheFileIsHeldAndReachItInOrder) {
  Bench b;
  bool held = false;
  bool broken = false;
  b.recorder.append = [&](const std::string& path, std::string_view data, std::string_view header,
                          std::string& error) {
    if (broken) {
      error = "No space left on device";
      return AppendResult::Failed;
    }
    if (held) {
      error = "The process cannot access the file";
      return AppendResult::Locked;
    }
    return AppendToFile(path, data, header, error);
  };
  ASSERT_TRUE(b.recorder.Start(b.path));
  b.Take(1);
  b.Take(2);
  held = true;
  const int changesBefore = b.changes;
  for (int second = 3; second <= 6; ++second)
    b.Take(second);
  // Kept, not written, not stopped; said once, in the note and the log, and shown once.
  EXPECT_TRUE(b.recorder.Recording());
  EXPECT_EQ(b.recorder.Waiting(), 4);
  EXPECT_EQ(b.recorder.Lines(), 2);
  EXPECT_EQ(b.changes, changesBefore + 1);
  ASSERT_EQ(b.notes.size(), 1u);
  EXPECT_NE(b.notes[0].find("held by another program"), std::string::npos) << b.notes[0];
  EXPECT_TRUE(b.log.Has(b.notes[0]));
  EXPECT_TRUE(b.dialogs.boxes.empty());
  // A gap while the file is held is still a gap, counted from the last reading kept.
  b.recorder.OnReadingFailed();
  b.Take(20);
  EXPECT_NE(b.notes.back().find("after a gap of 14 s"), std::string::npos) << b.notes.back();

  held = false;
  b.Take(21);
  EXPECT_EQ(Contents(b.path), b.written);
  EXPECT_EQ(b.recorder.Lines(), 8);
  EXPECT_EQ(b.recorder.Waiting(), 0);
  EXPECT_NE(b.notes.back().find("free again; readings written: 6"), std::string::npos);

  // Held again when the recording ends: what waits goes to a file beside, with a header.
  held = true;
  b.Take(22);
  b.Take(23);
  const std::string before = Contents(b.path);
  b.recorder.Stop();
  EXPECT_FALSE(b.recorder.Recording());
  EXPECT_EQ(Contents(b.path), before);
  EXPECT_EQ(
      Contents(b.path + ".unsaved.csv"),
      std::string(kReadingCsvHeader) + ReadingCsvLine(Reading(22)) + ReadingCsvLine(Reading(23)));
  ASSERT_EQ(b.dialogs.boxes.size(), 1u);
  EXPECT_EQ(b.dialogs.boxes[0].kind, BoxKind::Warning);
  EXPECT_NE(b.dialogs.boxes[0].text.find(b.path + ".unsaved.csv"), std::string::npos);

  // A real failure while readings wait still stops the recording, as it always did.
  ASSERT_TRUE(b.recorder.Start(b.path));
  b.Take(30);
  broken = true;
  b.Take(31);
  EXPECT_FALSE(b.recorder.Recording());
  EXPECT_NE(b.recorder.Failure().find("No space left on device"), std::string::npos);
}

// A file begun by a program that wrote no serial number keeps its six columns under its header,
// also in the lines that waited for a spreadsheet to let go; a new file gets the seventh.
TEST(RecordingLockedFile, AFileWithoutTheSerialColumnKeepsItsColumns) {
  Bench b;
  const std::string old = std::string(kReadingCsvHeaderWithoutSerial) +
                          "2026-12-07T10:00:00+03:00,0.10,uSv/h,1,\"1,5\",mSv\r\n";
  { std::ofstream(fs::u8path(b.path), std::ios::binary) << old; }
  bool held = false;
  b.recorder.append = [&](const std::string& path, std::string_view data, std::string_view header,
                          std::string& error) {
    return held ? AppendResult::Locked : AppendToFile(path, data, header, error);
  };
  ASSERT_TRUE(b.recorder.Start(b.path));
  MeasurementReading r = Reading(1);
  r.serial = "214-36587";
  b.recorder.OnReading(r);
  held = true;
  b.recorder.OnReading(r);
  b.recorder.Stop();
  const std::string line = "2026-12-08T01:30:01+03:00,0.11,uSv/h,1,\"1,5\",mSv\n";
  EXPECT_EQ(Contents(b.path), old + line);
  EXPECT_EQ(Contents(b.path + ".unsaved.csv"), std::string(kReadingCsvHeaderWithoutSerial) + line);

  const std::string fresh = b.folder.Utf8() + "/new.csv";
  ASSERT_TRUE(b.recorder.Start(fresh));
  held = false;
  b.recorder.OnReading(r);
  EXPECT_EQ(Contents(fresh), std::string(kReadingCsvHeader) +
                                 "2026-12-08T01:30:01+03:00,0.11,uSv/h,1,\"1,5\",mSv,214-36587\n");
}

#ifdef _WIN32
// The file held the way a spreadsheet holds it: open for reading, others may read but not write.
TEST(RecordingLockedFile, AFileOpenWithoutWriteSharingLosesNoReading) {
  Bench b;
  ASSERT_TRUE(b.recorder.Start(b.path));
  b.Take(1);
  const HANDLE holder = ::CreateFileW(WideFromUtf8(b.path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  std::string error;
  EXPECT_EQ(AppendToFile(b.path, "x\n", "", error), AppendResult::Locked) << error;
  b.Take(2);
  b.Take(3);
  EXPECT_TRUE(b.recorder.Recording());
  EXPECT_EQ(b.recorder.Waiting(), 2);
  ::CloseHandle(holder);
  b.Take(4);
  EXPECT_EQ(b.recorder.Waiting(), 0);
  EXPECT_EQ(Contents(b.path), b.written);

  // Held from the start: the recording starts and waits.
  const HANDLE again = ::CreateFileW(WideFromUtf8(b.path).c_str(), GENERIC_READ, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  b.recorder.Stop();
  ASSERT_TRUE(b.recorder.Start(b.path));
  b.Take(5);
  EXPECT_EQ(b.recorder.Waiting(), 1);
  ::CloseHandle(again);
  b.recorder.Stop();
  EXPECT_EQ(Contents(b.path), b.written);
  EXPECT_TRUE(b.dialogs.boxes.empty());
}
#endif

}  // namespace
}  // namespace dravion
