#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/cli_options.h"
#include "cli_harness.h"
#include "device/device_link_harness.h"
#include "device/history_controller.h"
#include "device/history_fakes.h"
#include "device/history_records.h"

namespace dravion::cli_test {
namespace {

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A ring of `count` records a minute apart (some on change, some no measurement, one with a
// status), 16 bytes each, oldest
// first, ending shortly before the device's clock.
std::vector<uint8_t> RingRecords(uint32_t count) {
  std::vector<uint8_t> bytes(count * 16);
  const uint32_t end = 850000000;
  for (uint32_t i = 0; i < count; ++i) {
    test::StoredRecord r;
    r.start = end - (count - i) * 60;
    r.pulses = 20 + (i * 7) % 13;
    if (i % 256 == 0) r.kind = 0x01;  // not a measurement
    if (i % 500 == 3) {
      r.kind = kKindOnChange;
      r.duration = 30;
    }
    if (i == 77) r.status = 2;
    test::PutRecord(bytes.data() + 16 * i, r);
  }
  return bytes;
}

void UseRing(sim::DeviceConfig& config) {
  config.historyRecords = RingRecords(3000);
  config.historyStart = 0x0310;
}

TEST(CliHistoryLink, DownloadWritesTheBytesOfThePagesSaveCsv) {
  sim::DeviceConfig config;
  UseRing(config);
  CliBench bench(config);
  const auto csv = std::filesystem::path(bench.folder.path()) / "history.csv";
  CliResult r = bench.Run({"history", "download", "--csv", csv.string()});
  ASSERT_EQ(r.status, cli::kExitDone) << r.err;
  const std::string cliBytes = FileBytes(csv);
  ASSERT_FALSE(cliBytes.empty());
  // The device left its reading state.
  EXPECT_EQ(bench.device->Parameter(0xC023), 0u);

  {
    // The history page on the same ring: Read, then Save CSV. (Its own port folder is current
    // while it lives.)
    device_test::DeviceLinkHarness page(UseRing);
    ASSERT_TRUE(page.Connect());
    device_test::RecordingHistoryView view;
    HistoryController controller(page.context, view);
    controller.OnReadClicked();
    view.saveName = (std::filesystem::path(page.folder.path()) / "page.csv").string();
    controller.OnSaveCsvClicked();
    const std::string pageBytes = FileBytes(view.saveName);
    EXPECT_EQ(pageBytes.size(), cliBytes.size());
    EXPECT_TRUE(cliBytes == pageBytes);
  }

  // An existing file is replaced only when the question is answered.
  std::ofstream(csv, std::ios::trunc) << "keep me";
  r = bench.Run({"history", "download", "--csv", csv.string()});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_NE(r.err.find("already exists\nRewrite?"), std::string::npos) << r.err;
  EXPECT_EQ(FileBytes(csv), "keep me");
  r = bench.Run({"--yes", "history", "download", "--csv", csv.string()});
  EXPECT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_TRUE(FileBytes(csv) == cliBytes);

  // A folder that does not exist: the page's file error, status 1.
  r = bench.Run({"history", "download", "--csv", (csv.parent_path() / "no" / "h.csv").string()});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_NE(r.err.find("File creating Error"), std::string::npos) << r.err;
}

// An archive that cannot take the download (its folder lies below a plain file): the CSV is
// written all the same, and the status says the archive failed, with its reason.
TEST(CliHistoryLink, ADownloadIsSavedAsCsvWhenTheArchiveFails) {
  sim::DeviceConfig config;
  UseRing(config);
  CliBench bench(config);
  const std::filesystem::path folder = bench.folder.path();
  std::ofstream(folder / "plain") << "a file, not a folder";
  const char* environment = std::getenv("DRAVION_ARCHIVE");
  const std::string saved = environment ? environment : "";
  ::setenv("DRAVION_ARCHIVE", (folder / "plain" / "archive.sqlite3").c_str(), 1);
  const auto csv = folder / "history.csv";
  const CliResult r = bench.Run({"history", "download", "--csv", csv.string()});
  ::setenv("DRAVION_ARCHIVE", saved.c_str(), 1);
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_NE(r.err.find("The history archive cannot be used"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("plain"), std::string::npos) << r.err;
  const std::string bytes = FileBytes(csv);
  EXPECT_EQ(bytes.substr(0, bytes.find(';')), std::to_string(850000000 - 60)) << bytes.size();
}

TEST(CliHistoryLink, DeleteAsksThenEmptiesTheRing) {
  sim::DeviceConfig config;
  UseRing(config);
  CliBench bench(config);
  CliResult r = bench.Run({"history", "delete"});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_EQ(bench.device->History().count, 3000u);

  r = bench.Run({"--yes", "history", "delete"});
  EXPECT_EQ(r.status, cli::kExitDone) << r.err;
  EXPECT_EQ(bench.device->History().count, 0u);
}

TEST(CliHistoryLink, ADeviceFallingSilentInTheDownloadEndsWithStatusOne) {
  sim::DeviceConfig config;
  UseRing(config);
  CliBench bench(config);
  const auto csv = std::filesystem::path(bench.folder.path()) / "history.csv";
  ASSERT_EQ(bench.Run({"info"}).status, cli::kExitDone);
  const int connecting = bench.device->GetCounters().totalRequests;
  sim::Faults faults;
  // Found, identified and a few sectors read, then nothing more.
  faults.silentAfter = connecting * 2 + 40;
  bench.device->SetFaults(faults);
  const CliResult r = bench.Run({"history", "download", "--csv", csv.string()});
  EXPECT_EQ(r.status, cli::kExitFailed);
  EXPECT_NE(r.err.find("Error of History reading"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(csv));
}

}  // namespace
}  // namespace dravion::cli_test
