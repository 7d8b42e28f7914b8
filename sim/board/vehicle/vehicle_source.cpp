#include "board/vehicle/vehicle_source.h"

#include "platform/sim/board.h"

namespace sim {

std::shared_ptr<Vehicle> VehicleSource::forBoot(const BoardConfig& config) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (vehicle_) return vehicle_;
  Vehicle::Options o;
  std::string route = config.option(kRouteOption);
  if (!route.empty()) {
    std::string error;
    if (!loadGpxRoute(route, &o.route, &error)) boardNote("vehicle: %s; the default drive instead", error.c_str());
  }
  vehicle_ = std::make_shared<Vehicle>(o);
  return vehicle_;
}

}  // namespace sim
