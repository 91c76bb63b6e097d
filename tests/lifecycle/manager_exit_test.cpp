// The manager's exit steps: a recording whose file another program holds ends before the log is
// written, at a normal close and at the end of the Windows session, where no box may wait.
#include "lifecycle/manager_exit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "device/reading_recorder.h"
#include "lifecycle/app_lifecycle.h"
#include "log/session_log.h"
#include "services/language.h"
#include "support/fakes.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct ExitBench {
  ExitBench() {
    options.ints["LANGUAGE"] = 2;  // English, as the start-up loads it
    // The spreadsheet holds the file from the first reading on.
    recorder.append = [this](const std::string& path, std::string_view data,
                             std::string_view header, std::string& error) {
      if (held && !data.empty()) {
        error = "The process cannot access the file";
        return AppendResult::Locked;
      }
      return AppendToFile(path, data, header, error);
    };
  }
  void Record() {
    ASSERT_TRUE(lifecycle.StartUp());
    ASSERT_TRUE(recorder.Start(csv.string()));
    held = true;
    for (int second = 1; second <= 2; ++second) {
      MeasurementReading reading;
      reading.time = LocalDateTime{2026, 12, 8, 17, 59, second, 0, 60};
      reading.rate = 0.12;
      reading.rateUnit = "uSv/h";
      reading.serial = "214-36587";
      recorder.OnReading(reading);
    }
    ASSERT_EQ(recorder.Waiting(), 2);
  }
  std::string LogFile() { return Contents(scratch.path() / "tqv8_dravion_explorer" / "log.txt"); }

  test::ScratchFolder scratch{"dravion-exit"};
  const fs::path csv = scratch.path() / "readings.csv";
  bool held = false;
  LifecycleSettings settings{"dravion_exit_test_" + scratch.path().filename().string(),
                             scratch.Utf8()};
  test::MemoryOptionStore options;
  Language language;
  test::ScriptedDialogs dialogs;
  SessionLog log;
  test::FakeClock clock;
  test::FakePump pump{clock};
  ReadingRecorder recorder{log, dialogs, language};
  AppLifecycle lifecycle{options, language, dialogs, log, clock, nullptr, settings};
  ManagerExit exit{lifecycle, recorder, log, pump, clock, language};
};

TEST(ManagerExit, TheSessionEndSavesTheWaitingReadingsBeforeTheLogWithoutABox) {
  ExitBench b;
  b.Record();
  b.exit.Run(ManagerExit::Kind::SessionEnding);

  EXPECT_FALSE(b.recorder.Recording());
  const std::string aside = Contents(b.csv.string() + ".unsaved.csv");
  EXPECT_EQ(aside.rfind(kReadingCsvHeader, 0), 0u) << aside;
  EXPECT_NE(aside.find("2026-12-08T17:59:02"), std::string::npos) << aside;
  EXPECT_TRUE(b.dialogs.boxes.empty());
  // log.txt says it, in this order: the session's end, the readings saved aside, the recording's
  // end, the footer.
  const std::string text = b.LogFile();
  const size_t ending = text.find("The Windows session is ending");
  const size_t saved = text.find("2 readings were saved to");
  const size_t ended = text.find("Recording ended: lines written 0");
  const size_t footer = text.find("# END: ");
  ASSERT_NE(ending, std::string::npos) << text;
  ASSERT_NE(saved, std::string::npos) << text;
  ASSERT_NE(ended, std::string::npos) << text;
  ASSERT_NE(footer, std::string::npos) << text;
  EXPECT_LT(ending, saved);
  EXPECT_LT(saved, ended);
  EXPECT_LT(ended, footer);

  // Once: the close that follows changes nothing.
  b.exit.Run(ManagerExit::Kind::WindowClosed);
  EXPECT_EQ(b.LogFile(), text);
  EXPECT_TRUE(b.dialogs.boxes.empty());
}

TEST(ManagerExit, AClosedWindowTellsTheUserWhereTheReadingsWent) {
  ExitBench b;
  b.Record();
  b.exit.Run(ManagerExit::Kind::WindowClosed);
  ASSERT_EQ(b.dialogs.boxes.size(), 1u);
  EXPECT_EQ(b.dialogs.boxes[0].kind, BoxKind::Warning);
  const std::string text = b.LogFile();
  EXPECT_EQ(text.find("The Windows session is ending"), std::string::npos);
  EXPECT_LT(text.find("2 readings were saved to"), text.find("# END: "));
  EXPECT_TRUE(fs::exists(b.csv.string() + ".unsaved.csv"));
}

}  // namespace
}  // namespace dravion
