// One of the board's serial lines: the board's UART and its terminal (/dev/ttySn) at one end,
// a peer at the other (a model of a device wired to the port, or the PC bridge).
//
// Timing runs on the simulated clock. Characters cross at the sender's speed and format, back to
// back, and the receiver has each one at the end of its first stop bit; when the two ends
// disagree on the format, the receiver gets garbage (see line_wire.h). The board's UART hands
// received characters to the terminal as a 16550 does: when 8 have gathered in its FIFO, or
// when the line has been quiet for 4 character times after the last. A write returns once its
// characters are queued (the transmit buffer holds 4096; a write waits for room beyond that);
// closing the port waits until they are out, at most 30 seconds.
//
// While nobody has the terminal open, the UART is off and what arrives is lost, as on Linux.
// The terminal's settings survive a close: the next open finds them as they were left.
//
// The peer's side (for a model on the line):
//   - attach() puts a peer on the line with its own format; fromBoard() then gets, on the board's
//     event thread, every character that crossed from the board, in order;
//   - peerSend() queues characters towards the board at the peer's format (from any thread,
//     fromBoard() included) and tells when the last will have crossed;
//   - setPeerFormat() changes the peer's speed or format (a receiver told to switch speed),
//     followBoard() makes the peer's format always the board's (the PC bridge, which has none);
//   - events() is the board's event queue, for a peer's own timing (a receiver's once a second).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <termios.h>
#include <vector>

#include "board/events.h"
#include "board/serial/line_format.h"
#include "board/serial/line_wire.h"
#include "board/serial/tty_discipline.h"

namespace sim {

class LinePeer {
 public:
  virtual ~LinePeer() = default;
  // Characters that crossed from the board, each with the instant the peer had it and, when
  // the formats disagree, its error flags. Never called with the line locked.
  virtual void fromBoard(const LineByte* bytes, size_t count) = 0;
};

class SerialLine : public std::enable_shared_from_this<SerialLine> {
 public:
  static constexpr size_t kTransmitBuffer = 4096;
  static constexpr int kFifoTrigger = 8;
  static constexpr int kFifoTimeoutChars = 4;
  static constexpr int64_t kClosingWaitNs = 30LL * 1000 * 1000 * 1000;

  SerialLine(int port, BoardEvents& events);
  ~SerialLine();
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  int port() const { return port_; }
  BoardEvents& events() { return events_; }

  // ---- the peer's end
  void attach(std::shared_ptr<LinePeer> peer, const LineFormat& format);
  void detach();
  // The board is going away: the peer is taken off and no more events are scheduled (a file
  // still open on the terminal keeps working, without a peer).
  void retire();
  bool hasPeer() const;
  int64_t peerSend(const uint8_t* bytes, size_t count);
  void setPeerFormat(const LineFormat& format);
  void followBoard(bool follow);
  LineFormat peerFormat() const;
  // Characters the peer queued that have not fully left it yet.
  size_t peerUnsent() const;
  // The board's format as its terminal is set now, and a listener for its changes (called with
  // the line unlocked, on the thread that changed the settings).
  LineFormat boardFormat() const;
  void onBoardFormat(std::function<void(const LineFormat&)> listener);

  // ---- the board's end: the terminal's device file calls these (results: count, or -errno)
  int open(int flags);
  void release();
  ssize_t read(void* buf, size_t count, bool nonblocking);
  ssize_t write(const void* buf, size_t count, bool nonblocking);
  int tcgetattr(struct termios* t);
  int tcsetattr(int actions, const struct termios* t);
  int tcflush(int queue);
  // FIONREAD / TIOCINQ: characters a read could take; TIOCOUTQ: characters not yet sent.
  long ioctl(unsigned long request, uintptr_t arg);
  int openCount() const;

 private:
  // Moves what the UART has received by `now` into the terminal; echoes go out.
  void syncBoardLocked(int64_t now);
  // When something more becomes readable or needs decoding (INT64_MAX: nothing pending).
  int64_t nextBoardChangeLocked() const;
  // Sends bytes from the board side; the caller made room.
  void transmitLocked(const uint8_t* bytes, size_t count, int64_t now);
  void schedulePeerDeliveryLocked(int64_t now);
  void deliverToPeer();
  void applyBoardFormatLocked(int64_t now);
  bool waitUntilLocked(std::unique_lock<std::mutex>& lock, int64_t deadline);
  void notifyLocked() {
    ++generation_;
    changed_.notify_all();
  }

  const int port_;
  BoardEvents& events_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t generation_ = 0;

  TtyDiscipline tty_;
  LineFormat boardFormat_;
  int openCount_ = 0;
  LineWire toPeer_;   // the board transmits, the peer receives
  LineWire toBoard_;  // the peer transmits, the board's UART receives
  int64_t lastTransferNs_ = 0;  // when the UART last handed characters to the terminal

  std::shared_ptr<LinePeer> peer_;
  LineFormat peerFormat_;
  bool followBoard_ = false;
  bool retired_ = false;
  BoardEvents::Id deliveryEvent_ = 0;
  int64_t deliveryAt_ = INT64_MAX;
  std::function<void(const LineFormat&)> formatListener_;
};

}  // namespace sim
