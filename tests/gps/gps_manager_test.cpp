#include "gps/gps_manager.h"

#include <gtest/gtest.h>

#include "fake_port.h"
#include "gps/furuno_codec.h"
#include "gps/nmea_codec.h"
#include "gps/ubx_codec.h"
#include "support/test_board.h"

using namespace gpstest;

namespace {

class GpsManager : public ::testing::Test {
 protected:
  void SetUp() override {
    fastClock();
    UbxResetForTest();
    FurunoResetForTest();
    FakePort::current() = &port;
  }
  FakePort port;
  GpsMgrContext ctx;
};

}  // namespace

TEST_F(GpsManager, TableRowsAreIndexedByTheirIds) {
  for (int i = 0; i < GPS_PROTOCOL_COUNT; ++i) EXPECT_EQ(Manager[i].id, i);
  EXPECT_STREQ(Manager[0].name, "UBX");
  EXPECT_STREQ(Manager[3].name, "GARMIN");
  EXPECT_EQ(Manager[3].Decode, nullptr);
  EXPECT_EQ(Manager[2].Probe, nullptr);
  EXPECT_EQ(Manager[2].Config, nullptr);
}

TEST_F(GpsManager, IdsAbove3AreRefused) {
  char name[GPS_PROTOCOL_NAME_SIZE] = "x";
  EXPECT_EQ(MgrSetProtocol(&ctx, 4), -1);
  EXPECT_EQ(MgrGetProtocol(&ctx), 0);
  EXPECT_EQ(MgrInit(&ctx, nullptr, 7, 0), -1);
  EXPECT_EQ(MgrQuarryProtocol(&ctx, 4, name), -1);
  EXPECT_STREQ(name, "x");
  EXPECT_EQ(MgrQuarryProtocol(&ctx, 2, name), 0);
  EXPECT_STREQ(name, "NMEA");
  ctx.protocol = 9;
  EXPECT_EQ(MgrSetSpeedUnit(&ctx, 1), -1);
  uint8_t b[4] = {0xB5, 0x62, 1, 2};
  GpsFixRecord r{};
  EXPECT_EQ(MgrDecode(&ctx, b, 4, &r, 0), 0);
  EXPECT_EQ(MgrEncode(&ctx, b, 4, &r), 0);
}

TEST_F(GpsManager, ProbeUsesTheGivenIdAndStoresItOnlyOnSuccess) {
  testing_board::ConsoleCapture console;
  EXPECT_EQ(MgrSetProtocol(&ctx, 0), 0);
  EXPECT_EQ(MgrProbe(&ctx, 1, 1, FakePort::read, FakePort::write), 0);  // the Furuno probe reads once
  EXPECT_EQ(port.readCalls, 1);
  EXPECT_TRUE(port.writes.empty());  // not the UBX probe, which writes a poll
  EXPECT_EQ(MgrGetProtocol(&ctx), 0);
  Bytes two = cat({furunoFrame(0xE1, {1, 2}), furunoFrame(0xE3, {3})});
  port.reads = {two};
  EXPECT_EQ(MgrProbe(&ctx, 1, 1, FakePort::read, FakePort::write), 1);
  EXPECT_EQ(MgrGetProtocol(&ctx), 1);
  EXPECT_NE(console.text().find(">>> FURUNO GPS detected <<<"), std::string::npos);
  // NMEA and Garmin have no probe and no configuration: never recognised.
  EXPECT_EQ(MgrProbe(&ctx, 1, 2, FakePort::read, FakePort::write), 0);
  EXPECT_EQ(MgrConfig(&ctx, 1, 2, FakePort::read, FakePort::write), 0);
  EXPECT_EQ(MgrConfig(&ctx, 1, 3, FakePort::read, FakePort::write), 0);
  EXPECT_EQ(MgrGetProtocol(&ctx), 1);
}

TEST_F(GpsManager, ConfigLeavesTheContextAlone) {
  EXPECT_EQ(MgrConfig(&ctx, 1, 1, FakePort::read, FakePort::write), 1);
  EXPECT_EQ(MgrGetProtocol(&ctx), 0);
  EXPECT_EQ(port.writes.size(), 2u);
}

TEST_F(GpsManager, DecodeWithGarminTouchesNothing) {
  EXPECT_EQ(MgrInit(&ctx, nullptr, 3, 0), 0);
  GpsFixRecord r{};
  Bytes t = furunoFrame(0xE1, {1, 2, 3});
  EXPECT_EQ(MgrDecode(&ctx, t.data(), int(t.size()), &r, 0), 0);
  for (uint8_t b : r.bytes) ASSERT_EQ(b, 0);
}

TEST_F(GpsManager, InitSetsProtocolAndSpeedUnitAndPassesTheInitResult) {
  testing_board::ConsoleCapture console;
  EXPECT_EQ(MgrInit(&ctx, nullptr, 1, 5), 1);
  EXPECT_EQ(ctx.protocol, 1);
  EXPECT_EQ(ctx.speedUnit, 1);
  EXPECT_EQ(MgrInit(&ctx, nullptr, 0, 0), 1);
  EXPECT_EQ(ctx.speedUnit, 0);
  EXPECT_NE(console.text().find("MgrSetProtocol : 1"), std::string::npos);
  EXPECT_NE(console.text().find("FurunoInit("), std::string::npos);
}

TEST_F(GpsManager, EncodeGivesOneWhenTheEncoderWroteSomething) {
  EXPECT_EQ(MgrInit(&ctx, nullptr, 1, 0), 1);
  uint8_t out[8];
  const uint8_t request[2] = {0xC0, 0xA1};
  EXPECT_EQ(MgrEncode(&ctx, out, sizeof out, request), 1);
  const uint8_t wrong[2] = {0xC1, 0xA1};
  EXPECT_EQ(MgrEncode(&ctx, out, sizeof out, wrong), 0);
  EXPECT_EQ(MgrInit(&ctx, nullptr, 0, 0), 1);
  EXPECT_EQ(MgrEncode(&ctx, out, sizeof out, request), 0);  // UBX has no encoder
}

TEST_F(GpsManager, SpeedUnitFiveIsStoredAndHandedOnAsOne) {
  EXPECT_EQ(MgrInit(&ctx, nullptr, 2, 0), 0);  // the NMEA decoder's start gives 0
  EXPECT_EQ(MgrSetSpeedUnit(&ctx, 5), 0);
  EXPECT_EQ(ctx.speedUnit, 1);
  EXPECT_EQ(NmeaDecoder().SpeedUnit, 1);
  EXPECT_EQ(MgrSetSpeedUnit(&ctx, 0), 0);
  EXPECT_EQ(NmeaDecoder().SpeedUnit, 0);
}
