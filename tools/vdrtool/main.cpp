// vdrtool: lists, checks and exports the recordings of a drive recorder's card on a PC.
//
//   vdrtool ls PATH              one line per recording: time, kind, trigger, frames, rate, metadata
//   vdrtool check [--decode] PATH
//                                verifies every pair against the file formats and says exactly
//                                what is wrong; --decode also decodes every frame as a JPEG
//   vdrtool export PATH --jpeg DIR | --mjpeg FILE | --csv FILE | --gpx FILE
//
// PATH is a card image (FAT, with or without a partition table), a card's top directory, a
// channel directory, or one .vdd/.vdx file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <turbojpeg.h>
#include <vector>

#include "card_image.h"
#include "recording.h"

namespace {

namespace fs = std::filesystem;

const char* triggerName(uint8_t t) {
  switch (t) {
    case 0: return "-";
    case 1: return "G-sensor";
    case 2: return "button";
    case 4: return "serial";
    default: return "?";
  }
}

int usage() {
  fprintf(stderr,
          "usage: vdrtool ls PATH\n"
          "       vdrtool check [--decode] PATH\n"
          "       vdrtool export PATH (--jpeg DIR | --mjpeg FILE | --csv FILE | --gpx FILE)\n"
          "PATH: a card image, a card directory, a channel directory or one .vdd/.vdx file\n");
  return 2;
}

int list(const std::vector<std::string>& bases) {
  printf("%-45s %-6s %-23s %-8s %6s %6s %5s %5s %s\n", "recording", "dir", "first frame", "trigger", "frames", "fps",
         "pre", "post", "metadata");
  for (const std::string& base : bases) {
    vdr::Recording r = vdr::readRecording(base, false);
    double seconds = r.durationSeconds();
    double fps = seconds > 0 ? (static_cast<double>(r.frames.size()) - 1) / seconds : 0;
    std::string meta = std::string(r.hasGValues() ? "G " : "") + (r.hasGps() ? "GPS" : "");
    printf("%-45s %-6s %-23s %-8s %6zu %6.1f %5d %5d %s%s\n", r.name.c_str(), r.channel.c_str(),
           r.frames.empty() ? "-" : vdr::frameTimeText(r.frames.front().entry).c_str(), triggerName(r.triggerType()),
           r.frames.size(), fps, r.countKind(vr::kFrameBefore), r.countKind(vr::kFrameAfter), meta.c_str(),
           r.problems.empty() ? "" : "  (damaged: vdrtool check)");
  }
  return 0;
}

bool decodes(const std::vector<uint8_t>& jpeg, std::string* why) {
  tjhandle tj = tjInitDecompress();
  int w = 0, h = 0, sub = 0, cs = 0;
  bool ok = tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &w, &h, &sub, &cs) == 0;
  if (ok) {
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 3);
    ok = tjDecompress2(tj, jpeg.data(), jpeg.size(), pixels.data(), w, 0, h, TJPF_RGB, 0) == 0;
  }
  if (!ok) *why = tjGetErrorStr2(tj);
  tjDestroy(tj);
  return ok;
}

int check(const std::vector<std::string>& bases, bool decode) {
  int damaged = 0;
  for (const std::string& base : bases) {
    vdr::Recording r = vdr::readRecording(base, true);
    if (decode) {
      std::vector<uint8_t> record;
      for (size_t i = 0; i < r.frames.size(); ++i) {
        std::string why;
        if (!vdr::readFrameRecord(r, i, &record) || !decodes(record, &why)) {
          r.problems.push_back("frame " + std::to_string(i) + ": not a decodable JPEG (" + why + ")");
        }
      }
    }
    if (r.problems.empty()) {
      printf("ok      %s (%zu frames)\n", r.name.c_str(), r.frames.size());
      continue;
    }
    ++damaged;
    printf("DAMAGED %s\n", r.name.c_str());
    for (const std::string& p : r.problems) printf("        %s\n", p.c_str());
  }
  printf("%zu recordings, %d damaged\n", bases.size(), damaged);
  return damaged == 0 ? 0 : 1;
}

