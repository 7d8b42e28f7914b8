// The GPS protocol manager: the one place that binds a protocol id to its handlers. Callers only
// ever name a protocol id; the manager dispatches through the constant table `Manager`, one row
// per protocol, with empty hooks where a protocol has none (a missing hook is never an error: the
// operation gives 0).
#pragma once

#include <cstdint>

#include "gps/gps_fix.h"
#include "serial/serial_port.h"

constexpr int GPS_PROTOCOL_COUNT = 4;
constexpr int GPS_PROTOCOL_NAME_SIZE = 80;

// The handlers' shapes. Handlers reach the serial port only through the read and write
// functions they are given.
using GpsInitFn = int (*)(void* opaque);
using GpsDecodeFn = int (*)(const uint8_t* bytes, int count, GpsFixRecord* record, int debug);
// source: a request word (Furuno) or an NMEA-layout fix record (NMEA).
using GpsEncodeFn = int (*)(uint8_t* output, int size, const void* source);
using GpsSetSpeedUnitFn = int (*)(int unit);
using GpsProbeFn = int (*)(int port, ComReadFn read, ComWriteFn write);
using GpsConfigFn = int (*)(int port, ComReadFn read, ComWriteFn write);

struct GpsProtocolRow {
  int32_t id;  // equals the row index
  uint32_t reserved;
  char name[GPS_PROTOCOL_NAME_SIZE];
  GpsInitFn Init;
  GpsDecodeFn Decode;
  GpsEncodeFn Encode;
  GpsSetSpeedUnitFn SetSpeedUnit;
  GpsProbeFn Probe;
  GpsConfigFn Config;
};

extern const GpsProtocolRow Manager[GPS_PROTOCOL_COUNT];

// One per user: the GPS thread and the log thread keep their own.
struct GpsMgrContext {
  int32_t protocol = GPS_PROTO_UBX;
  int32_t speedUnit = 0;  // 0 or 1
};

int MgrSetProtocol(GpsMgrContext* ctx, int32_t protocol);
int32_t MgrGetProtocol(const GpsMgrContext* ctx);
int MgrSetSpeedUnit(GpsMgrContext* ctx, int32_t unit);
int MgrInit(GpsMgrContext* ctx, void* opaque, int32_t protocol, int32_t speedUnit);
// Probe and Config use the protocol given, not the stored one; a successful probe stores it.
int MgrProbe(GpsMgrContext* ctx, int port, int32_t protocol, ComReadFn read, ComWriteFn write);
int MgrConfig(GpsMgrContext* ctx, int port, int32_t protocol, ComReadFn read, ComWriteFn write);
int MgrDecode(GpsMgrContext* ctx, const uint8_t* bytes, int count, GpsFixRecord* record, int debug);
// 1 when the protocol's encoder wrote something, else 0.
int MgrEncode(GpsMgrContext* ctx, uint8_t* output, int size, const void* source);
// Copies the protocol's name (NUL included) into `name`, which holds GPS_PROTOCOL_NAME_SIZE.
int MgrQuarryProtocol(const GpsMgrContext* ctx, int32_t protocol, char* name);
