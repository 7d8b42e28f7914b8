#include "board/serial/serial_line.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <sys/ioctl.h>

#include "platform/sim/clock.h"

namespace sim {
namespace {

// A peer is handed what crossed in pieces of at most this many characters, each as soon as its
// last character is complete (a few milliseconds at 9600 baud).
constexpr size_t kPeerChunk = 16;

}  // namespace

SerialLine::SerialLine(int port, BoardEvents& events) : port_(port), events_(events) {
  int64_t now = Clock::elapsed();
  boardFormat_ = LineFormat::fromTermios(tty_.settings());
  peerFormat_ = boardFormat_;
  toBoard_.setReceiver(boardFormat_, now);
  toPeer_.setReceiver(peerFormat_, now);
}

SerialLine::~SerialLine() {
  if (deliveryEvent_ != 0 && !retired_) events_.cancel(deliveryEvent_);
}

// ---- the peer's end ----------------------------------------------------------------------

void SerialLine::attach(std::shared_ptr<LinePeer> peer, const LineFormat& format) {
  std::lock_guard<std::mutex> lock(mutex_);
  int64_t now = Clock::elapsed();
  toPeer_.decode(now);
  toPeer_.discardArrived(now);  // what crossed before the peer was wired is gone
  peer_ = std::move(peer);
  followBoard_ = false;
  peerFormat_ = format;
  toPeer_.setReceiver(format, now);
  schedulePeerDeliveryLocked(now);
}

void SerialLine::detach() {
  std::lock_guard<std::mutex> lock(mutex_);
  peer_.reset();
  if (deliveryEvent_ != 0) events_.cancel(deliveryEvent_);
  deliveryEvent_ = 0;
  deliveryAt_ = INT64_MAX;
}

void SerialLine::retire() {
  detach();
  std::lock_guard<std::mutex> lock(mutex_);
  retired_ = true;
}

bool SerialLine::hasPeer() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return peer_ != nullptr;
}

int64_t SerialLine::peerSend(const uint8_t* bytes, size_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  int64_t now = Clock::elapsed();
  int64_t end = toBoard_.send(bytes, count, followBoard_ ? boardFormat_ : peerFormat_, now);
  syncBoardLocked(now);
  schedulePeerDeliveryLocked(now);
  notifyLocked();
  return end;
}

void SerialLine::setPeerFormat(const LineFormat& format) {
  std::lock_guard<std::mutex> lock(mutex_);
  int64_t now = Clock::elapsed();
  followBoard_ = false;
  peerFormat_ = format;
  toPeer_.setReceiver(format, now);
  schedulePeerDeliveryLocked(now);
}

void SerialLine::followBoard(bool follow) {
  std::lock_guard<std::mutex> lock(mutex_);
  followBoard_ = follow;
  if (follow) {
    peerFormat_ = boardFormat_;
    toPeer_.setReceiver(boardFormat_, Clock::elapsed());
  }
}

LineFormat SerialLine::peerFormat() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return followBoard_ ? boardFormat_ : peerFormat_;
}

size_t SerialLine::peerUnsent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return toBoard_.unsentAt(Clock::elapsed());
}

LineFormat SerialLine::boardFormat() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boardFormat_;
}

void SerialLine::onBoardFormat(std::function<void(const LineFormat&)> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  formatListener_ = std::move(listener);
}

void SerialLine::schedulePeerDeliveryLocked(int64_t now) {
  toPeer_.decode(now);
  int64_t next = toPeer_.settledBy();
  size_t n = toPeer_.decodedCount();
  if (n > 0) {
    if (peer_) {
      next = std::min(next, toPeer_.decodedAt(std::min(n, kPeerChunk) - 1).at);
    } else {
      toPeer_.discardArrived(now);  // nobody on the line
      if (toPeer_.decodedCount() > 0) next = std::min(next, toPeer_.decodedAt(toPeer_.decodedCount() - 1).at);
    }
  }
  if (openCount_ > 0 && tty_.echoes()) next = std::min(next, nextBoardChangeLocked());
  if (retired_ || next == INT64_MAX || (deliveryEvent_ != 0 && deliveryAt_ <= next)) return;
  if (deliveryEvent_ != 0) events_.cancel(deliveryEvent_);
  deliveryAt_ = next;
  std::weak_ptr<SerialLine> self = weak_from_this();
  deliveryEvent_ = events_.after(std::max<int64_t>(0, next - now), [self] {
    if (auto line = self.lock()) line->deliverToPeer();
  });
}

