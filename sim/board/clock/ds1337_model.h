// The DS1337 clock chip on I2C bus 0, address 0x68: sixteen registers (0x00..0x06 the time in
// BCD: seconds, minutes, hours, weekday 1..7, date, month with the century in bit 7, year;
// then alarms, control and status), a register pointer that the first byte of a write sets and
// that every byte moves on. Reads of the time registers give the time latched at the start of
// the transfer; a write of time registers sets the clock when the transfer stops.
//
// The chip is battery-backed: its state lives in the board directory (DIR/ds1337.rtc) and keeps
// counting with the true time across power cuts, reboots and runs. A chip that was never set
// reads 00:00:00 on 01/01 of year 00 without the century bit (the ds1337 driver reads 1900).
// 24-hour mode only (bit 6 of the hours register is kept but not interpreted).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "kernel/kernel.h"

namespace sim {

class Ds1337Model : public kernel::I2cDevice {
 public:
  static constexpr uint16_t kAddress = 0x68;
  static constexpr int kBus = 0;

  // `path` is the battery-backed state file; empty keeps the state in memory only.
  explicit Ds1337Model(std::string path);

  int write(const uint8_t* data, size_t length) override;
  int read(uint8_t* data, size_t length) override;
  void stop() override;

  // The next `n` transfers that read (or write time) fail without an acknowledge.
  void failReads(int n);
  void failWrites(int n);
  // The chip's date and time now: seconds since 1900-01-01 00:00:00 of the chip's calendar.
  int64_t chipSeconds() const;
  // Sets the chip as a user with a programmer would (tests).
  void setChipSeconds(int64_t seconds);
  // Broken down, in the chip's calendar.
  struct Fields {
    int year, month, day, hour, minute, second;
  };
  static Fields fieldsOf(int64_t chipSeconds);
  static int64_t secondsOf(const Fields& f);

 private:
  void latchLocked();
  void commitLocked();
  void load();
  void saveLocked() const;
  int64_t chipSecondsLocked() const;

  std::string path_;
  mutable std::mutex mutex_;
  uint8_t regs_[16] = {};
  uint8_t pointer_ = 0;
  bool latched_ = false;
  bool timeWritten_ = false;
  uint8_t written_ = 0;  // time registers written in this transfer (bit per register)
  int64_t chipAtRef_ = 0;  // chip seconds at worldAtRef_
  int64_t worldAtRef_ = 0;
  int weekdayAtRef_ = 1;
  int failReads_ = 0;
  int failWrites_ = 0;
};

}  // namespace sim
