// The G-sensor end to end: recorder-sim drives the car, the scenario's shocks reach the
// accelerometer model, and the outcome is read back from the card image with vdrtool's reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "card_image.h"
#include "recording.h"
#include "support/sim_run.h"

namespace {

using testing_board::runSim;
using testing_board::SimRun;

constexpr uint8_t kGsensor = 1;
constexpr uint8_t kButton = 2;
// Settings as a new unit has them: event recording, 15 s before and 5 s after, 10 frames a second.
constexpr int kPre = 15, kPost = 5;

// Seconds of the day of a frame's capture time, with milliseconds.
double secondOfDay(const vr::FrameIndexEntry& e) {
  return e.hour.get() * 3600.0 + e.minute.get() * 60.0 + e.second.get() + e.millisecond.get() / 1000.0;
}

// The capture time of the first frame from the trigger on.
double triggerTime(const vdr::Recording& r) {
  for (const vdr::Frame& f : r.frames) {
    if (f.entry.kind == vr::kFrameAfter) return secondOfDay(f.entry);
  }
  return -1;
}

struct Peak {
  int value = -32768;
  double at = 0;
};

Peak peakOf(const vdr::Recording& r, int axis) {
  Peak p;
  for (const vdr::Frame& f : r.frames) {
    int v = axis == 0 ? f.entry.gx.get() : axis == 1 ? f.entry.gy.get() : f.entry.gz.get();
    if (v > p.value) p = {v, secondOfDay(f.entry)};
  }
  return p;
}

class GsensorEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { dir = testing_board::makeBoardDir(::testing::UnitTest::GetInstance()->current_test_info()->name()); }
  void TearDown() override {
    if (!HasFailure()) testing_board::removeBoardDir(dir);
  }

  // Runs the scenario from 08:00:00, so scenario second s is second 28800 + s of the day.
  // Triggers come at 55 s: after the capacitor is charged (45 s), with a margin for a loaded
  // machine, where the disk space worker that announces it may run late; the runs go on well
  // past the last event's window, for a recording thread that lags behind the camera. Speed 10:
  // a stall of the host is twice as long in simulated time at 20, and the G-sensor samples
  // every 30 ms of simulated time.
  SimRun run(const std::string& scenario) {
    SimRun r = runSim(RECORDER_SIM_PATH, dir, {"--speed", "10", "--start", "2026-06-01 08:00:00"}, scenario);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r;
  }

  // Runs until the program's console holds the text `count` times, then stops.
  SimRun runUntil(const std::string& scenario, const std::string& text, int count, const char* speed = "10") {
    SimRun r = testing_board::runSimUntil(RECORDER_SIM_PATH, dir, {"--speed", speed, "--start", "2026-06-01 08:00:00"},
                                          scenario, text, count);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r;
  }

  // The shock runs go at half that speed: a 300 ms shock (one detection; a longer one fires again
  // as it fades) then lasts 60 ms of the PC's time, long enough for the sampling thread of a
  // loaded PC to see it. A shock during a pair's write competes with the write for the PC.
  static constexpr const char* kShockSpeed = "5";

  std::vector<vdr::Recording> recordings() {
    std::string error;
    EXPECT_TRUE(card.extract(dir + "/card.img", &error)) << error;
    std::vector<vdr::Recording> out;
    for (const std::string& base : vdr::findRecordings(card.dir())) out.push_back(vdr::readRecording(base, true));
    return out;
  }

  static double at(double scenarioSecond) { return 8 * 3600 + scenarioSecond; }

  // The board's time of day runs up to a second behind the scenario's (it is set from the clock
  // chip, which counts whole seconds), and a sped-up run adds some lag of its own.
  static void expectAround(double time, double scenarioSecond) {
    EXPECT_GE(time, at(scenarioSecond) - 1.5);
    EXPECT_LE(time, at(scenarioSecond) + 1);
  }

  // The pair of a trigger that followed an earlier event's write: the camera's history before
  // it went into that event, so it starts where the earlier pair ended.
  static void expectFollows(const vdr::Recording& later, const vdr::Recording& earlier) {
    double end = secondOfDay(earlier.frames.back().entry);
    double begin = secondOfDay(later.frames.front().entry);
    EXPECT_GT(begin, end);
    EXPECT_LT(begin, end + 1);
    double trigger = triggerTime(later);
    EXPECT_GE(trigger, begin);
    // The write ends when the recording thread takes the first frame after the window, which
    // on a loaded machine may be some seconds after that frame was captured.
    EXPECT_LT(trigger, end + 10) << "sent again when the write ended";
    EXPECT_NEAR(secondOfDay(later.frames.back().entry), trigger + kPost, 1);
  }

