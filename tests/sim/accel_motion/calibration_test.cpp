// The car's motion against the recorder's real shock detection with its default settings:
// ordinary driving must never trigger, a shock must.
#include <gtest/gtest.h>

#include "board/gsensor/accel_motion.h"
#include "config/settings.h"
#include "gsensor/gsnr_detect.h"

namespace {

using sim::AccelMotion;
using sim::AccelSample;
using sim::AccelShock;

constexpr int64_t kMs = 1000 * 1000;
constexpr int64_t kSampleNs = 30 * kMs;  // the driver's default read wait

struct Detection {
  GSNR_DETECTOR detector;
  std::vector<std::pair<int64_t, int>> triggers;  // time, axis

  explicit Detection(double thresholdScale = 1.0) {
    RecorderSettings settings;
    SetDefaultParameter(&settings);
    int16_t thresholds[GSNR_AXES];
    GsnrThresholds({settings.ACCSEN, settings.ACCSENX, settings.ACCSENY, settings.ACCSENZ}, thresholds);
    for (int16_t& t : thresholds) t = static_cast<int16_t>(t * thresholdScale);
    GsnrDetectorInit(&detector, GSNR_DEFAULT_WINDOW, thresholds);
  }

  void run(AccelMotion& motion, int64_t fromNs, int64_t toNs) {
    bool first = triggers.empty() && fromNs == 0;
    for (int64_t t = fromNs; t < toNs; t += kSampleNs) {
      AccelSample a = motion.sample(t);
      const int16_t s[GSNR_AXES] = {a.x, a.y, a.z};
      if (first) {
        GsnrDetectorFirstSample(&detector, s);
        first = false;
        continue;
      }
      int axis = GsnrDetect(&detector, s);
      if (axis >= 0) {
        triggers.emplace_back(t, axis);
        GsnrDetectorRestart(&detector);
      }
    }
  }
};

AccelMotion drive(uint64_t seed) {
  AccelMotion::Options o;
  o.seed = seed;
  return AccelMotion(o);
}

TEST(AccelCalibration, TenMinutesOfOrdinaryDrivingNeverTrigger) {
  for (uint64_t seed : {1, 2, 3}) {
    AccelMotion motion = drive(seed);
    Detection d;
    d.run(motion, 0, 10LL * 60 * 1000 * kMs);
    EXPECT_TRUE(d.triggers.empty()) << "seed " << seed << ": " << d.triggers.size() << " triggers, first on axis "
                                    << d.triggers.front().second << " at " << d.triggers.front().first / kMs << " ms";
  }
}

TEST(AccelCalibration, OrdinaryDrivingKeepsAMarginBelowTheDefaults) {
  // Even at 70 % of the default thresholds and the sensor's widest bandwidth nothing fires.
  AccelMotion::Options o;
  o.seed = 4;
  o.bandwidthHz = 1500;
  AccelMotion wide(o);
  Detection d(0.7);
  d.run(wide, 0, 10LL * 60 * 1000 * kMs);
  EXPECT_TRUE(d.triggers.empty()) << d.triggers.size();
}

TEST(AccelCalibration, ShocksDuringTheDriveTrigger) {
  struct Case {
    int x, y, z, ms;
  };
  const Case cases[] = {
      // Across the car a shock must outlast the seven samples (210 ms) that Y wants in a row:
      // 200 ms ones fire only at some sampling phases.
      {2500, 0, 0, 0}, {0, 2500, 0, 0}, {0, 0, 2500, 0}, {-2500, 0, 0, 0}, {0, -1500, 0, 300},
      {700, 0, 0, 0},  {0, 0, 700, 0},  {400, 0, 0, 300}, {0, 700, 0, 300}, {1500, 1500, -1500, 0},
  };
  for (const Case& c : cases) {
    for (uint64_t seed : {11, 12, 13, 14, 15}) {
      AccelMotion motion = drive(seed);
      Detection d;
      // Somewhere in the drive, at a sample phase that varies with the seed.
      int64_t at = static_cast<int64_t>(100 + 37 * seed) * 1000 * kMs + static_cast<int64_t>(seed * 7) * kMs;
      d.run(motion, 0, at);
      ASSERT_TRUE(d.triggers.empty());
      motion.addShock({at, c.x, c.y, c.z, c.ms});
      d.run(motion, at, at + 2000 * kMs);
      ASSERT_EQ(d.triggers.size(), 1u) << c.x << " " << c.y << " " << c.z << " " << c.ms << " ms, seed " << seed;
      EXPECT_LT(d.triggers[0].first - at, 600 * kMs)
          << "seen while the shock is fresh: " << c.x << " " << c.y << " " << c.z << " " << c.ms << " ms, seed " << seed;
    }
  }
}

TEST(AccelCalibration, ALightKnockStaysBelowTheDefaults) {
  // 150 milli-g for a tenth of a second: a door closing, a kerb taken slowly.
  for (uint64_t seed : {21, 22, 23}) {
    AccelMotion motion = drive(seed);
    Detection d;
    int64_t at = 200LL * 1000 * kMs;
    d.run(motion, 0, at);
    motion.addShock({at, 150, 150, 150, 100});
    d.run(motion, at, at + 2000 * kMs);
    EXPECT_TRUE(d.triggers.empty()) << seed;
  }
}

}  // namespace
