// The u-blox UBX binary protocol: recognising a u-blox receiver, configuring it (hot restart, port
// settings, antenna, SBAS, navigation engine, seven NAV messages once per solution) and turning
// its byte stream into the UBX layout of the GPS fix record. A record is complete once all seven
// NAV messages have arrived since the last completed one.
//
// Frame: B5 62, class, id, 16-bit little-endian length, payload, CK_A, CK_B (8-bit Fletcher over
// class..payload). One receive state is shared by decoding, the acknowledgement wait and the
// configuration's poll check; it survives between calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gps/gps_fix.h"
#include "serial/serial_port.h"

namespace ubx {

constexpr uint8_t kSync1 = 0xB5, kSync2 = 0x62;
constexpr uint8_t kClassNav = 0x01, kClassRxm = 0x02, kClassInf = 0x04, kClassAck = 0x05, kClassCfg = 0x06,
                  kClassMon = 0x0A, kClassAid = 0x0B, kClassTim = 0x0D;
constexpr uint8_t kAckNak = 0x00, kAckAck = 0x01;
constexpr size_t kFrameBufferSize = 4096;
constexpr uint32_t kAllNav = 0x7F;

// Completion bits, one per NAV message.
enum : uint32_t {
  kBitPosllh = 0x01, kBitStatus = 0x02, kBitVelned = 0x04, kBitTimeutc = 0x08,
  kBitSvinfo = 0x10, kBitSol = 0x20, kBitDop = 0x40,
};

// The configuration frames sent to the receiver, whole (checksums included).
extern const uint8_t kPollNav5[8];
extern const uint8_t kCfgRst[12];
extern const uint8_t kCfgPrt[28];
extern const uint8_t kPollPrt[9];
extern const uint8_t kCfgAnt[12];
extern const uint8_t kCfgSbas[16];
extern const uint8_t kCfgNav5[44];
extern const uint8_t kMsgTimeutc[11];
extern const uint8_t kMsgPosllh[11];
extern const uint8_t kMsgSol[11];
extern const uint8_t kMsgVelned[11];
extern const uint8_t kMsgDop[11];
extern const uint8_t kMsgStatus[11];
extern const uint8_t kMsgSvinfo[11];
extern const uint8_t kPollMonVer[8];

// Channel blocks of an SVINFO frame that lie inside `available` bytes from the start of the
// frame (sync included), never more than numCh: a numCh larger than the frame or slot is cut.
int svinfoChannels(const uint8_t* frame, size_t available);

}  // namespace ubx

// Sums bytes 2 .. frameLength-3 (the frame without sync and checksum); below 5 bytes A = B = 0.
void GetCheckSum(const uint8_t* frame, int frameLength, uint8_t* a, uint8_t* b);

int UbxInit(void* opaque);
int UbxDecode(const uint8_t* bytes, int count, GpsFixRecord* record, int debug);
int UbxProbe(int port, ComReadFn read, ComWriteFn write);
int UbxConfig(int port, ComReadFn read, ComWriteFn write);

int ProcessUBX(uint8_t byte, GpsFixRecord* record, int debug);
int ProcessClassNav(const uint8_t* frame, GpsFixRecord* record, int debug);
int ProcessClassAck(const uint8_t* frame, GpsFixRecord* record);
int ProcessClassCfg(const uint8_t* frame, GpsFixRecord* record);
int UbxWaitAck(int port, ComReadFn read, ComWriteFn write, uint8_t cls, uint8_t id);

// For tests: puts the receive state back to a fresh start (state, index, completion mask).
void UbxResetForTest();
