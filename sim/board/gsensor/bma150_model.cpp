#include "board/gsensor/bma150_model.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "platform/sim/clock.h"

namespace sim {
namespace {

constexpr uint8_t kRangeShift = 3;
constexpr uint8_t kRangeMask = 0x18;
constexpr uint8_t kBandwidthMask = 0x07;
constexpr uint8_t kFirstWritable = 0x0a;
constexpr int kRangesMg[4] = {2000, 4000, 8000, 8000};  // code 3 is reserved: read as +-8 g
constexpr uint8_t kNewData = 0x01;

}  // namespace

Bma150Model::Bma150Model(const AccelMotion::Options& motion) : motion_(motion) {
  regs_[kRegChipId] = kChipId;
  regs_[0x01] = 0x12;  // versions
  regs_[kRegRangeBandwidth] = 0;  // +-2 g, 25 Hz
  motion_.setBandwidth(kBandwidthsHz[0]);
}

bool Bma150Model::transferFailsLocked() {
  if (!inTransfer_) {
    inTransfer_ = true;
    failing_ = failTransfers_ > 0;
    if (failing_) --failTransfers_;
  }
  return failing_;
}

int Bma150Model::write(const uint8_t* data, size_t length) {
  int newBandwidth = 0;
  std::function<void(int)> listener;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (transferFailsLocked()) return -EREMOTEIO;
    if (length == 0) return 0;
    pointer_ = data[0] % sizeof regs_;
    uint8_t bandwidthBefore = regs_[kRegRangeBandwidth] & kBandwidthMask;
    for (size_t i = 1; i < length; ++i) {
      if (pointer_ >= kFirstWritable) regs_[pointer_] = data[i];
      pointer_ = static_cast<uint8_t>((pointer_ + 1) % sizeof regs_);
    }
    uint8_t bandwidth = regs_[kRegRangeBandwidth] & kBandwidthMask;
    if (bandwidth != bandwidthBefore) {
      // Code 7 is reserved; the chip then filters at its widest setting.
      newBandwidth = kBandwidthsHz[std::min<int>(bandwidth, 6)];
      motion_.setBandwidth(newBandwidth);
      listener = bandwidthListener_;
    }
  }
  if (newBandwidth && listener) listener(newBandwidth);
  return 0;
}

void Bma150Model::latchLocked() {
  AccelSample s = motion_.sample(Clock::elapsed());
  ++samplesRead_;
  int range = kRangesMg[(regs_[kRegRangeBandwidth] & kRangeMask) >> kRangeShift];
  const int16_t mg[3] = {s.x, s.y, s.z};
  for (int axis = 0; axis < 3; ++axis) {
    long counts = std::lround(static_cast<double>(mg[axis]) * 512.0 / range);
    counts = std::clamp(counts, -512L, 511L);
    uint16_t bits = static_cast<uint16_t>(counts) & 0x3ff;
    regs_[kRegAccX + 2 * axis] = static_cast<uint8_t>(((bits & 3) << 6) | kNewData);
    regs_[kRegAccX + 2 * axis + 1] = static_cast<uint8_t>(bits >> 2);
  }
  latched_ = true;
}

int Bma150Model::read(uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (transferFailsLocked()) return -EREMOTEIO;
  for (size_t i = 0; i < length; ++i) {
    if (!latched_ && pointer_ >= kRegAccX && pointer_ < kRegAccX + 6) latchLocked();
    data[i] = regs_[pointer_];
    pointer_ = static_cast<uint8_t>((pointer_ + 1) % sizeof regs_);
  }
  return 0;
}

void Bma150Model::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  inTransfer_ = false;
  failing_ = false;
  latched_ = false;
}

void Bma150Model::addShock(int peakX, int peakY, int peakZ, int durationMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  motion_.addShock({Clock::elapsed(), peakX, peakY, peakZ, durationMs});
}

void Bma150Model::failTransfers(int n) {
  std::lock_guard<std::mutex> lock(mutex_);
  failTransfers_ = std::max(n, 0);
}

int Bma150Model::bandwidthHz() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return motion_.bandwidth();
}

int Bma150Model::rangeMg() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return kRangesMg[(regs_[kRegRangeBandwidth] & kRangeMask) >> kRangeShift];
}

uint64_t Bma150Model::samplesRead() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return samplesRead_;
}

void Bma150Model::onBandwidthChange(std::function<void(int hz)> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  bandwidthListener_ = std::move(listener);
}

}  // namespace sim
