// The GPS track of a recording as the export formats see it: one point per second of capture,
// from the first frame of that second that carries a valid position.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recording.h"

namespace vdr {

struct TrackPoint {
  size_t frame;          // index of the frame in the recording
  int64_t captureMs;     // capture time of that frame (local time read as UTC), in milliseconds
  bool valid;            // the frame has a position
  double lat, lon;       // decimal degrees
  int altitude;          // metres
  unsigned speed;        // km/h
  unsigned course;       // degrees
  std::string utc;       // "YYYY-MM-DDThh:mm:ssZ" from the receiver's date and time, or empty
};

// One point per capture second (invalid ones included), in order. Comment blocks are read for
// the receiver's UTC time when the recording was read with them.
std::vector<TrackPoint> trackOf(const Recording& r);
// "35.12345N 139.12345E"
std::string positionText(double lat, double lon);

}  // namespace vdr
