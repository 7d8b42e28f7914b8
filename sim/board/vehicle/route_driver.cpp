#include "board/vehicle/route_driver.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kG = 9.80665;
// How the route is driven: a cruising speed, gentle starts and brakings with the jerk of
// ordinary driving, and bends taken no harder than a lateral acceleration of about 160 milli-g.
constexpr double kCruiseMps = 22;
constexpr double kAccelMps2 = 1.4;
constexpr double kPlannedBrakeMps2 = 1.2;
constexpr double kHardestBrakeMps2 = 3.0;
constexpr double kJerkMps3 = 2.4;
constexpr double kLateralMps2 = 1.6;
// Corners are rounded over this distance on either side of a point (metres).
constexpr double kSmoothingM = 12;
constexpr double kStartStandSeconds = 3;
// The last metres to the end of the route are crept up to, then the car stops.
constexpr double kCreepMps = 1.0;

double toRadians(double deg) { return deg * kPi / 180; }

class RouteDriver : public Vehicle::Driver {
 public:
  explicit RouteDriver(const std::vector<RoutePoint>& route) {
    lat0_ = toRadians(route[0].latDeg);
    lon0_ = toRadians(route[0].lonDeg);
    constexpr double a = 6378137.0, e2 = 6.69437999014e-3;
    double w = std::sqrt(1 - e2 * std::sin(lat0_) * std::sin(lat0_));
    northPerRad_ = a * (1 - e2) / (w * w * w);
    eastPerRad_ = a / w * std::cos(lat0_);
    for (const RoutePoint& p : route) {
      Point q{(toRadians(p.lonDeg) - lon0_) * eastPerRad_, (toRadians(p.latDeg) - lat0_) * northPerRad_, p.altM, 0};
      if (!points_.empty()) {
        double d = std::hypot(q.x - points_.back().x, q.y - points_.back().y);
        if (d < 0.5) continue;  // the same place twice
        q.s = points_.back().s + d;
      }
      points_.push_back(q);
    }
    length_ = points_.empty() ? 0 : points_.back().s;
    planHeadingsAndSpeeds();
  }

  bool placesTheCar() const override { return true; }

  void step(int64_t tNs, VehicleState* st) override {
    double dt = static_cast<double>(Vehicle::kStepNs) / 1e9;
    double t = static_cast<double>(tNs) / 1e9;
    if (t >= kStartStandSeconds && s_ < length_) {
      // Aim for the lowest speed allowed over the next second and a half (the driver sees the
      // bend coming), braking no harder than needed to stop at the end, and let a braking fade
      // out as the car comes to rest, as a driver does.
      double target = std::max(lowestLimit(s_, s_ + 1.5 * v_ + 3), kCreepMps);
      double wanted = std::clamp(target - v_, -kHardestBrakeMps2, kAccelMps2);
      double remaining = length_ - s_;
      if (remaining < 1.5 * v_ * v_ / (2 * kPlannedBrakeMps2) + 1) {
        wanted = std::min(wanted, -v_ * v_ / (2 * std::max(remaining, 0.05)));
      }
      wanted = std::max(wanted, -std::sqrt(2 * kJerkMps3 * v_));
      a_ += std::clamp(wanted - a_, -kJerkMps3 * dt, kJerkMps3 * dt);
      v_ = std::max(0.0, v_ + a_ * dt);
      if (v_ == 0 && a_ < 0) a_ = 0;
      s_ = std::min(length_, s_ + v_ * dt);
      if (s_ >= length_ || (remaining < 0.5 && v_ < 0.05)) {
        s_ = length_;  // arrived
        v_ = a_ = 0;
      }
    }
    Place p = placeAt(s_);
    double heading = headingAt(s_);
    st->latDeg = (lat0_ + p.y / northPerRad_) * 180 / kPi;
    st->lonDeg = (lon0_ + p.x / eastPerRad_) * 180 / kPi;
    st->altM = p.alt;
    st->gradeRad = p.grade;
    st->speedMps = v_;
    st->headingDeg = std::fmod(std::fmod(heading * 180 / kPi, 360) + 360, 360);
    st->velNorthMps = v_ * std::cos(heading) * std::cos(p.grade);
    st->velEastMps = v_ * std::sin(heading) * std::cos(p.grade);
    st->velDownMps = -v_ * std::sin(p.grade);
    st->longitudinalMg = 1000 * a_ / kG;
    st->lateralMg = 1000 * v_ * v_ * curvatureAt(s_) / kG;
    st->moving = v_ > 0;
  }

 private:
  struct Point {
    double x, y, alt, s;
  };
  struct Place {
    double x, y, alt, grade;
  };

  size_t segmentAt(double s) const {
    auto it = std::upper_bound(points_.begin(), points_.end(), s, [](double v, const Point& p) { return v < p.s; });
    size_t i = static_cast<size_t>(it - points_.begin());
    return std::clamp<size_t>(i, 1, points_.size() - 1) - 1;
  }

  Place placeAt(double s) const {
    if (points_.size() < 2) return {0, 0, points_.empty() ? 0 : points_[0].alt, 0};
    size_t i = segmentAt(s);
    const Point& a = points_[i];
    const Point& b = points_[i + 1];
    double len = b.s - a.s;
    double f = std::clamp((s - a.s) / len, 0.0, 1.0);
    return {a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.alt + (b.alt - a.alt) * f, std::atan2(b.alt - a.alt, len)};
  }

