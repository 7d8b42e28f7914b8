// Requests of the GPIO driver that the program uses, and their argument.
#pragma once

#include <cstdint>

struct GPIO_IOCTL_ARG {
  uint32_t a0;  // port (0 first, 8 second) or register offset
  uint32_t a1;  // pin
  uint32_t a2;  // value
};

constexpr unsigned long GPIO_IOC_GET_LEVEL = 0xc0046707;
constexpr unsigned long GPIO_IOC_INT_ENABLE = 0xc004670c;
constexpr unsigned long GPIO_IOC_GET_LEVEL_OR_EDGE = 0xc004670e;

#define GPIO_REC_BUTTON_DEVICE "/dev/gpio13"
#define GPIO_RESET_BUTTON_DEVICE "/dev/gpio14"
#define GPIO_POWER_FAIL_DEVICE "/dev/gpio15"

constexpr uint32_t GPIO_INPUT_PORT = 8;
constexpr uint32_t GPIO_REC_PIN = 5;
constexpr uint32_t GPIO_RESET_PIN = 6;
constexpr uint32_t GPIO_POWER_FAIL_PIN = 7;
