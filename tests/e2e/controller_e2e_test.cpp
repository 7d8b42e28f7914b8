// The external controller end to end: vdrctl on the pseudo-terminal of port 1 while the program
// runs with --controller, and the scenario's controller model. The card's settings, the stored
// update, the record status during a write, and the event pair a trigger leaves are read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "board/host_tools.h"
#include "prepared_card.h"
#include "board/card/card_store.h"
#include "support/host_files.h"

namespace {

using testing_board::SimProcess;
using testing_board::SimRun;

struct Vdrctl {
  int status;
  std::string output;
  bool has(const std::string& text) const { return output.find(text) != std::string::npos; }
};

// The seconds of an event pair before and after its trigger (the instant lies between the last
// frame of kind 2 and the first of kind 3).
std::pair<int64_t, int64_t> spanAroundTrigger(const vdr::Recording& r) {
  auto first3 = std::find_if(r.frames.begin(), r.frames.end(), [](const vdr::Frame& f) { return f.entry.kind == 3; });
  if (first3 == r.frames.begin() || first3 == r.frames.end()) return {-1, -1};
  int64_t trigger = vdr::entrySeconds(first3->entry) - (first3->entry.millisecond.get() > 0 ? 0 : 1);
  return {trigger - vdr::entrySeconds(r.frames.front().entry), vdr::entrySeconds(r.frames.back().entry) - trigger};
}

class ControllerE2E : public PreparedCardE2E {
 protected:
  Vdrctl vdrctl(std::vector<std::string> args) {
    args.insert(args.begin(), {VDRCTL_PATH, "-t", "30", port});
    Vdrctl r;
    r.status = sim::runTool(args, &r.output);
    return r;
  }
  // Asks for the record status until it holds the text (a few tries, each a round trip).
  Vdrctl statusUntil(const std::string& text) {
    Vdrctl r;
    for (int i = 0; i < 40; ++i) {
      r = vdrctl({"get", "status"});
      if (r.status != 0 || r.has(text)) break;
    }
    return r;
  }
  std::string port;
};

TEST_F(ControllerE2E, VdrctlReadsAndChangesSettingsAsksForTheStatusAndTriggersARecording) {
  SimProcess sim(RECORDER_SIM_PATH, dir,
                 {"--speed", "5", "--start", "2026-06-01 08:00:00", "--controller", "--serial", "1=pty"},
                 // No G-sensor triggers (TRGSET bit 0 clear): the only recording is the controller's.
                 "0 settings PRERECTIME1=20 POSTRECTIME1=10 TRGSET=2 ACCSENX=2 ACCSENY=3 ACCSENZ=5 RECMOD=1\n");
  ASSERT_TRUE(sim.started());
  ASSERT_TRUE(sim.waitForConsole("SerialOpen(/dev/ttyS1")) << "the command thread opens its port";
  std::ifstream(dir + "/ttyS1.pty") >> port;
  ASSERT_FALSE(port.empty());

  // The values of the card's settings file, and the board's firmware version.
  Vdrctl got = vdrctl({"get", "recording", "gsensor", "version"});
  ASSERT_EQ(got.status, 0) << got.output;
  for (const char* line : {"RECINGMODE1=2\n", "PRERECTIME1=20\n", "POSTRECTIME1=10\n", "PRESIZE1=64\n", "ACCSEN=9\n",
                           "ACCSENX=2\n", "ACCSENY=3\n", "ACCSENZ=5\n", "TRGSET=2\n", "RECMOD=1\n"}) {
    EXPECT_TRUE(got.has(line)) << line << got.output;
  }
  int major = -1, minor = -1, sub = -1, rc = -1;
  std::string version = testing_board::hostFileText(dir + "/rootfs/version");
  ASSERT_EQ(sscanf(version.c_str(), "VERSION=KVOX_%d.%d.%d.RC%d", &major, &minor, &sub, &rc), 4) << version;
  EXPECT_TRUE(got.has("version=" + std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(sub) +
                      ".RC" + std::to_string(rc) + "\n"))
      << version << got.output;

  // TRGSET bit 2 clear: the request is taken (ACK) but the supervisor records nothing.
  Vdrctl trigger = vdrctl({"trigger"});
  EXPECT_EQ(trigger.status, 0) << trigger.output;

  // A new time before the trigger: stored in the settings file, re-read, in force.
  Vdrctl set = vdrctl({"set", "PRERECTIME1=10"});
  EXPECT_EQ(set.status, 0) << set.output;
  EXPECT_TRUE(set.has("PRERECTIME1=10\nPOSTRECTIME1=10\n")) << set.output;
  Vdrctl enable = vdrctl({"set", "TRGSET=6"});
  EXPECT_EQ(enable.status, 0) << enable.output;
  EXPECT_TRUE(enable.has("TRGSET=6\n")) << enable.output;

  ASSERT_TRUE(sim.waitForConsole("@@@ MSG_SUPER_CAP_CHARGED"));
  Vdrctl idle = statusUntil("charged=yes");
  ASSERT_EQ(idle.status, 0) << idle.output;
  EXPECT_TRUE(idle.has("mode=event\nwriting=no\nevent=no\ncard=ok\n")) << idle.output;
  EXPECT_TRUE(idle.has("latest_recording=0\nlast_trigger=none\n")) << "the first trigger was not recorded\n"
                                                                    << idle.output;

  trigger = vdrctl({"trigger"});
  ASSERT_EQ(trigger.status, 0) << trigger.output;
  EXPECT_TRUE(trigger.has("ACK")) << trigger.output;
  Vdrctl writing = statusUntil("writing=yes");
  EXPECT_TRUE(writing.has("writing=yes\nevent=yes\n")) << writing.output;
  EXPECT_TRUE(writing.has("last_trigger=2026-06-01T08:")) << writing.output;
  Vdrctl done = statusUntil("writing=no");
  EXPECT_TRUE(done.has("writing=no\nevent=no\n")) << done.output;
  EXPECT_TRUE(done.has("latest_recording=1\n")) << done.output;

  SimRun run = sim.stop();
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.console().find("New record settings : pre 10, post 10"), std::string::npos);
  std::string setDat;
  sim::CardState card;
  ASSERT_TRUE(sim::loadCardState(dir, &card));
  EXPECT_TRUE(sim::openCardStore(dir, card)->readFile("config/set.dat", &setDat));
  EXPECT_NE(setDat.find("PRERECTIME1=10\n"), std::string::npos) << setDat;
  EXPECT_NE(setDat.find("TRGSET=6\n"), std::string::npos) << setDat;

