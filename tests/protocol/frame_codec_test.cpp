#include "protocol/frame_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/fakes.h"

namespace dravion {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(const Bytes& payload) {
  return test::EncodeFrame(payload);
}

// Feeds bytes and returns every frame the decoder completed.
std::vector<Bytes> Decode(FrameDecoder& decoder, const Bytes& line) {
  std::vector<Bytes> frames;
  for (uint8_t b : line) {
    if (decoder.DecodeByte(b))
      frames.emplace_back(decoder.Body(), decoder.Body() + decoder.Count());
  }
  return frames;
}

TEST(FrameChecksum, AbcAndTheProgramInfoRequest) {
  const std::string abc = "abc";
  EXPECT_EQ(FrameChecksum(reinterpret_cast<const uint8_t*>(abc.data()), 3), 0x00AE);
  const Bytes request{0x00, 0x01, 0x00, 0x01, 0x01, 0x01};
  EXPECT_EQ(FrameChecksum(request.data(), request.size()), 0x0225);
}

TEST(SlipEncoder, WorkedExamplesByteForByte) {
  EXPECT_EQ(Encode({0x00, 0x01, 0x00, 0x01, 0x01, 0x01}),
            (Bytes{0xC0, 0x00, 0x01, 0x00, 0x01, 0x01, 0x01, 0x25, 0x02, 0xC0}));
  // External-flash sector erase at 0xC000 on channel 2: the 0xC0 address byte is escaped.
  EXPECT_EQ(Encode({0x00, 0x01, 0x00, 0x02, 0x02, 0x05, 0x00, 0xC0, 0x00, 0x00}),
            (Bytes{0xC0, 0x00, 0x01, 0x00, 0x02, 0x02, 0x05, 0x00, 0xDB, 0xDC, 0x00, 0x00, 0xCF,
                   0x03, 0xC0}));
}

TEST(SlipEncoder, EscapesPayloadAndChecksumBytes) {
  EXPECT_EQ(Encode({0xDB}), (Bytes{0xC0, 0xDB, 0xDD, 0x81, 0x00, 0xC0}));
  // Find payloads whose checksum bytes are END or ESC and check that they go out escaped.
  bool sawEscapedSum = false;
  for (int a = 0; a < 256 && !sawEscapedSum; ++a) {
    for (int b = 0; b < 256; ++b) {
      const Bytes payload{static_cast<uint8_t>(a), static_cast<uint8_t>(b)};
      const uint16_t sum = FrameChecksum(payload.data(), 2);
      if ((sum & 0xFF) != 0xC0 && (sum & 0xFF) != 0xDB) continue;
      const Bytes line = Encode(payload);
      ASSERT_EQ(line.front(), 0xC0);
      ASSERT_EQ(line.back(), 0xC0);
      for (size_t i = 1; i + 1 < line.size(); ++i)
        ASSERT_NE(line[i], 0xC0);
      FrameDecoder decoder;
      const auto frames = Decode(decoder, line);
      ASSERT_EQ(frames.size(), 1u);
      EXPECT_EQ(frames[0], payload);
      sawEscapedSum = true;
      break;
    }
  }
  EXPECT_TRUE(sawEscapedSum);
}

// Lines as a device sends them, written out by hand: the answer to the program information
// request with two data bytes. Checksums: 0xFFFF plus (b XOR 0x5A) + 1 for each payload byte.
TEST(FrameDecoder, LiteralLinesWithEscapedChecksumsAndPayloadBytes) {
  // Data 25 00: the checksum is 0x02C0, its low byte goes out as DB DC.
  const Bytes sumEscaped{0xC0, 0x00, 0x01, 0x00, 0x01, 0x41, 0x01,
                         0x25, 0x00, 0xDB, 0xDC, 0x02, 0xC0};
  const Bytes sumEscapedPayload{0x00, 0x01, 0x00, 0x01, 0x41, 0x01, 0x25, 0x00};
  // Data C0 00: the payload's C0 goes out as DB DC, the checksum 0x02DB's low byte as DB DD.
  const Bytes bothEscaped{0xC0, 0x00, 0x01, 0x00, 0x01, 0x41, 0x01,
                          0xDB, 0xDC, 0x00, 0xDB, 0xDD, 0x02, 0xC0};
  const Bytes bothEscapedPayload{0x00, 0x01, 0x00, 0x01, 0x41, 0x01, 0xC0, 0x00};

  FrameDecoder decoder;
  EXPECT_EQ(Decode(decoder, sumEscaped), std::vector<Bytes>{sumEscapedPayload});
  EXPECT_EQ(Decode(decoder, bothEscaped), std::vector<Bytes>{bothEscapedPayload});
  // Split inside the escape pairs.
  std::vector<Bytes> got;
  for (const Bytes& piece : {Bytes(bothEscaped.begin(), bothEscaped.begin() + 8),
                             Bytes(bothEscaped.begin() + 8, bothEscaped.begin() + 11),
                             Bytes(bothEscaped.begin() + 11, bothEscaped.end())}) {
    auto part = Decode(decoder, piece);
    got.insert(got.end(), part.begin(), part.end());
  }
  EXPECT_EQ(got, std::vector<Bytes>{bothEscapedPayload});
  // DB DD (0xDB) where the checksum needs 0xC0: not delivered.
  Bytes wrongSum = sumEscaped;
  wrongSum[10] = 0xDD;
  EXPECT_TRUE(Decode(decoder, wrongSum).empty());
  EXPECT_EQ(Decode(decoder, sumEscaped), std::vector<Bytes>{sumEscapedPayload});

  EXPECT_EQ(Encode(sumEscapedPayload), sumEscaped);
  EXPECT_EQ(Encode(bothEscapedPayload), bothEscaped);
  EXPECT_EQ(FrameChecksum(sumEscapedPayload.data(), sumEscapedPayload.size()), 0x02C0);
  EXPECT_EQ(FrameChecksum(bothEscapedPayload.data(), bothEscapedPayload.size()), 0x02DB);
}

// A line with the given payload and checksum bytes, escaped as a device sends them.
Bytes LineWithChecksum(const Bytes& payload, uint16_t sum) {
  Bytes line{0xC0};
  auto put = [&](uint8_t b) {
    if (b == 0xC0 || b == 0xDB) {
      line.push_back(0xDB);
      line.push_back(b == 0xC0 ? 0xDC : 0xDD);
    } else {
      line.push_back(b);
    }
  };
  for (uint8_t b : payload)
    put(b);
  put(static_cast<uint8_t>(sum & 0xFF));
  put(static_cast<uint8_t>(sum >> 8));
  line.push_back(0xC0);
  return line;
}

// Damage that moves the sum by one must be refused: flipping the low bit of an even payload byte
// raises the sum by exactly 1, so a decoder that tolerated a checksum off by one would deliver a
// damaged answer instead of having it asked for again.
TEST(FrameDecoder, RefusesEverySingleBitFlipAndEveryChecksumOffByOne) {
  const Bytes answer{0x00, 0x01, 0x00, 0x01, 0x4E, 0x01, 0x10, 0x27, 0xC0, 0x00, 0xDB, 0x7E};
  const uint16_t sum = FrameChecksum(answer.data(), answer.size());
  FrameDecoder decoder;
  ASSERT_EQ(Decode(decoder, LineWithChecksum(answer, sum)), std::vector<Bytes>{answer});
  for (int delta : {-2, -1, 1, 2, 0x100, -0x100}) {
    EXPECT_TRUE(
        Decode(decoder, LineWithChecksum(answer, static_cast<uint16_t>(sum + delta))).empty())
        << "checksum off by " << delta;
  }
  int flips = 0;
  for (size_t i = 0; i < answer.size(); ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      Bytes damaged = answer;
      damaged[i] = static_cast<uint8_t>(damaged[i] ^ (1u << bit));
      EXPECT_TRUE(Decode(decoder, LineWithChecksum(damaged, sum)).empty())
          << "byte " << i << " bit " << bit;
      ++flips;
    }
  }
  EXPECT_EQ(flips, 96);
  // After all the refused lines the decoder still takes a good one.
  EXPECT_EQ(Decode(decoder, LineWithChecksum(answer, sum)), std::vector<Bytes>{answer});
}

