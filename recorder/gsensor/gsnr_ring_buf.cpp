#include "gsensor/gsnr_ring_buf.h"

#include <cstring>

namespace {

// A length outside 0..30 can only come from a damaged record; it must never let a store or a
// sum run past the slots.
int16_t slotCount(int16_t length) {
  if (length < 0) return 0;
  return length > GSNR_RING_SLOTS ? GSNR_RING_SLOTS : length;
}

void putAxis(GSNR_RING_BUF* b, int axis, int16_t value) {
  int16_t count = slotCount(b->bufRealCnt[axis]);
  int16_t& index = b->index[axis];
  if (index < 0 || index >= GSNR_RING_SLOTS) index = 0;
  b->slots[axis][index] = value;
  // A length of 0 behaves like 1: the index stays on slot 0, which then holds the last value.
  if (index + 1 >= count) {
    b->full[axis] = 1;
    index = 0;
  } else {
    ++index;
  }
  if (b->full[axis] == 1) {
    b->sum[axis] = GetBufSum(b->slots[axis], count);
    b->average[axis] = GetBufAvg(b->sum[axis], count);
  }
}

}  // namespace

void GsnrRingBufSetup(GSNR_RING_BUF* buffer, int16_t lengthX, int16_t lengthY, int16_t lengthZ) {
  memset(buffer, 0, sizeof *buffer);
  buffer->bufRealCnt[GSNR_X] = slotCount(lengthX);
  buffer->bufRealCnt[GSNR_Y] = slotCount(lengthY);
  buffer->bufRealCnt[GSNR_Z] = slotCount(lengthZ);
}

int Put2NewRingBuf(GSNR_RING_BUF* buffer, const int16_t sample[GSNR_AXES]) {
  for (int axis = 0; axis < GSNR_AXES; ++axis) putAxis(buffer, axis, sample[axis]);
  return 0;
}

int Put2CmpRingBuf(GSNR_RING_BUF* buffer, const int16_t sample[GSNR_AXES]) {
  for (int axis = 0; axis < GSNR_AXES; ++axis) {
    if (sample[axis] != GSNR_NO_VALUE) putAxis(buffer, axis, sample[axis]);
  }
  return 0;
}

int32_t GetBufSum(const int16_t* slots, int n) {
  int32_t sum = 0;
  for (int i = 0; i < n; ++i) sum += slots[i];
  return sum;
}

int16_t GetBufAvg(int32_t sum, int n) {
  if (n == 0) return 0;
  // In 64 bits, so that no pair of arguments can overflow the division.
  return static_cast<int16_t>(static_cast<int64_t>(sum) / n);
}
