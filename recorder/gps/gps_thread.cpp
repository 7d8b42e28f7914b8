#include "gps/gps_thread.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>

#include "core/globals.h"
#include "core/msg_pipe.h"
#include "core/msg_send.h"
#include "core/threads.h"
#include "core/trace.h"
#include "platform/platform.h"
#include "serial/serial_port.h"

#define TAG "GPS_____"
#define SD_DEBUG_GPS_FILE "/mnt/log/gps_dbg_msg"

namespace gpsthread {

namespace {

constexpr useconds_t kRetryPause = 100000;
constexpr useconds_t kReadPause = 500000;

void nextCandidate(State& s) { s.candidate = (s.candidate + 1) % 3; }

// The seconds of broken-down UTC fields; the clock seconds stay UTC whatever the board's zone.
time_t utcSeconds(struct tm& tm) { return timegm(&tm); }

void clockRule(State& s, const GpsTime& t, const struct timeval& now, sem_t* wake) {
  if (!t.valid || s.clockSet || gSDFailed.load() || !t.mayClock) return;
  long long off = static_cast<long long>(t.seconds) - static_cast<long long>(now.tv_sec);
  if (off < kClockTolerance && off > -kClockTolerance) return;  // within 2 s: checked again next time
  if (SendMsgSetGPSTimeAt(PIPE_CORE, static_cast<uint32_t>(t.seconds), &now) != 0) {
    TRACE(TAG, "failed to SendMsgSetGPSTime");
  }
  if (post_wake(wake) != 0) TRACE(TAG, "Fail to sem post.");
  s.clockSet = true;
}

}  // namespace

GpsTime ubxTime(const GpsFixRecord& r) {
  GpsTime t;
  uint8_t fix = ubxfix::gpsFix(r);
  if (fix == 2 || fix == 3) {
    t.valid = t.mayClock = true;
  } else if (fix == 5) {
    t.valid = true;
  }
  uint16_t year = ubxfix::utcYear(r);
  if (year >= 2009 && year <= 2049) t.valid = true;
  if (!t.valid) return t;
  struct tm tm = {};
  tm.tm_year = year - 1900;
  tm.tm_mon = ubxfix::utcByte(r, ubxfix::timeutc::month) - 1;
  tm.tm_mday = ubxfix::utcByte(r, ubxfix::timeutc::day);
  tm.tm_hour = ubxfix::utcByte(r, ubxfix::timeutc::hour);
  tm.tm_min = ubxfix::utcByte(r, ubxfix::timeutc::min);
  tm.tm_sec = ubxfix::utcByte(r, ubxfix::timeutc::sec);
  tm.tm_isdst = 0;
  t.seconds = utcSeconds(tm);
  return t;
}

GpsTime furunoTime(const GpsFixRecord& r) {
  const FurunoFix& f = furuno(r);
  GpsTime t;
  t.valid = (f.timeStatus & 0x03) != 0 || f.year > 8;
  t.mayClock = true;  // a Furuno time needs no position to set the clock
  if (!t.valid) return t;
  struct tm tm = {};
  tm.tm_year = f.year + 100;
  tm.tm_mon = f.month - 1;
  tm.tm_mday = f.day;
  tm.tm_hour = f.hour;
  tm.tm_min = f.minute;
  tm.tm_sec = f.second;
  tm.tm_isdst = 0;
  t.seconds = utcSeconds(tm);
  return t;
}

void fillFurunoIntegers(GpsFixRecord& r) {
  auto toInt = [](double degrees) {
    double v = std::trunc(degrees * 10000000.0);
    if (!(v >= -2147483648.0)) return INT32_MIN;  // also NaN
    if (v > 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(v);
  };
  FurunoFix& f = furuno(r);
  f.latitude.set(toInt(f.latitudeDeg.get()));
  f.longitude.set(toInt(f.longitudeDeg.get()));
}

void drainPipe(State& s, const std::atomic<int32_t>& run) {
  MsgRecord* m = nullptr;
  while (run.load() && MsgRecv(&m, PIPE_GPS) == 0) {
    if (m->word[MSG_W_ID] == MSG_POWER_SHORT_CUT) {
      TRACE(TAG, "MSG_POWER_SHORT_CUT");
      s.setUp = false;
    }
    MsgDone(PIPE_GPS);
  }
}

SetUp setUpReceiver(State& s, const std::atomic<int32_t>& run) {
  if (MgrConfig(&s.context, s.port, s.candidate, ReadComPort, WriteComPort) == 0) {
    if (!run.load()) {
      TRACE(TAG, "Stop MgrConfig by Power Loss");
      return SetUp::Leave;
    }
    if (s.attempts > 0) {
      --s.attempts;
    } else {
      TRACE(TAG, "failed to MgrConfig()... %d\n", s.candidate);
      nextCandidate(s);
      s.attempts = kAttempts;
    }
    plat::usleep(kRetryPause);
    return SetUp::Again;
  }
  s.attempts = kAttempts - 1;
  for (;;) {
    if (!run.load()) {
      TRACE(TAG, "Stop MgrProbe by Power Loss");
      return SetUp::Leave;
    }
    if (MgrProbe(&s.context, s.port, s.candidate, ReadComPort, WriteComPort) != 0) break;
    --s.attempts;
    plat::usleep(kRetryPause);
    if (s.attempts < 0) {
      TRACE(TAG, "failed to MgrProbe()... %d\n", s.candidate);
      nextCandidate(s);
      return SetUp::Again;  // the counter stays at -1: one configuration attempt for the next
    }
  }
  MgrInit(&s.context, nullptr, s.candidate, 0);
  s.reported = s.candidate;
  s.setUp = true;
  return SetUp::Ready;
}

void onCompletedRecord(State& s, const struct timeval& now, sem_t* wake) {
  if (s.candidate == GPS_PROTO_UBX) {
    clockRule(s, ubxTime(s.fix), now, wake);
  } else if (s.candidate == GPS_PROTO_FURUNO) {
    clockRule(s, furunoTime(s.fix), now, wake);
    fillFurunoIntegers(s.fix);
  } else {
    return;  // NMEA: nothing is sent
  }
  if (gSDFailed.load()) return;
  uint32_t sec = static_cast<uint32_t>(now.tv_sec), usec = static_cast<uint32_t>(now.tv_usec);
  // SendMsgGPSData reports its own failures; the second goes out whatever became of the first.
  SendMsgGPSData(PIPE_RECORD_GPS, s.reported, sec, usec, &s.fix);
  SendMsgGPSData(PIPE_LOG_GPS, s.reported, sec, usec, &s.fix);
}

}  // namespace gpsthread

using namespace gpsthread;

int gps_thread(THREAD_INFO* info) {
  TRACE(TAG, "gps_thread()");
  MsgOpen();
  struct termios saved = {};
  State* s = new (std::nothrow) State;
  uint8_t* buffer = static_cast<uint8_t*>(calloc(kReadBufferSize, 1));
  if (!buffer || !s) {
    TRACE(TAG, "failed to malloc()... %d\n", kReadBufferSize);
  } else if ((s->port = AllocComPort(2, 1, 3, 0, 0, &saved)) < 0) {
    TRACE(TAG, "failed to AllocComPort()");
  } else {
    if (plat::access(SD_DEBUG_GPS_FILE, F_OK) == 0) {
      TRACE(TAG, "@@@@@@@@ DISPLAY GPS DEBUG MESSAGE!!!");
      s->debug = 1;
    }
    TRACE(TAG, "********* Start GPS Loop ***********");
    memset(&s->fix, 0, sizeof s->fix);
    while (info->run.load()) {
      drainPipe(*s, info->run);
      if (!s->setUp) {
        SetUp r = setUpReceiver(*s, info->run);
        if (r == SetUp::Leave) break;
        if (r == SetUp::Again) continue;
      }
      int n = ReadComPort(s->port, buffer, kReadBufferSize);
      if (n <= 0) {
        TRACE(TAG, "failed to ReadComPort()");
        plat::usleep(kReadPause);
        continue;
      }
      if (MgrDecode(&s->context, buffer, n, &s->fix, s->debug) == 0) continue;
      struct timeval now;
      plat::gettimeofday(&now);
      onCompletedRecord(*s, now, info->wake);
    }
  }
  MsgClose();
  if (s && s->port > 0) FreeComPort(s->port, &saved);
  free(buffer);
  delete s;
  TRACE(TAG, "~gps_thread()");
  return 0;
}
