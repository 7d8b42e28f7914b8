#include "device/rtc.h"

#include <fcntl.h>

#include "core/trace.h"
#include "platform/platform.h"

#define TAG "RTC_____"

namespace {

class RtcDevice {
 public:
  RtcDevice() : fd_(plat::open(RTC_DEVICE, O_RDWR)) {}
  ~RtcDevice() { close(); }
  RtcDevice(const RtcDevice&) = delete;
  RtcDevice& operator=(const RtcDevice&) = delete;
  bool isOpen() const { return fd_ >= 0; }
  int request(unsigned long code, RTC_TIME* t) { return plat::ioctl(fd_, code, t); }
  void close() {
    if (fd_ >= 0) plat::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

}  // namespace

int RtcSetTime(time_t clock) {
  RtcDevice rtc;
  if (!rtc.isOpen()) return -1;
  struct tm tm = {};
  RTC_TIME t = {};
  localtime_r(&clock, &tm);
  t.tm_sec = tm.tm_sec;
  t.tm_min = tm.tm_min;
  t.tm_hour = tm.tm_hour;
  t.tm_mday = tm.tm_mday;
  t.tm_mon = tm.tm_mon;
  t.tm_year = tm.tm_year;
  t.tm_wday = tm.tm_wday;
  TRACE(TAG, "RTC Write : %04d/%02d/%02d %02d:%02d:%02d....", t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour,
        t.tm_min, t.tm_sec);
  if (rtc.request(RTC_IOC_SET_TIME, &t) < 0) {
    TRACE(TAG, "failed to set rtc");
    return -1;
  }
  TRACE(TAG, "Ok");
  return 0;
}

int RtcGetTime(time_t* clock) {
  RtcDevice rtc;
  if (!rtc.isOpen()) {
    TRACE(TAG, "failed to open()");
    return -1;
  }
  RTC_TIME t = {};
  if (rtc.request(RTC_IOC_RD_TIME, &t) < 0) {
    plat::usleep(20000);
    if (rtc.request(RTC_IOC_RD_TIME, &t) < 0) {
      // Whatever the record holds is no time at all: it must neither set the system clock nor
      // be written back into the chip.
      TRACE(TAG, "failed to read rtc");
      return -1;
    }
  }
  rtc.close();
  TRACE(TAG, "Ok RTC Read : %04d/%02d/%02d %02d:%02d:%02d\n", t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min,
        t.tm_sec);

  struct tm tm = {};
  tm.tm_hour = t.tm_hour;
  tm.tm_min = t.tm_min;
  tm.tm_sec = t.tm_sec;
  tm.tm_isdst = -1;  // let the C library decide, so local time round-trips in any zone
  if (t.tm_year != 0) {
    tm.tm_year = t.tm_year;
    tm.tm_mon = t.tm_mon;
    tm.tm_mday = t.tm_mday;
  } else {
    // Never set (it reads the year 1900): 1 January 2009 at the time of day it keeps, stored
    // back at once.
    tm.tm_year = 109;
    tm.tm_mon = 0;
    tm.tm_mday = 1;
    struct tm copy = tm;
    RtcSetTime(mktime(&copy));
  }
  *clock = mktime(&tm);
  return 0;
}
