// The serial ports as a part of recorder-sim's board, and the PC bridge options.
//
//   --serial N=pty       port N joined to a new pseudo-terminal on the PC (its path is printed
//                        and written to DIR/ttySN.pty)
//   --serial N=DEVICE    port N joined to a real serial device of the PC (needs --speed 1)
//
// The option may be given once per port. A port joined to the PC has no model on it: the PC is
// its peer. Other parts of the board put their models on the ports they are wired to through
// SerialPorts (the GPS receiver on port 2).
#pragma once

#include <map>
#include <memory>
#include <string>

#include "board/board_model.h"
#include "board/serial/serial_board.h"

namespace sim {

// The board process's serial ports, shared by the parts of the board that put peers on them.
struct SerialPorts {
  std::unique_ptr<SerialBoard> board;  // made at boot
  // What each port is joined to on the PC ("pty" or a device path), from --serial.
  std::map<int, std::string> bridged;
  bool isBridged(int port) const { return bridged.count(port) != 0; }
};

// Parses the --serial values ("1=pty 2=/dev/ttyUSB0"); false with a message.
bool parseSerialOption(const std::string& value, std::map<int, std::string>* bridges, std::string* error);

std::unique_ptr<BoardModel> makeSerialBoardModel(std::shared_ptr<SerialPorts> ports);
std::unique_ptr<RunnerExtension> makeSerialRunnerExtension();

}  // namespace sim
