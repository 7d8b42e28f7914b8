// The clock access and the buzzer and LED patterns on the board's real drivers and chips.
#include <cstdlib>
#include <ctime>

#include "device/buzzer_led.h"
#include "device/rtc.h"
#include "host_support/io_board.h"

namespace {

using testing_board::IoBoardTest;

// Runs a test in a time zone, restoring the one before.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    const char* old = getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

class RtcOnBoard : public IoBoardTest {};

TEST_F(RtcOnBoard, AClockThatWasNeverSetReadsAsJanuaryFirst2009AndKeepsIt) {
  ZoneGuard zone("UTC");
  ticks(372500);  // 1 h 2 min 5 s since the chip was powered
  time_t clock = 0;
  ASSERT_EQ(RtcGetTime(&clock), 0);
  EXPECT_EQ(clock, 1230768000 + 3725);  // 2009-01-01 01:02:05
  auto f = sim::Ds1337Model::fieldsOf(io->rtc().chipSeconds());
  EXPECT_EQ(f.year, 2009);
  EXPECT_EQ(f.month, 1);
  EXPECT_EQ(f.day, 1);
  EXPECT_EQ(f.hour, 1);
}

TEST_F(RtcOnBoard, LocalTimeRoundTripsThroughTheChip) {
  ZoneGuard zone("JST-9");
  time_t when = 1767225600 + 12345;  // 2026-01-01 03:25:45 UTC, 12:25:45 in the zone
  ASSERT_EQ(RtcSetTime(when), 0);
  auto f = sim::Ds1337Model::fieldsOf(io->rtc().chipSeconds());
  EXPECT_EQ(f.hour, 12);  // the chip keeps local time
  time_t read = 0;
  ASSERT_EQ(RtcGetTime(&read), 0);
  EXPECT_EQ(read, when);
  EXPECT_EQ(RtcSetTime(915148799), -1);  // 1999-12-31 23:59:59: the driver refuses the year
}

TEST_F(RtcOnBoard, AFirstFailedReadIsRetriedAfter20ms) {
  ZoneGuard zone("UTC");
  ASSERT_EQ(RtcSetTime(1767225600), 0);
  io->rtc().failReads(1);
  time_t read = 0;
  auto result = std::async(std::launch::async, [&] { return RtcGetTime(&read); });
  ASSERT_TRUE(sleeping(1));
  EXPECT_TRUE(stillWaiting(result));
  ticks(2);
  EXPECT_EQ(result.get(), 0);
  EXPECT_EQ(read, 1767225600 + 0);  // the chip's time at the second reading, 20 ms later
}

TEST_F(RtcOnBoard, TwoFailedReadsReportTheFailureAndWriteNothingBack) {
  io->rtc().failReads(2);
  time_t read = 12345;
  auto result = std::async(std::launch::async, [&] { return RtcGetTime(&read); });
  ASSERT_TRUE(sleeping(1));
  ticks(2);
  EXPECT_EQ(result.get(), -1);
  EXPECT_EQ(read, 12345);  // untouched
  // A never-set chip stays unset: nothing was written into it from an empty record.
  EXPECT_EQ(sim::Ds1337Model::fieldsOf(io->rtc().chipSeconds()).year, 1900);
}

TEST_F(RtcOnBoard, NoClockDeviceIsAFailureOfBothOperations) {
  ASSERT_EQ(sim::kernel::rmmod("tq90ra_rtc"), 0);
  time_t read = 7;
  EXPECT_EQ(RtcGetTime(&read), -1);
  EXPECT_EQ(read, 7);
  EXPECT_EQ(RtcSetTime(1767225600), -1);
}

class PatternsOnBoard : public IoBoardTest {
 protected:
  void SetUp() override {
    IoBoardTest::SetUp();
    ASSERT_EQ(BuzzerLedOpen(), 0);
    BuzzerLedCtrl(BZLED_PRE_LED_STEADY);
  }
  void TearDown() override {
    BuzzerLedClose();
    IoBoardTest::TearDown();
  }
};

TEST_F(PatternsOnBoard, TheTriggerBeepSoundsOneSecondOverTheFlickeringLed) {
  ASSERT_EQ(BuzzerLedCtrl(BZLED_POST), 0);
  ASSERT_EQ(BuzzerLedCtrl(BZLED_TRIGGER), 0);
  EXPECT_TRUE(io->signals().buzzer());
  int ledChanges = 0;
  bool led = io->signals().led(1);
  for (int tick = 1; tick <= 40; ++tick) {
    io->events().advance(25 * sim::kNsPerMs);
    // On for 40 ticks (one second), the last of them the off change.
    EXPECT_EQ(io->signals().buzzer(), tick < 40) << "tick " << tick;
    if (io->signals().led(1) != led) ++ledChanges;
    led = io->signals().led(1);
  }
  ticks(100);
  EXPECT_FALSE(io->signals().buzzer());
  EXPECT_EQ(io->signals().buzzerOnsets(), 1);
  EXPECT_GT(ledChanges, 10);
  EXPECT_EQ(BzLedStatus.load(), BZLED_POST);
  std::vector<std::string> shown = io->signals().patterns();
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[shown.size() - 2], "post");
  EXPECT_EQ(shown.back(), "trigger");
}

TEST_F(PatternsOnBoard, PreShowsLedOneSteadyOrBlinkingByCodes12And13) {
  ASSERT_EQ(BuzzerLedCtrl(BZLED_PRE), 0);
  EXPECT_TRUE(io->signals().led(1));
  EXPECT_FALSE(io->signals().led(2));
  ASSERT_EQ(BuzzerLedCtrl(BZLED_PRE_LED_BLINK), 0);
  EXPECT_FALSE(io->signals().led(1));  // from off
  ticks(95);                           // 36 ticks off, then 4 on
  EXPECT_TRUE(io->signals().led(1));
  EXPECT_EQ(io->signals().state(1), "blink 100/900 ms from off");
}

}  // namespace
