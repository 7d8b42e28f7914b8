// The GPIO driver through the emulated kernel, opened as the program opens it.
#include <fcntl.h>

#include <cerrno>
#include <cstdint>

#include "host_support/io_board.h"
#include "platform/platform.h"

namespace {

using testing_board::IoBoardTest;

struct Arg {
  uint32_t a0, a1, a2;
};

constexpr unsigned long READ8 = 0xc0046701, READ16 = 0xc0046702, READ32 = 0xc0046703, WRITE32 = 0x40046706;
constexpr unsigned long GET_LEVEL = 0xc0046707, SET_BIT = 0xc0046708, INT_ENABLE = 0xc004670c;
constexpr unsigned long PIN_FUNCTION = 0xc004670d, GET_LEVEL_OR_EDGE = 0xc004670e;

int request(int fd, unsigned long code, uint32_t a0, uint32_t a1 = 0, uint32_t a2 = 0) {
  Arg arg{a0, a1, a2};
  return plat::ioctl(fd, code, &arg);
}

uint32_t read32(int fd, uint32_t offset) {
  Arg arg{offset, 0, 0};
  EXPECT_EQ(plat::ioctl(fd, READ32, &arg), 0);
  return arg.a1;
}

class GpioDriver : public IoBoardTest {
 protected:
  int open(const char* path, int flags = O_RDWR | O_NONBLOCK) { return plat::open(path, flags); }
  std::future<ssize_t> readAsync(int fd) {
    return std::async(std::launch::async, [fd] {
      char unused;
      return plat::read(fd, &unused, 0);
    });
  }
};

TEST_F(GpioDriver, ASecondOpenIsRefusedUntilTheFirstIsClosed) {
  int first = open("/dev/gpio13");
  ASSERT_GE(first, 0);
  EXPECT_EQ(open("/dev/gpio13"), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_NE(sim::kernel::logText().find("gpio (major=241, minor=13) Busy somebody opened"), std::string::npos);
  int other = open("/dev/gpio14");  // each pin is its own device
  EXPECT_GE(other, 0);
  EXPECT_EQ(plat::close(first), 0);
  int again = open("/dev/gpio13");
  EXPECT_GE(again, 0);
  plat::close(again);
  plat::close(other);
  EXPECT_EQ(sim::kernel::rmmod("tq90ra_gpio"), 0);  // every reference was dropped
}

TEST_F(GpioDriver, NonBlockingReadWithoutAnEdgeGivesZeroAfterTenTicks) {
  int fd = open("/dev/gpio13");
  auto result = readAsync(fd);
  ASSERT_TRUE(sleeping(1));
  ticks(9);
  EXPECT_TRUE(stillWaiting(result));
  ticks(1);
  EXPECT_EQ(result.get(), 0);
  plat::close(fd);
}

TEST_F(GpioDriver, AnEdgeCountsAtItsTickEvenWhenTheReaderRunsOnlyLater) {
  // On the board the woken reader runs at once; here its thread may get a processor only after
  // the clock has moved past the read's end. The edge came in time: it is not lost.
  int fd = open("/dev/gpio13");
  for (int round = 0; round < 20; ++round) {
    auto result = readAsync(fd);
    ASSERT_TRUE(waitingInKernel(1));
    ticks(3);
    io->setButton(sim::Tq90raBoard::Button::Rec, true);
    ticks(20);
    EXPECT_EQ(result.get(), 7) << "round " << round;
    io->setButton(sim::Tq90raBoard::Button::Rec, false);
  }
  plat::close(fd);
}

TEST_F(GpioDriver, NonBlockingReadGivesTheTicksLeftWhenTheEdgeComes) {
  int fd = open("/dev/gpio13");
  auto result = readAsync(fd);
  ASSERT_TRUE(sleeping(1));
  ticks(3);
  io->setButton(sim::Tq90raBoard::Button::Rec, true);
  EXPECT_EQ(result.get(), 7);
  // The pin's interrupt is armed only while a read waits: a press now is not remembered.
  io->setButton(sim::Tq90raBoard::Button::Rec, false);
  io->setButton(sim::Tq90raBoard::Button::Rec, true);
  auto next = readAsync(fd);
  ASSERT_TRUE(sleeping(1));
  ticks(10);
  EXPECT_EQ(next.get(), 0);
  plat::close(fd);
}

TEST_F(GpioDriver, AnEdgeAsTheWaitRunsOutStillCounts) {
  // The clock runs on past the read's end in one step: the reader, woken by the edge at 95 ms,
  // runs only when its time is up. The edge is this read's; the next read would forget it.
  int fd = open("/dev/gpio13");
  auto result = readAsync(fd);
  ASSERT_TRUE(sleeping(1));
  io->events().after(95 * sim::kNsPerMs, [this] { io->setButton(sim::Tq90raBoard::Button::Rec, true); });
  ticks(30);
  EXPECT_EQ(result.get(), 1);
  plat::close(fd);
}

TEST_F(GpioDriver, BlockingReadWaitsForTheEdgeAndASignalEndsIt) {
  int fd = open("/dev/gpio14", O_RDWR);
  auto pressed = readAsync(fd);
  ASSERT_TRUE(sleeping(1));
  ticks(500);
  EXPECT_TRUE(stillWaiting(pressed));
  io->setButton(sim::Tq90raBoard::Button::Reset, true);
  EXPECT_EQ(pressed.get(), 1);

  std::promise<pthread_t> self;
  auto interrupted = std::async(std::launch::async, [&] {
    self.set_value(pthread_self());
    char unused;
    ssize_t r = plat::read(fd, &unused, 0);
    return std::make_pair(r, errno);
  });
  ASSERT_TRUE(sim::kernel::interruptSleeper(self.get_future().get()));
  auto [r, error] = interrupted.get();
  EXPECT_EQ(r, -1);
  EXPECT_EQ(error, EINTR);
  plat::close(fd);
}

TEST_F(GpioDriver, ASecondReaderWaitsForTheFirstAndASignalEndsItsWait) {
  int fd = open("/dev/gpio13", O_RDWR);
  auto first = readAsync(fd);
  ASSERT_TRUE(sleeping(1));
  std::promise<pthread_t> self;
  auto second = std::async(std::launch::async, [&] {
    self.set_value(pthread_self());
    char unused;
    ssize_t r = plat::read(fd, &unused, 0);
    return std::make_pair(r, errno);
  });
  ASSERT_TRUE(sleeping(2));
  ASSERT_TRUE(sim::kernel::interruptSleeper(self.get_future().get()));
  EXPECT_EQ(second.get(), std::make_pair(ssize_t{-1}, EINTR));
  io->setButton(sim::Tq90raBoard::Button::Rec, true);
  EXPECT_EQ(first.get(), 1);
  plat::close(fd);
}

TEST_F(GpioDriver, LevelOrEdgeReportsAnEdgeOnceThenTheLevel) {
  int fd = open("/dev/gpio15");
  ASSERT_EQ(request(fd, INT_ENABLE, 8, 7, 1), 0);
  EXPECT_EQ(request(fd, GET_LEVEL_OR_EDGE, 8, 7), 1);
  io->setSupply(false);
  EXPECT_EQ(request(fd, GET_LEVEL_OR_EDGE, 8, 7), -1);
  EXPECT_EQ(errno, EINTR);
  EXPECT_EQ(request(fd, GET_LEVEL_OR_EDGE, 8, 7), 0);
  io->setSupply(true);  // a rising edge does not interrupt
  EXPECT_EQ(request(fd, GET_LEVEL_OR_EDGE, 8, 7), 1);
  plat::close(fd);
}

TEST_F(GpioDriver, InterruptEnableOfABadPortIsRefusedButForgetsTheEdge) {
  int fd = open("/dev/gpio15");
  ASSERT_EQ(request(fd, INT_ENABLE, 8, 7, 1), 0);
  io->setSupply(false);
  EXPECT_EQ(request(fd, INT_ENABLE, 4, 7, 1), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(request(fd, GET_LEVEL_OR_EDGE, 8, 7), 0);  // the level, not the edge
  plat::close(fd);
}

TEST_F(GpioDriver, RequestArgumentLimits) {
  int fd = open("/dev/gpio13");
  // a0 is the register offset or port: 108 is the last 32-bit register, 109 is refused for
  // every request, also those that do not use it.
  EXPECT_EQ(request(fd, READ32, 108), 0);
  EXPECT_EQ(request(fd, READ32, 109), -1);
  EXPECT_EQ(request(fd, GET_LEVEL, 109), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(request(fd, GET_LEVEL, 8, 5), 1);  // released: pulled up

  // SET_BIT changes one bit of 8.
  uint32_t before = read32(fd, 0x18);
  EXPECT_EQ(request(fd, SET_BIT, 0x18, 8, 1), -1);
  EXPECT_EQ(request(fd, SET_BIT, 0x18, 7, 2), -1);
  EXPECT_EQ(request(fd, SET_BIT, 0x18, 7, 1), 0);
  EXPECT_EQ(read32(fd, 0x18), before | 0x80u);

  // Accesses stay inside the block: wider registers at their own alignment; the function
  // register of the last data offset would lie past the end.
  EXPECT_EQ(request(fd, READ16, 0x02), 0);
  EXPECT_EQ(request(fd, READ16, 0x01), -1);
  EXPECT_EQ(request(fd, READ32, 0x02), -1);
  EXPECT_EQ(request(fd, READ8, 0x6b), 0);
  EXPECT_EQ(request(fd, PIN_FUNCTION, 0x68, 0, 1), 0);
  EXPECT_EQ(request(fd, PIN_FUNCTION, 0x6c, 0, 1), -1);
  EXPECT_EQ(request(fd, PIN_FUNCTION, 0x18, 8, 1), -1);
  EXPECT_EQ(request(fd, PIN_FUNCTION, 0x18, 7, 4), -1);

  // Other type bytes and codes, and arguments the driver cannot read.
  EXPECT_EQ(request(fd, 0xc0047801, 0), -1);
  EXPECT_EQ(request(fd, 0xc004670f, 0), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(plat::ioctl(fd, GET_LEVEL, sim::kernel::badUserPointer()), -1);
  EXPECT_EQ(errno, EINVAL);
  plat::close(fd);
}

// The status register is cleared by writing 1: acknowledging one pin must leave another pin's
// pending edge in place (here port 8 pin 0, enabled by a register write and served by nobody).
TEST_F(GpioDriver, AcknowledgingOnePinKeepsAnotherPinsPendingEdge) {
  constexpr unsigned long INT_STATUS = 0xc0046709;
  int fd = open("/dev/gpio13");
  ASSERT_GE(fd, 0);
  Arg type{0x60, read32(fd, 0x60) | 0x100, 0}, polarity{0x64, read32(fd, 0x64) | 0x100, 0};
  Arg enable{0x68, read32(fd, 0x68) | 0x100, 0};
  ASSERT_EQ(plat::ioctl(fd, WRITE32, &type), 0);
  ASSERT_EQ(plat::ioctl(fd, WRITE32, &polarity), 0);
  ASSERT_EQ(plat::ioctl(fd, WRITE32, &enable), 0);
  io->gpio().setInput(8, 0, false);  // a falling edge on the other pin
  ASSERT_EQ(read32(fd, 0x6c) & 0x100u, 0x100u);
  EXPECT_EQ(request(fd, INT_STATUS, 8, 5, 1), 0);
  EXPECT_EQ(read32(fd, 0x6c) & 0x100u, 0x100u) << "the other pin's edge is still pending";
  EXPECT_EQ(request(fd, INT_STATUS, 8, 5, 0), 0);
  EXPECT_EQ(read32(fd, 0x6c) & 0x100u, 0x100u);
  EXPECT_EQ(request(fd, INT_STATUS, 8, 0, 1), 0);
  EXPECT_EQ(read32(fd, 0x6c) & 0x100u, 0u) << "its own acknowledgement clears it";
  plat::close(fd);
}

TEST_F(GpioDriver, RegisterWriteAndReadBackAndTheLoadSetUp) {
  int fd = open("/dev/gpio13");
  // The load table: port C pins 0..3 code 2, 4 and 5 code 3, 6 and 7 code 1; the inputs code 0.
  EXPECT_EQ(read32(fd, 0x14) & 0xffffu, 0x5faau);
  EXPECT_EQ(read32(fd, 0x0c) & 0xffffu, 0x0055u);
  // Interrupts of the three inputs: falling edges (type and polarity 1), left disabled.
  EXPECT_EQ(read32(fd, 0x60), 0xe000u);
  EXPECT_EQ(read32(fd, 0x64), 0xe000u);
  EXPECT_EQ(read32(fd, 0x68), 0u);
  Arg w{0x30, 0xa5, 0};
  EXPECT_EQ(plat::ioctl(fd, WRITE32, &w), 0);
  EXPECT_EQ(read32(fd, 0x30), 0xa5u);
  plat::close(fd);
}

TEST_F(GpioDriver, AFailedLoadUndoesWhatItRegistered) {
  sim::kernel::rmmodAll();
  sim::kernel::failAllocations(2, 1);  // the record, minor 13's cdev, then minor 14's fails
  EXPECT_EQ(sim::kernel::insmod("tq90ra_gpio"), -ENOMEM);
  sim::kernel::failIoremaps(0, 1);
  EXPECT_EQ(sim::kernel::insmod("tq90ra_gpio"), -ENOMEM);
  ASSERT_EQ(sim::kernel::insmod("tq90ra_gpio"), 0);
  int fd = open("/dev/gpio13");
  EXPECT_GE(fd, 0);
  plat::close(fd);
}

TEST_F(GpioDriver, AModuleInUseCannotBeUnloaded) {
  int fd = open("/dev/gpio15");
  EXPECT_EQ(sim::kernel::rmmod("tq90ra_gpio"), -EBUSY);
  plat::close(fd);
  EXPECT_EQ(sim::kernel::rmmod("tq90ra_gpio"), 0);
  EXPECT_EQ(open("/dev/gpio15"), -1);
  EXPECT_EQ(errno, ENXIO);
}

}  // namespace
