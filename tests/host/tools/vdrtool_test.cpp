// The PC reader of recordings: a pair written by the program's own store reads back sound, and
// each kind of damage is named.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "record/disk_mgr.h"
#include "record/frame_comment.h"
#include "record/frame_index.h"
#include "card_image.h"
#include "recording.h"
#include "support/test_board.h"
#include "support/test_card.h"
#include "pair_writer.h"

namespace {

namespace fs = std::filesystem;

class VdrReader : public vdrtest::PairWriter {
 protected:
  static void truncateBy(const std::string& path, uintmax_t bytes) {
    fs::resize_file(path, fs::file_size(path) - bytes);
  }
  static void poke(const std::string& path, long offset, uint8_t value) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.put(static_cast<char>(value));
  }
};

TEST_F(VdrReader, APairFromTheStoreReadsBackSound) {
  std::string base = writePair(25);
  auto bases = vdr::findRecordings(card.dir());
  ASSERT_EQ(bases.size(), 1u);
  vdr::Recording r = vdr::readRecording(bases[0], true);
  EXPECT_TRUE(r.problems.empty()) << r.problems.front();
  EXPECT_EQ(r.frames.size(), 25u);
  EXPECT_EQ(r.triggerType(), 2);
  EXPECT_EQ(r.channel, "event");
  EXPECT_EQ(r.countKind(vr::kFrameAfter), 25);
  EXPECT_NEAR(r.durationSeconds(), 2.4, 1e-6);
  EXPECT_TRUE(r.hasGValues());
  EXPECT_FALSE(r.hasGps());
  std::vector<uint8_t> record;
  ASSERT_TRUE(vdr::readFrameRecord(r, 24, &record));
  EXPECT_EQ(record.size(), 300u + 65 - 2);
  EXPECT_EQ(record[0], 0xFF);
  EXPECT_EQ(record[3], 0xFE) << "every record starts with the comment segment";
}

TEST_F(VdrReader, EachKindOfDamageIsNamed) {
  std::string base = writePair(5);
  auto problemsOf = [&] { return vdr::readRecording(base, true).problems; };
  auto mentions = [](const std::vector<std::string>& problems, const std::string& text) {
    for (const std::string& p : problems) {
      if (p.find(text) != std::string::npos) return true;
    }
    return false;
  };

  truncateBy(base + ".vdd", 1);
  EXPECT_TRUE(mentions(problemsOf(), "the index accounts for")) << "a short data file";

  fs::copy_file(base + ".vdx", base + ".bak");
  truncateBy(base + ".vdx", 26);
  EXPECT_TRUE(mentions(problemsOf(), "without an index header")) << "a pair that was never closed";
  fs::copy_file(base + ".bak", base + ".vdx", fs::copy_options::overwrite_existing);

  poke(base + ".vdx", 66 * 5 + 10, 9);  // the header's frame count
  EXPECT_TRUE(mentions(problemsOf(), "index header counts 9 frames, the segment holds 5"));
  fs::copy_file(base + ".bak", base + ".vdx", fs::copy_options::overwrite_existing);

  poke(base + ".vdx", 66 + 5, 1);  // the second entry's offset
  EXPECT_TRUE(mentions(problemsOf(), "frame 1: offset"));
  fs::copy_file(base + ".bak", base + ".vdx", fs::copy_options::overwrite_existing);

  poke(base + ".vdd", 2, 0x00);  // the first comment marker
  EXPECT_TRUE(mentions(problemsOf(), "frame 0: does not begin with the comment block"));
}

TEST_F(VdrReader, AFrameRecordOutsideTheDataFileIsNotRead) {
  std::string base = writePair(3);
  poke(base + ".vdx", 66 + 9 + 3, 0xFF);  // the second entry's length: about 4 GiB
  vdr::Recording r = vdr::readRecording(base, false);
  std::vector<uint8_t> record;
  EXPECT_FALSE(vdr::readFrameRecord(r, 1, &record));
  EXPECT_LT(record.capacity(), 1u << 20) << "nothing was allocated for the claimed length";
  EXPECT_TRUE(vdr::readFrameRecord(r, 0, &record)) << "the sound frames still read";
}

TEST(CardImageCopy, TakesTheRecordingsAndTravelLogsAndLeavesTheRest) {
  char pattern[] = "/tmp/vdrtool-card-XXXXXX";
  std::string dir = mkdtemp(pattern);
  std::string img = dir + "/card.img";
  std::string sh = "cd " + dir + " && export MTOOLS_SKIP_CHECK=1 PATH=$PATH:/usr/sbin:/sbin && truncate -s 64M card.img" +
                   " && mkfs.vfat -F 16 card.img >/dev/null && mmd -i card.img ::CH1 ::CH1/event ::log ::program" +
                   " && echo x > a.vdd && echo y > a.log && head -c 1000000 /dev/zero > big.bin" +
                   " && mcopy -i card.img a.vdd ::CH1/event/ && mcopy -i card.img a.log ::log/" +
                   " && mcopy -i card.img big.bin ::program/ && mcopy -i card.img big.bin ::";
  ASSERT_EQ(std::system(sh.c_str()), 0);
  {
    vdr::CardImage copy;
    std::string error;
    ASSERT_TRUE(copy.extract(img, &error)) << error;
    EXPECT_TRUE(fs::exists(copy.dir() + "/CH1/event/a.vdd"));
    EXPECT_TRUE(fs::exists(copy.dir() + "/log/a.log"));
    EXPECT_FALSE(fs::exists(copy.dir() + "/program"));
    EXPECT_FALSE(fs::exists(copy.dir() + "/big.bin"));
  }
  fs::remove_all(dir);
}

TEST_F(VdrReader, DegreesFromTheStoredForm) {
  EXPECT_NEAR(vdr::toDegrees(-3352.592592), -33.876543, 1e-6);
  EXPECT_NEAR(vdr::toDegrees(15112.558), 151.2093, 1e-4);
}

}  // namespace
