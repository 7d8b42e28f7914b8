// Timer A's blink channels tick by tick, and Timer B's tone.
#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "host_support/io_board.h"
#include "platform/platform.h"

namespace {

using testing_board::IoBoardTest;

struct Blink {
  uint32_t channel, continuous, count, onMs, offMs, start;
};
struct Reg {
  uint32_t unused, offset, value;
};
struct Pwm {
  uint32_t channel, frequency;
};

constexpr unsigned long BLINK = 0x40187805, WRITE_REG = 0x400c7802, READ_REG = 0xc00c7801;
constexpr unsigned long TIMB_START = 0x40087803;

class TimerA : public IoBoardTest {
 protected:
  void SetUp() override {
    IoBoardTest::SetUp();
    fd = plat::open("/dev/tima0", O_RDWR);
    ASSERT_GE(fd, 0);
  }
  void TearDown() override {
    plat::close(fd);
    IoBoardTest::TearDown();
  }
  int blink(Blink b) { return plat::ioctl(fd, BLINK, &b); }
  bool output(int channel) { return channel == 0 ? io->signals().buzzer() : io->signals().led(channel); }
  // The output's level after each of the next n ticks, as a string of 0 and 1.
  std::string trace(int channel, int n) {
    std::string levels;
    for (int i = 0; i < n; ++i) {
      ticks(1);  // Timer A ticks every 25 ms: at most one tick in 10 ms
      if (io->timerA().ticks() != lastTick_) {
        lastTick_ = io->timerA().ticks();
        levels += output(channel) ? '1' : '0';
      } else {
        --i;
      }
    }
    return levels;
  }
  int fd = -1;
  int lastTick_ = 0;
};

std::string repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST_F(TimerA, RunsA25msTickAndBlinksBothLedsFromLoad) {
  EXPECT_EQ(io->timerA().periodNs(), 25 * sim::kNsPerMs);
  Reg r{0, 0x08, 0};
  ASSERT_EQ(plat::ioctl(fd, READ_REG, &r), 0);
  EXPECT_EQ(r.value, 0x85u);
  r = {0, 0x00, 0};
  ASSERT_EQ(plat::ioctl(fd, READ_REG, &r), 0);
  EXPECT_EQ(r.value, 37500u);
  lastTick_ = io->timerA().ticks();
  std::string expected = repeat("0", 19) + repeat("1", 20) + repeat("0", 20) + "1";
  EXPECT_EQ(trace(1, 60), expected);
  EXPECT_FALSE(io->signals().buzzer());
  EXPECT_EQ(io->timerA().acks(), io->timerA().ticks() + 1);  // one at load, one per tick
}

TEST_F(TimerA, CountedBlinkRunsItsOnPeriodsThenStaysOff) {
  ASSERT_EQ(blink({1, 0, 3, 100, 900, 1}), 0);
  EXPECT_TRUE(io->signals().led(1));  // on at once
  std::string period = repeat("1", 3) + repeat("0", 36) + "1";
  // On for 4 ticks (the first of them before any tick), off for 36, three times, then off.
  std::string expected = repeat("1", 3) + repeat("0", 36) + "1" + repeat("1", 3) + repeat("0", 36) + "1" +
                         repeat("1", 3) + repeat("0", 60);
  EXPECT_EQ(trace(1, static_cast<int>(expected.size())), expected);
}

TEST_F(TimerA, ContinuousBuzzerFromOffSoundsOnceEverySecond) {
  ASSERT_EQ(blink({0, 1, 0, 100, 900, 0}), 0);
  EXPECT_FALSE(io->signals().buzzer());
  std::string second = repeat("0", 35) + repeat("1", 4) + "0";
  EXPECT_EQ(trace(0, 120), second + second + second);
  EXPECT_EQ(io->signals().buzzerOnsets(), 3);
}

TEST_F(TimerA, TimesBelowOneTickLastOneTick) {
  ASSERT_EQ(blink({2, 1, 0, 10, 0, 1}), 0);
  EXPECT_EQ(trace(2, 8), "01010101");
}

TEST_F(TimerA, RequestsThatChangeNothing) {
  ASSERT_EQ(blink({1, 0, 0, 0, 0, 1}), 0);  // steady on
  EXPECT_EQ(plat::ioctl(fd, BLINK, uintptr_t{0}), 0);
  EXPECT_EQ(blink({3, 0, 0, 0, 0, 0}), 0);
  EXPECT_EQ(trace(1, 40), repeat("1", 40));
  // A start level other than 0 or 1 lights the LED and touches no other pin.
  ASSERT_EQ(blink({2, 0, 0, 0, 0, 6}), 0);
  EXPECT_TRUE(io->signals().led(2));
  EXPECT_EQ(io->gpio().reg(0x10) & ~0x7u, 0u);
}

TEST_F(TimerA, RequestErrors) {
  EXPECT_EQ(plat::open("/dev/tima0", O_RDWR), -1);
  EXPECT_EQ(errno, EBUSY);
  Reg r{0, 0xb0, 0x1234};
  EXPECT_EQ(plat::ioctl(fd, WRITE_REG, &r), 0);
  r.value = 0;
  EXPECT_EQ(plat::ioctl(fd, READ_REG, &r), 0);
  EXPECT_EQ(r.value, 0x1234u);
  r.offset = 0xb4;  // past the block
  EXPECT_EQ(plat::ioctl(fd, READ_REG, &r), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(plat::ioctl(fd, 0x40186705, &r), -1);
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_EQ(plat::ioctl(fd, 0x40187809, &r), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(plat::ioctl(fd, 0x40087803, &r), 0);
  EXPECT_EQ(plat::ioctl(fd, BLINK, sim::kernel::badUserPointer()), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(blink({1, 0, 0, 0, 0, 1}), 0);  // the semaphore was given back
}

TEST_F(TimerA, UnloadStopsTheTickAndDarkensEveryOutput) {
  ASSERT_EQ(blink({0, 1, 0, 100, 100, 1}), 0);
  plat::close(fd);
  fd = -1;
  ASSERT_EQ(sim::kernel::rmmod("tq90ra_tima"), 0);
  EXPECT_FALSE(io->timerA().running());
  EXPECT_FALSE(io->signals().buzzer() || io->signals().led(1) || io->signals().led(2));
  EXPECT_NE(sim::kernel::logText().find("[TIMA]: tq90ra TIMA module cleanup successfully."), std::string::npos);
}

class TimerB : public IoBoardTest {};

TEST_F(TimerB, LoadStartsThe2300HzToneOnChannelZero) {
  EXPECT_EQ(io->timerB().reg(0x1c), 1328);
  EXPECT_EQ(io->timerB().reg(0x20), 664);
  EXPECT_EQ(io->timerB().reg(0x04), 0x81);
  EXPECT_EQ(io->timerB().reg(0x14), 0);
  EXPECT_EQ(io->timerB().reg(0x00) & 1, 1);
  EXPECT_NEAR(io->timerB().toneHz(0), 2300, 10);
}

TEST_F(TimerB, StartRequestsAndTheirLimits) {
  sim::kernel::makeNode("/dev/timb", 240, 100);
  int fd = plat::open("/dev/timb", O_RDWR);
  ASSERT_GE(fd, 0);
  Pwm pwm{1, 1000};
  ASSERT_EQ(plat::ioctl(fd, TIMB_START, &pwm), 0);
  EXPECT_EQ(io->timerB().reg(0x24), 3061 / 2);  // 1000 us x 65535 / 21406
  EXPECT_EQ(io->timerB().reg(0x1c), 3061);
  EXPECT_EQ(plat::ioctl(fd, TIMB_START, uintptr_t{0}), 0);  // null: channel 0 at 2300 Hz
  EXPECT_EQ(io->timerB().reg(0x1c), 1328);
  pwm = {0, 0};
  EXPECT_EQ(plat::ioctl(fd, TIMB_START, &pwm), -1);  // a frequency of 0 would divide by zero
  pwm = {8, 2300};
  EXPECT_EQ(plat::ioctl(fd, TIMB_START, &pwm), -1);  // no compare register for channel 8
  Reg r{0, 0x1c, 0};
  EXPECT_EQ(plat::ioctl(fd, READ_REG, &r), 0);
  EXPECT_EQ(r.value, 1328u);
  r.offset = 0x40;
  EXPECT_EQ(plat::ioctl(fd, READ_REG, &r), -1);
  plat::close(fd);
  EXPECT_EQ(plat::close(plat::open("/dev/timb", O_RDWR)), 0);
}

}  // namespace
