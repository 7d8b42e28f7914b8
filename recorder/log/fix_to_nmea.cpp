#include "log/fix_to_nmea.h"

#include <cstdlib>

#include "core/le_field.h"

using nmeafix::GsvSatellite;
using nmeafix::NmeaFix;

namespace {

constexpr double kKmhPerKnot = 1.852;
constexpr int kMaxSatellites = nmeafix::kGsvMaxMessages * nmeafix::kGsvPerMessage;  // 36 entries

// u-blox NAV-SOL, NAV-DOP and NAV-SVINFO fields (offsets within the payload).
constexpr size_t kSolNumSV = 47;
constexpr size_t kDopHDOP = 12;
constexpr size_t kSvNumCh = 4;
constexpr size_t kSvChannels = 8;
constexpr size_t kSvChannelSize = 12;
constexpr size_t kChSvid = 1, kChCno = 4, kChElev = 5, kChAzim = 6;
constexpr size_t kSvMaxInSlot = (ubxfix::kSvinfoSize - ubxfix::kFrameHead - kSvChannels) / kSvChannelSize;  // 32

void setTimeAndPosition(NmeaFix& n, uint8_t hour, uint8_t minute, uint8_t second, int32_t lat, int32_t lon) {
  n.gga.hour = n.rmc.hour = hour;
  n.gga.minute = n.rmc.minute = minute;
  n.gga.second = n.rmc.second = second;
  n.gga.latitude.set(NmeaPosition(lat));
  n.rmc.latitude.set(NmeaPosition(lat));
  n.gga.ns = n.rmc.ns = NmeaHemisphere(lat, 'N', 'S');
  n.gga.longitude.set(NmeaPosition(lon));
  n.rmc.longitude.set(NmeaPosition(lon));
  n.gga.ew = n.rmc.ew = NmeaHemisphere(lon, 'E', 'W');
  n.rmc.variation = 0;
  n.rmc.variationDir = n.rmc.ew;
  n.rmc.encodedDir = 'E';
}

// The count, and no satellites of an earlier fix behind it: the last sentence of a cycle is
// written with all four entries, and those past the count must not name satellites that were
// in view a while ago.
void setSatelliteCount(NmeaFix& n, int count) {
  n.gsv.messages = static_cast<uint8_t>((count + 3) / 4);
  n.gsv.inView.set(static_cast<uint16_t>(count));
  for (int i = count; i < kMaxSatellites; ++i) n.gsv.satellite[i / 4][i % 4] = GsvSatellite{};
}

GsvSatellite& entry(NmeaFix& n, int i) { return n.gsv.satellite[i / 4][i % 4]; }

// The channels of the NAV-SVINFO slot that are really there: no more than its frame carries
// and the slot holds, whatever numCh says.
int svinfoChannels(const GpsFixRecord& ubx) {
  const uint8_t* slot = ubx.bytes + ubxfix::kSvinfo;
  const uint8_t* payload = slot + ubxfix::kFrameHead;
  size_t length = le::get16(slot + 4);
  size_t inFrame = length >= kSvChannels ? (length - kSvChannels) / kSvChannelSize : 0;
  size_t count = payload[kSvNumCh];
  if (count > inFrame) count = inFrame;
  if (count > kSvMaxInSlot) count = kSvMaxInSlot;
  return static_cast<int>(count);
}

}  // namespace

double NmeaPosition(int32_t value) {
  int32_t degrees = value / 10000000;
  double minutes = static_cast<double>(value - degrees * 10000000) * 60 / 10000000.0;
  double v = degrees * 100.0 + minutes;
  return v < 0 ? -v : v;
}

char NmeaHemisphere(int32_t value, char positive, char negative) { return value > 0 ? positive : negative; }

double NmeaKnotsFromCms(uint32_t gSpeed) {
  uint64_t kmh = static_cast<uint64_t>(gSpeed) * 3600 / 100000;  // whole km/h
  return static_cast<double>(kmh) / kKmhPerKnot;
}

