// Frames as JPEG files or as one MJPEG stream.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "export_format.h"
#include "recording.h"

namespace vdr {

namespace {

int exportFrames(const std::vector<std::string>& bases, const std::string& target, bool oneStream) {
  std::ofstream stream;
  if (oneStream) {
    stream.open(target, std::ios::binary | std::ios::trunc);
  } else {
    std::filesystem::create_directories(target);
  }
  size_t written = 0;
  std::vector<uint8_t> record;
  for (const std::string& base : bases) {
    Recording r = readRecording(base, false);
    for (size_t i = 0; i < r.frames.size(); ++i) {
      if (!readFrameRecord(r, i, &record)) continue;
      if (oneStream) {
        stream.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
      } else {
        char name[64];
        snprintf(name, sizeof name, "_%05zu.jpg", i);
        std::ofstream(target + "/" + r.name + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
      }
      ++written;
    }
  }
  printf("%zu frames written to %s\n", written, target.c_str());
  return 0;
}

}  // namespace

int exportJpeg(const std::vector<std::string>& bases, const std::string& dir) { return exportFrames(bases, dir, false); }
int exportMjpeg(const std::vector<std::string>& bases, const std::string& file) {
  return exportFrames(bases, file, true);
}

}  // namespace vdr
