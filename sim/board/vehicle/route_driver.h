// What decides how the car moves: the default drive (vehicle.cpp) or a route to follow.
#pragma once

#include <memory>
#include <vector>

#include "board/vehicle/vehicle.h"

namespace sim {

class Vehicle::Driver {
 public:
  virtual ~Driver() = default;
  // Moves the drive on to t (one step after the state given) and sets the speed, accelerations,
  // grade and whether the car rolls; a driver that placesTheCar() sets the position, heading
  // and velocity as well, otherwise the vehicle integrates them.
  virtual void step(int64_t tNs, VehicleState* s) = 0;
  virtual bool placesTheCar() const { return false; }
};

// Follows a route (two points or more) from its first point to its last, and stays there.
std::unique_ptr<Vehicle::Driver> makeRouteDriver(const std::vector<RoutePoint>& route);

}  // namespace sim
