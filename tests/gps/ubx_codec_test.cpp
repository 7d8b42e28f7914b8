#include "gps/ubx_codec.h"

#include <gtest/gtest.h>

#include "core/le_field.h"
#include "fake_port.h"
#include "gps/ubx_debug.h"
#include "support/test_board.h"

using namespace gpstest;

namespace {

Bytes navPayload(size_t n, uint8_t seed) {
  Bytes p(n);
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(seed + i);
  return p;
}

Bytes posllh(int32_t lat = 356000000, int32_t lon = 1397000000) {
  Bytes p = navPayload(28, 1);
  le::put32(p.data() + 4, static_cast<uint32_t>(lon));
  le::put32(p.data() + 8, static_cast<uint32_t>(lat));
  return ubxFrame(0x01, 0x02, p);
}

// One full set of the seven NAV messages of one epoch (each payload starts with its time of week).
std::vector<Bytes> navSet(uint32_t iTOW = 0x04030201) {
  std::vector<Bytes> set = {posllh(),
                            ubxFrame(0x01, 0x03, navPayload(16, 2)),
                            ubxFrame(0x01, 0x12, navPayload(36, 3)),
                            ubxFrame(0x01, 0x21, navPayload(20, 4)),
                            ubxFrame(0x01, 0x30, [] { Bytes p = navPayload(8 + 12 * 4, 5); p[4] = 4; return p; }()),
                            ubxFrame(0x01, 0x06, navPayload(52, 6)),
                            ubxFrame(0x01, 0x04, navPayload(18, 7))};
  for (Bytes& f : set) {
    Bytes payload(f.begin() + 6, f.end() - 2);
    le::put32(payload.data(), iTOW);
    f = ubxFrame(f[2], f[3], payload);
  }
  return set;
}

int feedBytewise(const Bytes& f, GpsFixRecord* r, std::vector<int>* results = nullptr) {
  int last = 0;
  for (uint8_t b : f) {
    last = ProcessUBX(b, r, 0);
    if (results) results->push_back(last);
  }
  return last;
}

class UbxCodec : public ::testing::Test {
 protected:
  void SetUp() override {
    fastClock();
    UbxResetForTest();
    FakePort::current() = &port;
  }
  FakePort port;
  GpsFixRecord record{};
};

}  // namespace

TEST_F(UbxCodec, ConfigurationFramesCarryTheirOwnChecksums) {
  struct Named {
    const uint8_t* f;
    int n;
  };
  const Named frames[] = {{ubx::kPollNav5, 8},  {ubx::kCfgRst, 12},    {ubx::kCfgPrt, 28},     {ubx::kPollPrt, 9},
                          {ubx::kCfgAnt, 12},   {ubx::kCfgSbas, 16},   {ubx::kCfgNav5, 44},    {ubx::kMsgTimeutc, 11},
                          {ubx::kMsgPosllh, 11}, {ubx::kMsgSol, 11},    {ubx::kMsgVelned, 11},  {ubx::kMsgDop, 11},
                          {ubx::kMsgStatus, 11}, {ubx::kMsgSvinfo, 11}, {ubx::kPollMonVer, 8}};
  for (const Named& x : frames) {
    uint8_t a, b;
    GetCheckSum(x.f, x.n, &a, &b);
    EXPECT_EQ(a, x.f[x.n - 2]) << "frame " << std::hex << int(x.f[2]) << " " << int(x.f[3]);
    EXPECT_EQ(b, x.f[x.n - 1]);
    EXPECT_EQ(le::get16(x.f + 4) + 8, x.n);
  }
  uint8_t a = 1, b = 1;
  GetCheckSum(ubx::kPollNav5, 4, &a, &b);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 0);
}

