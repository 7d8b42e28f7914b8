// The G-sensor's optional files on the card: sensor set-up, user thresholds and window lengths,
// the periodic test trigger, and the sample and trigger logs. Each is used only when it exists
// as the sampling thread starts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sys/time.h>

#include "gsensor/gsnr_ring_buf.h"

#define GSNR_SET_CONFIG_PATH "/mnt/log/set_g_config.txt"
#define GSNR_USER_LEVEL_PATH "/mnt/log/user_g_level.txt"
#define GSNR_CONT_TRIGGER_PATH "/mnt/log/cont_trigger.txt"
#define GSNR_SAMPLE_LOG_PATH "/mnt/log/save_g_value.txt"
#define GSNR_TRIGGER_LOG_PATH "/mnt/log/gsnr_dbg_msg.txt"

// Reads up to n decimal numbers separated by white space, as "%d %d ..." would, stopping at the
// first text that is not one. Values not read are 0; a number too large for 32 bits saturates.
// Returns the count read.
int GsnrReadInts(FILE* f, int32_t* values, int n);

// Sensor bandwidths the driver accepts, and the read wait range in kernel ticks.
bool GsnrBandwidthValid(int32_t bandwidth);
constexpr int32_t GSNR_READ_TIMEOUT_MIN = 1;
constexpr int32_t GSNR_READ_TIMEOUT_MAX = 100;

// USER_G_LEVEL: thresholds and window lengths of X, Y, Z.
struct USER_G_LEVEL {
  int16_t threshold[GSNR_AXES];
  int16_t window[GSNR_AXES];
};
constexpr int GSNR_USER_LEVEL_BAD_THRESHOLD = -1;
constexpr int GSNR_USER_LEVEL_BAD_WINDOW = -2;

// Reads three lines "label threshold window", for X, Y and Z. The label is one word of any
// length and is skipped, never stored. Returns 0 with `out` filled when every threshold is in
// 0..5000 and every window length in 0..30; -1 when a threshold is missing, malformed or out of
// range (thresholds are judged first); -2 when a window length is, or a line carries more.
int ParseUserGLevel(FILE* f, USER_G_LEVEL* out);

// One line of the sample log: local time of the sample and the three values.
void GsnrWriteSampleLog(FILE* f, const struct timeval& time, const int16_t sample[GSNR_AXES]);
// Appends one line for an axis trigger to the trigger log (opened and closed each time).
void GsnrAppendTriggerLog(int axis, unsigned count, const struct timeval& time);
