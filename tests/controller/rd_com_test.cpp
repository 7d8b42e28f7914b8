// The controller's commands and their answers on a scripted /dev/ttyS1: what goes out on the
// line, what reaches the supervisor on pipe 10, what is stored. The thread itself runs once with
// the clock stepped by hand.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <semaphore.h>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "core/msg_pipe.h"
#include "core/threads.h"
#include "platform/sim/clock.h"
#include "platform/sim/devices.h"
#include "serial/rd_com.h"
#include "serial/serial_port.h"
#include "support/host_files.h"
#include "support/pipe_records.h"
#include "support/test_board.h"
#include "support/test_card.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_board::drain;

// A terminal whose line the test plays: what the program writes is kept, what the test queues
// is read. A read with nothing queued gives 0 at once (the port's one-second wait ran out).
class ScriptedTerminal : public sim::DeviceNode {
 public:
  int open(int, std::unique_ptr<sim::DeviceFile>* file) override {
    *file = std::make_unique<File>(this);
    return 0;
  }
  void queue(const Bytes& b) {
    std::lock_guard<std::mutex> lock(mutex_);
    input_.push_back(b);
  }
  Bytes written() {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    written_.clear();
  }

 private:
  struct File : public sim::DeviceFile {
    explicit File(ScriptedTerminal* t) : t_(t) {}
    ssize_t read(void* buf, size_t count) override {
      std::lock_guard<std::mutex> lock(t_->mutex_);
      if (t_->input_.empty()) return 0;
      Bytes piece = t_->input_.front();  // one queued piece per read
      t_->input_.pop_front();
      size_t n = std::min(count, piece.size());
      memcpy(buf, piece.data(), n);
      return static_cast<ssize_t>(n);
    }
    ssize_t write(const void* buf, size_t count) override {
      std::lock_guard<std::mutex> lock(t_->mutex_);
      const auto* b = static_cast<const uint8_t*>(buf);
      t_->written_.insert(t_->written_.end(), b, b + count);
      return static_cast<ssize_t>(count);
    }
    int tcgetattr(struct termios* t) override {
      *t = {};
      return 0;
    }
    int tcsetattr(int, const struct termios*) override { return 0; }
    int tcflush(int) override { return 0; }
    ScriptedTerminal* t_;
  };

  std::mutex mutex_;
  std::deque<Bytes> input_;
  Bytes written_;
};

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes frame(uint8_t cmd, const Bytes& payload) {
  Bytes out(rd::kMaxFrame);
  out.resize(rd::buildFrame(cmd, payload.data(), payload.size(), out.data()));
  return out;
}

rd::Frame decoded(const Bytes& bytes) {
  rd::Frame f{};
  memcpy(f.bytes, bytes.data(), bytes.size());
  f.length = bytes.size();
  return f;
}

// A recording settings update: the defaults, with PRESIZE1 and the times as given.
Bytes recordingUpdate(uint16_t presize, uint8_t pre = 15, uint8_t post = 5) {
  return frame(rd::kCmdConfigUpdate, {0, 0, 2, pre, 0, post, 0, 10, 0, 10, 0, static_cast<uint8_t>(presize),
                                      static_cast<uint8_t>(presize >> 8), 64, 0, 4, 4});
}

class RdCom : public ::testing::Test {
 protected:
  void SetUp() override {
    while (MsgOpenCount() > 0) MsgClose();
    MsgOpen();
    sem_init(&g_thread_to_main, 0, 0);
    SetDefaultParameter(&gConfig);
    sim::addDeviceNode("/dev/ttyS1", terminal);
    info.number = RD_COM_THREAD_NUMBER;
    info.wake = &g_thread_to_main;
    info.run.store(1);
    info.config = &gConfig;
  }
  void TearDown() override {
    RdComSetPort(0);
    sim::removeDeviceNode("/dev/ttyS1");
    sem_destroy(&g_thread_to_main);
    while (MsgOpenCount() > 0) MsgClose();
  }
  void openPort() {
    struct termios saved;
    port = AllocComPort(1, SERIAL_9600, SERIAL_CS8, SERIAL_PARITY_NONE, SERIAL_STOP_1, &saved);
    ASSERT_GT(port, 0);
    RdComSetPort(port);
  }
  void handle(const Bytes& bytes) {
    rd::Frame f = decoded(bytes);
    RdComDispatch(&info, &f);
  }
  int posts() {
    int n = 0;
    while (sem_trywait(&g_thread_to_main) == 0) ++n;
    return n;
  }
  std::string setDat() { return testing_board::hostFileText(card.dir() + "/config/set.dat"); }

