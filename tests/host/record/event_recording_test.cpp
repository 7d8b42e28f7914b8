// Event recording end to end in-process: the recording worker, the camera model and the card.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "core/globals.h"
#include "core/msg_pipe.h"
#include "device/buzzer_led.h"
#include "record_harness.h"

namespace record_test {
namespace {

// Checks every record of a pair: a whole JPEG picture that starts with the 65-byte comment.
void expectFramesAreJpegPictures(const Pair& p) {
  for (size_t i = 0; i < p.entries.size(); ++i) {
    const uint8_t* r = p.record(i);
    const uint8_t head[6] = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x3D};
    ASSERT_EQ(memcmp(r, head, 6), 0) << "frame " << i;
    ASSERT_EQ(r[65], 0xFF) << "the encoder's segments follow the comment, frame " << i;
    int w = 0, h = 0;
    ASSERT_TRUE(decodesAsJpeg(r, p.entries[i].length.get(), &w, &h)) << "frame " << i;
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
  }
}

void expectContiguous(const Pair& p) {
  uint32_t offset = 0;
  for (const auto& e : p.entries) {
    ASSERT_EQ(e.offset.get(), offset);
    offset += e.length.get();
  }
  EXPECT_EQ(p.vdd.size(), offset);
  ASSERT_TRUE(p.hasHeader);
  EXPECT_EQ(p.header.dwFrameTotal.get(), p.entries.size());
}

std::string expectedName(int sequence, time_t first) {
  struct tm tm;
  localtime_r(&first, &tm);
  char name[64];
  snprintf(name, sizeof name, VR_BASE_NAME_FORMAT, sequence, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
           tm.tm_min, tm.tm_sec);
  return name;
}

TEST(EventRecording, TriggerWritesTheWindowAroundItOnce) {
  RecordHarness h(RECINGMODE_EVENT);
  h.start();
  h.run(2);
  h.capacitorCharged();
  h.run(20);
  h.runToFraction(0.55);
  auto [t, us] = h.trigger(TRIGGER_BUTTON);
  h.run(3);
  EXPECT_EQ(gWritingSD.load(), 1);
  EXPECT_EQ(h.lastPattern(), BZLED_POST);
  // A second press during the write changes nothing.
  h.trigger(TRIGGER_BUTTON);
  h.run(6);
  EXPECT_EQ(gWritingSD.load(), 0);
  EXPECT_EQ(h.lastPattern(), BZLED_PRE);
  EXPECT_EQ(h.count(MSG_WRITE_END), 1);
  EXPECT_EQ(h.beeps(), 1);
  EXPECT_NE(h.console().find("Ignore MSG_TRIGGER.... SD Writing"), std::string::npos);

  auto pairs = h.pairs("event");
  ASSERT_EQ(pairs.size(), 1u);
  const Pair& p = pairs[0];
  ASSERT_EQ(p.entries.size(), 21u * 10) << "seconds T-15 to T+5 at 10 frames a second";
  EXPECT_EQ(p.name, expectedName(1, static_cast<time_t>(t) - 15));
  EXPECT_EQ(p.header.triggerType, TRIGGER_BUTTON);
  expectContiguous(p);
  for (size_t i = 0; i < p.entries.size(); ++i) {
    const auto& e = p.entries[i];
    time_t second = p.second(i);
    EXPECT_EQ(second, static_cast<time_t>(t) - 15 + static_cast<time_t>(i / 10)) << i;
    bool beforeTrigger = second < static_cast<time_t>(t) || (second == static_cast<time_t>(t) && e.millisecond.get() < us / 1000);
    EXPECT_EQ(e.kind, beforeTrigger ? 2 : 3) << "frame " << i;
    EXPECT_EQ(e.triggerType.get(), TRIGGER_BUTTON);
    const auto* c = reinterpret_cast<const vr::FrameComment*>(p.record(i));
    EXPECT_EQ(c->kind, e.kind);
    EXPECT_EQ(c->frameNumber, i % 10);
    EXPECT_EQ(c->interval.get(), 10);
    EXPECT_EQ(c->triggerType, TRIGGER_BUTTON);
  }
  expectFramesAreJpegPictures(p);
}

TEST(EventRecording, TriggerBeforeTheCapacitorIsChargedIsHeldAndWrittenAfterIt) {
  RecordHarness h(RECINGMODE_EVENT);
  h.start();
  h.run(18);
  auto [t, us] = h.trigger(TRIGGER_GSENSOR);
  (void)us;
  h.run(1);
  EXPECT_EQ(gWritingSD.load(), 1) << "a held trigger counts as writing";
  EXPECT_TRUE(h.pairs("event").empty());
  h.trigger(TRIGGER_GSENSOR);
  h.run(1);
  EXPECT_NE(h.console().find("Ignore Trigger.. trgKeeping in 1 minute"), std::string::npos);
  h.run(8);
  h.capacitorCharged();
  h.run(8);
  auto pairs = h.pairs("event");
  ASSERT_EQ(pairs.size(), 1u);
  ASSERT_FALSE(pairs[0].entries.empty());
  EXPECT_EQ(pairs[0].second(0), static_cast<time_t>(t) - 15);
  EXPECT_EQ(pairs[0].entries.size(), 21u * 10);
  EXPECT_EQ(pairs[0].header.triggerType, TRIGGER_GSENSOR);
  EXPECT_EQ(h.count(MSG_WRITE_END), 1);
}

TEST(EventRecording, TriggerBeforeAnyFrameIsOutOfBound) {
  RecordHarness h(RECINGMODE_EVENT);
  h.start();
  h.trigger();  // the camera has given nothing yet
  h.run(2);
  h.capacitorCharged();
  h.run(10);
  EXPECT_NE(h.console().find("@@ time is out of bound 0"), std::string::npos);
  EXPECT_TRUE(h.pairs("event").empty());
  EXPECT_EQ(gWritingSD.load(), 0);
}

TEST(EventRecording, PowerLossThinsTheRestOfTheEventToEverySixthFrame) {
  RecordHarness h(RECINGMODE_EVENT);
  h.config().POSTRECTIME1 = 10;
  h.start();
  h.run(2);
  h.capacitorCharged();
  h.run(20);
  auto [t, us] = h.trigger(TRIGGER_BUTTON);
  (void)us;
  h.run(1.5);
  gPowerLossStatus = 1;  // the supervisor saw the supply fail during the write
  h.run(10);
  EXPECT_EQ(h.count(MSG_WRITE_END), 1);
  auto pairs = h.pairs("event");
  ASSERT_EQ(pairs.size(), 1u);
  const Pair& p = pairs[0];
  expectContiguous(p);
  // Every frame up to the cut is there; after it only frame numbers 0 and 6; the window ends
  // five seconds after the trigger instead of ten.
  EXPECT_EQ(p.second(p.entries.size() - 1), static_cast<time_t>(t) + 5);
  size_t thinned = 0;
  for (size_t i = 0; i < p.entries.size(); ++i) {
    const auto* c = reinterpret_cast<const vr::FrameComment*>(p.record(i));
    if (p.second(i) >= static_cast<time_t>(t) + 2) {
      EXPECT_EQ(c->frameNumber % 6, 0) << "frame " << i;
      ++thinned;
    }
  }
  EXPECT_EQ(thinned, 4u * 2) << "seconds T+2 to T+5, frames 0 and 6";
  gPowerLossStatus = 0;
}

TEST(EventRecording, CardShortOfSpaceWithStopModeWritesNothing) {
  RecordHarness h(RECINGMODE_EVENT);
  h.config().RECMOD = 1;
  h.card().setCapacityK(300 * 1024);
  h.card().setReservedK(150 * 1024);  // 150 MiB free: under the 200 MiB quota
  h.start();
  h.run(2);
  EXPECT_NE(h.console().find("DISK is FULL by Capacity"), std::string::npos);
  EXPECT_EQ(h.lastPattern(), BZLED_FULL);
  h.capacitorCharged();
  h.run(18);
  h.trigger();
  h.run(8);
  EXPECT_NE(h.console().find("Ignore MSG_TRIGGER.... SD Full"), std::string::npos);
  EXPECT_TRUE(h.pairs("event").empty());
  EXPECT_EQ(h.count(MSG_WRITE_END), 0);
}

TEST(EventRecording, StopModeReportsTheCardFullAtEveryCheck) {
  RecordHarness h(RECINGMODE_EVENT);
  h.config().RECMOD = 1;
  h.card().setCapacityK(300 * 1024);
  h.card().setReservedK(150 * 1024);
  h.start(true);
  h.run(46);
  std::vector<uint32_t> messages = h.supervisorMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], MSG_SD_FULL);
  EXPECT_EQ(messages[1], MSG_SUPER_CAP_CHARGED);
  h.run(121);
  EXPECT_EQ(h.count(MSG_SD_FULL), 3) << "repeated every 60 passes while the card stays full";
  EXPECT_EQ(h.count(MSG_OVERWRITE_MODE), 0);
}

