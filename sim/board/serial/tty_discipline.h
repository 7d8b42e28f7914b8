// The terminal's line discipline as Linux applies it between the serial port and the program:
// the settings (termios) and what they do to the characters received and written.
//
// Received: ISTRIP, IGNCR, ICRNL, INLCR; characters with a parity or framing error are kept as
// they are unless INPCK asks for a check (then IGNPAR drops them, PARMRK marks them with
// 0xFF 0x00, and otherwise they read as 0); a break reads as 0 unless IGNBRK or BRKINT; with
// ISIG the signal characters and with IXON the flow control characters are taken out (nobody
// gets a signal and output never stops on the simulated line). In canonical mode (ICANON) a
// read gets one line at a time and ERASE, KILL and EOF edit the line; ECHO and ECHONL send
// received characters back. Raw, a read gets what is there, as VMIN and VTIME allow.
//
// Written: with OPOST, ONLCR turns a line feed into CR LF and OCRNL a CR into a line feed.
//
// The read queue holds at most 4096 characters, as Linux's; what does not fit is lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <termios.h>
#include <vector>

#include "board/serial/line_wire.h"

namespace sim {

class TtyDiscipline {
 public:
  static constexpr size_t kQueueSize = 4096;

  // A serial port as Linux leaves it before anyone set it: 9600 baud 8N1, receiver on, local
  // line, canonical mode with echo and the usual control characters.
  static struct termios linuxDefaults();

  TtyDiscipline() : t_(linuxDefaults()) {}
  const struct termios& settings() const { return t_; }
  void setSettings(const struct termios& t);
  bool canonical() const { return (t_.c_lflag & ICANON) != 0; }
  bool echoes() const { return (t_.c_lflag & (ECHO | ECHONL)) != 0; }

  // A character from the port; characters to echo are appended to `echo`.
  void receive(const LineByte& b, std::vector<uint8_t>* echo);
  // What a read could take now (canonical: the first complete line).
  size_t readable() const;
  // Characters waiting, complete lines or not.
  size_t queued() const;
  // Takes up to n of the readable characters.
  size_t take(uint8_t* out, size_t n);
  // True when a canonical read would return now with 0 (a line ended by EOF alone).
  bool endOfFile() const;
  void flushInput();

  // One written character after output processing (1 or 2 characters).
  size_t output(uint8_t c, uint8_t out[2]) const;

 private:
  void put(uint8_t c);
  void echoChar(uint8_t c, std::vector<uint8_t>* echo) const;
  void receiveCanonical(uint8_t c, std::vector<uint8_t>* echo);
  bool isSpecial(uint8_t c, int index) const { return t_.c_cc[index] != 0 && c == t_.c_cc[index]; }

  struct termios t_;
  std::deque<uint8_t> raw_;       // raw mode: every character
  std::deque<std::string> lines_;  // canonical mode: complete lines (an EOF line may be empty)
  std::string line_;               // canonical mode: the line being edited
};

}  // namespace sim
