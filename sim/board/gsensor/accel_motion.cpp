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
    : roadState_(options.seed * 2 + 1), noiseState_(options.seed * 2 + 2), options_(options) {
  options_.rangeMg = std::clamp(options_.rangeMg, 1, 32000);
  setBandwidth(options_.bandwidthHz);
  if (!options_.vehicle) {
    Vehicle::Options car;
    car.seed = options.seed;
    car.driving = options.driving;
    options_.vehicle = std::make_shared<Vehicle>(car);
  }
  for (double& p : phase_) p = 2 * kPi * uniform(roadState_);
  nextBumpNs_ = secondsNs(3 + 6 * uniform(roadState_));
}

void AccelMotion::setBandwidth(int hz) { options_.bandwidthHz = std::clamp(hz, 1, 10000); }

void AccelMotion::addShock(const AccelShock& shock) {
  AccelShock s = shock;
  if (s.durationMs <= 0) s.durationMs = kDefaultShockMs;
  shocks_.push_back(s);
}

void AccelMotion::advanceTo(int64_t tNs) {
  if (tNs < lastNs_) tNs = lastNs_;  // time never goes back; a late caller sees the present
  lastNs_ = tNs;
  if (!options_.driving) return;
  while (tNs >= nextBumpNs_) {
    if (options_.vehicle->at(nextBumpNs_).moving) {
      Bump b;
      b.startNs = nextBumpNs_;
      b.durationNs = secondsNs(0.04 + 0.08 * uniform(roadState_));
      b.z = (uniform(roadState_) < 0.5 ? -1 : 1) * (60 + 160 * uniform(roadState_));
      b.x = (uniform(roadState_) < 0.5 ? -1 : 1) * (15 + 45 * uniform(roadState_));
      bumps_.push_back(b);
    }
    nextBumpNs_ += secondsNs(-6.0 * std::log(1.0 - uniform(roadState_)) + 0.2);
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

double AccelMotion::timeConstant() const { return 1.0 / (2 * kPi * options_.bandwidthHz); }

double AccelMotion::attenuation(double hz) const {
  double ratio = hz / options_.bandwidthHz;
  return 1.0 / std::sqrt(1.0 + ratio * ratio);
}

double AccelMotion::vibration(int axis, int64_t tNs, bool rolling) {
  double t = toSeconds(tNs);
  double bw = options_.bandwidthHz;
  // The sensor's own noise grows with its bandwidth.
  double v = 0.5 * std::sqrt(bw) * gaussian(noiseState_);
  if (!options_.driving) return v;
  auto tone = [&](const Tone& tn, int phase) {
    return toneAxis(tn, axis) * attenuation(tn.hz) * std::sin(2 * kPi * tn.hz * t + phase_[phase] + axis);
  };
  if (!rolling) return v + tone(kEngineIdle, 3);
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
  return options_.driving ? options_.vehicle->at(lastNs_).longitudinalMg : 0;
}

double AccelMotion::lateral(int64_t tNs) {
  advanceTo(tNs);
  return options_.driving ? options_.vehicle->at(lastNs_).lateralMg : 0;
}

bool AccelMotion::moving(int64_t tNs) {
  advanceTo(tNs);
  return options_.driving && options_.vehicle->at(lastNs_).moving;
}

AccelSample AccelMotion::sample(int64_t tNs) {
  advanceTo(tNs);
  int64_t t = lastNs_;
  VehicleState car = options_.vehicle->at(t);
  bool driving = options_.driving;
  double value[3];
  value[0] = kGravityMg * std::sin(car.gradeRad) + (driving ? car.longitudinalMg : 0);
  value[1] = driving ? car.lateralMg : 0;
  value[2] = kGravityMg * std::cos(car.gradeRad);
  for (int axis = 0; axis < 3; ++axis) value[axis] += vibration(axis, t, driving && car.moving) + shockAt(axis, t);
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
