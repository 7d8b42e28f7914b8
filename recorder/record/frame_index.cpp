#include "record/frame_index.h"

#include <cstdio>
#include <mutex>

#include "core/trace.h"
#include "platform/platform.h"
#include "record/gps_fields.h"

#define TAG "RECORD__"

namespace {

constexpr int32_t kSaturationLimitSec = 2147482;
constexpr int32_t kSaturatedMs = 2147483000;
// The first second changes after the start are not checked for loss: the encoder settles.
constexpr int kUncheckedChanges = 3;

struct PrintStat {
  uint32_t count[2];
  uint32_t bytes[2];
  uint32_t lastSecond;
};

struct LossStat {
  int32_t count;
  uint32_t bytes;
  uint32_t lastSecond;
  int changes;
};

// One recording thread uses these; the lock only keeps a test's reset from tearing them.
std::mutex gStatLock;
PrintStat gPrint{};
LossStat gLoss{};

}  // namespace

void FrameLocalTime(uint32_t second, struct tm* out) {
  // Per thread: the recording thread converts the same second for every frame of it.
  thread_local uint32_t cachedSecond = 0;
  thread_local bool valid = false;
  thread_local struct tm cached;
  if (!valid || cachedSecond != second) {
    time_t t = static_cast<time_t>(second);
    localtime_r(&t, &cached);
    cachedSecond = second;
    valid = true;
  }
  *out = cached;
}

int SetFrameIdxTime(VIDEO_STREAM* vs, uint32_t seconds, uint32_t microseconds, int frameKind, uint32_t triggerType) {
  struct tm tm;
  FrameLocalTime(seconds, &tm);
  vr::FrameIndexEntry& e = vs->entry;
  e.year.set(static_cast<uint16_t>(tm.tm_year + 1900));
  e.month.set(static_cast<uint16_t>(tm.tm_mon + 1));
  e.weekday.set(static_cast<uint16_t>(tm.tm_wday));
  e.day.set(static_cast<uint16_t>(tm.tm_mday));
  e.hour.set(static_cast<uint16_t>(tm.tm_hour));
  e.minute.set(static_cast<uint16_t>(tm.tm_min));
  e.second.set(static_cast<uint16_t>(tm.tm_sec));
  e.millisecond.set(static_cast<uint16_t>(microseconds / 1000));
  e.one29 = 1;
  e.kind = static_cast<uint8_t>(frameKind);
  e.triggerType.set(triggerType);
  return 0;
}

int SetFrameIdxGsnr(VIDEO_STREAM* vs, int32_t x, int32_t y, int32_t z) {
  vs->entry.gx.set(static_cast<int16_t>(x));
  vs->entry.gy.set(static_cast<int16_t>(y));
  vs->entry.gz.set(static_cast<int16_t>(z));
  return 0;
}

int SetFrameIdxGps(VIDEO_STREAM* vs, const GpsFixRecord* record, int32_t protocol) {
  GpsFrameFields f;
  if (record == nullptr || !GpsFrameFieldsOf(*record, protocol, &f)) return 0;
  vr::FrameIndexEntry& e = vs->entry;
  e.gpsValid = f.valid;
  e.latitude.set(f.latitude);
  e.longitude.set(f.longitude);
  e.speed.set(static_cast<uint16_t>(f.speed));
  e.altitude.set(static_cast<int16_t>(f.altitude));
  e.course.set(static_cast<uint16_t>(f.course));
  return 0;
}

int32_t DiffMs(const struct timeval& a, const struct timeval& b) {
  int32_t ds = static_cast<int32_t>(static_cast<uint32_t>(b.tv_sec) - static_cast<uint32_t>(a.tv_sec));
  if (ds > kSaturationLimitSec || ds < -kSaturationLimitSec) return b.tv_sec > a.tv_sec ? kSaturatedMs : -kSaturatedMs;
  int32_t dus = static_cast<int32_t>(b.tv_usec) - static_cast<int32_t>(a.tv_usec);
  return ds * 1000 + dus / 1000;
}

void print_stat(int kind, uint32_t second, uint32_t size) {
  if (kind != STAT_VIDEO && kind != STAT_AUDIO) return;
  std::lock_guard<std::mutex> lock(gStatLock);
  gPrint.bytes[kind] += size;
  gPrint.count[kind] += 1;
  if (second == gPrint.lastSecond) return;
  struct tm tm;
  FrameLocalTime(second, &tm);
  char line[160];
  int n = snprintf(line, sizeof line, "[%04d%02d%02d,%02d:%02d:%02d|REC] ", tm.tm_year + 1900, tm.tm_mon + 1,
                   tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  if (gPrint.count[STAT_VIDEO] >= 1) {
    n += snprintf(line + n, sizeof line - n, "V(%d,%d)", static_cast<int>(gPrint.count[STAT_VIDEO]),
                  static_cast<int>(gPrint.bytes[STAT_VIDEO] / gPrint.count[STAT_VIDEO]));
  }
  if (gPrint.count[STAT_AUDIO] >= 1) {
    snprintf(line + n, sizeof line - n, "A(%d,%d)", static_cast<int>(gPrint.count[STAT_AUDIO]),
             static_cast<int>(gPrint.bytes[STAT_AUDIO] / gPrint.count[STAT_AUDIO]));
  }
  recorder_trace("%s", line);
  gPrint = PrintStat{};
  gPrint.lastSecond = second;
}

void CheckFrameLoss(uint32_t second, uint32_t size, int32_t expectedRate) {
  std::lock_guard<std::mutex> lock(gStatLock);
  gLoss.bytes += size;
  gLoss.count += 1;
  if (second == gLoss.lastSecond) return;
  gLoss.changes += 1;
  bool lost = gLoss.changes > kUncheckedChanges && (gLoss.count < expectedRate || second > gLoss.lastSecond + 1);
  if (lost) {
    FILE* f = plat::fopen(FRAMELOSS_LOG_PATH, "a");
    if (f == nullptr) {
      TRACE(TAG, "file open error frameloss.txt");
      return;
    }
    struct tm tm;
    FrameLocalTime(second, &tm);
    fprintf(f, "[%04d%02d%02d,%02d:%02d:%02d] count:%d, size:%d, diffSec:%lu\n", tm.tm_year + 1900, tm.tm_mon + 1,
            tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, gLoss.count,
            static_cast<int>(gLoss.bytes / static_cast<uint32_t>(gLoss.count)),
            static_cast<unsigned long>(second - gLoss.lastSecond));
    fclose(f);
  }
  gLoss.count = 0;
  gLoss.bytes = 0;
  gLoss.lastSecond = second;
}

void ResetFrameStatistics() {
  std::lock_guard<std::mutex> lock(gStatLock);
  gPrint = PrintStat{};
  gLoss = LossStat{};
}
