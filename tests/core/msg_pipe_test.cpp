#include "core/msg_pipe.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// Each test registers one user and releases every pipe at its end.
class MsgPipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    while (MsgOpenCount() > 0) MsgClose();
    MsgOpen();
  }
  void TearDown() override {
    while (MsgOpenCount() > 0) MsgClose();
  }
  static int send(uint32_t pipe, uint32_t sender, uint32_t id, uint32_t payload = 0, void* block = nullptr) {
    MsgRecord r = MsgMake(pipe, sender, id);
    r.word[MSG_W_P0] = payload;
    r.block = block;
    return MsgSend(&r, MSG_LENGTH);
  }
  static size_t heapInUse() { return mallinfo2().uordblks; }
};

bool underSanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#else
  return false;
#endif
}

TEST_F(MsgPipeTest, RecvSeesTheHeadInPlaceUntilDone) {
  MsgRecord* r = nullptr;
  EXPECT_EQ(MsgRecv(&r, 20), -1) << "a pipe never sent to is empty";
  EXPECT_EQ(MsgDone(20), -1) << "and does not exist";

  ASSERT_EQ(send(20, MOD_CORE, MSG_TRIGGER, 7), 0);
  MsgRecord* first = nullptr;
  MsgRecord* again = nullptr;
  ASSERT_EQ(MsgRecv(&first, 20), 0);
  ASSERT_EQ(MsgRecv(&again, 20), 0);
  EXPECT_EQ(first, again) << "the record stays queued and is read in place";
  EXPECT_EQ(first->word[MSG_W_PIPE], 20u);
  EXPECT_EQ(first->word[MSG_W_SENDER], MOD_CORE);
  EXPECT_EQ(first->word[MSG_W_ID], MSG_TRIGGER);
  EXPECT_EQ(first->word[MSG_W_P0], 7u);
  EXPECT_EQ(first->word[MSG_W_ARG], 0u);

  EXPECT_EQ(MsgDone(20), 0);
  EXPECT_EQ(MsgRecv(&r, 20), -1);
  EXPECT_EQ(MsgDone(20), 0) << "an empty but existing pipe";
}

TEST_F(MsgPipeTest, RecordsLeaveEachPipeInOrderWithoutMixingPipes) {
  for (uint32_t i = 1; i <= 5; ++i) {
    ASSERT_EQ(send(21, MOD_GPS, MSG_GPS_DATA, i), 0);
    ASSERT_EQ(send(22, MOD_GSNR, MSG_GSNR_DATA, 100 + i), 0);
  }
  for (uint32_t i = 1; i <= 5; ++i) {
    MsgRecord* r = nullptr;
    ASSERT_EQ(MsgRecv(&r, 22), 0);
    EXPECT_EQ(r->word[MSG_W_P0], 100 + i);
    MsgDone(22);
  }
  for (uint32_t i = 1; i <= 5; ++i) {
    MsgRecord* r = nullptr;
    ASSERT_EQ(MsgRecv(&r, 21), 0);
    EXPECT_EQ(r->word[MSG_W_P0], i);
    MsgDone(21);
  }
}

TEST_F(MsgPipeTest, DepthCountsTheRecordsWaitingUntilTheLastClose) {
  EXPECT_EQ(MsgPipeDepth(30), -1) << "never used";
  EXPECT_EQ(MsgPipeDepth(-1), -1);
  EXPECT_EQ(MsgPipeDepth(MSG_PIPE_COUNT), -1);
  for (uint32_t i = 0; i < 3; ++i) ASSERT_EQ(send(30, MOD_GSNR, MSG_GSNR_DATA, i), 0);
  EXPECT_EQ(MsgPipeDepth(30), 3);
  MsgDone(30);
  EXPECT_EQ(MsgPipeDepth(30), 2);
  MsgClear(30);
  EXPECT_EQ(MsgPipeDepth(30), 0) << "empty, but the pipe exists";
  MsgClose();
  EXPECT_EQ(MsgPipeDepth(30), -1) << "released with the last user";
}

TEST_F(MsgPipeTest, ShortLengthCopiesOnlyThatMuchAndZeroesTheRest) {
  MsgRecord r = MsgMake(30, MOD_CORE, MSG_SUPER_CAP_CHARGED);
  r.word[MSG_W_P0] = 99;
  ASSERT_EQ(MsgSend(&r, 3 * sizeof(uint32_t)), 0);
  MsgRecord* got = nullptr;
  ASSERT_EQ(MsgRecv(&got, 30), 0);
  EXPECT_EQ(got->word[MSG_W_ID], MSG_SUPER_CAP_CHARGED);
  EXPECT_EQ(got->word[MSG_W_P0], 0u);
  EXPECT_EQ(MsgSend(&r, MSG_LENGTH + 1), -1) << "longer than a record";
}

