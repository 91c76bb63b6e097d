#include "serial/channels.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/frame_receiver.h"
#include "support/fakes.h"

namespace dravion {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(uint8_t addressByte, uint8_t tag, int length = 6) {
  Bytes f(static_cast<size_t>(length), tag);
  f[0] = 0;
  f[1] = addressByte;
  return f;
}

struct ThreeChannels {
  ChannelRegistry registry;
  ReceiveChannel one{registry, 1};
  ReceiveChannel two{registry, 2};
  ReceiveChannel three{registry, 3};
};

TEST(PacketBuffer, RefusesTinyCapacityAndOversizeFrames) {
  try {
    PacketBuffer tiny(2);
    FAIL() << "a 2-entry buffer was built";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Слишком маленький буфер");
  }
  PacketBuffer buffer(3);
  Bytes big(1000, 1);
  EXPECT_FALSE(buffer.Put(big.data(), 1000));
  EXPECT_TRUE(buffer.Put(big.data(), 999));
  EXPECT_FALSE(buffer.Put(big.data(), 0));
  EXPECT_EQ(buffer.Count, 1);
}

TEST(Channels, AddressesAreUniqueAndInRange) {
  ChannelRegistry registry;
  ReceiveChannel a(registry, 1), b(registry, 1), c(registry, 32), d(registry, 0);
  EXPECT_EQ(a.Address, 1);
  EXPECT_EQ(b.Address, -1);
  EXPECT_EQ(c.Address, -1);
  EXPECT_EQ(d.Address, -1);
  EXPECT_EQ(registry.FindChannel(1, true), &a);
  {
    ReceiveChannel e(registry, 5);
    EXPECT_EQ(registry.FindChannel(5, true), &e);
  }
  EXPECT_EQ(registry.FindChannel(5, true), nullptr);
}

TEST(Dispatch, FilesByLowFiveBitsAndDropsShortFrames) {
  ThreeChannels ch;
  EXPECT_FALSE(DispatchFrame(ch.registry, Frame(0x01, 9, 5).data(), 5));
  EXPECT_EQ(ch.one.FrameCount, 0);
  EXPECT_TRUE(DispatchFrame(ch.registry, Frame(0x01, 9, 6).data(), 6));
  EXPECT_EQ(ch.one.FrameCount, 1);
  EXPECT_EQ(ch.one.PayloadLength(), 2);
  EXPECT_TRUE(DispatchFrame(ch.registry, Frame(0xE2, 7).data(), 6));
  EXPECT_EQ(ch.two.FrameCount, 1);
  EXPECT_FALSE(DispatchFrame(ch.registry, Frame(0x09, 7).data(), 6));  // nobody holds 9
}

TEST(Dispatch, AddressZeroChannelIsTheFallback) {
  ChannelRegistry registry;
  ReceiveChannel one(registry, 1);
  ReceiveChannel catchAll(registry, 1);
  catchAll.Address = 0;  // only reachable this way: construction refuses 0
  EXPECT_TRUE(DispatchFrame(registry, Frame(0x09, 7).data(), 6));
  EXPECT_EQ(catchAll.FrameCount, 1);
  EXPECT_EQ(one.FrameCount, 0);
}

TEST(Dispatch, QueueHoldsTenAndKeepsTheOldestCurrent) {
  ThreeChannels ch;
  for (uint8_t i = 0; i < 11; ++i)
    DispatchFrame(ch.registry, Frame(0x01, i).data(), 6);
  EXPECT_EQ(ch.one.FrameCount, 10);
  EXPECT_EQ(ch.one.Current[2], 0);  // the first frame is still the current one
  for (uint8_t i = 0; i < 10; ++i) {
    ASSERT_NE(ch.one.Current, nullptr);
    EXPECT_EQ(ch.one.Current[2], i);
    ch.one.Advance(true);
  }
  EXPECT_EQ(ch.one.Current, nullptr);
  EXPECT_EQ(ch.one.FrameCount, 0);
  // After draining, the ring accepts frames again across its wrap.
  for (uint8_t i = 20; i < 25; ++i)
    DispatchFrame(ch.registry, Frame(0x01, i).data(), 6);
  EXPECT_EQ(ch.one.Current[2], 20);
  ch.one.Clear(true);
  EXPECT_EQ(ch.one.Current, nullptr);
  EXPECT_EQ(ch.one.PayloadLength(), 0);
  EXPECT_EQ(ch.one.FrameCount, 0);
}

TEST(FrameReceiverTest, TwoFramesInOneReadAreBothFiled) {
  ThreeChannels ch;
  FrameReceiver receiver(ch.registry);
  int filed = 0;
  receiver.OnFrameFiled = [&] { ++filed; };
  Bytes line = test::EncodeFrame(test::AnswerPayload(1, 0x01, 0x01, {1}));
  const Bytes second = test::EncodeFrame(test::AnswerPayload(1, 0x01, 0x02, {2}));
  line.insert(line.end(), second.begin(), second.end());
  receiver.Feed(line.data(), static_cast<int>(line.size()));
  EXPECT_EQ(filed, 2);
  EXPECT_EQ(ch.one.FrameCount, 2);
  EXPECT_EQ(ch.one.Current[5], 0x01);
}

}  // namespace
}  // namespace dravion
