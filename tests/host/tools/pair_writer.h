// Recordings written by the program's own store on a test card, for the PC tools' tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "record/disk_mgr.h"
#include "record/frame_comment.h"
#include "record/frame_index.h"
#include "support/test_board.h"
#include "support/test_card.h"

namespace vdrtest {

struct PairOptions {
  int frames = 25;
  int triggerType = 2;
  int framesPerSecond = 10;
  int beforeFrames = 0;   // the first frames are kept from before the trigger
  bool positions = false;  // every frame carries a valid position, moving north-east
  uint32_t startOffset = 0;  // seconds after the board's start
  std::vector<uint8_t> picture;  // a whole JPEG for every frame; empty: 300 bytes that are not one
};

class PairWriter : public ::testing::Test {
 protected:
  // Writes a closed pair, frames 1/rate s apart, through the program's store; returns the PC
  // path without extension.
  std::string writePair(const PairOptions& o) {
    uint32_t kind = STREAM_KIND_BASE | STREAM_KIND_EVENT;
    DiskMgrPtr mgr(dskOpen("/mnt/log", 1, &kind, OVERWRITE_QUOTA_K_EVENT));
    EXPECT_NE(mgr, nullptr);
    uint32_t start = static_cast<uint32_t>(testing_board::kStartSecond) + o.startOffset;
    EXPECT_EQ(dskWriteStart(mgr.get(), 0, start), 0);
    VIDEO_STREAM& vs = mgr->pVideoStream[0];
    size_t pictureSize = o.picture.empty() ? 300 : o.picture.size();
    std::vector<uint8_t> buffer(sizeof(ENC_FRAME) + pictureSize, 0x55);
    auto* f = reinterpret_cast<ENC_FRAME*>(buffer.data());
    uint8_t* jpeg = buffer.data() + sizeof(ENC_FRAME);
    jpeg[0] = 0xFF;
    jpeg[1] = 0xD8;
    if (!o.picture.empty()) std::copy(o.picture.begin(), o.picture.end(), jpeg);
    RecorderSettings settings;
    SetDefaultParameter(&settings);
    uint32_t step = 1000000 / static_cast<uint32_t>(o.framesPerSecond);
    for (int i = 0; i < o.frames; ++i) {
      uint32_t sec = start + static_cast<uint32_t>(i / o.framesPerSecond);
      uint32_t usec = static_cast<uint32_t>(i % o.framesPerSecond) * step;
      int frameKind = i < o.beforeFrames ? vr::kFrameBefore : vr::kFrameAfter;
      f->seconds.set(sec);
      f->microseconds.set(usec);
      f->jpegSize.set(static_cast<uint32_t>(pictureSize));
      createExifHeader(&vs.comment);
      createExifFormatImage(&vs.comment, f, &settings, 2, frameKind);
      createExifGsnr(&vs.comment, i, -i, 1000);
      SetFrameIdxTime(&vs, sec, usec, frameKind, static_cast<uint32_t>(o.triggerType));
      SetFrameIdxGsnr(&vs, i, -i, 1000);
      if (o.positions) {
        // ddmm.mmmm: 35 deg 40.0000 min N plus i thousandths of a minute, 139 deg 45 min E.
        vs.entry.gpsValid = 1;
        vs.entry.latitude.set(3540.0 + i * 0.001);
        vs.entry.longitude.set(13945.0 + i * 0.001);
        vs.entry.speed.set(static_cast<uint16_t>(40 + i));
      }
      EXPECT_EQ(dskWrite(mgr.get(), 0, f, jpeg), 0);
    }
    std::string base = vs.basePath;
    vs.IdxHeader.triggerType = static_cast<uint8_t>(o.triggerType);
    EXPECT_EQ(dskWriteEnd(mgr.get(), 0), 0);
    return board.host(base);
  }
  std::string writePair(int frames) {
    PairOptions o;
    o.frames = frames;
    return writePair(o);
  }

  testing_board::TestBoard board;
  testing_board::ConsoleCapture console;
  testing_board::TestCard card;
};

// A PC program run to its end: exit code, standard output and error.
struct ToolRun {
  int code = -1;
  std::string out, err;
};

inline std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline ToolRun runTool(const std::string& program, const std::vector<std::string>& args) {
  char pattern[] = "/tmp/vdrtool-run-XXXXXX";
  std::string dir = mkdtemp(pattern);
  std::string cmd = quoted(program);
  for (const std::string& a : args) cmd += " " + quoted(a);
  cmd += " >" + dir + "/out 2>" + dir + "/err </dev/null";
  int status = std::system(cmd.c_str());
  ToolRun r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = slurp(dir + "/out");
  r.err = slurp(dir + "/err");
  std::filesystem::remove_all(dir);
  return r;
}

}  // namespace vdrtest
