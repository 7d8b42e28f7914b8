// One direction of a serial line: the characters a transmitter put on the wire, each at its
// instant and in its sender's format, and what the receiver at the other end makes of them in
// its own format.
//
// When both ends agree on the character format, every character arrives as sent, complete at
// the end of its first stop bit. When they do not, the receiver is a real UART: it waits for a
// falling edge, samples each bit in the middle of its own bit time, and delivers what it sampled,
// marked with a framing error when the stop bit reads low, a parity error when the parity bit
// disagrees, and as a break when the whole character reads low. The garbage is deterministic:
// it follows from the two formats and the instants alone.
//
// The transmitter sends characters back to back: a character queued while the wire is busy
// starts when the one before it has ended. What is on the wire up to the end of the last queued
// character is therefore settled, and the receiver decodes ahead up to there; a change of the
// receiver's format takes back what it had decoded beyond that instant and decodes it again.
//
// Not thread-safe: the line that owns it holds its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "board/serial/line_format.h"

namespace sim {

// A character as a receiver got it.
struct LineByte {
  enum Flags : uint8_t { kParityError = 1, kFramingError = 2, kBreak = 4 };
  uint8_t value = 0;
  uint8_t flags = 0;
  int64_t at = 0;  // elapsed time at which the receiver had it
};

class LineWire {
 public:
  // Queues characters at `now` in the sender's format `f`; the instant the last one has fully
  // left the transmitter.
  int64_t send(const uint8_t* bytes, size_t count, const LineFormat& f, int64_t now);
  // When the transmitter falls idle (the end of the last queued character; <= now when idle).
  int64_t idleAt() const { return idleAt_; }
  // Characters queued that have not fully left the transmitter at `now`.
  size_t unsentAt(int64_t now) const;
  // The instant the transmitter has at most `keep` characters left to send.
  int64_t unsentDropsTo(size_t keep, int64_t now) const;
  // Drops the characters that have not started by `now` (a flush of the transmitter).
  void dropUnstarted(int64_t now);

  // The receiver's format; a change at `now` decodes again what arrives after it.
  void setReceiver(const LineFormat& f, int64_t now);
  const LineFormat& receiver() const { return rx_; }
  // Decodes all that the settled part of the wire holds (see above).
  void decode(int64_t now);
  // Decoded characters in order, some of them possibly still on their way (at > now).
  size_t decodedCount() const { return decoded_.size(); }
  const LineByte& decodedAt(size_t i) const { return decoded_[i].byte; }
  // Removes the first `n` decoded characters (the receiver has taken them).
  void consume(size_t n);
  // Drops everything received by `now` that was not taken yet.
  void discardArrived(int64_t now);
  // An instant by which decode() will have turned everything now on the wire into characters
  // (INT64_MAX when nothing is waiting to be decoded).
  int64_t settledBy() const;

 private:
  struct Frame {
    uint8_t value;
    LineFormat format;
    int64_t start;
    int64_t end() const { return start + format.frameNs(); }
  };
  // The line level at instant t (true: high), and the first falling edge at or after t on the
  // settled wire (false when there is none).
  bool levelAt(int64_t t) const;
  bool fallingEdgeFrom(int64_t t, int64_t* edge) const;
  bool bitOf(const Frame& f, int index) const;
  std::deque<Frame>::const_iterator firstEndingAfter(int64_t t) const;
  // Decodes one character from the cursor on; false when the wire is not settled far enough.
  bool decodeNext(int64_t horizon);
  void prune(int64_t now);
  // Takes back what was decoded from receiver frames that began at or after t.
  void rewind(int64_t t);

  struct Decoded {
    LineByte byte;
    int64_t edge;   // the start edge the receiver saw
    int64_t after;  // where it hunted on from (its stop bit sample)
  };

  std::deque<Frame> frames_;
  int64_t idleAt_ = 0;
  LineFormat rx_;
  int64_t cursor_ = 0;      // the receiver hunts for the next start edge from here
  int64_t baseCursor_ = 0;  // where it hunted on from after the last character taken
  std::deque<Decoded> decoded_;
};

}  // namespace sim
