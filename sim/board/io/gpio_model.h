// The SoC's GPIO block (physical 0xFFFF1000, 0x70 bytes) with what hangs on its pins.
//
// Ports: a data register every 8 bytes (bit n = level of pin n), the function register after
// it (2 bits per pin; code 0 makes the pin an input). Reading a data register gives the outside
// level of input pins and the written level of the others.
//
// Interrupts, for the pins of the first two ports (bit n = pin n of port 0x00, bit 8 + n = pin n
// of port 0x08): type 0x60 (1 edge, 0 level), polarity 0x64 (1 falling edge or low level, 0
// rising edge or high level), enable 0x68, status 0x6c (1 = pending; writing 1 clears the bit).
// An enabled pin latches its event in the status register; interrupt line 32 + bit is high
// while the bit is pending and enabled.
//
// The board: the REC button on port 0x08 pin 5, the reset button on pin 6 (both pull the pin
// low while pressed), the power-fail line on pin 7 (high while the supply is present). Port C
// (0x10) pins 0..2 are the buzzer gate and the two LEDs (see signals.h).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "kernel/kernel.h"

namespace sim {

class GpioModel : public kernel::RegisterBlock {
 public:
  static constexpr uint32_t kPhys = 0xFFFF1000u;
  static constexpr uint32_t kSize = 0x70;
  static constexpr uint32_t kInputPort = 0x08;
  static constexpr int kRecPin = 5;
  static constexpr int kResetPin = 6;
  static constexpr int kPowerFailPin = 7;
  static constexpr uint32_t kPortC = 0x10;
  static constexpr unsigned kIrqBase = 32;

  GpioModel();

  uint32_t read(uint32_t offset, int width) override;
  void write(uint32_t offset, int width, uint32_t value) override;

  // The outside level of a pin (port = data register offset).
  void setInput(uint32_t port, int pin, bool high);
  bool input(uint32_t port, int pin) const;
  uint32_t reg(uint32_t offset) const;
  // Whether a pin's interrupt is enabled (its driver is listening for its event).
  bool interruptEnabled(uint32_t port, int pin) const;
  // Port C's data and function registers changed.
  void onPortC(std::function<void(uint32_t data, uint32_t function)> listener);

 private:
  // Interrupt lines whose level changed, to raise outside the lock.
  struct LineChanges {
    uint16_t changed = 0;
    uint16_t level = 0;
  };
  uint32_t readWordLocked(uint32_t offset) const;
  LineChanges updateLinesLocked();
  void raise(const LineChanges& lines);

  mutable std::mutex mutex_;
  uint32_t regs_[kSize / 4] = {};
  uint32_t inputs_[kSize / 8] = {};
  uint16_t lineLevel_ = 0;
  std::function<void(uint32_t, uint32_t)> portC_;
};

}  // namespace sim
