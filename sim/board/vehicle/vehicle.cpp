#include "board/vehicle/vehicle.h"

#include <algorithm>
#include <cmath>

#include "board/vehicle/route_driver.h"

namespace sim {
namespace {

constexpr double kG = 9.80665;
constexpr double kPi = 3.14159265358979323846;
constexpr int64_t kNsPerSec = 1000 * 1000 * 1000;
// The history kept for queries of past instants (a receiver's epoch while the accelerometer has
// already asked for a later one).
constexpr size_t kHistorySteps = 60 * kNsPerSec / Vehicle::kStepNs;

double toSeconds(int64_t ns) { return static_cast<double>(ns) / static_cast<double>(kNsPerSec); }
int64_t secondsNs(double s) { return static_cast<int64_t>(s * static_cast<double>(kNsPerSec)); }

uint64_t splitmix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double uniform(uint64_t& state) { return static_cast<double>(splitmix(state) >> 11) * (1.0 / 9007199254740992.0); }

// Jerk limits of ordinary driving (milli-g per second). A sharp change of acceleration is what
// the shock detection looks for, so ordinary manoeuvres build up gently, as drivers do.
constexpr double kAccelerateJerk = 250;
constexpr double kBrakeJerk = 300;
constexpr double kCornerJerk = 250;
constexpr double kTopSpeedMps = 27.5;  // about 100 km/h
constexpr int64_t kFirstStopNs = 120LL * 1000 * 1000 * 1000;

double mgToMps2(double mg) { return mg * kG / 1000.0; }

}  // namespace

// The default drive: a repeatable sequence of manoeuvres, each a trapezoid of acceleration
// (ramp up, hold, ramp down), chosen with the speed in mind so that it stays between 0 and the
// top speed and a braking to a stop ends exactly at 0.
class FreeDriver : public Vehicle::Driver {
 public:
  explicit FreeDriver(const Vehicle::Options& o) : state_(o.seed * 2 + 1), driving_(o.driving) {
    gradeFrom_ = gradeTo_ = (uniform(state_) - 0.5) * 0.06;
    current_.kind = Kind::Stop;
    current_.holdNs = secondsNs(3);  // the drive starts standing, engine running
  }

  void step(int64_t tNs, VehicleState* s) override {
    if (!driving_) {
      s->gradeRad = gradeFrom_;
      return;
    }
    while (tNs >= current_.endNs()) current_ = next(current_);
    while (tNs >= gradeToNs_) {
      gradeFrom_ = gradeTo_;
      gradeFromNs_ = gradeToNs_;
      gradeTo_ = (uniform(state_) - 0.5) * 0.1;  // up to about 5 % up or down
      gradeToNs_ = gradeFromNs_ + secondsNs(20 + 70 * uniform(state_));
    }
    double env = envelope(current_, tNs);
    s->longitudinalMg = current_.longMg * env;
    s->lateralMg = current_.latMg * env;
    s->speedMps = std::max(0.0, current_.v0 + mgToMps2(current_.longMg) * integral(current_, tNs));
    s->moving = current_.kind != Kind::Stop && s->speedMps > 0;
    double f = gradeToNs_ > gradeFromNs_ ? toSeconds(tNs - gradeFromNs_) / toSeconds(gradeToNs_ - gradeFromNs_) : 1;
    s->gradeRad = gradeFrom_ + (gradeTo_ - gradeFrom_) * std::clamp(f, 0.0, 1.0);
  }

 private:
  enum class Kind { Cruise, Accelerate, Brake, Corner, Stop };
  struct Segment {
    Kind kind = Kind::Stop;
    int64_t startNs = 0, rampNs = 0, holdNs = 0;
    double longMg = 0, latMg = 0;
    double v0 = 0;             // speed at the start
    bool toStandstill = false;  // a braking that ends at 0
    int64_t endNs() const { return startNs + 2 * rampNs + holdNs; }
  };

  static double envelope(const Segment& s, int64_t tNs) {
    int64_t u = tNs - s.startNs;
    if (u <= 0) return 0;
    if (s.rampNs == 0) return 1;
    if (u < s.rampNs) return static_cast<double>(u) / static_cast<double>(s.rampNs);
    u -= s.rampNs;
    if (u < s.holdNs) return 1;
    u -= s.holdNs;
    if (u < s.rampNs) return 1.0 - static_cast<double>(u) / static_cast<double>(s.rampNs);
    return 0;
  }

