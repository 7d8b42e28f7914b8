// A Furuno GPS receiver speaking its binary protocol: once a second a position (0xE0), a time
// (0xE1), a satellite (0xE2) and a quality (0xE3) message, each the id byte, data bytes that
// carry 7 bits each (the high bit clear), the XOR of the id and data bytes, and the end byte
// 0xEA. Multi-byte values are 7 bits a byte, most significant first; signed ones are two's
// complement in their 14, 21 or 28 bits.
//
//   E0  mode (bit 0 position valid, bits 0 and 1 a 3-D fix), status, latitude and longitude
//       (28 bits each, 1/10000 arc-minute), altitude (28 bits, 0.1 m), speed (21 bits, 0.1 km/h),
//       course (14 bits, 0.1 degree), satellites used
//   E1  status (bits 0 and 1: time valid), year - 2000, month, day, hour, minute, second, two 0
//   E2  satellites in view, then 32 slots of number, azimuth (14 bits), elevation, status
//       (bit 0 tracked, bit 1 used) and signal level; two 0
//   E3  HDOP, PDOP and VDOP (14 bits each, tenths), four 0, the fix (0 none, 3 3-D), three 0
//
// It takes command frames (0xC0, command, data bytes 0x80 + a 7-bit value, the XOR of the
// bytes before it, 0xCA): 0xA3 selects the messages sent (bit 0 E0 ... bit 3 E3), 0xA2 the
// receiver's output settings, which it keeps. Nothing is answered.
#pragma once

#include <vector>

#include "board/gps/gps_receiver.h"

namespace sim {

class FurunoReceiver : public GpsReceiver {
 public:
  explicit FurunoReceiver(const Options& options) : GpsReceiver(options) {}
  const char* kind() const override { return "furuno"; }
  uint8_t messageMask() const;

  // The frame of a message: id, data bytes (7 bits each), checksum, end byte.
  static std::vector<uint8_t> frame(uint8_t id, const std::vector<uint8_t>& data);

 protected:
  void onInput(const uint8_t* bytes, size_t count) override;
  void onEpoch(const NavSolution& n) override;

 private:
  void onCommand(const std::vector<uint8_t>& frame);

  uint8_t mask_ = 0x0F;
  std::vector<uint8_t> settings_;
  std::vector<uint8_t> input_;
};

}  // namespace sim
