// The ARM real-time-clock layer: /dev/rtc (misc device 10, 135) with the standard time
// requests, served through the operations of the one registered clock driver.
#include "kernel/internal.h"

#include <cstring>

#include "kernel/include/asm/rtc.h"
#include "kernel/include/asm/semaphore.h"
#include "kernel/include/asm/uaccess.h"
#include "kernel/include/linux/cdev.h"
#include "kernel/include/linux/fcntl.h"
#include "kernel/include/linux/fs.h"
#include "kernel/include/linux/module.h"

namespace sim::kernel {
namespace {

struct RtcState {
  std::mutex mutex;
  rtc_ops* ops = nullptr;
  bool open = false;
  cdev device;
};

RtcState& rtc() {
  static RtcState s;
  return s;
}

// Serialises the calls into the clock driver, as the layer's own semaphore does.
struct semaphore gRtcSem = {1};

int monthDays(int month, int year) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return days[month] + (month == 1 && leap ? 1 : 0);
}

// The layer refuses a time that no clock can hold before the driver sees it.
int validTime(const rtc_time& tm) {
  if (tm.tm_year < 70 || static_cast<unsigned>(tm.tm_mon) >= 12 || tm.tm_mday < 1 ||
      tm.tm_mday > monthDays(tm.tm_mon, tm.tm_year + 1900) || static_cast<unsigned>(tm.tm_hour) >= 24 ||
      static_cast<unsigned>(tm.tm_min) >= 60 || static_cast<unsigned>(tm.tm_sec) >= 60) {
    return -EINVAL;
  }
  return 0;
}

rtc_ops* currentOps() {
  std::lock_guard<std::mutex> lock(rtc().mutex);
  return rtc().ops;
}

int rtcOpen(inode*, file*) {
  rtc_ops* ops;
  {
    std::lock_guard<std::mutex> lock(rtc().mutex);
    if (rtc().open) return -EBUSY;
    ops = rtc().ops;
    if (ops == nullptr) return -ENODEV;
    if (!try_module_get(ops->owner)) return -ENODEV;
    rtc().open = true;
  }
  int result = ops->open ? ops->open() : 0;
  if (result != 0) {
    std::lock_guard<std::mutex> lock(rtc().mutex);
    rtc().open = false;
    module_put(ops->owner);
  }
  return result;
}

int rtcRelease(inode*, file*) {
  rtc_ops* ops = currentOps();
  if (ops && ops->release) ops->release();
  std::lock_guard<std::mutex> lock(rtc().mutex);
  rtc().open = false;
  if (ops) module_put(ops->owner);
  return 0;
}

int rtcIoctl(inode*, file*, unsigned cmd, unsigned long arg) {
  rtc_ops* ops = currentOps();
  if (ops == nullptr) return -ENODEV;
  void* user = reinterpret_cast<void*>(arg);
  rtc_time tm;
  int result;
  switch (cmd) {
    case RTC_RD_TIME:
      memset(&tm, 0, sizeof tm);
      down(&gRtcSem);
      result = ops->read_time ? ops->read_time(&tm) : -EINVAL;
      up(&gRtcSem);
      if (result != 0) return result;
      return copy_to_user(user, &tm, sizeof tm) ? -EFAULT : 0;
    case RTC_SET_TIME:
      if (copy_from_user(&tm, user, sizeof tm)) return -EFAULT;
      result = validTime(tm);
      if (result != 0) return result;
      down(&gRtcSem);
      result = ops->set_time ? ops->set_time(&tm) : -EINVAL;
      up(&gRtcSem);
      return result;
    default:
      return ops->ioctl ? ops->ioctl(cmd, arg) : -EINVAL;
  }
}

const file_operations kRtcFops = [] {
  file_operations f = {};
  f.open = rtcOpen;
  f.release = rtcRelease;
  f.ioctl = rtcIoctl;
  return f;
}();

}  // namespace

void resetRtc() {
  std::lock_guard<std::mutex> lock(rtc().mutex);
  rtc().ops = nullptr;
  rtc().open = false;
}

}  // namespace sim::kernel

using namespace sim::kernel;

extern "C" {

int register_rtc(struct rtc_ops* ops) {
  {
    std::lock_guard<std::mutex> lock(rtc().mutex);
    if (rtc().ops != nullptr) return -EBUSY;
    rtc().ops = ops;
  }
  cdev_init(&rtc().device, &kRtcFops);
  int result = cdev_add(&rtc().device, MKDEV(RTC_MISC_MAJOR, RTC_MINOR), 1);
  if (result != 0) {
    std::lock_guard<std::mutex> lock(rtc().mutex);
    rtc().ops = nullptr;
  }
  return result;
}

void unregister_rtc(struct rtc_ops* ops) {
  {
    std::lock_guard<std::mutex> lock(rtc().mutex);
    if (rtc().ops != ops) return;
    rtc().ops = nullptr;
  }
  cdev_del(&rtc().device);
}

}  // extern "C"
