#include "board/gsensor/accel_motion.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace sim {
namespace {

constexpr int64_t kNsPerSec = 1000 * 1000 * 1000;
constexpr int64_t kNsPerMs = 1000 * 1000;
constexpr double kPi = 3.14159265358979323846;

int64_t secondsNs(double s) { return static_cast<int64_t>(s * static_cast<double>(kNsPerSec)); }
double toSeconds(int64_t ns) { return static_cast<double>(ns) / static_cast<double>(kNsPerSec); }

uint64_t splitmix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Jerk limits of ordinary driving (milli-g per second). A sharp change of acceleration is what
// the shock detection looks for, so ordinary manoeuvres build up gently, as drivers do.
constexpr double kAccelerateJerk = 250;
constexpr double kBrakeJerk = 300;
constexpr double kCornerJerk = 250;

// Vibration: body bounce, wheel hop and engine, as frequency (Hz) and amplitude per axis.
struct Tone {
  double hz;
  double x, y, z;
};
constexpr Tone kBodyBounce = {1.4, 6, 3, 35};
constexpr Tone kBodyRoll = {0.9, 0, 5, 0};
constexpr Tone kWheelHop = {11, 8, 6, 20};
constexpr Tone kEngineDriving = {28, 6, 6, 8};
constexpr Tone kEngineIdle = {13, 4, 4, 6};
// Broadband road roughness (standard deviation per axis at 25 Hz bandwidth).
constexpr double kRoadNoise[3] = {8, 8, 15};

double toneAxis(const Tone& t, int axis) { return axis == 0 ? t.x : axis == 1 ? t.y : t.z; }

// How long a pulse still shows after it ended: the sensor's low-pass lets it die away over a few
// time constants (6.4 ms at its narrowest bandwidth of 25 Hz).
constexpr int64_t kPulseTailNs = 100 * kNsPerMs;

// A half-sine pulse of height 1 and length d, u after its start, as a first-order low-pass with
// time constant tau passes it (the response of y' = (p - y) / tau, in closed form).
double filteredHalfSine(int64_t uNs, int64_t dNs, double tau) {
  if (uNs < 0) return 0;
  double d = toSeconds(dNs);
  double w = kPi / d;
  double a = w * tau;
  double scale = 1.0 / (1.0 + a * a);
  auto during = [&](double t) { return scale * (std::sin(w * t) - a * std::cos(w * t) + a * std::exp(-t / tau)); };
  double u = toSeconds(uNs);
  if (u <= d) return during(u);
  return during(d) * std::exp(-(u - d) / tau);
}

}  // namespace

double AccelMotion::uniform(uint64_t& state) {
  return static_cast<double>(splitmix(state) >> 11) * (1.0 / 9007199254740992.0);
}

double AccelMotion::gaussian(uint64_t& state) {
  double u1 = 1.0 - uniform(state);  // (0, 1]
  double u2 = uniform(state);
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
}

AccelMotion::AccelMotion() : AccelMotion(Options{}) {}

AccelMotion::AccelMotion(const Options& options)
    : scheduleState_(options.seed * 2 + 1), noiseState_(options.seed * 2 + 2), options_(options) {
  options_.rangeMg = std::clamp(options_.rangeMg, 1, 32000);
  setBandwidth(options_.bandwidthHz);
  for (double& p : phase_) p = 2 * kPi * uniform(scheduleState_);
  gradeFrom_ = gradeTo_ = (uniform(scheduleState_) - 0.5) * 0.06;
  gradeFromNs_ = 0;
  gradeToNs_ = 0;
  // The drive starts standing, engine running, for a few seconds.
  current_.kind = Kind::Stop;
  current_.startNs = 0;
  current_.holdNs = secondsNs(3);
  nextBumpNs_ = secondsNs(3 + 6 * uniform(scheduleState_));
}

void AccelMotion::setBandwidth(int hz) { options_.bandwidthHz = std::clamp(hz, 1, 10000); }

void AccelMotion::addShock(const AccelShock& shock) {
  AccelShock s = shock;
  if (s.durationMs <= 0) s.durationMs = kDefaultShockMs;
  shocks_.push_back(s);
}

