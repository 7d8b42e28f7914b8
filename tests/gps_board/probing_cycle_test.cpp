// The GPS worker on the board's serial port 2 with the clock stepped by hand: the cycle through
// the protocols when no receiver answers, with its times.
#include <gtest/gtest.h>

#include <semaphore.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "core/threads.h"
#include "gps/furuno_codec.h"
#include "gps/ubx_codec.h"
#include "serial/serial_fixture.h"

namespace {

using testing_board::ConsoleCapture;
using testing_board::SerialFixture;

// Instants (seconds) at which a frame starting with `head` began to arrive at the peer.
std::vector<double> starts(const std::vector<sim::LineByte>& got, const std::vector<uint8_t>& head) {
  std::vector<double> out;
  for (size_t i = 0; i + head.size() <= got.size(); ++i) {
    bool match = true;
    for (size_t k = 0; k < head.size() && match; ++k) match = got[i + k].value == head[k];
    if (match) out.push_back(static_cast<double>(got[i].at) / 1e9);
  }
  return out;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class GpsProbingCycle : public SerialFixture {
 protected:
  void runUntil(double seconds) {
    while (now() < static_cast<int64_t>(seconds * 1e9)) {
      bool asleep = sim::Clock::waitForSleepers(1);
      if (getenv("GPS_TEST_TRACE")) fprintf(stderr, "t=%.3f asleep=%d\n", now() / 1e9, asleep);
      ASSERT_TRUE(asleep);
      advance(0.01);
    }
  }
};

}  // namespace

TEST_F(GpsProbingCycle, SilentPortCyclesUbxFurunoNmeaWithTheirTimes) {
  ConsoleCapture console;
  UbxResetForTest();
  FurunoResetForTest();
  sem_t wake;
  sem_init(&wake, 0, 0);
  THREAD_INFO info{};
  info.number = 5;
  info.wake = &wake;
  info.run.store(1);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    gps_thread(&info);
    done.store(true);
  });
  runUntil(42.0);
  // The worker leaves at its next look at the run flag (at most a read's seconds away).
  info.run.store(0);
  for (int i = 0; i < 1000 && !done.load(); ++i) {
    if (sim::Clock::waitForSleepers(1)) advance(0.01);
  }
  ASSERT_TRUE(done.load());
  worker.join();
  sem_destroy(&wake);

  auto got = probe->received();
  std::vector<double> polls = starts(got, {0xB5, 0x62, 0x06, 0x24, 0x00, 0x00, 0x2A, 0x84});
  std::vector<double> furuno = starts(got, {0xC0, 0xA3, 0x8F, 0xEC, 0xCA});
  // Six UBX attempts 5.1 s apart (five one-second reads, then 100 ms), the Furuno commands
  // right after, five probes of 1.1 s, NMEA's single attempt at once, then UBX again.
  ASSERT_GE(polls.size(), 7u);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(polls[i], 5.1 * i, 0.05) << i;
  ASSERT_EQ(furuno.size(), 1u);
  EXPECT_NEAR(furuno[0], 30.6, 0.05);
  EXPECT_NEAR(polls[6], 36.2, 0.05);
  EXPECT_EQ(starts(got, {0xC0, 0xA2, 0x86}).size(), 1u);

  std::string text = console.text();
  size_t c0 = text.find("failed to MgrConfig()... 0");
  size_t p1 = text.find("failed to MgrProbe()... 1");
  size_t c2 = text.find("failed to MgrConfig()... 2");
  ASSERT_NE(c0, std::string::npos) << text;
  ASSERT_NE(p1, std::string::npos);
  ASSERT_NE(c2, std::string::npos);
  EXPECT_LT(c0, p1);
  EXPECT_LT(p1, c2);
  EXPECT_EQ(count(text.substr(0, c0), "UbxConfig()"), 6u);
  EXPECT_EQ(count(text.substr(c0, p1 - c0), "FurunoProbe()"), 5u);
  EXPECT_EQ(count(text.substr(c0, p1 - c0), "FurunoConfig()"), 1u);
  EXPECT_EQ(count(text, "GPS detected"), 0u);
  // Stopped while waiting for the UBX acknowledgement of the next cycle.
  EXPECT_NE(text.find("Stop MgrConfig by Power Loss"), std::string::npos);
  EXPECT_NE(text.find("~gps_thread()"), std::string::npos);
}