TEST(SlipEncoder, OverflowWritesNothing) {
  FrameEncoder tx;
  Bytes fits(545, 0x11);  // 1 + 545 + 2 + 1 = 549 bytes
  EXPECT_EQ(tx.Encode(fits.data(), static_cast<uint16_t>(fits.size())), 549);
  Bytes escaped(300, 0xC0);  // 600 bytes escaped: too long
  EXPECT_EQ(tx.Encode(escaped.data(), static_cast<uint16_t>(escaped.size())), 0);
  EXPECT_EQ(tx.Length, 0);
  EXPECT_EQ(tx.Encode(nullptr, 0), 0);
  Bytes tooLong(546, 0x11);  // checksum's high byte would land past position 547
  EXPECT_EQ(tx.Encode(tooLong.data(), static_cast<uint16_t>(tooLong.size())), 0);
}

TEST(FrameDecoder, ResynchronisesAfterNoiseAndBadFrames) {
  const Bytes good{0x00, 0x01, 0x00, 0x01, 0x41, 0x01, 0x55};
  const Bytes line = Encode(good);
  FrameDecoder decoder;

  // An empty frame (C0 C0) before a good one is ignored.
  Bytes doubled{0xC0};
  doubled.insert(doubled.end(), line.begin(), line.end());
  EXPECT_EQ(Decode(decoder, doubled), std::vector<Bytes>{good});

  // Swapped checksum bytes: not delivered, and the closing END opens the next frame.
  Bytes swapped = line;
  std::swap(swapped[swapped.size() - 3], swapped[swapped.size() - 2]);
  Bytes stream = swapped;
  stream.insert(stream.end(), line.begin(), line.end());
  EXPECT_EQ(Decode(decoder, stream), std::vector<Bytes>{good});

  // DB 41 abandons the frame; its remaining bytes are ignored until the next END.
  Bytes broken{0xC0, 0x00, 0x01, 0xDB, 0x41, 0x00, 0x01, 0x41, 0x01};
  broken.insert(broken.end(), line.begin(), line.end());
  EXPECT_EQ(Decode(decoder, broken), std::vector<Bytes>{good});

  // Garbage without END is ignored; a frame split over many feeds still arrives.
  Bytes noise{0x12, 0x34, 0xDB, 0xDD};
  EXPECT_TRUE(Decode(decoder, noise).empty());
  std::vector<Bytes> got;
  for (uint8_t b : line) {
    auto part = Decode(decoder, Bytes{b});
    got.insert(got.end(), part.begin(), part.end());
  }
  EXPECT_EQ(got, std::vector<Bytes>{good});
}

