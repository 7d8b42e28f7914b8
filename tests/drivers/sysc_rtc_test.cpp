// The system controller's registers through /dev/sysc, and the clock through /dev/rtc.
#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "core/common.h"
#include "host_support/io_board.h"
#include "platform/platform.h"

namespace {

using testing_board::IoBoardTest;

class Sysc : public IoBoardTest {
 protected:
  void SetUp() override {
    IoBoardTest::SetUp();
    fd = plat::open("/dev/sysc", O_RDWR);
    ASSERT_GE(fd, 0);
  }
  void TearDown() override {
    if (fd >= 0) plat::close(fd);
    IoBoardTest::TearDown();
  }
  int fd = -1;
};

TEST_F(Sysc, PositionAndWidthChecks) {
  uint8_t buf[4];
  ASSERT_EQ(plat::lseek(fd, 0x6c, SEEK_SET), 0x6c);
  EXPECT_EQ(plat::read(fd, buf, 4), 4);
  ASSERT_EQ(plat::lseek(fd, 0x6d, SEEK_SET), 0x6d);
  EXPECT_EQ(plat::read(fd, buf, 4), -1);
  EXPECT_EQ(errno, EINVAL);
  ASSERT_EQ(plat::lseek(fd, 0x10, SEEK_SET), 0x10);
  EXPECT_EQ(plat::read(fd, buf, 3), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(plat::lseek(fd, 0, SEEK_CUR), 0x10);  // unchanged
  EXPECT_EQ(plat::read(fd, buf, 2), 2);
  EXPECT_EQ(plat::read(fd, buf, 1), 1);
  EXPECT_EQ(plat::lseek(fd, 0, SEEK_CUR), 0x13);
  // A register of 2 or 4 bytes starts at a multiple of its width.
  for (off_t at : {0x11, 0x12, 0x13}) {
    ASSERT_EQ(plat::lseek(fd, at, SEEK_SET), at);
    EXPECT_EQ(plat::read(fd, buf, 4), -1) << at;
    EXPECT_EQ(errno, EINVAL);
  }
  ASSERT_EQ(plat::lseek(fd, 0x13, SEEK_SET), 0x13);
  EXPECT_EQ(plat::read(fd, buf, 2), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(plat::read(fd, buf, 1), 1);
  ASSERT_EQ(plat::lseek(fd, 0x12, SEEK_SET), 0x12);
  EXPECT_EQ(plat::read(fd, buf, 2), 2);
  EXPECT_EQ(plat::read(fd, sim::kernel::badUserPointer(), 4), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(plat::lseek(fd, -1, SEEK_SET), -1);
}

TEST_F(Sysc, ConsecutiveReadsWalkTheRegistersAndWritesLandLittleEndian) {
  const uint8_t value[4] = {0x11, 0x22, 0x33, 0x44};
  ASSERT_EQ(plat::lseek(fd, 0x20, SEEK_SET), 0x20);
  ASSERT_EQ(plat::write(fd, value, 4), 4);
  EXPECT_EQ(io->sysc().read(0x20, 4), 0x44332211u);
  io->sysc().write(0x24, 4, 0xa1b2c3d4u);
  ASSERT_EQ(plat::lseek(fd, 0x20, SEEK_SET), 0x20);
  uint32_t first = 0, second = 0;
  ASSERT_EQ(plat::read(fd, &first, 4), 4);
  ASSERT_EQ(plat::read(fd, &second, 4), 4);
  EXPECT_EQ(first, 0x44332211u);
  EXPECT_EQ(second, 0xa1b2c3d4u);
}

TEST_F(Sysc, OneOpenerAtATimeAndTheProgramsStatusReader) {
  uint32_t id = 0;
  EXPECT_EQ(get_sys_stat(0, &id), -3);  // the test holds the device
  plat::close(fd);
  fd = -1;
  EXPECT_EQ(get_sys_stat(0, &id), 0);
  EXPECT_EQ(id, sim::SyscModel::kChipId);
  EXPECT_EQ(get_sys_stat(0x6e, &id), -20);  // would run past the block
  // Read-only: a write is refused by the file's mode.
  int ro = plat::open("/dev/sysc", O_RDONLY);
  EXPECT_EQ(plat::write(ro, &id, 4), -1);
  EXPECT_EQ(errno, EBADF);
  plat::close(ro);
}

struct RtcTime {
  int sec, min, hour, mday, mon, year, wday, yday, isdst;
};
constexpr unsigned long RTC_RD = 0x80247009, RTC_SET = 0x4024700a;

class Rtc : public IoBoardTest {
 protected:
  void SetUp() override {
    IoBoardTest::SetUp();
    fd = plat::open("/dev/rtc", O_RDWR);
    ASSERT_GE(fd, 0);
  }
  void TearDown() override {
    if (fd >= 0) plat::close(fd);
    IoBoardTest::TearDown();
  }
  RtcTime get() {
    RtcTime t{};
    EXPECT_EQ(plat::ioctl(fd, RTC_RD, &t), 0);
    return t;
  }
  int fd = -1;
};

TEST_F(Rtc, YearsBefore2000AreRefusedAndTheChipKeepsItsTime) {
  RtcTime t{59, 59, 23, 31, 11, 99, 5, 0, 0};
  std::string before = sim::kernel::logText();
  EXPECT_EQ(plat::ioctl(fd, RTC_SET, &t), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(get().year, 0);  // a fresh chip, untouched
  EXPECT_EQ(sim::kernel::logText(), before);  // refused without a trace

  t = {0, 0, 0, 1, 0, 100, 6, 0, 0};
  ASSERT_EQ(plat::ioctl(fd, RTC_SET, &t), 0);
  EXPECT_NE(sim::kernel::logText().find("[RTC]: Set time of RTC successfully"), std::string::npos);
  auto f = sim::Ds1337Model::fieldsOf(io->rtc().chipSeconds());
  EXPECT_EQ(f.year, 2000);
  EXPECT_EQ(f.month, 1);
  EXPECT_EQ(f.day, 1);
  std::string afterSet = sim::kernel::logText();
  RtcTime read = get();
  EXPECT_EQ(read.year, 100);
  EXPECT_EQ(read.mday, 1);
  EXPECT_EQ(sim::kernel::logText(), afterSet);  // a good read prints nothing
}

TEST_F(Rtc, TheChipCountsAndSurvivesARebootOfTheBoard) {
  RtcTime t{30, 59, 23, 28, 1, 124, 3, 0, 0};  // 2024-02-28 23:59:30
  ASSERT_EQ(plat::ioctl(fd, RTC_SET, &t), 0);
  plat::close(fd);
  fd = -1;
  ticks(4500);  // 45 s, the board's power off or on
  boot();
  fd = plat::open("/dev/rtc", O_RDWR);
  RtcTime read = get();
  EXPECT_EQ(read.year, 124);
  EXPECT_EQ(read.mon, 1);
  EXPECT_EQ(read.mday, 29);  // a leap year
  EXPECT_EQ(read.hour, 0);
  EXPECT_EQ(read.min, 0);
  EXPECT_EQ(read.sec, 15);
  EXPECT_EQ(read.wday, 4);
}

TEST_F(Rtc, ChipFailuresReachTheCallerWithTheDriversTrace) {
  io->rtc().failReads(1);
  RtcTime t{};
  EXPECT_EQ(plat::ioctl(fd, RTC_RD, &t), -1);
  EXPECT_EQ(errno, EREMOTEIO);
  EXPECT_NE(sim::kernel::logText().find("[RTC]: failed to ds1337_do_command(DS1337_GET_DATE)"), std::string::npos);
  io->rtc().failWrites(1);
  t = {0, 0, 12, 15, 5, 125, 0, 0, 0};
  EXPECT_EQ(plat::ioctl(fd, RTC_SET, &t), -1);
  EXPECT_NE(sim::kernel::logText().find("[RTC]: failed to ds1337_do_command(DS1337_SET_DATE)"), std::string::npos);
  EXPECT_EQ(get().year, 0);
  EXPECT_EQ(plat::ioctl(fd, RTC_RD, sim::kernel::badUserPointer()), -1);
  EXPECT_EQ(errno, EFAULT);
}

TEST_F(Rtc, OneOpenerAndTheLayerChecksTheRecord) {
  EXPECT_EQ(plat::open("/dev/rtc", O_RDWR), -1);
  EXPECT_EQ(errno, EBUSY);
  RtcTime t{0, 0, 0, 31, 1, 110, 0, 0, 0};  // 31 February
  EXPECT_EQ(plat::ioctl(fd, RTC_SET, &t), -1);
  EXPECT_EQ(errno, EINVAL);
  plat::close(fd);
  fd = -1;
  EXPECT_EQ(sim::kernel::rmmod("tq90ra_rtc"), 0);
  EXPECT_EQ(plat::open("/dev/rtc", O_RDWR), -1);
  EXPECT_NE(sim::kernel::logText().find("[RTC]: Unregister RTC driver"), std::string::npos);
}

TEST_F(Rtc, WithoutTheChipOnTheBusTheClockCannotBeRead) {
  // Taken off the bus after the driver found it: the transfer gets no acknowledge.
  sim::kernel::detachI2cDevice(sim::Ds1337Model::kBus, sim::Ds1337Model::kAddress);
  RtcTime t{};
  EXPECT_EQ(plat::ioctl(fd, RTC_RD, &t), -1);
  EXPECT_EQ(errno, EREMOTEIO);
  plat::close(fd);
  fd = -1;
  // Not there when the driver probes: no client, so the driver has no clock for bus 0.
  ASSERT_EQ(sim::kernel::rmmod("tq90ra_rtc"), 0);
  ASSERT_EQ(sim::kernel::rmmod("ds1337"), 0);
  ASSERT_EQ(sim::kernel::insmod("ds1337"), 0);
  ASSERT_EQ(sim::kernel::insmod("tq90ra_rtc"), 0);
  fd = plat::open("/dev/rtc", O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(plat::ioctl(fd, RTC_RD, &t), -1);
  EXPECT_EQ(errno, ENODEV);
  // Back on the bus, a driver loaded now finds it again.
  plat::close(fd);
  fd = -1;
  sim::kernel::attachI2cDevice(sim::Ds1337Model::kBus, sim::Ds1337Model::kAddress,
                               std::shared_ptr<sim::Ds1337Model>(&io->rtc(), [](sim::Ds1337Model*) {}));
  ASSERT_EQ(sim::kernel::rmmod("tq90ra_rtc"), 0);
  ASSERT_EQ(sim::kernel::rmmod("ds1337"), 0);
  ASSERT_EQ(sim::kernel::insmod("ds1337"), 0);
  ASSERT_EQ(sim::kernel::insmod("tq90ra_rtc"), 0);
  fd = plat::open("/dev/rtc", O_RDWR);
  EXPECT_EQ(get().mday, 1);
}

}  // namespace
