// Continuous recording in-process: rollovers, event periods, power loss, card full.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "core/msg_pipe.h"

#include "core/globals.h"
#include "device/buzzer_led.h"
#include "record_harness.h"

namespace record_test {
namespace {

// Small pictures at a low rate keep long runs light.
void lightSettings(RecorderSettings& c, int rate = 5) {
  c.PRERECINT1 = rate;
  c.POSTRECINT1 = rate;
  c.PRESIZE1 = 10;
  c.POSTSIZE1 = 10;
  c.PREFIELD1 = 2;
  c.POSTFIELD1 = 2;
}

int64_t at(int hour, int minute, int second) { return testing_board::kStartSecond + hour * 3600 + minute * 60 + second; }

TEST(ContinuousRecording, PairsRollOverAtTenMinuteMarksAndATriggerMarksAPeriod) {
  RecordHarness h(RECINGMODE_CONTINUOUS);
  lightSettings(h.config());
  h.setClock(at(0, 9, 20));
  h.start();
  h.capacitorCharged();
  h.run(5 * 60);
  h.runToFraction(0.3);
  auto [t, us] = h.trigger(TRIGGER_GSENSOR);
  (void)us;
  h.run(2);
  EXPECT_EQ(h.lastPattern(), BZLED_POST);
  h.trigger(TRIGGER_GSENSOR);
  h.run(6);
  EXPECT_EQ(h.lastPattern(), BZLED_REC_CONTINUE);
  EXPECT_NE(h.console().find("Ignore Trigger... already event period in continuous recording!!"), std::string::npos);
  h.run(12 * 60 - 5 * 60 - 9);
  h.stop();  // the open pair is closed on the way out

  auto pairs = h.pairs("normal");
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0].name, "0000000001,2026.01.01,00.09.25") << "the first frame after the 5 s start-up wait";
  EXPECT_EQ(pairs[1].name, "0000000002,2026.01.01,00.10.00");
  EXPECT_EQ(pairs[2].name, "0000000003,2026.01.01,00.20.00");
  EXPECT_EQ(h.count(MSG_WRITE_END), 2);

  std::map<time_t, int> perSecond;
  int eventFrames = 0;
  for (const Pair& p : pairs) {
    ASSERT_TRUE(p.hasHeader);
    EXPECT_EQ(p.header.dwFrameTotal.get(), p.entries.size());
    EXPECT_EQ(p.header.triggerType, 0);
    for (size_t i = 0; i < p.entries.size(); ++i) {
      time_t s = p.second(i);
      ++perSecond[s];
      // Frames of the trigger's own second may have been written before the trigger came.
      bool inPeriod = s >= static_cast<time_t>(t) && s < static_cast<time_t>(t) + 5;
      uint8_t kind = p.entries[i].kind;
      if (s != static_cast<time_t>(t)) {
        EXPECT_EQ(kind, inPeriod ? 3 : 1) << p.name << " frame " << i;
      }
      EXPECT_EQ(p.entries[i].triggerType.get(), kind == 3 ? TRIGGER_GSENSOR : 0u);
      if (inPeriod && s != static_cast<time_t>(t)) ++eventFrames;
    }
    ASSERT_FALSE(p.entries.empty());
    EXPECT_TRUE(decodesAsJpeg(p.record(0), p.entries[0].length.get()));
    EXPECT_TRUE(decodesAsJpeg(p.record(p.entries.size() - 1), p.entries.back().length.get()));
  }
  EXPECT_EQ(eventFrames, 20);
  // Every second from the first frame on, five frames each: nothing lost at the rollovers.
  time_t first = perSecond.begin()->first, last = perSecond.rbegin()->first;
  EXPECT_EQ(static_cast<size_t>(last - first + 1), perSecond.size());
  for (auto [second, n] : perSecond) {
    if (second != last) {
      EXPECT_EQ(n, 5) << second;
    }
  }
}

TEST(ContinuousRecording, PowerLossDuringAPeriodKeepsEverySixthFrame) {
  RecordHarness h(RECINGMODE_CONTINUOUS);
  lightSettings(h.config(), 15);
  h.start();
  h.capacitorCharged();
  h.run(20);
  auto [t, us] = h.trigger(TRIGGER_BUTTON);
  (void)us;
  h.run(1.2);
  gPowerLossStatus = 1;
  h.run(7);
  int ends = h.count(MSG_WRITE_END);
  gPowerLossStatus = 0;
  h.stop();
  auto pairs = h.pairs("normal");
  ASSERT_EQ(pairs.size(), 1u);
  std::map<time_t, std::vector<int>> numbers;
  for (size_t i = 0; i < pairs[0].entries.size(); ++i) {
    const auto* c = reinterpret_cast<const vr::FrameComment*>(pairs[0].record(i));
    numbers[pairs[0].second(i)].push_back(c->frameNumber);
  }
  for (time_t s = static_cast<time_t>(t) + 2; s <= static_cast<time_t>(t) + 4; ++s) {
    EXPECT_EQ(numbers[s], (std::vector<int>{0, 6, 12})) << "second " << s - static_cast<time_t>(t);
  }
  // Once the period is over every frame is written, each followed by MSG_WRITE_END.
  EXPECT_EQ(numbers[static_cast<time_t>(t) + 6].size(), 15u);
  EXPECT_GE(ends, 15);
}

