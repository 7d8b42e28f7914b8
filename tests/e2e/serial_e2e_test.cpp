// recorder-sim's serial ports joined to the PC.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <thread>
#include <unistd.h>

#include "support/sim_run.h"

namespace {

using testing_board::runSim;

class SerialE2eTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = testing_board::makeBoardDir(::testing::UnitTest::GetInstance()->current_test_info()->name()); }
  void TearDown() override {
    if (!HasFailure()) testing_board::removeBoardDir(dir);
  }
  std::string dir;
};

TEST_F(SerialE2eTest, APseudoTerminalStandsForPort1AndItsPathIsPrinted) {
  auto run = std::async(std::launch::async, [this] {
    return runSim(RECORDER_SIM_PATH, dir, {"--speed", "2", "--duration", "10", "--serial", "1=pty"});
  });
  // The path is there as soon as the run starts.
  std::string path;
  for (int i = 0; i < 2000 && path.empty(); ++i) {
    std::ifstream(dir + "/ttyS1.pty") >> path;
    if (path.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_FALSE(path.empty());
  int pc = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(pc, 0) << path;
  EXPECT_TRUE(isatty(pc));
  EXPECT_EQ(write(pc, "\xF0\x00\x0F\x01", 4), 4) << "a PC program may send while the board runs";
  auto result = run.get();
  close(pc);
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_NE(result.output.find("[sim] serial port 1 (/dev/ttyS1) is joined to the pseudo-terminal " + path),
            std::string::npos);
  EXPECT_EQ(result.events("serial", "\"port\":1").size(), 1u);
  EXPECT_NE(result.output.find("run ended in order"), std::string::npos);
}

TEST_F(SerialE2eTest, ARealDeviceNeedsSpeedOneAndBadPortsAreRefused) {
  auto run = runSim(RECORDER_SIM_PATH, dir, {"--speed", "10", "--duration", "1", "--serial", "2=/dev/null"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("run with --speed 1"), std::string::npos) << run.output;
  run = runSim(RECORDER_SIM_PATH, dir, {"--duration", "1", "--serial", "7=pty"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("N from 0 to 3"), std::string::npos) << run.output;
  run = runSim(RECORDER_SIM_PATH, dir, {"--duration", "1", "--serial", "1=pty", "--serial", "1=pty"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("given twice"), std::string::npos) << run.output;
}

}  // namespace

namespace {

TEST_F(SerialE2eTest, TheReceiverOnPort2FixesAfterItsColdStartLosesTheSkyInATunnelAndTheClockChipCanBeOff) {
  auto run = runSim(RECORDER_SIM_PATH, dir,
                    {"--speed", "10", "--duration", "40", "--gps-ttff", "5", "--rtc-offset", "3600", "--start",
                     "2026-03-01 10:00:00"},
                    "20 gps fix lost\n"
                    "25 gps fix back\n");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  auto on = run.events("gps", "power-on");
  auto fixes = run.events("gps", "first fix");
  ASSERT_EQ(on.size(), 1u);
  ASSERT_EQ(fixes.size(), 1u) << "the fix after the tunnel is not a first one";
  auto seconds = [](const std::string& line) { return std::stod(line.substr(line.find("\"t\":") + 4)); };
  // At the first epoch (whole seconds) 5 s after the power-on; a loaded PC may run it late.
  EXPECT_GE(seconds(fixes[0]) - seconds(on[0]), 5);
  EXPECT_LE(seconds(fixes[0]) - seconds(on[0]), 8);
  EXPECT_EQ(run.events("gps", "sky lost").size(), 1u);
  EXPECT_EQ(run.events("gps", "sky back").size(), 1u);
  // The program read its clock from the chip an hour ahead of the true time.
  EXPECT_NE(run.output.find("RTC Read : 0126/02/01 11:00:"), std::string::npos) << run.output;
}

TEST_F(SerialE2eTest, GpsActionsAndOptionsAreCheckedBeforeAnythingRuns) {
  auto run = runSim(RECORDER_SIM_PATH, dir, {"--duration", "1"}, "5 gps fix sometimes\n");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("gps takes: fix lost, fix back, or replay FILE"), std::string::npos) << run.output;
  run = runSim(RECORDER_SIM_PATH, dir, {"--duration", "1"}, "\n5 gps replay /nonexistent/capture.ubx\n");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find(".scenario: line 2: gps replay"), std::string::npos) << run.output;
  run = runSim(RECORDER_SIM_PATH, dir, {"--duration", "1", "--gps", "garmin"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("--gps takes ubx, furuno, nmea or none"), std::string::npos) << run.output;
}

}  // namespace