void SerialLine::deliverToPeer() {
  std::vector<LineByte> crossed;
  std::shared_ptr<LinePeer> peer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    int64_t now = Clock::elapsed();
    deliveryEvent_ = 0;
    deliveryAt_ = INT64_MAX;
    if (openCount_ > 0 && tty_.echoes()) syncBoardLocked(now);
    toPeer_.decode(now);
    size_t n = 0;
    while (n < toPeer_.decodedCount() && toPeer_.decodedAt(n).at <= now) crossed.push_back(toPeer_.decodedAt(n++));
    toPeer_.consume(n);
    peer = peer_;
    schedulePeerDeliveryLocked(now);
  }
  if (peer && !crossed.empty()) peer->fromBoard(crossed.data(), crossed.size());
}

// ---- the board's UART and terminal -------------------------------------------------------

namespace {

// The first group of received characters the UART hands on: up to its FIFO's trigger level,
// or up to a pause of the time-out. Its size and the instant it goes.
struct FifoGroup {
  size_t size = 0;
  int64_t at = INT64_MAX;
};

FifoGroup firstGroup(const LineWire& wire, int64_t timeoutNs, int trigger) {
  FifoGroup g;
  size_t n = wire.decodedCount();
  for (size_t i = 0; i < n; ++i) {
    const LineByte& b = wire.decodedAt(i);
    if (i > 0 && b.at - wire.decodedAt(i - 1).at > timeoutNs) {
      return {i, wire.decodedAt(i - 1).at + timeoutNs};
    }
    if (i + 1 == static_cast<size_t>(trigger)) return {i + 1, b.at};
  }
  if (n > 0) g = {n, wire.decodedAt(n - 1).at + timeoutNs};
  return g;
}

}  // namespace

void SerialLine::syncBoardLocked(int64_t now) {
  toBoard_.decode(now);
  int64_t timeout = kFifoTimeoutChars * boardFormat_.frameNs();
  std::vector<uint8_t> echo;
  for (;;) {
    FifoGroup g = firstGroup(toBoard_, timeout, kFifoTrigger);
    if (g.size == 0 || g.at > now) break;
    if (openCount_ > 0) {
      for (size_t i = 0; i < g.size; ++i) tty_.receive(toBoard_.decodedAt(i), &echo);
    }
    lastTransferNs_ = g.at;
    toBoard_.consume(g.size);
  }
  if (!echo.empty()) {
    size_t room = kTransmitBuffer - std::min(kTransmitBuffer, toPeer_.unsentAt(now));
    transmitLocked(echo.data(), std::min(room, echo.size()), now);
  }
}

int64_t SerialLine::nextBoardChangeLocked() const {
  FifoGroup g = firstGroup(toBoard_, kFifoTimeoutChars * boardFormat_.frameNs(), kFifoTrigger);
  return std::min(g.at, toBoard_.settledBy());
}

void SerialLine::transmitLocked(const uint8_t* bytes, size_t count, int64_t now) {
  if (count == 0) return;
  toPeer_.send(bytes, count, boardFormat_, now);
  schedulePeerDeliveryLocked(now);
  notifyLocked();
}

void SerialLine::applyBoardFormatLocked(int64_t now) {
  boardFormat_ = LineFormat::fromTermios(tty_.settings());
  toBoard_.setReceiver(boardFormat_, now);
  if (followBoard_) {
    peerFormat_ = boardFormat_;
    toPeer_.setReceiver(boardFormat_, now);
  }
  schedulePeerDeliveryLocked(now);
}

bool SerialLine::waitUntilLocked(std::unique_lock<std::mutex>& lock, int64_t deadline) {
  uint64_t seen = generation_;
  return Clock::waitUntil(lock, changed_, deadline, [&] { return generation_ != seen; });
}

int SerialLine::open(int) {
  std::lock_guard<std::mutex> lock(mutex_);
  syncBoardLocked(Clock::elapsed());  // the UART was off: what came meanwhile is lost
  ++openCount_;
  return 0;
}

void SerialLine::release() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (openCount_ == 1) {
    // The last close lets the output drain first (Linux's closing wait).
    int64_t limit = Clock::elapsed() + kClosingWaitNs;
    while (toPeer_.idleAt() > Clock::elapsed() && Clock::elapsed() < limit) {
      waitUntilLocked(lock, std::min(toPeer_.idleAt(), limit));
    }
  }
  syncBoardLocked(Clock::elapsed());
  if (--openCount_ <= 0) {
    openCount_ = 0;
    tty_.flushInput();
  }
}

int SerialLine::openCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openCount_;
}

