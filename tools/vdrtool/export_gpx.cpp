#include <cstdio>

#include "export_format.h"
#include "gps_track.h"
#include "recording.h"

namespace vdr {

namespace {

// Text as XML character data.
std::string xmlText(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

// One track per recording with a point per second that has a position; the time is the
// receiver's UTC time when the frames carry it, else the capture time (which the recorder keeps
// in local time) without a zone.
int exportGpx(const std::vector<std::string>& bases, const std::string& file) {
  FILE* out = fopen(file.c_str(), "w");
  if (!out) {
    fprintf(stderr, "vdrtool: %s: cannot write\n", file.c_str());
    return 1;
  }
  fprintf(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\" creator=\"vdrtool\" "
               "xmlns=\"http://www.topografix.com/GPX/1/1\">\n");
  size_t points = 0, tracks = 0;
  for (const std::string& base : bases) {
    Recording r = readRecording(base, true);
    std::vector<TrackPoint> track = trackOf(r);
    fprintf(out, " <trk><name>%s</name><trkseg>\n", xmlText(r.name).c_str());
    ++tracks;
    for (const TrackPoint& p : track) {
      if (!p.valid) continue;
      std::string t = p.utc;
      if (t.empty()) {
        t = frameTimeText(r.frames[p.frame].entry).substr(0, 19);
        t[10] = 'T';
      }
      fprintf(out, "  <trkpt lat=\"%.7f\" lon=\"%.7f\"><ele>%d</ele><time>%s</time></trkpt>\n", p.lat, p.lon,
              p.altitude, t.c_str());
      ++points;
    }
    fprintf(out, " </trkseg></trk>\n");
  }
  fprintf(out, "</gpx>\n");
  if (fclose(out) != 0) {
    fprintf(stderr, "vdrtool: %s: cannot write\n", file.c_str());
    return 1;
  }
  printf("%s: %zu tracks, %zu points\n", file.c_str(), tracks, points);
  return 0;
}

}  // namespace vdr
