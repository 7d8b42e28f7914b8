// The recording worker on a card that fails: writes, flushes and closes that fail, a card that
// fills up in the middle of a frame, turns read-only or is pulled out during a write; and the
// camera's own failures (an encoder that stops, a trigger older than what the camera holds).
// Each time: the traces and error-log lines of the failure, the card-failure state and pattern,
// frames still released to the camera, nothing else on the card touched, and an orderly stop.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sys/time.h>

#include "core/globals.h"
#include "core/msg_send.h"
#include "device/buzzer_led.h"
#include "platform/platform.h"
#include "platform/sim/file_faults.h"
#include "record_harness.h"
#include "support/host_files.h"

namespace record_test {
namespace {

using sim::FileFaults;

constexpr const char* kOldPair = "0000000007,2025.12.31,10.00.00";

class CardFault : public ::testing::Test {
 protected:
  CardFault() : h(RECINGMODE_EVENT) {
    // An earlier recording on the card, which no failure may touch.
    for (const char* ext : {".vdd", ".vdx"}) {
      std::ofstream(h.card().channelDir("event") + "/" + kOldPair + ext, std::ios::binary) << std::string(5000, 'r');
    }
  }
  ~CardFault() override { h.card().faults().clear(); }

  // Starts recording and triggers an event; `arm` runs `armAfter` seconds into its write.
  void eventWithFault(double armAfter, const std::function<void(FileFaults&)>& arm) {
    h.start();
    h.run(2);
    h.capacitorCharged();
    h.run(20);
    h.trigger(TRIGGER_BUTTON);
    h.run(armAfter);
    arm(h.card().faults());
    h.run(12);
  }

  std::string errorLog() { return h.board().readFile("/mnt/log/error.log"); }

  // What every card failure leaves: failed state and pattern, the write flag down, frames still
  // released to the camera, later triggers refused, the older recording whole, an orderly stop.
  void expectCardFailedInOrder() {
    EXPECT_EQ(gSDFailed.load(), 1);
    EXPECT_EQ(gWritingSD.load(), 0);
    EXPECT_EQ(h.lastPattern(), BZLED_SDFAILURE);
    h.run(30);
    // Only the pre-trigger history (15 s at 10 frames a second) stays in the driver.
    EXPECT_LE(h.camera().framesInRing(), 17u * 10) << "the frames are released";
    h.trigger(TRIGGER_BUTTON);
    h.run(1);
    EXPECT_NE(h.console().find("Ignore MSG_TRIGGER.... SDFail"), std::string::npos);
    h.card().faults().clear();  // the store closes what it still has open
    h.stop();
    EXPECT_NE(h.console().find("~RecordThread()"), std::string::npos);
    for (const char* ext : {".vdd", ".vdx"}) {
      EXPECT_EQ(testing_board::hostFileText(h.card().channelDir("event") + "/" + kOldPair + ext), std::string(5000, 'r'))
          << ext;
    }
  }

