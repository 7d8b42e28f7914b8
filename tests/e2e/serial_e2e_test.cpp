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
