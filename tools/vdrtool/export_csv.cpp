#include <cstdio>

#include "export_format.h"
#include "recording.h"

namespace vdr {

int exportCsv(const std::vector<std::string>& bases, const std::string& file) {
  FILE* out = fopen(file.c_str(), "w");
  if (!out) return 1;
  fprintf(out, "recording,frame,time,kind,trigger,gx,gy,gz,gps_valid,latitude,longitude,speed,altitude,course\n");
  for (const std::string& base : bases) {
    Recording r = readRecording(base, false);
    for (size_t i = 0; i < r.frames.size(); ++i) {
      const vr::FrameIndexEntry& e = r.frames[i].entry;
      fprintf(out, "%s,%zu,%s,%u,%u,%d,%d,%d,%u,%.7f,%.7f,%u,%d,%u\n", r.name.c_str(), i, frameTimeText(e).c_str(),
              e.kind, e.triggerType.get(), e.gx.get(), e.gy.get(), e.gz.get(), e.gpsValid,
              toDegrees(e.latitude.get()), toDegrees(e.longitude.get()), e.speed.get(), e.altitude.get(),
              e.course.get());
    }
  }
  fclose(out);
  return 0;
}

}  // namespace vdr
