// The GPS worker's handling of a completed record: the clock rule and the two data messages.
#include "gps/gps_thread.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "core/globals.h"
#include "core/le_field.h"
#include "core/msg_pipe.h"
#include "support/test_board.h"

using namespace gpsthread;

namespace {

struct Sent {
  MsgRecord r;
  std::vector<uint8_t> block;
};

std::vector<Sent> take(int pipe) {
  std::vector<Sent> out;
  MsgRecord* r = nullptr;
  while (MsgRecv(&r, pipe) == 0) {
    Sent s{*r, {}};
    if (r->block) {
      const uint8_t* b = static_cast<const uint8_t*>(r->block);
      s.block.assign(b, b + GPS_FIX_RECORD_SIZE);
    }
    out.push_back(s);
    MsgDone(pipe);
  }
  return out;
}

constexpr time_t kNow = 1767225600;  // 2026-01-01 00:00:00 UTC

void setUbx(GpsFixRecord& r, uint8_t gpsFix, int year, time_t at) {
  struct tm tm;
  gmtime_r(&at, &tm);
  r.bytes[ubxfix::kStatus + 3] = 0x03;
  ubxfix::payload(r, ubxfix::kStatus)[ubxfix::status::gpsFix] = gpsFix;
  uint8_t* t = ubxfix::payload(r, ubxfix::kTimeutc);
  le::put16(t + ubxfix::timeutc::year, static_cast<uint16_t>(year < 0 ? tm.tm_year + 1900 : year));
  t[ubxfix::timeutc::month] = static_cast<uint8_t>(tm.tm_mon + 1);
  t[ubxfix::timeutc::day] = static_cast<uint8_t>(tm.tm_mday);
  t[ubxfix::timeutc::hour] = static_cast<uint8_t>(tm.tm_hour);
  t[ubxfix::timeutc::min] = static_cast<uint8_t>(tm.tm_min);
  t[ubxfix::timeutc::sec] = static_cast<uint8_t>(tm.tm_sec);
}

class GpsThreadRecord : public ::testing::Test {
 protected:
  void SetUp() override {
    MsgOpen();
    sem_init(&wake, 0, 0);
    gSDFailed.store(0);
    for (int p : {PIPE_CORE, PIPE_RECORD_GPS, PIPE_LOG_GPS}) MsgClear(p);
  }
  void TearDown() override {
    for (int p : {PIPE_CORE, PIPE_RECORD_GPS, PIPE_LOG_GPS}) MsgClear(p);
    gSDFailed.store(0);
    sem_destroy(&wake);
    MsgClose();
  }
  int posts() {
    int n = 0;
    while (sem_trywait(&wake) == 0) ++n;
    return n;
  }
  void complete(time_t systemSecond) {
    struct timeval now = {systemSecond, 250000};
    onCompletedRecord(s, now, &wake);
  }
  State s;
  sem_t wake;
};

}  // namespace

TEST_F(GpsThreadRecord, TenSecondsAheadSetsTheClockOnceThenOnlyDataGoesOut) {
  setUbx(s.fix, 3, 2026, kNow + 10);
  complete(kNow);
  auto core = take(PIPE_CORE);
  ASSERT_EQ(core.size(), 1u);
  EXPECT_EQ(core[0].r.word[MSG_W_SENDER], MOD_GPS);
  EXPECT_EQ(core[0].r.word[MSG_W_ID], MSG_SET_GPS_TIME);
  EXPECT_EQ(core[0].r.word[MSG_W_P0], static_cast<uint32_t>(kNow + 10));
  EXPECT_EQ(core[0].r.block, nullptr);
  EXPECT_EQ(posts(), 1);
  EXPECT_TRUE(s.clockSet);
  for (int pipe : {PIPE_RECORD_GPS, PIPE_LOG_GPS}) {
    auto data = take(pipe);
    ASSERT_EQ(data.size(), 1u) << pipe;
    EXPECT_EQ(data[0].r.word[MSG_W_ID], MSG_GPS_DATA);
    EXPECT_EQ(data[0].r.word[MSG_W_P0], 0u);
    EXPECT_EQ(data[0].r.word[MSG_W_P3], static_cast<uint32_t>(kNow));
    EXPECT_EQ(data[0].r.word[MSG_W_P4], 250000u);
    EXPECT_EQ(0, memcmp(data[0].block.data(), s.fix.bytes, GPS_FIX_RECORD_SIZE));
  }
  // The clock drifts again: no second setting.
  setUbx(s.fix, 3, 2026, kNow + 100);
  complete(kNow + 1);
  EXPECT_TRUE(take(PIPE_CORE).empty());
  EXPECT_EQ(posts(), 0);
  EXPECT_EQ(take(PIPE_RECORD_GPS).size(), 1u);
  EXPECT_EQ(take(PIPE_LOG_GPS).size(), 1u);
}

