// The external controller on serial port 1 (a fleet box, a taxi meter, a service laptop): a
// model that speaks the recorder's controller protocol from the scenario.
//
//   recorder-sim --controller        the unit has a controller fitted: the program is started
//                                    with --controller, as the unit's start-up script does
//   30 controller get recording      (gsensor, version, status; several items in one line)
//   40 controller set PRERECTIME1=10 POSTRECTIME1=10
//   50 controller trigger
//   55 controller ping
//   60 controller raw F0 02 92 01 00 7B
//
// The model is on port 1 unless --serial 1=... joins the port to the PC. Its actions run one
// after the other on its own thread; each sends once the program has its port open and waits
// (simulated time, 30 s in all) for its answer. The timeline
// shows every frame it sends ("controller-request"), every frame it receives
// ("controller-answer", with the answer's values) and how each action ended
// ("controller-result": ok, refused, no answer, bad frame, not kept).
#pragma once

#include <memory>

#include "board/board_model.h"
#include "board/serial/serial_model.h"

namespace sim {

std::unique_ptr<BoardModel> makeControllerModel(std::shared_ptr<SerialPorts> ports);
std::unique_ptr<RunnerExtension> makeControllerRunnerOption();

}  // namespace sim
