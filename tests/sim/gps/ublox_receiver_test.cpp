// The u-blox model against the published UBX protocol, read from the board's end of the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "board/gps/ubx_frame.h"
#include "board/gps/ublox_receiver.h"
#include "sim/gps/receiver_fixture.h"

namespace {

using sim::ubxFrame;
using sim::UbloxReceiver;
using testing_board::nmeaSentences;
using testing_board::ReceiverFixture;
using testing_board::ubxMessages;
using testing_board::UbxMessage;

std::vector<uint8_t> bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> b;
  for (int v : list) b.push_back(static_cast<uint8_t>(v));
  return b;
}

int count(const std::vector<UbxMessage>& ms, uint8_t cls, uint8_t id) {
  return static_cast<int>(std::count_if(ms.begin(), ms.end(), [&](const UbxMessage& m) { return m.cls == cls && m.id == id; }));
}
// The acknowledgements in order: (1 ACK or 0 NAK, class, id).
std::vector<std::tuple<int, int, int>> acks(const std::vector<UbxMessage>& ms) {
  std::vector<std::tuple<int, int, int>> out;
  for (const UbxMessage& m : ms) {
    if (m.cls == 0x05 && m.payload.size() == 2) out.emplace_back(m.id, m.payload[0], m.payload[1]);
  }
  return out;
}

class UbloxTest : public ReceiverFixture {};

TEST_F(UbloxTest, AtPowerOnItSpeaksNmeaOnceASecondAt9600) {
  install<UbloxReceiver>(2);
  std::string out = run(4.9);
  int bad = 0;
  auto sentences = nmeaSentences(out, &bad);
  EXPECT_EQ(bad, 0);
  std::map<std::string, int> seen;
  for (const std::string& s : sentences) ++seen[s.substr(1, 5)];
  for (const char* name : {"GPGGA", "GPGLL", "GPGSA", "GPRMC", "GPVTG"}) EXPECT_EQ(seen[name], 4) << name;
  EXPECT_GE(seen["GPGSV"], 4);
  EXPECT_TRUE(ubxMessages(out).empty()) << "no UBX output until asked";
  // Before the first fix RMC says void, after it active.
  auto rmc = std::find_if(sentences.begin(), sentences.end(), [](const std::string& s) { return s.rfind("$GPRMC", 0) == 0; });
  EXPECT_NE(rmc->find(",V,"), std::string::npos) << *rmc;
  auto last = std::find_if(sentences.rbegin(), sentences.rend(), [](const std::string& s) { return s.rfind("$GPRMC", 0) == 0; });
  EXPECT_NE(last->find(",A,"), std::string::npos) << *last;
}

TEST_F(UbloxTest, PollsSetsMalformedSetsUnknownIdsAndMonVer) {
  install<UbloxReceiver>(0);
  run(0.5);
  send(bytes({0xB5, 0x62, 0x06, 0x00, 0x01, 0x00, 0x01, 0x08, 0x22}));  // poll CFG-PRT of port 1
  auto ms = ubxMessages(run(0.3));
  ASSERT_GE(ms.size(), 2u);
  EXPECT_EQ(ms[0].cls, 0x06);
  EXPECT_EQ(ms[0].id, 0x00);
  ASSERT_EQ(ms[0].payload.size(), 20u);
  EXPECT_EQ(ms[0].payload[0], 1);
  EXPECT_EQ(sim::ubxU4(&ms[0].payload[8]), 9600u);
  EXPECT_EQ(sim::ubxU2(&ms[0].payload[14]), 0x0003) << "UBX and NMEA out";
  EXPECT_EQ(acks(ms), (std::vector<std::tuple<int, int, int>>{{1, 0x06, 0x00}})) << "the message, then ACK-ACK";

  send(bytes({0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0x01, 0x02, 0x01, 0x0E, 0x47}));  // NAV-POSLLH once a solution
  std::vector<uint8_t> shortNav5(35, 0);
  send(ubxFrame(0x06, 0x24, shortNav5));   // one byte short
  send(ubxFrame(0x06, 0x99, {1, 2, 3}));  // no such CFG message
  auto wrongChecksum = ubxFrame(0x06, 0x13, {1, 0, 0x8B, 0x29});
  wrongChecksum.back() ^= 1;
  send(wrongChecksum);
  send(bytes({0xB5, 0x62, 0x0A, 0x04, 0x00, 0x00, 0x0E, 0x34}));  // MON-VER poll
  ms = ubxMessages(run(3));
  EXPECT_EQ(acks(ms), (std::vector<std::tuple<int, int, int>>{{1, 0x06, 0x01}, {0, 0x06, 0x24}, {0, 0x06, 0x99}}))
      << "a bad checksum gets no answer";
  EXPECT_GE(count(ms, 0x01, 0x02), 2) << "NAV-POSLLH every second";
  EXPECT_EQ(count(ms, 0x01, 0x03), 0) << "only what was asked for";
  auto ver = std::find_if(ms.begin(), ms.end(), [](const UbxMessage& m) { return m.cls == 0x0A && m.id == 0x04; });
  ASSERT_NE(ver, ms.end());
  ASSERT_EQ(ver->payload.size(), 40u);
  EXPECT_STREQ(reinterpret_cast<const char*>(ver->payload.data()), UbloxReceiver::kSoftwareVersion);
  EXPECT_STREQ(reinterpret_cast<const char*>(ver->payload.data() + 30), UbloxReceiver::kHardwareVersion);
}

