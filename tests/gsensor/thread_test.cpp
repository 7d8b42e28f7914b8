// gsnr_thread against a scripted /dev/gsnr on the simulated board, the clock stepped by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "core/globals.h"
#include "core/msg_pipe.h"
#include "core/threads.h"
#include "gsensor/gsnr_requests.h"
#include "platform/sim/clock.h"
#include "platform/sim/devices.h"
#include "support/test_board.h"
#include "support/pipe_records.h"

namespace {

using testing_board::kStartSecond;
using Sample = std::array<int16_t, GSNR_AXES>;
constexpr int64_t kTickNs = 10 * sim::kNsPerMs;

// Serves the scripted samples, one per read, each after the driver's read wait; a read with
// nothing scripted gives a car at rest. An empty entry is a failed sensor read.
class ScriptedGsnr : public sim::DeviceNode {
 public:
  int open(int, std::unique_ptr<sim::DeviceFile>* file) override;

  void push(std::optional<Sample> s) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.push_back(s);
  }
  int readWaitTicks() {
    std::lock_guard<std::mutex> lock(mutex_);
    return readWaitTicks_;
  }
  std::vector<GSNR_CONFIG> configs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return configs_;
  }
  std::atomic<int> readsStarted{0};
  std::atomic<int> opens{0};

 private:
  friend class ScriptedGsnrFile;
  std::mutex mutex_;
  std::deque<std::optional<Sample>> script_;
  int readWaitTicks_ = 3;
  std::vector<GSNR_CONFIG> configs_;
};

class ScriptedGsnrFile : public sim::DeviceFile {
 public:
  explicit ScriptedGsnrFile(ScriptedGsnr* device) : device_(device) {}

  ssize_t read(void* buf, size_t count) override {
    // The deadline is fixed before the read counts as started, so a test that steps the
    // clock after seeing the start always ends this wait.
    int64_t deadline = sim::Clock::elapsed() + device_->readWaitTicks() * kTickNs;
    device_->readsStarted.fetch_add(1);
    sim::Clock::sleepUntil(deadline);
    std::optional<Sample> s = Sample{0, 0, 1000};
    {
      std::lock_guard<std::mutex> lock(device_->mutex_);
      if (!device_->script_.empty()) {
        s = device_->script_.front();
        device_->script_.pop_front();
      }
    }
    if (!s) return -EPERM;  // the driver's -1 for a failed sensor read
    uint8_t record[8] = {};
    for (int axis = 0; axis < GSNR_AXES; ++axis) {
      record[2 * axis] = static_cast<uint8_t>((*s)[axis] & 0xff);
      record[2 * axis + 1] = static_cast<uint8_t>(((*s)[axis] >> 8) & 0xff);
    }
    size_t n = std::min(count, sizeof record);
    memcpy(buf, record, n);
    return static_cast<ssize_t>(n);
  }

  long ioctl(unsigned long request, uintptr_t arg) override {
    if (request != CMD_GSNR_SET_CONFIG) return -EINVAL;
    GSNR_CONFIG config;
    memcpy(&config, reinterpret_cast<const void*>(arg), sizeof config);
    std::lock_guard<std::mutex> lock(device_->mutex_);
    device_->configs_.push_back(config);
    device_->readWaitTicks_ = config.readTimeout;
    return 0;
  }

 private:
  ScriptedGsnr* device_;
};

int ScriptedGsnr::open(int, std::unique_ptr<sim::DeviceFile>* file) {
  opens.fetch_add(1);
  *file = std::make_unique<ScriptedGsnrFile>(this);
  return 0;
}

using testing_board::drain;
using testing_board::word;

