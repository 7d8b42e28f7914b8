#include "gps/furuno_codec.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_port.h"
#include "support/test_board.h"

using namespace gpstest;

namespace {

// 7-bit encodings, most significant first.
Bytes seven(int32_t v, int bytes) {
  Bytes out(static_cast<size_t>(bytes));
  uint32_t u = static_cast<uint32_t>(v);
  for (int i = bytes - 1; i >= 0; --i) {
    out[static_cast<size_t>(i)] = static_cast<uint8_t>(0x80 | (u & 0x7F));
    u >>= 7;
  }
  return out;
}

Bytes positionData(int32_t latRaw, int32_t lonRaw, int32_t alt10, int32_t speed10, int course10, int used) {
  return cat({{0x83, 0x80}, seven(latRaw, 4), seven(lonRaw, 4), seven(alt10, 4), seven(speed10, 3),
              seven(course10, 2), {static_cast<uint8_t>(0x80 | used)}});
}

Bytes timeFrame() { return {0xE1, 0x01, 0x09, 0x0C, 0x07, 0x0F, 0x1E, 0x00, 0x00, 0x00, 0xF3, 0xEA}; }

Bytes satelliteFrame(int count) {
  Bytes d = {static_cast<uint8_t>(count)};
  for (int i = 0; i < 32; ++i) {
    Bytes s = cat({{static_cast<uint8_t>(0x80 | (i + 1))}, seven(270 + i, 2), {0x80 | 45, 0x81, 0x80 | 40}});
    d.insert(d.end(), s.begin(), s.end());
  }
  d.push_back(0x91);
  d.push_back(0x92);
  return furunoFrame(0xE2, d);
}

Bytes qualityFrame() {
  return furunoFrame(0xE3, cat({seven(12, 2), seven(34, 2), Bytes(6, 0x80), {0x85, 0x80, 0x81, 0x82}}));
}

int decode(const Bytes& b, GpsFixRecord* r) { return FurunoDecode(b.data(), static_cast<int>(b.size()), r, 0); }

class FurunoCodec : public ::testing::Test {
 protected:
  void SetUp() override {
    FurunoResetForTest();
    FakePort::current() = &port;
  }
  FakePort port;
  GpsFixRecord record{};
};

}  // namespace

TEST_F(FurunoCodec, TimeMessageOfTheExample) {
  EXPECT_EQ(timeFrame(), furunoFrame(0xE1, {0x01, 0x09, 0x0C, 0x07, 0x0F, 0x1E, 0x00, 0x00, 0x00}));
  EXPECT_EQ(decode(timeFrame(), &record), 0);
  const FurunoFix& f = furuno(record);
  EXPECT_EQ(f.timeId, 0xE1);
  EXPECT_EQ(f.timeStatus, 0x01);
  EXPECT_EQ((Bytes{f.year, f.month, f.day, f.hour, f.minute, f.second}), (Bytes{9, 12, 7, 15, 30, 0}));
}

TEST_F(FurunoCodec, PositionOfMinus35AndAHalfDegreesAndItsOtherFields) {
  Bytes latBytes = {0x75, 0x6B, 0x79, 0x60};
  EXPECT_EQ(DecodeFurunoLong(latBytes.data()), -21300000);
  Bytes d = positionData(0, 83820000, -123, 1005, 3599, 0x48);  // 0x48: bit 6 set
  std::copy(latBytes.begin(), latBytes.end(), d.begin() + 2);
  // 0x48 widened is 0xC8, above 32: refused. Use 9 satellites for the stored frame.
  EXPECT_EQ(ProcessFURUNO(0, &record, 0), 0);
  Bytes refused = furunoFrame(0xE0, d);
  int last = 0;
  for (uint8_t b : refused) last = ProcessFURUNO(b, &record, 0);
  EXPECT_EQ(last, 0);
  EXPECT_EQ(furuno(record).posId, 0);

  d.back() = 0x89;
  Bytes ok = furunoFrame(0xE0, d);
  for (uint8_t b : ok) last = ProcessFURUNO(b, &record, 0);
  EXPECT_EQ(last, 0x01);
  const FurunoFix& f = furuno(record);
  EXPECT_DOUBLE_EQ(f.latitudeDeg.get(), -35.5);
  EXPECT_DOUBLE_EQ(f.longitudeDeg.get(), 139.7);
  EXPECT_EQ(f.altitude.get(), -12);  // -12.3 m truncated toward zero
  EXPECT_EQ(f.speed.get(), 100);
  EXPECT_EQ(f.course.get(), 359);
  EXPECT_EQ(f.satellitesUsed, 9);
  EXPECT_EQ(f.posMode, 0x83);
  EXPECT_EQ(f.latitude.get(), 0);  // the thread fills the integers
}

