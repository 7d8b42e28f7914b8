// The list of the board's parts. Each subsystem of the simulated board adds its model here.
#include "board_model.h"
#include "board/tq90ra_board.h"

namespace sim {

std::vector<std::unique_ptr<BoardModel>> createBoardModels() {
  std::vector<std::unique_ptr<BoardModel>> models;
  // First: it boots the kernel, whose modules the later parts build on.
  models.push_back(makeTq90raBoardModel());
  return models;
}

std::vector<std::unique_ptr<RunnerExtension>> createRunnerExtensions() {
  std::vector<std::unique_ptr<RunnerExtension>> extensions;
  extensions.push_back(makeHeldButtonsExtension());
  return extensions;
}

}  // namespace sim
