// A scripted serial port for the GPS codecs: reads hand out queued blocks (an empty block is a
// read that timed out), writes are kept. The codecs only see the two functions.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>

#include "platform/sim/clock.h"

namespace gpstest {

using Bytes = std::vector<uint8_t>;

struct FakePort {
  std::deque<Bytes> reads;          // one entry per read call; none left: the read times out
  std::vector<Bytes> writes;        // every write, whole
  int readCalls = 0;
  int shortWriteAt = -1;            // the write with this index writes one byte less
  // Called on every write (a receiver's answer goes into `reads`).
  std::function<void(const Bytes&)> onWrite;

  static FakePort*& current() {
    static FakePort* p = nullptr;
    return p;
  }
  static int read(int, uint8_t* buffer, int size) {
    FakePort& p = *current();
    ++p.readCalls;
    if (p.reads.empty()) return 0;
    Bytes b = p.reads.front();
    p.reads.pop_front();
    int n = static_cast<int>(b.size()) < size ? static_cast<int>(b.size()) : size;
    if (n <= 0) return 0;  // a read that timed out
    memcpy(buffer, b.data(), static_cast<size_t>(n));
    return n;
  }
  static int write(int, const uint8_t* bytes, int count) {
    FakePort& p = *current();
    Bytes b(bytes, bytes + count);
    int index = static_cast<int>(p.writes.size());
    p.writes.push_back(b);
    if (p.onWrite) p.onWrite(b);
    return index == p.shortWriteAt ? count - 1 : count;
  }
};

// UBX frame with its checksum.
inline Bytes ubxFrame(uint8_t cls, uint8_t id, const Bytes& payload) {
  Bytes f = {0xB5, 0x62, cls, id, static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
  f.insert(f.end(), payload.begin(), payload.end());
  uint8_t a = 0, b = 0;
  for (size_t i = 2; i < f.size(); ++i) {
    a = static_cast<uint8_t>(a + f[i]);
    b = static_cast<uint8_t>(b + a);
  }
  f.push_back(a);
  f.push_back(b);
  return f;
}

// Furuno frame: id, data, XOR of id..data, end byte.
inline Bytes furunoFrame(uint8_t id, const Bytes& data) {
  Bytes f = {id};
  f.insert(f.end(), data.begin(), data.end());
  uint8_t x = 0;
  for (uint8_t v : f) x ^= v;
  f.push_back(x);
  f.push_back(id == 0xD0 ? 0xDA : 0xEA);
  return f;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The clock runs fast, so that the codecs' pauses take no real time.
inline void fastClock() {
  sim::Clock::runAt(100000.0, sim::Clock::monoNow(), 0, 1767225600LL * sim::kNsPerSec);
}

}  // namespace gpstest