TEST_F(UbxCodec, PositionFrameByteByByteFillsItsSlotAndAWrongChecksumLeavesTheRecord) {
  Bytes f = posllh();
  ASSERT_EQ(f.size(), 36u);
  std::vector<int> results;
  EXPECT_EQ(feedBytewise(f, &record, &results), 0x01);
  for (size_t i = 0; i + 1 < results.size(); ++i) EXPECT_EQ(results[i], 0) << i;
  EXPECT_EQ(0, memcmp(record.bytes, f.data(), 36));
  EXPECT_EQ(ubxfix::lat(record), 356000000);

  GpsFixRecord untouched{};
  Bytes bad = posllh(1, 2);
  bad.back() ^= 0x55;
  results.clear();
  feedBytewise(bad, &untouched, &results);
  for (int r : results) EXPECT_EQ(r, 0);
  for (uint8_t b : untouched.bytes) ASSERT_EQ(b, 0);
}

TEST_F(UbxCodec, ASecondSyncCharacterLosesTheFrameButNotTheNextOne) {
  Bytes f = posllh();
  Bytes doubled = cat({{0xB5}, f});
  EXPECT_EQ(feedBytewise(doubled, &record), 0);
  EXPECT_EQ(record.bytes[0], 0);
  EXPECT_EQ(feedBytewise(posllh(5, 6), &record), 0x01);
  EXPECT_EQ(ubxfix::lat(record), 5);
}

TEST_F(UbxCodec, RecordIsCompleteOnlyWithAllSevenNavMessagesAndThenStartsAgain) {
  std::vector<Bytes> set = navSet();
  Bytes a = cat({set[0], set[1]}), b = cat({set[2], set[3], set[4]}), c = cat({set[5], set[6]});
  EXPECT_EQ(UbxDecode(a.data(), int(a.size()), &record, 0), 0);
  EXPECT_EQ(UbxDecode(b.data(), int(b.size()), &record, 0), 0);
  EXPECT_EQ(UbxDecode(c.data(), int(c.size()), &record, 0), 1);
  // The next set needs all seven again: six are not enough.
  Bytes six = cat({set[0], set[1], set[2], set[3], set[4], set[5]});
  EXPECT_EQ(UbxDecode(six.data(), int(six.size()), &record, 0), 0);
  EXPECT_EQ(UbxDecode(set[6].data(), int(set[6].size()), &record, 0), 1);
  // Slots hold their frames whole.
  EXPECT_EQ(0, memcmp(record.bytes + ubxfix::kDop, set[6].data(), 26));
  EXPECT_EQ(0, memcmp(record.bytes + ubxfix::kSol, set[5].data(), 60));
}

TEST_F(UbxCodec, ARecordHoldsTheFramesOfOneEpochOnly) {
  // Reading began in the middle of a burst: the last three frames of one epoch, then the next
  // epoch whole. The set completes with the next epoch's last frame, not with its fourth (which
  // would join its position with the earlier epoch's time).
  std::vector<Bytes> first = navSet(1000), second = navSet(2000);
  Bytes tail = cat({first[4], first[5], first[6]});
  EXPECT_EQ(UbxDecode(tail.data(), int(tail.size()), &record, 0), 0);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(UbxDecode(second[i].data(), int(second[i].size()), &record, 0), 0) << i;
  EXPECT_EQ(UbxDecode(second[6].data(), int(second[6].size()), &record, 0), 1);
  for (size_t slot : {ubxfix::kPosllh, ubxfix::kTimeutc, ubxfix::kSvinfo, ubxfix::kSol, ubxfix::kDop}) {
    EXPECT_EQ(le::get32(record.bytes + slot + ubxfix::kFrameHead), 2000u) << slot;
  }
}

