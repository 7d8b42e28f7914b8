// The camera's image sensor on I2C bus 0, address 0x48: 8-bit register addresses holding 16-bit
// values. A write message's first byte sets the register pointer; each following pair of bytes
// (high, low) writes the register under the pointer, which then moves on. A read gives the
// register under the pointer, high byte first. The sensor's registers mean nothing to the
// simulation: the model keeps them and records every register write in order, with the
// simulated time, so that tests see the tables the driver sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "kernel/kernel.h"

namespace sim {

class Zr31SensorModel : public kernel::I2cDevice {
 public:
  static constexpr uint16_t kAddress = 0x48;

  struct Write {
    uint8_t reg;
    uint16_t value;
    int64_t elapsedNs;  // simulated time of the write
  };

  int write(const uint8_t* data, size_t length) override;
  int read(uint8_t* data, size_t length) override;

  std::vector<Write> writes() const;
  void clearWrites();
  uint16_t reg(uint8_t address) const;
  // After `good` more write messages are taken, the next one is not acknowledged (-EREMOTEIO);
  // negative: every write is taken.
  void failWriteAfter(int good);

 private:
  mutable std::mutex mutex_;
  uint16_t regs_[256] = {};
  uint8_t pointer_ = 0;
  std::vector<Write> writes_;
  int failAfter_ = -1;
};

}  // namespace sim
