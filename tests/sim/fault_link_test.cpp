#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <thread>

#include "sim/link_harness.h"

namespace dravion {
namespace {

using Bytes = std::vector<uint8_t>;
using Steady = std::chrono::steady_clock;

const Bytes kProgramInfo{0x01, 0x01};
const Bytes kLinkTest{0x01, 0x00, 0x11, 0x22, 0x33};

int64_t MsSince(Steady::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
}

TEST(FaultLink, DroppedAnswerIsRecoveredByTheResend) {
  test::SimLink link;
  sim::Faults faults;
  faults.dropEvery = 2;
  link.device->SetFaults(faults);
  ASSERT_TRUE(link.Request(1, kProgramInfo));  // answer 1 goes out
  const auto start = Steady::now();
  ASSERT_TRUE(link.Request(1, kProgramInfo));  // answer 2 dropped, the resend gets answer 3
  EXPECT_GE(MsSince(start), 700);
  const auto counters = link.device->GetCounters();
  EXPECT_EQ(counters.dropped, 1);
  EXPECT_EQ(counters.requests.at(0x0101), 3);
  EXPECT_EQ(counters.answers, 2);
}

TEST(FaultLink, CorruptedAnswersAreNeverTakenAndTheDecoderRecovers) {
  test::SimLink link;
  sim::Faults faults;
  faults.corruptEvery = 1;
  link.device->SetFaults(faults);
  EXPECT_FALSE(link.Request(1, kProgramInfo, nullptr, "No answer"));
  EXPECT_TRUE(test::WaitCounters(*link.device, [](const auto& c) { return c.corrupted == 3; }));
  ASSERT_EQ(link.dialogs.boxes.size(), 1u);
  EXPECT_EQ(link.dialogs.boxes[0].text, "No answer");
  link.device->SetFaults({});
  EXPECT_TRUE(link.Request(1, kProgramInfo));
}

TEST(FaultLink, DelayedAnswerArrivesLateAndSilenceFollowsTheSetCount) {
  test::SimLink link;
  sim::Faults faults;
  faults.delayMs = 300;
  faults.silentAfter = 2;
  link.device->SetFaults(faults);
  const auto start = Steady::now();
  ASSERT_TRUE(link.Request(1, kLinkTest));
  EXPECT_GE(MsSince(start), 300);
  EXPECT_TRUE(link.Request(1, kLinkTest));
  EXPECT_FALSE(link.Request(1, kLinkTest));
  EXPECT_TRUE(test::WaitCounters(*link.device, [](const auto& c) { return c.silenced == 3; }));
  const auto counters = link.device->GetCounters();
  EXPECT_EQ(counters.delayed, 2);
  EXPECT_EQ(counters.silenced, 3);
}

TEST(FaultLink, InterleavedFramesDoNotDisturbTheExchange) {
  test::SimLink link;
  sim::Faults faults;
  faults.interleaveEvery = 1;
  link.device->SetFaults(faults);
  for (int i = 0; i < 5; ++i) {
    Bytes data;
    ASSERT_TRUE(link.Request(1, kLinkTest, &data));
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 3), (Bytes{0x11, 0x22, 0x33}));
    uint32_t value = 0;
    ASSERT_TRUE(link.ReadParameter(4, value));
    EXPECT_EQ(value, 127u);
  }
  const auto counters = link.device->GetCounters();
  EXPECT_EQ(counters.interleaved, 10);
  EXPECT_EQ(counters.requests.at(0x0100), 5);  // every exchange answered on its first send
}

