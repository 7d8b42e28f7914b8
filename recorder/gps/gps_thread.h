// The GPS worker: finds out which receiver is attached on serial port 2 by configuring and
// probing each protocol in turn through the protocol manager, then reads the receiver, lets the
// decoder fill the fix record and sends every completed record to the recording and log threads.
// The first valid GPS time that is 3 s or more off the system clock is sent to the supervisor
// (MSG_SET_GPS_TIME), once per run.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <semaphore.h>
#include <sys/time.h>
#include <termios.h>

#include "gps/gps_fix.h"
#include "gps/gps_manager.h"

namespace gpsthread {

constexpr int kReadBufferSize = 1024;
constexpr int kAttempts = 5;
constexpr int32_t kClockTolerance = 3;  // seconds off the system clock before it is set

// What the worker keeps for its whole life.
struct State {
  int port = -1;
  GpsMgrContext context;
  int32_t candidate = GPS_PROTO_UBX;
  int attempts = kAttempts;
  bool setUp = false;
  int32_t reported = GPS_PROTO_UBX;
  bool clockSet = false;
  int debug = 0;
  GpsFixRecord fix{};
};

enum class SetUp { Ready, Again, Leave };

// One pass of the set-up: configuration, then up to five probes, then the decoder's start.
SetUp setUpReceiver(State& s, const std::atomic<int32_t>& run);
// Drops what waits in the GPS pipe; a power dip asks for a new set-up.
void drainPipe(State& s, const std::atomic<int32_t>& run);
// A completed record: the clock rule, then the record to the recording and log threads.
void onCompletedRecord(State& s, const struct timeval& now, sem_t* wake);

// GPS time in the record, as clock seconds (the fields are UTC), with whether it is valid and
// whether the fix allows setting the clock from it.
struct GpsTime {
  bool valid = false;
  bool mayClock = false;
  time_t seconds = 0;
};
GpsTime ubxTime(const GpsFixRecord& r);
GpsTime furunoTime(const GpsFixRecord& r);
// The integer latitude and longitude of a Furuno record from its doubles (1e-7 degree,
// truncated toward zero, held within the 32-bit range).
void fillFurunoIntegers(GpsFixRecord& r);

}  // namespace gpsthread

void SyncTime(time_t gpsTime, time_t systemTime);
void DbgGPSData(const GpsFixRecord* record, int32_t protocol);