AccelMotion::Segment AccelMotion::nextSegment(int64_t startNs, Kind previous) {
  Segment s;
  s.startNs = startNs;
  double r = uniform(scheduleState_);
  if (previous == Kind::Stop) {
    s.kind = Kind::Accelerate;
  } else if (previous == Kind::Brake && r < 0.4) {
    s.kind = Kind::Stop;
  } else {
    r = uniform(scheduleState_);
    s.kind = r < 0.35 ? Kind::Cruise : r < 0.55 ? Kind::Accelerate : r < 0.75 ? Kind::Brake : Kind::Corner;
  }
  auto ramp = [&](double peak, double jerk) {
    double seconds = std::max(std::abs(peak) / jerk, 0.6) + 0.8 * uniform(scheduleState_);
    return secondsNs(seconds);
  };
  switch (s.kind) {
    case Kind::Cruise:
      s.holdNs = secondsNs(4 + 16 * uniform(scheduleState_));
      break;
    case Kind::Accelerate:
      s.longPeak = 80 + 140 * uniform(scheduleState_);
      s.rampNs = ramp(s.longPeak, kAccelerateJerk);
      s.holdNs = secondsNs(2 + 6 * uniform(scheduleState_));
      break;
    case Kind::Brake:
      s.longPeak = -(80 + 270 * uniform(scheduleState_));
      s.rampNs = ramp(s.longPeak, kBrakeJerk);
      s.holdNs = secondsNs(1 + 4 * uniform(scheduleState_));
      break;
    case Kind::Corner:
      s.latPeak = (uniform(scheduleState_) < 0.5 ? -1 : 1) * (80 + 220 * uniform(scheduleState_));
      s.longPeak = -0.15 * std::abs(s.latPeak);  // a little speed is lost in the bend
      s.rampNs = ramp(s.latPeak, kCornerJerk);
      s.holdNs = secondsNs(1.5 + 4.5 * uniform(scheduleState_));
      break;
    case Kind::Stop:
      s.holdNs = secondsNs(5 + 35 * uniform(scheduleState_));
      break;
  }
  return s;
}

void AccelMotion::advanceTo(int64_t tNs) {
  if (tNs < lastNs_) tNs = lastNs_;  // time never goes back; a late caller sees the present
  lastNs_ = tNs;
  if (!options_.driving) return;
  while (tNs >= current_.endNs()) current_ = nextSegment(current_.endNs(), current_.kind);
  while (tNs >= gradeToNs_) {
    gradeFrom_ = gradeTo_;
    gradeFromNs_ = gradeToNs_;
    gradeTo_ = (uniform(scheduleState_) - 0.5) * 0.1;  // up to about 5 % up or down
    gradeToNs_ = gradeFromNs_ + secondsNs(20 + 70 * uniform(scheduleState_));
  }
  while (tNs >= nextBumpNs_) {
    if (current_.kind != Kind::Stop) {
      Bump b;
      b.startNs = nextBumpNs_;
      b.durationNs = secondsNs(0.04 + 0.08 * uniform(scheduleState_));
      b.z = (uniform(scheduleState_) < 0.5 ? -1 : 1) * (60 + 160 * uniform(scheduleState_));
      b.x = (uniform(scheduleState_) < 0.5 ? -1 : 1) * (15 + 45 * uniform(scheduleState_));
      bumps_.push_back(b);
    }
    nextBumpNs_ += secondsNs(-6.0 * std::log(1.0 - uniform(scheduleState_)) + 0.2);
  }
  while (!bumps_.empty() && bumps_.front().startNs + bumps_.front().durationNs + kPulseTailNs <= tNs) {
    bumps_.pop_front();
  }
  shocks_.erase(std::remove_if(shocks_.begin(), shocks_.end(),
                               [&](const AccelShock& s) {
                                 return s.startNs + s.durationMs * kNsPerMs + kPulseTailNs <= tNs;
                               }),
                shocks_.end());
}

