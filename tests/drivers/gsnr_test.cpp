// The G-sensor driver through the emulated kernel, on the board kernel's bma150 driver and the
// accelerometer model, opened as the program opens it.
#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "board/gsensor/gsensor_board.h"
#include "drivers/support/other_i2c_client.h"
#include "host_support/io_board.h"
#include "platform/platform.h"

namespace {

using testing_board::IoBoardTest;

constexpr unsigned long kSetConfig = 0x40086702;
constexpr unsigned long kNoAction = 0xc0046701;

struct Config {
  int32_t bandwidth;
  int32_t readTicks;
};

struct Sample {
  int16_t x, y, z;
  uint16_t unused;
};

struct ReadResult {
  ssize_t result;
  int error;
  Sample sample;
};

class GsnrDriver : public IoBoardTest {
 protected:
  void SetUp() override {
    IoBoardTest::SetUp();
    sim::AccelMotion::Options parked;
    parked.driving = false;
    gs = std::make_unique<sim::GsensorBoard>(parked);
    ASSERT_TRUE(gs->loadFailures().empty()) << gs->loadFailures().front().first;
  }
  void TearDown() override {
    for (int fd : fds) plat::close(fd);
    gs.reset();
    IoBoardTest::TearDown();
  }

  int open() {
    int fd = plat::open("/dev/gsnr", O_RDWR | O_NONBLOCK);
    if (fd >= 0) fds.push_back(fd);
    return fd;
  }
  void close(int fd) {
    plat::close(fd);
    fds.erase(std::remove(fds.begin(), fds.end(), fd), fds.end());
  }

  std::future<ReadResult> readAsync(int fd, size_t count = 6) {
    return std::async(std::launch::async, [fd, count] {
      ReadResult r{};
      r.result = plat::read(fd, &r.sample, count);
      r.error = errno;
      return r;
    });
  }

  // A read that the clock must move `ticks` ticks for: one tick short it is still waiting.
  ReadResult readAfter(int fd, int ticksNeeded, size_t count = 6, bool checkPace = true) {
    auto f = readAsync(fd, count);
    EXPECT_TRUE(waitingInKernel(1));
    if (ticksNeeded > 1) ticks(ticksNeeded - 1);
    if (checkPace) {
      EXPECT_TRUE(stillWaiting(f)) << "returned before " << ticksNeeded << " ticks";
    }
    ticks(1);
    return f.get();
  }

  int setConfig(int fd, int32_t bandwidth, int32_t readTicks) {
    Config c{bandwidth, readTicks};
    return plat::ioctl(fd, kSetConfig, &c);
  }

  std::unique_ptr<sim::GsensorBoard> gs;
  std::vector<int> fds;
};

TEST_F(GsnrDriver, ReadsArePacedByTheReadWaitWhichARequestChangesForEveryOpener) {
  int fd = open();
  ASSERT_GE(fd, 0);
  ReadResult r = readAfter(fd, 3);
  ASSERT_EQ(r.result, 6);
  EXPECT_NEAR(r.sample.z, 1000, 16) << "gravity, in milli-g";
  EXPECT_NEAR(r.sample.y, 0, 16);

  EXPECT_EQ(setConfig(fd, 100, 10), 0);
  EXPECT_EQ(gs->chip().bandwidthHz(), 100);
  EXPECT_EQ(readAfter(fd, 10).result, 6);
  EXPECT_EQ(readAfter(fd, 10).result, 6);

  // The wait belongs to the module, not to the open file; a reload starts again at 3.
  close(fd);
  fd = open();
  EXPECT_EQ(readAfter(fd, 10).result, 6);
  close(fd);
  ASSERT_EQ(sim::kernel::rmmod("tq90ra_gsnr"), 0);
  ASSERT_EQ(sim::kernel::insmod("tq90ra_gsnr"), 0);
  fd = open();
  EXPECT_EQ(readAfter(fd, 3).result, 6);
}

TEST_F(GsnrDriver, ARequestDuringASleepingReadLeavesThatReadItsWait) {
  int fd = open();
  auto sleeping = readAsync(fd);
  ASSERT_TRUE(waitingInKernel(1));
  EXPECT_EQ(setConfig(fd, 50, 7), 0);
  ticks(3);
  EXPECT_EQ(sleeping.get().result, 6);
  EXPECT_EQ(readAfter(fd, 7).result, 6);
}

TEST_F(GsnrDriver, ASignalCutsTheWaitShortAndTheReadStillGivesASample) {
  int fd = open();
  std::promise<pthread_t> self;
  auto interrupted = std::async(std::launch::async, [&] {
    self.set_value(pthread_self());
    ReadResult r{};
    r.result = plat::read(fd, &r.sample, 6);
    return r;
  });
  ASSERT_TRUE(sim::kernel::interruptSleeper(self.get_future().get()));
  ReadResult r = interrupted.get();  // the clock has not moved
  EXPECT_EQ(r.result, 6);
  EXPECT_NEAR(r.sample.z, 1000, 16);
}

TEST_F(GsnrDriver, AFailedSensorReadIsMinusOneWithATraceAndTheNextReadTriesAgain) {
  int fd = open();
  gs->chip().failTransfers(2);
  for (int i = 0; i < 2; ++i) {
    ReadResult r = readAfter(fd, 3);
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.error, EPERM);
  }
  std::string log = sim::kernel::logText();
  size_t first = log.find("G Sensor I2C Read failed..");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(log.find("G Sensor I2C Read failed..", first + 1), std::string::npos);
  ReadResult r = readAfter(fd, 3);
  EXPECT_EQ(r.result, 6);
  EXPECT_NEAR(r.sample.z, 1000, 16);
}

