// Start-up on a board without card or devices, and the shut-down path that returns.
#include <gtest/gtest.h>

#include <thread>

#include "core/globals.h"
#include "core/main.h"
#include "core/msg_pipe.h"
#include "core/supervisor.h"
#include "core/threads.h"
#include "device/buzzer_led.h"
#include "platform/sim/board.h"
#include "platform/sim/clock.h"
#include "support/fake_device.h"
#include "support/test_board.h"

namespace {

using testing_board::FakeDevice;

class StartupTest : public ::testing::Test {
 protected:
  testing_board::TestBoard board;
};

TEST_F(StartupTest, WithoutTheTimerDeviceStartUpFailsBeforeTouchingTheCard) {
  testing_board::ConsoleCapture console;
  EXPECT_EQ(InitRecorder(), -10000);
  EXPECT_NE(console.text().find("failed to BuzzerLedOpen()"), std::string::npos);
  EXPECT_EQ(console.text().find("SD Size"), std::string::npos);
  signal(SIGINT, SIG_DFL);
}

TEST_F(StartupTest, ACardThatIsMissingOrTooSmallIsRefusedWithTheFailurePattern) {
  auto tima = FakeDevice::create("/dev/tima0", sizeof(TIMA_BLINK_REQ));
  {
    testing_board::ConsoleCapture console;
    EXPECT_EQ(InitRecorder(), -1);
    EXPECT_NE(console.text().find("ERROR : SD Size is under 2GB : 0"), std::string::npos);
  }
  auto reqs = tima->requests();
  ASSERT_EQ(reqs.size(), 3u) << "sdfailure: buzzer and both LEDs";
  EXPECT_EQ(argAs<TIMA_BLINK_REQ>(reqs[0]).continuous, 1u);
  EXPECT_EQ(argAs<TIMA_BLINK_REQ>(reqs[0]).onMs, 500u);
  EXPECT_EQ(BzLedStatus.load(), BZLED_SDFAILURE);

  // 1,600,000 KiB is refused; the size is compared as an unsigned number.
  board.writeFile("/proc/partitions", "major minor  #blocks  name\n\n 179 0 1600000 mmcblk0\n");
  tima->clear();
  EXPECT_EQ(InitRecorder(), -1);
  EXPECT_EQ(tima->requests().size(), 3u);

  // One more KiB passes the size test; without a mountable card start-up stops at the mount.
  board.writeFile("/proc/partitions", "major minor  #blocks  name\n\n 179 0 1600001 mmcblk0\n");
  testing_board::ConsoleCapture console;
  EXPECT_EQ(InitRecorder(), -11);
  EXPECT_NE(console.text().find("failed to mount_sd()"), std::string::npos);
  BuzzerLedClose();
  signal(SIGINT, SIG_DFL);
}

// With no_power_check on the card the program stops, joins all eight workers and returns
// instead of waiting for the supply and rebooting.
TEST_F(StartupTest, NoPowerCheckMakesMainReturnAfterJoiningEveryWorker) {
  board.writeFile("/mnt/log/no_power_check", "");
  sim::Clock::runAt(200.0, sim::Clock::monoNow(), 0, testing_board::kStartSecond * sim::kNsPerSec);
  int result = -1;
  testing_board::ConsoleCapture console;
  std::thread program([&] { result = recorder_main(); });
  // Wait until the supervisor is up, then stop it as SIGINT would.
  while (MsgOpenCount() < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  sim::Clock::sleepFor(2 * sim::kNsPerSec);
  sig_handle(SIGINT);
  program.join();
  std::string text = console.text();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(gSDFailed.load(), 1) << "start-up failed: no devices, no card";
  for (const char* worker : {"End LOG Loop", "~gps_thread()", "~OverwriteThread()", "~RecordThread()"}) {
    EXPECT_NE(text.find(worker), std::string::npos) << worker;
  }
  EXPECT_EQ(text.find("REBOOT"), std::string::npos);
  EXPECT_EQ(text.find("rd_com_thread()"), std::string::npos) << "started only for a controller";
  EXPECT_EQ(sim::rebootCount(), 0);
  for (const THREAD_INFO& info : gThreadInfo) EXPECT_FALSE(info.started);
  EXPECT_EQ(MsgOpenCount(), 0);
}

// The controller's command thread is not a worker: only --controller starts it, beside them, and
// the stop joins it with them.
TEST_F(StartupTest, ControllerOptionStartsTheCommandThreadBesideTheWorkers) {
  const char* unknown[] = {"recorder", "--controler"};
  EXPECT_EQ(RecorderParseOptions(2, unknown), -1);
  EXPECT_FALSE(gRecorderOptions.controller);
  const char* args[] = {"recorder", "--controller"};
  ASSERT_EQ(RecorderParseOptions(2, args), 0);
  EXPECT_TRUE(gRecorderOptions.controller);

  board.writeFile("/mnt/log/no_power_check", "");
  sim::Clock::runAt(200.0, sim::Clock::monoNow(), 0, testing_board::kStartSecond * sim::kNsPerSec);
  testing_board::ConsoleCapture console;
  int result = -1;
  std::thread program([&] { result = recorder_main(); });
  while (MsgOpenCount() < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  sim::Clock::sleepFor(8 * sim::kNsPerSec);  // past the thread's start delay: no /dev/ttyS1 here
  sig_handle(SIGINT);
  program.join();
  gRecorderOptions = RecorderOptions{};
  std::string text = console.text();
  EXPECT_EQ(result, 0);
  EXPECT_NE(text.find("rd_com_thread()"), std::string::npos);
  EXPECT_NE(text.find("failed to AllocComPort()"), std::string::npos);
  EXPECT_LT(text.find("~create_all_work_thread()"), text.find("rd_com_thread()"));
  EXPECT_FALSE(gRdComThreadInfo.started);
  EXPECT_EQ(MsgOpenCount(), 0);
}

// SIGINT during start-up (while the card is formatted, say) posts the semaphore before it is
// initialised for the workers; the request must survive that and stop the program in order.
TEST_F(StartupTest, AStopRequestedDuringStartUpIsNotLost) {
  board.writeFile("/mnt/log/no_power_check", "");
  sim::Clock::runAt(200.0, sim::Clock::monoNow(), 0, testing_board::kStartSecond * sim::kNsPerSec);
  sig_handle(SIGINT);  // before the program has even started
  testing_board::ConsoleCapture console;
  int result = -1;
  std::thread program([&] { result = recorder_main(); });
  program.join();
  EXPECT_EQ(result, 0);
  EXPECT_NE(console.text().find("~RecordThread()"), std::string::npos);
  EXPECT_EQ(gTerminateRequest.load(), 0);
}

}  // namespace

// The travel log takes what the others send it even when it has no card to write on: the
// G-sensor's peak every second to its pipe would otherwise pile up for as long as the unit records.
TEST_F(StartupTest, TheTravelLogWorkerDropsWhatIsSentToItsPipes) {
  MsgOpen();
  for (uint32_t pipe : {PIPE_LOG, PIPE_LOG_GPS, PIPE_LOG_GSNR}) {
    MsgRecord r = MsgMake(pipe, MOD_GSNR, MSG_GSNR_DATA);
    ASSERT_EQ(MsgSend(&r, MSG_LENGTH), 0);
  }
  THREAD_INFO info = {};
  info.run.store(1);
  testing_board::ConsoleCapture console;
  std::thread worker([&] { log_thread(&info); });
  ASSERT_TRUE(sim::Clock::waitForSleepers(1));
  for (int pipe : {PIPE_LOG, PIPE_LOG_GPS, PIPE_LOG_GSNR}) EXPECT_EQ(MsgPipeDepth(pipe), 0) << pipe;
  info.run.store(0);
  sim::Clock::advance(sim::kNsPerSec);
  worker.join();
  MsgClose();
}
