// The simulated board as the program sees it through the platform layer.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/board.h"
#include "platform/sim/clock.h"
#include "platform/sim/devices.h"
#include "support/test_board.h"

namespace {

using testing_board::kStartSecond;

class SimPlatformTest : public ::testing::Test {
 protected:
  testing_board::TestBoard board;
};

TEST_F(SimPlatformTest, SleepsRunOnTheSimulatedClockAndWakeAtTheirDeadline) {
  std::atomic<bool> woke{false};
  std::thread sleeper([&] {
    plat::usleep(250000);
    woke = true;
  });
  ASSERT_TRUE(sim::Clock::waitForSleepers(1));
  board.advance(0.249);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(woke.load()) << "1 ms before its deadline";
  board.advance(0.001);
  sleeper.join();
  EXPECT_TRUE(woke.load());
}

TEST_F(SimPlatformTest, SettimeofdayMovesOnlyTheBoardsTimeOfDay) {
  struct timeval tv;
  plat::gettimeofday(&tv);
  EXPECT_EQ(tv.tv_sec, kStartSecond);
  struct timeval later = {kStartSecond + 86400, 500000};
  ASSERT_EQ(plat::settimeofday(&later), 0);
  int64_t elapsed = sim::Clock::elapsed();
  board.advance(1.25);
  plat::gettimeofday(&tv);
  EXPECT_EQ(tv.tv_sec, kStartSecond + 86401);
  EXPECT_EQ(tv.tv_usec, 750000);
  EXPECT_EQ(sim::Clock::elapsed() - elapsed, 1250 * sim::kNsPerMs) << "elapsed time is not moved";
  EXPECT_EQ(sim::Clock::world() / sim::kNsPerSec, kStartSecond + 1) << "nor the true wall time";
  EXPECT_EQ(plat::time(nullptr), kStartSecond + 86401);
  struct timeval bad = {0, 1000000};
  EXPECT_EQ(plat::settimeofday(&bad), -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(SimPlatformTest, TimedSemaphoreWaitsRunOnTheSimulatedClock) {
  sem_t sem;
  sem_init(&sem, 0, 0);
  struct timespec deadline = {static_cast<time_t>(kStartSecond + 2), 0};
  int result = 0;
  int err = 0;
  std::thread waiter([&] {
    result = plat::sem_timedwait(&sem, &deadline);
    err = errno;
  });
  ASSERT_TRUE(sim::Clock::waitForSleepers(1));
  board.advance(2);
  waiter.join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(err, ETIMEDOUT);

  sem_post(&sem);
  EXPECT_EQ(plat::sem_timedwait(&sem, &deadline), 0) << "a posted semaphore is taken at once";
  sem_destroy(&sem);
}

TEST_F(SimPlatformTest, BoardPathsResolveUnderTheBoardDirectoryAndNeverAboveIt) {
  EXPECT_EQ(sim::normaliseBoardPath("/mnt/log/../../../etc/passwd"), "/etc/passwd");
  EXPECT_EQ(sim::normaliseBoardPath("a/./b//c/"), "/a/b/c");
  EXPECT_EQ(sim::normaliseBoardPath(".."), "/");
  EXPECT_EQ(board.host("/../../etc/passwd"), board.dir() + "/rootfs/etc/passwd");
  EXPECT_EQ(board.host("/"), board.dir() + "/rootfs");

  board.writeFile("/mnt/log/x.txt", "card");
  int fd = plat::open("/mnt/log/x.txt", O_RDONLY);
  ASSERT_GE(fd, 0);
  char buf[8] = {};
  EXPECT_EQ(plat::read(fd, buf, sizeof buf), 4);
  EXPECT_EQ(plat::close(fd), 0);
  EXPECT_STREQ(buf, "card");
}

class CardFs : public sim::Filesystem {
 public:
  explicit CardFs(std::string dir) : dir_(std::move(dir)) {}
  int mount(const std::string&, unsigned long, std::string* hostDir) override {
    ++mounts;
    *hostDir = dir_;
    return 0;
  }
  int umount() override {
    ++umounts;
    return 0;
  }
  int statfs(struct statfs* st) override {
    *st = {};
    st->f_bsize = 32768;
    st->f_blocks = 1000;
    st->f_bavail = 10;
    return 1;
  }
  int mounts = 0, umounts = 0;

 private:
  std::string dir_;
};

TEST_F(SimPlatformTest, MountedFilesystemsTakeOverTheirMountPoint) {
  auto card = std::make_shared<CardFs>(board.dir() + "/card");
  board.writeFile("/mnt/log/on-rootfs", "x");
  std::filesystem::create_directories(board.dir() + "/card/CH1");
  sim::addMountSource("/dev/sda1", card);

  EXPECT_EQ(plat::mount("/dev/sdb1", "/mnt/log", "vfat", 0, nullptr), -1);
  EXPECT_EQ(errno, ENOENT) << "no such device";
  ASSERT_EQ(plat::mount("/dev/sda1", "/mnt/log/", "vfat", 0, nullptr), 0);
  EXPECT_EQ(plat::mount("/dev/sda1", "/mnt/log", "vfat", 0, nullptr), -1);
  EXPECT_EQ(errno, EBUSY);

  struct stat st;
  EXPECT_EQ(plat::stat("/mnt/log/CH1", &st), 0);
  EXPECT_NE(plat::stat("/mnt/log/on-rootfs", &st), 0) << "the card hides what lies under the mount point";
  struct statfs fs;
  ASSERT_EQ(plat::statfs("/mnt/log/CH1", &fs), 0);
  EXPECT_EQ(fs.f_bavail, 10u) << "the card answers for its own space";

  EXPECT_EQ(plat::umount("/mnt/log"), 0);
  EXPECT_EQ(plat::umount("/mnt/log"), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(plat::stat("/mnt/log/on-rootfs", &st), 0);
  EXPECT_EQ(card->mounts, 1);
  EXPECT_EQ(card->umounts, 1);
}

class FatLikeFs : public CardFs {
 public:
  using CardFs::CardFs;
  bool foldsCase() const override { return true; }
};

TEST_F(SimPlatformTest, AFatLikeFilesystemFindsNamesWhateverTheirCase) {
  std::filesystem::create_directories(board.dir() + "/card/CH1/event");
  sim::addMountSource("/dev/sda1", std::make_shared<FatLikeFs>(board.dir() + "/card"));
  ASSERT_EQ(plat::mount("/dev/sda1", "/mnt/log", "vfat", 0, nullptr), 0);
  EXPECT_EQ(board.host("/mnt/log/ch1/Event/new.vdd"), board.dir() + "/card/CH1/event/new.vdd")
      << "existing folders found by any case, a new name kept as given";
  int fd = plat::open("/mnt/log/ch1/event/a.vdd", O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  plat::close(fd);
  EXPECT_TRUE(std::filesystem::exists(board.dir() + "/card/CH1/event/a.vdd"));
  struct stat st;
  EXPECT_EQ(plat::stat("/mnt/log/CH1/EVENT/A.VDD", &st), 0);
  plat::umount("/mnt/log");
}

// Notes the stamps the platform layer gives its file system, as "C|W +seconds name".
class StampedFs : public CardFs {
 public:
  using CardFs::CardFs;
  void stamp(const std::string& hostPath, bool created, int64_t boardNs) override {
    stamps.push_back(std::string(created ? "C +" : "W +") + std::to_string(boardNs / sim::kNsPerSec - kStartSecond) +
                     " " + std::filesystem::path(hostPath).filename().string());
  }
  std::vector<std::string> stamps;
};

TEST_F(SimPlatformTest, CardFilesAreStampedWithTheBoardsTimeAtCreationAndLastWrite) {
  std::filesystem::create_directories(board.dir() + "/card/log");
  std::ofstream(board.dir() + "/card/log/old.log") << "kept\n";
  auto card = std::make_shared<StampedFs>(board.dir() + "/card");
  sim::addMountSource("/dev/sda1", card);
  ASSERT_EQ(plat::mount("/dev/sda1", "/mnt/log", "vfat", 0, nullptr), 0);
  struct timeval tv = {static_cast<time_t>(kStartSecond + 1000), 0};
  ASSERT_EQ(plat::settimeofday(&tv), 0);  // the board's time of day, not its running time

  ASSERT_EQ(plat::mkdir("/mnt/log/CH1", 0744), 0);
  int fd = plat::open("/mnt/log/CH1/a.vdd", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  board.advance(5);
  ASSERT_EQ(plat::write(fd, "x", 1), 1);
  board.advance(7);
  ASSERT_EQ(plat::close(fd), 0);
  fd = plat::open("/mnt/log/CH1/a.vdd", O_RDWR);  // opened, nothing written: no change
  ASSERT_GE(fd, 0);
  plat::close(fd);
  fd = plat::open("/mnt/log/CH1/a.vdd", O_RDONLY);
  plat::close(fd);
  FILE* f = plat::fopen("/mnt/log/log/old.log", "a");
  ASSERT_NE(f, nullptr);
  fclose(f);
  f = plat::fopen("/mnt/log/log/old.log", "r");
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_EQ(card->stamps, (std::vector<std::string>{"C +1000 CH1", "C +1000 a.vdd", "W +1005 a.vdd", "W +1012 old.log"}));
  plat::umount("/mnt/log");
}

TEST_F(SimPlatformTest, CommandsAreCarriedOutByNameAndUnknownOnesRefused) {
  std::vector<std::string> seen;
  sim::addCommand("mkdosfs", [&](const std::vector<std::string>& argv) {
    seen = argv;
    return 3;
  });
  int status = plat::system("/usr/bin/mkdosfs -F 16 -s 64 /dev/sda1");
  EXPECT_EQ(WEXITSTATUS(status), 3);
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_EQ(seen[0], "/usr/bin/mkdosfs");

  testing_board::ConsoleCapture console;
  status = plat::system("rm -rf /");
  EXPECT_EQ(WEXITSTATUS(status), 127);
  EXPECT_NE(console.text().find("refused unknown command: rm -rf /"), std::string::npos);

  // Words that look like shell syntax stay words: nothing is interpreted.
  const char* const argv[] = {"mkdosfs", "a;reboot;.bin", "$(reboot)", nullptr};
  plat::run(argv);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1], "a;reboot;.bin");
  EXPECT_EQ(sim::rebootCount(), 0);

  EXPECT_EQ(plat::system("reboot"), 0);
  EXPECT_EQ(sim::rebootCount(), 1);
}

class CountingFile : public sim::DeviceFile {
 public:
  explicit CountingFile(int* releases) : releases_(releases) {}
  ssize_t read(void* buf, size_t count) override {
    memset(buf, 'z', count);
    return static_cast<ssize_t>(count);
  }
  long ioctl(unsigned long request, uintptr_t arg) override {
    if (request == 1) return -EBUSY;
    *reinterpret_cast<int*>(arg) = 42;
    return 7;
  }
  int release() override {
    ++*releases_;
    return 0;
  }

 private:
  int* releases_;
};

class CountingNode : public sim::DeviceNode {
 public:
  int open(int flags, std::unique_ptr<sim::DeviceFile>* file) override {
    if (flags & O_EXCL) return -EBUSY;
    *file = std::make_unique<CountingFile>(&releases);
    return 0;
  }
  int releases = 0;
};

TEST_F(SimPlatformTest, DeviceFilesAreServedByTheirNodeOnReservedDescriptors) {
  EXPECT_EQ(plat::open("/dev/gpio13", O_RDWR), -1);
  EXPECT_EQ(errno, ENOENT) << "no module provides the node";

  auto node = std::make_shared<CountingNode>();
  sim::addDeviceNode("/dev/test0", node);
  int fd = plat::open("/dev/test0", O_RDWR);
  ASSERT_GE(fd, 0);
  char buf[3];
  EXPECT_EQ(plat::read(fd, buf, 3), 3);
  EXPECT_EQ(buf[2], 'z');
  int value = 0;
  EXPECT_EQ(plat::ioctl(fd, 2, &value), 7);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(plat::ioctl(fd, 1, uintptr_t{0}), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(plat::write(fd, buf, 1), -1) << "a node without write";
  EXPECT_EQ(plat::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0), MAP_FAILED);

  EXPECT_EQ(plat::open("/dev/test0", O_RDWR | O_EXCL), -1);
  EXPECT_EQ(errno, EBUSY) << "the node's own refusal reaches the caller";
  EXPECT_EQ(plat::close(fd), 0);
  EXPECT_EQ(node->releases, 1);
  EXPECT_EQ(plat::ioctl(fd, 2, &value), -1) << "a closed descriptor no longer reaches the device";
}

}  // namespace
