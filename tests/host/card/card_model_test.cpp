// The simulated card: its image, the kernel's partition list, the board's formatter, mounting
// through fusefat or the stand-in directory, and what is left after the board went down.
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/time.h>
#include <unistd.h>

#include "board/card/card_dates.h"
#include "board/card/card_store.h"
#include "board/host_tools.h"
#include "card_fixture.h"
#include "core/sd_card.h"
#include "platform/platform.h"
#include "support/host_files.h"

using card_test::CardBoard;

namespace {

constexpr uint64_t k2000MiB = 2000 * 1024;

using testing_board::hostFileText;

int mkdosfs(const std::string& fatBits, const std::string& device) {
  return WEXITSTATUS(sim::runCommand({"/usr/bin/mkdosfs", "-F", fatBits, "-s", "64", "-n", "ZIDADORI1", device}));
}

TEST(CardSize, MegabytesByDefaultKilobytesWithK) {
  uint64_t k = 0;
  EXPECT_TRUE(sim::parseCardSize("4000", &k));
  EXPECT_EQ(k, 4096000u);
  EXPECT_TRUE(sim::parseCardSize("1600000K", &k));
  EXPECT_EQ(k, 1600000u);
  EXPECT_TRUE(sim::parseCardSize("2000M", &k));
  EXPECT_EQ(k, 2048000u);
  for (const char* bad : {"", "0", "-5", "12X", "K", "4000KB"}) EXPECT_FALSE(sim::parseCardSize(bad, &k)) << bad;
}

TEST(CardPartitionList, TheCardAndItsFirstPartition) {
  sim::CardState s;
  s.present = true;
  s.sizeK = 3970048;
  s.partitioned = true;
  EXPECT_EQ(sim::partitionLines(s), " 179        0    3970048 mmcblk0\n 179        1    3969024 mmcblk0p1\n");
  s.partitioned = false;
  EXPECT_EQ(sim::partitionLines(s), " 179        0    3970048 mmcblk0\n");
  s.present = false;
  EXPECT_EQ(sim::partitionLines(s), "");
}

class CardModelTest : public ::testing::TestWithParam<sim::CardBackend> {};

// The modification time a PC reading the card sees: the image's entry as mcopy -m keeps it, or
// the stand-in directory's file. -1 when the file is not there.
int64_t cardFileTime(const CardBoard& card, sim::CardBackend backend, const std::string& path) {
  std::string file = sim::cardDirPath(card.dir()) + "/" + path;
  if (backend == sim::CardBackend::Fuse) {
    file = card.dir() + "/copied";
    std::filesystem::remove(file);
    std::string output;
    if (sim::runTool({"mcopy", "-n", "-m", "-i", card.image(), "::/" + path, file}, &output) != 0) return -1;
  }
  struct stat st;
  return ::stat(file.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : -1;
}

// The board's zone for one test (FAT keeps local time).
class BoardZone {
 public:
  explicit BoardZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  ~BoardZone() {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};


TEST_P(CardModelTest, FormatMountWriteUnmountLeavesAConsistentImage) {
  CardBoard card(k2000MiB, false, false, GetParam());
  card.bootModels();
  EXPECT_NE(hostFileText(card.board().host("/proc/partitions")).find(" 179        0    2048000 mmcblk0\n"),
            std::string::npos);
  EXPECT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), -1);  // blank: no FAT yet
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(plat::mount("/dev/sda1", "/mnt/log", "vfat", 0, nullptr), -1);  // no partition table
  EXPECT_EQ(mkdosfs("16", "/dev/sda1"), 1);

  ASSERT_EQ(mkdosfs("16", "/dev/sda"), 0);
  sim::FatInfo fat = sim::readFatInfo(card.image());
  EXPECT_EQ(fat.fatBits, 16);
  EXPECT_EQ(fat.label, "ZIDADORI1");
  EXPECT_EQ(fat.clusterBytes, 32768u);

  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  EXPECT_EQ(mkdosfs("16", "/dev/sda"), 1);  // never under a mounted file system
  ASSERT_EQ(plat::mkdir("/mnt/log/CH1", 0744), 0);
  FILE* f = plat::fopen("/mnt/log/CH1/recording,2026.01.01.vdd", "w");
  ASSERT_NE(f, nullptr);
  std::string data(100000, 'x');
  fwrite(data.data(), 1, data.size(), f);
  fclose(f);
  EXPECT_EQ(plat::umount("/mnt/log"), 0);

  if (GetParam() == sim::CardBackend::Fuse) {
    std::string report;
    EXPECT_EQ(card.fsck(&report), 0) << report;
  }
  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  struct stat st;
  ASSERT_EQ(plat::stat("/mnt/log/CH1/recording,2026.01.01.vdd", &st), 0);
  EXPECT_EQ(st.st_size, 100000);
  EXPECT_EQ(plat::umount("/mnt/log"), 0);
}

TEST_P(CardModelTest, FilesAreDatedWithTheBoardsTimeOfTheirLastWriteNotThePcs) {
  if (GetParam() == sim::CardBackend::Fuse && !sim::haveTool("mcopy")) GTEST_SKIP() << "no mtools here";
  CardBoard card(k2000MiB, false, true, GetParam());
  card.bootModels();
  BoardZone zone("JST-9");
  const int64_t t0 = 1299301620;  // 2011-03-05 14:07:00 in the board's zone, years from the PC's clock
  struct timeval tv = {static_cast<time_t>(t0), 0};
  ASSERT_EQ(plat::settimeofday(&tv), 0);
  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  ASSERT_EQ(plat::mkdir("/mnt/log/CH1/pairs", 0744), 0);
  int fd = plat::open("/mnt/log/CH1/pairs/a.vdd", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(plat::write(fd, "first", 5), 5);
  card.board().advance(30);
  ASSERT_EQ(plat::write(fd, "last", 4), 4);
  card.board().advance(40);  // closed later, with nothing more written: the last write counts
  ASSERT_EQ(plat::close(fd), 0);
  int gone = plat::open("/mnt/log/CH1/pairs/gone.vdd", O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(gone, 0);
  plat::close(gone);
  ASSERT_EQ(plat::remove("/mnt/log/CH1/pairs/gone.vdd"), 0);  // passed over, the rest still dated
  card.board().advance(30);
  FILE* f = plat::fopen("/mnt/log/log/notes.log", "w");
  ASSERT_NE(f, nullptr);
  fputs("written at once\n", f);
  fclose(f);
  ASSERT_EQ(plat::umount("/mnt/log"), 0);

  EXPECT_FALSE(std::filesystem::exists(sim::cardDatesPath(card.dir())));
  EXPECT_EQ(cardFileTime(card, GetParam(), "CH1/pairs/a.vdd"), t0 + 30);
  EXPECT_EQ(cardFileTime(card, GetParam(), "log/notes.log"), t0 + 100);
  if (GetParam() == sim::CardBackend::Fuse) {
    std::string listing;
    ASSERT_EQ(sim::runTool({"mdir", "-i", card.image(), "::/CH1/pairs"}, &listing), 0);
    EXPECT_NE(listing.find("2011-03-05  14:07"), std::string::npos) << "month and local time:\n" << listing;
    std::string report;
    EXPECT_EQ(card.fsck(&report), 0) << report;
  }
}

TEST_P(CardModelTest, PartitionedCardMountsItsPartitionUntilTheWholeCardIsFormatted) {
  CardBoard card(k2000MiB, true, true, GetParam());
  card.bootModels();
  std::string partitions = hostFileText(card.board().host("/proc/partitions"));
  EXPECT_NE(partitions.find(" 179        1    2046976 mmcblk0p1\n"), std::string::npos) << partitions;
  EXPECT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), -1);
  ASSERT_EQ(plat::mount("/dev/sda1", "/mnt/log", "vfat", 0, nullptr), 0);
  EXPECT_EQ(plat::access("/mnt/log/config/set.ini", F_OK), 0);
  ASSERT_EQ(plat::umount("/mnt/log"), 0);

  ASSERT_EQ(mkdosfs("16", "/dev/sda"), 0);  // over the partition table
  sim::CardState state;
  ASSERT_TRUE(sim::loadCardState(card.dir(), &state));
  EXPECT_FALSE(state.partitioned);
  EXPECT_EQ(plat::mount("/dev/sda1", "/mnt/log", "vfat", 0, nullptr), -1);
  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  EXPECT_NE(plat::access("/mnt/log/config", F_OK), 0);  // a new, empty file system
  EXPECT_EQ(plat::umount("/mnt/log"), 0);
}

TEST_P(CardModelTest, ARefusedFormatKeepsTheOldFileSystem) {
  // 2,999,999 KiB is too big for FAT16 with 32 KiB clusters: the formatter refuses.
  CardBoard card(2999999, false, false, GetParam());
  card.bootModels();
  ASSERT_EQ(mkdosfs("32", "/dev/sda"), 0);
  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  ASSERT_EQ(plat::mkdir("/mnt/log/kept", 0744), 0);
  ASSERT_EQ(plat::umount("/mnt/log"), 0);

  EXPECT_EQ(mkdosfs("16", "/dev/sda"), 1);
  EXPECT_EQ(sim::readFatInfo(card.image()).fatBits, 32);
  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  EXPECT_EQ(plat::access("/mnt/log/kept", F_OK), 0);
  EXPECT_EQ(plat::umount("/mnt/log"), 0);
}

// The program's own format on the real formatter: the card sizes just either side of what FAT16
// with 32 KiB clusters can hold both end up with a file system that mounts.
TEST_P(CardModelTest, TheProgramsFormatFitsCardsEitherSideOfTheFat16Limit) {
  for (uint64_t sizeK : {uint64_t{2097143}, uint64_t{2097144}, uint64_t{2162688}, uint64_t{2999999}}) {
    CardBoard card(sizeK, false, false, GetParam());
    card.bootModels();
    // The partition list of this card alone (the board directory's list may hold an earlier one).
    card.board().writeFile("/proc/partitions",
                           "major minor  #blocks  name\n\n 179 0 " + std::to_string(sizeK) + " mmcblk0\n");
    ASSERT_EQ(FormatSD(), 0);
    sim::FatInfo fat = sim::readFatInfo(card.image());
    ASSERT_TRUE(fat.formatted) << sizeK;
    EXPECT_EQ(fat.fatBits, sizeK <= 2097143 ? 16 : 32) << sizeK;
    EXPECT_EQ(fat.clusterBytes, sizeK > 2097143 && sizeK < 2162688 ? 16384u : 32768u) << sizeK;
    ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0) << sizeK;
    ASSERT_EQ(plat::mkdir("/mnt/log/CH1", 0744), 0);
    ASSERT_EQ(plat::umount("/mnt/log"), 0);
    EXPECT_EQ(sim::runTool({sim::findTool("fsck.fat"), "-n", card.image()}), 0) << sizeK;
    ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
    EXPECT_EQ(plat::umount("/mnt/log"), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, CardModelTest, ::testing::ValuesIn(card_test::backendsHere()),
                         [](const auto& p) { return std::string(card_test::backendName(p.param)); });

class FuseCardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!sim::fuseAvailable()) GTEST_SKIP() << "no FUSE here (/dev/fuse, fusefat, fusermount)";
  }
};

