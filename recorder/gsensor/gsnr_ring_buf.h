// Per-axis ring buffers of G values: the short window every sample passes through, and the
// long comparison buffer that holds the values leaving the window.
//
// One record holds the three axes side by side; each axis has its own window length
// (bufRealCnt, 0..30), its write index, and the sum and average of its window once it has
// been filled completely. The record is a plain block that is set up by clearing it.
#pragma once

#include <cstddef>
#include <cstdint>

enum GsnrAxis : int { GSNR_X = 0, GSNR_Y = 1, GSNR_Z = 2 };
constexpr int GSNR_AXES = 3;
constexpr int GSNR_RING_SLOTS = 30;

// Marks "no value for this axis" in the input of the comparison buffer; a real sample of this
// value is treated the same way.
constexpr int16_t GSNR_NO_VALUE = 5000;

struct GSNR_RING_BUF {
  int16_t slots[GSNR_AXES][GSNR_RING_SLOTS];
  int16_t index[GSNR_AXES];       // slot written next
  int16_t bufRealCnt[GSNR_AXES];  // window length in use, 0..30
  int32_t sum[GSNR_AXES];         // sum of the first bufRealCnt slots, valid once full
  int16_t average[GSNR_AXES];     // sum / bufRealCnt, truncated toward zero, valid once full
  int16_t full[GSNR_AXES];        // 1 once the index has wrapped
};
static_assert(offsetof(GSNR_RING_BUF, index) == 180);
static_assert(offsetof(GSNR_RING_BUF, bufRealCnt) == 186);
static_assert(offsetof(GSNR_RING_BUF, sum) == 192);
static_assert(offsetof(GSNR_RING_BUF, average) == 204);
static_assert(offsetof(GSNR_RING_BUF, full) == 210);
static_assert(sizeof(GSNR_RING_BUF) == 216);

// Clears the record and sets the window lengths (each kept within 0..30).
void GsnrRingBufSetup(GSNR_RING_BUF* buffer, int16_t lengthX, int16_t lengthY, int16_t lengthZ);

// Stores one value per axis at the axis's index and moves the index on; once an axis has
// wrapped, its sum and average follow every store. Returns 0.
int Put2NewRingBuf(GSNR_RING_BUF* buffer, const int16_t sample[GSNR_AXES]);
// The same, except that an axis whose value is GSNR_NO_VALUE is left untouched.
int Put2CmpRingBuf(GSNR_RING_BUF* buffer, const int16_t sample[GSNR_AXES]);

// Sum of the first n slots; 0 when n < 1.
int32_t GetBufSum(const int16_t* slots, int n);
// sum / n truncated toward zero and cut to 16 bits; 0 when n is 0.
int16_t GetBufAvg(int32_t sum, int n);
