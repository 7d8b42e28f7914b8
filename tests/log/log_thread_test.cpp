// The log thread's passes, driven step by step, and the thread itself on a hand-stepped clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/globals.h"
#include "core/msg_pipe.h"
#include "core/msg_send.h"
#include "core/le_field.h"
#include "gps/nmea_codec.h"
#include "log/log_thread.h"
#include "platform/platform.h"
#include "platform/sim/clock.h"
#include "support/test_board.h"

namespace {

namespace fs = std::filesystem;
using testing_board::ConsoleCapture;
using testing_board::kStartSecond;
using testing_board::TestBoard;

constexpr time_t k135959 = kStartSecond + 13 * 3600 + 59 * 60 + 59;

void sendG(int16_t x, int16_t y, int16_t z, time_t when) {
  struct timeval tv = {when, 250000};
  ASSERT_EQ(SendMsgGValues(PIPE_LOG_GSNR, x, y, z, &tv), 0);
}

void sendRaw(uint32_t pipe, uint32_t id, uint32_t protocol, void* block) {
  MsgRecord r = MsgMake(pipe, MOD_GPS, id);
  r.word[MSG_W_P0] = protocol;
  r.block = block;
  ASSERT_EQ(MsgSend(&r, MSG_LENGTH), 0);
}

// A UBX record at the given position and UTC time, with a 3-D fix and five satellites.
GpsFixRecord ubxAt(int32_t lat, int32_t lon, int hour, int minute, int second) {
  GpsFixRecord r{};
  uint8_t* pos = ubxfix::payload(r, ubxfix::kPosllh);
  le::put32(pos + ubxfix::posllh::lat, static_cast<uint32_t>(lat));
  le::put32(pos + ubxfix::posllh::lon, static_cast<uint32_t>(lon));
  ubxfix::payload(r, ubxfix::kStatus)[ubxfix::status::gpsFix] = 3;
  le::put32(ubxfix::payload(r, ubxfix::kVelned) + ubxfix::velned::gSpeed, 1000);
  uint8_t* t = ubxfix::payload(r, ubxfix::kTimeutc);
  le::put16(t + ubxfix::timeutc::year, 2026);
  t[ubxfix::timeutc::month] = 1;
  t[ubxfix::timeutc::day] = 1;
  t[ubxfix::timeutc::hour] = static_cast<uint8_t>(hour);
  t[ubxfix::timeutc::min] = static_cast<uint8_t>(minute);
  t[ubxfix::timeutc::sec] = static_cast<uint8_t>(second);
  le::put16(r.bytes + ubxfix::kSvinfo + 4, 8 + 12 * 5);
  uint8_t* sv = ubxfix::payload(r, ubxfix::kSvinfo);
  sv[4] = 5;
  for (int i = 0; i < 5; ++i) sv[8 + 12 * i + 1] = static_cast<uint8_t>(i + 3);
  return r;
}

void sendUbx(const GpsFixRecord& fix) {
  void* block = malloc(sizeof fix);
  memcpy(block, &fix, sizeof fix);
  sendRaw(PIPE_LOG_GPS, MSG_GPS_DATA, GPS_PROTO_UBX, block);
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    out.push_back(text.substr(start, end - start));
  return out;
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class LogThreadTest : public ::testing::Test {
 protected:
  LogThreadTest() {
    board.mkdirs("/mnt/log/log");
    gSDFailed.store(0);
    MsgOpen();
    s.store = logOpen("/mnt/log", 0);
    MgrInit(&s.encoder, nullptr, GPS_PROTO_NMEA, 0);
  }
  ~LogThreadTest() override {
    logClose(s.store);
    for (int p : {PIPE_LOG, PIPE_LOG_GPS, PIPE_LOG_GSNR}) MsgClear(p);
    MsgClose();
    gSDFailed.store(0);
  }

  // One pass of the thread's loop as far as the pipes hold records: entries for every G value.
  void pass(time_t passTime) {
    logTakeControl(s);
    for (;;) {
      bool gps = logTakeGps(s);
      time_t when = 0;
      int g = logTakeGValues(s, &when);
      if (g == 0 && !gps) break;
      if (g > 0) logWriteEntry(s, when, passTime);
    }
  }
  std::vector<std::string> files() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(board.host("/mnt/log/log"))) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }
  std::string file(const std::string& name) const { return board.readFile("/mnt/log/log/" + name); }