TEST_F(GpsThreadRecord, WithinTwoSecondsNothingIsSetAndTheCheckComesAgain) {
  setUbx(s.fix, 3, 2026, kNow + 2);
  complete(kNow);
  setUbx(s.fix, 2, -1, kNow - 2);
  complete(kNow);
  EXPECT_TRUE(take(PIPE_CORE).empty());
  EXPECT_FALSE(s.clockSet);
  setUbx(s.fix, 2, -1, kNow - 3);  // three seconds behind counts as well
  complete(kNow);
  EXPECT_EQ(take(PIPE_CORE).size(), 1u);
  EXPECT_EQ(take(PIPE_RECORD_GPS).size(), 3u);
}

TEST_F(GpsThreadRecord, TimeOnlyFixAndYear2050DoNotSetTheClockButRecordsGoOut) {
  setUbx(s.fix, 5, 2010, kNow + 50);
  complete(kNow);
  GpsTime t = ubxTime(s.fix);
  EXPECT_TRUE(t.valid);
  EXPECT_FALSE(t.mayClock);
  setUbx(s.fix, 0, 2050, kNow + 50);
  EXPECT_FALSE(ubxTime(s.fix).valid);
  complete(kNow);
  setUbx(s.fix, 0, 2049, kNow + 50);
  EXPECT_TRUE(ubxTime(s.fix).valid);
  EXPECT_TRUE(take(PIPE_CORE).empty());
  EXPECT_EQ(take(PIPE_RECORD_GPS).size(), 2u);
  EXPECT_EQ(take(PIPE_LOG_GPS).size(), 2u);
}

TEST_F(GpsThreadRecord, UtcFieldsGiveUtcSecondsWhateverTheZone) {
  const char* old = getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "JST-9", 1);
  tzset();
  setUbx(s.fix, 3, 2026, kNow + 10);
  EXPECT_EQ(ubxTime(s.fix).seconds, kNow + 10);
  if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
}

TEST_F(GpsThreadRecord, CardFailurePostsNothingAtAll) {
  gSDFailed.store(1);
  setUbx(s.fix, 3, 2026, kNow + 10);
  complete(kNow);
  s.candidate = GPS_PROTO_FURUNO;
  furuno(s.fix).timeStatus = 3;
  complete(kNow);
  EXPECT_TRUE(take(PIPE_CORE).empty());
  EXPECT_TRUE(take(PIPE_RECORD_GPS).empty());
  EXPECT_TRUE(take(PIPE_LOG_GPS).empty());
  EXPECT_EQ(posts(), 0);
  EXPECT_FALSE(s.clockSet);
}

