// The list of the board's parts. Each subsystem of the simulated board adds its model here.
#include "board_model.h"
#include "card_model.h"
#include "card_runner.h"
#include "flash_model.h"

namespace sim {

std::vector<std::unique_ptr<BoardModel>> createBoardModels() {
  std::vector<std::unique_ptr<BoardModel>> models;
  models.push_back(std::make_unique<FlashModel>());
  models.push_back(std::make_unique<CardModel>());
  return models;
}

std::vector<std::unique_ptr<RunnerExtension>> createRunnerExtensions() {
  std::vector<std::unique_ptr<RunnerExtension>> extensions;
  extensions.push_back(std::make_unique<CardRunnerExtension>());
  return extensions;
}

}  // namespace sim
