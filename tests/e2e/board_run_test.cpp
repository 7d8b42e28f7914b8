// The whole program on the simulated board: boot, run, orderly stop, reboots and power cuts.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <regex>

#include "board/host_tools.h"
#include "support/sim_run.h"

namespace {

using testing_board::runSim;

class BoardRunTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = testing_board::makeBoardDir(::testing::UnitTest::GetInstance()->current_test_info()->name()); }
  void TearDown() override {
    if (!HasFailure()) testing_board::removeBoardDir(dir);
  }
  std::string dir;
};

TEST_F(BoardRunTest, BootsRunsAndStopsInOrderThroughSigint) {
  auto run = runSim(RECORDER_SIM_PATH, dir, {"--speed", "10", "--duration", "5", "--start", "2026-03-01 10:00:00"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::string console = run.console();
  EXPECT_EQ(console, run.output) << "the console is written to standard output and console.log alike";

  // Start-up traces carry their tag and a four-digit line number.
  EXPECT_TRUE(std::regex_search(console, std::regex("MAIN____[0-9]{4}: create_all_work_thread\\(\\)")));
  EXPECT_TRUE(std::regex_search(console, std::regex("MAIN____[0-9]{4}: ~create_all_work_thread\\(\\)")));
  // A new board comes with its modules loaded and a card formatted by the unit: start-up passes.
  EXPECT_EQ(console.find("failed to init()"), std::string::npos);
  EXPECT_EQ(console.find("refused unknown command"), std::string::npos);

  // The orderly stop: workers end, the card unmount is traced, the reboot ends the shutdown.
  size_t stop = console.find("stop (duration)");
  ASSERT_NE(stop, std::string::npos);
  for (const char* worker : {"End LOG Loop", "~OverwriteThread()", "~RecordThread()"}) {
    EXPECT_NE(console.find(worker, stop), std::string::npos) << worker;
  }
  size_t umount = console.find("@@@ SD Umount", stop);
  size_t reboot = console.find("Power is recoveried... REBOOT!!", stop);
  EXPECT_NE(umount, std::string::npos);
  ASSERT_NE(reboot, std::string::npos);
  EXPECT_LT(umount, reboot);
  EXPECT_NE(console.find("run ended in order"), std::string::npos);

  EXPECT_EQ(run.events("boot").size(), 1u) << "a reboot after the requested stop ends the run";
  ASSERT_EQ(run.events("run-start").size(), 1u);
  EXPECT_NE(run.events("run-start")[0].find("\"time\":\"2026-03-01 10:00:00"), std::string::npos);
  EXPECT_EQ(run.events("reboot").size(), 1u);
}

TEST_F(BoardRunTest, ARebootDuringTheRunBootsAgainAndAPowerCutBeyondTheHoldUpKillsTheBoard) {
  // The stop at 5 s shuts the program down; with the supply present it reboots; but here the
  // supply is cut first, so the shut-down board waits for power on the capacitor and dies.
  auto run = runSim(RECORDER_SIM_PATH, dir, {"--speed", "10", "--hold-up", "3"},
                    "2 power off\n"
                    "# the capacitor carries the board for 3 s, then it is off\n"
                    "8 power on\n"
                    "12 stop\n");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.events("board-off").size(), 1u);
  EXPECT_EQ(run.events("boot").size(), 2u) << "power back: the board boots again";
  EXPECT_EQ(run.events("power").size(), 2u);
}

// The supply comes back at the very moment the capacitor runs out: the dying board cannot take
// the "power on" any more, so the board must start again once it is down.
TEST_F(BoardRunTest, PowerBackAsTheCapacitorRunsOutStartsTheBoardAgain) {
  auto run = runSim(RECORDER_SIM_PATH, dir, {"--speed", "10", "--hold-up", "3", "--card-dir"},
                    "2 power off\n5 power on\n10 stop\n");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.events("board-off").size(), 1u);
  EXPECT_EQ(run.events("boot").size(), 2u) << run.output;
}

// The board killed at start-up, also in the middle of mounting its card: recorder-sim takes the
// card's FUSE mount down every time (a mount left behind holds the board directory and the
// image). The card is mounted about half a simulated second into the run; the cuts step across
// that moment.
TEST_F(BoardRunTest, ABoardKilledWhileItMountsItsCardLeavesNoMountBehind) {
  int mounted = 0;
  for (int ms = 300; ms <= 900; ms += 50) {
    char scenario[64];
    snprintf(scenario, sizeof scenario, "%d.%03d power off\n3 stop\n", ms / 1000, ms % 1000);
    auto run = runSim(RECORDER_SIM_PATH, dir, {"--speed", "10", "--hold-up", "0"}, scenario);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    mounted += !run.events("card-mount").empty();
    std::string mountPoint = dir + "/rootfs/mnt/log";
    bool left = sim::isHostMountPoint(mountPoint);
    if (left) sim::runTool({"fusermount", "-u", "-z", mountPoint}, nullptr);
    ASSERT_FALSE(left) << "cut at " << ms << " ms\n" << run.output;
    testing_board::removeBoardDir(dir);
  }
  EXPECT_GT(mounted, 0) << "no cut came after the card was mounted";
}