TEST(EventRecording, OverwriteModeRemovesOldestPairsAndRecordingGoesOn) {
  RecordHarness h(RECINGMODE_EVENT);
  h.card().setCapacityK(300 * 1024);
  // Old recordings: 4 x 25 MiB, leaving 200 MiB free minus a little: short of space.
  for (int i = 1; i <= 4; ++i) {
    char name[64];
    snprintf(name, sizeof name, "%010d,2025.12.31,10.%02d.00", i, i);
    std::ofstream(h.card().channelDir("event") + "/" + name + ".vdd") << std::string(25 * 1024 * 1024, 'x');
    std::ofstream(h.card().channelDir("event") + "/" + name + ".vdx") << std::string(66, 'x');
  }
  h.start(true);
  h.run(46);  // the first check and the capacitor announcement at the 45th pass
  std::vector<uint32_t> messages = h.supervisorMessages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[0], MSG_OVERWRITE_MODE);
  EXPECT_EQ(messages[1], MSG_SUPER_CAP_CHARGED);
  auto left = h.pairs("event");
  ASSERT_EQ(left.size(), 3u);
  EXPECT_EQ(left[0].name.substr(0, 10), "0000000002");

  // The supervisor forwards both; recording then runs with the overwrite patterns.
  MsgRecord mode = MsgMake(PIPE_RECORD, MOD_CORE, MSG_OVERWRITE_MODE);
  MsgSend(&mode, MSG_LENGTH);
  h.capacitorCharged();
  h.run(20);
  EXPECT_EQ(h.lastPattern(), BZLED_PRE) << "the idle pattern is shown again only after an event";
  h.trigger();
  h.run(2);
  EXPECT_EQ(h.lastPattern(), BZLED_POSTOV);
  h.run(7);
  EXPECT_EQ(h.lastPattern(), BZLED_PREOV);
  auto pairs = h.pairs("event");
  ASSERT_EQ(pairs.size(), 4u);
  EXPECT_EQ(pairs.back().name.substr(0, 10), "0000000005") << "numbering goes on from the newest";
  EXPECT_EQ(pairs.back().entries.size(), 210u);
  EXPECT_EQ(h.count(MSG_OVERWRITE_MODE), 1);
}

}  // namespace
}  // namespace record_test