TEST(FrameDecoder, BodyLimitIs254Bytes) {
  FrameDecoder decoder;
  Bytes payload252(252, 0x33);
  EXPECT_EQ(Decode(decoder, Encode(payload252)).size(), 1u);  // 252 + 2 checksum = 254 stored
  Bytes payload253(253, 0x33);
  const Bytes tooLong = Encode(payload253);
  EXPECT_TRUE(Decode(decoder, tooLong).empty());
  // The abandoned frame's closing END opens a new frame, so the next good frame is received.
  EXPECT_EQ(Decode(decoder, Encode(payload252)).size(), 1u);
  EXPECT_EQ(Decode(decoder, Encode({1, 2, 3, 4, 5, 6})).size(), 1u);
}

TEST(FrameDecoder, RandomLinesRoundTripAmongGarbage) {
  std::mt19937 random(1234);
  FrameDecoder decoder;
  for (int round = 0; round < 2000; ++round) {
    Bytes payload(1 + random() % 252);
    for (auto& b : payload)
      b = static_cast<uint8_t>(random());
    Bytes garbage(random() % 8);
    for (auto& b : garbage)
      b = static_cast<uint8_t>(random() % 0xC0);  // no END, ends hunting
    Bytes line = garbage;
    const Bytes frame = Encode(payload);
    line.insert(line.end(), frame.begin(), frame.end());
    const auto frames = Decode(decoder, line);
    ASSERT_EQ(frames.size(), 1u) << "round " << round;
    ASSERT_EQ(frames[0], payload);
  }
}

}  // namespace
}  // namespace dravion
