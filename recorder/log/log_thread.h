// The travel log thread: once a second, when the G-sensor thread sends its per-second G values,
// one entry of NMEA sentences (the latest fix and the $KVOXL line with the G values) goes into
// the hourly log file. Logging starts once the super capacitor is reported charged and stops
// for good when the card has failed.
//
// The steps of a pass are separate functions so that each can be driven on its own.
#pragma once

#include <cstdint>
#include <ctime>

#include "core/msg_pipe.h"
#include "core/threads.h"
#include "gps/gps_fix.h"
#include "gps/gps_manager.h"
#include "log/log_store.h"

constexpr int LOG_OUTPUT_SIZE = 1024;

struct LogThreadState {
  LOG_MGR* store = nullptr;
  GpsFixRecord fix{};            // NMEA layout: the latest fix and the latest G values
  GpsMgrContext encoder{};       // protocol NMEA, speed unit 0
  int loggingEnabled = 0;        // from the first MSG_SUPER_CAP_CHARGED
  bool hadFix = false;           // a fix with a position has come since the start
  uint8_t output[LOG_OUTPUT_SIZE] = {};
};

// The thread entry (worker 4).
int log_thread(THREAD_INFO* info);

// Control messages of pipe 30: MSG_SUPER_CAP_CHARGED enables logging; all are dropped.
void logTakeControl(LogThreadState& s);
// One record of pipe 31, if any: a fix is taken into the NMEA-layout record. True if one was read.
bool logTakeGps(LogThreadState& s);
// Applies one GPS data message to the record; false (and traced) when it is not one to use.
bool logApplyGps(LogThreadState& s, const MsgRecord& r);
// One record of pipe 32: 1 when G values were taken (their time in *when), -1 when a record of
// another kind was dropped, 0 when the pipe is empty.
int logTakeGValues(LogThreadState& s, time_t* when);
// Fills the KVOXL part from a G values message.
void logApplyGValues(LogThreadState& s, const MsgRecord& r);
// Writes the entry for G values taken at `when` (steps of encoding, the hourly file, the write,
// the statistics); `passTime` is the second the pass began.
void logWriteEntry(LogThreadState& s, time_t when, time_t passTime);
