// What every receiver model does whatever its protocol: the cold start, a tunnel, a replayed
// capture, and a receiver that takes no commands.
#include <gtest/gtest.h>

#include <algorithm>

#include "board/gps/nmea_receiver.h"
#include "board/gps/ubx_frame.h"
#include "board/gps/ublox_receiver.h"
#include "sim/gps/receiver_fixture.h"

namespace {

using testing_board::nmeaSentences;
using testing_board::ReceiverFixture;

// The GGA sentences of a stream, one a second.
std::vector<std::string> gga(const std::string& out) {
  std::vector<std::string> all = nmeaSentences(out), found;
  std::copy_if(all.begin(), all.end(), std::back_inserter(found), [](const std::string& s) { return s.rfind("$GPGGA", 0) == 0; });
  return found;
}
bool fixed(const std::string& gga) { return gga.find(",1,") != std::string::npos; }
bool timed(const std::string& gga) { return gga.rfind("$GPGGA,,", 0) != 0; }

class ReceiverBehaviour : public ReceiverFixture {};

TEST_F(ReceiverBehaviour, AColdStartKnowsTheTimeHalfwayAndFixesAfterTheTimeToFirstFix) {
  install<sim::NmeaReceiver>(10);
  auto s = gga(run(12.9));
  ASSERT_EQ(s.size(), 12u);
  for (size_t second = 1; second <= 12; ++second) {
    const std::string& g = s[second - 1];
    EXPECT_EQ(timed(g), second >= 5) << g;
    EXPECT_EQ(fixed(g), second >= 10) << g;
  }
}

TEST_F(ReceiverBehaviour, InATunnelThereIsNoPositionButTheTimeGoesOn) {
  install<sim::NmeaReceiver>(1);
  run(3.5);
  receiver->setSkyLost(true);
  auto inside = gga(run(3));
  ASSERT_EQ(inside.size(), 3u);
  for (const std::string& g : inside) {
    EXPECT_FALSE(fixed(g)) << g;
    EXPECT_TRUE(timed(g)) << g;
  }
  receiver->setSkyLost(false);
  auto out = gga(run(3));
  EXPECT_FALSE(fixed(out[0])) << "a second to fix again";
  EXPECT_TRUE(fixed(out[1]));
  EXPECT_TRUE(fixed(out[2]));
}

TEST_F(ReceiverBehaviour, AReplayGoesOutAtLineSpeedInPlaceOfTheOwnOutputAndCommandsAreStillAnswered) {
  install<sim::UbloxReceiver>(0);
  run(1.8);  // the first second's sentences are out
  std::string capture;
  for (int i = 0; i < 40; ++i) capture += "$GPTXT,01,01,02,captured sentence number " + std::to_string(100 + i) + "*00\r\n";
  receiver->replay(std::vector<uint8_t>(capture.begin(), capture.end()));
  int64_t start = sim::Clock::elapsed();
  send(sim::ubxFrame(0x06, 0x13, {0x01, 0x00, 0x8B, 0x29}));  // CFG-ANT
  std::string out;
  int64_t done = 0;
  for (int i = 0; i < 350; ++i) {
    out += run(0.01);
    if (done == 0 && out.find("number 139*00\r\n") != std::string::npos) done = sim::Clock::elapsed();
  }
  size_t first = out.find("$GPTXT");
  size_t last = out.rfind("number 139*00\r\n");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(last, std::string::npos);
  std::string replayed = out.substr(first, last + 15 - first);
  auto acks = testing_board::ubxMessages(replayed);
  ASSERT_EQ(acks.size(), 1u) << "the acknowledgement goes between the replayed sentences";
  EXPECT_EQ(acks[0].cls, 0x05);
  EXPECT_EQ(replayed.find("$GPGGA"), std::string::npos) << "no output of its own meanwhile";
  EXPECT_EQ(replayed.size(), capture.size() + 10);
  // At line speed: the capture and the acknowledgement took their characters' time, no more.
  double expected = static_cast<double>(capture.size() + 10) / 960;
  EXPECT_NEAR(static_cast<double>(done - start) / 1e9, expected, 0.03);
  EXPECT_FALSE(receiver->replaying());
  EXPECT_NE(out.find("$GPGGA", last), std::string::npos) << "its own output comes back afterwards";
}

TEST_F(ReceiverBehaviour, AnNmeaOnlyReceiverIgnoresCommands) {
  install<sim::NmeaReceiver>(0);
  send({0xB5, 0x62, 0x06, 0x24, 0x00, 0x00, 0x2A, 0x84});
  send({0xC0, 0xA3, 0x8F, 0xEC, 0xCA});
  std::string out = run(2.5);
  EXPECT_TRUE(testing_board::ubxMessages(out).empty());
  EXPECT_EQ(gga(out).size(), 2u);
}

}  // namespace
