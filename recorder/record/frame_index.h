// The frame index entry of each written frame (fillers for its time, G and GPS fields), the time
// difference with which G and GPS messages are matched to frames, and the frame statistics: the
// per-second console line and the frame-loss log.
//
// The entry lives in the channel's VIDEO_STREAM and is never cleared between frames: each filler
// overwrites only its own fields, so a value stays until its filler runs again.
#pragma once

#include <cstdint>
#include <ctime>
#include <sys/time.h>

#include "gps/gps_fix.h"
#include "record/disk_mgr.h"

#define FRAMELOSS_LOG_PATH "/mnt/log/frameloss.txt"

int SetFrameIdxTime(VIDEO_STREAM* vs, uint32_t seconds, uint32_t microseconds, int frameKind, uint32_t triggerType);
int SetFrameIdxGsnr(VIDEO_STREAM* vs, int32_t x, int32_t y, int32_t z);
int SetFrameIdxGps(VIDEO_STREAM* vs, const GpsFixRecord* record, int32_t protocol);

// Milliseconds from a to b (b - a), saturating at +-2147483000 for differences beyond ~24 days.
int32_t DiffMs(const struct timeval& a, const struct timeval& b);

enum StatKind : int { STAT_VIDEO = 0, STAT_AUDIO = 1 };
void print_stat(int kind, uint32_t second, uint32_t size);
// Counts a written frame and logs a loss to the frame-loss file (only called when that file
// existed when recording started). `expectedRate` is the frames per second setting.
void CheckFrameLoss(uint32_t second, uint32_t size, int32_t expectedRate);
// Starts both statistics afresh (a new recording thread, tests).
void ResetFrameStatistics();

// Local time of a capture second; repeated calls for the same second cost nothing.
void FrameLocalTime(uint32_t second, struct tm* out);
