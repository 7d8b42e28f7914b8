// The board's serial ports with the clock standing still, a probe on port 2 as the peer, and
// a helper that runs a blocking call of the program on a thread while the test steps the clock.
#pragma once

#include <gtest/gtest.h>

#include <future>
#include <memory>

#include "board/serial/serial_board.h"
#include "platform/sim/clock.h"
#include "support/line_probe.h"
#include "support/test_board.h"

namespace testing_board {

class SerialFixture : public ::testing::Test {
 protected:
  SerialFixture() : probe(std::make_shared<LineProbe>()) {
    ports = std::make_unique<sim::SerialBoard>();
    line().attach(probe, sim::LineFormat{});
  }
  ~SerialFixture() override { ports.reset(); }

  sim::SerialLine& line(int port = sim::SerialBoard::kGpsPort) { return *ports->line(port); }
  void advance(double seconds) { ports->events().advance(static_cast<int64_t>(seconds * 1e9)); }
  // Moves the clock on in steps until `f` is ready (or a limit in simulated seconds), for calls
  // whose exact instant the test does not look at.
  template <typename T>
  T stepUntilReady(std::future<T>& f, double limitSeconds = 5, double step = 0.001) {
    for (double t = 0; t < limitSeconds && f.wait_for(std::chrono::microseconds(200)) != std::future_status::ready;
         t += step) {
      advance(step);
    }
    return f.get();
  }
  int64_t now() const { return sim::Clock::elapsed(); }

  TestBoard board;
  std::shared_ptr<LineProbe> probe;
  std::unique_ptr<sim::SerialBoard> ports;
};

}  // namespace testing_board
