// The power-fail monitor on scripted level sequences: each poll of the line is one request to a
// scripted /dev/gpio15, and the test steps the clock one poll period at a time.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <thread>

#include "core/gpio_requests.h"
#include "core/inputs.h"
#include "core/msg_pipe.h"
#include "core/threads.h"
#include "support/fake_device.h"
#include "support/test_board.h"

namespace {

using testing_board::ConsoleCapture;
using testing_board::FakeDevice;
using testing_board::TestBoard;

constexpr long kEdge = -EINTR;  // the driver's answer when an interrupt was seen

class PowerCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    gpio = std::make_shared<FakeDevice>(GPIO_POWER_FAIL_DEVICE, sizeof(GPIO_IOCTL_ARG));
    gpio->install();
    gpio->answer([this](unsigned long code, uintptr_t) -> long {
      if (code != GPIO_IOC_GET_LEVEL_OR_EDGE) return 0;
      std::lock_guard<std::mutex> lock(mutex);
      if (levels.empty()) return last == kEdge ? 0 : last;  // an edge is reported once
      last = levels.front();
      levels.pop_front();
      return last;
    });
    ASSERT_EQ(sem_init(&wake, 0, 0), 0);
    MsgOpen();  // keeps the pipes for the test to read
    info.number = 2;
    info.wake = &wake;
    info.run.store(1);
  }

  void TearDown() override {
    if (thread.joinable()) {
      info.run.store(0);
      board.advance(0.25);
      thread.join();
    }
    drain();
    MsgClose();
    sem_destroy(&wake);
  }

  // The answers of the next polls: 1 present, 0 off, kEdge an interrupt (then low).
  void script(std::initializer_list<long> answers) {
    std::lock_guard<std::mutex> lock(mutex);
    for (long a : answers) levels.push_back(a);
  }

  size_t polls() const {
    size_t n = 0;
    for (const auto& r : gpio->requests()) n += r.code == GPIO_IOC_GET_LEVEL_OR_EDGE ? 1 : 0;
    return n;
  }

  // Starts the monitor and lets it make its first poll.
  void start() {
    thread = std::thread([this] { PowerCheckThread(&info); });
    waitForPoll(1);
  }

  void waitForPoll(size_t n) {
    for (int i = 0; i < 20000 && !(polls() >= n && sim::Clock::sleepers() >= 1); ++i) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ASSERT_GE(polls(), n);
  }

  // One poll period on: the monitor polls once more.
  void step() {
    size_t n = polls();
    board.advance(0.25);
    waitForPoll(n + 1);
  }

  struct Seen {
    int triggers = 0;
    int shortCuts = 0;
    std::vector<MsgRecord> records;
  };
  // Takes what the monitor sent to the supervisor; every record came with one semaphore post.
  Seen drain() {
    Seen seen;
    MsgRecord* m = nullptr;
    while (MsgRecv(&m, PIPE_CORE) == 0) {
      seen.records.push_back(*m);
      if (m->word[MSG_W_ID] == MSG_TRIGGER) ++seen.triggers;
      if (m->word[MSG_W_ID] == MSG_POWER_SHORT_CUT) ++seen.shortCuts;
      MsgDone(PIPE_CORE);
      EXPECT_EQ(sem_trywait(&wake), 0);
    }
    EXPECT_NE(sem_trywait(&wake), 0);
    return seen;
  }

  TestBoard board;
  std::shared_ptr<FakeDevice> gpio;
  std::mutex mutex;
  std::deque<long> levels;
  long last = 1;
  sem_t wake;
  THREAD_INFO info{};
  std::thread thread;
};

TEST_F(PowerCheck, EnablesTheInterruptThenPollsEveryQuarterSecond) {
  script({1, 1, 1});
  start();
  step();
  step();
  auto requests = gpio->requests();
  ASSERT_GE(requests.size(), 4u);
  GPIO_IOCTL_ARG enable;
  memcpy(&enable, requests[0].argument.data(), sizeof enable);
  EXPECT_EQ(requests[0].code, GPIO_IOC_INT_ENABLE);
  EXPECT_EQ(enable.a0, 8u);
  EXPECT_EQ(enable.a1, 7u);
  EXPECT_EQ(enable.a2, 1u);
  EXPECT_EQ(requests[2].elapsed - requests[1].elapsed, 250 * sim::kNsPerMs);
  EXPECT_EQ(drain().records.size(), 0u);
}

