// The GPS receiver as a part of recorder-sim's board, on serial port 2.
//
// Options:
//   --gps ubx|furuno|nmea|none   the receiver (default ubx; none leaves the port silent)
//   --gps-ttff SECONDS           time to first fix after a cold start (default 30)
//   --route FILE.gpx             the car follows this track instead of the default drive
//   --rtc-offset SECONDS         the board's clock chip starts this far off the true time
// Scenario actions:
//   gps fix lost                 a tunnel: no position; the receiver keeps the time
//   gps fix back                 out of the tunnel: a fix again a second later
//   gps replay FILE              the bytes of FILE (a capture of a receiver's output) go out at
//                                line speed in place of the receiver's own output; commands are
//                                still answered between its messages
//
// The receiver is powered with the board: a power-on is a cold start; through a reboot of the
// board it keeps its fix and settings (kept in DIR/gps.state while the supply is on). The
// timeline shows its power-on, first fix, restarts, changes of its port and the actions.
#pragma once

#include <memory>

#include "board/board_model.h"
#include "board/serial/serial_model.h"
#include "board/vehicle/vehicle_source.h"

namespace sim {

std::unique_ptr<BoardModel> makeGpsBoardModel(std::shared_ptr<SerialPorts> ports, std::shared_ptr<VehicleSource> vehicle);
std::unique_ptr<RunnerExtension> makeGpsRunnerExtension();

}  // namespace sim
