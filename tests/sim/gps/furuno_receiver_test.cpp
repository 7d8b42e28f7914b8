// The Furuno model's frames, read from the board's end of the line.
#include <gtest/gtest.h>

#include <map>

#include "board/gps/furuno_receiver.h"
#include "sim/gps/receiver_fixture.h"

namespace {

using sim::FurunoReceiver;
using testing_board::ReceiverFixture;

struct Frame {
  std::vector<uint8_t> bytes;  // id to the last data byte
};

// Frames as a reader finds them: from an id byte to its end byte; a bad checksum, a data byte
// with the high bit set or a missing end byte counts as bad.
std::vector<Frame> frames(const std::string& s, int* bad) {
  std::vector<Frame> out;
  *bad = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    uint8_t id = static_cast<uint8_t>(s[i]);
    if (id < 0xE0 || id > 0xE3) continue;
    size_t end = i + 1;
    while (end < s.size() && static_cast<uint8_t>(s[end]) < 0x80) ++end;  // data bytes
    if (end + 1 >= s.size()) break;
    uint8_t sum = 0;
    for (size_t k = i; k < end; ++k) sum ^= static_cast<uint8_t>(s[k]);
    if (static_cast<uint8_t>(s[end]) != sum || static_cast<uint8_t>(s[end + 1]) != 0xEA) {
      ++*bad;
      continue;
    }
    out.push_back({std::vector<uint8_t>(s.begin() + static_cast<std::ptrdiff_t>(i), s.begin() + static_cast<std::ptrdiff_t>(end))});
    i = end + 1;
  }
  return out;
}

int32_t signedValue(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 7 | (p[i] & 0x7F);
  int bits = 7 * bytes;
  return static_cast<int32_t>(v << (32 - bits)) >> (32 - bits);
}

class FurunoTest : public ReceiverFixture {};

TEST_F(FurunoTest, AFrameIsTheIdSevenBitDataTheirXorAndTheEndByte) {
  // 2009-12-07 15:30:00, time valid
  EXPECT_EQ(FurunoReceiver::frame(0xE1, {0x01, 0x09, 0x0C, 0x07, 0x0F, 0x1E, 0x00, 0x00, 0x00}),
            (std::vector<uint8_t>{0xE1, 0x01, 0x09, 0x0C, 0x07, 0x0F, 0x1E, 0x00, 0x00, 0x00, 0xF3, 0xEA}));
}

TEST_F(FurunoTest, FourMessagesASecondWithTheVehiclesPositionAndTheTime) {
  install<FurunoReceiver>(1);
  std::string out = run(12.5);
  int bad = 0;
  auto fs = frames(out, &bad);
  EXPECT_EQ(bad, 0);
  std::map<uint8_t, int> seen;
  for (const Frame& f : fs) ++seen[f.bytes[0]];
  for (uint8_t id : {0xE0, 0xE1, 0xE2, 0xE3}) EXPECT_EQ(seen[id], 12) << std::hex << int(id);

  // The last position and time: the vehicle where it was at that second.
  const Frame* position = nullptr;
  const Frame* time = nullptr;
  for (const Frame& f : fs) {
    if (f.bytes[0] == 0xE0) position = &f;
    if (f.bytes[0] == 0xE1) time = &f;
  }
  ASSERT_TRUE(position && time);
  ASSERT_EQ(position->bytes.size(), 21u);
  ASSERT_EQ(time->bytes.size(), 10u);
  EXPECT_EQ(position->bytes[1], 0x03) << "3-D fix";
  EXPECT_EQ(time->bytes[1] & 0x03, 0x03) << "time valid";
  EXPECT_EQ(time->bytes[2], 26);
  struct tm tm = {};
  tm.tm_year = time->bytes[2] + 100;
  tm.tm_mon = time->bytes[3] - 1;
  tm.tm_mday = time->bytes[4];
  tm.tm_hour = time->bytes[5];
  tm.tm_min = time->bytes[6];
  tm.tm_sec = time->bytes[7];
  int64_t utc = static_cast<int64_t>(timegm(&tm)) * 1000000000LL;
  sim::VehicleState truth = vehicle->at(elapsedOf(utc));
  EXPECT_NEAR(signedValue(&position->bytes[3], 4) / 600000.0, truth.latDeg, 2e-6);
  EXPECT_NEAR(signedValue(&position->bytes[7], 4) / 600000.0, truth.lonDeg, 2e-6);
  EXPECT_NEAR(signedValue(&position->bytes[11], 4) / 10.0, truth.altM, 0.06);
  EXPECT_NEAR(signedValue(&position->bytes[15], 3) / 10.0, truth.speedMps * 3.6, 0.06);
  EXPECT_NEAR(signedValue(&position->bytes[18], 2) / 10.0, truth.headingDeg, 0.06);
  EXPECT_GE(position->bytes[20], 4);

  // The satellite message has its 32 slots, the count in view first.
  for (const Frame& f : fs) {
    if (f.bytes[0] != 0xE2) continue;
    EXPECT_EQ(f.bytes.size(), 196u);
    EXPECT_GE(f.bytes[1], 8);
    EXPECT_LE(f.bytes[1], 16);
  }
}

TEST_F(FurunoTest, TheRecordersCommandsSelectTheMessages) {
  auto r = install<FurunoReceiver>(0);
  send({0xC0, 0xA3, 0x8F, 0xEC, 0xCA});
  send({0xC0, 0xA2, 0x86, 0x8A, 0x85, 0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x81, 0x81, 0x80, 0x81, 0x80, 0x80, 0xEB, 0xCA});
  run(0.1);
  EXPECT_EQ(r->messageMask(), 0x0F);
  send({0xC0, 0xA3, 0x81, 0xE2, 0xCA});  // position only
  send({0xC0, 0xA3, 0x82, 0xE2, 0xCA});  // a bad checksum: ignored
  int bad = 0;
  auto fs = frames(run(3), &bad);
  ASSERT_FALSE(fs.empty());
  for (const Frame& f : fs) EXPECT_EQ(f.bytes[0], 0xE0);
}

}  // namespace