TEST_F(MsgPipeTest, DoneFreesTheAttachedBlockAndClearEmptiesThePipe) {
  const size_t big = 64 * 1024;
  size_t before = heapInUse();
  ASSERT_EQ(send(31, MOD_GPS, MSG_GPS_DATA, 0, malloc(big)), 0);
  ASSERT_EQ(send(31, MOD_GPS, MSG_GPS_DATA, 0, nullptr), 0);
  ASSERT_EQ(send(31, MOD_GPS, MSG_GPS_DATA, 0, malloc(big)), 0);
  if (!underSanitizer()) {
    EXPECT_GE(heapInUse(), before + 2 * big);
  }

  EXPECT_EQ(MsgDone(31), 0);
  if (!underSanitizer()) {
    EXPECT_LT(heapInUse(), before + 2 * big) << "the first block is freed by its MsgDone";
  }
  EXPECT_EQ(MsgClear(31), 0);
  MsgRecord* r = nullptr;
  EXPECT_EQ(MsgRecv(&r, 31), -1);
  if (!underSanitizer()) {
    EXPECT_LT(heapInUse(), before + big) << "every attached block is freed";
  }
}

TEST_F(MsgPipeTest, OnlyTheLastCloseReleasesThePipes) {
  MsgOpen();
  MsgOpen();  // three users now
  ASSERT_EQ(send(10, MOD_GSNR, MSG_TRIGGER), 0);
  ASSERT_EQ(send(127, MOD_CORE, MSG_TERMINATE, 0, malloc(16)), 0);
  ASSERT_EQ(send(0, MOD_CORE, MSG_TERMINATE), 0);
  EXPECT_EQ(MsgClose(), 0);
  EXPECT_EQ(MsgClose(), 0);
  MsgRecord* r = nullptr;
  EXPECT_EQ(MsgRecv(&r, 10), 0) << "two closes of three users release nothing";
  EXPECT_EQ(MsgClose(), 0);
  EXPECT_EQ(MsgOpenCount(), 0);
  for (int pipe : {0, 10, 127}) EXPECT_EQ(MsgRecv(&r, pipe), -1) << "pipe " << pipe << " is released";
  EXPECT_EQ(MsgClose(), 0) << "closing with no user does nothing";
  EXPECT_EQ(MsgOpenCount(), 0);
}

TEST_F(MsgPipeTest, PipeNumbersOutsideTheTableAreRefused) {
  EXPECT_EQ(send(128, MOD_CORE, MSG_TRIGGER), -1);
  MsgRecord* r = nullptr;
  testing::internal::CaptureStdout();
  EXPECT_EQ(MsgRecv(&r, 128), -1);
  EXPECT_EQ(MsgDone(128), -1);
  EXPECT_EQ(MsgClear(128), -1);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("MSG_____"), std::string::npos);
  EXPECT_NE(out.find("can't open more msg"), std::string::npos);
}

// Many senders on pipe 10 (as on the board) while its one reader drains it: every record
// arrives once, in each sender's order, and every attached block is freed exactly once.
TEST_F(MsgPipeTest, ConcurrentSendersKeepOrderPerSender) {
  constexpr int kSenders = 6;
  constexpr uint32_t kPerSender = 2000;
  std::atomic<int> started{0};
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s) {
    senders.emplace_back([&, s] {
      MsgOpen();
      started.fetch_add(1);
      while (started.load() < kSenders) std::this_thread::yield();
      for (uint32_t i = 0; i < kPerSender; ++i) {
        void* block = (i % 3 == 0) ? malloc(24) : nullptr;
        while (send(10, static_cast<uint32_t>(s), MSG_TRIGGER, i, block) != 0) std::this_thread::yield();
      }
      MsgClose();
    });
  }
  std::vector<uint32_t> next(kSenders, 0);
  uint32_t received = 0;
  while (received < kSenders * kPerSender) {
    MsgRecord* r = nullptr;
    if (MsgRecv(&r, 10) != 0) {
      std::this_thread::yield();
      continue;
    }
    uint32_t sender = r->word[MSG_W_SENDER];
    ASSERT_LT(sender, static_cast<uint32_t>(kSenders));
    ASSERT_EQ(r->word[MSG_W_P0], next[sender]) << "sender " << sender << " out of order";
    ++next[sender];
    ++received;
    MsgDone(10);
  }
  for (auto& t : senders) t.join();
  MsgRecord* r = nullptr;
  EXPECT_EQ(MsgRecv(&r, 10), -1);
}

// The first sends to a pipe number race to create its header; none of them may be lost.
TEST_F(MsgPipeTest, TwoFirstSendersShareOnePipe) {
  for (int round = 0; round < 200; ++round) {
    const int pipe = 40 + round % 80;
    std::atomic<bool> go{false};
    std::thread a([&] {
      while (!go.load()) {}
      send(static_cast<uint32_t>(pipe), 1, MSG_TRIGGER);
    });
    std::thread b([&] {
      while (!go.load()) {}
      send(static_cast<uint32_t>(pipe), 2, MSG_TRIGGER);
    });
    go.store(true);
    a.join();
    b.join();
    int count = 0;
    MsgRecord* r = nullptr;
    while (MsgRecv(&r, pipe) == 0) {
      ++count;
      MsgDone(pipe);
    }
    ASSERT_EQ(count, 2) << "round " << round;
    // Release every pipe so the next round creates its header afresh.
    while (MsgOpenCount() > 0) MsgClose();
    MsgOpen();
  }
}

}  // namespace
