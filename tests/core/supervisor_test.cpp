// The supervisor's decisions, driven through pipe 10 as the workers drive them.
#include "core/supervisor.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "config/settings.h"
#include "core/globals.h"
#include "core/threads.h"
#include "device/buzzer_led.h"
#include "device/rtc.h"
#include "support/fake_device.h"
#include "support/test_board.h"

namespace {

using testing_board::FakeDevice;
using testing_board::kStartSecond;

class SupervisorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    while (MsgOpenCount() > 0) MsgClose();
    MsgOpen();
    sem_init(&g_thread_to_main, 0, 0);
    SetDefaultParameter(&gConfig);
    gWritingSD = 0;
    gPowerLossStatus = 0;
    gSDFailed = 0;
    gSuccessiveTrg = 0;
    gSuccessiveTrgType = 0;
    gTerminateRequest = 0;
    state.startSecond = kStartSecond;
  }
  void TearDown() override {
    sem_destroy(&g_thread_to_main);
    while (MsgOpenCount() > 0) MsgClose();
  }

  // A worker's record to pipe 10 and its post, then one wake-up of the supervisor.
  void deliver(uint32_t sender, uint32_t id, uint32_t w5 = 0, uint32_t w6 = 0, uint32_t w7 = 0, void* block = nullptr,
               uint32_t arg = 0) {
    MsgRecord r = MsgMake(PIPE_CORE, sender, id);
    r.word[MSG_W_ARG] = arg;
    r.word[MSG_W_P0] = w5;
    r.word[MSG_W_P1] = w6;
    r.word[MSG_W_P2] = w7;
    r.block = block;
    ASSERT_EQ(MsgSend(&r, MSG_LENGTH), 0);
    sem_post(&g_thread_to_main);
    SupervisorWaitOne(state);
  }
  // Takes every record of a pipe.
  static std::vector<MsgRecord> drain(int pipe) {
    std::vector<MsgRecord> out;
    MsgRecord* r = nullptr;
    while (MsgRecv(&r, pipe) == 0) {
      out.push_back(*r);
      r->block = nullptr;  // the test owns a copy of the pointer; MsgDone must not free what we check
      MsgDone(pipe);
    }
    return out;
  }
  void gTrigger(uint32_t sec, uint32_t usec = 0) { deliver(MOD_GSNR, MSG_TRIGGER, sec, usec, TRIGGER_GSENSOR); }
  void recPress(uint32_t sec, uint32_t usec = 0) { deliver(MOD_REC_BUTTON, MSG_TRIGGER, sec, usec, TRIGGER_BUTTON); }
  void powerSwitch() { deliver(KVOX_POWER_SWITCH, MSG_TRIGGER, 0, 0, TRIGGER_BUTTON); }

  testing_board::TestBoard board;
  SupervisorState state;
};

TEST_F(SupervisorTest, EventModeForwardsOneTriggerPerClockSecondWithTheEventsOwnTime) {
  board.advance(0.2);
  gTrigger(1111, 222);
  board.advance(0.5);  // same clock second
  gTrigger(3333, 444);
  recPress(3333, 555);
  auto sent = drain(PIPE_RECORD);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].word[MSG_W_SENDER], MOD_CORE);
  EXPECT_EQ(sent[0].word[MSG_W_ID], MSG_TRIGGER);
  EXPECT_EQ(sent[0].word[MSG_W_P0], 1111u) << "the recording gets the event's own time";
  EXPECT_EQ(sent[0].word[MSG_W_P1], 222u);
  EXPECT_EQ(sent[0].word[MSG_W_P2], TRIGGER_GSENSOR);

  board.advance(1.0);  // next clock second
  recPress(5555, 1);
  sent = drain(PIPE_RECORD);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].word[MSG_W_P2], TRIGGER_BUTTON);
}