class GsnrThread : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDefaultParameter(&settings_);
    sem_init(&wake_, 0, 0);
    info_.number = 3;
    info_.wake = &wake_;
    info_.run.store(1);
    info_.config = &settings_;
    gSDFailed.store(0);
    gWritingSD.store(0);
    gSuccessiveTrg.store(0);
    gSuccessiveTrgType.store(0);
    sim::addDeviceNode(GSNR_DEVICE, device_);
    MsgOpen();  // the test reads the pipes; they must outlive the thread's MsgClose
    for (int pipe : {PIPE_CORE, PIPE_RECORD_GSNR, PIPE_LOG_GSNR}) MsgClear(pipe);
  }

  void TearDown() override {
    if (thread_.joinable()) stop();
    for (int pipe : {PIPE_CORE, PIPE_RECORD_GSNR, PIPE_LOG_GSNR}) MsgClear(pipe);
    MsgClose();
    sem_destroy(&wake_);
    gSDFailed.store(0);
    gWritingSD.store(0);
  }

  void start() {
    int reads = device_->readsStarted.load();
    launch();
    waitForReads(reads + 1);
  }

  // Lets the pending read return `s` and waits until the thread has dealt with it and gone
  // back to the device for the next one. Returns the time of day of that sample.
  int64_t step(std::optional<Sample> s = Sample{0, 0, 1000}) {
    device_->push(s);
    int before = device_->readsStarted.load();
    sim::Clock::advance(device_->readWaitTicks() * kTickNs);
    waitForReads(before + 1);
    return sim::Clock::system();
  }

  void steps(int n, Sample s = {0, 0, 1000}) {
    for (int i = 0; i < n; ++i) step(s);
  }

  // Samples +-amplitude on Z from now on: Z fires as soon as detection allows.
  int64_t shakeZUntilTrigger(int limit = 200) {
    for (int i = 0; i < limit; ++i) {
      int16_t z = static_cast<int16_t>(1000 + ((i % 2) ? 1500 : -1500));
      int64_t at = step(Sample{0, 0, z});
      if (posts() > 0) return at;
    }
    return 0;
  }

  void launch() {
    finished_.store(false);
    info_.run.store(1);
    thread_ = std::thread([this] {
      gsnr_thread(&info_);
      finished_.store(true);
    });
  }

  // Clears the run flag and moves the clock on until the thread has left its read and ended.
  void stop() {
    info_.run.store(0);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!finished_.load() && std::chrono::steady_clock::now() < deadline) {
      sim::Clock::advance(device_->readWaitTicks() * kTickNs);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(finished_.load()) << "the thread did not end";
    thread_.join();
  }

  void waitForReads(int n) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (device_->readsStarted.load() < n) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the thread did not come back to the device (read " << n << ")";
        return;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  }

  int posts() {
    int value = 0;
    sem_getvalue(&wake_, &value);
    return value;
  }

  testing_board::TestBoard board_;
  std::shared_ptr<ScriptedGsnr> device_ = std::make_shared<ScriptedGsnr>();
  RecorderSettings settings_;
  THREAD_INFO info_{};
  sem_t wake_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
};

int64_t seconds(int64_t ns) { return ns / sim::kNsPerSec; }
int64_t micros(int64_t ns) { return (ns % sim::kNsPerSec) / sim::kNsPerUs; }