TEST(FaultLink, RefusedCommandAndWrongLengthAffectOnlyTheirCommand) {
  test::SimLink link;
  sim::Faults faults;
  faults.refuseCommand = sim::CommandKey(1, 0x0E);
  faults.wrongLengthCommand = sim::CommandKey(1, 0x01);
  link.device->SetFaults(faults);
  uint32_t value = 0;
  EXPECT_FALSE(link.ReadParameter(4, value));
  Bytes data;
  ASSERT_TRUE(link.Request(1, kProgramInfo, &data));
  EXPECT_EQ(data.size(), 9u);
  EXPECT_TRUE(link.WriteParameter(4, 200));
  faults.wrongLengthDelta = -3;
  link.device->SetFaults(faults);
  ASSERT_TRUE(link.Request(1, kProgramInfo, &data));
  EXPECT_EQ(data.size(), 5u);
  EXPECT_TRUE(test::WaitCounters(*link.device, [](const auto& c) { return c.refused == 3; }));
  const auto counters = link.device->GetCounters();
  EXPECT_EQ(counters.refused, 3);
  EXPECT_EQ(counters.wrongLength, 2);
}

TEST(FaultLink, UnplugAfterRequestsAndAfterTimeRemoveThePort) {
  test::SimLink link;
  sim::Faults faults;
  faults.unplugAfterRequests = 2;
  link.device->SetFaults(faults);
  ASSERT_TRUE(link.Request(1, kLinkTest));
  EXPECT_FALSE(link.stack->port.LineLost());
  // The device hangs up on the request: the exchange fails on the hang-up, before any resend.
  link.stack->main.RepeatCount = 0;
  EXPECT_FALSE(link.Request(1, kLinkTest, nullptr, "No answer"));
  EXPECT_TRUE(link.stack->port.LineLost());
  EXPECT_EQ(link.stack->main.RepeatCount, 0);
  EXPECT_EQ(link.device->GetCounters().totalRequests, 2);
  ASSERT_EQ(link.dialogs.boxes.size(), 1u);  // the caller's text, as for a silent device
  EXPECT_FALSE(link.device->Plugged());
  EXPECT_NE(::access(link.device->PortPath().c_str(), F_OK), 0);

  // Plugged in again, then gone after 200 ms and back 300 ms later by itself.
  link.stack->port.Close();
  faults = {};
  faults.unplugAfterMs = 200;
  faults.replugAfterMs = 300;
  link.device->SetFaults(faults);
  ASSERT_TRUE(link.device->Plug());
  ASSERT_TRUE(link.OpenPort());
  EXPECT_FALSE(link.stack->port.LineLost());
  EXPECT_TRUE(link.Request(1, kLinkTest));
  const auto start = Steady::now();
  ASSERT_TRUE(link.device->WaitPlugged(false, 20000));
  EXPECT_GE(MsSince(start) + 50, 150);
  ASSERT_TRUE(link.device->WaitPlugged(true, 20000));
  EXPECT_EQ(::access(link.device->PortPath().c_str(), F_OK), 0);
  link.stack->port.Close();
  ASSERT_TRUE(link.OpenPort());
  EXPECT_TRUE(link.Request(1, kLinkTest));
}

TEST(FaultLink, PacedLineIsNoFasterThanItsBaudRate) {
  sim::DeviceConfig config;
  config.baud = 115200;
  config.commandTimeUs[sim::CommandKey(1, 0x00)] = 1000;
  test::SimLink link(config);
  const Bytes request{0x01, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  constexpr int kCount = 100;
  const auto start = Steady::now();
  for (int i = 0; i < kCount; ++i)
    ASSERT_TRUE(link.Request(1, request));
  const double elapsedUs = std::chrono::duration<double, std::micro>(Steady::now() - start).count();
  // Request and answer bytes on the line, 10 bits each, plus 1 ms in the device.
  Bytes requestPayload{0x00, 0x01, 0x00, 0x01};
  requestPayload.insert(requestPayload.end(), request.begin(), request.end());
  Bytes answerData(request.begin() + 2, request.end());
  answerData.push_back(1);  // the extra byte of the link-test answer
  const size_t bytes = test::EncodeFrame(requestPayload).size() +
                       test::EncodeFrame(test::AnswerPayload(1, 0x01, 0x00, answerData)).size();
  const double lineUs = static_cast<double>(bytes) * 10 * 1e6 / 115200 + 1000;
  // Only the lower bound is a property of the line; how much slower a busy machine makes it is
  // measured by the benchmarks.
  EXPECT_GE(elapsedUs, kCount * lineUs * 0.995);
}

}  // namespace
}  // namespace dravion