  TestBoard board;
  LogThreadState s;
};

TEST_F(LogThreadTest, NothingIsWrittenBeforeTheCapacitorIsCharged) {
  sendUbx(ubxAt(356000000, 1397000000, 4, 59, 58));
  sendG(1, 2, 3, k135959 - 1);
  pass(k135959 - 1);
  EXPECT_EQ(MsgPipeDepth(PIPE_LOG_GPS), 0);
  EXPECT_EQ(MsgPipeDepth(PIPE_LOG_GSNR), 0);
  EXPECT_TRUE(files().empty());
  EXPECT_EQ(nmeaRecords(s.fix).gga.ns, 'N');  // the fix was kept all the same
  ASSERT_EQ(SendMsgSuperCapCharged(PIPE_LOG), 0);
  sendG(4, 5, 6, k135959);
  pass(k135959);
  ASSERT_EQ(files().size(), 1u);
  std::vector<std::string> lines = linesOf(file(files()[0]));
  ASSERT_EQ(lines.size(), 5u);  // GGA, two GSV (five satellites), RMC, KVOXL
}

TEST_F(LogThreadTest, EntriesAt135959And140000GoToTwoFiles) {
  SendMsgSuperCapCharged(PIPE_LOG);
  sendG(12, -3, 1000, k135959);
  pass(k135959);
  sendG(13, -4, 1001, k135959 + 1);
  pass(k135959);  // the pass began in the second before: the entry's own time decides
  std::vector<std::string> names = files();
  ASSERT_EQ(names, (std::vector<std::string>{"0000000001,2026.01.01,13.59.59.log", "0000000002,2026.01.01,14.00.00.log"}));
  std::string first = file(names[0]);
  std::string second = file(names[1]);
  // Before any fix an entry is the KVOXL sentence alone.
  ASSERT_EQ(linesOf(first).size(), 1u);
  EXPECT_EQ(linesOf(first)[0].rfind("$KVOXL,1,1,12,-3,1000,135959,010126,,,,*", 0), 0u) << first;
  EXPECT_EQ(linesOf(second)[0].rfind("$KVOXL,1,1,13,-4,1001,140000,010126,,,,*", 0), 0u) << second;
  // The first file was closed and counted when the second began.
  EXPECT_EQ(s.store->used, 1);
}

TEST_F(LogThreadTest, AFixIsWrittenAsSentencesBeforeTheGValues) {
  SendMsgSuperCapCharged(PIPE_LOG);
  sendUbx(ubxAt(-338688000, 1512093000, 3, 59, 59));
  sendG(7, 8, 9, k135959);
  pass(k135959);
  std::vector<std::string> lines = linesOf(file(files().at(0)));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].rfind("$GPGGA,035959,3352.1280,S,15112.5580,E,1,00,", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("$GPGSV,2,1,05,03,", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2].rfind("$GPGSV,2,2,05,07,", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3].rfind("$GPRMC,035959,A,3352.1280,S,15112.5580,E,19.4,0.0,010126,,E,*", 0), 0u) << lines[3];
  EXPECT_EQ(lines[4].rfind("$KVOXL,1,1,7,8,9,", 0), 0u) << lines[4];
  for (const std::string& l : lines) {
    char sum[3];
    snprintf(sum, sizeof sum, "%02X", MakeCheckSum(l.c_str(), static_cast<int>(l.size())));
    EXPECT_EQ(l.substr(l.size() - 2), sum) << l;
  }
}