  // The envelope's integral from the segment's start to t, in seconds.
  static double integral(const Segment& s, int64_t tNs) {
    double u = toSeconds(std::clamp<int64_t>(tNs - s.startNs, 0, s.endNs() - s.startNs));
    double r = toSeconds(s.rampNs), h = toSeconds(s.holdNs);
    if (r == 0) return std::min(u, h);
    if (u < r) return u * u / (2 * r);
    if (u < r + h) return r / 2 + (u - r);
    double w = u - r - h;
    return r / 2 + h + (w - w * w / (2 * r));
  }

  static double speedAtEnd(const Segment& s) { return s.v0 + mgToMps2(s.longMg) * integral(s, s.endNs()); }

  int64_t ramp(double peakMg, double jerk) {
    return secondsNs(std::max(std::abs(peakMg) / jerk, 0.6) + 0.8 * uniform(state_));
  }

  Segment next(const Segment& previous) {
    Segment s;
    s.startNs = previous.endNs();
    s.v0 = previous.kind == Kind::Stop || previous.toStandstill ? 0 : std::max(0.0, speedAtEnd(previous));
    double r = uniform(state_);
    if (previous.kind == Kind::Stop || s.v0 < 2) {
      s.kind = previous.toStandstill || (previous.kind != Kind::Stop && s.v0 < 0.5) ? Kind::Stop : Kind::Accelerate;
    } else {
      r = uniform(state_);
      s.kind = r < 0.35 ? Kind::Cruise : r < 0.55 ? Kind::Accelerate : r < 0.75 ? Kind::Brake : Kind::Corner;
      if (s.kind == Kind::Accelerate && s.v0 > kTopSpeedMps - 3) s.kind = Kind::Cruise;
    }
    switch (s.kind) {
      case Kind::Cruise:
        s.holdNs = secondsNs(4 + 16 * uniform(state_));
        break;
      case Kind::Accelerate: {
        s.longMg = 80 + 140 * uniform(state_);
        s.rampNs = ramp(s.longMg, kAccelerateJerk);
        double target = std::max(8 + 19.5 * uniform(state_), std::min(kTopSpeedMps, s.v0 + 5));
        shapeForSpeedChange(&s, target - s.v0, 2 + 6 * uniform(state_));
        break;
      }
      case Kind::Brake: {
        s.longMg = -(80 + 270 * uniform(state_));
        s.rampNs = ramp(s.longMg, kBrakeJerk);
        // The first two minutes keep rolling: a drive always has some road under it early on.
        s.toStandstill = uniform(state_) < 0.4 && s.startNs >= kFirstStopNs;
        double target = s.toStandstill ? 0 : s.v0 * (0.3 + 0.5 * uniform(state_));
        shapeForSpeedChange(&s, target - s.v0, 1 + 4 * uniform(state_));
        break;
      }
      case Kind::Corner: {
        double latMg = (uniform(state_) < 0.5 ? -1 : 1) * (80 + 220 * uniform(state_));
        // No sharper turn than about 30 degrees a second.
        double limit = 1000 * 0.5 * s.v0 / kG;
        s.latMg = std::clamp(latMg, -limit, limit);
        s.longMg = -0.15 * std::abs(s.latMg);  // a little speed is lost in the bend
        s.rampNs = ramp(latMg, kCornerJerk);
        s.holdNs = secondsNs(1.5 + 4.5 * uniform(state_));
        if (speedAtEnd(s) < 3) s.longMg = 0;
        break;
      }
      case Kind::Stop:
        s.holdNs = secondsNs(5 + 35 * uniform(state_));
        break;
    }
    return s;
  }

  // Sets the hold (and, when the ramps alone change the speed too much, a lower peak) so that the
  // segment changes the speed by dv; `preferredHold` when that is not asked for precisely.
  void shapeForSpeedChange(Segment* s, double dv, double preferredHold) {
    double a = mgToMps2(s->longMg);
    double r = toSeconds(s->rampNs);
    double hold = dv / a - r;
    if (hold < 0) {
      s->longMg = 1000 * dv / (r * kG);  // gentler, with the same ramps
      hold = 0;
    }
    if (!s->toStandstill && hold > preferredHold * 3) hold = preferredHold * 3;
    s->holdNs = secondsNs(hold);
  }

