// The per-frame metadata: time matching, the frame index entry and the frame comment block.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "config/settings.h"
#include "record/frame_comment.h"
#include "record/frame_index.h"
#include "support/test_board.h"

namespace {

timeval tv(long s, long us) {
  timeval t;
  t.tv_sec = s;
  t.tv_usec = us;
  return t;
}

TEST(DiffMs, MillisecondsFromFirstToSecondTruncatedAndSaturated) {
  EXPECT_EQ(DiffMs(tv(100, 900000), tv(101, 100000)), 200);
  EXPECT_EQ(DiffMs(tv(101, 100000), tv(100, 900000)), -200);
  EXPECT_EQ(DiffMs(tv(0, 0), tv(3000000, 0)), 2147483000);
  EXPECT_EQ(DiffMs(tv(3000000, 0), tv(0, 0)), -2147483000);
  EXPECT_EQ(DiffMs(tv(5, 0), tv(5, 1999)), 1);    // truncation toward zero
  EXPECT_EQ(DiffMs(tv(5, 1999), tv(5, 0)), -1);
  EXPECT_EQ(DiffMs(tv(0, 0), tv(2147482, 999999)), 2147482999);  // the largest unsaturated value
  EXPECT_EQ(DiffMs(tv(0, 0), tv(2147483, 0)), 2147483000);
}

// A UBX fix record as the decoder leaves it: frames stored whole in their slots.
GpsFixRecord ubxFix(int32_t lat, int32_t lon, int32_t hMSL, uint32_t gSpeed, int32_t heading, uint8_t gpsFix) {
  GpsFixRecord r{};
  auto frame = [&r](size_t slot, uint8_t id, uint16_t length) {
    uint8_t* p = r.bytes + slot;
    p[0] = 0xB5, p[1] = 0x62, p[2] = 0x01, p[3] = id;
    le::put16(p + 4, length);
  };
  frame(ubxfix::kPosllh, 0x02, 28);
  le::put32(ubxfix::payload(r, ubxfix::kPosllh) + ubxfix::posllh::lat, static_cast<uint32_t>(lat));
  le::put32(ubxfix::payload(r, ubxfix::kPosllh) + ubxfix::posllh::lon, static_cast<uint32_t>(lon));
  le::put32(ubxfix::payload(r, ubxfix::kPosllh) + ubxfix::posllh::hMSL, static_cast<uint32_t>(hMSL));
  frame(ubxfix::kStatus, 0x03, 16);
  ubxfix::payload(r, ubxfix::kStatus)[ubxfix::status::gpsFix] = gpsFix;
  frame(ubxfix::kVelned, 0x12, 36);
  le::put32(ubxfix::payload(r, ubxfix::kVelned) + ubxfix::velned::gSpeed, gSpeed);
  le::put32(ubxfix::payload(r, ubxfix::kVelned) + ubxfix::velned::heading, static_cast<uint32_t>(heading));
  frame(ubxfix::kTimeutc, 0x21, 20);
  uint8_t* t = ubxfix::payload(r, ubxfix::kTimeutc);
  le::put16(t + ubxfix::timeutc::year, 2011);
  t[ubxfix::timeutc::month] = 3, t[ubxfix::timeutc::day] = 5, t[ubxfix::timeutc::hour] = 14;
  t[ubxfix::timeutc::min] = 7, t[ubxfix::timeutc::sec] = 9;
  return r;
}

GpsFixRecord furunoFix() {
  GpsFixRecord r{};
  FurunoFix& f = furuno(r);
  f.posId = 0xE0;
  f.posMode = 0x03;
  f.latitude.set(356812345);    // 35.6812345 N
  f.longitude.set(-1397654321);  // 139.7654321 W
  f.altitude.set(70000 + 123);  // only the low 16 bits reach the entry
  f.speed.set(0x10000 + 88);
  f.course.set(359);
  f.timeId = 0xE1;
  f.year = 12, f.month = 7, f.day = 31, f.hour = 23, f.minute = 59, f.second = 58;
  return r;
}

struct Stream : ::testing::Test {
  VIDEO_STREAM vs{};
  testing_board::TestBoard board;
};

TEST_F(Stream, IndexGpsFieldsFromUbxFix) {
  GpsFixRecord r = ubxFix(-338765432, 1512093000, 45678, 2778, 27000000, 3);
  SetFrameIdxGps(&vs, &r, GPS_PROTO_UBX);
  const auto& e = vs.entry;
  EXPECT_EQ(e.gpsValid, 1);
  EXPECT_NEAR(e.latitude.get(), -3352.592592, 1e-9);
  EXPECT_NEAR(e.longitude.get(), 15112.558, 1e-9);
  EXPECT_EQ(e.speed.get(), 100);
  EXPECT_EQ(e.altitude.get(), 45);
  EXPECT_EQ(e.course.get(), 270);
  // Little endian on the wire: the speed's low byte first.
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&e);
  EXPECT_EQ(raw[54], 100);
  EXPECT_EQ(raw[55], 0);

