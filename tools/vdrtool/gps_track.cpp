#include "gps_track.h"

#include <cmath>
#include <cstdio>

namespace vdr {

namespace {

int64_t captureMs(const vr::FrameIndexEntry& e) { return entrySeconds(e) * 1000 + e.millisecond.get(); }

// The receiver's UTC date and time of a frame, when its comment block holds a plausible one.
std::string utcText(const Frame& f) {
  if (!f.commentRead) return "";
  const vr::FrameComment& c = f.comment;
  unsigned year = c.gpsYear.get();
  if (year < 2000 || year > 2099 || c.gpsMonth < 1 || c.gpsMonth > 12 || c.gpsDay < 1 || c.gpsDay > 31 ||
      c.gpsHour > 23 || c.gpsMinute > 59 || c.gpsSecond > 60) {
    return "";
  }
  char buf[32];
  snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02uZ", year, c.gpsMonth, c.gpsDay, c.gpsHour, c.gpsMinute,
           c.gpsSecond);
  return buf;
}

}  // namespace

std::vector<TrackPoint> trackOf(const Recording& r) {
  std::vector<TrackPoint> points;
  int64_t lastSecond = INT64_MIN;
  for (size_t i = 0; i < r.frames.size(); ++i) {
    const Frame& f = r.frames[i];
    const vr::FrameIndexEntry& e = f.entry;
    int64_t second = entrySeconds(e);
    bool valid = e.gpsValid != 0;
    if (second == lastSecond) {
      // A later frame of the same second may bring the first position of that second.
      TrackPoint& p = points.back();
      if (p.valid || !valid) continue;
      points.pop_back();
    }
    lastSecond = second;
    TrackPoint p{i, captureMs(e), valid, toDegrees(e.latitude.get()), toDegrees(e.longitude.get()),
                 e.altitude.get(), e.speed.get(), e.course.get(), valid ? utcText(f) : ""};
    if (!std::isfinite(p.lat) || !std::isfinite(p.lon) || std::fabs(p.lat) > 90 || std::fabs(p.lon) > 180) {
      p.valid = false;  // never write an impossible position
    }
    points.push_back(p);
  }
  return points;
}

std::string positionText(double lat, double lon) {
  char buf[48];
  snprintf(buf, sizeof buf, "%.5f%c %.5f%c", std::fabs(lat), lat < 0 ? 'S' : 'N', std::fabs(lon), lon < 0 ? 'W' : 'E');
  return buf;
}

}  // namespace vdr
