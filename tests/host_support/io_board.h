// A test board with the board's I/O booted: emulated kernel, modules loaded, device nodes made,
// the clock standing still. Timed things move only when the test steps the board's events.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "board/io/tq90ra_board.h"
#include "kernel/kernel.h"
#include "platform/sim/clock.h"
#include "support/test_board.h"

namespace testing_board {

class IoBoardTest : public ::testing::Test {
 protected:
  void SetUp() override { boot(); }
  void TearDown() override {
    EXPECT_EQ(sim::kernel::ioFaults(), 0) << "a module touched an address outside its register blocks";
    io.reset();
  }

  void boot(bool supplyPresent = true, bool resetHeld = false) {
    io.reset();
    sim::Tq90raBoard::Options o;
    o.rtcStatePath = tb.dir() + "/ds1337.rtc";
    o.supplyPresent = supplyPresent;
    o.resetHeld = resetHeld;
    io = std::make_unique<sim::Tq90raBoard>(o);
    ASSERT_TRUE(io->loadFailures().empty()) << io->loadFailures().front().first;
  }

  // Moves the clock on by kernel ticks (10 ms), running the models' events on the way.
  void ticks(int n) { io->events().advance(n * 10 * sim::kNsPerMs); }

  // Waits (real time) until `n` threads sleep on the simulated clock (in the kernel or not).
  static bool sleeping(int n) {
    for (int i = 0; i < 5000; ++i) {
      if (sim::Clock::sleepers() >= n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  // Waits (real time) until `n` tasks sleep in the kernel with time left in their sleep: a
  // reader that the clock has moved past is not waiting yet.
  static bool waitingInKernel(int n) {
    for (int i = 0; i < 5000; ++i) {
      if (sim::kernel::sleepingTasks() >= n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  // True when the call behind `f` is still waiting after a short real pause.
  template <class T>
  static bool stillWaiting(std::future<T>& f) {
    return f.wait_for(std::chrono::milliseconds(20)) == std::future_status::timeout;
  }

  TestBoard tb;
  std::unique_ptr<sim::Tq90raBoard> io;
};

}  // namespace testing_board
