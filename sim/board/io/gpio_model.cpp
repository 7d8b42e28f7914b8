#include "board/io/gpio_model.h"

namespace sim {
namespace {

constexpr uint32_t kType = 0x60, kPolarity = 0x64, kEnable = 0x68, kStatus = 0x6c;

bool isDataRegister(uint32_t offset) { return offset < kType && offset % 8 == 0; }

uint32_t inputMask(uint32_t function) {
  uint32_t mask = 0;
  for (int pin = 0; pin < 8; ++pin) {  // eight pins a port
    if (((function >> (2 * pin)) & 3) == 0) mask |= 1u << pin;
  }
  return mask;
}

}  // namespace

GpioModel::GpioModel() {
  for (uint32_t& in : inputs_) in = 0xffffffffu;  // pulled up
}

uint32_t GpioModel::readWordLocked(uint32_t offset) const {
  uint32_t word = regs_[offset / 4];
  if (isDataRegister(offset)) {
    uint32_t in = inputMask(regs_[offset / 4 + 1]);
    word = (word & ~in) | (inputs_[offset / 8] & in);
  }
  return word;
}

uint32_t GpioModel::read(uint32_t offset, int width) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t word = readWordLocked(offset & ~3u);
  uint32_t shift = (offset & 3) * 8;
  uint32_t mask = width == 4 ? 0xffffffffu : (1u << (width * 8)) - 1;
  return (word >> shift) & mask;
}

void GpioModel::write(uint32_t offset, int width, uint32_t value) {
  kernel::IrqGuard irq;
  LineChanges lines;
  std::function<void(uint32_t, uint32_t)> listener;
  uint32_t data = 0, function = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    uint32_t aligned = offset & ~3u;
    uint32_t shift = (offset & 3) * 8;
    uint32_t mask = (width == 4 ? 0xffffffffu : (1u << (width * 8)) - 1) << shift;
    uint32_t bits = (value << shift) & mask;
    uint32_t& reg = regs_[aligned / 4];
    if (aligned == kStatus) {
      reg &= ~bits;  // writing 1 acknowledges
    } else {
      reg = (reg & ~mask) | bits;
    }
    if (aligned == kEnable || aligned == kType || aligned == kPolarity) {
      // A level interrupt that is active when it gets enabled is pending at once.
      for (int bit = 0; bit < 16; ++bit) {
        uint32_t b = 1u << bit;
        bool level = (inputs_[bit / 8] >> (bit % 8)) & 1;
        bool active = (regs_[kPolarity / 4] & b) ? !level : level;
        if ((regs_[kEnable / 4] & b) && !(regs_[kType / 4] & b) && active) regs_[kStatus / 4] |= b;
      }
    }
    lines = updateLinesLocked();
    if (aligned == kPortC || aligned == kPortC + 4) {
      listener = portC_;
      data = regs_[kPortC / 4];
      function = regs_[kPortC / 4 + 1];
    }
  }
  raise(lines);
  if (listener) listener(data, function);
}

void GpioModel::setInput(uint32_t port, int pin, bool high) {
  kernel::IrqGuard irq;
  LineChanges lines;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    uint32_t& in = inputs_[port / 8];
    bool before = (in >> pin) & 1;
    in = high ? (in | (1u << pin)) : (in & ~(1u << pin));
    if (before != high && port <= 0x08) {
      uint32_t b = 1u << (port + static_cast<uint32_t>(pin));
      bool edge = (regs_[kType / 4] & b) != 0;
      bool lowActive = (regs_[kPolarity / 4] & b) != 0;
      bool event = edge ? (lowActive ? !high : high) : (lowActive ? !high : high);
      if (event && (regs_[kEnable / 4] & b)) regs_[kStatus / 4] |= b;
    }
    lines = updateLinesLocked();
  }
  raise(lines);
}

bool GpioModel::input(uint32_t port, int pin) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return (inputs_[port / 8] >> pin) & 1;
}

bool GpioModel::interruptEnabled(uint32_t port, int pin) const {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t bit = 1u << ((port == 0 ? 0 : 8) + pin);
  return port <= 0x08 && (regs_[kEnable / 4] & bit) != 0;
}

uint32_t GpioModel::reg(uint32_t offset) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return readWordLocked(offset & ~3u);
}

void GpioModel::onPortC(std::function<void(uint32_t, uint32_t)> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  portC_ = std::move(listener);
}

GpioModel::LineChanges GpioModel::updateLinesLocked() {
  uint16_t level = static_cast<uint16_t>(regs_[kStatus / 4] & regs_[kEnable / 4] & 0xffffu);
  LineChanges c{static_cast<uint16_t>(level ^ lineLevel_), level};
  lineLevel_ = level;
  return c;
}

void GpioModel::raise(const LineChanges& lines) {
  for (unsigned bit = 0; bit < 16; ++bit) {
    if (lines.changed & (1u << bit)) kernel::setIrqLine(kIrqBase + bit, (lines.level >> bit) & 1);
  }
}

}  // namespace sim