TEST_F(UbloxTest, TheRecordersConfigurationIsAcknowledgedAndUbxOnlyOutputEndsNmea) {
  install<UbloxReceiver>(1);
  run(1.2);
  const std::vector<std::vector<uint8_t>> steps = {
      bytes({0xB5, 0x62, 0x06, 0x24, 0x00, 0x00, 0x2A, 0x84}),                                // NAV5 poll
      bytes({0xB5, 0x62, 0x06, 0x04, 0x04, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0F, 0x66}),        // hot restart
      bytes({0xB5, 0x62, 0x06, 0x00, 0x14, 0x00, 0x01, 0x00, 0x00, 0x00, 0xD0, 0x08, 0x00, 0x00, 0x80, 0x25, 0x00,
             0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x9A, 0x79}),                // UBX only
      bytes({0xB5, 0x62, 0x06, 0x00, 0x01, 0x00, 0x01, 0x08, 0x22}),                          // PRT poll
      bytes({0xB5, 0x62, 0x06, 0x13, 0x04, 0x00, 0x01, 0x00, 0x8B, 0x29, 0xD2, 0x10}),        // ANT
      bytes({0xB5, 0x62, 0x06, 0x16, 0x08, 0x00, 0x01, 0x07, 0x02, 0x00, 0x00, 0x02, 0x02, 0x00, 0x32, 0xD9}),  // SBAS
      bytes({0xB5, 0x62, 0x06, 0x24, 0x24, 0x00, 0xFF, 0xFF, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x10, 0x27,
             0x00, 0x00, 0x05, 0x00, 0xFA, 0x00, 0xFA, 0x00, 0x64, 0x00, 0x2C, 0x01, 0x6E, 0x00, 0x00, 0x00,
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7E, 0x14}),  // NAV5: 36 bytes
  };
  std::string out;
  for (size_t i = 0; i < steps.size(); ++i) {
    send(steps[i]);
    out += run(i == 1 ? 0.2 : 0.3);
  }
  for (uint8_t id : {0x02, 0x06, 0x12, 0x21, 0x04, 0x03, 0x30}) {
    send(ubxFrame(0x06, 0x01, {0x01, id, 0x01}));
    out += run(0.1);
  }
  auto ms = ubxMessages(out);
  EXPECT_EQ(acks(ms), (std::vector<std::tuple<int, int, int>>{{1, 6, 0x24}, {1, 6, 0x00}, {1, 6, 0x00}, {1, 6, 0x13},
                                                              {1, 6, 0x16}, {1, 6, 0x24}, {1, 6, 0x01}, {1, 6, 0x01},
                                                              {1, 6, 0x01}, {1, 6, 0x01}, {1, 6, 0x01}, {1, 6, 0x01},
                                                              {1, 6, 0x01}}))
      << "the restart is not acknowledged; everything else is";
  auto prt = std::find_if(ms.begin(), ms.end(), [](const UbxMessage& m) { return m.cls == 6 && m.id == 0 && m.payload.size() == 20; });
  ASSERT_NE(prt, ms.end());
  EXPECT_EQ(sim::ubxU2(&prt->payload[12]), 0x0001);
  EXPECT_EQ(sim::ubxU2(&prt->payload[14]), 0x0001);

  std::string later = run(3);
  EXPECT_EQ(later.find("$GP"), std::string::npos) << "no NMEA once the port is UBX only";
  ms = ubxMessages(later);
  for (uint8_t id : {0x02, 0x03, 0x04, 0x06, 0x12, 0x21, 0x30}) EXPECT_EQ(count(ms, 1, id), 3) << std::hex << int(id);
  auto status = std::find_if(ms.rbegin(), ms.rend(), [](const UbxMessage& m) { return m.cls == 1 && m.id == 3; });
  EXPECT_EQ(status->payload[4], 3) << "a 3-D fix again after the hot start";
  auto sv = std::find_if(ms.rbegin(), ms.rend(), [](const UbxMessage& m) { return m.cls == 1 && m.id == 0x30; });
  int channels = sv->payload[4];
  EXPECT_GE(channels, 8);
  EXPECT_LE(channels, 16);
  EXPECT_EQ(sv->payload.size(), 8u + 12u * static_cast<size_t>(channels));
}