  testing_board::TestBoard tb;
  testing_board::TestCard card;
  std::shared_ptr<ScriptedTerminal> terminal = std::make_shared<ScriptedTerminal>();
  THREAD_INFO info{};
  int port = 0;
};

const Bytes kAck = {0xF0, 0x00, 0x0F, 0x01};
const Bytes kNack = {0xF0, 0x00, 0x0E, 0x02};
// The default settings as the two settings frames carry them.
const Bytes kRecordingDefaults = frame(rd::kRspSettings, {0, 1, 2, 15, 0, 5, 0, 10, 0, 10, 0, 64, 0, 64, 0, 4, 4});
const Bytes kGsensorDefaults = frame(rd::kRspSettings, {1, 9, 4, 0, 4, 0, 4, 0, 3, 2});

TEST_F(RdCom, DataRequestGivesTheAskedFramesInOrderAndNoAck) {
  openPort();
  tb.writeFile("/version", "VERSION=KVOX_1.2.3.RC4\n");
  handle(frame(rd::kCmdDataRequest, {0x01, 0x09}));
  Bytes version = {0xF0, 0x04, 0x03, 0x01, 0x02, 0x03, 0x04, 0xFF};
  EXPECT_EQ(terminal->written(), kRecordingDefaults + kGsensorDefaults + version);
  EXPECT_TRUE(drain(PIPE_CORE).empty());

  // A version named otherwise, or none at all, gives zeros.
  for (const char* line : {"RELEASE 1.2.3\n", ""}) {
    terminal->clear();
    if (*line) tb.writeFile("/version", line);
    else std::filesystem::remove(tb.host("/version"));
    handle(frame(rd::kCmdDataRequest, {0x00, 0x08}));
    EXPECT_EQ(terminal->written(), frame(rd::kRspVersion, {0, 0, 0, 0})) << line;
  }
}

TEST_F(RdCom, StatusRequestGoesToTheSupervisorAndEmptyFlagsAreRefused) {
  openPort();
  handle(frame(rd::kCmdDataRequest, {0x00, 0x02}));
  EXPECT_TRUE(terminal->written().empty()) << "the status frame follows the supervisor's reply";
  auto sent = drain(PIPE_CORE);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].word[MSG_W_SENDER], MOD_RD_COM);
  EXPECT_EQ(sent[0].word[MSG_W_ID], MSG_REQUEST_RECORD_STATUS);
  EXPECT_EQ(posts(), 1);

  handle(frame(rd::kCmdDataRequest, {0x00, 0x00}));
  EXPECT_EQ(terminal->written(), kNack);

  // A request of one flag byte: the checksum after it (7C here) is not read as byte 4, which
  // would ask for the version and the status too.
  terminal->clear();
  Bytes shortRequest = frame(rd::kCmdDataRequest, {0x01});
  ASSERT_EQ(shortRequest.back(), 0x7C);
  handle(shortRequest);
  EXPECT_EQ(terminal->written(), kRecordingDefaults);
  EXPECT_TRUE(drain(PIPE_CORE).empty());
}