int MakeNmeaFromUbx(GpsFixRecord* nmeaFix, const GpsFixRecord* ubx) {
  NmeaFix& n = nmeaRecords(*nmeaFix);
  const GpsFixRecord& u = *ubx;
  setTimeAndPosition(n, ubxfix::utcByte(u, ubxfix::timeutc::hour), ubxfix::utcByte(u, ubxfix::timeutc::min),
                     ubxfix::utcByte(u, ubxfix::timeutc::sec), ubxfix::lat(u), ubxfix::lon(u));
  bool fixed = ubxfix::gpsFix(u) == 2 || ubxfix::gpsFix(u) == 3;
  n.gga.quality = fixed ? 1 : 0;
  n.gga.satellites = ubxfix::payload(u, ubxfix::kSol)[kSolNumSV];
  n.gga.hdop.set(le::get16(ubxfix::payload(u, ubxfix::kDop) + kDopHDOP) * 0.01);
  n.gga.altitude.set(static_cast<double>(ubxfix::hMSL(u) / 1000));
  n.rmc.status = fixed ? 'A' : 'V';
  n.rmc.speedKnots.set(NmeaKnotsFromCms(ubxfix::gSpeed(u)));
  n.rmc.course.set(ubxfix::heading(u) / 100000.0);
  n.rmc.day = ubxfix::utcByte(u, ubxfix::timeutc::day);
  n.rmc.month = ubxfix::utcByte(u, ubxfix::timeutc::month);
  n.rmc.year.set(ubxfix::utcYear(u));

  int count = svinfoChannels(u);
  setSatelliteCount(n, count);
  const uint8_t* channel = ubxfix::payload(u, ubxfix::kSvinfo) + kSvChannels;
  for (int i = 0; i < count; ++i, channel += kSvChannelSize) {
    GsvSatellite& s = entry(n, i);
    s.prn.set(channel[kChSvid]);
    // The sentence's elevation has no sign: a satellite below the horizon is written at 0.
    int8_t elev = static_cast<int8_t>(channel[kChElev]);
    s.elevation.set(elev < 0 ? 0 : elev);
    s.azimuth.set(static_cast<int16_t>(le::get16(channel + kChAzim)));
    s.snr.set(channel[kChCno]);
  }
  return 0;
}

int MakeNmeaFromFuruno(GpsFixRecord* nmeaFix, const GpsFixRecord* furunoFix) {
  NmeaFix& n = nmeaRecords(*nmeaFix);
  const FurunoFix& f = furuno(*furunoFix);
  setTimeAndPosition(n, f.hour, f.minute, f.second, f.latitude.get(), f.longitude.get());
  bool valid = (f.posMode & 1) != 0;
  n.gga.quality = valid ? 1 : 0;
  n.gga.satellites = f.satellitesUsed;
  n.gga.hdop.set(f.quality1.get() * 0.1);
  n.gga.altitude.set(static_cast<double>(f.altitude.get()));
  n.rmc.status = valid ? 'A' : 'V';
  n.rmc.speedKnots.set(f.speed.get() / kKmhPerKnot);
  n.rmc.course.set(static_cast<double>(f.course.get()));
  n.rmc.day = f.day;
  n.rmc.month = f.month;
  n.rmc.year.set(static_cast<uint16_t>(f.year + 2000));

  // The record holds 32 satellites, whatever the count byte says.
  int count = f.satellitesInView;
  if (count > 32) count = 32;
  static_assert(32 <= kMaxSatellites);
  setSatelliteCount(n, count);
  for (int i = 0; i < count; ++i) {
    const FurunoSatellite& in = f.satellites[i];
    GsvSatellite& s = entry(n, i);
    s.prn.set(in.number);
    s.azimuth.set(static_cast<int16_t>(in.azimuth.get()));
    s.elevation.set(in.elevation);
    s.snr.set(static_cast<int16_t>((in.status >> 3) & 15));
  }
  return 0;
}