double AccelMotion::envelope(const Segment& s, int64_t tNs) const {
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

double AccelMotion::gradeAt(int64_t tNs) const {
  if (gradeToNs_ <= gradeFromNs_) return gradeTo_;
  double f = static_cast<double>(tNs - gradeFromNs_) / static_cast<double>(gradeToNs_ - gradeFromNs_);
  return gradeFrom_ + (gradeTo_ - gradeFrom_) * std::clamp(f, 0.0, 1.0);
}

double AccelMotion::timeConstant() const { return 1.0 / (2 * kPi * options_.bandwidthHz); }

double AccelMotion::attenuation(double hz) const {
  double ratio = hz / options_.bandwidthHz;
  return 1.0 / std::sqrt(1.0 + ratio * ratio);
}

double AccelMotion::vibration(int axis, int64_t tNs) {
  double t = toSeconds(tNs);
  double bw = options_.bandwidthHz;
  // The sensor's own noise grows with its bandwidth.
  double v = 0.5 * std::sqrt(bw) * gaussian(noiseState_);
  if (!options_.driving) return v;
  auto tone = [&](const Tone& tn, int phase) {
    return toneAxis(tn, axis) * attenuation(tn.hz) * std::sin(2 * kPi * tn.hz * t + phase_[phase] + axis);
  };
  if (current_.kind == Kind::Stop) return v + tone(kEngineIdle, 3);
  v += tone(kBodyBounce, 0) + tone(kBodyRoll, 1) + tone(kWheelHop, 2) + tone(kEngineDriving, 3);
  v += kRoadNoise[axis] * std::sqrt(std::min(bw, 150.0) / 25.0) * gaussian(noiseState_);
  for (const Bump& b : bumps_) {
    double pulse = filteredHalfSine(tNs - b.startNs, b.durationNs, timeConstant());
    if (axis == 2) v += b.z * pulse;
    if (axis == 0) v += b.x * pulse;
  }
  return v;
}

double AccelMotion::shockAt(int axis, int64_t tNs) {
  double v = 0;
  for (const AccelShock& s : shocks_) {
    int peak = axis == 0 ? s.peakX : axis == 1 ? s.peakY : s.peakZ;
    if (peak != 0) v += peak * filteredHalfSine(tNs - s.startNs, s.durationMs * kNsPerMs, timeConstant());
  }
  return v;
}

double AccelMotion::longitudinal(int64_t tNs) {
  advanceTo(tNs);
  return options_.driving ? current_.longPeak * envelope(current_, lastNs_) : 0;
}

double AccelMotion::lateral(int64_t tNs) {
  advanceTo(tNs);
  return options_.driving ? current_.latPeak * envelope(current_, lastNs_) : 0;
}

bool AccelMotion::moving(int64_t tNs) {
  advanceTo(tNs);
  return options_.driving && current_.kind != Kind::Stop;
}

AccelSample AccelMotion::sample(int64_t tNs) {
  advanceTo(tNs);
  int64_t t = lastNs_;
  double grade = options_.driving ? gradeAt(t) : gradeFrom_;
  double value[3];
  value[0] = kGravityMg * std::sin(grade) + longitudinal(t);
  value[1] = lateral(t);
  value[2] = kGravityMg * std::cos(grade);
  for (int axis = 0; axis < 3; ++axis) value[axis] += vibration(axis, t) + shockAt(axis, t);
  auto reading = [&](double v) {
    double range = options_.rangeMg;
    return static_cast<int16_t>(std::lround(std::clamp(v, -range, range)));
  };
  return {reading(value[0]), reading(value[1]), reading(value[2])};
}

bool parseShockAction(const std::vector<std::string>& words, AccelShock* shock, std::string* error) {
  if (words.size() != 4 && words.size() != 5) {
    *error = "shock takes X Y Z in milli-g and an optional duration in ms";
    return false;
  }
  int values[4] = {0, 0, 0, AccelMotion::kDefaultShockMs};
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& w = words[i];
    char* end = nullptr;
    long v = std::strtol(w.c_str(), &end, 10);
    if (w.empty() || *end != '\0' || v < -32000 || v > 32000) {
      *error = "shock: '" + w + "' is not a whole number of milli-g or milliseconds";
      return false;
    }
    values[i - 1] = static_cast<int>(v);
  }
  if (values[3] < 1 || values[3] > 10000) {
    *error = "shock: the duration must be 1 to 10000 ms";
    return false;
  }
  shock->peakX = values[0];
  shock->peakY = values[1];
  shock->peakZ = values[2];
  shock->durationMs = values[3];
  return true;
}

}  // namespace sim
