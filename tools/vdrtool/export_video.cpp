// Each recording as a video file that carries its frame rate: MJPEG in AVI (written here, the
// frame records go in as they are stored: each is a whole JPEG), and MP4 (H.264) made from that
// AVI by ffmpeg when it is installed. A raw MJPEG stream has no rate, and players assume 25.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <turbojpeg.h>

#include "command.h"
#include "export_format.h"
#include "recording.h"
#include "run_program.h"

namespace vdr {

namespace {

namespace fs = std::filesystem;

void put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
std::string chunk(const char* fourcc, const std::string& body) {
  std::string c(fourcc, 4);
  put32(c, static_cast<uint32_t>(body.size()));
  c += body;
  if (body.size() % 2) c += '\0';
  return c;
}
std::string list(const char* type, const std::string& body) { return chunk("LIST", std::string(type, 4) + body); }

struct Picture {
  int width = 0, height = 0;
};

Picture pictureSize(const std::vector<uint8_t>& jpeg) {
  Picture p;
  tjhandle tj = tjInitDecompress();
  int sub = 0, cs = 0;
  if (tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &p.width, &p.height, &sub, &cs) != 0) p = Picture();
  tjDestroy(tj);
  return p;
}

// The time from one frame to the next, in microseconds: the recording's span over its frames.
uint32_t microsecondsPerFrame(const Recording& r) {
  if (r.frames.size() < 2 || r.durationSeconds() <= 0) return 100000;
  double us = r.durationSeconds() * 1e6 / static_cast<double>(r.frames.size() - 1);
  return static_cast<uint32_t>(std::lround(us));
}

// The stream's rate as scale/rate seconds a frame: a whole number of frames a second when the
// frames' times (whole milliseconds) are that within a few per mille, else microseconds.
void streamRate(uint32_t usPerFrame, uint32_t* scale, uint32_t* rate) {
  double fps = 1e6 / usPerFrame;
  double whole = std::round(fps);
  if (whole >= 1 && std::fabs(fps - whole) < whole * 0.005) {
    *scale = 1;
    *rate = static_cast<uint32_t>(whole);
  } else {
    *scale = usPerFrame;
    *rate = 1000000;
  }
}

}  // namespace

// Writes one recording as MJPEG in AVI; false with the reason.
bool writeAvi(const Recording& r, const std::string& file, std::string* why) {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> record;
  for (size_t i = 0; i < r.frames.size(); ++i) {
    if (readFrameRecord(r, i, &record)) frames.push_back(record);
  }
  if (frames.empty()) {
    *why = "no readable frame";
    return false;
  }
  Picture pic = pictureSize(frames.front());
  uint32_t usPerFrame = microsecondsPerFrame(r);
  uint32_t largest = 0;
  std::string movi = "movi", index;
  for (const auto& f : frames) {
    put32(index, 0x63643030);  // "00dc"
    put32(index, 0x10);        // a key frame: every JPEG stands alone
    put32(index, static_cast<uint32_t>(movi.size()));
    put32(index, static_cast<uint32_t>(f.size()));
    movi += chunk("00dc", std::string(f.begin(), f.end()));
    largest = std::max(largest, static_cast<uint32_t>(f.size()));
  }
  uint32_t count = static_cast<uint32_t>(frames.size());
  std::string avih;
  put32(avih, usPerFrame);
  put32(avih, static_cast<uint32_t>(static_cast<uint64_t>(largest) * 1000000 / usPerFrame));
  put32(avih, 0);
  put32(avih, 0x10);  // has an index
  put32(avih, count);
  put32(avih, 0);
  put32(avih, 1);
  put32(avih, largest);
  put32(avih, static_cast<uint32_t>(pic.width));
  put32(avih, static_cast<uint32_t>(pic.height));
  for (int i = 0; i < 4; ++i) put32(avih, 0);
  std::string strh = "vidsMJPG";
  put32(strh, 0);
  put16(strh, 0);
  put16(strh, 0);
  put32(strh, 0);
  uint32_t scale = 0, rate = 0;
  streamRate(usPerFrame, &scale, &rate);
  put32(strh, scale);  // scale / rate = seconds per frame
  put32(strh, rate);
  put32(strh, 0);
  put32(strh, count);
  put32(strh, largest);
  put32(strh, 0xFFFFFFFF);
  put32(strh, 0);
  put16(strh, 0);
  put16(strh, 0);
  put16(strh, static_cast<uint16_t>(pic.width));
  put16(strh, static_cast<uint16_t>(pic.height));
  std::string strf;
  put32(strf, 40);
  put32(strf, static_cast<uint32_t>(pic.width));
  put32(strf, static_cast<uint32_t>(pic.height));
  put16(strf, 1);
  put16(strf, 24);
  strf += "MJPG";
  put32(strf, static_cast<uint32_t>(pic.width * pic.height * 3));
  for (int i = 0; i < 4; ++i) put32(strf, 0);
  std::string hdrl = list("hdrl", chunk("avih", avih) + list("strl", chunk("strh", strh) + chunk("strf", strf)));
  std::string body = "AVI " + hdrl + chunk("LIST", movi) + chunk("idx1", index);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << chunk("RIFF", body);
  out.close();
  if (!out) {
    *why = "cannot be written";
    return false;
  }
  return true;
}

namespace {

int exportVideos(const std::vector<std::string>& bases, const std::string& dir, bool mp4) {
  if (mp4 && runProgram({"ffmpeg", "-version"}, {.quietStdout = true, .noStdin = true}) != 0) {
    fprintf(stderr, "vdrtool: --mp4 needs ffmpeg, which is not installed (--avi needs nothing)\n");
    return kExitFailed;
  }
  std::error_code ec;
  fs::create_directories(dir, ec);
  int failed = 0, written = 0;
  for (const std::string& base : bases) {
    Recording r = readRecording(base, false);
    // For an MP4 the AVI is only a step, kept out of the way of an AVI the user exported.
    std::string avi = dir + "/" + (mp4 ? "." + r.name + ".tmp.avi" : r.name + ".avi"), why;
    bool ok = writeAvi(r, avi, &why);
    if (ok && mp4) {
      std::string file = dir + "/" + r.name + ".mp4";
      // The AVI's rate carries over to the MP4.
      ok = runProgram({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-i", avi, "-c:v", "libx264", "-pix_fmt",
                       "yuv420p", "-movflags", "+faststart", file},
                      {.noStdin = true}) == 0;
      if (!ok) why = "ffmpeg failed";
      fs::remove(avi, ec);
    }
    if (!ok) {
      fprintf(stderr, "vdrtool: %s: %s\n", r.name.c_str(), why.c_str());
      ++failed;
      continue;
    }
    ++written;
  }
  printf("%d recordings written to %s as %s\n", written, dir.c_str(), mp4 ? "MP4" : "AVI");
  return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace

int exportAvi(const std::vector<std::string>& bases, const std::string& dir) { return exportVideos(bases, dir, false); }
int exportMp4(const std::vector<std::string>& bases, const std::string& dir) { return exportVideos(bases, dir, true); }

}  // namespace vdr
