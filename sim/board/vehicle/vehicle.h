// The car the board rides in: where it is, how fast it goes and where to, and the accelerations
// of its manoeuvres. The accelerometer feels these accelerations and the GPS receivers see the
// position, speed and course they lead to, so a braking felt by the G-sensor is the drop of
// speed the receiver reports.
//
// Two ways to drive:
//   - the default drive: from a start point, a random but repeatable sequence of manoeuvres
//     (stand, accelerate, cruise, brake, corner) with the gentle jerks of ordinary driving; the
//     speed stays between a standstill and about 100 km/h, and a braking to a stop ends at 0.
//     The car stands for 3 s, pulls away and keeps rolling for at least two minutes;
//   - a route (GPX track): the car follows the track's points from its first to its last,
//     speeding up to a cruising speed, slowing for bends so that it never corners harder than
//     ordinary driving does, and stopping at the end.
//
// The motion is integrated in fixed steps from time 0, so every query for an instant gives the
// same answer whatever was asked before (within a history of the last minute); the schedule
// depends only on the seed and the route. Thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

struct RoutePoint {
  double latDeg = 0, lonDeg = 0, altM = 0;
};

// Reads the track points (or route points) of a GPX file; false with a message.
bool loadGpxRoute(const std::string& path, std::vector<RoutePoint>* points, std::string* error);

struct VehicleState {
  int64_t tNs = 0;
  double latDeg = 0, lonDeg = 0;  // WGS84
  double altM = 0;                // above mean sea level
  double speedMps = 0;            // over ground
  double headingDeg = 0;          // course over ground, from north clockwise, 0 to 360
  double velNorthMps = 0, velEastMps = 0, velDownMps = 0;
  double longitudinalMg = 0;  // the manoeuvre's acceleration along the car (forward +)
  double lateralMg = 0;       // across the car (to the right +)
  double gradeRad = 0;        // road slope (uphill +)
  bool moving = false;        // rolling (engine running either way)
  double distanceM = 0;       // driven since time 0
};

class Vehicle {
 public:
  static constexpr int64_t kStepNs = 10 * 1000 * 1000;

  struct Options {
    uint64_t seed = 1;
    bool driving = true;  // false: parked with the engine off (the default drive only)
    double startLatDeg = 35.658600, startLonDeg = 139.745400, startAltM = 40;
    double startHeadingDeg = 0;
    std::vector<RoutePoint> route;  // two points or more: follow it instead of the default drive
  };

  Vehicle();
  explicit Vehicle(const Options& options);
  ~Vehicle();
  Vehicle(const Vehicle&) = delete;
  Vehicle& operator=(const Vehicle&) = delete;

  // The state at elapsed time t (t >= 0). An instant older than the history reads as its oldest.
  VehicleState at(int64_t tNs);
  bool followsRoute() const;

  class Driver;  // what decides the accelerations (the default drive or a route)

 private:
  void stepTo(int64_t step);
  VehicleState interpolate(const VehicleState& a, const VehicleState& b, int64_t tNs) const;

  Options options_;
  std::unique_ptr<Driver> driver_;
  std::mutex mutex_;
  std::deque<VehicleState> history_;  // one state per step, the last one the newest
  int64_t lastStep_ = 0;
};

}  // namespace sim