TEST_F(GsnrThread, EverySampleGoesToTheRecordingAndOnePeakPerSecondToTheLog) {
  start();
  step(Sample{111, 111, 111});  // the start-up sample is never passed on
  std::vector<int64_t> times;
  for (int k = 2; k <= 40; ++k) times.push_back(step(Sample{int16_t(k), int16_t(-k), int16_t(1000 + k)}));

  std::vector<MsgRecord> record = drain(PIPE_RECORD_GSNR);
  ASSERT_EQ(record.size(), 39u);
  for (size_t i = 0; i < record.size(); ++i) {
    int k = static_cast<int>(i) + 2;
    const MsgRecord& r = record[i];
    EXPECT_EQ(r.word[MSG_W_SENDER], MOD_GSNR);
    EXPECT_EQ(r.word[MSG_W_ID], MSG_GSNR_DATA);
    EXPECT_EQ(word(r, MSG_W_P0), k);
    EXPECT_EQ(word(r, MSG_W_P1), -k) << "sign-extended";
    EXPECT_EQ(word(r, MSG_W_P2), 1000 + k);
    EXPECT_EQ(r.word[MSG_W_P3], seconds(times[i]));
    EXPECT_EQ(r.word[MSG_W_P4], micros(times[i]));
  }

  // Samples every 30 ms: the first loop sample (60 ms) sends the empty peak, the first one of
  // the next second (1020 ms, sample 34) the farthest sample of the second before.
  std::vector<MsgRecord> log = drain(PIPE_LOG_GSNR);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(word(log[0], MSG_W_P0), 0);
  EXPECT_EQ(word(log[0], MSG_W_P2), 0);
  EXPECT_EQ(log[0].word[MSG_W_P3], seconds(times[0]));
  EXPECT_EQ(word(log[1], MSG_W_P0), 33);
  EXPECT_EQ(word(log[1], MSG_W_P1), -33);
  EXPECT_EQ(word(log[1], MSG_W_P2), 1033);
  EXPECT_EQ(log[1].word[MSG_W_P3], static_cast<uint32_t>(kStartSecond + 1));
  EXPECT_EQ(log[1].word[MSG_W_P4], 20000u);
  EXPECT_EQ(posts(), 0);
  EXPECT_TRUE(drain(PIPE_CORE).empty());
}