  // Headings of the polyline on a metre grid, unwrapped, then rounded off twice over the
  // smoothing distance: the turn rate rises and falls linearly through a bend.
  void planHeadingsAndSpeeds() {
    size_t n = static_cast<size_t>(std::ceil(length_)) + 1;
    std::vector<double> raw(n);
    double previous = 0;
    for (size_t k = 0; k < n; ++k) {
      size_t i = points_.size() < 2 ? 0 : segmentAt(static_cast<double>(k));
      double h = points_.size() < 2 ? 0 : std::atan2(points_[i + 1].x - points_[i].x, points_[i + 1].y - points_[i].y);
      if (k > 0) h = previous + std::remainder(h - previous, 2 * kPi);
      raw[k] = previous = h;
    }
    heading_ = boxFilter(boxFilter(raw));
    speedLimit_.assign(n, kCruiseMps);
    for (size_t k = 0; k + 1 < n; ++k) {
      double curvature = std::abs(heading_[k + 1] - heading_[k]);
      if (curvature > 1e-9) speedLimit_[k] = std::min(kCruiseMps, std::sqrt(kLateralMps2 / curvature));
    }
    speedLimit_[n - 1] = 0;  // the end of the route
    for (size_t k = n - 1; k-- > 0;) {
      speedLimit_[k] = std::min(speedLimit_[k], std::sqrt(speedLimit_[k + 1] * speedLimit_[k + 1] + 2 * kPlannedBrakeMps2));
    }
  }

  static std::vector<double> boxFilter(const std::vector<double>& in) {
    int half = static_cast<int>(kSmoothingM / 2);
    int n = static_cast<int>(in.size());
    std::vector<double> out(in.size());
    for (int k = 0; k < n; ++k) {
      double sum = 0;
      for (int j = -half; j <= half; ++j) sum += in[static_cast<size_t>(std::clamp(k + j, 0, n - 1))];
      out[static_cast<size_t>(k)] = sum / (2 * half + 1);
    }
    return out;
  }

  double gridValue(const std::vector<double>& grid, double s) const {
    if (grid.empty()) return 0;
    double k = std::clamp(s, 0.0, static_cast<double>(grid.size() - 1));
    size_t i = static_cast<size_t>(k);
    if (i + 1 >= grid.size()) return grid.back();
    double f = k - static_cast<double>(i);
    return grid[i] + (grid[i + 1] - grid[i]) * f;
  }
  double headingAt(double s) const { return gridValue(heading_, s); }
  double lowestLimit(double from, double to) const {
    double lowest = gridValue(speedLimit_, from);
    for (double s = std::floor(from) + 1; s <= to; s += 1) lowest = std::min(lowest, gridValue(speedLimit_, s));
    return std::min(lowest, gridValue(speedLimit_, to));
  }
  double curvatureAt(double s) const {
    size_t i = static_cast<size_t>(std::clamp(s, 0.0, static_cast<double>(heading_.size() - 1)));
    return i + 1 < heading_.size() ? heading_[i + 1] - heading_[i] : 0;
  }

  double lat0_, lon0_, northPerRad_, eastPerRad_;
  std::vector<Point> points_;
  double length_ = 0;
  std::vector<double> heading_, speedLimit_;
  double s_ = 0, v_ = 0, a_ = 0;
};

// The value of an attribute in a tag's text ("lat" in <trkpt lat="1.5" lon="2">).
bool attribute(const std::string& tag, const char* name, double* value) {
  std::string key = std::string(" ") + name + "=";
  size_t at = tag.find(key);
  if (at == std::string::npos) return false;
  at += key.size();
  if (at >= tag.size() || (tag[at] != '"' && tag[at] != '\'')) return false;
  char* end = nullptr;
  *value = strtod(tag.c_str() + at + 1, &end);
  return end != tag.c_str() + at + 1;
}

}  // namespace

std::unique_ptr<Vehicle::Driver> makeRouteDriver(const std::vector<RoutePoint>& route) {
  return std::make_unique<RouteDriver>(route);
}

bool loadGpxRoute(const std::string& path, std::vector<RoutePoint>* points, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  const std::string gpx = text.str();
  for (const char* element : {"<trkpt", "<rtept"}) {
    points->clear();
    for (size_t at = gpx.find(element); at != std::string::npos; at = gpx.find(element, at + 1)) {
      size_t close = gpx.find('>', at);
      if (close == std::string::npos) break;
      std::string tag = gpx.substr(at, close - at);
      RoutePoint p;
      if (!attribute(tag, "lat", &p.latDeg) || !attribute(tag, "lon", &p.lonDeg) || std::abs(p.latDeg) > 90 ||
          std::abs(p.lonDeg) > 180) {
        *error = path + ": a point without a valid lat and lon";
        return false;
      }
      size_t end = gpx[close - 1] == '/' ? close : gpx.find(element[1] == 't' ? "</trkpt>" : "</rtept>", close);
      size_t ele = gpx.find("<ele>", close);
      if (ele != std::string::npos && ele < end) p.altM = strtod(gpx.c_str() + ele + 5, nullptr);
      points->push_back(p);
    }
    if (!points->empty()) break;
  }
  if (points->size() < 2) {
    *error = path + ": a route needs two track points or more";
    return false;
  }
  return true;
}

}  // namespace sim