  uint64_t state_;
  bool driving_;
  Segment current_;
  int64_t gradeFromNs_ = 0, gradeToNs_ = 0;
  double gradeFrom_ = 0, gradeTo_ = 0;
};

Vehicle::Vehicle() : Vehicle(Options{}) {}

Vehicle::Vehicle(const Options& options) : options_(options) {
  if (options_.route.size() >= 2) {
    driver_ = makeRouteDriver(options_.route);
  } else {
    driver_ = std::make_unique<FreeDriver>(options_);
  }
  VehicleState s;
  s.latDeg = options_.route.size() >= 2 ? options_.route[0].latDeg : options_.startLatDeg;
  s.lonDeg = options_.route.size() >= 2 ? options_.route[0].lonDeg : options_.startLonDeg;
  s.altM = options_.route.size() >= 2 ? options_.route[0].altM : options_.startAltM;
  s.headingDeg = options_.startHeadingDeg;
  driver_->step(0, &s);
  history_.push_back(s);
}

Vehicle::~Vehicle() = default;

bool Vehicle::followsRoute() const { return options_.route.size() >= 2; }

void Vehicle::stepTo(int64_t step) {
  // WGS84: metres per radian of latitude and of longitude at the car's latitude.
  constexpr double a = 6378137.0, e2 = 6.69437999014e-3;
  while (lastStep_ < step) {
    VehicleState s = history_.back();
    const VehicleState previous = s;
    ++lastStep_;
    s.tNs = lastStep_ * kStepNs;
    driver_->step(s.tNs, &s);
    double dt = toSeconds(kStepNs);
    double v = (previous.speedMps + s.speedMps) / 2;
    if (!driver_->placesTheCar()) {
      // Heading follows the lateral acceleration (a = v * turn rate); position the heading.
      if (v > 0.5) s.headingDeg += (mgToMps2(s.lateralMg) / v) * dt * 180 / kPi;
      s.headingDeg = std::fmod(s.headingDeg + 360, 360);
      double psi = s.headingDeg * kPi / 180, lat = s.latDeg * kPi / 180;
      double w = std::sqrt(1 - e2 * std::sin(lat) * std::sin(lat));
      double meridian = a * (1 - e2) / (w * w * w), normal = a / w;
      s.latDeg += v * std::cos(psi) * dt / meridian * 180 / kPi;
      s.lonDeg += v * std::sin(psi) * dt / (normal * std::cos(lat)) * 180 / kPi;
      s.altM += v * std::sin(s.gradeRad) * dt;
      double psiNow = s.headingDeg * kPi / 180;
      s.velNorthMps = s.speedMps * std::cos(psiNow);
      s.velEastMps = s.speedMps * std::sin(psiNow);
      s.velDownMps = -s.speedMps * std::sin(s.gradeRad);
    }
    s.distanceM += v * dt;
    history_.push_back(s);
    if (history_.size() > kHistorySteps) history_.pop_front();
  }
}

VehicleState Vehicle::interpolate(const VehicleState& a, const VehicleState& b, int64_t tNs) const {
  if (tNs <= a.tNs || b.tNs <= a.tNs) return a;
  double f = static_cast<double>(tNs - a.tNs) / static_cast<double>(b.tNs - a.tNs);
  auto mix = [f](double x, double y) { return x + (y - x) * f; };
  VehicleState s = b;
  s.tNs = tNs;
  s.latDeg = mix(a.latDeg, b.latDeg);
  s.lonDeg = mix(a.lonDeg, b.lonDeg);
  s.altM = mix(a.altM, b.altM);
  s.speedMps = mix(a.speedMps, b.speedMps);
  double turn = std::remainder(b.headingDeg - a.headingDeg, 360.0);
  s.headingDeg = std::fmod(a.headingDeg + turn * f + 360, 360);
  s.velNorthMps = mix(a.velNorthMps, b.velNorthMps);
  s.velEastMps = mix(a.velEastMps, b.velEastMps);
  s.velDownMps = mix(a.velDownMps, b.velDownMps);
  s.longitudinalMg = mix(a.longitudinalMg, b.longitudinalMg);
  s.lateralMg = mix(a.lateralMg, b.lateralMg);
  s.gradeRad = mix(a.gradeRad, b.gradeRad);
  s.distanceM = mix(a.distanceM, b.distanceM);
  return s;
}

VehicleState Vehicle::at(int64_t tNs) {
  std::lock_guard<std::mutex> lock(mutex_);
  tNs = std::max<int64_t>(tNs, 0);
  int64_t step = (tNs + kStepNs - 1) / kStepNs;
  stepTo(step);
  const int64_t oldest = history_.front().tNs;
  if (tNs <= oldest) return history_.front();
  size_t upper = static_cast<size_t>((tNs - oldest + kStepNs - 1) / kStepNs);
  upper = std::min(upper, history_.size() - 1);
  return interpolate(history_[upper - 1], history_[upper], tNs);
}

}  // namespace sim