TEST_F(SupervisorTest, TriggerDuringAWriteIsHeldBackInEventModeAndPassedAtOnceInContinuous) {
  gWritingSD = 1;
  recPress(100);
  EXPECT_TRUE(drain(PIPE_RECORD).empty());
  EXPECT_EQ(gSuccessiveTrg.load(), 1);
  EXPECT_EQ(gSuccessiveTrgType.load(), static_cast<int32_t>(TRIGGER_BUTTON));

  board.advance(0.3);
  gTrigger(101);  // same second as the held-back one: dropped, the held type stays
  EXPECT_EQ(gSuccessiveTrgType.load(), static_cast<int32_t>(TRIGGER_BUTTON));

  // The G-sensor thread re-sends it once the write ended; in event mode it goes through.
  deliver(MOD_GSNR, MSG_SUCCESSIVE_TRIGGER, 100, 7, TRIGGER_BUTTON);
  auto sent = drain(PIPE_RECORD);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].word[MSG_W_P2], TRIGGER_BUTTON);
  EXPECT_EQ(sent[0].word[MSG_W_P1], 7u);

  gConfig.RECINGMODE1 = RECINGMODE_CONTINUOUS;
  gSuccessiveTrg = 0;
  recPress(200);
  board.advance(0.1);
  recPress(200);  // continuous mode has no one-per-second rule and no hold-back
  sent = drain(PIPE_RECORD);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].word[MSG_W_P2], TRIGGER_BUTTON);
  EXPECT_EQ(gSuccessiveTrg.load(), 0);
  deliver(MOD_GSNR, MSG_SUCCESSIVE_TRIGGER, 1, 2, TRIGGER_GSENSOR);
  EXPECT_TRUE(drain(PIPE_RECORD).empty()) << "successive triggers only exist in event mode";
}

TEST_F(SupervisorTest, TrgsetMasksEachSourceInEventModeOnly) {
  gConfig.TRGSET = 1;  // G-sensor only
  recPress(10);
  EXPECT_TRUE(drain(PIPE_RECORD).empty());
  gTrigger(10);
  EXPECT_EQ(drain(PIPE_RECORD).size(), 1u);

  board.advance(1);
  gConfig.TRGSET = 2;  // REC button only
  gTrigger(11);
  EXPECT_TRUE(drain(PIPE_RECORD).empty());
  deliver(MOD_RD_COM, MSG_TRIGGER, 12, 0, TRIGGER_SERIAL);
  EXPECT_TRUE(drain(PIPE_RECORD).empty()) << "serial triggers need bit 2";

  gConfig.TRGSET = 4;
  deliver(MOD_RD_COM, MSG_TRIGGER, 12, 5, 0);
  auto sent = drain(PIPE_RECORD);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].word[MSG_W_P2], TRIGGER_SERIAL);

  gConfig.TRGSET = 0;
  gConfig.RECINGMODE1 = RECINGMODE_CONTINUOUS;
  gTrigger(13);
  EXPECT_EQ(drain(PIPE_RECORD).size(), 1u) << "continuous mode does not consult TRGSET";
}

TEST_F(SupervisorTest, RecPressOnAFailedCardShowsClearSdFailureInsteadOfTriggering) {
  auto tima = FakeDevice::create("/dev/tima0", sizeof(TIMA_BLINK_REQ));
  ASSERT_EQ(BuzzerLedOpen(), 0);
  gSDFailed = 1;
  recPress(10);
  EXPECT_TRUE(drain(PIPE_RECORD).empty());
  EXPECT_EQ(gSuccessiveTrg.load(), 0);
  auto reqs = tima->requests();
  ASSERT_EQ(reqs.size(), 3u);
  EXPECT_EQ(argAs<TIMA_BLINK_REQ>(reqs[0]).channel, 0u);
  EXPECT_EQ(argAs<TIMA_BLINK_REQ>(reqs[1]).onMs, 2000u);
  EXPECT_EQ(BzLedStatus.load(), BZLED_CLEAR_SDFAILURE);
  BuzzerLedClose();
}

TEST_F(SupervisorTest, PowerSwitchStopsAtOnceWithin105SecondsEvenWhileWriting) {
  testing_board::ConsoleCapture console;
  gWritingSD = 1;
  board.advance(60);
  powerSwitch();
  EXPECT_FALSE(state.running);
  EXPECT_EQ(gPowerLossStatus.load(), 0);
  EXPECT_NE(console.text().find("@@ Shutdown absolutely : charging time = 60sec"), std::string::npos);
}

