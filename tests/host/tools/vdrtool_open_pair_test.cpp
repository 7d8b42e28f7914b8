// A pair whose writing was cut off (a power cut with no hold-up): vdrtool reads it up to its last
// whole frame, `check` says so, `export` takes those frames, and `repair` closes it on a copy of
// the card, leaving the card itself as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "pair_writer.h"
#include "recording.h"

namespace {

namespace fs = std::filesystem;

class OpenPair : public vdrtest::PairWriter {
 protected:
  // A pair of `frames` frames cut off while frame `frames` + 1 was written: no index header, a
  // part of the next entry in the index and a part of the next record in the data file.
  std::string cutPair(int frames) {
    std::string base = writePair(frames + 1);
    vdr::Recording whole = vdr::readRecording(base, false);
    uint32_t nextRecord = whole.frames[static_cast<size_t>(frames)].entry.offset.get();
    fs::resize_file(base + ".vdx", 66u * frames + 20);
    fs::resize_file(base + ".vdd", nextRecord + 10);
    return base;
  }
};

TEST_F(OpenPair, ReadUpToItsLastWholeFrame) {
  std::string base = cutPair(7);
  vdr::Recording r = vdr::readRecording(base, true);
  EXPECT_TRUE(r.open);
  EXPECT_EQ(r.readableFrames, 7u);
  EXPECT_TRUE(r.onlyOpen()) << r.problems.front();
  std::vector<uint8_t> record;
  EXPECT_TRUE(vdr::readFrameRecord(r, 6, &record));

  // Entries that were all written but no header: every frame readable.
  std::string whole = writePair(4);
  fs::resize_file(whole + ".vdx", 66u * 4);
  vdr::Recording w = vdr::readRecording(whole, true);
  EXPECT_TRUE(w.open);
  EXPECT_EQ(w.readableFrames, 4u);
  EXPECT_TRUE(w.onlyOpen());

  // Cut off after the first record's comment block: open, nothing readable.
  std::string first = writePair(1);
  fs::resize_file(first + ".vdx", 0);
  fs::resize_file(first + ".vdd", 65);
  vdr::Recording f1 = vdr::readRecording(first, true);
  EXPECT_TRUE(f1.open);
  EXPECT_EQ(f1.readableFrames, 0u);
  EXPECT_TRUE(f1.onlyOpen());

  // A closed pair is not open; damage among the readable frames is damage, not a cut.
  std::string closed = writePair(3);
  EXPECT_FALSE(vdr::readRecording(closed, true).open);
  std::string broken = cutPair(5);
  std::fstream f(broken + ".vdd", std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(0);
  f.put('\0');  // the first record's comment block
  f.close();
  vdr::Recording b = vdr::readRecording(broken, true);
  EXPECT_TRUE(b.open);
  EXPECT_FALSE(b.onlyOpen());
}

TEST_F(OpenPair, CheckExportAndRepairOnACopyOfTheCard) {
  std::string base = cutPair(6);
  std::string cardDir = card.dir();
  // (The store's test frames are no real pictures: no --decode here.)
  vdrtest::ToolRun check = vdrtest::runTool(VDRTOOL_PATH, {"check", cardDir});
  EXPECT_EQ(check.code, 1);
  EXPECT_NE(check.out.find("OPEN    "), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("(6 frames readable of 6 indexed; never closed)"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("1 recordings, 0 damaged, 1 left open"), std::string::npos) << check.out;

  std::string scratch = card.dir() + ".out";
  fs::remove_all(scratch);
  vdrtest::ToolRun exported = vdrtest::runTool(VDRTOOL_PATH, {"export", cardDir, "--jpeg", scratch + "/jpeg"});
  EXPECT_EQ(exported.code, 0) << exported.err;
  EXPECT_NE(exported.out.find("6 frames written"), std::string::npos) << exported.out;

  uintmax_t vddBefore = fs::file_size(base + ".vdd"), vdxBefore = fs::file_size(base + ".vdx");
  vdrtest::ToolRun repair = vdrtest::runTool(VDRTOOL_PATH, {"repair", cardDir, scratch + "/copy"});
  EXPECT_EQ(repair.code, 0) << repair.out << repair.err;
  EXPECT_NE(repair.out.find("(6 frames)"), std::string::npos) << repair.out;
  EXPECT_EQ(fs::file_size(base + ".vdd"), vddBefore) << "the card given is not changed";
  EXPECT_EQ(fs::file_size(base + ".vdx"), vdxBefore);
  vdrtest::ToolRun after = vdrtest::runTool(VDRTOOL_PATH, {"check", scratch + "/copy"});
  EXPECT_EQ(after.code, 0) << after.out;
  EXPECT_NE(after.out.find("ok      "), std::string::npos) << after.out;
  EXPECT_NE(after.out.find("(6 frames)"), std::string::npos) << after.out;
  vdrtest::ToolRun again = vdrtest::runTool(VDRTOOL_PATH, {"repair", cardDir, scratch + "/copy"});
  EXPECT_EQ(again.code, 1) << "an existing copy is never overwritten";
  fs::remove_all(scratch);
}

}  // namespace
