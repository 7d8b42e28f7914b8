// Shock detection on the G values, the per-second peak for the travel log and the periodic
// test trigger. Plain state and functions, fed one sample at a time, so that sample sequences
// can be run through them without the sampling thread.
//
// Detection: every sample enters a short per-axis window; the value that leaves the window (the
// sample bufRealCnt samples back) enters the 30-value comparison buffer. An axis counts the
// consecutive leaving values that lie at least its threshold away from the comparison average
// (which already includes that value) and fires when the count passes the axis's limit.
#pragma once

#include <cstdint>
#include <ctime>

#include "gsensor/gsnr_ring_buf.h"

// Default thresholds, one row per sensitivity level (0 least sensitive), columns X, Y, Z.
constexpr int GSNR_LEVEL_ROWS = 9;
extern const int16_t DftTrLevel[GSNR_LEVEL_ROWS][GSNR_AXES];

// A threshold of 0 switches an axis off; the largest a user may set is 5000.
constexpr int16_t GSNR_THRESHOLD_MAX = 5000;
// An axis fires when its count of consecutive values over threshold exceeds this.
constexpr uint16_t GSNR_TRIGGER_LIMIT[GSNR_AXES] = {3, 6, 1};
// Window lengths of the short buffer at start.
constexpr int16_t GSNR_DEFAULT_WINDOW[GSNR_AXES] = {4, 7, 2};

// The four sensitivity settings, as the thread last applied them.
struct GSNR_LEVELS {
  int32_t accsen;  // bit 0 set: one level for all axes, (accsen >> 1) & 15
  int16_t x, y, z; // bit 0 clear: a level per axis
  bool operator==(const GSNR_LEVELS&) const = default;
};

// The table row of a level. Levels outside the table are clamped to its nearest row (traced).
int GsnrTableRow(int level);
// Thresholds of the settings from the table.
void GsnrThresholds(const GSNR_LEVELS& levels, int16_t thresholds[GSNR_AXES]);
bool GsnrSimpleLevel(const GSNR_LEVELS& levels);
int GsnrSimpleLevelNumber(const GSNR_LEVELS& levels);

struct GSNR_DETECTOR {
  GSNR_RING_BUF window;
  GSNR_RING_BUF compare;
  int16_t threshold[GSNR_AXES];
  uint16_t detectTriggerCount[GSNR_AXES];
};

// Sets up both buffers and the counts.
void GsnrDetectorInit(GSNR_DETECTOR* d, const int16_t windowLengths[GSNR_AXES],
                      const int16_t thresholds[GSNR_AXES]);
// The start-up sample only fills the window.
void GsnrDetectorFirstSample(GSNR_DETECTOR* d, const int16_t sample[GSNR_AXES]);
// Runs one sample through the buffers and tests the axes in the order X, Y, Z. Returns the axis
// that fired (its count is left for the caller's trace) or -1.
int GsnrDetect(GSNR_DETECTOR* d, const int16_t sample[GSNR_AXES]);
// After any trigger: the comparison buffer starts again empty and the counts return to 0; the
// window keeps its content.
void GsnrDetectorRestart(GSNR_DETECTOR* d);

// Per axis, the sample of the current second that lies farthest from the value last logged.
struct GSNR_LOG_PEAK {
  int16_t reference[GSNR_AXES];
  int32_t deviation[GSNR_AXES];
  int16_t peak[GSNR_AXES];
  time_t lastSecond;
};

// Takes one sample. When it opens a new clock second, `logged` receives the peaks of the
// previous second to send (before this sample counts) and the result is true.
bool GsnrLogPeakUpdate(GSNR_LOG_PEAK* p, const int16_t sample[GSNR_AXES], time_t second,
                       int16_t logged[GSNR_AXES]);

// A timed test trigger every `period` seconds (0 = off).
struct GSNR_PERIODIC {
  int64_t period;
  time_t startSecond;  // 0 until the first sample
  bool due;
};

void GsnrPeriodicUpdate(GSNR_PERIODIC* p, time_t second);