TEST_F(SupervisorTest, PowerSwitchWhileWritingAfterChargingLetsTheWriteFinishForAtMostTenSeconds) {
  testing_board::ConsoleCapture console;
  gWritingSD = 1;
  board.advance(200);
  powerSwitch();
  EXPECT_TRUE(state.running);
  EXPECT_EQ(gPowerLossStatus.load(), 1);
  for (int i = 0; i < 36; ++i) {  // one event every 250 ms for 9 seconds
    board.advance(0.25);
    powerSwitch();
    ASSERT_TRUE(state.running) << "after " << (i + 1) * 0.25 << " s";
  }
  board.advance(1.0);
  powerSwitch();
  EXPECT_FALSE(state.running);
  EXPECT_NE(console.text().find("@@@ Frame Skip Recoding Timeout"), std::string::npos);
}

TEST_F(SupervisorTest, WriteEndStopsOnlyDuringPowerLoss) {
  board.advance(200);
  deliver(MOD_RECORD, MSG_WRITE_END);
  EXPECT_TRUE(state.running);

  gWritingSD = 1;
  powerSwitch();
  ASSERT_TRUE(state.running);
  deliver(MOD_RECORD, MSG_WRITE_END);
  EXPECT_FALSE(state.running);
}

TEST_F(SupervisorTest, PowerSwitchWithoutAWriteStops) {
  board.advance(300);
  powerSwitch();
  EXPECT_FALSE(state.running);
}

TEST_F(SupervisorTest, SigintBecomesOneTerminateRecordAfterWhatWasQueued) {
  struct sigaction action = {};
  action.sa_handler = sig_handle;
  sigaction(SIGINT, &action, nullptr);

  MsgRecord before = MsgMake(PIPE_CORE, MOD_OVERWRITE, MSG_SD_FULL);
  ASSERT_EQ(MsgSend(&before, MSG_LENGTH), 0);
  sem_post(&g_thread_to_main);
  raise(SIGINT);  // runs the handler on this thread, as on the supervisor

  SupervisorWaitOne(state);
  EXPECT_TRUE(state.running) << "the record queued before the signal comes first";
  EXPECT_EQ(drain(PIPE_RECORD).size(), 1u);
  SupervisorWaitOne(state);
  EXPECT_FALSE(state.running);
  MsgRecord* r = nullptr;
  EXPECT_EQ(MsgRecv(&r, PIPE_CORE), -1) << "exactly one record for one signal";
  signal(SIGINT, SIG_DFL);
}

TEST_F(SupervisorTest, CardAndPowerEventsAreForwardedToTheirThreads) {
  deliver(KVOX_RESET_SWITCH, 99);  // any id of the reset button
  deliver(MOD_OVERWRITE, MSG_SD_FULL);
  deliver(MOD_OVERWRITE, MSG_OVERWRITE_MODE);
  deliver(MOD_RD_COM, MSG_REQUEST_RECORD_STATUS);
  auto record = drain(PIPE_RECORD);
  ASSERT_EQ(record.size(), 4u);
  EXPECT_EQ(record[0].word[MSG_W_ID], MSG_RESET_BUTTON_ON);
  EXPECT_EQ(record[1].word[MSG_W_ID], MSG_SD_FULL);
  EXPECT_EQ(record[2].word[MSG_W_ID], MSG_OVERWRITE_MODE);
  EXPECT_EQ(record[3].word[MSG_W_ID], MSG_REQUEST_RECORD_STATUS);
  for (const MsgRecord& m : record) EXPECT_EQ(m.word[MSG_W_SENDER], MOD_CORE);

  deliver(KVOX_POWER_SWITCH, MSG_POWER_SHORT_CUT);
  auto gps = drain(PIPE_GPS);
  ASSERT_EQ(gps.size(), 1u);
  EXPECT_EQ(gps[0].word[MSG_W_ID], MSG_POWER_SHORT_CUT);

  deliver(77, MSG_TRIGGER, 1, 2, 2);  // not a sender of the table
  deliver(MOD_GSNR, MSG_SD_FULL);     // not an id of that sender
  EXPECT_TRUE(drain(PIPE_RECORD).empty());
  EXPECT_TRUE(state.running);
}