// Another driver's client on the bus that answers command 5 after the bma150 driver, rewriting
// the sample record: it stands for readings that hit the failure mark.
class Overwriter {
 public:
  Overwriter(int16_t x, int16_t y, int16_t z) { EXPECT_EQ(other_i2c_client_attach(0, 0x50, x, y, z), 0); }
  ~Overwriter() { other_i2c_client_detach(); }
};

TEST_F(GsnrDriver, OnlyAllThreeAxesAtTheFailureMarkMakeAFailedRead) {
  int fd = open();  // the bma150 client is made here, so it answers first
  {
    Overwriter one(0x7fff, 12, 980);
    ReadResult r = readAfter(fd, 3);
    EXPECT_EQ(r.result, 6);
    EXPECT_EQ(r.sample.x, 0x7fff);
    EXPECT_EQ(r.sample.y, 12);
  }
  {
    Overwriter two(0x7fff, 0x7fff, -4);
    EXPECT_EQ(readAfter(fd, 3).result, 6);
  }
  {
    Overwriter all(0x7fff, 0x7fff, 0x7fff);
    EXPECT_EQ(readAfter(fd, 3).result, -1);
  }
}

TEST_F(GsnrDriver, ASecondOpenIsBusyUntilTheFirstIsClosed) {
  int first = open();
  ASSERT_GE(first, 0);
  EXPECT_EQ(open(), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_NE(sim::kernel::logText().find("gsnr (major=240, minor=104) Busy somebody opened"), std::string::npos);
  EXPECT_EQ(sim::kernel::rmmod("tq90ra_gsnr"), -EBUSY);
  close(first);
  int again = open();
  EXPECT_GE(again, 0);
  close(again);
  EXPECT_EQ(sim::kernel::rmmod("tq90ra_gsnr"), 0);
}

TEST_F(GsnrDriver, WithoutTheSensorTheOpenFailsAndALaterOpenFindsIt) {
  gs->setChipOnBus(false);
  EXPECT_EQ(open(), -1);
  EXPECT_EQ(errno, EREMOTEIO);
  gs->setChipOnBus(true);
  int fd = open();
  ASSERT_GE(fd, 0) << "a failed open leaves the device free";
  EXPECT_EQ(readAfter(fd, 3).result, 6);
  EXPECT_EQ(gs->chip().rangeMg(), 8000) << "the driver runs the chip at +-8 g";
}

TEST_F(GsnrDriver, ReadSizesStopAtTheEightByteRecordAndABadBufferIsRefused) {
  int fd = open();
  ReadResult r = readAfter(fd, 3, 8);
  EXPECT_EQ(r.result, 8);
  r = readAfter(fd, 3, 64);  // the record is 8 bytes; the rest of the buffer is not touched
  EXPECT_EQ(r.result, 8);
  EXPECT_EQ(readAfter(fd, 3, 0).result, 0);

  // The kernel refuses a buffer it cannot write before the driver sees the read.
  EXPECT_EQ(plat::read(fd, sim::kernel::badUserPointer(), 6), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(readAfter(fd, 3).result, 6);
}

TEST_F(GsnrDriver, Requests) {
  int fd = open();
  EXPECT_EQ(plat::ioctl(fd, kNoAction, uintptr_t{0}), 0);
  EXPECT_EQ(plat::ioctl(fd, 0x40086802, uintptr_t{0}), -1) << "not of type 'g'";
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(plat::ioctl(fd, 0x40086703, uintptr_t{0}), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(plat::ioctl(fd, kSetConfig, sim::kernel::badUserPointer()), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(readAfter(fd, 3).result, 6) << "an unreadable request changed nothing";

  // A bandwidth the sensor does not know leaves it as it was; the read wait is still taken.
  EXPECT_EQ(setConfig(fd, 33, 5), 0);
  EXPECT_EQ(gs->chip().bandwidthHz(), 25);
  EXPECT_EQ(readAfter(fd, 5).result, 6);
  for (int hz : {25, 50, 100, 190, 375, 750, 1500}) {
    EXPECT_EQ(setConfig(fd, hz, 3), 0);
    EXPECT_EQ(gs->chip().bandwidthHz(), hz);
  }

  // A wait below 0 is none, as the scheduler takes it: the read samples at once.
  EXPECT_EQ(setConfig(fd, 25, -1), 0);
  auto now = readAsync(fd);
  ASSERT_EQ(now.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(now.get().result, 6);
}

TEST_F(GsnrDriver, TheBandwidthShapesTheSamples) {
  int fd = open();
  auto spread = [&](int hz) {
    EXPECT_EQ(setConfig(fd, hz, 3), 0);
    int lo = 32767, hi = -32768;
    for (int i = 0; i < 60; ++i) {
      ReadResult r = readAfter(fd, 3, 6, false);
      EXPECT_EQ(r.result, 6);
      lo = std::min<int>(lo, r.sample.z);
      hi = std::max<int>(hi, r.sample.z);
    }
    return hi - lo;
  };
  int narrow = spread(25);
  int wide = spread(1500);
  EXPECT_LE(narrow, 32) << "parked, at 25 Hz the readings barely move";
  EXPECT_GE(wide, 3 * 16) << "at 1500 Hz the sensor's noise shows";
}

}  // namespace