  // A sound event pair of one trigger: the header's trigger type, the trigger type in every
  // frame's index entry, and the same G values in the index entry and the comment block of
  // every frame.
  static void expectEventPair(const vdr::Recording& r, uint8_t type) {
    EXPECT_TRUE(r.problems.empty()) << r.name << ": " << r.problems.front();
    EXPECT_EQ(r.channel, "event");
    EXPECT_EQ(r.triggerType(), type) << "index header byte 7";
    for (const vdr::Frame& f : r.frames) {
      ASSERT_TRUE(f.commentRead);
      EXPECT_EQ(f.entry.triggerType.get(), type);
      EXPECT_EQ(f.comment.triggerType, type);
      EXPECT_EQ(f.comment.gx.get(), f.entry.gx.get());
      EXPECT_EQ(f.comment.gy.get(), f.entry.gy.get());
      EXPECT_EQ(f.comment.gz.get(), f.entry.gz.get());
    }
  }

  std::string dir;
  vdr::CardImage card;
};

TEST_F(GsensorEndToEnd, AShockGivesOneGSensorEventWhoseFramesCarryTheDrive) {
  SimRun r = runUntil("55 shock 2500 0 0 300\n", "SD write End", 1, kShockSpeed);
  ASSERT_EQ(r.events("shock", "\"x\":2500").size(), 1u) << "the timeline shows the shock";
  std::vector<vdr::Recording> recs = recordings();
  ASSERT_EQ(recs.size(), 1u) << r.output;
  const vdr::Recording& rec = recs[0];
  expectEventPair(rec, kGsensor);
  EXPECT_EQ(rec.frames.size(), static_cast<size_t>((kPre + kPost + 1) * 10)) << "the whole window";
  EXPECT_NE(r.console().find("X : detectTriggerCount"), std::string::npos);

  double trigger = triggerTime(rec);
  expectAround(trigger, 55);

  // The frames carry the sensor's samples: gravity on Z, the road on every axis, and the
  // shock along the car around the trigger.
  int changed = 0;
  for (size_t i = 1; i < rec.frames.size(); ++i) {
    const vr::FrameIndexEntry& a = rec.frames[i - 1].entry;
    const vr::FrameIndexEntry& b = rec.frames[i].entry;
    changed += a.gx.get() != b.gx.get() || a.gy.get() != b.gy.get() || a.gz.get() != b.gz.get();
    EXPECT_NEAR(b.gz.get(), 1000, 400);
  }
  EXPECT_GT(changed, static_cast<int>(rec.frames.size()) * 3 / 4);
  Peak x = peakOf(rec, 0);
  EXPECT_GT(x.value, 1800) << "a 2500 milli-g shock, seen on the 10 frames a second";
  EXPECT_NEAR(x.at, trigger, 0.5);
}

TEST_F(GsensorEndToEnd, AShockDuringAWriteIsRecordedAsASuccessiveTriggerOnceTheWriteEnds) {
  SimRun r = runUntil("55 shock 2500 0 0 300\n58 shock 0 0 2500 300\n", "SD write End", 2, kShockSpeed);
  std::vector<vdr::Recording> recs = recordings();
  ASSERT_EQ(recs.size(), 2u) << r.output;
  expectEventPair(recs[0], kGsensor);
  expectEventPair(recs[1], kGsensor);

  expectAround(triggerTime(recs[0]), 55);
  // The second shock is in the first event's time after its trigger; its trigger was held back
  // until the first pair was closed.
  Peak z = peakOf(recs[0], 2);
  EXPECT_GT(z.value, 2800);
  expectAround(z.at, 58);
  expectFollows(recs[1], recs[0]);
  EXPECT_LT(peakOf(recs[1], 2).value, 2000) << "no shock of its own";
}

TEST_F(GsensorEndToEnd, ASecondRecPressDuringAWriteBecomesASecondRecordingAfterTheFirstCloses) {
  // Stopped once both pairs are closed, however late the recording thread gets there.
  SimRun r = runUntil("55 press rec\n58 press rec\n", "SD write End", 2);
  std::vector<vdr::Recording> recs = recordings();
  ASSERT_EQ(recs.size(), 2u) << r.output;
  expectEventPair(recs[0], kButton);
  expectEventPair(recs[1], kButton);
  expectAround(triggerTime(recs[0]), 55);
  expectFollows(recs[1], recs[0]);
}

TEST_F(GsensorEndToEnd, ShockAndSensorFailureActionsAreCheckedBeforeTheRun) {
  for (const char* bad : {"5 shock 2500 0\n", "5 shock 2500 0 0 0\n", "5 gsensor fail\n", "5 gsensor fail many\n"}) {
    SimRun r = runSim(RECORDER_SIM_PATH, dir, {"--speed", "20"}, bad);
    EXPECT_EQ(r.exitCode, 2) << bad;
    EXPECT_NE(r.output.find(".scenario: line 1: "), std::string::npos) << r.output;
    EXPECT_TRUE(r.events("boot").empty());
  }
}

TEST_F(GsensorEndToEnd, OrdinaryDrivingRecordsNothingByItself) {
  SimRun r = run("60 stop\n");
  EXPECT_EQ(r.console().find("detectTriggerCount"), std::string::npos) << r.console();
  EXPECT_TRUE(recordings().empty());
  EXPECT_TRUE(r.events("shock").empty());
}

}  // namespace
