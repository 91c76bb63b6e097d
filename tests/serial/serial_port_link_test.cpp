#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/decoding_port.h"
#include "serial/channels.h"
#include "support/fakes.h"
#include "support/pty.h"

namespace dravion {
namespace {

using namespace std::chrono_literals;

struct PortFixture : ::testing::Test {
  PortFixture() {
    folder.Add("COM7", pty.slavePath());
    port.PortNumber = 7;
    port.LogCallback = [this](const std::string& line) { log.push_back(line); };
    port.SetFrameFiled([this] {
      std::lock_guard lock(mutex);
      ++filed;
      arrived.notify_all();
    });
  }
  bool WaitFiled(int count) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, 20s, [&] { return filed >= count; });
  }

  // Declared before the port: its callbacks use them until the port is destroyed.
  std::vector<std::string> log;
  std::mutex mutex;
  std::condition_variable arrived;
  int filed = 0;
  test::TempPortFolder folder;
  test::PtyPair pty;
  ChannelRegistry registry;
  ReceiveChannel one{registry, 1};
  DecodingPort port{registry};
};

TEST_F(PortFixture, OpenAndCloseLogTheirLines) {
  EXPECT_FALSE(port.Close());
  EXPECT_TRUE(port.Open(230400));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_TRUE(port.Open(230400));  // reopening closes first
  EXPECT_TRUE(port.Close());
  EXPECT_FALSE(port.Close());
  EXPECT_EQ(log, (std::vector<std::string>{"Open COM 7 : OK", "Close COM 7 : OK", "Open COM 7 : OK",
                                           "Close COM 7 : OK"}));

  log.clear();
  port.PortNumber = 0;
  EXPECT_FALSE(port.Open(230400));
  EXPECT_TRUE(log.empty());
  port.PortNumber = 129;  // no entry and outside every tty range
  EXPECT_FALSE(port.Open(230400));
  folder.Add("COM9", folder.path() + "/missing");
  port.PortNumber = 9;
  EXPECT_FALSE(port.Open(230400));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(log, (std::vector<std::string>{"Open COM 129 : Error", "Open COM 9 : Error"}));
  EXPECT_EQ(port.WriteBytes(reinterpret_cast<const uint8_t*>("x"), 1), 0);
}

TEST_F(PortFixture, OpenIsExclusive) {
  ASSERT_TRUE(port.Open(230400));
  DecodingPort other(registry);
  other.PortNumber = 7;
  EXPECT_FALSE(other.Open(230400));
  EXPECT_FALSE(other.Probe(7));
  port.Close();
  EXPECT_TRUE(other.Probe(7));
  EXPECT_TRUE(other.Open(230400));
}

TEST_F(PortFixture, BytesBothWaysAndFramesFiled) {
  ASSERT_TRUE(port.Open(230400));
  const std::string request = "\xC0\x00\x01\x00\x01\x01\x01\x25\x02\xC0";
  EXPECT_EQ(port.WriteBytes(reinterpret_cast<const uint8_t*>(request.data()),
                            static_cast<int>(request.size())),
            static_cast<int>(request.size()));
  EXPECT_EQ(pty.Read(1000), request);

  // Two answers in one write, then one split over two writes.
  std::vector<uint8_t> line = test::EncodeFrame(test::AnswerPayload(1, 0x01, 0x01, {1, 2}));
  const std::vector<uint8_t> second = test::EncodeFrame(test::AnswerPayload(1, 0x01, 0x0A, {3}));
  line.insert(line.end(), second.begin(), second.end());
  pty.Write(std::string(line.begin(), line.end()));
  ASSERT_TRUE(WaitFiled(2));
  const std::string split(second.begin(), second.end());
  pty.Write(split.substr(0, 4));
  std::this_thread::sleep_for(20ms);
  pty.Write(split.substr(4));
  ASSERT_TRUE(WaitFiled(3));
  RegistryLock lock(registry, true);
  EXPECT_EQ(one.FrameCount, 3);
  EXPECT_EQ(one.Current[6], 1);
}

TEST_F(PortFixture, CloseStopsTheReaderWhileTheOtherSideFloods) {
  ASSERT_TRUE(port.Open(230400));
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    const std::vector<uint8_t> frame = test::EncodeFrame(test::AnswerPayload(1, 0x01, 0x00));
    const std::string bytes(frame.begin(), frame.end());
    std::string burst;
    for (int i = 0; i < 100; ++i)
      burst += bytes + "\x12\xDB";
    while (flooding)
      pty.Write(burst);
  });
  ASSERT_TRUE(WaitFiled(5));  // the queue holds 10; later frames are dropped
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(port.Close());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);  // it does not hang
  flooding = false;
  flood.join();
  // The lock is free: the port reopens and the channel is usable.
  EXPECT_TRUE(port.Open(230400));
  one.Clear(true);
  EXPECT_EQ(one.FrameCount, 0);
}

TEST_F(PortFixture, UnpluggedDeviceNeitherSpinsNorBlocksClose) {
  ASSERT_TRUE(port.Open(230400));
  pty.CloseMaster();
  // The reader thread sees the hang-up and says so; an exchange would now fail at once.
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!port.LineLost() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(2ms);
  ASSERT_TRUE(port.LineLost());
  // The reader thread must now sleep: measure its CPU use over a short period via the process.
  const std::clock_t before = std::clock();
  std::this_thread::sleep_for(200ms);
  const double used = double(std::clock() - before) / CLOCKS_PER_SEC;
  EXPECT_LT(used, 0.05);
  EXPECT_TRUE(port.Close());
}

TEST(PortListing, ReadsThePortFolder) {
  test::TempPortFolder folder;
  test::PtyPair a, b;
  folder.Add("COM12", a.slavePath());
  folder.Add("com3", b.slavePath());
  folder.Add("modem", b.slavePath());
  ChannelRegistry registry;
  DecodingPort port(registry);
  port.RegistryOnly = 1;
  PortEntry entries[16];
  int count = 16;
  port.ListPorts(entries, count);
  ASSERT_EQ(count, 3);
  std::vector<std::pair<int, int>> got;
  for (int i = 0; i < count; ++i)
    got.emplace_back(entries[i].Port, entries[i].State);
  EXPECT_EQ(got, (std::vector<std::pair<int, int>>{{3, -1}, {12, -1}, {255, 0}}));

  PortEntry probed[16];
  count = 16;
  port.PortNumber = 12;
  ASSERT_TRUE(port.Open(230400));
  port.ListPorts(probed, count, true);
  EXPECT_EQ(probed[0].State, 0);  // com3 can be opened
  EXPECT_EQ(probed[1].State, 1);  // COM12 is held by us

  PortEntry small[2];
  count = 2;
  port.ListPorts(small, count);
  EXPECT_EQ(count, 2);
}

TEST(PortListing, ParsesListValues) {
  EXPECT_EQ(ParsePortValue("COM12"), 12);
  EXPECT_EQ(ParsePortValue("com3"), 3);
  EXPECT_EQ(ParsePortValue("CoM7x"), 7);
  EXPECT_EQ(ParsePortValue("COM1000"), 1000);
  EXPECT_EQ(ParsePortValue("COM"), 0);
  EXPECT_EQ(ParsePortValue("modem"), -1);
  EXPECT_EQ(ParsePortValue("CO"), -1);
  EXPECT_EQ(ParsePortValue("COM99999999999999999999"), 1000000);
}

}  // namespace
}  // namespace dravion
