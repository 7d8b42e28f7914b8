// A GPS receiver that speaks NMEA 0183 only: GGA, GLL, GSA, GSV, RMC and VTG once a second at
// 9600 baud 8N1; whatever it is sent is ignored.
#pragma once

#include "board/gps/gps_receiver.h"

namespace sim {

class NmeaReceiver : public GpsReceiver {
 public:
  explicit NmeaReceiver(const Options& options) : GpsReceiver(options) {}
  const char* kind() const override { return "nmea"; }

 protected:
  void onInput(const uint8_t*, size_t) override {}
  void onEpoch(const NavSolution& n) override;
};

}  // namespace sim
