// The one car behind the accelerometer and the GPS receivers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <unistd.h>

#include "board/gps/gps_engine.h"
#include "board/gps/sky.h"
#include "board/gsensor/accel_motion.h"
#include "board/vehicle/vehicle.h"

namespace {

using sim::Vehicle;
using sim::VehicleState;

constexpr int64_t kMs = 1000 * 1000;
constexpr int64_t kSecond = 1000 * kMs;
constexpr double kG = 9.80665;

TEST(Vehicle, ABrakingFeltByTheAccelerometerIsTheSpeedDropTheReceiverReports) {
  auto car = std::make_shared<Vehicle>();
  sim::AccelMotion::Options o;
  o.vehicle = car;
  sim::AccelMotion sensor(o);
  sim::GpsEngine receiver(car, 0, 0);
  receiver.start(0, sim::GpsEngine::Start::Cold);

  // One pass through the drive, as the board runs it: the accelerometer sampled every 30 ms (its
  // reading along the car less the slope's share of gravity), the receiver's speed once a second.
  std::vector<double> speed, along;
  for (int64_t t = 0; t <= 900 * kSecond; t += 30 * kMs) {
    sim::AccelSample a = sensor.sample(t);
    along.push_back(a.x - 1000 * std::sin(car->at(t).gradeRad));
    while (static_cast<int64_t>(speed.size()) * kSecond <= t) {
      speed.push_back(receiver.solve(static_cast<int64_t>(speed.size()) * kSecond).speedMps);
    }
  }
  // The first firm braking, and what the accelerometer says of it.
  int from = -1;
  for (int s = 0; s + 6 < static_cast<int>(speed.size()) && from < 0; ++s) {
    if (speed[s] - speed[s + 6] > 6) from = s;
  }
  ASSERT_GE(from, 0) << "a braking of 6 m/s within 6 s";
  int to = from + 6;
  double dv = 0;
  for (size_t i = static_cast<size_t>(from) * 100 / 3; i < static_cast<size_t>(to) * 100 / 3; ++i) {
    dv += along[i] / 1000.0 * kG * 0.030;
  }
  EXPECT_NEAR(dv, speed[to] - speed[from], 0.25) << "from " << from << " s: " << speed[from] << " -> " << speed[to];
}

TEST(Vehicle, ItStopsAtZeroMovesWhereItsSpeedTakesItAndAnswersTheSameForAnyOrderOfQuestions) {
  Vehicle a, b;
  VehicleState late = a.at(400 * kSecond);
  VehicleState early = a.at(350 * kSecond);  // from the history
  VehicleState direct = b.at(350 * kSecond);
  EXPECT_EQ(early.latDeg, direct.latDeg);
  EXPECT_EQ(early.speedMps, direct.speedMps);
  EXPECT_EQ(early.headingDeg, direct.headingDeg);
  EXPECT_GT(late.distanceM, early.distanceM);

  // Speed stays within a standstill and about 100 km/h; standing is a speed of 0; the distance
  // between two positions is what the speed covered.
  Vehicle c;
  bool stood = false;
  VehicleState previous = c.at(0);
  for (int64_t t = kSecond; t < 1200 * kSecond; t += kSecond) {
    VehicleState s = c.at(t);
    ASSERT_GE(s.speedMps, 0);
    ASSERT_LE(s.speedMps, 28);
    if (!s.moving && t > 10 * kSecond) {
      stood = true;
      EXPECT_EQ(s.speedMps, 0);
    }
    double p[3], q[3];
    sim::ecefOf(previous.latDeg, previous.lonDeg, previous.altM, p);
    sim::ecefOf(s.latDeg, s.lonDeg, s.altM, q);
    // The straight line between the two is the road travelled, or a little shorter in a bend.
    double moved = std::hypot(q[0] - p[0], q[1] - p[1], q[2] - p[2]);
    double road = s.distanceM - previous.distanceM;
    double turn = std::abs(std::remainder(s.headingDeg - previous.headingDeg, 360)) * M_PI / 180;
    EXPECT_LE(moved, road * 1.002 + 0.01);
    EXPECT_GE(moved, road * std::cos(turn / 2) * 0.998 - 0.01);
    previous = s;
  }
  EXPECT_TRUE(stood) << "the drive has its stops";
}

TEST(Vehicle, OnARouteItFollowsTheTrackSlowsForTheBendAndStopsAtTheEnd) {
  // 600 m north, a right-angle bend, 600 m east.
  char path[] = "/tmp/route-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  const double lat0 = 35.0, lon0 = 139.0;
  const double dLat = 600 / 111000.0, dLon = 600 / (111000.0 * std::cos(lat0 * M_PI / 180));
  std::ofstream(path) << std::setprecision(12) << "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\"><trk><trkseg>\n"
                      << "<trkpt lat=\"" << lat0 << "\" lon=\"" << lon0 << "\"><ele>10</ele></trkpt>\n"
                      << "<trkpt lat=\"" << lat0 + dLat << "\" lon=\"" << lon0 << "\"><ele>16</ele></trkpt>\n"
                      << "<trkpt lat='" << lat0 + dLat << "' lon='" << lon0 + dLon << "'/>\n"
                      << "</trkseg></trk></gpx>\n";
  Vehicle::Options o;
  std::string error;
  ASSERT_TRUE(sim::loadGpxRoute(path, &o.route, &error)) << error;
  unlink(path);
  ASSERT_EQ(o.route.size(), 3u);
  EXPECT_EQ(o.route[1].altM, 16);
  Vehicle car(o);
  ASSERT_TRUE(car.followsRoute());

  double slowest = 99, fastest = 0, maxLateral = 0, maxJerk = 0, previousLong = 0;
  for (int64_t t = 0; t < 200 * kSecond; t += 100 * kMs) {
    VehicleState s = car.at(t);
    // On the track: either on the northward leg or on the eastward one (corners are rounded).
    double north = (s.latDeg - lat0) * 111000, east = (s.lonDeg - lon0) * 111000 * std::cos(lat0 * M_PI / 180);
    double offFirstLeg = std::abs(s.lonDeg - lon0) * 91000, offSecondLeg = std::abs(s.latDeg - lat0 - dLat) * 111000;
    EXPECT_LT(std::min(offFirstLeg, offSecondLeg), 0.5) << t / kSecond;
    if (north > 400 && north < 600 && std::abs(east) < 1 && s.speedMps > 0) slowest = std::min(slowest, s.speedMps);
    fastest = std::max(fastest, s.speedMps);
    maxLateral = std::max(maxLateral, std::abs(s.lateralMg));
    if (t == 20 * kSecond) {
      EXPECT_NEAR(s.altM, 10 + 6 * s.distanceM / 600, 0.01) << "the height between the points";
    }
    if (t > 0) maxJerk = std::max(maxJerk, std::abs(s.longitudinalMg - previousLong) / 0.1);
    previousLong = s.longitudinalMg;
  }
  EXPECT_GT(fastest, 18) << "it cruises on the straights";
  EXPECT_LT(slowest, 10) << "and slows for the bend";
  EXPECT_LT(maxLateral, 220) << "no harder than ordinary cornering";
  EXPECT_LT(maxJerk, 300);
  VehicleState end = car.at(200 * kSecond);
  EXPECT_EQ(end.speedMps, 0);
  EXPECT_NEAR(end.latDeg, lat0 + dLat, 1e-6);
  EXPECT_NEAR(end.lonDeg, lon0 + dLon, 1e-6);
  EXPECT_NEAR(end.headingDeg, 90, 1);

  EXPECT_FALSE(sim::loadGpxRoute("/nonexistent.gpx", &o.route, &error));
}

}  // namespace