  // Fix kinds other than 2-D and 3-D are not valid; negative altitudes truncate toward zero.
  r = ubxFix(10000000, 10000000, -1999, 0, -17999999, 4);
  SetFrameIdxGps(&vs, &r, GPS_PROTO_UBX);
  EXPECT_EQ(e.gpsValid, 0);
  EXPECT_EQ(e.altitude.get(), -1);
  EXPECT_EQ(static_cast<int16_t>(e.course.get()), -179);
  EXPECT_DOUBLE_EQ(e.latitude.get(), 100.0);
}

TEST_F(Stream, IndexGpsFieldsFromFurunoFix) {
  GpsFixRecord r = furunoFix();
  SetFrameIdxGps(&vs, &r, GPS_PROTO_FURUNO);
  const auto& e = vs.entry;
  EXPECT_EQ(e.gpsValid, 1);
  EXPECT_NEAR(e.latitude.get(), 3540.87407, 1e-9);
  EXPECT_NEAR(e.longitude.get(), -13945.925926, 1e-9);
  EXPECT_EQ(e.speed.get(), 88);
  EXPECT_EQ(e.altitude.get(), static_cast<int16_t>(70123 & 0xFFFF));
  EXPECT_EQ(e.course.get(), 359);
  // Offsets 60 and 61 are never written.
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&e);
  EXPECT_EQ(raw[60], 0);
  EXPECT_EQ(raw[61], 0);
}

TEST_F(Stream, IndexFieldsKeepTheirValuesUntilTheirFillerRuns) {
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&vs.entry);
  for (int i = 37; i <= 59; ++i) EXPECT_EQ(raw[i], 0) << "no GPS applied yet, offset " << i;

  SetFrameIdxGsnr(&vs, -5, 300, 0x12345);  // only the low 16 bits of each value
  SetFrameIdxTime(&vs, static_cast<uint32_t>(testing_board::kStartSecond), 999999, 3, 2);
  EXPECT_EQ(vs.entry.gx.get(), -5);
  EXPECT_EQ(vs.entry.gy.get(), 300);
  EXPECT_EQ(vs.entry.gz.get(), 0x2345);
  EXPECT_EQ(vs.entry.millisecond.get(), 999);
  EXPECT_EQ(vs.entry.one29, 1);
  EXPECT_EQ(vs.entry.kind, 3);
  EXPECT_EQ(vs.entry.triggerType.get(), 2u);

  time_t t = static_cast<time_t>(testing_board::kStartSecond);
  struct tm tm;
  localtime_r(&t, &tm);
  EXPECT_EQ(vs.entry.year.get(), tm.tm_year + 1900);
  EXPECT_EQ(vs.entry.month.get(), tm.tm_mon + 1);
  EXPECT_EQ(vs.entry.weekday.get(), tm.tm_wday);
  EXPECT_EQ(vs.entry.day.get(), tm.tm_mday);
  EXPECT_EQ(vs.entry.hour.get(), tm.tm_hour);

  SetFrameIdxTime(&vs, static_cast<uint32_t>(testing_board::kStartSecond) + 1, 0, 1, 0);
  EXPECT_EQ(vs.entry.gx.get(), -5) << "G values stay until the next G value";
}

ENC_FRAME frameHeader(uint32_t second, uint8_t number, uint8_t preMark) {
  ENC_FRAME f{};
  f.seconds.set(second);
  f.frameNumber = number;
  f.preMark = preMark;
  return f;
}

TEST_F(Stream, CommentBlockFromUbxExample) {
  FRAME_COMMENT_AREA& area = vs.comment;
  createExifHeader(&area);
  EXPECT_EQ(area.length, 65);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&area.block);
  const uint8_t head[6] = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x3D};
  EXPECT_EQ(memcmp(b, head, 6), 0);
  for (int i : {18, 27, 35, 43, 45, 46, 58, 60, 64}) EXPECT_EQ(b[i], 0) << "no fix yet, offset " << i;

  GpsFixRecord r = ubxFix(-338765432, 1512093000, 45678, 2778, 27000000, 2);
  createExifGps(&area, &r, GPS_PROTO_UBX, -40);
  createExifGsnr(&area, 12, -34, 1024);
  const vr::FrameComment& c = area.block;
  EXPECT_EQ(c.gpsValid, 1);
  EXPECT_NEAR(c.latitude.get(), -3352.592592, 1e-9);
  EXPECT_NEAR(c.longitude.get(), 15112.558, 1e-9);
  EXPECT_EQ(c.speed, 100);
  EXPECT_EQ(c.course.get(), 270);
  EXPECT_EQ(c.altitude.get(), 45);
  EXPECT_EQ(c.gpsYear.get(), 2011);
  EXPECT_EQ(c.gpsMonth, 3);
  EXPECT_EQ(c.gpsDay, 5);
  EXPECT_EQ(c.gpsHour, 14);
  EXPECT_EQ(c.gpsMinute, 7);
  EXPECT_EQ(c.gpsSecond, 9);
  EXPECT_EQ(b[58], 2011 & 0xFF);  // year little endian
  EXPECT_EQ(b[59], 2011 >> 8);
  EXPECT_EQ(c.gx.get(), 12);
  EXPECT_EQ(c.gy.get(), -34);
  EXPECT_EQ(c.gz.get(), 1024);
  // The latitude as IEEE-754 binary64, least significant byte first.
  double lat;
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | b[27 + i];
  memcpy(&lat, &bits, sizeof lat);
  EXPECT_NEAR(lat, -3352.592592, 1e-9);
  for (int i : {13, 14, 15, 16, 48, 49, 57}) EXPECT_EQ(b[i], 0) << "reserved offset " << i;
}

