// The board process: one boot of the simulated board. recorder-sim starts it as a fresh process
// for every boot, so no state of the program survives a reboot; only the board directory does.
#pragma once

#include <cstdint>
#include <string>

#include "board/board_model.h"

namespace sim {

// Exit code of a board process whose program ran "reboot".
constexpr int kRebootExitCode = 75;

struct BoardProcessArgs {
  BoardConfig config;
  std::string tz;
  double speed = 1;
  int64_t monoAnchor = 0;
  int64_t worldAtZero = 0;
  int controlFd = -1;
};

[[noreturn]] void runBoardProcess(const BoardProcessArgs& args);

// Writes the parts of the board's root file system that exist before the program starts.
void prepareRootfs(const std::string& boardDir);

}  // namespace sim
