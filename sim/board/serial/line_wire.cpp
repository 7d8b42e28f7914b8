#include "board/serial/line_wire.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace sim {
namespace {

int64_t bitsNs(double bits, const LineFormat& f) { return std::llround(bits * f.bitNs()); }

uint8_t dataMask(const LineFormat& f) { return static_cast<uint8_t>((1u << f.dataBits) - 1); }

// The parity bit a sender puts after these data bits.
bool parityBit(uint8_t data, Parity parity) {
  bool odd = (__builtin_popcount(data) & 1) != 0;
  return parity == Parity::Even ? odd : !odd;
}

// Start bit, data bits and parity bit, and the first stop bit: what a receiver samples.
int sampledBits(const LineFormat& f) { return f.frameBits() - f.stopBits + 1; }

}  // namespace

int64_t LineWire::send(const uint8_t* bytes, size_t count, const LineFormat& f, int64_t now) {
  if (f.baud <= 0) return std::max(idleAt_, now);  // a hung-up line carries nothing
  int64_t frameNs = f.frameNs();
  for (size_t i = 0; i < count; ++i) {
    int64_t start = std::max(now, idleAt_);
    frames_.push_back(Frame{static_cast<uint8_t>(bytes[i] & dataMask(f)), f, start});
    idleAt_ = start + frameNs;
  }
  return std::max(idleAt_, now);
}

size_t LineWire::unsentAt(int64_t now) const {
  size_t n = 0;
  for (auto it = frames_.rbegin(); it != frames_.rend() && it->end() > now; ++it) ++n;
  return n;
}

int64_t LineWire::unsentDropsTo(size_t keep, int64_t now) const {
  if (unsentAt(now) <= keep) return now;
  return frames_[frames_.size() - keep - 1].end();
}

void LineWire::dropUnstarted(int64_t now) {
  while (!frames_.empty() && frames_.back().start > now) frames_.pop_back();
  idleAt_ = frames_.empty() ? std::min(idleAt_, now) : frames_.back().end();
  rewind(now);
}

void LineWire::setReceiver(const LineFormat& f, int64_t now) {
  if (f == rx_) return;
  rx_ = f;
  rewind(now);
}

void LineWire::rewind(int64_t t) {
  while (!decoded_.empty() && decoded_.back().edge >= t) decoded_.pop_back();
  cursor_ = decoded_.empty() ? std::max(baseCursor_, std::min(cursor_, t)) : decoded_.back().after;
}

void LineWire::consume(size_t n) {
  n = std::min(n, decoded_.size());
  if (n == 0) return;
  baseCursor_ = decoded_[n - 1].after;
  decoded_.erase(decoded_.begin(), decoded_.begin() + static_cast<std::ptrdiff_t>(n));
}

void LineWire::discardArrived(int64_t now) {
  size_t n = 0;
  while (n < decoded_.size() && decoded_[n].byte.at <= now) ++n;
  consume(n);
}

int64_t LineWire::settledBy() const {
  int64_t edge;
  if (rx_.baud <= 0 || !fallingEdgeFrom(cursor_, &edge)) return INT64_MAX;
  // The receiver has sampled the character that starts there.
  return edge + bitsNs(sampledBits(rx_), rx_);
}

void LineWire::prune(int64_t now) {
  int64_t limit = std::min(baseCursor_, now);
  while (!frames_.empty() && frames_.front().end() <= limit) frames_.pop_front();
}

void LineWire::decode(int64_t now) {
  prune(now);
  if (rx_.baud <= 0) return;
  int64_t horizon = std::max(now, idleAt_);
  while (decodeNext(horizon)) {
  }
}

bool LineWire::bitOf(const Frame& f, int index) const {
  const LineFormat& fmt = f.format;
  if (index == 0) return false;  // start bit
  if (index <= fmt.dataBits) return ((f.value >> (index - 1)) & 1) != 0;
  if (index == fmt.dataBits + 1 && fmt.parity != Parity::None) return parityBit(f.value, fmt.parity);
  return true;  // stop bits
}

bool LineWire::levelAt(int64_t t) const {
  // The last frame that starts at or before t.
  auto it = std::upper_bound(frames_.begin(), frames_.end(), t,
                             [](int64_t time, const Frame& f) { return time < f.start; });
  if (it == frames_.begin()) return true;
  const Frame& f = *(it - 1);
  if (t >= f.end()) return true;  // idle between characters
  int index = static_cast<int>(static_cast<double>(t - f.start) / f.format.bitNs());
  return bitOf(f, std::min(index, f.format.frameBits() - 1));
}

std::deque<LineWire::Frame>::const_iterator LineWire::firstEndingAfter(int64_t t) const {
  // Frames follow each other without overlap, so their ends are in order too.
  return std::partition_point(frames_.begin(), frames_.end(), [t](const Frame& f) { return f.end() <= t; });
}

bool LineWire::fallingEdgeFrom(int64_t t, int64_t* edge) const {
  auto it = firstEndingAfter(t);
  if (it == frames_.end()) return false;
  if (it->start >= t) {
    *edge = it->start;  // the line is high before every start bit
    return true;
  }
  const Frame& f = *it;
  for (int k = 1; k < f.format.frameBits(); ++k) {
    int64_t boundary = f.start + bitsNs(k, f.format);
    if (boundary >= t && bitOf(f, k - 1) && !bitOf(f, k)) {
      *edge = boundary;
      return true;
    }
  }
  if (++it == frames_.end()) return false;
  *edge = it->start;
  return true;
}

bool LineWire::decodeNext(int64_t horizon) {
  auto it = firstEndingAfter(cursor_);
  if (it == frames_.end()) return false;
  int n = sampledBits(rx_);
  if (it->start >= cursor_ && it->format.sameCharacter(rx_)) {
    // Both ends agree: the character arrives as sent.
    Decoded d;
    d.byte.value = it->value;
    d.byte.at = it->start + rx_.receiveNs();
    d.edge = it->start;
    d.after = it->start + bitsNs(n - 0.5, rx_);
    decoded_.push_back(d);
    cursor_ = d.after;
    return true;
  }
  int64_t edge;
  if (!fallingEdgeFrom(cursor_, &edge)) return false;
  auto sample = [&](int k) { return levelAt(edge + bitsNs(k + 0.5, rx_)); };
  int64_t lastSample = edge + bitsNs(n - 0.5, rx_);
  if (lastSample > horizon) return false;  // the wire is not settled that far yet
  if (sample(0)) {
    cursor_ = edge + bitsNs(0.5, rx_);  // a glitch, not a start bit: hunt on
    return true;
  }
  Decoded d;
  for (int k = 1; k <= rx_.dataBits; ++k) {
    if (sample(k)) d.byte.value |= static_cast<uint8_t>(1u << (k - 1));
  }
  bool parity = false;
  if (rx_.parity != Parity::None) {
    parity = sample(rx_.dataBits + 1);
    if (parity != parityBit(d.byte.value, rx_.parity)) d.byte.flags |= LineByte::kParityError;
  }
  if (!sample(n - 1)) {
    d.byte.flags |= LineByte::kFramingError;
    if (d.byte.value == 0 && !parity) d.byte.flags |= LineByte::kBreak;
  }
  d.byte.at = edge + bitsNs(n, rx_);
  d.edge = edge;
  d.after = lastSample;
  decoded_.push_back(d);
  cursor_ = lastSample;
  return true;
}

}  // namespace sim
