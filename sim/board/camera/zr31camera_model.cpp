#include "board/camera/zr31camera_model.h"

#include <cerrno>

#include "platform/sim/clock.h"

namespace sim {

int Zr31SensorModel::write(const uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failAfter_ == 0) {
    failAfter_ = -1;
    return -EREMOTEIO;
  }
  if (failAfter_ > 0) --failAfter_;
  if (length == 0) return 0;
  pointer_ = data[0];
  // A trailing lone byte is half a value: the sensor ignores it.
  for (size_t i = 1; i + 1 < length; i += 2) {
    auto value = static_cast<uint16_t>(data[i] << 8 | data[i + 1]);
    regs_[pointer_] = value;
    writes_.push_back({pointer_, value, Clock::elapsed()});
    ++pointer_;
  }
  return 0;
}

int Zr31SensorModel::read(uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < length; i += 2) {
    uint16_t value = regs_[pointer_++];
    data[i] = static_cast<uint8_t>(value >> 8);
    if (i + 1 < length) data[i + 1] = static_cast<uint8_t>(value);
  }
  return 0;
}

std::vector<Zr31SensorModel::Write> Zr31SensorModel::writes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

void Zr31SensorModel::clearWrites() {
  std::lock_guard<std::mutex> lock(mutex_);
  writes_.clear();
}

uint16_t Zr31SensorModel::reg(uint8_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return regs_[address];
}

void Zr31SensorModel::failWriteAfter(int good) {
  std::lock_guard<std::mutex> lock(mutex_);
  failAfter_ = good;
}

}  // namespace sim