ssize_t SerialLine::read(void* buf, size_t count, bool nonblocking) {
  if (count == 0) return 0;
  auto* out = static_cast<uint8_t*>(buf);
  std::unique_lock<std::mutex> lock(mutex_);
  const int64_t start = Clock::elapsed();
  for (;;) {
    int64_t now = Clock::elapsed();
    syncBoardLocked(now);
    size_t readable = tty_.readable();
    int64_t deadline = INT64_MAX;
    if (tty_.canonical()) {
      if (readable > 0 || tty_.endOfFile()) return static_cast<ssize_t>(tty_.take(out, count));
      if (nonblocking) return -EAGAIN;
    } else {
      if (nonblocking) return readable > 0 ? static_cast<ssize_t>(tty_.take(out, count)) : -EAGAIN;
      const cc_t vmin = tty_.settings().c_cc[VMIN];
      const int64_t vtimeNs = tty_.settings().c_cc[VTIME] * 100 * kNsPerMs;
      size_t wanted = std::min<size_t>(std::max<size_t>(vmin, 1), count);
      if (readable >= wanted || (vmin == 0 && vtimeNs == 0)) return static_cast<ssize_t>(tty_.take(out, count));
      if (vtimeNs > 0) {
        if (vmin == 0) {
          deadline = start + vtimeNs;  // a read timer from the call on
        } else if (readable > 0) {
          deadline = lastTransferNs_ + vtimeNs;  // an inter-character timer
        }
        if (now >= deadline) return static_cast<ssize_t>(tty_.take(out, count));
      }
    }
    waitUntilLocked(lock, std::min(deadline, nextBoardChangeLocked()));
  }
}

ssize_t SerialLine::write(const void* buf, size_t count, bool nonblocking) {
  const auto* in = static_cast<const uint8_t*>(buf);
  std::unique_lock<std::mutex> lock(mutex_);
  std::vector<uint8_t> out;
  size_t done = 0;
  while (done < count) {
    int64_t now = Clock::elapsed();
    size_t room = kTransmitBuffer - std::min(kTransmitBuffer, toPeer_.unsentAt(now));
    out.clear();
    size_t used = done;
    for (; used < count; ++used) {
      uint8_t processed[2];
      size_t k = tty_.output(in[used], processed);
      if (out.size() + k > room) break;
      out.insert(out.end(), processed, processed + k);
    }
    if (used == done) {
      if (nonblocking) return done > 0 ? static_cast<ssize_t>(done) : -EAGAIN;
      waitUntilLocked(lock, toPeer_.unsentDropsTo(kTransmitBuffer - 2, now));
      continue;
    }
    transmitLocked(out.data(), out.size(), now);
    done = used;
  }
  return static_cast<ssize_t>(done);
}

int SerialLine::tcgetattr(struct termios* t) {
  std::lock_guard<std::mutex> lock(mutex_);
  *t = tty_.settings();
  return 0;
}

int SerialLine::tcsetattr(int actions, const struct termios* t) {
  if (actions != TCSANOW && actions != TCSADRAIN && actions != TCSAFLUSH) return -EINVAL;
  std::function<void(const LineFormat&)> listener;
  LineFormat format;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (actions != TCSANOW) {
      while (toPeer_.idleAt() > Clock::elapsed()) waitUntilLocked(lock, toPeer_.idleAt());
    }
    int64_t now = Clock::elapsed();
    syncBoardLocked(now);  // what arrived so far was received with the settings before
    if (actions == TCSAFLUSH) {
      tty_.flushInput();
      toBoard_.discardArrived(now);
    }
    LineFormat before = boardFormat_;
    tty_.setSettings(*t);
    applyBoardFormatLocked(now);
    notifyLocked();
    if (!(boardFormat_ == before)) listener = formatListener_;
    format = boardFormat_;
  }
  if (listener) listener(format);
  return 0;
}

int SerialLine::tcflush(int queue) {
  if (queue != TCIFLUSH && queue != TCOFLUSH && queue != TCIOFLUSH) return -EINVAL;
  std::lock_guard<std::mutex> lock(mutex_);
  int64_t now = Clock::elapsed();
  if (queue != TCOFLUSH) {
    syncBoardLocked(now);
    tty_.flushInput();
    toBoard_.discardArrived(now);
  }
  if (queue != TCIFLUSH) {
    toPeer_.dropUnstarted(now);
    schedulePeerDeliveryLocked(now);
  }
  notifyLocked();
  return 0;
}

long SerialLine::ioctl(unsigned long request, uintptr_t arg) {
  std::lock_guard<std::mutex> lock(mutex_);
  int64_t now = Clock::elapsed();
  int* value = reinterpret_cast<int*>(arg);
  if (value == nullptr) return -EFAULT;
  if (request == FIONREAD) {
    syncBoardLocked(now);
    *value = static_cast<int>(tty_.readable());
    return 0;
  }
  if (request == TIOCOUTQ) {
    *value = static_cast<int>(toPeer_.unsentAt(now));
    return 0;
  }
  return -ENOTTY;
}

}  // namespace sim
