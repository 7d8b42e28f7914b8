#include "board/gps/furuno_receiver.h"

#include <cmath>
#include <ctime>

namespace sim {
namespace {

constexpr size_t kLongestCommand = 64;

void put7(std::vector<uint8_t>* d, uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) d->push_back(static_cast<uint8_t>((value >> (7 * i)) & 0x7F));
}
void putSigned(std::vector<uint8_t>* d, double value, int bytes) {
  long long v = std::llround(value);
  uint32_t mask = (1u << (7 * bytes)) - 1;
  put7(d, static_cast<uint32_t>(v) & mask, bytes);
}

}  // namespace

std::vector<uint8_t> FurunoReceiver::frame(uint8_t id, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> f = {id};
  uint8_t sum = id;
  for (uint8_t b : data) {
    f.push_back(b & 0x7F);
    sum ^= b & 0x7F;
  }
  f.push_back(sum);
  f.push_back(static_cast<uint8_t>((id & 0xF0) | 0x0A));
  return f;
}

uint8_t FurunoReceiver::messageMask() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mask_;
}

void FurunoReceiver::onInput(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint8_t c = bytes[i];
    if (input_.empty()) {
      if (c == 0xC0) input_.push_back(c);
      continue;
    }
    if (c == 0xCA && input_.size() >= 3) {
      // The end, unless this is a checksum that happens to read 0xCA.
      uint8_t sum = 0;
      for (size_t k = 0; k + 1 < input_.size(); ++k) sum ^= input_[k];
      if (sum == input_.back()) {
        onCommand(input_);
        input_.clear();
        continue;
      }
    }
    input_.push_back(c);
    if (input_.size() > kLongestCommand) input_.clear();
  }
}

void FurunoReceiver::onCommand(const std::vector<uint8_t>& f) {
  // f: C0, command, data..., checksum
  std::vector<uint8_t> data(f.begin() + 2, f.end() - 1);
  if (f[1] == 0xA3 && data.size() == 1) {
    mask_ = data[0] & 0x0F;
    note("messages 0x" + std::string(1, "0123456789ABCDEF"[mask_]));
  } else if (f[1] == 0xA2) {
    settings_.clear();
    for (uint8_t b : data) settings_.push_back(b & 0x7F);
    note("settings of " + std::to_string(settings_.size()) + " values");
  }
}

void FurunoReceiver::onEpoch(const NavSolution& n) {
  if (mask_ & 0x01) {
    std::vector<uint8_t> d;
    d.push_back(n.fix ? 0x03 : 0x00);
    d.push_back(n.fix ? 0x01 : 0x00);
    putSigned(&d, n.latDeg * 600000, 4);
    putSigned(&d, n.lonDeg * 600000, 4);
    putSigned(&d, n.altMslM * 10, 4);
    putSigned(&d, n.fix ? n.speedMps * 36 : 0, 3);
    put7(&d, static_cast<uint32_t>(std::lround(std::fmod(n.courseDeg, 360) * 10)) % 3600, 2);
    d.push_back(static_cast<uint8_t>(std::min(n.used, 32)));
    emit(frame(0xE0, d));
  }
  if (mask_ & 0x02) {
    std::vector<uint8_t> d;
    d.push_back(n.timeValid ? 0x03 : 0x00);
    if (n.timeValid) {
      time_t seconds = static_cast<time_t>(n.utcNs / 1000000000);
      struct tm t;
      gmtime_r(&seconds, &t);
      for (int v : {t.tm_year - 100, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec}) d.push_back(static_cast<uint8_t>(v));
    } else {
      // No time yet: the receiver's clock counts from 2000-01-01.
      uint32_t s = n.sinceStartMs / 1000;
      for (uint32_t v : {0u, 1u, 1u, s / 3600 % 24, s / 60 % 60, s % 60}) d.push_back(static_cast<uint8_t>(v));
    }
    d.push_back(0);
    d.push_back(0);
    emit(frame(0xE1, d));
  }
  if (mask_ & 0x04) {
    std::vector<uint8_t> d;
    d.push_back(static_cast<uint8_t>(n.channels.size()));
    for (size_t i = 0; i < 32; ++i) {
      if (i < n.channels.size()) {
        const TrackedSatellite& c = n.channels[i];
        d.push_back(static_cast<uint8_t>(c.prn));
        put7(&d, static_cast<uint32_t>(c.azimuthDeg), 2);
        d.push_back(static_cast<uint8_t>(std::max(c.elevationDeg, 0)));
        d.push_back(static_cast<uint8_t>((c.cno > 0 ? 1 : 0) | (c.used ? 2 : 0)));
        d.push_back(static_cast<uint8_t>(c.cno));
      } else {
        d.insert(d.end(), 6, 0);
      }
    }
    d.push_back(0);
    d.push_back(0);
    emit(frame(0xE2, d));
  }
  if (mask_ & 0x08) {
    std::vector<uint8_t> d;
    for (double v : {n.dop.hdop, n.dop.pdop, n.dop.vdop}) put7(&d, static_cast<uint32_t>(std::lround(v * 10)), 2);
    d.insert(d.end(), 4, 0);
    d.push_back(n.fix ? 3 : 0);
    d.insert(d.end(), 3, 0);
    emit(frame(0xE3, d));
  }
}

}  // namespace sim