TEST_F(LogThreadTest, BeforeTheFirstFixTheEntriesAreTheGValuesAlone) {
  SendMsgSuperCapCharged(PIPE_LOG);
  GpsFixRecord noFix = ubxAt(0, 0, 0, 0, 43);  // a receiver still counting from 1980
  ubxfix::payload(noFix, ubxfix::kStatus)[ubxfix::status::gpsFix] = 0;
  sendUbx(noFix);
  sendG(1, 1, 1, k135959);
  pass(k135959);
  sendUbx(ubxAt(356000000, 1397000000, 4, 59, 59));
  sendG(2, 2, 2, k135959 + 1);
  pass(k135959 + 1);
  GpsFixRecord lost = ubxAt(356000000, 1397000000, 5, 0, 0);
  ubxfix::payload(lost, ubxfix::kStatus)[ubxfix::status::gpsFix] = 0;
  sendUbx(lost);  // once there was a fix, its loss is logged
  sendG(3, 3, 3, k135959 + 2);
  pass(k135959 + 2);
  std::vector<std::string> first = linesOf(file(files().at(0)));
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].rfind("$KVOXL,1,1,1,1,1,", 0), 0u);
  std::vector<std::string> later = linesOf(file(files().at(1)));
  ASSERT_EQ(later.size(), 10u);
  EXPECT_EQ(later[3].rfind("$GPRMC,045959,A,", 0), 0u) << later[3];
  EXPECT_EQ(later[8].rfind("$GPRMC,050000,V,", 0), 0u) << later[8];
}

TEST_F(LogThreadTest, MessagesOfTheWrongKindAreTracedAndDropped) {
  SendMsgSuperCapCharged(PIPE_LOG);
  ConsoleCapture console;
  sendRaw(PIPE_LOG_GSNR, 102, 0, nullptr);
  time_t when = 0;
  EXPECT_EQ(logTakeGValues(s, &when), -1);
  EXPECT_EQ(MsgPipeDepth(PIPE_LOG_GSNR), 0);
  // GPS messages: another id, no block, an unknown layout. None changes the record.
  sendRaw(PIPE_LOG_GPS, 5, GPS_PROTO_UBX, malloc(GPS_FIX_RECORD_SIZE));
  sendRaw(PIPE_LOG_GPS, MSG_GPS_DATA, GPS_PROTO_UBX, nullptr);
  void* unknown = calloc(1, GPS_FIX_RECORD_SIZE);
  memset(unknown, 0x55, GPS_FIX_RECORD_SIZE);
  sendRaw(PIPE_LOG_GPS, MSG_GPS_DATA, 7, unknown);
  pass(k135959);
  std::string out = console.text();
  EXPECT_NE(out.find("@@ invalid gsnr msgid 102"), std::string::npos);
  EXPECT_NE(out.find("@@ invalid gps msgid 5"), std::string::npos);
  EXPECT_EQ(MsgPipeDepth(PIPE_LOG_GPS), 0);
  GpsFixRecord zero{};
  EXPECT_EQ(memcmp(&s.fix, &zero, sizeof zero), 0);
  EXPECT_TRUE(files().empty());  // no G values, no entry
}

TEST_F(LogThreadTest, AFailingCardIsReportedOnceAndNothingMoreIsWritten) {
  SendMsgSuperCapCharged(PIPE_LOG);
  sendG(1, 1, 1, k135959);
  pass(k135959);
  ASSERT_EQ(files().size(), 1u);
  fs::remove_all(board.host("/mnt/log/log"));  // the card's directory is gone
  ConsoleCapture console;
  sendG(2, 2, 2, k135959 + 1);  // a new hour: a new file is needed and cannot be made
  pass(k135959 + 1);
  EXPECT_EQ(gSDFailed.load(), 1);
  for (int i = 2; i < 5; ++i) {
    sendG(3, 3, 3, k135959 + i);
    pass(k135959 + i);
  }
  std::string out = console.text();
  EXPECT_NE(out.find("ERROR : Files have not opened"), std::string::npos);
  EXPECT_EQ(count(out, "/dev/tima0"), 1) << out;  // sdfailure shown once
  EXPECT_EQ(count(out, "File Open"), 1) << out;
  EXPECT_EQ(MsgPipeDepth(PIPE_LOG_GSNR), 0);  // still read
}