TEST_F(SupervisorTest, CapacitorChargedReachesRecordingAndLogAndWritesTheVersionFile) {
  board.writeFile("/version", "VERSION=KVOX_1.0.2.RC3\n");
  board.mkdirs("/mnt/log/config");
  deliver(MOD_OVERWRITE, MSG_SUPER_CAP_CHARGED);
  EXPECT_EQ(drain(PIPE_RECORD).at(0).word[MSG_W_ID], MSG_SUPER_CAP_CHARGED);
  EXPECT_EQ(drain(PIPE_LOG).at(0).word[MSG_W_ID], MSG_SUPER_CAP_CHARGED);
  EXPECT_EQ(board.readFile("/mnt/log/config/version.ini"), "[INFO]\nVERSION=KVOX_1.0.2.RC3\n");
}

TEST_F(SupervisorTest, RecordingAnswersReachTheSerialThreadWithACopyOfTheStatus) {
  unsigned char status[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  void* block = malloc(sizeof status);
  memcpy(block, status, sizeof status);
  deliver(MOD_RECORD, MSG_RETURN, 0, 0, 0, block, MSG_REQUEST_RECORD_STATUS);
  auto back = drain(PIPE_RD_COM);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].word[MSG_W_ID], MSG_RETURN);
  EXPECT_EQ(back[0].word[MSG_W_ARG], MSG_REQUEST_RECORD_STATUS);
  ASSERT_NE(back[0].block, nullptr);
  EXPECT_EQ(memcmp(back[0].block, status, sizeof status), 0);
  free(back[0].block);

  deliver(MOD_RECORD, MSG_RETURN, 0, 0, 0, nullptr, MSG_NEW_RECORD_CONFIG);
  back = drain(PIPE_RD_COM);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].word[MSG_W_ARG], MSG_SET_NEW_CONFIG);
  EXPECT_EQ(back[0].word[MSG_W_P0], 0u);
}

TEST_F(SupervisorTest, NewSettingsAreReadAgainAndAnnounced) {
  board.writeFile("/mnt/log/config/set.ini", "[SET]\nRECMOD=1\nACCSEN=4\n");
  deliver(MOD_RD_COM, MSG_SET_NEW_CONFIG, 1);
  EXPECT_EQ(gConfig.RECMOD, 1);
  EXPECT_EQ(gConfig.ACCSEN, 4);
  EXPECT_EQ(drain(PIPE_RECORD).at(0).word[MSG_W_ID], MSG_NEW_GSNR_CONFIG);
  auto back = drain(PIPE_RD_COM);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].word[MSG_W_ARG], MSG_SET_NEW_CONFIG);
  EXPECT_EQ(back[0].word[MSG_W_P0], 1u);

  deliver(MOD_RD_COM, MSG_SET_NEW_CONFIG, 0);
  EXPECT_EQ(drain(PIPE_RECORD).at(0).word[MSG_W_ID], MSG_NEW_RECORD_CONFIG);
  EXPECT_TRUE(drain(PIPE_RD_COM).empty());
}

TEST_F(SupervisorTest, GpsTimeIsWrittenToTheClockWithRetries) {
  auto rtc = FakeDevice::create("/dev/rtc", sizeof(RTC_TIME));
  int calls = 0;
  rtc->answer([&](unsigned long, uintptr_t) -> long { return ++calls < 3 ? -EIO : 0; });
  deliver(MOD_GPS, MSG_SET_GPS_TIME, static_cast<uint32_t>(kStartSecond + 3600));
  ASSERT_EQ(calls, 3) << "retried until one write succeeds";
  RTC_TIME written = argAs<RTC_TIME>(rtc->requests().back());
  EXPECT_EQ(written.tm_year, 126);  // 2026, in the board's zone (UTC in tests)
  EXPECT_EQ(written.tm_hour, 1);

  calls = -100;  // never succeeds: ten attempts and no more
  rtc->clear();
  deliver(MOD_GPS, MSG_SET_GPS_TIME, 1);
  EXPECT_EQ(rtc->requests().size(), 10u);
}

}  // namespace
