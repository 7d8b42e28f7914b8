#include "device/buzzer_led.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>

#include "core/trace.h"
#include "platform/platform.h"

#define TAG "BUZLED__"

std::atomic<int32_t> BzLedStatus{BZLED_POWERONDFT};

namespace {

enum Channel : uint32_t { BUZZER = 0, LED1 = 1, LED2 = 2 };

constexpr TIMA_BLINK_REQ steady(uint32_t ch, uint32_t level) { return {ch, 0, 0, 0, 0, level}; }
constexpr TIMA_BLINK_REQ blink(uint32_t ch, uint32_t on, uint32_t off, uint32_t from) { return {ch, 1, 0, on, off, from}; }
constexpr TIMA_BLINK_REQ once(uint32_t ch, uint32_t on, uint32_t off, uint32_t from) { return {ch, 0, 1, on, off, from}; }

struct Pattern {
  int count;
  TIMA_BLINK_REQ req[3];  // sent in this order: buzzer first where present
};

// The table, indexed by code. The LED 1 requests of pre and preov change with codes 12 and 13,
// so the table is not constant; gPatternLock guards those changes against a concurrent read.
Pattern gPatterns[18] = {
    /* 0 */ {0, {}},
    /* 1 powerondft */ {3, {steady(BUZZER, 0), steady(LED1, 1), steady(LED2, 1)}},
    /* 2 poweroff */ {3, {steady(BUZZER, 0), steady(LED1, 0), steady(LED2, 0)}},
    /* 3 warmup */ {2, {blink(LED1, 500, 500, 0), blink(LED2, 500, 500, 0)}},
    /* 4 trigger */ {1, {once(BUZZER, 1000, 1000, 1)}},
    /* 5 pre */ {2, {steady(LED1, 1), steady(LED2, 0)}},
    /* 6 post */ {2, {blink(LED1, 40, 60, 1), steady(LED2, 0)}},
    /* 7 preov */ {2, {steady(LED1, 1), steady(LED2, 1)}},
    /* 8 postov */ {2, {blink(LED1, 40, 60, 1), steady(LED2, 1)}},
    /* 9 full */ {2, {steady(LED1, 0), blink(LED2, 2000, 2000, 0)}},
    /* 10 sdfailure */ {3, {blink(BUZZER, 500, 500, 1), blink(LED1, 2000, 2000, 0), blink(LED2, 2000, 2000, 0)}},
    /* 11 systemupgrade */ {3, {blink(BUZZER, 100, 1900, 1), blink(LED1, 40, 60, 0), blink(LED2, 40, 60, 0)}},
    /* 12 */ {0, {}},
    /* 13 */ {0, {}},
    /* 14 clear_sdfailure */ {3, {steady(BUZZER, 0), blink(LED1, 2000, 2000, 0), blink(LED2, 2000, 2000, 0)}},
    /* 15 format_sd */ {1, {once(BUZZER, 500, 500, 1)}},
    /* 16 rec_continue */ {2, {blink(LED1, 5000, 1000, 1), steady(LED2, 0)}},
    /* 17 rec_continue_ov */ {2, {blink(LED1, 5000, 1000, 1), steady(LED2, 1)}},
};
std::mutex gPatternLock;

int gTimaFd = -1;

bool hasPattern(int32_t code) {
  return code >= 1 && code <= 17 && code != 4 && code != 12 && code != 13 && code != 15;
}

Pattern patternOf(int32_t code) {
  std::lock_guard<std::mutex> lock(gPatternLock);
  return gPatterns[code];
}

// Sends the requests in order; stops at the first that fails.
int sendPattern(const Pattern& p) {
  for (int i = 0; i < p.count; ++i) {
    TIMA_BLINK_REQ req = p.req[i];
    if (plat::ioctl(gTimaFd, TIMA_IOC_BLINK, &req) < 0) {
      TRACE(TAG, "Fail to get index for %s.\n", TIMA_DEVICE);
      return -1;
    }
  }
  return 0;
}

}  // namespace

int BuzzerLedOpen() {
  gTimaFd = plat::open(TIMA_DEVICE, O_RDWR);
  if (gTimaFd < 0) {
    TRACE(TAG, "failed to open %s. (%d) %s\n", TIMA_DEVICE, errno, strerror(errno));
    return -3;
  }
  // The driver starts with both LEDs blinking 500/500: that is the warm-up state already.
  BzLedStatus.store(BZLED_WARMUP);
  return 0;
}

int BuzzerLedCtrl(int32_t code) {
  if (gTimaFd < 0) {
    TRACE(TAG, "Error: %s : %d\n", TIMA_DEVICE, gTimaFd);
    return -1;
  }
  if (code == BZLED_TRIGGER || code == BZLED_FORMAT_SD) return sendPattern(patternOf(code));  // an overlay

  if (code == BZLED_PRE_LED_STEADY || code == BZLED_PRE_LED_BLINK) {
    TIMA_BLINK_REQ led1 = code == BZLED_PRE_LED_STEADY ? steady(LED1, 1) : blink(LED1, 100, 900, 0);
    std::lock_guard<std::mutex> lock(gPatternLock);
    gPatterns[BZLED_PRE].req[0] = led1;
    gPatterns[BZLED_PREOV].req[0] = led1;
  } else {
    BzLedStatus.store(code);
  }
  int32_t status = BzLedStatus.load();
  if (!hasPattern(status)) return 0;
  return sendPattern(patternOf(status));
}

int BuzzerLedClose() {
  if (gTimaFd >= 0) plat::close(gTimaFd);
  gTimaFd = -1;
  return 0;
}