// A board killed in the very moment between starting the card's daemon and noting it leaves the
// pid file empty: recorder-sim finds the daemon by its command line and still takes the mount down.
TEST_F(BoardRunTest, AMountWhoseDaemonWasNeverNotedIsStillTakenDown) {
  testing_board::SimProcess sim(RECORDER_SIM_PATH, dir, {"--speed", "2", "--hold-up", "0"}, "5 power off\n8 stop\n");
  ASSERT_TRUE(sim.started());
  ASSERT_TRUE(sim.waitForConsole("\"ZIDADORI1\", mounted through fusefat", 20));  // the board's line, not the runner's
  std::ofstream(dir + "/card.fuse.pid", std::ios::trunc);  // what a kill right after its creation leaves
  EXPECT_TRUE(sim.waitForConsole("the back-up capacitor is empty", 20));  // the power off at 5 s
  testing_board::SimRun run = sim.stop();
  std::string mountPoint = dir + "/rootfs/mnt/log";
  bool left = sim::isHostMountPoint(mountPoint);
  if (left) sim::runTool({"fusermount", "-u", "-z", mountPoint}, nullptr);
  EXPECT_FALSE(left) << run.output;
  EXPECT_NE(run.output.find("unmounted the card the board left mounted"), std::string::npos) << run.output;
}

TEST_F(BoardRunTest, ScenarioErrorsAreReportedBeforeAnythingRuns) {
  auto run = runSim(RECORDER_SIM_PATH, dir, {"--speed", "10"}, "5 fly away\n");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find(dir + ".scenario: line 1: unknown action \"fly\" (in \"fly away\")"), std::string::npos)
      << run.output;
  run = runSim(RECORDER_SIM_PATH, dir, {"--speed", "10"}, "soon stop\n");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("expected a time in seconds"), std::string::npos);
  // Each action's arguments are checked when the scenario is read, with the file and the line.
  const std::pair<const char*, const char*> wrong[] = {
      {"10 press rek\n", "line 2: unknown button \"rek\": the buttons are rec and reset (in \"press rek\")"},
      {"3 power sideways\n", "line 2: expected \"power on\" or \"power off\" (in \"power sideways\")"},
      {"0 settings PRERECINT=10\n", "line 2: settings: unknown key \"PRERECINT\""},
      {"0 settings prerecint1=10\n", "keys are upper case: PRERECINT1"},
      {"0 settings PRERECINT1=ten\n", "PRERECINT1=\"ten\": the value must be a whole number"},
      {"0 card insert large\n", "line 2: card: expected"},
      {"5 rtc fail now 3\n", "expected \"rtc fail read N\""},
  };
  for (const auto& [line, message] : wrong) {
    run = runSim(RECORDER_SIM_PATH, dir, {"--speed", "10"}, std::string("# a comment first\n") + line + "60 stop\n");
    EXPECT_EQ(run.exitCode, 2) << line;
    EXPECT_NE(run.output.find(message), std::string::npos) << line << run.output;
    EXPECT_TRUE(run.events("boot").empty()) << "nothing ran: " << line;
  }
  run = runSim(RECORDER_SIM_PATH, dir, {"--speed", "0"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("--speed 0: the speed must be a number above 0"), std::string::npos) << run.output;
}

TEST_F(BoardRunTest, ASettingsValueTheRecorderReplacesIsNamedWithItsReplacement) {
  auto run = runSim(RECORDER_SIM_PATH, dir, {"--speed", "10", "--card-dir", "--duration", "1"},
                    "0 settings PRERECINT1=5 PREFIELD1=2\n");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("PRERECINT1=5 becomes 10 (event mode: 1, 10, 15 or 30)"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("PREFIELD1=2 becomes 4 (PREFIELD1 and POSTFIELD1 must be equal)"), std::string::npos);
  EXPECT_EQ(run.events("settings-replaced").size(), 2u);
}

TEST_F(BoardRunTest, AStopDuringStartUpIsStillAnOrderlyStop) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto run = runSim(RECORDER_SIM_PATH, dir, {"--speed", "20", "--no-card", "--duration", "0.05"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("REBOOT!!"), std::string::npos) << run.output;
  }
}

}  // namespace

namespace {

double wallSeconds(const std::string& text) {
  struct tm tm = {};
  int ms = 0;
  sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
         &tm.tm_sec, &ms);
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return static_cast<double>(timegm(&tm)) + ms / 1000.0;
}

// The board's clock comes from its clock chip, here an hour behind: the timeline holds both the
// true time and the board's, so a shock can be matched with the frames stamped at board time.
TEST(BoardRunTimeline, BoardProcessLinesCarryTheBoardsClockBesideTheTrueTime) {
  std::string dir = testing_board::makeBoardDir("board-time");
  auto run = runSim(RECORDER_SIM_PATH, dir, {"--speed", "10", "--card-dir", "--rtc-offset", "-3600"},
                    "12 stop\n");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  std::regex stamps("\"time\":\"([^\"]+)\".*\"board_time\":\"([^\"]+)\"");
  // The program's last pattern (at the stop) comes long after it set its clock from the chip.
  auto patterns = run.events("pattern");
  ASSERT_FALSE(patterns.empty());
  const std::string& last = patterns.back();
  std::smatch m;
  ASSERT_TRUE(std::regex_search(last, m, stamps)) << last;
  double behind = wallSeconds(m[1].str()) - wallSeconds(m[2].str());
  EXPECT_GE(behind, 3600.0) << last;
  EXPECT_LT(behind, 3601.0) << "whole seconds of the chip: at most a second more" << last;
  for (const std::string& line : run.events("run-start")) {
    EXPECT_EQ(line.find("board_time"), std::string::npos) << "recorder-sim itself has no board clock";
  }
  testing_board::removeBoardDir(dir);
}

}  // namespace