TEST_F(UbxCodec, AnAnswerInPlaceOfThePositionHoldsTheRecordBackUntilAPositionComes) {
  std::vector<Bytes> set = navSet();
  Bytes ack = ubxFrame(0x05, 0x01, {0x06, 0x01});
  Bytes all = cat({set[0], set[1], set[2], ack, set[3], set[4], set[5], set[6]});
  EXPECT_EQ(UbxDecode(all.data(), int(all.size()), &record, 0), 0);
  EXPECT_EQ(0, memcmp(record.bytes, ack.data(), ack.size()));  // the answer sits at offset 0
  EXPECT_EQ(UbxDecode(set[0].data(), int(set[0].size()), &record, 0), 1);
  EXPECT_EQ(0, memcmp(record.bytes, set[0].data(), 36));
}

TEST_F(UbxCodec, EmptyPayloadIsAPollThatStoresNothingAndDoesNotSwallowTheNextFrame) {
  Bytes poll = ubxFrame(0x01, 0x02, {});
  Bytes f = posllh(7, 8);
  Bytes both = cat({poll, f});
  std::vector<int> results;
  EXPECT_EQ(feedBytewise(both, &record, &results), 0x01);
  EXPECT_EQ(results[poll.size() - 1], 0);
  EXPECT_EQ(ubxfix::lat(record), 7);
}

TEST_F(UbxCodec, ShortNavFrameLeavesNoBytesOfAnEarlierFrameInItsSlot) {
  feedBytewise(ubxFrame(0x01, 0x30, navPayload(300, 9)), &record);
  Bytes shortStatus = ubxFrame(0x01, 0x03, {1, 2, 3, 4});
  EXPECT_EQ(feedBytewise(shortStatus, &record), 0x02);
  EXPECT_EQ(0, memcmp(record.bytes + ubxfix::kStatus, shortStatus.data(), shortStatus.size()));
  for (size_t i = shortStatus.size(); i < ubxfix::kStatusSize; ++i) EXPECT_EQ(record.bytes[ubxfix::kStatus + i], 0);
}

TEST_F(UbxCodec, SatelliteChannelsNeverReachPastTheFrameOrTheSlot) {
  // numCh 255 in a frame with 40 real channels: the slot keeps 32 of them, the frame has 40.
  Bytes p = navPayload(8 + 12 * 40, 0);
  p[4] = 255;
  Bytes f = ubxFrame(0x01, 0x30, p);
  testing_board::ConsoleCapture console;
  EXPECT_EQ(ProcessClassNav(f.data(), &record, 0), 0x10);
  EXPECT_EQ(ubx::svinfoChannels(record.bytes + ubxfix::kSvinfo, ubxfix::kSvinfoSize - 2), 32);
  EXPECT_EQ(ubx::svinfoChannels(f.data(), f.size()), 40);
  // numCh 200 in a frame with 2 channels.
  Bytes q = navPayload(8 + 24, 0);
  q[4] = 200;
  Bytes g = ubxFrame(0x01, 0x30, q);
  EXPECT_EQ(ubx::svinfoChannels(g.data(), g.size() - 2), 2);
  // The debug dump lists what exists (the address sanitizer watches the reads).
  ubx::dumpNav(record.bytes + ubxfix::kSvinfo, g.data(), nullptr);
  std::string text = console.text();
  size_t sats = 0;
  for (size_t at = text.find("  Sat "); at != std::string::npos; at = text.find("  Sat ", at + 1)) ++sats;
  EXPECT_EQ(sats, 2u);
  EXPECT_NE(text.find("NAV_SVINFO : B5 62, 01 30, 488, "), std::string::npos) << text;
}

TEST_F(UbxCodec, NegativeElevationIsPrintedSigned) {
  Bytes p(8 + 12, 0);
  p[4] = 1;
  p[8 + 5] = static_cast<uint8_t>(-5);
  Bytes f = ubxFrame(0x01, 0x30, p);
  ASSERT_EQ(ProcessClassNav(f.data(), &record, 0), 0x10);
  testing_board::ConsoleCapture console;
  ubx::dumpNav(record.bytes + ubxfix::kSvinfo, f.data(), nullptr);
  EXPECT_NE(console.text().find("  Sat 0, 0, 0x0, 0x0, 0, -5, 0, 0"), std::string::npos) << console.text();
}