int exportFrames(const std::vector<std::string>& bases, const std::string& dir, bool oneStream) {
  std::ofstream stream;
  if (oneStream) {
    stream.open(dir, std::ios::binary | std::ios::trunc);
  } else {
    fs::create_directories(dir);
  }
  size_t written = 0;
  std::vector<uint8_t> record;
  for (const std::string& base : bases) {
    vdr::Recording r = vdr::readRecording(base, false);
    for (size_t i = 0; i < r.frames.size(); ++i) {
      if (!vdr::readFrameRecord(r, i, &record)) continue;
      if (oneStream) {
        stream.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
      } else {
        char name[64];
        snprintf(name, sizeof name, "_%05zu.jpg", i);
        std::ofstream(dir + "/" + r.name + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
      }
      ++written;
    }
  }
  printf("%zu frames written to %s\n", written, dir.c_str());
  return 0;
}

int exportCsv(const std::vector<std::string>& bases, const std::string& file) {
  FILE* out = fopen(file.c_str(), "w");
  if (!out) return 1;
  fprintf(out, "recording,frame,time,kind,trigger,gx,gy,gz,gps_valid,latitude,longitude,speed,altitude,course\n");
  for (const std::string& base : bases) {
    vdr::Recording r = vdr::readRecording(base, false);
    for (size_t i = 0; i < r.frames.size(); ++i) {
      const vr::FrameIndexEntry& e = r.frames[i].entry;
      fprintf(out, "%s,%zu,%s,%u,%u,%d,%d,%d,%u,%.7f,%.7f,%u,%d,%u\n", r.name.c_str(), i, vdr::frameTimeText(e).c_str(),
              e.kind, e.triggerType.get(), e.gx.get(), e.gy.get(), e.gz.get(), e.gpsValid,
              vdr::toDegrees(e.latitude.get()), vdr::toDegrees(e.longitude.get()), e.speed.get(), e.altitude.get(),
              e.course.get());
    }
  }
  fclose(out);
  return 0;
}

int exportGpx(const std::vector<std::string>& bases, const std::string& file) {
  FILE* out = fopen(file.c_str(), "w");
  if (!out) return 1;
  fprintf(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\" creator=\"vdrtool\" "
               "xmlns=\"http://www.topografix.com/GPX/1/1\">\n");
  for (const std::string& base : bases) {
    vdr::Recording r = vdr::readRecording(base, false);
    fprintf(out, " <trk><name>%s</name><trkseg>\n", r.name.c_str());
    for (const vdr::Frame& f : r.frames) {
      const vr::FrameIndexEntry& e = f.entry;
      if (!e.gpsValid) continue;
      std::string t = vdr::frameTimeText(e);
      t[10] = 'T';
      fprintf(out, "  <trkpt lat=\"%.7f\" lon=\"%.7f\"><ele>%d</ele><time>%s</time></trkpt>\n",
              vdr::toDegrees(e.latitude.get()), vdr::toDegrees(e.longitude.get()), e.altitude.get(), t.c_str());
    }
    fprintf(out, " </trkseg></trk>\n");
  }
  fprintf(out, "</gpx>\n");
  fclose(out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  bool decode = false;
  std::string path, option, target;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--decode") {
      decode = true;
    } else if (args[i].rfind("--", 0) == 0 && i + 1 < args.size()) {
      option = args[i];
      target = args[++i];
    } else {
      path = args[i];
    }
  }
  if (path.empty()) return usage();

  vdr::CardImage image;  // a card image is copied out to a temporary directory for reading
  std::string root = path;
  if (vdr::looksLikeCardImage(path)) {
    std::string error;
    if (!image.extract(path, &error)) {
      fprintf(stderr, "vdrtool: %s: %s\n", path.c_str(), error.c_str());
      return 1;
    }
    root = image.dir();
  }
  std::vector<std::string> bases = vdr::findRecordings(root);

  if (command == "ls") return list(bases);
  if (command == "check") return check(bases, decode);
  if (command == "export") {
    if (option == "--jpeg") return exportFrames(bases, target, false);
    if (option == "--mjpeg") return exportFrames(bases, target, true);
    if (option == "--csv") return exportCsv(bases, target);
    if (option == "--gpx") return exportGpx(bases, target);
  }
  return usage();
}