TEST_F(LogThreadTest, AFailedWriteMarksTheCard) {
  SendMsgSuperCapCharged(PIPE_LOG);
  sendG(1, 1, 1, k135959);
  pass(k135959);
  ASSERT_GE(s.store->fd, 0);
  // The file is open for reading only under the store: the next write fails.
  int readOnly = plat::open(("/mnt/log/log/" + files().at(0)).c_str(), O_RDONLY);
  ASSERT_GE(readOnly, 0);
  plat::close(s.store->fd);
  s.store->fd = readOnly;
  ConsoleCapture console;
  sendG(2, 2, 2, k135959);
  pass(k135959);
  EXPECT_NE(console.text().find("Failed to logWrite()"), std::string::npos);
  EXPECT_EQ(gSDFailed.load(), 1);
}

TEST_F(LogThreadTest, TheStatisticsLineCountsLinesAndAverageBytes) {
  SendMsgSuperCapCharged(PIPE_LOG);
  ConsoleCapture console;
  // A second no other test uses: the statistics are kept for the life of the process.
  sendG(1, 1, 1, k135959 + 7200);
  sendG(1, 1, 1, k135959 + 7200);
  pass(k135959 + 7200);  // one line at the pass's first entry, the second is counted
  sendG(1, 1, 1, k135959 + 7201);
  pass(k135959 + 7201);
  std::string out = console.text();
  EXPECT_NE(out.find("[20260101,15:59:59|LOG] ("), std::string::npos) << out;
  // Two KVOXL lines of 39 bytes since the line before.
  EXPECT_NE(out.find("[20260101,16:00:00|LOG] (2,39)\n"), std::string::npos) << out;
}

// The thread itself: started, fed, stopped; the clock is moved on while it polls.
TEST(LogThreadRun, LogsEachSecondAndClosesItsFileAtTheEnd) {
  TestBoard board;
  board.mkdirs("/mnt/log/log");
  gSDFailed.store(0);
  MsgOpen();
  THREAD_INFO info{};
  info.number = 4;
  info.run.store(1);
  ConsoleCapture console;
  // Queued before the thread starts: its first pass takes the announcement, then the G values.
  SendMsgSuperCapCharged(PIPE_LOG);
  for (int i = 0; i < 3; ++i) sendG(static_cast<int16_t>(i), 0, 1000, k135959 + i);
  std::atomic<bool> ended{false};
  std::thread t([&] {
    log_thread(&info);
    ended.store(true);
  });
  // The clock is moved on while the thread polls, until it has written (and, after the stop,
  // until it has ended): each wait has a limit of its own, so a slow machine never leaves the
  // thread asleep on a clock that nobody moves.
  std::string path = "/mnt/log/log/0000000002,2026.01.01,14.00.00.log";
  auto stepUntil = [&](const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(45);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      board.advance(0.1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
  };
  EXPECT_TRUE(stepUntil([&] { return MsgPipeDepth(PIPE_LOG_GSNR) == 0 && board.exists(path); }));
  info.run.store(0);
  if (!stepUntil([&] { return ended.load(); })) {
    t.detach();
    FAIL() << "the log thread did not end";
  }
  t.join();
  MsgClose();
  EXPECT_EQ(linesOf(board.readFile("/mnt/log/log/0000000001,2026.01.01,13.59.59.log")).size(), 1u);
  EXPECT_EQ(linesOf(board.readFile(path)).size(), 2u);  // and nothing repeated at the end
  std::string out = console.text();
  EXPECT_NE(out.find("Start LOG Loop"), std::string::npos);
  EXPECT_NE(out.find("End LOG Loop"), std::string::npos);
}

}  // namespace
