#include "board/gps/sky.h"

#include <algorithm>
#include <cmath>

namespace sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kA = 6378137.0;           // WGS84 semi-major axis
constexpr double kE2 = 6.69437999014e-3;   // first eccentricity squared
constexpr double kOrbitRadius = 26559700;  // metres
constexpr double kOrbitSeconds = 43082.05;  // half a sidereal day
constexpr double kEarthRate = 7.2921151467e-5;
constexpr double kInclination = 55 * kPi / 180;
constexpr int64_t kGpsEpochUnix = 315964800;  // 1980-01-06 00:00:00 UTC

double rad(double deg) { return deg * kPi / 180; }

// Leap seconds between GPS time and UTC, by the UTC second they took effect.
int leapSecondsAt(int64_t unixSeconds) {
  static const struct {
    int64_t from;
    int leap;
  } kLeaps[] = {{1483228800, 18}, {1435708800, 17}, {1341100800, 16}, {1230768000, 15}, {1136073600, 14}};
  for (const auto& l : kLeaps) {
    if (unixSeconds >= l.from) return l.leap;
  }
  return 13;
}

// Planes A to F, with six satellites on the first and fourth and five on the others.
struct Slot {
  int plane;
  int index;
};
std::vector<Slot> constellation() {
  std::vector<Slot> slots;
  const int perPlane[6] = {6, 5, 5, 6, 5, 5};
  for (int p = 0; p < 6; ++p) {
    for (int k = 0; k < perPlane[p]; ++k) slots.push_back({p, k});
  }
  return slots;
}

}  // namespace

GpsTime gpsTimeOfUtc(int64_t utcNs) {
  int64_t unixSeconds = utcNs >= 0 ? utcNs / 1000000000 : (utcNs - 999999999) / 1000000000;
  int64_t msInSecond = (utcNs - unixSeconds * 1000000000) / 1000000;
  GpsTime t;
  t.leapSeconds = leapSecondsAt(unixSeconds);
  int64_t gpsSeconds = unixSeconds - kGpsEpochUnix + t.leapSeconds;
  if (gpsSeconds < 0) gpsSeconds = 0;
  t.week = static_cast<int>(gpsSeconds / 604800);
  t.towMs = static_cast<uint32_t>((gpsSeconds % 604800) * 1000 + msInSecond);
  return t;
}

void ecefOf(double latDeg, double lonDeg, double altM, double out[3]) {
  double lat = rad(latDeg), lon = rad(lonDeg);
  double n = kA / std::sqrt(1 - kE2 * std::sin(lat) * std::sin(lat));
  out[0] = (n + altM) * std::cos(lat) * std::cos(lon);
  out[1] = (n + altM) * std::cos(lat) * std::sin(lon);
  out[2] = (n * (1 - kE2) + altM) * std::sin(lat);
}

void ecefVelocityOf(double latDeg, double lonDeg, double north, double east, double down, double out[3]) {
  double lat = rad(latDeg), lon = rad(lonDeg);
  double sl = std::sin(lat), cl = std::cos(lat), so = std::sin(lon), co = std::cos(lon);
  out[0] = -sl * co * north - so * east - cl * co * down;
  out[1] = -sl * so * north + co * east - cl * so * down;
  out[2] = cl * north - sl * down;
}

std::vector<SkySatellite> skyAt(int64_t utcNs, double latDeg, double lonDeg, double altM) {
  double t = static_cast<double>(utcNs / 1000000 - kGpsEpochUnix * 1000) / 1000.0;
  double rx[3];
  ecefOf(latDeg, lonDeg, altM, rx);
  double lat = rad(latDeg), lon = rad(lonDeg);
  double sl = std::sin(lat), cl = std::cos(lat), so = std::sin(lon), co = std::cos(lon);
  std::vector<SkySatellite> sky;
  std::vector<Slot> slots = constellation();
  double motion = 2 * kPi / kOrbitSeconds;
  for (size_t i = 0; i < slots.size(); ++i) {
    const Slot& s = slots[i];
    double node = rad(60.0 * s.plane) - kEarthRate * std::fmod(t, 86164.0905);
    double u = rad(360.0 * s.index / (s.plane == 0 || s.plane == 3 ? 6 : 5) + 13.0 * s.plane) + motion * std::fmod(t, kOrbitSeconds);
    double sat[3] = {kOrbitRadius * (std::cos(u) * std::cos(node) - std::sin(u) * std::cos(kInclination) * std::sin(node)),
                     kOrbitRadius * (std::cos(u) * std::sin(node) + std::sin(u) * std::cos(kInclination) * std::cos(node)),
                     kOrbitRadius * std::sin(u) * std::sin(kInclination)};
    double d[3] = {sat[0] - rx[0], sat[1] - rx[1], sat[2] - rx[2]};
    double east = -so * d[0] + co * d[1];
    double north = -sl * co * d[0] - sl * so * d[1] + cl * d[2];
    double up = cl * co * d[0] + cl * so * d[1] + sl * d[2];
    double range = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    SkySatellite v;
    v.prn = static_cast<int>(i) + 1;
    v.elevationDeg = std::asin(up / range) * 180 / kPi;
    v.azimuthDeg = std::fmod(std::atan2(east, north) * 180 / kPi + 360, 360);
    sky.push_back(v);
  }
  std::sort(sky.begin(), sky.end(), [](const SkySatellite& a, const SkySatellite& b) { return a.elevationDeg > b.elevationDeg; });
  return sky;
}

Dilution dilutionOf(const std::vector<SkySatellite>& used) {
  Dilution d;
  if (used.size() < 4) return d;
  // Normal matrix of the line-of-sight rows (east, north, up, clock), inverted in place.
  double m[4][8] = {};
  for (const SkySatellite& s : used) {
    double el = rad(s.elevationDeg), az = rad(s.azimuthDeg);
    double row[4] = {std::cos(el) * std::sin(az), std::cos(el) * std::cos(az), std::sin(el), 1};
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 4; ++j) m[i][j] += row[i] * row[j];
    }
  }
  for (int i = 0; i < 4; ++i) m[i][4 + i] = 1;
  for (int c = 0; c < 4; ++c) {
    int pivot = c;
    for (int r = c + 1; r < 4; ++r) {
      if (std::abs(m[r][c]) > std::abs(m[pivot][c])) pivot = r;
    }
    if (std::abs(m[pivot][c]) < 1e-12) return d;  // the satellites do not fix a position
    for (int k = 0; k < 8; ++k) std::swap(m[c][k], m[pivot][k]);
    double p = m[c][c];
    for (int k = 0; k < 8; ++k) m[c][k] /= p;
    for (int r = 0; r < 4; ++r) {
      if (r == c) continue;
      double f = m[r][c];
      for (int k = 0; k < 8; ++k) m[r][k] -= f * m[c][k];
    }
  }
  double qe = m[0][4], qn = m[1][5], qu = m[2][6], qt = m[3][7];
  auto cap = [](double v) { return std::min(std::sqrt(std::max(v, 0.0)), 99.99); };
  d.edop = cap(qe);
  d.ndop = cap(qn);
  d.vdop = cap(qu);
  d.tdop = cap(qt);
  d.hdop = cap(qe + qn);
  d.pdop = cap(qe + qn + qu);
  d.gdop = cap(qe + qn + qu + qt);
  return d;
}

}  // namespace sim
