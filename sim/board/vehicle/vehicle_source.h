// The car of one boot of the board, shared by the parts that feel or see its motion (the
// accelerometer, the GPS receiver). It is made from the run's options the first time a part
// asks: --route FILE.gpx follows a track, otherwise the default drive.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "board/board_model.h"
#include "board/vehicle/vehicle.h"

namespace sim {

class VehicleSource {
 public:
  static constexpr const char* kRouteOption = "route";
  std::shared_ptr<Vehicle> forBoot(const BoardConfig& config);

 private:
  std::mutex mutex_;
  std::shared_ptr<Vehicle> vehicle_;
};

}  // namespace sim