TEST_F(RdCom, SettingsUpdateIsCheckedStoredAndAnnouncedWithoutAck) {
  openPort();
  handle(recordingUpdate(16));
  EXPECT_EQ(terminal->written(), kNack);
  EXPECT_EQ(gConfig.PRESIZE1.load(), 64);
  EXPECT_FALSE(std::filesystem::exists(card.dir() + "/config/set.dat"));
  EXPECT_TRUE(drain(PIPE_CORE).empty());

  terminal->clear();
  handle(recordingUpdate(32));
  EXPECT_TRUE(terminal->written().empty()) << "the settings frame follows the supervisor's reply";
  EXPECT_EQ(gConfig.PRESIZE1.load(), 32);
  EXPECT_NE(setDat().find("PRESIZE1=32\n"), std::string::npos);
  auto sent = drain(PIPE_CORE);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].word[MSG_W_ID], MSG_SET_NEW_CONFIG);
  EXPECT_EQ(sent[0].word[MSG_W_P0], 0u);
  EXPECT_EQ(posts(), 1);

  // G-sensor settings: a negative axis level and RECMOD 3 are refused, the rest stored.
  terminal->clear();
  handle(frame(rd::kCmdConfigUpdate, {1, 8, 0xFF, 0xFF, 4, 0, 4, 0, 7, 1}));
  handle(frame(rd::kCmdConfigUpdate, {1, 8, 4, 0, 4, 0, 4, 0, 7, 3}));
  EXPECT_EQ(terminal->written(), kNack + kNack);
  terminal->clear();
  handle(frame(rd::kCmdConfigUpdate, {1, 8, 2, 0, 8, 0, 0, 0, 7, 1}));
  EXPECT_TRUE(terminal->written().empty());
  EXPECT_EQ(gConfig.ACCSEN.load(), 8);
  EXPECT_EQ(gConfig.ACCSENX.load(), 2);
  EXPECT_EQ(gConfig.ACCSENY.load(), 8);
  EXPECT_EQ(gConfig.TRGSET.load(), 7);
  EXPECT_EQ(gConfig.RECMOD.load(), 1);
  sent = drain(PIPE_CORE);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].word[MSG_W_P0], 1u);
}

// In event recording the settings file keeps the times before and after a trigger only in some
// pairs; 10/10 needs 10 seconds after the trigger, more than the first limit of 5 allowed.
TEST_F(RdCom, TimesThatTheSettingsFileKeepsCanBeSet) {
  openPort();
  handle(recordingUpdate(64, 10, 11));
  EXPECT_EQ(terminal->written(), kNack);
  handle(recordingUpdate(64, 10, 10));
  EXPECT_EQ(terminal->written(), kNack) << "nothing more: the settings frame follows the supervisor's reply";
  SetDefaultParameter(&gConfig);
  ASSERT_EQ(ReadConfigFile(&gConfig), 0);  // as the supervisor re-reads it
  EXPECT_EQ(gConfig.PRERECTIME1.load(), 10);
  EXPECT_EQ(gConfig.POSTRECTIME1.load(), 10);
}

TEST_F(RdCom, SettingsUpdateWhoseLengthDoesNotMatchItsTypeIsRefused) {
  openPort();
  Bytes stale = recordingUpdate(32);  // leaves a whole type 0 update in the receive buffer
  Bytes payload17(stale.begin() + 3, stale.end() - 1);
  const std::vector<Bytes> wrong = {
      frame(rd::kCmdConfigUpdate, Bytes(payload17.begin(), payload17.begin() + 10)),  // type 0, LEN 10
      frame(rd::kCmdConfigUpdate, Bytes{0}),                                           // type 0, LEN 1
      frame(rd::kCmdConfigUpdate, Bytes(256, 0)),       // type 0, LEN 0: 256 bytes
      frame(rd::kCmdConfigUpdate, [&] { Bytes b = payload17; b[0] = 1; return b; }()),  // type 1, LEN 17
      frame(rd::kCmdConfigUpdate, {2, 0, 0}),                                           // no such type
  };
  for (const Bytes& f : wrong) {
    terminal->clear();
    handle(f);
    EXPECT_EQ(terminal->written(), kNack) << "LEN " << int(f[1]);
  }
  EXPECT_EQ(gConfig.PRESIZE1.load(), 64);
  EXPECT_TRUE(drain(PIPE_CORE).empty());
}

TEST_F(RdCom, UpdateThatCannotBeWrittenIsRefusedAndNotShared) {
  openPort();
  std::filesystem::remove_all(card.dir() + "/config");
  handle(recordingUpdate(32));
  EXPECT_EQ(terminal->written(), kNack);
  EXPECT_EQ(gConfig.PRESIZE1.load(), 64);
  EXPECT_TRUE(drain(PIPE_CORE).empty());
}

