// UBX and Furuno fixes turned into the NMEA layout that the travel log encodes.
#include <gtest/gtest.h>

#include <string>

#include "core/le_field.h"
#include "log/fix_to_nmea.h"

namespace {

uint8_t* payload(GpsFixRecord& r, size_t slot) { return ubxfix::payload(r, slot); }

// A UBX record as the decoder leaves it: each slot a whole frame with its length.
GpsFixRecord ubxFix(int32_t lat, int32_t lon, uint32_t gSpeed, int numCh) {
  GpsFixRecord r{};
  le::put32(payload(r, ubxfix::kPosllh) + ubxfix::posllh::lat, static_cast<uint32_t>(lat));
  le::put32(payload(r, ubxfix::kPosllh) + ubxfix::posllh::lon, static_cast<uint32_t>(lon));
  le::put32(payload(r, ubxfix::kPosllh) + ubxfix::posllh::hMSL, static_cast<uint32_t>(42999));
  payload(r, ubxfix::kStatus)[ubxfix::status::gpsFix] = 3;
  le::put32(payload(r, ubxfix::kVelned) + ubxfix::velned::gSpeed, gSpeed);
  le::put32(payload(r, ubxfix::kVelned) + ubxfix::velned::heading, static_cast<uint32_t>(27125000));
  uint8_t* t = payload(r, ubxfix::kTimeutc);
  le::put16(t + ubxfix::timeutc::year, 2026);
  t[ubxfix::timeutc::month] = 12;
  t[ubxfix::timeutc::day] = 7;
  t[ubxfix::timeutc::hour] = 13;
  t[ubxfix::timeutc::min] = 59;
  t[ubxfix::timeutc::sec] = 58;
  payload(r, ubxfix::kSol)[47] = 9;
  le::put16(payload(r, ubxfix::kDop) + 12, 125);
  le::put16(r.bytes + ubxfix::kSvinfo + 4, static_cast<uint16_t>(8 + 12 * numCh));
  uint8_t* sv = payload(r, ubxfix::kSvinfo);
  sv[4] = static_cast<uint8_t>(numCh);
  for (int i = 0; i < numCh && i < 32; ++i) {
    uint8_t* ch = sv + 8 + 12 * i;
    ch[1] = static_cast<uint8_t>(i + 1);           // svid
    ch[4] = static_cast<uint8_t>(30 + i);          // cno
    ch[5] = static_cast<uint8_t>(i == 2 ? -7 : 10 + i);  // elev, one below the horizon
    le::put16(ch + 6, static_cast<uint16_t>(100 + i));   // azim
  }
  return r;
}

TEST(FixToNmea, UbxPositionsInDegreesAndMinutesWithTheirHemispheres) {
  GpsFixRecord n{};
  GpsFixRecord u = ubxFix(-338688000, 1512093000, 1000, 9);
  ASSERT_EQ(MakeNmeaFromUbx(&n, &u), 0);
  const nmeafix::NmeaFix& f = nmeaRecords(n);
  EXPECT_NEAR(f.gga.latitude.get(), 3352.1280, 1e-9);
  EXPECT_EQ(f.gga.ns, 'S');
  EXPECT_NEAR(f.gga.longitude.get(), 15112.5580, 1e-9);
  EXPECT_EQ(f.gga.ew, 'E');
  EXPECT_NEAR(f.rmc.latitude.get(), 3352.1280, 1e-9);
  EXPECT_EQ(f.rmc.ns, 'S');
  EXPECT_EQ(f.rmc.variationDir, 'E');
  EXPECT_EQ(f.rmc.encodedDir, 'E');
  EXPECT_EQ(f.gga.hour, 13);
  EXPECT_EQ(f.rmc.second, 58);
  EXPECT_EQ(f.rmc.day, 7);
  EXPECT_EQ(f.rmc.month, 12);
  EXPECT_EQ(f.rmc.year.get(), 2026);
  EXPECT_EQ(f.gga.quality, 1);
  EXPECT_EQ(f.rmc.status, 'A');
  EXPECT_EQ(f.gga.satellites, 9);
  EXPECT_DOUBLE_EQ(f.gga.hdop.get(), 1.25);
  EXPECT_DOUBLE_EQ(f.gga.altitude.get(), 42.0);  // whole metres
  EXPECT_DOUBLE_EQ(f.rmc.course.get(), 271.25);
  EXPECT_EQ(f.gga.altitudeUnit, '\0');  // fields a receiver does not give are left alone
  // West and the equator: 0 counts as south and west.
  u = ubxFix(0, -1000000, 0, 0);
  MakeNmeaFromUbx(&n, &u);
  EXPECT_EQ(f.gga.ns, 'S');
  EXPECT_EQ(f.gga.ew, 'W');
  EXPECT_NEAR(f.gga.longitude.get(), 6.0, 1e-9);
  payload(u, ubxfix::kStatus)[ubxfix::status::gpsFix] = 5;  // time only
  MakeNmeaFromUbx(&n, &u);
  EXPECT_EQ(f.gga.quality, 0);
  EXPECT_EQ(f.rmc.status, 'V');
}

TEST(FixToNmea, GroundSpeedInWholeKmhThenKnots) {
  EXPECT_NEAR(NmeaKnotsFromCms(1000), 36 / 1.852, 1e-12);  // 19.438...
  EXPECT_NEAR(NmeaKnotsFromCms(99), 3 / 1.852, 1e-12);     // 3 km/h, 1.6198...
  EXPECT_NEAR(NmeaKnotsFromCms(27), 0.0, 1e-12);
  EXPECT_NEAR(NmeaKnotsFromCms(4000000000u), 144000000 / 1.852, 1e-3);  // no 32-bit wrap
  GpsFixRecord n{};
  GpsFixRecord u = ubxFix(1, 1, 1000, 0);
  MakeNmeaFromUbx(&n, &u);
  EXPECT_NEAR(nmeaRecords(n).rmc.speedKnots.get(), 19.438, 1e-3);
}

TEST(FixToNmea, UbxSatellitesBecomeGsvMessagesOfFour) {
  GpsFixRecord n{};
  GpsFixRecord u = ubxFix(1, 1, 0, 9);
  MakeNmeaFromUbx(&n, &u);
  const nmeafix::GsvRecord& g = nmeaRecords(n).gsv;
  EXPECT_EQ(g.messages, 3);
  EXPECT_EQ(g.inView.get(), 9);
  EXPECT_EQ(g.satellite[0][0].prn.get(), 1);
  EXPECT_EQ(g.satellite[0][0].snr.get(), 30);
  EXPECT_EQ(g.satellite[0][0].azimuth.get(), 100);
  EXPECT_EQ(g.satellite[0][2].elevation.get(), 0);  // below the horizon: 0
  EXPECT_EQ(g.satellite[2][0].prn.get(), 9);
  EXPECT_EQ(g.satellite[2][1].prn.get(), 0);  // the rest of the last message is empty
  // Fewer satellites later: none of the earlier ones stays behind.
  u = ubxFix(1, 1, 0, 5);
  MakeNmeaFromUbx(&n, &u);
  EXPECT_EQ(g.messages, 2);
  EXPECT_EQ(g.satellite[1][0].prn.get(), 5);
  EXPECT_EQ(g.satellite[1][1].prn.get(), 0);
  EXPECT_EQ(g.satellite[2][0].prn.get(), 0);
  u = ubxFix(1, 1, 0, 0);
  MakeNmeaFromUbx(&n, &u);
  EXPECT_EQ(g.messages, 0);
}

TEST(FixToNmea, AChannelCountBeyondTheFrameOrTheSlotIsCut) {
  GpsFixRecord n{};
  GpsFixRecord u = ubxFix(1, 1, 0, 40);  // the frame says 40, the slot holds 32
  MakeNmeaFromUbx(&n, &u);
  EXPECT_EQ(nmeaRecords(n).gsv.inView.get(), 32);
  EXPECT_EQ(nmeaRecords(n).gsv.messages, 8);
  u = ubxFix(1, 1, 0, 4);
  payload(u, ubxfix::kSvinfo)[4] = 255;  // numCh larger than the frame's own length
  MakeNmeaFromUbx(&n, &u);
  EXPECT_EQ(nmeaRecords(n).gsv.inView.get(), 4);
}

TEST(FixToNmea, FurunoFields) {
  GpsFixRecord r{};
  FurunoFix& f = furuno(r);
  f.posMode = 3;
  f.latitude.set(356000000);
  f.longitude.set(-1395000000);
  f.altitude.set(37);
  f.speed.set(36);
  f.course.set(271);
  f.satellitesUsed = 7;
  f.year = 26;
  f.month = 12;
  f.day = 7;
  f.hour = 14;
  f.minute = 0;
  f.second = 0;
  f.quality1.set(12);
  f.satellitesInView = 5;
  for (int i = 0; i < 5; ++i) {
    f.satellites[i].number = static_cast<uint8_t>(10 + i);
    f.satellites[i].azimuth.set(static_cast<uint16_t>(300 + i));
    f.satellites[i].elevation = static_cast<uint8_t>(40 + i);
    f.satellites[i].status = static_cast<uint8_t>((9 << 3) | 5);
  }
  GpsFixRecord n{};
  ASSERT_EQ(MakeNmeaFromFuruno(&n, &r), 0);
  const nmeafix::NmeaFix& x = nmeaRecords(n);
  EXPECT_NEAR(x.gga.latitude.get(), 3536.0, 1e-9);
  EXPECT_EQ(x.gga.ns, 'N');
  EXPECT_NEAR(x.gga.longitude.get(), 13930.0, 1e-9);
  EXPECT_EQ(x.gga.ew, 'W');
  EXPECT_EQ(x.gga.quality, 1);
  EXPECT_EQ(x.rmc.status, 'A');
  EXPECT_EQ(x.gga.satellites, 7);
  EXPECT_DOUBLE_EQ(x.gga.hdop.get(), 1.2000000000000002);
  EXPECT_DOUBLE_EQ(x.gga.altitude.get(), 37.0);
  EXPECT_NEAR(x.rmc.speedKnots.get(), 19.438, 1e-3);
  EXPECT_DOUBLE_EQ(x.rmc.course.get(), 271.0);
  EXPECT_EQ(x.rmc.year.get(), 2026);
  EXPECT_EQ(x.rmc.hour, 14);
  EXPECT_EQ(x.gsv.messages, 2);
  EXPECT_EQ(x.gsv.satellite[1][0].prn.get(), 14);
  EXPECT_EQ(x.gsv.satellite[1][0].azimuth.get(), 304);
  EXPECT_EQ(x.gsv.satellite[1][0].elevation.get(), 44);
  EXPECT_EQ(x.gsv.satellite[1][0].snr.get(), 9);
  f.posMode = 2;
  f.satellitesInView = 200;  // beyond the 32 the record holds
  MakeNmeaFromFuruno(&n, &r);
  EXPECT_EQ(x.rmc.status, 'V');
  EXPECT_EQ(x.gsv.inView.get(), 32);
}

}  // namespace
