#include "log/log_thread.h"

#include <cstring>
#include <new>

#include "core/globals.h"
#include "core/sd_card.h"
#include "core/threads.h"
#include "core/trace.h"
#include "device/buzzer_led.h"
#include "log/fix_to_nmea.h"
#include "platform/platform.h"

#define TAG "LOG_____"

namespace {

constexpr useconds_t kPollUs = 100000;

// Lines and bytes written since the last statistics line, and that line's second; kept for the
// life of the process.
struct Statistics {
  int lines = 0;
  int bytes = 0;
  time_t second = 0;
};
Statistics gLogStatistics;

// The card has failed: said once, with the sdfailure pattern; nothing is written after it.
void cardFailed() {
  if (gSDFailed.load() != 1) {
    gSDFailed.store(1);
    BuzzerLedCtrl(BZLED_SDFAILURE);
  }
}

bool sameHour(const struct tm& a, const struct tm& b) {
  return a.tm_hour == b.tm_hour && a.tm_mday == b.tm_mday && a.tm_mon == b.tm_mon && a.tm_year == b.tm_year;
}

// An open file for an entry at `when`: the one open if it is of the same clock hour, else a new
// one. False when the card failed on the way.
bool fileFor(LOG_MGR* store, time_t when) {
  if (store->fd >= 0) {
    struct tm tm;
    localtime_r(&when, &tm);
    if (sameHour(store->fileStart, tm)) return true;
    if (logWriteEnd(store) != 0) {
      TRACE(TAG, "Failed to logWriteEnd()");
      return false;
    }
  }
  if (logWriteStart(store, when) != 0) {
    TRACE(TAG, "ERROR : Files have not opened");
    return false;
  }
  return true;
}

void statistics(time_t passTime, size_t length) {
  Statistics& st = gLogStatistics;
  st.bytes += static_cast<int>(length);
  st.lines += 1;
  if (passTime == st.second) return;
  struct tm tm;
  localtime_r(&passTime, &tm);
  char line[96];
  int n = snprintf(line, sizeof line, "[%04d%02d%02d,%02d:%02d:%02d|LOG] ", tm.tm_year + 1900, tm.tm_mon + 1,
                   tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  if (st.lines > 0 && n > 0 && static_cast<size_t>(n) < sizeof line)
    snprintf(line + n, sizeof line - static_cast<size_t>(n), "(%d,%d)", st.lines, st.bytes / st.lines);
  recorder_trace("%s\n", line);
  st.lines = 0;
  st.bytes = 0;
  st.second = passTime;
}

// Whether a fix record of the protocol holds a position.
bool hasPosition(uint32_t protocol, const GpsFixRecord& r) {
  switch (protocol) {
    case GPS_PROTO_UBX: {
      uint8_t fix = ubxfix::gpsFix(r);
      return fix == 2 || fix == 3;
    }
    case GPS_PROTO_FURUNO:
      return (furuno(r).posMode & 1) != 0;
    default:
      return nmeaRecords(r).rmc.status == 'A';
  }
}

}  // namespace

void logTakeControl(LogThreadState& s) {
  MsgRecord* r = nullptr;
  while (MsgRecv(&r, PIPE_LOG) == 0) {
    if (r->word[MSG_W_ID] == MSG_SUPER_CAP_CHARGED) {
      TRACE(TAG, "@@@ MSG_SUPER_CAP_CHARGED");
      s.loggingEnabled = 1;
    }
    MsgDone(PIPE_LOG);
  }
}

bool logApplyGps(LogThreadState& s, const MsgRecord& r) {
  uint32_t id = r.word[MSG_W_ID];
  if (id != MSG_GPS_DATA) {
    TRACE(TAG, "@@ invalid gps msgid %d\n", static_cast<int>(id));
    return false;
  }
  // A fix without its block, or of a layout nobody knows, leaves the record as it was.
  const GpsFixRecord* block = static_cast<const GpsFixRecord*>(r.block);
  if (block == nullptr) {
    TRACE(TAG, "@@ gps msg without a fix record");
    return false;
  }
  uint32_t protocol = r.word[MSG_W_P0];
  if (protocol > GPS_PROTO_NMEA) return false;
  // Until the receiver has had a position its time is not yet UTC (a u-blox receiver counts
  // from 1980): such records are not logged, so the entries before the first fix are the G
  // values alone. Once there was a fix every record counts, also one that says the fix is lost.
  if (!s.hadFix && !hasPosition(protocol, *block)) return false;
  s.hadFix = true;
  switch (protocol) {
    case GPS_PROTO_NMEA:
      s.fix = *block;
      return true;
    case GPS_PROTO_FURUNO:
      MakeNmeaFromFuruno(&s.fix, block);
      return true;
    default:
      MakeNmeaFromUbx(&s.fix, block);
      return true;
  }
}

bool logTakeGps(LogThreadState& s) {
  MsgRecord* r = nullptr;
  if (MsgRecv(&r, PIPE_LOG_GPS) != 0) return false;
  logApplyGps(s, *r);
  MsgDone(PIPE_LOG_GPS);
  return true;
}

void logApplyGValues(LogThreadState& s, const MsgRecord& r) {
  nmeafix::KvoxlRecord& k = nmeaRecords(s.fix).kvoxl;
  k = nmeafix::KvoxlRecord{};
  k.value1 = 1;
  k.value2 = 1;
  k.x.set(static_cast<int16_t>(r.word[MSG_W_P0] & 0xFFFF));
  k.y.set(static_cast<int16_t>(r.word[MSG_W_P1] & 0xFFFF));
  k.z.set(static_cast<int16_t>(r.word[MSG_W_P2] & 0xFFFF));
  time_t when = static_cast<time_t>(r.word[MSG_W_P3]);
  struct tm tm;
  localtime_r(&when, &tm);
  k.hour = static_cast<uint8_t>(tm.tm_hour);
  k.minute = static_cast<uint8_t>(tm.tm_min);
  k.second = static_cast<uint8_t>(tm.tm_sec);
  k.day = static_cast<uint8_t>(tm.tm_mday);
  k.month = static_cast<uint8_t>(tm.tm_mon + 1);
  k.year.set(static_cast<uint16_t>(tm.tm_year + 1900));
}

int logTakeGValues(LogThreadState& s, time_t* when) {
  MsgRecord* r = nullptr;
  if (MsgRecv(&r, PIPE_LOG_GSNR) != 0) return 0;
  uint32_t id = r->word[MSG_W_ID];
  if (id != MSG_GSNR_DATA) {
    TRACE(TAG, "@@ invalid gsnr msgid %d\n", static_cast<int>(id));
    MsgDone(PIPE_LOG_GSNR);
    return -1;
  }
  logApplyGValues(s, *r);
  *when = static_cast<time_t>(r->word[MSG_W_P3]);
  MsgDone(PIPE_LOG_GSNR);
  return 1;
}

void logWriteEntry(LogThreadState& s, time_t when, time_t passTime) {
  memset(s.output, 0, sizeof s.output);
  if (gSDFailed.load() != 0 || s.loggingEnabled == 0 || s.store == nullptr) return;
  if (MgrEncode(&s.encoder, s.output, sizeof s.output, &s.fix) == 0) return;
  // The file is chosen by the entry's own time, so the entry of 14:00:00 opens the 14 o'clock
  // file even when its pass began in the second before.
  if (!fileFor(s.store, when)) {
    cardFailed();
    return;
  }
  nmeafix::KvoxlRecord& k = nmeaRecords(s.fix).kvoxl;
  if (k.value1 != 1) {
    TRACE(TAG, "@@ identity is not 0... %d\n", k.value1);
    k = nmeafix::KvoxlRecord{};
    return;
  }
  const char* text = reinterpret_cast<const char*>(s.output);
  if (logWrite(s.store, text) != 0) {
    TRACE(TAG, "Failed to logWrite()");
    cardFailed();
    return;
  }
  statistics(passTime, strlen(text));
}

int log_thread(THREAD_INFO* info) {
  TRACE(TAG, "log_thread()");
  MsgOpen();
  // The fix record and the output buffer live off the thread's stack.
  LogThreadState* state = new (std::nothrow) LogThreadState;
  if (state == nullptr) {
    TRACE(TAG, "failed to logOpen()");
    MsgClose();
    TRACE(TAG, "End LOG Loop");
    return -1;
  }
  LogThreadState& s = *state;
  // Without a store the thread still reads its pipes, writing nothing: the G values and fixes
  // sent every second would otherwise pile up for as long as the unit runs.
  s.store = logOpen(SD_MOUNT_POINT, gSDFailed.load());
  if (s.store == nullptr) TRACE(TAG, "failed to logOpen()");
  memset(&s.fix, 0, sizeof s.fix);
  MgrInit(&s.encoder, nullptr, GPS_PROTO_NMEA, 0);
  TRACE(TAG, "Start LOG Loop");

  while (info->run.load()) {
    time_t passTime = plat::time(nullptr);
    logTakeControl(s);
    time_t when = 0;
    bool taken = false;
    while (info->run.load()) {
      logTakeGps(s);
      int g = logTakeGValues(s, &when);
      if (g > 0) {
        taken = true;
        break;
      }
      if (g == 0) plat::usleep(kPollUs);
    }
    // On the way out without new G values there is no new entry: the last one is not repeated.
    if (taken) logWriteEntry(s, when, passTime);
  }

  MsgClose();
  logClose(s.store);
  delete state;
  TRACE(TAG, "End LOG Loop");
  return 0;
}
