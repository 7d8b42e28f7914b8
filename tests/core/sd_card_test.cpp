// The card's size and partition from the kernel's list, the format command, mounting and the
// check of a mounted card's tree, on a test board with fake mount sources and commands.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <sys/mount.h>
#include <memory>
#include <string>
#include <vector>

#include "core/sd_card.h"
#include "platform/sim/board.h"
#include "support/test_board.h"

using testing_board::ConsoleCapture;
using testing_board::TestBoard;

namespace {

const char kHeader[] = "major minor  #blocks  name\n\n   31     0    256 mtdblock0\n";

// A file system that mounts on a folder of the test board and remembers how often it was asked.
class FolderFs : public sim::Filesystem {
 public:
  FolderFs(std::string dir, bool refuse) : dir_(std::move(dir)), refuse_(refuse) {}
  int mount(const std::string&, unsigned long flags, std::string* hostDir) override {
    ++mounts;
    lastFlags = flags;
    if (refuse_) return -EINVAL;
    *hostDir = dir_;
    return 0;
  }
  int umount() override { return 0; }
  int mounts = 0;
  unsigned long lastFlags = 0;

 private:
  std::string dir_;
  bool refuse_;
};

class SdCardTest : public ::testing::Test {
 protected:
  void partitions(const std::string& lines) { board.writeFile("/proc/partitions", kHeader + lines); }

  // Runs FormatSD with a fake formatter and gives the command line it received.
  std::string formatCommand() {
    std::string seen;
    sim::addCommand("/usr/bin/mkdosfs", [&](const std::vector<std::string>& argv) {
      for (const std::string& a : argv) seen += (seen.empty() ? "" : " ") + a;
      return 1;  // the formatter's status is not what FormatSD reports
    });
    EXPECT_EQ(FormatSD(), 0);
    return seen;
  }

  // A card folder on the test board with the given directories and files.
  std::shared_ptr<FolderFs> mountableCard(const std::vector<std::string>& dirs, const std::vector<std::string>& files) {
    board.mkdirs("/card");
    for (const std::string& d : dirs) board.mkdirs("/card/" + d);
    for (const std::string& f : files) board.writeFile("/card/" + f, "[SET]\n");
    auto fs = std::make_shared<FolderFs>(board.host("/card"), false);
    sim::addMountSource("/dev/sda", fs);
    return fs;
  }

