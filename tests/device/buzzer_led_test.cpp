// The pattern table: the requests each code sends to /dev/tima0 (a scripted device here).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "device/buzzer_led.h"
#include "support/fake_device.h"
#include "support/test_board.h"

namespace {

using testing_board::ConsoleCapture;
using testing_board::FakeDevice;
using testing_board::TestBoard;
using Req = std::vector<uint32_t>;  // channel, continuous, count, on, off, start

class BuzzerLed : public ::testing::Test {
 protected:
  void SetUp() override {
    tima = std::make_shared<FakeDevice>(TIMA_DEVICE, sizeof(TIMA_BLINK_REQ));
    tima->install();
    ASSERT_EQ(BuzzerLedOpen(), 0);
    BuzzerLedCtrl(BZLED_PRE_LED_STEADY);  // the table as at start, whatever an earlier test did
    tima->clear();
  }
  void TearDown() override { BuzzerLedClose(); }

  std::vector<Req> sent() {
    std::vector<Req> out;
    for (const auto& r : tima->requests()) {
      EXPECT_EQ(r.code, TIMA_IOC_BLINK);
      TIMA_BLINK_REQ b;
      memcpy(&b, r.argument.data(), sizeof b);
      out.push_back({b.channel, b.continuous, b.count, b.onMs, b.offMs, b.startLevel});
    }
    tima->clear();
    return out;
  }

  TestBoard board;
  std::shared_ptr<FakeDevice> tima;
};

const Req kOff0{0, 0, 0, 0, 0, 0}, kOff1{1, 0, 0, 0, 0, 0}, kOff2{2, 0, 0, 0, 0, 0};
const Req kOn1{1, 0, 0, 0, 0, 1}, kOn2{2, 0, 0, 0, 0, 1};
const Req kFlicker1{1, 1, 0, 40, 60, 1};

TEST_F(BuzzerLed, EveryCodeSendsItsPatternInChannelOrder) {
  struct Case {
    int32_t code;
    std::vector<Req> requests;
  };
  const std::vector<Case> table = {
      {1, {kOff0, kOn1, kOn2}},
      {2, {kOff0, kOff1, kOff2}},
      {3, {{1, 1, 0, 500, 500, 0}, {2, 1, 0, 500, 500, 0}}},
      {5, {kOn1, kOff2}},
      {6, {kFlicker1, kOff2}},
      {7, {kOn1, kOn2}},
      {8, {kFlicker1, kOn2}},
      {9, {kOff1, {2, 1, 0, 2000, 2000, 0}}},
      {10, {{0, 1, 0, 500, 500, 1}, {1, 1, 0, 2000, 2000, 0}, {2, 1, 0, 2000, 2000, 0}}},
      {11, {{0, 1, 0, 100, 1900, 1}, {1, 1, 0, 40, 60, 0}, {2, 1, 0, 40, 60, 0}}},
      {14, {kOff0, {1, 1, 0, 2000, 2000, 0}, {2, 1, 0, 2000, 2000, 0}}},
      {16, {{1, 1, 0, 5000, 1000, 1}, kOff2}},
      {17, {{1, 1, 0, 5000, 1000, 1}, kOn2}},
  };
  for (const Case& c : table) {
    EXPECT_EQ(BuzzerLedCtrl(c.code), 0) << c.code;
    EXPECT_EQ(sent(), c.requests) << "code " << c.code;
    EXPECT_EQ(BzLedStatus.load(), c.code);
  }
}

TEST_F(BuzzerLed, TriggerAndFormatBeepOverTheShownStateWithoutChangingIt) {
  BuzzerLedCtrl(BZLED_POST);
  sent();
  EXPECT_EQ(BuzzerLedCtrl(BZLED_TRIGGER), 0);
  EXPECT_EQ(sent(), (std::vector<Req>{{0, 0, 1, 1000, 1000, 1}}));
  EXPECT_EQ(BzLedStatus.load(), BZLED_POST);
  EXPECT_EQ(BuzzerLedCtrl(BZLED_FORMAT_SD), 0);
  EXPECT_EQ(sent(), (std::vector<Req>{{0, 0, 1, 500, 500, 1}}));
  EXPECT_EQ(BzLedStatus.load(), BZLED_POST);
}

TEST_F(BuzzerLed, CodesTwelveAndThirteenChangeLedOneOfPreAndPreov) {
  BuzzerLedCtrl(BZLED_PRE);
  sent();
  const Req blink1{1, 1, 0, 100, 900, 0};
  EXPECT_EQ(BuzzerLedCtrl(BZLED_PRE_LED_BLINK), 0);  // shown again at once
  EXPECT_EQ(sent(), (std::vector<Req>{blink1, kOff2}));
  EXPECT_EQ(BzLedStatus.load(), BZLED_PRE);
  BuzzerLedCtrl(BZLED_PREOV);
  EXPECT_EQ(sent(), (std::vector<Req>{blink1, kOn2}));
  BuzzerLedCtrl(BZLED_WARMUP);
  sent();
  EXPECT_EQ(BuzzerLedCtrl(BZLED_PRE_LED_STEADY), 0);  // warm-up is shown again
  EXPECT_EQ(sent(), (std::vector<Req>{{1, 1, 0, 500, 500, 0}, {2, 1, 0, 500, 500, 0}}));
  EXPECT_EQ(BzLedStatus.load(), BZLED_WARMUP);
  BuzzerLedCtrl(BZLED_PRE);
  EXPECT_EQ(sent(), (std::vector<Req>{kOn1, kOff2}));
}

TEST_F(BuzzerLed, CodesWithoutAPatternAreRememberedAndSendNothing) {
  EXPECT_EQ(BuzzerLedCtrl(0), 0);
  EXPECT_EQ(BzLedStatus.load(), 0);
  EXPECT_EQ(BuzzerLedCtrl(18), 0);
  EXPECT_EQ(BzLedStatus.load(), 18);
  EXPECT_EQ(BuzzerLedCtrl(-5), 0);
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(BuzzerLedCtrl(BZLED_PRE_LED_BLINK), 0);  // nothing to show again
  EXPECT_TRUE(sent().empty());
}

TEST_F(BuzzerLed, AFailingRequestSkipsTheRestOfThePattern) {
  auto n = std::make_shared<int>(0);
  tima->answer([n](unsigned long, uintptr_t) { return ++*n == 2 ? -EIO : 0L; });
  ConsoleCapture console;
  EXPECT_EQ(BuzzerLedCtrl(BZLED_SDFAILURE), -1);
  EXPECT_EQ(sent().size(), 2u);  // buzzer, LED 1; LED 2 never sent
  EXPECT_NE(console.text().find("Fail to get index for /dev/tima0."), std::string::npos) << console.text();
}

TEST_F(BuzzerLed, OpenAndCloseAndCallsAroundThem) {
  BuzzerLedClose();
  EXPECT_EQ(BuzzerLedCtrl(BZLED_PRE), -1);
  EXPECT_TRUE(sent().empty());
  sim::removeDeviceNode(TIMA_DEVICE);
  {
    ConsoleCapture console;
    EXPECT_EQ(BuzzerLedOpen(), -3);
    EXPECT_NE(console.text().find("failed to open /dev/tima0. (2)"), std::string::npos);
  }
  tima->install();
  BzLedStatus.store(BZLED_POWERONDFT);
  EXPECT_EQ(BuzzerLedOpen(), 0);
  EXPECT_EQ(BzLedStatus.load(), BZLED_WARMUP);
  EXPECT_TRUE(sent().empty());  // the driver shows warm-up by itself
}

}  // namespace
