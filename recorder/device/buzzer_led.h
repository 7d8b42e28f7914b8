// The buzzer and the two LEDs: a fixed table of signal patterns shown through the Timer A
// driver's three blink channels (0 buzzer, 1 LED 1, 2 LED 2).
#pragma once

#include <atomic>
#include <cstdint>

#define TIMA_DEVICE "/dev/tima0"

// The blink request's argument.
struct TIMA_BLINK_REQ {
  uint32_t channel;     // 0, 1 or 2
  uint32_t continuous;  // not 0: on/off without end
  uint32_t count;       // on periods when not continuous
  uint32_t onMs;
  uint32_t offMs;
  uint32_t startLevel;  // the channel is set to it at once
};
static_assert(sizeof(TIMA_BLINK_REQ) == 24);

constexpr unsigned long TIMA_IOC_BLINK = 0x40187805;

enum BuzzerLedCode : int32_t {
  BZLED_POWERONDFT = 1,
  BZLED_POWEROFF = 2,
  BZLED_WARMUP = 3,
  BZLED_TRIGGER = 4,
  BZLED_PRE = 5,
  BZLED_POST = 6,
  BZLED_PREOV = 7,
  BZLED_POSTOV = 8,
  BZLED_FULL = 9,
  BZLED_SDFAILURE = 10,
  BZLED_SYSTEMUPGRADE = 11,
  BZLED_PRE_LED_STEADY = 12,  // LED 1 of pre and preov: steady on
  BZLED_PRE_LED_BLINK = 13,   // LED 1 of pre and preov: blink 100/900
  BZLED_CLEAR_SDFAILURE = 14,
  BZLED_FORMAT_SD = 15,
  BZLED_REC_CONTINUE = 16,
  BZLED_REC_CONTINUE_OV = 17,
};

extern std::atomic<int32_t> BzLedStatus;

int BuzzerLedOpen();
int BuzzerLedCtrl(int32_t code);
int BuzzerLedClose();
