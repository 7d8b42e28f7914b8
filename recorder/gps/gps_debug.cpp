// Diagnostic aids of the GPS worker: a dump of a fix record and a direct clock setting. Neither
// is on the worker's path (the clock is set by the supervisor); both are kept for bench work.
#include <cinttypes>
#include <cstdio>

#include "core/le_field.h"
#include "core/trace.h"
#include "gps/gps_thread.h"
#include "gps/ubx_codec.h"
#include "gps/ubx_debug.h"
#include "platform/platform.h"

#define TAG "GPS_____"

void SyncTime(time_t gpsTime, time_t systemTime) {
  if (gpsTime <= systemTime) return;
  TRACE(TAG, "SysTime()... %lu -> %lu\n", static_cast<unsigned long>(systemTime), static_cast<unsigned long>(gpsTime));
  struct timeval tv = {gpsTime, 0};
  if (plat::settimeofday(&tv) != 0) TRACE(TAG, "Failed to settimeofday()");
}

namespace {

void dumpUbx(const GpsFixRecord& r) {
  static const size_t kSlots[] = {ubxfix::kPosllh, ubxfix::kStatus, ubxfix::kVelned, ubxfix::kTimeutc,
                                  ubxfix::kSvinfo};
  char line[512];
  for (size_t slot : kSlots) {
    if (ubx::describeNav(r.bytes + slot, line, sizeof line) > 0) TRACE(TAG, "%s", line);
  }
  // The channel blocks the slot really holds: never past its 400 bytes, whatever numCh says.
  const uint8_t* sv = r.bytes + ubxfix::kSvinfo;
  int channels = ubx::svinfoChannels(sv, ubxfix::kSvinfoSize - 2);
  for (int c = 0; c < channels; ++c) {
    const uint8_t* b = sv + ubxfix::kFrameHead + 8 + 12 * c;
    TRACE(TAG, "Sat %u, %u, %X, %X, %u, %d, %d, %d\n", b[0], b[1], b[2], b[3], b[4], static_cast<int8_t>(b[5]),
          static_cast<int16_t>(le::get16(b + 6)), static_cast<int32_t>(le::get32(b + 8)));
  }
}

}  // namespace

void DbgGPSData(const GpsFixRecord* record, int32_t protocol) {
  if (protocol == GPS_PROTO_UBX) {
    dumpUbx(*record);
  } else if (protocol == GPS_PROTO_FURUNO) {
    const FurunoFix& f = furuno(*record);
    TRACE(TAG, "%X, %d, %X, %ld, %ld, %ld, %d, %d, %d\n", f.posId, f.posMode, f.posStatus,
          static_cast<long>(f.latitude.get()), static_cast<long>(f.longitude.get()), static_cast<long>(f.altitude.get()),
          f.speed.get(), f.course.get(), f.satellitesUsed);
  }
}
