// The program's G-sensor thread on the board's real driver, the bma150 driver and the
// accelerometer model of a driving car, the clock stepped by hand.
#include <semaphore.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "board/gsensor/gsensor_board.h"
#include "config/settings.h"
#include "core/globals.h"
#include "core/msg_pipe.h"
#include "core/threads.h"
#include "host_support/io_board.h"
#include "support/pipe_records.h"

namespace {

using testing_board::IoBoardTest;

using testing_board::drain;
using testing_board::word;

class GsensorOnBoard : public IoBoardTest {
 protected:
  void SetUp() override {
    IoBoardTest::SetUp();
    gs = std::make_unique<sim::GsensorBoard>();  // a car on the road
    ASSERT_TRUE(gs->loadFailures().empty());
    SetDefaultParameter(&settings);
    ASSERT_EQ(sem_init(&wake, 0, 0), 0);
    info.number = 3;
    info.wake = &wake;
    info.config = &settings;
    info.run.store(1);
    gSDFailed.store(0);
    gWritingSD.store(0);
    gSuccessiveTrg.store(0);
    MsgOpen();  // the test reads the pipes after the thread's MsgClose
    for (int pipe : {PIPE_CORE, PIPE_RECORD_GSNR, PIPE_LOG_GSNR}) MsgClear(pipe);
  }

  void TearDown() override {
    if (thread.joinable()) stop();
    for (int pipe : {PIPE_CORE, PIPE_RECORD_GSNR, PIPE_LOG_GSNR}) MsgClear(pipe);
    MsgClose();
    sem_destroy(&wake);
    gs.reset();
    IoBoardTest::TearDown();
  }

  void start() {
    thread = std::thread([this] {
      gsnr_thread(&info);
      finished.store(true);
    });
    ASSERT_TRUE(waitingInKernel(1)) << "the thread never reached its first read";
  }

  // Moves the clock on tick by tick, each time once the thread sleeps in its read again.
  void run(double seconds) {
    for (int t = 0; t < static_cast<int>(seconds * 100 + 0.5); ++t) {
      ASSERT_TRUE(waitingInKernel(1)) << "the thread left its reads";
      ticks(1);
    }
    ASSERT_TRUE(waitingInKernel(1));
  }

  void stop() {
    info.run.store(0);
    for (int i = 0; i < 1000 && !finished.load(); ++i) {
      ticks(1);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(finished.load());
    thread.join();
  }

  int posts() {
    int value = 0;
    sem_getvalue(&wake, &value);
    return value;
  }

  std::unique_ptr<sim::GsensorBoard> gs;
  RecorderSettings settings;
  THREAD_INFO info{};
  sem_t wake;
  std::thread thread;
  std::atomic<bool> finished{false};
};

TEST_F(GsensorOnBoard, ADriveIsSampledEveryThreeTicksAndAShockBecomesAGSensorTrigger) {
  start();
  run(5);
  std::vector<MsgRecord> driving = drain(PIPE_RECORD_GSNR);
  EXPECT_NEAR(static_cast<double>(driving.size()), 500 / 3.0, 2) << "one sample per read wait of 3 ticks";
  int changes = 0;
  for (size_t i = 1; i < driving.size(); ++i) {
    EXPECT_NEAR(word(driving[i], MSG_W_P2), 1000, 300) << "gravity on Z, in milli-g";
    for (int w : {MSG_W_P0, MSG_W_P1, MSG_W_P2}) {
      if (word(driving[i], w) != word(driving[i - 1], w)) {
        ++changes;
        break;
      }
    }
  }
  EXPECT_GT(changes, static_cast<int>(driving.size()) / 2) << "the road is felt";
  EXPECT_EQ(posts(), 0) << "ordinary driving is no shock";
  EXPECT_EQ(drain(PIPE_LOG_GSNR).size(), 5u) << "one peak a second to the log";

  int64_t shockAt = sim::Clock::system();
  gs->chip().addShock(2500, 0, 0, 200);
  run(1);
  ASSERT_EQ(posts(), 1);
  std::vector<MsgRecord> core = drain(PIPE_CORE);
  ASSERT_EQ(core.size(), 1u);
  EXPECT_EQ(core[0].word[MSG_W_SENDER], MOD_GSNR);
  EXPECT_EQ(core[0].word[MSG_W_ID], MSG_TRIGGER);
  EXPECT_EQ(core[0].word[MSG_W_P2], TRIGGER_GSENSOR);
  int64_t triggerAt = static_cast<int64_t>(core[0].word[MSG_W_P0]) * sim::kNsPerSec +
                      static_cast<int64_t>(core[0].word[MSG_W_P1]) * sim::kNsPerUs;
  EXPECT_GT(triggerAt, shockAt);
  EXPECT_LT(triggerAt - shockAt, 400 * sim::kNsPerMs);

  std::vector<MsgRecord> shock = drain(PIPE_RECORD_GSNR);
  int peak = 0;
  for (const MsgRecord& r : shock) peak = std::max(peak, word(r, MSG_W_P0));
  EXPECT_GT(peak, 2300) << "the samples carry the shock";
  EXPECT_LT(peak, 2900);
  EXPECT_EQ(sim::kernel::logText().find("G Sensor I2C Read failed"), std::string::npos);
}

TEST_F(GsensorOnBoard, TheCardsSensorSettingsReachTheChipAndFailedReadsAreSkipped) {
  tb.writeFile("/mnt/log/set_g_config.txt", "100 10\n");
  start();
  EXPECT_EQ(gs->chip().bandwidthHz(), 100);
  run(2);
  EXPECT_NEAR(static_cast<double>(drain(PIPE_RECORD_GSNR).size()), 20, 1) << "a read every 10 ticks";

  gs->chip().failTransfers(4);
  run(1);
  EXPECT_NEAR(static_cast<double>(drain(PIPE_RECORD_GSNR).size()), 6, 1) << "four reads failed and were skipped";
  EXPECT_NE(sim::kernel::logText().find("G Sensor I2C Read failed.."), std::string::npos);
  run(1);
  EXPECT_NEAR(static_cast<double>(drain(PIPE_RECORD_GSNR).size()), 10, 1) << "and sampling went on";
  EXPECT_EQ(posts(), 0);
}

}  // namespace
