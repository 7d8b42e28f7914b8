// The character format of one end of a serial line: speed, data bits, parity and stop bits, and
// how long a character takes on the wire.
//
// A character is a start bit (low), the data bits least significant first, the parity bit if
// any, and one or two stop bits (high); the idle line is high. At 9600 baud 8N1 a character is
// 10 bits, so the line carries 960 characters a second.
#pragma once

#include <cstdint>
#include <string>
#include <termios.h>

namespace sim {

enum class Parity : uint8_t { None, Even, Odd };

struct LineFormat {
  int baud = 9600;  // 0: the line is hung up (B0), nothing crosses
  int dataBits = 8;
  Parity parity = Parity::None;
  int stopBits = 1;

  int frameBits() const { return 1 + dataBits + (parity == Parity::None ? 0 : 1) + stopBits; }
  double bitNs() const { return 1e9 / baud; }
  // The whole character on the wire, all stop bits included.
  int64_t frameNs() const;
  // From the start edge to the end of the first stop bit: when a receiver has the character.
  int64_t receiveNs() const;
  // Two ends that agree on these read each other's characters without error (a receiver looks
  // only at the first stop bit, so the number of stop bits does not matter).
  bool sameCharacter(const LineFormat& o) const {
    return baud == o.baud && dataBits == o.dataBits && parity == o.parity;
  }
  bool operator==(const LineFormat& o) const { return sameCharacter(o) && stopBits == o.stopBits; }
  // "9600 8N1"
  std::string text() const;

  // The format a terminal's settings select (c_cflag: the speed bits, CSIZE, PARENB, PARODD,
  // CSTOPB).
  static LineFormat fromTermios(const struct termios& t);
  // Parses "9600", "4800 7E2", "115200 8N1"; false when the text does not make one.
  static bool parse(const std::string& text, LineFormat* out);
};

// The baud rate of a termios speed constant (B9600 -> 9600); -1 for a value that is none.
int baudOfSpeed(speed_t speed);
// The termios speed constant of a baud rate; B0 when there is none.
speed_t speedOfBaud(int baud);

}  // namespace sim
