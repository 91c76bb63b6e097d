#include "protocol/device_link.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/frame_receiver.h"
#include "serial/channels.h"
#include "support/fakes.h"

namespace dravion {
namespace {

using Bytes = std::vector<uint8_t>;

// The request/answer engine on fake time, with a scripted device behind a recording port.
struct Harness {
  Harness() {
    for (ReceiveChannel* c : {&one, &two})
      c->Destination[1] = 1;
    receiver.OnFrameFiled = [this] { pump.Wake(); };
  }
  // Delivers raw line bytes to the receiver after `ms` of fake time.
  void DeliverAfter(uint32_t ms, const Bytes& line) {
    pump.After(ms, [this, line] { receiver.Feed(line.data(), static_cast<int>(line.size())); });
  }
  void Answer(uint32_t ms, const Bytes& payload) { DeliverAfter(ms, test::EncodeFrame(payload)); }

  test::FakeClock clock;
  test::FakePump pump{clock};
  test::ScriptedDialogs dialogs{&clock};
  test::RecordingSink port{&clock};
  ChannelRegistry registry;
  ReceiveChannel one{registry, 1};
  ReceiveChannel two{registry, 2};
  FrameReceiver receiver{registry};
  DeviceLink link{port, registry, pump, clock, dialogs};
};

const Bytes kProgramInfo{0x01, 0x01};

TEST(SendFrame, HeaderAndPiecesOfSixtyFour) {
  Harness h;
  h.link.SendFrame(h.one, kProgramInfo.data(), 2, true);
  ASSERT_EQ(h.port.writes.size(), 1u);
  EXPECT_EQ(h.port.writes[0], (Bytes{0xC0, 0x00, 0x01, 0x00, 0x01, 0x01, 0x01, 0x25, 0x02, 0xC0}));

  // Requests of 56 and 57 bytes (no byte that needs escaping, checksums 0x11EF and 0x123A):
  // 4 header bytes, the request, 2 checksum bytes and 2 ENDs make lines of 64 and 65 bytes.
  for (const size_t size : {56u, 57u}) {
    Harness g;
    Bytes request(size, 0x10);
    request[0] = 0x02;
    request[1] = 0x03;
    g.link.SendFrame(g.two, request.data(), static_cast<int>(request.size()), true);
    Bytes line;
    for (const auto& w : g.port.writes)
      line.insert(line.end(), w.begin(), w.end());
    ASSERT_EQ(line.size(), size + 8);
    EXPECT_EQ(Bytes(line.begin(), line.begin() + 7),
              (Bytes{0xC0, 0x00, 0x01, 0x00, 0x02, 0x02, 0x03}));
    EXPECT_EQ(Bytes(line.end() - 3, line.end()),
              size == 56 ? (Bytes{0xEF, 0x11, 0xC0}) : (Bytes{0x3A, 0x12, 0xC0}));
    if (size == 56) {
      EXPECT_EQ(g.port.writes.size(), 1u);
    } else {
      ASSERT_EQ(g.port.writes.size(), 2u);
      EXPECT_EQ(g.port.writes[0].size(), 64u);
      EXPECT_EQ(g.port.writes[1].size(), 1u);
    }
  }

  Harness tooShort;
  EXPECT_FALSE(tooShort.link.SendFrame(tooShort.one, kProgramInfo.data(), 1, true));
  EXPECT_TRUE(tooShort.port.writes.empty());
}

TEST(Transact, AnsweredAtOnceSendsOnceAndLeavesTheAnswerCurrent) {
  Harness h;
  h.port.onFrame = [&](const Bytes&) { h.Answer(3, test::AnswerPayload(1, 0x01, 0x01, {7, 8})); };
  const uint32_t start = h.clock.tick;
  EXPECT_TRUE(h.link.Transact(&h.one, kProgramInfo.data(), 2, true, "*"));
  EXPECT_EQ(h.port.frames.size(), 1u);
  EXPECT_EQ(h.clock.tick - start, 3u);
  EXPECT_EQ(h.one.PayloadLength(), 4);
  EXPECT_EQ(h.one.Current[6], 7);
  EXPECT_TRUE(h.dialogs.boxes.empty());
  EXPECT_LE(h.pump.calls, 2);  // slept until the answer came, no spinning
}

TEST(Transact, AnsweredOnlyOnTheSecondSend) {
  Harness h;
  h.port.onFrame = [&](const Bytes&) {
    if (h.port.frames.size() == 2) h.Answer(5, test::AnswerPayload(1, 0x01, 0x01));
  };
  const uint32_t start = h.clock.tick;
  EXPECT_TRUE(h.link.Transact(&h.one, kProgramInfo.data(), 2, true, "*"));
  ASSERT_EQ(h.port.frames.size(), 2u);
  EXPECT_EQ(h.port.frames[1].tick - start, 701u);
  EXPECT_TRUE(h.dialogs.boxes.empty());
  EXPECT_EQ(h.one.RepeatCount, 1);  // the resend is counted on the channel
}

TEST(Transact, SilentDeviceGetsThreeSendsThenTheCallersBox) {
  Harness h;
  const uint32_t start = h.clock.tick;
  EXPECT_FALSE(h.link.Transact(&h.one, kProgramInfo.data(), 2, true, "No answer - RESET"));
  ASSERT_EQ(h.port.frames.size(), 3u);
  EXPECT_EQ(h.port.frames[0].tick - start, 0u);
  EXPECT_EQ(h.port.frames[1].tick - start, 701u);
  EXPECT_EQ(h.port.frames[2].tick - start, 1402u);
  ASSERT_EQ(h.dialogs.boxes.size(), 1u);
  EXPECT_EQ(h.dialogs.boxes[0].kind, BoxKind::Error);
  EXPECT_EQ(h.dialogs.boxes[0].text, "No answer - RESET");
  EXPECT_EQ(h.dialogs.boxes[0].tick - start, 2103u);
  EXPECT_LE(h.pump.calls, 4);  // one sleep per attempt

  Harness d;
  EXPECT_FALSE(d.link.Transact(&d.one, kProgramInfo.data(), 2, true, "*"));
  ASSERT_EQ(d.dialogs.boxes.size(), 1u);
  EXPECT_EQ(d.dialogs.boxes[0].text, "No answer from device");

  Harness s;
  EXPECT_FALSE(s.link.Transact(&s.one, kProgramInfo.data(), 2, true, ""));
  EXPECT_TRUE(s.dialogs.boxes.empty());
  EXPECT_EQ(s.port.frames.size(), 3u);

  EXPECT_EQ(s.one.RepeatCount, 2);
  EXPECT_FALSE(s.link.Transact(&s.one, kProgramInfo.data(), 2, true, ""));
  EXPECT_EQ(s.one.RepeatCount, 4);  // counts across exchanges until cleared

  Harness once;
  EXPECT_FALSE(once.link.Transact(&once.one, kProgramInfo.data(), 2, false, ""));
  EXPECT_EQ(once.port.frames.size(), 1u);
  EXPECT_EQ(once.one.RepeatCount, 0);
}

TEST(Transact, MatchRuleLooksAtAnswerBitAndLowSixBits) {
  for (uint8_t group : {0x41, 0xC1}) {
    Harness h;
    h.port.onFrame = [&](const Bytes&) {
      Bytes answer = test::AnswerPayload(1, 0x01, 0xC1);  // code bits 6-7 are not compared
      answer[4] = group;
      h.Answer(1, answer);
    };
    EXPECT_TRUE(h.link.Transact(&h.one, kProgramInfo.data(), 2, true, "*")) << int(group);
  }
  // An echo of the request (no answer bit) and an answer to another command are dropped, one
  // per pass; the real answer behind them is still taken.
  Harness h;
  h.port.onFrame = [&](const Bytes&) {
    Bytes line = test::EncodeFrame({0x00, 0x01, 0x00, 0x01, 0x01, 0x01});
    for (const Bytes& p :
         {test::AnswerPayload(1, 0x01, 0x02), test::AnswerPayload(1, 0x01, 0x01)}) {
      const Bytes f = test::EncodeFrame(p);
      line.insert(line.end(), f.begin(), f.end());
    }
    h.DeliverAfter(2, line);
  };
  EXPECT_TRUE(h.link.Transact(&h.one, kProgramInfo.data(), 2, true, "*"));
  EXPECT_EQ(h.one.Current[5], 0x01);
  EXPECT_EQ(h.port.frames.size(), 1u);

  Harness echoOnly;
  echoOnly.port.onFrame = [&](const Bytes&) {
    echoOnly.Answer(1, {0x00, 0x01, 0x00, 0x01, 0x01, 0x01});
  };
  EXPECT_FALSE(echoOnly.link.Transact(&echoOnly.one, kProgramInfo.data(), 2, true, ""));
}

// A device that answered a read late answers its resend as well; that second answer reaches the
// next read of the same command. It repeats another address and must not fail the next read.
TEST(Transact, ALateAnswerToAnEarlierAddressIsPassedOverAndTheWaitGoesOn) {
  const Bytes read{0x02, 0x02, 0x20, 0x00, 0x00, 0x00, 0x20};  // 32 bytes from 0x20
  const Bytes late = test::AnswerPayload(2, 0x02, 0x02, {0x00, 0x00, 0x00, 0x00, 0x20, 0xAA});
  const Bytes right = test::AnswerPayload(2, 0x02, 0x02, {0x20, 0x00, 0x00, 0x00, 0x20, 0xBB});
  Harness h;
  h.port.onFrame = [&](const Bytes&) {
    h.Answer(1, late);
    h.Answer(300, right);
  };
  ASSERT_TRUE(h.link.Transact(&h.two, read.data(), 7, true, "*", 4));
  EXPECT_EQ(h.two.Current[11], 0xBB);
  EXPECT_EQ(h.port.frames.size(), 1u);  // waited on, not sent again
  EXPECT_EQ(h.two.RepeatCount, 0);

  // Without the echo rule the late answer is taken, as for commands whose answers repeat nothing.
  Harness plain;
  plain.port.onFrame = [&](const Bytes&) { plain.Answer(1, late); };
  ASSERT_TRUE(plain.link.Transact(&plain.two, read.data(), 7, true, "*"));
  EXPECT_EQ(plain.two.Current[11], 0xAA);

  // A device that only ever repeats another address (or too little of it) did answer: three
  // sends, then a silent failure, no no-answer box.
  for (const Bytes& wrong : {late, test::AnswerPayload(2, 0x02, 0x02, {0x20, 0x00})}) {
    Harness h2;
    h2.port.onFrame = [&](const Bytes&) { h2.Answer(1, wrong); };
    EXPECT_FALSE(h2.link.Transact(&h2.two, read.data(), 7, true, "*", 4));
    EXPECT_EQ(h2.port.frames.size(), 3u);
    EXPECT_TRUE(h2.dialogs.boxes.empty());
  }
}

TEST(Transact, StaleFrameIsClearedBeforeSending) {
  Harness h;
  const Bytes stale = test::EncodeFrame(test::AnswerPayload(1, 0x01, 0x01, {0xEE}));
  h.receiver.Feed(stale.data(), static_cast<int>(stale.size()));
  ASSERT_EQ(h.one.FrameCount, 1);
  EXPECT_FALSE(h.link.Transact(&h.one, kProgramInfo.data(), 2, false, ""));
}

TEST(Transact, RefusesWithoutPortChannelOrRequest) {
  Harness h;
  h.port.open = false;
  EXPECT_FALSE(h.link.Transact(&h.one, kProgramInfo.data(), 2, true, "*"));
  h.port.open = true;
  EXPECT_FALSE(h.link.Transact(nullptr, kProgramInfo.data(), 2, true, "*"));
  EXPECT_FALSE(h.link.Transact(&h.one, kProgramInfo.data(), 1, true, "*"));
  EXPECT_TRUE(h.port.writes.empty());
  EXPECT_TRUE(h.dialogs.boxes.empty());
}

TEST(Transact, NestedExchangeOnTheSameChannelFailsAtOnceAndLeavesTheOuterIntact) {
  Harness h;
  bool nestedResult = true;
  bool freeChannelResult = false;
  size_t framesBeforeNested = 0;
  size_t framesAfterNested = 0;
  const Bytes memoryRead{0x01, 0x02, 0x00, 0x00, 0x00, 0x20, 0x01};  // 1 byte at 0x20000000
  h.port.onFrame = [&](const Bytes& payload) {
    if (payload[3] == 2) {
      // The exchange on channel 2 is answered after the outer answer has arrived on channel 1.
      h.Answer(15, test::AnswerPayload(2, 0x01, 0x02, {0x00, 0x00, 0x00, 0x20, 0x01, 0x77}));
      return;
    }
    if (payload[5] != 0x01) return;
    // While the outer exchange waits, a timer handler tries its own exchange on channel 1,
    // and a second one on channel 2, which is free and must work.
    h.pump.After(10, [&] {
      framesBeforeNested = h.port.frames.size();
      const Bytes linkTest{0x01, 0x00, 'Z'};
      nestedResult = h.link.Transact(&h.one, linkTest.data(), 3, true, "*");
      framesAfterNested = h.port.frames.size();
      freeChannelResult = h.link.Transact(&h.two, memoryRead.data(), 7, true, "*");
    });
    h.Answer(20, test::AnswerPayload(1, 0x01, 0x01, {0x42}));
  };
  EXPECT_TRUE(h.link.Transact(&h.one, kProgramInfo.data(), 2, true, "*"));
  EXPECT_FALSE(nestedResult);
  EXPECT_EQ(framesAfterNested, framesBeforeNested);  // the nested one sent nothing
  EXPECT_TRUE(freeChannelResult);
  ASSERT_EQ(h.port.frames.size(), 2u);  // the outer request and the one on channel 2, once each
  EXPECT_EQ(h.port.frames[1].payload[3], 2);
  EXPECT_EQ(h.two.Current[11], 0x77);
  EXPECT_FALSE(h.two.Busy);
  EXPECT_EQ(h.one.Current[6], 0x42);  // the outer answer, filed while channel 2 waited
  EXPECT_TRUE(h.dialogs.boxes.empty());
  EXPECT_FALSE(h.one.Busy);
}

}  // namespace
}  // namespace dravion
