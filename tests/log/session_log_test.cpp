#include "log/session_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "log/run_log_file.h"
#include "support/scratch_folder.h"

namespace dravion {
namespace {

struct MemoMirror : LogObserver {
  void OnLogLineAdded(const std::string& line) override { lines.push_back(line); }
  void OnLogLastLineReplaced(const std::string& line) override {
    ++replaced;
    lines.back() = line;
  }
  void OnLogCleared() override { lines.clear(); }
  std::vector<std::string> lines;
  int replaced = 0;
};

TEST(SessionLog, ALineIsNeverLoggedTwiceInARow) {
  SessionLog log;
  log.LogLine("a");
  log.LogLine("a");
  log.LogLine("A");  // case counts
  log.LogLine("a");
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"a", "A", "a"}));
  EXPECT_EQ(log.LastLogLine(), "a");
}

TEST(SessionLog, TheFullMarkComesOnceAtExactlyTenThousandLines) {
  SessionLog log;
  MemoMirror memo;
  log.SetObserver(&memo);
  for (int i = 0; i < 10000; ++i)
    log.LogLine(std::to_string(i));
  ASSERT_EQ(log.LineCount(), 10000u);
  log.LogLine("next");
  ASSERT_EQ(log.LineCount(), 10002u);
  EXPECT_EQ(log.Lines()[10000], "!!!! LOG FULL !!!");
  EXPECT_EQ(log.Lines()[10001], "next");
  EXPECT_EQ(log.LastLogLine(), "next");  // the mark is not a logged line
  log.LogLine("more");
  log.LogLine("and more");
  EXPECT_EQ(log.LineCount(), 10004u);
  EXPECT_EQ(memo.lines, log.Lines());

  // A repeat at the threshold still brings the mark, then is dropped.
  SessionLog again;
  for (int i = 0; i < 10000; ++i)
    again.LogLine(std::to_string(i));
  again.LogLine("9999");
  EXPECT_EQ(again.LineCount(), 10001u);
  EXPECT_EQ(again.Lines().back(), "!!!! LOG FULL !!!");
}

TEST(SessionLog, ClearingKeepsTheLastLineSoARepeatIsStillDropped) {
  SessionLog log;
  MemoMirror memo;
  log.SetObserver(&memo);
  log.LogLine("x");
  log.LogLine("y");
  log.Clear();
  EXPECT_TRUE(memo.lines.empty());
  log.LogLine("y");
  EXPECT_EQ(log.LineCount(), 0u);
  log.LogLine("x");
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"x"});
}

TEST(SessionLog, ProgressLinesRewriteTheLastLineInPlace) {
  SessionLog log;
  MemoMirror memo;
  log.SetObserver(&memo);
  log.LogLine("# WRITING: 0% bytes");
  for (int percent = 10; percent <= 100; percent += 10) {
    log.ReplaceLastLine("# Written: " + std::to_string(percent) + "%");
  }
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"# Written: 100%"});
  EXPECT_EQ(memo.lines, log.Lines());
  EXPECT_EQ(memo.replaced, 10);
  // The rewrite bypasses the repeat rule: the last logged line is still the first text.
  EXPECT_EQ(log.LastLogLine(), "# WRITING: 0% bytes");
  log.LogLine("# WRITING: 0% bytes");
  EXPECT_EQ(log.LineCount(), 1u);

  SessionLog empty;  // nothing to rewrite: the text is kept, not lost
  empty.ReplaceLastLine("# Written: 5%");
  EXPECT_EQ(empty.Lines(), std::vector<std::string>{"# Written: 5%"});
}

TEST(RunLogFile, EveryLineEndsInOneLineFeedInWindows1251) {
  const test::ScratchFolder folder("dravion-run-log");
  const auto path = folder.path() / "runlog.txt";
  {
    std::ofstream old(path);
    old << "an older and much longer file that must not shine through";
  }
  ASSERT_TRUE(WriteRunLogFile(path.string(), {"# START", "Ошибка", ""}));
  {
    // Closed before the removal: Windows refuses to remove an open file.
    std::ifstream in(path, std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(bytes, std::string("# START\n\xCE\xF8\xE8\xE1\xEA\xE0\n\n"));
  }
  std::filesystem::remove(path);

  EXPECT_FALSE(WriteRunLogFile((path / "no" / "such" / "folder.txt").string(), {"x"}));
  EXPECT_EQ(RunLogBytes({}), "");
}

}  // namespace
}  // namespace dravion
