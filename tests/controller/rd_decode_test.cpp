// The receiver of the controller's frames: frames in pieces, noise before them, the largest
// frame, bad checksums.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "serial/rd_com.h"

namespace {

std::vector<uint8_t> frameOf(uint8_t cmd, std::vector<uint8_t> payload) {
  std::vector<uint8_t> out(rd::kMaxFrame);
  out.resize(rd::buildFrame(cmd, payload.data(), payload.size(), out.data()));
  return out;
}

int decode(const std::vector<uint8_t>& bytes, rd::Frame* frame) {
  return DecodeRDCommand(bytes.data(), static_cast<int>(bytes.size()), frame);
}

class RdDecode : public ::testing::Test {
 protected:
  void SetUp() override { RdComResetReceiver(); }
  rd::Frame frame{};
};

TEST_F(RdDecode, ChecksumMakesTheFrameAddUpToZero) {
  const uint8_t version[] = {0xF0, 0x04, 0x03, 0x01, 0x02, 0x03, 0x04};
  uint8_t sum = 0x55;
  EXPECT_EQ(GetCheckSum(version, 7, &sum), 0);
  EXPECT_EQ(sum, 0xFF);
  EXPECT_EQ(GetCheckSum(version, 0, &sum), 0);
  EXPECT_EQ(sum, 0);
  EXPECT_EQ(frameOf(rd::kRspVersion, {1, 2, 3, 4}), (std::vector<uint8_t>{0xF0, 0x04, 0x03, 1, 2, 3, 4, 0xFF}));
}

TEST_F(RdDecode, FrameSplitOverReadsCompletesWithItsLastByteAfterSkippedNoise) {
  std::vector<uint8_t> ping = frameOf(rd::kCmdControlRequest, {rd::kControlPing});
  std::vector<uint8_t> first = {0x00, 0x12, 0xFF};  // noise before the start byte
  first.insert(first.end(), ping.begin(), ping.begin() + 3);
  std::vector<uint8_t> rest(ping.begin() + 3, ping.end() - 1);
  EXPECT_EQ(decode(first, &frame), -1);
  EXPECT_EQ(decode(rest, &frame), -1);
  EXPECT_EQ(decode({ping.back()}, &frame), 0);
  ASSERT_EQ(frame.length, ping.size());
  EXPECT_EQ(std::vector<uint8_t>(frame.bytes, frame.bytes + frame.length), ping);
}

TEST_F(RdDecode, LenZeroCarries256BytesAndTheWholeFrameIsCopied) {
  std::vector<uint8_t> payload(256);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> big = frameOf(rd::kCmdDataRequest, payload);
  ASSERT_EQ(big.size(), rd::kMaxFrame);
  EXPECT_EQ(big[rd::kOffLen], 0);
  EXPECT_EQ(decode(big, &frame), 0);
  ASSERT_EQ(frame.length, rd::kMaxFrame);
  EXPECT_EQ(frame.payloadSize(), 256u);
  EXPECT_EQ(frame.payload()[255], payload[255]);
}

TEST_F(RdDecode, BadChecksumIsDroppedAndTheNextFrameStillDecodes) {
  std::vector<uint8_t> bad = frameOf(rd::kCmdControlRequest, {rd::kControlTrigger});
  bad.back() ^= 0x01;
  EXPECT_EQ(decode(bad, &frame), -1);
  std::vector<uint8_t> good = frameOf(rd::kCmdDataRequest, {0x01, 0x00});
  EXPECT_EQ(decode(good, &frame), 0);
  EXPECT_EQ(frame.cmd(), rd::kCmdDataRequest);
}

TEST_F(RdDecode, SeveralFramesInOneReadGiveTheLastGoodOne) {
  std::vector<uint8_t> bytes = frameOf(rd::kCmdDataRequest, {0x01, 0x00});
  std::vector<uint8_t> second = frameOf(rd::kCmdControlRequest, {rd::kControlPing});
  std::vector<uint8_t> third = frameOf(rd::kCmdControlRequest, {rd::kControlTrigger});
  third.back() ^= 0xFF;
  bytes.insert(bytes.end(), second.begin(), second.end());
  bytes.insert(bytes.end(), third.begin(), third.end());
  EXPECT_EQ(decode(bytes, &frame), 0);
  EXPECT_EQ(frame.cmd(), rd::kCmdControlRequest);
  EXPECT_EQ(frame.payload()[0], rd::kControlPing);
}

TEST_F(RdDecode, ArbitraryBytesNeverGiveAFrameThatDoesNotHoldTogether) {
  // What the fuzz target does, over a fixed set of inputs: noise, and noise around real frames.
  std::mt19937 random(13);
  int frames = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes(random() % 600);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random() % 4 == 0 ? 0xF0 : random());
    if (round % 3 == 0) {
      std::vector<uint8_t> f = frameOf(static_cast<uint8_t>(random()), std::vector<uint8_t>(1 + random() % 256, 0x5A));
      bytes.insert(bytes.end(), f.begin(), f.end());
    }
    int found = RdComFuzzDecode(bytes.data(), bytes.size());
    ASSERT_GE(found, 0) << "round " << round;
    frames += found;
  }
  EXPECT_GT(frames, 0);
}

}  // namespace
