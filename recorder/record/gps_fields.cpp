#include "record/gps_fields.h"

namespace {
constexpr int32_t kUnitsPerDegree = 10000000;
}

double GpsDegreesMinutes(int32_t angle) {
  int32_t degrees = angle / kUnitsPerDegree;  // truncated toward zero
  int32_t rest = angle - degrees * kUnitsPerDegree;
  return degrees * 100.0 + static_cast<double>(rest * 60) / kUnitsPerDegree;
}

bool GpsFrameFieldsOf(const GpsFixRecord& r, int32_t protocol, GpsFrameFields* out) {
  if (protocol == GPS_PROTO_UBX) {
    uint8_t fix = ubxfix::gpsFix(r);
    out->valid = (fix == 2 || fix == 3) ? 1 : 0;
    out->latitude = GpsDegreesMinutes(ubxfix::lat(r));
    out->longitude = GpsDegreesMinutes(ubxfix::lon(r));
    out->speed = static_cast<uint32_t>(static_cast<uint64_t>(ubxfix::gSpeed(r)) * 3600 / 100000);  // cm/s to km/h
    out->altitude = ubxfix::hMSL(r) / 1000;                                                         // mm to m
    out->course = ubxfix::heading(r) / 100000;                                                      // 1e-5 degree
    out->year = ubxfix::utcYear(r);
    out->month = ubxfix::utcByte(r, ubxfix::timeutc::month);
    out->day = ubxfix::utcByte(r, ubxfix::timeutc::day);
    out->hour = ubxfix::utcByte(r, ubxfix::timeutc::hour);
    out->minute = ubxfix::utcByte(r, ubxfix::timeutc::min);
    out->second = ubxfix::utcByte(r, ubxfix::timeutc::sec);
    return true;
  }
  if (protocol == GPS_PROTO_FURUNO) {
    const FurunoFix& f = furuno(r);
    out->valid = f.posMode & 1;
    out->latitude = GpsDegreesMinutes(f.latitude.get());
    out->longitude = GpsDegreesMinutes(f.longitude.get());
    out->speed = static_cast<uint32_t>(f.speed.get());
    out->altitude = f.altitude.get();
    out->course = f.course.get();
    out->year = static_cast<uint16_t>(f.year + 2000);
    out->month = f.month;
    out->day = f.day;
    out->hour = f.hour;
    out->minute = f.minute;
    out->second = f.second;
    return true;
  }
  return false;
}