TEST_F(UbxCodec, AckWaitIgnoresAnswersForOtherMessagesAndNakFails) {
  port.reads = {cat({ubxFrame(0x05, 0x01, {0x06, 0x01}), ubxFrame(0x01, 0x02, navPayload(28, 0))}),
                ubxFrame(0x05, 0x01, {0x06, 0x13})};
  EXPECT_EQ(UbxWaitAck(1, FakePort::read, FakePort::write, 0x06, 0x13), 0);
  EXPECT_EQ(port.readCalls, 2);

  port.readCalls = 0;
  port.reads = {ubxFrame(0x05, 0x00, {0x06, 0x13})};
  EXPECT_EQ(UbxWaitAck(1, FakePort::read, FakePort::write, 0x06, 0x13), -1);
  EXPECT_EQ(port.readCalls, 1);

  port.readCalls = 0;  // silent: five reads, then it gives up
  EXPECT_EQ(UbxWaitAck(1, FakePort::read, FakePort::write, 0x06, 0x13), -1);
  EXPECT_EQ(port.readCalls, 5);
}

namespace {

// A receiver that acknowledges every CFG frame and answers the port poll with `baud`.
struct ScriptedUblox {
  FakePort& port;
  uint32_t baud = 9600;
  int prtPolls = 0;
  bool nakAnt = false;
  void attach() {
    port.onWrite = [this](const Bytes& f) { answer(f); };
  }
  void answer(const Bytes& f) {
    if (f.size() < 8 || f[2] != 0x06) return;
    uint8_t id = f[3];
    if (id == 0x04) return;  // restart: no answer
    if (id == 0x00 && f.size() == 9) {
      ++prtPolls;
      Bytes p(ubx::kCfgPrt + 6, ubx::kCfgPrt + 26);
      le::put32(p.data() + 8, baud);
      port.reads.push_back(cat({ubxFrame(0x06, 0x00, p), ubxFrame(0x05, 0x01, {0x06, 0x00})}));
      return;
    }
    if (id == 0x00) return;  // a new port setting: its answer comes at the new speed, here nothing
    if (id == 0x24 && f.size() == 8) port.reads.push_back(ubxFrame(0x06, 0x24, Bytes(36, 0)));
    bool nak = nakAnt && id == 0x13;
    port.reads.push_back(ubxFrame(0x05, nak ? 0x00 : 0x01, {0x06, id}));
  }
};

}  // namespace

TEST_F(UbxCodec, ConfigurationSendsEveryFrameInOrderAndEndsWithTheVersionPoll) {
  ScriptedUblox rx{port};
  rx.attach();
  testing_board::ConsoleCapture console;
  EXPECT_EQ(UbxConfig(1, FakePort::read, FakePort::write), 1);
  const std::vector<Bytes> expected = {
      Bytes(ubx::kPollNav5, ubx::kPollNav5 + 8),    Bytes(ubx::kCfgRst, ubx::kCfgRst + 12),
      Bytes(ubx::kCfgPrt, ubx::kCfgPrt + 28),       Bytes(ubx::kPollPrt, ubx::kPollPrt + 9),
      Bytes(ubx::kMsgTimeutc, ubx::kMsgTimeutc + 11), Bytes(ubx::kCfgAnt, ubx::kCfgAnt + 12),
      Bytes(ubx::kCfgSbas, ubx::kCfgSbas + 16),     Bytes(ubx::kCfgNav5, ubx::kCfgNav5 + 44),
      Bytes(ubx::kMsgPosllh, ubx::kMsgPosllh + 11), Bytes(ubx::kMsgSol, ubx::kMsgSol + 11),
      Bytes(ubx::kMsgVelned, ubx::kMsgVelned + 11), Bytes(ubx::kMsgTimeutc, ubx::kMsgTimeutc + 11),
      Bytes(ubx::kMsgDop, ubx::kMsgDop + 11),       Bytes(ubx::kMsgStatus, ubx::kMsgStatus + 11),
      Bytes(ubx::kMsgSvinfo, ubx::kMsgSvinfo + 11), Bytes(ubx::kPollMonVer, ubx::kPollMonVer + 8)};
  EXPECT_EQ(port.writes, expected);
  std::string text = console.text();
  EXPECT_NE(text.find("CFG_PRT Polling CONFIG : OK"), std::string::npos);
  EXPECT_NE(text.find("@@ Datum : WGS84"), std::string::npos);
  EXPECT_NE(text.find("~UbxConfig()"), std::string::npos);
}