TEST_F(GpsThreadRecord, FurunoIntegersAndClockWithoutPosition) {
  s.candidate = s.reported = GPS_PROTO_FURUNO;
  FurunoFix& f = furuno(s.fix);
  f.latitudeDeg.set(-35.5);
  f.longitudeDeg.set(139.76543219);
  f.timeStatus = 0;
  f.year = 26;  // 2026: valid by its year alone
  f.month = 1;
  f.day = 1;
  f.minute = 1;  // 60 s ahead
  complete(kNow);
  EXPECT_EQ(f.latitude.get(), -355000000);
  EXPECT_EQ(f.longitude.get(), 1397654321);
  auto core = take(PIPE_CORE);
  ASSERT_EQ(core.size(), 1u);
  EXPECT_EQ(core[0].r.word[MSG_W_P0], static_cast<uint32_t>(kNow + 60));
  auto data = take(PIPE_RECORD_GPS);
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0].r.word[MSG_W_P0], 1u);
  EXPECT_EQ(static_cast<int32_t>(le::get32(data[0].block.data() + 3)), -355000000);
  // Doubles out of range never make an undefined integer.
  f.latitudeDeg.set(1e12);
  f.longitudeDeg.set(-1e12);
  fillFurunoIntegers(s.fix);
  EXPECT_EQ(f.latitude.get(), INT32_MAX);
  EXPECT_EQ(f.longitude.get(), INT32_MIN);
}

TEST_F(GpsThreadRecord, FurunoTimeNeedsStatusBitsOrAYearAfter2008) {
  FurunoFix& f = furuno(s.fix);
  f.year = 8;
  f.month = 1;
  f.day = 1;
  EXPECT_FALSE(furunoTime(s.fix).valid);
  f.timeStatus = 0x02;
  EXPECT_TRUE(furunoTime(s.fix).valid);
  f.timeStatus = 0x04;
  EXPECT_FALSE(furunoTime(s.fix).valid);
  f.year = 9;
  EXPECT_TRUE(furunoTime(s.fix).valid);
}

TEST_F(GpsThreadRecord, PowerDipAsksForANewSetUpOfTheSameReceiver) {
  std::atomic<int32_t> run{1};
  s.setUp = true;
  s.candidate = GPS_PROTO_FURUNO;
  MsgRecord other = MsgMake(PIPE_GPS, MOD_CORE, MSG_TERMINATE);
  MsgSend(&other, MSG_LENGTH);
  drainPipe(s, run);
  EXPECT_TRUE(s.setUp);
  MsgRecord dip = MsgMake(PIPE_GPS, MOD_CORE, MSG_POWER_SHORT_CUT);
  MsgSend(&dip, MSG_LENGTH);
  testing_board::ConsoleCapture console;
  drainPipe(s, run);
  EXPECT_FALSE(s.setUp);
  EXPECT_EQ(s.candidate, GPS_PROTO_FURUNO);
  EXPECT_NE(console.text().find("MSG_POWER_SHORT_CUT"), std::string::npos);
  MsgRecord* r;
  EXPECT_NE(MsgRecv(&r, PIPE_GPS), 0);
}

TEST(GpsDebugDump, SatelliteLinesStopAtTheSlotWhateverNumChSays) {
  GpsFixRecord r{};
  uint8_t* slot = r.bytes + ubxfix::kSvinfo;
  slot[0] = 0xB5;
  slot[1] = 0x62;
  slot[2] = 0x01;
  slot[3] = 0x30;
  le::put16(slot + 4, 8 + 12 * 255);  // the frame was longer than its slot
  slot[6 + 4] = 255;                  // numCh
  slot[6 + 8 + 5] = static_cast<uint8_t>(-7);  // the first channel's elevation
  testing_board::ConsoleCapture console;
  DbgGPSData(&r, GPS_PROTO_UBX);
  std::string text = console.text();
  size_t sats = 0;
  for (size_t at = text.find(": Sat "); at != std::string::npos; at = text.find(": Sat ", at + 1)) ++sats;
  EXPECT_EQ(sats, 32u);
  EXPECT_NE(text.find(": Sat 0, 0, 0, 0, 0, -7, 0, 0"), std::string::npos) << text.substr(0, 600);
  EXPECT_NE(text.find("NAV_SVINFO : B5 62, 01 30, 3068, "), std::string::npos);
  // A Furuno record: one line of its decoded fields.
  GpsFixRecord f{};
  furuno(f).posId = 0xE0;
  furuno(f).latitude.set(-355000000);
  testing_board::ConsoleCapture console2;
  DbgGPSData(&f, GPS_PROTO_FURUNO);
  EXPECT_NE(console2.text().find("E0, 0, 0, -355000000, 0, 0, 0, 0, 0"), std::string::npos) << console2.text();
}
