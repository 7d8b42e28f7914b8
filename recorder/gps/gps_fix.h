// The GPS fix record: the 672-byte block that the active decoder fills and that travels, as a
// heap copy, in every MSG_GPS_DATA message. Its layout depends on the protocol id sent beside it.
#pragma once

#include <cstddef>
#include <cstdint>

enum : int32_t { GPS_PROTO_UBX = 0, GPS_PROTO_FURUNO = 1, GPS_PROTO_NMEA = 2, GPS_PROTO_GARMIN = 3 };

constexpr size_t GPS_FIX_RECORD_SIZE = 672;

struct GpsFixRecord {
  uint8_t bytes[GPS_FIX_RECORD_SIZE];
};
static_assert(sizeof(GpsFixRecord) == GPS_FIX_RECORD_SIZE);