TEST_F(Stream, CommentBlockFromFurunoFix) {
  GpsFixRecord r = furunoFix();
  createExifGps(&vs.comment, &r, GPS_PROTO_FURUNO, 0);
  const vr::FrameComment& c = vs.comment.block;
  EXPECT_EQ(c.gpsValid, 1);
  EXPECT_EQ(c.speed, 88);  // the low 8 bits
  EXPECT_EQ(c.gpsYear.get(), 2012);
  EXPECT_EQ(c.gpsSecond, 58);
}

TEST_F(Stream, CommentBlockCarriesTheSettingsTheFrameWasEncodedUnder) {
  RecorderSettings s;
  SetDefaultParameter(&s);
  s.PRERECINT1 = 15, s.POSTRECINT1 = 5, s.PREFIELD1 = 2, s.POSTFIELD1 = 4;
  s.PRERECTIME1 = 15, s.POSTRECTIME1 = 5, s.PASSWORD = 0x12345678, s.RECMOD = 2;
  auto second = static_cast<uint32_t>(testing_board::kStartSecond);

  ENC_FRAME pre = frameHeader(second, 7, ENC_FRAME_PRE_SETTINGS);
  createExifFormatImage(&vs.comment, &pre, &s, 4, 2);
  const vr::FrameComment& c = vs.comment.block;
  EXPECT_EQ(c.field, 2);
  EXPECT_EQ(c.interval.get(), 15);
  EXPECT_EQ(c.frameNumber, 7);
  EXPECT_EQ(c.kind, 2);
  EXPECT_EQ(c.triggerType, 4);
  EXPECT_EQ(c.password.get(), 0x5678);
  EXPECT_EQ(c.recordSeconds.get(), 20);
  EXPECT_EQ(c.recMode, 2);

  ENC_FRAME post = frameHeader(second, 0, 0);
  createExifFormatImage(&vs.comment, &post, &s, 4, 3);
  EXPECT_EQ(c.field, 4);
  EXPECT_EQ(c.interval.get(), 5);
  EXPECT_EQ(c.kind, 3);

  time_t t = second;
  struct tm tm;
  localtime_r(&t, &tm);
  EXPECT_EQ(c.year, tm.tm_year + 1900 - 2000);
  EXPECT_EQ(c.month, tm.tm_mon + 1);
  EXPECT_EQ(c.second, tm.tm_sec);
}

class FrameLoss : public ::testing::Test {
 protected:
  void SetUp() override { ResetFrameStatistics(); }
  std::string log() { return board.readFile(FRAMELOSS_LOG_PATH); }
  // Frames at `perSecond` a second from `from` for `seconds` seconds.
  void steady(uint32_t from, int seconds, int perSecond) {
    for (int s = 0; s < seconds; ++s) {
      for (int f = 0; f < perSecond; ++f) CheckFrameLoss(from + s, 1000, 10);
    }
  }
  testing_board::TestBoard board;
  testing_board::ConsoleCapture console;
};

TEST_F(FrameLoss, SteadyRateLogsNothingAndAJumpLogsItsGap) {
  board.writeFile(FRAMELOSS_LOG_PATH, "");
  uint32_t t0 = static_cast<uint32_t>(testing_board::kStartSecond);
  steady(t0, 20, 10);
  EXPECT_EQ(log(), "");
  // Two seconds missing before t0 + 22.
  for (int f = 0; f < 10; ++f) CheckFrameLoss(t0 + 22, 1000, 10);
  std::string text = log();
  EXPECT_NE(text.find("diffSec:3"), std::string::npos) << text;
  EXPECT_NE(text.find("count:10, size:1000"), std::string::npos) << text;
}

TEST_F(FrameLoss, ShortSecondsAreLoggedButNotTheFirstThree) {
  board.writeFile(FRAMELOSS_LOG_PATH, "");
  uint32_t t0 = static_cast<uint32_t>(testing_board::kStartSecond);
  steady(t0, 3, 4);  // three short seconds while the encoder settles: not checked
  EXPECT_EQ(log(), "");
  steady(t0 + 3, 2, 4);
  EXPECT_NE(log().find("count:4"), std::string::npos) << log();
}

}  // namespace
