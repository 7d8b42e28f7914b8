// vdrtool's exports read back by other programs: CSV by Python's csv module.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <turbojpeg.h>

#include "pair_writer.h"

namespace {

namespace fs = std::filesystem;
using vdrtest::runTool;

class VdrtoolExport : public vdrtest::PairWriter {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vdrtool-export-XXXXXX";
    scratch = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(scratch); }
  std::string scratch;
};

TEST_F(VdrtoolExport, CsvReadsBackColumnForColumnInPythonsCsvModule) {
  vdrtest::PairOptions o;
  o.frames = 12;
  o.positions = true;
  std::string first = fs::path(writePair(o)).filename();
  o.frames = 7;
  o.startOffset = 60;
  o.positions = false;
  std::string second = fs::path(writePair(o)).filename();
  ASSERT_NE(first.find(','), std::string::npos) << "recording names hold commas: the case worth testing";

  std::string csv = scratch + "/frames.csv";
  vdrtest::ToolRun r = runTool(VDRTOOL_PATH, {"export", card.dir(), "--csv", csv});
  ASSERT_EQ(r.code, 0) << r.err;
  std::string script = scratch + "/read.py";
  std::ofstream(script) << R"(import csv, sys
with open(sys.argv[1], newline='') as f:
    rows = list(csv.reader(f))
header, body = rows[0], rows[1:]
assert all(len(row) == len(header) for row in body), [len(row) for row in body]
col = {name: i for i, name in enumerate(header)}
names = sorted(set(row[col['recording']] for row in body))
print(len(body), '|'.join(names), body[5][col['latitude']], body[5][col['frame']], body[5][col['time']])
)";
  vdrtest::ToolRun py = runTool("python3", {script, csv});
  ASSERT_EQ(py.code, 0) << py.err;
  // 35 deg 40.005 min = 35.66675 deg; frame 5 of the first recording, half a second in.
  EXPECT_EQ(py.out, "19 " + first + "|" + second + " 35.6667500 5 2026-01-01 00:00:00.500\n");
}

// A small grey JPEG picture, as the camera would deliver it.
std::vector<uint8_t> greyPicture(int width, int height) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3, 128);
  tjhandle tj = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  tjCompress2(tj, pixels.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_420, 80, 0);
  std::vector<uint8_t> out(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(tj);
  return out;
}

bool haveProgram(const std::string& name) { return runTool("sh", {"-c", "command -v " + name}).code == 0; }

TEST_F(VdrtoolExport, VideosCarryTheRecordingsRateAndLengthForFfprobe) {
  if (!haveProgram("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  vdrtest::PairOptions o;
  o.picture = greyPicture(64, 48);
  o.frames = 25;  // 10 a second: 2.5 s
  writePair(o);
  o.frames = 30;  // 15 a second: 2 s
  o.framesPerSecond = 15;
  o.startOffset = 60;
  writePair(o);

  std::string dir = scratch + "/videos";
  std::vector<std::string> formats = {"--avi"};
  if (haveProgram("ffmpeg")) formats.push_back("--mp4");
  for (const std::string& format : formats) {
    vdrtest::ToolRun r = runTool(VDRTOOL_PATH, {"export", card.dir(), format, dir});
    ASSERT_EQ(r.code, 0) << format << r.err;
  }
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string file = entry.path().string();
    ASSERT_EQ(file.find(".tmp."), std::string::npos) << "a step of the MP4 export was left behind";
    ++files;
    vdrtest::ToolRun probe = runTool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                 "stream=r_frame_rate,nb_frames:format=duration", "-of",
                                                 "default=nw=1", file});
    ASSERT_EQ(probe.code, 0) << file << probe.err;
    bool tenPerSecond = file.find("00.00.00") != std::string::npos;
    std::string rate = tenPerSecond ? "r_frame_rate=10/1" : "r_frame_rate=15/1";
    EXPECT_NE(probe.out.find(rate), std::string::npos) << file << "\n" << probe.out;
    EXPECT_NE(probe.out.find(tenPerSecond ? "nb_frames=25" : "nb_frames=30"), std::string::npos) << file << probe.out;
    EXPECT_NE(probe.out.find(tenPerSecond ? "duration=2.5" : "duration=2.0"), std::string::npos) << file << probe.out;
    // Every frame decodes from the container.
    vdrtest::ToolRun decode = runTool("ffmpeg", {"-v", "error", "-i", file, "-f", "null", "-"});
    EXPECT_EQ(decode.code, 0) << file << decode.err;
    EXPECT_EQ(decode.err, "") << file;
  }
  EXPECT_EQ(files, 2 * formats.size()) << "one file per recording and format";
}

}  // namespace