  TestBoard board;
};

TEST_F(SdCardTest, PartitionListGivesTheWholeCardAndItsFirstPartition) {
  partitions(" 179 0 3970048 mmcblk0\n 179 1 3969024 mmcblk0p1\n");
  EXPECT_EQ(GetSDSizeK(), 3970048);
  EXPECT_EQ(GetSDPartition(), 1);
  EXPECT_EQ(formatCommand(), "/usr/bin/mkdosfs -F 32 -s 64 -n ZIDADORI1 /dev/sda1");
}

TEST_F(SdCardTest, EntriesOfOtherDevicesOrNamesAreSkipped) {
  // A 179 0 line without "mmcblk0" is not the card; the next one is. A first partition must be
  // called exactly mmcblk0p1.
  partitions(" 179 0 999 mmcblk1\n 8 0 5000000 mmcblk0\n 179 1 77 mmcblk0p10\n 179 0 2000000 xmmcblk0x\n");
  EXPECT_EQ(GetSDSizeK(), 2000000);
  EXPECT_EQ(GetSDPartition(), 0);
}

TEST_F(SdCardTest, NoCardOrNoListMeansSizeZero) {
  partitions("");
  EXPECT_EQ(GetSDSizeK(), 0);
  EXPECT_EQ(GetSDPartition(), 0);

  std::remove(board.host("/proc/partitions").c_str());
  ConsoleCapture console;
  EXPECT_EQ(GetSDSizeK(), 0);
  EXPECT_EQ(GetSDPartition(), 0);
  EXPECT_NE(console.text().find("@@ failed to open /proc/partitions.."), std::string::npos);
  EXPECT_NE(console.text().find("File Open Error /proc/partitions"), std::string::npos);
}

// FAT16 with 32 KiB clusters holds at most 2,097,143 KiB: larger cards are formatted FAT32,
// with 16 KiB clusters where 32 KiB ones would be too few for FAT32.
TEST_F(SdCardTest, Fat16AsFarAsItCanHoldTheCardFat32Beyond) {
  partitions(" 179 0 2097143 mmcblk0\n");
  EXPECT_EQ(formatCommand(), "/usr/bin/mkdosfs -F 16 -s 64 -n ZIDADORI1 /dev/sda");
  partitions(" 179 0 2097144 mmcblk0\n");
  EXPECT_EQ(formatCommand(), "/usr/bin/mkdosfs -F 32 -s 32 -n ZIDADORI1 /dev/sda");
  partitions(" 179 0 2162687 mmcblk0\n");
  EXPECT_EQ(formatCommand(), "/usr/bin/mkdosfs -F 32 -s 32 -n ZIDADORI1 /dev/sda");
  partitions(" 179 0 2162688 mmcblk0\n");
  EXPECT_EQ(formatCommand(), "/usr/bin/mkdosfs -F 32 -s 64 -n ZIDADORI1 /dev/sda");
  partitions(" 179 0 2999999 mmcblk0\n");
  EXPECT_EQ(formatCommand(), "/usr/bin/mkdosfs -F 32 -s 64 -n ZIDADORI1 /dev/sda");
  partitions(" 179 0 3000000 mmcblk0\n");
  EXPECT_EQ(formatCommand(), "/usr/bin/mkdosfs -F 32 -s 64 -n ZIDADORI1 /dev/sda");
}

TEST_F(SdCardTest, MountTriesThePartitionFirstThenTheWholeCard) {
  auto partition = std::make_shared<FolderFs>(board.host("/card"), true);
  auto whole = mountableCard({}, {});
  sim::addMountSource("/dev/sda1", partition);
  EXPECT_EQ(mount_sd(), 0);
  EXPECT_EQ(partition->mounts, 1);
  EXPECT_EQ(whole->mounts, 1);
  EXPECT_NE(whole->lastFlags & MS_NOATIME, 0u);
  EXPECT_NE(whole->lastFlags & MS_NODIRATIME, 0u);
  EXPECT_EQ(umount_sd(), 0);
  EXPECT_EQ(umount_sd(), -12);  // nothing mounted any more

  sim::removeMountSource("/dev/sda");
  EXPECT_EQ(mount_sd(), -11);
}

TEST_F(SdCardTest, MakeFsSdCreatesTheTreeAndStopsAtTheFirstFailure) {
  mountableCard({}, {});
  ASSERT_EQ(mount_sd(), 0);
  EXPECT_EQ(MakeFsSD(), 0);
  for (const char* d : {"CH1", "CH1/event", "CH1/normal", "config", "log"}) {
    EXPECT_EQ(CheckDirectoryExist((std::string("/mnt/log/") + d).c_str()), 0) << d;
  }
  ConsoleCapture console;
  EXPECT_EQ(MakeFsSD(), -10);  // CH1 exists now
  EXPECT_NE(console.text().find("Could not make directory (/mnt/log/CH1)."), std::string::npos);
}

TEST_F(SdCardTest, FileAndDirectoryChecksTellTheKindApart) {
  board.writeFile("/mnt/log/file", "x");
  board.mkdirs("/mnt/log/dir");
  EXPECT_EQ(CheckFileExist("/mnt/log/file"), 0);
  EXPECT_EQ(CheckFileExist("/mnt/log/dir"), -1);
  EXPECT_EQ(CheckFileExist("/mnt/log/none"), -1);
  EXPECT_EQ(CheckDirectoryExist("/mnt/log/dir"), 0);
  EXPECT_EQ(CheckDirectoryExist("/mnt/log/file"), -1);
  EXPECT_EQ(CheckDirectoryExist("/mnt/log/none"), -1);
}

TEST_F(SdCardTest, ValidityNeedsEveryDirectoryAndOneSettingsFile) {
  const std::vector<std::string> tree = {"CH1", "CH1/event", "CH1/normal", "config", "log"};
  struct Case {
    std::vector<std::string> dirs;
    std::vector<std::string> files;
    int expected;
  };
  const Case cases[] = {
      {tree, {"config/set.dat"}, 0},
      {tree, {"config/set.ini"}, 0},
      {tree, {}, -1},
      {{"CH1", "CH1/event", "config", "log"}, {"config/set.dat"}, -1},  // no CH1/normal
      {{"CH1", "CH1/event", "CH1/normal", "config"}, {"config/set.dat"}, -1},
  };
  for (const Case& c : cases) {
    sim::resetBoard();
    std::filesystem::remove_all(board.host("/card"));
    mountableCard(c.dirs, c.files);
    ASSERT_EQ(mount_sd(), 0);
    EXPECT_EQ(CheckSDValidity(), c.expected) << c.dirs.size() << " directories, " << c.files.size() << " files";
  }
  // A settings "file" that is a directory does not count.
  sim::resetBoard();
  std::filesystem::remove_all(board.host("/card"));
  mountableCard({"CH1", "CH1/event", "CH1/normal", "config", "log", "config/set.dat", "config/set.ini"}, {});
  ASSERT_EQ(mount_sd(), 0);
  EXPECT_EQ(CheckSDValidity(), -1);
}

}  // namespace
