// The GPS values a recorded frame carries, taken from a fix record of either binary protocol.
// The frame index entry and the frame comment block store the same values at different widths.
#pragma once

#include <cstdint>

#include "gps/gps_fix.h"

struct GpsFrameFields {
  uint8_t valid;     // 1 when the receiver reports a position fix
  double latitude;   // ddmm.mmmm, negative in the south
  double longitude;  // dddmm.mmmm, negative in the west
  uint32_t speed;    // km/h (UBX) or the receiver's speed value (Furuno)
  int32_t altitude;  // metres (UBX) or the receiver's altitude value
  int32_t course;    // whole degrees (UBX) or the receiver's course value
  uint16_t year;     // UTC date and time as the receiver reports them
  uint8_t month, day, hour, minute, second;
};

// An angle in 1e-7 degree as degrees x 100 + minutes; the sign carries through.
double GpsDegreesMinutes(int32_t angle);
// False for a protocol without a binary fix layout (the fields are then left as they are).
bool GpsFrameFieldsOf(const GpsFixRecord& record, int32_t protocol, GpsFrameFields* out);
