// Runs the recording worker in-process against the camera model on a test board: a test card
// at /mnt/log, /dev/cam0, a stand-in for the buzzer/LED timer that notes the patterns shown, and
// the clock stepped by hand. Messages go in the way the supervisor sends them.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "board/camera/camera_model.h"
#include "config/settings.h"
#include "core/threads.h"
#include "record/video_format.h"
#include "serial/rd_frame.h"
#include "support/test_board.h"
#include "support/test_card.h"

namespace record_test {

// A recording pair read back from the card.
struct Pair {
  std::string name;  // base name without extension
  std::vector<uint8_t> vdd, vdx;
  std::vector<vr::FrameIndexEntry> entries;
  vr::IdxHeader header{};
  bool hasHeader = false;

  // Capture time of an entry as seconds since 1970 (from its local time fields).
  time_t second(size_t i) const;
  const uint8_t* record(size_t i) const { return vdd.data() + entries[i].offset.get(); }
};

class RecordHarness {
 public:
  explicit RecordHarness(int recordingMode, sim::CameraOptions camera = {});
  ~RecordHarness();

  RecorderSettings& config() { return gConfig; }
  testing_board::TestBoard& board() { return board_; }
  testing_board::TestCard& card() { return card_; }
  sim::CameraDevice& camera() { return *camera_; }

  // Starts the recording worker (and the disk space worker when asked).
  void start(bool withOverwriteThread = false);
  // Clears the run flags and waits for the workers to end.
  void stop();
  // Moves the simulated clock on in small steps, letting the workers run in between.
  void run(double seconds);
  // Sets the clock so that the next run starts at the given fraction of a second.
  void runToFraction(double fraction);

  // Restarts the clock (standing still) at a wall time, seconds since 1970.
  void setClock(int64_t worldSecond);
  void capacitorCharged();
  // A trigger with the current time of day; gives its second and microseconds.
  std::pair<uint32_t, uint32_t> trigger(uint32_t type = 2);

  // Records the workers sent to the supervisor so far (drained from pipe 10).
  std::vector<uint32_t> supervisorMessages();
  // The replies (MSG_RETURN) among them: the request answered and, for a record status, its block.
  struct Reply {
    uint32_t request;
    bool hasStatus;
    rd::RecordStatus status;
  };
  std::vector<Reply> replies();
  // Sends a message of the supervisor's to the recording worker (pipe 20).
  void sendToRecord(uint32_t id);
  int count(uint32_t id);
  // The pairs of a channel directory ("event" or "normal"), oldest first.
  std::vector<Pair> pairs(const std::string& kind) const;
  // Everything the program printed so far (can be read any number of times).
  std::string console();
  int beeps() const;
  int lastPattern() const;

 private:
  testing_board::TestBoard board_;
  struct ConsoleFile {
    ConsoleFile();
    ~ConsoleFile();
    std::string text() const;
    int saved = -1;
    std::string path;
  } console_;
  testing_board::TestCard card_;
  std::shared_ptr<sim::CameraDevice> camera_;
  std::shared_ptr<struct FakeTimer> timer_;
  THREAD_INFO record_{};
  THREAD_INFO overwrite_{};
  std::thread recordThread_, overwriteThread_;
  std::atomic<int> running_{0};
  std::vector<uint32_t> received_;
  std::vector<Reply> replies_;
  int sleepers_ = 0;
};

// True when the bytes are a complete JPEG picture that libjpeg-turbo decodes.
bool decodesAsJpeg(const uint8_t* data, size_t size, int* width = nullptr, int* height = nullptr);

}  // namespace record_test