TEST_F(FurunoCodec, NegativeSpeedIsSignExtendedFrom21Bits) {
  Bytes b = seven(-5, 3);
  EXPECT_EQ(DecodeFuruno21(b.data()), -5);
  Bytes c = seven((1 << 21) - 1, 3);
  EXPECT_EQ(DecodeFuruno21(c.data()), -1);
  Bytes u = {0xFF, 0xFF};
  EXPECT_EQ(DecodeFurunoUShort(u.data()), 16383);
}

TEST_F(FurunoCodec, ChangedDataByteDropsTheFrame) {
  Bytes t = timeFrame();
  t[3] ^= 0x01;
  EXPECT_EQ(decode(t, &record), 0);
  for (uint8_t b : record.bytes) ASSERT_EQ(b, 0);
  // The machine waits for the next id and takes the good frame after it.
  EXPECT_EQ(decode(timeFrame(), &record), 0);
  EXPECT_EQ(furuno(record).day, 7);
}

TEST_F(FurunoCodec, OnlyTheMatchingEndByteEndsAFrame) {
  // D0 frame with an EA among its data: EA does not end it, DA does.
  Bytes req = furunoFrame(0xD0, {0x81, 0xEA, 0x82});
  testing_board::ConsoleCapture console;
  std::vector<int> completes;
  GpsFixRecord r{};
  for (size_t i = 0; i < req.size(); ++i) {
    if (ProcessFURUNO(req[i], nullptr, 0) == 1) completes.push_back(static_cast<int>(i));
  }
  EXPECT_EQ(completes, std::vector<int>{static_cast<int>(req.size() - 1)});
  for (uint8_t b : req) EXPECT_EQ(ProcessFURUNO(b, &r, 0), 0);  // a request stores nothing
  EXPECT_NE(console.text().find(">>FRN_DATA_REQUEST"), std::string::npos);
}

TEST_F(FurunoCodec, RecordCompletesWithAllFourMessagesOnly) {
  Bytes pos = furunoFrame(0xE0, positionData(21300000, 83820000, 100, 500, 900, 7));
  EXPECT_EQ(decode(cat({pos, timeFrame()}), &record), 0);
  EXPECT_EQ(decode(satelliteFrame(12), &record), 0);
  EXPECT_EQ(decode(qualityFrame(), &record), 1);
  EXPECT_EQ(decode(cat({pos, timeFrame(), satelliteFrame(12)}), &record), 0);
  EXPECT_EQ(decode(qualityFrame(), &record), 1);
  const FurunoFix& f = furuno(record);
  EXPECT_EQ(f.satellitesInView, 12);
  EXPECT_EQ(f.satellites[3].number, 4);
  EXPECT_EQ(f.satellites[3].azimuth.get(), 273);
  EXPECT_EQ(f.satellites[3].elevation, 45);
  EXPECT_EQ(f.satByte194, 0x91);
  EXPECT_EQ(f.satByte195, 0x92);
  EXPECT_EQ(f.quality1.get(), 12);
  EXPECT_EQ(f.quality2.get(), 34);
  EXPECT_EQ(f.quality11, 5);
  EXPECT_EQ(f.qualityByte14, 0x82);
}

TEST_F(FurunoCodec, SatelliteCountAbove32StoresNothing) {
  Bytes s = satelliteFrame(33);
  testing_board::ConsoleCapture console;
  EXPECT_EQ(decode(s, &record), 0);
  EXPECT_EQ(furuno(record).satId, 0);
  EXPECT_NE(console.text().find("num_of_sat is larger than 32 : 33"), std::string::npos);
}