TEST_F(UbloxTest, ARestartIsDeafAndSilentForAMomentThenFixesAtOnce) {
  install<UbloxReceiver>(1);
  send(ubxFrame(0x06, 0x01, {0x01, 0x03, 0x01}));  // NAV-STATUS
  run(2.5);
  send(ubxFrame(0x06, 0x04, {0x00, 0x00, 0x01, 0x00}));  // hot start, software reset
  run(0.05);
  send(ubxFrame(0x06, 0x13, {0x01, 0x00, 0x8B, 0x29}));  // arrives while it restarts: lost
  std::string out = run(0.12);
  EXPECT_TRUE(ubxMessages(out).empty());
  send(ubxFrame(0x06, 0x13, {0x01, 0x00, 0x8B, 0x29}));
  out = run(2);
  auto ms = ubxMessages(out);
  EXPECT_EQ(acks(ms), (std::vector<std::tuple<int, int, int>>{{1, 6, 0x13}}));
  EXPECT_EQ(count(ms, 1, 3), 0) << "the software reset went back to the permanent configuration";
  EXPECT_NE(out.find("$GPGGA"), std::string::npos);
  auto gga = nmeaSentences(out);
  auto fixed = std::find_if(gga.begin(), gga.end(), [](const std::string& s) { return s.rfind("$GPGGA", 0) == 0 && s.find(",1,") != std::string::npos; });
  EXPECT_NE(fixed, gga.end()) << "a hot start fixes within a second";
}

TEST_F(UbloxTest, ASpeedChangeComesAfterItsAcknowledgement) {
  install<UbloxReceiver>(0);
  run(1.1);
  auto prt = sim::UbxPayload().u1(1).u1(0).u2(0).u4(0x8D0).u4(19200).u2(0x0003).u2(0x0003).u2(0).u2(0).bytes();
  send(ubxFrame(0x06, 0x00, prt));
  std::string atOld = run(0.5);
  EXPECT_EQ(acks(ubxMessages(atOld)), (std::vector<std::tuple<int, int, int>>{{1, 6, 0x00}})) << "read at 9600";
  std::string garbage = run(1.0);
  int bad = 0;
  EXPECT_TRUE(nmeaSentences(garbage, &bad).empty()) << "19200 read at 9600";
  setSpeed(B19200);
  run(0.2);
  std::string clean = run(2.0);
  EXPECT_GE(nmeaSentences(clean, &bad).size(), 10u);
  EXPECT_EQ(bad, 0);
}

}  // namespace
