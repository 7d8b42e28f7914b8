// The Furuno binary protocol: 7-bit data bytes framed by marker bytes. Configuring the receiver
// (two command frames, nothing read back), recognising it in its output, and turning its
// position, time, satellite and quality messages into the Furuno layout of the GPS fix record;
// a record is complete once all four have arrived since the last completed one.
//
// Received frames: id (D0, E0..E3), data bytes, XOR checksum of id..last data byte, end byte DA
// (for D0) or EA (for E_). Sent frames: C0, command, data bytes (0x80 | value), XOR, CA.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gps/gps_fix.h"
#include "serial/serial_port.h"

namespace frn {

constexpr size_t kFrameBufferSize = 4096;
enum : uint32_t { kBitPosition = 0x01, kBitTime = 0x02, kBitSatellites = 0x04, kBitQuality = 0x08, kAll = 0x0F };

extern const uint8_t kCmdA3[5];
extern const uint8_t kCmdA2[19];

// Valid frames a probe asks for in the block it reads before it takes the receiver for a Furuno
// one (runs of u-blox binary output pass the frame test now and then, but not twice). The block
// is read until it holds them, the port is silent for a read's time, or it reaches 4096 bytes.
constexpr int kProbeFrames = 2;

}  // namespace frn

int FurunoInit(void* opaque);
int FurunoDecode(const uint8_t* bytes, int count, GpsFixRecord* record, int debug);
int FurunoProbe(int port, ComReadFn read, ComWriteFn write);
int FurunoConfig(int port, ComReadFn read, ComWriteFn write);
// source: the request, whose first two bytes are C0 and a command A0..A4.
int FurunoEncode(uint8_t* output, int size, const void* source);

int ProcessFURUNO(uint8_t byte, GpsFixRecord* record, int debug);
uint8_t MakeSum(const uint8_t* bytes, int n);
uint8_t DecodeFurunoUChar(const uint8_t* p);
uint16_t DecodeFurunoUShort(const uint8_t* p);
int32_t DecodeFurunoLong(const uint8_t* p);
// The 21-bit signed decoding (three 7-bit bytes, bit 20 the sign).
int32_t DecodeFuruno21(const uint8_t* p);

// For tests: a fresh receive state and completion mask.
void FurunoResetForTest();
