// Timer A (physical 0xFFFFB000, 0xB4 bytes) and Timer B (0xFFFD3000, 0x40 bytes, 16-bit
// registers), and the system controller's register block (0xFFFFD000, 0x70 bytes).
//
// Timer A counts a 3 MHz input clock: reload count 0x00, control 0x08 (bit 0 runs it, bits 2..4
// the prescaler code: the clock is divided by 2^code). While it runs it raises interrupt line 4
// once per period (reload x 2^code clocks: 37500 x 2 = 25 ms); writing 0xAA to 0x0c
// acknowledges, which lowers the line. A tick that comes while the line is still high is lost.
//
// Timer B generates square waves: channel c runs while bit c of 0x00 is set and the control
// register 0x04 is 0x81; its period is register 0x1c in counts of 21406/65535 us, its duty the
// compare register 0x20 + 4c. Channel 0 is the buzzer's tone.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "board/events.h"
#include "kernel/kernel.h"

namespace sim {

class TimerAModel : public kernel::RegisterBlock {
 public:
  static constexpr uint32_t kPhys = 0xFFFFB000u;
  static constexpr uint32_t kSize = 0xB4;
  static constexpr unsigned kIrq = 4;
  static constexpr int64_t kInputHz = 3000000;

  explicit TimerAModel(BoardEvents& events) : events_(events) {}
  ~TimerAModel() override;
  uint32_t read(uint32_t offset, int width) override;
  void write(uint32_t offset, int width, uint32_t value) override;

  bool running() const;
  int64_t periodNs() const;
  int ticks() const;
  int acks() const;

 private:
  void reschedule();
  void tick();

  BoardEvents& events_;
  mutable std::mutex mutex_;
  uint32_t regs_[kSize / 4] = {};
  BoardEvents::Id timer_ = 0;
  int64_t period_ = 0;
  int ticks_ = 0;
  int acks_ = 0;
};

class TimerBModel : public kernel::RegisterBlock {
 public:
  static constexpr uint32_t kPhys = 0xFFFD3000u;
  static constexpr uint32_t kSize = 0x40;

  uint32_t read(uint32_t offset, int width) override;
  void write(uint32_t offset, int width, uint32_t value) override;

  uint16_t reg(uint32_t offset) const;
  // The frequency of channel c's wave, 0 when it does not run.
  double toneHz(int channel = 0) const;
  void onChange(std::function<void()> listener);

 private:
  mutable std::mutex mutex_;
  uint16_t regs_[kSize / 2] = {};
  std::function<void()> listener_;
};

// Plain registers with the controller's identification word at 0x00.
class SyscModel : public kernel::RegisterBlock {
 public:
  static constexpr uint32_t kPhys = 0xFFFFD000u;
  static constexpr uint32_t kSize = 0x70;
  static constexpr uint32_t kChipId = 0x54513930u;  // "TQ90"

  SyscModel();
  uint32_t read(uint32_t offset, int width) override;
  void write(uint32_t offset, int width, uint32_t value) override;

 private:
  std::mutex mutex_;
  uint8_t bytes_[kSize] = {};
};

}  // namespace sim
