// What any GPS receiver works out once per navigation epoch, whatever protocol it speaks: the
// time, whether it has a fix, the car's position, velocity and course, the satellites it tracks
// and the dilution of precision. The position is the vehicle's, exactly: the receiver model adds
// no noise, so a decoder's output can be checked against the truth.
//
// Acquisition: after a cold start (power-on) the receiver knows the time after half the time to
// first fix and has its first fix after the whole of it; a hot start (a restart with what it
// knew kept) fixes again within a second. Without sky (a tunnel) it has no position but keeps
// the time, and it fixes again a second after the sky is back.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "board/gps/sky.h"
#include "board/vehicle/vehicle.h"

namespace sim {

struct TrackedSatellite {
  int prn = 0;
  int elevationDeg = 0, azimuthDeg = 0;
  int cno = 0;          // dBHz, 0 when not tracked
  int quality = 0;      // 0 idle, 1 searching, 4 code locked, 7 code and carrier locked
  bool used = false;    // in the navigation solution
  int residualCm = 0;
};

struct NavSolution {
  int64_t utcNs = 0;  // the epoch
  GpsTime gps;
  uint32_t sinceStartMs = 0;  // since the last (re)start
  uint32_t ttffMs = 0;        // 0 until the first fix after it
  bool timeValid = false;
  bool fix = false;           // a 3-D fix
  double latDeg = 0, lonDeg = 0, altMslM = 0, geoidM = 0;
  double speedMps = 0, courseDeg = 0, velNorth = 0, velEast = 0, velDown = 0;
  double hAccM = 0, vAccM = 0, sAccMps = 0, cAccDeg = 0;
  uint32_t tAccNs = 0;
  Dilution dop;
  std::vector<TrackedSatellite> channels;  // 8 to 16, highest first
  int used = 0;
};

class GpsEngine {
 public:
  enum class Start { Cold, Warm, Hot };
  static constexpr int kChannels = 16;
  static constexpr double kGeoidSeparationM = 36.7;

  GpsEngine(std::shared_ptr<Vehicle> vehicle, int64_t worldAtZeroNs, int64_t ttffNs);

  // The receiver (re)starts at a UTC instant; a hot start only fixes at once if it had a fix.
  void start(int64_t utcNs, Start kind);
  void setSkyLost(bool lost, int64_t utcNs);
  bool skyLost() const { return skyLost_; }
  void setMinElevation(int degrees) { minElevation_ = degrees; }
  int64_t startedAt() const { return startUtc_; }
  bool hadFix() const { return hadFix_; }

  // The solution for an epoch (instants passed in must not go back across a start).
  NavSolution solve(int64_t utcNs);

 private:
  std::shared_ptr<Vehicle> vehicle_;
  int64_t worldAtZero_;
  int64_t ttff_;
  int64_t startUtc_ = 0;
  int64_t fixFrom_ = 0;       // first instant with a fix since the start
  int64_t timeFrom_ = 0;      // first instant with the time known
  int64_t skyBackFix_ = 0;    // after a tunnel: the first instant with a fix again
  bool skyLost_ = false;
  bool hadFix_ = false;
  uint32_t ttffMs_ = 0;
  int minElevation_ = 5;
  VehicleState last_;  // where the car was at the last fix
};

}  // namespace sim