  RecordHarness h;
};

TEST_F(CardFault, AWriteThatFailsAbandonsThePairAsWritten) {
  eventWithFault(1, [](FileFaults& f) { f.failAfter(FileFaults::Call::Write, 30, EIO); });
  EXPECT_NE(h.console().find("Could not write file (/mnt/log)."), std::string::npos);
  EXPECT_NE(errorLog().find("Failed to dskWrite"), std::string::npos) << errorLog();
  auto pairs = h.pairs("event");
  ASSERT_EQ(pairs.size(), 2u);
  const Pair& p = pairs[1];
  EXPECT_EQ(p.name.substr(0, 10), "0000000008");
  // No header: the index holds the entries of the frames written whole, as they were written.
  EXPECT_EQ(p.vdx.size() % 66, 0u) << "no index header on an abandoned pair";
  EXPECT_GT(p.vdx.size() / 66, 140u) << "the frames of the fifteen seconds before and the ten written after";
  EXPECT_EQ(h.console().find("Fail to write fd(0)"), std::string::npos) << "nothing written through descriptor 0";
  expectCardFailedInOrder();
}

TEST_F(CardFault, AFlushThatFailsAtTheEndOfThePair) {
  eventWithFault(1, [](FileFaults& f) { f.failAfter(FileFaults::Call::Fsync, 0, EIO); });
  EXPECT_NE(h.console().find("@@ Fail to fsync() VDD errno=[5,"), std::string::npos);
  EXPECT_NE(h.console().find("@@ Fail to fsync() VDX errno=[5,"), std::string::npos);
  EXPECT_NE(h.console().find("failed to dskWriteEnd()"), std::string::npos);
  EXPECT_NE(errorLog().find("Failed to dskWriteEnd"), std::string::npos) << errorLog();
  auto pairs = h.pairs("event");
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_TRUE(pairs[1].hasHeader) << "the header was written before the flush";
  EXPECT_EQ(pairs[1].entries.size(), 21u * 10);
  expectCardFailedInOrder();
}

TEST_F(CardFault, ACloseThatFailsAtTheEndOfThePair) {
  eventWithFault(1, [](FileFaults& f) { f.failAfter(FileFaults::Call::Close, 0, EIO); });
  EXPECT_NE(h.console().find("@@ Fail to close() VDD errno=[5,"), std::string::npos);
  EXPECT_NE(h.console().find("failed to dskWriteEnd()"), std::string::npos);
  EXPECT_NE(errorLog().find("Failed to dskWriteEnd"), std::string::npos) << errorLog();
  expectCardFailedInOrder();
}

TEST_F(CardFault, TheCardFillsUpInTheMiddleOfAFrame) {
  eventWithFault(1, [](FileFaults& f) { f.noSpaceAfter(100000); });
  EXPECT_NE(h.console().find("Could not write file (/mnt/log)."), std::string::npos);
  EXPECT_NE(errorLog().find("Failed to dskWrite"), std::string::npos) << errorLog();
  auto pairs = h.pairs("event");
  ASSERT_EQ(pairs.size(), 2u);
  const Pair& p = pairs[1];
  // The data file ends inside a frame record that no index entry points at.
  size_t whole = p.vdx.size() / 66;
  ASSERT_GT(whole, 0u);
  vr::FrameIndexEntry last;
  memcpy(&last, p.vdx.data() + (whole - 1) * 66, sizeof last);
  EXPECT_GE(p.vdd.size(), last.offset.get() + last.length.get());
  expectCardFailedInOrder();
}

TEST_F(CardFault, ACardThatTurnedReadOnlyBeforeTheTriggerStartsNoPair) {
  h.start();
  h.run(2);
  h.capacitorCharged();
  h.run(20);
  h.card().faults().setReadOnly(true);
  h.trigger(TRIGGER_BUTTON);
  h.run(3);
  EXPECT_NE(h.console().find("failed to dskWriteStart()"), std::string::npos);
  EXPECT_EQ(h.pairs("event").size(), 1u) << "no new file on a read-only card";
  expectCardFailedInOrder();
}

TEST_F(CardFault, ACardPulledOutDuringTheWrite) {
  eventWithFault(2, [](FileFaults& f) { f.setRemoved(true); });
  EXPECT_NE(h.console().find("Could not write file (/mnt/log)."), std::string::npos);
  EXPECT_NE(h.console().find("errno=[5,"), std::string::npos);
  expectCardFailedInOrder();
}

// A power cut tied to the recordings' writes: the travel log's writes in between are not counted,
// and the folder matches in any case (the program writes "ch1", the card lists "CH1").
TEST(CardCut, TiedToTheRecordingsItCountsOnlyTheirWrites) {
  FileFaults f;
  int cuts = 0;
  f.cutPowerAfterWrites(2, [&cuts] { ++cuts; }, "/ch1/");
  EXPECT_FALSE(f.countsTowardCut("/b/rootfs/mnt/log/log/0000000001,2026.06.01,08.00.46.log"));
  EXPECT_TRUE(f.countsTowardCut("/b/rootfs/mnt/log/CH1/event/0000000001,2026.06.01,08.00.39.vdd"));
  f.wrote(100, false);
  f.wrote(100, true);
  f.wrote(100, false);
  EXPECT_EQ(cuts, 0);
  f.wrote(100, true);
  EXPECT_EQ(cuts, 1) << "cut right after the second write of a recording";
  EXPECT_EQ(f.writes(), 4) << "every write is still counted as a card write";
  f.clear();
  EXPECT_TRUE(f.countsTowardCut("/b/rootfs/mnt/log/log/0000000001,2026.06.01,08.00.46.log"));
}

TEST(CameraFault, AnEncoderThatStopsForSixtySecondsFailsTheRecorder) {
  RecordHarness h(RECINGMODE_EVENT);
  h.start();
  h.run(2);
  h.capacitorCharged();
  h.run(10);
  h.camera().failEncoder(true);
  h.run(30);
  EXPECT_NE(h.console().find("There is no encoded frame in Encode Buffer.. sleep(1)"), std::string::npos);
  EXPECT_EQ(gSDFailed.load(), 0) << "not yet: 30 s";
  h.run(35);
  EXPECT_NE(h.console().find("@@@ Encoding failed during 60 sec"), std::string::npos);
  EXPECT_EQ(gSDFailed.load(), 1);
  EXPECT_EQ(h.lastPattern(), BZLED_SDFAILURE);
  EXPECT_NE(h.console().find("~RecordThread()"), std::string::npos) << "the recording loop ended by itself";
  h.stop();
  EXPECT_TRUE(h.pairs("event").empty());
}

TEST(CameraFault, ATriggerOlderThanTheLatestFrameByMoreThanItsWindowIsOutOfBound) {
  RecordHarness h(RECINGMODE_EVENT);
  h.start();
  h.run(2);
  h.capacitorCharged();
  h.run(30);
  struct timeval now;
  plat::gettimeofday(&now);
  // The frame under work is the oldest of the fifteen seconds kept in the driver; a trigger whose
  // five seconds after it (the default POSTRECTIME1) end before that frame is too old.
  SendMsgTriggerToRecord(static_cast<uint32_t>(now.tv_sec - 40), 0, TRIGGER_BUTTON);
  h.run(3);
  EXPECT_NE(h.console().find("@@ time is out of bound "), std::string::npos);
  EXPECT_TRUE(h.pairs("event").empty());
  EXPECT_EQ(gWritingSD.load(), 0);
  EXPECT_EQ(h.beeps(), 0);
  // A trigger within its window is still taken.
  h.trigger(TRIGGER_BUTTON);
  h.run(8);
  EXPECT_EQ(h.pairs("event").size(), 1u);
  h.stop();
}

}  // namespace
}  // namespace record_test