TEST(ContinuousRecording, TooManyFilesWithStopModeIsFullFromTheStart) {
  RecordHarness h(RECINGMODE_CONTINUOUS);
  lightSettings(h.config());
  h.config().RECMOD = 1;
  for (int i = 1; i <= 1000; ++i) {
    char name[64];
    snprintf(name, sizeof name, "%010d,2025.12.31,10.00.00", i);
    std::ofstream(h.card().channelDir("normal") + "/" + name + ".vdd");
    std::ofstream(h.card().channelDir("normal") + "/" + name + ".vdx");
  }
  h.start();
  h.capacitorCharged();
  h.run(10);
  EXPECT_NE(h.console().find("DISK is FULL by Count 2000"), std::string::npos);
  EXPECT_EQ(h.lastPattern(), BZLED_FULL);
  h.trigger();
  h.run(5);
  EXPECT_NE(h.console().find("Ignore MSG_TRIGGER.... SD Full"), std::string::npos);
  EXPECT_EQ(h.pairs("normal").size(), 1000u) << "nothing new written";
  EXPECT_EQ(gWritingSD.load(), 0);
}

TEST(ContinuousRecording, CardFullReportedDuringARecordingStopsItAtTheNextRollover) {
  RecordHarness h(RECINGMODE_CONTINUOUS);
  lightSettings(h.config());
  h.setClock(at(0, 8, 0));
  h.start();
  h.capacitorCharged();
  h.run(30);
  MsgRecord full = MsgMake(PIPE_RECORD, MOD_CORE, MSG_SD_FULL);
  MsgSend(&full, MSG_LENGTH);
  h.run(150);
  EXPECT_EQ(gWritingSD.load(), 0);
  EXPECT_EQ(h.lastPattern(), BZLED_FULL);
  auto pairs = h.pairs("normal");
  ASSERT_EQ(pairs.size(), 1u) << "the open recording finishes; no new one starts";
  EXPECT_EQ(pairs[0].second(pairs[0].entries.size() - 1), at(0, 9, 59));
  EXPECT_EQ(h.count(MSG_WRITE_END), 1);
}

// A trigger just after the capacitor message: the frames held in the driver since the start are
// still being written as it arrives. Those of the ten seconds before it stay continuous frames
// without a trigger type; the period's marking starts at the trigger's own second.
TEST(ContinuousRecording, HeldFramesBeforeATriggerStayContinuousWhileTheyDrain) {
  RecordHarness h(RECINGMODE_CONTINUOUS);
  lightSettings(h.config());
  h.start();
  h.run(25);  // nothing written yet: the frames wait in the driver
  ASSERT_TRUE(h.pairs("normal").empty());
  h.capacitorCharged();
  auto [t, us] = h.trigger(TRIGGER_GSENSOR);
  (void)us;
  h.run(12);
  h.stop();
  auto pairs = h.pairs("normal");
  ASSERT_EQ(pairs.size(), 1u);
  const Pair& p = pairs[0];
  ASSERT_FALSE(p.entries.empty());
  ASSERT_LE(p.second(0), static_cast<time_t>(t) - 10) << "the held frames reach back before the trigger";
  int before = 0, during = 0;
  for (size_t i = 0; i < p.entries.size(); ++i) {
    time_t s = p.second(i);
    uint8_t kind = p.entries[i].kind;
    uint32_t type = p.entries[i].triggerType.get();
    if (s < static_cast<time_t>(t)) {
      EXPECT_EQ(kind, 1) << "frame of T" << s - static_cast<time_t>(t);
      EXPECT_EQ(type, 0u) << "frame of T" << s - static_cast<time_t>(t);
      if (s >= static_cast<time_t>(t) - 10) ++before;
    } else if (s > static_cast<time_t>(t) && s < static_cast<time_t>(t) + 5) {
      EXPECT_EQ(kind, 3);
      EXPECT_EQ(type, static_cast<uint32_t>(TRIGGER_GSENSOR));
      ++during;
    } else if (s >= static_cast<time_t>(t) + 5) {
      EXPECT_EQ(kind, 1);
      EXPECT_EQ(type, 0u);
    }
  }
  EXPECT_EQ(before, 50) << "ten seconds of five frames";
  EXPECT_EQ(during, 20);
}

// Full reported while nothing is being written (the capacitor not yet charged): the flag that
// keeps a power loss waiting for the end of a write is cleared, as nothing will be written.
TEST(ContinuousRecording, CardFullWithNoPairOpenClearsTheWritingFlag) {
  RecordHarness h(RECINGMODE_CONTINUOUS);
  lightSettings(h.config());
  h.start();
  h.run(8);
  ASSERT_EQ(gWritingSD.load(), 1) << "continuous recording is writing from the start";
  MsgRecord full = MsgMake(PIPE_RECORD, MOD_CORE, MSG_SD_FULL);
  MsgSend(&full, MSG_LENGTH);
  h.run(2);
  EXPECT_EQ(h.lastPattern(), BZLED_FULL);
  EXPECT_EQ(gWritingSD.load(), 0);
  h.capacitorCharged();
  h.run(3);
  EXPECT_TRUE(h.pairs("normal").empty());
  EXPECT_EQ(gWritingSD.load(), 0);
  h.stop();
}

}  // namespace
}  // namespace record_test
