#include <cstdio>

#include "export_format.h"
#include "recording.h"

namespace vdr {

int exportGpx(const std::vector<std::string>& bases, const std::string& file) {
  FILE* out = fopen(file.c_str(), "w");
  if (!out) return 1;
  fprintf(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\" creator=\"vdrtool\" "
               "xmlns=\"http://www.topografix.com/GPX/1/1\">\n");
  for (const std::string& base : bases) {
    Recording r = readRecording(base, false);
    fprintf(out, " <trk><name>%s</name><trkseg>\n", r.name.c_str());
    for (const Frame& f : r.frames) {
      const vr::FrameIndexEntry& e = f.entry;
      if (!e.gpsValid) continue;
      std::string t = frameTimeText(e);
      t[10] = 'T';
      fprintf(out, "  <trkpt lat=\"%.7f\" lon=\"%.7f\"><ele>%d</ele><time>%s</time></trkpt>\n",
              toDegrees(e.latitude.get()), toDegrees(e.longitude.get()), e.altitude.get(), t.c_str());
    }
    fprintf(out, " </trkseg></trk>\n");
  }
  fprintf(out, "</gpx>\n");
  fclose(out);
  return 0;
}

}  // namespace vdr
