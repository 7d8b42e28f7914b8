// The PC bridge: a board's serial line joined to a terminal on the PC, so that any PC program
// (a terminal, a script, socat, a controller application) or a real device wired to the PC is
// the peer.
//
//   - a pseudo-terminal: recorder-sim makes it once per run (openPseudoTerminal) and keeps it
//     across the board's boots; its path is printed and written to DIR/ttySN.pty. The PC side
//     starts raw, so a program that does not set it gets the bytes as they are;
//   - a real serial device (/dev/ttyUSB0): its line is set to the board's port's format, and set
//     again whenever the program changes it. Its bytes cross in real time, so it needs the
//     simulated clock at speed 1.
//
// In the board process, PcBridge is the line's peer: what crosses from the board is written to
// the PC terminal, what the PC terminal gives is sent to the board at the board's format (a
// pseudo-terminal has no speed of its own; on a real device the real line decides). While the
// board is off, what the PC sends is lost, as on a line to a board without power.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "board/serial/serial_line.h"

namespace sim {

struct PseudoTerminal {
  int master = -1;
  int slave = -1;  // kept open so the path stays valid while no PC program has it open
  std::string path;
};

// A new pseudo-terminal with a raw PC side; false with a message when there is none.
bool openPseudoTerminal(PseudoTerminal* pty, std::string* error);
// Sets a real serial device's line to a format (raw).
bool setDeviceFormat(int fd, const LineFormat& format);

class PcBridge : public LinePeer, public std::enable_shared_from_this<PcBridge> {
 public:
  // `fd` is the PC terminal (the pseudo-terminal's master or the device); the bridge does not
  // close it. `device` tells a real device, whose line follows the board's format.
  PcBridge(int fd, bool device);
  ~PcBridge() override;

  // Puts the bridge on the line and starts passing bytes.
  void start(SerialLine& line);
  void stop();

  void fromBoard(const LineByte* bytes, size_t count) override;

 private:
  void pump();

  int fd_;
  bool device_;
  SerialLine* line_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace sim