  auto pairs = recordings("event");
  ASSERT_EQ(pairs.size(), 1u) << "one recording: the trigger while TRGSET bit 2 was clear left none";
  EXPECT_EQ(pairs[0].triggerType(), 4) << "index header byte 7: the serial command";
  EXPECT_EQ(spanAroundTrigger(pairs[0]), std::make_pair(int64_t{10}, int64_t{10}));
}

// The recording a trigger leaves is the test above's; here the model's own exchanges.
TEST_F(ControllerE2E, ScenarioActionsOfTheControllerModelAndTheirAnswersInTheTimeline) {
  std::string scenario =
      "30 controller get version\n"
      "31 controller raw F0 01 A3 00 6C\n"  // a settings update of one byte: refused
      "32 controller set TRGSET=7\n"
      "33 controller trigger\n"
      "34 controller set RECMOD=3\n"         // out of range: refused
      "150 stop\n";
  SimRun run = testing_board::runSim(RECORDER_SIM_PATH, dir, {"--speed", "20", "--controller"}, scenario);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.events("controller-answer", "\"answer\":\"version\",\"version\":\"1.").size(), 1u);
  EXPECT_EQ(run.events("controller-result", "\"action\":\"get version\",\"result\":\"ok\"").size(), 1u);
  EXPECT_EQ(run.events("controller-request", "\"bytes\":\"F0 01 A3 00 6C\"").size(), 1u);
  EXPECT_EQ(run.events("controller-answer", "\"answer\":\"NACK\",\"bytes\":\"F0 00 0E 02\"").size(), 2u);
  EXPECT_EQ(run.events("controller-result", "\"action\":\"set TRGSET=7\",\"result\":\"ok\",\"detail\":\"ACCSEN=9").size(),
            1u);
  EXPECT_EQ(run.events("controller-answer", "\"TRGSET\":\"7\"").size(), 2u) << "the update's answer, and RECMOD's read";
  EXPECT_EQ(run.events("controller-result", "\"action\":\"trigger\",\"result\":\"ok\"").size(), 1u);
  EXPECT_EQ(run.events("controller-result", "\"action\":\"set RECMOD=3\",\"result\":\"refused\"").size(), 1u);
}

TEST_F(ControllerE2E, ControllerActionsAreCheckedWhenTheScenarioIsRead) {
  for (const char* bad : {"10 controller get speed\n", "10 controller set PRERECTIME=10\n",
                          "10 controller set TRGSET=300\n", "10 controller trigger now\n", "10 controller raw F0 0\n",
                          "10 controller\n"}) {
    SimRun run = testing_board::runSim(RECORDER_SIM_PATH, dir, {"--controller"}, bad);
    EXPECT_EQ(run.exitCode, 2) << bad << run.output;
    EXPECT_NE(run.output.find(".scenario: line 1: controller"), std::string::npos) << bad << run.output;
    EXPECT_EQ(run.output.find("boot 1"), std::string::npos) << "nothing runs";
  }
}

TEST_F(ControllerE2E, WithoutTheOptionNothingAnswersOnPort1) {
  SimRun run = testing_board::runSim(RECORDER_SIM_PATH, dir, {"--speed", "20"}, "20 controller ping\n60 stop\n");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.events("controller-result", "\"result\":\"no answer\"").size(), 1u);
  EXPECT_EQ(run.console().find("rd_com_thread()"), std::string::npos);
}

}  // namespace
