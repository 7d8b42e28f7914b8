// The battery-backed real-time clock, through /dev/rtc. The RTC keeps local time broken down
// into fields; the rest of the program works in clock seconds.
#pragma once

#include <cstdint>
#include <ctime>

#define RTC_DEVICE "/dev/rtc"

// The kernel's rtc_time record, exchanged by the two standard requests.
struct RTC_TIME {
  int32_t tm_sec, tm_min, tm_hour, tm_mday, tm_mon, tm_year, tm_wday, tm_yday, tm_isdst;
};
static_assert(sizeof(RTC_TIME) == 36);

constexpr unsigned long RTC_IOC_RD_TIME = 0x80247009;
constexpr unsigned long RTC_IOC_SET_TIME = 0x4024700a;

int RtcSetTime(time_t clock);
// 0 and the clock seconds; -1 when the device cannot be opened or the clock cannot be read
// (the caller's value is then untouched).
int RtcGetTime(time_t* clock);
