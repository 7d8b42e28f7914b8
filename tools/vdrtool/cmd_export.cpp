#include <cstdio>
#include <cstring>

#include "command.h"
#include "export_format.h"

namespace vdr {

// One row per export format: option, target, help, writer.
const ExportFormat kExportFormats[] = {
    {"--jpeg", "DIR", "one JPEG file per frame, named after its recording and frame number", exportJpeg},
    {"--mjpeg", "FILE", "every frame's JPEG one after the other (a raw MJPEG stream: no frame rate)", exportMjpeg},
    {"--avi", "DIR", "one MJPEG AVI per recording, at the recording's frame rate", exportAvi},
    {"--mp4", "DIR", "one MP4 (H.264) per recording, at its frame rate (needs ffmpeg)", exportMp4},
    {"--csv", "FILE", "one row per frame: time, kind, trigger, G values, position", exportCsv},
    {"--gpx", "FILE", "the positions of every recording as GPX tracks", exportGpx},
};
const size_t kExportFormatCount = sizeof kExportFormats / sizeof kExportFormats[0];

int runExport(const Args& args) {
  if (args.positional.size() != 1 || args.options.empty()) return usageError();
  const auto& [option, target] = args.options.back();
  const ExportFormat* format = nullptr;
  for (size_t i = 0; i < kExportFormatCount; ++i) {
    if (option == kExportFormats[i].option) format = &kExportFormats[i];
  }
  if (!format) return usageError();
  CardInput input;
  if (!input.openOrReport(args.positional[0])) return kExitFailed;
  return format->write(input.bases(), target);
}

}  // namespace vdr
