#include "board/io/timer_models.h"

#include <cstring>

#include "platform/sim/clock.h"

namespace sim {
namespace {

constexpr uint32_t kReload = 0x00, kControl = 0x08, kAck = 0x0c;
constexpr uint32_t kAckValue = 0xAA;

uint32_t fieldOf(uint32_t word, uint32_t offset, int width) {
  uint32_t mask = width == 4 ? 0xffffffffu : (1u << (width * 8)) - 1;
  return (word >> ((offset & 3) * 8)) & mask;
}

uint32_t mergeInto(uint32_t word, uint32_t offset, int width, uint32_t value) {
  uint32_t shift = (offset & 3) * 8;
  uint32_t mask = (width == 4 ? 0xffffffffu : (1u << (width * 8)) - 1) << shift;
  return (word & ~mask) | ((value << shift) & mask);
}

}  // namespace

// ---- Timer A ----

TimerAModel::~TimerAModel() {
  if (timer_) events_.cancel(timer_);
}

uint32_t TimerAModel::read(uint32_t offset, int width) {
  std::lock_guard<std::mutex> lock(mutex_);
  return fieldOf(regs_[offset / 4], offset, width);
}

void TimerAModel::write(uint32_t offset, int width, uint32_t value) {
  kernel::IrqGuard irq;
  bool ack = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    uint32_t aligned = offset & ~3u;
    regs_[aligned / 4] = mergeInto(regs_[aligned / 4], offset, width, value);
    if (aligned == kAck && regs_[aligned / 4] == kAckValue) {
      ack = true;
      ++acks_;
    }
    if (aligned == kReload || aligned == kControl) reschedule();
  }
  if (ack) kernel::setIrqLine(kIrq, false);
}

void TimerAModel::reschedule() {
  uint32_t control = regs_[kControl / 4];
  int64_t period = 0;
  if ((control & 1) && regs_[kReload / 4] != 0) {
    int64_t clocks = static_cast<int64_t>(regs_[kReload / 4]) << ((control >> 2) & 7);
    period = clocks * kNsPerSec / kInputHz;
  }
  if (period == period_) return;
  if (timer_) events_.cancel(timer_);
  timer_ = 0;
  period_ = period;
  if (period > 0) timer_ = events_.every(period, [this] { tick(); });
}

void TimerAModel::tick() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++ticks_;
  }
  kernel::setIrqLine(kIrq, true);
}

bool TimerAModel::running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return period_ > 0;
}

int64_t TimerAModel::periodNs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return period_;
}

int TimerAModel::ticks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ticks_;
}

int TimerAModel::acks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return acks_;
}

// ---- Timer B ----

uint32_t TimerBModel::read(uint32_t offset, int width) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t value = regs_[offset / 2];
  if (width == 4 && offset / 2 + 1 < kSize / 2) value |= static_cast<uint32_t>(regs_[offset / 2 + 1]) << 16;
  if (width == 1) value = (offset & 1) ? value >> 8 : value & 0xff;
  return value;
}

void TimerBModel::write(uint32_t offset, int width, uint32_t value) {
  std::function<void()> listener;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    uint16_t& reg = regs_[offset / 2];
    if (width == 1) {
      reg = (offset & 1) ? static_cast<uint16_t>((reg & 0x00ff) | ((value & 0xff) << 8))
                         : static_cast<uint16_t>((reg & 0xff00) | (value & 0xff));
    } else {
      reg = static_cast<uint16_t>(value);
      if (width == 4 && offset / 2 + 1 < kSize / 2) regs_[offset / 2 + 1] = static_cast<uint16_t>(value >> 16);
    }
    listener = listener_;
  }
  if (listener) listener();
}

uint16_t TimerBModel::reg(uint32_t offset) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return regs_[offset / 2];
}

double TimerBModel::toneHz(int channel) const {
  std::lock_guard<std::mutex> lock(mutex_);
  uint16_t period = regs_[0x1c / 2];
  bool running = (regs_[0] & (1u << channel)) && regs_[0x04 / 2] == 0x81 && period != 0;
  if (!running) return 0;
  double periodUs = period * 21406.0 / 65535.0;
  return 1e6 / periodUs;
}

void TimerBModel::onChange(std::function<void()> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  listener_ = std::move(listener);
}

// ---- system controller ----

SyscModel::SyscModel() {
  for (int i = 0; i < 4; ++i) bytes_[i] = static_cast<uint8_t>(kChipId >> (8 * i));
}

uint32_t SyscModel::read(uint32_t offset, int width) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) value |= static_cast<uint32_t>(bytes_[offset + i]) << (8 * i);
  return value;
}

void SyscModel::write(uint32_t offset, int width, uint32_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (int i = 0; i < width; ++i) bytes_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace sim