TEST_F(FuseCardTest, TheStandInDirectoryCountsSpaceAsTheFileSystemDoes) {
  CardBoard fuse(k2000MiB, false, true, sim::CardBackend::Fuse);
  fuse.bootModels();
  auto fill = [] {
    plat::mkdir("/mnt/log/CH1/event/many", 0744);
    for (int i = 0; i < 30; ++i) {
      FILE* f = plat::fopen(("/mnt/log/CH1/event/many/file-with-a-long-name-" + std::to_string(i)).c_str(), "w");
      std::string data(static_cast<size_t>(i) * 9000, 'd');
      fwrite(data.data(), 1, data.size(), f);
      fclose(f);
    }
  };
  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  fill();
  struct statfs viaFuse;
  ASSERT_EQ(plat::statfs("/mnt/log", &viaFuse), 0);
  ASSERT_EQ(plat::umount("/mnt/log"), 0);
  sim::resetBoard();

  CardBoard dir(k2000MiB, false, true, sim::CardBackend::Directory);
  dir.bootModels();
  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  fill();
  struct statfs viaDir;
  ASSERT_EQ(plat::statfs("/mnt/log/CH1", &viaDir), 0);
  ASSERT_EQ(plat::umount("/mnt/log"), 0);

  EXPECT_EQ(static_cast<uint64_t>(viaDir.f_bsize) * viaDir.f_blocks,
            static_cast<uint64_t>(viaFuse.f_bsize) * viaFuse.f_blocks);
  EXPECT_EQ(static_cast<uint64_t>(viaDir.f_bsize) * viaDir.f_bfree,
            static_cast<uint64_t>(viaFuse.f_bsize) * viaFuse.f_bfree);
}

