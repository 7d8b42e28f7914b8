// The board's serial ports: /dev/ttyS0 to /dev/ttyS3, each the board's end of a SerialLine.
// The board kernel's 8250 driver is built in, so the nodes are there from boot, before any
// module loads. Port 1 is wired to the controller connector, port 2 to the GPS receiver.
//
// The ports share one event queue: the lines' deliveries to their peers and the peers' own
// timing run on it. recorder-sim runs it on a thread (startThread()); a test with the clock
// standing still steps it with events().advance().
#pragma once

#include <array>
#include <memory>
#include <string>

#include "board/events.h"
#include "board/serial/serial_line.h"

namespace sim {

class SerialBoard {
 public:
  static constexpr int kPorts = 4;
  static constexpr int kControllerPort = 1;
  static constexpr int kGpsPort = 2;

  SerialBoard();
  // Takes the nodes away; the peers are taken off the lines.
  ~SerialBoard();
  SerialBoard(const SerialBoard&) = delete;
  SerialBoard& operator=(const SerialBoard&) = delete;

  static std::string nodePath(int port);
  // nullptr for a port the board does not have.
  SerialLine* line(int port);
  BoardEvents& events() { return events_; }
  void startThread() { events_.startThread(); }

 private:
  BoardEvents events_;
  std::array<std::shared_ptr<SerialLine>, kPorts> lines_;
};

}  // namespace sim
