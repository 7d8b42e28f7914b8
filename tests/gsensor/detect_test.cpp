#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

#include "gsensor/gsnr_detect.h"
#include "support/test_board.h"

namespace {

using Sample = std::array<int16_t, GSNR_AXES>;
constexpr int16_t kLevel0[GSNR_AXES] = {600, 600, 800};

// Feeds samples 1..n (sample 1 is the start-up sample, which only fills the window) and
// returns the number of the first sample at which an axis fired, with that axis; 0 when none.
struct Firing {
  int sample = 0;
  int axis = -1;
};

Firing firstFiring(GSNR_DETECTOR* d, int n, const std::function<Sample(int)>& signal) {
  Sample first = signal(1);
  GsnrDetectorFirstSample(d, first.data());
  for (int k = 2; k <= n; ++k) {
    Sample s = signal(k);
    int axis = GsnrDetect(d, s.data());
    if (axis >= 0) return {k, axis};
  }
  return {};
}

// Alternating +-amplitude on one axis: every leaving value lies the full amplitude away from
// the comparison average, so the axis fires at the earliest sample it can.
std::function<Sample(int)> alternating(int axis, int16_t amplitude) {
  return [=](int k) {
    Sample s = {0, 0, 1000};
    s[axis] = static_cast<int16_t>(s[axis] + ((k % 2) ? amplitude : -amplitude));
    return s;
  };
}

GSNR_DETECTOR detector(const int16_t thresholds[GSNR_AXES] = kLevel0) {
  GSNR_DETECTOR d;
  GsnrDetectorInit(&d, GSNR_DEFAULT_WINDOW, thresholds);
  return d;
}

TEST(GsnrDetect, EachAxisFiresAtTheEarliestAfterItsWindowAndTheComparisonBufferFill) {
  struct Case {
    int axis;
    int sample;
    unsigned count;
  };
  for (Case c : {Case{GSNR_X, 37, 4}, Case{GSNR_Y, 43, 7}, Case{GSNR_Z, 33, 2}}) {
    GSNR_DETECTOR d = detector();
    Firing f = firstFiring(&d, 200, alternating(c.axis, 1500));
    EXPECT_EQ(f.axis, c.axis);
    EXPECT_EQ(f.sample, c.sample) << "axis " << c.axis;
    EXPECT_EQ(d.detectTriggerCount[c.axis], c.count);
  }
}

TEST(GsnrDetect, AQuietSignalOrAStepTheAverageAbsorbsNeverFires) {
  GSNR_DETECTOR d = detector();
  Firing quiet = firstFiring(&d, 2000, [](int k) { return Sample{int16_t(k % 7), int16_t(-(k % 5)), 1000}; });
  EXPECT_EQ(quiet.sample, 0);

  // A slow lean of 3 mg per sample stays far below every threshold.
  GSNR_DETECTOR slow = detector();
  Firing lean = firstFiring(&slow, 300, [](int k) { return Sample{int16_t(3 * k), 0, 1000}; });
  EXPECT_EQ(lean.sample, 0);
}

TEST(GsnrDetect, ThresholdZeroSwitchesAnAxisOffAndFreezesItsCount) {
  const int16_t zOff[GSNR_AXES] = {600, 600, 0};
  GSNR_DETECTOR d = detector(zOff);
  d.detectTriggerCount[GSNR_Z] = 1;
  Firing f = firstFiring(&d, 500, alternating(GSNR_Z, 5000 - 1000 - 1));
  EXPECT_EQ(f.sample, 0);
  EXPECT_EQ(d.detectTriggerCount[GSNR_Z], 1);
}

TEST(GsnrDetect, ADeviationEqualToTheThresholdCountsAndOneBelowResets) {
  // Alternating +-a around 0 puts every leaving value exactly a away from an average of 0.
  const int16_t z200[GSNR_AXES] = {0, 0, 200};
  GSNR_DETECTOR equal = detector(z200);
  EXPECT_EQ(firstFiring(&equal, 100, alternating(GSNR_Z, 200)).sample, 33);

  GSNR_DETECTOR below = detector(z200);
  EXPECT_EQ(firstFiring(&below, 300, alternating(GSNR_Z, 199)).sample, 0);
  EXPECT_EQ(below.detectTriggerCount[GSNR_Z], 0);
}

TEST(GsnrDetect, ConsecutiveCountsResetOnAQuietValue) {
  // X over threshold on three leaving values, quiet on the fourth, and so on: never four in a row.
  const int16_t xOnly[GSNR_AXES] = {200, 0, 0};
  GSNR_DETECTOR d = detector(xOnly);
  static constexpr int16_t kCycle[4] = {900, -450, -450, 0};  // averages to 0
  Firing f = firstFiring(&d, 400, [](int k) { return Sample{kCycle[k % 4], 0, 0}; });
  EXPECT_EQ(f.sample, 0);
}

TEST(GsnrDetect, TheFirstAxisToFireEndsTheTestsForThatSample) {
  // X and Z deviate together from the start: Z, with the shorter window, fires first.
  GSNR_DETECTOR d = detector();
  Firing f = firstFiring(&d, 200, [](int k) {
    int16_t v = (k % 2) ? 1500 : -1500;
    return Sample{v, 0, v};
  });
  EXPECT_EQ(f.axis, GSNR_Z);
  EXPECT_EQ(f.sample, 33);

  // Z joins late, so that X and Z are both over threshold when X fires: X, tested first,
  // wins and Z's count is not advanced by that sample.
  GSNR_DETECTOR both = detector();
  Firing g = firstFiring(&both, 200, [](int k) {
    int16_t v = (k % 2) ? 1500 : -1500;
    return Sample{v, 0, int16_t(k > 33 ? v : 0)};
  });
  EXPECT_EQ(g.axis, GSNR_X);
  EXPECT_EQ(g.sample, 37);
  EXPECT_EQ(both.detectTriggerCount[GSNR_Z], 1) << "Z counted at sample 36, not at 37";
}

TEST(GsnrDetect, NoAxisFiresDuringThe30SamplesAfterATrigger) {
  GSNR_DETECTOR d = detector();
  auto signal = alternating(GSNR_Z, 1500);
  Firing f = firstFiring(&d, 200, signal);
  ASSERT_EQ(f.sample, 33);
  GsnrDetectorRestart(&d);
  int next = 0;
  for (int k = 34; k < 300 && next == 0; ++k) {
    Sample s = signal(k);
    if (GsnrDetect(&d, s.data()) >= 0) next = k;
  }
  // The window stays full, so only the comparison buffer refills: 30 values, then 2 over.
  EXPECT_EQ(next - f.sample, 31);
}

TEST(GsnrThresholds, TableRowsBySimpleOrPerAxisLevel) {
  int16_t t[GSNR_AXES];
  GsnrThresholds({9, 4, 4, 4}, t);  // the default settings: simple level 4
  EXPECT_EQ(t[GSNR_X], 200);
  EXPECT_EQ(t[GSNR_Y], 200);
  EXPECT_EQ(t[GSNR_Z], 400);
  GsnrThresholds({0, 0, 3, 8}, t);
  EXPECT_EQ(t[GSNR_X], 600);
  EXPECT_EQ(t[GSNR_Y], 300);
  EXPECT_EQ(t[GSNR_Z], 200);
  GsnrThresholds({1 | (2 << 1) | 0x100, 0, 0, 0}, t);  // only bits 1..4 give the level
  EXPECT_EQ(t[GSNR_Z], 600);
}

TEST(GsnrThresholds, LevelsOutsideTheTableUseItsNearestRowAndSaySo) {
  testing_board::ConsoleCapture console;
  int16_t t[GSNR_AXES];
  GsnrThresholds({1 | (15 << 1), 0, 0, 0}, t);
  EXPECT_EQ(t[GSNR_X], 200);
  EXPECT_EQ(t[GSNR_Z], 200);
  GsnrThresholds({0, -3, 9, 32767}, t);
  EXPECT_EQ(t[GSNR_X], 600);
  EXPECT_EQ(t[GSNR_Y], 200);
  EXPECT_EQ(t[GSNR_Z], 200);
  GsnrThresholds({0, -32768, 0, 0}, t);
  EXPECT_EQ(t[GSNR_X], 600);
  std::string out = console.text();
  EXPECT_NE(out.find("G-Sensor level 15 is outside the table, row 8 used"), std::string::npos) << out;
  EXPECT_NE(out.find("G-Sensor level -3 is outside the table, row 0 used"), std::string::npos) << out;
  EXPECT_NE(out.find("G-Sensor level 32767 is outside the table, row 8 used"), std::string::npos) << out;
}

TEST(GsnrLogPeak, OneMessagePerSecondCarryingTheFarthestSampleOfTheSecondBefore) {
  GSNR_LOG_PEAK p = {};
  int16_t logged[GSNR_AXES] = {-1, -1, -1};
  auto take = [&](int16_t x, int16_t y, int16_t z, time_t second) {
    const int16_t s[GSNR_AXES] = {x, y, z};
    return GsnrLogPeakUpdate(&p, s, second, logged);
  };
  ASSERT_TRUE(take(10, 0, 1000, 100));
  EXPECT_EQ(logged[0], 0);
  EXPECT_EQ(logged[2], 0) << "the first message carries the empty peak";
  EXPECT_FALSE(take(-30, 5, 990, 100)) << "a second sample in the same second sends nothing";
  EXPECT_FALSE(take(30, -5, 1010, 100));
  ASSERT_TRUE(take(0, 0, 1000, 101));
  // Against the reference 0: -30 and 30 are equally far, the later one wins; Z 1010 is farthest.
  EXPECT_EQ(logged[0], 30);
  EXPECT_EQ(logged[1], -5);
  EXPECT_EQ(logged[2], 1010);
  // The next second is measured from what was just logged.
  EXPECT_FALSE(take(25, 0, 1009, 101));
  ASSERT_TRUE(take(0, 0, 0, 105)) << "a gap of seconds sends one message, not one per second";
  EXPECT_EQ(logged[0], 0);
  EXPECT_EQ(logged[2], 1000) << "the sample that opened the second counts in it";
}

TEST(GsnrLogPeak, ExtremeValuesDoNotWrapTheDistance) {
  GSNR_LOG_PEAK p = {};
  int16_t logged[GSNR_AXES];
  const int16_t low[GSNR_AXES] = {-20000, 0, 0};
  const int16_t high[GSNR_AXES] = {32767, 0, 0};
  const int16_t near[GSNR_AXES] = {-19000, 0, 0};
  GsnrLogPeakUpdate(&p, low, 1, logged);
  GsnrLogPeakUpdate(&p, low, 2, logged);  // reference -20000
  GsnrLogPeakUpdate(&p, high, 2, logged);
  GsnrLogPeakUpdate(&p, near, 2, logged);
  GsnrLogPeakUpdate(&p, low, 3, logged);
  EXPECT_EQ(logged[0], 32767);
}

TEST(GsnrPeriodic, DueAtTheFirstSampleAPeriodAfterTheStartAndThenAfterEachFiring) {
  GSNR_PERIODIC p = {60, 0, false};
  GsnrPeriodicUpdate(&p, 1000);
  EXPECT_FALSE(p.due);
  GsnrPeriodicUpdate(&p, 1059);
  EXPECT_FALSE(p.due);
  GsnrPeriodicUpdate(&p, 1061);  // no sample in second 1060
  EXPECT_TRUE(p.due);
  p.due = false;
  GsnrPeriodicUpdate(&p, 1120);
  EXPECT_FALSE(p.due) << "the next period counts from the second it fired";
  GsnrPeriodicUpdate(&p, 1121);
  EXPECT_TRUE(p.due);

  GSNR_PERIODIC off = {0, 0, false};
  for (time_t s = 1000; s < 5000; s += 7) GsnrPeriodicUpdate(&off, s);
  EXPECT_FALSE(off.due);
}

}  // namespace