TEST_F(UbxCodec, PortAnswerAt4800IsRetriedAndSixFailuresGiveUp) {
  ScriptedUblox rx{port, 4800};
  rx.attach();
  testing_board::ConsoleCapture console;
  EXPECT_EQ(UbxConfig(1, FakePort::read, FakePort::write), 0);
  std::string text = console.text();
  EXPECT_NE(text.find("CFG_PRT Polling CONFIG : baudRate FAIL"), std::string::npos);
  EXPECT_NE(text.find("~UbxWaitPoll()"), std::string::npos);
  EXPECT_NE(text.find("failed to UbxWaitAck()- retry_cnt: 6 "), std::string::npos);
  EXPECT_NE(text.find("failed to UbxWaitAck()- retry_cnt: 1 "), std::string::npos);
  EXPECT_EQ(text.find("retry_cnt: 0"), std::string::npos);
  EXPECT_EQ(rx.prtPolls, 6);
  // Port setting and poll went out six times each, nothing after them.
  int prt = 0;
  for (const Bytes& w : port.writes) prt += (w.size() == 28 && w[3] == 0x00);
  EXPECT_EQ(prt, 6);
  EXPECT_EQ(port.writes.back(), Bytes(ubx::kPollPrt, ubx::kPollPrt + 9));
}

TEST_F(UbxCodec, PortAnswerCorrectedOnTheSecondAttemptGoesOn) {
  ScriptedUblox rx{port, 4800};
  rx.attach();
  port.onWrite = [&](const Bytes& f) {
    if (rx.prtPolls == 1) rx.baud = 9600;
    rx.answer(f);
  };
  testing_board::ConsoleCapture console;
  EXPECT_EQ(UbxConfig(1, FakePort::read, FakePort::write), 1);
  EXPECT_EQ(rx.prtPolls, 2);
  EXPECT_NE(console.text().find("retry_cnt: 6"), std::string::npos);
}

TEST_F(UbxCodec, AnyFailedStepEndsTheConfiguration) {
  ScriptedUblox rx{port};
  rx.nakAnt = true;
  rx.attach();
  EXPECT_EQ(UbxConfig(1, FakePort::read, FakePort::write), 0);
  EXPECT_EQ(port.writes.back(), Bytes(ubx::kCfgAnt, ubx::kCfgAnt + 12));

  FakePort shortPort;
  FakePort::current() = &shortPort;
  ScriptedUblox rx2{shortPort};
  rx2.attach();
  shortPort.shortWriteAt = 1;  // the restart frame
  EXPECT_EQ(UbxConfig(1, FakePort::read, FakePort::write), 0);
  EXPECT_EQ(shortPort.writes.size(), 2u);
}

TEST_F(UbxCodec, ProbeAsksForTheEngineSettingsAndWantsTheirAcknowledgement) {
  ScriptedUblox rx{port};
  rx.attach();
  EXPECT_EQ(UbxProbe(1, FakePort::read, FakePort::write), 1);
  EXPECT_EQ(port.writes.front(), Bytes(ubx::kPollNav5, ubx::kPollNav5 + 8));
  port.onWrite = nullptr;
  EXPECT_EQ(UbxProbe(1, FakePort::read, FakePort::write), 0);
}