TEST_F(FurunoCodec, ProbeWantsTwoValidFramesInOneBlockAndStartsFresh) {
  Bytes t = timeFrame();
  // An empty block is a read that gave nothing for a second.
  port.reads = {Bytes(t.begin(), t.begin() + 6), {}, Bytes(t.begin() + 6, t.end()), {}, t, {}, cat({t, qualityFrame()})};
  EXPECT_EQ(FurunoProbe(1, FakePort::read, FakePort::write), 0);  // half a frame, then silence
  EXPECT_EQ(FurunoProbe(1, FakePort::read, FakePort::write), 0);  // the other half alone is no frame
  EXPECT_EQ(FurunoProbe(1, FakePort::read, FakePort::write), 0);  // one frame is not enough
  EXPECT_EQ(FurunoProbe(1, FakePort::read, FakePort::write), 1);
  EXPECT_EQ(FurunoProbe(1, FakePort::read, FakePort::write), 0);  // silence
  // A burst that comes a few bytes per read is read on until its frames are complete.
  Bytes burst = cat({t, qualityFrame()});
  for (size_t i = 0; i < burst.size(); i += 8) port.reads.push_back(Bytes(burst.begin() + i, burst.begin() + std::min(i + 8, burst.size())));
  port.readCalls = 0;
  EXPECT_EQ(FurunoProbe(1, FakePort::read, FakePort::write), 1);
  EXPECT_EQ(port.readCalls, static_cast<int>((burst.size() + 7) / 8));
  // Endless bytes without frames: the probe gives up after a block's worth.
  port.reads.clear();
  for (int i = 0; i < 100; ++i) port.reads.push_back(Bytes(100, 0x55));
  EXPECT_EQ(FurunoProbe(1, FakePort::read, FakePort::write), 0);
  EXPECT_LE(port.reads.size(), 100u - 40u);
  EXPECT_TRUE(port.writes.empty());
}

TEST_F(FurunoCodec, UbloxOutputIsNotTakenForAFurunoReceiver) {
  // A u-blox frame whose bytes contain one run that passes the Furuno frame test.
  Bytes run = furunoFrame(0xE1, {0x01, 0x02});
  Bytes payload = cat({{0x10, 0x20}, run, {0x30, 0x40}});
  Bytes block = ubxFrame(0x01, 0x21, payload);
  port.reads = {block};
  EXPECT_EQ(FurunoProbe(1, FakePort::read, FakePort::write), 0);
}

TEST_F(FurunoCodec, ConfigurationWritesBothCommandsAndAShortWriteFails) {
  EXPECT_EQ(FurunoConfig(1, FakePort::read, FakePort::write), 1);
  ASSERT_EQ(port.writes.size(), 2u);
  EXPECT_EQ(port.writes[0], Bytes(frn::kCmdA3, frn::kCmdA3 + 5));
  EXPECT_EQ(port.writes[1], Bytes(frn::kCmdA2, frn::kCmdA2 + 19));
  EXPECT_EQ(MakeSum(frn::kCmdA3, 3), frn::kCmdA3[3]);
  EXPECT_EQ(MakeSum(frn::kCmdA2, 17), frn::kCmdA2[17]);
  EXPECT_EQ(port.readCalls, 0);

  FakePort shortPort;
  shortPort.shortWriteAt = 1;
  FakePort::current() = &shortPort;
  testing_board::ConsoleCapture console;
  EXPECT_EQ(FurunoConfig(1, FakePort::read, FakePort::write), 0);
  EXPECT_NE(console.text().find("failed to WriteComPort()n"), std::string::npos);
}

TEST_F(FurunoCodec, EncodeBuildsACommandFrameOnlyForKnownCommands) {
  uint8_t out[8] = {};
  const uint8_t good[2] = {0xC0, 0xA2};
  EXPECT_EQ(FurunoEncode(out, sizeof out, good), 5);
  EXPECT_EQ(Bytes(out, out + 5), (Bytes{0xC0, 0xA2, 0x87, 0xC0 ^ 0xA2 ^ 0x87, 0xCA}));
  const uint8_t bad[2] = {0xC0, 0xA5};
  uint8_t untouched[8] = {};
  EXPECT_EQ(FurunoEncode(untouched, sizeof untouched, bad), 0);
  EXPECT_EQ(untouched[0], 0);
  EXPECT_EQ(FurunoEncode(out, 4, good), 0);
}

TEST_F(FurunoCodec, OverlongFrameIsDroppedAtTheBufferEnd) {
  testing_board::ConsoleCapture console;
  EXPECT_EQ(ProcessFURUNO(0xE0, &record, 0), 0);
  for (size_t i = 1; i < frn::kFrameBufferSize; ++i) ProcessFURUNO(0x81, &record, 0);
  EXPECT_NE(console.text().find("m_wIndex 0"), std::string::npos);
  EXPECT_EQ(decode(timeFrame(), &record), 0);
  EXPECT_EQ(furuno(record).timeId, 0xE1);
}
