#include "pack.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace dravion::pack {
namespace {

bool Mentions(const Problems& problems, const std::string& part) {
  for (const auto& p : problems)
    if (p.find(part) != std::string::npos) return true;
  return false;
}

std::vector<std::string> SomeTexts(size_t count) {
  std::vector<std::string> texts(count, "{X0|Y0|CW|AL|*}Exit");
  texts[0] = "Zuru^:k";
  texts[1] = "#{y20|AS|*}W$la^;czyc^'";
  return texts;
}

std::vector<FilePart> ValidParts() {
  std::vector<FilePart> parts;
  parts.push_back({10, 10, kTextTableName, BuildTextTable(SomeTexts(kTextCount))});
  // Fill the rest of the file area exactly: sectors 9 + n .. 75.
  const size_t used = (64 + parts[0].data.size() + 4095) / 4096;
  const size_t rest = 76 - 9 - used;
  parts.push_back({21, 21, "==font_01.MFL", Filler(rest * 4096 - 64 - 100, 21)});
  return parts;
}

TEST(PackProgramImage, LengthAndVectorTable) {
  EXPECT_EQ(CheckProgramImage(PlaceholderProgramImage('A'), 'A'), Problems{});
  EXPECT_EQ(CheckProgramImage(PlaceholderProgramImage('B'), 'B'), Problems{});
  EXPECT_EQ(PlaceholderProgramImage('A'), PlaceholderProgramImage('A'));  // deterministic

  const auto oneByte = CheckProgramImage(Bytes{0x00}, 'A');
  ASSERT_EQ(oneByte.size(), 1u);
  EXPECT_EQ(oneByte[0], "program image A is 1 bytes long, not 57344");
  const auto swapped = CheckProgramImage(PlaceholderProgramImage('A'), 'B');
  ASSERT_EQ(swapped.size(), 1u);
  EXPECT_EQ(swapped[0], "program image B: the reset address is 0x0800B569, not 0x0800B521");
  Bytes stack = PlaceholderProgramImage('B');
  stack[3] = 0x21;
  EXPECT_TRUE(Mentions(CheckProgramImage(stack, 'B'), "initial stack pointer is 0x21002000"));
}

TEST(PackScreenText, GroupsTokensAndMarks) {
  for (const char* good :
       {"{X0|Y0|Cg|RA}", "{Y83|CY|T0|AS|*}END OF#{y20|AS|*}WRITE", "{X4|Y80|CG|RF6:%0}",
        "{X%3|y-41|XS|YL|RU|p50.%4|pT52.1}%s", "{X4|Y30|Rp50.4:P0:P0:60:40|Rp50.5:S1:S2:3:4}",
        "{%d|%u|%s|%v|%7}", "Dz^'wie^;k $Ladowanie", "0,3 \xB5Sv/h", ""})
    EXPECT_EQ(CheckScreenText(good), Problems{}) << good;

  const struct {
    const char* text;
    const char* problem;
  } bad[] = {
      {"{X0|Y0", "a group is not closed"},
      {"X0}", "a group closes that was not opened"},
      {"{X0{Y0}}", "a group opens inside a group"},
      {"{Q5}", "unknown token \"Q5\""},
      {"{CZ}", "unknown token \"CZ\""},
      {"{RF%0:6}", "unknown token \"RF%0:6\""},
      {"{X0|}", "unknown token \"\""},
      {"{AS|*|X0}", "\"*\" not last in its group"},
      {"{X0|*}", "\"*\" not after an alignment"},
      {"END#WRITE", "a line break \"#\" without its group"},
      {"Zuru^k", "an accent \"^\" without its mark"},
      {"$x", "a \"$\" not before l or L"},
      {"a\tb", "control byte 0x09"},
  };
  for (const auto& b : bad) {
    const auto problems = CheckScreenText(b.text);
    EXPECT_TRUE(Mentions(problems, b.problem))
        << b.text << ": " << ::testing::PrintToString(problems);
  }
}

TEST(PackTextTable, CountOffsetsAndTerminators) {
  const Bytes good = BuildTextTable(SomeTexts(kTextCount));
  EXPECT_EQ(CheckTextTable(good), Problems{});

  EXPECT_TRUE(Mentions(CheckTextTable(BuildTextTable(SomeTexts(426))),
                       "holds 426 texts, the device expects 427"));
  Bytes count = good;
  count[3] = static_cast<uint8_t>(count[3] + 1);  // says 428 over 427 texts
  EXPECT_TRUE(Mentions(CheckTextTable(count), "holds 428 texts"));

  Bytes terminator = good;
  const size_t firstEnd = 16 + 4 * kTextCount + SomeTexts(kTextCount)[0].size();
  ASSERT_EQ(terminator[firstEnd], 0);
  terminator[firstEnd] = 'x';
  EXPECT_TRUE(Mentions(CheckTextTable(terminator), "text 0: has no zero terminator"));

  Bytes gap = good;
  gap[16 + 4 + 1] = static_cast<uint8_t>(gap[16 + 4 + 1] + 1);  // text 1 starts one byte late
  EXPECT_TRUE(Mentions(CheckTextTable(gap), "text 1: starts at"));

  Bytes trailing = good;
  trailing.push_back(0);
  EXPECT_TRUE(Mentions(CheckTextTable(trailing), "1 bytes follow the last text"));

  auto texts = SomeTexts(kTextCount);
  texts[300] = "{X0|Y0|CW";
  EXPECT_TRUE(Mentions(CheckTextTable(BuildTextTable(texts)), "text 300: a group is not closed"));
  EXPECT_TRUE(Mentions(CheckTextTable(Bytes(5, 0)), "only 5 bytes long"));
}

TEST(PackTextSource, OneTextALineInWindows1251) {
  Problems problems;
  const auto texts = ReadTextSource("Выход\r\nExit\n\n0,3 µSv/h\n", problems);
  EXPECT_EQ(problems, Problems{});
  EXPECT_EQ(texts, (std::vector<std::string>{"\xC2\xFB\xF5\xEE\xE4", "Exit", "", "0,3 \xB5Sv/h"}));
  ReadTextSource("ok\nNaciśnij\n", problems);
  EXPECT_EQ(problems, Problems{"line 2: a character that Windows-1251 cannot hold"});
}

TEST(PackDataFlash, BuiltImageFollowsEveryRule) {
  Problems problems;
  const Bytes image = BuildDataFlashImage(ValidParts(), problems);
  ASSERT_EQ(problems, Problems{});
  ASSERT_EQ(image.size(), kDataFlashImageSize);
  EXPECT_EQ(CheckDataFlashImage(image), Problems{});
}

TEST(PackDataFlash, RefusesBrokenParts) {
  Problems problems;
  auto parts = ValidParts();
  parts[1].data.resize(1);  // a part one byte long: the files no longer fill the image
  EXPECT_TRUE(BuildDataFlashImage(parts, problems).empty());
  EXPECT_TRUE(
      Mentions(problems, "the files end in sector 12, the image needs them to end in sector 75"));

  problems.clear();
  parts = ValidParts();
  parts[1].data.resize(parts[1].data.size() + 200);
  EXPECT_TRUE(BuildDataFlashImage(parts, problems).empty());
  EXPECT_TRUE(Mentions(problems, "file \"==font_01.MFL\": does not fit"));

  problems.clear();
  parts = ValidParts();
  parts[1].slot = 10;
  BuildDataFlashImage(parts, problems);
  EXPECT_TRUE(Mentions(problems, "slot 10 is taken by \"K740_UPRN.bin\""));
}

TEST(PackDataFlash, CheckFindsLayoutFaults) {
  Problems problems;
  const Bytes good = BuildDataFlashImage(ValidParts(), problems);
  ASSERT_EQ(problems, Problems{});

  EXPECT_TRUE(Mentions(CheckDataFlashImage(Bytes(good.begin(), good.end() - 1)),
                       "is 311295 bytes long, not 311296"));

  // The font's entry moved one sector back: it overlaps the text table and leaves sector 75 free.
  Bytes overlap = good;
  overlap[0x1000 + 16 * 21 + 2] = static_cast<uint8_t>(overlap[0x1000 + 16 * 21 + 2] - 1);
  const auto overlapProblems = CheckDataFlashImage(overlap);
  EXPECT_TRUE(Mentions(overlapProblems, "files overlap: \"K740_UPRN.bin\" (sectors 9-11)"))
      << ::testing::PrintToString(overlapProblems);
  EXPECT_TRUE(Mentions(overlapProblems, "sectors 75-75 belong to no file"));

  Bytes count = good;
  count[0x1000 + 16 * 10 + 4] = 5;
  const size_t tableLength = ValidParts()[0].data.size();
  EXPECT_TRUE(Mentions(
      CheckDataFlashImage(count),
      "directory slot 10: 5 sectors for " + std::to_string(tableLength) + " bytes of data, not 3"));

  Bytes geometry = good;
  geometry[20] = 77;
  EXPECT_TRUE(Mentions(CheckDataFlashImage(geometry), "the end sector is 77, not 76"));

  Bytes erased = good;
  erased[0x5000] = 0;
  EXPECT_TRUE(Mentions(CheckDataFlashImage(erased), "sectors 2-8 are not erased"));

  Bytes tail = good;
  tail[76 * 4096 - 1] = 0;
  EXPECT_TRUE(Mentions(CheckDataFlashImage(tail), "the rest of its last sector is not 0xFF"));

  Bytes header = good;
  header[9 * 4096 + 26] = 3;
  EXPECT_TRUE(Mentions(CheckDataFlashImage(header), "date bytes are not 02 2C 16 04 08 E6"));

  Bytes marker = good;
  marker[0x1000] = 0;
  EXPECT_TRUE(Mentions(CheckDataFlashImage(marker), "directory: the marker is 0xABCDEF00"));

  Bytes group = good;
  const size_t firstText = 9 * 4096 + 64 + 16 + 4 * kTextCount;
  group[firstText + 2] = '{';  // "Zu{u^:k": a group that never closes
  EXPECT_TRUE(Mentions(CheckDataFlashImage(group), "text 0: a group is not closed"));
}

#ifdef DRAVION_PACK_PATH
// The build runs the tool on the release folder: a broken part fails it with the tool's message.
TEST(PackTool, FailsWithItsMessageOnABrokenRelease) {
  const test::ScratchFolder scratch("dravion-pack-test");
  const auto& folder = scratch.path();
  const auto write = [&](const std::string& name, const Bytes& bytes) {
    ASSERT_TRUE(WriteFile((folder / name).string(), bytes));
  };
  write("a.bin", PlaceholderProgramImage('A'));
  write("b.bin", Bytes{0x42});
  std::vector<std::string> texts = SomeTexts(kTextCount);
  std::string source;
  for (const auto& t : texts)
    source += t + "\n";
  write("texts.txt", Bytes(source.begin(), source.end()));
  const std::string layout = "10 10 K740_UPRN.bin text:texts.txt\n21 21 ==font_01.MFL filler:" +
                             std::to_string(ValidParts()[1].data.size()) + "\n";
  write("layout.txt", Bytes(layout.begin(), layout.end()));

  const auto run = [&] {
    const std::string command =
        std::string(DRAVION_PACK_PATH) + " release --program-a " + (folder / "a.bin").string() +
        " --program-b " + (folder / "b.bin").string() + " --dataflash-layout " +
        (folder / "layout.txt").string() + " --cpp-out " + (folder / "out.cpp").string() + " 2>" +
        (folder / "errors.txt").string();
    const int status = std::system(command.c_str());
    std::ifstream in(folder / "errors.txt");
    std::string errors((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return std::make_pair(status, errors);
  };
  auto [status, errors] = run();
  EXPECT_NE(status, 0);
  EXPECT_NE(errors.find("b.bin: program image B is 1 bytes long, not 57344"), std::string::npos)
      << errors;
  EXPECT_FALSE(std::filesystem::exists(folder / "out.cpp"));

  write("b.bin", PlaceholderProgramImage('B'));
  std::tie(status, errors) = run();
  EXPECT_EQ(status, 0) << errors;
  EXPECT_TRUE(std::filesystem::exists(folder / "out.cpp"));
}
#endif

}  // namespace
}  // namespace dravion::pack
