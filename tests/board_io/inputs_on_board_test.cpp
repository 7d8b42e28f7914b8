// The program's inputs on the board's real GPIO driver and models.
#include <atomic>
#include <cstdlib>
#include <semaphore.h>

#include "core/inputs.h"
#include "core/msg_pipe.h"
#include "core/threads.h"
#include "host_support/io_board.h"
#include "platform/sim/board.h"

namespace {

using testing_board::ConsoleCapture;
using testing_board::IoBoardTest;
using Button = sim::Tq90raBoard::Button;

class InputsOnBoard : public IoBoardTest {};

TEST_F(InputsOnBoard, ResetButtonHeldAtPowerOnIsSeenAndReleasedIsNot) {
  EXPECT_EQ(CheckResetButton(), 0);
  boot(true, true);
  EXPECT_EQ(CheckResetButton(), 1);
  io->setButton(Button::Reset, false);
  EXPECT_EQ(CheckResetButton(), 0);
  ASSERT_EQ(sim::kernel::rmmod("tq90ra_gpio"), 0);
  EXPECT_EQ(CheckResetButton(), 0);  // no driver: released
}

TEST_F(InputsOnBoard, TwoRecPressesGiveTwoTriggersStampedWithTheirTimes) {
  sem_t wake;
  ASSERT_EQ(sem_init(&wake, 0, 0), 0);
  MsgOpen();
  THREAD_INFO info{};
  info.number = 0;
  info.wake = &wake;
  info.run.store(1);
  std::atomic<bool> ended{false};
  std::thread thread([&] {
    trig_wait(&info);
    ended = true;
  });

  std::vector<int64_t> pressedAt;
  for (double wait : {1.5, 2.25}) {
    // The button thread waits in reads of at most 10 ticks: step tick by tick so that it is
    // always in one when the button goes down.
    for (int t = 0; t < static_cast<int>(wait * 100); ++t) {
      ASSERT_TRUE(waitingInKernel(1));
      ticks(1);
    }
    ASSERT_TRUE(waitingInKernel(1));
    pressedAt.push_back(sim::Clock::system());
    io->press(Button::Rec);
    for (int i = 0; i < 5000 && sem_trywait(&wake) != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  info.run.store(0);
  // The thread sees the flag at the end of its current read, which may start only after a first
  // batch of ticks on a slow machine: tick until it has ended.
  for (int i = 0; i < 6000 && !ended; ++i) {
    ticks(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(ended.load()) << "the button thread ends once its run flag is cleared";
  thread.join();

  for (int64_t at : pressedAt) {
    MsgRecord* m = nullptr;
    ASSERT_EQ(MsgRecv(&m, PIPE_CORE), 0);
    EXPECT_EQ(m->word[MSG_W_SENDER], MOD_REC_BUTTON);
    EXPECT_EQ(m->word[MSG_W_ID], MSG_TRIGGER);
    EXPECT_EQ(m->word[MSG_W_P2], TRIGGER_BUTTON);
    EXPECT_EQ(m->word[MSG_W_P0], static_cast<uint32_t>(at / sim::kNsPerSec));
    EXPECT_EQ(m->word[MSG_W_P1], static_cast<uint32_t>(at % sim::kNsPerSec / 1000));
    MsgDone(PIPE_CORE);
  }
  MsgRecord* extra = nullptr;
  EXPECT_NE(MsgRecv(&extra, PIPE_CORE), 0);  // the release is no press
  MsgClose();
  sem_destroy(&wake);
}

TEST_F(InputsOnBoard, AfterShutdownTheBoardRebootsOnceTheSupplyIsBack) {
  std::atomic<int> levelReads{0};
  sim::kernel::observeIoctl(241, 15, [&](unsigned, uintptr_t, long) { ++levelReads; });
  auto polled = [&](int reads, int reboots) {
    for (int i = 0; i < 5000; ++i) {
      if (levelReads.load() >= reads && sim::rebootCount() >= reboots && sim::Clock::sleepers() >= 1) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  };
  io->setSupply(false);
  ConsoleCapture console;
  auto reboots = std::async(std::launch::async, [] { return CheckPowerRecoveryPolls(4); });
  ASSERT_TRUE(polled(2, 0));  // the interrupt switched off, the first level read: low
  ticks(25);
  ASSERT_TRUE(polled(3, 0));  // low again
  io->setSupply(true);
  ticks(25);
  ASSERT_TRUE(polled(4, 1));  // high: reboot, the device closed
  ticks(25);
  ASSERT_TRUE(polled(4, 2));  // no level to read any more: the reboot is asked for again
  ticks(25);                  // the last poll's sleep
  EXPECT_EQ(reboots.get(), 2);
  EXPECT_EQ(levelReads.load(), 4);
  EXPECT_NE(console.text().find("Power is recoveried... REBOOT!!"), std::string::npos);
}

}  // namespace
