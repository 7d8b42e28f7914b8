// The list of the board's parts. Each subsystem of the simulated board adds its model here.
#include "board/io/tq90ra_board.h"
#include "board/board_model.h"
#include "board/camera/camera_model.h"
#include "board/card/card_model.h"
#include "board/card/card_runner.h"
#include "board/flash/flash_model.h"
#include "board/gps/gps_model.h"
#include "board/gsensor/gsensor_board.h"
#include "board/serial/controller_model.h"
#include "board/serial/serial_model.h"

namespace sim {

std::vector<std::unique_ptr<BoardModel>> createBoardModels() {
  std::vector<std::unique_ptr<BoardModel>> models;
  // First: it boots the kernel, whose modules the later parts build on.
  models.push_back(makeTq90raBoardModel());
  // One car for the parts that feel or see its motion.
  auto vehicle = std::make_shared<VehicleSource>();
  models.push_back(makeGsensorBoardModel(vehicle));  // bma150, tq90ra_gsnr, /dev/gsnr
  models.push_back(std::make_unique<FlashModel>());
  models.push_back(std::make_unique<CardModel>());
  models.push_back(makeCameraBoardModel());  // /dev/cam0
  auto serial = std::make_shared<SerialPorts>();
  models.push_back(makeSerialBoardModel(serial));  // /dev/ttyS0..3, the PC bridge
  models.push_back(makeGpsBoardModel(serial, vehicle));  // the receiver on port 2
  models.push_back(makeHealthModel());       // "health": resident size and pipe depths
  models.push_back(makeControllerModel(serial));   // the controller on port 1
  return models;
}

std::vector<std::unique_ptr<RunnerExtension>> createRunnerExtensions() {
  std::vector<std::unique_ptr<RunnerExtension>> extensions;
  extensions.push_back(makeHeldButtonsExtension());
  extensions.push_back(std::make_unique<CardRunnerExtension>());
  extensions.push_back(makeCameraRunnerOptions());  // --cam-frame-kb
  extensions.push_back(makeSerialRunnerExtension());  // --serial
  extensions.push_back(makeGpsRunnerExtension());     // --gps, --gps-ttff, --route, --rtc-offset
  extensions.push_back(makeControllerRunnerOption());  // --controller
  return extensions;
}

}  // namespace sim
