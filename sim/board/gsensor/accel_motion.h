// What the board's accelerometer feels in the car: gravity, the car's own braking, accelerating
// and cornering (from the vehicle, sim/board/vehicle/, which the GPS receivers follow too),
// road and engine vibration, and the shocks a scenario adds. Values are milli-g on the sensor's
// axes (X along the car, Y across it, Z up; gravity reads about +1000 on Z).
//
// The model only answers "what does the sensor read at time t"; putting it behind the
// accelerometer's registers on the I2C bus is the bus model's concern. Ordinary driving is
// shaped to stay clear of the recorder's default shock thresholds (limited jerk, vibration well
// below them), and a shock of a few hundred milli-g or more stands out of it.
//
// Deterministic for a seed and a sequence of sample times; times passed in must not go back.
//
// The sensor's bandwidth is a first-order low-pass: it damps vibration above it, lets more noise
// through as it widens, and rounds off and delays short pulses (a 10 ms knock reads about half
// its height at 25 Hz, nearly all of it at 1500 Hz).
//
// Shocks are half-sine pulses, 200 ms long unless given otherwise. Sampled every 30 ms against
// the default thresholds, such a shock fires from about 700 milli-g along the car (X) or up and
// down (Z); across it (Y), whose detection wants seven samples (210 ms) in a row over its
// threshold, a 200 ms shock fires only at some sampling phases, even when strong. A 300 ms
// shock fires from about 400 milli-g on X and 700 on Y.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "board/vehicle/vehicle.h"

namespace sim {

struct AccelSample {
  int16_t x, y, z;  // milli-g
};

// A shock: a half-sine pulse with a signed peak per axis.
struct AccelShock {
  int64_t startNs = 0;
  int peakX = 0, peakY = 0, peakZ = 0;
  int durationMs = 0;
};

class AccelMotion {
 public:
  static constexpr int kDefaultShockMs = 200;
  static constexpr int kGravityMg = 1000;

  struct Options {
    uint64_t seed = 1;
    int bandwidthHz = 25;  // the sensor's low-pass corner
    int rangeMg = 8000;    // readings clip at +-range
    bool driving = true;   // false: parked with the engine off
    // The car; when none is given, one of its own with the seed (and parked unless driving).
    std::shared_ptr<Vehicle> vehicle;
  };

  AccelMotion();
  explicit AccelMotion(const Options& options);

  void setBandwidth(int hz);
  int bandwidth() const { return options_.bandwidthHz; }
  void addShock(const AccelShock& shock);
  AccelSample sample(int64_t tNs);

  // The longitudinal and lateral acceleration of the manoeuvre at t, without vibration,
  // gravity or shocks (milli-g); for tests and the timeline.
  double longitudinal(int64_t tNs);
  double lateral(int64_t tNs);
  bool moving(int64_t tNs);
  Vehicle& vehicle() { return *options_.vehicle; }

 private:
  struct Bump {
    int64_t startNs;
    int64_t durationNs;
    double z, x;
  };

  void advanceTo(int64_t tNs);
  double vibration(int axis, int64_t tNs, bool rolling);
  double attenuation(double hz) const;
  double timeConstant() const;  // of the sensor's low-pass, seconds
  double shockAt(int axis, int64_t tNs);

  // Two streams: the road's bumps never depend on how often the sensor is sampled.
  uint64_t roadState_;
  uint64_t noiseState_;
  double uniform(uint64_t& state);
  double gaussian(uint64_t& state);

  Options options_;
  int64_t lastNs_ = 0;
  int64_t nextBumpNs_ = 0;
  std::deque<Bump> bumps_;
  std::vector<AccelShock> shocks_;
  double phase_[4] = {};
};

// Parses the scenario action "shock X Y Z [ms]" (words[0] is "shock"): peaks in milli-g, the
// duration in milliseconds (default AccelMotion::kDefaultShockMs). False with a message when
// the words do not make one.
bool parseShockAction(const std::vector<std::string>& words, AccelShock* shock, std::string* error);

}  // namespace sim