TEST_F(RdCom, ControlRequestTriggersOrPingsAndUnknownOnesAreNotAnswered) {
  openPort();
  tb.advance(0.25);
  handle(frame(rd::kCmdControlRequest, {0}));
  EXPECT_EQ(terminal->written(), kAck);
  auto sent = drain(PIPE_CORE);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].word[MSG_W_ID], MSG_TRIGGER);
  EXPECT_EQ(sent[0].word[MSG_W_SENDER], MOD_RD_COM);
  EXPECT_EQ(sent[0].word[MSG_W_P0], static_cast<uint32_t>(testing_board::kStartSecond));
  EXPECT_EQ(sent[0].word[MSG_W_P1], 250000u);
  EXPECT_EQ(sent[0].word[MSG_W_P2], TRIGGER_SERIAL);
  EXPECT_EQ(posts(), 1);

  terminal->clear();
  handle(frame(rd::kCmdControlRequest, {1}));
  EXPECT_EQ(terminal->written(), kAck);
  handle(frame(rd::kCmdControlRequest, {2}));
  handle(frame(0x55, {1, 2}));
  EXPECT_EQ(terminal->written(), kAck);
  EXPECT_TRUE(drain(PIPE_CORE).empty());
}

TEST_F(RdCom, SupervisorRepliesBecomeStatusAndSettingsFrames) {
  openPort();
  rd::RecordStatus status{};
  status.lastTriggerSecond.set(0x11223344);
  status.state = rd::kStateWriting | rd::kStateCharged;
  status.reserved5 = 0xAA;  // not sent
  status.freeMiB.set(3900);
  status.latestSequence.set(0x0102);
  status.reserved10[0] = 0xBB;
  MsgRecord reply = MsgMake(PIPE_RD_COM, MOD_CORE, MSG_RETURN);
  reply.word[MSG_W_ARG] = MSG_REQUEST_RECORD_STATUS;
  reply.block = &status;
  RdComHandleReply(&info, reply);
  EXPECT_EQ(terminal->written(),
            frame(rd::kRspStatus, {0x44, 0x33, 0x22, 0x11, 0x22, 0x3C, 0x0F, 0x02, 0x01, 0x00}));
  EXPECT_EQ(terminal->written().size(), 14u);

  terminal->clear();
  reply = MsgMake(PIPE_RD_COM, MOD_CORE, MSG_RETURN);
  reply.word[MSG_W_ARG] = MSG_SET_NEW_CONFIG;
  for (uint32_t type : {0u, 1u, 5u}) {
    reply.word[MSG_W_P0] = type;
    RdComHandleReply(&info, reply);
  }
  EXPECT_EQ(terminal->written(), kRecordingDefaults + kGsensorDefaults);
}

TEST_F(RdCom, ThreadAnswersAFrameThatArrivesInTwoReadsAndPassesRepliesOn) {
  std::thread t([&] { rd_com_thread(&info); });
  // Steps the clock a second at a time (the thread's pauses) until the condition holds.
  auto stepUntil = [&](auto done) {
    for (int i = 0; i < 30 && !done(); ++i) {
      ASSERT_TRUE(sim::Clock::waitForSleepers(1));
      tb.advance(1);
    }
  };
  stepUntil([&] { return RdComPort() > 0; });
  ASSERT_GT(RdComPort(), 0) << "the port opens after the start delay";

  Bytes request = frame(rd::kCmdDataRequest, {0x01, 0x00});
  terminal->queue({0x00, 0x17});  // line noise first
  terminal->queue(Bytes(request.begin(), request.begin() + 3));
  terminal->queue(Bytes(request.begin() + 3, request.end()));
  stepUntil([&] { return !terminal->written().empty(); });
  EXPECT_EQ(terminal->written(), kRecordingDefaults);

  terminal->clear();
  MsgRecord reply = MsgMake(PIPE_RD_COM, MOD_CORE, MSG_RETURN);
  reply.word[MSG_W_ARG] = MSG_SET_NEW_CONFIG;
  reply.word[MSG_W_P0] = 1;
  MsgSend(&reply, MSG_LENGTH);
  stepUntil([&] { return !terminal->written().empty(); });
  EXPECT_EQ(terminal->written(), kGsensorDefaults);

  info.run.store(0);
  auto ended = std::async(std::launch::async, [&] { t.join(); });
  while (ended.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) tb.advance(1);
  EXPECT_EQ(RdComPort(), 0);
}

}  // namespace
