#include <gtest/gtest.h>

#include "gsensor/gsnr_ring_buf.h"

namespace {

void put(GSNR_RING_BUF* b, int16_t x, int16_t y, int16_t z) {
  const int16_t s[GSNR_AXES] = {x, y, z};
  Put2NewRingBuf(b, s);
}

TEST(GsnrRingBuf, SumAndAverageFollowTheWindowOnceItHasWrapped) {
  GSNR_RING_BUF b;
  GsnrRingBufSetup(&b, 3, 30, 1);
  put(&b, 10, 10, 10);
  put(&b, 20, 20, 20);
  EXPECT_EQ(b.full[GSNR_X], 0);
  EXPECT_EQ(b.sum[GSNR_X], 0) << "no sum before the axis is full";
  EXPECT_EQ(b.full[GSNR_Z], 1) << "a one-slot axis is full after one value";
  EXPECT_EQ(b.average[GSNR_Z], 20);

  put(&b, 31, 0, 0);
  EXPECT_EQ(b.full[GSNR_X], 1);
  EXPECT_EQ(b.index[GSNR_X], 0);
  EXPECT_EQ(b.sum[GSNR_X], 61);
  EXPECT_EQ(b.average[GSNR_X], 20);

  put(&b, -100, 0, 0);  // overwrites the oldest slot
  EXPECT_EQ(b.sum[GSNR_X], -49);
  EXPECT_EQ(b.average[GSNR_X], -16) << "truncated toward zero, not floored";
  EXPECT_EQ(b.full[GSNR_Y], 0);
  EXPECT_EQ(b.index[GSNR_Y], 4);
}

TEST(GsnrRingBuf, LengthZeroKeepsOnlyTheLastValueInSlotZero) {
  GSNR_RING_BUF b;
  GsnrRingBufSetup(&b, 0, 0, 0);
  put(&b, 7, 8, 9);
  put(&b, 70, 80, 90);
  EXPECT_EQ(b.full[GSNR_X], 1);
  EXPECT_EQ(b.index[GSNR_X], 0);
  EXPECT_EQ(b.slots[GSNR_X][0], 70);
  EXPECT_EQ(b.slots[GSNR_X][1], 0);
  EXPECT_EQ(b.sum[GSNR_X], 0);
  EXPECT_EQ(b.average[GSNR_X], 0);
}

TEST(GsnrRingBuf, ComparisonBufferSkipsAxesWithoutValue) {
  GSNR_RING_BUF b;
  GsnrRingBufSetup(&b, 2, 2, 2);
  const int16_t first[GSNR_AXES] = {1, GSNR_NO_VALUE, 3};
  const int16_t second[GSNR_AXES] = {GSNR_NO_VALUE, GSNR_NO_VALUE, 5};
  Put2CmpRingBuf(&b, first);
  Put2CmpRingBuf(&b, second);
  EXPECT_EQ(b.index[GSNR_X], 1);
  EXPECT_EQ(b.full[GSNR_X], 0);
  EXPECT_EQ(b.index[GSNR_Y], 0);
  EXPECT_EQ(b.slots[GSNR_Y][0], 0);
  EXPECT_EQ(b.full[GSNR_Z], 1);
  EXPECT_EQ(b.average[GSNR_Z], 4);
}

TEST(GsnrRingBuf, LengthsOutsideTheSlotsNeverReachPastThem) {
  GSNR_RING_BUF b;
  GsnrRingBufSetup(&b, 31, -1, 30);
  EXPECT_EQ(b.bufRealCnt[GSNR_X], 30);
  EXPECT_EQ(b.bufRealCnt[GSNR_Y], 0);
  b.bufRealCnt[GSNR_X] = 1000;  // a damaged record
  b.index[GSNR_X] = 29;
  for (int i = 0; i < 100; ++i) put(&b, 1, 1, 1);
  EXPECT_GE(b.index[GSNR_X], 0);
  EXPECT_LT(b.index[GSNR_X], GSNR_RING_SLOTS);
  EXPECT_EQ(b.sum[GSNR_X], 30);
}

TEST(GsnrRingBuf, SumAndAverageHelpers) {
  const int16_t slots[4] = {32767, 32767, -5, 1};
  EXPECT_EQ(GetBufSum(slots, 2), 65534) << "the sum is 32-bit";
  EXPECT_EQ(GetBufSum(slots, 0), 0);
  EXPECT_EQ(GetBufSum(slots, -3), 0);
  EXPECT_EQ(GetBufAvg(-7, 2), -3);
  EXPECT_EQ(GetBufAvg(7, 0), 0);
  EXPECT_EQ(GetBufAvg(INT32_MIN, -1), 0) << "cut to 16 bits, without overflowing the division";
}

}  // namespace
