#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include "export_format.h"
#include "gps_track.h"
#include "recording.h"

namespace vdr {

namespace {

std::string srtTime(int64_t ms) {
  if (ms < 0) ms = 0;
  char buf[32];
  snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld,%03lld", static_cast<long long>(ms / 3600000),
           static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
           static_cast<long long>(ms % 1000));
  return buf;
}

bool writeSrt(const Recording& r, const std::string& path) {
  FILE* out = fopen(path.c_str(), "w");
  if (!out) return false;
  std::vector<TrackPoint> track = trackOf(r);
  if (!track.empty()) {
    int64_t start = track.front().captureMs;
    // The last second ends with the recording's last frame, or a second after it begins.
    int64_t end = static_cast<int64_t>(entrySeconds(r.frames.back().entry)) * 1000 +
                  r.frames.back().entry.millisecond.get() + 100;
    for (size_t i = 0; i < track.size(); ++i) {
      const TrackPoint& p = track[i];
      int64_t from = p.captureMs - start;
      int64_t to = (i + 1 < track.size() ? track[i + 1].captureMs : std::max(end, p.captureMs + 1000)) - start;
      std::string when = frameTimeText(r.frames[p.frame].entry).substr(0, 19);
      fprintf(out, "%zu\n%s --> %s\n%s", i + 1, srtTime(from).c_str(), srtTime(to).c_str(), when.c_str());
      if (p.valid) {
        fprintf(out, "  %u km/h  %s\n\n", p.speed, positionText(p.lat, p.lon).c_str());
      } else {
        fprintf(out, "  no position\n\n");
      }
    }
  }
  return fclose(out) == 0;
}

}  // namespace

// One subtitle file per recording, named after it, with one subtitle a second: the capture
// time, the speed and the position, timed from the recording's first frame.
int exportSrt(const std::vector<std::string>& bases, const std::string& dir) {
  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    fprintf(stderr, "vdrtool: %s: cannot create the directory\n", dir.c_str());
    return 1;
  }
  size_t files = 0;
  for (const std::string& base : bases) {
    Recording r = readRecording(base, false);
    if (r.frames.empty()) continue;
    std::string path = dir + "/" + r.name + ".srt";
    if (!writeSrt(r, path)) {
      fprintf(stderr, "vdrtool: %s: cannot write\n", path.c_str());
      return 1;
    }
    ++files;
  }
  printf("%s: %zu subtitle files\n", dir.c_str(), files);
  return 0;
}

}  // namespace vdr