TEST_F(PowerCheck, LowReadingsThatNeverComeTwiceInARowAreNoEvent) {
  script({0, 1, 0, 1, 0, 1, 0, 1});
  start();
  for (int i = 0; i < 7; ++i) step();
  EXPECT_EQ(drain().records.size(), 0u);
}

TEST_F(PowerCheck, ASupplyThatStaysOffGivesAnEventAtTheSecondLowPollAndThenAtEveryPoll) {
  script({1, 0});  // then 0 for good
  start();
  step();  // first low
  EXPECT_EQ(drain().triggers, 0);
  step();  // second low: the event
  Seen first = drain();
  ASSERT_EQ(first.triggers, 1);
  const MsgRecord& r = first.records[0];
  EXPECT_EQ(r.word[MSG_W_SENDER], KVOX_POWER_SWITCH);
  EXPECT_EQ(r.word[MSG_W_P2], TRIGGER_BUTTON);
  int64_t expected = testing_board::kStartSecond + 0;  // 0.5 s after the start
  EXPECT_EQ(r.word[MSG_W_P0], static_cast<uint32_t>(expected));
  EXPECT_EQ(r.word[MSG_W_P1], 500000u);
  for (int i = 0; i < 4; ++i) step();
  EXPECT_EQ(drain().triggers, 4);
}

TEST_F(PowerCheck, AShortCutIsReportedAtTheSixthHighReadingAfterTheInterrupt) {
  ConsoleCapture console;
  script({kEdge, 1, 1, 0, 1, 1, 1, 1, 1});
  start();
  for (int i = 0; i < 6; ++i) step();  // polls 2..7: the fifth high reading
  EXPECT_EQ(drain().shortCuts, 0);
  step();  // poll 8: the sixth high reading
  Seen seen = drain();
  EXPECT_EQ(seen.shortCuts, 1);
  EXPECT_EQ(seen.triggers, 0);
  ASSERT_EQ(seen.records.size(), 1u);
  EXPECT_EQ(seen.records[0].word[MSG_W_SENDER], KVOX_POWER_SWITCH);
  for (int w = MSG_W_P0; w <= MSG_W_P4; ++w) EXPECT_EQ(seen.records[0].word[w], 0u);
  step();
  EXPECT_EQ(drain().records.size(), 0u);  // once
  info.run.store(0);
  board.advance(0.25);
  thread.join();
  std::string text = console.text();
  size_t at = text.find("POWER OFF INT is happened, but power is recoveried");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(text.find("POWER OFF INT is happened", at + 1), std::string::npos);
  EXPECT_NE(text.find("@@@@ POWER OFF INT timeout. send command!!"), std::string::npos);
}

TEST_F(PowerCheck, ASecondInterruptRestartsTheRecoveryCount) {
  script({kEdge, 1, 1, 1, kEdge, 1, 1, 1, 1, 1, 1});
  start();
  for (int i = 0; i < 9; ++i) step();  // up to the fifth high reading after the second interrupt
  EXPECT_EQ(drain().shortCuts, 0);
  step();
  EXPECT_EQ(drain().shortCuts, 1);
}

TEST_F(PowerCheck, AnInterruptFollowedByALowReadingIsTwoLowsInARow) {
  script({kEdge, 0, 1});
  start();
  step();
  Seen seen = drain();
  EXPECT_EQ(seen.triggers, 1);
  EXPECT_EQ(seen.shortCuts, 0);
}

TEST_F(PowerCheck, EndsWhenTheRunFlagIsCleared) {
  ConsoleCapture console;
  start();
  info.run.store(0);
  board.advance(0.25);
  thread.join();
  EXPECT_NE(console.text().find("~PowerCheckThread() 2"), std::string::npos);
}

}  // namespace
