#include "gsensor/gsnr_detect.h"

#include <cstdlib>
#include <cstring>

#include "core/trace.h"

#define TAG "GSNR____"

const int16_t DftTrLevel[GSNR_LEVEL_ROWS][GSNR_AXES] = {
    {600, 600, 800}, {500, 500, 700}, {400, 400, 600}, {300, 300, 500}, {200, 200, 400},
    {200, 200, 300}, {200, 200, 200}, {200, 200, 200}, {200, 200, 200},
};

int GsnrTableRow(int level) {
  if (level >= 0 && level < GSNR_LEVEL_ROWS) return level;
  int row = level < 0 ? 0 : GSNR_LEVEL_ROWS - 1;
  TRACE(TAG, "G-Sensor level %d is outside the table, row %d used\n", level, row);
  return row;
}

bool GsnrSimpleLevel(const GSNR_LEVELS& levels) { return (levels.accsen & 1) != 0; }

int GsnrSimpleLevelNumber(const GSNR_LEVELS& levels) { return (levels.accsen >> 1) & 15; }

void GsnrThresholds(const GSNR_LEVELS& levels, int16_t thresholds[GSNR_AXES]) {
  if (GsnrSimpleLevel(levels)) {
    const int16_t* row = DftTrLevel[GsnrTableRow(GsnrSimpleLevelNumber(levels))];
    for (int axis = 0; axis < GSNR_AXES; ++axis) thresholds[axis] = row[axis];
    return;
  }
  thresholds[GSNR_X] = DftTrLevel[GsnrTableRow(levels.x)][GSNR_X];
  thresholds[GSNR_Y] = DftTrLevel[GsnrTableRow(levels.y)][GSNR_Y];
  thresholds[GSNR_Z] = DftTrLevel[GsnrTableRow(levels.z)][GSNR_Z];
}

void GsnrDetectorInit(GSNR_DETECTOR* d, const int16_t windowLengths[GSNR_AXES],
                      const int16_t thresholds[GSNR_AXES]) {
  GsnrRingBufSetup(&d->window, windowLengths[GSNR_X], windowLengths[GSNR_Y], windowLengths[GSNR_Z]);
  GsnrRingBufSetup(&d->compare, GSNR_RING_SLOTS, GSNR_RING_SLOTS, GSNR_RING_SLOTS);
  memcpy(d->threshold, thresholds, sizeof d->threshold);
  memset(d->detectTriggerCount, 0, sizeof d->detectTriggerCount);
}

void GsnrDetectorFirstSample(GSNR_DETECTOR* d, const int16_t sample[GSNR_AXES]) {
  Put2NewRingBuf(&d->window, sample);
}

int GsnrDetect(GSNR_DETECTOR* d, const int16_t sample[GSNR_AXES]) {
  int16_t leaving[GSNR_AXES];
  for (int axis = 0; axis < GSNR_AXES; ++axis) {
    leaving[axis] = d->window.full[axis] ? d->window.slots[axis][d->window.index[axis]] : GSNR_NO_VALUE;
  }
  Put2NewRingBuf(&d->window, sample);
  Put2CmpRingBuf(&d->compare, leaving);

  for (int axis = 0; axis < GSNR_AXES; ++axis) {
    if (!d->compare.full[axis] || d->threshold[axis] == 0 || leaving[axis] == GSNR_NO_VALUE) continue;
    int deviation = std::abs(d->compare.average[axis] - leaving[axis]);
    uint16_t& count = d->detectTriggerCount[axis];
    if (deviation < d->threshold[axis]) {
      count = 0;
      continue;
    }
    ++count;
    if (count > GSNR_TRIGGER_LIMIT[axis]) return axis;
  }
  return -1;
}

void GsnrDetectorRestart(GSNR_DETECTOR* d) {
  GsnrRingBufSetup(&d->compare, GSNR_RING_SLOTS, GSNR_RING_SLOTS, GSNR_RING_SLOTS);
  memset(d->detectTriggerCount, 0, sizeof d->detectTriggerCount);
}

bool GsnrLogPeakUpdate(GSNR_LOG_PEAK* p, const int16_t sample[GSNR_AXES], time_t second,
                       int16_t logged[GSNR_AXES]) {
  bool newSecond = second != p->lastSecond;
  if (newSecond) {
    memcpy(logged, p->peak, sizeof p->peak);
    p->lastSecond = second;
    memcpy(p->reference, p->peak, sizeof p->peak);
    memset(p->deviation, 0, sizeof p->deviation);
  }
  for (int axis = 0; axis < GSNR_AXES; ++axis) {
    // Kept in 32 bits: the distance between two 16-bit values does not always fit 16 bits.
    int32_t deviation = static_cast<int32_t>(p->reference[axis]) - sample[axis];
    if (std::abs(deviation) >= std::abs(p->deviation[axis])) {
      p->deviation[axis] = deviation;
      p->peak[axis] = sample[axis];
    }
  }
  return newSecond;
}

void GsnrPeriodicUpdate(GSNR_PERIODIC* p, time_t second) {
  if (p->startSecond == 0) p->startSecond = second;
  if (p->period > 0 && static_cast<int64_t>(second - p->startSecond) >= p->period) {
    p->startSecond = second;
    p->due = true;
  }
}
