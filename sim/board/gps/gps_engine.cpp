#include "board/gps/gps_engine.h"

#include <algorithm>
#include <cmath>

namespace sim {
namespace {

constexpr int64_t kMs = 1000 * 1000;
constexpr int64_t kSecond = 1000 * kMs;

// A steady but not constant signal: stronger high in the sky, a slow wobble per satellite.
int carrierToNoise(const SkySatellite& s, int64_t utcNs) {
  double wobble = 2.0 * std::sin(static_cast<double>(utcNs / kSecond) / 47.0 + s.prn * 1.7);
  return static_cast<int>(std::lround(31 + 17 * std::sin(s.elevationDeg * M_PI / 180) + wobble));
}

}  // namespace

GpsEngine::GpsEngine(std::shared_ptr<Vehicle> vehicle, int64_t worldAtZeroNs, int64_t ttffNs)
    : vehicle_(std::move(vehicle)), worldAtZero_(worldAtZeroNs), ttff_(std::max<int64_t>(ttffNs, 0)) {}

void GpsEngine::start(int64_t utcNs, Start kind) {
  startUtc_ = utcNs;
  ttffMs_ = 0;
  int64_t ttff = kind == Start::Hot && hadFix_ ? kSecond : ttff_;
  fixFrom_ = utcNs + ttff;
  timeFrom_ = kind == Start::Hot && hadFix_ ? utcNs : utcNs + ttff / 2;
  skyBackFix_ = 0;
}

void GpsEngine::setSkyLost(bool lost, int64_t utcNs) {
  if (lost == skyLost_) return;
  skyLost_ = lost;
  if (!lost) skyBackFix_ = utcNs + kSecond;
}

NavSolution GpsEngine::solve(int64_t utcNs) {
  NavSolution n;
  n.utcNs = utcNs;
  n.gps = gpsTimeOfUtc(utcNs);
  n.sinceStartMs = static_cast<uint32_t>(std::max<int64_t>(0, utcNs - startUtc_) / kMs);
  n.timeValid = utcNs >= timeFrom_;
  n.fix = n.timeValid && !skyLost_ && utcNs >= fixFrom_ && utcNs >= skyBackFix_;
  n.geoidM = kGeoidSeparationM;
  VehicleState car = vehicle_->at(utcNs - worldAtZero_);
  if (n.fix) {
    last_ = car;
    if (!hadFix_ || ttffMs_ == 0) ttffMs_ = static_cast<uint32_t>((utcNs - startUtc_) / kMs);
    hadFix_ = true;
  }
  n.ttffMs = ttffMs_;

  // The satellites: tracked once the receiver knows where to look, none under a roof.
  std::vector<SkySatellite> sky = skyAt(utcNs, car.latDeg, car.lonDeg, car.altM);
  std::vector<SkySatellite> usedSky;
  for (const SkySatellite& s : sky) {
    if (n.channels.size() >= static_cast<size_t>(kChannels)) break;
    if (s.elevationDeg <= 0 && n.channels.size() >= 8) break;
    TrackedSatellite c;
    c.prn = s.prn;
    bool located = n.timeValid || hadFix_;
    c.elevationDeg = located ? static_cast<int>(std::lround(s.elevationDeg)) : 0;
    c.azimuthDeg = located ? static_cast<int>(std::lround(s.azimuthDeg)) % 360 : 0;
    bool tracked = n.timeValid && !skyLost_ && s.elevationDeg > 0;
    c.cno = tracked ? carrierToNoise(s, utcNs) : 0;
    c.quality = tracked ? (s.elevationDeg > 15 ? 7 : 4) : 1;
    c.used = n.fix && tracked && s.elevationDeg >= minElevation_;
    c.residualCm = c.used ? static_cast<int>(std::lround(40 * std::sin(s.prn * 2.3 + static_cast<double>(utcNs / kSecond) / 9.0))) : 0;
    if (c.used) {
      usedSky.push_back(s);
      ++n.used;
    }
    n.channels.push_back(c);
  }
  n.dop = dilutionOf(usedSky);

  if (n.fix) {
    n.latDeg = car.latDeg;
    n.lonDeg = car.lonDeg;
    n.altMslM = car.altM;
    n.speedMps = car.speedMps;
    n.courseDeg = car.headingDeg;
    n.velNorth = car.velNorthMps;
    n.velEast = car.velEastMps;
    n.velDown = car.velDownMps;
    n.hAccM = 1.6 * n.dop.hdop;
    n.vAccM = 2.5 * n.dop.vdop;
    n.sAccMps = 0.25;
    n.cAccDeg = car.speedMps > 1 ? 0.8 : 60;
    n.tAccNs = 25;
  } else {
    // The last position known (or nothing), with an accuracy that says it is not one.
    n.latDeg = hadFix_ ? last_.latDeg : 0;
    n.lonDeg = hadFix_ ? last_.lonDeg : 0;
    n.altMslM = hadFix_ ? last_.altM : 0;
    n.courseDeg = hadFix_ ? last_.headingDeg : 0;
    n.hAccM = n.vAccM = 4294967.295;
    n.sAccMps = 20;
    n.cAccDeg = 180;
    n.tAccNs = n.timeValid ? 1000 : 0xFFFFFFFFu;
  }
  return n;
}

}  // namespace sim
