// The board's G-sensor: the BMA150 accelerometer on I2C bus 0 with the car's motion behind it,
// the board kernel's bma150 driver and the tq90ra_gsnr module loaded in that order, and the
// device file /dev/gsnr (major 240, minor 104).
//
// It sits on a booted Tq90raBoard (the kernel and bus 0 exist): recorder-sim boots it right
// after the board's I/O (its place in createBoardModels()), tests make one after their
// Tq90raBoard.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "board/gsensor/accel_motion.h"
#include "board/gsensor/bma150_model.h"
#include "board/board_model.h"
#include "board/vehicle/vehicle_source.h"

namespace sim {

class GsensorBoard {
 public:
  static constexpr unsigned kMajor = 240;
  static constexpr unsigned kMinor = 104;
  static constexpr const char* kNode = "/dev/gsnr";

  explicit GsensorBoard(const AccelMotion::Options& motion = {});
  // Takes the modules out when the kernel still has them (tests); after a kernel reset, nothing.
  ~GsensorBoard();
  GsensorBoard(const GsensorBoard&) = delete;
  GsensorBoard& operator=(const GsensorBoard&) = delete;

  // The bma150 driver first: tq90ra_gsnr calls it.
  static const std::vector<std::string>& moduleOrder();
  const std::vector<std::pair<std::string, int>>& loadFailures() const { return loadFailures_; }

  Bma150Model& chip() { return *chip_; }
  // Takes the chip off the bus or puts it back (a sensor that is not fitted or has come loose).
  void setChipOnBus(bool present);

 private:
  std::shared_ptr<Bma150Model> chip_;
  std::vector<std::pair<std::string, int>> loadFailures_;
};

// The G-sensor as a part of recorder-sim's board. Scenario actions:
//   shock X Y Z [ms]   a half-sine shock with these peaks in milli-g (200 ms unless given)
//   gsensor fail N     the next N transfers with the sensor fail (the driver reports 0x7fff)
// The timeline shows each shock, the injected failures and every change of the bandwidth.
// The accelerometer feels the car that `vehicle` makes for the boot (its own default drive
// when none is given).
std::unique_ptr<BoardModel> makeGsensorBoardModel(std::shared_ptr<VehicleSource> vehicle = nullptr);

}  // namespace sim
