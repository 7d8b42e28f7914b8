// The board's serial ports with the u-blox model talking on port 2 from its first second (no
// time to first fix), on a clock run at `speed` from 2026-01-01 00:00:00: what the benchmarks
// of the GPS line and the GPS worker start from. The receiver goes before the ports.
#pragma once

#include <cstdint>
#include <memory>

#include "board/gps/ublox_receiver.h"
#include "board/serial/serial_board.h"
#include "platform/sim/clock.h"

namespace bench {

struct UbloxOnPort2 {
  static constexpr int64_t kWorldZero = int64_t{1767225600} * sim::kNsPerSec;

  explicit UbloxOnPort2(double speed) : clockRunning(startClock(speed)), receiver(makeReceiver()) {
    receiver->start(*ports.line(sim::SerialBoard::kGpsPort));
    ports.startThread();
  }

  bool clockRunning;  // the clock runs before the ports exist
  sim::SerialBoard ports;
  std::shared_ptr<sim::UbloxReceiver> receiver;

 private:
  static bool startClock(double speed) {
    sim::Clock::runAt(speed, sim::Clock::monoNow(), 0, kWorldZero);
    return true;
  }
  static std::shared_ptr<sim::UbloxReceiver> makeReceiver() {
    sim::GpsReceiver::Options o;
    o.vehicle = std::make_shared<sim::Vehicle>();
    o.worldAtZeroNs = kWorldZero;
    o.ttffNs = 0;
    return std::make_shared<sim::UbloxReceiver>(o);
  }
};

}  // namespace bench
