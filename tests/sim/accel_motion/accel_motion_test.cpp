#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "board/gsensor/accel_motion.h"

namespace {

using sim::AccelMotion;
using sim::AccelSample;
using sim::AccelShock;

constexpr int64_t kMs = 1000 * 1000;
constexpr int64_t kSampleNs = 30 * kMs;

struct Stats {
  double mean[3] = {};
  double sd[3] = {};
  int min[3] = {32767, 32767, 32767};
  int max[3] = {-32768, -32768, -32768};
};

Stats stats(AccelMotion& m, int64_t fromNs, int64_t toNs) {
  Stats s;
  double sum[3] = {}, sq[3] = {};
  int n = 0;
  for (int64_t t = fromNs; t < toNs; t += kSampleNs, ++n) {
    AccelSample a = m.sample(t);
    int v[3] = {a.x, a.y, a.z};
    for (int i = 0; i < 3; ++i) {
      sum[i] += v[i];
      sq[i] += static_cast<double>(v[i]) * v[i];
      s.min[i] = std::min(s.min[i], v[i]);
      s.max[i] = std::max(s.max[i], v[i]);
    }
  }
  for (int i = 0; i < 3; ++i) {
    s.mean[i] = sum[i] / n;
    s.sd[i] = std::sqrt(std::max(0.0, sq[i] / n - s.mean[i] * s.mean[i]));
  }
  return s;
}

AccelMotion parked(int bandwidth = 25) {
  AccelMotion::Options o;
  o.driving = false;
  o.bandwidthHz = bandwidth;
  return AccelMotion(o);
}

TEST(AccelMotion, ParkedItReadsGravityOnZAndLittleElse) {
  AccelMotion m = parked();
  Stats s = stats(m, 0, 60LL * 1000 * kMs);
  EXPECT_NEAR(s.mean[2], 1000, 3);
  EXPECT_NEAR(s.mean[0], 0, 35);  // the car may stand on a slight slope
  EXPECT_NEAR(s.mean[1], 0, 1);
  for (int i = 0; i < 3; ++i) EXPECT_LT(s.sd[i], 5) << i;

  AccelMotion wide = parked(1500);
  Stats w = stats(wide, 0, 60LL * 1000 * kMs);
  EXPECT_GT(w.sd[2], 3 * s.sd[2]) << "a wider bandwidth lets more noise through";
}

TEST(AccelMotion, DrivingBrakesAcceleratesAndCornersWithinOrdinaryLimits) {
  AccelMotion m;
  double minLong = 0, maxLong = 0, maxLat = 0, steepest = 0;
  double previous = 0;
  int movingSamples = 0, samples = 0;
  for (int64_t t = 0; t < 20LL * 60 * 1000 * kMs; t += kSampleNs, ++samples) {
    double a = m.longitudinal(t);
    minLong = std::min(minLong, a);
    maxLong = std::max(maxLong, a);
    maxLat = std::max(maxLat, std::abs(m.lateral(t)));
    if (t > 0) steepest = std::max(steepest, std::abs(a - previous) / 0.030);
    previous = a;
    movingSamples += m.moving(t);
  }
  EXPECT_LT(minLong, -250) << "some firm braking";
  EXPECT_GT(minLong, -360);
  EXPECT_GT(maxLong, 150);
  EXPECT_GT(maxLat, 200) << "some brisk bends";
  EXPECT_LT(maxLat, 310);
  EXPECT_LE(steepest, 300.5) << "milli-g per second: no manoeuvre is abrupt";
  EXPECT_GT(movingSamples, samples / 2);
  EXPECT_LT(movingSamples, samples);

  AccelMotion again;
  Stats s = stats(again, 0, 10LL * 60 * 1000 * kMs);
  EXPECT_NEAR(s.mean[2], 1000, 15);
  EXPECT_GT(s.sd[2], 15) << "the road is felt";
  EXPECT_LT(s.max[2], 1400);
  EXPECT_GT(s.min[2], 600);
}

TEST(AccelMotion, TheSameSeedGivesTheSameDriveAndAnotherSeedAnother) {
  AccelMotion::Options o;
  o.seed = 7;
  AccelMotion a(o), b(o);
  o.seed = 8;
  AccelMotion c(o);
  int differ = 0;
  for (int64_t t = 0; t < 60LL * 1000 * kMs; t += kSampleNs) {
    AccelSample sa = a.sample(t), sb = b.sample(t), sc = c.sample(t);
    ASSERT_EQ(sa.x, sb.x);
    ASSERT_EQ(sa.z, sb.z);
    differ += sa.z != sc.z;
  }
  EXPECT_GT(differ, 1000);
}

TEST(AccelMotion, AShockIsAHalfSineOnTopOfTheMotionAndClipsAtTheRange) {
  // A long shock, which the sensor's low-pass (time constant 6.4 ms at 25 Hz) only delays.
  constexpr double kTau = 1.0 / (2 * M_PI * 25);
  AccelMotion m = parked();
  m.sample(0);
  m.addShock({1000 * kMs, 2500, -1200, 600, 1000});
  AccelSample before = m.sample(999 * kMs);
  AccelSample peak = m.sample(1506 * kMs);
  AccelSample quarter = m.sample(1750 * kMs);
  AccelSample after = m.sample(2100 * kMs);
  EXPECT_NEAR(before.x, 0, 40);
  EXPECT_NEAR(peak.x - before.x, 2500, 15);
  EXPECT_NEAR(peak.y, -1200, 15);
  EXPECT_NEAR(peak.z, 1600, 15);
  EXPECT_NEAR(quarter.x - before.x, 2500 * std::sin(M_PI * (0.75 - kTau)), 15);
  EXPECT_NEAR(after.x, before.x, 15);

  AccelMotion::Options o;
  o.driving = false;
  o.rangeMg = 2000;
  AccelMotion narrow(o);
  narrow.addShock({0, 9000, -9000, 9000, AccelMotion::kDefaultShockMs});
  AccelSample clipped = narrow.sample(AccelMotion::kDefaultShockMs * kMs / 2);
  EXPECT_EQ(clipped.x, 2000);
  EXPECT_EQ(clipped.y, -2000);
  EXPECT_EQ(clipped.z, 2000);
}

TEST(AccelMotion, TheBandwidthRoundsOffAShortKnockAndDrawsItOut) {
  // 10 ms of 2000 milli-g: the widest bandwidth passes it, the narrowest halves it and lets it
  // die away over a few time constants after it ended.
  auto knock = [](int bandwidth, double* peak, double* tail) {
    AccelMotion m = parked(bandwidth);
    m.sample(0);
    double base = m.sample(1000 * kMs).x;
    m.addShock({1000 * kMs, 2000, 0, 0, 10});
    *peak = 0;
    for (int64_t t = 1000 * kMs; t < 1020 * kMs; t += kMs / 4) *peak = std::max(*peak, m.sample(t).x - base);
    *tail = m.sample(1020 * kMs).x - base;
  };
  double widePeak, wideTail, narrowPeak, narrowTail;
  knock(1500, &widePeak, &wideTail);
  knock(25, &narrowPeak, &narrowTail);
  EXPECT_GT(widePeak, 1900);
  EXPECT_NEAR(wideTail, 0, 60) << "gone at once, within the noise of the wide bandwidth";
  EXPECT_GT(narrowPeak, 850);
  EXPECT_LT(narrowPeak, 1150);
  EXPECT_GT(narrowTail, 150) << "still there 10 ms after the knock";
}

TEST(AccelMotion, ShockActionWords) {
  AccelShock s;
  std::string error;
  ASSERT_TRUE(sim::parseShockAction({"shock", "2500", "0", "-300"}, &s, &error)) << error;
  EXPECT_EQ(s.peakX, 2500);
  EXPECT_EQ(s.peakZ, -300);
  EXPECT_EQ(s.durationMs, AccelMotion::kDefaultShockMs);
  ASSERT_TRUE(sim::parseShockAction({"shock", "0", "800", "0", "350"}, &s, &error));
  EXPECT_EQ(s.durationMs, 350);
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"shock"}, {"shock", "1", "2"}, {"shock", "1", "2", "3", "4", "5"}, {"shock", "1g", "0", "0"},
           {"shock", "0", "0", "99999"}, {"shock", "1", "2", "3", "0"}, {"shock", "", "2", "3"}}) {
    EXPECT_FALSE(sim::parseShockAction(bad, &s, &error)) << bad.size();
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
