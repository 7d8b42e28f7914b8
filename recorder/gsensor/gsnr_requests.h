// The G-sensor driver as the program uses it: its device file, the one request, and the sample
// it reads.
#pragma once

#include <cstdint>

#include "gsensor/gsnr_ring_buf.h"

#define GSNR_DEVICE "/dev/gsnr"

// Sets the sensor's bandwidth and the driver's read wait (kernel ticks of 10 ms).
constexpr unsigned long CMD_GSNR_SET_CONFIG = 0x40086702;
struct GSNR_CONFIG {
  int32_t bandwidth;
  int32_t readTimeout;
};
static_assert(sizeof(GSNR_CONFIG) == 8);

// One read gives x, y, z as signed 16-bit values, little endian.
constexpr int GSNR_SAMPLE_BYTES = 6;

inline void GsnrDecodeSample(const uint8_t raw[GSNR_SAMPLE_BYTES], int16_t sample[GSNR_AXES]) {
  for (int axis = 0; axis < GSNR_AXES; ++axis) {
    sample[axis] = static_cast<int16_t>(static_cast<uint16_t>(raw[2 * axis] | (raw[2 * axis + 1] << 8)));
  }
}
