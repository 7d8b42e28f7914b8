// The BMA150 accelerometer on I2C bus 0, address 0x38, as the bus sees it: a register file with
// a pointer that the first byte of a write sets and that every byte moves on.
//
//   0x00        chip id 0x02
//   0x02..0x07  X, Y, Z: 10-bit two's complement, low bits in bits 7..6 of the even register
//               (bit 0 "new data"), high bits in the odd one; one step is range / 512
//   0x14        bits 4..3 range (0: +-2 g, 1: +-4 g, 2: +-8 g), bits 2..0 bandwidth (0..6:
//               25, 50, 100, 190, 375, 750, 1500 Hz); bits 7..5 are the chip's own
//
// The readings come from the car's motion (AccelMotion) at the simulated time of the transfer
// and are latched at its first read, so one burst read gives one consistent sample. The
// bandwidth set in 0x14 is the motion model's low-pass corner. Power-on: +-2 g, 25 Hz.
//
// Failures: failTransfers(n) makes the chip leave the next n transfers unacknowledged, as a
// disturbed bus would; the board kernel's driver then reports 0x7fff on every axis.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "board/gsensor/accel_motion.h"
#include "kernel/kernel.h"

namespace sim {

class Bma150Model : public kernel::I2cDevice {
 public:
  static constexpr uint16_t kAddress = 0x38;
  static constexpr uint8_t kChipId = 0x02;
  static constexpr uint8_t kRegChipId = 0x00;
  static constexpr uint8_t kRegAccX = 0x02;
  static constexpr uint8_t kRegRangeBandwidth = 0x14;
  static constexpr int kBandwidthsHz[7] = {25, 50, 100, 190, 375, 750, 1500};

  explicit Bma150Model(const AccelMotion::Options& motion = {});

  int write(const uint8_t* data, size_t length) override;
  int read(uint8_t* data, size_t length) override;
  void stop() override;

  // A shock starting now (the simulated time).
  void addShock(int peakX, int peakY, int peakZ, int durationMs);
  void failTransfers(int n);
  int bandwidthHz() const;
  int rangeMg() const;
  uint64_t samplesRead() const;
  // Called (outside the chip's lock) when a write changed the bandwidth.
  void onBandwidthChange(std::function<void(int hz)> listener);

 private:
  bool transferFailsLocked();
  void latchLocked();
  uint8_t readRegisterLocked(uint8_t reg) const;

  mutable std::mutex mutex_;
  AccelMotion motion_;
  uint8_t regs_[0x40] = {};
  uint8_t pointer_ = 0;
  bool inTransfer_ = false;
  bool failing_ = false;
  bool latched_ = false;
  int failTransfers_ = 0;
  uint64_t samplesRead_ = 0;
  std::function<void(int)> bandwidthListener_;
};

}  // namespace sim