// The program rewrites its settings and version files and appends to its logs; the card's
// FUSE daemon corrupts a truncated file and refuses appends, so such rewrites replace the file.
TEST_F(FuseCardTest, RewrittenAndAppendedFilesStayWholeAcrossMounts) {
  CardBoard card(k2000MiB, false, true, sim::CardBackend::Fuse);
  card.bootModels();
  auto writeText = [](const char* path, const char* mode, const std::string& text) {
    FILE* f = plat::fopen(path, mode);
    ASSERT_NE(f, nullptr) << path;
    fputs(text.c_str(), f);
    fclose(f);
  };
  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  writeText("/mnt/log/config/set.dat", "w", "[SET]\nRECMOD=1\nTRGSET=3\n");
  writeText("/mnt/log/error.log", "a", "first line\n");
  ASSERT_EQ(plat::umount("/mnt/log"), 0);

  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  writeText("/mnt/log/config/set.dat", "w", "[SET]\nRECMOD=2\n");
  writeText("/mnt/log/error.log", "a", "second line\n");
  writeText("/mnt/log/error.log", "a", "third line\n");
  int fd = plat::open("/mnt/log/frameloss.txt", O_WRONLY | O_CREAT | O_APPEND, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(plat::write(fd, "a\n", 2), 2);
  plat::close(fd);
  fd = plat::open("/mnt/log/frameloss.txt", O_WRONLY | O_CREAT | O_APPEND, 0644);
  ASSERT_EQ(plat::write(fd, "b\n", 2), 2);
  plat::close(fd);
  writeText("/mnt/log/other.txt", "w", "a file written after the rewrites\n");
  ASSERT_EQ(plat::umount("/mnt/log"), 0);

  std::string report;
  EXPECT_EQ(card.fsck(&report), 0) << report;
  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  EXPECT_EQ(hostFileText(card.board().host("/mnt/log/config/set.dat")), "[SET]\nRECMOD=2\n");
  EXPECT_EQ(hostFileText(card.board().host("/mnt/log/error.log")), "first line\nsecond line\nthird line\n");
  EXPECT_EQ(hostFileText(card.board().host("/mnt/log/frameloss.txt")), "a\nb\n");
  EXPECT_EQ(hostFileText(card.board().host("/mnt/log/other.txt")), "a file written after the rewrites\n");
  EXPECT_EQ(plat::umount("/mnt/log"), 0);
}

TEST_F(FuseCardTest, ACardInUseCannotBeUnmounted) {
  CardBoard card(k2000MiB, false, true, sim::CardBackend::Fuse);
  card.bootModels();
  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  int fd = plat::open("/mnt/log/config/set.ini", O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(plat::umount("/mnt/log"), -1);
  EXPECT_EQ(errno, EBUSY);
  plat::close(fd);
  EXPECT_EQ(plat::umount("/mnt/log"), 0);
}

TEST_F(FuseCardTest, ACardLeftMountedByADeadBoardIsUnmountedCleanly) {
  CardBoard card(k2000MiB, false, true, sim::CardBackend::Fuse);
  card.bootModels();
  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  FILE* f = plat::fopen("/mnt/log/log/last-words.log", "w");
  fputs("power cut\n", f);
  fclose(f);
  std::string mountPoint = card.dir() + "/rootfs/mnt/log";
  // The board process is gone (power cut): only its daemon and the pid file remain.
  EXPECT_NE(sim::cleanUpCardMount(card.dir()), "");
  EXPECT_FALSE(sim::isHostMountPoint(mountPoint));
  if (sim::haveTool("mcopy")) {  // with the board's time it noted before it went down
    EXPECT_EQ(cardFileTime(card, sim::CardBackend::Fuse, "log/last-words.log"), testing_board::kStartSecond);
  }
  EXPECT_FALSE(std::filesystem::exists(sim::cardPidPath(card.dir())));
  std::string report;
  EXPECT_EQ(card.fsck(&report), 0) << report;
  EXPECT_EQ(sim::cleanUpCardMount(card.dir()), "");  // nothing left to do
}

}  // namespace