TEST_F(GsnrThread, AShockBecomesOneTriggerToTheSupervisor) {
  board_.writeFile("/mnt/log/gsnr_dbg_msg.txt", "");
  testing_board::ConsoleCapture console;
  start();
  steps(40);
  int64_t at = shakeZUntilTrigger();
  ASSERT_NE(at, 0);
  std::vector<MsgRecord> core = drain(PIPE_CORE);
  ASSERT_EQ(core.size(), 1u);
  EXPECT_EQ(core[0].word[MSG_W_SENDER], MOD_GSNR);
  EXPECT_EQ(core[0].word[MSG_W_ID], MSG_TRIGGER);
  EXPECT_EQ(core[0].word[MSG_W_P0], seconds(at));
  EXPECT_EQ(core[0].word[MSG_W_P1], micros(at));
  EXPECT_EQ(core[0].word[MSG_W_P2], TRIGGER_GSENSOR);
  EXPECT_EQ(core[0].word[MSG_W_P3], 0u);
  EXPECT_EQ(posts(), 1);

  steps(30, Sample{0, 0, 2500});  // detection rests while the comparison buffer refills
  EXPECT_EQ(posts(), 1);
  stop();

  EXPECT_NE(console.text().find("GSNR____"), std::string::npos);
  EXPECT_NE(console.text().find("Z : detectTriggerCount 2"), std::string::npos) << console.text();
  time_t t = static_cast<time_t>(seconds(at));
  struct tm tm;
  localtime_r(&t, &tm);
  char expected[64];
  snprintf(expected, sizeof expected, "[%4d/%2d/%2d %2d:%2d:%2d] Z : 2\n", tm.tm_year + 1900, tm.tm_mon + 1,
           tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  EXPECT_EQ(board_.readFile("/mnt/log/gsnr_dbg_msg.txt"), expected);
}

TEST_F(GsnrThread, AHeldBackTriggerGoesOutOnceWhenTheWriteEnds) {
  start();
  steps(2);
  gWritingSD.store(1);
  gSuccessiveTrgType.store(TRIGGER_BUTTON);
  gSuccessiveTrg.store(1);
  steps(5);
  EXPECT_TRUE(drain(PIPE_CORE).empty());
  EXPECT_EQ(posts(), 0);

  gWritingSD.store(0);
  int64_t at = step();
  steps(5);
  std::vector<MsgRecord> core = drain(PIPE_CORE);
  ASSERT_EQ(core.size(), 1u);
  EXPECT_EQ(core[0].word[MSG_W_ID], MSG_SUCCESSIVE_TRIGGER);
  EXPECT_EQ(core[0].word[MSG_W_SENDER], MOD_GSNR);
  EXPECT_EQ(core[0].word[MSG_W_P0], seconds(at));
  EXPECT_EQ(core[0].word[MSG_W_P1], micros(at));
  EXPECT_EQ(core[0].word[MSG_W_P2], TRIGGER_BUTTON);
  EXPECT_EQ(posts(), 1);
  EXPECT_EQ(gSuccessiveTrg.load(), 0);
  EXPECT_EQ(gSuccessiveTrgType.load(), 0);
}

TEST_F(GsnrThread, WithACardFailureNothingIsSentButDetectionAndHeldBackTriggersGoOn) {
  gSDFailed.store(1);
  testing_board::ConsoleCapture console;
  start();
  steps(40);
  shakeZUntilTrigger(80);
  EXPECT_TRUE(drain(PIPE_RECORD_GSNR).empty());
  EXPECT_TRUE(drain(PIPE_LOG_GSNR).empty());
  EXPECT_TRUE(drain(PIPE_CORE).empty());
  EXPECT_EQ(posts(), 0);

  gSuccessiveTrg.store(1);
  step();
  std::vector<MsgRecord> core = drain(PIPE_CORE);
  ASSERT_EQ(core.size(), 1u);
  EXPECT_EQ(core[0].word[MSG_W_ID], MSG_SUCCESSIVE_TRIGGER);
  stop();
  EXPECT_NE(console.text().find("Z : detectTriggerCount 2"), std::string::npos) << "detection went on";
}

TEST_F(GsnrThread, SensorSetUpFromTheCardPacesTheReads) {
  board_.writeFile("/mnt/log/set_g_config.txt", "100 10\n");
  start();
  ASSERT_EQ(device_->configs().size(), 1u);
  EXPECT_EQ(device_->configs()[0].bandwidth, 100);
  EXPECT_EQ(device_->configs()[0].readTimeout, 10);
  step();
  int64_t first = step();
  int64_t second = step();
  EXPECT_EQ(second - first, 100 * sim::kNsPerMs);
}

TEST_F(GsnrThread, UnacceptableSensorSetUpIsNotSent) {
  for (const char* text : {"200 10", "100 0", "100 101", "abc", ""}) {
    board_.writeFile("/mnt/log/set_g_config.txt", text);
    testing_board::ConsoleCapture console;
    start();
    stop();
    EXPECT_TRUE(device_->configs().empty()) << text;
    EXPECT_NE(console.text().find("Out of BandWidth : "), std::string::npos) << text;
  }
}

TEST_F(GsnrThread, UserLevelsSampleLogAndPeriodicTriggerFromTheCard) {
  board_.writeFile("/mnt/log/user_g_level.txt", "axis-x 0 4\naxis-y 0 7\naxis-z 300 1\n");
  board_.writeFile("/mnt/log/save_g_value.txt", "old content\n");
  board_.writeFile("/mnt/log/cont_trigger.txt", "1\n");
  board_.writeFile("/mnt/log/set_g_config.txt", "25 100\n");  // one sample a second
  testing_board::ConsoleCapture console;
  start();
  int64_t startup = step(Sample{5, 5, 5});
  (void)startup;
  int64_t first = step(Sample{-7, 8, 1001});
  int64_t fired = 0;
  for (int i = 0; i < 70 && fired == 0; ++i) {
    int64_t at = step();
    if (posts() > 0) fired = at;
  }
  stop();
  // The periodic trigger counts its minute from the first sample of the loop.
  EXPECT_EQ(seconds(fired) - seconds(first), 60);
  std::vector<MsgRecord> core = drain(PIPE_CORE);
  ASSERT_EQ(core.size(), 1u);
  EXPECT_EQ(core[0].word[MSG_W_P2], TRIGGER_GSENSOR);

  std::string out = console.text();
  EXPECT_NE(out.find("@@ threshold[0:0:300], bufRealCnt[4:7:1]"), std::string::npos) << out;
  EXPECT_EQ(out.find("detectTriggerCount"), std::string::npos) << "a periodic trigger traces no axis";

  std::string log = board_.readFile("/mnt/log/save_g_value.txt");
  time_t t = static_cast<time_t>(seconds(first));
  struct tm tm;
  localtime_r(&t, &tm);
  char line[64];
  snprintf(line, sizeof line, "%02d:%02d:%02d, -7, 8, 1001\n", tm.tm_hour, tm.tm_min, tm.tm_sec);
  EXPECT_EQ(log.rfind(line, 0), 0u) << "emptied at start, one line per loop sample:\n" << log.substr(0, 200);
}

TEST_F(GsnrThread, AHostileUserLevelFileLeavesTheTableThresholds) {
  std::string label(100000, 'A');
  board_.writeFile("/mnt/log/user_g_level.txt", label + " 99999999999 4\n" + label + " 1 1\n");
  testing_board::ConsoleCapture console;
  start();
  stop();
  std::string out = console.text();
  EXPECT_NE(out.find("Failed to set USER_G_LEVEL -1"), std::string::npos) << out.substr(0, 500);
  EXPECT_NE(out.find("@@ threshold[200:200:400], bufRealCnt[4:7:2]"), std::string::npos) << out.substr(0, 500);
}

TEST_F(GsnrThread, ASettingsChangeRecomputesTheThresholds) {
  testing_board::ConsoleCapture console;
  start();
  step();
  settings_.ACCSENX = 5;  // ignored by the simple level, but still a change
  step();
  settings_.ACCSEN = 0;
  settings_.ACCSENZ = 12;
  step();
  step();
  stop();
  std::string out = console.text();
  EXPECT_NE(out.find("G-Sensor Trigger Simple Level 4"), std::string::npos) << out;
  EXPECT_NE(out.find("New G-Sensor Trigger Simple Level 4"), std::string::npos) << out;
  EXPECT_NE(out.find("New G-Sensor Trigger User Level 5 4 12"), std::string::npos) << out;
  EXPECT_NE(out.find("G-Sensor level 12 is outside the table, row 8 used"), std::string::npos) << out;
}

TEST_F(GsnrThread, FailedReadsAreSkippedAndAFailedFirstReadEndsTheThread) {
  start();
  step();
  step(std::nullopt);
  step(Sample{1, 2, 3});
  EXPECT_EQ(drain(PIPE_RECORD_GSNR).size(), 1u);
  stop();

  testing_board::ConsoleCapture console;
  device_->push(std::nullopt);
  start();
  sim::Clock::advance(device_->readWaitTicks() * kTickNs);
  thread_.join();  // ends on its own, with the run flag still set
  EXPECT_TRUE(finished_.load());
  EXPECT_EQ(info_.run.load(), 1);
  EXPECT_NE(console.text().find("~gsnr_thread()"), std::string::npos);
}

TEST(GsnrThreadDevice, WithoutTheDeviceTheThreadEndsAtOnce) {
  testing_board::TestBoard board;
  RecorderSettings settings;
  SetDefaultParameter(&settings);
  THREAD_INFO info{};
  info.run.store(1);
  info.config = &settings;
  int opened = MsgOpenCount();
  testing_board::ConsoleCapture console;
  EXPECT_EQ(gsnr_thread(&info), 0);
  EXPECT_EQ(MsgOpenCount(), opened);
  EXPECT_NE(console.text().find("GSNR____"), std::string::npos);
  EXPECT_NE(console.text().find("failed to open /dev/gsnr. (2) No such file or directory"), std::string::npos)
      << console.text();
}

}  // namespace
